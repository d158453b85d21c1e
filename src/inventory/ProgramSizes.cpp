#include "inventory/ProgramSizes.h"

#include "base/Clock.h"
#include "inventory/FolderSize.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QThread>

#include <functional>

namespace {

using Deliver = std::function<void(const ProgramSizes::Result&)>;

// A record answers for one question: the same tree with the same file left out of the last-use search.
quint64 recordSignature(quint64 tree, const QString& leftOut)
{
    const QByteArray name = QFile::encodeName(leftOut);
    quint64 hash = 0xcbf29ce484222325ULL; // FNV-1a, stable across runs like the tree's own
    for (const char c : name)
        hash = (hash ^ quint8(c)) * 0x100000001b3ULL;
    return tree ^ (hash * 0x9e3779b97f4a7c15ULL);
}

// Requests whose folder and left-out file agree are measured once.
struct Job
{
    QString folder;
    QString leftOut; // canonical
    QList<int> tokens;
};

QList<Job> jobsOf(const WinePrefix& prefix, const QList<ProgramSizes::Request>& requests,
                  const std::atomic<bool>& cancel)
{
    ProgramFolder folders(prefix);
    QList<ProgramFolder::Candidates> candidates;
    candidates.reserve(requests.size());
    for (const ProgramSizes::Request& request : requests) {
        if (cancel.load(std::memory_order_relaxed))
            return {};
        candidates.append(folders.candidates(request.facts));
    }
    const ProgramFolder::Claims claims(candidates);
    QList<Job> jobs;
    QHash<QPair<QString, QString>, qsizetype> jobOf;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const ProgramSizes::Request& request = requests.at(i);
        if (!request.wanted)
            continue;
        const ProgramFolder::Result folder = ProgramFolder::choose(candidates.at(i), claims);
        if (folder.hostPath.isEmpty())
            continue;
        const QString uninstaller =
            request.uninstallerFile.isEmpty() ? candidates.at(i).uninstallerFile : request.uninstallerFile;
        const QString leftOut = uninstaller.isEmpty() ? QString() : QFileInfo(uninstaller).canonicalFilePath();
        const QPair<QString, QString> key{folder.hostPath, leftOut};
        if (const auto known = jobOf.constFind(key); known != jobOf.constEnd()) {
            jobs[*known].tokens.append(request.token);
            continue;
        }
        jobOf.insert(key, jobs.size());
        jobs.append({folder.hostPath, leftOut, {request.token}});
    }
    return jobs;
}

void deliverAll(const Job& job, qint64 bytes, const QDateTime& lastUse, const Deliver& deliver)
{
    for (const int token : job.tokens)
        deliver({token, bytes, lastUse});
}

// False when cancelled. The cache is updated but not saved.
bool runBatch(const WinePrefix& prefix, const QList<ProgramSizes::Request>& requests, FolderSizeCache& cache,
              const std::atomic<bool>& cancel, const Deliver& deliver)
{
    const QList<Job> jobs = jobsOf(prefix, requests, cancel);
    if (cancel.load(std::memory_order_relaxed))
        return false;
    // Answers from the cache first: each costs a walk over the folders only.
    QList<const Job*> toMeasure;
    for (const Job& job : jobs) {
        const auto tree = FolderSize::glance(job.folder, job.leftOut, &cancel);
        if (cancel.load(std::memory_order_relaxed))
            return false;
        if (!tree)
            continue; // gone since it was chosen
        // The last use as it is now: running a program changes no folder, so the kept one may be old.
        if (const auto known = cache.lookup(job.folder, recordSignature(tree->signature, job.leftOut)))
            deliverAll(job, known->bytes, tree->lastUse, deliver);
        else
            toMeasure.append(&job);
    }
    for (const Job* job : toMeasure) {
        const auto measured = FolderSize::measure(job->folder, job->leftOut, &cancel);
        if (cancel.load(std::memory_order_relaxed))
            return false;
        if (!measured)
            continue;
        cache.store(job->folder, {measured->bytes, measured->lastUse,
                                  recordSignature(measured->signature, job->leftOut), Clock::now()});
        deliverAll(*job, measured->bytes, measured->lastUse, deliver);
    }
    return true;
}

} // namespace

ProgramSizes::ProgramSizes(WinePrefix prefix, QString cachePath, QObject* parent)
    : QObject(parent), m_prefix(std::move(prefix)), m_cachePath(std::move(cachePath))
{}

ProgramSizes::~ProgramSizes()
{
    if (!m_thread)
        return;
    {
        const QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_cancel = true;
        m_wake.wakeAll();
    }
    m_thread->wait();
    delete m_thread;
}

void ProgramSizes::measure(QList<Request> requests)
{
    ++m_batch;
    {
        const QMutexLocker lock(&m_mutex);
        m_pending = std::move(requests);
        m_pendingBatch = m_batch;
        m_cancel = true;
        m_wake.wakeAll();
    }
    if (!m_thread) {
        m_thread = QThread::create([this] { work(); });
        m_thread->setObjectName(QStringLiteral("program sizes"));
        m_thread->start(QThread::LowPriority);
    }
}

QList<ProgramSizes::Result> ProgramSizes::measureNow(const WinePrefix& prefix, const QList<Request>& requests,
                                                     const QString& cachePath)
{
    FolderSizeCache cache(cachePath);
    cache.load();
    const std::atomic<bool> never{false};
    QList<Result> results;
    runBatch(prefix, requests, cache, never, [&results](const Result& result) { results.append(result); });
    cache.save();
    return results;
}

void ProgramSizes::work()
{
    FolderSizeCache cache(m_cachePath);
    for (;;) {
        QList<Request> requests;
        int batch = 0;
        {
            QMutexLocker lock(&m_mutex);
            while (!m_stopping && !m_pending)
                m_wake.wait(&m_mutex);
            if (m_stopping)
                return;
            requests = std::move(*m_pending);
            m_pending.reset();
            batch = m_pendingBatch;
            m_cancel = false;
        }
        // Read for each batch: another process may have measured meanwhile. What a cancelled batch
        // measured stays in memory and is saved with the next.
        cache.load();
        // Results travel as queued calls to this object, which Qt drops if it is destroyed first; one
        // from a batch that a newer one replaced is dropped on arrival.
        const auto deliver = [this, batch](const Result& result) {
            QMetaObject::invokeMethod(
                this,
                [this, batch, result] {
                    if (batch == m_batch)
                        emit measured(result.token, result.bytes, result.lastUse);
                },
                Qt::QueuedConnection);
        };
        if (!runBatch(m_prefix, requests, cache, m_cancel, deliver))
            continue;
        cache.save();
        QMetaObject::invokeMethod(
            this,
            [this, batch] {
                if (batch == m_batch)
                    emit finished();
            },
            Qt::QueuedConnection);
    }
}
