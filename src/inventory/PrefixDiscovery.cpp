#include "inventory/PrefixDiscovery.h"

#include "formats/KeyValuesText.h"
#include "hive/HiveFile.h"
#include "inventory/PlatformVersion.h"
#include "inventory/ProgramScan.h"
#include "wine/ConfigFiles.h"
#include "wine/SteamLibraries.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <yaml-cpp/yaml.h>

#include <optional>

namespace {

using ConfigFiles::readJsonObject;
using ConfigFiles::readKeyValues;
using ConfigFiles::readRegularFile;

struct Candidate
{
    QString name;
    QString origin;
    QString path;
};

class Finder
{
public:
    explicit Finder(QString home) : m_home(std::move(home)) {}

    void add(const QString& name, const QString& origin, const QString& path)
    {
        m_candidates.append({name, origin, path});
    }

    // Each subfolder of `folder` as a prefix named after it.
    void addSubfolders(const QString& folder, const QString& origin)
    {
        const QFileInfoList entries =
            QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        for (const QFileInfo& entry : entries)
            add(entry.fileName(), origin, entry.filePath());
    }

    QString inHome(const QString& relative) const { return m_home + QLatin1Char('/') + relative; }

    void addLutrisGames()
    {
        for (const QString& folder :
             {inHome(QStringLiteral(".config/lutris/games")), inHome(QStringLiteral(".local/share/lutris/games")),
              inHome(QStringLiteral(".var/app/net.lutris.Lutris/config/lutris/games")),
              inHome(QStringLiteral(".var/app/net.lutris.Lutris/data/lutris/games"))}) {
            const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.yml"), QStringLiteral("*.yaml")},
                                                                   QDir::Files, QDir::Name);
            for (const QFileInfo& file : files)
                addLutrisGame(file);
        }
    }

    void addSteamLibraries()
    {
        QSet<QString> seen;
        for (const QString& root : SteamLibraries::roots(m_home)) {
            for (const QString& library : SteamLibraries::libraries(root)) {
                const QString canonical = QFileInfo(library).canonicalFilePath();
                if (canonical.isEmpty() || seen.contains(canonical))
                    continue;
                seen.insert(canonical);
                addProtonPrefixes(library + QStringLiteral("/steamapps"));
            }
        }
    }

    // Heroic's prefixes: each game's winePrefix, then the folders of its prefixes folder. A game run by
    // Proton has its prefix in the pfx folder of its winePrefix, so both places are candidates.
    void addHeroicPrefixes()
    {
        const QString origin = QStringLiteral("Heroic");
        QStringList prefixFolders{inHome(QStringLiteral("Games/Heroic/Prefixes"))};
        for (const QString& root : {inHome(QStringLiteral(".config/heroic")),
                                    inHome(QStringLiteral(".var/app/com.heroicgameslauncher.hgl/config/heroic"))}) {
            const QJsonObject defaults = readJsonObject(root + QStringLiteral("/config.json"))
                                             .value(QStringLiteral("defaultSettings"))
                                             .toObject();
            const QString defaultPrefix = expandHome(defaults.value(QStringLiteral("winePrefix")).toString());
            const QJsonObject defaultVersion = defaults.value(QStringLiteral("wineVersion")).toObject();
            const QFileInfoList games = QDir(root + QStringLiteral("/GamesConfig"))
                                            .entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
            for (const QFileInfo& file : games) {
                const QJsonObject settings = readJsonObject(file.filePath()).value(file.completeBaseName()).toObject();
                QString prefix = expandHome(settings.value(QStringLiteral("winePrefix")).toString());
                if (prefix.isEmpty())
                    prefix = defaultPrefix;
                QJsonObject version = settings.value(QStringLiteral("wineVersion")).toObject();
                if (version.isEmpty())
                    version = defaultVersion;
                if (!QDir::isAbsolutePath(prefix))
                    continue;
                const bool proton = version.value(QStringLiteral("type")).toString() == u"proton";
                add(QFileInfo(prefix).fileName(), origin, proton ? prefix + QStringLiteral("/pfx") : prefix);
            }
            if (QDir::isAbsolutePath(defaultPrefix))
                addPrefixOrProton(defaultPrefix, origin);
            const QString folder = expandHome(defaults.value(QStringLiteral("defaultWinePrefix")).toString());
            if (QDir::isAbsolutePath(folder))
                prefixFolders << folder;
        }
        for (const QString& folder : std::as_const(prefixFolders)) {
            const QFileInfoList entries =
                QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
            for (const QFileInfo& entry : entries)
                addPrefixOrProton(entry.filePath(), origin);
        }
    }

    // The candidates that are prefixes, each folder once.
    QList<FoundPrefix> prefixes() const
    {
        const HiveFile::PassingLook look;
        QList<FoundPrefix> found;
        QSet<QString> seen;
        for (const Candidate& candidate : m_candidates) {
            const QFileInfo systemHive(candidate.path + QStringLiteral("/system.reg"));
            const QString canonical = QFileInfo(candidate.path).canonicalFilePath();
            if (canonical.isEmpty() || !systemHive.isFile() || seen.contains(canonical))
                continue;
            seen.insert(canonical);
            const WinePrefix prefix(QDir::cleanPath(candidate.path));
            found.append({candidate.name, candidate.origin, prefix, WindowsVersionName(prefix),
                          PrefixArchitecture(prefix), ProgramScan::countPrograms(prefix)});
        }
        return found;
    }

private:
    QString expandHome(const QString& path) const { return ConfigFiles::expandHome(path, m_home); }

    // A folder that is a prefix, or a Proton compat data folder with the prefix in pfx.
    void addPrefixOrProton(const QString& folder, const QString& origin)
    {
        const QString name = QFileInfo(folder).fileName();
        add(name, origin, folder);
        add(name, origin, folder + QStringLiteral("/pfx"));
    }

    void addLutrisGame(const QFileInfo& file)
    {
        QString prefix, name;
        const auto text = readRegularFile(file.filePath());
        if (!text)
            return;
        try {
            const YAML::Node game = YAML::Load(text->toStdString());
            if (game["game"] && game["game"]["prefix"])
                prefix = QString::fromStdString(game["game"]["prefix"].as<std::string>());
            if (game["name"])
                name = QString::fromStdString(game["name"].as<std::string>());
        } catch (const YAML::Exception&) {
            return; // a damaged game file names no prefix
        }
        prefix = expandHome(prefix);
        if (prefix.isEmpty() || QDir::isRelativePath(prefix))
            return;
        if (name.isEmpty()) {
            // Lutris names its game files "<slug>-<number>.yml".
            static const QRegularExpression number(QStringLiteral("-\\d+$"));
            name = file.completeBaseName().remove(number);
        }
        add(name, QStringLiteral("Lutris"), prefix);
    }

    void addProtonPrefixes(const QString& steamapps)
    {
        const QFileInfoList games = QDir(steamapps + QStringLiteral("/compatdata"))
                                        .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& game : games) {
            const QString appId = game.fileName();
            QString name;
            if (const auto manifest = readKeyValues(steamapps + QStringLiteral("/appmanifest_%1.acf").arg(appId))) {
                for (const KeyValuesText::Node& top : *manifest)
                    name = name.isEmpty() ? top.childText(u"name") : name;
            }
            add(name.isEmpty() ? QStringLiteral("Steam app %1").arg(appId) : name, QStringLiteral("Steam"),
                game.filePath() + QStringLiteral("/pfx"));
        }
    }

    QString m_home;
    QList<Candidate> m_candidates;
};

} // namespace

QList<FoundPrefix> discoverPrefixes(const QString& home)
{
    Finder finder(home);
    finder.add(QStringLiteral(".wine"), QStringLiteral("Wine"), finder.inHome(QStringLiteral(".wine")));
    finder.addSubfolders(finder.inHome(QStringLiteral(".local/share/wineprefixes")), QStringLiteral("Wine"));
    finder.addSubfolders(finder.inHome(QStringLiteral(".local/share/bottles/bottles")), QStringLiteral("Bottles"));
    finder.addSubfolders(finder.inHome(QStringLiteral(".var/app/com.usebottles.bottles/data/bottles/bottles")),
                         QStringLiteral("Bottles (Flatpak)"));
    finder.addLutrisGames();
    finder.addSteamLibraries();
    finder.addHeroicPrefixes();
    finder.addSubfolders(finder.inHome(QStringLiteral(".PlayOnLinux/wineprefix")), QStringLiteral("PlayOnLinux"));
    return finder.prefixes();
}
