#include "prefix/WineServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace WineServer {

namespace {

QString hexNumber(quint64 v)
{
    // Wine prints the high half unpadded and the low half padded to eight digits when the
    // number does not fit in 32 bits.
    if (v >> 32)
        return QString::number(v >> 32, 16) + QStringLiteral("%1").arg(v & 0xFFFFFFFFu, 8, 16, QLatin1Char('0'));
    return QString::number(v, 16);
}

bool lockIsHeld(const QString& lockPath)
{
    const QByteArray path = QFile::encodeName(lockPath);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    const bool held = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

} // namespace

QString serverFolderName(const QString& prefixPath)
{
    struct stat st;
    if (::stat(QFile::encodeName(prefixPath).constData(), &st) != 0)
        return {};
    return QStringLiteral("server-") + hexNumber(quint64(st.st_dev)) + QLatin1Char('-') + hexNumber(quint64(st.st_ino));
}

QStringList lockFileCandidates(const QString& prefixPath)
{
    const QString serverDir = serverFolderName(prefixPath);
    if (serverDir.isEmpty())
        return {};
    const QString uid = QString::number(::getuid());

    QStringList parents{QStringLiteral("/tmp/.wine-") + uid,
                        QStringLiteral("/run/user/") + uid + QStringLiteral("/wine")};
    // Debian keeps a random folder's name in <prefix>/wineserver when /run/user/<uid> is missing.
    QFile nameFile(prefixPath + QStringLiteral("/wineserver"));
    if (nameFile.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromLocal8Bit(nameFile.read(256)).trimmed();
        if (!name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QStringLiteral("..")) {
            const QString tmp = qEnvironmentVariable("TMPDIR");
            if (!tmp.isEmpty())
                parents << tmp + QLatin1Char('/') + name;
            parents << QStringLiteral("/tmp/") + name;
        }
    }
    QStringList locks;
    for (const QString& parent : std::as_const(parents)) {
        const QString lock = parent + QLatin1Char('/') + serverDir + QStringLiteral("/lock");
        if (!locks.contains(lock))
            locks << lock;
    }
    return locks;
}

int serverProcessCount(const QString& prefixPath, const QString& procRoot)
{
    const QString serverDir = serverFolderName(prefixPath);
    if (serverDir.isEmpty())
        return 0;
    int count = 0;
    const QStringList pids = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        if (pid.isEmpty() || !pid.front().isDigit())
            continue;
        const QString process = procRoot + QLatin1Char('/') + pid;
        // Debian runs the server as wineserver64 or wineserver32.
        QFile comm(process + QStringLiteral("/comm"));
        if (!comm.open(QIODevice::ReadOnly) || !comm.read(64).startsWith("wineserver"))
            continue;
        // A server works in its own folder for its whole life.
        const QString cwd = QFileInfo(process + QStringLiteral("/cwd")).symLinkTarget();
        if (QFileInfo(cwd).fileName() == serverDir)
            ++count;
    }
    return count;
}

bool serverProcessFound(const QString& prefixPath, const QString& procRoot)
{
    return serverProcessCount(prefixPath, procRoot) > 0;
}

bool isRunning(const QString& prefixPath)
{
    const QStringList locks = lockFileCandidates(prefixPath);
    for (const QString& lock : locks) {
        if (lockIsHeld(lock))
            return true;
    }
    return serverProcessFound(prefixPath);
}

bool isReachable(const QString& prefixPath)
{
    const QStringList locks = lockFileCandidates(prefixPath);
    for (const QString& lock : locks) {
        if (lockIsHeld(lock) && QFileInfo::exists(QFileInfo(lock).dir().filePath(QStringLiteral("socket"))))
            return true;
    }
    return false;
}

} // namespace WineServer

WineRunningError::WineRunningError(const QString& prefixPath)
    : KestrinError(QStringLiteral("Wine is running in the prefix %1, and it would overwrite any change to its "
                                  "registry. Close the Windows programs of this prefix first, then try again.")
                       .arg(prefixPath)),
      m_prefixPath(prefixPath)
{}
