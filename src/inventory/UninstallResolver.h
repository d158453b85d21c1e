#pragma once

#include "inventory/PrefixEnvironment.h"
#include "paths/ExecutableSearch.h"
#include "paths/WindowsPaths.h"

#include <QString>

#include <array>
#include <optional>

// Decides from an uninstall command alone whether the program it would start is still there. Paths are
// looked up in the prefix as a program of the entry's view sees them; any failure on the way counts as
// "not there", nothing is reported.
//
// References such as %ProgramFiles% are expanded as Wine expands them for a program of the view before
// the rules apply. In the Wow64 view the 32-bit forms are tried first (C:\windows\syswow64 for
// C:\windows\system32, C:\Program Files (x86) for %ProgramFiles%), then the native ones.
//
// Make one per scan: the prefix's PATH and variables are read from the registry on the first command
// that needs them, then kept, and each folder is listed once (in the listings given, which the scan's
// other look-ups may share, else in listings of its own).
class UninstallResolver
{
public:
    explicit UninstallResolver(const WinePrefix& prefix, std::shared_ptr<FolderListings> listings = {});
    // With the search path given instead of read from the registry.
    UninstallResolver(const WinePrefix& prefix, const QString& searchPath);
    ~UninstallResolver();

    bool UninstallerExists(const QString& cmd, PathView which = PathView::Native);

    // The argument path whose ":\" stands at position p of a: from its drive letter to the third
    // character after the last "." behind that ":\", or the drive letter and four characters more when
    // no "." follows.
    static QString Path(const QString& a, qsizetype p);

private:
    // What one view needs, made on first use.
    struct View
    {
        WindowsPaths paths;
        std::optional<ExecutableSearch> search;
    };

    bool followsTheRules(const QString& command, View& view);
    bool startsWithDrivePathExists(const QString& cmd, const View& view) const;
    View& view(PathView which) { return m_views[which == PathView::Wow64 ? 1 : 0]; }
    const ExecutableSearch& search(View& view);

    PrefixEnvironment::Expander m_expander;
    std::optional<QString> m_searchPath; // given, or read once
    std::shared_ptr<FolderListings> m_listings;
    std::array<View, 2> m_views;
};
