#include "LargeBuffer.h"

#include <cstdint>
#include <sys/mman.h>

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

} // namespace LargeBuffer
