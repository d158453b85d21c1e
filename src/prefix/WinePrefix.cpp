#include "prefix/WinePrefix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

WinePrefix::WinePrefix(QString path) : m_path(std::move(path))
{
    // Wine takes a relative WINEPREFIX from its own working folder, which is not ours: the folder
    // is fixed here, once, before anything hands it on.
    if (!m_path.isEmpty() && QDir::isRelativePath(m_path))
        m_path = QDir::cleanPath(QDir::current().absoluteFilePath(m_path));
    while (m_path.size() > 1 && m_path.endsWith(QLatin1Char('/')))
        m_path.chop(1);
}

WinePrefix WinePrefix::fromEnvironment()
{
    const QString fromEnv = qEnvironmentVariable("WINEPREFIX");
    if (!fromEnv.isEmpty())
        return WinePrefix(fromEnv);
    return WinePrefix(QDir::homePath() + QStringLiteral("/.wine"));
}

QString WinePrefix::displayPath() const
{
    const QString home = QDir::homePath();
    if (home.size() > 1 && (m_path == home || m_path.startsWith(home + QLatin1Char('/'))))
        return QLatin1Char('~') + m_path.mid(home.size());
    return m_path;
}

QString WinePrefix::systemHivePath() const
{
    return m_path + QStringLiteral("/system.reg");
}

QString WinePrefix::userHivePath() const
{
    return m_path + QStringLiteral("/user.reg");
}

QString WinePrefix::architecture() const
{
    QFile system(systemHivePath());
    if (!QFileInfo::exists(system.fileName()))
        return QStringLiteral("win64");
    // A FIFO in its place would block the open: only a regular file is read.
    if (QFileInfo(system).isFile() && system.open(QIODevice::ReadOnly)) {
        for (int i = 0; i < 8 && !system.atEnd(); ++i) {
            const QByteArray line = system.readLine(256).trimmed();
            if (line == "#arch=win64")
                return QStringLiteral("win64");
            if (line == "#arch=win32")
                break;
        }
    }
    return QStringLiteral("win32");
}
