#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The Wine build that runs one prefix. Starting another Wine than the prefix's own makes Wine
// update the prefix, which can break what is installed in it, so the build comes from the files of
// the manager that keeps the prefix: a Bottles bottle's runner, a Lutris game's Wine version, the
// Proton a Steam game is set to, a Heroic game's configured Wine. $WINELOADER outranks them all.
// Only regular files are read; a file that cannot be read or parsed is passed over.
struct PrefixWine
{
    enum class Source
    {
        Loader,  // $WINELOADER
        Bottles, // the bottle's "Runner:"
        Lutris,  // the game's (or Lutris' default) wine version
        Steam,   // the Proton build the game is set to
        Heroic,  // the game's (or Heroic's default) wineVersion
        System,  // `wine`, else `wine64`, on the PATH
    };

    Source source = Source::System;
    // The program to start, absolute; empty when the build is not there (see `problem`).
    QString program;
    // Put before the Windows program: Proton's script takes "run".
    QStringList arguments;
    // Set beside WINEPREFIX, as the manager sets them (Proton: STEAM_COMPAT_DATA_PATH, ...).
    QList<QPair<QString, QString>> environment;
    // The build as its manager names it ("soda-9.0-1", "Proton 8.0"); empty for the system's Wine,
    // unless a manager chose the system's Wine by a runner name of its own ("sys-wine-9.0").
    QString name;
    // Why nothing can run when `program` is empty, in words a user can act on.
    QString problem;

    bool found() const { return !program.isEmpty(); }
    // "Wine 8.0 (system)", "Wine 8.0 (system, runner sys-wine-9.0)", "Wine 8.0 (WINELOADER)",
    // "Bottles runner soda-9.0-1", "Lutris runner lutris-7.2-2-x86_64", "Proton 8.0", "Heroic:
    // Wine-GE-Proton8-26". For the system's Wine and $WINELOADER it asks versionOf().
    QString label() const;
    // label() when the build is there; else "no Wine found", or the build a manager names with
    // ", not installed", for the status bar and the uninstall window.
    QString shownLabel() const;

    // The Wine for the prefix in `prefixPath`, read from the managers' files under `home`
    // (default: $HOME) and the environment, first match winning: $WINELOADER; a bottle.yml in the
    // prefix folder; a Lutris game whose prefix is this folder; a path of the form
    // <library>/steamapps/compatdata/<appid>/pfx; a Heroic game whose prefix this is; else
    // systemWine(). Never starts Wine.
    static PrefixWine forPrefix(const QString& prefixPath, const QString& home = QString());
    // $WINELOADER, else `wine`, else `wine64` on the PATH, as the system runs any prefix.
    static PrefixWine systemWine();
    // "8.0" from `program --version` ("wine-8.0 (Debian 8.0~repack-4)"); empty when it does not answer
    // within 2 seconds. Asked once per program and process, from any thread.
    static QString versionOf(const QString& program);
    // What `program --version` printed ("wine-8.0 (Debian 8.0~repack-4)"), asked as versionOf asks.
    static QString versionTextOf(const QString& program);
};
