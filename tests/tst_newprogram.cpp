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
#include "platform/WineServer.h"

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

// What one new-entry window showed when it opened, and the boxes its handling brought up.
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
    void okChecksAndWrites_data();
    void okChecksAndWrites();
    void cancelEscapeAndCloseCreateNothing();
    void refusedWriteLeavesTheHiveAsItWas();
    void browseFillsTheWindowsPath_data();
    void browseFillsTheWindowsPath();
    void droppedFilesOpenOneWindowPerShortcut();
    void sameNameDroppedTwice();
    void menuCommandAndLabelsReachTheFields();

private:
    std::unique_ptr<TfKestrin> makeMain();
    void addKey(const QString& subkey);
    // The values of the entry's key; empty when it does not exist.
    QMap<QString, QString> entry(const QString& subkey) const;
    // Handles, in order, each new-entry window that opens modally: `act` runs on it and must close it.
    QList<Seen> handleWindows(const std::function<void()>& open, QList<std::function<void(TfNewProgram&)>> acts);
    QString dropped(const QString& fixture, const QString& name) const;

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestNewProgram::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_prefix->copyFixtureHives());
    QDir().mkpath(m_prefix->file(u"drive_c"_s));
    QDir().mkpath(m_prefix->file(u"dosdevices"_s));
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
    if (!registry.OpenKeyReadOnly(uninstallKey + subkey))
        return values;
    QStringList names;
    registry.GetValueNames(names);
    for (const QString& name : names)
        values.insert(name, registry.ReadString(name));
    return values;
}

QList<Seen> TestNewProgram::handleWindows(const std::function<void()>& open,
                                          QList<std::function<void(TfNewProgram&)>> acts)
{
    QList<Seen> seen;
    QTimer timer;
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, [&] {
        TfNewProgram* window = fNewProgram;
        if (!window || !window->isVisible())
            return;
        Seen now{
            window->KeyName,
            {window->leReg->text(), window->leName->text(), window->leUninstall->text(), window->leDisplayIcon->text()},
            {}};
        MessageBox::clearRecorded();
        if (!acts.isEmpty())
            acts.takeFirst()(*window);
        for (const MessageBox::Shown& box : MessageBox::recorded())
            now.messages << box.text;
        seen << now;
        if (window->isVisible()) // an act that left it open: the test goes on without hanging
            window->reject();
    });
    timer.start();
    open();
    return seen;
}

QString TestNewProgram::dropped(const QString& fixture, const QString& name) const
{
    const QString path = m_work->filePath(u"drop/"_s + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
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
    QCOMPARE(window.leReg->text(), u"HKEY_LOCAL_MACHINE\\"_s + uninstallKey + proposed);
    QVERIFY(window.leName->text().isEmpty() && window.leUninstall->text().isEmpty() &&
            window.leDisplayIcon->text().isEmpty());
}

void TestNewProgram::okChecksAndWrites_data()
{
    QTest::addColumn<QString>("keyName");
    QTest::addColumn<QStringList>("fields"); // leReg, leName, leUninstall, leDisplayIcon
    QTest::addColumn<QString>("message");    // empty: created
    QTest::addColumn<QStringList>("values"); // DisplayName, UninstallString, DisplayIcon ("-": none)

    const QString reg = u"HKEY_LOCAL_MACHINE\\"_s + uninstallKey + u"NewProgram1"_s;
    QTest::newRow("empty registry name") << u"NewProgram1"_s << QStringList{{}, u"A"_s, u"a.exe"_s, {}}
                                         << sFillAllFields << QStringList();
    QTest::newRow("empty name") << u"NewProgram1"_s << QStringList{reg, {}, u"a.exe"_s, u"a.ico"_s} << sFillAllFields
                                << QStringList();
    QTest::newRow("empty command") << u"NewProgram1"_s << QStringList{reg, u"A"_s, {}, u"a.ico"_s} << sFillAllFields
                                   << QStringList();
    QTest::newRow("existing entry, other letter case")
        << u"baer"_s << QStringList{reg, u"A"_s, u"a.exe"_s, {}} << sEntryExists << QStringList();
    QTest::newRow("values exactly as typed")
        << u"NewProgram1"_s
        << QStringList{reg, u" Zed \"Tool\" "_s, u"\"C:\\Program Files\\Zed\\un.exe\" /x %TEMP%"_s,
                       u"%SystemRoot%\\z.ico,2"_s}
        << QString()
        << QStringList{u" Zed \"Tool\" "_s, u"\"C:\\Program Files\\Zed\\un.exe\" /x %TEMP%"_s,
                       u"%SystemRoot%\\z.ico,2"_s};
    QTest::newRow("empty icon writes no DisplayIcon") << u"NewProgram1"_s << QStringList{reg, u"Zed"_s, u"un.exe"_s, {}}
                                                      << QString() << QStringList{u"Zed"_s, u"un.exe"_s, u"-"_s};
    QTest::newRow("changed registry name still creates KeyName")
        << u"NewProgram1"_s << QStringList{u"HKEY_CURRENT_USER\\Elsewhere"_s, u"Zed"_s, u"un.exe"_s, {}} << QString()
        << QStringList{u"Zed"_s, u"un.exe"_s, u"-"_s};
}

void TestNewProgram::okChecksAndWrites()
{
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
    window.leReg->setText(fields[0]);
    window.leName->setText(fields[1]);
    window.leUninstall->setText(fields[2]);
    window.leDisplayIcon->setText(fields[3]);
    QTest::mouseClick(window.buOK, Qt::LeftButton);

    if (!message.isEmpty()) {
        QCOMPARE(MessageBox::recorded().size(), 1);
        QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Plain);
        QCOMPARE(MessageBox::recorded().first().text, message);
        QVERIFY(window.isVisible());
        QCOMPARE(window.leName->text(), fields[1]);
        QCOMPARE(m_prefix->read(u"system.reg"_s), hiveBefore);
        return;
    }
    QVERIFY(MessageBox::recorded().isEmpty());
    QVERIFY(!window.isVisible());
    QMap<QString, QString> expected{{u"DisplayName"_s, values[0]}, {u"UninstallString"_s, values[1]}};
    if (values[2] != u"-")
        expected.insert(u"DisplayIcon"_s, values[2]);
    QCOMPARE(entry(keyName), expected);
    // Listed, counted and selected.
    QCOMPARE(main->programList().count(), countBefore + 1);
    QVERIFY(main->sbarStatusPanel->text().contains(QString::number(countBefore + 1)));
    const int row = main->selectedIndex();
    QVERIFY(row >= 0);
    QCOMPARE(main->programList().at(row).KeyPath, uninstallKey + keyName);
    QCOMPARE(main->programList().at(row).Name, values[0]);
}

void TestNewProgram::cancelEscapeAndCloseCreateNothing()
{
    auto main = makeMain();
    const QByteArray hiveBefore = m_prefix->read(u"system.reg"_s);
    const QList<std::function<void(TfNewProgram&)>> ways{
        [](TfNewProgram& w) { QTest::mouseClick(w.buCancel, Qt::LeftButton); },
        [](TfNewProgram& w) { QTest::keyClick(w.leName, Qt::Key_Escape); },
        [](TfNewProgram& w) { w.close(); },
    };
    for (const auto& way : ways) {
        TfNewProgram window(*main);
        window.show();
        window.leName->setText(u"Zed"_s);
        window.leUninstall->setText(u"un.exe"_s);
        way(window);
        QVERIFY(!window.isVisible());
        QCOMPARE(window.result(), int(QDialog::Rejected));
    }
    QCOMPARE(m_prefix->read(u"system.reg"_s), hiveBefore);
    QVERIFY(MessageBox::recorded().isEmpty());
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
    // Not the key without its values, nor some of them: nothing.
    QCOMPARE(m_prefix->read(u"system.reg"_s), hiveBefore);
    QVERIFY(window.isVisible());
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QVERIFY(MessageBox::recorded().first().text.contains(u"Windows programs"_s));

    // With Wine gone, the same OK creates the whole entry in one save: one new file renamed over
    // the hive, never a key without its values in between.
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
            // Each save renames its own temporary file; the kernel would merge identical events.
            saves += event->len > 0 && QByteArray(event->name).startsWith(".system.reg.");
            at += sizeof(inotify_event) + event->len;
        }
    }
    QCOMPARE(saves, 1);
    QVERIFY(MessageBox::recorded().isEmpty());
    QCOMPARE(entry(u"NewProgram1"_s).size(), 3);
    const QByteArray after = m_prefix->read(u"system.reg"_s);
    const qsizetype key =
        after.indexOf("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\NewProgram1]");
    QVERIFY(key > 0);
    QVERIFY(after.indexOf("\"DisplayName\"=\"Zed\"", key) > key);
    QVERIFY(after.indexOf("\"UninstallString\"=\"un.exe\"", key) > key);
}

void TestNewProgram::browseFillsTheWindowsPath_data()
{
    QTest::addColumn<bool>("iconButton");
    QTest::addColumn<QString>("chosen"); // relative to the prefix; "/..." absolute; empty: cancelled
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("refused");
    QTest::newRow("command") << false << u"drive_c/Program Files/Zed App/Un Install.exe"_s
                             << u"C:\\Program Files\\Zed App\\Un Install.exe"_s << false;
    QTest::newRow("icon") << true << u"drive_c/Program Files/Zed App/Un Install.exe"_s
                          << u"C:\\Program Files\\Zed App\\Un Install.exe"_s << false;
    QTest::newRow("cancelled") << false << QString() << u"kept"_s << false;
    QTest::newRow("on no drive") << true << u"system.reg"_s << u"kept"_s << true;
}

void TestNewProgram::browseFillsTheWindowsPath()
{
    QFETCH(bool, iconButton);
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    QFETCH(bool, refused);

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
    QCOMPARE(window.BrowseTarget, iconButton ? 2 : 1);
    QCOMPARE((iconButton ? window.leDisplayIcon : window.leUninstall)->text(), expected);
    QCOMPARE((iconButton ? window.leUninstall : window.leDisplayIcon)->text(), u"kept"_s);
    QCOMPARE(MessageBox::recorded().size(), refused ? 1 : 0);
    if (refused)
        QVERIFY(MessageBox::recorded().first().text.contains(m_prefix->file(chosen)));
}

void TestNewProgram::droppedFilesOpenOneWindowPerShortcut()
{
    auto main = makeMain();
    const QStringList files{
        dropped(u"lnk/Foo Tool.lnk"_s, u"Tool.lnk"_s), dropped(u"lnk/Foo Tool.lnk"_s, u"Other.LNK"_s),
        dropped(u"lnk/Foo Tool.lnk"_s, u"readme.txt"_s), dropped(u"lnk/Notepad.lnk"_s, u"Baer.lnk"_s)};
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);

    // A drop as a file manager sends it; the windows open after the drop has been answered.
    const QPoint at = main->lvPrograms->geometry().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main.get(), &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY(!fNewProgram);

    const QList<Seen> seen =
        handleWindows([] { QTest::qWait(300); }, {[](TfNewProgram& w) { QTest::mouseClick(w.buOK, Qt::LeftButton); },
                                                  [](TfNewProgram& w) {
                                                      QTest::mouseClick(w.buOK, Qt::LeftButton);
                                                  }});
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].keyName, u"Tool"_s);
    QCOMPARE(seen[0].fields,
             (QStringList{u"HKEY_LOCAL_MACHINE\\"_s + uninstallKey + u"Tool"_s, u"Tool"_s,
                          u"C:\\Program Files\\Foo Tool\\foo.exe"_s, u"C:\\Program Files\\Foo Tool\\foo.ico"_s}));
    QVERIFY(seen[0].messages.isEmpty());
    QCOMPARE(entry(u"Tool"_s).value(u"UninstallString"_s), u"C:\\Program Files\\Foo Tool\\foo.exe"_s);
    // A shortcut named like an existing entry.
    QCOMPARE(seen[1].keyName, u"Baer"_s);
    QCOMPARE(seen[1].fields[3], u"C:\\windows\\notepad.exe"_s);
    QCOMPARE(seen[1].messages, QStringList{sEntryExists});
    QVERIFY(entry(u"Other"_s).isEmpty());
}

void TestNewProgram::sameNameDroppedTwice()
{
    auto main = makeMain();
    const QString first = dropped(u"lnk/Foo Tool.lnk"_s, u"Twin Tool.lnk"_s);
    const QString second = dropped(u"lnk/Notepad.lnk"_s, u"other/Twin Tool.lnk"_s);
    const auto ok = [](TfNewProgram& w) {
        QTest::mouseClick(w.buOK, Qt::LeftButton);
    };
    const QList<Seen> seen = handleWindows([&] { main->AddDroppedShortcuts({first, second}); }, {ok, ok});
    QCOMPARE(seen.size(), 2);
    QVERIFY(seen[0].messages.isEmpty());
    QCOMPARE(seen[1].messages, QStringList{sEntryExists});
    QCOMPARE(entry(u"Twin Tool"_s).value(u"UninstallString"_s), u"C:\\Program Files\\Foo Tool\\foo.exe"_s);
}

void TestNewProgram::menuCommandAndLabelsReachTheFields()
{
    auto main = makeMain();
    QStringList missed;
    const QList<Seen> seen =
        handleWindows([&] { main->actions().newPrograms1->trigger(); }, {[&](TfNewProgram& w) {
                          // Each label's accelerator moves the focus to its field.
                          const QList<std::pair<char, QLineEdit*>> keys{
                              {'N', w.leName}, {'C', w.leUninstall}, {'I', w.leDisplayIcon}, {'R', w.leReg}};
                          for (const auto& [key, field] : keys) {
                              QTest::keyClick(&w, Qt::Key(key), Qt::AltModifier);
                              if (QApplication::focusWidget() != field)
                                  missed << QString(QLatin1Char(key));
                          }
                          QTest::keyClick(&w, Qt::Key_Escape);
                      }});
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].keyName, u"NewProgram1"_s);
    QCOMPARE(missed, QStringList());
    QVERIFY(!fNewProgram);
}

QTEST_MAIN(TestNewProgram)
#include "tst_newprogram.moc"
