#pragma once

#include "paths/FolderListings.h"
#include "prefix/WinePrefix.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>

// How a program sees the prefix's files. A 32-bit program in a 64-bit prefix finds the 32-bit system
// folder C:\windows\syswow64 where it asks for C:\windows\system32.
enum class PathView
{
    Native,
    Wow64,
};

// Windows paths of a Wine prefix, mapped to host paths as Wine maps them: drive X: is the folder that
// <prefix>/dosdevices/x: points to, and each component names the entry of its folder with exactly that
// name, else the first entry (in directory order) whose name differs only in letter case or, for a
// legal 8.3 name, whose short name Wine derives from its long one (see ShortName).
//
// Only absolute drive paths resolve ("X:\...", also behind "\\?\" or "\??\"; "/" separates like "\").
// UNC paths, relative paths, drives the prefix does not have, names Windows forbids and the empty text
// name nothing. "." and ".." are applied to the text before any lookup and never climb above the
// drive's folder.
//
// In the Wow64 view a path into C:\windows\system32 (except the few subfolders Windows shares between
// the two kinds of program) resolves to C:\windows\syswow64 first, then as written.
//
// Given folder listings, look-ups answer from them (see FolderListings), so that the many look-ups of
// one scan cost one listing per folder; without, each look-up asks the disk.
class WindowsPaths
{
public:
    explicit WindowsPaths(WinePrefix prefix, PathView view = PathView::Native,
                          std::shared_ptr<FolderListings> listings = {});

    // The system and the Windows folder of every prefix, each ending with "\".
    static QString SystemDir();
    static QString WindowsDir();

    const WinePrefix& prefix() const { return m_prefix; }
    PathView view() const { return m_view; }
    const std::shared_ptr<FolderListings>& listings() const { return m_listings; }

    // The path a 32-bit program reaches instead of windowsPath: the same path in C:\windows\syswow64
    // when windowsPath lies in C:\windows\system32 and is not shared; nullopt otherwise.
    static std::optional<QString> redirected(const QString& windowsPath);

    // Host path of the existing file or folder that windowsPath names; empty when it names none.
    QString hostPath(const QString& windowsPath) const;
    // Host path of the existing file that windowsPath names; empty when it names none or a folder.
    QString hostFile(const QString& windowsPath) const;
    // True when windowsPath names an existing file; a folder does not count.
    bool Exists(const QString& windowsPath) const;

    // A drive path taken apart: the lower-case drive letter and its components after "." and "..",
    // with trailing dots and blanks cut from the last one as Windows does. Nullopt for any other text.
    // A text ending with a separator names a folder only.
    struct DrivePath
    {
        QChar drive;
        QStringList components;
        bool folderOnly = false; // the text ends with a separator
    };
    static std::optional<DrivePath> parse(QStringView windowsPath);

    // Whether Windows allows name as one path component.
    static bool isValidName(QStringView name);
    // name without trailing dots and blanks, which Windows ignores at the end of a path.
    static QString trimName(QStringView name);

    // Host path of the entry of hostFolder that name selects (exact name first, then the first entry
    // that matches without regard to case or by its short name); empty when none does.
    static QString findEntry(const QString& hostFolder, const QString& name);
    // Host path of what the components select, one level at a time from hostFolder; empty when one
    // does not.
    static QString findUnder(const QString& hostFolder, const QStringList& components);
    static bool isHostFile(const QString& hostPath);
    static bool isHostFolder(const QString& hostPath);

private:
    QString driveFolder(QChar drive) const;
    FolderListings::Entry resolve(const QString& windowsPath) const;
    FolderListings::Entry resolveAsWritten(const QString& windowsPath) const;

    WinePrefix m_prefix;
    PathView m_view;
    std::shared_ptr<FolderListings> m_listings;
};
