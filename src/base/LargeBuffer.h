#pragma once

#include <QByteArray>

// Room for the whole text of a hive file. Faulting in tens of megabytes one small page at a time
// costs more than reading them, so the buffer asks for huge pages where the system offers them.
namespace LargeBuffer {

// An empty array that holds `capacity` bytes without growing.
QByteArray withCapacity(qsizetype capacity);

// Reads `fd` to its end into such a buffer sized for `sizeHint` bytes (it grows if the file did).
// Returns false with errno set on failure.
bool readToEnd(int fd, qsizetype sizeHint, QByteArray& bytes);

} // namespace LargeBuffer
