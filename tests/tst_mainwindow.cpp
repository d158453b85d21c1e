#include "TestDrive.h"
#include "TestPrefix.h"
#include "WineServerDouble.h"

#include "controls/MessageBox.h"
#include "controls/Pictures.h"
#include "controls/TFramePanel.h"
#include "desktop/ShellOpen.h"
#include "desktop/SystemIconList.h"
#include "inventory/ProgramListModel.h"
#include "inventory/Texts.h"
#include "inventory/UsageCache.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/ProgramListView.h"
#include "mainwindow/TfKestrin.h"
#include "prefix/WineServer.h"
#include "uninstall/UninstallLog.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString uninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
const QString settingsKey = u"Software\\Varnholt\\Kestrin\\Desktop"_s;
const QByteArray logHeader = "Kestrin Uninstall Log \r\nContains information about programs you have uninstalled "
                             "from your computer\r\n\r\n";
// The fixture's entries in list order; 3, 4 and 6 have no uninstaller on the test drive.
const QStringList fixtureNames{u"B\u00e4r Editor \u2211 \u753b\u50cf"_s,
                               u"Bar Runtime (x86)"_s,
                               u"Foo Tool 1.0"_s,
                               u"Legacy 32-bit Game"_s,
                               u"lower case tool"_s,
                               u"Twin App"_s,
                               u"Twin App"_s,
                               u"UPPER CASE TOOL"_s,
                               u"Value Types Sampler"_s};

class RecordingShell : public ShellOpen
{
public:
    QStringList opened;
    bool open(const QString& target) override
    {
        opened << target;
        return true;
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void startsWithTheDesignedWindow();
    void changesViewStyle_data();
    void changesViewStyle();
    void showsTheNoteOfTheSelection_data();
    void showsTheNoteOfTheSelection();
    void drawsEachDecorationAtTheSizeShown_data();
    void drawsEachDecorationAtTheSizeShown();
    void searches_data();
    void searches();
    void searchesAnEmptyList();
    void commandsRequireASelection_data();
    void commandsRequireASelection();
    void listMouseAndKeysRunCommands();
    void refreshKeepsTheSelectedIndex_data();
    void refreshKeepsTheSelectedIndex();
    void remembersTheWindowSettings_data();
    void remembersTheWindowSettings();
    void readsDamagedSettingsAsDefaults_data();
    void readsDamagedSettingsAsDefaults();
    void createsTheLogOnlyWhenMissing();
    void keepsKeyboardFocusAfterAViewChangeFromTheMenu_data();
    void keepsKeyboardFocusAfterAViewChangeFromTheMenu();
    void saysWhyTheSettingsWereNotSavedOnExit();
    void logPathHasOneSlash_data();
    void logPathHasOneSlash();
    void anUnreadableEntryIsLeftOutAndNamed();
    void showsTwoColumnsOnThe9xFamily();
    void opensHelpAndUpdates_data();
    void opensHelpAndUpdates();
    void measuresFolderSizesOnceTheListHasPainted();

private:
    std::unique_ptr<TfKestrin> makeWindow();
    void setSetting(const QString& name, const RegistryValue& value) const;
    QString setting(const QString& name) const;
    QList<MessageBox::Shown> boxes() const { return MessageBox::recorded(); }

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
    RecordingShell m_shell;
    std::unique_ptr<QAbstractItemModelTester> m_listTester, m_viewTester;
};

void TestMainWindow::initTestCase()
{
    // The list's order follows the locale's collation.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestMainWindow::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_prefix->copyFixtureHives());
    QVERIFY(TestDrive::addDrive(*m_prefix, u'c', u"drive_c"_s));
    for (const QString& file :
         {u"Program Files/Foo Tool/unins000.exe"_s, u"Program Files/B\u00e4r/uninstall.exe"_s, u"twin/ONE/uninst.exe"_s,
          u"windows/system32/rundll32.exe"_s, u"windows/system32/msiexec.exe"_s, u"windows/setup.exe"_s})
        QVERIFY(TestDrive::add(*m_prefix, u"drive_c/"_s + file));
    MessageBox::setTestMode(true);
    m_shell.opened.clear();
    ShellOpen::setInstance(&m_shell);
}

void TestMainWindow::cleanup()
{
    m_viewTester.reset();
    m_listTester.reset();
    ShellOpen::setInstance(nullptr);
    MessageBox::setTestMode(false);
}

std::unique_ptr<TfKestrin> TestMainWindow::makeWindow()
{
    auto window = std::make_unique<TfKestrin>(WinePrefix(m_prefix->path()), m_work->path());
    using Mode = QAbstractItemModelTester::FailureReportingMode;
    m_listTester = std::make_unique<QAbstractItemModelTester>(&window->programList(), Mode::QtTest);
    m_viewTester = std::make_unique<QAbstractItemModelTester>(window->lvPrograms->iconView()->model(), Mode::QtTest);
    return window;
}

void TestMainWindow::setSetting(const QString& name, const RegistryValue& value) const
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::CurrentUser);
    QVERIFY(registry.OpenKey(settingsKey, true));
    registry.writeValue(name, value);
}

QString TestMainWindow::setting(const QString& name) const
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::CurrentUser);
    return registry.OpenKeyReadOnly(settingsKey) ? registry.ReadString(name) : u"(no key)"_s;
}

void TestMainWindow::startsWithTheDesignedWindow()
{
    auto window = makeWindow();
    QVERIFY(boxes().isEmpty());
    QCOMPARE(window->size(), QSize(740, 545));
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    QVERIFY((window->geometry().center() - desktop.center()).manhattanLength() <= 2);
    QCOMPARE(window->windowState(), Qt::WindowNoState);
    QCOMPARE(window->lvPrograms->viewStyle(), ProgramListView::LargeIcons);
    QVERIFY(window->actions().Large1->isChecked());
    QCOMPARE(window->CommandColumn(), 3);

    for (int row = 0; row < fixtureNames.size(); ++row)
        QCOMPARE(window->programList().at(row).Name, fixtureNames[row]);
    QCOMPARE(window->sbarStatusPanel->text(), u"9 program(s) available for uninstall"_s);
    QCOMPARE(window->selectedIndex(), 0);
    QVERIFY(!window->fpaSelector->isHidden());
    QCOMPARE(window->lIndicator->text(), sCanUninstallPrefix + fixtureNames[0] + sCanUninstallSuffix);
}

void TestMainWindow::changesViewStyle_data()
{
    QTest::addColumn<int>("style");
    QTest::newRow("large icons") << 0;
    QTest::newRow("small icons") << 1;
    QTest::newRow("list") << 2;
    QTest::newRow("details") << 3;
}

void TestMainWindow::changesViewStyle()
{
    QFETCH(int, style);
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Start from another style, so that the item must really switch.
    window->actions().viewItem((style + 2) % 4)->trigger();
    window->selectItem(4);
    window->actions().viewItem(style)->trigger();

    QCOMPARE(int(window->lvPrograms->viewStyle()), style);
    for (int other = 0; other < 4; ++other)
        QCOMPARE(window->actions().viewItem(other)->isChecked(), other == style);
    QTreeView* table = window->lvPrograms->detailsView();
    QCOMPARE(window->lvPrograms->currentView() == table, style == 3);
    // Both views share the selection.
    QCOMPARE(window->selectedIndex(), 4);
    QVERIFY(table->selectionModel()->isRowSelected(4, {}));
    if (style != 3)
        return;
    const QList<int> widths{150, 70, 90, 70, 270};
    QCOMPARE(table->header()->count(), widths.size());
    for (int column = 0; column < widths.size(); ++column)
        QCOMPARE(table->columnWidth(column), widths[column]);
    // A header click leaves the list in name order.
    QTest::mouseClick(table->header()->viewport(), Qt::LeftButton, {}, QPoint(10, table->header()->height() / 2));
    QCOMPARE(table->model()->index(0, 0).data().toString(), fixtureNames[0]);
}

void TestMainWindow::drawsEachDecorationAtTheSizeShown_data()
{
    QTest::addColumn<int>("style");
    QTest::newRow("large icons") << int(ProgramListView::LargeIcons);
    QTest::newRow("small icons, after the large ones") << int(ProgramListView::SmallIcons);
    QTest::newRow("details") << int(ProgramListView::Details);
}

// Decorations are composed when first drawn, at the size of the style shown: the warning sign beside
// (small) or at the lower left of (large) the entry's icon, each as the icon list has it.
void TestMainWindow::drawsEachDecorationAtTheSizeShown()
{
    QFETCH(int, style);
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    if (style != ProgramListView::LargeIcons)
        window->ChangeViewStyle(ProgramListView::LargeIcons);
    window->ChangeViewStyle(style);
    QAbstractItemView* view = window->lvPrograms->currentView();
    const bool large = style == ProgramListView::LargeIcons;
    const int side = large ? 32 : 16;
    SystemIconList& icons = window->iconList();
    const QImage sign = icons.smallImage(window->WarningIconIndex());
    for (const int row : {2, 3}) {
        const InstalledProgram& program = window->programList().at(row);
        const QIcon decoration = view->model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        const QImage drawn = decoration.pixmap(view->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(drawn.size(), view->iconSize());
        const QImage icon = large ? icons.largeImage(program.IconIndex) : icons.smallImage(program.IconIndex);
        QCOMPARE(drawn.copy(16, 0, side, side), icon.convertToFormat(QImage::Format_ARGB32));
        const QImage signArea = drawn.copy(0, side - 16, 16, 16);
        if (program.UninstallerMissing == window->WarningIconIndex())
            QCOMPARE(signArea, sign.convertToFormat(QImage::Format_ARGB32));
        else
            QCOMPARE(signArea.pixel(8, 8), qRgba(0, 0, 0, 0));
    }
}

void TestMainWindow::showsTheNoteOfTheSelection_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("picture");
    QTest::newRow("uninstaller found, details")
        << 3 << 2 << sCanUninstallPrefix + u"Foo Tool 1.0"_s + sCanUninstallSuffix
        << int(Pictures::NoteUninstallerFound);
    QTest::newRow("uninstaller missing, large icons")
        << 0 << 3 << sMissingUninstallerPrefix + u"Legacy 32-bit Game"_s + sMissingUninstallerSuffix
        << int(Pictures::NoteUninstallerMissing);
}

void TestMainWindow::showsTheNoteOfTheSelection()
{
    QFETCH(int, style);
    QFETCH(int, row);
    QFETCH(QString, note);
    QFETCH(int, picture);
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->ChangeViewStyle(style);
    QAbstractItemView* view = window->lvPrograms->currentView();
    const QRect item = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());

    QCOMPARE(window->selectedIndex(), row);
    QVERIFY(window->fpaSelector->isVisible());
    QCOMPARE(window->lIndicator->text(), note);
    QCOMPARE(window->imgIndicator->pixmap().toImage(),
             Pictures::interfacePicture(Pictures::Interface(picture)).toImage());
    // The warning sign stands beside exactly the entries whose uninstaller is missing.
    QCOMPARE(window->programList().at(row).UninstallerMissing == window->WarningIconIndex(),
             picture == Pictures::NoteUninstallerMissing);

    // A click on empty space takes the selection and the note away.
    const QPoint empty(view->viewport()->width() - 2, view->viewport()->height() - 2);
    QVERIFY(!view->indexAt(empty).isValid());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, empty);
    QCOMPARE(window->selectedIndex(), -1);
    QVERIFY(window->fpaSelector->isHidden());
    QVERIFY(window->lIndicator->text().isEmpty());
}

void TestMainWindow::searches_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("found"); // -1: the not-found box
    QTest::newRow("next match, other letter case") << 2 << u"tool"_s << 4;
    QTest::newRow("capitals match") << 4 << u"tool"_s << 7;
    QTest::newRow("wraps to the first match") << 7 << u"tool"_s << 2;
    QTest::newRow("same name, next entry") << 5 << u"TWIN"_s << 6;
    QTest::newRow("same name, wraps") << 6 << u"twin"_s << 5;
    QTest::newRow("single match found again") << 8 << u"sampler"_s << 8;
    QTest::newRow("no selection starts at the second") << -1 << u"b"_s << 1;
    QTest::newRow("no selection, first comes last") << -1 << u"\u2211"_s << 0;
    QTest::newRow("last selected, no match") << 8 << u"zzz"_s << -1;
    QTest::newRow("empty text does nothing") << 3 << QString() << 3;
}

void TestMainWindow::searches()
{
    QFETCH(int, selected);
    QFETCH(QString, text);
    QFETCH(int, found);
    auto window = makeWindow();
    window->selectItem(selected);
    window->edSearch->setText(text);
    QTest::keyClick(window->edSearch, Qt::Key_Return);

    if (found < 0) {
        QCOMPARE(boxes().size(), 1);
        QCOMPARE(boxes()[0].kind, MessageBox::Kind::Critical);
        QCOMPARE(boxes()[0].title, u"Kestrin"_s);
        QCOMPARE(boxes()[0].text, u"The program you are looking for ("_s + text + u") was not found"_s);
        QCOMPARE(window->selectedIndex(), selected);
    } else {
        QVERIFY(boxes().isEmpty());
        QCOMPARE(window->selectedIndex(), found);
        QVERIFY(window->lIndicator->text().contains(fixtureNames[found]));
    }
    // The Find button runs the same search.
    MessageBox::clearRecorded();
    QTest::mouseClick(window->buFind, Qt::LeftButton);
    QCOMPARE(boxes().size(), found < 0 ? 1 : 0);
}

void TestMainWindow::searchesAnEmptyList()
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.DeleteKey(uninstall));
    QVERIFY(registry.DeleteKey(u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s));
    auto window = makeWindow();
    QCOMPARE(window->sbarStatusPanel->text(), u"0 program(s) available for uninstall"_s);
    QVERIFY(window->fpaSelector->isHidden());
    window->edSearch->setText(u"x"_s);
    window->buFindClick();
    QCOMPARE(boxes().size(), 1);
    QCOMPARE(boxes()[0].text, u"The program you are looking for (x) was not found"_s);
}

void TestMainWindow::commandsRequireASelection_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("window");
    const auto add = [](const QString& control, MainCommands::Window window) {
        QTest::newRow(control.toLatin1().constData()) << control << int(window);
    };
    add(u"Uninstall2"_s, MainCommands::Window::Uninstall);
    add(u"tbUninstall"_s, MainCommands::Window::Uninstall);
    add(u"pmUninstall"_s, MainCommands::Window::Uninstall);
    add(u"DeleteFromList1"_s, MainCommands::Window::DeleteFromList);
    add(u"tbDelete"_s, MainCommands::Window::DeleteFromList);
    add(u"pmDeleteFromList"_s, MainCommands::Window::DeleteFromList);
    add(u"ProgramDetails1"_s, MainCommands::Window::ProgramDetails);
    add(u"tbDetails"_s, MainCommands::Window::ProgramDetails);
    add(u"EditProgramDetails1"_s, MainCommands::Window::EditProgramDetails);
    add(u"pmEditProgramDetails"_s, MainCommands::Window::EditProgramDetails);
}

void TestMainWindow::commandsRequireASelection()
{
    QFETCH(QString, control);
    QFETCH(int, window);
    auto main = makeWindow();
    QList<int> opened;
    for (int which = 0; which < MainCommands::WindowCount; ++which)
        main->commands().setWindowOpener(MainCommands::Window(which), [&opened, which] { opened << which; });
    const auto run = [&] {
        if (auto* button = main->findChild<QToolButton*>(control))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            main->findChild<QAction*>(control)->trigger();
    };

    main->selectItem(-1);
    run();
    QCOMPARE(boxes().size(), 1);
    QCOMPARE(boxes()[0].kind, MessageBox::Kind::Plain);
    QCOMPARE(boxes()[0].text, u"Please select a program you wish to uninstall"_s);
    QVERIFY(opened.isEmpty());

    MessageBox::clearRecorded();
    main->selectItem(5);
    run();
    QVERIFY(boxes().isEmpty());
    QCOMPARE(opened, QList<int>{window});
}

void TestMainWindow::listMouseAndKeysRunCommands()
{
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    int uninstalls = 0;
    QList<QPoint> popups;
    window->commands().setWindowOpener(MainCommands::Window::Uninstall, [&] { ++uninstalls; });
    window->commands().setPopupHandler([&](const QPoint& pos) { popups << pos; });
    window->ChangeViewStyle(3);
    QTreeView* table = window->lvPrograms->detailsView();
    const QPoint onItem = table->visualRect(table->model()->index(2, 0)).center();
    const QPoint empty(table->viewport()->width() - 2, table->viewport()->height() - 2);

    // QTest sends the double-click event alone; the native sequence has a click before it.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, onItem);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, onItem);
    QCOMPARE(uninstalls, 1);
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(uninstalls, 2);
    QTest::mousePress(table->viewport(), Qt::RightButton, {}, onItem);
    QTest::mouseRelease(table->viewport(), Qt::RightButton, {}, onItem);
    QCOMPARE(popups, QList<QPoint>{table->viewport()->mapToGlobal(onItem) + QPoint(20, 0)});

    // Without a selection none of them acts.
    QTest::mousePress(table->viewport(), Qt::RightButton, {}, empty);
    QTest::mouseRelease(table->viewport(), Qt::RightButton, {}, empty);
    QCOMPARE(window->selectedIndex(), -1);
    QTest::keyClick(table, Qt::Key_Return);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, empty);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, empty);
    QCOMPARE(uninstalls, 2);
    QCOMPARE(popups.size(), 1);
    QVERIFY(boxes().isEmpty());
}

void TestMainWindow::refreshKeepsTheSelectedIndex_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("expected");
    QTest::newRow("index still there") << 3 << 3;
    QTest::newRow("past the end of the shorter list") << 8 << -1;
    QTest::newRow("none selected takes the first") << -1 << 0;
}

void TestMainWindow::refreshKeepsTheSelectedIndex()
{
    QFETCH(int, selected);
    QFETCH(int, expected);
    auto window = makeWindow();
    window->selectItem(selected);
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.DeleteKey(uninstall + u"\\UPPER"_s));
    QVERIFY(registry.DeleteKey(uninstall + u"\\Types"_s));

    window->actions().Refresh1->trigger();
    QCOMPARE(window->programList().count(), 7);
    QCOMPARE(window->sbarStatusPanel->text(), u"7 program(s) available for uninstall"_s);
    QCOMPARE(window->selectedIndex(), expected);
    QCOMPARE(window->fpaSelector->isHidden(), expected < 0);
}

void TestMainWindow::remembersTheWindowSettings_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("storedState");
    QTest::newRow("maximized, details") << int(Qt::WindowMaximized) << 3 << u"2"_s;
    QTest::newRow("minimized, list") << int(Qt::WindowMinimized) << 2 << u"1"_s;
    QTest::newRow("normal, small icons") << int(Qt::WindowNoState) << 1 << u"0"_s;
}

void TestMainWindow::remembersTheWindowSettings()
{
    QFETCH(int, state);
    QFETCH(int, style);
    QFETCH(QString, storedState);
    {
        auto window = makeWindow();
        window->resize(800, 600);
        window->move(40, 50);
        window->actions().viewItem(style)->trigger();
        window->setWindowState(Qt::WindowStates(state));
    }
    QVERIFY(boxes().isEmpty());
    QCOMPARE(setting(u"Width"_s), u"800"_s);
    QCOMPARE(setting(u"Height"_s), u"600"_s);
    QCOMPARE(setting(u"WindowState"_s), storedState);
    QCOMPARE(setting(u"MainViewStyle"_s), QString::number(style));

    auto again = makeWindow();
    QCOMPARE(again->normalGeometry().size(), QSize(800, 600));
    QCOMPARE(int(again->windowState()), state);
    QCOMPARE(int(again->lvPrograms->viewStyle()), style);
    QVERIFY(again->actions().viewItem(style)->isChecked());
}

void TestMainWindow::readsDamagedSettingsAsDefaults_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RegistryValue>("value");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("style");
    const QSize designed(740, 545);
    QTest::newRow("style 7") << u"MainViewStyle"_s << RegistryValue::fromString(u"7"_s) << designed << 0;
    QTest::newRow("style 2") << u"MainViewStyle"_s << RegistryValue::fromString(u"2"_s) << designed << 2;
    QTest::newRow("style as dword") << u"MainViewStyle"_s << RegistryValue::fromDword(3) << designed << 0;
    QTest::newRow("width 900") << u"Width"_s << RegistryValue::fromString(u"900"_s) << QSize(900, 545) << 0;
    QTest::newRow("width not a number") << u"Width"_s << RegistryValue::fromString(u"abc"_s) << designed << 0;
    QTest::newRow("width as dword") << u"Width"_s << RegistryValue::fromDword(900) << designed << 0;
    QTest::newRow("negative height") << u"Height"_s << RegistryValue::fromString(u"-20"_s) << designed << 0;
}

void TestMainWindow::readsDamagedSettingsAsDefaults()
{
    QFETCH(QString, name);
    QFETCH(RegistryValue, value);
    QFETCH(QSize, size);
    QFETCH(int, style);
    setSetting(u"WindowState"_s, RegistryValue::fromString(u"x2"_s));
    setSetting(name, value);
    auto window = makeWindow();
    QVERIFY(boxes().isEmpty());
    QCOMPARE(window->size(), size);
    QCOMPARE(window->windowState(), Qt::WindowNoState);
    QCOMPARE(int(window->lvPrograms->viewStyle()), style);
    QVERIFY(window->actions().viewItem(style)->isChecked());
    QCOMPARE(window->programList().count(), 9); // the start went on
}

void TestMainWindow::createsTheLogOnlyWhenMissing()
{
    const QString log = m_work->filePath(u"ULog.txt"_s);
    makeWindow();
    QFile first(log);
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), logHeader);
    first.close();

    const QByteArray grown = logHeader + "1/2/2026 3:4:5\r\nUninstalling X\r\n";
    QVERIFY(first.open(QIODevice::WriteOnly | QIODevice::Append));
    first.write("1/2/2026 3:4:5\r\nUninstalling X\r\n");
    first.close();
    makeWindow();
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), grown);
    QVERIFY(boxes().isEmpty());
}

void TestMainWindow::keepsKeyboardFocusAfterAViewChangeFromTheMenu_data()
{
    QTest::addColumn<int>("fromStyle");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("toStyle");
    QTest::newRow("large icons, Alt+V D") << 0 << int(Qt::Key_D) << 3;
    QTest::newRow("details, Alt+V L") << 3 << int(Qt::Key_L) << 0;
    QTest::newRow("large icons, Alt+V R") << 0 << int(Qt::Key_R) << 0;
}

void TestMainWindow::keepsKeyboardFocusAfterAViewChangeFromTheMenu()
{
    QFETCH(int, fromStyle);
    QFETCH(int, key);
    QFETCH(int, toStyle);
    auto window = makeWindow();
    window->actions().viewItem(fromStyle)->trigger();
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->lvPrograms->currentView()->setFocus();
    window->selectItem(0);
    // Keys go where the user's keys would: the open menu, else the focused widget.
    auto press = [](int k, Qt::KeyboardModifiers modifiers = {}) {
        QWidget* target = QApplication::activePopupWidget();
        if (!target)
            target = QApplication::focusWidget();
        QVERIFY(target);
        QTest::keyClick(target, Qt::Key(k), modifiers);
    };
    press(Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget());
    press(Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    press(Qt::Key_V, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget());
    press(key);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    // The offscreen platform deactivates the window for a popup; a desktop's window manager keeps it.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    QCOMPARE(int(window->lvPrograms->viewStyle()), toStyle);
    QTRY_COMPARE(QApplication::focusWidget(), window->lvPrograms->currentView());
    press(Qt::Key_Down);
    QVERIFY(window->selectedIndex() > 0);
}

void TestMainWindow::saysWhyTheSettingsWereNotSavedOnExit()
{
    auto window = makeWindow();
    const QByteArray user = m_prefix->read(u"user.reg"_s);
    LockHolder wine(WineServer::lockFileCandidates(m_prefix->path()).first());
    QVERIFY(wine.locked());
    window.reset();
    QCOMPARE(boxes().size(), 1);
    QCOMPARE(boxes()[0].kind, MessageBox::Kind::Critical);
    QCOMPARE(boxes()[0].text, u"The window settings could not be saved: Wine is running in the prefix %1 and would "
                              "overwrite them."_s.arg(m_prefix->path()));
    QCOMPARE(m_prefix->read(u"user.reg"_s), user);
}

void TestMainWindow::logPathHasOneSlash_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("root") << u"/"_s << u"/ULog.txt"_s;
    QTest::newRow("folder") << u"/home/user"_s << u"/home/user/ULog.txt"_s;
    QTest::newRow("folder with a slash") << u"/home/user/"_s << u"/home/user/ULog.txt"_s;
}

void TestMainWindow::logPathHasOneSlash()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(UninstallLog(folder).LogPath(), path);
}

// An entry that cannot be read used to stop the scan: later entries vanished and the count stayed empty.
void TestMainWindow::anUnreadableEntryIsLeftOutAndNamed()
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(uninstall + u"\\Twin1"_s, false));
    registry.WriteInteger(u"DisplayName"_s, 5);

    auto window = makeWindow();
    QVERIFY(boxes().isEmpty());
    QCOMPARE(window->programList().count(), 8);
    QCOMPARE(window->selectedIndex(), 0);
    QCOMPARE(window->sbarStatusPanel->text(), u"8 program(s) available for uninstall"_s);
    QVERIFY(!window->sbarSkippedNote->isHidden());
    QCOMPARE(window->sbarSkippedNote->text(),
             u"Left out HKEY_LOCAL_MACHINE\\"_s + uninstall + u"\\Twin1: Invalid data type for 'DisplayName'"_s);
    QVERIFY(QFile::exists(m_work->filePath(u"ULog.txt"_s)));

    // A refresh says it again in the note, never in a box; once mended, the note goes.
    window->actions().Refresh1->trigger();
    QVERIFY(boxes().isEmpty());
    QCOMPARE(window->sbarStatusPanel->text(), u"8 program(s) available for uninstall"_s);
    QVERIFY(!window->sbarSkippedNote->isHidden());
    registry.WriteString(u"DisplayName"_s, u"Twin App"_s);
    window->actions().Refresh1->trigger();
    QCOMPARE(window->sbarStatusPanel->text(), u"9 program(s) available for uninstall"_s);
    QVERIFY(window->sbarSkippedNote->isHidden());
}

void TestMainWindow::showsTwoColumnsOnThe9xFamily()
{
    TestDrive::setString(*m_prefix, RegistryRoot::CurrentUser, u"Software\\Wine"_s, u"Version"_s, u"win98"_s,
                         RegType::Sz);
    auto window = makeWindow();
    window->ChangeViewStyle(3);
    QTreeView* table = window->lvPrograms->detailsView();
    QCOMPARE(window->CommandColumn(), 0);
    QCOMPARE(table->header()->count(), 2);
    QCOMPARE(table->model()->headerData(1, Qt::Horizontal).toString(), u"Uninstall Command"_s);
    QCOMPARE(table->columnWidth(0), 150);
    QCOMPARE(table->columnWidth(1), 270);
}

void TestMainWindow::opensHelpAndUpdates_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("shortcut"); // latest.url; empty: no file
    QTest::addColumn<QStringList>("opened");
    QTest::newRow("help") << u"tbHelp"_s << QByteArray() << QStringList{u"kestrin.chm"_s};
    QTest::newRow("updates without latest.url") << u"buUpdates"_s << QByteArray() << QStringList();
    QTest::newRow("updates") << u"Updates1"_s
                             << QByteArray("[DEFAULT]\r\nBASEURL=http://old\r\n[InternetShortcut]\r\n"
                                           "IconIndex=0\r\nURL=https://kestrin.example.org/latest\r\n")
                             << QStringList{u"https://kestrin.example.org/latest"_s};
    QTest::newRow("URL of another section") << u"Updates1"_s << QByteArray("[Other]\nURL=http://x\n") << QStringList();
}

void TestMainWindow::opensHelpAndUpdates()
{
    QFETCH(QString, control);
    QFETCH(QByteArray, shortcut);
    QFETCH(QStringList, opened);
    if (!shortcut.isEmpty()) {
        QFile file(m_work->filePath(u"latest.url"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(shortcut);
    }
    auto window = makeWindow();
    if (auto* button = window->findChild<QToolButton*>(control))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        window->findChild<QAction*>(control)->trigger();
    if (control == u"tbHelp"_s)
        opened = {m_work->filePath(opened.first())};
    QCOMPARE(m_shell.opened, opened);
    QVERIFY(boxes().isEmpty());
}

// Wine keeps no sizes: the program's own folder is measured in the background, only once the list
// has painted, and the size fills in where the entry had none.
void TestMainWindow::measuresFolderSizesOnceTheListHasPainted()
{
    const QString folder = m_prefix->file(u"drive_c/Program Files/B\u00e4r"_s);
    QFile data(folder + u"/data.bin"_s);
    QVERIFY(data.open(QIODevice::WriteOnly));
    QVERIFY(data.write(QByteArray(3 * 1048576, 'k')) > 0);
    data.close();
    QProcess du;
    du.start(u"du"_s, {u"-sb"_s, folder});
    if (!du.waitForFinished(10000) || du.exitCode() != 0)
        QSKIP("du is not available");
    const qint64 bytes = du.readAll().split('\t').value(0).toLongLong();

    auto window = makeWindow();
    const auto rowOf = [&window](const QString& key) {
        for (int row = 0; row < window->programList().count(); ++row) {
            if (window->programList().at(row).KeyPath.endsWith(key))
                return row;
        }
        return -1;
    };
    const int row = rowOf(u"\\Baer"_s);
    QVERIFY(row >= 0);
    QTest::qWait(300);
    QCOMPARE(window->programList().at(row).Size, QString()); // nothing painted yet

    window->show();
    QTRY_COMPARE(window->programList().at(row).Size, UsageCache::FormatUsageSize(bytes));
    // The size from the shell's cache stays what it was.
    QCOMPARE(window->programList().at(rowOf(u"\\FooTool_is1"_s)).Size, u"117.74 MB"_s);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
