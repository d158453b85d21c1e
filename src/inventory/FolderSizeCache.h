#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

// The sizes of program folders measured before, kept outside every prefix in one file for all of them
// ($XDG_CACHE_HOME/kestrin/folder-sizes, default ~/.cache/kestrin/), by canonical folder path.
//
// A record answers only while the folder's signature (see FolderSize) is what it was and for MaxAgeDays:
// a file that grows in place changes no folder, so after that time the folder is measured again.
// The file is a cache: one that is damaged, too large or no regular file reads as empty and is
// written anew on the next save.
class FolderSizeCache
{
public:
    struct Record
    {
        qint64 bytes = 0;
        QDateTime lastUse; // invalid when the folder showed none
        quint64 signature = 0;
        QDateTime measured;
        bool operator==(const Record&) const = default;
    };

    static constexpr qint64 MaxFileBytes = 4 * 1024 * 1024;
    static constexpr int MaxAgeDays = 7;

    static QString defaultPath();

    explicit FolderSizeCache(QString path = defaultPath());

    const QString& path() const { return m_path; }
    qsizetype size() const { return m_records.size(); }

    // Adds the file's records; of two for one folder the later measured stays. Never blocks: a FIFO
    // named like the file is not read.
    void load();

    // The record of `folder` when it is still good: its signature equals signatureNow and it was
    // measured at most MaxAgeDays ago (by Clock::now()).
    std::optional<Record> lookup(const QString& folder, quint64 signatureNow) const;
    void store(const QString& folder, const Record& record);

    // Writes the records atomically, together with those another process saved meanwhile, leaving out
    // those of folders that no longer exist and those too old to answer. False when the file cannot be
    // written; the records stay in memory.
    bool save();

private:
    QString m_path;
    QHash<QString, Record> m_records;
};
