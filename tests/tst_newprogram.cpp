#include "TestPrefix.h"
#include "WineServerDouble.h"

#include "controls/MessageBox.h"
#include "controls/TuduButton.h"
#include "details/TfNewProgram.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/ProgramListView.h"
#include "mainwindow/TfKestrin.h"
#include "prefix/WineServer.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <sys/inotify.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString uninstallKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s;
const QString regPrefix = u"HKEY_LOCAL_MACHINE\\"_s + uninstallKey;

// What one modal new-entry window showed when it opened, and the boxes that handling it brought up.
struct Seen
{
    QString keyName;
    QStringList fields; // leReg, leName, leUninstall, leDisplayIcon
    QStringList messages;
};

} // namespace

class TestNewProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void proposedName_data();
    void proposedName();
    void okCancelAndClose_data();
    void okCancelAndClose();
    void refusedWriteLeavesTheHiveAsItWas();
    void browseFillsTheWindowsPath_data();
    void browseFillsTheWindowsPath();
    void droppedFilesOpenOneWindowPerShortcut();
    void menuCommandOpensTheWindow();

private:
    std::unique_ptr<TfKestrin> makeMain();
    void addKey(const QString& subkey);
    QMap<QString, QString> entry(const QString& subkey) const; // empty when the key does not exist
    // Runs open(); each new-entry window that opens modally meanwhile is recorded and clicked OK.
    QList<Seen> okEachWindow(const std::function<void()>& open);
    QString dropped(const QString& fixture, const QString& name) const;

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestNewProgram::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_prefix->copyFixtureHives());
    QVERIFY(QDir().mkpath(m_prefix->file(u"drive_c"_s)) && QDir().mkpath(m_prefix->file(u"dosdevices"_s)));
    QVERIFY(QFile::link(u"../drive_c"_s, m_prefix->file(u"dosdevices/c:"_s)));
    MessageBox::setTestMode(true);
}

void TestNewProgram::cleanup()
{
    MessageBox::setTestMode(false);
    TfNewProgram::setFileChooser({});
}

std::unique_ptr<TfKestrin> TestNewProgram::makeMain()
{
    auto main = std::make_unique<TfKestrin>(WinePrefix(m_prefix->path()), m_work->path());
    main->show();
    return main;
}

void TestNewProgram::addKey(const QString& subkey)
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(uninstallKey + subkey, true));
}

QMap<QString, QString> TestNewProgram::entry(const QString& subkey) const
{
    QMap<QString, QString> values;
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QStringList names;
    if (registry.OpenKeyReadOnly(uninstallKey + subkey))
        registry.GetValueNames(names);
    for (const QString& name : names)
        values.insert(name, registry.ReadString(name));
    return values;
}

QList<Seen> TestNewProgram::okEachWindow(const std::function<void()>& open)
{
    QList<Seen> seen;
    QTimer timer;
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, [&] {
        TfNewProgram* w = fNewProgram;
        if (!w || !w->isVisible())
            return;
        Seen now{
            w->KeyName, {w->leReg->text(), w->leName->text(), w->leUninstall->text(), w->leDisplayIcon->text()}, {}};
        MessageBox::clearRecorded();
        QTest::mouseClick(w->buOK, Qt::LeftButton);
        for (const MessageBox::Shown& box : MessageBox::recorded())
            now.messages << box.text;
        seen << now;
        if (w->isVisible()) // refused: the window stays; close it to go on
            w->reject();
    });
    timer.start();
    open();
    return seen;
}

QString TestNewProgram::dropped(const QString& fixture, const QString& name) const
{
    const QString path = m_work->filePath(u"drop/"_s + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return QFile::copy(QStringLiteral(KESTRIN_TEST_DATA "/") + fixture, path) ? path : QString();
}

void TestNewProgram::proposedName_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("proposed");
    QTest::newRow("none") << QStringList() << u"NewProgram1"_s;
    QTest::newRow("gap between 1 and 3") << QStringList{u"NewProgram1"_s, u"NewProgram3"_s} << u"NewProgram2"_s;
    QTest::newRow("other letter case counts") << QStringList{u"newprogram1"_s} << u"NewProgram2"_s;
    QTest::newRow("other names do not") << QStringList{u"NewProgram"_s, u"NewProgram01"_s} << u"NewProgram1"_s;
}

void TestNewProgram::proposedName()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, proposed);
    for (const QString& key : existing)
        addKey(key);
    auto main = makeMain();
    TfNewProgram window(*main);
    QCOMPARE(window.KeyName, proposed);
    QCOMPARE(window.leReg->text(), regPrefix + proposed);
}

void TestNewProgram::okCancelAndClose_data()
{
    QTest::addColumn<QString>("action"); // the button's name, "escape" or "close"
    QTest::addColumn<QString>("keyName");
    QTest::addColumn<QStringList>("fields"); // leReg, leName, leUninstall, leDisplayIcon
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("values"); // DisplayName, UninstallString, DisplayIcon; empty: nothing created

    const QString reg = regPrefix + u"NewProgram1"_s;
    const QString ok = u"buOK"_s;
    const QString key = u"NewProgram1"_s;
    QTest::newRow("empty registry name") << ok << key << QStringList{{}, u"A"_s, u"a.exe"_s, {}} << sFillAllFields
                                         << QStringList();
    QTest::newRow("empty name") << ok << key << QStringList{reg, {}, u"a.exe"_s, u"i"_s} << sFillAllFields
                                << QStringList();
    QTest::newRow("empty command") << ok << key << QStringList{reg, u"A"_s, {}, u"i"_s} << sFillAllFields
                                   << QStringList();
    QTest::newRow("existing entry, other letter case")
        << ok << u"baer"_s << QStringList{reg, u"A"_s, u"a.exe"_s, {}} << sEntryExists << QStringList();
    const QStringList typed{u" Zed \"Tool\" "_s, u"\"C:\\Program Files\\Zed\\un.exe\" /x %TEMP%"_s,
                            u"%SystemRoot%\\z.ico,2"_s};
    QTest::newRow("values exactly as typed")
        << ok << key << QStringList{reg, typed[0], typed[1], typed[2]} << QString() << typed;
    QTest::newRow("empty icon writes no DisplayIcon, a changed registry name still creates KeyName")
        << ok << key << QStringList{u"HKEY_CURRENT_USER\\Elsewhere"_s, u"Zed"_s, u"un.exe"_s, {}} << QString()
        << QStringList{u"Zed"_s, u"un.exe"_s, {}};
    for (const QString& way : {u"buCancel"_s, u"escape"_s, u"close"_s})
        QTest::newRow(qPrintable(way)) << way << key << QStringList{reg, u"Zed"_s, u"un.exe"_s, {}} << QString()
                                       << QStringList();
}

void TestNewProgram::okCancelAndClose()
{
    QFETCH(QString, action);
    QFETCH(QString, keyName);
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    QFETCH(QStringList, values);

    auto main = makeMain();
    const int countBefore = main->programList().count();
    const QByteArray hiveBefore = m_prefix->read(u"system.reg"_s);
    TfNewProgram window(*main);
    window.show();
    window.KeyName = keyName;
    const QList<QLineEdit*> edits{window.leReg, window.leName, window.leUninstall, window.leDisplayIcon};
    for (int i = 0; i < edits.size(); ++i)
        edits[i]->setText(fields[i]);
    if (action == u"escape")
        QTest::keyClick(window.leName, Qt::Key_Escape);
    else if (action == u"close")
        window.close();
    else
        QTest::mouseClick(window.findChild<TuduButton*>(action), Qt::LeftButton);

    QCOMPARE(MessageBox::recorded().size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Plain);
        QCOMPARE(MessageBox::recorded().first().text, message);
    }
    // A refused OK keeps the window with the texts as they were.
    QCOMPARE(window.isVisible(), !message.isEmpty());
    QCOMPARE(window.leName->text(), fields[1]);
    if (values.isEmpty()) {
        QCOMPARE(m_prefix->read(u"system.reg"_s), hiveBefore);
        return;
    }
    QMap<QString, QString> expected{{u"DisplayName"_s, values[0]}, {u"UninstallString"_s, values[1]}};
    if (!values[2].isEmpty())
        expected.insert(u"DisplayIcon"_s, values[2]);
    QCOMPARE(entry(keyName), expected);
    // Listed, counted and selected.
    QCOMPARE(main->programList().count(), countBefore + 1);
    QVERIFY(main->sbarStatusPanel->text().startsWith(QString::number(countBefore + 1)));
    QVERIFY(main->selectedIndex() >= 0);
    QCOMPARE(main->programList().at(main->selectedIndex()).KeyPath, uninstallKey + keyName);
}

void TestNewProgram::refusedWriteLeavesTheHiveAsItWas()
{
    auto main = makeMain();
    TfNewProgram window(*main);
    window.show();
    window.leName->setText(u"Zed"_s);
    window.leUninstall->setText(u"un.exe"_s);
    window.leDisplayIcon->setText(u"un.ico"_s);
    const QByteArray hiveBefore = m_prefix->read(u"system.reg"_s);
    {
        LockHolder server(WineServer::lockFileCandidates(m_prefix->path()).first());
        QVERIFY(server.locked());
        QTest::mouseClick(window.buOK, Qt::LeftButton);
    }
    QCOMPARE(m_prefix->read(u"system.reg"_s), hiveBefore);
    QVERIFY(window.isVisible());
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);

    // With Wine gone, the same OK writes the key with its values in one save: one temporary file
    // renamed over the hive, so no reader ever sees a key without its values.
    MessageBox::clearRecorded();
    const int watch = inotify_init1(IN_NONBLOCK);
    QVERIFY(watch >= 0);
    auto closeWatch = qScopeGuard([watch] { ::close(watch); });
    QVERIFY(inotify_add_watch(watch, QFile::encodeName(m_prefix->path()).constData(), IN_MOVED_FROM) >= 0);
    QTest::mouseClick(window.buOK, Qt::LeftButton);
    int saves = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            // Identical events would be merged; each save's temporary file has its own name.
            saves += event->len > 0 && QByteArray(event->name).startsWith(".system.reg.");
            at += sizeof(inotify_event) + event->len;
        }
    }
    QCOMPARE(saves, 1);
    QVERIFY(MessageBox::recorded().isEmpty());
    QCOMPARE(entry(u"NewProgram1"_s).size(), 3);
}

void TestNewProgram::browseFillsTheWindowsPath_data()
{
    QTest::addColumn<bool>("iconButton");
    QTest::addColumn<QString>("chosen"); // relative to the prefix; empty: cancelled
    QTest::addColumn<QString>("expected");
    const QString file = u"drive_c/Program Files/Zed App/Un Install.exe"_s;
    QTest::newRow("command") << false << file << u"C:\\Program Files\\Zed App\\Un Install.exe"_s;
    QTest::newRow("icon") << true << file << u"C:\\Program Files\\Zed App\\Un Install.exe"_s;
    QTest::newRow("cancelled") << true << QString() << u"kept"_s;
    QTest::newRow("on no drive: refused") << false << u"system.reg"_s << u"kept"_s;
}

void TestNewProgram::browseFillsTheWindowsPath()
{
    QFETCH(bool, iconButton);
    QFETCH(QString, chosen);
    QFETCH(QString, expected);

    const QString file = m_prefix->file(u"drive_c/Program Files/Zed App/Un Install.exe"_s);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    QString startFolder;
    TfNewProgram::setFileChooser([&](QWidget*, const QString& start) {
        startFolder = start;
        return chosen.isEmpty() ? QString() : m_prefix->file(chosen);
    });
    auto main = makeMain();
    TfNewProgram window(*main);
    window.leUninstall->setText(u"kept"_s);
    window.leDisplayIcon->setText(u"kept"_s);
    QTest::mouseClick(iconButton ? window.buIco : window.buCmd, Qt::LeftButton);

    QCOMPARE(startFolder, m_prefix->file(u"drive_c"_s));
    QCOMPARE((iconButton ? window.leDisplayIcon : window.leUninstall)->text(), expected);
    QCOMPARE((iconButton ? window.leUninstall : window.leDisplayIcon)->text(), u"kept"_s);
    const bool refused = QByteArray(QTest::currentDataTag()).contains("refused");
    QCOMPARE(MessageBox::recorded().size(), refused ? 1 : 0);
    if (refused)
        QVERIFY(MessageBox::recorded().first().text.contains(m_prefix->file(chosen)));
}

void TestNewProgram::droppedFilesOpenOneWindowPerShortcut()
{
    auto main = makeMain();
    const QString foo = u"lnk/Foo Tool.lnk"_s;
    const QString notepad = u"lnk/Notepad.lnk"_s;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dropped(foo, u"Tool.lnk"_s)), QUrl::fromLocalFile(dropped(foo, u"Other.LNK"_s)),
                  QUrl::fromLocalFile(dropped(foo, u"readme.txt"_s)), QUrl::fromLocalFile(dropped(foo, u"Twin.lnk"_s)),
                  QUrl::fromLocalFile(dropped(notepad, u"more/Twin.lnk"_s)),
                  QUrl::fromLocalFile(dropped(notepad, u"Baer.lnk"_s))});

    // Dropped as a file manager drops them; the windows open once the drop has been answered.
    const QPoint at = main->lvPrograms->geometry().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY(!fNewProgram);
    const QList<Seen> seen = okEachWindow([] { QTest::qWait(200); });

    QCOMPARE(seen.size(), 4);
    QCOMPARE(seen[0].keyName, u"Tool"_s);
    QCOMPARE(seen[0].fields, (QStringList{regPrefix + u"Tool"_s, u"Tool"_s, u"C:\\Program Files\\Foo Tool\\foo.exe"_s,
                                          u"C:\\Program Files\\Foo Tool\\foo.ico"_s}));
    QCOMPARE(seen[1].messages, QStringList());
    // The second of two shortcuts of the same name, and one named like an existing entry.
    QCOMPARE(seen[2].fields[2], u"C:\\windows\\notepad.exe"_s);
    QCOMPARE(seen[2].messages, QStringList{sEntryExists});
    QCOMPARE(seen[3].keyName, u"Baer"_s);
    QCOMPARE(seen[3].messages, QStringList{sEntryExists});
    QCOMPARE(entry(u"Tool"_s).value(u"DisplayIcon"_s), u"C:\\Program Files\\Foo Tool\\foo.ico"_s);
    QCOMPARE(entry(u"Twin"_s).value(u"UninstallString"_s), u"C:\\Program Files\\Foo Tool\\foo.exe"_s);
    QVERIFY(entry(u"Other"_s).isEmpty());
}

void TestNewProgram::menuCommandOpensTheWindow()
{
    auto main = makeMain();
    const QList<Seen> seen = okEachWindow([&] { main->actions().newPrograms1->trigger(); });
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].keyName, u"NewProgram1"_s);
    QCOMPARE(seen[0].messages, QStringList{sFillAllFields});
    QVERIFY(!fNewProgram);
}

QTEST_MAIN(TestNewProgram)
#include "tst_newprogram.moc"
