#include "hive/LiveHive.h"

#include <QFileInfo>

namespace {

LiveHive* current = nullptr;

} // namespace

LiveHive::~LiveHive() = default;

bool LiveHive::reaches(const QString& hivePath)
{
    return current && current->serves(hivePath) && current->serverReachable(QFileInfo(hivePath).absolutePath());
}

LiveHive* LiveHive::instance()
{
    return current;
}

void LiveHive::setInstance(LiveHive* live)
{
    current = live;
}
