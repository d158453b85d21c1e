#pragma once

#include "paths/WindowsPaths.h"

#include <QString>
#include <QStringList>

#include <vector>

// Finds a program the way a Windows program finds one by name with the default extension ".exe":
// a name without a folder is looked for in C:\windows\system32, C:\windows\system, C:\windows and then
// the folders of the PATH handed in; a name with a drive, a UNC or a ".\" start is only checked where it
// points. ".exe" is added when the name has no extension. Only files are found. A PATH folder written
// as a Unix path ("/opt/tools", as WINEPATH may hold) is that host folder, as Wine takes it.
//
// In the Wow64 view of the paths, each folder in C:\windows\system32 is searched in its syswow64 form
// first.
//
// Meant to live for one scan: each folder is resolved on first use, and what the look-ups learn of the
// folders is kept (in the folder listings of paths, else in listings of its own), so thousands of
// look-ups list each folder once at most. Files created meanwhile may be missed.
class ExecutableSearch
{
public:
    // pathVariable: the program PATH, already expanded, folders separated by ";".
    ExecutableSearch(const WindowsPaths& paths, const QString& pathVariable);
    ~ExecutableSearch();

    // The Windows path of the file found, empty when none is.
    QString find(const QString& name) const;
    bool found(const QString& name) const { return !find(name).isEmpty(); }

    // The folders searched, in order, without repeats.
    QStringList folders() const;

private:
    struct Folder
    {
        QString windowsPath; // or a Unix path, from WINEPATH
        bool resolved = false;
        QString hostPath; // empty when the folder does not exist
    };

    const QString& hostFolder(Folder& folder) const;
    bool findInFolder(Folder& folder, const QString& name) const;
    bool findBelowFolder(Folder& folder, const QString& relativeName) const;

    std::shared_ptr<FolderListings> m_listings;
    WindowsPaths m_paths;
    WindowsPaths m_nativePaths; // for the folders, which are already redirected where needed
    mutable std::vector<Folder> m_folders;
};
