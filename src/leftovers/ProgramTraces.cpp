#include "leftovers/ProgramTraces.h"

#include "base/KestrinError.h"
#include "formats/ShellLink.h"
#include "inventory/ProgramFolder.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "paths/HostToWindowsPath.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

constexpr qint64 MaxShortcutSize = 1 << 20;

// No component below `top` is a symbolic link, so what lies there is the prefix's own.
bool reachedWithoutLinks(const QString& top, const QString& path)
{
    if (!isInsideFolder(path, top))
        return false;
    QString current = top;
    const QStringList parts = path.mid(top.size()).split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        current += u'/' + part;
        struct stat info
        {};
        if (::lstat(QFile::encodeName(current).constData(), &info) != 0 || S_ISLNK(info.st_mode))
            return false;
    }
    return true;
}

QString reasonFor(ProgramFolder::Source source)
{
    switch (source) {
    case ProgramFolder::Source::InstallLocation:
        return QStringLiteral("the program's entry named it as its install folder");
    case ProgramFolder::Source::Uninstaller:
        return QStringLiteral("the program's uninstaller was in it");
    case ProgramFolder::Source::Icon:
        return QStringLiteral("the program's icon was in it");
    case ProgramFolder::Source::None:
        break;
    }
    return QString();
}

} // namespace

QString entryText(RegistryAccess& reg, const QString& name)
{
    const auto value = reg.readValue(name);
    if (!value || (value->type != RegType::Sz && value->type != RegType::ExpandSz))
        return QString();
    return value->toText().trimmed();
}

QString foldedWindowsPath(QString path)
{
    path.replace(u'/', u'\\');
    while (path.endsWith(u'\\'))
        path.chop(1);
    return path.toCaseFolded();
}

bool isInsideFolder(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + u'/'));
}

bool isInsideWindowsFolder(const QString& path, const QString& folder)
{
    const QString p = foldedWindowsPath(path);
    const QString f = foldedWindowsPath(folder);
    return !f.isEmpty() && (p == f || p.startsWith(f + u'\\'));
}

QStringList shortcutFolders(const WinePrefix& prefix)
{
    const QString driveC = QFileInfo(prefix.path() + QStringLiteral("/drive_c")).canonicalFilePath();
    if (driveC.isEmpty())
        return {};
    // Wine's layout since 5.x, and the older one that upgraded prefixes may still have.
    QStringList candidates{driveC + QStringLiteral("/ProgramData/Microsoft/Windows/Start Menu/Programs")};
    const QStringList users = QDir(driveC + QStringLiteral("/users")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& user : users) {
        const QString profile = driveC + QStringLiteral("/users/") + user;
        candidates << profile + QStringLiteral("/AppData/Roaming/Microsoft/Windows/Start Menu/Programs")
                   << profile + QStringLiteral("/Start Menu/Programs") << profile + QStringLiteral("/Desktop");
    }
    QStringList folders;
    for (const QString& candidate : std::as_const(candidates)) {
        if (reachedWithoutLinks(driveC, candidate) && QFileInfo(candidate).isDir())
            folders << candidate;
    }
    return folders;
}

QList<PrefixShortcut> prefixShortcuts(const WinePrefix& prefix)
{
    QList<PrefixShortcut> shortcuts;
    for (const QString& folder : shortcutFolders(prefix)) {
        // Links are neither followed into nor read: what they reach is not the prefix's.
        QDirIterator it(folder, {QStringLiteral("*.lnk")}, QDir::Files | QDir::NoSymLinks | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo file = it.nextFileInfo();
            if (!file.isFile() || file.isSymLink() || file.size() > MaxShortcutSize)
                continue;
            ShellLinkInfo link;
            link.LinkFile = file.filePath();
            if (!ReadShellLink(link) || link.LinkTarget.isEmpty())
                continue;
            PrefixShortcut shortcut;
            shortcut.hostPath = file.filePath();
            shortcut.windowsPath = windowsPathOf(prefix, file.filePath()).value_or(QString());
            shortcut.target = link.LinkTarget;
            shortcuts << shortcut;
        }
    }
    return shortcuts;
}

ProgramTraces ProgramTraces::read(const WinePrefix& prefix, RegistryRoot root, const QString& keyPath,
                                  const QString& name, PathView view)
{
    ProgramTraces traces;
    traces.name = name;
    traces.root = root;
    traces.keyPath = keyPath;
    traces.entryName = keyPath.section(u'\\', -1);

    ProgramFolder::Facts facts;
    facts.view = view;
    try {
        RegistryAccess reg(prefix);
        reg.RootKey(root);
        if (!reg.OpenKeyReadOnly(keyPath))
            return traces;
        traces.publisher = entryText(reg, ValueName::Publisher);
        facts.installLocation = entryText(reg, ValueName::InstallLocation);
        facts.uninstallString = entryText(reg, ValueName::UninstallString);
        facts.displayIcon = entryText(reg, ValueName::DisplayIcon);
        reg.CloseKey();
    } catch (const KestrinError&) {
        return traces; // a hive that cannot be read records nothing to go by
    }

    ProgramFolder folders(prefix);
    const ProgramFolder::Candidates candidates = folders.candidates(facts);
    traces.uninstaller = candidates.uninstallerFile;
    // A shortcut to an uninstaller in a folder of all programs (msiexec, rundll32) says nothing of whose it is.
    if (!traces.uninstaller.isEmpty() && !candidates.uninstallerFolder.isEmpty())
        traces.uninstallerWindows = windowsPathOf(prefix, traces.uninstaller).value_or(QString());
    // Whether another entry shares the folder is judged by the finder, against the list as it is then.
    const ProgramFolder::Result found = ProgramFolder::choose(candidates, ProgramFolder::Claims({candidates}));
    traces.folder = found.hostPath;
    if (!found.hostPath.isEmpty())
        traces.folderWindows = windowsPathOf(prefix, found.hostPath).value_or(QString());
    traces.folderReason = reasonFor(found.source);
    traces.folderFromInstallLocation = found.source == ProgramFolder::Source::InstallLocation;

    for (const PrefixShortcut& shortcut : prefixShortcuts(prefix)) {
        if (traces.owns(shortcut))
            traces.shortcuts << shortcut;
    }
    return traces;
}

bool ProgramTraces::owns(const PrefixShortcut& shortcut) const
{
    if (!folderWindows.isEmpty() && isInsideWindowsFolder(shortcut.target, folderWindows))
        return true;
    return !uninstallerWindows.isEmpty() && foldedWindowsPath(shortcut.target) == foldedWindowsPath(uninstallerWindows);
}
