#include "TestPrefix.h"
#include "WineServerDouble.h"

#include "base/KestrinError.h"
#include "hive/EntryTrash.h"
#include "hive/HiveFile.h"
#include "prefix/WineServer.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTest>

#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QStringList uninstall{u"Software"_s, u"Microsoft"_s, u"Windows"_s, u"CurrentVersion"_s, u"Uninstall"_s};
const QStringList uninstall32{u"Software"_s, u"Wow6432Node"_s,    u"Microsoft"_s,
                              u"Windows"_s,  u"CurrentVersion"_s, u"Uninstall"_s};
const QStringList menuFiles{u"Software"_s, u"Wine"_s, u"MenuFiles"_s};

// The file as Wine reads it, without the times stamped on each key line (a restored key is new to
// the file) and without the empty sections of keys that have subkeys: deleting an entry leaves its
// parent such a section when it was the last one, and Wine makes the key for the subkey anyway.
QByteArray withoutTimes(QByteArray text)
{
    static const QRegularExpression keyTime(u"^(\\[.*\\]) \\d+$"_s, QRegularExpression::MultilineOption);
    static const QRegularExpression timeLine(u"^#time=[0-9a-f]+\\n"_s, QRegularExpression::MultilineOption);
    static const QRegularExpression emptyParent(u"^\\[([^\\n]*)\\]\\n\\n(?=\\[\\1\\\\\\\\)"_s,
                                                QRegularExpression::MultilineOption);
    return QString::fromUtf8(text)
        .replace(keyTime, u"\\1"_s)
        .replace(timeLine, QString())
        .replace(emptyParent, QString())
        .toUtf8();
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file and folder at and below `path` with its bytes, or nothing when the path is gone.
QStringList treeOf(const QString& path)
{
    QStringList tree;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    for (QString p = path; QFileInfo::exists(p); p = it.hasNext() ? it.next() : QString())
        tree << p + u'=' + (QFileInfo(p).isDir() ? u"folder"_s : QString::fromLatin1(readBytes(p).toHex()));
    tree.sort();
    return tree;
}

// Every key at and below `key` with its values' types and data.
QStringList valuesBelow(const HiveKey* key)
{
    QStringList lines;
    if (!key)
        return lines;
    lines << key->path().join(u'\\');
    for (const HiveValue& v : key->values())
        lines << v.name + u'=' + QString::number(v.value.type) + u':' + QString::fromLatin1(v.value.data.toHex());
    for (const auto& subkey : key->subkeys())
        lines += valuesBelow(subkey.get());
    return lines;
}

struct Leftovers
{
    QStringList paths;
    QList<TrashKey> keys;
};

} // namespace

class TestEntryTrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void restoresEveryEntryAsItWas_data();
    void restoresEveryEntryAsItWas();
    void restoresAnEditedEntry();
    void replacesAnExistingKeyOnlyWhenAsked();
    void refusesWhileWineRuns();
    void refusesDamagedRecords_data();
    void refusesDamagedRecords();
    void listsNewestFirstAndPurges();
    void keepsAndRestoresFiles();
    void removesAndRestoresLeftovers();
    void removesNothingWhenRefusedOrFailing_data();
    void removesNothingWhenRefusedOrFailing();
    void finishesKilledRuns_data();
    void finishesKilledRuns();
    void replacesLeftoversOnlyWhenAskedAndKeepsWhatItReplaces();
    void listsRecordsThatAreNoRegularFilesAsDamaged();

private:
    HiveFile& system() { return *HiveFile::open(m_prefix->file(u"system.reg"_s)); }
    HiveFile& user() { return *HiveFile::open(m_prefix->file(u"user.reg"_s)); }
    QString deleteEntry(const QStringList& key);
    QString driveC() const { return QFileInfo(m_prefix->file(u"drive_c"_s)).canonicalFilePath(); }
    Leftovers makeLeftovers();
    QStringList stateOf(const Leftovers& leftovers);
    QString keepLeftovers(const Leftovers& leftovers);

    std::unique_ptr<TestPrefix> m_prefix;
};

void TestEntryTrash::init()
{
    QVERIFY(qEnvironmentVariableIsSet("XDG_DATA_HOME")); // never the user's own trash
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(m_prefix->copyFixtureHives());
    QVERIFY(QDir().mkpath(m_prefix->file(u"drive_c"_s)));
}

void TestEntryTrash::cleanup()
{
    QDir(EntryTrash::folderFor(m_prefix->path())).removeRecursively();
}

QString TestEntryTrash::deleteEntry(const QStringList& key)
{
    system().modify([&](HiveDocument& doc) { doc.deleteKey(doc.findKey(key)); });
    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    return records.isEmpty() ? QString() : records.front().id;
}

void TestEntryTrash::restoresEveryEntryAsItWas_data()
{
    QTest::addColumn<QStringList>("key");
    TestPrefix fixture;
    QVERIFY(fixture.copyFixtureHives());
    const auto hive = HiveDocument::fromBytes(fixture.read(u"system.reg"_s));
    for (const QStringList& parent : {uninstall, uninstall32}) {
        const HiveKey* key = hive->findKey(parent);
        QVERIFY(key);
        for (const auto& entry : key->subkeys())
            QTest::newRow(qPrintable(entry->path().join(u'\\'))) << entry->path();
    }
}

void TestEntryTrash::restoresEveryEntryAsItWas()
{
    QFETCH(QStringList, key);
    const QByteArray original = m_prefix->read(u"system.reg"_s);
    const QString id = deleteEntry(key);
    QVERIFY(!id.isEmpty());
    QVERIFY(!system().current().findKey(key));

    const TrashRecord record = EntryTrash::read(m_prefix->path(), id);
    QCOMPARE(record.action, u"deleted"_s);
    QVERIFY(!EntryTrash::wouldReplace(m_prefix->path(), record));
    EntryTrash::restore(m_prefix->path(), id, false);

    const QByteArray restored = m_prefix->read(u"system.reg"_s);
    QVERIFY(restored != original); // the key's time is new
    QCOMPARE(withoutTimes(restored), withoutTimes(original));
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty()); // a restored record goes
}

void TestEntryTrash::restoresAnEditedEntry()
{
    const QStringList key = uninstall + QStringList{u"Twin2"_s};
    const QByteArray original = m_prefix->read(u"system.reg"_s);
    system().modify([&](HiveDocument& doc) {
        HiveKey* entry = doc.findKey(key);
        doc.setValue(entry, u"DisplayName"_s, RegistryValue::fromString(u"Renamed"_s));
        doc.deleteValue(entry, u"UninstallString"_s);
        doc.deleteKey(doc.findKey(key + QStringList{u"Components"_s}));
    });
    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].action, u"edited"_s);
    QCOMPARE(records[0].name, u"Twin App"_s);
    QVERIFY(EntryTrash::wouldReplace(m_prefix->path(), records[0]));

    EntryTrash::restore(m_prefix->path(), records[0].id, true);
    QCOMPARE(withoutTimes(m_prefix->read(u"system.reg"_s)), withoutTimes(original));
}

void TestEntryTrash::replacesAnExistingKeyOnlyWhenAsked()
{
    const QStringList key = uninstall + QStringList{u"Baer"_s};
    const QByteArray original = m_prefix->read(u"system.reg"_s);
    const QString id = deleteEntry(key);
    system().modify([&](HiveDocument& doc) {
        doc.setValue(doc.createKey(key), u"DisplayName"_s, RegistryValue::fromString(u"Newcomer"_s));
    });
    const QByteArray withNewcomer = m_prefix->read(u"system.reg"_s);

    QVERIFY_THROWS_EXCEPTION(EntryExistsError, EntryTrash::restore(m_prefix->path(), id, false));
    QCOMPARE(m_prefix->read(u"system.reg"_s), withNewcomer);
    QCOMPARE(EntryTrash::list(m_prefix->path()).size(), 1);

    EntryTrash::restore(m_prefix->path(), id, true);
    QCOMPARE(withoutTimes(m_prefix->read(u"system.reg"_s)), withoutTimes(original));
    // What was replaced is in the trash in turn.
    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].action, u"edited"_s);
    QCOMPARE(records[0].name, u"Newcomer"_s);
}

void TestEntryTrash::refusesWhileWineRuns()
{
    const QString id = deleteEntry(uninstall32 + QStringList{u"Legacy32"_s});
    const QByteArray deleted = m_prefix->read(u"system.reg"_s);
    {
        LockHolder server(WineServer::lockFileCandidates(m_prefix->path()).first());
        QVERIFY(server.locked());
        QVERIFY_THROWS_EXCEPTION(WineRunningError, EntryTrash::restore(m_prefix->path(), id, false));
    }
    QCOMPARE(m_prefix->read(u"system.reg"_s), deleted);
    QCOMPARE(EntryTrash::read(m_prefix->path(), id).id, id); // kept
}

void TestEntryTrash::refusesDamagedRecords_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("why");
    QTest::newRow("text changed") << QByteArray("Twin App") << QByteArray("Twin Apq") << u"changed or cut short"_s;
    QTest::newRow("not a record") << QByteArray("Kestrin entry record 1") << QByteArray("Something else")
                                  << u"not a record"_s;
    QTest::newRow("unknown hive") << QByteArray("Hive: system.reg") << QByteArray("Hive: ../system.reg") << u"hive"_s;
    QTest::newRow("unknown action") << QByteArray("Action: deleted") << QByteArray("Action: wiped") << u"action"_s;
    QTest::newRow("no time") << QByteArray("Time: 2") << QByteArray("Time: x") << u"time"_s;
    QTest::newRow("a key outside the uninstall keys")
        << QByteArray("Key: Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Twin2")
        << QByteArray("Key: Software\\Microsoft") << u"not one the trash keeps"_s;
}

void TestEntryTrash::refusesDamagedRecords()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, why);
    const QString id = deleteEntry(uninstall + QStringList{u"Twin2"_s});
    const QString path = EntryTrash::folderFor(m_prefix->path()) + u'/' + id + u".record"_s;
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    QVERIFY(bytes.contains(from));
    QVERIFY(!writeFile(path, bytes.replace(from, to)).isEmpty());

    const QByteArray before = m_prefix->read(u"system.reg"_s);
    QString message;
    try {
        EntryTrash::restore(m_prefix->path(), id, true);
    } catch (const KestrinError& error) {
        message = error.message();
    }
    QVERIFY2(message.contains(why), qPrintable(message));
    QCOMPARE(m_prefix->read(u"system.reg"_s), before);
    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    QCOMPARE(records.size(), 1);
    QVERIFY(records[0].damage.contains(why));
}

void TestEntryTrash::listsNewestFirstAndPurges()
{
    const QString first = deleteEntry(uninstall + QStringList{u"Twin1"_s});
    const QString second = deleteEntry(uninstall + QStringList{u"Twin2"_s});
    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].id, second);
    QCOMPARE(records[1].id, first);

    // Ids come from the command line: none may reach outside the trash folder.
    for (const QString& bad : {u"../x"_s, u"/etc/passwd"_s, QString(), u"-f"_s})
        QVERIFY_THROWS_EXCEPTION(KestrinError, EntryTrash::purge(m_prefix->path(), bad));
    QVERIFY_THROWS_EXCEPTION(KestrinError, EntryTrash::purge(m_prefix->path(), u"20000101-000000-000-1"_s));

    EntryTrash::purge(m_prefix->path(), second);
    QCOMPARE(EntryTrash::list(m_prefix->path()).size(), 1);
    QVERIFY(QDir(EntryTrash::folderFor(m_prefix->path())).entryList({second + u"*"_s}).isEmpty());
    QVERIFY_THROWS_EXCEPTION(KestrinError, EntryTrash::read(m_prefix->path(), second));
}

void TestEntryTrash::keepsAndRestoresFiles()
{
    QTemporaryDir home;
    const QString desktop = writeFile(home.filePath(u"applications/wine/A.desktop"_s), "[Desktop Entry]\n");
    const QString menu = writeFile(home.filePath(u"menus/applications-merged/wine-A.menu"_s), "<Menu/>\n");
    QVERIFY(!desktop.isEmpty() && !menu.isEmpty());

    // The values a clean-up removes, and one it leaves.
    const RegistryValue lnk = RegistryValue::fromString(u"C:\\users\\Public\\Start Menu\\A.lnk"_s);
    auto user = HiveFile::open(m_prefix->file(u"user.reg"_s));
    user->modify([&](HiveDocument& doc) {
        HiveKey* key = doc.createKey(menuFiles);
        doc.setValue(key, u"Z:\\a.desktop"_s, lnk);
        doc.setValue(key, u"Z:\\other.desktop"_s, lnk);
    });
    TrashRecord record;
    record.time = QDateTime::currentDateTimeUtc();
    record.action = u"menu-removed"_s;
    record.prefix = m_prefix->path();
    record.hive = u"user.reg"_s;
    record.key = menuFiles.join(u'\\');
    record.name = u"A"_s;
    record.text =
        "[Software\\\\Wine\\\\MenuFiles]\n\"Z:\\\\a.desktop\"=\"C:\\\\users\\\\Public\\\\Start Menu\\\\A.lnk\"\n";

    // undoKeep puts everything back.
    QString id = EntryTrash::keepFiles(m_prefix->path(), record, {desktop, menu});
    QVERIFY(!QFile::exists(desktop) && !QFile::exists(menu));
    EntryTrash::undoKeep(m_prefix->path(), id);
    QVERIFY(QFile::exists(desktop) && QFile::exists(menu));
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty());

    // Kept, then the value removed as a clean-up does; restore brings back both.
    id = EntryTrash::keepFiles(m_prefix->path(), record, {desktop, menu});
    user->modify([&](HiveDocument& doc) { doc.deleteValue(doc.findKey(menuFiles), u"Z:\\a.desktop"_s); });
    writeFile(desktop, "[Desktop Entry]\nName=Someone else's\n");
    QVERIFY(EntryTrash::wouldReplace(m_prefix->path(), EntryTrash::read(m_prefix->path(), id)));
    QVERIFY_THROWS_EXCEPTION(EntryExistsError, EntryTrash::restore(m_prefix->path(), id, false));
    QCOMPARE(readBytes(desktop), QByteArray("[Desktop Entry]\nName=Someone else's\n"));

    {
        LockHolder server(WineServer::lockFileCandidates(m_prefix->path()).first());
        QVERIFY(server.locked());
        QVERIFY_THROWS_EXCEPTION(WineRunningError, EntryTrash::restore(m_prefix->path(), id, true));
    }
    QCOMPARE(readBytes(desktop), QByteArray("[Desktop Entry]\nName=Someone else's\n"));
    QVERIFY(!QFile::exists(menu));

    EntryTrash::restore(m_prefix->path(), id, true);
    QCOMPARE(readBytes(desktop), QByteArray("[Desktop Entry]\n"));
    QCOMPARE(readBytes(menu), QByteArray("<Menu/>\n"));
    const HiveKey* key = user->current().findKey(menuFiles);
    QVERIFY(key && key->findValue(u"Z:\\a.desktop"_s) && key->findValue(u"Z:\\other.desktop"_s));
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty());
}

// An install folder with settings, logs and an empty folder, a desktop shortcut, and the program's
// keys in both hives and both views.
Leftovers TestEntryTrash::makeLeftovers()
{
    const QString folder = driveC() + u"/Program Files/Acme App"_s;
    writeFile(folder + u"/settings.ini"_s, "[main]\r\nx=1\r\n");
    writeFile(folder + u"/logs/run.log"_s, QByteArray(70000, 'l'));
    QDir().mkpath(folder + u"/empty"_s);
    const QString shortcut =
        writeFile(driveC() + u"/users/Public/Desktop/Acme App.lnk"_s, QByteArray("L\0\0\0\x01", 5));
    const QStringList app{u"Software"_s, u"Acme"_s, u"App"_s};
    const QStringList app32{u"Software"_s, u"Wow6432Node"_s, u"Acme"_s, u"App"_s};
    system().modify([&](HiveDocument& doc) {
        doc.setValue(doc.createKey(app), u"Path"_s, RegistryValue::fromString(u"C:\\Program Files\\Acme App"_s));
        doc.setValue(doc.createKey(app + QStringList{u"Recent"_s}), QString(), RegistryValue::fromDword(7));
        doc.createKey(app + QStringList{u"Empty"_s});
        doc.setValue(doc.createKey(app32), u"Version"_s, RegistryValue::fromMultiString({u"1"_s, u"2"_s}));
    });
    user().modify([&](HiveDocument& doc) {
        doc.setValue(doc.createKey(app), u"Window"_s, RegistryValue::fromBinary(QByteArray("\x00\x01\xff", 3)));
    });
    return {
        {folder, shortcut},
        {{u"system.reg"_s, app.join(u'\\')}, {u"system.reg"_s, app32.join(u'\\')}, {u"user.reg"_s, app.join(u'\\')}}};
}

QStringList TestEntryTrash::stateOf(const Leftovers& leftovers)
{
    QStringList state;
    for (const QString& path : leftovers.paths)
        state += treeOf(path);
    for (const TrashKey& key : leftovers.keys)
        state += valuesBelow((key.hive == u"user.reg"_s ? user() : system()).current().findKey(key.key.split(u'\\')));
    return state;
}

QString TestEntryTrash::keepLeftovers(const Leftovers& leftovers)
{
    TrashRecord record;
    record.time = QDateTime::currentDateTimeUtc();
    record.prefix = m_prefix->path();
    record.name = u"Acme App"_s;
    return EntryTrash::keepLeftovers(m_prefix->path(), record, leftovers.paths, leftovers.keys);
}

void TestEntryTrash::removesAndRestoresLeftovers()
{
    Leftovers leftovers = makeLeftovers();
    const QStringList before = stateOf(leftovers);
    const QByteArray otherKeys = withoutTimes(m_prefix->read(u"system.reg"_s));
    // What lies inside a folder that goes goes with it.
    leftovers.paths << leftovers.paths[0] + u"/settings.ini"_s;
    const QString id = keepLeftovers(leftovers);
    leftovers.paths.removeLast();

    QCOMPARE(stateOf(leftovers), QStringList());
    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].damage, QString());
    QCOMPARE(records[0].action, u"leftovers-removed"_s);
    QCOMPARE(records[0].name, u"Acme App"_s);
    QCOMPARE(records[0].files, leftovers.paths);
    QCOMPARE(records[0].keys, leftovers.keys);
    QVERIFY(records[0].text.contains("[system.reg\\\\Software\\\\Wow6432Node\\\\Acme\\\\App]"));
    QVERIFY(records[0].text.contains("[user.reg\\\\Software\\\\Acme\\\\App]"));
    QVERIFY(!EntryTrash::wouldReplace(m_prefix->path(), records[0]));

    EntryTrash::restore(m_prefix->path(), id, false);
    QCOMPARE(stateOf(leftovers), before);
    QCOMPARE(withoutTimes(m_prefix->read(u"system.reg"_s)), otherKeys);
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty());
}

void TestEntryTrash::removesNothingWhenRefusedOrFailing_data()
{
    QTest::addColumn<QString>("path"); // below the prefix; "=" for drive_c's canonical path
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("trashHome"); // XDG_DATA_HOME, below the prefix unless absolute
    QTest::addColumn<QString>("why");       // "Wine": Wine runs in the prefix
    const QString ok = u"Software\\Acme\\App"_s;
    QTest::newRow("outside drive_c") << u"system.reg"_s << ok << QString() << u"not inside"_s;
    QTest::newRow("drive_c itself") << u"="_s << ok << QString() << u"itself"_s;
    QTest::newRow("through a link to a folder outside")
        << u"drive_c/linked/secret.txt"_s << ok << QString() << u"symbolic link"_s;
    QTest::newRow("a link") << u"drive_c/linked"_s << ok << QString() << u"symbolic link"_s;
    QTest::newRow("gone") << u"drive_c/nothing"_s << ok << QString() << u"does not exist"_s;
    QTest::newRow("an uninstall key") << QString() << u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Baer"_s
                                      << QString() << u"uninstall"_s;
    QTest::newRow("a key every program shares")
        << QString() << u"Software\\Wow6432Node\\Classes"_s << QString() << u"own key"_s;
    QTest::newRow("no such key") << QString() << u"Software\\Acme\\Nothing"_s << QString() << u"does not exist"_s;
    QTest::newRow("Wine runs") << QString() << ok << QString() << u"Wine"_s;
    // The trash inside the last folder that goes: it cannot move into itself, and what moved goes back.
    QTest::newRow("a move fails") << u"drive_c/users/me"_s << ok << u"drive_c/users/me"_s << u"could not be moved"_s;
    QTest::newRow("another file system") << QString() << ok << u"/dev/shm/kestrin-test"_s << u"another file system"_s;
}

void TestEntryTrash::removesNothingWhenRefusedOrFailing()
{
    QFETCH(QString, path);
    QFETCH(QString, key);
    QFETCH(QString, trashHome);
    QFETCH(QString, why);
    const QByteArray data = qgetenv("XDG_DATA_HOME");
    const QString home = trashHome.startsWith(u'/') ? trashHome : m_prefix->file(trashHome);
    const auto restoreHome = qScopeGuard([&] {
        qputenv("XDG_DATA_HOME", data);
        if (trashHome.startsWith(u'/'))
            QDir(home).removeRecursively();
    });
    if (!trashHome.isEmpty()) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(home));
        QVERIFY(QDir().mkpath(EntryTrash::folderFor(m_prefix->path())));
        if (QStorageInfo(home).device() == QStorageInfo(m_prefix->path()).device() && trashHome.startsWith(u'/'))
            QSKIP("/dev/shm is on the prefix's file system here");
    }
    QTemporaryDir outside;
    writeFile(outside.filePath(u"secret.txt"_s), "mine");
    QVERIFY(QFile::link(outside.path(), driveC() + u"/linked"_s));
    Leftovers leftovers = makeLeftovers();
    leftovers.keys.front().key = key;
    if (!path.isEmpty())
        leftovers.paths << (path == u"="_s ? driveC() : m_prefix->file(path));
    const QStringList before = stateOf(leftovers) + treeOf(outside.path());
    const QByteArray systemBefore = m_prefix->read(u"system.reg"_s);

    QString message;
    try {
        std::optional<LockHolder> server;
        if (why == u"Wine"_s)
            server.emplace(WineServer::lockFileCandidates(m_prefix->path()).first());
        keepLeftovers(leftovers);
    } catch (const WineRunningError&) {
        message = u"Wine"_s;
    } catch (const KestrinError& error) {
        message = error.message();
    }
    QVERIFY2(!message.isEmpty() && message.contains(why), qPrintable(message));
    QCOMPARE(stateOf(leftovers) + treeOf(outside.path()), before);
    QCOMPARE(m_prefix->read(u"system.reg"_s), systemBefore);
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty());
}

void TestEntryTrash::finishesKilledRuns_data()
{
    // Which of the two paths are in their place and which hives hold the keys when the run was killed.
    QTest::addColumn<QString>("pathsBack");
    QTest::addColumn<bool>("systemBack");
    QTest::addColumn<bool>("userBack");
    QTest::newRow("removal killed after writing its record") << u"11"_s << true << true;
    QTest::newRow("removal killed after moving a path") << u"01"_s << true << true;
    QTest::newRow("removal killed between the hives") << u"00"_s << false << true;
    QTest::newRow("restore killed between the hives") << u"00"_s << true << false;
    QTest::newRow("restore killed after a path") << u"10"_s << true << true;
}

void TestEntryTrash::finishesKilledRuns()
{
    QFETCH(QString, pathsBack);
    QFETCH(bool, systemBack);
    QFETCH(bool, userBack);
    const Leftovers leftovers = makeLeftovers();
    const QStringList before = stateOf(leftovers);
    const QByteArray systemHive = m_prefix->read(u"system.reg"_s);
    const QByteArray userHive = m_prefix->read(u"user.reg"_s);
    const QString id = keepLeftovers(leftovers);

    // The state the killed run left, made from what the whole run did.
    const QString kept = EntryTrash::folderFor(m_prefix->path()) + u'/' + id + u".files/"_s;
    for (qsizetype i = 0; i < pathsBack.size(); ++i) {
        if (pathsBack[i] == u'1')
            QVERIFY(QFile::rename(kept + QString::number(i), leftovers.paths[i]));
    }
    if (systemBack)
        QVERIFY(m_prefix->write(u"system.reg"_s, systemHive));
    if (userBack)
        QVERIFY(m_prefix->write(u"user.reg"_s, userHive));

    const TrashRecord record = EntryTrash::read(m_prefix->path(), id);
    QVERIFY(!EntryTrash::wouldReplace(m_prefix->path(), record));
    EntryTrash::restore(m_prefix->path(), id, false);
    QCOMPARE(stateOf(leftovers), before);
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty());
}

void TestEntryTrash::replacesLeftoversOnlyWhenAskedAndKeepsWhatItReplaces()
{
    const Leftovers leftovers = makeLeftovers();
    const QStringList before = stateOf(leftovers);
    const QString id = keepLeftovers(leftovers);
    // Installed again: the shortcut is back, another value is set, and the key has one more value.
    writeFile(leftovers.paths[1], "new shortcut");
    const QStringList app{u"Software"_s, u"Acme"_s, u"App"_s};
    user().modify([&](HiveDocument& doc) {
        doc.setValue(doc.createKey(app), u"Window"_s, RegistryValue::fromString(u"new"_s));
        doc.setValue(doc.findKey(app), u"Added"_s, RegistryValue::fromDword(1));
    });
    const QStringList reinstalled = stateOf(leftovers);
    QVERIFY(EntryTrash::wouldReplace(m_prefix->path(), EntryTrash::read(m_prefix->path(), id)));
    QVERIFY_THROWS_EXCEPTION(EntryExistsError, EntryTrash::restore(m_prefix->path(), id, false));
    QCOMPARE(stateOf(leftovers), reinstalled);
    QCOMPARE(EntryTrash::list(m_prefix->path()).size(), 1);

    EntryTrash::restore(m_prefix->path(), id, true);
    QCOMPARE(stateOf(leftovers), before);
    // What was replaced is a record of its own, and comes back from it.
    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].files, QStringList{leftovers.paths[1]});
    QCOMPARE(records[0].keys, QList<TrashKey>{leftovers.keys[2]});
    EntryTrash::restore(m_prefix->path(), records[0].id, true);
    QCOMPARE(stateOf({{leftovers.paths[1]}, {leftovers.keys[2]}}), reinstalled);
}

void TestEntryTrash::listsRecordsThatAreNoRegularFilesAsDamaged()
{
    const QString folder = EntryTrash::folderFor(m_prefix->path());
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(::mkfifo(QFile::encodeName(folder + u"/20000101-000000-000-1.record"_s).constData(), 0600), 0);
    QVERIFY(QFile::link(u"/dev/zero"_s, folder + u"/20000101-000000-000-2.record"_s));
    QFile big(folder + u"/20000101-000000-000-3.record"_s);
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(17) << 20));
    big.close();

    const QList<TrashRecord> records = EntryTrash::list(m_prefix->path());
    QCOMPARE(records.size(), 3);
    for (const TrashRecord& record : records) {
        QVERIFY2(record.damage.contains(u"regular file"_s) || record.damage.contains(u"larger than"_s),
                 qPrintable(record.damage));
        QVERIFY_THROWS_EXCEPTION(KestrinError, EntryTrash::restore(m_prefix->path(), record.id, true));
        EntryTrash::purge(m_prefix->path(), record.id);
    }
    QVERIFY(EntryTrash::list(m_prefix->path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestEntryTrash)
#include "tst_entrytrash.moc"
