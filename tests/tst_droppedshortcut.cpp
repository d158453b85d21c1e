#include "ScratchWinePrefix.h"
#include "TestDrive.h"
#include "TestPrefix.h"

#include "formats/DesktopEntry.h"
#include "inventory/DroppedShortcut.h"
#include "paths/HostToWindowsPath.h"

#include <QDirIterator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString toolLinkPath =
    u"drive_c/users/root/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/K App/K Tool.lnk"_s;

QByteArray fixture(const QString& name)
{
    QFile file(QStringLiteral(KESTRIN_TEST_DATA "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDroppedShortcut : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void windowsPathOfHostFiles_data();
    void windowsPathOfHostFiles();
    void execQuoting_data();
    void execQuoting();
    void droppedFiles_data();
    void droppedFiles();
    void desktopEntriesThatAreNotShortcuts_data();
    void desktopEntriesThatAreNotShortcuts();
    void desktopEntriesMadeByRealWine();

private:
    // Writes a dropped file into the test folder, with @PREFIX@ standing for the prefix's path.
    QString dropFile(const QString& name, QByteArray contents) const;

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_outside;
};

void TestDroppedShortcut::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_outside = std::make_unique<QTemporaryDir>();
    QVERIFY(m_outside->isValid());
}

QString TestDroppedShortcut::dropFile(const QString& name, QByteArray contents) const
{
    const QString path = m_outside->filePath(u"drop/"_s + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    contents.replace("@PREFIX@", QFile::encodeName(m_prefix->path()));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return {};
    return path;
}

void TestDroppedShortcut::windowsPathOfHostFiles_data()
{
    // Host paths: "@/" is the prefix, "@out/" a folder outside it. In the result, @OUT stands for the
    // outside folder as Windows names it below Z:.
    QTest::addColumn<bool>("withZ");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected"); // empty: refused

    QTest::newRow("drive c, case as on disk")
        << true << u"@/drive_c/Program Files/K App/KApp.EXE"_s << u"C:\\Program Files\\K App\\KApp.EXE"_s;
    QTest::newRow("the drive's own folder") << true << u"@/drive_c"_s << u"C:\\"_s;
    QTest::newRow("second drive") << true << u"@out/dvd/Setup/setup.exe"_s << u"D:\\Setup\\setup.exe"_s;
    QTest::newRow("nested drive, longest match wins") << true << u"@/drive_c/Games/run.exe"_s << u"G:\\run.exe"_s;
    QTest::newRow("z: is /") << true << u"@out/elsewhere/tool.exe"_s << u"@OUT\\elsewhere\\tool.exe"_s;
    QTest::newRow("symlinked folder keeps the name it is reached by")
        << true << u"@/drive_c/linked/tool.exe"_s << u"C:\\linked\\tool.exe"_s;
    QTest::newRow("prefix reached through a link")
        << true << u"@out/prefix-link/drive_c/Games/run.exe"_s << u"G:\\run.exe"_s;
    QTest::newRow("outside all drives") << false << u"@out/elsewhere/tool.exe"_s << QString();
    QTest::newRow("missing file") << true << u"@/drive_c/nothing.exe"_s << QString();
    QTest::newRow("name Windows cannot hold") << true << u"@/drive_c/a:b.exe"_s << QString();
}

void TestDroppedShortcut::windowsPathOfHostFiles()
{
    QFETCH(bool, withZ);
    QFETCH(QString, host);
    QFETCH(QString, expected);

    const TestPrefix& prefix = *m_prefix;
    const QString out = m_outside->path();
    QVERIFY(TestDrive::addDrive(prefix, u'c', u"drive_c"_s));
    QVERIFY(TestDrive::addDrive(prefix, u'g', u"drive_c/Games"_s));
    QVERIFY(QFile::link(out + u"/dvd"_s, prefix.file(u"dosdevices/d:"_s)));
    QVERIFY(QFile::link(u"/dev/null"_s, prefix.file(u"dosdevices/d::"_s)));
    if (withZ)
        QVERIFY(QFile::link(u"/"_s, prefix.file(u"dosdevices/z:"_s)));
    for (const QString& file :
         {u"drive_c/Program Files/K App/KApp.EXE"_s, u"drive_c/Games/run.exe"_s, u"drive_c/a:b.exe"_s})
        QVERIFY(TestDrive::add(prefix, file));
    for (const QString& file : {u"dvd/Setup/setup.exe"_s, u"elsewhere/tool.exe"_s, u"real/tool.exe"_s}) {
        QDir().mkpath(QFileInfo(out + u'/' + file).absolutePath());
        QVERIFY(QFile(out + u'/' + file).open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(out + u"/real"_s, prefix.file(u"drive_c/linked"_s)));
    QVERIFY(QFile::link(prefix.path(), out + u"/prefix-link"_s));

    host.replace(u"@out/"_s, out + u'/').replace(u"@/"_s, prefix.path() + u'/');
    const QString outside = u"Z:"_s + QFileInfo(out).canonicalFilePath().replace(u'/', u'\\');
    expected.replace(u"@OUT"_s, outside);

    const std::optional<QString> mapped = windowsPathOf(WinePrefix(prefix.path()), host);
    QCOMPARE(mapped.value_or(QString()), expected);
}

void TestDroppedShortcut::execQuoting_data()
{
    // Exec values after the string escapes have been undone.
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QStringList>("arguments"); // {"<broken>"}: refused

    QTest::newRow("as Wine's menu builder escapes")
        << uR"(env WINEPREFIX="/p q" wine-stable C:\\Program\ Files\\K\ App\\kapp.exe /x\ \"a\ b\")"_s
        << QStringList{u"env"_s, u"WINEPREFIX=/p q"_s, u"wine-stable"_s, u"C:\\Program Files\\K App\\kapp.exe"_s,
                       u"/x \"a b\""_s};
    QTest::newRow("double quotes escape only four characters")
        << uR"(prog "a \"b\" \$c \`d\` e\\f \g")"_s << QStringList{u"prog"_s, uR"(a "b" $c `d` e\f \g)"_s};
    QTest::newRow("field codes go, %% stays")
        << u"prog %U --name=%c x%%y"_s << QStringList{u"prog"_s, u"--name="_s, u"x%y"_s};
    QTest::newRow("unterminated quote") << u"prog \"a b"_s << QStringList{u"<broken>"_s};
}

void TestDroppedShortcut::execQuoting()
{
    QFETCH(QString, exec);
    QFETCH(QStringList, arguments);
    const std::optional<QStringList> split = DesktopEntry::splitExec(exec);
    QCOMPARE(split.value_or(QStringList{u"<broken>"_s}), arguments);
}

void TestDroppedShortcut::droppedFiles_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("droppedAs");
    QTest::addColumn<QStringList>("expected"); // name, target, icon; empty: not a shortcut

    QTest::newRow("shortcut with an icon location")
        << u"lnk/Foo Tool.lnk"_s << u"Foo Tool.lnk"_s
        << QStringList{u"Foo Tool"_s, u"C:\\Program Files\\Foo Tool\\foo.exe"_s,
                       u"C:\\Program Files\\Foo Tool\\foo.ico"_s};
    QTest::newRow("shortcut without one: the target is the icon")
        << u"lnk/Notepad.lnk"_s << u"Notepad.lnk"_s
        << QStringList{u"Notepad"_s, u"C:\\windows\\notepad.exe"_s, u"C:\\windows\\notepad.exe"_s};
    QTest::newRow("non-ASCII names") << u"lnk/Bär Editor.lnk"_s << u"Bär Editor.lnk"_s
                                     << QStringList{u"Bär Editor"_s, u"C:\\Program Files\\Bär\\bär.exe"_s,
                                                    u"C:\\Program Files\\Bär\\bär.exe"_s};
    QTest::newRow(".LNK in capitals is not taken") << u"lnk/Notepad.lnk"_s << u"Other.LNK"_s << QStringList();
    QTest::newRow("unreadable shortcut gives empty texts")
        << u"desktop/K Desk.desktop"_s << u"Broken.lnk"_s << QStringList{u"Broken"_s, QString(), QString()};
    QTest::newRow("menu entry: the shortcut it runs")
        << u"desktop/K Tool.desktop"_s << u"K Tool.desktop"_s
        << QStringList{u"K Tool"_s, u"C:\\Program Files\\K App\\kapp.exe"_s, u"C:\\Program Files\\K App\\kapp.exe"_s};
    QTest::newRow("desktop entry: the program it runs, without arguments")
        << u"desktop/K Desk.desktop"_s << u"K Desk.desktop"_s
        << QStringList{u"K Desk"_s, u"C:\\Program Files\\K App\\kapp.exe"_s, u"C:\\Program Files\\K App\\kapp.exe"_s};
    QTest::newRow(".DESKTOP in capitals is not taken")
        << u"desktop/K Desk.desktop"_s << u"K Desk.DESKTOP"_s << QStringList();
    QTest::newRow("text file") << u"desktop/K Desk.desktop"_s << u"readme.txt"_s << QStringList();
}

void TestDroppedShortcut::droppedFiles()
{
    QFETCH(QString, fixture);
    QFETCH(QString, droppedAs);
    QFETCH(QStringList, expected);

    QVERIFY(TestDrive::addDrive(*m_prefix, u'c', u"drive_c"_s));
    QVERIFY(m_prefix->copyData(u"desktop/K Tool.lnk"_s, toolLinkPath));
    const QString path = dropFile(droppedAs, ::fixture(fixture));
    QVERIFY(!path.isEmpty());

    const std::optional<DroppedShortcut> shortcut = readDroppedShortcut(WinePrefix(m_prefix->path()), path);
    QCOMPARE(shortcut.has_value(), !expected.isEmpty());
    if (shortcut)
        QCOMPARE((QStringList{shortcut->name, shortcut->target, shortcut->icon}), expected);
}

void TestDroppedShortcut::desktopEntriesThatAreNotShortcuts_data()
{
    QTest::addColumn<QByteArray>("contents");

    const QByteArray exec = "Exec=env WINEPREFIX=\"@PREFIX@\" wine C:\\\\\\\\windows\\\\\\\\notepad.exe\n";
    QTest::newRow("control: a Wine entry of this prefix is one") << QByteArray("[Desktop Entry]\n" + exec);
    QTest::newRow("another prefix") << QByteArray(
        "[Desktop Entry]\nExec=env WINEPREFIX=\"/nowhere/else\" wine C:\\\\\\\\windows\\\\\\\\x.exe\n");
    QTest::newRow("native program") << QByteArray("[Desktop Entry]\nType=Application\nExec=gedit %U\n");
    QTest::newRow("wine on no drive path")
        << QByteArray("[Desktop Entry]\nExec=env WINEPREFIX=\"@PREFIX@\" wine start /ProgIDOpen txtfile %f\n");
    QTest::newRow("menu entry whose shortcut is gone")
        << QByteArray("[Desktop Entry]\nExec=env WINEPREFIX=\"@PREFIX@\" wine C:\\\\\\\\gone\\\\\\\\x.lnk\n");
    QTest::newRow("a link, not an application") << QByteArray("[Desktop Entry]\nType=Link\n" + exec);
    QTest::newRow("no Exec") << QByteArray("[Desktop Entry]\nName=x\n");
    QTest::newRow("key before any group") << QByteArray(exec + "[Desktop Entry]\n");
    QTest::newRow("first group is another") << QByteArray("[Desktop Action x]\n" + exec + "[Desktop Entry]\n" + exec);
    QTest::newRow("key twice") << QByteArray("[Desktop Entry]\nName=a\n" + exec + "Name=b\n");
    QTest::newRow("group twice") << QByteArray("[Desktop Entry]\n" + exec + "[Desktop Entry]\n");
    QTest::newRow("line without =") << QByteArray("[Desktop Entry]\n" + exec + "garbage\n");
    QTest::newRow("unterminated quote in Exec")
        << QByteArray("[Desktop Entry]\nExec=env WINEPREFIX=\"@PREFIX@ wine C:\\\\\\\\windows\\\\\\\\notepad.exe\n");
    QTest::newRow("not UTF-8") << QByteArray("[Desktop Entry]\nName=\xff\xfe\n" + exec);
}

void TestDroppedShortcut::desktopEntriesThatAreNotShortcuts()
{
    QFETCH(QByteArray, contents);
    QVERIFY(TestDrive::addDrive(*m_prefix, u'c', u"drive_c"_s));
    const QString path = dropFile(u"entry.desktop"_s, contents);
    const bool control = QByteArray(QTest::currentDataTag()).startsWith("control");
    QCOMPARE(readDroppedShortcut(WinePrefix(m_prefix->path()), path).has_value(), control);
}

void TestDroppedShortcut::desktopEntriesMadeByRealWine()
{
    // Saving shortcuts in the Start Menu and on the desktop makes Wine write the menu and desktop
    // entries, under the home and data folders given here.
    const ScratchHome home;
    QVERIFY(home.isValid());
    ScratchWinePrefix wine;
    if (const QString why = wine.create(); !why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY(wine.put(wine.driveC(u"windows/notepad.exe"_s), u"Program Files/K App/kapp.exe"_s));
    const QString user = wine.userName();
    QVERIFY(!user.isEmpty());
    const QString script = uR"(Set sh = CreateObject("WScript.Shell")
CreateObject("Scripting.FileSystemObject").CreateFolder("%1\K App")
Set l = sh.CreateShortcut("%1\K App\K Tool.lnk")
l.TargetPath = "C:\Program Files\K App\kapp.exe"
l.Save
Set d = sh.CreateShortcut("%2\Desktop\K Desk.lnk")
d.TargetPath = "C:\Program Files\K App\kapp.exe"
d.Arguments = "/x ""a b"""
d.Save
)"_s.arg(u"C:\\users\\%1\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"_s.arg(user),
         u"C:\\users\\"_s + user);
    const std::optional<QString> output = wine.runScript(script);
    QVERIFY(output);

    // The menu builder runs on its own after the script; wait for both entries.
    QStringList entries;
    const QDeadlineTimer deadline(60000);
    while (entries.size() < 2 && !deadline.hasExpired()) {
        QThread::msleep(200);
        entries.clear();
        QDirIterator it(home.path(), {u"*.desktop"_s}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << it.next();
    }
    QVERIFY2(entries.size() == 2, qPrintable(*output));

    QStringList found;
    for (const QString& path : entries) {
        const std::optional<DroppedShortcut> shortcut = readDroppedShortcut(WinePrefix(wine.path()), path);
        QVERIFY2(shortcut, qPrintable(path));
        QCOMPARE(shortcut->target, u"C:\\Program Files\\K App\\kapp.exe"_s);
        QCOMPARE(shortcut->icon, shortcut->target);
        found << shortcut->name;
        // The same entry names nothing for another prefix.
        QVERIFY(!readDroppedShortcut(WinePrefix(home.path()), path));
    }
    found.sort();
    QCOMPARE(found, (QStringList{u"K Desk"_s, u"K Tool"_s}));
}

QTEST_GUILESS_MAIN(TestDroppedShortcut)
#include "tst_droppedshortcut.moc"
