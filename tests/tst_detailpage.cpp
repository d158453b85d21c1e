#include "TestPrefix.h"

#include "ShellDoubles.h"
#include "WineServerDouble.h"
#include "details/DetailPage.h"
#include "details/EntryEditor.h"
#include "details/LinkOpen.h"
#include "inventory/RegistryAccess.h"
#include "prefix/WineServer.h"

#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using Click = DetailRow::Click;

namespace {

const QString entryKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample"_s;

struct Value
{
    QString name;
    RegistryValue value;
};
using Values = QList<Value>;

RegistryValue sz(const QString& text, quint32 type = RegType::Sz)
{
    return RegistryValue::fromString(text, type);
}
RegistryValue expandSz(const QString& text)
{
    return sz(text, RegType::ExpandSz);
}
const auto dword = RegistryValue::fromDword;
const RegistryValue binary = RegistryValue::fromBinary("\x01\x02");

} // namespace

class TestDetailPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fullEntryShowsEveryRowInOrderNtAnd9x();
    void valueRule_data();
    void valueRule();
    void installDate_data();
    void installDate();
    void windowsInstaller_data();
    void windowsInstaller();
    void vanishedKeyAndNonTextName();
    void openInPrefix_data();
    void openInPrefix();
    void editorRows();
    void editorWriteBack_data();
    void editorWriteBack();
    void editorRefusedWhileWineRunsSavesNothing();
    void perUserEntryStaysInItsOwnHive();

private:
    void writeEntry(const Values& values, const QString& key = entryKey);
    InstalledProgram program() const;
    QList<DetailRow> page(bool nt = true) const;
    QByteArray hive() const { return m_prefix->read(u"system.reg"_s); }
    std::optional<RegistryValue> stored(const QString& name) const;

    std::unique_ptr<TestPrefix> m_prefix;
};

void TestDetailPage::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(m_prefix->copyFixtureHives());
}

void TestDetailPage::writeEntry(const Values& values, const QString& key)
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.OpenKey(key, true));
    for (const Value& v : values)
        registry.writeValue(v.name, v.value);
}

InstalledProgram TestDetailPage::program() const
{
    InstalledProgram item;
    item.Name = u"Sample"_s;
    item.KeyPath = entryKey;
    item.Size = u"1.50 MB"_s;
    item.Frequency = u"Rarely"_s;
    item.LastUsed = u"2003-06-15"_s;
    return item;
}

QList<DetailRow> TestDetailPage::page(bool nt) const
{
    const DetailPage built = buildDetailPage(WinePrefix(m_prefix->path()), program(), nt, QLocale(u"en_US"_s));
    if (!built.error.isEmpty())
        qWarning() << built.error;
    return built.rows;
}

std::optional<RegistryValue> TestDetailPage::stored(const QString& name) const
{
    RegistryAccess registry{WinePrefix(m_prefix->path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    if (!registry.OpenKeyReadOnly(entryKey))
        return std::nullopt;
    return registry.readValue(name);
}

void TestDetailPage::fullEntryShowsEveryRowInOrderNtAnd9x()
{
    // Stored in another order than shown: the page follows its own order.
    writeEntry({{u"WindowsInstaller"_s, dword(1)},
                {u"InstallLocation"_s, sz(u"C:\\Program Files\\Sample"_s)},
                {u"InstallSource"_s, sz(u"D:\\"_s)},
                {u"Language"_s, dword(1033)},
                {u"DisplayIcon"_s, sz(u"C:\\Program Files\\Sample\\s.exe,0"_s)},
                {u"ModifyPath"_s, expandSz(u"%ProgramFiles%\\Sample\\setup.exe /modify"_s)},
                {u"UninstallString"_s, sz(u"\"C:\\Program Files\\Sample\\unins000.exe\" /SILENT"_s)},
                {u"Comments"_s, sz(u"A comment"_s)},
                {u"URLUpdateInfo"_s, sz(u"https://example.org/updates"_s)},
                {u"Readme"_s, sz(u"C:\\Program Files\\Sample\\readme.txt"_s)},
                {u"HelpLink"_s, sz(u"https://example.org/help"_s)},
                {u"URLInfoAbout"_s, sz(u"https://example.org/"_s)},
                {u"HelpTelephone"_s, sz(u"555-0100"_s)},
                {u"Contact"_s, sz(u"Support"_s)},
                {u"DisplayVersion"_s, sz(u"1.2.3"_s)},
                {u"Publisher"_s, sz(u"Sample Soft"_s)},
                {u"InstallDate"_s, sz(u"20030615"_s)},
                {u"DisplayName"_s, sz(u"Sample 1.2"_s)}});
    const QList<DetailRow> expected{
        {u"Program Name:"_s, u"Sample 1.2"_s, Click::None, 20},
        {u"Size:"_s, u"1.50 MB"_s, Click::None, 40},
        {u"Used:"_s, u"Rarely"_s, Click::None, 60},
        {u"Last Used:"_s, u"2003-06-15"_s, Click::None, 80},
        {u"Install Date:"_s, u"06/15/2003"_s, Click::None, 100},
        {u"Publisher:"_s, u"Sample Soft"_s, Click::None, 140},
        {u"Version:"_s, u"1.2.3"_s, Click::None, 160},
        {u"Contact:"_s, u"Support"_s, Click::None, 180},
        {u"Contact Phone:"_s, u"555-0100"_s, Click::None, 200},
        {u"About:"_s, u"https://example.org/"_s, Click::Open, 220},
        {u"Support Information:"_s, u"https://example.org/help"_s, Click::Open, 240},
        {u"Readme:"_s, u"C:\\Program Files\\Sample\\readme.txt"_s, Click::Open, 260},
        {u"Product Updates:"_s, u"https://example.org/updates"_s, Click::Open, 280},
        {u"Comments:"_s, u"A comment"_s, Click::None, 300},
        {u"Uninstall Command:"_s, u"\"C:\\Program Files\\Sample\\unins000.exe\" /SILENT"_s, Click::Run, 340},
        {u"Modify Command:"_s, u"%ProgramFiles%\\Sample\\setup.exe /modify"_s, Click::Run, 360},
        {u"Display Icon:"_s, u"C:\\Program Files\\Sample\\s.exe,0"_s, Click::None, 380},
        {u"Language:"_s, u"1033"_s, Click::None, 400},
        {u"Source:"_s, u"D:\\"_s, Click::Open, 420},
        {u"Location:"_s, u"C:\\Program Files\\Sample"_s, Click::Open, 440},
        {u"Install Program:"_s, u"Windows Installer"_s, Click::None, 460},
    };
    QCOMPARE(page(), expected);
    // The 9x family has no usage rows: everything below moves up by three rows.
    const QList<DetailRow> nine = page(false);
    QCOMPARE(nine.size(), expected.size() - 3);
    QCOMPARE(nine[1].caption, u"Install Date:"_s);
    QCOMPARE(nine.last().top, expected.last().top - 60);
}

void TestDetailPage::valueRule_data()
{
    QTest::addColumn<RegistryValue>("value");
    QTest::addColumn<QString>("shown"); // empty: no row
    QTest::addColumn<bool>("link");
    QTest::newRow("string") << sz(u"https://a.example/"_s) << u"https://a.example/"_s << true;
    QTest::newRow("expandable string, unexpanded") << expandSz(u"%WINDIR%\\a.htm"_s) << u"%WINDIR%\\a.htm"_s << true;
    QTest::newRow("integer 0") << dword(0) << QString() << false;
    QTest::newRow("integer, plain text") << dword(42) << u"42"_s << false;
    QTest::newRow("integer all bits set is signed") << dword(0xffffffffu) << u"-1"_s << false;
    QTest::newRow("binary") << binary << QString() << false;
}

void TestDetailPage::valueRule()
{
    QFETCH(RegistryValue, value);
    QFETCH(QString, shown);
    QFETCH(bool, link);
    writeEntry({{u"DisplayName"_s, sz(u"S"_s)}, {u"URLInfoAbout"_s, value}, {u"InstallDate"_s, dword(20030615)}});
    const QList<DetailRow> rows = page(false);
    // Program name, then the field; an integer install date gives no row.
    QCOMPARE(rows.size(), shown.isEmpty() ? 1 : 2);
    if (!shown.isEmpty()) {
        QCOMPARE(rows[1].caption, u"About:"_s);
        QCOMPARE(rows[1].text, shown);
        QCOMPARE(rows[1].click, link ? Click::Open : Click::None);
        QCOMPARE(rows[1].top, 60); // after the blank line
    }
}

void TestDetailPage::installDate_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("month-first /") << u"en_US"_s << u"20030615"_s << u"06/15/2003"_s;
    QTest::newRow("day-first /, rearranged digits read day-first") << u"en_GB"_s << u"20030605"_s << u"05/06/2003"_s;
    QTest::newRow("day-first /, no such month") << u"en_GB"_s << u"20030615"_s << u"20030615"_s;
    QTest::newRow(". separator keeps the digits") << u"de_DE"_s << u"20030615"_s << u"20030615"_s;
    QTest::newRow("not an integer") << u"en_US"_s << u"June 2003"_s << u"June 2003"_s;
}

void TestDetailPage::installDate()
{
    QFETCH(QString, locale);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QCOMPARE(installDateText(stored, QLocale(locale)), shown);
}

void TestDetailPage::windowsInstaller_data()
{
    QTest::addColumn<RegistryValue>("value");
    QTest::addColumn<bool>("shown");
    QTest::newRow("integer 1") << dword(1) << true;
    QTest::newRow("text 1") << sz(u"1"_s) << true;
    QTest::newRow("integer 0") << dword(0) << false;
    QTest::newRow("text 01") << sz(u"01"_s) << false;
    QTest::newRow("text with a leading blank") << sz(u" 1"_s) << false;
    QTest::newRow("binary 1") << RegistryValue::fromBinary("\x01") << false;
}

void TestDetailPage::windowsInstaller()
{
    QFETCH(RegistryValue, value);
    QFETCH(bool, shown);
    writeEntry({{u"DisplayName"_s, sz(u"S"_s)}, {u"WindowsInstaller"_s, value}});
    const QList<DetailRow> rows = page(false);
    QCOMPARE(rows.size(), shown ? 2 : 1);
    if (shown) {
        QCOMPARE(rows[1].caption, u"Install Program:"_s);
        QCOMPARE(rows[1].text, u"Windows Installer"_s);
        QCOMPARE(rows[1].top, 80); // two blank lines above it
    }
}

void TestDetailPage::vanishedKeyAndNonTextName()
{
    const DetailPage none = buildDetailPage(WinePrefix(m_prefix->path()), program(), true, QLocale(u"en_US"_s));
    QVERIFY(none.rows.isEmpty());
    QVERIFY(none.error.isEmpty());

    writeEntry({{u"DisplayName"_s, dword(5)}, {u"Publisher"_s, sz(u"P"_s)}});
    const DetailPage stopped = buildDetailPage(WinePrefix(m_prefix->path()), program(), true, QLocale(u"en_US"_s));
    QVERIFY(stopped.rows.isEmpty());
    QVERIFY2(stopped.error.contains(u"DisplayName"_s), qPrintable(stopped.error));
}

void TestDetailPage::openInPrefix_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("opened");  // by the desktop; a path relative to the prefix after "prefix:"
    QTest::addColumn<QString>("started"); // under Wine
    QTest::newRow("web address") << u"https://example.org/a"_s << u"https://example.org/a"_s << QString();
    QTest::newRow("www. address") << u"www.example.org"_s << u"http://www.example.org"_s << QString();
    QTest::newRow("document, other case") << u"c:\\program files\\SAMPLE\\readme.TXT"_s
                                          << u"prefix:drive_c/Program Files/Sample/readme.txt"_s << QString();
    QTest::newRow("quoted folder") << u"\"C:\\Program Files\\Sample\""_s << u"prefix:drive_c/Program Files/Sample"_s
                                   << QString();
    QTest::newRow("program runs under Wine")
        << u"C:\\Program Files\\Sample\\app.exe"_s << QString() << u"\"C:\\Program Files\\Sample\\app.exe\""_s;
    // Windows compares extensions without regard to case.
    QTest::newRow("program in capitals runs under Wine")
        << u"C:\\Program Files\\Sample\\SETUP.EXE"_s << QString() << u"\"C:\\Program Files\\Sample\\SETUP.EXE\""_s;
    QTest::newRow("package runs the installer") << u"C:\\Program Files\\Sample\\setup.msi"_s << QString()
                                                << u"msiexec.exe /i \"C:\\Program Files\\Sample\\setup.msi\""_s;
    QTest::newRow("missing file") << u"C:\\Program Files\\Sample\\gone.txt"_s << QString() << QString();
    QTest::newRow("bare name is not searched") << u"sh"_s << QString() << QString();
    QTest::newRow("host path is not the prefix's") << u"/bin/sh"_s << QString() << QString();
    QTest::newRow("command line is not a path") << u"C:\\Program Files\\Sample\\app.exe /x"_s << QString() << QString();
}

void TestDetailPage::openInPrefix()
{
    QFETCH(QString, target);
    QFETCH(QString, opened);
    QFETCH(QString, started);
    const QString sample = m_prefix->file(u"drive_c/Program Files/Sample"_s);
    QVERIFY(QDir().mkpath(sample));
    QVERIFY(QDir().mkpath(m_prefix->file(u"dosdevices"_s)));
    QFile::link(u"../drive_c"_s, m_prefix->file(u"dosdevices/c:"_s));
    for (const char* name : {"readme.txt", "app.exe", "setup.msi", "SETUP.EXE"})
        QVERIFY(m_prefix->write(u"drive_c/Program Files/Sample/"_s + QLatin1String(name), "x"));
    RecordingShell shell;
    RecordingLauncher launcher;
    ShellOpen::setInstance(&shell);
    CommandLauncher::setInstance(&launcher);
    const bool handed = ::openInPrefix(WinePrefix(m_prefix->path()), target);
    ShellOpen::setInstance(nullptr);
    CommandLauncher::setInstance(nullptr);
    if (opened.startsWith(u"prefix:"_s))
        opened = QUrl::fromLocalFile(QFileInfo(m_prefix->file(opened.mid(7))).canonicalFilePath()).toString();
    // The desktop gets the host path as the prefix's drive link leads to it.
    QStringList openedCanonical;
    for (const QString& url : shell.opened) {
        const QUrl u(url);
        openedCanonical << (u.isLocalFile()
                                ? QUrl::fromLocalFile(QFileInfo(u.toLocalFile()).canonicalFilePath()).toString()
                                : url);
    }
    QCOMPARE(openedCanonical, opened.isEmpty() ? QStringList() : QStringList{opened});
    QCOMPARE(launcher.started, started.isEmpty() ? QStringList() : QStringList{started});
    QCOMPARE(handed, !opened.isEmpty() || !started.isEmpty());
}

void TestDetailPage::editorRows()
{
    writeEntry({{u"DisplayName"_s, sz(u"Name"_s)},
                {u"EstimatedSize"_s, dword(1200)},
                {u"Blob"_s, binary},
                {u"NoModify"_s, dword(0xffffffffu)},
                {u"Hidden"_s, sz(u"*#*#*"_s)},
                {QString(), sz(u"default text"_s)},
                {u"a=b"_s, expandSz(u"%ProgramFiles%\\x"_s)}});
    EntryEditor editor(WinePrefix(m_prefix->path()), RegistryRoot::LocalMachine, entryKey);
    // In the order the hive keeps them, the unnamed value first.
    const QList<EntryEditor::Row> expected{{QString(), u"default text"_s},
                                           {u"a=b"_s, u"%ProgramFiles%\\x"_s},
                                           {u"DisplayName"_s, u"Name"_s},
                                           {u"EstimatedSize"_s, u"1200"_s},
                                           {u"NoModify"_s, u"-1"_s}};
    QCOMPARE(editor.initialRows(), expected);
    QCOMPARE(editor.StoredPath(), u"HKEY_LOCAL_MACHINE\\"_s + entryKey);

    EntryEditor gone(WinePrefix(m_prefix->path()), RegistryRoot::LocalMachine, entryKey + u"Gone"_s);
    QVERIFY(gone.initialRows().isEmpty());
    QVERIFY(gone.StoredPath().isEmpty());
    QVERIFY_THROWS_EXCEPTION(KestrinError, gone.apply({{u"New"_s, u"x"_s}}, {}));
}

void TestDetailPage::editorWriteBack_data()
{
    using Rows = QList<EntryEditor::Row>;
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QStringList>("deleted");
    QTest::addColumn<Values>("after"); // type None: the value is gone
    const Rows unchanged{{u"Text"_s, u"t"_s},
                         {u"Count"_s, u"7"_s},
                         {u"Path"_s, u"%ProgramFiles%\\App\\app.exe"_s},
                         {QString(), u"default"_s}};
    QTest::newRow("integer text that does not parse is dropped")
        << Rows{{u"Count"_s, u"seven"_s}} << QStringList() << Values{{u"Count"_s, dword(7)}};
    QTest::newRow("negative integer as two's complement")
        << Rows{{u"Count"_s, u"-2"_s}} << QStringList() << Values{{u"Count"_s, dword(0xfffffffeu)}};
    QTest::newRow("expandable string stays expandable")
        << Rows{{u"Path"_s, u"%ProgramFiles%\\App\\b.exe"_s}} << QStringList()
        << Values{{u"Path"_s, expandSz(u"%ProgramFiles%\\App\\b.exe"_s)}};
    QTest::newRow("renamed value is a new string, the old stays")
        << Rows{{u"Number"_s, u"7"_s}} << QStringList() << Values{{u"Number"_s, sz(u"7"_s)}, {u"Count"_s, dword(7)}};
    QTest::newRow("delete then re-add ends deleted")
        << Rows{{u"Text"_s, u"again"_s}} << QStringList{u"Text"_s} << Values{{u"Text"_s, {}}};
    QTest::newRow("default value not written, deleted when marked")
        << Rows{{QString(), u"other"_s}} << QStringList{QString()} << Values{{QString(), {}}};
    QTest::newRow("binary name typed in becomes a string")
        << Rows{{u"Blob"_s, u"b"_s}} << QStringList() << Values{{u"Blob"_s, sz(u"b"_s)}};
    QTest::newRow("deleting a missing name does nothing")
        << unchanged << QStringList{u"Nothing"_s} << Values{{u"Path"_s, expandSz(u"%ProgramFiles%\\App\\app.exe"_s)}};
}

void TestDetailPage::editorWriteBack()
{
    using Rows = QList<EntryEditor::Row>;
    QFETCH(Rows, rows);
    QFETCH(QStringList, deleted);
    QFETCH(Values, after);
    writeEntry({{u"Text"_s, sz(u"t"_s)},
                {u"Count"_s, dword(7)},
                {u"Path"_s, expandSz(u"%ProgramFiles%\\App\\app.exe"_s)},
                {u"Blob"_s, binary},
                {QString(), sz(u"default"_s)}});
    EntryEditor editor(WinePrefix(m_prefix->path()), RegistryRoot::LocalMachine, entryKey);
    editor.apply(rows, deleted);
    for (const Value& v : after) {
        const auto value = stored(v.name);
        if (v.value.type == RegType::None)
            QVERIFY2(!value, qPrintable(v.name));
        else
            QCOMPARE(value, std::optional(v.value));
    }
}

void TestDetailPage::editorRefusedWhileWineRunsSavesNothing()
{
    writeEntry({{u"Text"_s, sz(u"t"_s)}, {u"Path"_s, expandSz(u"%ProgramFiles%\\a.exe"_s)}, {u"Count"_s, dword(1)}});
    EntryEditor editor(WinePrefix(m_prefix->path()), RegistryRoot::LocalMachine, entryKey);
    const QByteArray before = hive();
    // Every row as shown: OK writes nothing at all, so the file stays as it was.
    editor.apply(editor.initialRows(), {});
    QCOMPARE(hive(), before);

    LockHolder server(WineServer::lockFileCandidates(m_prefix->path()).first());
    QVERIFY(server.locked());
    QVERIFY_THROWS_EXCEPTION(
        WineRunningError,
        editor.apply({{u"Text"_s, u"new"_s}, {u"Count"_s, u"2"_s}, {u"Added"_s, u"x"_s}}, {u"Path"_s}));
    QCOMPARE(hive(), before);
}

void TestDetailPage::perUserEntryStaysInItsOwnHive()
{
    {
        RegistryAccess registry{WinePrefix(m_prefix->path())};
        registry.RootKey(RegistryRoot::CurrentUser);
        QVERIFY(registry.OpenKey(entryKey, true));
        registry.WriteString(u"DisplayName"_s, u"Per user"_s);
        registry.WriteString(u"Publisher"_s, u"Me"_s);
    }
    InstalledProgram item = program();
    item.Root = RegistryRoot::CurrentUser;
    const DetailPage built = buildDetailPage(WinePrefix(m_prefix->path()), item, false, QLocale(u"en_US"_s));
    QCOMPARE(built.rows.size(), 2);
    QCOMPARE(built.rows[0].text, u"Per user"_s);

    const QByteArray system = hive();
    EntryEditor editor(WinePrefix(m_prefix->path()), RegistryRoot::CurrentUser, entryKey);
    QCOMPARE(editor.StoredPath(), u"HKEY_CURRENT_USER\\"_s + entryKey);
    editor.apply({{u"Publisher"_s, u"You"_s}}, {});
    QCOMPARE(hive(), system);
    QVERIFY(m_prefix->read(u"user.reg"_s).contains("\"Publisher\"=\"You\""));
}

QTEST_GUILESS_MAIN(TestDetailPage)
#include "tst_detailpage.moc"
