#pragma once

#include "base/KestrinError.h"

#include <QString>
#include <QStringList>

// Whether a wineserver serves a prefix. While one runs it keeps its own copy of the registry
// and overwrites the files with it, so nothing may write them then.
namespace WineServer {

// The lock files a server of this prefix would hold: upstream's /tmp/.wine-<uid> folder and
// Debian's /run/user/<uid>/wine and $TMPDIR/wine-XXXXXX folders.
QStringList lockFileCandidates(const QString& prefixPath);

// The name of the folder a server of this prefix works in: "server-<dev>-<inode>" of the prefix
// folder, or empty when the prefix cannot be looked at.
QString serverFolderName(const QString& prefixPath);

// True when a wineserver process of ours works in the prefix's server folder, wherever that folder
// is: a server started under another TMPDIR, or in a private /tmp, holds a lock file we cannot find.
bool serverProcessFound(const QString& prefixPath, const QString& procRoot = QStringLiteral("/proc"));
// How many wineserver processes of ours work in the prefix's server folder: more than one means a
// Wine looked for the server elsewhere and started a second one.
int serverProcessCount(const QString& prefixPath, const QString& procRoot = QStringLiteral("/proc"));

// True when some process holds the write lock on one of the lock files, or a server process of
// the prefix is found. Looks only: creates nothing.
bool isRunning(const QString& prefixPath);
// True when a server runs that a Wine of ours would talk to: its lock is held in one of the candidate
// folders, with its socket beside it. A server found only as a process, or a lock held without a
// socket, is not: such a Wine would start a second server for the same prefix.
bool isReachable(const QString& prefixPath);

} // namespace WineServer

// A write refused because Wine serves the prefix.
class WineRunningError : public KestrinError
{
public:
    explicit WineRunningError(const QString& prefixPath);
    const QString& prefixPath() const { return m_prefixPath; }

private:
    QString m_prefixPath;
};
