#include "inventory/ProgramFolder.h"

#include "wine/LaunchTarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

bool isInside(const QString& path, const QString& folder)
{
    return path.size() > folder.size() && path.startsWith(folder) && path.at(folder.size()) == u'/';
}

bool isInsideOrSame(const QString& path, const QString& folder)
{
    return path == folder || isInside(path, folder);
}

// Folders that hold many programs' files, or a user's, below a profile (C:\users\<name>), case-folded.
// The older names are those of prefixes made before Wine followed the Vista layout.
const QSet<QString>& profileFolders()
{
    static const QSet<QString> folders{
        u"appdata"_s,
        u"appdata/local"_s,
        u"appdata/local/microsoft"_s,
        u"appdata/local/microsoft/windows"_s,
        u"appdata/local/programs"_s,
        u"appdata/local/programs/common"_s,
        u"appdata/local/temp"_s,
        u"appdata/locallow"_s,
        u"appdata/roaming"_s,
        u"appdata/roaming/microsoft"_s,
        u"appdata/roaming/microsoft/windows"_s,
        u"appdata/roaming/microsoft/windows/recent"_s,
        u"appdata/roaming/microsoft/windows/sendto"_s,
        u"appdata/roaming/microsoft/windows/start menu"_s,
        u"appdata/roaming/microsoft/windows/start menu/programs"_s,
        u"appdata/roaming/microsoft/windows/start menu/programs/startup"_s,
        u"appdata/roaming/microsoft/windows/templates"_s,
        u"contacts"_s,
        u"desktop"_s,
        u"documents"_s,
        u"downloads"_s,
        u"favorites"_s,
        u"links"_s,
        u"music"_s,
        u"pictures"_s,
        u"saved games"_s,
        u"searches"_s,
        u"videos"_s,
        u"application data"_s,
        u"cookies"_s,
        u"local settings"_s,
        u"local settings/application data"_s,
        u"local settings/temp"_s,
        u"my documents"_s,
        u"my music"_s,
        u"my pictures"_s,
        u"my videos"_s,
        u"nethood"_s,
        u"printhood"_s,
        u"recent"_s,
        u"sendto"_s,
        u"start menu"_s,
        u"start menu/programs"_s,
        u"start menu/programs/startup"_s,
        u"temp"_s,
        u"templates"_s,
    };
    return folders;
}

// The same for the whole drive, relative to its root.
const QSet<QString>& sharedFolders()
{
    static const QSet<QString> folders{
        u"program files"_s,
        u"program files/common files"_s,
        u"program files (x86)"_s,
        u"program files (x86)/common files"_s,
        u"programdata"_s,
        u"programdata/microsoft"_s,
        u"programdata/microsoft/windows"_s,
        u"programdata/microsoft/windows/start menu"_s,
        u"programdata/microsoft/windows/start menu/programs"_s,
        u"programdata/microsoft/windows/start menu/programs/startup"_s,
        u"programdata/microsoft/windows/templates"_s,
        u"users"_s,
    };
    return folders;
}

bool isDriveName(const QString& name)
{
    return name.size() == 2 && name.at(1) == u':' && name.at(0).isLetter() && name.at(0).unicode() < 128;
}

std::array<WindowsPaths, 2> bothViews(const WinePrefix& prefix)
{
    const auto listings = std::make_shared<FolderListings>();
    return {WindowsPaths(prefix, PathView::Native, listings), WindowsPaths(prefix, PathView::Wow64, listings)};
}

QString withoutQuotes(QString text)
{
    text = text.trimmed();
    if (text.startsWith(u'"'))
        text.remove(0, 1);
    if (text.endsWith(u'"'))
        text.chop(1);
    return text.trimmed();
}

} // namespace

ProgramFolder::Claims::Claims(const QList<Candidates>& entries)
{
    for (const Candidates& entry : entries) {
        if (!entry.installLocation.isEmpty()) {
            ++m_entries[entry.installLocation];
            ++m_installed[entry.installLocation];
        }
        if (!entry.uninstallerFolder.isEmpty() && entry.uninstallerFolder != entry.installLocation)
            ++m_entries[entry.uninstallerFolder];
    }
    m_folders.reserve(m_entries.size());
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        m_folders.push_back(it.key());
    std::sort(m_folders.begin(), m_folders.end());
}

bool ProgramFolder::Claims::usedByOthers(const QString& folder, const Candidates& own) const
{
    const auto others = [&](const QString& claimed) {
        const bool ownClaim = claimed == own.installLocation || claimed == own.uninstallerFolder;
        return m_entries.value(claimed) - (ownClaim ? 1 : 0);
    };
    if (others(folder) > 0)
        return true;
    // A folder inside another program's install folder is that program's, as an add-on's icon in its
    // game's folder. (An uninstaller that serves a suite says less: its products keep their own folders.)
    for (qsizetype slash = folder.lastIndexOf(u'/'); slash > 0; slash = folder.lastIndexOf(u'/', slash - 1)) {
        const QString above = folder.left(slash);
        if (m_installed.value(above) - (above == own.installLocation ? 1 : 0) > 0)
            return true;
    }
    // A folder that holds another entry's folder would count that program's bytes as this one's.
    const QString below = folder + u'/';
    for (auto it = std::lower_bound(m_folders.begin(), m_folders.end(), below);
         it != m_folders.end() && it->startsWith(below); ++it) {
        if (others(*it) > 0)
            return true;
    }
    return false;
}

ProgramFolder::ProgramFolder(WinePrefix prefix) : m_prefix(std::move(prefix)), m_paths(bothViews(m_prefix))
{
    m_driveC = QFileInfo(m_prefix.path() + QStringLiteral("/drive_c")).canonicalFilePath();
    const QDir devices(m_prefix.path() + QStringLiteral("/dosdevices"));
    for (const QString& name : devices.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (!isDriveName(name))
            continue;
        if (const QString root = QFileInfo(devices.filePath(name)).canonicalFilePath(); !root.isEmpty())
            m_driveRoots.insert(root);
    }
}

ProgramFolder::Candidates ProgramFolder::candidates(const Facts& facts)
{
    const WindowsPaths& paths = m_paths[facts.view == PathView::Wow64 ? 1 : 0];
    Candidates found;
    found.installLocation = installFolder(paths, facts.installLocation);
    if (!facts.uninstallString.trimmed().isEmpty()) {
        found.uninstallerFile = LaunchTarget::of(m_prefix, facts.uninstallString).hostFile;
        if (!found.uninstallerFile.isEmpty())
            found.uninstallerFolder = allowedFolder(QFileInfo(found.uninstallerFile).absolutePath());
    }
    if (const QString icon = iconFile(paths, facts.displayIcon); !icon.isEmpty())
        found.iconFolder = allowedFolder(QFileInfo(icon).absolutePath());
    return found;
}

ProgramFolder::Result ProgramFolder::choose(const Candidates& own, const Claims& claims)
{
    if (!own.installLocation.isEmpty())
        return {own.installLocation, Source::InstallLocation};
    if (!own.uninstallerFolder.isEmpty() && !claims.usedByOthers(own.uninstallerFolder, own))
        return {own.uninstallerFolder, Source::Uninstaller};
    if (!own.iconFolder.isEmpty() && !claims.usedByOthers(own.iconFolder, own))
        return {own.iconFolder, Source::Icon};
    return {};
}

QList<ProgramFolder::Result> ProgramFolder::foldersOf(const QList<Facts>& entries)
{
    QList<Candidates> all;
    all.reserve(entries.size());
    for (const Facts& facts : entries)
        all.append(candidates(facts));
    const Claims claims(all);
    QList<Result> results;
    results.reserve(all.size());
    for (const Candidates& own : all)
        results.append(choose(own, claims));
    return results;
}

QString ProgramFolder::allowedFolder(const QString& hostFolder)
{
    if (m_driveC.isEmpty() || hostFolder.isEmpty())
        return {};
    if (const auto judged = m_allowed.constFind(hostFolder); judged != m_allowed.constEnd())
        return *judged;
    QString canonical = QFileInfo(hostFolder).canonicalFilePath();
    if (!isInside(canonical, m_driveC) || m_driveRoots.contains(canonical) || isReserved(canonical) ||
        !WindowsPaths::isHostFolder(canonical) || !linksStayInside(QDir::cleanPath(hostFolder)))
        canonical.clear();
    m_allowed.insert(hostFolder, canonical);
    return canonical;
}

QString ProgramFolder::installFolder(const WindowsPaths& paths, const QString& text)
{
    QString location = withoutQuotes(text);
    // "C:\" stays whole: without its separator it would name no folder, not the drive's root.
    while (location.size() > 3 && (location.endsWith(u'\\') || location.endsWith(u'/')))
        location.chop(1);
    if (location.isEmpty())
        return {};
    const QString host = paths.hostPath(location);
    return WindowsPaths::isHostFolder(host) ? allowedFolder(host) : QString();
}

QString ProgramFolder::iconFile(const WindowsPaths& paths, const QString& text)
{
    const QString icon = text.trimmed();
    if (icon.startsWith(u'"')) {
        const qsizetype close = icon.indexOf(u'"', 1);
        return paths.hostFile(close < 0 ? icon.mid(1) : icon.mid(1, close - 1));
    }
    if (QString whole = paths.hostFile(icon); !whole.isEmpty())
        return whole;
    // ",index" ends the text; other commas belong to the name.
    const qsizetype comma = icon.lastIndexOf(u',');
    if (comma < 0)
        return {};
    bool isNumber = false;
    icon.mid(comma + 1).trimmed().toInt(&isNumber);
    return isNumber ? paths.hostFile(icon.left(comma).trimmed()) : QString();
}

// Each link on the way must lead into drive_c, or to a folder that holds it (the prefix itself, a
// folder the prefix's path goes through); a link to the user's home would hand over folders that are
// not the prefix's.
bool ProgramFolder::linksStayInside(const QString& hostPath)
{
    for (qsizetype from = 1;;) {
        const qsizetype slash = hostPath.indexOf(u'/', from);
        const QString part = slash < 0 ? hostPath : hostPath.left(slash);
        auto known = m_linkInside.constFind(part);
        if (known == m_linkInside.constEnd()) {
            struct stat info;
            bool inside = true;
            if (::lstat(QFile::encodeName(part).constData(), &info) == 0 && S_ISLNK(info.st_mode)) {
                const QString target = QFileInfo(part).canonicalFilePath();
                inside = !target.isEmpty() && (isInsideOrSame(target, m_driveC) || isInside(m_driveC, target));
            }
            known = m_linkInside.insert(part, inside);
        }
        if (!*known)
            return false;
        if (slash < 0)
            return true;
        from = slash + 1;
    }
}

bool ProgramFolder::isReserved(const QString& canonical) const
{
    const QString relative = canonical.mid(m_driveC.size() + 1).toCaseFolded();
    if (relative == u"windows" || relative.startsWith(u"windows/"))
        return true;
    if (sharedFolders().contains(relative))
        return true;
    if (!relative.startsWith(u"users/"))
        return false;
    const qsizetype profileEnd = relative.indexOf(u'/', 6);
    return profileEnd < 0 || profileFolders().contains(relative.mid(profileEnd + 1));
}
