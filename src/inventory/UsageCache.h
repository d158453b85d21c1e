#pragma once

#include "prefix/WinePrefix.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

// A Windows FILETIME: 100-nanosecond units since 1601-01-01 UTC, as two 32-bit halves.
struct FileTime
{
    quint32 lowDateTime = 0;
    quint32 highDateTime = 0;
};

// The size, last use, frequency and program path that the system's application-management cache
// keeps for uninstall entries (binary "SlowInfoCache" records under sARPCacheKey). Read only.
class UsageCache
{
public:
    static constexpr int RecordSize = 552;

    explicit UsageCache(WinePrefix prefix = WinePrefix::fromEnvironment());

    // Refills UsageKeys with the subkeys of the cache key, in registry order. Once per scan.
    void LoadUsageKeys();
    const QStringList& UsageKeys() const { return m_usageKeys; }

    // The four texts of the entry with this subkey name (matched without regard to letter case).
    // Without a usable record the outputs are left untouched and the result is false.
    bool ReadUsageInfo(const QString& subkeyName, QString& size, QString& lastUsed, QString& frequency,
                       QString& programPath) const;

    // The four texts of one record as ReadUsageInfo gives them; false, outputs untouched, unless the
    // record `bytes` has exactly RecordSize of them.
    static bool parseUsageRecord(QByteArrayView bytes, QString& size, QString& lastUsed, QString& frequency,
                                 QString& programPath);

    // Megabytes with two decimals and the locale's separators, e.g. "1,024.00 MB"; empty for n <= 0.
    static QString FormatUsageSize(qint64 bytes);
    // The local date "yyyy-mm-dd", converted with the UTC offset in force now (Clock::now()); empty for a zero
    // time, "(Unknown)" for all-ones or a time that does not convert to a year from 1 to 9999.
    static QString FormatUsageDate(FileTime time);
    // The FILETIME of a moment, for dates that come from the file system rather than the cache.
    static FileTime fileTimeOf(const QDateTime& time);
    // "rarely", "occasionally" or "frequently"; empty for a negative count.
    static QString FormatUsageFrequency(qint32 count);

private:
    WinePrefix m_prefix;
    QStringList m_usageKeys;
    QHash<QString, qsizetype> m_indexByFoldedName; // first position of each case-folded name
};
