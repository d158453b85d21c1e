#include "hive/LiveHive.h"

namespace {

LiveHive* current = nullptr;

} // namespace

LiveHive::~LiveHive() = default;

LiveHive* LiveHive::instance()
{
    return current;
}

void LiveHive::setInstance(LiveHive* live)
{
    current = live;
}
