#include "tools/RegTool.h"

#include "tools/RegDataFormat.h"

#include "base/KestrinError.h"
#include "hive/EntryTrash.h"
#include "hive/HiveFile.h"
#include "hive/LiveHive.h"
#include "inventory/RegistryAccess.h"
#include "prefix/WineServer.h"

#include <QFileInfo>

namespace {

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

QString displayName(const QString& valueName)
{
    return valueName.isEmpty() ? QStringLiteral("(Default)") : valueName;
}

QString sentence(const QString& text)
{
    return text.left(1).toUpper() + text.mid(1);
}

// The key a record names, or for leftovers what it keeps.
QString recordContents(const TrashRecord& record)
{
    if (record.action == u"leftovers-removed") {
        return QStringLiteral("%1 file(s) or folder(s), %2 key(s)").arg(record.files.size()).arg(record.keys.size());
    }
    return (record.hive == u"system.reg" ? QStringLiteral("HKLM\\") : QStringLiteral("HKCU\\")) + record.key;
}

} // namespace

RegTool::RegTool(WinePrefix prefix, FILE* out, FILE* err, Confirm confirm)
    : m_prefix(std::move(prefix)), m_out(out), m_err(err), m_confirm(std::move(confirm))
{}

int RegTool::run(const RegCommand& command)
{
    try {
        requirePrefix();
        switch (command.operation) {
        case RegCommand::Operation::Query:
            query(command);
            break;
        case RegCommand::Operation::Add:
            add(command);
            break;
        case RegCommand::Operation::Delete:
            remove(command);
            break;
        case RegCommand::Operation::TrashList:
            listTrash();
            break;
        case RegCommand::Operation::TrashRestore:
            restoreFromTrash(command);
            break;
        case RegCommand::Operation::TrashPurge:
            purgeTrash(command);
            break;
        case RegCommand::Operation::Help:
            print(m_out, RegCommandLine::usage());
            break;
        }
        std::fflush(m_out);
        return 0;
    } catch (const KestrinError& error) {
        std::fflush(m_out);
        print(m_err, QStringLiteral("kestrin-reg: ") + error.message() + u'\n');
        return 1;
    }
}

void RegTool::requirePrefix() const
{
    if (!QFileInfo(m_prefix.path()).isDir()) {
        throw KestrinError(QStringLiteral("There is no Wine prefix at %1. Set WINEPREFIX to the prefix's folder.")
                               .arg(m_prefix.path()));
    }
}

QString RegTool::hivePath(const RegCommand& command) const
{
    return command.root == RegistryRoot::LocalMachine ? m_prefix.systemHivePath() : m_prefix.userHivePath();
}

QString RegTool::describeValue(const RegCommand& command)
{
    if (command.valueName->isEmpty())
        return QStringLiteral("the default value of %1").arg(command.keyName);
    return QStringLiteral("the value \"%1\" of %2").arg(*command.valueName, command.keyName);
}

void RegTool::openForReading(RegistryAccess& registry, const RegCommand& command) const
{
    registry.RootKey(command.root);
    if (registry.OpenKeyReadOnly(command.keyPath))
        return;
    const QString path = hivePath(command);
    const QFileInfo file(path);
    if (file.exists() && !HiveFile::open(path)->readError().isEmpty())
        throw KestrinError(HiveFile::open(path)->readError());
    if (file.exists() && !file.isReadable())
        throw KestrinError(QStringLiteral("Cannot read %1: permission denied.").arg(path));
    if (file.exists() && !HiveFile::open(path)->current().isValid())
        throw KestrinError(QStringLiteral("%1 is not a Wine registry file.").arg(path));
    throw KestrinError(QStringLiteral("The key %1 does not exist.").arg(command.keyName));
}

void RegTool::openForWriting(RegistryAccess& registry, const RegCommand& command, bool canCreate) const
{
    registry.CloseKey();
    registry.RootKey(command.root);
    if (registry.OpenKey(command.keyPath, canCreate))
        return;
    if (canCreate || registry.KeyExists(command.keyPath)) {
        throw KestrinError(
            QStringLiteral("Cannot change %1: the file or its folder is not writable.").arg(hivePath(command)));
    }
    throw KestrinError(QStringLiteral("The key %1 does not exist.").arg(command.keyName));
}

void RegTool::confirm(const QString& question, const QString& refusal) const
{
    if (!m_confirm)
        throw KestrinError(refusal);
    if (!m_confirm(question))
        throw KestrinError(QStringLiteral("Cancelled: nothing was changed."));
}

void RegTool::query(const RegCommand& command)
{
    RegistryAccess registry(m_prefix);
    openForReading(registry, command);
    if (WineServer::isRunning(m_prefix.path()) && !LiveHive::reaches(m_prefix.systemHivePath())) {
        // Read from the files alone: Wine keeps the registry in memory and saves it only now and then.
        print(m_err, QStringLiteral("kestrin-reg: Wine is running in this prefix: changes it made in the last 30 "
                                    "seconds may not be shown.\n"));
    }

    const auto valueLine = [](const QString& name, const RegistryValue& value) -> QString {
        return QStringLiteral("    ") + displayName(name) + QStringLiteral("    ") +
               RegDataFormat::typeName(value.type) + QStringLiteral("    ") + RegDataFormat::formatData(value) + u'\n';
    };

    QString text = u'\n' + command.keyName + u'\n';
    if (command.valueName) {
        const auto value = registry.readValue(*command.valueName);
        if (!value) {
            throw KestrinError(sentence(describeValue(command)) + QStringLiteral(" does not exist."));
        }
        text += valueLine(*command.valueName, *value) + u'\n';
    } else {
        QStringList names;
        registry.GetValueNames(names);
        for (const QString& name : std::as_const(names)) {
            if (const auto value = registry.readValue(name))
                text += valueLine(name, *value);
        }
        text += u'\n';
        registry.GetKeyNames(names);
        for (const QString& name : std::as_const(names))
            text += command.keyName + u'\\' + name + u'\n';
    }
    print(m_out, text);
}

void RegTool::add(const RegCommand& command)
{
    RegistryAccess registry(m_prefix);
    if (!command.valueName) {
        openForWriting(registry, command, true);
    } else {
        // Numbers without /d are 0, as in Wine's reg; an explicit empty text is no number.
        const bool number = command.type == RegType::Dword || command.type == RegType::Qword;
        const RegistryValue value =
            RegDataFormat::parseData(command.type, command.data.value_or(number ? QStringLiteral("0") : QString()));

        registry.RootKey(command.root);
        if (!command.force && registry.OpenKeyReadOnly(command.keyPath) && registry.ValueExists(*command.valueName)) {
            const QString what = describeValue(command);
            confirm(QStringLiteral("Overwrite %1?").arg(what),
                    sentence(what) + QStringLiteral(" exists already. Add /f to overwrite it."));
        }
        // A new key and its value are one save: a crash between two would leave the key alone.
        HiveFile::WriteBatch batch;
        openForWriting(registry, command, true);
        registry.writeValue(*command.valueName, value);
        batch.commit();
    }
    print(m_out, QStringLiteral("The operation completed successfully.\n"));
}

void RegTool::remove(const RegCommand& command)
{
    RegistryAccess registry(m_prefix);
    openForReading(registry, command);
    if (command.valueName) {
        const QString what = describeValue(command);
        if (!registry.ValueExists(*command.valueName))
            throw KestrinError(sentence(what) + QStringLiteral(" does not exist."));
        if (!command.force)
            confirm(QStringLiteral("Delete %1?").arg(what), QStringLiteral("Add /f to delete %1.").arg(what));
        openForWriting(registry, command, false);
        if (!registry.DeleteValue(*command.valueName))
            throw KestrinError(sentence(what) + QStringLiteral(" does not exist."));
    } else {
        if (!command.force) {
            confirm(
                QStringLiteral("Delete the key %1 with all its subkeys and values?").arg(command.keyName),
                QStringLiteral("Add /f to delete the key %1 with all its subkeys and values.").arg(command.keyName));
        }
        registry.CloseKey();
        if (!registry.DeleteKey(command.keyPath)) {
            throw KestrinError(QStringLiteral("Cannot delete %1: %2 or its folder is not writable.")
                                   .arg(command.keyName, hivePath(command)));
        }
    }
    print(m_out, QStringLiteral("The operation completed successfully.\n"));
}

void RegTool::listTrash()
{
    const QList<TrashRecord> records = EntryTrash::list(m_prefix.path());
    if (records.isEmpty()) {
        print(m_out, QStringLiteral("The entry trash of %1 is empty.\n").arg(m_prefix.path()));
        return;
    }
    for (const TrashRecord& record : records) {
        if (!record.damage.isEmpty()) {
            print(m_out, QStringLiteral("%1  damaged: %2\n").arg(record.id, record.damage));
            continue;
        }
        const QString time = record.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        print(m_out, QStringLiteral("%1  %2  %3  %4  %5\n")
                         .arg(record.id, time, record.action, recordContents(record), record.name));
    }
}

void RegTool::restoreFromTrash(const RegCommand& command)
{
    const TrashRecord record = EntryTrash::read(m_prefix.path(), command.recordId);
    const bool replace = command.force || EntryTrash::wouldReplace(m_prefix.path(), record);
    const bool leftovers = record.action == u"leftovers-removed";
    if (replace && !command.force) {
        const QString what = leftovers ? QStringLiteral("Some of what the record %1 keeps").arg(record.id) : record.key;
        confirm(QStringLiteral("%1 exists again. Replace it with the record's copy?").arg(what),
                QStringLiteral("%1 exists again: nothing was restored. Give /f to replace it with the record's copy.")
                    .arg(what));
    }
    EntryTrash::restore(m_prefix.path(), record.id, replace);
    if (leftovers)
        print(m_out, QStringLiteral("Restored the leftovers of %1.\n").arg(record.name));
    else
        print(m_out, QStringLiteral("Restored %1 (%2).\n").arg(record.key, record.name));
}

void RegTool::purgeTrash(const RegCommand& command)
{
    if (!command.allRecords) {
        EntryTrash::purge(m_prefix.path(), command.recordId);
        return;
    }
    // Damaged records go too: /all means the whole trash of the prefix.
    const QList<TrashRecord> records = EntryTrash::list(m_prefix.path());
    for (const TrashRecord& record : records)
        EntryTrash::purge(m_prefix.path(), record.id);
    print(m_out, QStringLiteral("Removed %1 record(s).\n").arg(records.size()));
}
