#include "PlatformVersion.h"

#include "RegistryAccess.h"

#include <QStringList>

bool IsNTPlatform(const WinePrefix& prefix)
{
    // Win32s (win20, win30, win31) reports a platform of its own, and the 9x family another: neither is NT.
    static const QStringList notNt{QStringLiteral("win20"), QStringLiteral("win30"), QStringLiteral("win31"),
                                   QStringLiteral("win95"), QStringLiteral("win98"), QStringLiteral("winme")};
    static const QStringList nt{
        QStringLiteral("nt351"),   QStringLiteral("nt40"),   QStringLiteral("win2000"),   QStringLiteral("win2k"),
        QStringLiteral("nt2k"),    QStringLiteral("nt2000"), QStringLiteral("winxp"),     QStringLiteral("winxp64"),
        QStringLiteral("win2003"), QStringLiteral("win2k3"), QStringLiteral("vista"),     QStringLiteral("winvista"),
        QStringLiteral("win2008"), QStringLiteral("win2k8"), QStringLiteral("win2008r2"), QStringLiteral("win2k8r2"),
        QStringLiteral("win7"),    QStringLiteral("win8"),   QStringLiteral("win81"),     QStringLiteral("win10")};

    // A version chosen for all programs of the prefix; Wine ignores names it does not know.
    RegistryAccess user(prefix);
    user.RootKey(RegistryRoot::CurrentUser);
    if (user.OpenKeyReadOnly(QStringLiteral("Software\\Wine")) &&
        user.GetDataType(QStringLiteral("Version")) == RegDataType::String) {
        const QString version = user.ReadString(QStringLiteral("Version"));
        if (notNt.contains(version))
            return false;
        if (nt.contains(version))
            return true;
    }
    // Otherwise the version the machine keys describe: NT keys first, then the 9x ones.
    RegistryAccess machine(prefix);
    machine.RootKey(RegistryRoot::LocalMachine);
    if (machine.OpenKeyReadOnly(QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion")) &&
        machine.ValueExists(QStringLiteral("CurrentVersion")))
        return true;
    if (machine.OpenKeyReadOnly(QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion")) &&
        machine.ValueExists(QStringLiteral("VersionNumber")))
        return false;
    return true;
}
