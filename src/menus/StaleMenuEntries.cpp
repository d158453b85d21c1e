#include "menus/StaleMenuEntries.h"

#include "base/KestrinError.h"
#include "base/UntouchedRead.h"
#include "desktop/WineDesktopEntry.h"
#include "formats/DesktopEntry.h"
#include "formats/ShellLink.h"
#include "hive/HiveFile.h"
#include "inventory/RegistryAccess.h"
#include "paths/WindowsPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

const QString MenuFilesKey = QStringLiteral("Software\\Wine\\MenuFiles");
const QString DesktopSuffix = QStringLiteral(".desktop");
const QString MenuSuffix = QStringLiteral(".menu");
// A .menu or .directory file is big when it passes this; Wine's are a few hundred bytes.
constexpr qint64 MaxMenuBytes = 1024 * 1024;

// The path with its folder's links resolved; empty when the folder does not exist.
QString canonicalFile(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + u'/' + info.fileName();
}

QString canonicalFolder(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

// A regular file, not a link to one: Wine writes no links here, and a link may lead anywhere.
bool isPlainFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

bool isUnder(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && path.startsWith(folder + u'/');
}

// Wine names the icons it extracts "XXXX_<file name>.<index>", XXXX a checksum in hex.
bool isWineIconName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-F]{4}_[^/]+\\.-?[0-9]+$"));
    return pattern.match(name).hasMatch();
}

bool isWineDirectoryName(const QString& name)
{
    return name.startsWith(QStringLiteral("wine-")) && name.endsWith(QStringLiteral(".directory")) &&
           !name.contains(u'/');
}

// The .directory files a .menu file uses.
QStringList directoriesUsedBy(const QString& menuFile)
{
    QFile file;
    if (!openUntouched(file, menuFile))
        return {};
    static const QRegularExpression directory(QStringLiteral("<Directory>\\s*([^<]*?)\\s*</Directory>"));
    QStringList names;
    for (const QRegularExpressionMatch& match : directory.globalMatch(QString::fromUtf8(file.read(MaxMenuBytes))))
        names << match.captured(1);
    return names;
}

// Whether the drive of a Windows path exists in the prefix: on a missing drive nothing can be
// told about the path.
bool driveExists(const WindowsPaths& paths, const QString& windowsPath)
{
    const auto parsed = WindowsPaths::parse(windowsPath);
    return parsed && !paths.hostPath(QString(parsed->drive) + QStringLiteral(":\\")).isEmpty();
}

void appendOnce(QStringList& list, const QString& item)
{
    if (!item.isEmpty() && !list.contains(item))
        list << item;
}

} // namespace

StaleMenuEntries::StaleMenuEntries(WinePrefix prefix, WineMenuFolders folders)
    : m_prefix(std::move(prefix)), m_folders(std::move(folders))
{}

QList<StaleMenuEntries::MenuFileValue> StaleMenuEntries::readMenuFiles() const
{
    // A user.reg that cannot be read must not pass for one without stale entries.
    const auto hive = HiveFile::open(m_prefix.userHivePath());
    if (QFileInfo::exists(m_prefix.userHivePath()) && (!hive->current().isValid() || !hive->readError().isEmpty())) {
        const QString why =
            hive->readError().isEmpty() ? QStringLiteral("it is not a Wine registry file") : hive->readError();
        throw KestrinError(
            QStringLiteral("The menu entries of %1 cannot be read: %2.").arg(m_prefix.userHivePath(), why));
    }
    RegistryAccess registry(m_prefix);
    registry.RootKey(RegistryRoot::CurrentUser);
    if (!registry.OpenKeyReadOnly(MenuFilesKey))
        return {};
    QStringList names;
    registry.GetValueNames(names);
    QList<MenuFileValue> values;
    for (const QString& name : names) {
        const std::optional<RegistryValue> value = registry.readValue(name);
        if (value && (value->type == RegType::Sz || value->type == RegType::ExpandSz))
            values.append({name, value->toText()});
    }
    registry.CloseKey();
    return values;
}

QString StaleMenuEntries::whyStale(const QString& linkPath) const
{
    const WindowsPaths paths(m_prefix);
    if (!driveExists(paths, linkPath))
        return {};
    const QString linkFile = paths.hostPath(linkPath);
    if (!WindowsPaths::isHostFile(linkFile))
        return QStringLiteral("Its shortcut %1 is gone.").arg(linkPath);

    ShellLinkInfo link;
    link.LinkFile = linkFile;
    if (!ReadShellLink(link))
        return {};
    const QString& target = link.LinkTarget;
    // An advertised shortcut names no file, and %variables% are not ours to expand: no verdict.
    if (target.isEmpty() || target.contains(u'%') || !driveExists(paths, target))
        return {};
    if (!paths.hostPath(target).isEmpty() || !WindowsPaths(m_prefix, PathView::Wow64).hostPath(target).isEmpty())
        return {};
    return QStringLiteral("The program its shortcut starts, %1, is gone.").arg(target);
}

bool StaleMenuEntries::isWineEntryOfPrefix(const QString& desktopFile) const
{
    const std::optional<WineDesktopEntry> entry = WineDesktopEntry::read(desktopFile);
    return entry && entry->runsIn(m_prefix.path());
}

QString StaleMenuEntries::hostPathOf(const QString& valueName) const
{
    // Wine names most of them by their Unix path, \\?\unix\home\..., which no drive maps.
    const QString unixPrefix = QStringLiteral("\\\\?\\unix\\");
    if (valueName.startsWith(unixPrefix, Qt::CaseInsensitive)) {
        const QString path = QDir::cleanPath(valueName.mid(unixPrefix.size() - 1).replace(u'\\', u'/'));
        return QFileInfo::exists(path) ? path : QString();
    }
    return WindowsPaths(m_prefix).hostPath(valueName);
}

QString StaleMenuEntries::candidateFile(const QString& valueName) const
{
    const QString host = hostPathOf(valueName);
    if (host.isEmpty())
        return {};
    QString file = canonicalFile(host);
    if (!isPlainFile(file))
        return {};
    const QString name = QFileInfo(file).fileName();
    if (name.endsWith(DesktopSuffix)) {
        bool inDesktopFolder = false;
        for (const QString& desktop : m_folders.desktops)
            inDesktopFolder = inDesktopFolder || QFileInfo(file).absolutePath() == canonicalFolder(desktop);
        if (!inDesktopFolder && !isUnder(file, canonicalFolder(m_folders.wineApplications())))
            return {};
        return isWineEntryOfPrefix(file) ? file : QString();
    }
    if (name.endsWith(MenuSuffix) && name.startsWith(QStringLiteral("wine-")) &&
        QFileInfo(file).absolutePath() == canonicalFolder(m_folders.mergedMenus()))
        return file;
    return {};
}

void StaleMenuEntries::readRemainingUses()
{
    m_menuDirectories.clear();
    m_desktopIcons.clear();
    if (const QString menus = canonicalFolder(m_folders.mergedMenus()); !menus.isEmpty()) {
        QDirIterator it(menus, {QStringLiteral("*.menu")}, QDir::Files | QDir::Hidden);
        while (it.hasNext()) {
            const QString file = it.next();
            m_menuDirectories.insert(file, directoriesUsedBy(file));
        }
    }
    // Any desktop entry that names an icon keeps it, Wine's or not.
    const auto readIcons = [this](const QString& folder, QDirIterator::IteratorFlags flags) {
        if (folder.isEmpty())
            return;
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden, flags);
        while (it.hasNext()) {
            const QString file = it.next();
            if (const std::optional<DesktopEntry> entry = DesktopEntry::read(file))
                m_desktopIcons.insert(
                    file, entry->value(QStringLiteral("Desktop Entry"), QStringLiteral("Icon")).value_or(QString()));
        }
    };
    readIcons(canonicalFolder(m_folders.applications()), QDirIterator::Subdirectories);
    for (const QString& desktop : m_folders.desktops)
        readIcons(canonicalFolder(desktop), QDirIterator::NoIteratorFlags);
}

void StaleMenuEntries::scan()
{
    m_entries.clear();
    const QList<MenuFileValue> values = readMenuFiles();
    readRemainingUses();

    // One entry per shortcut, in the order MenuFiles first names it.
    QStringList links;
    for (const MenuFileValue& value : values) {
        if (std::none_of(links.begin(), links.end(),
                         [&](const QString& link) { return link.compare(value.linkPath, Qt::CaseInsensitive) == 0; }))
            links << value.linkPath;
    }

    const QString wineApplications = canonicalFolder(m_folders.wineApplications());
    const QString mergedMenus = canonicalFolder(m_folders.mergedMenus());
    for (const QString& link : links) {
        StaleMenuEntry entry;
        entry.linkPath = link;
        entry.reason = whyStale(link);
        if (entry.reason.isEmpty())
            continue;

        QStringList desktops;
        QStringList menus;
        QStringList foreignMenus; // the .menu of a desktop entry that another prefix has taken over
        for (const MenuFileValue& value : values) {
            if (value.linkPath.compare(link, Qt::CaseInsensitive) != 0)
                continue;
            entry.menuFileValues << value.valueName;
            const QString file = candidateFile(value.valueName);
            if (file.endsWith(DesktopSuffix))
                appendOnce(desktops, file);
            else if (file.endsWith(MenuSuffix))
                appendOnce(menus, file);

            // Wine names a menu entry's .menu file after its place under applications/wine.
            const QString host = canonicalFile(hostPathOf(value.valueName));
            if (!host.endsWith(DesktopSuffix) || !isUnder(host, wineApplications) || mergedMenus.isEmpty())
                continue;
            const QString place = host.mid(wineApplications.size() + 1).chopped(DesktopSuffix.size());
            const QString menu =
                mergedMenus + QStringLiteral("/wine-") + QString(place).replace(u'/', u'-') + MenuSuffix;
            if (file.isEmpty())
                foreignMenus << menu;
            else if (isPlainFile(menu))
                appendOnce(menus, menu);
        }
        for (const QString& menu : std::as_const(foreignMenus))
            menus.removeAll(menu);

        for (const QString& desktop : std::as_const(desktops)) {
            const std::optional<WineDesktopEntry> wine = WineDesktopEntry::read(desktop);
            if (!wine)
                continue;
            if (entry.name.isEmpty())
                entry.name = wine->name;
            if (isWineIconName(wine->icon))
                appendOnce(entry.iconNames, wine->icon);
        }
        for (const QString& menu : std::as_const(menus)) {
            for (const QString& directory : m_menuDirectories.value(menu)) {
                if (isWineDirectoryName(directory))
                    appendOnce(entry.directoryNames, directory);
            }
        }
        entry.ownFiles = desktops + menus;
        if (entry.ownFiles.isEmpty())
            continue; // nothing of it is left to remove
        if (entry.name.isEmpty()) {
            const QStringList components = WindowsPaths::parse(link)->components;
            entry.name = components.isEmpty() ? link : components.last();
            if (entry.name.endsWith(QStringLiteral(".lnk"), Qt::CaseInsensitive))
                entry.name.chop(4);
        }
        m_entries.append(entry);
    }
}

QStringList StaleMenuEntries::sharedFilesFreedBy(const QList<int>& chosen) const
{
    QSet<QString> removed;
    QStringList directoryNames;
    QStringList iconNames;
    for (int index : chosen) {
        const StaleMenuEntry& entry = m_entries.at(index);
        for (const QString& file : entry.ownFiles)
            removed.insert(file);
        for (const QString& name : entry.directoryNames)
            appendOnce(directoryNames, name);
        for (const QString& name : entry.iconNames)
            appendOnce(iconNames, name);
    }

    QSet<QString> directoriesInUse;
    for (auto it = m_menuDirectories.begin(); it != m_menuDirectories.end(); ++it) {
        if (!removed.contains(it.key()))
            directoriesInUse.unite(QSet<QString>(it.value().begin(), it.value().end()));
    }
    QSet<QString> iconsInUse;
    for (auto it = m_desktopIcons.begin(); it != m_desktopIcons.end(); ++it) {
        if (!removed.contains(it.key()))
            iconsInUse.insert(it.value());
    }

    QStringList files;
    const QString directories = canonicalFolder(m_folders.directories());
    for (const QString& name : std::as_const(directoryNames)) {
        const QString file = directories + u'/' + name;
        if (!directories.isEmpty() && !directoriesInUse.contains(name) && isPlainFile(file))
            files << file;
    }
    const QString hicolor = canonicalFolder(m_folders.hicolorIcons());
    for (const QString& name : std::as_const(iconNames)) {
        if (hicolor.isEmpty() || iconsInUse.contains(name))
            continue;
        QDirIterator sizes(hicolor, QDir::Dirs | QDir::NoDotAndDotDot);
        QStringList found;
        while (sizes.hasNext()) {
            const QString file = sizes.next() + QStringLiteral("/apps/") + name + QStringLiteral(".png");
            if (isPlainFile(file))
                found << file;
        }
        found.sort();
        files << found;
    }
    return files;
}

QStringList StaleMenuEntries::filesToRemove(const QList<int>& chosen) const
{
    QStringList files;
    for (int index : chosen)
        for (const QString& file : m_entries.at(index).ownFiles)
            appendOnce(files, file);
    return files + sharedFilesFreedBy(chosen);
}

QStringList StaleMenuEntries::filesOf(int index) const
{
    QList<int> all;
    for (int i = 0; i < m_entries.size(); ++i)
        all << i;
    const StaleMenuEntry& entry = m_entries.at(index);
    QStringList files = entry.ownFiles;
    for (const QString& file : sharedFilesFreedBy(all)) {
        const QString name = QFileInfo(file).fileName();
        if (entry.directoryNames.contains(name) ||
            std::any_of(entry.iconNames.begin(), entry.iconNames.end(),
                        [&](const QString& icon) { return name == icon + QStringLiteral(".png"); }))
            files << file;
    }
    return files;
}

QStringList StaleMenuEntries::valuesToDelete(const QList<int>& chosen) const
{
    QStringList values;
    for (int index : chosen)
        values << m_entries.at(index).menuFileValues;
    return values;
}

QStringList StaleMenuEntries::foldersEmptiedBy(const QStringList& removed) const
{
    const QString programs = canonicalFolder(m_folders.wineApplications() + QStringLiteral("/Programs"));
    const QSet<QString> gone(removed.begin(), removed.end());
    QStringList candidates;
    for (const QString& file : removed) {
        for (QString folder = QFileInfo(file).absolutePath(); isUnder(folder, programs);
             folder = QFileInfo(folder).absolutePath())
            appendOnce(candidates, folder);
    }
    // Deepest first, so that a parent is removed after its children.
    std::sort(candidates.begin(), candidates.end(),
              [](const QString& a, const QString& b) { return a.count(u'/') > b.count(u'/'); });
    QStringList emptied;
    for (const QString& folder : std::as_const(candidates)) {
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        bool empty = true;
        while (empty && it.hasNext()) {
            const QFileInfo info(it.nextFileInfo());
            empty = info.isDir() && !info.isSymLink() ? true : gone.contains(info.filePath());
        }
        if (empty)
            emptied << folder;
    }
    return emptied;
}
