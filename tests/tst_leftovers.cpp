#include "MenuHome.h"

#include "hive/EntryTrash.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "leftovers/LeftoverFinder.h"
#include "leftovers/LeftoverRemoval.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString fooEntry = sUninstallKey + u"\\FooTool"_s;
const QString barEntry = sUninstallKey + u"\\BarApp"_s;

void setText(const WinePrefix& prefix, RegistryRoot root, const QString& key, const QString& name, const QString& text)
{
    RegistryAccess registry(prefix);
    registry.RootKey(root);
    QVERIFY(registry.OpenKey(key, true));
    registry.WriteString(name, text);
}

void writeFile(const QString& path, const QByteArray& bytes = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

bool keyExists(const WinePrefix& prefix, RegistryRoot root, const QString& key)
{
    RegistryAccess registry(prefix);
    registry.RootKey(root);
    return registry.KeyExists(key);
}

QStringList shownOf(const QList<Leftover>& leftovers, bool certainOnly)
{
    QStringList shown;
    for (const Leftover& leftover : leftovers) {
        if (!certainOnly || leftover.certain)
            shown << leftover.shown;
    }
    shown.sort();
    return shown;
}

} // namespace

// Finding what a removed program left in a prefix: only what its entry's recorded facts tie to it.
class TestLeftovers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void findsOnlyWhatIsTheProgramsBeyondDoubt();
    void wholePublisherKeyOnlyWhenItHoldsNothingElse();
    void neverThroughALinkOutOfThePrefix();
    void neverWhatOthersShare_data();
    void neverWhatOthersShare();
    void removedIntoTheTrashAndRestored();

private:
    // Foo Tool as its installer left it: folder, shortcut in its own Start Menu folder, keys in both
    // hives and both views, the menu entry Wine made; then its entry is read and removed.
    void installAndRemoveFoo(bool withBar, ProgramTraces& traces);

    std::unique_ptr<MenuHome> m_home;
    WinePrefix prefix() const { return WinePrefix(m_home->prefixPath()); }
    QString driveC(const QString& relative) const { return m_home->prefixPath() + u"/drive_c/"_s + relative; }
};

void TestLeftovers::init()
{
    m_home = std::make_unique<MenuHome>();
    QFile system(m_home->prefixPath() + u"/system.reg"_s);
    QVERIFY(system.open(QIODevice::WriteOnly));
    system.write("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n");
}

void TestLeftovers::installAndRemoveFoo(bool withBar, ProgramTraces& traces)
{
    const WinePrefix p = prefix();
    const auto hklm = RegistryRoot::LocalMachine;
    const auto hkcu = RegistryRoot::CurrentUser;
    setText(p, hklm, fooEntry, u"DisplayName"_s, u"Foo Tool"_s);
    setText(p, hklm, fooEntry, u"UninstallString"_s, u"\"C:\\Program Files\\Foo Tool\\unins000.exe\""_s);
    setText(p, hklm, fooEntry, u"InstallLocation"_s, u"C:\\Program Files\\Foo Tool\\"_s);
    setText(p, hklm, fooEntry, u"Publisher"_s, u"K Test"_s);
    writeFile(driveC(u"Program Files/Foo Tool/foo.exe"_s), "MZ");
    writeFile(driveC(u"Program Files/Foo Tool/unins000.exe"_s), "MZ");
    writeFile(driveC(u"Program Files/Foo Tool/settings/foo.ini"_s));
    m_home->addShortcut(u"Foo Tool\\Foo Tool"_s, u"Foo Tool.lnk"_s);
    m_home->addMenuEntry(u"Foo Tool\\Foo Tool"_s, u"foo-icon"_s);
    // The user's desktop is their home's, linked into the prefix: never the program's to take.
    QVERIFY(QFile::copy(QStringLiteral(KESTRIN_TEST_DATA "/lnk/Foo Tool.lnk"), m_home->home() + u"/Desktop/Foo.lnk"_s));
    setText(p, hklm, u"Software\\K Test\\Foo Tool"_s, u"InstallDir"_s, u"C:\\Program Files\\Foo Tool"_s);
    setText(p, hklm, u"Software\\Wow6432Node\\K Test\\Foo Tool"_s, u"Path"_s, u"C:\\Program Files\\Foo Tool"_s);
    setText(p, hkcu, u"Software\\K Test\\Foo Tool\\Window"_s, u"Left"_s, u"10"_s);
    // A key of the publisher that serves both products, and one named like the program alone.
    setText(p, hklm, u"Software\\K Test\\Shared"_s, u"Tools"_s,
            u"C:\\Program Files\\Foo Tool;C:\\Program Files\\K Test\\Bar App"_s);
    setText(p, hkcu, u"Software\\Foo Tool"_s, u"Seen"_s, u"1"_s);
    // A folder whose name begins like the program's is another's.
    writeFile(driveC(u"Program Files/Foo Tool Pro/pro.exe"_s), "MZ");
    if (withBar) {
        setText(p, hklm, barEntry, u"DisplayName"_s, u"Bar App"_s);
        setText(p, hklm, barEntry, u"UninstallString"_s, u"C:\\Program Files\\K Test\\Bar App\\un.exe"_s);
        setText(p, hklm, barEntry, u"Publisher"_s, u"K Test"_s);
        setText(p, hklm, barEntry, u"DisplayIcon"_s, u"C:\\Program Files\\Common Files\\K Test\\bar.ico"_s);
        writeFile(driveC(u"Program Files/K Test/Bar App/un.exe"_s), "MZ");
        writeFile(driveC(u"Program Files/Common Files/K Test/bar.ico"_s));
        setText(p, hklm, u"Software\\K Test\\Bar App"_s, u"InstallDir"_s, u"C:\\Program Files\\K Test\\Bar App"_s);
    }

    traces = ProgramTraces::read(p, hklm, fooEntry, u"Foo Tool"_s, PathView::Native);
    // The uninstaller ran: its files and its entry are gone, the rest stays.
    QFile::remove(driveC(u"Program Files/Foo Tool/foo.exe"_s));
    QFile::remove(driveC(u"Program Files/Foo Tool/unins000.exe"_s));
    RegistryAccess registry(p);
    registry.RootKey(hklm);
    QVERIFY(registry.DeleteKey(fooEntry));
}

void TestLeftovers::findsOnlyWhatIsTheProgramsBeyondDoubt()
{
    ProgramTraces traces;
    installAndRemoveFoo(true, traces);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(traces.folder, QFileInfo(driveC(u"Program Files/Foo Tool"_s)).canonicalFilePath());
    QCOMPARE(traces.shortcuts.size(), 1);

    LeftoverFinder finder(prefix(), traces, m_home->folders());
    const QList<Leftover> found = finder.find();
    const QStringList sure{
        u"C:\\Program Files\\Foo Tool"_s,
        u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Foo Tool"_s,
        u"Foo Tool"_s, // the menu entry
        u"HKEY_CURRENT_USER\\Software\\K Test\\Foo Tool"_s,
        u"HKEY_LOCAL_MACHINE\\Software\\K Test\\Foo Tool"_s,
        u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\K Test\\Foo Tool"_s,
    };
    QCOMPARE(shownOf(found, true), sure);
    // Named like the program but naming nothing of it: shown, never checked.
    QStringList all = QStringList(sure) << u"HKEY_CURRENT_USER\\Software\\Foo Tool"_s;
    all.sort();
    QCOMPARE(shownOf(found, false), all);
}

void TestLeftovers::wholePublisherKeyOnlyWhenItHoldsNothingElse()
{
    ProgramTraces traces;
    installAndRemoveFoo(false, traces);
    if (QTest::currentTestFailed())
        return;
    RegistryAccess registry(prefix());
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.DeleteKey(u"Software\\K Test\\Shared"_s));

    LeftoverFinder finder(prefix(), traces, m_home->folders());
    const QStringList shown = shownOf(finder.find(), true);
    // With no other product listed and nothing else in them, the publisher's keys go whole.
    QVERIFY2(shown.contains(u"HKEY_LOCAL_MACHINE\\Software\\K Test"_s), qPrintable(shown.join(u'\n')));
    QVERIFY(shown.contains(u"HKEY_CURRENT_USER\\Software\\K Test"_s));
    QVERIFY(!shown.contains(u"HKEY_LOCAL_MACHINE\\Software\\K Test\\Foo Tool"_s));
}

void TestLeftovers::neverThroughALinkOutOfThePrefix()
{
    // The profile's Documents is the user's own, linked in as many prefixes have it.
    QDir().mkpath(m_home->home() + u"/Documents/Foo Tool"_s);
    writeFile(m_home->home() + u"/Documents/Foo Tool/save.dat"_s);
    QVERIFY(QFile::link(m_home->home() + u"/Documents"_s, driveC(u"users/me/Documents"_s)));
    const WinePrefix p = prefix();
    setText(p, RegistryRoot::LocalMachine, fooEntry, u"DisplayName"_s, u"Foo Tool"_s);
    setText(p, RegistryRoot::LocalMachine, fooEntry, u"UninstallString"_s,
            u"C:\\users\\me\\Documents\\Foo Tool\\un.exe"_s);
    setText(p, RegistryRoot::LocalMachine, fooEntry, u"InstallLocation"_s, u"C:\\users\\me\\Documents\\Foo Tool"_s);
    const ProgramTraces traces =
        ProgramTraces::read(p, RegistryRoot::LocalMachine, fooEntry, u"Foo Tool"_s, PathView::Native);
    QVERIFY(traces.folder.isEmpty());

    RegistryAccess registry(p);
    registry.RootKey(RegistryRoot::LocalMachine);
    registry.DeleteKey(fooEntry);
    LeftoverFinder finder(p, traces, m_home->folders());
    const QList<Leftover> found = finder.find();
    for (const Leftover& leftover : found)
        QVERIFY2(!leftover.hostPath.startsWith(m_home->home()), qPrintable(leftover.hostPath));
}

// What the program's entry names is still not the program's alone when another listed entry uses it.
void TestLeftovers::neverWhatOthersShare_data()
{
    QTest::addColumn<QString>("uninstaller"); // the removed program's; it has no install location
    QTest::addColumn<QString>("other");       // "uninstaller|install location" of a program still listed
    QTest::addColumn<QString>(
        "shortcut"); // a Start Menu place of Foo Tool.lnk, which starts C:\Program Files\Foo Tool\foo.exe
    QTest::addColumn<QStringList>("sure");
    QTest::addColumn<QStringList>("unsure");

    const QString programs = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"_s;
    QTest::newRow("the program's own uninstaller and shortcut")
        << u"C:\\Program Files\\Foo Tool\\foo.exe /uninstall"_s << u"C:\\Other\\un.exe|"_s << u"Foo\\Foo Tool"_s
        << QStringList{u"C:\\Program Files\\Foo Tool"_s, programs + u"Foo"_s} << QStringList{};
    QTest::newRow("an uninstaller another entry runs too") << u"C:\\Program Files\\Foo Tool\\foo.exe /uninstall a"_s
                                                           << u"C:\\Program Files\\Foo Tool\\foo.exe /uninstall b|"_s
                                                           << u"Foo\\Foo Tool"_s << QStringList{} << QStringList{};
    QTest::newRow("a folder that holds another's")
        << u"C:\\Program Files\\Foo Tool\\unA.exe"_s << u"C:\\Other\\un.exe|C:\\Program Files\\Foo Tool\\B"_s
        << u"Foo\\Foo Tool"_s << QStringList{} << QStringList{};
    QTest::newRow("an uninstaller in C:\\windows") << u"C:\\windows\\notepad.exe"_s << u"C:\\Other\\un.exe|"_s
                                                   << u"Foo\\Foo Tool"_s << QStringList{} << QStringList{};
    QTest::newRow("the Startup folder stays")
        << u"C:\\Program Files\\Foo Tool\\foo.exe /uninstall"_s << u"C:\\Other\\un.exe|"_s << u"Startup\\Foo Tool"_s
        << QStringList{u"C:\\Program Files\\Foo Tool"_s, programs + u"Startup\\Foo Tool.lnk"_s} << QStringList{};
    QTest::newRow("Common Files is only a maybe")
        << u"C:\\Program Files\\Common Files\\Foo Shared\\setup.exe -remove"_s << u"C:\\Other\\un.exe|"_s << QString()
        << QStringList{} << QStringList{u"C:\\Program Files\\Common Files\\Foo Shared"_s};
}

void TestLeftovers::neverWhatOthersShare()
{
    QFETCH(QString, uninstaller);
    QFETCH(QString, other);
    QFETCH(QString, shortcut);
    QFETCH(QStringList, sure);
    QFETCH(QStringList, unsure);

    const WinePrefix p = prefix();
    const auto hklm = RegistryRoot::LocalMachine;
    for (const QString& file :
         {u"Program Files/Foo Tool/foo.exe"_s, u"Program Files/Foo Tool/unA.exe"_s, u"Program Files/Foo Tool/B/b.exe"_s,
          u"Program Files/Common Files/Foo Shared/setup.exe"_s, u"windows/notepad.exe"_s, u"Other/un.exe"_s})
        writeFile(driveC(file), "MZ");
    setText(p, hklm, fooEntry, u"DisplayName"_s, u"Foo Tool"_s);
    setText(p, hklm, fooEntry, u"UninstallString"_s, uninstaller);
    setText(p, hklm, barEntry, u"DisplayName"_s, u"Bar App"_s);
    setText(p, hklm, barEntry, u"UninstallString"_s, other.section(u'|', 0, 0));
    if (!other.section(u'|', 1).isEmpty())
        setText(p, hklm, barEntry, u"InstallLocation"_s, other.section(u'|', 1));
    if (!shortcut.isEmpty())
        m_home->addShortcut(shortcut, u"Foo Tool.lnk"_s);

    const ProgramTraces traces = ProgramTraces::read(p, hklm, fooEntry, u"Foo Tool"_s, PathView::Native);
    RegistryAccess registry(p);
    registry.RootKey(hklm);
    QVERIFY(registry.DeleteKey(fooEntry));
    LeftoverFinder finder(p, traces, m_home->folders());
    const QList<Leftover> found = finder.find();
    QStringList certain = shownOf(found, true);
    QStringList all = shownOf(found, false);
    for (const QString& shown : std::as_const(certain))
        all.removeOne(shown);
    sure.sort();
    QCOMPARE(certain, sure);
    QCOMPARE(all, unsure);
}

void TestLeftovers::removedIntoTheTrashAndRestored()
{
    ProgramTraces traces;
    installAndRemoveFoo(true, traces);
    if (QTest::currentTestFailed())
        return;
    LeftoverFinder finder(prefix(), traces, m_home->folders());
    const QList<Leftover> found = finder.find();
    const QList<int> certain = LeftoverRemoval::certainOnes(found);

    const LeftoverRemoval::Removed removed = LeftoverRemoval::remove(prefix(), finder, found, certain);
    QVERIFY(!removed.recordId.isEmpty());
    QVERIFY(!removed.menuRecordId.isEmpty());
    QVERIFY(!QFileInfo::exists(driveC(u"Program Files/Foo Tool/settings/foo.ini"_s)));
    QVERIFY(!keyExists(prefix(), RegistryRoot::LocalMachine, u"Software\\K Test\\Foo Tool"_s));
    QVERIFY(!keyExists(prefix(), RegistryRoot::CurrentUser, u"Software\\K Test\\Foo Tool"_s));
    // What was not the program's is untouched.
    QVERIFY(keyExists(prefix(), RegistryRoot::LocalMachine, u"Software\\K Test\\Bar App"_s));
    QVERIFY(keyExists(prefix(), RegistryRoot::CurrentUser, u"Software\\Foo Tool"_s));
    QVERIFY(QFileInfo::exists(m_home->home() + u"/Desktop/Foo.lnk"_s));
    QVERIFY(QFileInfo::exists(driveC(u"Program Files/Foo Tool Pro/pro.exe"_s)));

    EntryTrash::restore(prefix().path(), removed.recordId, false);
    EntryTrash::restore(prefix().path(), removed.menuRecordId, false);
    QVERIFY(QFileInfo::exists(driveC(u"Program Files/Foo Tool/settings/foo.ini"_s)));
    QVERIFY(QFileInfo::exists(m_home->hostOf(MenuHome::linkOf(u"Foo Tool\\Foo Tool"_s))));
    QVERIFY(keyExists(prefix(), RegistryRoot::LocalMachine, u"Software\\K Test\\Foo Tool"_s));
    QVERIFY(keyExists(prefix(), RegistryRoot::LocalMachine, u"Software\\Wow6432Node\\K Test\\Foo Tool"_s));
    QVERIFY(keyExists(prefix(), RegistryRoot::CurrentUser, u"Software\\K Test\\Foo Tool\\Window"_s));
    // Both records went with their restore; the uninstall entry's own copy stays.
    for (const TrashRecord& record : EntryTrash::list(prefix().path()))
        QVERIFY2(record.id != removed.recordId && record.id != removed.menuRecordId, qPrintable(record.id));
}

QTEST_GUILESS_MAIN(TestLeftovers)
#include "tst_leftovers.moc"
