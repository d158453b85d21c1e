#pragma once

#include <QString>
#include <QStringList>

// Where Steam keeps games on this machine: its installations (native and Flatpak) and the libraries
// each lists in libraryfolders.vdf. Shared by the Proton lookup and the list of prefixes.
namespace SteamLibraries {

// Steam's installations under `home`, each once, by their canonical paths.
QStringList roots(const QString& home);
// The root itself and the libraries its libraryfolders.vdf lists, at most a few hundred.
QStringList libraries(const QString& root);

} // namespace SteamLibraries
