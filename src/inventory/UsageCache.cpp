#include "inventory/UsageCache.h"

#include "base/Clock.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QtEndian>
#include <QtNumeric>

#include <algorithm>
#include <array>
#include <limits>

namespace {

// Layout of a "SlowInfoCache" record; numbers are little-endian.
constexpr int SizeOffset = 8;
constexpr int TimeOffset = 16;
constexpr int CountOffset = 24;
constexpr int PathOffset = 28;
constexpr int PathMaxChars = (UsageCache::RecordSize - PathOffset) / 2;

constexpr qint64 BytesPerMegabyte = qint64(1) << 20;
constexpr qint64 TicksPerSecond = 10'000'000;
constexpr qint64 TicksPerDay = TicksPerSecond * 86'400;

using Record = std::array<uchar, UsageCache::RecordSize>;

template <typename T> T readLittleEndian(const Record& record, int offset)
{
    return qFromLittleEndian<T>(record.data() + offset);
}

QString unknownDate()
{
    return QStringLiteral("(Unknown)");
}

// Reads the path without assuming the buffer is aligned for 16-bit access.
QString programPathOf(const Record& record)
{
    QString path;
    path.reserve(PathMaxChars);
    for (int i = 0; i < PathMaxChars; ++i) {
        const auto unit = readLittleEndian<quint16>(record, PathOffset + 2 * i);
        if (unit == 0)
            break;
        path.append(QChar(unit));
    }
    return path;
}

// Digits in groups of three, as the platform's number format groups them whatever the locale's
// own grouping rule.
QString groupedDigits(qint64 value, const QString& separator)
{
    const QString digits = QString::number(value);
    QString grouped;
    grouped.reserve(digits.size() + digits.size() / 3 * separator.size());
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += separator;
        grouped += digits.at(i);
    }
    return grouped;
}

} // namespace

UsageCache::UsageCache(WinePrefix prefix) : m_prefix(std::move(prefix)) {}

void UsageCache::LoadUsageKeys()
{
    m_usageKeys.clear();
    m_indexByFoldedName.clear();
    RegistryAccess registry(m_prefix);
    registry.RootKey(RegistryRoot::LocalMachine);
    if (registry.OpenKeyReadOnly(sARPCacheKey))
        registry.GetKeyNames(m_usageKeys);
    registry.CloseKey();

    // Scans look up every entry, so index the names once instead of searching the list each time.
    m_indexByFoldedName.reserve(m_usageKeys.size());
    for (qsizetype i = 0; i < m_usageKeys.size(); ++i) {
        const QString folded = m_usageKeys.at(i).toCaseFolded();
        if (!m_indexByFoldedName.contains(folded)) // the first match counts
            m_indexByFoldedName.insert(folded, i);
    }
}

bool UsageCache::ReadUsageInfo(const QString& subkeyName, QString& size, QString& lastUsed, QString& frequency,
                               QString& programPath) const
{
    const auto found = m_indexByFoldedName.constFind(subkeyName.toCaseFolded());
    if (found == m_indexByFoldedName.constEnd())
        return false;

    RegistryAccess registry(m_prefix);
    registry.RootKey(RegistryRoot::LocalMachine);
    // The name as the cache spells it: the key lookup itself may not ignore case.
    if (!registry.OpenKeyReadOnly(sARPCacheKey + QLatin1Char('\\') + m_usageKeys.at(*found)))
        return false;
    const QString& valueName = ValueName::SlowInfoCache;
    if (!registry.ValueExists(valueName) || registry.GetDataSize(valueName) != RecordSize ||
        registry.GetDataType(valueName) != RegDataType::Binary)
        return false;

    Record record{};
    // The hive may have been re-read from disk since the checks; take only a full record.
    if (registry.ReadBinaryData(valueName, record.data(), RecordSize) != RecordSize)
        return false;
    return parseUsageRecord(QByteArrayView(record.data(), RecordSize), size, lastUsed, frequency, programPath);
}

bool UsageCache::parseUsageRecord(QByteArrayView bytes, QString& size, QString& lastUsed, QString& frequency,
                                  QString& programPath)
{
    if (bytes.size() != RecordSize)
        return false;
    Record record;
    std::copy(bytes.begin(), bytes.end(), record.begin());

    size = FormatUsageSize(readLittleEndian<qint64>(record, SizeOffset));
    lastUsed = FormatUsageDate(
        {readLittleEndian<quint32>(record, TimeOffset), readLittleEndian<quint32>(record, TimeOffset + 4)});
    frequency = FormatUsageFrequency(readLittleEndian<qint32>(record, CountOffset));
    programPath = programPathOf(record);
    return true;
}

QString UsageCache::FormatUsageSize(qint64 bytes)
{
    if (bytes <= 0)
        return QString();

    // Integer arithmetic keeps the rounding exact: a remaining half goes up, away from zero.
    qint64 whole = bytes / BytesPerMegabyte;
    qint64 hundredths = ((bytes % BytesPerMegabyte) * 100 + BytesPerMegabyte / 2) / BytesPerMegabyte;
    if (hundredths == 100) {
        ++whole;
        hundredths = 0;
    }

    const QLocale locale;
    QString groupSeparator = locale.groupSeparator();
    if (groupSeparator.isEmpty())
        groupSeparator = QStringLiteral(",");
    QString decimalPoint = locale.decimalPoint();
    if (decimalPoint.isEmpty())
        decimalPoint = QStringLiteral(".");

    return groupedDigits(whole, groupSeparator) + decimalPoint +
           QStringLiteral("%1").arg(hundredths, 2, 10, QLatin1Char('0')) + QStringLiteral(" MB");
}

QString UsageCache::FormatUsageDate(FileTime time)
{
    if (time.lowDateTime == 0 && time.highDateTime == 0)
        return QString();
    const quint64 ticks = (quint64(time.highDateTime) << 32) | time.lowDateTime;
    // All ones, and every other value with the high bit set, is no time the platform converts.
    if (ticks > quint64(std::numeric_limits<qint64>::max()))
        return unknownDate();

    // The offset in force now, not the one at the stored date, as the platform's conversion does.
    const qint64 offsetTicks = qint64(Clock::now().offsetFromUtc()) * TicksPerSecond;
    qint64 localTicks = 0;
    if (qAddOverflow(qint64(ticks), offsetTicks, &localTicks) || localTicks < 0)
        return unknownDate();

    const QDate date = QDate(1601, 1, 1).addDays(localTicks / TicksPerDay);
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return unknownDate();
    return QStringLiteral("%1-%2-%3")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'));
}

FileTime UsageCache::fileTimeOf(const QDateTime& time)
{
    // 11,644,473,600 seconds lie between 1601-01-01 and 1970-01-01.
    constexpr qint64 epochGapTicks = 11'644'473'600LL * TicksPerSecond;
    const qint64 ticks = time.toMSecsSinceEpoch() * (TicksPerSecond / 1000) + epochGapTicks;
    if (!time.isValid() || ticks <= 0)
        return {};
    return {quint32(quint64(ticks) & 0xffffffffU), quint32(quint64(ticks) >> 32)};
}

QString UsageCache::FormatUsageFrequency(qint32 count)
{
    if (count < 0)
        return QString();
    if (count <= 2)
        return QStringLiteral("rarely");
    if (count <= 10)
        return QStringLiteral("occasionally");
    return QStringLiteral("frequently");
}
