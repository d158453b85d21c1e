#pragma once

#include "platform/WinePrefix.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Windows paths of a Wine prefix, mapped to host paths as Wine maps them: drive X: is the folder that
// <prefix>/dosdevices/x: points to, and each component names the entry of its folder with exactly that
// name, else the first entry (in directory order) whose name differs only in letter case.
//
// Only absolute drive paths resolve ("X:\..."; "/" separates like "\"). UNC paths, relative paths,
// drives the prefix does not have, names Windows forbids and the empty text name nothing. "." and ".."
// are applied to the text before any lookup and never climb above the drive's folder.
class WindowsPaths
{
public:
    explicit WindowsPaths(WinePrefix prefix);

    // The system and the Windows folder of every prefix, each ending with "\".
    static QString SystemDir();
    static QString WindowsDir();

    const WinePrefix& prefix() const { return m_prefix; }

    // Host path of the existing file or folder that windowsPath names; empty when it names none.
    QString hostPath(const QString& windowsPath) const;
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
    // that matches without regard to case); empty when none does.
    static QString findEntry(const QString& hostFolder, const QString& name);
    static bool isHostFile(const QString& hostPath);
    static bool isHostFolder(const QString& hostPath);

private:
    QString driveFolder(QChar drive) const;

    WinePrefix m_prefix;
};
