#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <optional>

// Measuring a program's folder on the host. Walks never follow symbolic links, never open anything but
// folders (so a FIFO or a device in the tree is only looked at), and keep their own stack, so a deep
// tree cannot exhaust the call stack. An entry that cannot be looked at (permission denied, removed
// meanwhile) is passed over and marks the result partial. `cancel`, when given, is read between the
// entries of a walk; once it is set the walk ends and gives nothing.
namespace FolderSize {

struct Measurement
{
    // As `du -sb` counts: the apparent size (st_size) of every file, folder (the top one included) and
    // link, each hard-linked file once; other kinds count nothing.
    qint64 bytes = 0;
    bool partial = false;  // some entries could not be looked at; bytes counts the others
    quint64 signature = 0; // as signature() gives it for the tree as this walk found it
    // The latest access of a program in the tree (see lastUse), invalid when there is none.
    QDateTime lastUse;
};

// The tree at `folder`, which must be a folder, not a link to one; nullopt when it is not, or on cancel.
//
// Last use: the latest access time of the regular files named "*.exe" (in any letter case) other than
// `leaveOut` (the uninstaller, named by any path to it), counting a file only when it was read more
// than five minutes after it was last written and after its inode last changed: an installer that has
// just written the files, and Wine's menu builder reading them for icons, leave no trace of use. On a
// file system mounted noatime no access time counts.
std::optional<Measurement> measure(const QString& folder, const QString& leaveOut = {},
                                   const std::atomic<bool>* cancel = nullptr);

// The signature and the last use, without the size: looks at folders and programs only. Running a
// program changes no folder, so a size kept with a signature still holds, while its last use is read anew.
std::optional<Measurement> glance(const QString& folder, const QString& leaveOut = {},
                                  const std::atomic<bool>* cancel = nullptr);

// A cheap fingerprint of the tree: a hash over the relative path, inode, modification and change time
// (to the nanosecond) of every folder in it. Adding, removing or renaming an entry anywhere changes it;
// a file that grows in place does not. Looks at folders only. Stable across runs, so it can be kept.
std::optional<quint64> signature(const QString& folder, const std::atomic<bool>* cancel = nullptr);

} // namespace FolderSize
