#pragma once

#include "prefix/WinePrefix.h"

#include <QString>

// Which prefix a run manages, and the one last opened from the prefix list, which Kestrin keeps in
// its own settings file ($XDG_CONFIG_HOME/kestrin/kestrin.conf), never in a prefix.
namespace PrefixChoice {

// `fromCommandLine` (the --prefix folder) when given, else $WINEPREFIX, else the prefix last opened
// while its folder still exists, else ~/.wine. A relative folder is taken from the current one.
WinePrefix startPrefix(const QString& fromCommandLine);

// The folder last opened; empty when none was, or when the settings file cannot be read.
QString lastOpened();
// Throws KestrinError when the settings file cannot be written.
void rememberOpened(const WinePrefix& prefix);

} // namespace PrefixChoice
