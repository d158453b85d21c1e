#pragma once

#include "hive/HiveChanges.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The registry of a prefix whose wineserver runs. The server keeps its own copy and writes it over
// the files, so while it runs, hives are read and changed through Wine itself. The Wine layer
// provides this (main() sets it); without one, a running server refuses every change.
class LiveHive
{
public:
    LiveHive() = default;
    virtual ~LiveHive();
    LiveHive(const LiveHive&) = delete;
    LiveHive& operator=(const LiveHive&) = delete;

    // Whether the hive at `hivePath` (a file in its prefix's folder) can be reached this way.
    virtual bool serves(const QString& hivePath) const = 0;
    // Whether a wineserver serves the prefix now that the Wine this runs would talk to.
    virtual bool serverReachable(const QString& prefixPath) const = 0;
    // The hive's contents as the server holds them now, in Wine's file syntax. Throws KestrinError.
    virtual QByteArray read(const QString& hivePath) = 0;
    // Carries out `changes` in order. When one fails, the keys created and values changed before it
    // are put back (keys deleted are not: callers keep a copy first) and KestrinError says why.
    virtual void apply(const QString& hivePath, const std::vector<HiveChange>& changes) = 0;

    // Whether the process's LiveHive serves the hive at `hivePath` and a wineserver that Wine would
    // reach serves its prefix now.
    static bool reaches(const QString& hivePath);

    // The one of the process; null when there is none. setInstance() does not take ownership.
    static LiveHive* instance();
    static void setInstance(LiveHive* live);
};
