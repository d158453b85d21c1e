#include "inventory/FolderSizeCache.h"

#include "base/AtomicFile.h"
#include "base/Clock.h"
#include "base/KestrinError.h"
#include "wine/ConfigFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

#include <sys/stat.h>

namespace {

using Records = QHash<QString, FolderSizeCache::Record>;

// A file of another format or version reads as empty and is replaced on the next save.
constexpr char Header[] = "kestrin folder sizes 1";
constexpr qint64 MillisecondsPerDay = 86'400'000;

bool isFresh(const QDateTime& measured, const QDateTime& now)
{
    // A record from the future is as doubtful as an old one: the clock was set back.
    const qint64 age = measured.msecsTo(now);
    return age >= 0 && age <= FolderSizeCache::MaxAgeDays * MillisecondsPerDay;
}

bool isFolder(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

void keepLater(Records& records, const QString& folder, const FolderSizeCache::Record& record)
{
    const auto known = records.constFind(folder);
    if (known == records.constEnd() || known->measured < record.measured)
        records.insert(folder, record);
}

// One line: bytes, last use (ms since the epoch, "-" for none), signature (hex), time measured (ms since
// the epoch), folder (percent-encoded, so blanks and line breaks in names cannot split the line).
std::optional<std::pair<QString, FolderSizeCache::Record>> parseLine(QByteArrayView line)
{
    const QList<QByteArray> fields = line.toByteArray().split(' ');
    if (fields.size() != 5)
        return std::nullopt;
    bool ok[4] = {};
    FolderSizeCache::Record record;
    record.bytes = fields[0].toLongLong(&ok[0]);
    if (fields[1] == "-")
        ok[1] = true;
    else
        record.lastUse = QDateTime::fromMSecsSinceEpoch(fields[1].toLongLong(&ok[1]));
    record.signature = fields[2].toULongLong(&ok[2], 16);
    record.measured = QDateTime::fromMSecsSinceEpoch(fields[3].toLongLong(&ok[3]));
    const QString folder = QFile::decodeName(QByteArray::fromPercentEncoding(fields[4]));
    if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) || record.bytes < 0 ||
        !record.measured.isValid() || !folder.startsWith(u'/') || folder.contains(u'\0'))
        return std::nullopt;
    return std::pair{folder, record};
}

QByteArray formatLine(const QString& folder, const FolderSizeCache::Record& record)
{
    const QByteArray lastUse =
        record.lastUse.isValid() ? QByteArray::number(record.lastUse.toMSecsSinceEpoch()) : QByteArray("-");
    return QByteArray::number(record.bytes) + ' ' + lastUse + ' ' + QByteArray::number(record.signature, 16) + ' ' +
           QByteArray::number(record.measured.toMSecsSinceEpoch()) + ' ' +
           QFile::encodeName(folder).toPercentEncoding("/") + '\n';
}

Records readFile(const QString& path)
{
    const auto file = ConfigFiles::openRegularFile(path);
    if (!file || file->size() > FolderSizeCache::MaxFileBytes)
        return {};
    const QByteArray text = file->read(FolderSizeCache::MaxFileBytes + 1);
    if (text.size() > FolderSizeCache::MaxFileBytes)
        return {};
    const QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines.first() != Header)
        return {};
    Records records;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        // A damaged line costs its record only.
        if (const auto parsed = parseLine(lines.at(i)))
            keepLater(records, parsed->first, parsed->second);
    }
    return records;
}

} // namespace

QString FolderSizeCache::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    // The XDG rules ignore a relative path.
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return QDir::cleanPath(base) + QStringLiteral("/kestrin/folder-sizes");
}

FolderSizeCache::FolderSizeCache(QString path) : m_path(std::move(path)) {}

void FolderSizeCache::load()
{
    const Records read = readFile(m_path);
    for (auto it = read.cbegin(); it != read.cend(); ++it)
        keepLater(m_records, it.key(), it.value());
}

std::optional<FolderSizeCache::Record> FolderSizeCache::lookup(const QString& folder, quint64 signatureNow) const
{
    const auto known = m_records.constFind(folder);
    if (known == m_records.constEnd() || known->signature != signatureNow || !isFresh(known->measured, Clock::now()))
        return std::nullopt;
    return *known;
}

void FolderSizeCache::store(const QString& folder, const Record& record)
{
    m_records.insert(folder, record);
}

bool FolderSizeCache::save()
{
    load();
    const QDateTime now = Clock::now();
    std::vector<std::pair<QString, Record>> kept;
    kept.reserve(m_records.size());
    for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
        if (isFresh(it->measured, now) && isFolder(it.key()))
            kept.emplace_back(it.key(), it.value());
    }
    // Newest first, so that when the file would outgrow its limit the oldest records are the ones left out.
    std::sort(kept.begin(), kept.end(),
              [](const auto& a, const auto& b) { return b.second.measured < a.second.measured; });
    QByteArray text = QByteArray(Header) + '\n';
    m_records.clear();
    for (const auto& [folder, record] : kept) {
        const QByteArray line = formatLine(folder, record);
        if (text.size() + line.size() > MaxFileBytes)
            break;
        text += line;
        m_records.insert(folder, record);
    }
    try {
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        AtomicFile::replace(m_path, text);
    } catch (const KestrinError&) {
        return false;
    }
    return true;
}
