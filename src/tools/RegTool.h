#pragma once

#include "tools/RegCommandLine.h"

#include "prefix/WinePrefix.h"

#include <QString>

#include <cstdio>
#include <functional>

class RegistryAccess;

// Carries out one kestrin-reg command on a prefix's registry files, printing UTF-8.
class RegTool
{
public:
    // Asks the user a Yes/No question. Empty when nobody can answer, as when stdin is no terminal:
    // then overwriting or deleting needs /f.
    using Confirm = std::function<bool(const QString& question)>;

    RegTool(WinePrefix prefix, FILE* out, FILE* err, Confirm confirm = {});

    // The exit status: 0 done, 1 failed (the reason is on `err`).
    int run(const RegCommand& command);

private:
    void query(const RegCommand& command);
    void add(const RegCommand& command);
    void remove(const RegCommand& command);
    void listTrash();
    void restoreFromTrash(const RegCommand& command);
    void purgeTrash(const RegCommand& command);

    void requirePrefix() const;
    // Opens the command's key for reading, or throws saying why it cannot be read.
    void openForReading(RegistryAccess& registry, const RegCommand& command) const;
    void openForWriting(RegistryAccess& registry, const RegCommand& command, bool canCreate) const;
    // Returns when the user agreed; throws `refusal` when nobody can be asked.
    void confirm(const QString& question, const QString& refusal) const;
    QString hivePath(const RegCommand& command) const;
    static QString describeValue(const RegCommand& command);

    WinePrefix m_prefix;
    FILE* m_out;
    FILE* m_err;
    Confirm m_confirm;
};
