#include "ListHostStandIn.h"
#include "ShellDoubles.h"
#include "TestPrefix.h"
#include "WineServerDouble.h"

#include "controls/MessageBox.h"
#include "controls/TuduButton.h"
#include "details/TfDetails.h"
#include "details/TfEditDetails.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/TfKestrin.h"
#include "prefix/WineServer.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

const QString uninstallKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s;

} // namespace

class TestDetailsWindows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandsOpenBothWindows();
    void linksOpenAndRun();
    void okAfterAStartedCommand_data();
    void okAfterAStartedCommand();
    void nonTextNameShowsTheErrorAndTheRowsBuilt();
    void longPageScrolls();
    void editorGridKeysAndDeleteKey();
    void editorOkWritesAndCancelDoesNot_data();
    void editorOkWritesAndCancelDoesNot();
    void editorOkRefusedWhileWineRuns();

private:
    std::unique_ptr<TfKestrin> makeMain();
    int rowOf(TfKestrin& main, const QString& subkey) const;
    void write(const QString& subkey, const QString& name, const RegistryValue& value);
    QLabel* valueLabel(TfDetails& window, const QString& text) const;
    std::optional<RegistryValue> stored(const QString& subkey, const QString& name) const;

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
    RecordingShell m_shell;
    RecordingLauncher m_launcher;
};

void TestDetailsWindows::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_prefix->copyFixtureHives());
    m_shell.opened.clear();
    m_launcher.started.clear();
    m_launcher.command = {};
    ShellOpen::setInstance(&m_shell);
    CommandLauncher::setInstance(&m_launcher);
    MessageBox::setTestMode(true);
}

void TestDetailsWindows::cleanup()
{
    ShellOpen::setInstance(nullptr);
    CommandLauncher::setInstance(nullptr);
    MessageBox::setTestMode(false);
}

std::unique_ptr<TfKestrin> TestDetailsWindows::makeMain()
{
    auto main = std::make_unique<TfKestrin>(WinePrefix(m_prefix->path()), m_work->path());
    main->show();
    return main;
}

int TestDetailsWindows::rowOf(TfKestrin& main, const QString& subkey) const
{
    for (int row = 0; row < main.programList().count(); ++row) {
        if (main.programList().at(row).KeyPath.endsWith(u'\\' + subkey))
            return row;
    }
    return -1;
}

void TestDetailsWindows::write(const QString& subkey, const QString& name, const RegistryValue& value)
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(uninstallKey + subkey, true));
    registry.writeValue(name, value);
}

std::optional<RegistryValue> TestDetailsWindows::stored(const QString& subkey, const QString& name) const
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    if (!registry.OpenKeyReadOnly(uninstallKey + subkey))
        return std::nullopt;
    return registry.readValue(name);
}

QLabel* TestDetailsWindows::valueLabel(TfDetails& window, const QString& text) const
{
    for (QLabel* label : window.valueLabels()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

void TestDetailsWindows::commandsOpenBothWindows()
{
    auto main = makeMain();
    main->selectItem(rowOf(*main, u"FooTool_is1"_s));
    QStringList seen;
    // The modal windows are closed as soon as they show; what they showed is kept.
    auto closeWhenShown = [&seen] {
        QTimer::singleShot(0, [&seen] {
            if (auto* details = qobject_cast<TfDetails*>(QApplication::activeModalWidget())) {
                seen << details->windowTitle() + u':' + details->valueLabels().value(0)->text();
                details->reject();
            } else if (auto* editor = qobject_cast<TfEditDetails*>(QApplication::activeModalWidget())) {
                seen << editor->windowTitle() + u':' + editor->leStored->text();
                editor->reject();
            }
        });
    };
    closeWhenShown();
    main->actions().tbDetails->click();
    closeWhenShown();
    main->actions().EditProgramDetails1->trigger();
    QCOMPARE(seen, QStringList({u"Program Details:Foo Tool 1.0"_s,
                                u"Edit Program Details:HKEY_LOCAL_MACHINE\\"_s + uninstallKey + u"FooTool_is1"_s}));
}

void TestDetailsWindows::linksOpenAndRun()
{
    write(u"FooTool_is1"_s, u"URLInfoAbout"_s, RegistryValue::fromString(u"https://example.org/foo"_s));
    write(u"FooTool_is1"_s, u"Comments"_s, RegistryValue::fromString(u"https://example.org/plain"_s));
    ListHostStandIn host(m_prefix->path(), m_work->path());
    host.selectItem(host.rowOf(u"FooTool_is1"_s));
    const QString command = host.programList().at(host.selectedIndex()).UninstallCommand;
    QVERIFY(!command.isEmpty());
    TfDetails window(host);
    window.show();
    QLabel* about = valueLabel(window, u"https://example.org/foo"_s);
    QLabel* plain = valueLabel(window, u"https://example.org/plain"_s);
    QLabel* uninstall = valueLabel(window, command);
    QVERIFY(about && plain && uninstall);
    QTest::mouseClick(plain, Qt::LeftButton);
    QVERIFY(m_shell.opened.isEmpty());
    QTest::mouseClick(about, Qt::LeftButton);
    QCOMPARE(m_shell.opened, QStringList{u"https://example.org/foo"_s});
    QVERIFY(!window.CommandRun);
    QTest::mouseClick(uninstall, Qt::LeftButton);
    QCOMPARE(m_launcher.started, QStringList{command});
    QVERIFY(window.CommandRun);
}

void TestDetailsWindows::okAfterAStartedCommand_data()
{
    QTest::addColumn<bool>("removesEntries");
    QTest::addColumn<bool>("escape");
    QTest::newRow("OK re-reads and keeps the position") << false << false;
    QTest::newRow("OK on a shorter list selects the first") << true << false;
    QTest::newRow("Escape leaves the list untouched") << true << true;
}

void TestDetailsWindows::okAfterAStartedCommand()
{
    QFETCH(bool, removesEntries);
    QFETCH(bool, escape);
    ListHostStandIn host(m_prefix->path(), m_work->path());
    const int count = host.programList().count();
    const int last = count - 1;
    host.selectItem(last);
    const QString lastName = host.programList().at(last).Name;
    QList<InstalledProgram> others;
    for (int row = 0; row < last; ++row)
        others << host.programList().at(row);
    m_launcher.command = [&] {
        // The command adds an entry, or removes every other one.
        RegistryAccess registry{WinePrefix(m_prefix->path())};
        if (removesEntries) {
            for (const InstalledProgram& item : std::as_const(others)) {
                registry.RootKey(item.Root);
                QVERIFY(registry.DeleteKey(item.KeyPath));
            }
        } else {
            registry.RootKey(RegistryRoot::LocalMachine);
            QVERIFY(registry.OpenKey(uninstallKey + u"0Added"_s, true));
            registry.WriteString(u"DisplayName"_s, u"0 Added"_s);
            registry.WriteString(u"UninstallString"_s, u"x.exe"_s);
        }
    };
    TfDetails window(host);
    window.show();
    QTest::mouseClick(window.valueLabels().at(0), Qt::LeftButton); // the name is no link
    QVERIFY(m_launcher.started.isEmpty());
    QLabel* uninstall = valueLabel(window, host.programList().at(last).UninstallCommand);
    QVERIFY(uninstall);
    QTest::mouseClick(uninstall, Qt::LeftButton);
    if (escape)
        QTest::keyClick(&window, Qt::Key_Escape);
    else
        QTest::mouseClick(window.buOK, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(host.refreshes, escape ? 0 : 1);
    if (escape) {
        QCOMPARE(host.programList().count(), count);
        QCOMPARE(host.selectedIndex(), last);
    } else if (removesEntries) {
        QCOMPARE(host.programList().count(), 1);
        QCOMPARE(host.selectedIndex(), 0);
    } else {
        QCOMPARE(host.programList().count(), count + 1);
        QCOMPARE(host.selectedIndex(), last);
        QVERIFY(host.programList().at(last).Name != lastName); // the list was read anew
    }
}

void TestDetailsWindows::nonTextNameShowsTheErrorAndTheRowsBuilt()
{
    ListHostStandIn host(m_prefix->path(), m_work->path());
    const int row = host.rowOf(u"FooTool_is1"_s);
    host.selectItem(row);
    write(u"FooTool_is1"_s, u"DisplayName"_s, RegistryValue::fromDword(3));
    TfDetails window(host);
    QVERIFY(window.valueLabels().isEmpty());
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().constFirst().kind, MessageBox::Kind::Critical);
    QVERIFY(MessageBox::recorded().constFirst().text.contains(u"DisplayName"_s));
    // OK still works and keeps the selection.
    QTest::mouseClick(window.buOK, Qt::LeftButton);
    QCOMPARE(host.selectedIndex(), row);
}

void TestDetailsWindows::longPageScrolls()
{
    write(u"FooTool_is1"_s, u"Comments"_s, RegistryValue::fromString(QString(300, u'w')));
    ListHostStandIn host(m_prefix->path(), m_work->path());
    host.selectItem(host.rowOf(u"FooTool_is1"_s));
    TfDetails window(host);
    window.show();
    QVERIFY(window.sbDetails->widget()->width() > window.sbDetails->viewport()->width());
    QVERIFY(window.sbDetails->horizontalScrollBar()->maximum() > 0);
}

void TestDetailsWindows::editorGridKeysAndDeleteKey()
{
    for (const char* name : {"A", "B", "C"})
        write(u"Grid"_s, QLatin1String(name), RegistryValue::fromString(u"v"_s + QLatin1String(name)));
    write(u"Grid"_s, u"DisplayName"_s, RegistryValue::fromString(u"Grid"_s));
    write(u"Grid"_s, u"UninstallString"_s, RegistryValue::fromString(u"g.exe"_s));
    ListHostStandIn host(m_prefix->path(), m_work->path());
    host.selectItem(host.rowOf(u"Grid"_s));
    TfEditDetails window(host);
    window.show();
    QTableWidget* grid = window.vleDetails;
    auto names = [grid] {
        QStringList list;
        for (int row = 0; row < grid->rowCount(); ++row)
            list << (grid->item(row, 0) ? grid->item(row, 0)->text() : QString());
        return list;
    };
    const QStringList all{u"A"_s, u"B"_s, u"C"_s, u"DisplayName"_s, u"UninstallString"_s};
    QCOMPARE(names(), all);
    QCOMPARE(window.SelectedRow, 0);

    // Down on the last row appends a blank row; leaving it drops it again.
    grid->setCurrentCell(4, 0);
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(grid->rowCount(), 6);
    QCOMPARE(grid->currentRow(), 5);
    grid->setCurrentCell(1, 0);
    QCOMPARE(names(), all);
    QCOMPARE(window.SelectedRow, 1);
    // Insert adds a blank row above; ADD KEY on a blank row adds nothing.
    QTest::keyClick(grid, Qt::Key_Insert);
    QCOMPARE(names(), QStringList({u"A"_s, QString(), u"B"_s, u"C"_s, u"DisplayName"_s, u"UninstallString"_s}));
    QTest::mouseClick(window.buAdd, Qt::LeftButton);
    QCOMPARE(grid->rowCount(), 6);
    grid->setCurrentCell(2, 0); // leaves the blank row, which goes
    QCOMPARE(names(), all);
    QCOMPARE(window.SelectedRow, 1);
    // Ctrl+Delete only takes the row out of the grid.
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(names(), QStringList({u"A"_s, u"C"_s, u"DisplayName"_s, u"UninstallString"_s}));
    QVERIFY(window.DeletedNames.isEmpty());
    // DELETE KEY marks the row's name; on the last row the selection moves up.
    grid->setCurrentCell(3, 0);
    QTest::mouseClick(window.buDel, Qt::LeftButton);
    QCOMPARE(window.SelectedRow, 2);
    grid->setCurrentCell(0, 0);
    QTest::mouseClick(window.buDel, Qt::LeftButton);
    QCOMPARE(window.SelectedRow, 0);
    QCOMPARE(window.DeletedNames, QStringList({u"UninstallString"_s, u"A"_s}));
    QCOMPARE(names(), QStringList({u"C"_s, u"DisplayName"_s}));
    // ADD KEY appends without moving the selection.
    QTest::mouseClick(window.buAdd, Qt::LeftButton);
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(grid->currentRow(), 0);
}

void TestDetailsWindows::editorOkWritesAndCancelDoesNot_data()
{
    QTest::addColumn<int>("how"); // 0 OK, 1 CANCEL, 2 Escape
    QTest::newRow("OK") << 0;
    QTest::newRow("CANCEL") << 1;
    QTest::newRow("Escape") << 2;
}

void TestDetailsWindows::editorOkWritesAndCancelDoesNot()
{
    QFETCH(int, how);
    ListHostStandIn host(m_prefix->path(), m_work->path());
    host.selectItem(host.rowOf(u"FooTool_is1"_s));
    const QByteArray before = m_prefix->read(u"system.reg"_s);
    TfEditDetails window(host);
    window.show();
    QTableWidget* grid = window.vleDetails;
    const int last = grid->rowCount() - 1;
    if (how == 2) {
        // Escape while a cell is being edited still closes the window.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        grid->setCurrentCell(0, 1);
        grid->editItem(grid->item(0, 1));
        QVERIFY(grid->viewport()->findChild<QLineEdit*>());
    }
    if (how == 0) {
        // Typed into the cell and not yet confirmed: OK takes it.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        grid->setCurrentCell(0, 1);
        grid->editItem(grid->item(0, 1));
        auto* cell = grid->viewport()->findChild<QLineEdit*>();
        QVERIFY(cell);
        cell->selectAll();
        QTest::keyClicks(cell, u"Changed"_s);
    } else {
        grid->item(0, 1)->setText(u"Changed"_s);
    }
    QTest::mouseClick(window.buAdd, Qt::LeftButton);
    grid->setItem(last + 1, 0, new QTableWidgetItem(u"Added"_s));
    grid->setItem(last + 1, 1, new QTableWidgetItem(u"new"_s));
    const QString firstName = grid->item(0, 0)->text();
    if (how == 0)
        QTest::mouseClick(window.buOK, Qt::LeftButton);
    else if (how == 1)
        QTest::mouseClick(window.buCancel, Qt::LeftButton);
    else
        QTest::keyClick(grid->viewport()->findChild<QLineEdit*>(), Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    if (how != 0) {
        QCOMPARE(m_prefix->read(u"system.reg"_s), before);
        return;
    }
    QCOMPARE(stored(u"FooTool_is1"_s, firstName)->toText(), u"Changed"_s);
    QCOMPARE(stored(u"FooTool_is1"_s, u"Added"_s), std::optional(RegistryValue::fromString(u"new"_s)));
    // The list is not read again.
    QCOMPARE(host.refreshes, 0);
    QCOMPARE(host.programList().at(host.selectedIndex()).Name, u"Foo Tool 1.0"_s);
}

void TestDetailsWindows::editorOkRefusedWhileWineRuns()
{
    ListHostStandIn host(m_prefix->path(), m_work->path());
    host.selectItem(host.rowOf(u"FooTool_is1"_s));
    TfEditDetails window(host);
    window.show();
    window.vleDetails->item(0, 1)->setText(u"Changed"_s);
    const QByteArray before = m_prefix->read(u"system.reg"_s);
    LockHolder server(WineServer::lockFileCandidates(m_prefix->path()).first());
    QVERIFY(server.locked());
    QTest::mouseClick(window.buOK, Qt::LeftButton);
    QCOMPARE(m_prefix->read(u"system.reg"_s), before);
    QVERIFY(window.isVisible());
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().constFirst().kind, MessageBox::Kind::Critical);
}

QTEST_MAIN(TestDetailsWindows)
#include "tst_detailswindows.moc"
