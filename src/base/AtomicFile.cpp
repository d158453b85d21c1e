#include "base/AtomicFile.h"

#include "base/KestrinError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
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

// Where replace() writes: beside the file itself, through a symbolic link.
QString resolvedTarget(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        QString resolved = info.canonicalFilePath();
        if (!resolved.isEmpty())
            return resolved;
    }
    return path;
}

const char temporarySuffix[] = ".XXXXXX";

} // namespace

int removeStaleTemporaries(const QString& path)
{
    const QFileInfo target(resolvedTarget(path));
    const QString prefix = QLatin1Char('.') + target.fileName() + QLatin1Char('.');
    const qsizetype randomLength = qsizetype(sizeof(temporarySuffix)) - 2;
    QDir folder(target.absolutePath());
    folder.setNameFilters({prefix + QStringLiteral("??????")});
    folder.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    int removed = 0;
    const QStringList names = folder.entryList();
    for (const QString& name : names) {
        // mkostemp() fills the X's with letters and digits; nothing else is ours.
        const QStringView random = QStringView(name).sliced(prefix.size());
        const bool ours = random.size() == randomLength && std::all_of(random.begin(), random.end(), [](QChar c) {
                              return c.unicode() < 128 && c.isLetterOrNumber();
                          });
        if (ours && ::unlink(QFile::encodeName(folder.filePath(name)).constData()) == 0)
            ++removed;
    }
    return removed;
}

void replace(const QString& path, QByteArrayView data, const std::function<void()>& beforeRename)
{
    const QString target = resolvedTarget(path);
    const QByteArray targetName = QFile::encodeName(target);
    struct stat st;
    const mode_t mode = ::stat(targetName.constData(), &st) == 0 ? (st.st_mode & 07777) : defaultMode();

    const QFileInfo targetInfo(target);
    QByteArray tempName = QFile::encodeName(targetInfo.absolutePath() + QLatin1Char('/') + QLatin1Char('.') +
                                            targetInfo.fileName() + QLatin1String(temporarySuffix));
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
