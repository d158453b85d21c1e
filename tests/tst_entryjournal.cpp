#include "TestPrefix.h"

#include "base/KestrinError.h"
#include "hive/EntryJournal.h"
#include "hive/EntryTrash.h"
#include "hive/HiveFile.h"
#include "hive/HiveSyntax.h"

#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QStringList uninstall{u"Software"_s, u"Microsoft"_s, u"Windows"_s, u"CurrentVersion"_s, u"Uninstall"_s};

QStringList entry(const QString& name)
{
    return uninstall + QStringList{name};
}

QStringList records(const QString& folder, const QString& suffix = u"*.record"_s)
{
    return QDir(folder).entryList({suffix}, QDir::Files, QDir::Name);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The verbatim text of a key and its subkeys, cut from the file by hand.
QByteArray sectionsOf(const QByteArray& file, const QByteArray& header)
{
    const qsizetype begin = file.indexOf(QByteArray("\n\n" + header)) + 1;
    qsizetype end = begin + 1;
    const QByteArray prefix = header.chopped(1); // without "]", so subkeys match too
    while (true) {
        const qsizetype next = file.indexOf("\n\n[", end);
        if (next < 0)
            return file.mid(begin);
        if (!file.mid(next + 2).startsWith(QByteArray(prefix + "]")) &&
            !file.mid(next + 2).startsWith(QByteArray(prefix + "\\\\")))
            return file.mid(begin, next + 1 - begin);
        end = next + 1;
    }
}

} // namespace

class TestEntryJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void recordsADeletedEntryBeforeTheSave_data();
    void recordsADeletedEntryBeforeTheSave();
    void recordsAnEditedEntry();
    void recordsNothingOutsideUninstallKeys();
    void refusesTheChangeWhenTheRecordCannotBeWritten();
    void keepsPrefixesApart();

private:
    std::unique_ptr<TestPrefix> m_prefix;
    QString folder() const { return EntryTrash::folderFor(m_prefix->path()); }
};

void TestEntryJournal::init()
{
    QVERIFY(qEnvironmentVariableIsSet("XDG_DATA_HOME")); // never the user's own trash
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(m_prefix->copyFixtureHives());
}

void TestEntryJournal::recordsADeletedEntryBeforeTheSave_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::newRow("with subkeys") << u"Twin2"_s << u"Twin App"_s;
    QTest::newRow("non-ASCII name") << u"Baer"_s << u"B\u00e4r Editor \u2211 \u753b\u50cf"_s;
    QTest::newRow("all value types") << u"Types"_s << u"Value Types Sampler"_s;
    QTest::newRow("MSI") << u"{6B2A1C44-0F5E-4C59-9D1E-1B2C3D4E5F60}"_s << QString();
}

void TestEntryJournal::recordsADeletedEntryBeforeTheSave()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    const QByteArray original = m_prefix->read(u"system.reg"_s);
    auto hive = HiveFile::open(m_prefix->file(u"system.reg"_s));
    hive->modify([&](HiveDocument& doc) { doc.deleteKey(doc.findKey(entry(key))); });
    QVERIFY(!hive->current().findKey(entry(key)));

    const QStringList found = records(folder());
    QCOMPARE(found.size(), 1);
    const QByteArray record = readFile(folder() + u'/' + found[0]);
    QVERIFY(record.startsWith("Kestrin entry record 1\n"));
    QVERIFY(record.contains("\nAction: deleted\n"));
    QVERIFY(record.contains("\nHive: system.reg\n"));
    QVERIFY(record.contains(QByteArray("\nKey: " + entry(key).join(u'\\').toUtf8() + "\n")));
    if (!name.isEmpty())
        QVERIFY2(record.contains(QByteArray("\nName: " + name.toUtf8() + "\n")), record.constData());
    const QByteArray header = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\" +
                              HiveSyntax::formatKeyHeader({key}, 0).split(']').first().mid(1) + "]";
    const QByteArray verbatim = sectionsOf(original, header);
    QVERIFY(!verbatim.isEmpty());
    QVERIFY2(record.endsWith(QByteArray("\n\n" + verbatim)), record.constData());

    // The .reg file names every key and value in regedit's form.
    const QString reg = found[0].chopped(7) + u".reg"_s;
    const QByteArray regBytes = readFile(folder() + u'/' + reg);
    QVERIFY(regBytes.startsWith("\xff\xfe"));
    const QString regText =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(regBytes.constData() + 2), (regBytes.size() - 2) / 2);
    QVERIFY(regText.startsWith(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\"_s +
                               entry(key).join(u'\\') + u"]\r\n"_s));
    if (!name.isEmpty())
        QVERIFY(regText.contains(u"\"DisplayName\"=\""_s + name + u"\"\r\n"_s));
    QVERIFY(original != m_prefix->read(u"system.reg"_s));
}

void TestEntryJournal::recordsAnEditedEntry()
{
    auto hive = HiveFile::open(m_prefix->file(u"system.reg"_s));
    hive->modify([&](HiveDocument& doc) {
        doc.setValue(doc.findKey(entry(u"Baer"_s)), u"DisplayName"_s, RegistryValue::fromString(u"Renamed"_s));
    });
    const QStringList found = records(folder());
    QCOMPARE(found.size(), 1);
    const QByteArray record = readFile(folder() + u'/' + found[0]);
    QVERIFY(record.contains("\nAction: edited\n"));
    QVERIFY(record.contains(QString(u"\nName: B\u00e4r Editor \u2211 \u753b\u50cf\n"_s).toUtf8())); // as it was
}

void TestEntryJournal::recordsNothingOutsideUninstallKeys()
{
    auto hive = HiveFile::open(m_prefix->file(u"system.reg"_s));
    hive->modify([&](HiveDocument& doc) {
        doc.setValue(doc.createKey({u"Software"_s, u"Other"_s}), u"V"_s, RegistryValue::fromString(u"x"_s));
        // A new entry has nothing to bring back either.
        doc.setValue(doc.createKey(entry(u"Brand New"_s)), u"DisplayName"_s, RegistryValue::fromString(u"x"_s));
    });
    QVERIFY(records(folder()).isEmpty());
}

void TestEntryJournal::refusesTheChangeWhenTheRecordCannotBeWritten()
{
    // A file where the trash folder must go: the record cannot be written (even by root).
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    QDir().mkpath(data);
    QDir(data + u"/kestrin"_s).removeRecursively();
    QFile blocker(data + u"/kestrin"_s);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto unblock = qScopeGuard([&] { QFile::remove(data + u"/kestrin"_s); });

    const QByteArray original = m_prefix->read(u"system.reg"_s);
    auto hive = HiveFile::open(m_prefix->file(u"system.reg"_s));
    QString message;
    try {
        hive->modify([&](HiveDocument& doc) { doc.deleteKey(doc.findKey(entry(u"Twin2"_s))); });
    } catch (const KestrinError& error) {
        message = error.message();
    }
    QVERIFY2(message.contains(u"could not write the copy"_s), qPrintable(message));
    QVERIFY(message.endsWith(u"Nothing was changed."_s));
    QCOMPARE(m_prefix->read(u"system.reg"_s), original);
    QVERIFY(hive->current().findKey(entry(u"Twin2"_s)));
}

void TestEntryJournal::keepsPrefixesApart()
{
    TestPrefix other;
    QVERIFY(EntryTrash::folderFor(m_prefix->path()) != EntryTrash::folderFor(other.path()));
    // Two spellings of one prefix are one prefix.
    QCOMPARE(EntryTrash::folderFor(m_prefix->path() + u"/."_s), EntryTrash::folderFor(m_prefix->path()));
    QVERIFY(folder().contains(QFileInfo(m_prefix->path()).fileName())); // recognisable by its name
}

QTEST_GUILESS_MAIN(TestEntryJournal)
#include "tst_entryjournal.moc"
