#pragma once

#include <QByteArray>

// Room for the whole text of a hive file. Faulting in tens of megabytes one small page at a time
// costs more than reading them, so the buffer asks for huge pages where the system offers them.
namespace LargeBuffer {

// An empty array that holds `capacity` bytes without growing.
QByteArray withCapacity(qsizetype capacity);

} // namespace LargeBuffer
