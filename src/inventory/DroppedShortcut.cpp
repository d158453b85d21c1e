#include "inventory/DroppedShortcut.h"

#include "platform/DesktopEntry.h"
#include "platform/ShellLink.h"
#include "platform/WindowsPaths.h"

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

bool isWineProgram(const QString& program)
{
    static const QStringList names{
        QStringLiteral("wine"),          QStringLiteral("wine64"),           QStringLiteral("wine-stable"),
        QStringLiteral("wine64-stable"), QStringLiteral("wine-development"), QStringLiteral("wine64-development")};
    return names.contains(QFileInfo(program).fileName());
}

bool samePrefix(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

std::optional<DroppedShortcut> fromDesktopEntry(const WinePrefix& prefix, const QString& name, const QString& path)
{
    const std::optional<DesktopEntry> entry = DesktopEntry::read(path);
    if (!entry)
        return std::nullopt;
    const QString group = QStringLiteral("Desktop Entry");
    const std::optional<QString> type = entry->value(group, QStringLiteral("Type"));
    const std::optional<QString> exec = entry->value(group, QStringLiteral("Exec"));
    if ((type && *type != u"Application") || !exec)
        return std::nullopt;
    const std::optional<QStringList> args = DesktopEntry::splitExec(*exec);
    if (!args || args->isEmpty())
        return std::nullopt;

    // Without an env prefix the entry runs in the prefix Wine chooses by default.
    QString entryPrefix = WinePrefix::fromEnvironment().path();
    qsizetype i = 0;
    if (QFileInfo(args->at(0)).fileName() == u"env") {
        for (i = 1; i < args->size() && args->at(i).contains(u'=') && !args->at(i).startsWith(u'-'); ++i) {
            const QString assignment = QStringLiteral("WINEPREFIX=");
            if (args->at(i).startsWith(assignment))
                entryPrefix = args->at(i).mid(assignment.size());
        }
    }
    if (i + 1 >= args->size() || !isWineProgram(args->at(i)) || !samePrefix(entryPrefix, prefix.path()))
        return std::nullopt;
    const QString windowsPath = args->at(i + 1);
    if (!WindowsPaths::parse(windowsPath))
        return std::nullopt;

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
