#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class StaleMenuEntries;
class WinePrefix;
struct WineMenuFolders;

// Takes stale menu entries away so that RESTORE in the entry trash brings them back.
namespace MenuCleanup {

struct Removed
{
    QString recordId;    // the entry-trash record that keeps the files and the values
    QStringList files;   // host paths of the files moved into it
    QStringList values;  // the MenuFiles values deleted
    QStringList folders; // the folders under applications/wine/Programs left empty and removed
};

// Moves the files of the chosen entries of `stale` into one "menu-removed" record of the prefix's
// entry trash, then deletes their MenuFiles values in one save of user.reg. Throws KestrinError
// (WineRunningError while Wine serves the prefix) having removed nothing: files and values stay.
Removed remove(const WinePrefix& prefix, const StaleMenuEntries& stale, const QList<int>& chosen);

// Asks the desktop to read its menus again where a standard way exists: update-desktop-database on
// the applications folder, when it is installed. Does not wait; true when it was started.
bool refreshDesktopMenus(const WineMenuFolders& folders);

} // namespace MenuCleanup
