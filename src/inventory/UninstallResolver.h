#pragma once

#include "platform/ExecutableSearch.h"
#include "platform/WindowsPaths.h"

#include <QString>

#include <optional>

// Decides from an uninstall command alone whether the program it would start is still there. Paths are
// looked up in the prefix; any failure on the way counts as "not there", nothing is reported.
//
// Make one per scan: the prefix's PATH is read from the registry on the first command that needs the
// executable search, then kept with the search's folder listings.
class UninstallResolver
{
public:
    explicit UninstallResolver(const WinePrefix& prefix);
    // With the search path given instead of read from the registry.
    UninstallResolver(const WinePrefix& prefix, const QString& searchPath);
    ~UninstallResolver();

    bool UninstallerExists(const QString& cmd);

    // The argument path whose ":\" stands at position p of a: from its drive letter to the third
    // character after the last "." behind that ":\", or the drive letter and four characters more when
    // no "." follows.
    static QString Path(const QString& a, qsizetype p);

private:
    bool Exists(const QString& path) const { return m_paths.Exists(path); }
    bool startsWithDrivePathExists(const QString& cmd) const;
    const ExecutableSearch& search();

    WindowsPaths m_paths;
    std::optional<ExecutableSearch> m_search;
};
