#include "details/LinkOpen.h"

#include "desktop/ShellOpen.h"
#include "paths/WindowsPaths.h"
#include "wine/CommandLauncher.h"

#include <QUrl>

QString runLineFor(const QString& windowsPath)
{
    QString quoted = u'"' + windowsPath + u'"';
    const QString lower = windowsPath.toLower();
    for (const char* extension : {".exe", ".com", ".bat", ".cmd"}) {
        if (lower.endsWith(QLatin1String(extension)))
            return quoted;
    }
    // An installer package is a document whose program is Windows' own installer.
    if (lower.endsWith(QLatin1String(".msi")))
        return QStringLiteral("msiexec.exe /i ") + quoted;
    return {};
}

bool openInPrefix(const WinePrefix& prefix, const QString& target)
{
    QString text = target.trimmed();
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"'))
        text = text.mid(1, text.size() - 2).trimmed();
    if (text.isEmpty())
        return false;
    if (!ShellOpen::webAddress(text).isEmpty())
        return ShellOpen::instance().open(text);
    if (!WindowsPaths::parse(text))
        return false;
    const QString host = WindowsPaths(prefix).hostPath(text);
    if (host.isEmpty())
        return false;
    if (WindowsPaths::isHostFile(host)) {
        if (const QString line = runLineFor(text); !line.isEmpty())
            return CommandLauncher::instance().start(prefix.path(), line);
    }
    return ShellOpen::instance().open(host);
}
