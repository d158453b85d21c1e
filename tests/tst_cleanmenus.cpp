#include "MenuHome.h"
#include "ShellDoubles.h"
#include "WineServerDouble.h"

#include "controls/MessageBox.h"
#include "controls/TuduButton.h"
#include "hive/EntryTrash.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/TfKestrin.h"
#include "menus/CleanMenusRun.h"
#include "menus/MenuCleanup.h"
#include "menus/StaleMenuEntries.h"
#include "menus/TfCleanMenus.h"
#include "prefix/WineServer.h"

#include <QStandardPaths>
#include <QTest>
#include <QTextStream>
#include <QTreeWidget>

using namespace Qt::StringLiterals;

// The window, the command line and the offer after an uninstall, over a home folder of their own.
class TestCleanMenus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void removeIntoTheTrashAndRestore();
    void restoreFinishesAKilledRun_data();
    void restoreFinishesAKilledRun();
    void uncheckedEntriesStay();
    void refusedWhileWineRuns();
    void commandLine_data();
    void commandLine();
    void offerAfterUninstall_data();
    void offerAfterUninstall();

private:
    // Two stale entries ("Gone" and "Broken") and one whose shortcut and program are there ("Keeper").
    void makeEntries();
    QStringList existing(const QStringList& files) const;

    std::unique_ptr<MenuHome> m_home;
    std::unique_ptr<TfKestrin> m_main;
    RecordingLauncher m_launcher;
};

void TestCleanMenus::init()
{
    m_home = std::make_unique<MenuHome>();
    qputenv("HOME", QFile::encodeName(m_home->home()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->folders().dataHome));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home->folders().configHome));
    MessageBox::setTestMode(true);
    m_launcher.hostStarted.clear();
    CommandLauncher::setInstance(&m_launcher);
    makeEntries();
    m_main = std::make_unique<TfKestrin>(WinePrefix(m_home->prefixPath()), m_home->home());
}

void TestCleanMenus::cleanup()
{
    m_main.reset();
    CommandLauncher::setInstance(nullptr);
    MessageBox::setTestMode(false);
}

void TestCleanMenus::makeEntries()
{
    m_home->addShortcut(u"Suite\\Keeper"_s, u"Notepad.lnk"_s, u"C:\\windows\\notepad.exe"_s);
    m_home->addMenuEntry(u"Suite\\Keeper"_s, u"AAAA_notepad.0"_s);
    m_home->addMenuEntry(u"Suite\\Gone"_s, u"BBBB_gone.0"_s);
    m_home->addShortcut(u"Broken"_s, u"Foo Tool.lnk"_s);
    m_home->addMenuEntry(u"Broken"_s, u"CCCC_foo.0"_s);
}

QStringList TestCleanMenus::existing(const QStringList& files) const
{
    QStringList found;
    for (const QString& file : files) {
        if (QFileInfo::exists(file))
            found << file;
    }
    return found;
}

void TestCleanMenus::removeIntoTheTrashAndRestore()
{
    const QStringList valuesBefore = m_home->menuFilesValues();
    TfCleanMenus window(*m_main, m_home->folders());
    QCOMPARE(window.lvEntries->topLevelItemCount(), 2);
    QCOMPARE(window.checkedEntries(), QList<int>({0, 1}));
    QStringList shown;
    for (int row = 0; row < 2; ++row) {
        const QTreeWidgetItem* item = window.lvEntries->topLevelItem(row);
        for (int child = 0; child < item->childCount(); ++child)
            shown << item->child(child)->text(0);
    }
    QVERIFY(shown.contains(m_home->iconFile("16x16", u"CCCC_foo.0"_s)));
    QCOMPARE(existing(shown), shown);

    QTest::mouseClick(window.buRemove, Qt::LeftButton);
    QVERIFY(MessageBox::recorded().isEmpty());
    QCOMPARE(window.result(), int(QDialog::Accepted));
    QCOMPARE(existing(shown), QStringList());
    QCOMPARE(m_home->menuFilesValues().size(), valuesBefore.size() - 4);
    // The keeper's menu file still uses its folder's .directory, and the folder still holds its entry.
    QVERIFY(QFileInfo::exists(m_home->folders().directories() + u"/wine-Programs-Suite.directory"_s));
    QVERIFY(QFileInfo::exists(m_home->folders().wineApplications() + u"/Programs/Suite/Keeper.desktop"_s));
    // Nothing to ask the desktop without update-desktop-database; with it, its folder.
    const bool tool = !QStandardPaths::findExecutable(u"update-desktop-database"_s).isEmpty();
    QCOMPARE(m_launcher.hostStarted.size(), tool ? 1 : 0);

    const QList<TrashRecord> records = EntryTrash::list(m_home->prefixPath());
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().action, u"menu-removed"_s);
    EntryTrash::restore(m_home->prefixPath(), records.first().id, false);
    QCOMPARE(existing(shown), shown);
    QCOMPARE(m_home->menuFilesValues(), valuesBefore);
}

// A run killed part way leaves a record that names every file: restore brings back what is still kept
// and takes what is in its place already as back.
void TestCleanMenus::restoreFinishesAKilledRun_data()
{
    QTest::addColumn<int>("filesInPlace"); // of the record's files, how many the killed run left in place
    QTest::newRow("removal killed after the record, before any file moved") << -1;
    QTest::newRow("removal killed after one file moved") << -2;
    QTest::newRow("restore killed after the values, before the files") << 0;
    QTest::newRow("restore killed after one file went back") << 1;
}

void TestCleanMenus::restoreFinishesAKilledRun()
{
    QFETCH(int, filesInPlace);
    const QStringList valuesBefore = m_home->menuFilesValues();
    StaleMenuEntries stale(WinePrefix(m_home->prefixPath()), m_home->folders());
    stale.scan();
    const QStringList files = stale.filesToRemove({0, 1});
    const MenuCleanup::Removed removed = MenuCleanup::remove(WinePrefix(m_home->prefixPath()), stale, {0, 1});
    const TrashRecord record = EntryTrash::read(m_home->prefixPath(), removed.recordId);
    QCOMPARE(record.files, files);
    // Build the state the kill left: the record stays; some files are back in their places.
    const qsizetype back = filesInPlace == -1 ? files.size() : filesInPlace == -2 ? files.size() - 1 : filesInPlace;
    const QString kept = EntryTrash::folderFor(m_home->prefixPath()) + u'/' + removed.recordId + u".files/"_s;
    for (qsizetype i = 0; i < back; ++i)
        QVERIFY(QFile::rename(kept + QString::number(i), files[i]));

    const TrashRecord damaged = EntryTrash::list(m_home->prefixPath()).first();
    QVERIFY2(damaged.damage.isEmpty(), qPrintable(damaged.damage));
    EntryTrash::restore(m_home->prefixPath(), removed.recordId, false);
    QCOMPARE(existing(files), files);
    QCOMPARE(m_home->menuFilesValues(), valuesBefore);
    QVERIFY(EntryTrash::list(m_home->prefixPath()).isEmpty());
}

void TestCleanMenus::uncheckedEntriesStay()
{
    TfCleanMenus window(*m_main, m_home->folders());
    QTreeWidgetItem* first = window.lvEntries->topLevelItem(0);
    first->setCheckState(0, Qt::Unchecked);
    QStringList kept;
    for (int child = 0; child < first->childCount(); ++child)
        kept << first->child(child)->text(0);
    QTest::mouseClick(window.buRemove, Qt::LeftButton);
    QCOMPARE(existing(kept), kept);

    // None checked: a note, and the window stays.
    TfCleanMenus again(*m_main, m_home->folders());
    QCOMPARE(again.lvEntries->topLevelItemCount(), 1);
    again.lvEntries->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QTest::mouseClick(again.buRemove, Qt::LeftButton);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(again.result(), 0);
}

void TestCleanMenus::refusedWhileWineRuns()
{
    const QStringList valuesBefore = m_home->menuFilesValues();
    TfCleanMenus window(*m_main, m_home->folders());
    StaleMenuEntries stale(WinePrefix(m_home->prefixPath()), m_home->folders());
    stale.scan();
    const QStringList files = stale.filesToRemove({0, 1});
    QVERIFY(!files.isEmpty());

    LockHolder server(WineServer::lockFileCandidates(m_home->prefixPath()).first());
    QVERIFY(server.locked());
    QTest::mouseClick(window.buRemove, Qt::LeftButton);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QVERIFY2(MessageBox::recorded().first().text.contains(m_home->prefixPath()),
             qPrintable(MessageBox::recorded().first().text));
    QCOMPARE(existing(files), files);
    QCOMPARE(m_home->menuFilesValues(), valuesBefore);
    QVERIFY(EntryTrash::list(m_home->prefixPath()).isEmpty());
}

void TestCleanMenus::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("valuesLeft");
    QTest::addColumn<QString>("printed");

    QTest::newRow("list only") << QStringList() << 0 << 6 << u"Run again with /f"_s;
    QTest::newRow("remove") << QStringList{u"/F"_s} << 0 << 2 << u"kestrin-reg trash restore"_s;
    QTest::newRow("unknown argument") << QStringList{u"/x"_s} << 1 << 6 << QString();
}

void TestCleanMenus::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(int, valuesLeft);
    QFETCH(QString, printed);

    QString out;
    QString err;
    QTextStream output(&out);
    QTextStream errors(&err);
    const WinePrefix prefix(m_home->prefixPath());
    QCOMPARE(runCleanMenus(arguments, prefix, m_home->folders(), output, errors), status);
    output.flush();
    errors.flush();
    QCOMPARE(m_home->menuFilesValues().size(), valuesLeft);
    if (status != 0) {
        QVERIFY(!err.isEmpty());
        return;
    }
    QVERIFY2(out.contains(printed), qPrintable(out));
    QVERIFY(out.contains(u"Gone: Its shortcut"_s));
    // Done once, a second run finds nothing to do.
    if (valuesLeft == 2) {
        out.clear();
        QCOMPARE(runCleanMenus(arguments, prefix, m_home->folders(), output, errors), 0);
        output.flush();
        QVERIFY2(out.startsWith(u"No menu entries"_s), qPrintable(out));
    }
}

void TestCleanMenus::offerAfterUninstall_data()
{
    QTest::addColumn<bool>("staleEntries");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("opened");

    QTest::newRow("accepted") << true << QMessageBox::Yes << 1 << 1;
    QTest::newRow("declined") << true << QMessageBox::No << 1 << 0;
    QTest::newRow("nothing stale") << false << QMessageBox::Yes << 0 << 0;
}

void TestCleanMenus::offerAfterUninstall()
{
    QFETCH(bool, staleEntries);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, asked);
    QFETCH(int, opened);

    if (!staleEntries) {
        QString printed;
        QTextStream output(&printed);
        QCOMPARE(runCleanMenus({u"/f"_s}, WinePrefix(m_home->prefixPath()), m_home->folders(), output, output), 0);
    }
    int openings = 0;
    m_main->commands().setWindowOpener(MainCommands::Window::CleanUpMenuEntries, [&openings] { ++openings; });
    MessageBox::setNextAnswer(answer);
    MessageBox::clearRecorded();
    m_main->offerMenuCleanup();
    QCOMPARE(MessageBox::recorded().size(), asked);
    QCOMPARE(openings, opened);
}

QTEST_MAIN(TestCleanMenus)
#include "tst_cleanmenus.moc"
