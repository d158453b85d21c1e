#pragma once

#include <QString>
#include <QStringList>

// Whether a wineserver serves a prefix. While one runs it keeps its own copy of the registry
// and overwrites the files with it, so nothing may write them then.
namespace WineServer {

// The lock files a server of this prefix would hold: upstream's /tmp/.wine-<uid> folder and
// Debian's /run/user/<uid>/wine and $TMPDIR/wine-XXXXXX folders.
QStringList lockFileCandidates(const QString& prefixPath);

// True when some process holds the write lock on one of those files. Looks only: creates nothing.
bool isRunning(const QString& prefixPath);

} // namespace WineServer
