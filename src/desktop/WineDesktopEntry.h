#pragma once

#include <QString>

#include <optional>

// A desktop entry (".desktop") as Wine's menu builder writes it: its Exec runs wine, through
// "env WINEPREFIX=..." or not, on a Windows path.
struct WineDesktopEntry
{
    QString prefixPath;  // the prefix it runs in: its WINEPREFIX, else the one Wine picks by default
    QString windowsPath; // a ".lnk" of the prefix (menu and all-users desktop entries), else the target
    QString name;        // Name=, empty when absent
    QString icon;        // Icon=, empty when absent

    // Whether the entry runs in the prefix at `path` (the same folder, links resolved).
    bool runsIn(const QString& path) const;

    // Nullopt for a file that cannot be read, breaks the format, is not an application, or does not
    // run wine on a Windows path (an entry of a native program).
    static std::optional<WineDesktopEntry> read(const QString& path);
};
