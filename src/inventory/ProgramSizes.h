#pragma once

#include "inventory/FolderSizeCache.h"
#include "inventory/ProgramFolder.h"
#include "prefix/WinePrefix.h"

#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <optional>

class QThread;

// Sizes and last use of programs that the shell's cache has no record for, measured from each one's
// own folder (see ProgramFolder, FolderSize) on a thread of its own, so that the caller never waits.
// Folders measured before answer from the FolderSizeCache when their signature still matches; those
// answers come first, the folders that must be walked whole after them.
class ProgramSizes : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        int token = 0; // handed back with the result
        ProgramFolder::Facts facts;
        // The uninstaller's host file, left out of the last-use search (running it is no use of the
        // program); empty for the one the uninstall command names.
        QString uninstallerFile;
        // False for an entry that needs no size: it is listed only so that the others' fallback
        // folders are judged against the folders it uses (see ProgramFolder::Claims).
        bool wanted = true;
    };

    struct Result
    {
        int token = 0;
        qint64 bytes = 0;
        QDateTime lastUse; // invalid when none was seen
        bool operator==(const Result&) const = default;
    };

    explicit ProgramSizes(WinePrefix prefix, QString cachePath = FolderSizeCache::defaultPath(),
                          QObject* parent = nullptr);
    // Stops the worker within one entry of its walk; results not yet delivered are dropped.
    ~ProgramSizes() override;

    // Measures the wanted requests that have a folder, in the background. Ends what is left of the
    // previous call: none of its results arrive after this returns. The requests should be every entry
    // of the list, so that the sharing of folders is judged against all of them.
    void measure(QList<Request> requests);

    // The same in the calling thread, for runs without an event loop: the results in the order they
    // were found, with the cache read before and saved after.
    static QList<Result> measureNow(const WinePrefix& prefix, const QList<Request>& requests,
                                    const QString& cachePath = FolderSizeCache::defaultPath());

signals:
    // Queued to this object's thread, once for each wanted request whose folder could be measured.
    void measured(int token, qint64 bytes, const QDateTime& lastUse);
    // The batch of the last measure() call is done and the cache saved.
    void finished();

private:
    void work();

    const WinePrefix m_prefix;
    const QString m_cachePath;
    QThread* m_thread = nullptr; // started by the first measure()
    int m_batch = 0;             // of the last measure(); only this object's thread reads it

    // Shared with the worker.
    QMutex m_mutex;
    QWaitCondition m_wake;
    std::optional<QList<Request>> m_pending;
    int m_pendingBatch = 0;
    bool m_stopping = false;
    std::atomic<bool> m_cancel{false}; // read by the walks; set when their batch is no longer wanted
};
