#pragma once

#include <QFile>
#include <QString>

// Opens a regular file for reading without changing its access time where the system allows it (the
// caller owns the file, as a prefix's files are): the access times of a program's files tell when the
// program was last used, and Kestrin reading an icon or a header is no use. Opens without blocking, so
// a FIFO is refused rather than waited on. False, `file` left closed, for anything but a regular file.
bool openUntouched(QFile& file, const QString& path);
