#include "hive/LiveHive.h"

#include "prefix/WineServer.h"

#include <QFileInfo>

namespace {

LiveHive* current = nullptr;

} // namespace

LiveHive::~LiveHive() = default;

bool LiveHive::reaches(const QString& hivePath)
{
    return current && current->serves(hivePath) && WineServer::isReachable(QFileInfo(hivePath).absolutePath());
}

LiveHive* LiveHive::instance()
{
    return current;
}

void LiveHive::setInstance(LiveHive* live)
{
    current = live;
}
