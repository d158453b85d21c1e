#include "TestPrefix.h"
#include "WineServerDouble.h"

#include "base/KestrinError.h"
#include "hive/EntryTrash.h"
#include "hive/HiveFile.h"
#include "prefix/WineServer.h"

#include <QRegularExpression>
#include <QTest>

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

private:
    HiveFile& system() { return *HiveFile::open(m_prefix->file(u"system.reg"_s)); }
    QString deleteEntry(const QStringList& key);

    std::unique_ptr<TestPrefix> m_prefix;
};

void TestEntryTrash::init()
{
    QVERIFY(qEnvironmentVariableIsSet("XDG_DATA_HOME")); // never the user's own trash
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(m_prefix->copyFixtureHives());
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

QTEST_GUILESS_MAIN(TestEntryTrash)
#include "tst_entrytrash.moc"
