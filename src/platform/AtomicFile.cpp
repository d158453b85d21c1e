#include "AtomicFile.h"

#include "KestrinError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

[[noreturn]] void fail(const QString& path, int error)
{
    throw KestrinError(QStringLiteral("Could not save %1: %2. The file was left as it was.")
                           .arg(path, QString::fromLocal8Bit(std::strerror(error))));
}

mode_t defaultMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

void replace(const QString& path, QByteArrayView data, const std::function<void()>& beforeRename)
{
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString resolved = info.canonicalFilePath();
        if (!resolved.isEmpty())
            target = resolved;
    }
    const QByteArray targetName = QFile::encodeName(target);
    struct stat st;
    const mode_t mode = ::stat(targetName.constData(), &st) == 0 ? (st.st_mode & 07777) : defaultMode();

    const QFileInfo targetInfo(target);
    QByteArray tempName = QFile::encodeName(targetInfo.absolutePath() + QLatin1Char('/') + QLatin1Char('.') +
                                            targetInfo.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        fail(target, errno);

    auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(tempName.constData());
        fail(target, error);
    };
    const char* p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            abandon(errno);
        }
        p += n;
        left -= n;
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        abandon(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tempName.constData());
        fail(target, error);
    }
    if (beforeRename) {
        try {
            beforeRename();
        } catch (...) {
            ::unlink(tempName.constData());
            throw;
        }
    }
    if (::rename(tempName.constData(), targetName.constData()) != 0) {
        const int error = errno;
        ::unlink(tempName.constData());
        fail(target, error);
    }
    // The rename itself must reach the disk too.
    const int dirFd =
        ::open(QFile::encodeName(targetInfo.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace AtomicFile
