#include "TestPrefix.h"

#include "base/Clock.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "inventory/UsageCache.h"

#include <QLocale>
#include <QTest>
#include <QtEndian>

#include <ctime>
#include <limits>

namespace {

const QString Untouched = QStringLiteral("untouched");

void setTimeZone(const QByteArray& tz)
{
    qputenv("TZ", tz);
    tzset();
}

QByteArray record(qint64 size, quint64 time, qint32 count, const QString& path, int length = UsageCache::RecordSize)
{
    QByteArray bytes(length, '\0');
    if (length >= 28) {
        qToLittleEndian(size, bytes.data() + 8);
        qToLittleEndian(time, bytes.data() + 16);
        qToLittleEndian(count, bytes.data() + 24);
        for (qsizetype i = 0; i < path.size() && 28 + 2 * i + 1 < length; ++i)
            qToLittleEndian(path.at(i).unicode(), bytes.data() + 28 + 2 * i);
    }
    return bytes;
}

} // namespace

class TestUsageCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        setTimeZone("UTC-2"); // two hours east of UTC
    }
    void cleanupTestCase() { qunsetenv("TZ"); }

    void formatSize_data();
    void formatSize();
    void formatSizeUsesLocaleSeparators();
    void formatFrequency_data();
    void formatFrequency();
    void formatDate_data();
    void formatDate();
    void formatDateTakesTheOffsetInForceNow_data();
    void formatDateTakesTheOffsetInForceNow();
    void readFixture_data();
    void readFixture();
    void readWrittenRecords_data();
    void readWrittenRecords();
    void loadRefillsKeys();
    void missingCacheKey();
};

void TestUsageCache::formatSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << QString();
    QTest::newRow("negative") << qint64(-1048576) << QString();
    QTest::newRow("one byte") << qint64(1) << QStringLiteral("0.00 MB");
    QTest::newRow("exact half rounds up") << qint64(131072) << QStringLiteral("0.13 MB");
    QTest::newRow("just below half") << qint64(131071) << QStringLiteral("0.12 MB");
    QTest::newRow("carry into whole") << qint64(1048575) << QStringLiteral("1.00 MB");
    QTest::newRow("117.74") << qint64(123456789) << QStringLiteral("117.74 MB");
    QTest::newRow("one GiB") << qint64(1073741824) << QStringLiteral("1,024.00 MB");
    QTest::newRow("two groups") << qint64(1048576) * 1234567 << QStringLiteral("1,234,567.00 MB");
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << QStringLiteral("8,796,093,022,208.00 MB");
}

void TestUsageCache::formatSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(UsageCache::FormatUsageSize(bytes), text);
}

void TestUsageCache::formatSizeUsesLocaleSeparators()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString german = UsageCache::FormatUsageSize(1073741824);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(german, QStringLiteral("1.024,00 MB"));
}

void TestUsageCache::formatFrequency_data()
{
    QTest::addColumn<qint32>("count");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QStringLiteral("rarely");
    QTest::newRow("2") << 2 << QStringLiteral("rarely");
    QTest::newRow("3") << 3 << QStringLiteral("occasionally");
    QTest::newRow("10") << 10 << QStringLiteral("occasionally");
    QTest::newRow("11") << 11 << QStringLiteral("frequently");
    QTest::newRow("max") << std::numeric_limits<qint32>::max() << QStringLiteral("frequently");
    QTest::newRow("-1") << -1 << QString();
    QTest::newRow("min") << std::numeric_limits<qint32>::min() << QString();
}

void TestUsageCache::formatFrequency()
{
    QFETCH(qint32, count);
    QFETCH(QString, text);
    QCOMPARE(UsageCache::FormatUsageFrequency(count), text);
}

void TestUsageCache::formatDate_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<quint32>("low");
    QTest::addColumn<quint32>("high");
    QTest::addColumn<QString>("text");
    const QByteArray east = "UTC-2", west = "UTC+2", utc = "UTC0";
    QTest::newRow("zero") << east << 0u << 0u << QString();
    QTest::newRow("all ones") << east << 0xFFFFFFFFu << 0xFFFFFFFFu << QStringLiteral("(Unknown)");
    QTest::newRow("high bit") << utc << 0u << 0x80000000u << QStringLiteral("(Unknown)");
    // 2003-06-19 23:30 UTC
    QTest::newRow("east of UTC") << east << 0xB3828C00u << 0x01C336BAu << QStringLiteral("2003-06-20");
    QTest::newRow("at UTC") << utc << 0xB3828C00u << 0x01C336BAu << QStringLiteral("2003-06-19");
    QTest::newRow("west of UTC") << west << 0xB3828C00u << 0x01C336BAu << QStringLiteral("2003-06-19");
    // 1601-01-01 01:00 UTC: two hours west is before the epoch
    QTest::newRow("epoch") << utc << 0x61C46800u << 0x8u << QStringLiteral("1601-01-01");
    QTest::newRow("underflow") << west << 0x61C46800u << 0x8u << QStringLiteral("(Unknown)");
    // 9999-12-31 23:00 UTC: two hours east is year 10000
    QTest::newRow("last year") << utc << 0x6FFBD800u << 0x24C85A56u << QStringLiteral("9999-12-31");
    QTest::newRow("past 9999") << east << 0x6FFBD800u << 0x24C85A56u << QStringLiteral("(Unknown)");
    QTest::newRow("largest") << utc << 0xFFFFFFFFu << 0x7FFFFFFFu << QStringLiteral("(Unknown)");
}

void TestUsageCache::formatDate()
{
    QFETCH(QByteArray, tz);
    QFETCH(quint32, low);
    QFETCH(quint32, high);
    QFETCH(QString, text);
    setTimeZone(tz);
    const QString result = UsageCache::FormatUsageDate({low, high});
    setTimeZone("UTC-2");
    QCOMPARE(result, text);
}

// Central European time: one hour east of UTC in winter, two in summer.
void TestUsageCache::formatDateTakesTheOffsetInForceNow_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("used"); // UTC
    QTest::addColumn<QString>("text");

    const QDateTime winter(QDate(2024, 1, 15), QTime(12, 0));
    const QDateTime summer(QDate(2024, 7, 15), QTime(12, 0));
    const QDateTime juneEvening(QDate(2003, 6, 19), QTime(22, 30), Qt::UTC);
    const QDateTime yearEnd(QDate(2003, 12, 31), QTime(22, 30), Qt::UTC);
    QTest::newRow("summer use, winter now") << winter << juneEvening << QStringLiteral("2003-06-19");
    QTest::newRow("summer use, summer now") << summer << juneEvening << QStringLiteral("2003-06-20");
    QTest::newRow("winter use, winter now") << winter << yearEnd << QStringLiteral("2003-12-31");
    QTest::newRow("winter use, summer now") << summer << yearEnd << QStringLiteral("2004-01-01");
}

void TestUsageCache::formatDateTakesTheOffsetInForceNow()
{
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, used);
    QFETCH(QString, text);
    setTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
    // Made when asked, so that the local time is that of the zone set here.
    Clock::setSource([now] { return QDateTime(now.date(), now.time()); });
    const int offsetNow = Clock::now().offsetFromUtc();
    const quint64 ticks = quint64(QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC).secsTo(used)) * 10'000'000;
    const QString result = UsageCache::FormatUsageDate({quint32(ticks), quint32(ticks >> 32)});
    Clock::setSource({});
    setTimeZone("UTC-2");
    QCOMPARE(offsetNow, now.date().month() == 7 ? 7200 : 3600); // the zone has its summer time
    QCOMPARE(result, text);
}

void TestUsageCache::readFixture_data()
{
    QTest::addColumn<QString>("subkey");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QStringList>("texts"); // size, last used, frequency, program path
    QTest::newRow("other letter case") << QStringLiteral("FooTool_is1") << true
                                       << QStringList{QStringLiteral("117.74 MB"), QStringLiteral("2003-06-20"),
                                                      QStringLiteral("occasionally"),
                                                      QStringLiteral("C:\\Program Files\\Foo Tool\\foo.exe")};
    QTest::newRow("all-ones time") << QStringLiteral("Twin1") << true
                                   << QStringList{QStringLiteral("1,024.00 MB"), QStringLiteral("(Unknown)"),
                                                  QStringLiteral("frequently"),
                                                  QStringLiteral("C:\\Twin\\one\\twin.exe")};
    QTest::newRow("empty texts") << QStringLiteral("TWIN2") << true
                                 << QStringList{QStringLiteral("0.00 MB"), QString(), QString(), QString()};
    const QStringList untouched{Untouched, Untouched, Untouched, Untouched};
    QTest::newRow("551 bytes") << QStringLiteral("Baer") << false << untouched;
    QTest::newRow("string value") << QStringLiteral("UPPER") << false << untouched;
    QTest::newRow("no subkey") << QStringLiteral("NoSuchEntry") << false << untouched;
}

void TestUsageCache::readFixture()
{
    QFETCH(QString, subkey);
    QFETCH(bool, found);
    QFETCH(QStringList, texts);
    TestPrefix prefix;
    QVERIFY(prefix.copyData(QStringLiteral("prefix/system.reg"), QStringLiteral("system.reg")));
    UsageCache cache{WinePrefix(prefix.path())};
    cache.LoadUsageKeys();
    QStringList out{Untouched, Untouched, Untouched, Untouched};
    QCOMPARE(cache.ReadUsageInfo(subkey, out[0], out[1], out[2], out[3]), found);
    QCOMPARE(out, texts);
}

void TestUsageCache::readWrittenRecords_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QStringList>("texts"); // empty when no usage texts are expected

    const QString longPath = QString(300, QLatin1Char('p'));
    QTest::newRow("553 bytes") << record(5, 0, 3, QStringLiteral("C:\\a.exe"), 553) << quint32(RegType::Binary)
                               << QStringList();
    QTest::newRow("552 bytes, not binary")
        << record(5, 0, 3, QStringLiteral("C:\\a.exe")) << quint32(RegType::None) << QStringList();
    QTest::newRow("path without NUL") << record(-5, 0, 2, longPath) << quint32(RegType::Binary)
                                      << QStringList{QString(), QString(), QStringLiteral("rarely"),
                                                     longPath.left(262)};
    QTest::newRow("non-ASCII path") << record(0, 0, 3, QStringLiteral("C:\\B\u00e4r\\\u20ac.exe"))
                                    << quint32(RegType::Binary)
                                    << QStringList{QString(), QString(), QStringLiteral("occasionally"),
                                                   QStringLiteral("C:\\B\u00e4r\\\u20ac.exe")};
}

// Extra records written next to the fixture's: a bad one must not disturb the others.
void TestUsageCache::readWrittenRecords()
{
    QFETCH(QByteArray, data);
    QFETCH(quint32, type);
    QFETCH(QStringList, texts);
    TestPrefix prefix;
    QVERIFY(prefix.copyData(QStringLiteral("prefix/system.reg"), QStringLiteral("system.reg")));
    {
        RegistryAccess registry{WinePrefix(prefix.path())};
        registry.RootKey(RegistryRoot::LocalMachine);
        QVERIFY(registry.OpenKey(sARPCacheKey + QStringLiteral("\\Written"), true));
        registry.writeValue(QStringLiteral("SlowInfoCache"), RegistryValue::fromBinary(data, type));
    }
    UsageCache cache{WinePrefix(prefix.path())};
    cache.LoadUsageKeys();
    const QStringList untouched(4, Untouched);
    QStringList out = untouched;
    QCOMPARE(cache.ReadUsageInfo(QStringLiteral("written"), out[0], out[1], out[2], out[3]), !texts.isEmpty());
    QCOMPARE(out, texts.isEmpty() ? untouched : texts);

    QString size, lastUsed, frequency, path;
    QVERIFY(cache.ReadUsageInfo(QStringLiteral("footool_IS1"), size, lastUsed, frequency, path));
    QCOMPARE(size, QStringLiteral("117.74 MB"));
}

void TestUsageCache::loadRefillsKeys()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyData(QStringLiteral("prefix/system.reg"), QStringLiteral("system.reg")));
    UsageCache cache{WinePrefix(prefix.path())};
    cache.LoadUsageKeys();
    const QStringList fixtureKeys{QStringLiteral("Baer"), QStringLiteral("footool_IS1"), QStringLiteral("Twin1"),
                                  QStringLiteral("Twin2"), QStringLiteral("UPPER")};
    QCOMPARE(cache.UsageKeys(), fixtureKeys);

    RegistryAccess registry{WinePrefix(prefix.path())};
    registry.RootKey(RegistryRoot::LocalMachine);
    QVERIFY(registry.DeleteKey(sARPCacheKey + QStringLiteral("\\Twin1")));
    cache.LoadUsageKeys();
    QCOMPARE(cache.UsageKeys().size(), fixtureKeys.size() - 1);
    QString size, lastUsed, frequency, path;
    QVERIFY(!cache.ReadUsageInfo(QStringLiteral("Twin1"), size, lastUsed, frequency, path));
    QVERIFY(cache.ReadUsageInfo(QStringLiteral("Twin2"), size, lastUsed, frequency, path));
}

void TestUsageCache::missingCacheKey()
{
    TestPrefix prefix; // no system.reg at all
    UsageCache cache{WinePrefix(prefix.path())};
    cache.LoadUsageKeys();
    QVERIFY(cache.UsageKeys().isEmpty());
    QString size = Untouched, lastUsed, frequency, path;
    QVERIFY(!cache.ReadUsageInfo(QStringLiteral("footool_IS1"), size, lastUsed, frequency, path));
    QCOMPARE(size, Untouched);
}

QTEST_GUILESS_MAIN(TestUsageCache)
#include "tst_usagecache.moc"
