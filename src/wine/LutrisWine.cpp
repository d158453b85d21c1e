#include "wine/PrefixWineManagers.h"

#include "wine/ConfigFiles.h"
#include "wine/SteamLibraries.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>

namespace PrefixWineManagers {
namespace {

using ConfigFiles::expandHome;
using ConfigFiles::filesIn;
using ConfigFiles::folderKey;
using ConfigFiles::isProgram;
using ConfigFiles::readYaml;
using ConfigFiles::yamlText;

struct LutrisFolders
{
    QString config; // holds games/ and runners/wine.yml
    QString data;   // holds runners/wine/<version>/
};

// Lutris keeps its settings in ~/.config/lutris where that exists (older installations), else in its
// data folder; the Flatpak likewise under its own folders.
QList<LutrisFolders> lutrisFolders(const QString& home)
{
    const QString data = home + QStringLiteral("/.local/share/lutris");
    const QString flatpak = home + QStringLiteral("/.var/app/net.lutris.Lutris");
    const QString flatpakData = flatpak + QStringLiteral("/data/lutris");
    return {{home + QStringLiteral("/.config/lutris"), data},
            {data, data},
            {flatpak + QStringLiteral("/config/lutris"), flatpakData},
            {flatpakData, flatpakData}};
}

// "wine-ge-8-26-x86_64" before "lutris-7.2-2-x86_64": by the numbers in the name.
bool newerBuild(const QString& a, const QString& b)
{
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    QList<qulonglong> left, right;
    for (auto it = digits.globalMatch(a); it.hasNext();)
        left << it.next().captured().toULongLong();
    for (auto it = digits.globalMatch(b); it.hasNext();)
        right << it.next().captured().toULongLong();
    if (left != right)
        return std::lexicographical_compare(right.begin(), right.end(), left.begin(), left.end());
    return a > b;
}

PrefixWine lutrisBuild(const QString& version, const QString& customPath, const LutrisFolders& folders,
                       const QString& home)
{
    PrefixWine wine;
    wine.source = PrefixWine::Source::Lutris;
    wine.name = version;
    const auto missing = [&](const QString& name) {
        wine.problem = QStringLiteral("This game's Wine version %1 is not installed; install it in Lutris "
                                      "(Preferences > Runners > Wine), or choose another version for the game.")
                           .arg(name);
    };

    if (version.isEmpty()) {
        // Lutris then takes its default build, which it downloads with the first Wine game; the newest
        // build it holds stands for that, else the system's Wine.
        QStringList builds;
        for (const QFileInfo& build : QDir(folders.data + QStringLiteral("/runners/wine"))
                                          .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            if (isProgram(build.filePath() + QStringLiteral("/bin/wine")))
                builds << build.fileName();
        }
        if (builds.isEmpty())
            return systemWineOnPath({QStringLiteral("wine")});
        std::sort(builds.begin(), builds.end(), newerBuild);
        wine.name = builds.first();
        wine.program = folders.data + QStringLiteral("/runners/wine/") + builds.first() + QStringLiteral("/bin/wine");
        return wine;
    }
    if (version == u"system")
        return systemWineOnPath({QStringLiteral("wine")});
    if (version == u"custom") {
        const QString path = expandHome(customPath, home);
        if (isProgram(path))
            wine.program = QFileInfo(path).absoluteFilePath();
        else if (path.isEmpty())
            wine.problem = QStringLiteral("This game's Wine is set to a custom program, but none is given; set it "
                                          "in the game's Lutris settings.");
        else
            wine.problem = QStringLiteral("This game's Wine is the custom program %1, which is not there; correct "
                                          "it in the game's Lutris settings.")
                               .arg(path);
        return wine;
    }
    if (version.contains(u'/') || version == u"." || version == u"..") {
        missing(version);
        return wine;
    }

    QStringList candidates;
    static const QHash<QString, QString> systemBuilds{
        {QStringLiteral("winehq-devel"), QStringLiteral("/opt/wine-devel/bin/wine")},
        {QStringLiteral("winehq-staging"), QStringLiteral("/opt/wine-staging/bin/wine")},
        {QStringLiteral("wine-development"), QStringLiteral("/usr/lib/wine-development/wine")}};
    if (systemBuilds.contains(version)) {
        candidates << systemBuilds.value(version);
    } else if (version.startsWith(u"System wine-")) {
        candidates << QStringLiteral("/usr/lib/") + version.mid(7) + QStringLiteral("/bin/wine");
    } else if (version.contains(u"Proton") && !version.contains(u"lutris")) {
        // Proton builds from Steam's folders or Lutris' own, started by their Wine as Bottles does.
        QStringList protonFolders{folders.data + QStringLiteral("/runners/proton/") + version};
        for (const QString& root : SteamLibraries::roots(home)) {
            protonFolders << root + QStringLiteral("/compatibilitytools.d/") + version;
            for (const QString& library : SteamLibraries::libraries(root))
                protonFolders << library + QStringLiteral("/steamapps/common/") + version;
        }
        for (const QString& folder : std::as_const(protonFolders))
            candidates << folder + QStringLiteral("/files/bin/wine") << folder + QStringLiteral("/dist/bin/wine");
    } else {
        candidates << folders.data + QStringLiteral("/runners/wine/") + version + QStringLiteral("/bin/wine");
    }
    for (const QString& candidate : std::as_const(candidates)) {
        if (isProgram(candidate)) {
            wine.program = candidate;
            return wine;
        }
    }
    missing(version);
    return wine;
}

} // namespace

std::optional<PrefixWine> lutrisWine(const QString& prefix, const QString& home)
{
    const QString prefixKey = folderKey(prefix);
    for (const LutrisFolders& folders : lutrisFolders(home)) {
        const QFileInfoList games =
            filesIn(folders.config + QStringLiteral("/games"), {QStringLiteral("*.yml"), QStringLiteral("*.yaml")});
        for (const QFileInfo& file : games) {
            const auto game = readYaml(file.filePath());
            if (!game)
                continue;
            const QString gamePrefix = expandHome(yamlText(*game, "game", "prefix"), home);
            if (gamePrefix.isEmpty() || QDir::isRelativePath(gamePrefix) || folderKey(gamePrefix) != prefixKey)
                continue;
            // The game's own settings outrank the wine runner's, key by key.
            QString version = yamlText(*game, "wine", "version");
            QString customPath = yamlText(*game, "wine", "custom_wine_path");
            if (const auto runner = readYaml(folders.config + QStringLiteral("/runners/wine.yml"))) {
                if (version.isEmpty())
                    version = yamlText(*runner, "wine", "version");
                if (customPath.isEmpty())
                    customPath = yamlText(*runner, "wine", "custom_wine_path");
            }
            return lutrisBuild(version, customPath, folders, home);
        }
    }
    return std::nullopt;
}

} // namespace PrefixWineManagers
