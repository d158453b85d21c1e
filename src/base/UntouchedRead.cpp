#include "base/UntouchedRead.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool openUntouched(QFile& file, const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = ::open(name.constData(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) // O_NOATIME is only for the file's owner
        fd = ::open(name.constData(), flags);
    if (fd < 0)
        return false;
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
