#pragma once

#include "hive/HiveDocument.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <sys/types.h>

class LiveHive;

// A registry file of a prefix and its parsed contents, shared by every registry object of the
// process. Reads see the file as it is on disk now; every change is saved at once. While a
// wineserver serves the prefix, the server's registry takes the file's place when a LiveHive serves
// the file: it is read anew once per ReadBatch, after a change of ours and after
// forgetLiveContents(), and else at most every LiveReadMaxAgeMs; changes go through Wine.
class HiveFile
{
public:
    static constexpr int LiveReadMaxAgeMs = 2000;

    // The one instance for the file at `path` (a hive in its prefix's folder).
    static std::shared_ptr<HiveFile> open(const QString& path);

    const QString& path() const { return m_path; }
    QString prefixPath() const;

    // The contents as the file is now, re-read first when it changed on disk. A missing file
    // reads as empty; a file that is not a registry file reads as empty and invalid.
    const HiveDocument& current();
    // Lets the values read of the key at `path` go (see HiveDocument::forgetValues), without
    // looking at the disk.
    void forgetValues(const QStringList& path);

    // Whether we may read the file, and change it (the file and its folder writable by us).
    bool canRead();
    bool canWrite();

    // While one lives, each file is compared with the disk once rather than before every read:
    // a scan reads thousands of values as one operation. Writes always check.
    class ReadBatch
    {
    public:
        ReadBatch();
        ~ReadBatch();
        ReadBatch(const ReadBatch&) = delete;
        ReadBatch& operator=(const ReadBatch&) = delete;
    };

    // While one lives, the files opened for the first time are let go when it ends, unless something
    // still holds them: a look over other prefixes does not keep their hives in memory.
    class PassingLook
    {
    public:
        PassingLook();
        ~PassingLook();
        PassingLook(const PassingLook&) = delete;
        PassingLook& operator=(const PassingLook&) = delete;

    private:
        QStringList m_openBefore;
    };

    // Makes every file read from a server read anew when next asked for: a Windows program has run.
    static void forgetLiveContents();

    // Why the file could not be read the last time it was, or empty.
    const QString& readError() const { return m_readError; }

    // Makes one user action one save per file, so that a crash leaves the old file or the new one
    // and never half of the action. While a batch lives, modify() changes the contents in memory
    // only, holding the prefix's lock, and commit() saves every changed file. A batch that ends
    // without commit() drops its changes. A batch made inside another joins it.
    class WriteBatch
    {
    public:
        WriteBatch();
        ~WriteBatch();
        WriteBatch(const WriteBatch&) = delete;
        WriteBatch& operator=(const WriteBatch&) = delete;
        void commit();

    private:
        bool m_outermost;
        bool m_committed = false;
    };

    // Applies `change` to the file's current contents and saves them at once (at the batch's
    // commit inside a batch), holding the prefix's lock so that other Kestrin processes neither
    // interleave nor get overwritten. While Wine serves the prefix, the contents are the server's,
    // read anew, and the change goes to the server as the steps changesOf() gives. Throws
    // KestrinError, writing nothing, when Wine serves the prefix and no LiveHive serves the file
    // (WineRunningError), when the file is not a registry file or cannot be read, and when the save
    // fails.
    void modify(const std::function<void(HiveDocument&)>& change);
    // Throws WineRunningError when Wine serves the prefix and no LiveHive serves the file: for steps
    // that must not begin (files moved) when the change that follows would be refused.
    void requireChangeable();

    HiveFile(const HiveFile&) = delete;
    HiveFile& operator=(const HiveFile&) = delete;

private:
    explicit HiveFile(QString path);

    struct Identity
    {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        qint64 mtimeNanos = 0;
        bool operator==(const Identity&) const = default;
    };
    Identity identityOnDisk() const;
    bool checkedInThisBatch();
    // `fresh`: for a change, the server's registry is read anew however recently it was read.
    void refresh(bool fresh = false);
    void reload(const Identity& identity);
    // `forChange`: a failure throws, since a change must not be built on the file the server will
    // overwrite; otherwise the file is read instead, and Wine is not asked again for a moment.
    void reloadLive(LiveHive& live, bool forChange);
    // The LiveHive that serves this file while a wineserver runs for its prefix; null otherwise.
    // Remembered for a moment, since looking costs a walk over /proc; `fresh` looks again.
    LiveHive* liveHive(bool fresh);
    QByteArray newFilePreamble() const;
    void requireWritableContents() const;
    void save();
    void saveLive(LiveHive& live);
    void dropChanges();

    struct BatchState;
    static BatchState& batchState();
    static QHash<QString, std::shared_ptr<HiveFile>>& openFiles();

    QString m_path;
    std::unique_ptr<HiveDocument> m_document;
    Identity m_identity;
    QString m_readError;
    bool m_loaded = false;
    quint64 m_checkedGeneration = 0;
    quint64 m_accessGeneration = 0;
    bool m_readable = false;
    bool m_writable = false;
    bool m_inWriteBatch = false; // taken into the running batch: the contents are not re-read
    bool m_live = false;         // the contents are the server's, read when m_liveRead started
    QElapsedTimer m_liveRead;
    QElapsedTimer m_liveFailed; // when a read through Wine last failed
    bool m_served = false;      // what liveHive() found when m_servedChecked started
    QElapsedTimer m_servedChecked;
};
