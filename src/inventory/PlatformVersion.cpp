#include "inventory/PlatformVersion.h"

#include "hive/HiveFile.h"
#include "inventory/RegistryAccess.h"

#include <QStringList>

#include <array>

namespace {

struct KnownVersion
{
    const char16_t* name; // as Wine's "Version" value spells it
    const char16_t* shownAs;
    bool nt;
};

// The names Wine accepts; it ignores any other.
constexpr std::array<KnownVersion, 26> knownVersions{{
    {u"win20", u"Windows 2.0", false},
    {u"win30", u"Windows 3.0", false},
    {u"win31", u"Windows 3.1", false},
    {u"win95", u"Windows 95", false},
    {u"win98", u"Windows 98", false},
    {u"winme", u"Windows ME", false},
    {u"nt351", u"Windows NT 3.51", true},
    {u"nt40", u"Windows NT 4.0", true},
    {u"win2000", u"Windows 2000", true},
    {u"win2k", u"Windows 2000", true},
    {u"nt2k", u"Windows 2000", true},
    {u"nt2000", u"Windows 2000", true},
    {u"winxp", u"Windows XP", true},
    {u"winxp64", u"Windows XP 64-bit", true},
    {u"win2003", u"Windows Server 2003", true},
    {u"win2k3", u"Windows Server 2003", true},
    {u"vista", u"Windows Vista", true},
    {u"winvista", u"Windows Vista", true},
    {u"win2008", u"Windows Server 2008", true},
    {u"win2k8", u"Windows Server 2008", true},
    {u"win2008r2", u"Windows Server 2008 R2", true},
    {u"win2k8r2", u"Windows Server 2008 R2", true},
    {u"win7", u"Windows 7", true},
    {u"win8", u"Windows 8", true},
    {u"win81", u"Windows 8.1", true},
    {u"win10", u"Windows 10", true},
}};

const QString ntVersionKey = QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion");
const QString nineXVersionKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion");

// The version chosen for all programs of the prefix, when Wine knows its name.
const KnownVersion* chosenVersion(const WinePrefix& prefix)
{
    RegistryAccess user(prefix);
    user.RootKey(RegistryRoot::CurrentUser);
    if (!user.OpenKeyReadOnly(QStringLiteral("Software\\Wine")) ||
        user.GetDataType(QStringLiteral("Version")) != RegDataType::String)
        return nullptr;
    const QString version = user.ReadString(QStringLiteral("Version"));
    for (const KnownVersion& known : knownVersions) {
        if (version == QStringView(known.name))
            return &known;
    }
    return nullptr;
}

} // namespace

bool IsNTPlatform(const WinePrefix& prefix)
{
    if (const KnownVersion* chosen = chosenVersion(prefix))
        return chosen->nt;
    // Otherwise the version the machine keys describe: NT keys first, then the 9x ones.
    RegistryAccess machine(prefix);
    machine.RootKey(RegistryRoot::LocalMachine);
    if (machine.OpenKeyReadOnly(ntVersionKey) && machine.ValueExists(QStringLiteral("CurrentVersion")))
        return true;
    return !(machine.OpenKeyReadOnly(QLatin1Char('\\') + nineXVersionKey) &&
             machine.ValueExists(QStringLiteral("VersionNumber")));
}

QString WindowsVersionName(const WinePrefix& prefix)
{
    if (const KnownVersion* chosen = chosenVersion(prefix))
        return QString::fromUtf16(chosen->shownAs);
    RegistryAccess machine(prefix);
    machine.RootKey(RegistryRoot::LocalMachine);
    const QString productName = QStringLiteral("ProductName");
    for (const QString& key : {ntVersionKey, nineXVersionKey}) {
        if (machine.OpenKeyReadOnly(QLatin1Char('\\') + key) && machine.GetDataType(productName) == RegDataType::String)
            return machine.ReadString(productName);
    }
    return {};
}

QString PrefixArchitecture(const WinePrefix& prefix)
{
    return QString::fromLatin1(HiveFile::open(prefix.systemHivePath())->current().architecture());
}

QString PrefixPlatformText(const WinePrefix& prefix)
{
    const QString version = WindowsVersionName(prefix);
    const QString architecture = PrefixArchitecture(prefix);
    if (version.isEmpty() || architecture.isEmpty())
        return version + architecture;
    return version + QStringLiteral(" (") + architecture + QLatin1Char(')');
}
