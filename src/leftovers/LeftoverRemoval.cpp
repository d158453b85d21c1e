#include "leftovers/LeftoverRemoval.h"

#include "base/KestrinError.h"
#include "hive/EntryTrash.h"
#include "menus/MenuCleanup.h"

#include <QDateTime>
#include <QDir>

namespace LeftoverRemoval {

Removed remove(const WinePrefix& prefix, const LeftoverFinder& finder, const QList<Leftover>& leftovers,
               const QList<int>& chosen)
{
    QStringList paths;
    QList<TrashKey> keys;
    QList<int> menuEntries;
    for (const int index : chosen) {
        const Leftover& leftover = leftovers.at(index);
        switch (leftover.kind) {
        case Leftover::Kind::Folder:
        case Leftover::Kind::File:
            paths << leftover.hostPath;
            break;
        case Leftover::Kind::Key:
            keys << TrashKey{leftover.hive, leftover.key};
            break;
        case Leftover::Kind::MenuEntry:
            menuEntries << leftover.menuEntry;
            break;
        }
    }

    Removed removed;
    if (!paths.isEmpty() || !keys.isEmpty()) {
        TrashRecord record;
        record.time = QDateTime::currentDateTimeUtc();
        record.prefix = QDir::cleanPath(prefix.path());
        record.name = finder.traces().name;
        removed.recordId = EntryTrash::keepLeftovers(prefix.path(), record, paths, keys);
        removed.count += int(paths.size() + keys.size());
    }
    if (!menuEntries.isEmpty()) {
        try {
            removed.menuRecordId = MenuCleanup::remove(prefix, finder.menuEntries(), menuEntries).recordId;
        } catch (const KestrinError& error) {
            if (removed.recordId.isEmpty())
                throw;
            // What went is in the trash; the caller must say that the rest stayed, not that nothing moved.
            removed.menuError = error.message();
            return removed;
        }
        MenuCleanup::refreshDesktopMenus(finder.menuEntries().folders());
        removed.count += int(menuEntries.size());
    }
    return removed;
}

QList<int> certainOnes(const QList<Leftover>& leftovers)
{
    QList<int> certain;
    for (int i = 0; i < leftovers.size(); ++i) {
        if (leftovers[i].certain)
            certain << i;
    }
    return certain;
}

} // namespace LeftoverRemoval
