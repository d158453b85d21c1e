#include "TestDrive.h"

#include "base/KestrinError.h"
#include "desktop/SystemIconList.h"
#include "inventory/PlatformVersion.h"
#include "inventory/ProgramListModel.h"
#include "inventory/ProgramScan.h"
#include "inventory/RegistryAccess.h"
#include "inventory/UsageCache.h"

#include <QAbstractItemModelTester>
#include <QLocale>
#include <QScopeGuard>
#include <QTest>
#include <QTimeZone>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {

const QString uninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;

struct Row
{
    QString name, keyPath, command, size, lastUsed, frequency;
    bool missing;
};

} // namespace

class TestProgramScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void listsTheWholeFixturePrefix();
    void readsNoUsageOnThe9xFamily();
    void tellsThePlatformFamily_data();
    void tellsThePlatformFamily();
    void skipsOnlyTheEntryItCannotRead_data();
    void skipsOnlyTheEntryItCannotRead();
    void readsOnlyTheNativeViewOf32BitPrefixes();
    void listsPerUserEntriesLast();
    void checksEachViewAsItsProgramsSeeIt();
    void sortsLikeUnicodeInTheCLocale();
    void findsIconsInOrder();
    void seesWhatChangedOnDiskAtTheNextScan();
    void takesTheSizeFromTheBestSource_data();
    void takesTheSizeFromTheBestSource();

private:
    void touch(const QString& windowsStylePath) const;
    void addEntry(RegistryRoot root, const QString& key, const QString& name, const QString& command) const;
    QString host(const QString& relative) const { return m_prefix->file(u"drive_c/"_s + relative); }

    std::unique_ptr<TestPrefix> m_prefix;
    SystemIconList m_icons;
    int m_warning = -1;
    int m_own = -1;
};

void TestProgramScan::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("TZ", "UTC");
    tzset();
    m_warning = m_icons.addImages(QImage(16, 16, QImage::Format_ARGB32), QImage(32, 32, QImage::Format_ARGB32));
    m_own = m_icons.addImages(QImage(16, 16, QImage::Format_ARGB32), QImage(32, 32, QImage::Format_ARGB32));
}

void TestProgramScan::touch(const QString& relative) const
{
    const QString path = host(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

void TestProgramScan::addEntry(RegistryRoot root, const QString& key, const QString& name, const QString& command) const
{
    RegistryAccess reg{WinePrefix(m_prefix->path())};
    reg.RootKey(root);
    QVERIFY(reg.OpenKey(key, true));
    reg.WriteString(u"DisplayName"_s, name);
    reg.WriteString(u"UninstallString"_s, command);
}

void TestProgramScan::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(m_prefix->copyFixtureHives());
    QDir().mkpath(m_prefix->file(u"dosdevices"_s));
    QVERIFY(QFile::link(u"../drive_c"_s, m_prefix->file(u"dosdevices/c:"_s)));
    touch(u"Program Files/Foo Tool/unins000.exe"_s);
    touch(u"Program Files/Foo Tool/foo.exe"_s);
    touch(u"Program Files/B\u00e4r/uninstall.exe"_s);
    touch(u"twin/ONE/uninst.exe"_s); // found without regard to letter case
    touch(u"windows/system32/rundll32.exe"_s);
    touch(u"windows/system32/msiexec.exe"_s);
    touch(u"windows/setup.exe"_s);
}

void TestProgramScan::listsTheWholeFixturePrefix()
{
    ProgramListModel model(true);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ProgramScan scan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own);
    scan.RefreshProgramList(model);

    const QString wow = u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
    const QList<Row> expected{
        {u"B\u00e4r Editor \u2211 \u753b\u50cf"_s,
         uninstall + u"\\Baer"_s,
         u"C:\\Program Files\\B\u00e4r\\uninstall.exe \"quoted arg\" \\\\server\\share"_s,
         {},
         {},
         {},
         false},
        {u"Bar Runtime (x86)"_s,
         uninstall + u"\\{6B2A1C44-0F5E-4C59-9D1E-1B2C3D4E5F60}"_s,
         u"MsiExec.exe /X{6B2A1C44-0F5E-4C59-9D1E-1B2C3D4E5F60}"_s,
         {},
         {},
         {},
         false},
        {u"Foo Tool 1.0"_s, uninstall + u"\\FooTool_is1"_s, u"\"C:\\Program Files\\Foo Tool\\unins000.exe\""_s,
         u"117.74 MB"_s, u"2003-06-19"_s, u"occasionally"_s, false},
        {u"Legacy 32-bit Game"_s,
         wow + u"\\Legacy32"_s,
         u"\"C:\\Program Files (x86)\\Legacy\\uninst.exe\""_s,
         {},
         {},
         {},
         true},
        {u"lower case tool"_s, uninstall + u"\\lowercase"_s, u"C:\\Tools\\lower\\uninst.exe /S"_s, {}, {}, {}, true},
        {u"Twin App"_s, uninstall + u"\\Twin1"_s, u"C:\\Twin\\one\\uninst.exe"_s, u"1,024.00 MB"_s, u"(Unknown)"_s,
         u"frequently"_s, false},
        {u"Twin App"_s, uninstall + u"\\Twin2"_s, u"C:\\Twin\\two\\uninst.exe"_s, u"0.00 MB"_s, {}, {}, true},
        {u"UPPER CASE TOOL"_s,
         uninstall + u"\\UPPER"_s,
         u"rundll32.exe advpack.dll,LaunchINFSection C:\\Tools\\upper.inf,Uninstall"_s,
         {},
         {},
         {},
         false},
        {u"Value Types Sampler"_s, uninstall + u"\\Types"_s, u"setup /remove"_s, {}, {}, {}, false},
    };
    QCOMPARE(model.count(), expected.size());
    for (int i = 0; i < model.count(); ++i) {
        const InstalledProgram& p = model.at(i);
        const Row& row = expected[i];
        QCOMPARE(p.Name, row.name);
        QCOMPARE(p.KeyPath, row.keyPath);
        QCOMPARE(model.subItem(i, model.CommandColumn()), row.command);
        QCOMPARE(p.Size, row.size);
        QCOMPARE(p.LastUsed, row.lastUsed);
        QCOMPARE(p.Frequency, row.frequency);
        QCOMPARE(p.UninstallerMissing, row.missing ? m_warning : -1);
    }
    QCOMPARE(model.columnCount(), 5);
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), u"Last Used On"_s);
    QCOMPARE(model.index(2, 4).data().toString(), expected[2].command);
}

void TestProgramScan::readsNoUsageOnThe9xFamily()
{
    ProgramListModel model(false);
    ProgramScan(WinePrefix(m_prefix->path()), false, m_icons, m_warning, m_own).RefreshProgramList(model);
    QCOMPARE(model.count(), 9);
    QCOMPARE(model.CommandColumn(), 0);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), u"Uninstall Command"_s);
    for (int i = 0; i < model.count(); ++i) {
        QVERIFY(model.at(i).Size.isEmpty() && model.at(i).LastUsed.isEmpty() && model.at(i).Frequency.isEmpty());
        QCOMPARE(model.index(i, 1).data().toString(), model.at(i).UninstallCommand);
    }
}

void TestProgramScan::tellsThePlatformFamily_data()
{
    QTest::addColumn<QString>("userVersion");
    QTest::addColumn<bool>("dropNtKeys");
    QTest::addColumn<bool>("nt");
    QTest::newRow("fresh prefix") << QString() << false << true;
    QTest::newRow("win98") << u"win98"_s << false << false;
    QTest::newRow("win95") << u"win95"_s << false << false;
    QTest::newRow("winme") << u"winme"_s << false << false;
    QTest::newRow("winxp") << u"winxp"_s << true << true;
    QTest::newRow("unknown name falls through") << u"win99"_s << false << true;
    QTest::newRow("no NT keys, no version") << QString() << true << true;
    QTest::newRow("win31 is Win32s") << u"win31"_s << false << false;
    QTest::newRow("win30 is Win32s") << u"win30"_s << false << false;
    QTest::newRow("win20 is Win32s") << u"win20"_s << false << false;
}

void TestProgramScan::tellsThePlatformFamily()
{
    QFETCH(QString, userVersion);
    QFETCH(bool, dropNtKeys);
    QFETCH(bool, nt);
    const WinePrefix prefix(m_prefix->path());
    RegistryAccess reg(prefix);
    if (!userVersion.isEmpty()) {
        reg.RootKey(RegistryRoot::CurrentUser);
        QVERIFY(reg.OpenKey(u"Software\\Wine"_s, true));
        reg.WriteString(u"Version"_s, userVersion);
    }
    if (dropNtKeys) {
        reg.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(reg.OpenKey(u"Software\\Microsoft\\Windows NT\\CurrentVersion"_s, false));
        QVERIFY(reg.DeleteValue(u"CurrentVersion"_s));
    }
    QCOMPARE(IsNTPlatform(prefix), nt);
}

void TestProgramScan::skipsOnlyTheEntryItCannotRead_data()
{
    QTest::addColumn<bool>("perUser");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("listed");

    const QString wow = u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
    QTest::newRow("DWORD name, early in key order") << false << uninstall + u"\\Twin1"_s << u"DisplayName"_s << 8;
    QTest::newRow("DWORD command, first entry") << false << uninstall + u"\\Baer"_s << u"UninstallString"_s << 8;
    QTest::newRow("DWORD icon, 32-bit view") << false << wow + u"\\Legacy32"_s << u"DisplayIcon"_s << 8;
    QTest::newRow("DWORD name, per user") << true << uninstall + u"\\Mine"_s << u"DisplayName"_s << 9;
}

// A value of the wrong type used to stop the scan, hiding every later entry and the whole 32-bit view.
void TestProgramScan::skipsOnlyTheEntryItCannotRead()
{
    QFETCH(bool, perUser);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, listed);
    const RegistryRoot root = perUser ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine;
    if (perUser)
        addEntry(root, key, u"Mine"_s, u"setup /remove"_s);
    RegistryAccess reg{WinePrefix(m_prefix->path())};
    reg.RootKey(root);
    QVERIFY(reg.OpenKey(key, false));
    reg.WriteInteger(value, 5);

    ProgramListModel model(true);
    ProgramScan scan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own);
    scan.RefreshProgramList(model);
    QCOMPARE(model.count(), listed);
    QCOMPARE(model.rowCount(), listed);
    for (int i = 0; i < model.count(); ++i)
        QVERIFY(!(model.at(i).Root == root && model.at(i).KeyPath == key));
    QCOMPARE(scan.skippedEntries().size(), 1);
    const ProgramScan::SkippedEntry& skipped = scan.skippedEntries().first();
    QCOMPARE(skipped.root, root);
    QCOMPARE(skipped.keyPath, key);
    QCOMPARE(skipped.message, u"Invalid data type for '%1'"_s.arg(value));

    // Mended, the next scan lists it and leaves nothing out.
    reg.WriteString(value, u"C:\\x.exe"_s);
    scan.RefreshProgramList(model);
    QCOMPARE(model.count(), listed + 1);
    QVERIFY(scan.skippedEntries().isEmpty());
}

void TestProgramScan::readsOnlyTheNativeViewOf32BitPrefixes()
{
    QByteArray text = m_prefix->read(u"system.reg"_s);
    text.replace("#arch=win64", "#arch=win32");
    QVERIFY(m_prefix->write(u"system.reg"_s, text));
    ProgramScan scan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own);
    const QList<ProgramScan::Source> sources{{RegistryRoot::LocalMachine, uninstall, PathView::Native},
                                             {RegistryRoot::CurrentUser, uninstall, PathView::Native}};
    QCOMPARE(scan.uninstallSources(), sources);
    ProgramListModel model(true);
    scan.RefreshProgramList(model);
    QCOMPARE(model.count(), 8);
}

// As Wine's uninstaller: HKEY_LOCAL_MACHINE's entries, then its 32-bit view's, then the user's.
void TestProgramScan::listsPerUserEntriesLast()
{
    const QString wow = u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
    ProgramScan scan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own);
    const QList<ProgramScan::Source> sources{{RegistryRoot::LocalMachine, uninstall, PathView::Native},
                                             {RegistryRoot::LocalMachine, wow, PathView::Wow64},
                                             {RegistryRoot::CurrentUser, uninstall, PathView::Native}};
    QCOMPARE(scan.uninstallSources(), sources);

    // The same subkey name as a machine entry, and the usage record is the machine's.
    addEntry(RegistryRoot::CurrentUser, uninstall + u"\\Twin1"_s, u"Per-user Twin"_s, u"C:\\Twin\\one\\uninst.exe"_s);
    addEntry(RegistryRoot::CurrentUser, uninstall + u"\\UserOnly"_s, u"User Only"_s, u"C:\\Users\\gone.exe"_s);
    ProgramListModel model(true);
    scan.RefreshProgramList(model);
    QCOMPARE(model.count(), 11);
    QStringList perUser;
    for (int i = 0; i < model.count(); ++i) {
        const InstalledProgram& p = model.at(i);
        if (p.Root == RegistryRoot::CurrentUser)
            perUser << p.fullKeyPath() + u'|' + p.Name + u'|' + p.Size + u'|' + QString::number(p.UninstallerMissing);
    }
    const QString userKey = u"HKEY_CURRENT_USER\\"_s + uninstall;
    QCOMPARE(perUser, (QStringList{userKey + u"\\Twin1|Per-user Twin|1,024.00 MB|-1"_s,
                                   userKey + u"\\UserOnly|User Only||%1"_s.arg(m_warning)}));
    QCOMPARE(model.at(0).fullKeyPath(), u"HKEY_LOCAL_MACHINE\\"_s + uninstall + u"\\Baer"_s);
}

// A 32-bit entry names what a 32-bit program sees: its system32 is syswow64, its %ProgramFiles% the x86 one.
void TestProgramScan::checksEachViewAsItsProgramsSeeIt()
{
    const QString wow = u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
    touch(u"windows/syswow64/unins32.exe"_s);
    touch(u"Program Files (x86)/Thirty/thirty.exe"_s);
    addEntry(RegistryRoot::LocalMachine, wow + u"\\Sys32"_s, u"32-bit"_s, u"C:\\windows\\system32\\unins32.exe /S"_s);
    addEntry(RegistryRoot::LocalMachine, uninstall + u"\\Sys64"_s, u"64-bit"_s,
             u"C:\\windows\\system32\\unins32.exe /S"_s);
    for (const QString& key : {QString(wow + u"\\Sys32"_s), QString(uninstall + u"\\Sys64"_s)})
        TestDrive::setString(*m_prefix, RegistryRoot::LocalMachine, key, u"DisplayIcon"_s,
                             u"%ProgramFiles%\\Thirty\\thirty.exe,0"_s);

    ProgramListModel model(true);
    ProgramScan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own).RefreshProgramList(model);
    QCOMPARE(model.at(0).Name, u"32-bit"_s);
    QCOMPARE(model.at(0).UninstallerMissing, -1);
    QCOMPARE(model.at(0).IconIndex, m_icons.indexOfFile(host(u"Program Files (x86)/Thirty/thirty.exe"_s)));
    QCOMPARE(model.at(1).Name, u"64-bit"_s);
    QCOMPARE(model.at(1).UninstallerMissing, m_warning);
    QCOMPARE(model.at(1).IconIndex, m_own); // neither file exists for a 64-bit program
}

// In the C or POSIX locale the order must still be a language's, not the code points'.
void TestProgramScan::sortsLikeUnicodeInTheCLocale()
{
    const QLocale before;
    QLocale::setDefault(QLocale(u"C.UTF-8"_s));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    QCOMPARE(QLocale().language(), QLocale::C);

    const QString names[] = {u"Zebra"_s,      u"\u00e9clair"_s, u"apple"_s, u"Banana"_s, u"\u00d6l"_s,
                             u"\u00c4pfel"_s, u"Eclair"_s,      u"zulu"_s,  u"Apple"_s,  u"banana"_s};
    QVERIFY(m_prefix->write(u"system.reg"_s, "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
                                             "#arch=win32\n"));
    int key = 0; // key names ignore letter case, display names do not
    for (const QString& name : names)
        addEntry(RegistryRoot::LocalMachine, uninstall + u"\\K"_s + QString::number(++key), name, u"setup"_s);

    ProgramListModel model(true);
    ProgramScan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own).RefreshProgramList(model);
    QStringList order;
    for (int i = 0; i < model.count(); ++i)
        order << model.at(i).Name;
    // Letters before accents before case, lower case first; code-point order would put "Apple",
    // "Banana", "Eclair" and "Zebra" before "apple" and the accented names last.
    QCOMPARE(order, (QStringList{u"\u00c4pfel"_s, u"apple"_s, u"Apple"_s, u"banana"_s, u"Banana"_s, u"Eclair"_s,
                                 u"\u00e9clair"_s, u"\u00d6l"_s, u"Zebra"_s, u"zulu"_s}));
}

void TestProgramScan::findsIconsInOrder()
{
    ProgramListModel model(true);
    ProgramScan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own).RefreshProgramList(model);
    auto iconOf = [&](const QString& name) {
        for (int i = 0; i < model.count(); ++i) {
            if (model.at(i).KeyPath.endsWith(name))
                return model.at(i).IconIndex;
        }
        return -2;
    };
    // The display icon names an existing file: its icon.
    QCOMPARE(iconOf(u"\\FooTool_is1"_s), m_icons.indexOfFile(host(u"Program Files/Foo Tool/foo.exe"_s)));
    // No display icon: the uninstaller's own file.
    QCOMPARE(iconOf(u"\\Twin1"_s), m_icons.indexOfFile(host(u"twin/ONE/uninst.exe"_s)));
    // Nothing of its own: the program's icon.
    QCOMPARE(iconOf(u"\\Twin2"_s), m_own);
    // The same file keeps its index across scans.
    const int before = iconOf(u"\\Twin1"_s);
    ProgramScan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own).RefreshProgramList(model);
    QCOMPARE(iconOf(u"\\Twin1"_s), before);
}

// A scan lists each folder once and keeps what it saw only for itself: the next scan of the same
// window sees files that came or went, also under another letter case.
void TestProgramScan::seesWhatChangedOnDiskAtTheNextScan()
{
    addEntry(RegistryRoot::LocalMachine, uninstall + u"\\Later"_s, u"Later"_s, u"\"C:\\LATER\\tool\\un.exe\" /S"_s);
    TestDrive::setString(*m_prefix, RegistryRoot::LocalMachine, uninstall + u"\\Later"_s, u"DisplayIcon"_s,
                         u"C:\\later\\Tool\\app.exe,0"_s);
    ProgramScan scan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own);
    ProgramListModel model(true);
    const auto later = [&] {
        for (int i = 0; i < model.count(); ++i) {
            if (model.at(i).Name == u"Later")
                return model.at(i);
        }
        return InstalledProgram();
    };

    scan.RefreshProgramList(model);
    QCOMPARE(later().UninstallerMissing, m_warning);
    QCOMPARE(later().IconIndex, m_own);

    touch(u"Later/TOOL/UN.EXE"_s);
    touch(u"Later/TOOL/App.exe"_s);
    scan.RefreshProgramList(model);
    QCOMPARE(later().UninstallerMissing, -1);
    QCOMPARE(later().IconIndex, m_icons.indexOfFile(host(u"Later/TOOL/App.exe"_s)));

    QVERIFY(QFile::remove(host(u"Later/TOOL/UN.EXE"_s)));
    scan.RefreshProgramList(model);
    QCOMPARE(later().UninstallerMissing, m_warning);
}

// The shell's cache first, then the installer's estimate in kilobytes, then the measured folder; a
// measured last use only where the cache gave none. The list keeps its order.
void TestProgramScan::takesTheSizeFromTheBestSource_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<RegistryValue>("estimate"); // type None: no "EstimatedSize" value
    QTest::addColumn<QString>("scanned");
    QTest::addColumn<QString>("measured");
    QTest::addColumn<QString>("lastUsed");

    const RegistryValue none;
    const QString fiveMb = u"5.00 MB"_s;
    const QString used = u"2026-01-02"_s;
    QTest::newRow("cache beats estimate and folder")
        << u"\\FooTool_is1"_s << RegistryValue::fromDword(2048) << u"117.74 MB"_s << u"117.74 MB"_s << u"2003-06-19"_s;
    QTest::newRow("estimate beats folder")
        << u"\\Baer"_s << RegistryValue::fromDword(2048) << u"2.00 MB"_s << u"2.00 MB"_s << used;
    QTest::newRow("estimate as a qword") << u"\\Baer"_s << RegistryValue::fromQword(1048576) << u"1,024.00 MB"_s
                                         << u"1,024.00 MB"_s << used;
    QTest::newRow("zero estimate means unknown")
        << u"\\Baer"_s << RegistryValue::fromDword(0) << QString() << fiveMb << used;
    QTest::newRow("estimate as text is no estimate")
        << u"\\Baer"_s << RegistryValue::fromString(u"2048"_s) << QString() << fiveMb << used;
    QTest::newRow("no estimate") << u"\\Baer"_s << none << QString() << fiveMb << used;
}

void TestProgramScan::takesTheSizeFromTheBestSource()
{
    QFETCH(QString, entry);
    QFETCH(RegistryValue, estimate);
    QFETCH(QString, scanned);
    QFETCH(QString, measured);
    QFETCH(QString, lastUsed);
    if (estimate.type != RegType::None) {
        RegistryAccess reg{WinePrefix(m_prefix->path())};
        reg.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(reg.OpenKey(uninstall + entry, false));
        reg.writeValue(u"EstimatedSize"_s, estimate);
    }
    ProgramListModel model(true);
    ProgramScan(WinePrefix(m_prefix->path()), true, m_icons, m_warning, m_own).RefreshProgramList(model);
    int row = -1;
    for (int i = 0; i < model.count(); ++i) {
        if (model.at(i).KeyPath == uninstall + entry)
            row = i;
    }
    QVERIFY(row >= 0);
    QCOMPARE(model.at(row).Size, scanned);

    QStringList names;
    for (int i = 0; i < model.count(); ++i)
        names << model.at(i).Name;
    model.setMeasured(row, 5 * 1048576, QDateTime(QDate(2026, 1, 2), QTime(12, 0), QTimeZone::utc()));
    QCOMPARE(model.at(row).Size, measured);
    QCOMPARE(model.at(row).LastUsed, lastUsed);
    for (int i = 0; i < model.count(); ++i)
        QCOMPARE(model.at(i).Name, names[i]);
}

QTEST_GUILESS_MAIN(TestProgramScan)
#include "tst_programscan.moc"
