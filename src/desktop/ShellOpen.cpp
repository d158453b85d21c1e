#include "desktop/ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

ShellOpen* s_replacement = nullptr;

} // namespace

ShellOpen::~ShellOpen() = default;

ShellOpen& ShellOpen::instance()
{
    static ShellOpen desktop;
    return s_replacement ? *s_replacement : desktop;
}

void ShellOpen::setInstance(ShellOpen* shell)
{
    s_replacement = shell;
}

QUrl ShellOpen::webAddress(const QString& target)
{
    const QString text = target.trimmed();
    if (text.startsWith(QLatin1String("www."), Qt::CaseInsensitive)) {
        const QUrl url(QStringLiteral("http://") + text);
        return url.isValid() && !url.host().isEmpty() ? url : QUrl();
    }
    const QUrl url(text);
    if (!url.isValid())
        return {};
    const QString scheme = url.scheme(); // QUrl lower-cases the scheme
    if (scheme == QLatin1String("mailto"))
        return url.path().isEmpty() ? QUrl() : url;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp"))
        return url.host().isEmpty() ? QUrl() : url;
    return {};
}

bool ShellOpen::open(const QString& target)
{
    const QString text = target.trimmed();
    if (text.isEmpty())
        return false;
    if (const QUrl url = webAddress(text); !url.isEmpty())
        return openUrl(url);
    // A Windows drive path ("C:\...") has no host meaning, so only paths that exist here are documents.
    if (const QFileInfo info(text); info.exists())
        return openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
    return openOther(text);
}

bool ShellOpen::openOther(const QString& /*target*/)
{
    return false;
}

bool ShellOpen::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}
