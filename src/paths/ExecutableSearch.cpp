#include "paths/ExecutableSearch.h"

#include <QSet>

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

bool isUnixPath(QStringView folder)
{
    return folder.startsWith(QLatin1Char('/'));
}

} // namespace

ExecutableSearch::ExecutableSearch(const WindowsPaths& paths, const QString& pathVariable)
    : m_listings(paths.listings() ? paths.listings() : std::make_shared<FolderListings>()),
      m_paths(paths.prefix(), paths.view(), m_listings), m_nativePaths(paths.prefix(), PathView::Native, m_listings)
{
    QStringList candidates{withoutTrailingSeparators(WindowsPaths::SystemDir()), QStringLiteral("C:\\windows\\system"),
                           withoutTrailingSeparators(WindowsPaths::WindowsDir())};
    candidates += pathVariable.split(QLatin1Char(';'), Qt::SkipEmptyParts);

    QSet<QString> seen;
    const auto add = [&](const QString& candidate) {
        // A Unix path keeps its case and its trailing "/" is harmless; a Windows one ignores both.
        const QString folder = isUnixPath(candidate) ? candidate : withoutTrailingSeparators(candidate);
        const QString key = isUnixPath(folder) ? folder : folder.toCaseFolded();
        if (folder.isEmpty() || seen.contains(key))
            return;
        seen.insert(key);
        Folder entry;
        entry.windowsPath = folder;
        m_folders.push_back(std::move(entry));
    };
    for (const QString& candidate : std::as_const(candidates)) {
        if (m_paths.view() == PathView::Wow64 && !isUnixPath(candidate)) {
            if (const auto redirect = WindowsPaths::redirected(candidate))
                add(*redirect);
        }
        add(candidate);
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
        if (plainName ? findInFolder(folder, trimmed) : findBelowFolder(folder, withExtension))
            return joined(folder.windowsPath, withExtension);
    }
    return QString();
}

const QString& ExecutableSearch::hostFolder(Folder& folder) const
{
    if (!folder.resolved) {
        if (isUnixPath(folder.windowsPath))
            folder.hostPath =
                m_listings->kindOf(folder.windowsPath) == FolderListings::Kind::Folder ? folder.windowsPath : QString();
        else
            folder.hostPath = m_nativePaths.hostPath(folder.windowsPath + QLatin1Char('\\'));
        folder.resolved = true;
    }
    return folder.hostPath;
}

bool ExecutableSearch::findBelowFolder(Folder& folder, const QString& relativeName) const
{
    if (!isUnixPath(folder.windowsPath))
        return m_nativePaths.Exists(joined(folder.windowsPath, relativeName));
    // Taken apart as if below a drive's root, which applies "." and ".." (never above the folder) and
    // trims the last name.
    const auto parsed = WindowsPaths::parse(QString(QStringLiteral("c:\\") + relativeName));
    if (!parsed || parsed->components.isEmpty() || hostFolder(folder).isEmpty())
        return false;
    return m_listings->findUnder(folder.hostPath, parsed->components).kind == FolderListings::Kind::File;
}

bool ExecutableSearch::findInFolder(Folder& folder, const QString& name) const
{
    if (name == u"." || name == u".." || !WindowsPaths::isValidName(name))
        return false;
    if (hostFolder(folder).isEmpty())
        return false;
    // As in Wine's lookup: the exact name when it exists, else the first entry in directory order that
    // matches without regard to case or by its short name.
    return m_listings->find(folder.hostPath, name).kind == FolderListings::Kind::File;
}
