#pragma once

#include "inventory/RegistryRoot.h"
#include "paths/WindowsPaths.h"

#include <QString>

// Where an item's size comes from. Wine never writes the shell's cache of sizes, so without it the
// installer's estimate counts, and without that the measured size of the program's own folder.
enum class SizeSource
{
    None,
    UsageCache,
    Estimate, // the entry's "EstimatedSize"
    Folder,   // measured after the list is shown
};

// One item of the program list: an uninstall entry as the scan found it.
struct InstalledProgram
{
    QString Name;                                   // "DisplayName", never empty
    RegistryRoot Root = RegistryRoot::LocalMachine; // the hive the entry lives in
    QString KeyPath;                                // the entry's key, relative to Root
    int IconIndex = -1;                             // into the system icon list; -1 shows no icon
    int UninstallerMissing = -1;                    // -1, or the warning icon's index when the uninstaller seems gone
    QString Size;                                   // the three usage texts (NT family only), or empty
    QString LastUsed;
    QString Frequency;
    QString UninstallCommand; // "UninstallString" exactly as read
    SizeSource SizeFrom = SizeSource::None;

    // What measuring the program's folder after the scan needs.
    QString InstallLocation;
    QString DisplayIcon;
    PathView View = PathView::Native;

    bool uninstallerFound() const { return UninstallerMissing == -1; }
    // The key as windows show it: the root's name, "\" and the key path.
    QString fullKeyPath() const { return rootName(Root) + QLatin1Char('\\') + KeyPath; }
};
