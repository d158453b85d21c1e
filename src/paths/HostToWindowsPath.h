#pragma once

#include "prefix/WinePrefix.h"

#include <QString>

#include <optional>

// The Windows path under which the prefix's programs see the existing host file or folder hostPath:
// the drive of <prefix>/dosdevices whose folder holds it, the longest such folder winning (so Z:,
// usually "/", only takes what no other drive reaches), then the rest of the path with "\" between
// the names as they are on disk. A path reached through a symbolic link is tried both as written and
// with the links resolved. Nullopt when no drive reaches it, the file does not exist, or one of its
// names cannot be a Windows name.
std::optional<QString> windowsPathOf(const WinePrefix& prefix, const QString& hostPath);
