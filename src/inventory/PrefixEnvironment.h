#pragma once

#include "platform/WinePrefix.h"

#include <QString>

#include <functional>
#include <optional>

// The environment that Wine gives the prefix's Windows programs, as far as finding programs needs it.
namespace PrefixEnvironment {

// The PATH a program of the prefix sees: the "PATH" of HKLM "System\CurrentControlSet\Control\Session
// Manager\Environment" with its %NAME% references expanded from that key's values (%SystemRoot% and
// %windir% being C:\windows unless the key says otherwise), then a "PATH" of HKCU "Environment"
// appended with ";", as Wine does. Throws KestrinError when a hive cannot be read.
QString searchPath(const WinePrefix& prefix);

// text with each %NAME% that lookup knows replaced by its value; an unknown reference stays as written,
// and its closing "%" may open the next one (as Windows expands).
QString expandReferences(const QString& text, const std::function<std::optional<QString>(const QString&)>& lookup);

} // namespace PrefixEnvironment
