#include "mainwindow/MainSettings.h"

#include "base/KestrinError.h"
#include "hive/HiveFile.h"
#include "inventory/RegistryAccess.h"

const QString MainSettings::Key = QStringLiteral("Software\\Varnholt\\Kestrin\\Desktop");

int MainSettings::ReadIntSetting(RegistryAccess& registry, const QString& name, int defaultValue)
{
    if (!registry.ValueExists(name))
        return defaultValue;
    QString text;
    try {
        text = registry.ReadString(name);
    } catch (const KestrinError&) {
        return defaultValue; // not a text value
    }
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : defaultValue;
}

bool MainSettings::read(const WinePrefix& prefix)
{
    try {
        RegistryAccess registry(prefix);
        registry.RootKey(RegistryRoot::CurrentUser);
        if (!registry.OpenKeyReadOnly(Key))
            return false;
        width = ReadIntSetting(registry, QStringLiteral("Width"), width);
        height = ReadIntSetting(registry, QStringLiteral("Height"), height);
        left = ReadIntSetting(registry, QStringLiteral("Left"), left);
        top = ReadIntSetting(registry, QStringLiteral("Top"), top);
        windowState = ReadIntSetting(registry, QStringLiteral("WindowState"), windowState);
        mainViewStyle = ReadIntSetting(registry, QStringLiteral("MainViewStyle"), mainViewStyle);
        return true;
    } catch (const KestrinError&) {
        // Remembered settings are a convenience; an unreadable hive leaves the designed window.
        return false;
    }
}

void MainSettings::write(const WinePrefix& prefix) const
{
    HiveFile::WriteBatch batch; // all settings in one save
    RegistryAccess registry(prefix);
    registry.RootKey(RegistryRoot::CurrentUser);
    // A key that does not open makes the first write fail with the registry's own message.
    registry.OpenKey(Key, true);
    registry.WriteString(QStringLiteral("Width"), QString::number(width));
    registry.WriteString(QStringLiteral("Height"), QString::number(height));
    registry.WriteString(QStringLiteral("Left"), QString::number(left));
    registry.WriteString(QStringLiteral("Top"), QString::number(top));
    registry.WriteString(QStringLiteral("WindowState"), QString::number(windowState));
    registry.WriteString(QStringLiteral("MainViewStyle"), QString::number(mainViewStyle));
    batch.commit();
}
