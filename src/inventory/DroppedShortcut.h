#pragma once

#include "prefix/WinePrefix.h"

#include <QString>

#include <optional>

// What a dropped file proposes for a new uninstall entry.
struct DroppedShortcut
{
    QString name;   // the subkey and display name: the file name less its extension
    QString target; // the uninstall command
    QString icon;   // the display icon
};

// Reads a dropped file as a shortcut of the prefix, nullopt for any file that is not one:
// - "<name>.lnk" (the extension in exactly this case): its target, and its icon location or else the
//   target. A shortcut that cannot be read gives empty texts, as the shell-link object leaves them.
// - "<name>.desktop" that Wine's menu builder wrote for this prefix: its Exec runs wine (through
//   "env WINEPREFIX=..." or not) on a Windows path. A path to a ".lnk" names a shortcut inside the
//   prefix, which is read as above; any other path is the target itself, which is also the icon.
//   An entry of another prefix, of a native program, or one that breaks the format, is not one.
std::optional<DroppedShortcut> readDroppedShortcut(const WinePrefix& prefix, const QString& path);
