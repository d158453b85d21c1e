#pragma once

#include "hive/HiveChanges.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

// kestrin-registry-win64.exe (or -win32.exe), run under a prefix's own Wine: reads and changes the
// registry of a prefix whose wineserver runs, through Wine's registry functions, and lists the
// prefix's Windows processes. Each call is one run of the program (about a tenth of a second while
// the server runs). Every call throws KestrinError with a text for the user when Wine or the
// program is missing, does not answer within TimeoutMs, or refuses.
namespace RegistryProgram {

inline constexpr int TimeoutMs = 60000;
// A list of processes is asked for once a second while an uninstall is awaited.
inline constexpr int ProcessesTimeoutMs = 10000;

enum class Root
{
    LocalMachine, // system.reg
    CurrentUser,  // user.reg
};

// The root key as the server holds it, in Wine's file syntax: what system.reg or user.reg would
// hold if the server saved now.
QByteArray save(const QString& prefixPath, Root root);

// Carries out `changes` as one run: all are checked before the first is made; when one fails, the
// keys created and values changed before it are put back (keys deleted are not).
void apply(const QString& prefixPath, Root root, const std::vector<HiveChange>& changes);

struct Process
{
    quint32 id = 0;
    quint32 parentId = 0;
    QString exeName; // "unins000.exe"

    friend bool operator==(const Process&, const Process&) = default;
};
// The Windows processes of the prefix, the program's own run and its starter left out.
QList<Process> processes(const QString& prefixPath);

// The program for the prefix's architecture; empty when it is not there.
QString programFor(const QString& prefixPath);

// The request lines for `changes`, and what an answer means: exposed for tests.
QByteArray requestLines(Root root, const std::vector<HiveChange>& changes);
QList<Process> parseProcesses(const QByteArray& answer);

} // namespace RegistryProgram
