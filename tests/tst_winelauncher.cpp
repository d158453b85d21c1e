#include "ScratchWinePrefix.h"

#include "platform/WineLauncher.h"

#include <QElapsedTimer>
#include <QTest>

// The launcher must hand a stored command line to the Windows program exactly as CreateProcess
// would on Windows. A test program writes what it received (GetCommandLineW) next to itself.
class TestWineLauncher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void encodeLine_data();
    void encodeLine();
    void withoutWine();
    void launcherMatchesThePrefixArchitecture_data();
    void launcherMatchesThePrefixArchitecture();
    void exactCommandLine_data();
    void exactCommandLine();
    void programThatIsNotThere_data();
    void programThatIsNotThere();
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
    if (m_notReady.isEmpty() && !QFile::exists(QStringLiteral(KESTRIN_ECHO_EXE)))
        m_notReady = QStringLiteral("the Windows test program was not built (no MinGW-w64)");
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

    const QString app = QStringLiteral("Program Files/App/un.exe");
    QTest::newRow("quoted path with blanks")
        << QStringLiteral("\"C:\\Program Files\\App\\un.exe\" /S") << app << QString() << QByteArray();
    QTest::newRow("unquoted path with blanks")
        << QStringLiteral("C:\\Program Files\\App\\un.exe /x") << app << QString() << QByteArray();
    QTest::newRow("unquoted path with blanks, no extension")
        << QStringLiteral("C:\\Program Files\\App\\un /x  \"y\"") << app << QString() << QByteArray();
    QTest::newRow("installer service name found in system32")
        << QStringLiteral("KMsiExec.exe /X{6B2A1C44-1111-2222-3333-444455556666}")
        << QStringLiteral("windows/system32/kmsiexec.exe") << QString() << QByteArray();
    QTest::newRow("bare name in the working folder, quoted argument")
        << QStringLiteral("un.exe /D=\"a b\"") << app << QStringLiteral("Program Files/App") << QByteArray();
    QTest::newRow("bare name on the PATH, trailing backslash and percent")
        << QStringLiteral("ktool /q \"x y\\\\\" 100%") << QStringLiteral("Tools/ktool.exe") << QString()
        << QByteArray("C:\\Tools");
    QTest::newRow("letters outside ASCII") << QStringLiteral("C:\\Programme\\\u00dcber\\un.exe /\u00e4 \u65e5\u672c")
                                           << QStringLiteral("Programme/\u00dcber/un.exe") << QString() << QByteArray();
}

void TestWineLauncher::exactCommandLine()
{
    requireWine();
    QFETCH(QString, line);
    QFETCH(QString, exe);
    QFETCH(QString, workingDir);
    QFETCH(QByteArray, winePath);

    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), exe));
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

QTEST_GUILESS_MAIN(TestWineLauncher)
#include "tst_winelauncher.moc"
