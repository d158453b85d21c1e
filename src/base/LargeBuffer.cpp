#include "base/LargeBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace LargeBuffer {

QByteArray withCapacity(qsizetype capacity)
{
    QByteArray bytes;
    bytes.reserve(capacity);
    // Only whole huge pages inside the buffer; advice that is refused changes nothing.
    constexpr std::uintptr_t hugePage = std::uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(bytes.constData());
    const std::uintptr_t first = (begin + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t last = (begin + std::uintptr_t(capacity)) & ~(hugePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    return bytes;
}

bool readToEnd(int fd, qsizetype sizeHint, QByteArray& bytes)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    bytes = withCapacity(sizeHint + 1);
    for (;;) {
        if (bytes.size() == bytes.capacity())
            bytes.reserve(bytes.size() * 2 + 4096); // it grew since we looked
        const qsizetype had = bytes.size();
        bytes.resize(bytes.capacity());
        const ssize_t got = ::read(fd, bytes.data() + had, size_t(bytes.size() - had));
        bytes.resize(had + std::max<ssize_t>(got, 0));
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR)
            return false;
    }
}

} // namespace LargeBuffer
