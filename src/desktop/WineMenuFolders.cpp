#include "desktop/WineMenuFolders.h"

#include "base/UntouchedRead.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

QString xdgFolder(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules ignore a relative path.
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : fallback;
}

// XDG_DESKTOP_DIR of user-dirs.dirs, where "$HOME" stands for the home folder; empty when unset.
QString desktopFromUserDirs(const QString& configHome, const QString& home)
{
    QFile file;
    if (!openUntouched(file, configHome + QStringLiteral("/user-dirs.dirs")))
        return {};
    // A few lines in practice; a file much larger is no settings file.
    constexpr qint64 MaxBytes = 1 << 16;
    static const QRegularExpression line(QStringLiteral("^\\s*XDG_DESKTOP_DIR\\s*=\\s*\"([^\"]*)\""));
    const QList<QByteArray> lines = file.read(MaxBytes).split('\n');
    for (const QByteArray& text : lines) {
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
        if (!match.hasMatch())
            continue;
        QString path = match.captured(1);
        if (path.startsWith(QStringLiteral("$HOME")))
            path = home + path.mid(5);
        return QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QString();
    }
    return {};
}

} // namespace

WineMenuFolders WineMenuFolders::fromEnvironment()
{
    const QString home = QDir::homePath();
    WineMenuFolders folders;
    folders.dataHome = xdgFolder("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    folders.configHome = xdgFolder("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    if (const QString desktop = desktopFromUserDirs(folders.configHome, home); !desktop.isEmpty())
        folders.desktops << desktop;
    folders.desktops << home + QStringLiteral("/Desktop") << home;
    folders.desktops.removeDuplicates();
    return folders;
}
