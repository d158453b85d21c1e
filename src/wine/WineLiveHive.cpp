#include "wine/WineLiveHive.h"

#include "prefix/WineServer.h"
#include "wine/PrefixWine.h"
#include "wine/RegistryProgram.h"

#include <QFileInfo>

namespace {

RegistryProgram::Root rootOf(const QString& hivePath)
{
    return QFileInfo(hivePath).fileName() == u"system.reg" ? RegistryProgram::Root::LocalMachine
                                                           : RegistryProgram::Root::CurrentUser;
}

QString prefixOf(const QString& hivePath)
{
    return QFileInfo(hivePath).absolutePath();
}

} // namespace

bool WineLiveHive::serves(const QString& hivePath) const
{
    const QString name = QFileInfo(hivePath).fileName();
    return name == u"system.reg" || name == u"user.reg";
}

bool WineLiveHive::serverReachable(const QString& prefixPath) const
{
    // The lock first: without a server, which is usual, the managers' files are not read at all.
    return WineServer::isReachable(prefixPath) && PrefixWine::forPrefix(prefixPath).found();
}

QByteArray WineLiveHive::read(const QString& hivePath)
{
    return RegistryProgram::save(prefixOf(hivePath), rootOf(hivePath));
}

void WineLiveHive::apply(const QString& hivePath, const std::vector<HiveChange>& changes)
{
    RegistryProgram::apply(prefixOf(hivePath), rootOf(hivePath), changes);
}
