#include "inventory/DroppedShortcut.h"

#include "desktop/WineDesktopEntry.h"
#include "formats/ShellLink.h"
#include "paths/WindowsPaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString LinkExtension = QStringLiteral(".lnk");
const QString DesktopExtension = QStringLiteral(".desktop");

DroppedShortcut fromLink(const QString& name, const QString& linkFile)
{
    ShellLinkInfo info;
    info.LinkFile = linkFile;
    ReadShellLink(info);
    return {name, info.LinkTarget, info.LinkIconLocation.isEmpty() ? info.LinkTarget : info.LinkIconLocation};
}

std::optional<DroppedShortcut> fromDesktopEntry(const WinePrefix& prefix, const QString& name, const QString& path)
{
    const std::optional<WineDesktopEntry> entry = WineDesktopEntry::read(path);
    if (!entry || !entry->runsIn(prefix.path()))
        return std::nullopt;
    const QString& windowsPath = entry->windowsPath;
    if (windowsPath.endsWith(LinkExtension, Qt::CaseInsensitive)) {
        const QString linkFile = WindowsPaths(prefix).hostPath(windowsPath);
        if (linkFile.isEmpty() || !WindowsPaths::isHostFile(linkFile))
            return std::nullopt;
        return fromLink(name, linkFile);
    }
    return DroppedShortcut{name, windowsPath, windowsPath};
}

} // namespace

std::optional<DroppedShortcut> readDroppedShortcut(const WinePrefix& prefix, const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    if (fileName.endsWith(LinkExtension))
        return fromLink(fileName.chopped(LinkExtension.size()), path);
    if (fileName.endsWith(DesktopExtension) && fileName.size() > DesktopExtension.size())
        return fromDesktopEntry(prefix, fileName.chopped(DesktopExtension.size()), path);
    return std::nullopt;
}
