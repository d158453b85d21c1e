#include "hive/HiveFile.h"

#include "base/AtomicFile.h"
#include "base/KestrinError.h"
#include "base/LargeBuffer.h"
#include "hive/EntryJournal.h"
#include "hive/HiveChanges.h"
#include "hive/HiveSyntax.h"
#include "hive/LiveHive.h"
#include "prefix/WineServer.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <map>
#include <vector>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Holds an exclusive lock on a folder for as long as it lives.
class FolderLock
{
public:
    explicit FolderLock(const QString& folder)
        : m_fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd;
};

int batchDepth = 0;
quint64 batchGeneration = 1; // 0 never matches: outside a batch nothing counts as checked

bool accessible(const QString& path, int mode)
{
    return ::access(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

HiveFile::ReadBatch::ReadBatch()
{
    if (batchDepth++ == 0)
        ++batchGeneration;
}

HiveFile::ReadBatch::~ReadBatch()
{
    if (--batchDepth == 0)
        ++batchGeneration;
}

struct HiveFile::BatchState
{
    int depth = 0;
    std::map<QString, std::unique_ptr<FolderLock>> locks; // per prefix folder, held until the batch ends
    std::vector<HiveFile*> members;                       // files taken into the batch, in order
    bool failed = false;                                  // a change threw: its half is in memory

    void end()
    {
        failed = false;
        for (HiveFile* file : members)
            file->m_inWriteBatch = false;
        members.clear();
        locks.clear();
    }
};

HiveFile::BatchState& HiveFile::batchState()
{
    static BatchState state;
    return state;
}

HiveFile::WriteBatch::WriteBatch() : m_outermost(batchState().depth++ == 0) {}

HiveFile::WriteBatch::~WriteBatch()
{
    BatchState& state = batchState();
    --state.depth;
    if (!m_outermost)
        return;
    if (!m_committed) {
        for (HiveFile* file : state.members)
            file->dropChanges();
    }
    state.end();
}

void HiveFile::WriteBatch::commit()
{
    if (!m_outermost)
        return;
    m_committed = true;
    BatchState& state = batchState();
    try {
        if (state.failed)
            throw KestrinError(QStringLiteral("Nothing was saved: a step of this change failed."));
        for (HiveFile* file : state.members) {
            if (file->m_document->isModified())
                file->save();
        }
    } catch (...) {
        for (HiveFile* file : state.members)
            file->dropChanges();
        state.end();
        throw;
    }
    state.end();
}

QHash<QString, std::shared_ptr<HiveFile>>& HiveFile::openFiles()
{
    static QHash<QString, std::shared_ptr<HiveFile>> files;
    return files;
}

std::shared_ptr<HiveFile> HiveFile::open(const QString& path)
{
    const QString key = QFileInfo(path).absoluteFilePath();
    std::shared_ptr<HiveFile>& file = openFiles()[key];
    if (!file)
        file.reset(new HiveFile(key));
    return file;
}

HiveFile::HiveFile(QString path) : m_path(std::move(path)) {}

HiveFile::PassingLook::PassingLook() : m_openBefore(openFiles().keys()) {}

HiveFile::PassingLook::~PassingLook()
{
    auto& files = openFiles();
    for (auto it = files.begin(); it != files.end();) {
        // A file in a running batch stays: the batch holds it until it ends.
        if (it.value().use_count() == 1 && !it.value()->m_inWriteBatch && !m_openBefore.contains(it.key()))
            it = files.erase(it);
        else
            ++it;
    }
}

QString HiveFile::prefixPath() const
{
    return QFileInfo(m_path).absolutePath();
}

HiveFile::Identity HiveFile::identityOnDisk() const
{
    Identity id;
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        id.size = st.st_size;
        id.mtimeNanos = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return id;
}

QByteArray HiveFile::newFilePreamble() const
{
    // What Wine writes at the top of a new file. The architecture must match the prefix's, which
    // system.reg records.
    const QString name = QFileInfo(m_path).fileName();
    QByteArray preamble = HiveSyntax::header.toByteArray() + '\n';
    if (name == QStringLiteral("system.reg"))
        preamble += ";; All keys relative to REGISTRY\\\\Machine\n";
    else if (name == QStringLiteral("userdef.reg"))
        preamble += ";; All keys relative to REGISTRY\\\\User\\\\.Default\n";
    else
        preamble += ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n";
    QFile system(prefixPath() + QStringLiteral("/system.reg"));
    // A FIFO in its place would block the open: only a regular file is read.
    if (name != QStringLiteral("system.reg") && QFileInfo(system).isFile() && system.open(QIODevice::ReadOnly)) {
        for (int i = 0; i < 8 && !system.atEnd(); ++i) {
            const QByteArray line = system.readLine().trimmed();
            if (line == "#arch=win32" || line == "#arch=win64") {
                preamble += '\n' + line + '\n';
                break;
            }
        }
    }
    return preamble;
}

void HiveFile::reload(const Identity& identity)
{
    m_identity = identity;
    m_readError.clear();
    m_loaded = true;
    if (!identity.exists) {
        m_document = HiveDocument::createEmpty(newFilePreamble());
        return;
    }
    // A FIFO or a device would block the read or never end: only a regular file is a hive.
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        m_readError = QStringLiteral("%1 is not a regular file, so Kestrin does not read it.").arg(m_path);
        m_document = HiveDocument::fromBytes({});
        return;
    }
    QByteArray bytes;
    const bool read = fd >= 0 && LargeBuffer::readToEnd(fd, qsizetype(st.st_size), bytes);
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!read) {
        m_readError =
            QStringLiteral("Could not read %1: %2.").arg(m_path, QString::fromLocal8Bit(std::strerror(error)));
        m_document = HiveDocument::fromBytes({});
        return;
    }
    m_document = HiveDocument::fromBytes(std::move(bytes));
}

bool HiveFile::checkedInThisBatch()
{
    return batchDepth > 0 && m_checkedGeneration == batchGeneration;
}

void HiveFile::reloadLive(LiveHive& live, bool forChange)
{
    try {
        QByteArray bytes = live.read(m_path);
        m_document = HiveDocument::fromBytes(std::move(bytes));
        m_readError.clear();
        m_loaded = true;
        m_live = true;
        m_liveRead.start();
    } catch (const KestrinError&) {
        m_liveFailed.start();
        if (forChange) {
            m_loaded = false;
            throw;
        }
        // Wine did not answer: the file as the server last saved it is the best there is to read.
        reload(identityOnDisk());
        m_live = false;
    }
}

LiveHive* HiveFile::liveHive(bool fresh)
{
    LiveHive* live = LiveHive::instance();
    if (!live || !live->serves(m_path))
        return nullptr;
    static constexpr int RememberedMs = 250;
    if (fresh || !m_servedChecked.isValid() || m_servedChecked.hasExpired(RememberedMs)) {
        m_served = live->serverReachable(prefixPath());
        m_servedChecked.start();
    }
    return m_served ? live : nullptr;
}

void HiveFile::refresh(bool fresh)
{
    LiveHive* live = liveHive(fresh);
    const bool failedJustNow = m_liveFailed.isValid() && !m_liveFailed.hasExpired(LiveReadMaxAgeMs);
    if (live && (fresh || !failedJustNow)) {
        // Only called once per batch inside one: a scan reads what the server holds as it begins.
        if (fresh || batchDepth > 0 || !m_loaded || !m_live || m_liveRead.hasExpired(LiveReadMaxAgeMs))
            reloadLive(*live, fresh);
    } else {
        // Contents read from a server that has gone are read again: it saved its registry on leaving.
        const Identity now = identityOnDisk();
        if (!m_loaded || m_live || now != m_identity) {
            reload(now);
            m_live = false;
        }
    }
    m_checkedGeneration = batchDepth > 0 ? batchGeneration : 0;
}

const HiveDocument& HiveFile::current()
{
    // Inside a write batch the contents hold changes not yet saved, and the prefix is locked.
    if (m_inWriteBatch)
        return *m_document;
    if (!m_loaded || !checkedInThisBatch())
        refresh();
    return *m_document;
}

void HiveFile::forgetValues(const QStringList& path)
{
    if (!m_document)
        return;
    if (const HiveKey* key = m_document->findKey(path))
        m_document->forgetValues(*key);
}

bool HiveFile::canRead()
{
    if (m_accessGeneration != batchGeneration || batchDepth == 0) {
        const QString folder = prefixPath();
        m_readable = QFileInfo::exists(m_path) ? accessible(m_path, R_OK) : accessible(folder, X_OK);
        m_writable = accessible(folder, W_OK | X_OK) && (!QFileInfo::exists(m_path) || accessible(m_path, R_OK | W_OK));
        m_accessGeneration = batchGeneration;
    }
    return m_readable;
}

bool HiveFile::canWrite()
{
    canRead();
    return m_writable;
}

void HiveFile::requireWritableContents() const
{
    if (!m_readError.isEmpty())
        throw KestrinError(m_readError);
    if (!m_document->isValid()) {
        throw KestrinError(
            QStringLiteral("%1 is not a Wine registry file, so Kestrin does not change it.").arg(m_path));
    }
}

void HiveFile::dropChanges()
{
    // Whatever was half done in memory goes: the file is the truth.
    m_loaded = false;
}

void HiveFile::modify(const std::function<void(HiveDocument&)>& change)
{
    BatchState& batch = batchState();
    if (batch.depth > 0) {
        if (!m_inWriteBatch) {
            std::unique_ptr<FolderLock>& lock = batch.locks[prefixPath()];
            if (!lock)
                lock = std::make_unique<FolderLock>(prefixPath());
            refresh(true);
            requireWritableContents();
            m_inWriteBatch = true;
            batch.members.push_back(this);
        }
        try {
            change(*m_document);
        } catch (...) {
            batch.failed = true;
            dropChanges();
            throw;
        }
        return; // saved by the batch's commit
    }

    FolderLock lock(prefixPath());
    refresh(true);
    requireWritableContents();
    try {
        change(*m_document);
        if (m_document->isModified())
            save();
    } catch (...) {
        dropChanges();
        throw;
    }
}

void HiveFile::forgetLiveContents()
{
    for (const std::shared_ptr<HiveFile>& file : std::as_const(openFiles())) {
        if (file->m_live && !file->m_inWriteBatch)
            file->m_loaded = false;
    }
}

void HiveFile::requireChangeable()
{
    if (!liveHive(true) && WineServer::isRunning(prefixPath()))
        throw WineRunningError(prefixPath());
}

void HiveFile::save()
{
    if (LiveHive* live = liveHive(true)) {
        saveLive(*live);
        return;
    }
    // Read from a server that has gone since: what it saved on leaving is not in these contents.
    if (m_live)
        throw KestrinError(QStringLiteral("Wine stopped in the prefix %1 while the change was being made, so "
                                          "nothing was changed. Try again.")
                               .arg(prefixPath()));
    // Only Wine may create system.reg: it records the prefix's architecture, and a prefix whose
    // system.reg Wine did not write itself is taken for a 32-bit one and stays broken.
    if (!m_identity.exists && QFileInfo(m_path).fileName() == QStringLiteral("system.reg")) {
        throw KestrinError(QStringLiteral("The prefix %1 has not been set up by Wine yet: it has no system.reg. "
                                          "Start a Windows program in it once, then try again.")
                               .arg(prefixPath()));
    }
    const QString prefix = prefixPath();
    auto refuseWhileWineRuns = [&prefix] {
        if (WineServer::isRunning(prefix))
            throw WineRunningError(prefix);
    };
    refuseWhileWineRuns();
    // A copy of each uninstall entry this save deletes or changes reaches the disk first.
    EntryJournal::recordChanges(m_path, prefix, *m_document);
    // We hold the prefix's lock, so no other Kestrin process is saving: temporary files of ours
    // that are there now were left by a save that was killed.
    AtomicFile::removeStaleTemporaries(m_path);
    const QByteArray bytes = m_document->serialize(QDateTime::currentMSecsSinceEpoch());
    // Wine may have started while the file was being written; a server that loaded the old file
    // would overwrite ours, so look once more right before the file is replaced.
    AtomicFile::replace(m_path, bytes, refuseWhileWineRuns);
    // The document now reads as what was written, exactly what the next reader sees.
    m_document->adoptSaved(bytes);
    m_identity = identityOnDisk();
}

void HiveFile::saveLive(LiveHive& live)
{
    // The same copy of each uninstall entry first, made from the server's text of it.
    EntryJournal::recordChanges(m_path, prefixPath(), *m_document);
    live.apply(m_path, changesOf(*m_document));
    // The server's registry is the truth now: read it anew when next asked for.
    m_loaded = false;
    m_live = false;
}
