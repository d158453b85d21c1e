#include "platform/PrefixWine.h"

#include "platform/KeyValuesText.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QtEndian>

#include <yaml-cpp/yaml.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>

namespace {

using Node = KeyValuesText::Node;

constexpr qint64 MaxConfigBytes = 16 * 1024 * 1024;
// appinfo.vdf holds every app the account has seen; only one entry of it is read.
constexpr qint64 MaxAppInfoEntryBytes = 64 * 1024 * 1024;
constexpr int VersionTimeoutMs = 2000;

// An open file that is a regular file; null for anything else. The open does not block, so a FIFO
// named like a config file cannot hang us.
std::unique_ptr<QFile> openRegularFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

std::optional<QByteArray> readRegularFile(const QString& path)
{
    const auto file = openRegularFile(path);
    if (!file || file->size() > MaxConfigBytes)
        return std::nullopt;
    return file->readAll();
}

std::optional<YAML::Node> readYaml(const QString& path)
{
    const auto text = readRegularFile(path);
    if (!text)
        return std::nullopt;
    try {
        return YAML::Load(text->toStdString());
    } catch (const YAML::Exception&) {
        return std::nullopt;
    }
}

// The scalar at node[section][key]; empty when missing or not a scalar.
QString yamlText(const YAML::Node& node, const char* section, const char* key)
{
    try {
        const YAML::Node& top = node;
        const YAML::Node value = top[section][key];
        return value && value.IsScalar() ? QString::fromStdString(value.as<std::string>()) : QString();
    } catch (const YAML::Exception&) {
        return {};
    }
}

QJsonObject readJsonObject(const QString& path)
{
    const auto text = readRegularFile(path);
    return text ? QJsonDocument::fromJson(*text).object() : QJsonObject();
}

std::optional<std::vector<Node>> readKeyValues(const QString& path)
{
    const auto text = readRegularFile(path);
    return text ? KeyValuesText::parse(*text) : std::nullopt;
}

// The node at the end of `names`, each looked up without regard to letter case.
const Node* descend(const std::vector<Node>& top, std::initializer_list<QStringView> names)
{
    const Node* node = nullptr;
    for (const QStringView name : names) {
        if (!node) {
            for (const Node& candidate : top) {
                if (candidate.key.compare(name, Qt::CaseInsensitive) == 0) {
                    node = &candidate;
                    break;
                }
            }
        } else {
            node = node->child(name);
        }
        if (!node)
            return nullptr;
    }
    return node;
}

bool isProgram(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// Two spellings of one folder compare equal; a folder that does not exist compares by its clean path.
QString folderKey(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : canonical;
}

QString expandHome(const QString& path, const QString& home)
{
    if (path == u"~" || path.startsWith(u"~/"))
        return home + path.mid(1);
    return path;
}

QFileInfoList filesIn(const QString& folder, const QStringList& patterns)
{
    return QDir(folder).entryInfoList(patterns, QDir::Files, QDir::Name);
}

QString notFoundText()
{
    return QStringLiteral("Wine was not found. Install Wine, or set WINELOADER to the wine program.");
}

PrefixWine systemWineOnPath(const QStringList& names)
{
    PrefixWine wine;
    for (const QString& name : names) {
        wine.program = QStandardPaths::findExecutable(name);
        if (!wine.program.isEmpty())
            return wine;
    }
    wine.problem = notFoundText();
    return wine;
}

std::optional<PrefixWine> loaderWine()
{
    const QString loader = qEnvironmentVariable("WINELOADER");
    if (loader.isEmpty())
        return std::nullopt;
    PrefixWine wine;
    wine.source = PrefixWine::Source::Loader;
    if (loader.contains(u'/')) {
        const QFileInfo info(loader);
        if (isProgram(info.filePath()))
            wine.program = info.absoluteFilePath();
    } else {
        wine.program = QStandardPaths::findExecutable(loader);
    }
    if (wine.program.isEmpty()) {
        wine.problem = QStringLiteral("WINELOADER names %1, which is not there or cannot be run. Set WINELOADER to "
                                      "the wine program, or unset it.")
                           .arg(loader);
    }
    return wine;
}

// ---- Bottles ------------------------------------------------------------------------------------

// A runner folder that ships Proton (GE-Proton and the like) keeps its Wine below dist/ or files/,
// as Bottles finds it: by "proton" in the tool manifest's layer name or command line.
QString bottlesRunnerWine(const QString& runner)
{
    QString base = runner;
    if (const auto manifest = readKeyValues(runner + QStringLiteral("/toolmanifest.vdf"))) {
        const Node* top = descend(*manifest, {u"manifest"});
        if (top && (top->childText(u"compatmanager_layer_name").contains(u"proton") ||
                    top->childText(u"commandline").contains(u"proton"))) {
            if (QFileInfo(runner + QStringLiteral("/dist")).isDir())
                base = runner + QStringLiteral("/dist");
            else if (QFileInfo(runner + QStringLiteral("/files")).isDir())
                base = runner + QStringLiteral("/files");
        }
    }
    return base + QStringLiteral("/bin/wine");
}

std::optional<PrefixWine> bottlesWine(const QString& prefix, const QString& home)
{
    const QString config = prefix + QStringLiteral("/bottle.yml");
    if (!QFileInfo(config).isFile())
        return std::nullopt;
    const auto bottle = readYaml(config);
    if (!bottle || !bottle->IsMap())
        return std::nullopt;
    QString runner, arch;
    try {
        const YAML::Node& top = *bottle;
        if (top["Runner"] && top["Runner"].IsScalar())
            runner = QString::fromStdString(top["Runner"].as<std::string>());
        if (top["Arch"] && top["Arch"].IsScalar())
            arch = QString::fromStdString(top["Arch"].as<std::string>());
    } catch (const YAML::Exception&) {
        return std::nullopt;
    }

    PrefixWine wine;
    wine.source = PrefixWine::Source::Bottles;
    wine.name = runner;
    if (runner.isEmpty() || runner.contains(u'/') || runner == u"." || runner == u"..") {
        wine.problem = QStringLiteral("This bottle names no runner; choose one in the bottle's settings in Bottles.");
        return wine;
    }
    if (runner.startsWith(u"sys-")) {
        // Bottles runs `wine` from the PATH for its system runners, never wine64.
        wine = systemWineOnPath({QStringLiteral("wine")});
        wine.name = runner;
        if (!wine.found()) {
            wine.problem = QStringLiteral("This bottle runs the system's Wine, which was not found. Install Wine, "
                                          "or choose another runner for the bottle in Bottles.");
        }
        return wine;
    }

    // Runners sit beside the bottles folder; a bottle kept in a custom folder uses the installation's.
    QStringList dataRoots{home + QStringLiteral("/.local/share/bottles"),
                          home + QStringLiteral("/.var/app/com.usebottles.bottles/data/bottles")};
    if (QFileInfo(prefix).dir().dirName() == u"bottles")
        dataRoots.prepend(QDir::cleanPath(prefix + QStringLiteral("/../..")));
    for (const QString& root : std::as_const(dataRoots)) {
        const QString folder = root + QStringLiteral("/runners/") + runner;
        if (!QFileInfo(folder).isDir())
            continue;
        const QString program = bottlesRunnerWine(folder);
        // As Bottles does: a 64-bit bottle gets wine64 where the runner has one.
        if (arch == u"win64" && isProgram(program + QStringLiteral("64")))
            wine.program = program + QStringLiteral("64");
        else if (isProgram(program))
            wine.program = program;
        else
            wine.problem = QStringLiteral("This bottle's runner %1 has no wine program at %2; reinstall the runner "
                                          "in Bottles.")
                               .arg(runner, program);
        return wine;
    }
    wine.problem = QStringLiteral("This bottle's runner %1 is not installed; install it in Bottles (Preferences > "
                                  "Runners), or choose another runner for the bottle.")
                       .arg(runner);
    return wine;
}

// ---- Steam --------------------------------------------------------------------------------------

QStringList steamRoots(const QString& home)
{
    QStringList roots;
    QSet<QString> seen;
    for (const QString& root :
         QStringList{home + QStringLiteral("/.steam/steam"), home + QStringLiteral("/.steam/root"),
                     home + QStringLiteral("/.local/share/Steam"),
                     home + QStringLiteral("/.var/app/com.valvesoftware.Steam/.local/share/Steam"),
                     home + QStringLiteral("/.var/app/com.valvesoftware.Steam/data/Steam")}) {
        const QString canonical = QFileInfo(root).canonicalFilePath();
        if (canonical.isEmpty() || !QFileInfo(canonical).isDir() || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        roots << canonical;
    }
    return roots;
}

// The root itself and every library its libraryfolders.vdf lists.
QStringList steamLibraries(const QString& root)
{
    QStringList libraries{root};
    for (const QString& list : QStringList{root + QStringLiteral("/steamapps/libraryfolders.vdf"),
                                           root + QStringLiteral("/config/libraryfolders.vdf")}) {
        const auto nodes = readKeyValues(list);
        if (!nodes)
            continue;
        for (const Node& top : *nodes) {
            for (const Node& entry : top.children) {
                const QString path = entry.isBlock() ? entry.childText(u"path") : entry.text;
                if (QDir::isAbsolutePath(path) && !libraries.contains(path))
                    libraries << path;
            }
        }
    }
    return libraries;
}

// Steam's binary appinfo.vdf: a header, then one entry per app (its id, size, checksums and a tree of
// binary key-values), up to an app id 0. Since format 29 the keys are indexes into a table at the end.
class AppInfoReader
{
public:
    // The "appinfo" tree of one app; null when the file or the entry cannot be read.
    static std::optional<Node> read(const QString& path, quint32 appId)
    {
        const auto file = openRegularFile(path);
        if (!file)
            return std::nullopt;
        AppInfoReader reader;
        return reader.readEntry(*file, appId);
    }

private:
    std::optional<Node> readEntry(QFile& file, quint32 wanted)
    {
        quint32 magic = 0;
        if (!readU32(file, magic) || !file.seek(8))
            return std::nullopt;
        qint64 entriesEnd = file.size();
        qint64 checksumBytes = 0;
        switch (magic) {
        case 0x07564427: // Format 27: no checksum of the binary tree.
            checksumBytes = 40;
            break;
        case 0x07564428:
            checksumBytes = 60;
            break;
        case 0x07564429: {
            checksumBytes = 60;
            QByteArray offsetBytes = file.read(8);
            if (offsetBytes.size() != 8)
                return std::nullopt;
            entriesEnd = qFromLittleEndian<qint64>(offsetBytes.constData());
            if (!readKeyTable(file, entriesEnd) || !file.seek(16))
                return std::nullopt;
            m_indexedKeys = true;
            break;
        }
        default:
            return std::nullopt;
        }
        for (;;) {
            quint32 appId = 0, size = 0;
            if (!readU32(file, appId) || appId == 0 || !readU32(file, size))
                return std::nullopt;
            const qint64 next = file.pos() + size;
            if (size < checksumBytes || next > entriesEnd)
                return std::nullopt;
            if (appId != wanted) {
                if (!file.seek(next))
                    return std::nullopt;
                continue;
            }
            if (size > MaxAppInfoEntryBytes)
                return std::nullopt;
            const QByteArray entry = file.read(size);
            if (entry.size() != qsizetype(size))
                return std::nullopt;
            m_data = QByteArrayView(entry).sliced(checksumBytes);
            m_at = 0;
            std::vector<Node> top;
            if (!readMap(top, 0))
                return std::nullopt;
            for (Node& node : top) {
                if (node.key.compare(u"appinfo", Qt::CaseInsensitive) == 0)
                    return std::move(node);
            }
            return std::nullopt;
        }
    }

    static bool readU32(QFile& file, quint32& value)
    {
        const QByteArray bytes = file.read(4);
        if (bytes.size() != 4)
            return false;
        value = qFromLittleEndian<quint32>(bytes.constData());
        return true;
    }

    bool readKeyTable(QFile& file, qint64 offset)
    {
        if (offset < 16 || offset > file.size() || file.size() - offset > MaxAppInfoEntryBytes || !file.seek(offset))
            return false;
        const QByteArray table = file.readAll();
        if (table.size() < 4)
            return false;
        const qint32 count = qFromLittleEndian<qint32>(table.constData());
        qsizetype at = 4;
        for (qint32 i = 0; i < count; ++i) {
            const qsizetype end = table.indexOf('\0', at);
            if (end < 0)
                return false;
            m_keys << QString::fromUtf8(table.constData() + at, end - at);
            at = end + 1;
        }
        return true;
    }

    bool take(qsizetype bytes, QByteArrayView& out)
    {
        if (bytes > m_data.size() - m_at)
            return false;
        out = m_data.sliced(m_at, bytes);
        m_at += bytes;
        return true;
    }

    bool readString(QString& text)
    {
        const qsizetype end = m_data.indexOf('\0', m_at);
        if (end < 0)
            return false;
        text = QString::fromUtf8(m_data.sliced(m_at, end - m_at));
        m_at = end + 1;
        return true;
    }

    bool readKey(QString& key)
    {
        if (!m_indexedKeys)
            return readString(key);
        QByteArrayView bytes;
        if (!take(4, bytes))
            return false;
        const qint32 index = qFromLittleEndian<qint32>(bytes.data());
        if (index < 0 || index >= m_keys.size())
            return false;
        key = m_keys.at(index);
        return true;
    }

    bool readMap(std::vector<Node>& nodes, int depth)
    {
        if (depth > 64)
            return false;
        for (;;) {
            QByteArrayView typeByte;
            if (!take(1, typeByte))
                return false;
            const quint8 type = quint8(typeByte.front());
            if (type == 0x08 || type == 0x0b)
                return true;
            Node node;
            if (!readKey(node.key))
                return false;
            QByteArrayView bytes;
            switch (type) {
            case 0x00:
                node.block = true;
                if (!readMap(node.children, depth + 1))
                    return false;
                break;
            case 0x01:
                if (!readString(node.text))
                    return false;
                break;
            case 0x02: // int32
            case 0x04: // pointer
            case 0x06: // colour
                if (!take(4, bytes))
                    return false;
                node.text = QString::number(qFromLittleEndian<qint32>(bytes.data()));
                break;
            case 0x03:
                if (!take(4, bytes))
                    return false;
                node.text = QString::number(qFromLittleEndian<float>(bytes.data()));
                break;
            case 0x07: // uint64
                if (!take(8, bytes))
                    return false;
                node.text = QString::number(qFromLittleEndian<quint64>(bytes.data()));
                break;
            case 0x0a: // int64
                if (!take(8, bytes))
                    return false;
                node.text = QString::number(qFromLittleEndian<qint64>(bytes.data()));
                break;
            default:
                return false;
            }
            nodes.push_back(std::move(node));
        }
    }

    QStringList m_keys;
    bool m_indexedKeys = false;
    QByteArrayView m_data;
    qsizetype m_at = 0;
};

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
          m_libraries(steamLibraries(m_root))
    {
        if (const auto config = readKeyValues(m_root + QStringLiteral("/config/config.vdf"))) {
            const Node* mapping =
                descend(*config, {u"InstallConfigStore", u"Software", u"Valve", u"Steam", u"CompatToolMapping"});
            if (mapping)
                m_mapping = *mapping;
        }
        if (auto manifests =
                AppInfoReader::read(m_root + QStringLiteral("/appcache/appinfo.vdf"), SteamPlayManifestsAppId))
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
    const QStringList roots = steamRoots(home);
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
        for (const QString& listed : steamLibraries(candidate))
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

// ---- Lutris -------------------------------------------------------------------------------------

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
        for (const QString& root : steamRoots(home)) {
            protonFolders << root + QStringLiteral("/compatibilitytools.d/") + version;
            for (const QString& library : steamLibraries(root))
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

// ---- Heroic -------------------------------------------------------------------------------------

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

// "8.0" from "wine-8.0 (Debian 8.0~repack-4)"; empty when the program does not answer in time.
QString askVersion(const QString& program)
{
    if (!isProgram(program))
        return {};
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--version")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const QDeadlineTimer deadline(VersionTimeoutMs);
    process.start();
    if (!process.waitForStarted(int(deadline.remainingTime())) ||
        !process.waitForFinished(int(std::max<qint64>(deadline.remainingTime(), 0)))) {
        process.kill();
        process.waitForFinished(200);
        return {};
    }
    static const QRegularExpression version(QStringLiteral("^wine-(\\S+)"));
    const QRegularExpressionMatch match = version.match(QString::fromLocal8Bit(process.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

PrefixWine PrefixWine::forPrefix(const QString& prefixPath, const QString& home)
{
    if (auto loader = loaderWine())
        return *loader;
    const QString homeFolder = QDir::cleanPath(home.isEmpty() ? QDir::homePath() : home);
    // The path as given, not resolved: a Steam prefix is known by where it sits.
    const QString prefix = QDir::cleanPath(QDir(prefixPath).absolutePath());
    for (const auto& rule : {bottlesWine, lutrisWine, steamWine, heroicWine}) {
        if (auto wine = rule(prefix, homeFolder))
            return *wine;
    }
    return systemWine();
}

PrefixWine PrefixWine::systemWine()
{
    if (auto loader = loaderWine())
        return *loader;
    return systemWineOnPath({QStringLiteral("wine"), QStringLiteral("wine64")});
}

QString PrefixWine::versionOf(const QString& program)
{
    if (program.isEmpty())
        return {};
    static QMutex mutex;
    static QHash<QString, std::shared_future<QString>> answers;
    std::promise<QString> promise;
    std::shared_future<QString> answer;
    bool ask = false;
    {
        const QMutexLocker lock(&mutex);
        const auto it = answers.constFind(program);
        if (it != answers.constEnd()) {
            answer = *it;
        } else {
            answer = promise.get_future().share();
            answers.insert(program, answer);
            ask = true;
        }
    }
    if (ask)
        promise.set_value(askVersion(program));
    // Another thread is asking: wait for its answer, never longer than one question takes.
    if (answer.wait_for(std::chrono::milliseconds(VersionTimeoutMs + 500)) != std::future_status::ready)
        return {};
    return answer.get();
}

QString PrefixWine::label() const
{
    switch (source) {
    case Source::Loader:
    case Source::System: {
        const QString version = versionOf(program);
        const QString wine = version.isEmpty() ? QStringLiteral("Wine") : QStringLiteral("Wine ") + version;
        if (source == Source::Loader)
            return wine + QStringLiteral(" (WINELOADER)");
        return name.isEmpty() ? wine + QStringLiteral(" (system)")
                              : wine + QStringLiteral(" (system, runner %1)").arg(name);
    }
    case Source::Bottles:
        return QStringLiteral("Bottles runner ") + name;
    case Source::Lutris:
        return QStringLiteral("Lutris runner ") + name;
    case Source::Steam:
        return name;
    case Source::Heroic:
        return QStringLiteral("Heroic: ") + name;
    }
    return name;
}
