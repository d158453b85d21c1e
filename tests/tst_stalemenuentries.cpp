#include "MenuHome.h"
#include "ScratchWinePrefix.h"

#include "base/KestrinError.h"
#include "hive/EntryTrash.h"
#include "menus/MenuCleanup.h"
#include "menus/StaleMenuEntries.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestStaleMenuEntries : public QObject
{
    Q_OBJECT

private slots:
    void staleRules_data();
    void staleRules();
    void handMadeEntriesAreNeverCandidates();
    void fifosAreNeverWaitedOn();
    void sharedFilesGoWithTheirLastUser();
    void emptiedFolders();
    void desktopEntryThroughTheDesktopFolder();
    void entriesMadeByRealWine();
    void unreadableUserHiveIsAnError();
};

void TestStaleMenuEntries::unreadableUserHiveIsAnError()
{
    // Never "nothing to clean" for a user.reg that could not be read.
    MenuHome home;
    QFile user(home.prefixPath() + u"/user.reg"_s);
    QVERIFY(user.open(QIODevice::WriteOnly | QIODevice::Truncate));
    user.write("not a registry\n");
    user.close();
    StaleMenuEntries stale(WinePrefix(home.prefixPath()), home.folders());
    QVERIFY_THROWS_EXCEPTION(KestrinError, stale.scan());
}

// One shortcut with its menu entry; what the shortcut and its program look like decides.
void TestStaleMenuEntries::staleRules_data()
{
    QTest::addColumn<bool>("linkThere");
    QTest::addColumn<bool>("targetThere");
    QTest::addColumn<bool>("ofAnotherPrefix");
    QTest::addColumn<QString>("reason"); // empty: not listed

    QTest::newRow("shortcut gone") << false << false << false << u"Its shortcut"_s;
    QTest::newRow("program gone") << true << false << false << u"The program its shortcut starts"_s;
    QTest::newRow("shortcut and program there") << true << true << false << QString();
    QTest::newRow("entry of another prefix") << false << false << true << QString();
}

void TestStaleMenuEntries::staleRules()
{
    QFETCH(bool, linkThere);
    QFETCH(bool, targetThere);
    QFETCH(bool, ofAnotherPrefix);
    QFETCH(QString, reason);

    MenuHome home;
    const QString foo = u"C:\\Program Files\\Foo Tool\\foo.exe"_s;
    if (linkThere)
        home.addShortcut(u"Foo\\Foo Tool"_s, u"Foo Tool.lnk"_s, targetThere ? foo : QString());
    QTemporaryDir other;
    const QString desktop =
        home.addMenuEntry(u"Foo\\Foo Tool"_s, u"1A2B_foo.0"_s, ofAnotherPrefix ? other.path() : QString());

    StaleMenuEntries stale(WinePrefix(home.prefixPath()), home.folders());
    stale.scan();
    if (reason.isEmpty()) {
        QVERIFY(stale.entries().isEmpty());
        return;
    }
    QCOMPARE(stale.entries().size(), 1);
    const StaleMenuEntry& entry = stale.entries().first();
    QCOMPARE(entry.name, u"Foo Tool"_s);
    QVERIFY2(entry.reason.startsWith(reason), qPrintable(entry.reason));
    QCOMPARE(entry.menuFileValues.size(), 2);
    const QString merged = home.folders().mergedMenus();
    const QString directories = home.folders().directories();
    QCOMPARE(
        stale.filesToRemove({0}),
        QStringList({desktop, merged + u"/wine-Programs-Foo-Foo Tool.menu"_s, directories + u"/wine-wine.directory"_s,
                     directories + u"/wine-Programs.directory"_s, directories + u"/wine-Programs-Foo.directory"_s,
                     home.iconFile("16x16", u"1A2B_foo.0"_s), home.iconFile("48x48", u"1A2B_foo.0"_s)}));
    QCOMPARE(stale.filesOf(0), stale.filesToRemove({0}));
}

void TestStaleMenuEntries::handMadeEntriesAreNeverCandidates()
{
    MenuHome home;
    home.addMenuEntry(u"Gone\\Tool"_s, u"1111_tool.0"_s);
    // The user's own entries: one in Wine's folder not in MenuFiles, one that MenuFiles names but that
    // lies outside the folders Wine writes to, one that is not Wine's, each of the same dead shortcut.
    const QString link = MenuHome::linkOf(u"Gone\\Tool"_s);
    const QString own = home.folders().wineApplications() + u"/Programs/Gone/Mine.desktop"_s;
    MenuHome::writeFile(own, home.desktopText(link, u"2222_mine.0"_s));
    const QString outside = home.home() + u"/elsewhere/Tool.desktop"_s;
    MenuHome::writeFile(outside, home.desktopText(link, u"1111_tool.0"_s));
    home.addMenuFilesValue(MenuHome::unixValueName(outside), link);
    const QString native = home.home() + u"/Desktop/Native.desktop"_s;
    MenuHome::writeFile(native, "[Desktop Entry]\nType=Application\nExec=gedit\nIcon=1111_tool.0\n");
    home.addMenuFilesValue(MenuHome::unixValueName(native), link);

    StaleMenuEntries stale(WinePrefix(home.prefixPath()), home.folders());
    stale.scan();
    QCOMPARE(stale.entries().size(), 1);
    const QStringList files = stale.filesToRemove({0});
    for (const QString& kept : {own, outside, native})
        QVERIFY2(!files.contains(kept), qPrintable(kept));
    // The native entry names the icon: it stays.
    QVERIFY(!files.contains(home.iconFile("16x16", u"1111_tool.0"_s)));
    QCOMPARE(stale.valuesToDelete({0}).size(), 4);
}

void TestStaleMenuEntries::sharedFilesGoWithTheirLastUser()
{
    MenuHome home;
    const QString notepad = u"C:\\windows\\notepad.exe"_s;
    home.addShortcut(u"Suite\\Keeper"_s, u"Notepad.lnk"_s, notepad);
    home.addMenuEntry(u"Suite\\Keeper"_s, u"AAAA_shared.0"_s);
    home.addMenuEntry(u"Suite\\One"_s, u"AAAA_shared.0"_s);
    home.addMenuEntry(u"Suite\\Two"_s, u"BBBB_two.0"_s);
    home.addMenuEntry(u"Other\\Three"_s, u"BBBB_two.0"_s);

    StaleMenuEntries stale(WinePrefix(home.prefixPath()), home.folders());
    stale.scan();
    QCOMPARE(stale.entries().size(), 3); // One, Two, Three
    const auto indexOf = [&stale](const QString& name) {
        for (int i = 0; i < stale.entries().size(); ++i) {
            if (stale.entries().at(i).name == name)
                return i;
        }
        return -1;
    };
    const int one = indexOf(u"One"_s), two = indexOf(u"Two"_s), three = indexOf(u"Three"_s);
    QVERIFY(one >= 0 && two >= 0 && three >= 0);
    const QString suiteDirectory = home.folders().directories() + u"/wine-Programs-Suite.directory"_s;
    const QString otherDirectory = home.folders().directories() + u"/wine-Programs-Other.directory"_s;
    const QString twoIcon = home.iconFile("16x16", u"BBBB_two.0"_s);

    struct Case
    {
        QList<int> chosen;
        QStringList removed;
        QStringList kept;
    };
    const QList<Case> cases{
        // The keeper still uses the folder and the icon of "One".
        {{one}, {}, {suiteDirectory, home.iconFile("16x16", u"AAAA_shared.0"_s), twoIcon}},
        // "Three" alone still has "Two" naming its icon.
        {{three}, {otherDirectory}, {twoIcon, suiteDirectory}},
        {{two, three}, {otherDirectory, twoIcon}, {suiteDirectory}},
    };
    for (const Case& c : cases) {
        const QStringList files = stale.filesToRemove(c.chosen);
        for (const QString& file : c.removed)
            QVERIFY2(files.contains(file), qPrintable(file));
        for (const QString& file : c.kept)
            QVERIFY2(!files.contains(file), qPrintable(file));
    }
    // Shown per entry as if all go: the icon both stale entries use shows under each.
    QVERIFY(stale.filesOf(two).contains(twoIcon));
    QVERIFY(stale.filesOf(three).contains(twoIcon));
}

void TestStaleMenuEntries::emptiedFolders()
{
    MenuHome home;
    const QString one = home.addMenuEntry(u"Deep\\Sub\\One"_s, u"CCCC_one.0"_s);
    const QString two = home.addMenuEntry(u"Deep\\Two"_s, u"CCCC_one.0"_s);
    StaleMenuEntries stale(WinePrefix(home.prefixPath()), home.folders());
    const QString deep = home.folders().wineApplications() + u"/Programs/Deep"_s;
    QCOMPARE(stale.foldersEmptiedBy({one}), QStringList{deep + u"/Sub"_s});
    QCOMPARE(stale.foldersEmptiedBy({one, two}), QStringList({deep + u"/Sub"_s, deep}));
    MenuHome::writeFile(deep + u"/Sub/notes.txt"_s, "mine");
    QCOMPARE(stale.foldersEmptiedBy({one, two}), QStringList());
}

// A desktop entry is named through the prefix's Desktop folder, which leads into the home.
void TestStaleMenuEntries::desktopEntryThroughTheDesktopFolder()
{
    MenuHome home;
    const QString link = u"C:\\users\\Public\\Desktop\\Foo Tool.lnk"_s;
    const QString file = home.home() + u"/Desktop/Foo Tool.desktop"_s;
    MenuHome::writeFile(file, home.desktopText(link, u"DDDD_foo.0"_s));
    home.addMenuFilesValue(u"C:\\users\\me\\Desktop\\Foo Tool.desktop"_s, link);
    StaleMenuEntries stale(WinePrefix(home.prefixPath()), home.folders());
    stale.scan();
    QCOMPARE(stale.entries().size(), 1);
    QCOMPARE(stale.entries().first().ownFiles, QStringList{file});

    // Outside the folders desktop entries go to, the same file is nobody's to remove.
    WineMenuFolders elsewhere = home.folders();
    elsewhere.desktops = {home.home() + u"/Other"_s};
    StaleMenuEntries strict(WinePrefix(home.prefixPath()), elsewhere);
    strict.scan();
    QVERIFY(strict.entries().isEmpty());
}

// Wine's menu builder writes the entries and their MenuFiles values; the program goes as an uninstaller
// that forgets its shortcuts would take it.
void TestStaleMenuEntries::entriesMadeByRealWine()
{
    const ScratchHome home;
    QVERIFY(home.isValid());
    ScratchWinePrefix wine;
    if (const QString why = wine.create(); !why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY(wine.put(wine.driveC(u"windows/notepad.exe"_s), u"Program Files/K App/kapp.exe"_s));
    const QString user = wine.userName();
    QVERIFY(!user.isEmpty());
    // An all-users desktop shortcut: Wine records the desktop entries of those alone in MenuFiles.
    const QString script = uR"(Set sh = CreateObject("WScript.Shell")
CreateObject("Scripting.FileSystemObject").CreateFolder("%1\K App")
Set l = sh.CreateShortcut("%1\K App\K Tool.lnk")
l.TargetPath = "C:\Program Files\K App\kapp.exe"
l.Save
Set d = sh.CreateShortcut("C:\users\Public\Desktop\K Desk.lnk")
d.TargetPath = "C:\Program Files\K App\kapp.exe"
d.Save
)"_s.arg(u"C:\\users\\%1\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"_s.arg(user));
    QVERIFY(wine.runScript(script));
    // The menu builder runs after the script; its MenuFiles values reach user.reg when the server ends.
    QVERIFY(wine.waitForServerExit(120000));

    const WineMenuFolders folders = WineMenuFolders::fromEnvironment();
    const WinePrefix prefix(wine.path());
    StaleMenuEntries stale(prefix, folders);
    stale.scan();
    QVERIFY(stale.entries().isEmpty());

    QVERIFY(QFile::remove(wine.driveC(u"Program Files/K App/kapp.exe"_s)));
    stale.scan();
    QStringList found = MenuHome::menuFilesValuesOf(prefix);
    for (const StaleMenuEntry& entry : stale.entries())
        found << entry.name + u": "_s + entry.ownFiles.join(u", "_s);
    QVERIFY2(stale.entries().size() == 2, qPrintable(found.join(u"\n"_s)));
    QList<int> all{0, 1};
    const QStringList files = stale.filesToRemove(all);
    QStringList names;
    for (const QString& file : files)
        names << QFileInfo(file).fileName();
    for (const QString& made : {u"K Tool.desktop"_s, u"K Desk.desktop"_s, u"wine-Programs-K App-K Tool.menu"_s,
                                u"wine-Programs-K App.directory"_s})
        QVERIFY2(names.contains(made), qPrintable(names.join(u", ")));
    QVERIFY2(
        std::any_of(names.begin(), names.end(), [](const QString& name) { return name.endsWith(u"_kapp.0.png"_s); }),
        qPrintable(names.join(u", ")));

    const QStringList valuesBefore = MenuHome::menuFilesValuesOf(prefix);
    const MenuCleanup::Removed removed = MenuCleanup::remove(prefix, stale, all);
    for (const QString& file : files)
        QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
    QVERIFY(MenuHome::menuFilesValuesOf(prefix).isEmpty());
    EntryTrash::restore(prefix.path(), removed.recordId, false);
    for (const QString& file : files)
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
    QCOMPARE(MenuHome::menuFilesValuesOf(prefix), valuesBefore);
}

// A FIFO under any of the names the clean-up reads is passed over, not waited on for ever.
void TestStaleMenuEntries::fifosAreNeverWaitedOn()
{
    MenuHome home;
    const QString desktop = home.addMenuEntry(u"Gone\\Tool"_s, u"1111_tool.0"_s);
    home.addMenuEntry(u"Gone\\Other"_s, u"2222_other.0"_s);
    const auto makeFifo = [](const QString& path) {
        QFile::remove(path);
        QDir().mkpath(QFileInfo(path).path());
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    };
    QVERIFY(makeFifo(desktop));
    QVERIFY(makeFifo(home.folders().mergedMenus() + u"/wine-Programs-Gone-Other.menu"_s));
    QVERIFY(makeFifo(home.folders().configHome + u"/user-dirs.dirs"_s));
    QVERIFY(makeFifo(home.hostOf(MenuHome::linkOf(u"Gone\\Other"_s))));

    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", home.folders().configHome.toUtf8());
    const WineMenuFolders folders = WineMenuFolders::fromEnvironment();
    qputenv("XDG_CONFIG_HOME", oldConfig);
    QCOMPARE(folders.configHome, home.folders().configHome);

    StaleMenuEntries stale(WinePrefix(home.prefixPath()), home.folders());
    stale.scan();
    QVERIFY(!stale.entries().isEmpty());
}

QTEST_GUILESS_MAIN(TestStaleMenuEntries)
#include "tst_stalemenuentries.moc"
