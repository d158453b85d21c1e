#pragma once

#include "hive/LiveHive.h"

// The live registry through RegistryProgram: system.reg is HKEY_LOCAL_MACHINE and user.reg
// HKEY_CURRENT_USER of the prefix whose folder holds the file. main() makes one for the run.
class WineLiveHive : public LiveHive
{
public:
    bool serves(const QString& hivePath) const override;
    // The prefix's own Wine is there and a server runs where a Wine of ours looks for it.
    bool serverReachable(const QString& prefixPath) const override;
    QByteArray read(const QString& hivePath) override;
    void apply(const QString& hivePath, const std::vector<HiveChange>& changes) override;
};
