#include "TestDrive.h"

#include "inventory/PrefixEnvironment.h"
#include "paths/ExecutableSearch.h"
#include "paths/ShortName.h"
#include "paths/WindowsPaths.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString systemEnvironment = u"System\\CurrentControlSet\\Control\\Session Manager\\Environment"_s;

// Rows named "32-bit: ..." look as a 32-bit program of a 64-bit prefix looks.
PathView viewOfRow()
{
    return QByteArray(QTest::currentDataTag()).startsWith("32-bit") ? PathView::Wow64 : PathView::Native;
}
} // namespace

class TestWindowsPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void derivesShortNamesAsWine_data();
    void derivesShortNamesAsWine();
    void exists_data();
    void exists();
    void readsTheProgramPath();
    void expandsReferences_data();
    void expandsReferences();
    void expandsForEachView();
    void searchesLikeWindows_data();
    void searchesLikeWindows();

private:
    TestPrefix m_prefix;
    std::shared_ptr<FolderListings> m_listings = std::make_shared<FolderListings>();
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
          u"drive_c/windows/system32/noext"_s, u"drive_c/Tools/unins000.exe"_s,
          u"drive_c/Program Files/App/Uninstall Foo.exe"_s, u"drive_c/windows/syswow64/only32.exe"_s,
          u"drive_c/windows/system32/only64.exe"_s, u"drive_c/windows/system32/drivers/etc/hosts"_s,
          u"drive_c/WinePath/Uninstall Foo.exe"_s, u"unixbin/fromunix.exe"_s})
        QVERIFY2(add(m_prefix, path), qPrintable(path));
    QVERIFY(QFile::link(u"nowhere"_s, m_prefix.file(u"drive_c/Apps/Broken.txt"_s)));

    setString(m_prefix, RegistryRoot::LocalMachine, systemEnvironment, u"PATH"_s,
              u"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem;%AppRoot%;%Missing%\\x;%PATH%"_s);
    setString(m_prefix, RegistryRoot::LocalMachine, systemEnvironment, u"AppRoot"_s, u"%windir%\\apps"_s);
    setString(m_prefix, RegistryRoot::CurrentUser, u"Environment"_s, u"Path"_s, u"C:\\Tools\\;%UserBin%"_s);
    setString(m_prefix, RegistryRoot::CurrentUser, u"Environment"_s, u"UserBin"_s, u"C:\\UserBin"_s, RegType::Sz);
}

// Pairs that Wine 8.0 printed with "cmd /c dir /x"; an empty short name is a name that is 8.3 already.
void TestWindowsPaths::derivesShortNamesAsWine_data()
{
    QTest::addColumn<QString>("longName");
    QTest::addColumn<QString>("shortName");
    const QList<std::pair<QString, QString>> printed{
        {u"Program Files"_s, u"PROG~FBU"_s},
        {u"Program Files (x86)"_s, u"PROG~5P2"_s},
        {u"ProgramData"_s, u"PROG~BDQ"_s},
        {u"a b"_s, u"A_B~~GOE"_s},
        {u"abcdefgh.ijkl"_s, u"ABCD~AJN.IJK"_s},
        {u"abcdefghi"_s, u"ABCD~GDH"_s},
        {u"\u00c4\u00d6\u00dc \u00e4\u00f6\u00fc"_s, u"____~RHR"_s},
        {u"file.tar.gz"_s, u"FILE~VFZ.GZ"_s},
        {u"long name with spaces and more"_s, u"LONG~KSP"_s},
        {u"mixed.Case.Name.Ext"_s, u"MIXE~T4E.EXT"_s},
        {u"My Document.docx"_s, u"MY_D~5LW.DOC"_s},
        {u"semi;colon+plus=eq[br].dat"_s, u"SEMI~E2X.DAT"_s},
        {u"tilde~name~long"_s, u"TILD~WSA"_s},
        {u"trailingdot.a."_s, u"TRAI~FN4.A_"_s},
        {u"Tr\u00e8s Long Nom.txt"_s, u"TR_S~GYW.TXT"_s},
        {u"UPPER CASE NAME.TXT"_s, u"UPPE~13P.TXT"_s},
        {u"Uninstall Foo.exe"_s, u"UNIN~HDZ.EXE"_s},
        {u"x.y.z"_s, u"X_Y~~JTF.Z"_s},
        {u"\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb.txt"_s, u"____~ZS1.TXT"_s},
        {u"a"_s, QString()},
        {u"Readme.txt"_s, QString()},
        {u"unins000.exe"_s, QString()},
        {u"x~y.txt"_s, QString()},
    };
    for (const auto& [longName, shortName] : printed)
        QTest::newRow(qPrintable(longName)) << longName << shortName;
}

void TestWindowsPaths::derivesShortNamesAsWine()
{
    QFETCH(QString, longName);
    QFETCH(QString, shortName);
    QCOMPARE(ShortName::isLegal8Dot3(longName), shortName.isEmpty());
    if (!shortName.isEmpty())
        QCOMPARE(ShortName::hashed(longName), shortName);
    // A name that is 8.3 already is not found by its hash either ("if exist" said so under Wine).
    QCOMPARE(ShortName::matches(longName, ShortName::hashed(longName).toLower()), !shortName.isEmpty());
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
    // Short forms as Wine resolves them (checked with "if exist" under wine cmd).
    QTest::newRow("Wine's short names") << u"c:\\PROG~FBU\\App\\unin~hdz.exe"_s << true;
    QTest::newRow("Windows-style short name") << u"C:\\PROGRA~1\\App\\Uninstall Foo.exe"_s << false;
    QTest::newRow("hash of an 8.3 name") << u"C:\\Tools\\UNIN~XZV.EXE"_s << false;
    QTest::newRow("\\\\?\\ path") << u"\\\\?\\C:\\Apps\\Tool\\Remove.log"_s << true;
    QTest::newRow("\\??\\ path, short name") << u"\\??\\c:\\PROG~FBU\\App\\Uninstall Foo.exe"_s << true;
    QTest::newRow("32-bit: system32 is syswow64") << u"C:\\windows\\system32\\only32.exe"_s << true;
    QTest::newRow("64-bit: system32 is system32") << u"C:\\windows\\system32\\only32.exe"_s << false;
    QTest::newRow("32-bit: then system32") << u"C:\\Windows\\System32\\only64.exe"_s << true;
    QTest::newRow("32-bit: drivers\\etc is shared") << u"C:\\windows\\system32\\drivers\\etc\\hosts"_s << true;
}

void TestWindowsPaths::exists()
{
    QFETCH(QString, path);
    QFETCH(bool, exists);
    const WinePrefix prefix(m_prefix.path());
    QCOMPARE(WindowsPaths(prefix, viewOfRow()).Exists(path), exists);
    // Answered from listings that every row shares, as the look-ups of one scan share them.
    const WindowsPaths listed(prefix, viewOfRow(), m_listings);
    QCOMPARE(listed.Exists(path), exists);
    QCOMPARE(listed.hostFile(path).isEmpty(), !exists);
    QCOMPARE(listed.hostPath(path), WindowsPaths(prefix, viewOfRow()).hostPath(path));
}

void TestWindowsPaths::readsTheProgramPath()
{
    // Wine puts WINEPATH first (seen: "cmd /c set PATH" printed it in front, unchanged).
    qputenv("WINEPATH", "/opt/bin;D:\\x");
    const QString path = PrefixEnvironment::searchPath(WinePrefix(m_prefix.path()));
    qunsetenv("WINEPATH");
    QCOMPARE(path, u"/opt/bin;D:\\x;C:\\windows\\system32;C:\\windows;C:\\windows\\system32\\wbem;C:\\windows\\apps;"
                   u"%Missing%\\x;%PATH%;C:\\Tools\\;C:\\UserBin"_s);
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

void TestWindowsPaths::expandsForEachView()
{
    const WinePrefix prefix(m_prefix.path());
    const QString text = u"%ProgramFiles%;%CommonProgramFiles%;%ProgramW6432%;%AppRoot%"_s;
    QCOMPARE(PrefixEnvironment::Variables(prefix, PathView::Native).expand(text),
             u"C:\\Program Files;C:\\Program Files\\Common Files;C:\\Program Files;C:\\windows\\apps"_s);
    QCOMPARE(PrefixEnvironment::Variables(prefix, PathView::Wow64).expand(text),
             u"C:\\Program Files (x86);C:\\Program Files (x86)\\Common Files;C:\\Program Files;C:\\windows\\apps"_s);
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
    QTest::newRow("Wine's short name") << u"unin~hdz"_s << u"C:\\WinePath\\unin~hdz.exe"_s;
    QTest::newRow("WINEPATH, Unix folder") << u"fromunix"_s << u"<prefix>/unixbin\\fromunix.exe"_s;
    QTest::newRow("32-bit: syswow64 first") << u"only32"_s << u"C:\\windows\\syswow64\\only32.exe"_s;
    QTest::newRow("32-bit: then system32") << u"only64"_s << u"C:\\windows\\system32\\only64.exe"_s;
}

void TestWindowsPaths::searchesLikeWindows()
{
    QFETCH(QString, name);
    QFETCH(QString, found);
    found.replace(u"<prefix>"_s, m_prefix.path());
    const WinePrefix prefix(m_prefix.path());
    qputenv("WINEPATH", QFile::encodeName(u"C:\\WinePath;"_s + m_prefix.file(u"unixbin"_s)));
    const ExecutableSearch search(WindowsPaths(prefix, viewOfRow()), PrefixEnvironment::searchPath(prefix));
    qunsetenv("WINEPATH");
    QCOMPARE(search.find(name), found);
    QCOMPARE(search.find(name), found); // answered again from the folder listings
}

QTEST_GUILESS_MAIN(TestWindowsPaths)
#include "tst_windowspaths.moc"
