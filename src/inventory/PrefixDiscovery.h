#pragma once

#include "prefix/WinePrefix.h"

#include <QList>
#include <QString>

// A Wine prefix found on this machine, described without starting Wine.
struct FoundPrefix
{
    QString name;   // the folder's, the game's or the bottle's name
    QString origin; // who keeps it: "Wine", "Bottles", "Lutris", "Steam", ...
    WinePrefix prefix;
    QString windowsVersion;
    QString architecture; // "win32", "win64"
    int programCount = 0; // as the program list would count them
};

// The prefixes kept under `home`: ~/.wine; ~/.local/share/wineprefixes/*; Bottles' bottles, native and
// Flatpak; the "prefix:" of each Lutris game file; the Proton prefix of every game in each Steam library
// that libraryfolders.vdf lists, named by its app manifest; PlayOnLinux's prefixes. Only folders that
// hold a system.reg count, each once, under its first finding. Files that cannot be read or parsed
// are passed over. Reads only.
QList<FoundPrefix> discoverPrefixes(const QString& home);
