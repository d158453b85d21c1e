#pragma once

#include "inventory/RegistryRoot.h"
#include "paths/WindowsPaths.h"
#include "prefix/WinePrefix.h"

#include <QString>
#include <QStringList>

class RegistryAccess;

// A shortcut (.lnk) in one of the prefix's Start Menu or desktop folders, with what it points to.
struct PrefixShortcut
{
    QString hostPath;    // the .lnk file
    QString windowsPath; // the same as Wine names it, e.g. in its menu bookkeeping
    QString target;      // the Windows path it starts
};

// What an uninstall entry records about its program, read before the uninstaller runs: once the
// program is removed the entry is gone, and with it the facts that tell the program's leftovers
// from everything else in the prefix.
struct ProgramTraces
{
    QString name;      // "DisplayName"
    QString publisher; // "Publisher"
    QString entryName; // the entry's own key name under the uninstall key
    RegistryRoot root = RegistryRoot::LocalMachine;
    QString keyPath;
    QString folder;        // canonical host path of the program's own folder, or empty
    QString folderWindows; // the same as a Windows path
    QString folderReason;  // why it is the program's: "the entry names it as the install folder", ...
    bool folderFromInstallLocation = false;
    QString uninstaller;             // host path of the uninstaller's file, or empty
    QString uninstallerWindows;      // empty when the uninstaller is no program's own (msiexec, rundll32)
    QList<PrefixShortcut> shortcuts; // the shortcuts into the folder or to the uninstaller

    // Reads the entry `keyPath` under `root`; an entry that cannot be read gives traces with the name only.
    static ProgramTraces read(const WinePrefix& prefix, RegistryRoot root, const QString& keyPath, const QString& name,
                              PathView view);

    // Whether `shortcut` points into the program's folder or to its uninstaller.
    bool owns(const PrefixShortcut& shortcut) const;
};

// The shortcuts of the Start Menu and desktop folders inside the prefix's drive_c. A folder reached
// through a symbolic link (a desktop linked to the user's home, say) is not looked into, and only
// regular files are read.
QList<PrefixShortcut> prefixShortcuts(const WinePrefix& prefix);

// The folders prefixShortcuts() looks in that exist: every user's and the shared Start Menu programs
// folder, and every user's desktop.
QStringList shortcutFolders(const WinePrefix& prefix);

// Whether `path` is `folder` or lies inside it; both are host paths without trailing separators.
bool isInsideFolder(const QString& path, const QString& folder);
// The same for Windows paths, in any letter case and with either separator.
bool isInsideWindowsFolder(const QString& path, const QString& folder);
// A Windows path folded for comparison: one kind of separator, no trailing one, any letter case.
QString foldedWindowsPath(QString path);

// The text of the value `name` of the key open in `reg`, trimmed; empty when it is missing or not text.
QString entryText(RegistryAccess& reg, const QString& name);
