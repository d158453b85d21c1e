#include "ScratchWinePrefix.h"

#include "formats/KeyValuesText.h"
#include "wine/PrefixWine.h"
#include "wine/SteamAppInfo.h"
#include "wine/WineLauncher.h"

#include <QBuffer>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

#include <map>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Writes `bytes`, making the folders; a text that starts with "#!" becomes an executable script.
bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return !bytes.startsWith("#!") || file.setPermissions(file.permissions() | QFile::ExeOwner);
}

QByteArray littleEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// Steam's appinfo.vdf of format 27, 28 or 29, one entry per add(). Trees are given as key-value text;
// a text "i32:-5" is stored as that type (likewise f32, u64, i64, ptr, rgb), any other as a string.
struct AppInfoWriter
{
    int format = 29;
    QList<QByteArray> keys; // format 29's table

    QByteArray key(const QString& name)
    {
        if (format != 29)
            return name.toUtf8() + '\0';
        if (!keys.contains(name.toUtf8()))
            keys << name.toUtf8();
        return littleEndian(quint32(keys.indexOf(name.toUtf8())));
    }

    QByteArray tree(const std::vector<KeyValuesText::Node>& nodes)
    {
        static const QHash<QString, char> types{{u"i32"_s, 0x02}, {u"f32"_s, 0x03}, {u"ptr"_s, 0x04},
                                                {u"rgb"_s, 0x06}, {u"u64"_s, 0x07}, {u"i64"_s, 0x0a}};
        QByteArray out;
        for (const KeyValuesText::Node& node : nodes) {
            const char type = node.isBlock() ? 0x00 : types.value(node.text.section(u':', 0, 0), 0x01);
            out += type + key(node.key);
            const QString number = node.text.section(u':', 1);
            QByteArray value(type == 0x07 || type == 0x0a ? 8 : 4, '\0');
            if (type == 0x00)
                value = tree(node.children);
            else if (type == 0x01)
                value = node.text.toUtf8() + '\0';
            else if (type == 0x03)
                qToLittleEndian(number.toFloat(), value.data());
            else if (type == 0x07)
                qToLittleEndian(number.toULongLong(), value.data());
            else if (type == 0x0a)
                qToLittleEndian(number.toLongLong(), value.data());
            else
                qToLittleEndian(number.toInt(), value.data());
            out += value;
        }
        return out + '\x08';
    }

    void add(quint32 appId, const QString& text) { addTree(appId, tree(*KeyValuesText::parse(text.toUtf8()))); }
    void addTree(quint32 appId, const QByteArray& bytes)
    {
        const QByteArray fields(format == 27 ? 40 : 60, '\0');
        entries += littleEndian(appId) + littleEndian(quint32(fields.size() + bytes.size())) + fields + bytes;
    }

    QByteArray file() const
    {
        const QByteArray head = littleEndian(0x07564400 + format / 10 * 16 + format % 10) + littleEndian(1);
        if (format != 29)
            return head + entries + littleEndian(0);
        QByteArray offset(8, '\0');
        qToLittleEndian(qint64(16 + entries.size() + 4), offset.data());
        QByteArray table = littleEndian(quint32(keys.size()));
        for (const QByteArray& name : keys)
            table += name + '\0';
        return head + offset + entries + littleEndian(0) + table;
    }

    QByteArray entries;
};

// An unrelated app, then the Steam Play manifest naming the app id of the tool `tool`.
QByteArray appInfo(const QString& tool, quint32 toolAppId)
{
    AppInfoWriter writer;
    writer.add(10, QString());
    writer.add(891390, u"\"appinfo\" { \"extended\" { \"compat_tools\" { \"%1\" { \"appid\" \"i32:%2\" } } } }"_s.arg(
                           tool, QString::number(toolAppId)));
    return writer.file();
}

QString rendered(const KeyValuesText::Node& node)
{
    if (!node.isBlock())
        return node.key + u'=' + node.text;
    QStringList children;
    for (const KeyValuesText::Node& child : node.children)
        children << rendered(child);
    return node.key + u'{' + children.join(u' ') + u'}';
}

const QString steam = u".local/share/Steam"_s;
const QString steamPrefix = steam + u"/steamapps/compatdata/220/pfx"_s;
const QString steamEnvironment = u"STEAM_COMPAT_DATA_PATH=$HOME/"_s + steam + u"/steamapps/compatdata/220"_s;
const QString bottle = u".local/share/bottles/bottles/Game"_s;
const QString runners = u".local/share/bottles/runners/"_s;
const QString lutrisBuilds = u".local/share/lutris/runners/wine/"_s;
const QString lutrisGame = u"game:\n  prefix: ~/Games/game\n"_s;
const QString heroicGame =
    u".config/heroic/GamesConfig/Quail.json|{\"Quail\": {\"winePrefix\": \"~/Games/Heroic/Prefixes/Quail\""_s;
const QString script = u"|#!/bin/sh\n"_s;

QString config(const QString& mapping)
{
    return steam +
           u"/config/config.vdf|\"InstallConfigStore\" { \"Software\" { \"Valve\" { \"Steam\" { "
           "\"CompatToolMapping\" { "_s +
           mapping + u" } } } } }"_s;
}

} // namespace

class TestPrefixWine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void resolvesEachLayout_data();
    void resolvesEachLayout();
    void runsUnderEachManager_data();
    void runsUnderEachManager();
    void readsAppInfo_data();
    void readsAppInfo();

private:
    ScratchWinePrefix m_prefix;
    QString m_notReady;
    QString m_systemWine;
    EnvironmentGuard m_environment;
};

void TestPrefixWine::initTestCase()
{
    m_environment.set("WINELOADER", QString());
    m_systemWine = PrefixWine::systemWine().program;
    m_notReady = m_prefix.create();
    if (m_notReady.isEmpty() && !QFile::exists(QStringLiteral(KESTRIN_ECHO_EXE)))
        m_notReady = u"the Windows test program was not built (no MinGW-w64)"_s;
}

void TestPrefixWine::init()
{
    QVERIFY(m_prefix.waitForServerExit(30000));
}

void TestPrefixWine::resolvesEachLayout_data()
{
    // setup: "path|text" writes a file under the scratch home ("$HOME" stands for it), "fifo:path" makes
    // a FIFO, "env:NAME=value" sets a variable, "appinfo:tool=id" writes Steam's appinfo.vdf.
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<PrefixWine::Source>("source");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("problem");
    using S = PrefixWine::Source;
    const QStringList none;
    const QStringList bottleFiles{bottle + u"/bottle.yml|Runner: soda-9.0-1\nArch: win32\n"_s,
                                  runners + u"soda-9.0-1/bin/wine"_s + script};

    QTest::newRow("system wine") << none << u".wine"_s << S::System << u"bin/wine"_s << none << none
                                 << u"Wine 8.0 (system)"_s << QString();
    QTest::newRow("no wine on the PATH")
        << QStringList{u"env:PATH=$HOME/nowhere"_s} << u".wine"_s << S::System << QString() << none << none
        << u"Wine (system)"_s << u"Wine was not found. Install Wine, or set WINELOADER to the wine program."_s;
    QTest::newRow("WINELOADER by name") << QStringList{u"env:WINELOADER=wine"_s} << u".wine"_s << S::Loader
                                        << u"bin/wine"_s << none << none << u"Wine 8.0 (WINELOADER)"_s << QString();
    QTest::newRow("WINELOADER not there")
        << QStringList{u"env:WINELOADER=$HOME/gone/wine"_s} << u".wine"_s << S::Loader << QString() << none << none
        << u"Wine (WINELOADER)"_s << u"WINELOADER names $HOME/gone/wine, which is not there"_s;
    QTest::newRow("WINELOADER outranks a bottle")
        << bottleFiles + QStringList{u"env:WINELOADER=$HOME/bin/wine"_s} << bottle << S::Loader << u"bin/wine"_s << none
        << none << u"Wine 8.0 (WINELOADER)"_s << QString();

    QTest::newRow("bottle runner") << bottleFiles << bottle << S::Bottles << runners + u"soda-9.0-1/bin/wine"_s << none
                                   << none << u"Bottles runner soda-9.0-1"_s << QString();
    QTest::newRow("64-bit bottle takes wine64")
        << QStringList{bottle + u"/bottle.yml|Runner: soda-9.0-1\nArch: win64\n"_s,
                       runners + u"soda-9.0-1/bin/wine"_s + script, runners + u"soda-9.0-1/bin/wine64"_s + script}
        << bottle << S::Bottles << runners + u"soda-9.0-1/bin/wine64"_s << none << none
        << u"Bottles runner soda-9.0-1"_s << QString();
    QTest::newRow("bottle with a GE-Proton runner")
        << QStringList{bottle + u"/bottle.yml|Runner: GE-Proton9-1\n"_s,
                       runners + u"GE-Proton9-1/toolmanifest.vdf|\"manifest\" { \"commandline\" \"/proton %verb%\" }"_s,
                       runners + u"GE-Proton9-1/files/bin/wine"_s + script}
        << bottle << S::Bottles << runners + u"GE-Proton9-1/files/bin/wine"_s << none << none
        << u"Bottles runner GE-Proton9-1"_s << QString();
    QTest::newRow("bottle runner not installed")
        << QStringList{bottle + u"/bottle.yml|Runner: soda-7.0-9\n"_s} << bottle << S::Bottles << QString() << none
        << none << u"Bottles runner soda-7.0-9"_s
        << u"This bottle's runner soda-7.0-9 is not installed; install it in Bottles"_s;
    QTest::newRow("bottle that names no runner")
        << QStringList{bottle + u"/bottle.yml|Name: Gaming\n"_s} << bottle << S::Bottles << QString() << none << none
        << u"Bottles runner "_s << u"This bottle names no runner"_s;
    QTest::newRow("sys-wine bottle") << QStringList{bottle + u"/bottle.yml|Runner: sys-wine-9.0\n"_s} << bottle
                                     << S::System << u"bin/wine"_s << none << none
                                     << u"Wine 8.0 (system, runner sys-wine-9.0)"_s << QString();
    QTest::newRow("bottle.yml a FIFO") << QStringList{u"fifo:"_s + bottle + u"/bottle.yml"_s} << bottle << S::System
                                       << u"bin/wine"_s << none << none << u"Wine 8.0 (system)"_s << QString();

    QTest::newRow("Lutris game's version")
        << QStringList{u".config/lutris/games/game-1.yml|"_s + lutrisGame +
                           u"wine:\n  version: lutris-7.2-2-x86_64\n"_s,
                       lutrisBuilds + u"lutris-7.2-2-x86_64/bin/wine"_s + script}
        << u"Games/game"_s << S::Lutris << lutrisBuilds + u"lutris-7.2-2-x86_64/bin/wine"_s << none << none
        << u"Lutris runner lutris-7.2-2-x86_64"_s << QString();
    QTest::newRow("Lutris runner's default version")
        << QStringList{u".local/share/lutris/games/game-1.yml|"_s + lutrisGame,
                       u".local/share/lutris/runners/wine.yml|wine:\n  version: lutris-7.2-2-x86_64\n"_s,
                       lutrisBuilds + u"lutris-7.2-2-x86_64/bin/wine"_s + script,
                       lutrisBuilds + u"wine-ge-8-26-x86_64/bin/wine"_s + script}
        << u"Games/game"_s << S::Lutris << lutrisBuilds + u"lutris-7.2-2-x86_64/bin/wine"_s << none << none
        << u"Lutris runner lutris-7.2-2-x86_64"_s << QString();
    QTest::newRow("Lutris newest build when none is set")
        << QStringList{u".local/share/lutris/games/game-1.yml|"_s + lutrisGame,
                       lutrisBuilds + u"lutris-7.2-2-x86_64/bin/wine"_s + script,
                       lutrisBuilds + u"wine-ge-8-26-x86_64/bin/wine"_s + script}
        << u"Games/game"_s << S::Lutris << lutrisBuilds + u"wine-ge-8-26-x86_64/bin/wine"_s << none << none
        << u"Lutris runner wine-ge-8-26-x86_64"_s << QString();
    QTest::newRow("Flatpak Lutris custom path")
        << QStringList{u".var/app/net.lutris.Lutris/data/lutris/games/game-1.yml|"_s + lutrisGame +
                           u"wine:\n  version: custom\n  custom_wine_path: ~/wines/mine/bin/wine\n"_s,
                       u"wines/mine/bin/wine"_s + script}
        << u"Games/game"_s << S::Lutris << u"wines/mine/bin/wine"_s << none << none << u"Lutris runner custom"_s
        << QString();
    QTest::newRow("Lutris system version")
        << QStringList{u".config/lutris/games/game-1.yml|"_s + lutrisGame + u"wine:\n  version: system\n"_s}
        << u"Games/game"_s << S::System << u"bin/wine"_s << none << none << u"Wine 8.0 (system)"_s << QString();
    QTest::newRow("Lutris build not installed, past a FIFO and a broken file")
        << QStringList{u"fifo:.config/lutris/games/a.yml"_s, u".config/lutris/games/b.yml|game: [prefix: }\n"_s,
                       u".config/lutris/games/c.yml|"_s + lutrisGame + u"wine:\n  version: lutris-6.0\n"_s}
        << u"Games/game"_s << S::Lutris << QString() << none << none << u"Lutris runner lutris-6.0"_s
        << u"This game's Wine version lutris-6.0 is not installed; install it in Lutris"_s;

    const QStringList steamRun{u"run"_s};
    const QStringList steamVariables{steamEnvironment, u"STEAM_COMPAT_CLIENT_INSTALL_PATH=$HOME/"_s + steam,
                                     u"STEAM_COMPAT_APP_ID=220"_s};
    QTest::newRow("Steam default mapping 0")
        << QStringList{config(u"\"0\" { \"name\" \"proton_8\" }"_s),
                       steam + u"/steamapps/common/Proton 8.0/proton"_s + script}
        << steamPrefix << S::Steam << steam + u"/steamapps/common/Proton 8.0/proton"_s << steamRun << steamVariables
        << u"Proton 8.0"_s << QString();
    QTest::newRow("Steam tool from appinfo.vdf in another library")
        << QStringList{config(u"\"0\" { \"name\" \"proton_9\" }"_s), u"appinfo:proton_9=2805730"_s,
                       steam +
                           u"/steamapps/libraryfolders.vdf|\"libraryfolders\" { \"1\" { \"path\" \"$HOME/Lib\" } }"_s,
                       u"Lib/steamapps/appmanifest_2805730.acf|\"AppState\" { \"name\" \"Proton 9.0 (Beta)\" "
                       "\"installdir\" \"Proton 9.0 (Beta)\" }"_s,
                       u"Lib/steamapps/common/Proton 9.0 (Beta)/proton"_s + script}
        << steamPrefix << S::Steam << u"Lib/steamapps/common/Proton 9.0 (Beta)/proton"_s << steamRun << steamVariables
        << u"Proton 9.0 (Beta)"_s << QString();
    QTest::newRow("Steam game's own custom tool outranks the default")
        << QStringList{config(u"\"0\" { \"name\" \"proton_8\" } \"220\" { \"name\" \"GE-Proton8-26\" }"_s),
                       steam + u"/steamapps/common/Proton 8.0/proton"_s + script,
                       steam + u"/compatibilitytools.d/GE/compatibilitytool.vdf|\"compatibilitytools\" { "
                               "\"compat_tools\" { \"GE-Proton8-26\" { \"install_path\" \".\" } } }"_s,
                       steam + u"/compatibilitytools.d/GE/proton"_s + script}
        << steamPrefix << S::Steam << steam + u"/compatibilitytools.d/GE/proton"_s << steamRun << steamVariables
        << u"GE-Proton8-26"_s << QString();
    QTest::newRow("Steam falls back to the Proton that last ran it")
        << QStringList{config(u"\"0\" { \"name\" \"proton_9\" }"_s),
                       steam + u"/steamapps/compatdata/220/config_info|8.0-104\n$HOME/"_s + steam +
                           u"/steamapps/common/Proton 7.0/dist/share/fonts/\n"_s,
                       steam + u"/steamapps/common/Proton 7.0/proton"_s + script}
        << steamPrefix << S::Steam << steam + u"/steamapps/common/Proton 7.0/proton"_s << steamRun << steamVariables
        << u"Proton 7.0"_s << QString();
    QTest::newRow("Steam tool not installed")
        << QStringList{config(u"\"0\" { \"name\" \"proton_9\" }"_s), u"fifo:"_s + steam + u"/appcache/appinfo.vdf"_s}
        << steamPrefix << S::Steam << QString() << none << none << u"proton_9"_s
        << u"This game is set to run with proton_9, which is not installed"_s;

    const QString heroicWine = u".config/heroic/tools/wine/Wine-GE-Proton8-26/bin/wine"_s;
    const QString heroicProton = u".config/heroic/tools/proton/GE-Proton9-1/proton"_s;
    QTest::newRow("Heroic Wine")
        << QStringList{heroicGame + u", \"wineVersion\": {\"bin\": \"$HOME/"_s + heroicWine +
                           u"\", \"name\": \"Wine-GE-Proton8-26\", \"type\": \"wine\"}}, \"version\": \"v0\"}"_s,
                       heroicWine + script}
        << u"Games/Heroic/Prefixes/Quail"_s << S::Heroic << heroicWine << none << none
        << u"Heroic: Wine-GE-Proton8-26"_s << QString();
    QTest::newRow("Heroic Proton") << QStringList{heroicGame + u", \"wineVersion\": {\"bin\": \"$HOME/"_s +
                                                      heroicProton +
                                                      u"\", \"name\": \"GE-Proton9-1\", \"type\": \"proton\"}}}"_s,
                                                  heroicProton + script}
                                   << u"Games/Heroic/Prefixes/Quail/pfx"_s << S::Heroic << heroicProton << steamRun
                                   << QStringList{u"STEAM_COMPAT_DATA_PATH=$HOME/Games/Heroic/Prefixes/Quail"_s,
                                                  u"STEAM_COMPAT_CLIENT_INSTALL_PATH=$HOME/.steam/steam"_s,
                                                  u"STEAM_COMPAT_APP_ID=0"_s, u"SteamAppId=0"_s}
                                   << u"Heroic: GE-Proton9-1"_s << QString();
    QTest::newRow("Flatpak Heroic default Wine, past a FIFO")
        << QStringList{u".var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/Quail.json|{\"Quail\": "
                       "{\"winePrefix\": \"~/Q\"}}"_s,
                       u"fifo:.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/Fifo.json"_s,
                       u".var/app/com.heroicgameslauncher.hgl/config/heroic/config.json|{\"defaultSettings\": "
                       "{\"wineVersion\": {\"bin\": \"$HOME/"_s +
                           heroicWine + u"\", \"name\": \"Wine-GE-Proton8-26\", \"type\": \"wine\"}}}"_s,
                       heroicWine + script}
        << u"Q"_s << S::Heroic << heroicWine << none << none << u"Heroic: Wine-GE-Proton8-26"_s << QString();
}

void TestPrefixWine::resolvesEachLayout()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, prefix);
    QFETCH(PrefixWine::Source, source);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QString, label);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString home = QFileInfo(dir.path()).canonicalFilePath();
    const auto inHome = [&](QString text) {
        return text.replace(u"$HOME"_s, home);
    };
    // `wine` on the PATH is a stand-in that answers --version as Debian's Wine 8.0 does.
    QVERIFY(writeFile(home + u"/bin/wine"_s, "#!/bin/sh\necho 'wine-8.0 (Debian 8.0~repack-4)'\n"));
    EnvironmentGuard variables;
    variables.set("PATH", home + u"/bin"_s);
    for (const QString& step : std::as_const(setup)) {
        if (step.startsWith(u"env:")) {
            const QString assignment = inHome(step.mid(4));
            variables.set(assignment.section(u'=', 0, 0).toUtf8(), assignment.section(u'=', 1));
        } else if (step.startsWith(u"fifo:")) {
            QVERIFY(QDir().mkpath(QFileInfo(home + u'/' + step.mid(5)).path()));
            QCOMPARE(::mkfifo(QFile::encodeName(home + u'/' + step.mid(5)).constData(), 0644), 0);
        } else if (step.startsWith(u"appinfo:")) {
            const QString tool = step.mid(8).section(u'=', 0, 0);
            QVERIFY(writeFile(home + u'/' + steam + u"/appcache/appinfo.vdf"_s,
                              appInfo(tool, step.section(u'=', 1).toUInt())));
        } else {
            QVERIFY(writeFile(home + u'/' + step.section(u'|', 0, 0), inHome(step.section(u'|', 1)).toUtf8()));
        }
    }

    const PrefixWine wine = PrefixWine::forPrefix(home + u'/' + prefix, home);
    QCOMPARE(wine.source, source);
    QCOMPARE(wine.program, program.isEmpty() ? QString() : home + u'/' + program);
    QCOMPARE(wine.arguments, arguments);
    QStringList variablesSet;
    for (const auto& [name, value] : wine.environment)
        variablesSet << name + u'=' + value;
    for (QString& expected : environment)
        expected = inHome(expected);
    QCOMPARE(variablesSet, environment);
    QCOMPARE(wine.label(), label);
    QVERIFY2(wine.problem.startsWith(inHome(problem)) && wine.problem.isEmpty() == problem.isEmpty(),
             qPrintable(wine.problem));
    QCOMPARE(wine.found(), !program.isEmpty());
    // What the status bar shows must read as a sentence even when nothing names a build.
    const QString shown = wine.shownLabel();
    QVERIFY2(!shown.isEmpty() && !shown.startsWith(u',') && !shown.contains(u" ,"_s) && !shown.endsWith(u' '),
             qPrintable(shown));
}

void TestPrefixWine::runsUnderEachManager_data()
{
    // layout: where the prefix appears, its manager's files and the stand-in at the runner's place.
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("runner");
    QTest::addColumn<bool>("proton");
    QTest::newRow("Lutris") << u"Games/game"_s
                            << QStringList{u".config/lutris/games/game-1.yml|"_s + lutrisGame +
                                           u"wine:\n  version: lutris-7.2-2-x86_64\n"_s}
                            << lutrisBuilds + u"lutris-7.2-2-x86_64/bin/wine"_s << false;
    QTest::newRow("Steam") << steamPrefix << QStringList{config(u"\"220\" { \"name\" \"proton_8\" }"_s)}
                           << steam + u"/steamapps/common/Proton 8.0/proton"_s << true;
    QTest::newRow("Heroic") << u"Games/Heroic/Prefixes/Quail/pfx"_s
                            << QStringList{heroicGame + u", \"wineVersion\": {\"bin\": \"$HOME/runner\", \"name\": "
                                                        "\"GE-Proton9-1\", \"type\": \"proton\"}}}"_s}
                            << u"runner"_s << true;
    // Last: its bottle.yml lies in the shared prefix and is removed after the run.
    QTest::newRow("Bottles") << bottle << QStringList{bottle + u"/bottle.yml|Runner: soda-9.0-1\n"_s}
                             << runners + u"soda-9.0-1/bin/wine"_s << false;
}

void TestPrefixWine::runsUnderEachManager()
{
    if (!m_notReady.isEmpty())
        QSKIP(qPrintable(m_notReady));
    QFETCH(QString, prefix);
    QFETCH(QStringList, files);
    QFETCH(QString, runner);
    QFETCH(bool, proton);
    ScratchHome scratch;
    QVERIFY(scratch.isValid());
    const QString home = scratch.path();
    const QString record = home + u"/record"_s;
    QVERIFY(QDir().mkpath(QFileInfo(home + u'/' + prefix).path()));
    QVERIFY(QFile::link(m_prefix.path(), home + u'/' + prefix));
    for (const QString& file : std::as_const(files))
        QVERIFY(writeFile(home + u'/' + file.section(u'|', 0, 0),
                          file.section(u'|', 1).replace(u"$HOME"_s, home).toUtf8()));
    const QString tag = QString::fromUtf8(QTest::currentDataTag());
    // Proton's stand-in takes "run" off as Proton does and runs the prefix in STEAM_COMPAT_DATA_PATH/pfx.
    const QString standIn = proton ? u"#!/bin/sh\necho \"%1 $0 $* $STEAM_COMPAT_DATA_PATH\" >> '%2'\nshift\n"
                                     "WINEPREFIX=\"$STEAM_COMPAT_DATA_PATH/pfx\" exec '%3' \"$@\"\n"_s
                                   : u"#!/bin/sh\necho \"%1 $0\" >> '%2'\nexec '%3' \"$@\"\n"_s;
    QVERIFY(writeFile(home + u'/' + runner, standIn.arg(tag, record, m_systemWine).toUtf8()));
    const QString exe = u"Echo/"_s + tag + u".exe"_s;
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), exe));
    QFile::remove(m_prefix.driveC(exe + u".cmdline"_s));

    const PrefixWine wine = PrefixWine::forPrefix(home + u'/' + prefix);
    qInfo().noquote() << tag << "prefix runs under" << wine.label() << "-" << wine.program;
    const QString line = u"C:\\Echo\\"_s + tag + u".exe one \"two three\""_s;
    const CommandLauncher::Outcome outcome = WineLauncher().RunAndWait(home + u'/' + prefix, line, {});
    QFile::remove(m_prefix.path() + u"/bottle.yml"_s);
    QVERIFY2(outcome.started, qPrintable(outcome.failure));
    QCOMPARE(outcome.exitCode, 7);

    QFile recorded(record);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    QString expected = tag + u' ' + home + u'/' + runner;
    if (proton)
        expected += u" run "_s + WineLauncher::launcherFor(m_prefix.path()) + u' ' + wine.environment.value(0).second;
    QCOMPARE(QString::fromUtf8(recorded.readAll()).trimmed(), expected);
    QFile cmdline(m_prefix.driveC(exe + u".cmdline"_s));
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    const QByteArray bytes = cmdline.readAll();
    QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2), line);
}

void TestPrefixWine::readsAppInfo_data()
{
    // file: an appinfo.vdf; tree: the Steam Play manifest's top as rendered(), empty when nothing is read.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("tree");
    const QString other = u"\"appinfo\" { \"common\" { \"name\" \"Other\" } }"_s;
    const QString manifest =
        u"\"appinfo\" { \"appid\" \"i32:891390\" \"common\" { \"name\" \"Steam Play\" \"size\" "
        "\"u64:18446744073709551615\" \"delta\" \"i64:-9\" \"scale\" \"f32:1.5\" \"ptr\" \"ptr:7\" "
        "\"tint\" \"rgb:-1\" } }"_s;
    const QString read = u"appinfo{appid=891390 common{name=Steam Play size=18446744073709551615 delta=-9 "
                         "scale=1.5 ptr=7 tint=-1}}"_s;
    const auto file = [&](int format, const QString& tree, const QByteArray& raw = {}) {
        AppInfoWriter writer{format, {}, {}};
        writer.add(10, other);
        if (raw.isEmpty())
            writer.add(891390, tree);
        else
            writer.addTree(891390, raw);
        return writer.file();
    };
    // Format 27 and 28 trees by hand: a table, a text.
    const auto table = [](const QByteArray& key) -> QByteArray {
        return '\x00' + key + '\0';
    };
    const auto text = [](const QByteArray& key, const QByteArray& value) -> QByteArray {
        return '\x01' + key + '\0' + value + '\0';
    };
    const auto patched = [](QByteArray bytes, qsizetype at, quint32 value) {
        qToLittleEndian(value, bytes.data() + at);
        return bytes;
    };
    for (const int format : {27, 28, 29})
        QTest::addRow("format %d, past another app", format) << file(format, manifest) << read;
    AppInfoWriter otherOnly{28, {}, {}};
    otherOnly.add(10, other);
    QTest::newRow("app not in the file") << otherOnly.file() << QString();
    QTest::newRow("no appinfo at the top") << file(29, u"\"other\" { }"_s) << QString();
    QTest::newRow("alternate end byte") << file(27, {}, table("appinfo") + text("a", "b") + "\x0b\x0b")
                                        << u"appinfo{a=b}"_s;
    QByteArray deep = table("appinfo");
    QString deepTree = u"appinfo{}"_s;
    for (int depth = 2; depth <= SteamAppInfo::MaxDepth; ++depth) {
        deep += table("t");
        deepTree.insert(deepTree.size() - depth + 1, u"t{}"_s);
    }
    QTest::newRow("tables as deep as allowed") << file(27, {}, deep + QByteArray(65, '\x08')) << deepTree;
    QTest::newRow("tables one deeper") << file(27, {}, deep + table("t") + QByteArray(66, '\x08')) << QString();

    const QByteArray valid29 = file(29, manifest);
    const qsizetype tableAt = qFromLittleEndian<qint64>(valid29.constData() + 8);
    QTest::newRow("unknown format") << patched(valid29, 0, 0x07564426) << QString();
    QTest::newRow("header cut short") << valid29.left(12) << QString();
    QTest::newRow("entry larger than the file") << patched(file(28, manifest), 12, 0x7fffffff) << QString();
    AppInfoWriter manifestOnly{27, {}, {}};
    manifestOnly.add(891390, manifest);
    QTest::newRow("entry smaller than its fields") << patched(manifestOnly.file(), 12, 39) << QString();
    QTest::newRow("tree cut short") << file(27, {}, table("appinfo") + text("a", "b") + '\x08') << QString();
    QTest::newRow("text without its end") << file(28, {}, table("appinfo") + text("a", "bc").chopped(1)) << QString();
    QTest::newRow("unknown value type") << file(28, {}, table("appinfo") + "\x05w\0\0\0\x08\x08"_ba) << QString();
    QTest::newRow("key number past the table")
        << file(29, {}, "\x00"_ba + littleEndian(0) + "\x01"_ba + littleEndian(99) + "x\0\x08\x08"_ba) << QString();
    QTest::newRow("key table past the end") << patched(valid29, 8, quint32(valid29.size() + 1)) << QString();
    QTest::newRow("key table inside the header") << patched(valid29, 8, 12) << QString();
    QTest::newRow("key table short of its count")
        << patched(valid29, tableAt, qFromLittleEndian<quint32>(valid29.constData() + tableAt) + 1) << QString();
}

void TestPrefixWine::readsAppInfo()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, tree);
    QBuffer buffer(&file);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    const auto top = SteamAppInfo::read(buffer, 891390);
    QCOMPARE(top ? rendered(*top) : QString(), tree);
}

QTEST_GUILESS_MAIN(TestPrefixWine)
#include "tst_prefixwine.moc"
