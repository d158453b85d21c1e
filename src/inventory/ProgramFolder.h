#pragma once

#include "paths/WindowsPaths.h"
#include "prefix/WinePrefix.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <vector>

// Which host folder is a program's own, so that its size can stand for the program's: the entry's
// InstallLocation when that names a folder, else the folder of its uninstaller, else the folder of its
// icon file; those two only when no other listed entry uses the folder or one inside it, nor has its
// install location above it.
//
// Never a folder that belongs to Windows, to a user or to all programs: a drive's root, C:\windows and
// all inside it, C:\Program Files, C:\Program Files (x86), their Common Files, C:\ProgramData and its
// Start Menu folders, C:\users, a profile and its standard folders (AppData, Desktop, Documents, ...).
// Never anything whose canonical path lies outside the prefix's canonical drive_c, nor a folder reached
// through a link that leaves drive_c: prefix managers link a profile's Documents and the like into the
// user's home.
//
// Judging whether a folder is shared takes two steps over a scan's entries: candidates() for each, then
// choose() against the Claims of all; foldersOf() does both. Make one object per scan: folders are
// listed and judged once (see FolderListings).
class ProgramFolder
{
public:
    // What an uninstall entry says, %NAME% references already expanded for its view (PrefixEnvironment).
    struct Facts
    {
        QString installLocation;
        QString uninstallString;
        QString displayIcon; // "file" or "file,index", the file possibly in double quotes
        PathView view = PathView::Native;
    };

    enum class Source : quint8
    {
        None,
        InstallLocation,
        Uninstaller,
        Icon,
    };

    struct Result
    {
        QString hostPath; // canonical; empty when the entry has no folder of its own
        Source source = Source::None;
    };

    // The folders one entry could stand for, each canonical and allowed by the rules above; empty where
    // there is none.
    struct Candidates
    {
        QString installLocation;
        QString uninstallerFolder;
        QString iconFolder;
        QString uninstallerFile; // the uninstaller's host file, whether its folder is allowed or not
    };

    // The folders that listed entries use (InstallLocation and uninstaller folders), each entry counted
    // once per folder. A look-up costs time logarithmic in their number.
    class Claims
    {
    public:
        explicit Claims(const QList<Candidates>& entries);
        // Whether an entry other than `own` uses `folder` or a folder inside it, or is installed above it.
        bool usedByOthers(const QString& folder, const Candidates& own) const;

    private:
        QHash<QString, int> m_entries;   // by folder
        QHash<QString, int> m_installed; // the same, for install locations only
        std::vector<QString> m_folders;  // sorted, so that the folders inside one are neighbours
    };

    explicit ProgramFolder(WinePrefix prefix);

    // Step one, for each listed entry.
    Candidates candidates(const Facts& facts);
    // Step two: the entry's folder, judged against the claims of all listed entries (its own included).
    static Result choose(const Candidates& own, const Claims& claims);
    // Both steps over a whole list: one result per entry, in its order.
    QList<Result> foldersOf(const QList<Facts>& entries);

    // The canonical path of hostFolder when the rules above let it be a program's folder; empty otherwise.
    QString allowedFolder(const QString& hostFolder);

private:
    QString installFolder(const WindowsPaths& paths, const QString& text);
    static QString iconFile(const WindowsPaths& paths, const QString& text);
    bool linksStayInside(const QString& hostPath);
    bool isReserved(const QString& canonical) const;

    WinePrefix m_prefix;
    QString m_driveC;                    // canonical; empty when the prefix has none
    QSet<QString> m_driveRoots;          // canonical folders of the prefix's drives
    std::array<WindowsPaths, 2> m_paths; // by view, sharing one set of listings
    QHash<QString, QString> m_allowed;   // allowedFolder() by host folder
    QHash<QString, bool> m_linkInside;   // by path on the way: no link out of drive_c
};
