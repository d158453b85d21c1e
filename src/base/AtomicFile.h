#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

namespace AtomicFile {

// Replaces the file at `path` (through a symbolic link, its target) with `data`: a temporary
// file in the same folder, flushed to disk, then renamed over it, keeping the old file's mode.
// On failure the old file stays as it was and a KestrinError names the file and the cause.
// `beforeRename` runs once the new text is on disk; if it throws, the old file is kept.
void replace(const QString& path, QByteArrayView data, const std::function<void()>& beforeRename = {});

// Removes the temporary files that replace() of `path` leaves when it is killed. Call it only
// while no other process can be replacing the file (under the lock that guards its writers).
// Returns how many were removed.
int removeStaleTemporaries(const QString& path);

} // namespace AtomicFile
