#include "SmallPrefix.h"

#include "controls/MessageBox.h"
#include "controls/TuduButton.h"
#include "inventory/ProgramListModel.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/ProgramListView.h"
#include "mainwindow/TfKestrin.h"
#include "mainwindow/TfOpenPrefix.h"
#include "prefix/PrefixChoice.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace SmallPrefix;

// The main window's prefix: its name in the title and the status bar, the sentence that stands in for
// the list when it is no prefix, and the Open Prefix window.
class TestOpenPrefix : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void namesThePrefix();
    void saysWhyTheListIsEmpty_data();
    void saysWhyTheListIsEmpty();
    void opensAFoundPrefix();
    void browsesToAnyFolder();

private:
    QString home(const QString& relative) const { return m_home->path() + u'/' + relative; }
    std::unique_ptr<TfKestrin> makeWindow(const QString& prefix)
    {
        return std::make_unique<TfKestrin>(WinePrefix(prefix), m_work.path());
    }

    std::unique_ptr<QTemporaryDir> m_home;
    QTemporaryDir m_work;
    QByteArray m_savedHome;
};

void TestOpenPrefix::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    m_savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home(u"config"_s)));
    MessageBox::setTestMode(true);
}

void TestOpenPrefix::cleanup()
{
    TfOpenPrefix::setFolderChooser({});
    MessageBox::setTestMode(false);
    qputenv("HOME", m_savedHome);
}

void TestOpenPrefix::namesThePrefix()
{
    QVERIFY(makePrefix(home(u".wine"_s), 2));
    auto window = makeWindow(home(u".wine"_s));
    QCOMPARE(window->windowTitle(), u"Kestrin - ~/.wine"_s);
    QCOMPARE(window->sbarPrefixPanel->text(), u"Microsoft Windows 7 (win64)"_s);
    QCOMPARE(window->sbarStatusPanel->text(), u"2 program(s) available for uninstall"_s);
    QVERIFY(window->prefixProblem().isEmpty());
    QVERIFY(!window->lPrefixProblem->isVisibleTo(window.get()));
    QVERIFY(window->lvPrograms->isVisibleTo(window.get()));
    QCOMPARE(window->actions().OpenPrefix1->shortcut(), QKeySequence(u"Ctrl+O"_s));
}

void TestOpenPrefix::saysWhyTheListIsEmpty_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("sentenceStart");
    QTest::newRow("no folder") << u"none"_s << u"No Wine prefix at ~/p \u2014 choose one with File > Open Prefix"_s;
    QTest::newRow("no system.reg") << u"empty"_s << u"~/p is not a Wine prefix: it has no system.reg"_s;
    QTest::newRow("unreadable system.reg") << u"fifo"_s << u"The registry of the Wine prefix at ~/p cannot be read"_s;
    QTest::newRow("not a registry file") << u"header"_s << u"The system.reg of ~/p is not a Wine registry file"_s;
}

void TestOpenPrefix::saysWhyTheListIsEmpty()
{
    QFETCH(QString, layout);
    QFETCH(QString, sentenceStart);
    const QString folder = home(u"p"_s);
    if (layout != u"none")
        QVERIFY(QDir().mkpath(folder));
    if (layout == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(folder + u"/system.reg"_s).constData(), 0644), 0);
    if (layout == u"header")
        QVERIFY(writeFile(folder + u"/system.reg"_s, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n"));

    auto window = makeWindow(folder);
    QVERIFY2(window->prefixProblem().startsWith(sentenceStart), qPrintable(window->prefixProblem()));
    QVERIFY(window->lPrefixProblem->isVisibleTo(window.get()));
    QVERIFY(!window->lvPrograms->isVisibleTo(window.get()));
    QCOMPARE(window->sbarStatusPanel->text(), u"0 program(s) available for uninstall"_s);
    QCOMPARE(window->windowTitle(), u"Kestrin - ~/p"_s);
    // File > Exit: no error box, and no settings written into a folder that is no prefix.
    window->actions().Exit1->trigger();
    window.reset();
    QCOMPARE(MessageBox::recorded().size(), 0);
    QVERIFY(!QFileInfo::exists(folder + u"/user.reg"_s));
    QCOMPARE(QFileInfo::exists(folder), layout != u"none");
}

void TestOpenPrefix::opensAFoundPrefix()
{
    QVERIFY(makePrefix(home(u".wine"_s), 1));
    QVERIFY(makePrefix(home(u".local/share/bottles/bottles/Gaming"_s), 2));
    QVERIFY(makePrefix(home(u".local/share/Steam/steamapps/compatdata/220/pfx"_s), 3, "winxp"));
    QVERIFY(writeFile(home(u".local/share/Steam/steamapps/appmanifest_220.acf"_s),
                      "\"AppState\" { \"appid\" \"220\" \"name\" \"Half-Life 2\" }"));
    auto window = makeWindow(home(u".wine"_s));
    window->ChangeViewStyle(3); // remembered in ~/.wine when the window moves on

    TfOpenPrefix choice(*window);
    QCOMPARE(choice.lvPrefixes->topLevelItemCount(), 3);
    const QList<QStringList> rows{
        {u".wine"_s, u"Wine"_s, u"~/.wine"_s, u"Microsoft Windows 7"_s, u"win64"_s, u"1"_s},
        {u"Gaming"_s, u"Bottles"_s, u"~/.local/share/bottles/bottles/Gaming"_s, u"Microsoft Windows 7"_s, u"win64"_s,
         u"2"_s},
        {u"Half-Life 2"_s, u"Steam"_s, u"~/.local/share/Steam/steamapps/compatdata/220/pfx"_s, u"Windows XP"_s,
         u"win64"_s, u"3"_s},
    };
    for (int row = 0; row < rows.size(); ++row) {
        QStringList shown;
        for (int column = 0; column < 6; ++column)
            shown << choice.lvPrefixes->topLevelItem(row)->text(column);
        QCOMPARE(shown, rows[row]);
    }
    QCOMPARE(choice.lvPrefixes->currentItem(), choice.lvPrefixes->topLevelItem(0)); // the prefix open now

    for (int row : {2, 1}) {
        choice.lvPrefixes->setCurrentItem(choice.lvPrefixes->topLevelItem(row));
        QTest::mouseClick(choice.buOpen, Qt::LeftButton);
        QCOMPARE(choice.result(), int(QDialog::Accepted));
        QCOMPARE(window->prefix().path(), choice.found()[row].prefix.path());
        QCOMPARE(window->programList().count(), row + 1);
        QCOMPARE(window->selectedIndex(), 0);
        QCOMPARE(window->sbarStatusPanel->text(), u"%1 program(s) available for uninstall"_s.arg(row + 1));
        QCOMPARE(window->windowTitle(), u"Kestrin - "_s + choice.found()[row].prefix.displayPath());
        QCOMPARE(PrefixChoice::lastOpened(), choice.found()[row].prefix.path());
    }
    QCOMPARE(window->sbarPrefixPanel->text(), u"Microsoft Windows 7 (win64)"_s);
    QVERIFY(readAll(home(u".wine/user.reg"_s)).contains("\"MainViewStyle\"=\"3\""));
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestOpenPrefix::browsesToAnyFolder()
{
    QVERIFY(makePrefix(home(u".wine"_s), 1));
    QVERIFY(makePrefix(home(u"elsewhere/games"_s), 2));
    QVERIFY(QDir().mkpath(home(u"not-a-prefix"_s)));
    auto window = makeWindow(home(u".wine"_s));
    for (const QString& folder : {u"elsewhere/games"_s, u"not-a-prefix"_s}) {
        TfOpenPrefix::setFolderChooser(
            [&](QWidget*, const QString& start) { return start == m_home->path() ? home(folder) : QString(); });
        TfOpenPrefix choice(*window);
        QTest::mouseClick(choice.buBrowse, Qt::LeftButton);
        QCOMPARE(window->prefix().path(), home(folder));
    }
    // The folder that is no prefix is shown with its sentence, but not opened again at the next start.
    QVERIFY(window->prefixProblem().startsWith(u"~/not-a-prefix is not a Wine prefix"_s));
    QCOMPARE(window->programList().count(), 0);
    QCOMPARE(PrefixChoice::lastOpened(), home(u"elsewhere/games"_s));
}

QTEST_MAIN(TestOpenPrefix)
#include "tst_openprefix.moc"
