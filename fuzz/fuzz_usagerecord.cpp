// The usage record reader. The input, cut or padded with zeros to a record's size, is read as a
// record; the input as it is must be refused unless it has exactly that size. Besides memory safety:
// the texts have the forms the list shows.
#include "FuzzSupport.h"

#include "inventory/UsageCache.h"

#include <QByteArray>
#include <QRegularExpression>

#include <cstdint>

namespace {

void checkTexts(const QString& size, const QString& lastUsed, const QString& frequency, const QString& path)
{
    static const QRegularExpression sizeForm(QStringLiteral("^\\d{1,3}(\\D\\d{3})*\\D\\d\\d MB$"));
    static const QRegularExpression dateForm(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d$"));
    check(size.isEmpty() || sizeForm.match(size).hasMatch(), "a size reads like \"1,024.00 MB\"");
    check(lastUsed.isEmpty() || lastUsed == QStringLiteral("(Unknown)") ||
              (dateForm.match(lastUsed).hasMatch() && !lastUsed.startsWith(QStringLiteral("0000"))),
          "a date is empty, \"(Unknown)\" or yyyy-mm-dd from year 1");
    check(frequency.isEmpty() || frequency == QStringLiteral("rarely") || frequency == QStringLiteral("occasionally") ||
              frequency == QStringLiteral("frequently"),
          "a frequency is one of three words");
    check(path.size() <= (UsageCache::RecordSize - 28) / 2 && !path.contains(QChar(0)),
          "a path fits its field and ends at its first NUL");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString untouched = QStringLiteral("untouched");
    QString sizeText = untouched, lastUsed = untouched, frequency = untouched, path = untouched;
    const bool read = UsageCache::parseUsageRecord(input, sizeText, lastUsed, frequency, path);
    check(read == (size == size_t(UsageCache::RecordSize)), "only a record of the exact size is read");
    if (!read) {
        check(sizeText == untouched && lastUsed == untouched && frequency == untouched && path == untouched,
              "a refused record leaves the outputs as they were");
        QByteArray record = input.first(std::min<qsizetype>(input.size(), UsageCache::RecordSize)).toByteArray();
        record.resize(UsageCache::RecordSize, '\0');
        check(UsageCache::parseUsageRecord(record, sizeText, lastUsed, frequency, path), "a full record is read");
    }
    checkTexts(sizeText, lastUsed, frequency, path);
    return 0;
}
