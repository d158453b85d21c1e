#include "prefix/PrefixChoice.h"

#include "base/KestrinError.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString LastOpenedKey = QStringLiteral("Prefixes/LastOpened");

QString settingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/kestrin/kestrin.conf");
}

} // namespace

namespace PrefixChoice {

WinePrefix startPrefix(const QString& fromCommandLine)
{
    if (!fromCommandLine.isEmpty())
        return WinePrefix(QFileInfo(fromCommandLine).absoluteFilePath());
    if (!qEnvironmentVariableIsEmpty("WINEPREFIX"))
        return WinePrefix::fromEnvironment();
    const QString last = lastOpened();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return WinePrefix(last);
    return WinePrefix::fromEnvironment();
}

QString lastOpened()
{
    const QSettings settings(settingsFile(), QSettings::IniFormat);
    return settings.status() == QSettings::NoError ? settings.value(LastOpenedKey).toString() : QString();
}

void rememberOpened(const WinePrefix& prefix)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(LastOpenedKey, prefix.path());
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw KestrinError(QStringLiteral("Kestrin could not remember the prefix in %1: the file cannot be written.")
                               .arg(settings.fileName()));
    }
}

} // namespace PrefixChoice
