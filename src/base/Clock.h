#pragma once

#include <QDateTime>

#include <functional>

// The local clock, replaceable by tests.
namespace Clock {

QDateTime now();
// Replaces the clock; an empty function restores the system's.
void setSource(std::function<QDateTime()> source);

} // namespace Clock
