#include "TestDrive.h"

#include "inventory/PrefixEnvironment.h"
#include "platform/ExecutableSearch.h"
#include "platform/WindowsPaths.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString systemEnvironment = u"System\\CurrentControlSet\\Control\\Session Manager\\Environment"_s;
}

class TestWindowsPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void exists_data();
    void exists();
    void readsTheProgramPath();
    void expandsReferences_data();
    void expandsReferences();
    void searchesLikeWindows_data();
    void searchesLikeWindows();

private:
    TestPrefix m_prefix;
};

void TestWindowsPaths::initTestCase()
{
    using namespace TestDrive;
    QVERIFY(addDrive(m_prefix, u'c', u"drive_c"_s));
    QVERIFY(addDrive(m_prefix, u'd', u"other"_s));
    for (const QString& path :
         {u"drive_c/Apps/Tool/Remove.log"_s, u"drive_c/Mixed/Dup.txt"_s, u"drive_c/Mixed/dup.txt/"_s,
          u"other/Data.txt"_s, u"secret.txt"_s, u"drive_c/windows/system32/msiexec.exe"_s,
          u"drive_c/windows/msiexec.exe"_s, u"drive_c/windows/system/old16.exe"_s, u"drive_c/windows/Regedit.EXE"_s,
          u"drive_c/windows/system32/wbem/setup.exe"_s, u"drive_c/windows/folder.exe/"_s,
          u"drive_c/windows/system32/noext"_s, u"drive_c/Tools/unins000.exe"_s})
        QVERIFY2(add(m_prefix, path), qPrintable(path));
    QVERIFY(QFile::link(u"nowhere"_s, m_prefix.file(u"drive_c/Apps/Broken.txt"_s)));

    setString(m_prefix, RegistryRoot::LocalMachine, systemEnvironment, u"PATH"_s,
              u"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem;%AppRoot%;%Missing%\\x;%PATH%"_s);
    setString(m_prefix, RegistryRoot::LocalMachine, systemEnvironment, u"AppRoot"_s, u"%windir%\\apps"_s);
    setString(m_prefix, RegistryRoot::CurrentUser, u"Environment"_s, u"Path"_s, u"C:\\Tools\\;%UserBin%"_s);
    setString(m_prefix, RegistryRoot::CurrentUser, u"Environment"_s, u"UserBin"_s, u"C:\\UserBin"_s, RegType::Sz);
}

void TestWindowsPaths::exists_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");

    QTest::newRow("exact") << u"C:\\Apps\\Tool\\Remove.log"_s << true;
    QTest::newRow("any letter case") << u"c:\\APPS\\tool\\rEMOVE.LOG"_s << true;
    QTest::newRow("trailing dot and blank") << u"C:\\Apps\\Tool\\Remove.log. "_s << true;
    QTest::newRow("file with trailing separator") << u"C:\\Apps\\Tool\\Remove.log\\"_s << false;
    QTest::newRow("folder") << u"C:\\Apps\\Tool"_s << false;
    QTest::newRow("exact name wins: a folder") << u"C:\\Mixed\\dup.txt"_s << false;
    QTest::newRow("exact name wins: a file") << u"C:\\Mixed\\Dup.txt"_s << true;
    QTest::newRow("dot-dots stop at the root") << u"C:\\..\\..\\Apps\\Tool\\Remove.log"_s << true;
    QTest::newRow("no escape from the drive") << u"C:\\..\\secret.txt"_s << false;
    QTest::newRow("second drive") << u"d:\\data.TXT"_s << true;
    QTest::newRow("missing drive") << u"F:\\Apps\\Tool\\Remove.log"_s << false;
    QTest::newRow("UNC") << u"\\\\server\\c\\Apps\\Tool\\Remove.log"_s << false;
    QTest::newRow("relative") << u"Apps\\Tool\\Remove.log"_s << false;
    QTest::newRow("NUL inside") << u"C:\\Apps\\Tool\\Remove.log\0x"_s << false;
    QTest::newRow("dangling link") << u"C:\\Apps\\Broken.txt"_s << false;
}

void TestWindowsPaths::exists()
{
    QFETCH(QString, path);
    QFETCH(bool, exists);
    QCOMPARE(WindowsPaths(WinePrefix(m_prefix.path())).Exists(path), exists);
}

void TestWindowsPaths::readsTheProgramPath()
{
    QCOMPARE(PrefixEnvironment::searchPath(WinePrefix(m_prefix.path())),
             u"C:\\windows\\system32;C:\\windows;C:\\windows\\system32\\wbem;C:\\windows\\apps;%Missing%\\x;%PATH%;"
             u"C:\\Tools\\;C:\\UserBin"_s);
}

void TestWindowsPaths::expandsReferences_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expanded");

    QTest::newRow("names ignore case") << u"%systemroot%\\x;%A%%A%"_s << u"C:\\windows\\x;aa"_s;
    QTest::newRow("unknown stays") << u"%Nope%\\x"_s << u"%Nope%\\x"_s;
    QTest::newRow("closing percent opens the next") << u"%Nope%A%"_s << u"%Nopea"_s;
}

void TestWindowsPaths::expandsReferences()
{
    QFETCH(QString, text);
    QFETCH(QString, expanded);
    const auto lookup = [](const QString& name) -> std::optional<QString> {
        if (name.compare(u"SystemRoot"_s, Qt::CaseInsensitive) == 0)
            return u"C:\\windows"_s;
        return name == u"A"_s ? std::optional(u"a"_s) : std::nullopt;
    };
    QCOMPARE(PrefixEnvironment::expandReferences(text, lookup), expanded);
}

void TestWindowsPaths::searchesLikeWindows_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("found");

    QTest::newRow("system32 before windows") << u"msiexec"_s << u"C:\\windows\\system32\\msiexec.exe"_s;
    QTest::newRow("16-bit system folder") << u"old16"_s << u"C:\\windows\\system\\old16.exe"_s;
    QTest::newRow("windows, extension given") << u"regedit.exe"_s << u"C:\\windows\\regedit.exe"_s;
    QTest::newRow("expanded system PATH") << u"setup"_s << u"C:\\windows\\system32\\wbem\\setup.exe"_s;
    QTest::newRow("user PATH") << u"unins000"_s << u"C:\\Tools\\unins000.exe"_s;
    QTest::newRow("subfolder of a search folder") << u"wbem\\setup"_s << u"C:\\windows\\system32\\wbem\\setup.exe"_s;
    QTest::newRow("drive path checked directly") << u"c:\\tools\\unins000"_s << u"c:\\tools\\unins000.exe"_s;
    QTest::newRow("a folder is not found") << u"folder"_s << QString();
    QTest::newRow(".exe added only without extension") << u"noext"_s << QString();
    QTest::newRow("current folder") << u".\\setup"_s << QString();
}

void TestWindowsPaths::searchesLikeWindows()
{
    QFETCH(QString, name);
    QFETCH(QString, found);
    const WinePrefix prefix(m_prefix.path());
    const ExecutableSearch search(WindowsPaths(prefix), PrefixEnvironment::searchPath(prefix));
    QCOMPARE(search.find(name), found);
    QCOMPARE(search.find(name), found); // answered again from the folder listings
}

QTEST_GUILESS_MAIN(TestWindowsPaths)
#include "tst_windowspaths.moc"
