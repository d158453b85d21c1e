#pragma once

// Internal to PrefixWine: one rule per manager, each reading that manager's files under `home` (clean,
// absolute). A rule gives the Wine for the prefix at `prefix` (clean, absolute, links not resolved),
// or nothing when its manager does not keep that prefix.

#include "wine/PrefixWine.h"

#include <optional>

namespace PrefixWineManagers {

std::optional<PrefixWine> bottlesWine(const QString& prefix, const QString& home); // BottlesWine.cpp
std::optional<PrefixWine> lutrisWine(const QString& prefix, const QString& home);  // LutrisWine.cpp
std::optional<PrefixWine> steamWine(const QString& prefix, const QString& home);   // SteamWine.cpp
std::optional<PrefixWine> heroicWine(const QString& prefix, const QString& home);  // HeroicWine.cpp

// The first of `names` on the PATH as the system's Wine; the problem set when none is there.
PrefixWine systemWineOnPath(const QStringList& names); // PrefixWine.cpp

} // namespace PrefixWineManagers
