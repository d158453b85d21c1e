#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Small hand-written prefixes for the tests of choosing and finding prefixes.
namespace SmallPrefix {

inline const QByteArray uninstallKey = "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\";

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A system.reg with `listed` uninstall entries the list shows, plus entries it must not count: one
// without an uninstall command and one whose display name is not text.
inline QByteArray systemHive(int listed, const QByteArray& arch = "win64")
{
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=" + arch + "\n";
    text += "\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1700000000\n"
            "\"CurrentVersion\"=\"6.1\"\n\"ProductName\"=\"Microsoft Windows 7\"\n";
    for (int i = 0; i < listed; ++i) {
        text += "\n[" + uninstallKey + "App" + QByteArray::number(i) + "] 1700000000\n\"DisplayName\"=\"App " +
                QByteArray::number(i) + "\"\n\"UninstallString\"=\"C:\\\\un" + QByteArray::number(i) + ".exe\"\n";
    }
    text += "\n[" + uninstallKey + "NoCommand] 1700000000\n\"DisplayName\"=\"No Command\"\n";
    text += "\n[" + uninstallKey + "Damaged] 1700000000\n\"DisplayName\"=dword:00000001\n\"UninstallString\"=\"x\"\n";
    return text;
}

inline const QByteArray userHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n#arch=win64\n";

inline bool makePrefix(const QString& folder, int listed, const QByteArray& wineVersion = {})
{
    QByteArray user = userHeader;
    if (!wineVersion.isEmpty())
        user += "\n[Software\\\\Wine] 1700000000\n\"Version\"=\"" + wineVersion + "\"\n";
    return writeFile(folder + QStringLiteral("/system.reg"), systemHive(listed)) &&
           writeFile(folder + QStringLiteral("/user.reg"), user);
}

} // namespace SmallPrefix
