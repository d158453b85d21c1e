#include "menus/CleanMenusRun.h"

#include "base/KestrinError.h"
#include "menus/MenuCleanup.h"
#include "menus/StaleMenuEntries.h"

#include <QTextStream>

#include <cstdlib>

int runCleanMenus(const QStringList& arguments, const WinePrefix& prefix, const WineMenuFolders& folders,
                  QTextStream& output, QTextStream& errors)
{
    bool remove = false;
    for (const QString& argument : arguments) {
        if (argument.compare(QStringLiteral("/f"), Qt::CaseInsensitive) != 0) {
            errors << "kestrin: --clean-menus takes only /f, not \"" << argument << "\"\n";
            return EXIT_FAILURE;
        }
        remove = true;
    }
    try {
        StaleMenuEntries stale(prefix, folders);
        stale.scan();
        if (stale.entries().isEmpty()) {
            output << "No menu entries of programs that have gone in " << prefix.path() << ".\n";
            return EXIT_SUCCESS;
        }
        QList<int> all;
        for (int index = 0; index < stale.entries().size(); ++index) {
            const StaleMenuEntry& entry = stale.entries().at(index);
            output << entry.name << ": " << entry.reason << '\n';
            for (const QString& file : stale.filesOf(index))
                output << "    " << file << '\n';
            all << index;
        }
        if (!remove) {
            output << "Run again with /f to move these files into the entry trash.\n";
            return EXIT_SUCCESS;
        }
        const MenuCleanup::Removed removed = MenuCleanup::remove(prefix, stale, all);
        MenuCleanup::refreshDesktopMenus(folders);
        output << "Moved " << removed.files.size() << " files into the entry trash and deleted "
               << removed.values.size() << " MenuFiles values; kestrin-reg trash restore " << removed.recordId
               << " brings them back.\n";
        return EXIT_SUCCESS;
    } catch (const KestrinError& error) {
        errors << "kestrin: " << error.message() << '\n';
        return EXIT_FAILURE;
    }
}
