#pragma once

#include "inventory/RegistryAccess.h"

#include <QString>
#include <QStringList>

#include <optional>

// One kestrin-reg run as its arguments describe it.
struct RegCommand
{
    enum class Operation
    {
        Help,
        Query,
        Add,
        Delete,
        TrashList,
        TrashRestore,
        TrashPurge,
    };

    Operation operation = Operation::Help;
    RegistryRoot root = RegistryRoot::LocalMachine;
    QString keyName;                  // as query prints it: HKEY_LOCAL_MACHINE\Software\...
    QString keyPath;                  // below the root, components joined by single backslashes
    std::optional<QString> valueName; // /v NAME, or empty for /ve (the default value)
    quint32 type = RegType::Sz;
    std::optional<QString> data;
    bool force = false;
    QString recordId;        // trash restore and purge
    bool allRecords = false; // trash purge /all
};

// Reads kestrin-reg's arguments, spelled like those of Wine's reg: options with "/" or "-",
// operations, options and root names in any letter case.
namespace RegCommandLine {

// The arguments after the program's name. Throws KestrinError saying what is wrong with them.
RegCommand parse(const QStringList& arguments);

QString usage();

} // namespace RegCommandLine
