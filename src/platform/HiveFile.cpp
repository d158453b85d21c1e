#include "HiveFile.h"

#include "AtomicFile.h"
#include "HiveSyntax.h"
#include "KestrinError.h"
#include "WineServer.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>

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

std::shared_ptr<HiveFile> HiveFile::open(const QString& path)
{
    static QHash<QString, std::shared_ptr<HiveFile>> files;
    const QString key = QFileInfo(path).absoluteFilePath();
    std::shared_ptr<HiveFile>& file = files[key];
    if (!file)
        file.reset(new HiveFile(key));
    return file;
}

HiveFile::HiveFile(QString path) : m_path(std::move(path)) {}

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
    if (name != QStringLiteral("system.reg") && system.open(QIODevice::ReadOnly)) {
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
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_readError = QStringLiteral("Could not read %1: %2.").arg(m_path, file.errorString());
        m_document = HiveDocument::fromBytes({});
        return;
    }
    m_document = HiveDocument::fromBytes(file.readAll());
}

bool HiveFile::checkedInThisBatch()
{
    return batchDepth > 0 && m_checkedGeneration == batchGeneration;
}

void HiveFile::refresh()
{
    const Identity now = identityOnDisk();
    if (!m_loaded || now != m_identity)
        reload(now);
    m_checkedGeneration = batchDepth > 0 ? batchGeneration : 0;
}

const HiveDocument& HiveFile::current()
{
    if (!m_loaded || !checkedInThisBatch())
        refresh();
    return *m_document;
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

void HiveFile::modify(const std::function<void(HiveDocument&)>& change)
{
    FolderLock lock(prefixPath());
    refresh();
    if (!m_readError.isEmpty())
        throw KestrinError(m_readError);
    if (!m_document->isValid()) {
        throw KestrinError(
            QStringLiteral("%1 is not a Wine registry file, so Kestrin does not change it.").arg(m_path));
    }
    auto refuseWhileWineRuns = [this] {
        if (WineServer::isRunning(prefixPath())) {
            throw KestrinError(
                QStringLiteral("Wine is running in the prefix %1, and it would overwrite any change to its "
                               "registry. Close the Windows programs of this prefix first, then try again.")
                    .arg(prefixPath()));
        }
    };
    try {
        change(*m_document);
        if (!m_document->isModified())
            return; // nothing to write, so nothing to refuse either
        // Only Wine may create system.reg: it records the prefix's architecture, and a prefix whose
        // system.reg Wine did not write itself is taken for a 32-bit one and stays broken.
        if (!m_identity.exists && QFileInfo(m_path).fileName() == QStringLiteral("system.reg")) {
            throw KestrinError(QStringLiteral("The prefix %1 has not been set up by Wine yet: it has no system.reg. "
                                              "Start a Windows program in it once, then try again.")
                                   .arg(prefixPath()));
        }
        refuseWhileWineRuns();
        const QByteArray bytes = m_document->serialize(QDateTime::currentMSecsSinceEpoch());
        // Wine may have started while the file was being written; a server that loaded the old file
        // would overwrite ours, so look once more right before the file is replaced.
        AtomicFile::replace(m_path, bytes, refuseWhileWineRuns);
        // The tree is rebuilt from what was written, so it is exactly what the next reader sees.
        m_document = HiveDocument::fromBytes(bytes);
        m_identity = identityOnDisk();
    } catch (...) {
        // Whatever was half done in memory is dropped: the file is the truth.
        m_loaded = false;
        throw;
    }
}
