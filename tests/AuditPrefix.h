#pragma once

#include "TestDrive.h"
#include "TestPrefix.h"

// A prefix with two uninstall entries: "Alpha", whose uninstaller is on drive C:, and "Beta", whose
// uninstaller is gone. With `entries` false it lists nothing.
inline void makeAuditPrefix(const TestPrefix& prefix, bool entries = true)
{
    QVERIFY(prefix.write(QStringLiteral("system.reg"),
                         "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n"));
    QVERIFY(TestDrive::addDrive(prefix, u'c', QStringLiteral("drive_c")));
    QVERIFY(TestDrive::add(prefix, QStringLiteral("drive_c/windows/system32/")));
    if (!entries)
        return;
    QVERIFY(TestDrive::add(prefix, QStringLiteral("drive_c/alpha/unins.exe")));
    const QString key = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    const auto entry = [&](const QString& subkey, const QString& name, const QString& command) {
        TestDrive::setString(prefix, RegistryRoot::LocalMachine, key + subkey, QStringLiteral("DisplayName"), name,
                             RegType::Sz);
        TestDrive::setString(prefix, RegistryRoot::LocalMachine, key + subkey, QStringLiteral("UninstallString"),
                             command, RegType::Sz);
    };
    entry(QStringLiteral("Alpha"), QStringLiteral("Alpha"), QStringLiteral("\"C:\\alpha\\unins.exe\" /S"));
    entry(QStringLiteral("Beta"), QStringLiteral("Beta"), QStringLiteral("C:\\beta\\gone.exe"));
}
