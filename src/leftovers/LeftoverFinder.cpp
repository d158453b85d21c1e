#include "leftovers/LeftoverFinder.h"

#include "hive/HiveFile.h"
#include "inventory/ProgramFolder.h"
#include "inventory/ProgramScan.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "paths/HostToWindowsPath.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace {

// Keys under Software that belong to the system or to Wine, whatever a publisher calls itself.
const QStringList systemKeys{
    QStringLiteral("Classes"), QStringLiteral("Clients"),     QStringLiteral("Microsoft"),
    QStringLiteral("ODBC"),    QStringLiteral("Policies"),    QStringLiteral("RegisteredApplications"),
    QStringLiteral("Wine"),    QStringLiteral("Wow6432Node"),
};

// The Start Menu's own folders, which hold the shortcuts of many programs.
const QStringList shellFolders{
    QStringLiteral("Startup"),      QStringLiteral("Administrative Tools"), QStringLiteral("Accessories"),
    QStringLiteral("System Tools"), QStringLiteral("Maintenance"),          QStringLiteral("Windows PowerShell"),
};

bool isShellFolder(const QString& folder, const QString& root)
{
    const QString relative = folder.mid(root.size() + 1);
    return shellFolders.contains(relative.section(u'/', 0, 0), Qt::CaseInsensitive) && !relative.contains(u'/');
}

// Bounds the values read under one candidate key: a key with more is no program's settings alone.
constexpr int MaxValuesLooked = 5000;

bool namesWindowsFolder(const QString& text, const QString& foldedFolder)
{
    if (foldedFolder.isEmpty())
        return false;
    const QString t = foldedWindowsPath(text);
    qsizetype at = t.indexOf(foldedFolder);
    while (at >= 0) {
        const qsizetype end = at + foldedFolder.size();
        // The folder itself or a path inside it, not a longer name that begins alike.
        if (end == t.size() || t.at(end) == u'\\' || t.at(end) == u'"' || t.at(end) == u' ')
            return true;
        at = t.indexOf(foldedFolder, at + 1);
    }
    return false;
}

bool isRealFolder(const QString& path)
{
    struct stat info
    {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRealFile(const QString& path)
{
    struct stat info
    {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool sameName(const QString& a, const QString& b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

QString hiveFileOf(RegistryRoot root)
{
    return root == RegistryRoot::LocalMachine ? QStringLiteral("system.reg") : QStringLiteral("user.reg");
}

// Every file and folder below `folder` (not following links), or nullopt when there are more than `limit`.
std::optional<QStringList> contentsOf(const QString& folder, qsizetype limit)
{
    QStringList contents;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        contents << it.next();
        if (contents.size() > limit)
            return std::nullopt;
    }
    return contents;
}

} // namespace

QString Leftover::certaintyText() const
{
    return certain ? QStringLiteral("sure") : QStringLiteral("maybe");
}

LeftoverFinder::LeftoverFinder(WinePrefix prefix, ProgramTraces traces, WineMenuFolders menuFolders)
    : m_prefix(std::move(prefix)), m_traces(std::move(traces)), m_menus(m_prefix, std::move(menuFolders)),
      m_folders(m_prefix)
{}

QList<Leftover> LeftoverFinder::find()
{
    const HiveFile::ReadBatch batchOfReads;
    m_driveC = QFileInfo(m_prefix.path() + QStringLiteral("/drive_c")).canonicalFilePath();
    readListedEntries();
    narrowTraces();
    QList<Leftover> found;
    if (!m_driveC.isEmpty()) {
        findFolder(found);
        findShortcuts(found);
    }
    findKeys(found);
    findMenuEntries(found, found);
    return found;
}

void LeftoverFinder::readListedEntries()
{
    m_listed.clear();
    RegistryAccess reg(m_prefix);
    for (const ProgramScan::Source& source : ProgramScan::uninstallSources(m_prefix)) {
        reg.RootKey(source.root);
        QStringList names;
        if (reg.OpenKeyReadOnly(source.key))
            reg.GetKeyNames(names);
        reg.CloseKey();
        for (const QString& name : std::as_const(names)) {
            const QString keyPath = source.key + u'\\' + name;
            if (source.root == m_traces.root && keyPath.compare(m_traces.keyPath, Qt::CaseInsensitive) == 0)
                continue; // the removed entry itself, when its uninstaller left it
            if (!reg.OpenKeyReadOnly(keyPath))
                continue;
            const auto text = [&reg](const QString& valueName) {
                return entryText(reg, valueName);
            };
            ListedEntry entry;
            entry.name = text(ValueName::DisplayName);
            entry.entryName = name;
            entry.publisher = text(ValueName::Publisher);
            ProgramFolder::Facts facts;
            facts.installLocation = text(ValueName::InstallLocation);
            facts.uninstallString = text(ValueName::UninstallString);
            facts.displayIcon = text(ValueName::DisplayIcon);
            facts.view = source.view;
            reg.CloseKey();
            // Every place the entry names counts, not only the one its size would be taken from: a
            // shared folder is one that any of them lies in.
            const ProgramFolder::Candidates places = m_folders.candidates(facts);
            for (const QString& place : {places.installLocation, places.uninstallerFolder, places.iconFolder}) {
                if (place.isEmpty())
                    continue;
                entry.folders << place;
                if (const auto windows = windowsPathOf(m_prefix, place))
                    entry.windowsFolders << *windows;
            }
            entry.uninstallerFile = places.uninstallerFile;
            m_listed << entry;
        }
    }
}

void LeftoverFinder::narrowTraces()
{
    if (!m_traces.folder.isEmpty() &&
        (m_folders.allowedFolder(m_traces.folder).isEmpty() || holdsListedEntry(m_traces.folder))) {
        m_traces.folder.clear();
        m_traces.folderWindows.clear();
    }
    const QString uninstaller = m_traces.uninstaller;
    const bool sharedUninstaller =
        !uninstaller.isEmpty() && (holdsListedEntry(QFileInfo(uninstaller).path()) ||
                                   std::any_of(m_listed.cbegin(), m_listed.cend(), [&](const ListedEntry& entry) {
                                       return entry.uninstallerFile == uninstaller;
                                   }));
    if (sharedUninstaller)
        m_traces.uninstallerWindows.clear();
    m_formerShortcuts.clear();
    for (const PrefixShortcut& shortcut : std::as_const(m_traces.shortcuts)) {
        if (m_traces.owns(shortcut) && !inListedFolder(shortcut.target))
            m_formerShortcuts << shortcut;
    }
}

bool LeftoverFinder::inListedFolder(const QString& windowsPath) const
{
    return std::any_of(m_listed.cbegin(), m_listed.cend(), [&](const ListedEntry& entry) {
        return std::any_of(entry.windowsFolders.cbegin(), entry.windowsFolders.cend(),
                           [&](const QString& folder) { return isInsideWindowsFolder(windowsPath, folder); });
    });
}

bool LeftoverFinder::isNamedByListedEntry(const QString& keyName) const
{
    return std::any_of(m_listed.cbegin(), m_listed.cend(), [&](const ListedEntry& entry) {
        return sameName(keyName, entry.name) || sameName(keyName, entry.entryName) ||
               sameName(keyName, entry.publisher);
    });
}

bool LeftoverFinder::holdsListedEntry(const QString& hostFolder) const
{
    return std::any_of(m_listed.cbegin(), m_listed.cend(), [&](const ListedEntry& entry) {
        return std::any_of(entry.folders.cbegin(), entry.folders.cend(), [&](const QString& place) {
            return isInsideFolder(place, hostFolder) || isInsideFolder(hostFolder, place);
        });
    });
}

bool LeftoverFinder::publisherHasOtherProducts() const
{
    return std::any_of(m_listed.cbegin(), m_listed.cend(),
                       [&](const ListedEntry& entry) { return sameName(entry.publisher, m_traces.publisher); });
}

void LeftoverFinder::findFolder(QList<Leftover>& found)
{
    const QString folder = m_traces.folder;
    if (folder.isEmpty() || !isRealFolder(folder) || !isInsideFolder(folder, m_driveC) || folder == m_driveC ||
        m_folders.allowedFolder(folder).isEmpty() || holdsListedEntry(folder))
        return;
    Leftover leftover;
    leftover.kind = Leftover::Kind::Folder;
    leftover.hostPath = folder;
    leftover.reason = m_traces.folderReason + QStringLiteral(", and it is still there");
    // Programs put shared parts under Common Files: only the entry's own word makes such a folder its.
    const bool common = folder.contains(QStringLiteral("/common files/"), Qt::CaseInsensitive);
    leftover.certain = !common || m_traces.folderFromInstallLocation;
    if (!leftover.certain)
        leftover.reason += QStringLiteral("; it lies under Common Files, where programs share parts");

    // "Program Files\<Publisher>\<Product>": the publisher's folder goes too when it holds nothing else.
    const QString parent = QFileInfo(folder).path();
    if (sameName(QFileInfo(parent).fileName(), m_traces.publisher) && isRealFolder(parent) &&
        !m_folders.allowedFolder(parent).isEmpty() && !holdsListedEntry(parent) &&
        QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).size() == 1) {
        leftover.hostPath = parent;
        leftover.reason += QStringLiteral("; its publisher's folder holds nothing else");
    }
    leftover.shown = windowsPathOf(m_prefix, leftover.hostPath).value_or(leftover.hostPath);
    found << leftover;
}

void LeftoverFinder::findShortcuts(QList<Leftover>& found) const
{
    const QStringList roots = shortcutFolders(m_prefix);
    const auto rootOf = [&roots](const QString& path) -> QString {
        for (const QString& root : roots) {
            if (isInsideFolder(path, root))
                return root;
        }
        return QString();
    };
    const auto coveredByFound = [&found](const QString& path) {
        return std::any_of(found.cbegin(), found.cend(), [&](const Leftover& l) {
            return !l.hostPath.isEmpty() && isInsideFolder(path, l.hostPath);
        });
    };

    // The program's shortcuts: those that point into its folder or at its uninstaller now, and those
    // that did so before it was uninstalled.
    QSet<QString> shortcutFiles;
    for (const PrefixShortcut& shortcut : prefixShortcuts(m_prefix)) {
        if (m_traces.owns(shortcut) && !inListedFolder(shortcut.target))
            shortcutFiles.insert(shortcut.hostPath);
    }
    QSet<QString> formerFolders;
    for (const PrefixShortcut& shortcut : std::as_const(m_formerShortcuts)) {
        if (isRealFile(shortcut.hostPath))
            shortcutFiles.insert(shortcut.hostPath);
        formerFolders.insert(QFileInfo(shortcut.hostPath).path());
    }

    // A Start Menu folder whose every file is one of them goes whole, as far up as that holds; the
    // programs folder and the desktop themselves never do.
    QSet<QString> takenFolders;
    QStringList candidates = formerFolders.values();
    for (const QString& file : std::as_const(shortcutFiles))
        candidates << QFileInfo(file).path();
    for (QString folder : std::as_const(candidates)) {
        const QString root = rootOf(folder);
        QString taken;
        while (!root.isEmpty() && folder != root && isInsideFolder(folder, root) && isRealFolder(folder) &&
               !isShellFolder(folder, root)) {
            const auto contents = contentsOf(folder, 1000);
            if (!contents)
                break;
            const bool onlyTheirs = std::all_of(contents->cbegin(), contents->cend(), [&](const QString& path) {
                return shortcutFiles.contains(path) || isRealFolder(path);
            });
            if (!onlyTheirs)
                break;
            taken = folder;
            folder = QFileInfo(folder).path();
        }
        if (!taken.isEmpty())
            takenFolders.insert(taken);
    }
    // The outermost folders only.
    QStringList folders = takenFolders.values();
    std::sort(folders.begin(), folders.end());
    QStringList outermost;
    for (const QString& folder : std::as_const(folders)) {
        if (outermost.isEmpty() || !isInsideFolder(folder, outermost.last()))
            outermost << folder;
    }
    QStringList files = shortcutFiles.values();
    std::sort(files.begin(), files.end());
    const auto add = [&](const QStringList& paths, Leftover::Kind kind, const QString& reason) {
        for (const QString& path : paths) {
            if (coveredByFound(path))
                continue;
            Leftover leftover;
            leftover.kind = kind;
            leftover.hostPath = path;
            leftover.shown = windowsPathOf(m_prefix, path).value_or(path);
            leftover.reason = reason;
            leftover.certain = true;
            found << leftover;
        }
    };
    add(outermost, Leftover::Kind::Folder,
        QStringLiteral("a folder of shortcuts that holds nothing but the program's"));
    add(files, Leftover::Kind::File, QStringLiteral("a shortcut to the program's folder or its uninstaller"));
}

bool LeftoverFinder::valuesNameFolder(const QStringList& texts, const QString& windowsFolder) const
{
    const QString folder = foldedWindowsPath(windowsFolder);
    return std::any_of(texts.cbegin(), texts.cend(),
                       [&](const QString& text) { return namesWindowsFolder(text, folder); });
}

void LeftoverFinder::findKeys(QList<Leftover>& found) const
{
    RegistryAccess reg(m_prefix);
    // The texts of every value of a key and its subkeys, walked without recursion and bounded.
    const auto textsUnder = [&reg](const QString& key) {
        QStringList texts;
        QStringList pending{key};
        int looked = 0;
        while (!pending.isEmpty() && looked < MaxValuesLooked) {
            const QString path = pending.takeLast();
            if (!reg.OpenKeyReadOnly(path))
                continue;
            QStringList names;
            reg.GetValueNames(names);
            for (const QString& name : std::as_const(names)) {
                if (++looked > MaxValuesLooked)
                    break;
                const auto value = reg.readValue(name);
                if (value && (value->type == RegType::Sz || value->type == RegType::ExpandSz))
                    texts << value->toText();
            }
            QStringList subkeys;
            reg.GetKeyNames(subkeys);
            reg.CloseKey();
            for (const QString& subkey : std::as_const(subkeys))
                pending << path + u'\\' + subkey;
        }
        return texts;
    };
    const auto namesAnotherFolder = [&](const QStringList& texts) {
        return std::any_of(m_listed.cbegin(), m_listed.cend(), [&](const ListedEntry& entry) {
            return std::any_of(entry.folders.cbegin(), entry.folders.cend(), [&](const QString& place) {
                const auto windows = windowsPathOf(m_prefix, place);
                return windows && valuesNameFolder(texts, *windows);
            });
        });
    };
    const auto productName = [this](const QString& keyName) {
        return sameName(keyName, m_traces.name) || sameName(keyName, m_traces.entryName);
    };

    for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
        reg.RootKey(root);
        for (const QString& software : {QStringLiteral("Software"), QStringLiteral("Software\\Wow6432Node")}) {
            QStringList topNames;
            if (!reg.OpenKeyReadOnly(software))
                continue;
            reg.GetKeyNames(topNames);
            reg.CloseKey();
            const auto add = [&](const QString& key, const QString& reason, bool certain) {
                Leftover leftover;
                leftover.kind = Leftover::Kind::Key;
                leftover.hive = hiveFileOf(root);
                leftover.key = key;
                leftover.shown = rootName(root) + u'\\' + key;
                leftover.reason = reason;
                leftover.certain = certain;
                found << leftover;
            };

            for (const QString& top : std::as_const(topNames)) {
                if (systemKeys.contains(top, Qt::CaseInsensitive))
                    continue;
                const QString topKey = software + u'\\' + top;

                if (sameName(top, m_traces.publisher)) {
                    // The publisher's key: its products are the subkeys named like the entry, or whose values
                    // name the program's folder.
                    QStringList products;
                    if (!reg.OpenKeyReadOnly(topKey))
                        continue;
                    reg.GetKeyNames(products);
                    QStringList topValues;
                    reg.GetValueNames(topValues);
                    reg.CloseKey();
                    QStringList theirs;
                    QStringList reasons;
                    for (const QString& product : std::as_const(products)) {
                        const QString key = topKey + u'\\' + product;
                        const QStringList texts = textsUnder(key);
                        if (namesAnotherFolder(texts))
                            continue;
                        if (productName(product) && !isNamedByListedEntry(product)) {
                            theirs << key;
                            reasons << QStringLiteral("named like the program, under its publisher's key");
                        } else if (!m_traces.folderWindows.isEmpty() &&
                                   valuesNameFolder(texts, m_traces.folderWindows) && !isNamedByListedEntry(product)) {
                            theirs << key;
                            reasons << QStringLiteral("under its publisher's key, and it names the program's folder");
                        }
                    }
                    if (!theirs.isEmpty() && theirs.size() == products.size() && topValues.isEmpty() &&
                        !publisherHasOtherProducts()) {
                        add(topKey, QStringLiteral("the publisher's key, holding nothing but the program's"), true);
                    } else {
                        for (qsizetype i = 0; i < theirs.size(); ++i)
                            add(theirs[i], reasons[i], true);
                    }
                    continue;
                }

                if (productName(top) && !isNamedByListedEntry(top)) {
                    const QStringList texts = textsUnder(topKey);
                    if (namesAnotherFolder(texts))
                        continue;
                    const bool namesFolder =
                        !m_traces.folderWindows.isEmpty() && valuesNameFolder(texts, m_traces.folderWindows);
                    add(topKey,
                        namesFolder
                            ? QStringLiteral("named like the program, and it names the program's folder")
                            : QStringLiteral("named like the program; nothing in it names the program's folder"),
                        namesFolder);
                }
            }
        }
    }
}

void LeftoverFinder::findMenuEntries(QList<Leftover>& found, const QList<Leftover>& shortcuts)
{
    m_menus.scan();
    QSet<QString> links;
    for (const PrefixShortcut& shortcut : std::as_const(m_formerShortcuts))
        links.insert(foldedWindowsPath(shortcut.windowsPath));
    QStringList takenFolders;
    for (const Leftover& leftover : shortcuts) {
        if (leftover.kind == Leftover::Kind::File)
            links.insert(foldedWindowsPath(leftover.shown));
        else if (leftover.kind == Leftover::Kind::Folder)
            takenFolders << foldedWindowsPath(leftover.shown);
    }
    const QList<StaleMenuEntry>& entries = m_menus.entries();
    QList<Leftover> menuEntries;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString link = foldedWindowsPath(entries[i].linkPath);
        const bool inTakenFolder = std::any_of(takenFolders.cbegin(), takenFolders.cend(),
                                               [&](const QString& folder) { return link.startsWith(folder + u'\\'); });
        if (!links.contains(link) && !inTakenFolder)
            continue;
        Leftover leftover;
        leftover.kind = Leftover::Kind::MenuEntry;
        leftover.menuEntry = int(i);
        leftover.shown = entries[i].name;
        leftover.reason =
            QStringLiteral("Wine made it for the program's shortcut %1").arg(entries[i].linkPath.section(u'\\', -1));
        leftover.certain = true;
        menuEntries << leftover;
    }
    found << menuEntries;
}
