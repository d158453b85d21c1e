#include "AuditPrefix.h"
#include "RecordingPrintJob.h"
#include "ScratchWinePrefix.h"

#include "base/Clock.h"
#include "base/HostNames.h"
#include "controls/MessageBox.h"
#include "controls/QPrinterPrintJob.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "mainwindow/CommandLine.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/TfKestrin.h"
#include "wine/CommandLauncher.h"

#include <QPrinterInfo>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString alphaKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Alpha"_s;
const QByteArray logHeader = "Kestrin Uninstall Log \r\nContains information about programs you have uninstalled "
                             "from your computer\r\n\r\n";

// Stands in for Wine: records the lines and, when told to, removes Alpha's entry as its uninstaller would.
class FakeLauncher : public CommandLauncher
{
public:
    QString prefix;
    bool removes = true;
    bool starts = true;
    QStringList lines;

    Outcome RunAndWait(const QString&, const QString& line, const Progress&) override
    {
        lines << line;
        Outcome outcome;
        outcome.started = starts;
        if (!starts) {
            outcome.failure = u"Wine was not found."_s;
            return outcome;
        }
        if (removes) {
            RegistryAccess registry{WinePrefix(prefix)};
            registry.RootKey(RegistryRoot::LocalMachine);
            registry.DeleteKey(alphaKey);
        }
        return outcome;
    }
    bool start(const QString&, const QString&) override { return false; }
};

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void switches_data();
    void switches();
    void leadingOptions_data();
    void leadingOptions();
    void prefixOptionOverWinePrefix();
    void commandToRun_data();
    void commandToRun();
    void quietUninstall_data();
    void quietUninstall();
    void reportToFile_data();
    void reportToFile();
    void uninstallSwitch_data();
    void uninstallSwitch();
    void reportToPrinter_data();
    void reportToPrinter();
    void headlessRuns_data();
    void headlessRuns();
    void quietUninstallUnderWine();

private:
    std::unique_ptr<TfKestrin> makeMain(const QStringList& arguments);
    // Runs the built program with neither DISPLAY nor WAYLAND_DISPLAY, in the work folder; -1 when it
    // crashed or hung. `printed` receives its standard output and error.
    int runWithoutDisplay(const QString& prefix, const QStringList& arguments, QByteArray* printed = nullptr);
    QByteArray workFile(const QString& name) const;

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
    FakeLauncher m_launcher;
};

void TestCommandLine::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_work = std::make_unique<QTemporaryDir>();
    makeAuditPrefix(*m_prefix);
    m_launcher.prefix = m_prefix->path();
    m_launcher.removes = true;
    m_launcher.starts = true;
    m_launcher.lines.clear();
    CommandLauncher::setInstance(&m_launcher);
    MessageBox::setTestMode(true);
    Clock::setSource([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)); });
    HostNames::setForTests(u"host"_s, u"ann"_s);
    QuitAfterReport = true;
}

void TestCommandLine::cleanup()
{
    CommandLine::setCurrent(CommandLine());
    CommandLauncher::setInstance(nullptr);
    QPrinterPrintJob::setDefaultForTests(nullptr);
    HostNames::setForTests({}, {});
    Clock::setSource({});
    MessageBox::setTestMode(false);
    QuitAfterReport = true;
}

std::unique_ptr<TfKestrin> TestCommandLine::makeMain(const QStringList& arguments)
{
    CommandLine::setCurrent(CommandLine(arguments));
    return std::make_unique<TfKestrin>(WinePrefix(m_prefix->path()), m_work->path());
}

QByteArray TestCommandLine::workFile(const QString& name) const
{
    QFile file(m_work->filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestCommandLine::switches_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CommandLine::Switch>("which");
    QTest::addColumn<bool>("shown");
    using S = CommandLine::Switch;
    QTest::newRow("/Uninstall") << QStringList{u"/Uninstall"_s, u"A"_s} << S::Uninstall << true;
    QTest::newRow("/qU") << QStringList{u"/qU"_s, u"A"_s} << S::QuietUninstall << false;
    QTest::newRow("/rfl file") << QStringList{u"/rfl"_s, u"r"_s} << S::ReportFileLong << false;
    QTest::newRow("/Rfs without file") << QStringList{u"/Rfs"_s} << S::ReportFileShort << true;
    QTest::newRow("/rpL") << QStringList{u"/rpL"_s} << S::ReportPrintLong << false;
    QTest::newRow("unknown") << QStringList{u"/QUX"_s} << S::None << true;
}

void TestCommandLine::switches()
{
    QFETCH(QStringList, arguments);
    QFETCH(CommandLine::Switch, which);
    QFETCH(bool, shown);
    const CommandLine line(arguments);
    QCOMPARE(line.switchGiven(), which);
    QCOMPARE(line.ShowMainWindow(), shown);
}

void TestCommandLine::leadingOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<CommandLine::Switch>("which");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("error");
    using S = CommandLine::Switch;
    QTest::newRow("--prefix before /QU") << QStringList{u"--prefix"_s, u"/p q"_s, u"/qu"_s, u"A"_s, u"B"_s} << u"/p q"_s
                                         << S::QuietUninstall << QStringList{u"A"_s, u"B"_s} << QString();
    QTest::newRow("--prefix alone") << QStringList{u"--prefix"_s, u"/p"_s} << u"/p"_s << S::None << QStringList()
                                    << QString();
    QTest::newRow("a name that looks like an option")
        << QStringList{u"/QU"_s, u"--prefix"_s, u"x"_s} << QString() << S::QuietUninstall
        << QStringList{u"--prefix"_s, u"x"_s} << QString();
    QTest::newRow("--prefix without a folder")
        << QStringList{u"--prefix"_s} << QString() << S::None << QStringList() << u"--prefix needs a value."_s;
    QTest::newRow("--prefix with an empty folder")
        << QStringList{u"--prefix"_s, QString(), u"/RPL"_s} << QString() << S::ReportPrintLong << QStringList()
        << u"--prefix needs a value."_s;
    // --clean-menus is a run of its own: what follows is its own arguments, /QU included.
    QTest::newRow("--prefix before --clean-menus")
        << QStringList{u"--prefix"_s, u"/p"_s, u"--clean-menus"_s, u"/QU"_s, u"/f"_s} << u"/p"_s << S::QuietUninstall
        << QStringList{u"/f"_s} << QString();
    QTest::newRow("unknown option") << QStringList{u"--prefx"_s, u"/p"_s} << QString() << S::None << QStringList{}
                                    << u"Unknown option --prefx."_s;
}

void TestCommandLine::leadingOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, prefix);
    QFETCH(CommandLine::Switch, which);
    QFETCH(QStringList, names);
    QFETCH(QString, error);
    const CommandLine line(arguments);
    QCOMPARE(line.optionError(), error);
    if (!error.isEmpty())
        return;
    QCOMPARE(line.prefixOption(), prefix);
    QCOMPARE(line.switchGiven(), which);
    QCOMPARE(line.names(), names);
    QCOMPARE(line.cleanMenus(), arguments.contains(u"--clean-menus"_s));
}

void TestCommandLine::prefixOptionOverWinePrefix()
{
    // WINEPREFIX names a folder that does not exist; the report lists the --prefix one's programs.
    QByteArray printed;
    QCOMPARE(runWithoutDisplay(m_work->filePath(u"absent"_s), {u"--prefix"_s, m_prefix->path(), u"/RFS"_s, u"out"_s},
                               &printed),
             0);
    QVERIFY2(workFile(u"out.txt"_s).endsWith("\r\r\nAlpha\r\nBeta\r\n"), workFile(u"out.txt"_s).constData());
    QVERIFY(!QFileInfo::exists(m_work->filePath(u"absent"_s)));
    QCOMPARE(runWithoutDisplay(m_prefix->path(), {u"--prefix"_s}, &printed), 1);
    QVERIFY2(printed.contains("kestrin: --prefix needs a value."), printed.constData());
}

void TestCommandLine::commandToRun_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("run");
    QTest::newRow("quoted program, arguments dropped")
        << uR"("C:\Program Files\A\un.exe" /S /D="x y")"_s << uR"(C:\Program Files\A\un.exe)"_s;
    QTest::newRow("doubled quote") << uR"("C:\a""b.exe" /x)"_s << uR"(C:\a"b.exe)"_s;
    QTest::newRow("no closing quote") << uR"("C:\a\un.exe /x)"_s << uR"(C:\a\un.exe /)"_s;
    QTest::newRow("unquoted unchanged") << uR"(C:\a\un.exe "x")"_s << uR"(C:\a\un.exe "x")"_s;
    QTest::newRow("empty quotes unchanged") << uR"("" /x)"_s << uR"("" /x)"_s;
}

void TestCommandLine::commandToRun()
{
    QFETCH(QString, stored);
    QFETCH(QString, run);
    QCOMPARE(CommandLine::commandToRun(stored), run);
}

void TestCommandLine::quietUninstall_data()
{
    QTest::addColumn<bool>("starts");
    QTest::addColumn<bool>("removes");
    QTest::addColumn<QByteArray>("outcome");
    QTest::addColumn<int>("status");
    const QByteArray failed =
        "Uninstaller did not complete the uninstall process or did not remove program from list.\r\n";
    // Gamma is not listed: the run tells a script so, unless something graver happened.
    QTest::newRow("removed, a name not listed")
        << true << true << QByteArray("Uninstall OK. Uninstaller removed program from list.\r\n")
        << CommandLine::ExitNameNotFound;
    QTest::newRow("left in the list") << true << false << failed << CommandLine::ExitNotRemoved;
    QTest::newRow("did not run") << false << true << failed << CommandLine::ExitNotStarted;
}

void TestCommandLine::quietUninstall()
{
    QFETCH(bool, starts);
    QFETCH(bool, removes);
    QFETCH(QByteArray, outcome);
    QFETCH(int, status);
    m_launcher.starts = starts;
    m_launcher.removes = removes;
    // The first name is not installed; the second is typed in other letter case than listed.
    auto main = makeMain({u"/Qu"_s, u"Gamma"_s, u"aLPHA"_s});
    QCOMPARE(m_launcher.lines, QStringList{u"C:\\alpha\\unins.exe"_s});
    QCOMPARE(workFile(u"ULog.txt"_s), logHeader + "\r\n7/12/2026 9:5:3\r\nUninstalling aLPHA\r\n" + outcome);
    QVERIFY(main->endRequested());
    QCOMPARE(main->exitStatus(), status);
    QVERIFY(!main->isVisible());
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestCommandLine::reportToFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("lastLines");
    QTest::addColumn<int>("status");
    QTest::newRow("/RFL without a name") << QStringList{u"/RFL"_s} << u"Report.txt"_s
                                         << QByteArray("\r\r\nBeta\r\nUninstall Command: C:\\beta\\gone.exe\r\n")
                                         << CommandLine::ExitOk;
    QTest::newRow("/RFS into a missing folder")
        << QStringList{u"/RFS"_s, u"no/out"_s} << QString() << QByteArray() << CommandLine::ExitFailed;
}

void TestCommandLine::reportToFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QFETCH(QByteArray, lastLines);
    QFETCH(int, status);
    auto main = makeMain(arguments);
    QVERIFY(main->endRequested());
    QCOMPARE(main->exitStatus(), status);
    if (file.isEmpty()) {
        QCOMPARE(MessageBox::recorded().size(), 1);
        QCOMPARE(MessageBox::recorded().first().text, u"Invalid filename"_s);
        return;
    }
    QVERIFY(MessageBox::recorded().isEmpty());
    const QByteArray written = workFile(file);
    QVERIFY2(written.contains(lastLines), written.constData());
    QVERIFY(written.startsWith(" Software Audit Report for: host\r\n"));
}

void TestCommandLine::uninstallSwitch_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::newRow("other letter case") << u"bETA"_s << true;
    QTest::newRow("unknown") << u"Bet"_s << false;
}

void TestCommandLine::uninstallSwitch()
{
    QFETCH(QString, name);
    QFETCH(bool, found);
    auto main = makeMain({u"/UNINSTALL"_s, name});
    QStringList opened;
    main->commands().setWindowOpener(MainCommands::Window::Uninstall,
                                     [&] { opened << main->programList().at(main->selectedIndex()).Name; });
    QVERIFY(!main->endRequested());
    QVERIFY(opened.isEmpty());
    main->show();
    QTRY_VERIFY(!main->UninstallPending);
    // Only the first showing acts.
    main->hide();
    main->show();
    QTest::qWait(50);
    QCOMPARE(opened, found ? QStringList{u"Beta"_s} : QStringList());
    QCOMPARE(MessageBox::recorded().size(), found ? 0 : 1);
    if (!found) {
        QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
        QCOMPARE(MessageBox::recorded().first().title, u"Kestrin"_s); // the window's title also names the prefix
        QCOMPARE(MessageBox::recorded().first().text, u"There program you are looking for (Bet) was not found"_s);
    }
}

void TestCommandLine::reportToPrinter_data()
{
    QTest::addColumn<bool>("printer");
    QTest::addColumn<bool>("headless");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<int>("status");
    QTest::newRow("printed") << true << false << true << CommandLine::ExitOk;
    QTest::newRow("no printer: the window stays") << false << false << false << CommandLine::ExitFailed;
    QTest::newRow("no printer, no display: ends") << false << true << true << CommandLine::ExitFailed;
}

void TestCommandLine::reportToPrinter()
{
    QFETCH(bool, printer);
    QFETCH(bool, headless);
    QFETCH(bool, ends);
    QFETCH(int, status);
    QStringList calls;
    QPrinterPrintJob::setDefaultForTests([printer, &calls]() -> std::unique_ptr<PrintJob> {
        return printer ? std::make_unique<RecordingJob>(calls, 10, 100000) : nullptr;
    });
    CommandLine line({u"/rpl"_s});
    line.setHeadless(headless);
    CommandLine::setCurrent(line);
    TfKestrin main(WinePrefix(m_prefix->path()), m_work->path());
    QCOMPARE(main.endRequested(), ends);
    QCOMPARE(main.exitStatus(), status);
    QCOMPARE(QuitAfterReport, printer);
    QCOMPARE(main.isVisible(), !printer && !headless);
    QCOMPARE(MessageBox::recorded().size(), printer ? 0 : 1);
    QCOMPARE(calls.filter(u" Beta"_s).size(), printer ? 1 : 0);
    QCOMPARE(calls.value(calls.size() - 1), printer ? u"end"_s : QString());
    if (!printer)
        QCOMPARE(MessageBox::recorded().first().text, QPrinterPrintJob::noDefaultPrinterText());
}

void TestCommandLine::headlessRuns_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("printedText");
    QTest::newRow("/RFS out") << QStringList{u"/RFS"_s, u"out"_s} << 0 << u"out.txt"_s << QString();
    QTest::newRow("/RPL without a printer")
        << QStringList{u"/RPL"_s} << 1 << QString() << u"There is no default printer"_s;
    QTest::newRow("--version") << QStringList{u"--version"_s} << 0 << QString() << u"kestrin 0.1.0"_s;
    QTest::newRow("a window without a display")
        << QStringList{u"/UNINSTALL"_s, u"Alpha"_s} << 1 << QString() << u"needs a display"_s;
    // An empty report from a folder that is no prefix would pass for an empty prefix.
    QTest::newRow("a report of no prefix")
        << QStringList{u"--prefix"_s, u"absent"_s, u"/RFS"_s, u"out"_s} << 1 << QString() << u"No Wine prefix at "_s;
    QTest::newRow("/QU in no prefix") << QStringList{u"--prefix"_s, u"absent"_s, u"/QU"_s, u"Alpha"_s} << 1 << QString()
                                      << u"No Wine prefix at "_s;
}

void TestCommandLine::headlessRuns()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, file);
    QFETCH(QString, printedText);
    if (arguments.first() == u"/RPL"_s && !QPrinterInfo::defaultPrinter().isNull())
        QSKIP("this machine has a default printer");
    const QByteArray userHive = m_prefix->read(u"user.reg"_s);
    QByteArray printed;
    QCOMPARE(runWithoutDisplay(m_prefix->path(), arguments, &printed), status);
    // No window was shown: the place and size the user saved stay as they were.
    QCOMPARE(m_prefix->read(u"user.reg"_s), userHive);
    if (!file.isEmpty())
        QVERIFY2(workFile(file).endsWith("\r\r\nAlpha\r\nBeta\r\n"), workFile(file).constData());
    else
        QVERIFY(!QFileInfo::exists(m_work->filePath(u"out.txt"_s)));
    if (!printedText.isEmpty())
        QVERIFY2(printed.contains(printedText.toUtf8()), printed.constData());
}

int TestCommandLine::runWithoutDisplay(const QString& prefix, const QStringList& arguments, QByteArray* printed)
{
    QProcess kestrin;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(name);
    environment.insert(u"WINEPREFIX"_s, prefix);
    kestrin.setProcessEnvironment(environment);
    kestrin.setWorkingDirectory(m_work->path());
    kestrin.start(QStringLiteral(KESTRIN_EXE), arguments);
    if (!kestrin.waitForFinished(120000) || kestrin.exitStatus() != QProcess::NormalExit)
        return -1;
    if (printed)
        *printed = kestrin.readAllStandardOutput() + kestrin.readAllStandardError();
    return kestrin.exitCode();
}

void TestCommandLine::quietUninstallUnderWine()
{
    ScratchWinePrefix wine;
    if (const QString notReady = wine.create(); !notReady.isEmpty())
        QSKIP(qPrintable(notReady));
    // Wine's own reg.exe deletes the entry's key: a real uninstaller that leaves nothing behind.
    const QString key = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KDemo"_s;
    {
        RegistryAccess registry{WinePrefix(wine.path())};
        registry.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(key, true));
        registry.WriteString(u"DisplayName"_s, u"Demo Reg Entry"_s);
        registry.WriteString(u"UninstallString"_s, u"C:\\windows\\system32\\reg.exe delete HKLM\\"_s + key + u" /f"_s);
    }
    // And a real 32-bit NSIS program, whose uninstaller relaunches itself from %TEMP%.
    const bool withNsis = ScratchWinePrefix::canBuildNsis();
    if (withNsis) {
        const QString error = wine.installNsisApp(QStringLiteral(KESTRIN_NSIS_SCRIPT), m_work->path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
    } else {
        qWarning("makensis is not installed: the NSIS program is left out");
    }

    // The prefix as a relative WINEPREFIX, from the working folder the run starts in.
    const QString relative = QDir(m_work->path()).relativeFilePath(wine.path());
    QVERIFY(QDir::isRelativePath(relative));
    QStringList names{u"Not There"_s, u"demo reg entry"_s};
    if (withNsis)
        names << u"K NSIS App"_s;
    QByteArray printed;
    const int status = runWithoutDisplay(relative, QStringList{u"/QU"_s} + names, &printed);
    QVERIFY2(status == CommandLine::ExitNameNotFound, QByteArray(printed + workFile(u"ULog.txt"_s)).constData());
    QVERIFY2(printed.contains("No program named \"Not There\" is in the list"), printed.constData());
    const QByteArray log = workFile(u"ULog.txt"_s);
    QVERIFY2(
        log.contains("\r\nUninstalling demo reg entry\r\nUninstall OK. Uninstaller removed program from list.\r\n"),
        log.constData());
    // The run judged through Wine; the files hold the outcome once its server has saved them.
    QVERIFY(wine.waitForServerExit(30000));
    RegistryAccess registry{WinePrefix(wine.path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(!registry.KeyExists(key));
    if (withNsis) {
        QVERIFY2(
            log.endsWith("\r\nUninstalling K NSIS App\r\nUninstall OK. Uninstaller removed program from list.\r\n"),
            log.constData());
        QVERIFY(
            !registry.KeyExists(u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KNsisApp"_s));
        QVERIFY(!QFileInfo::exists(wine.driveC(u"Program Files (x86)/K NSIS App/readme.txt"_s)));
    }
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
