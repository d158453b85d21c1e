#include "ScratchWinePrefix.h"

#include "base/Clock.h"
#include "controls/MessageBox.h"
#include "controls/TuduButton.h"
#include "desktop/WineMenuFolders.h"
#include "hive/EntryTrash.h"
#include "hive/HiveDocument.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "leftovers/LeftoverFinder.h"
#include "leftovers/TfLeftovers.h"
#include "mainwindow/TfKestrin.h"
#include "uninstall/TfDelete.h"
#include "uninstall/TfUninstall.h"
#include "wine/RegistryProgram.h"
#include "wine/WineLauncher.h"
#include "wine/WineLiveHive.h"

#include <QLabel>
#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString uninstallKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s;
const QByteArray header = "Kestrin Uninstall Log \r\nContains information about programs you have uninstalled "
                          "from your computer\r\n\r\n";
const QByteArray stamp = "\r\n5/3/2003 9:7:3\r\n";

// Reads and writes go through Wine while its server runs, for as long as one lives.
struct LiveHiveInUse
{
    WineLiveHive live;
    LiveHiveInUse() { LiveHive::setInstance(&live); }
    ~LiveHiveInUse() { LiveHive::setInstance(nullptr); }
    LiveHiveInUse(const LiveHiveInUse&) = delete;
    LiveHiveInUse& operator=(const LiveHiveInUse&) = delete;
};

// Every value of a hive's text as "key|name|type|data", the keys at or under `except` left out.
QStringList valuesExcept(const QByteArray& hiveText, const QString& except)
{
    const std::unique_ptr<HiveDocument> doc = HiveDocument::fromBytes(hiveText);
    QStringList all;
    std::vector<const HiveKey*> pending{&doc->root()};
    while (!pending.empty()) {
        const HiveKey* key = pending.back();
        pending.pop_back();
        const QString path = key->path().join(u'\\');
        if (!except.isEmpty() && path.compare(except, Qt::CaseInsensitive) == 0)
            continue;
        for (const HiveValue& value : key->values())
            all << path + u'|' + value.name + u'|' + QString::number(value.value.type) + u'|' +
                       QString::fromLatin1(value.value.data.toHex());
        for (const auto& subkey : key->subkeys())
            pending.push_back(subkey.get());
    }
    all.sort();
    return all;
}

} // namespace

// The whole road under a real Wine: the runner starts the stored command line through the
// launcher, waits for Wine to write the registry, and judges from the files; or, while Wine runs
// and a LiveHive serves, waits for what the uninstall started and judges through Wine.
class TestUninstallWine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void uninstallerRemovesItsOwnEntry();
    void nsisUninstallerIn64BitPrefix();
    void uninstallerThatCannotRun_data();
    void uninstallerThatCannotRun();
    void runningWineHoldsBackVerificationAndDeletion();
    void changesGoThroughRunningWine_data();
    void changesGoThroughRunningWine();
    void nsisUninstallWhileAProgramStaysOpen();
    void nsisLeftoversFoundRemovedAndRestored();

private:
    void addEntry(const QString& subkey, const QString& name, const QString& command);
    int rowOf(TfKestrin& main, const QString& subkey) const;
    QByteArray logBytes() const;
    QByteArray systemReg() const;
    void startLingering();
    // Keeps the prefix's wineserver up: with `wineserver -p`, or with a Windows program left open.
    void keepWineUp(bool programOpen);
    QByteArray liveMachineHive() const;

    ScratchWinePrefix m_prefix;
    QString m_notReady;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestUninstallWine::initTestCase()
{
    m_notReady = m_prefix.create();
    if (m_notReady.isEmpty() &&
        (!QFile::exists(QStringLiteral(KESTRIN_ECHO_EXE)) || !QFile::exists(QStringLiteral(KESTRIN_ECHO32_EXE))))
        m_notReady = u"the Windows test programs were not built (no MinGW-w64)"_s;
}

void TestUninstallWine::init()
{
    if (!m_notReady.isEmpty())
        QSKIP(qPrintable(m_notReady));
    m_work = std::make_unique<QTemporaryDir>();
    MessageBox::setTestMode(true);
    Clock::setSource([] { return QDateTime(QDate(2003, 3, 5), QTime(9, 7, 3)); });
}

void TestUninstallWine::cleanup()
{
    MessageBox::setTestMode(false);
    Clock::setSource({});
    QVERIFY(m_prefix.waitForServerExit(30000));
}

void TestUninstallWine::addEntry(const QString& subkey, const QString& name, const QString& command)
{
    RegistryAccess registry{WinePrefix(m_prefix.path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(uninstallKey + subkey, true));
    registry.WriteString(u"DisplayName"_s, name);
    registry.WriteString(u"UninstallString"_s, command);
}

int TestUninstallWine::rowOf(TfKestrin& main, const QString& subkey) const
{
    for (int row = 0; row < main.programList().count(); ++row) {
        if (main.programList().at(row).KeyPath.endsWith(u'\\' + subkey))
            return row;
    }
    return -1;
}

QByteArray TestUninstallWine::logBytes() const
{
    QFile file(m_work->filePath(u"ULog.txt"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray TestUninstallWine::systemReg() const
{
    QFile file(QDir(m_prefix.path()).filePath(u"system.reg"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestUninstallWine::startLingering()
{
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), u"Linger/linger.exe"_s));
    WineLauncher launcher;
    QVERIFY(launcher.start(m_prefix.path(), u"C:\\Linger\\linger.exe --linger"_s));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_prefix.driveC(u"Linger/linger.exe.cmdline"_s)), 30000);
    QVERIFY(WineServer::isRunning(m_prefix.path()));
}

void TestUninstallWine::keepWineUp(bool programOpen)
{
    if (programOpen) {
        QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), u"Stay/stay.exe"_s));
        QFile::remove(m_prefix.driveC(u"Stay/stay.exe.cmdline"_s));
        QVERIFY(WineLauncher().start(m_prefix.path(), u"C:\\Stay\\stay.exe --stay"_s));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_prefix.driveC(u"Stay/stay.exe.cmdline"_s)), 30000);
    } else {
        QVERIFY(m_prefix.wineserver(u"-p"_s));
    }
    QTRY_VERIFY_WITH_TIMEOUT(WineServer::isRunning(m_prefix.path()), 10000);
}

QByteArray TestUninstallWine::liveMachineHive() const
{
    return RegistryProgram::save(m_prefix.path(), RegistryProgram::Root::LocalMachine);
}

void TestUninstallWine::uninstallerRemovesItsOwnEntry()
{
    addEntry(
        u"KTest"_s, u"KTest Program"_s,
        u"C:\\windows\\system32\\reg.exe delete \"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KTest\" /f"_s);
    QVERIFY(systemReg().contains("Uninstall\\\\KTest]"));
    TfKestrin main(WinePrefix(m_prefix.path()), m_work->path());
    main.selectItem(rowOf(main, u"KTest"_s));
    QVERIFY(main.selectedIndex() >= 0);

    TfUninstall window(main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::AwaitingConfirmation);
    QVERIFY(!WineServer::isRunning(m_prefix.path()));
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::Removed);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QVERIFY(!window.isVisible());

    QCOMPARE(rowOf(main, u"KTest"_s), -1);
    QVERIFY(!systemReg().contains("Uninstall\\\\KTest]"));
    QCOMPARE(logBytes(), header + stamp + "Uninstalling KTest Program\r\n" + sLogUninstallOK.toLatin1() + "\r\n");
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestUninstallWine::nsisUninstallerIn64BitPrefix()
{
    if (!ScratchWinePrefix::canBuildNsis())
        QSKIP("makensis is not installed");
    const QString error = m_prefix.installNsisApp(QStringLiteral(KESTRIN_NSIS_SCRIPT), m_work->path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    TfKestrin main(WinePrefix(m_prefix.path()), m_work->path());
    main.selectItem(rowOf(main, u"KNsisApp"_s));
    QVERIFY(main.selectedIndex() >= 0);
    QVERIFY(main.programList().at(main.selectedIndex()).KeyPath.contains(u"Wow6432Node"_s));

    TfUninstall window(main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::AwaitingConfirmation);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::Removed);
    QVERIFY(!QFileInfo::exists(m_prefix.driveC(u"Program Files (x86)/K NSIS App/readme.txt"_s)));
    QCOMPARE(logBytes(), header + stamp + "Uninstalling K NSIS App\r\n" + sLogUninstallOK.toLatin1() + "\r\n");
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestUninstallWine::uninstallerThatCannotRun_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("hide"); // "wine": no Wine at all; "wine32": a 64-bit Wine without its 32-bit half
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("cleanUpOffered");
    QTest::newRow("uninstaller gone") << u"\"C:\\Program Files (x86)\\Gone\\unins000.exe\" /x"_s << QString()
                                      << u"The uninstaller C:\\Program Files (x86)\\Gone\\unins000.exe is not there."_s
                                      << true;
    QTest::newRow("not a program") << u"C:\\windows\\win.ini"_s << QString()
                                   << u"The uninstaller C:\\windows\\win.ini is not a program Windows can run."_s
                                   << false;
    QTest::newRow("no Wine") << u"C:\\K32\\uninst.exe"_s << u"wine"_s
                             << u"Wine was not found. Install Wine, or set WINELOADER to the wine program."_s << false;
    QTest::newRow("no 32-bit Wine")
        << u"C:\\K32\\uninst.exe"_s << u"wine32"_s
        << u"This uninstaller is a 32-bit program; install 32-bit Wine (wine32) to run it."_s << false;
    // Named without a folder, found in C:\windows as Wine finds it.
    QTest::newRow("no 32-bit Wine, bare name")
        << u"kbare32.exe /x"_s << u"wine32"_s
        << u"This uninstaller is a 32-bit program; install 32-bit Wine (wine32) to run it."_s << false;
}

void TestUninstallWine::uninstallerThatCannotRun()
{
    QFETCH(QString, command);
    QFETCH(QString, hide);
    QFETCH(QString, reason);
    QFETCH(bool, cleanUpOffered);
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO32_EXE), u"K32/uninst.exe"_s));
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO32_EXE), u"windows/kbare32.exe"_s));
    Wine64Only wine64Only;
    if (hide == u"wine32" && wine64Only.loader().isEmpty())
        QSKIP("Wine is not laid out as Debian lays it out");
    EnvironmentGuard environment;
    if (hide == u"wine") {
        environment.set("PATH", u"/nonexistent"_s);
        environment.set("WINELOADER", QString());
    } else if (hide == u"wine32") {
        environment.set("WINELOADER", wine64Only.loader());
    }
    addEntry(u"KCannot"_s, u"KCannot Program"_s, command);
    TfKestrin main(WinePrefix(m_prefix.path()), m_work->path());
    main.selectItem(rowOf(main, u"KCannot"_s));

    TfUninstall window(main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::NotRun);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().text, reason);
    QCOMPARE(window.lUnHeader->text(), TfUninstall::notRunText() + reason);
    QCOMPARE(logBytes(), header + stamp + "Uninstalling KCannot Program\r\n" + sLogUninstallFailed.toLatin1() + "\r\n");
    QCOMPARE(window.buUninstall->caption(), cleanUpOffered ? u"CLEAN-UP"_s : u"CLOSE"_s);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(rowOf(main, u"KCannot"_s) < 0, cleanUpOffered);
    if (!cleanUpOffered) {
        RegistryAccess registry{WinePrefix(m_prefix.path())};
        registry.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(registry.DeleteKey(uninstallKey + u"KCannot"_s));
    }
}

void TestUninstallWine::runningWineHoldsBackVerificationAndDeletion()
{
    // An uninstaller that runs and leaves its entry.
    QVERIFY(m_prefix.put(QStringLiteral(KESTRIN_ECHO_EXE), u"KStale/uninst.exe"_s));
    addEntry(u"KStale"_s, u"KStale Program"_s, u"C:\\KStale\\uninst.exe /S"_s);
    TfKestrin main(WinePrefix(m_prefix.path()), m_work->path());
    main.selectItem(rowOf(main, u"KStale"_s));

    TfUninstall window(main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::AwaitingConfirmation);

    // Another Windows program keeps Wine up: no outcome from the old files, no deletion.
    startLingering();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::AwaitingConfirmation);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().text, TfUninstall::stillRunningText());
    QCOMPARE(logBytes(), header);

    MessageBox::clearRecorded();
    main.selectItem(rowOf(main, u"KStale"_s));
    TfDelete remove(main);
    remove.show();
    QTest::mouseClick(remove.buDelete, Qt::LeftButton);
    QVERIFY(!remove.isVisible());
    QCOMPARE(logBytes(), header + stamp + "Deleting entry KStale Program\r\nFailed to delete entry.\r\n");
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QVERIFY(rowOf(main, u"KStale"_s) >= 0);

    // Once Wine has gone, CONTINUE judges from the saved files.
    QVERIFY(m_prefix.waitForServerExit(30000));
    QVERIFY(systemReg().contains("Uninstall\\\\KStale]"));
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::StillListed);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton); // CLEAN-UP
    QVERIFY(!systemReg().contains("Uninstall\\\\KStale]"));
    QVERIFY(logBytes().endsWith("Deleting entry KStale Program\r\nDeleted OK.\r\n"));
}

void TestUninstallWine::changesGoThroughRunningWine_data()
{
    QTest::addColumn<bool>("programOpen");
    QTest::newRow("wineserver -p") << false;
    QTest::newRow("a Windows program left open") << true;
}

void TestUninstallWine::changesGoThroughRunningWine()
{
    QFETCH(bool, programOpen);
    const LiveHiveInUse live;
    const auto endWine = qScopeGuard([this] { m_prefix.wineserver(u"-k"_s); });
    keepWineUp(programOpen);
    const QString entry = uninstallKey + u"KLive"_s;
    const QByteArray before = liveMachineHive();
    const QStringList kept{entry + u"|DisplayName|1|"_s +
                               QString::fromLatin1(RegistryValue::fromString(u"KLive Ü"_s).data.toHex()),
                           entry + u"|UninstallString|1|"_s +
                               QString::fromLatin1(RegistryValue::fromString(u"C:\\KLive\\un.exe"_s).data.toHex())};
    const auto entryValues = [&entry](const QByteArray& text) {
        QStringList values = valuesExcept(text, QString());
        values.removeIf([&entry](const QString& line) { return !line.startsWith(entry + u'|'); });
        return values;
    };

    // New Program and the editor's OK: a key, its values, one of them deleted again.
    RegistryAccess registry{WinePrefix(m_prefix.path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(entry, true));
    registry.WriteString(u"DisplayName"_s, u"KLive Ü"_s);
    registry.WriteString(u"UninstallString"_s, u"C:\\KLive\\un.exe"_s);
    registry.WriteString(u"Comments"_s, u"gone soon"_s);
    QVERIFY(registry.DeleteValue(u"Comments"_s));
    QCOMPARE(entryValues(liveMachineHive()), kept);
    QCOMPARE(registry.ReadString(u"DisplayName"_s), u"KLive Ü"_s);

    // Delete From List: a record of the entry first, in Wine's own text; RESTORE brings it back.
    registry.CloseKey();
    QVERIFY(registry.DeleteKey(entry));
    QVERIFY(entryValues(liveMachineHive()).isEmpty());
    const QList<TrashRecord> records = EntryTrash::list(m_prefix.path());
    const auto deleted = std::find_if(records.begin(), records.end(), [&entry](const TrashRecord& record) {
        return record.action == u"deleted" && record.key == entry;
    });
    QVERIFY(deleted != records.end());
    QVERIFY2(deleted->text.contains("\"UninstallString\"=\"C:\\\\KLive\\\\un.exe\""), deleted->text.constData());
    EntryTrash::restore(m_prefix.path(), deleted->id, false);
    const QByteArray after = liveMachineHive();
    QCOMPARE(entryValues(after), kept);

    // Nothing else changed: not in the server, and not in system.reg once the server has saved it.
    QCOMPARE(valuesExcept(after, entry), valuesExcept(before, entry));
    QVERIFY(WineServer::isRunning(m_prefix.path()));
    QVERIFY(m_prefix.wineserver(u"-k"_s));
    QVERIFY(m_prefix.waitForServerExit(30000));
    QCOMPARE(entryValues(systemReg()), kept);
    QCOMPARE(valuesExcept(systemReg(), entry), valuesExcept(before, entry));
    QVERIFY(registry.DeleteKey(entry));
}

void TestUninstallWine::nsisUninstallWhileAProgramStaysOpen()
{
    if (!ScratchWinePrefix::canBuildNsis())
        QSKIP("makensis is not installed");
    const QString error = m_prefix.installNsisApp(QStringLiteral(KESTRIN_NSIS_SCRIPT), m_work->path());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const LiveHiveInUse live;
    const auto endWine = qScopeGuard([this] { m_prefix.wineserver(u"-k"_s); });
    keepWineUp(true);
    TfKestrin main(WinePrefix(m_prefix.path()), m_work->path());
    main.selectItem(rowOf(main, u"KNsisApp"_s));
    QVERIFY(main.selectedIndex() >= 0);

    // The uninstaller runs a copy of itself and its first process ends at once: the copy is waited
    // for, the program left open is not, and CONTINUE reads the outcome through Wine.
    TfUninstall window(main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::AwaitingConfirmation);
    QVERIFY2(!window.lUnTip->text().contains(u"still running"_s), qPrintable(window.lUnTip->text()));
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::Removed);
    QCOMPARE(logBytes(), header + stamp + "Uninstalling K NSIS App\r\n" + sLogUninstallOK.toLatin1() + "\r\n");
    QVERIFY(MessageBox::recorded().isEmpty());
    QVERIFY(WineServer::isRunning(m_prefix.path()));
    const QList<RegistryProgram::Process> running = RegistryProgram::processes(m_prefix.path());
    QVERIFY(std::any_of(running.begin(), running.end(),
                        [](const RegistryProgram::Process& process) { return process.exeName == u"stay.exe"; }));
}

void TestUninstallWine::nsisLeftoversFoundRemovedAndRestored()
{
    if (!ScratchWinePrefix::canBuildNsis())
        QSKIP("makensis is not installed");
    const QString error =
        m_prefix.installNsisApp(QStringLiteral(KESTRIN_NSIS_SCRIPT), m_work->path(), false, {u"LEAVE_TRACES"_s});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString folder = QFileInfo(m_prefix.driveC(u"Program Files (x86)/K NSIS App"_s)).canonicalFilePath();
    const QString settings = folder + u"/settings/app.ini"_s;
    const QByteArray settingsBytes = [&] {
        QFile file(settings);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!settingsBytes.isEmpty());

    TfKestrin main(WinePrefix(m_prefix.path()), m_work->path());
    main.selectItem(rowOf(main, u"KNsisApp"_s));
    TfUninstall window(main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::Removed);
    QCOMPARE(window.traces().folder, folder);
    QCOMPARE(window.traces().publisher, u"K Test"_s);
    QCOMPARE(window.traces().shortcuts.size(), 2);

    const WinePrefix prefix(m_prefix.path());
    LeftoverFinder finder(prefix, window.traces(), WineMenuFolders::fromEnvironment());
    const QList<Leftover> found = finder.find();
    QStringList sure;
    for (const Leftover& leftover : found) {
        QVERIFY2(leftover.certain, qPrintable(leftover.shown)); // nothing in doubt in this prefix
        sure << leftover.shown;
    }
    const auto has = [&sure](const QString& text) {
        return std::any_of(sure.cbegin(), sure.cend(), [&](const QString& s) { return s.startsWith(text); });
    };
    QVERIFY2(sure.contains(u"C:\\Program Files (x86)\\K NSIS App"_s), qPrintable(sure.join(u'\n')));
    QVERIFY2(has(u"C:\\users\\"_s), qPrintable(sure.join(u'\n'))); // the Start Menu folder
    QVERIFY(has(u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\K Test"_s));
    QVERIFY(has(u"HKEY_CURRENT_USER\\Software\\K Test"_s));

    TfLeftovers leftovers(main, finder, found);
    QCOMPARE(leftovers.checkedLeftovers().size(), found.size());
    QTest::mouseClick(leftovers.buRemove, Qt::LeftButton);
    QCOMPARE(leftovers.result(), int(QDialog::Accepted));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(!systemReg().contains("K Test\\\\K NSIS App"));
    const QList<TrashRecord> records = EntryTrash::list(m_prefix.path());
    const auto record = std::find_if(records.cbegin(), records.cend(),
                                     [](const TrashRecord& r) { return r.action == u"leftovers-removed"_s; });
    QVERIFY(record != records.cend());
    QCOMPARE(record->name, u"K NSIS App"_s);
    QVERIFY(record->damage.isEmpty());

    EntryTrash::restore(m_prefix.path(), record->id, false);
    QFile restored(settings);
    QVERIFY(restored.open(QIODevice::ReadOnly));
    QCOMPARE(restored.readAll(), settingsBytes);
    QVERIFY(systemReg().contains("K Test\\\\K NSIS App"));
    QVERIFY(QDir(folder).removeRecursively());
}

QTEST_MAIN(TestUninstallWine)
#include "tst_uninstallwine.moc"
