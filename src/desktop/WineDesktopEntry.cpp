#include "desktop/WineDesktopEntry.h"

#include "formats/DesktopEntry.h"
#include "paths/WindowsPaths.h"
#include "prefix/WinePrefix.h"

#include <QFileInfo>
#include <QStringList>

namespace {

bool isWineProgram(const QString& program)
{
    static const QStringList names{
        QStringLiteral("wine"),          QStringLiteral("wine64"),           QStringLiteral("wine-stable"),
        QStringLiteral("wine64-stable"), QStringLiteral("wine-development"), QStringLiteral("wine64-development")};
    return names.contains(QFileInfo(program).fileName());
}

} // namespace

bool WineDesktopEntry::runsIn(const QString& path) const
{
    const QString mine = QFileInfo(prefixPath).canonicalFilePath();
    return !mine.isEmpty() && mine == QFileInfo(path).canonicalFilePath();
}

std::optional<WineDesktopEntry> WineDesktopEntry::read(const QString& path)
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

    WineDesktopEntry result;
    // Without an env prefix the entry runs in the prefix Wine chooses by default.
    result.prefixPath = WinePrefix::fromEnvironment().path();
    qsizetype i = 0;
    if (QFileInfo(args->at(0)).fileName() == u"env") {
        for (i = 1; i < args->size() && args->at(i).contains(u'=') && !args->at(i).startsWith(u'-'); ++i) {
            const QString assignment = QStringLiteral("WINEPREFIX=");
            if (args->at(i).startsWith(assignment))
                result.prefixPath = args->at(i).mid(assignment.size());
        }
    }
    if (i + 1 >= args->size() || !isWineProgram(args->at(i)) || !WindowsPaths::parse(args->at(i + 1)))
        return std::nullopt;
    result.windowsPath = args->at(i + 1);
    result.name = entry->value(group, QStringLiteral("Name")).value_or(QString());
    result.icon = entry->value(group, QStringLiteral("Icon")).value_or(QString());
    return result;
}
