#include "hive/LiveHive.h"

namespace {

LiveHive* current = nullptr;

} // namespace

LiveHive::~LiveHive() = default;

bool LiveHive::reaches(const QString& hivePath)
{
    return current && current->serves(hivePath);
}

LiveHive* LiveHive::instance()
{
    return current;
}

void LiveHive::setInstance(LiveHive* live)
{
    current = live;
}
