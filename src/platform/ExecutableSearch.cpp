#include "ExecutableSearch.h"

#include <QFile>
#include <QSet>

#include <dirent.h>

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool hasSeparator(QStringView text)
{
    return text.contains(QLatin1Char('\\')) || text.contains(QLatin1Char('/'));
}

// An extension is a "." after the last separator; "setup." has one (empty).
bool hasExtension(QStringView name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && !hasSeparator(name.sliced(dot));
}

// Names that Windows checks where they point instead of searching: drive paths (also "X:name"),
// UNC and rooted paths, and those starting at the current folder.
bool pointsSomewhere(QStringView name)
{
    if (name.size() >= 2 && name[1] == QLatin1Char(':'))
        return true;
    if (!name.isEmpty() && isSeparator(name[0]))
        return true;
    return name.startsWith(u"./") || name.startsWith(u".\\") || name.startsWith(u"../") || name.startsWith(u"..\\");
}

// A drive's root keeps its separator: "C:" alone would name the drive's current folder.
QString withoutTrailingSeparators(QString folder)
{
    const bool driveRoot = folder.size() >= 3 && folder[1] == QLatin1Char(':') && isSeparator(folder[2]);
    const qsizetype keep = driveRoot ? 3 : 0;
    while (folder.size() > keep && isSeparator(folder.back()))
        folder.chop(1);
    return folder;
}

QString joined(const QString& folder, const QString& name)
{
    if (isSeparator(folder.back()))
        return folder + name;
    return folder + QLatin1Char('\\') + name;
}

} // namespace

ExecutableSearch::ExecutableSearch(WindowsPaths paths, const QString& pathVariable) : m_paths(std::move(paths))
{
    QStringList candidates{withoutTrailingSeparators(WindowsPaths::SystemDir()), QStringLiteral("C:\\windows\\system"),
                           withoutTrailingSeparators(WindowsPaths::WindowsDir())};
    candidates += pathVariable.split(QLatin1Char(';'), Qt::SkipEmptyParts);

    QSet<QString> seen;
    for (const QString& candidate : std::as_const(candidates)) {
        const QString folder = withoutTrailingSeparators(candidate);
        if (folder.isEmpty() || seen.contains(folder.toCaseFolded()))
            continue;
        seen.insert(folder.toCaseFolded());
        m_folders.push_back(Folder{folder, false, QString(), false, {}});
    }
}

ExecutableSearch::~ExecutableSearch() = default;

QStringList ExecutableSearch::folders() const
{
    QStringList result;
    for (const Folder& folder : m_folders)
        result.append(folder.windowsPath);
    return result;
}

QString ExecutableSearch::find(const QString& name) const
{
    if (name.isEmpty())
        return QString();
    const QString withExtension = hasExtension(name) ? name : name + QStringLiteral(".exe");

    if (pointsSomewhere(name)) {
        if (m_paths.Exists(name))
            return name;
        return withExtension != name && m_paths.Exists(withExtension) ? withExtension : QString();
    }

    const bool plainName = !hasSeparator(withExtension);
    const QString trimmed = WindowsPaths::trimName(withExtension);
    for (Folder& folder : m_folders) {
        const QString candidate = joined(folder.windowsPath, withExtension);
        if (plainName ? findInFolder(folder, trimmed) : m_paths.Exists(candidate))
            return candidate;
    }
    return QString();
}

bool ExecutableSearch::findInFolder(Folder& folder, const QString& name) const
{
    if (name == u"." || name == u".." || !WindowsPaths::isValidName(name))
        return false;
    if (!folder.resolved) {
        folder.hostPath = m_paths.hostPath(folder.windowsPath);
        if (!WindowsPaths::isHostFolder(folder.hostPath))
            folder.hostPath.clear();
        folder.resolved = true;
    }
    if (folder.hostPath.isEmpty())
        return false;

    // The exact name decides when it exists, as in a lookup without the listing.
    const QString exact = folder.hostPath + QLatin1Char('/') + name;
    if (QFile::exists(exact))
        return WindowsPaths::isHostFile(exact);

    if (!folder.listed) {
        folder.listed = true;
        if (DIR* dir = ::opendir(QFile::encodeName(folder.hostPath).constData())) {
            while (const dirent* entry = ::readdir(dir)) {
                const QString entryName = QFile::decodeName(entry->d_name);
                const QString key = entryName.toCaseFolded();
                if (entryName != u"." && entryName != u".." && !folder.namesByFoldedName.contains(key))
                    folder.namesByFoldedName.insert(key, entryName);
            }
            ::closedir(dir);
        }
    }
    const auto it = folder.namesByFoldedName.constFind(name.toCaseFolded());
    return it != folder.namesByFoldedName.cend() && WindowsPaths::isHostFile(folder.hostPath + QLatin1Char('/') + *it);
}
