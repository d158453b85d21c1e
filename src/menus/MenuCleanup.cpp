#include "menus/MenuCleanup.h"

#include "hive/EntryTrash.h"
#include "hive/HiveFile.h"
#include "hive/HiveSyntax.h"
#include "inventory/RegistryAccess.h"
#include "menus/StaleMenuEntries.h"
#include "wine/CommandLauncher.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

namespace MenuCleanup {

namespace {

const QString MenuFilesKey = QStringLiteral("Software\\Wine\\MenuFiles");

// The MenuFiles section with just `values`, as the hive holds them: what a restore sets back.
QByteArray sectionOf(RegistryAccess& registry, const QStringList& values, qint64 nowMillis)
{
    QByteArray text = HiveSyntax::formatKeyHeader(MenuFilesKey.split(u'\\'), nowMillis);
    for (const QString& name : values) {
        if (const std::optional<RegistryValue> value = registry.readValue(name))
            text += HiveSyntax::formatValue(name, *value);
    }
    return text;
}

QString recordName(const StaleMenuEntries& stale, const QList<int>& chosen)
{
    QStringList names;
    for (int index : chosen)
        names << stale.entries().at(index).name;
    return names.join(QStringLiteral(", "));
}

} // namespace

Removed remove(const WinePrefix& prefix, const StaleMenuEntries& stale, const QList<int>& chosen)
{
    Removed removed;
    removed.files = stale.filesToRemove(chosen);
    removed.values = stale.valuesToDelete(chosen);
    removed.folders = stale.foldersEmptiedBy(removed.files);
    // Refused before any file moves when the save below would be refused too.
    HiveFile::open(prefix.userHivePath())->requireChangeable();

    const QDateTime now = QDateTime::currentDateTimeUtc();
    RegistryAccess registry(prefix);
    registry.RootKey(RegistryRoot::CurrentUser);
    if (!registry.OpenKey(MenuFilesKey, false))
        throw KestrinError(QStringLiteral("The key HKEY_CURRENT_USER\\%1 cannot be changed.").arg(MenuFilesKey));
    TrashRecord record;
    record.time = now;
    record.action = QStringLiteral("menu-removed");
    record.prefix = QDir::cleanPath(prefix.path());
    record.hive = QStringLiteral("user.reg");
    record.key = MenuFilesKey;
    record.name = recordName(stale, chosen);
    record.text = sectionOf(registry, removed.values, now.toMSecsSinceEpoch());

    HiveFile::WriteBatch batch;
    for (const QString& value : std::as_const(removed.values))
        registry.DeleteValue(value);
    removed.recordId = EntryTrash::keepFiles(prefix.path(), record, removed.files);
    try {
        batch.commit();
    } catch (...) {
        EntryTrash::undoKeep(prefix.path(), removed.recordId);
        throw;
    }
    registry.CloseKey();
    for (const QString& folder : std::as_const(removed.folders))
        QDir().rmdir(folder); // only an empty one goes
    return removed;
}

bool refreshDesktopMenus(const WineMenuFolders& folders)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (program.isEmpty())
        return false;
    // Not waited for, but bounded: a file it cannot read (a FIFO named .desktop) must not keep it forever.
    const QString timeout = QStandardPaths::findExecutable(QStringLiteral("timeout"));
    if (timeout.isEmpty())
        return CommandLauncher::instance().startHostProgram(program, {folders.applications()});
    return CommandLauncher::instance().startHostProgram(timeout,
                                                        {QStringLiteral("60"), program, folders.applications()});
}

} // namespace MenuCleanup
