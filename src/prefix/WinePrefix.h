#pragma once

#include <QString>

// A Wine prefix: the folder that holds a Windows installation's registry files and drives.
class WinePrefix
{
public:
    // A relative path is taken from the current folder.
    explicit WinePrefix(QString path);

    // $WINEPREFIX, else ~/.wine, as Wine itself chooses.
    static WinePrefix fromEnvironment();

    const QString& path() const { return m_path; }
    // The folder as the user reads it: the home folder shortened to "~".
    QString displayPath() const;
    QString systemHivePath() const; // HKEY_LOCAL_MACHINE
    QString userHivePath() const;   // HKEY_CURRENT_USER
    // "win64" or "win32", from the "#arch=" line at the top of system.reg, read without parsing the
    // hive. A prefix Wine has not made yet becomes 64-bit with a 64-bit Wine; a system.reg without
    // the line is 32-bit, as Wine reads it.
    QString architecture() const;

private:
    QString m_path;
};
