#include "wine/PrefixWineManagers.h"

#include "wine/ConfigFiles.h"
#include "wine/SteamAppInfo.h"
#include "wine/SteamLibraries.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace PrefixWineManagers {
namespace {

using ConfigFiles::descend;
using ConfigFiles::filesIn;
using ConfigFiles::folderKey;
using ConfigFiles::isProgram;
using ConfigFiles::readKeyValues;
using ConfigFiles::readRegularFile;
using Node = KeyValuesText::Node;

// The app whose appinfo entry describes Steam's own compatibility tools and their per-game defaults.
constexpr quint32 SteamPlayManifestsAppId = 891390;

struct SteamTool
{
    QString folder;
    QString name; // as Steam shows it
};

class SteamSetup
{
public:
    SteamSetup(QString root, QString compatData, QString appId)
        : m_root(std::move(root)), m_compatData(std::move(compatData)), m_appId(std::move(appId)),
          m_libraries(SteamLibraries::libraries(m_root))
    {
        if (const auto config = readKeyValues(m_root + QStringLiteral("/config/config.vdf"))) {
            const Node* mapping =
                descend(*config, {u"InstallConfigStore", u"Software", u"Valve", u"Steam", u"CompatToolMapping"});
            if (mapping)
                m_mapping = *mapping;
        }
        if (auto manifests =
                SteamAppInfo::read(m_root + QStringLiteral("/appcache/appinfo.vdf"), SteamPlayManifestsAppId))
            m_manifests = std::move(*manifests);
    }

    // In Steam's order: the game's own choice, Valve's default for the game, the user's default.
    QStringList configuredTools() const
    {
        QStringList names;
        const auto mapped = [&](const Node& mapping, const QString& key) {
            const Node* entry = mapping.child(key);
            return entry ? entry->childText(u"name") : QString();
        };
        names << mapped(m_mapping, m_appId);
        if (const Node* extended = m_manifests.child(u"extended")) {
            if (const Node* appMappings = extended->child(u"app_mappings")) {
                const Node* entry = appMappings->child(m_appId);
                names << (entry ? entry->childText(u"tool") : QString());
            }
        }
        names << mapped(m_mapping, QStringLiteral("0"));
        names.removeAll(QString());
        return names;
    }

    std::optional<SteamTool> tool(const QString& name) const
    {
        if (auto custom = customTool(name))
            return custom;
        if (auto official = officialTool(name))
            return official;
        return conventionalTool(name);
    }

    // The Proton that last set the prefix up: its config_info names that Proton's font folder.
    std::optional<SteamTool> lastRan() const
    {
        const auto text = readRegularFile(m_compatData + QStringLiteral("/config_info"));
        if (!text)
            return std::nullopt;
        static const QRegularExpression fonts(QStringLiteral("^(/.+)/(?:files|dist)/share/fonts/?$"));
        for (const QByteArray& line : text->split('\n')) {
            const QRegularExpressionMatch match = fonts.match(QString::fromUtf8(line.trimmed()));
            if (match.hasMatch() && QFileInfo(match.captured(1)).isDir())
                return SteamTool{match.captured(1), QFileInfo(match.captured(1)).fileName()};
        }
        return std::nullopt;
    }

    const QString& root() const { return m_root; }

private:
    // compatibilitytool.vdf in a tool's folder under compatibilitytools.d, or beside the folders with an
    // install_path of its own.
    std::optional<SteamTool> customTool(const QString& name) const
    {
        QStringList folders{m_root + QStringLiteral("/compatibilitytools.d"),
                            QStringLiteral("/usr/share/steam/compatibilitytools.d"),
                            QStringLiteral("/usr/local/share/steam/compatibilitytools.d")};
        folders << qEnvironmentVariable("STEAM_EXTRA_COMPAT_TOOLS_PATHS").split(u':', Qt::SkipEmptyParts);
        for (const QString& folder : std::as_const(folders)) {
            QStringList manifests;
            for (const QFileInfo& tool : QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                manifests << tool.filePath() + QStringLiteral("/compatibilitytool.vdf");
            for (const QFileInfo& file : filesIn(folder, {QStringLiteral("*.vdf")}))
                manifests << file.filePath();
            for (const QString& manifest : std::as_const(manifests)) {
                const auto nodes = readKeyValues(manifest);
                const Node* tools = nodes ? descend(*nodes, {u"compatibilitytools", u"compat_tools"}) : nullptr;
                if (!tools && nodes)
                    tools = descend(*nodes, {u"compatibilitytools", u"compat tools"});
                const Node* entry = tools ? tools->child(name) : nullptr;
                if (!entry || !entry->isBlock())
                    continue;
                const QString install = entry->childText(u"install_path");
                const QString base = QFileInfo(manifest).absolutePath();
                const QString toolFolder =
                    QDir::cleanPath(QDir(base).filePath(install.isEmpty() ? QStringLiteral(".") : install));
                const QString shown = entry->childText(u"display_name");
                return SteamTool{toolFolder, shown.isEmpty() ? name : shown};
            }
        }
        return std::nullopt;
    }

    // A tool of Steam's own is an app: the Steam Play manifest maps its name (or an alias) to the app
    // id, whose app manifest names the folder under steamapps/common.
    std::optional<SteamTool> officialTool(const QString& name) const
    {
        const Node* extended = m_manifests.child(u"extended");
        const Node* tools = extended ? extended->child(u"compat_tools") : nullptr;
        if (!tools)
            return std::nullopt;
        QString appId;
        for (const Node& tool : tools->children) {
            QStringList aliases = tool.childText(u"aliases").split(u',', Qt::SkipEmptyParts);
            aliases << tool.key;
            for (QString& alias : aliases)
                alias = alias.trimmed();
            if (aliases.contains(name, Qt::CaseInsensitive)) {
                appId = tool.childText(u"appid");
                break;
            }
        }
        if (appId.isEmpty())
            return std::nullopt;
        for (const QString& library : m_libraries) {
            const QString steamapps = library + QStringLiteral("/steamapps");
            const auto manifest = readKeyValues(steamapps + QStringLiteral("/appmanifest_%1.acf").arg(appId));
            const Node* state = manifest ? descend(*manifest, {u"AppState"}) : nullptr;
            const QString installDir = state ? state->childText(u"installdir") : QString();
            if (installDir.isEmpty() || installDir.contains(u'/'))
                continue;
            const QString folder = steamapps + QStringLiteral("/common/") + installDir;
            if (QFileInfo(folder).isDir()) {
                const QString shown = state->childText(u"name");
                return SteamTool{folder, shown.isEmpty() ? installDir : shown};
            }
        }
        return std::nullopt;
    }

    // Without a readable appinfo.vdf: Valve's folder names follow its tool names ("Proton 8.0" is
    // proton_8, "Proton 5.13" proton_513, "Proton - Experimental" proton_experimental).
    std::optional<SteamTool> conventionalTool(const QString& name) const
    {
        static const QRegularExpression numbered(QStringLiteral("^Proton (\\d+)\\.(\\d+)$"));
        static const QRegularExpression named(QStringLiteral("^Proton(?: -)? ([A-Za-z]+)$"));
        for (const QString& library : m_libraries) {
            const QFileInfoList folders = QDir(library + QStringLiteral("/steamapps/common"))
                                              .entryInfoList({QStringLiteral("Proton*")}, QDir::Dirs, QDir::Name);
            for (const QFileInfo& folder : folders) {
                QString toolName;
                if (const auto match = numbered.match(folder.fileName()); match.hasMatch())
                    toolName = QStringLiteral("proton_") + match.captured(1) +
                               (match.captured(2) == u"0" ? QString() : match.captured(2));
                else if (const auto word = named.match(folder.fileName()); word.hasMatch())
                    toolName = QStringLiteral("proton_") + word.captured(1).toLower();
                if (toolName.compare(name, Qt::CaseInsensitive) == 0)
                    return SteamTool{folder.filePath(), folder.fileName()};
            }
        }
        return std::nullopt;
    }

    QString m_root;
    QString m_compatData;
    QString m_appId;
    QStringList m_libraries;
    Node m_mapping;
    Node m_manifests;
};

// The program of a compatibility tool: the first word of its manifest's command line, relative to the
// tool's folder ("/proton %verb%").
QString toolProgram(const QString& folder)
{
    QString command = QStringLiteral("/proton");
    if (const auto manifest = readKeyValues(folder + QStringLiteral("/toolmanifest.vdf"))) {
        const Node* top = descend(*manifest, {u"manifest"});
        const QString line = top ? top->childText(u"commandline").trimmed() : QString();
        if (line.startsWith(u'/'))
            command = line.section(u' ', 0, 0);
    }
    return QDir::cleanPath(folder + command);
}

} // namespace

std::optional<PrefixWine> steamWine(const QString& prefix, const QString& home)
{
    static const QRegularExpression layout(QStringLiteral("^(.+)/steamapps/compatdata/(\\d+)/pfx$"));
    const QRegularExpressionMatch match = layout.match(prefix);
    if (!match.hasMatch())
        return std::nullopt;
    const QString library = match.captured(1);
    const QString appId = match.captured(2);
    const QString compatData = library + QStringLiteral("/steamapps/compatdata/") + appId;

    PrefixWine wine;
    wine.source = PrefixWine::Source::Steam;
    const QStringList roots = SteamLibraries::roots(home);
    if (roots.isEmpty()) {
        wine.problem = QStringLiteral("This prefix is a Steam game's, but Steam was not found in %1; Proton needs "
                                      "Steam's folder. Install Steam, or open the game from Steam.")
                           .arg(home);
        return wine;
    }
    // The Steam whose libraries hold this one; with several, the first that lists it.
    QString root = roots.first();
    const QString libraryKey = folderKey(library);
    for (const QString& candidate : roots) {
        bool holds = false;
        for (const QString& listed : SteamLibraries::libraries(candidate))
            holds = holds || folderKey(listed) == libraryKey;
        if (holds) {
            root = candidate;
            break;
        }
    }

    const SteamSetup steam(root, compatData, appId);
    const QStringList configured = steam.configuredTools();
    std::optional<SteamTool> tool = configured.isEmpty() ? std::nullopt : steam.tool(configured.first());
    // A tool that is set but not installed, or none set: the Proton that last ran the prefix keeps it
    // as it is.
    if (!tool)
        tool = steam.lastRan();
    if (!tool) {
        wine.problem =
            configured.isEmpty()
                ? QStringLiteral("Steam has no compatibility tool set for this game; choose one in the game's "
                                 "Properties > Compatibility in Steam.")
                : QStringLiteral("This game is set to run with %1, which is not installed; install it in Steam, or "
                                 "choose another compatibility tool for the game.")
                      .arg(configured.first());
        wine.name = configured.value(0);
        return wine;
    }
    wine.name = tool->name;
    const QString program = toolProgram(tool->folder);
    if (!isProgram(program)) {
        wine.problem = QStringLiteral("%1 has no program %2 to run; reinstall it in Steam.").arg(tool->name, program);
        return wine;
    }
    wine.program = program;
    wine.arguments = {QStringLiteral("run")};
    // As Steam runs a game's install scripts: the app id, but no SteamAppId, as this is not the game.
    wine.environment = {{QStringLiteral("STEAM_COMPAT_DATA_PATH"), compatData},
                        {QStringLiteral("STEAM_COMPAT_CLIENT_INSTALL_PATH"), steam.root()},
                        {QStringLiteral("STEAM_COMPAT_APP_ID"), appId}};
    return wine;
}

} // namespace PrefixWineManagers
