#include "ScratchWinePrefix.h"

#include "wine/LaunchTarget.h"
#include "wine/RegistryProgram.h"
#include "wine/WineLauncher.h"

#include <QElapsedTimer>
#include <QTest>

// The launcher must hand a stored command line to the Windows program exactly as CreateProcess
// would on Windows. A test program writes what it received (GetCommandLineW) next to itself.
class TestWineLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void registryRequests();
    void registryProcesses();
    void encodeLine_data();
    void encodeLine();
    void withoutWine();
    void launcherMatchesThePrefixArchitecture_data();
    void launcherMatchesThePrefixArchitecture();
    void exactCommandLine_data();
    void exactCommandLine();
    void programThatIsNotThere_data();
    void programThatIsNotThere();
    void failureText_data();
    void failureText();
    void launchTarget_data();
    void launchTarget();
    void registryIsOnDiskAfterwards();
    void boundedWaitForRunningWine();

private:
    void requireWine() const;
    QByteArray received(const QString& exeRelative) const;

    ScratchWinePrefix m_prefix;
    QString m_notReady;
};

void TestWineLauncher::initTestCase()
{
    m_notReady = m_prefix.create();
    if (m_notReady.isEmpty() &&
        (!QFile::exists(QStringLiteral(KESTRIN_ECHO_EXE)) || !QFile::exists(QStringLiteral(KESTRIN_ECHO32_EXE))))
        m_notReady = QStringLiteral("the Windows test programs were not built (no MinGW-w64)");
}

void TestWineLauncher::requireWine() const
{
    if (!m_notReady.isEmpty())
        QSKIP(qPrintable(m_notReady));
}

QByteArray TestWineLauncher::received(const QString& exeRelative) const
{
    QFile file(m_prefix.driveC(exeRelative + QStringLiteral(".cmdline")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

static QByteArray utf16le(const QString& text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

void TestWineLauncher::encodeLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("quote and blank") << QStringLiteral("\"a b") << QStringLiteral("0022006100200062");
    QTest::newRow("umlaut") << QStringLiteral("\u00dc") << QStringLiteral("00dc");
    QTest::newRow("surrogate pair") << QStringLiteral("\U0001F600") << QStringLiteral("d83dde00");
}

void TestWineLauncher::encodeLine()
{
    QFETCH(QString, line);
    QFETCH(QString, encoded);
    QCOMPARE(WineLauncher::encodeLine(line), encoded);
}

void TestWineLauncher::withoutWine()
{
    const QByteArray path = qgetenv("PATH");
    const QByteArray loader = qgetenv("WINELOADER");
    qputenv("PATH", "/nonexistent");
    qunsetenv("WINELOADER");
    WineLauncher launcher;
    const auto outcome = launcher.RunAndWait(m_prefix.path(), QStringLiteral("C:\\windows\\notepad.exe"), {});
    const bool started = launcher.start(m_prefix.path(), QStringLiteral("C:\\windows\\notepad.exe"));
    qputenv("PATH", path);
    if (!loader.isNull())
        qputenv("WINELOADER", loader);
    QVERIFY(!outcome.started);
    QVERIFY(!started);
    QVERIFY2(outcome.failure.contains(QStringLiteral("Wine was not found")), qPrintable(outcome.failure));
}

void TestWineLauncher::launcherMatchesThePrefixArchitecture_data()
{
    QTest::addColumn<QByteArray>("systemReg"); // empty: no file
    QTest::addColumn<QString>("launcher");
    const QByteArray head = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
    QTest::newRow("64-bit prefix") << head + "#arch=win64\n" << QStringLiteral("kestrin-launch-win64.exe");
    QTest::newRow("32-bit prefix") << head + "#arch=win32\n" << QStringLiteral("kestrin-launch-win32.exe");
    // Wine takes a system.reg without "#arch" for a 32-bit prefix.
    QTest::newRow("no #arch line") << head << QStringLiteral("kestrin-launch-win32.exe");
    QTest::newRow("prefix not made yet") << QByteArray() << QStringLiteral("kestrin-launch-win64.exe");
}

void TestWineLauncher::launcherMatchesThePrefixArchitecture()
{
    QFETCH(QByteArray, systemReg);
    QFETCH(QString, launcher);
    QTemporaryDir prefix;
    if (!systemReg.isEmpty()) {
        QFile file(prefix.filePath(QStringLiteral("system.reg")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(systemReg);
    }
    const QString found = WineLauncher::launcherFor(prefix.path());
    if (found.isEmpty())
        QSKIP("the launchers were not built (no MinGW-w64)");
    QCOMPARE(QFileInfo(found).fileName(), launcher);
}

void TestWineLauncher::exactCommandLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("exe");        // where the test program is put, under drive_c
    QTest::addColumn<QString>("workingDir"); // the current folder while it runs, under drive_c
    QTest::addColumn<QByteArray>("winePath");
    QTest::addColumn<bool>("thirtyTwoBit"); // the 32-bit program, as most uninstallers are

    const QString app = QStringLiteral("Program Files/App/un.exe");
    QTest::newRow("quoted path with blanks")
        << QStringLiteral("\"C:\\Program Files\\App\\un.exe\" /S") << app << QString() << QByteArray() << false;
    QTest::newRow("unquoted path with blanks")
        << QStringLiteral("C:\\Program Files\\App\\un.exe /x") << app << QString() << QByteArray() << false;
    QTest::newRow("unquoted path with blanks, no extension")
        << QStringLiteral("C:\\Program Files\\App\\un /x  \"y\"") << app << QString() << QByteArray() << false;
    QTest::newRow("installer service name found in system32")
        << QStringLiteral("KMsiExec.exe /X{6B2A1C44-1111-2222-3333-444455556666}")
        << QStringLiteral("windows/system32/kmsiexec.exe") << QString() << QByteArray() << false;
    QTest::newRow("bare name in the working folder, quoted argument")
        << QStringLiteral("un.exe /D=\"a b\"") << app << QStringLiteral("Program Files/App") << QByteArray() << false;
    QTest::newRow("bare name on the PATH, trailing backslash and percent")
        << QStringLiteral("ktool /q \"x y\\\\\" 100%") << QStringLiteral("Tools/ktool.exe") << QString()
        << QByteArray("C:\\Tools") << false;
    QTest::newRow("letters outside ASCII")
        << QStringLiteral("C:\\Programme\\\u00dcber\\un.exe /\u00e4 \u65e5\u672c")
        << QStringLiteral("Programme/\u00dcber/un.exe") << QString() << QByteArray() << false;
    // In a 64-bit prefix these go through the 32-bit launcher.
    QTest::newRow("32-bit, quoted path with blanks")
        << QStringLiteral("\"C:\\Program Files (x86)\\App\\un.exe\" /S /D=\"a b\"")
        << QStringLiteral("Program Files (x86)/App/un.exe") << QString() << QByteArray() << true;
    QTest::newRow("32-bit, unquoted path with blanks")
        << QStringLiteral("C:\\Program Files (x86)\\App\\un.exe /x") << QStringLiteral("Program Files (x86)/App/un.exe")
        << QString() << QByteArray() << true;
}

void TestWineLauncher::exactCommandLine()
{
    requireWine();
    QFETCH(QString, line);
    QFETCH(QString, exe);
    QFETCH(QString, workingDir);
    QFETCH(QByteArray, winePath);
    QFETCH(bool, thirtyTwoBit);

    QVERIFY(m_prefix.put(thirtyTwoBit ? QStringLiteral(KESTRIN_ECHO32_EXE) : QStringLiteral(KESTRIN_ECHO_EXE), exe));
    QFile::remove(m_prefix.driveC(exe + QStringLiteral(".cmdline")));
    const QString previousDir = QDir::currentPath();
    if (!workingDir.isEmpty())
        QVERIFY(QDir::setCurrent(m_prefix.driveC(workingDir)));
    if (!winePath.isEmpty())
        qputenv("WINEPATH", winePath);

    WineLauncher launcher;
    const auto outcome = launcher.RunAndWait(m_prefix.path(), line, {});
    QDir::setCurrent(previousDir);
    qunsetenv("WINEPATH");

    QVERIFY2(outcome.started, qPrintable(outcome.failure));
    QCOMPARE(outcome.exitCode, 7);
    QCOMPARE(received(exe), utf16le(line));
}

void TestWineLauncher::programThatIsNotThere_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("quoted") << QStringLiteral("\"C:\\Nowhere\\un.exe\" /S");
    QTest::newRow("unquoted with blanks") << QStringLiteral("C:\\No where\\un.exe /S");
    QTest::newRow("bare name") << QStringLiteral("kestrin-no-such-program.exe");
    QTest::newRow("empty") << QString();
}

void TestWineLauncher::programThatIsNotThere()
{
    requireWine();
    QFETCH(QString, line);
    WineLauncher launcher;
    const auto outcome = launcher.RunAndWait(m_prefix.path(), line, {});
    QVERIFY(!outcome.started);
    QVERIFY(!outcome.failure.isEmpty());
}

void TestWineLauncher::failureText_data()
{
    QTest::addColumn<QByteArray>("messages"); // what the launcher and Wine wrote on stderr
    QTest::addColumn<bool>("launcher32");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("missing");
    QTest::newRow("file not found") << QByteArray("kestrin-launch: cannot start: 2\n") << false
                                    << QStringLiteral("The uninstaller C:\\P\\un.exe is not there.") << true;
    QTest::newRow("folder not found") << QByteArray("fixme:x\nkestrin-launch: cannot start: 3\n") << false
                                      << QStringLiteral("The uninstaller C:\\P\\un.exe is not there.") << true;
    QTest::newRow("not a program") << QByteArray("kestrin-launch: cannot start: 193\n") << false
                                   << QStringLiteral("The uninstaller C:\\P\\un.exe is not a program Windows can run.")
                                   << false;
    QTest::newRow("access denied") << QByteArray("kestrin-launch: cannot start: 5") << false
                                   << QStringLiteral("The uninstaller C:\\P\\un.exe may not be run: access is denied.")
                                   << false;
    QTest::newRow("other error") << QByteArray("kestrin-launch: cannot start: 1234\n") << false
                                 << QStringLiteral(
                                        "Wine could not start the uninstaller C:\\P\\un.exe (Windows error 1234).")
                                 << false;
    QTest::newRow("empty line") << QByteArray("kestrin-launch: cannot start: no command line\n") << false
                                << QStringLiteral("The uninstall command is empty.") << false;
    // A 64-bit Wine without its 32-bit half fails to load the 32-bit launcher and says nothing.
    QTest::newRow("no 32-bit Wine")
        << QByteArray() << true
        << QStringLiteral("This uninstaller is a 32-bit program; install 32-bit Wine (wine32) to run it.") << false;
    QTest::newRow("a runner that cannot start, 32-bit launcher")
        << QByteArray("wine: '/p' is not owned by you, refusing to create a configuration directory there\n") << true
        << QStringLiteral("Wine could not run in this prefix: wine: '/p' is not owned by you, refusing to create a "
                          "configuration directory there")
        << false;
    QTest::newRow("Wine says nothing") << QByteArray() << false << QStringLiteral("Wine could not run in this prefix.")
                                       << false;
}

void TestWineLauncher::failureText()
{
    QFETCH(QByteArray, messages);
    QFETCH(bool, launcher32);
    QFETCH(QString, text);
    QFETCH(bool, missing);
    LaunchTarget target;
    target.program = QStringLiteral("C:\\P\\un.exe");
    bool foundMissing = !missing;
    QCOMPARE(WineLauncher::failureText(messages, target, launcher32, foundMissing), text);
    QCOMPARE(foundMissing, missing);
}

void TestWineLauncher::launchTarget_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("is32Bit");
    QTest::newRow("quoted 32-bit") << QStringLiteral("\"C:\\Program Files (x86)\\T\\u32.exe\" /S")
                                   << QStringLiteral("C:\\Program Files (x86)\\T\\u32.exe") << true << true;
    QTest::newRow("unquoted 32-bit with blanks, no extension")
        << QStringLiteral("C:\\Program Files (x86)\\T\\u32 /x") << QStringLiteral("C:\\Program Files (x86)\\T\\u32")
        << true << true;
    QTest::newRow("64-bit") << QStringLiteral("C:\\Program Files\\T\\u64.exe /x")
                            << QStringLiteral("C:\\Program Files\\T\\u64.exe") << true << false;
    QTest::newRow("not a program") << QStringLiteral("C:\\windows\\win.ini") << QStringLiteral("C:\\windows\\win.ini")
                                   << true << false;
    QTest::newRow("gone, named up to its .exe")
        << QStringLiteral("C:\\Program Files (x86)\\Gone\\unins000.exe /x /y")
        << QStringLiteral("C:\\Program Files (x86)\\Gone\\unins000.exe") << false << false;
    QTest::newRow("bare name in system32")
        << QStringLiteral("msiexec /x{1}") << QStringLiteral("msiexec") << true << false;
    QTest::newRow("rundll32 with a 32-bit DLL")
        << QStringLiteral("RunDll32 \"C:\\Program Files (x86)\\T\\u32.exe\",Entry x") << QStringLiteral("RunDll32")
        << true << true;
    QTest::newRow("bare name nowhere") << QStringLiteral("kestrin-nowhere /x") << QStringLiteral("kestrin-nowhere")
                                       << false << false;
}

void TestWineLauncher::launchTarget()
{
    requireWine();
    QFETCH(QString, line);
    QFETCH(QString, program);
    QFETCH(bool, found);
    QFETCH(bool, is32Bit);
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO32_EXE), QStringLiteral("Program Files (x86)/T/u32.exe")));
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), QStringLiteral("Program Files/T/u64.exe")));
    const LaunchTarget target = LaunchTarget::of(WinePrefix(m_prefix.path()), line);
    QCOMPARE(target.program, program);
    QCOMPARE(!target.hostFile.isEmpty(), found);
    QCOMPARE(target.is32Bit, is32Bit);
}

void TestWineLauncher::registryIsOnDiskAfterwards()
{
    requireWine();
    WineLauncher launcher;
    const auto outcome = launcher.RunAndWait(
        m_prefix.path(),
        QStringLiteral("C:\\windows\\system32\\reg.exe add HKLM\\Software\\KLaunch /v Said /d \"a b\" /f"), {});
    QVERIFY2(outcome.started, qPrintable(outcome.failure));
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(outcome.registryOnDisk);
    QFile system(QDir(m_prefix.path()).filePath(QStringLiteral("system.reg")));
    QVERIFY(system.open(QIODevice::ReadOnly));
    const QByteArray text = system.readAll();
    QVERIFY(text.contains("[Software\\\\KLaunch]"));
    QVERIFY(text.contains("\"Said\"=\"a b\""));
}

void TestWineLauncher::boundedWaitForRunningWine()
{
    requireWine();
    // A second Windows program keeps the prefix's wineserver up past the first one's end.
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), QStringLiteral("Linger/linger.exe")));
    QFile::remove(m_prefix.driveC(QStringLiteral("Linger/linger.exe.cmdline")));
    WineLauncher launcher(1500);
    QVERIFY(launcher.start(m_prefix.path(), QStringLiteral("C:\\Linger\\linger.exe --linger")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_prefix.driveC(QStringLiteral("Linger/linger.exe.cmdline"))), 30000);

    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), QStringLiteral("Program Files/App/un.exe")));
    QStringList progress;
    QElapsedTimer clock;
    clock.start();
    const auto outcome = launcher.RunAndWait(m_prefix.path(), QStringLiteral("\"C:\\Program Files\\App\\un.exe\""),
                                             [&](const QString& text) { progress << text; });
    const qint64 waited = clock.elapsed();
    QVERIFY2(outcome.started, qPrintable(outcome.failure));
    QVERIFY(!outcome.registryOnDisk);
    QCOMPARE(progress, QStringList{WineLauncher::savingRegistryText()});
    QVERIFY2(waited >= 1500, qPrintable(QString::number(waited)));
    QVERIFY(m_prefix.waitForServerExit(30000));
}

void TestWineLauncher::registryRequests()
{
    // The default value, a name beyond the first plane, no data, and a key deleted.
    const QStringList key{QStringLiteral("Software"), QStringLiteral("K")};
    std::vector<HiveChange> changes{
        {HiveChange::Kind::CreateKey, key, {}, {}},
        {HiveChange::Kind::SetValue, key, {}, RegistryValue::fromString(QStringLiteral("a"))},
        {HiveChange::Kind::SetValue, key, QString::fromUtf8("\xF0\x9F\x98\x80"), RegistryValue::fromBinary({}, 0)},
        {HiveChange::Kind::DeleteValue, key, QStringLiteral("x"), {}},
        {HiveChange::Kind::DeleteKey, key, {}, {}},
    };
    // "Software\K" as UTF-16LE, in hexadecimal.
    QCOMPARE(RegistryProgram::requestLines(RegistryProgram::Root::CurrentUser, changes),
             QByteArray("create-key HKCU 53006f006600740077006100720065005c004b00\n"
                        "set HKCU 53006f006600740077006100720065005c004b00 - 1 61000000\n"
                        "set HKCU 53006f006600740077006100720065005c004b00 3dd800de 0 -\n"
                        "delete-value HKCU 53006f006600740077006100720065005c004b00 7800\n"
                        "delete-key HKCU 53006f006600740077006100720065005c004b00\n"));
}

void TestWineLauncher::registryProcesses()
{
    const auto line = [](int id, int parent, const QString& name) -> QByteArray {
        QByteArray units;
        for (const QChar c : name) {
            units += char(c.unicode() & 0xFF);
            units += char(c.unicode() >> 8);
        }
        return "process " + QByteArray::number(id) + ' ' + QByteArray::number(parent) + ' ' + units.toHex() + '\n';
    };
    // Our run under Proton: steam.exe started it, start.exe started that; a console came with it.
    const QByteArray answer =
        QByteArray() + line(8, 0, u"services.exe"_qs) + line(20, 8, u"explorer.exe"_qs) + line(30, 0, u"start.exe"_qs) +
        line(31, 30, u"notepad.exe"_qs) + line(40, 0, u"start.exe"_qs) + line(41, 40, u"steam.exe"_qs) +
        line(42, 41, u"kestrin-registry-win64.exe"_qs) + line(43, 42, u"conhost.exe"_qs) + "process bad line\nok\n";
    QStringList names;
    for (const RegistryProgram::Process& process : RegistryProgram::parseProcesses(answer))
        names << process.exeName + u':' + QString::number(process.id);
    QCOMPARE(names,
             QStringList({u"services.exe:8"_qs, u"explorer.exe:20"_qs, u"start.exe:30"_qs, u"notepad.exe:31"_qs}));
}

QTEST_GUILESS_MAIN(TestWineLauncher)
#include "tst_winelauncher.moc"
