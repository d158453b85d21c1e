#include "WineServer.h"

#include <QFile>

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

QStringList lockFileCandidates(const QString& prefixPath)
{
    struct stat st;
    if (::stat(QFile::encodeName(prefixPath).constData(), &st) != 0)
        return {};
    const QString serverDir =
        QStringLiteral("server-") + hexNumber(quint64(st.st_dev)) + QLatin1Char('-') + hexNumber(quint64(st.st_ino));
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

bool isRunning(const QString& prefixPath)
{
    const QStringList locks = lockFileCandidates(prefixPath);
    for (const QString& lock : locks) {
        if (lockIsHeld(lock))
            return true;
    }
    return false;
}

} // namespace WineServer
