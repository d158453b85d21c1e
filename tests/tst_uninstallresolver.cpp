#include "TestDrive.h"

#include "inventory/IconResolver.h"
#include "inventory/PositionText.h"
#include "inventory/PrefixEnvironment.h"
#include "inventory/UninstallResolver.h"
#include "paths/WindowsPaths.h"

#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Rows named "32-bit: ..." are entries of the 32-bit view of a 64-bit prefix.
PathView viewOfRow()
{
    return QByteArray(QTest::currentDataTag()).startsWith("32-bit") ? PathView::Wow64 : PathView::Native;
}

} // namespace

class TestUninstallResolver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cutsByPosition_data();
    void cutsByPosition();
    void uninstallerExists_data();
    void uninstallerExists();
    void iconFileOf_data();
    void iconFileOf();
    void programIconIndex_data();
    void programIconIndex();

private:
    std::unique_ptr<TestPrefix> m_prefix;
};

// Files every row has; a row adds its own (system32/, windows/ and Ab are relative to drive_c).
void TestUninstallResolver::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(TestDrive::addDrive(*m_prefix, u'c', u"drive_c"_s));
    for (const QString& path :
         {u"Windows/Remover.exe"_s, u"Apps/Tool/Remove.log"_s, u"Apps/Tool/Reg.dll"_s, u"Tools/unins000.exe"_s,
          u"Setup/setup.exe"_s, u"Apps/Tool/tool.ICO"_s, u"Apps/Tool/app.exe"_s})
        QVERIFY(TestDrive::add(*m_prefix, u"drive_c/"_s + path));
    // Written as Wine writes it; saving through the registry layer would sync the disk for every row.
    QVERIFY(m_prefix->write(u"system.reg"_s,
                            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
                            "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\Environment] 1796687539\n"
                            "\"PATH\"=str(2):\"%SystemRoot%\\\\system32;%SystemRoot%;C:\\\\Setup\"\n"));
}

void TestUninstallResolver::cutsByPosition_data()
{
    QTest::addColumn<QString>("cut");
    QTest::addColumn<QString>("expected");

    using namespace PositionText;
    QTest::newRow("Sub below 1 counts as 1") << Sub(u"abcd", -3, 2) << u"ab"_s;
    QTest::newRow("Sub count past the end") << Sub(u"abcd", 3, 10) << u"cd"_s;
    QTest::newRow("Sub past the end") << Sub(u"abcd", 5, 1) << QString();
    QTest::newRow("Sub no count") << Sub(u"abcd", 2, 0) << QString();
    QTest::newRow("Trim control characters") << Trim(u"\t\x01 a b\r\n ") << u"a b"_s;
    QTest::newRow("Path without a dot") << UninstallResolver::Path(u"/D=C:\\Apps"_s, 5) << u"C:\\Ap"_s;
    QTest::newRow("Path at the start") << UninstallResolver::Path(u":\\x.dllzz"_s, 1) << u":\\x.dllz"_s;
}

void TestUninstallResolver::cutsByPosition()
{
    QFETCH(QString, cut);
    QFETCH(QString, expected);
    QCOMPARE(cut, expected);
}

void TestUninstallResolver::uninstallerExists_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("exists");

    const QString remover = u"C:\\Windows\\Remover.exe"_s;
    const QStringList none;
    const QStringList msiInSystem{u"windows/system32/msiexec.exe"_s};
    const QStringList rundllInWindows{u"windows/rundll32.exe"_s};
    const QString rundllArgs = u" setupapi.dll,InstallHinfSection DefaultUninstall 132 C:\\Apps\\gone.inf"_s;

    QTest::newRow("whole command is a file") << u"C:\\Tools\\unins000.exe"_s << none << true;
    QTest::newRow("quoted program") << u"\"C:\\Tools\\unins000.exe\" /SILENT"_s << none << true;
    QTest::newRow("drive path, no path in arguments") << u"C:\\Tools\\unins000.exe /SILENT"_s << none << true;
    QTest::newRow("both files") << remover + u" -f \"C:\\Apps\\Tool\\Remove.log\""_s << none << true;
    QTest::newRow("all three files") << remover + u" -f \"C:\\Apps\\Tool\\Remove.log\" -c \"C:\\Apps\\Tool\\Reg.dll\""_s
                                     << none << true;
    QTest::newRow("three files, then -x")
        << remover + u" -f \"C:\\Apps\\Tool\\Remove.log\" -c \"C:\\Apps\\Tool\\Reg.dll\" -x"_s << none << true;
    QTest::newRow("unquoted argument path") << remover + u" -fC:\\Apps\\Tool\\Remove.log -x"_s << none << true;
    QTest::newRow("argument names no file") << remover + u" -f \"C:\\Apps\\Tool\\Missing.log\""_s << none << false;
    QTest::newRow("drive path without .exe") << u"C:\\Tools\\remove.bat"_s << none << false;
    QTest::newRow("MsiExec.exe, system32")
        << u"MsiExec.exe /X{1A2B3C4D-0000-0000-0000-000000000000}"_s << msiInSystem << true;
    QTest::newRow("MsiExec.exe, nowhere") << u"MsiExec.exe /X{1A2B}"_s << none << false;
    QTest::newRow("RunDll32") << u"RunDll32"_s + rundllArgs << rundllInWindows << true;
    QTest::newRow("rundll32.exe, system32")
        << u"rundll32.exe"_s + rundllArgs << QStringList{u"windows/system32/rundll32.exe"_s} << true;
    QTest::newRow("RUNDLL32 in capitals") << u"RUNDLL32.EXE"_s + rundllArgs << rundllInWindows << true;
    QTest::newRow("setup found through PATH") << u"setup /remove"_s << none << true;
    QTest::newRow("msiexec without .exe, searched") << u"msiexec /x {1A2B}"_s << msiInSystem << true;
    QTest::newRow("empty command") << QString() << none << true;
    QTest::newRow("quoted program missing, arguments exist")
        << u"\"C:\\Tools\\gone.exe\" \"C:\\Apps\\Tool\\Remove.log\""_s << none << false;
    QTest::newRow("no closing quote drops the last character") << u"\"C:\\Tools\\unins000.exe"_s << none << false;
    QTest::newRow("no closing quote, trailing blank") << u"\"C:\\Tools\\unins000.exe "_s << none << true;
    QTest::newRow("two double quotes inside quotes") << u"\"C:\\Tools\\unins000.exe\"\" /x"_s << none << false;
    QTest::newRow("second drive path missing")
        << remover + u" \"C:\\Apps\\Tool\\Remove.log\" \"C:\\Apps\\Tool\\Missing.dll\""_s << none << false;
    QTest::newRow("third drive path: second and third unexamined")
        << remover + u" \"C:\\Apps\\Tool\\Remove.log\" \"C:\\Apps\\Tool\\Missing.dll\" \"C:\\No\\x.dat\""_s << none
        << true;
    QTest::newRow("no dot after the drive letter: a folder") << remover + u" /D=C:\\Apps"_s << none << false;
    QTest::newRow("no dot after the drive letter: five characters")
        << remover + u" /D=C:\\Abc"_s << QStringList{u"Ab"_s} << true;
    QTest::newRow("a .bat, then an existing .exe")
        << u"C:\\Tools\\remove.bat C:\\Tools\\unins000.exe"_s << none << false;
    QTest::newRow("drive path in capitals") << u"C:\\TOOLS\\UNINS000.EXE /S"_s << none << true;
    QTest::newRow("rundll32 in neither folder") << u"rundll32.exe"_s + rundllArgs << none << false;
    QTest::newRow("ends in a drive's root") << u"C:\\Tools\\unins000.exe /D=C:\\"_s << none << false;

    const QStringList longName{u"Program Files/App/Uninstall Foo.exe"_s};
    QTest::newRow("Wine's short names") << u"C:\\PROG~FBU\\App\\UNIN~HDZ.EXE /S"_s << longName << true;
    QTest::newRow("Windows-style short names") << u"C:\\PROGRA~1\\App\\UNINST~1.EXE /S"_s << longName << false;
    QTest::newRow("\\\\?\\ drive path") << u"\\\\?\\C:\\Tools\\unins000.exe /S"_s << none << true;
    QTest::newRow("\\??\\ drive path, argument missing")
        << u"\\??\\C:\\Tools\\unins000.exe /L=C:\\Apps\\Tool\\Missing.log"_s << none << false;
    QTest::newRow("found through WINEPATH") << u"wpuninst /S"_s << QStringList{u"WinePath/wpuninst.exe"_s} << true;
    QTest::newRow("expanded reference") << u"%SystemRoot%\\Remover.exe"_s << none << true;

    const QStringList in32{u"windows/syswow64/unins32.exe"_s};
    QTest::newRow("32-bit: system32 is syswow64") << u"C:\\windows\\system32\\unins32.exe /S"_s << in32 << true;
    QTest::newRow("64-bit: system32 is system32") << u"C:\\windows\\system32\\unins32.exe /S"_s << in32 << false;
    QTest::newRow("32-bit: rundll32 in syswow64")
        << u"RunDll32"_s + rundllArgs << QStringList{u"windows/syswow64/rundll32.exe"_s} << true;
    const QStringList in86{u"Program Files (x86)/App/u.exe"_s};
    QTest::newRow("32-bit: %ProgramFiles% is the x86 folder") << u"%ProgramFiles%\\App\\u.exe /S"_s << in86 << true;
    QTest::newRow("64-bit: %ProgramFiles% is the native one") << u"%ProgramFiles%\\App\\u.exe /S"_s << in86 << false;
    QTest::newRow("32-bit: then the native folder")
        << u"\"%ProgramFiles%\\App\\u.exe\""_s << QStringList{u"Program Files/App/u.exe"_s} << true;
}

void TestUninstallResolver::uninstallerExists()
{
    QFETCH(QString, command);
    QFETCH(QStringList, files);
    QFETCH(bool, exists);
    for (const QString& file : files)
        QVERIFY(TestDrive::add(*m_prefix, u"drive_c/"_s + file));
    qputenv("WINEPATH", "C:\\WinePath");
    UninstallResolver resolver{WinePrefix(m_prefix->path())};
    QCOMPARE(resolver.UninstallerExists(command, viewOfRow()), exists);
    qunsetenv("WINEPATH");
}

void TestUninstallResolver::iconFileOf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("file");

    QTest::newRow("path with index") << u"C:\\Apps\\Tool\\tool.exe,0"_s << u"C:\\Apps\\Tool\\tool.exe"_s;
    QTest::newRow("name with index") << u"tool.exe,0"_s << u"tool.exe"_s;
    QTest::newRow("negative index") << u"shell32.dll,-154"_s << u"shell32.dll"_s;
    QTest::newRow("second dot cuts the name") << u"C:\\Apps\\my.tool.exe"_s << u"C:\\Apps\\my.too"_s;
    QTest::newRow("upper-case ICO") << u"C:\\Apps\\tool.ICO"_s << QString();
    QTest::newRow("mixed-case Exe") << u"tool.Exe"_s << QString();
}

void TestUninstallResolver::iconFileOf()
{
    QFETCH(QString, text);
    QFETCH(QString, file);
    QCOMPARE(IconResolver::IconFileOf(text), file);
}

void TestUninstallResolver::programIconIndex_data()
{
    QTest::addColumn<QString>("displayIcon");
    QTest::addColumn<QString>("programPath");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("index");

    const QString command = u"\"C:\\Tools\\unins000.exe\" /S"_s;
    QTest::newRow("display icon in quotes") << u"\"C:\\APPS\\Tool\\app.exe\",0"_s << QString() << command << 2;
    QTest::newRow("ICO display icon: next source")
        << u"C:\\Apps\\Tool\\tool.ICO"_s << u"C:\\Apps\\Tool\\app.exe"_s << command << 2;
    QTest::newRow("cache path with a lead character")
        << u"C:\\Apps\\Tool\\gone.exe"_s << u"\\C:\\Apps\\Tool\\app.exe"_s << command << 2;
    QTest::newRow("command") << QString() << QString() << command << 3;
    QTest::newRow("second dot: cut to no file") << u"C:\\Apps\\Tool\\my.app.exe"_s << QString() << u"gone"_s << 99;
    QTest::newRow("own icon") << QString() << QString() << u"C:\\Apps\\Tool\\Remove.log"_s << 99;
    QTest::newRow("short names") << u"C:\\PROG~FBU\\App\\UNIN~HDZ.EXE,0"_s << QString() << command << 6;
    QTest::newRow("32-bit: system32 is syswow64") << u"C:\\windows\\system32\\x.dll,3"_s << QString() << command << 7;
    QTest::newRow("32-bit: %ProgramFiles% is the x86 folder")
        << u"%ProgramFiles%\\App\\x86.exe"_s << QString() << command << 8;
}

void TestUninstallResolver::programIconIndex()
{
    QFETCH(QString, displayIcon);
    QFETCH(QString, programPath);
    QFETCH(QString, command);
    QFETCH(int, index);
    for (const QString& file : {u"Apps/Tool/my.app.exe"_s, u"Program Files/App/Uninstall Foo.exe"_s,
                                u"windows/syswow64/x.dll"_s, u"Program Files (x86)/App/x86.exe"_s})
        QVERIFY(TestDrive::add(*m_prefix, u"drive_c/"_s + file)); // my.app.exe is named, but cut to my.app
    const auto indexOfHostFile = [](const QString& hostFile) {
        const QString name = QFileInfo(hostFile).fileName();
        return name == u"app.exe"_s             ? 2
               : name == u"unins000.exe"_s      ? 3
               : name == u"tool.ICO"_s          ? 4
               : name == u"my.app.exe"_s        ? 5
               : name == u"Uninstall Foo.exe"_s ? 6
               : name == u"x.dll"_s             ? 7
               : name == u"x86.exe"_s           ? 8
                                                : -1;
    };
    const WinePrefix prefix(m_prefix->path());
    PrefixEnvironment::Expander expander(prefix);
    const IconResolver icons(IconResolver::throughPrefix(prefix, indexOfHostFile), 99,
                             [&expander](const QString& text, PathView view) { return expander.expand(text, view); });
    QCOMPARE(icons.ProgramIconIndex(displayIcon, programPath, command, viewOfRow()), index);
}

QTEST_GUILESS_MAIN(TestUninstallResolver)
#include "tst_uninstallresolver.moc"
