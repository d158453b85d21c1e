#include "SmallPrefix.h"

#include "base/KestrinError.h"
#include "desktop/SystemIconList.h"
#include "hive/PrefixHealth.h"
#include "inventory/PlatformVersion.h"
#include "inventory/PrefixDiscovery.h"
#include "inventory/ProgramListModel.h"
#include "inventory/ProgramScan.h"
#include "inventory/RegistryAccess.h"
#include "prefix/PrefixChoice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace SmallPrefix;

namespace {

// Runs `check` as a user who may read the prefix but not change it; its result is the exit status.
// Root passes every permission check, so root runs it in a child process as nobody.
int asReader(const QString& folder, const std::function<int()>& check)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::geteuid() != 0) {
        ::chmod(QByteArray(path + "/system.reg").constData(), 0444);
        ::chmod(QByteArray(path + "/user.reg").constData(), 0444);
        ::chmod(path.constData(), 0555);
        const int status = check();
        ::chmod(path.constData(), 0755);
        return status;
    }
    // Owned by root and readable by all: nobody may read, not write.
    for (QByteArray p = path; p != "/" && !p.isEmpty(); p = QFileInfo(QString::fromLocal8Bit(p)).path().toLocal8Bit())
        ::chmod(p.constData(), 0755);
    ::chmod(QByteArray(path + "/system.reg").constData(), 0644);
    ::chmod(QByteArray(path + "/user.reg").constData(), 0644);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

} // namespace

class TestPrefixes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void discoversEveryLayout();
    void healthOfBadPrefixes_data();
    void healthOfBadPrefixes();
    void describesTheWindowsVersion_data();
    void describesTheWindowsVersion();
    void readOnlyPrefixListsItsPrograms();
    void choosesThePrefix_data();
    void choosesThePrefix();

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QString home(const QString& relative) const { return m_home->path() + u'/' + relative; }
};

void TestPrefixes::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
}

void TestPrefixes::discoversEveryLayout()
{
    QVERIFY(makePrefix(home(u".wine"_s), 3, "win10"));
    QVERIFY(makePrefix(home(u".local/share/wineprefixes/tricks"_s), 1));
    QVERIFY(QFile::link(u"/nonexistent/prefix"_s, home(u".local/share/wineprefixes/dangling"_s)));
    QVERIFY(makePrefix(home(u".local/share/bottles/bottles/Gaming"_s), 2));
    QVERIFY(QDir().mkpath(home(u".local/share/bottles/bottles/NotYetSetUp"_s)));
    QVERIFY(makePrefix(home(u".var/app/com.usebottles.bottles/data/bottles/bottles/Office"_s), 0));
    // Lutris: a game without a name, one with a name whose prefix another finding has, and a broken file.
    QVERIFY(makePrefix(home(u"Games/witcher"_s), 4));
    QVERIFY(writeFile(home(u".config/lutris/games/the-witcher-3-1612345678.yml"_s),
                      "game:\n  exe: /x/witcher3.exe\n  prefix: ~/Games/witcher\nwine:\n  version: lutris-7\n"));
    QVERIFY(writeFile(home(u".local/share/lutris/games/tricks-2.yml"_s),
                      "name: Tricks Game\ngame:\n  prefix: " + home(u".local/share/wineprefixes/tricks"_s).toUtf8() +
                          "\n"));
    QVERIFY(writeFile(home(u".config/lutris/games/broken-1.yml"_s), "game: [prefix: }\n  : :\n"));
    // Flatpak Lutris keeps game files in its config folder (older) or its data folder.
    QVERIFY(makePrefix(home(u"Games/flat"_s), 1));
    QVERIFY(writeFile(home(u".var/app/net.lutris.Lutris/config/lutris/games/flat-1.yml"_s),
                      "game:\n  prefix: ~/Games/flat\n"));
    QVERIFY(makePrefix(home(u"Games/data"_s), 2));
    QVERIFY(writeFile(home(u".var/app/net.lutris.Lutris/data/lutris/games/data-2.yml"_s),
                      "name: Data Game\ngame:\n  prefix: ~/Games/data\n"));
    // Steam: its own library, and a second one that libraryfolders.vdf lists.
    const QString steam = home(u".local/share/Steam"_s);
    const QString second = home(u"SteamLibrary"_s);
    QVERIFY(writeFile(steam + u"/steamapps/libraryfolders.vdf"_s,
                      "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + steam.toUtf8() +
                          "\"\n\t\t\"apps\" { \"220\" \"1\" }\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" +
                          second.toUtf8() + "\"\n\t}\n}\n"));
    QVERIFY(makePrefix(steam + u"/steamapps/compatdata/220/pfx"_s, 5));
    QVERIFY(writeFile(steam + u"/steamapps/appmanifest_220.acf"_s,
                      "\"AppState\"\n{\n\t\"appid\"\t\t\"220\"\n\t\"name\"\t\t\"Half-Life 2\"\n}\n"));
    QVERIFY(QDir().mkpath(steam + u"/steamapps/compatdata/228980"_s)); // a runtime's folder, no pfx
    QVERIFY(makePrefix(second + u"/steamapps/compatdata/730/pfx"_s, 6));
    QVERIFY(writeFile(second + u"/steamapps/appmanifest_730.acf"_s,
                      "\"AppState\" { \"appid\" \"730\" \"name\" \"Counter \\\"Strike\\\" 2\" }"));
    QVERIFY(makePrefix(second + u"/steamapps/compatdata/999/pfx"_s, 1)); // no manifest
    // Heroic: a game's Wine prefix, a Proton game's compat data folder, the default prefix, and the
    // folders of both prefix folders (one made by Proton).
    const QString heroic = home(u"Games/Heroic/Prefixes"_s);
    QVERIFY(writeFile(home(u".config/heroic/GamesConfig/Quail.json"_s),
                      R"({"Quail": {"winePrefix": "~/Games/Heroic/Prefixes/Quail"}, "version": "v0"})"));
    QVERIFY(writeFile(home(u".config/heroic/GamesConfig/Proton.json"_s),
                      R"({"Proton": {"winePrefix": "~/Games/Heroic/Prefixes/Kestrel",
                          "wineVersion": {"bin": "/x/proton", "type": "proton"}}})"));
    QVERIFY(writeFile(home(u".config/heroic/config.json"_s),
                      R"({"defaultSettings": {"winePrefix": "~/Games/Heroic/Prefixes/default",
                          "defaultWinePrefix": "~/HeroicPrefixes", "wineVersion": {"type": "wine"}}})"));
    QVERIFY(makePrefix(heroic + u"/Quail"_s, 1));
    QVERIFY(makePrefix(heroic + u"/Kestrel/pfx"_s, 2));
    QVERIFY(makePrefix(heroic + u"/default"_s, 0));
    QVERIFY(makePrefix(heroic + u"/Loose"_s, 3));
    QVERIFY(makePrefix(heroic + u"/LooseProton/pfx"_s, 4));
    QVERIFY(makePrefix(home(u"HeroicPrefixes/Other"_s), 5));
    const QString flatpakHeroic = home(u".var/app/com.heroicgameslauncher.hgl/config/heroic"_s);
    QVERIFY(QDir().mkpath(flatpakHeroic));
    QCOMPARE(::mkfifo(QFile::encodeName(flatpakHeroic + u"/config.json"_s).constData(), 0644), 0); // never opened
    QVERIFY(makePrefix(home(u".PlayOnLinux/wineprefix/Office2010"_s), 2));

    struct Expected
    {
        QString name, origin, path;
        int count;
    };
    const QList<Expected> expected{
        {u".wine"_s, u"Wine"_s, home(u".wine"_s), 3},
        {u"tricks"_s, u"Wine"_s, home(u".local/share/wineprefixes/tricks"_s), 1},
        {u"Gaming"_s, u"Bottles"_s, home(u".local/share/bottles/bottles/Gaming"_s), 2},
        {u"Office"_s, u"Bottles (Flatpak)"_s, home(u".var/app/com.usebottles.bottles/data/bottles/bottles/Office"_s),
         0},
        {u"the-witcher-3"_s, u"Lutris"_s, home(u"Games/witcher"_s), 4},
        {u"flat"_s, u"Lutris"_s, home(u"Games/flat"_s), 1},
        {u"Data Game"_s, u"Lutris"_s, home(u"Games/data"_s), 2},
        {u"Half-Life 2"_s, u"Steam"_s, steam + u"/steamapps/compatdata/220/pfx"_s, 5},
        {u"Counter \"Strike\" 2"_s, u"Steam"_s, second + u"/steamapps/compatdata/730/pfx"_s, 6},
        {u"Steam app 999"_s, u"Steam"_s, second + u"/steamapps/compatdata/999/pfx"_s, 1},
        {u"Kestrel"_s, u"Heroic"_s, heroic + u"/Kestrel/pfx"_s, 2},
        {u"Quail"_s, u"Heroic"_s, heroic + u"/Quail"_s, 1},
        {u"default"_s, u"Heroic"_s, heroic + u"/default"_s, 0},
        {u"Loose"_s, u"Heroic"_s, heroic + u"/Loose"_s, 3},
        {u"LooseProton"_s, u"Heroic"_s, heroic + u"/LooseProton/pfx"_s, 4},
        {u"Other"_s, u"Heroic"_s, home(u"HeroicPrefixes/Other"_s), 5},
        {u"Office2010"_s, u"PlayOnLinux"_s, home(u".PlayOnLinux/wineprefix/Office2010"_s), 2},
    };
    const QList<FoundPrefix> found = discoverPrefixes(m_home->path());
    QStringList names;
    for (const FoundPrefix& prefix : found)
        names << prefix.name;
    QCOMPARE(found.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(found[i].name, expected[i].name);
        QCOMPARE(found[i].origin, expected[i].origin);
        QCOMPARE(found[i].prefix.path(), expected[i].path);
        QCOMPARE(found[i].programCount, expected[i].count);
        QCOMPARE(found[i].architecture, u"win64"_s);
        QCOMPARE(found[i].windowsVersion, i == 0 ? u"Windows 10"_s : u"Microsoft Windows 7"_s);
    }
}

void TestPrefixes::healthOfBadPrefixes_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<PrefixHealth::State>("state");
    QTest::addColumn<QString>("sentenceStart");
    using S = PrefixHealth::State;
    QTest::newRow("a prefix") << u"prefix"_s << S::Ready << QString();
    QTest::newRow("no folder") << u"none"_s << S::NoFolder << u"No Wine prefix at "_s;
    QTest::newRow("no system.reg") << u"empty"_s << S::NoSystemHive << u" is not a Wine prefix: it has no system.reg"_s;
    QTest::newRow("system.reg a FIFO") << u"fifo"_s << S::Unreadable << u"The registry of the Wine prefix at "_s;
    QTest::newRow("wrong first line") << u"header"_s << S::NotARegistryFile << u"The system.reg of "_s;
}

void TestPrefixes::healthOfBadPrefixes()
{
    QFETCH(QString, layout);
    QFETCH(PrefixHealth::State, state);
    QFETCH(QString, sentenceStart);
    const QString folder = home(u"p"_s);
    if (layout == u"prefix")
        QVERIFY(makePrefix(folder, 1));
    if (layout == u"empty" || layout == u"fifo")
        QVERIFY(QDir().mkpath(folder));
    if (layout == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(folder + u"/system.reg"_s).constData(), 0644), 0);
    if (layout == u"header")
        QVERIFY(writeFile(folder + u"/system.reg"_s, "WINE REGISTRY Version 1\n\n[Software] 1\n"));

    const PrefixHealth health = PrefixHealth::check(WinePrefix(folder));
    QCOMPARE(health.state(), state);
    QCOMPARE(health.ready(), state == PrefixHealth::State::Ready);
    if (state == PrefixHealth::State::Ready) {
        QVERIFY(health.sentence().isEmpty());
        return;
    }
    QVERIFY2(health.sentence().contains(sentenceStart), qPrintable(health.sentence()));
    QVERIFY2(health.sentence().contains(folder), qPrintable(health.sentence()));
    QVERIFY2(health.sentence().contains(u"File > Open Prefix"_s), qPrintable(health.sentence()));
    // Nothing reads as a program there, and nothing was written.
    QCOMPARE(ProgramScan::countPrograms(WinePrefix(folder)), 0);
    QVERIFY(!QFileInfo::exists(folder + u"/user.reg"_s));
}

void TestPrefixes::describesTheWindowsVersion_data()
{
    QTest::addColumn<QByteArray>("wineVersion");
    QTest::addColumn<QString>("text");
    QTest::newRow("machine keys") << QByteArray() << u"Microsoft Windows 7 (win64)"_s;
    QTest::newRow("chosen for all programs") << QByteArray("winxp") << u"Windows XP (win64)"_s;
    QTest::newRow("a name Wine ignores") << QByteArray("win11") << u"Microsoft Windows 7 (win64)"_s;
}

void TestPrefixes::describesTheWindowsVersion()
{
    QFETCH(QByteArray, wineVersion);
    QFETCH(QString, text);
    QVERIFY(makePrefix(home(u"p"_s), 0, wineVersion));
    QCOMPARE(PrefixPlatformText(WinePrefix(home(u"p"_s))), text);
    QCOMPARE(PrefixPlatformText(WinePrefix(home(u"none"_s))), QString());
}

void TestPrefixes::readOnlyPrefixListsItsPrograms()
{
    const QString folder = home(u"readonly"_s);
    QVERIFY(makePrefix(folder, 2));
    const QByteArray before = readAll(folder + u"/system.reg"_s);
    const int status = asReader(folder, [&] {
        const WinePrefix prefix(folder);
        SystemIconList icons;
        ProgramScan scan(prefix, true, icons, -1, -1);
        ProgramListModel list;
        scan.RefreshProgramList(list);
        if (list.count() != 2 || list.at(0).Name != u"App 0" || ProgramScan::countPrograms(prefix) != 2)
            return 1;
        RegistryAccess registry(prefix);
        registry.RootKey(RegistryRoot::LocalMachine);
        if (registry.OpenKey(list.at(0).KeyPath, false) || !registry.OpenKeyReadOnly(list.at(0).KeyPath))
            return 2;
        try {
            registry.WriteString(u"DisplayName"_s, u"Changed"_s);
            return 3;
        } catch (const KestrinError& error) {
            if (!error.message().startsWith(u"Failed to set data for 'DisplayName': "_s) ||
                !error.message().contains(u"read-only for you"_s))
                return 4;
        }
        registry.CloseKey();
        try {
            registry.DeleteKey(list.at(0).KeyPath);
            return 5;
        } catch (const KestrinError& error) {
            if (!error.message().contains(u"cannot be deleted"_s))
                return 6;
        }
        return 0;
    });
    QCOMPARE(status, 0);
    QCOMPARE(readAll(folder + u"/system.reg"_s), before);
}

void TestPrefixes::choosesThePrefix_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("remembered");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("--prefix over WINEPREFIX") << u"opt"_s << u"env"_s << u"last"_s << u"opt"_s;
    QTest::newRow("WINEPREFIX over the last opened") << QString() << u"env"_s << u"last"_s << u"env"_s;
    QTest::newRow("the last opened over ~/.wine") << QString() << QString() << u"last"_s << u"last"_s;
    QTest::newRow("a last opened that is gone") << QString() << QString() << u"gone"_s << u".wine"_s;
    QTest::newRow("nothing") << QString() << QString() << QString() << u".wine"_s;
}

void TestPrefixes::choosesThePrefix()
{
    QFETCH(QString, option);
    QFETCH(QString, environment);
    QFETCH(QString, remembered);
    QFETCH(QString, chosen);
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedPrefix = qgetenv("WINEPREFIX");
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home(u"config"_s)));
    qunsetenv("WINEPREFIX");
    if (!environment.isEmpty())
        qputenv("WINEPREFIX", QFile::encodeName(home(environment)));
    for (const QString& folder : {u"opt"_s, u"env"_s, u"last"_s})
        QVERIFY(makePrefix(home(folder), 0));
    QVERIFY(PrefixChoice::lastOpened().isEmpty());
    if (!remembered.isEmpty())
        PrefixChoice::rememberOpened(WinePrefix(home(remembered)));

    const QString path = PrefixChoice::startPrefix(option.isEmpty() ? QString() : home(option)).path();
    qputenv("HOME", savedHome);
    qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("WINEPREFIX", savedPrefix);
    QCOMPARE(path, home(chosen));
    QVERIFY(QFileInfo::exists(home(u"config/kestrin/kestrin.conf"_s)) == !remembered.isEmpty());
}

QTEST_GUILESS_MAIN(TestPrefixes)
#include "tst_prefixes.moc"
