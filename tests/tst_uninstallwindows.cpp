#include "TestDrive.h"
#include "TestPrefix.h"

#include "base/Clock.h"
#include "base/KestrinError.h"
#include "controls/MessageBox.h"
#include "controls/Pictures.h"
#include "controls/TuduButton.h"
#include "hive/EntryTrash.h"
#include "hive/HiveFile.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/TfKestrin.h"
#include "uninstall/EntryDeletion.h"
#include "uninstall/TfDelete.h"
#include "uninstall/TfRestore.h"
#include "uninstall/TfUninstall.h"
#include "uninstall/UninstallLog.h"
#include "wine/CommandLauncher.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

namespace {

const QString uninstallKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s;
const QByteArray header = "Kestrin Uninstall Log \r\nContains information about programs you have uninstalled "
                          "from your computer\r\n\r\n";
const QByteArray stamp = "\r\n5/3/2003 9:7:3\r\n";

// What the uninstaller does to the registry while it "runs".
enum class Uninstaller
{
    RemovesItsKey,
    DoesNothing,
    ChangesNameCase,
    DropsUninstallString,
};

// Stands in for Wine: records the line, looks at the window while it waits, and changes the
// registry as the uninstaller would.
class FakeLauncher : public CommandLauncher
{
public:
    std::function<void()> uninstaller;
    bool starts = true;
    QString failure;             // when it does not start
    bool programMissing = false; // when it does not start
    QStringList lines;
    // Seen while waiting.
    TfUninstall::State stateWhileRunning = TfUninstall::State::Ready;
    int barSteps = 0;
    bool buttonsHidden = false;
    bool tryClose = false;
    bool closeRefused = false;
    bool tryEscape = false;
    bool openAfterEscape = false;
    bool throws = false;
    QString programNameLabel;
    QString header;

    Outcome RunAndWait(const QString&, const QString& line, const Progress&) override
    {
        lines << line;
        if (TfUninstall* window = fUninstall) {
            stateWhileRunning = window->state();
            buttonsHidden = !window->buUninstall->isVisible() && !window->buCancel->isVisible() &&
                            !window->paPicture->isVisible() && window->pbProgress->isVisible();
            programNameLabel = window->lUnProgramName->text();
            header = window->lUnHeader->text();
            // The worker's steps arrive while we process events.
            QEventLoop loop;
            QTimer::singleShot(200, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            barSteps = window->pbProgress->value();
            if (tryClose)
                closeRefused = !window->close();
            if (tryEscape) {
                QTest::keyClick(window, Qt::Key_Escape);
                openAfterEscape = window->isVisible();
            }
            if (throws)
                throw KestrinError(u"The launcher broke."_s);
        }
        Outcome outcome;
        outcome.started = starts;
        if (!starts) {
            outcome.failure = failure;
            outcome.programMissing = programMissing;
        }
        if (starts && uninstaller)
            uninstaller();
        return outcome;
    }
    bool start(const QString&, const QString& line) override
    {
        lines << line;
        return starts;
    }
};

} // namespace

class TestUninstallWindows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void leavingTheReadyState_data();
    void leavingTheReadyState();
    void uninstallOutcomes_data();
    void uninstallOutcomes();
    void uninstallerThatDoesNotRun_data();
    void uninstallerThatDoesNotRun();
    void closeDuringTheWaitActsAfterIt();
    void escapeDuringTheWaitDoesNothing();
    void aFailingWaitStillStopsTheWorker();
    void escapeAfterContinueWritesNoDeleteRecord();
    void cleanUpDeletesTheCapturedKeyWithSubkeys();
    void failedLogWriteStopsTheAction();
    void commandsOpenTheWindows();
    void deleteWindowShowsTheQuestionAndWarning();
    void deleteRemovesTheSelectedKeyWithSubkeys();
    void deleteWithAFailedLogWriteKeepsTheKey();
    void deleteCancelAndEscapeChangeNothing();
    void tryToUninstallHandsOverToTheRunner();
    void deletionStaysInTheEntrysOwnHive();
    void restoreWindowBringsEntriesBack();

private:
    std::unique_ptr<TfKestrin> makeMain();
    int rowOf(TfKestrin& main, const QString& subkey) const;
    QByteArray logBytes() const;
    bool keyExists(RegistryRoot root, const QString& path) const;

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<FakeLauncher> m_launcher;
};

void TestUninstallWindows::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_prefix->copyFixtureHives());
    m_launcher = std::make_unique<FakeLauncher>();
    CommandLauncher::setInstance(m_launcher.get());
    MessageBox::setTestMode(true);
    Clock::setSource([] { return QDateTime(QDate(2003, 3, 5), QTime(9, 7, 3)); });
}

void TestUninstallWindows::cleanup()
{
    CommandLauncher::setInstance(nullptr);
    MessageBox::setTestMode(false);
    Clock::setSource({});
}

std::unique_ptr<TfKestrin> TestUninstallWindows::makeMain()
{
    auto main = std::make_unique<TfKestrin>(WinePrefix(m_prefix->path()), m_work->path());
    main->show();
    return main;
}

int TestUninstallWindows::rowOf(TfKestrin& main, const QString& subkey) const
{
    for (int row = 0; row < main.programList().count(); ++row) {
        if (main.programList().at(row).KeyPath.endsWith(u'\\' + subkey))
            return row;
    }
    return -1;
}

QByteArray TestUninstallWindows::logBytes() const
{
    QFile file(m_work->filePath(u"ULog.txt"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool TestUninstallWindows::keyExists(RegistryRoot root, const QString& path) const
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(root);
    return registry.KeyExists(path);
}

void TestUninstallWindows::leavingTheReadyState_data()
{
    QTest::addColumn<bool>("escape");
    QTest::addColumn<bool>("refreshed");
    QTest::newRow("CANCEL refreshes and selects the first item") << false << true;
    QTest::newRow("Escape only closes") << true << false;
}

void TestUninstallWindows::leavingTheReadyState()
{
    QFETCH(bool, escape);
    QFETCH(bool, refreshed);
    auto main = makeMain();
    const int count = main->programList().count();
    const int selected = rowOf(*main, u"FooTool_is1"_s);
    main->selectItem(selected);
    {
        // An entry appears behind the list's back; only a refresh shows it.
        RegistryAccess registry{WinePrefix(m_prefix->path())};
        registry.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(uninstallKey + u"Zed"_s, true));
        registry.WriteString(u"DisplayName"_s, u"Zed"_s);
        registry.WriteString(u"UninstallString"_s, u"zed.exe"_s);
    }
    TfUninstall window(*main);
    window.show();
    QCOMPARE(window.state(), TfUninstall::State::Ready);
    QCOMPARE(window.ProgramName, u"Foo Tool 1.0"_s);
    QCOMPARE(window.KeyPath, uninstallKey + u"FooTool_is1"_s);
    QCOMPARE(window.lUnHeader->text(), sAboutToUninstall);
    QCOMPARE(window.lUnProgramName->text(), u"Foo Tool 1.0"_s);
    QCOMPARE(window.lUnTip->text(), sUninstallButtonHint);
    QCOMPARE(window.imgUn->pixmap().toImage(), Pictures::picture(Pictures::UninstallQuestion).toImage());
    QCOMPARE(window.buUninstall->caption(), u"UNINSTALL"_s);
    QVERIFY(window.buCancel->isVisible() && !window.pbProgress->isVisible());
    if (escape)
        QTest::keyClick(&window, Qt::Key_Escape);
    else
        QTest::mouseClick(window.buCancel, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(main->programList().count(), refreshed ? count + 1 : count);
    QCOMPARE(main->selectedIndex(), refreshed ? 0 : selected);
    QVERIFY(m_launcher->lines.isEmpty());
    QCOMPARE(logBytes(), header);
}

void TestUninstallWindows::uninstallOutcomes_data()
{
    QTest::addColumn<QString>("subkey");
    QTest::addColumn<Uninstaller>("uninstaller");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QByteArray>("logged");

    const QString foo = u"\"C:\\Program Files\\Foo Tool\\unins000.exe\""_s;
    const QByteArray ok = "Uninstall OK. Uninstaller removed program from list.\r\n";
    const QByteArray failed =
        "Uninstaller did not complete the uninstall process or did not remove program from list.\r\n";
    QTest::newRow("removes its entry") << u"FooTool_is1"_s << Uninstaller::RemovesItsKey << foo << true
                                       << stamp + "Uninstalling Foo Tool 1.0\r\n" + ok;
    QTest::newRow("leaves its entry") << u"FooTool_is1"_s << Uninstaller::DoesNothing << foo << false
                                      << stamp + "Uninstalling Foo Tool 1.0\r\n" + failed;
    QTest::newRow("twin name still listed")
        << u"Twin1"_s << Uninstaller::RemovesItsKey << u"C:\\Twin\\one\\uninst.exe"_s << false
        << stamp + "Uninstalling Twin App\r\n" + failed;
    QTest::newRow("survivor differs in letter case") << u"FooTool_is1"_s << Uninstaller::ChangesNameCase << foo << true
                                                     << stamp + "Uninstalling Foo Tool 1.0\r\n" + ok;
    QTest::newRow("entry loses UninstallString") << u"FooTool_is1"_s << Uninstaller::DropsUninstallString << foo << true
                                                 << stamp + "Uninstalling Foo Tool 1.0\r\n" + ok;
    QTest::newRow("name outside ASCII, arguments kept")
        << u"Baer"_s << Uninstaller::DoesNothing
        << u"C:\\Program Files\\B\u00e4r\\uninstall.exe \"quoted arg\" \\\\server\\share"_s << false
        << stamp + "Uninstalling B\xc3\xa4r Editor \xe2\x88\x91 \xe7\x94\xbb\xe5\x83\x8f\r\n" + failed;
}

void TestUninstallWindows::uninstallOutcomes()
{
    QFETCH(QString, subkey);
    QFETCH(Uninstaller, uninstaller);
    QFETCH(QString, command);
    QFETCH(bool, removed);
    QFETCH(QByteArray, logged);

    auto main = makeMain();
    main->selectItem(rowOf(*main, subkey));
    const QString key = uninstallKey + subkey;
    m_launcher->uninstaller = [&] {
        RegistryAccess registry{WinePrefix(m_prefix->path())};
        registry.RootKey(RegistryRoot::LocalMachine);
        if (uninstaller == Uninstaller::RemovesItsKey) {
            QVERIFY(registry.DeleteKey(key));
        } else if (uninstaller == Uninstaller::ChangesNameCase) {
            QVERIFY(registry.OpenKey(key, false));
            registry.WriteString(u"DisplayName"_s, u"FOO TOOL 1.0"_s);
        } else if (uninstaller == Uninstaller::DropsUninstallString) {
            QVERIFY(registry.OpenKey(key, false));
            QVERIFY(registry.DeleteValue(u"UninstallString"_s));
        }
    };

    TfUninstall window(*main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(m_launcher->lines, QStringList{command});
    QCOMPARE(m_launcher->stateWhileRunning, TfUninstall::State::Running);
    QVERIFY(m_launcher->buttonsHidden);
    QCOMPARE(m_launcher->programNameLabel, u"Please Wait ..."_s);
    QCOMPARE(m_launcher->header, u"Kestrin is now uninstalling the selected program ..."_s);
    QVERIFY2(m_launcher->barSteps >= 3, qPrintable(QString::number(m_launcher->barSteps)));

    // Awaiting confirmation: nothing re-read or logged yet.
    QCOMPARE(window.state(), TfUninstall::State::AwaitingConfirmation);
    QVERIFY(!window.pbProgress->isVisible());
    QVERIFY(!window.lUnProgramName->isVisible());
    QVERIFY(!window.paPicture->isVisible());
    QCOMPARE(window.lUnTip->text(), u"If the Uninstall program has completed, press the Continue button"_s);
    QCOMPARE(window.buUninstall->caption(), u"CONTINUE"_s);
    QVERIFY(!window.buCancel->isVisible());
    QCOMPARE(logBytes(), header);

    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(logBytes(), header + logged);
    QVERIFY(window.isVisible());
    QVERIFY(!window.lUnProgramName->isVisible());
    QVERIFY(window.paPicture->isVisible());
    if (removed) {
        QCOMPARE(window.state(), TfUninstall::State::Removed);
        QCOMPARE(window.lUnHeader->text(), sUninstallDoneRemoved);
        QCOMPARE(window.imgUn->pixmap().toImage(), Pictures::picture(Pictures::UninstallDone).toImage());
        QCOMPARE(window.buUninstall->caption(), u"CLOSE"_s);
        QVERIFY(!window.lUnTip->isVisible());
        QVERIFY(!window.buCancel->isVisible());
    } else {
        QCOMPARE(window.state(), TfUninstall::State::StillListed);
        QCOMPARE(window.lUnHeader->text(), sUninstallDoneNotRemoved);
        QCOMPARE(window.imgUn->pixmap().toImage(), Pictures::picture(Pictures::UninstallWindow).toImage());
        QCOMPARE(window.buUninstall->caption(), u"CLEAN-UP"_s);
        QCOMPARE(window.lUnTip->text(), sDeleteButtonHint);
        QVERIFY(window.lUnTip->isVisible());
        QVERIFY(window.buCancel->isVisible());
    }
    // CLOSE, or CANCEL in the still-listed state: refresh, first item selected, closed, nothing deleted.
    QTest::mouseClick(removed ? window.buUninstall : window.buCancel, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(main->selectedIndex(), 0);
    QCOMPARE(logBytes(), header + logged);
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestUninstallWindows::uninstallerThatDoesNotRun_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("programMissing"); // as Wine says
    QTest::addColumn<bool>("fileThere");      // as the list finds it
    QTest::addColumn<bool>("cleanUpOffered");
    // Only a missing uninstaller makes the entry stale; a missing Wine must never lead to deleting it.
    const QString gone = u"The uninstaller C:\\x\\unins000.exe is not there."_s;
    QTest::newRow("uninstaller gone: CLEAN-UP offered") << gone << true << false << true;
    // Wine looked elsewhere (an unexpanded %ProgramFiles%, a disk not mounted): the entry is not stale.
    QTest::newRow("Wine finds nothing, the list finds it") << gone << true << true << false;
    QTest::newRow("no Wine: only CLOSE")
        << u"Wine was not found. Install Wine, or set WINELOADER to the wine program."_s << false << false << false;
    QTest::newRow("no 32-bit Wine: only CLOSE")
        << u"This uninstaller is a 32-bit program; install 32-bit Wine (wine32) to run it."_s << false << false
        << false;
}

void TestUninstallWindows::uninstallerThatDoesNotRun()
{
    QFETCH(QString, failure);
    QFETCH(bool, programMissing);
    QFETCH(bool, fileThere);
    QFETCH(bool, cleanUpOffered);
    if (fileThere) {
        QVERIFY(TestDrive::addDrive(*m_prefix, u'c', u"drive_c"_s));
        QVERIFY(TestDrive::add(*m_prefix, u"drive_c/Program Files/Foo Tool/unins000.exe"_s));
    }
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"FooTool_is1"_s));
    m_launcher->starts = false;
    m_launcher->failure = failure;
    m_launcher->programMissing = programMissing;

    TfUninstall window(*main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    // No CONTINUE, and never the claim that the uninstaller completed.
    QCOMPARE(window.state(), TfUninstall::State::NotRun);
    QCOMPARE(window.lUnHeader->text(), TfUninstall::notRunText() + failure);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QCOMPARE(MessageBox::recorded().first().text, failure);
    QCOMPARE(logBytes(), header + stamp +
                             "Uninstalling Foo Tool 1.0\r\nUninstaller did not complete the uninstall process or did "
                             "not remove program from list.\r\n");
    QVERIFY(!window.pbProgress->isVisible() && window.buUninstall->isVisible());
    QCOMPARE(window.buUninstall->caption(), cleanUpOffered ? u"CLEAN-UP"_s : u"CLOSE"_s);
    QCOMPARE(window.buCancel->isVisible(), cleanUpOffered);

    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(keyExists(RegistryRoot::LocalMachine, uninstallKey + u"FooTool_is1"_s), !cleanUpOffered);
    QCOMPARE(main->selectedIndex(), 0);
}

void TestUninstallWindows::closeDuringTheWaitActsAfterIt()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"FooTool_is1"_s));
    m_launcher->tryClose = true;
    TfUninstall window(*main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QVERIFY(m_launcher->closeRefused);
    QVERIFY(!window.isVisible());
    QCOMPARE(logBytes(), header);
}

void TestUninstallWindows::escapeDuringTheWaitDoesNothing()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"FooTool_is1"_s));
    m_launcher->tryEscape = true;
    TfUninstall window(*main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QVERIFY(m_launcher->openAfterEscape);
    QVERIFY(window.isVisible());
    QCOMPARE(window.state(), TfUninstall::State::AwaitingConfirmation);
}

void TestUninstallWindows::aFailingWaitStillStopsTheWorker()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"FooTool_is1"_s));
    m_launcher->throws = true;
    TfUninstall window(*main);
    window.show();
    // A running worker destroyed by the unwinding would abort the whole program here.
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded()[0].text, u"The launcher broke."_s);
}

void TestUninstallWindows::escapeAfterContinueWritesNoDeleteRecord()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"Twin2"_s));
    const int count = main->programList().count();
    m_launcher->uninstaller = [&] {
        RegistryAccess registry{WinePrefix(m_prefix->path())};
        registry.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(registry.DeleteKey(uninstallKey + u"FooTool_is1"_s));
    };
    TfUninstall window(*main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::StillListed);
    QCOMPARE(main->programList().count(), count - 1); // refreshed by CONTINUE
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    QVERIFY(!logBytes().contains("Deleting entry"));
    QVERIFY(keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2"_s));
}

void TestUninstallWindows::cleanUpDeletesTheCapturedKeyWithSubkeys()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"Twin2"_s));
    TfUninstall window(*main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::StillListed);
    QCOMPARE(main->selectedIndex(), -1); // the selection went with the refresh
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);

    QVERIFY(!window.isVisible());
    QVERIFY(!keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2\\Components\\Core"_s));
    QVERIFY(!keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2"_s));
    QVERIFY(keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin1"_s));
    QVERIFY(rowOf(*main, u"Twin1"_s) >= 0);
    QCOMPARE(rowOf(*main, u"Twin2"_s), -1);
    QCOMPARE(main->selectedIndex(), 0);
    QCOMPARE(logBytes(),
             header + stamp +
                 "Uninstalling Twin App\r\n"
                 "Uninstaller did not complete the uninstall process or did not remove program from list.\r\n" +
                 stamp + "Deleting entry Twin App\r\nDeleted OK.\r\n");
}

void TestUninstallWindows::failedLogWriteStopsTheAction()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"Twin2"_s));
    TfUninstall window(*main);
    window.show();
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(window.state(), TfUninstall::State::StillListed);

    // A folder in the log's place: the time stamp of CLEAN-UP fails, so nothing is deleted.
    QVERIFY(QFile::remove(m_work->filePath(u"ULog.txt"_s)));
    QVERIFY(QDir(m_work->path()).mkdir(u"ULog.txt"_s));
    QTest::mouseClick(window.buUninstall, Qt::LeftButton);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QVERIFY(MessageBox::recorded().first().text.contains(u"uninstall log"_s));
    QVERIFY(keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2"_s));
    QVERIFY(window.isVisible());
    QCOMPARE(window.state(), TfUninstall::State::StillListed);
}

void TestUninstallWindows::commandsOpenTheWindows()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"Twin2"_s));
    QStringList seen;
    const auto closeNext = [&] {
        QTimer::singleShot(0, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(modal);
            seen << modal->objectName() + u' ' + modal->windowTitle();
            if (auto* runner = qobject_cast<TfUninstall*>(modal)) {
                seen << runner->KeyPath;
                QTest::keyClick(runner, Qt::Key_Escape);
            } else if (auto* remove = qobject_cast<TfDelete*>(modal)) {
                QTest::keyClick(remove, Qt::Key_Escape);
            }
        });
    };
    closeNext();
    main->actions().Uninstall2->trigger();
    closeNext();
    main->actions().DeleteFromList1->trigger();
    QCOMPARE(seen, (QStringList{u"fUninstall Uninstall"_s, uninstallKey + u"Twin2"_s, u"fDelete Delete From List"_s}));
}

void TestUninstallWindows::deleteWindowShowsTheQuestionAndWarning()
{
    {
        RegistryAccess registry{WinePrefix(m_prefix->path())};
        registry.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(uninstallKey + u"Quoted"_s, true));
        registry.WriteString(u"DisplayName"_s, u"Say \"Hi\""_s);
        registry.WriteString(u"UninstallString"_s, u"hi.exe"_s);
    }
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"Quoted"_s));
    TfDelete window(*main);
    window.show();
    QCOMPARE(window.windowTitle(), u"Delete From List"_s);
    const QStringList lines = window.mWarning->toPlainText().split(u'\n');
    QCOMPARE(
        lines.first(),
        u"Are you sure you want to delete \"Say \"Hi\"\" from the list of programs installed on your computer ?"_s);
    QCOMPARE(lines.size(), 13);
    QCOMPARE(lines.at(1), QString());
    QCOMPARE(lines.at(2), u"WARNING : You should only delete the entries for "_s);
    QCOMPARE(lines.at(7), QString());
    QCOMPARE(lines.at(8), u"Note: If the program has a question mark near its "_s);
    QCOMPARE(lines.last(), u"first."_s);
    QVERIFY(window.mWarning->isReadOnly());
    QCOMPARE(window.imgDel->pixmap().toImage(), Pictures::picture(Pictures::RemoveEntryWindow).toImage());
}

void TestUninstallWindows::deleteRemovesTheSelectedKeyWithSubkeys()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"Twin2"_s));
    TfDelete window(*main);
    window.show();
    QTest::mouseClick(window.buDelete, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QVERIFY(!keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2"_s));
    QVERIFY(rowOf(*main, u"Twin1"_s) >= 0);
    QCOMPARE(main->selectedIndex(), 0);
    QCOMPARE(logBytes(), header + stamp + "Deleting entry Twin App\r\nDeleted OK.\r\n");
    QVERIFY(m_launcher->lines.isEmpty());
}

void TestUninstallWindows::deleteWithAFailedLogWriteKeepsTheKey()
{
    QVERIFY(QDir(m_work->path()).mkdir(u"ULog.txt"_s)); // before the main window, which then cannot make it
    auto main = makeMain();
    MessageBox::clearRecorded();
    main->selectItem(rowOf(*main, u"Twin2"_s));
    TfDelete window(*main);
    window.show();
    QTest::mouseClick(window.buDelete, Qt::LeftButton);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QVERIFY(MessageBox::recorded().first().text.contains(u"uninstall log"_s));
    QVERIFY(keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2"_s));
    QVERIFY(window.isVisible());
}

void TestUninstallWindows::deleteCancelAndEscapeChangeNothing()
{
    auto main = makeMain();
    const int row = rowOf(*main, u"Twin2"_s);
    for (const bool escape : {false, true}) {
        main->selectItem(row);
        TfDelete window(*main);
        window.show();
        if (escape)
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            QTest::mouseClick(window.buCancel, Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(main->selectedIndex(), row);
    }
    QVERIFY(keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2"_s));
    QCOMPARE(logBytes(), header);
}

void TestUninstallWindows::tryToUninstallHandsOverToTheRunner()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"Twin2"_s));
    TfDelete window(*main);
    window.show();
    QString runnerKey;
    bool deleteHidden = false;
    QTimer::singleShot(0, this, [&] {
        auto* runner = qobject_cast<TfUninstall*>(QApplication::activeModalWidget());
        QVERIFY(runner);
        runnerKey = runner->KeyPath;
        deleteHidden = !window.isVisible();
        QTest::mouseClick(runner->buCancel, Qt::LeftButton);
    });
    QTest::mouseClick(window.buTryUninstal, Qt::LeftButton);
    QCOMPARE(runnerKey, uninstallKey + u"Twin2"_s);
    QVERIFY(deleteHidden);
    QVERIFY(!window.isVisible());
    QVERIFY(keyExists(RegistryRoot::LocalMachine, uninstallKey + u"Twin2"_s));
    QCOMPARE(main->selectedIndex(), 0); // the runner's CANCEL refreshed the list
    QCOMPARE(logBytes(), header);
}

void TestUninstallWindows::deletionStaysInTheEntrysOwnHive()
{
    // The same key path in both hives: only the named root's key goes.
    const QString key = uninstallKey + u"PerUser"_s;
    for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::CurrentUser}) {
        RegistryAccess registry{WinePrefix(m_prefix->path())};
        registry.RootKey(root);
        QVERIFY(registry.OpenKey(key + u"\\Sub"_s, true));
        registry.WriteString(u"DisplayName"_s, u"Per User"_s);
    }
    const UninstallLog log(m_work->path());
    log.prepare();
    QCOMPARE(deleteEntryLogged(log, WinePrefix(m_prefix->path()), RegistryRoot::CurrentUser, key, u"Per User"_s),
             QString());
    QVERIFY(!keyExists(RegistryRoot::CurrentUser, key));
    QVERIFY(keyExists(RegistryRoot::LocalMachine, key + u"\\Sub"_s));
    // A key that is gone already (an uninstaller took it) is gone afterwards: the deletion succeeded.
    QCOMPARE(deleteEntryLogged(log, WinePrefix(m_prefix->path()), RegistryRoot::CurrentUser, key, u"Per User"_s),
             QString());
    QCOMPARE(logBytes(), header + stamp + "Deleting entry Per User\r\nDeleted OK.\r\n" + stamp +
                             "Deleting entry Per User\r\nDeleted OK.\r\n");
}

void TestUninstallWindows::restoreWindowBringsEntriesBack()
{
    QVERIFY(qEnvironmentVariableIsSet("XDG_DATA_HOME")); // never the user's own trash
    auto main = makeMain();
    const auto items = main->menuBar()->findChild<QMenu*>(u"File1"_s)->actions();
    const auto report = std::find_if(items.begin(), items.end(),
                                     [](QAction* a) { return a->objectName() == u"PrintorSaveAuditReport1"_s; });
    QVERIFY(report != items.end() && report + 1 != items.end());
    QCOMPARE(report[1]->text(), u"&Restore Deleted Entries..."_s);

    for (const QString& name : {u"Twin1"_s, u"Baer"_s}) {
        main->selectItem(rowOf(*main, name));
        TfDelete(*main).buDeleteClick();
    }
    QCOMPARE(rowOf(*main, u"Baer"_s), -1);
    {
        TfRestore window(*main);
        QCOMPARE(window.records().size(), 2);
        QCOMPARE(window.lvRecords->topLevelItem(0)->text(1), u"deleted"_s);
        QVERIFY(window.lvRecords->topLevelItem(0)->text(2).startsWith(u"B\u00e4r Editor"_s)); // newest first
        window.buRestoreClick();
        QVERIFY(MessageBox::recorded().isEmpty()); // nothing to replace: nothing asked
        QCOMPARE(window.records().size(), 1);
        QVERIFY(rowOf(*main, u"Baer"_s) >= 0);
        QCOMPARE(main->selectedIndex(), rowOf(*main, u"Baer"_s));
    }

    // A newcomer under Twin1's key, in one save: replaced only after a Yes.
    HiveFile::open(m_prefix->file(u"system.reg"_s))->modify([](HiveDocument& doc) {
        HiveKey* key = doc.createKey(QString(uninstallKey + u"Twin1"_s).split(u'\\'));
        doc.setValue(key, u"DisplayName"_s, RegistryValue::fromString(u"Newcomer"_s));
        doc.setValue(key, u"UninstallString"_s, RegistryValue::fromString(u"new.exe"_s));
    });
    TfRestore window(*main);
    MessageBox::setNextAnswer(QMessageBox::No);
    window.buRestoreClick();
    QCOMPARE(MessageBox::recorded().size(), 1);
    QVERIFY(MessageBox::recorded().at(0).text.contains(uninstallKey + u"Twin1"_s));
    QCOMPARE(window.records().size(), 1);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    window.buRestoreClick();
    QCOMPARE(main->programList().at(main->selectedIndex()).Name, u"Twin App"_s);
    QCOMPARE(window.records().size(), 1); // the newcomer's record
    QCOMPARE(window.records().at(0).name, u"Newcomer"_s);

    MessageBox::clearRecorded();
    MessageBox::setNextAnswer(QMessageBox::No);
    window.buDeleteRecordClick();
    QCOMPARE(window.records().size(), 1);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    window.buDeleteRecordClick();
    QCOMPARE(MessageBox::recorded().size(), 2);
    QVERIFY(window.records().isEmpty());
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty());
    QVERIFY(!window.buRestore->isEnabled());

    window.show();
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestUninstallWindows)
#include "tst_uninstallwindows.moc"
