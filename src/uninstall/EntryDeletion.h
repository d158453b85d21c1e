#pragma once

#include "inventory/RegistryRoot.h"

#include <QString>

class UninstallLog;
class WinePrefix;

// Deletes an uninstall entry's key, with its subkeys, from the entry's own hive, and writes the
// delete entry of the log around it: time stamp, "Deleting entry <name>", then the success or the
// failure line. A failing log write throws KestrinError and stops there, so a failure before the
// deletion leaves the key alone. Returns the registry layer's reason when it refused the deletion
// (Wine running in the prefix, an unwritable hive); empty otherwise.
QString deleteEntryLogged(const UninstallLog& log, const WinePrefix& prefix, RegistryRoot root, const QString& keyPath,
                          const QString& name);
