#include "wine/PrefixWineManagers.h"

#include "wine/ConfigFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

namespace PrefixWineManagers {

using ConfigFiles::expandHome;
using ConfigFiles::filesIn;
using ConfigFiles::folderKey;
using ConfigFiles::isProgram;
using ConfigFiles::readJsonObject;

std::optional<PrefixWine> heroicWine(const QString& prefix, const QString& home)
{
    const QString prefixKey = folderKey(prefix);
    // Heroic hands Proton the .steam/steam of its home, which for the Flatpak is the sandbox's.
    const QString flatpak = home + QStringLiteral("/.var/app/com.heroicgameslauncher.hgl");
    for (const auto& [root, steamClient] :
         {std::pair<QString, QString>(home + QStringLiteral("/.config/heroic"), home + QStringLiteral("/.steam/steam")),
          std::pair<QString, QString>(flatpak + QStringLiteral("/config/heroic"),
                                      flatpak + QStringLiteral("/.steam/steam"))}) {
        if (!QFileInfo(root).isDir())
            continue;
        const QJsonObject defaults =
            readJsonObject(root + QStringLiteral("/config.json")).value(QStringLiteral("defaultSettings")).toObject();
        QString defaultPrefix = expandHome(defaults.value(QStringLiteral("winePrefix")).toString(), home);
        if (defaultPrefix.isEmpty())
            defaultPrefix = home + QStringLiteral("/Games/Heroic/Prefixes/default");
        const QJsonObject defaultVersion = defaults.value(QStringLiteral("wineVersion")).toObject();

        // Each game's settings, then the defaults for a game that has none of its own.
        QList<std::pair<QString, QJsonObject>> games;
        for (const QFileInfo& file : filesIn(root + QStringLiteral("/GamesConfig"), {QStringLiteral("*.json")})) {
            const QString appName = file.completeBaseName();
            games.append({appName, readJsonObject(file.filePath()).value(appName).toObject()});
        }
        games.append({QString(), QJsonObject()});

        for (const auto& [appName, settings] : std::as_const(games)) {
            QString winePrefix = expandHome(settings.value(QStringLiteral("winePrefix")).toString(), home);
            if (winePrefix.isEmpty())
                winePrefix = defaultPrefix;
            QJsonObject version = settings.value(QStringLiteral("wineVersion")).toObject();
            if (version.isEmpty())
                version = defaultVersion;
            const bool proton = version.value(QStringLiteral("type")).toString() == u"proton";
            // A Proton game's winePrefix is Proton's compat data folder, with the prefix in its pfx.
            const QString gamePrefix = proton ? winePrefix + QStringLiteral("/pfx") : winePrefix;
            if (!QDir::isAbsolutePath(winePrefix) || folderKey(gamePrefix) != prefixKey)
                continue;

            PrefixWine wine;
            wine.source = PrefixWine::Source::Heroic;
            const QString bin = expandHome(version.value(QStringLiteral("bin")).toString(), home);
            wine.name = version.value(QStringLiteral("name")).toString();
            if (wine.name.isEmpty())
                wine.name = QFileInfo(bin).fileName();
            if (bin.isEmpty()) {
                wine.problem =
                    QStringLiteral("No Wine is chosen for this game in Heroic; choose one in the game's settings.");
                return wine;
            }
            if (!isProgram(bin)) {
                wine.problem = QStringLiteral("Heroic's Wine %1 is not there (%2); install it in Heroic's Wine "
                                              "Manager, or choose another Wine for the game.")
                                   .arg(wine.name, bin);
                return wine;
            }
            wine.program = QFileInfo(bin).absoluteFilePath();
            if (proton) {
                wine.arguments = {QStringLiteral("run")};
                // As Heroic sets them; without an app id GE-Proton guesses one from the folder's name.
                wine.environment = {{QStringLiteral("STEAM_COMPAT_DATA_PATH"), winePrefix},
                                    {QStringLiteral("STEAM_COMPAT_CLIENT_INSTALL_PATH"), steamClient},
                                    {QStringLiteral("STEAM_COMPAT_APP_ID"), QStringLiteral("0")},
                                    {QStringLiteral("SteamAppId"), QStringLiteral("0")}};
            }
            return wine;
        }
    }
    return std::nullopt;
}

} // namespace PrefixWineManagers
