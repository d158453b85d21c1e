#include "inventory/FolderSize.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr time_t UseAfterWriteSeconds = 300;

struct FileId
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

size_t qHash(const FileId& id, size_t seed = 0)
{
    return qHashMulti(seed, quint64(id.device), quint64(id.inode));
}

// FNV-1a: unlike qHash it gives the same value in every run and Qt version, and signatures are kept on disk.
class StableHash
{
public:
    void add(const void* data, size_t size)
    {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i)
            m_value = (m_value ^ bytes[i]) * 0x100000001b3ULL;
    }
    void add(qint64 number) { add(&number, sizeof number); }
    quint64 value() const { return m_value; }

private:
    quint64 m_value = 0xcbf29ce484222325ULL;
};

// splitmix64's finalizer: every input bit reaches every output bit, so that a sum of the results does not
// cancel out.
quint64 mixed(quint64 x)
{
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

bool isLater(const timespec& a, const timespec& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

bool isProgramName(const char* name)
{
    const size_t length = qstrlen(name);
    return length > 4 && qstrnicmp(name + length - 4, ".exe", 4) == 0;
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

class Walk
{
public:
    enum class Mode : quint8
    {
        FoldersOnly,
        FoldersAndPrograms, // the folders, and the programs' access times
        Everything,
    };

    Walk(Mode mode, const std::atomic<bool>* cancel) : m_mode(mode), m_cancel(cancel) {}

    void leaveOut(const QString& path)
    {
        struct stat info;
        if (!path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0)
            m_leftOut = FileId{info.st_dev, info.st_ino};
    }

    // False when folder is no folder or the walk was cancelled.
    bool run(const QString& folder)
    {
        const QByteArray top = QFile::encodeName(folder);
        struct stat info;
        if (top.isEmpty() || ::lstat(top.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            return false;
        if (m_mode == Mode::Everything)
            count(info);
        m_stack.push_back({top, QByteArray(), info});
        while (!m_stack.empty()) {
            Folder folderNow = std::move(m_stack.back());
            m_stack.pop_back();
            addToSignature(folderNow);
            if (!readFolder(folderNow))
                return false;
        }
        return true;
    }

    qint64 bytes() const { return m_bytes; }
    bool partial() const { return m_partial; }
    quint64 signature() const { return mixed(m_signatureSum ^ mixed(m_folders)); }
    QDateTime lastUse() const
    {
        if (!m_used)
            return {};
        return QDateTime::fromMSecsSinceEpoch(qint64(m_lastAccess.tv_sec) * 1000 + m_lastAccess.tv_nsec / 1'000'000);
    }

private:
    struct Folder
    {
        QByteArray path;
        QByteArray relative; // to the top folder; empty for the top
        struct stat info;    // as the walk first saw it, through lstat
    };

    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }

    // Sums rather than chains the folders' hashes, so the order in which folders are listed does not matter.
    void addToSignature(const Folder& folder)
    {
        StableHash hash;
        hash.add(folder.relative.constData(), size_t(folder.relative.size()));
        hash.add(qint64(folder.info.st_ino));
        hash.add(qint64(folder.info.st_mtim.tv_sec));
        hash.add(qint64(folder.info.st_mtim.tv_nsec));
        hash.add(qint64(folder.info.st_ctim.tv_sec));
        hash.add(qint64(folder.info.st_ctim.tv_nsec));
        m_signatureSum += mixed(hash.value());
        ++m_folders;
    }

    void count(const struct stat& info)
    {
        if (!S_ISDIR(info.st_mode) && info.st_nlink > 1) {
            const FileId id{info.st_dev, info.st_ino};
            if (m_linkedSeen.contains(id))
                return;
            m_linkedSeen.insert(id);
        }
        if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode))
            m_bytes += qMax<qint64>(0, info.st_size);
    }

    void noteProgram(const struct stat& info)
    {
        if (FileId{info.st_dev, info.st_ino} == m_leftOut || !m_atimeKept.value(info.st_dev, false))
            return;
        // Read well after it was written: Wine's menu builder reads a program for its icon right after
        // the installer made its shortcut, which is no use of the program.
        timespec written = isLater(info.st_mtim, info.st_ctim) ? info.st_mtim : info.st_ctim;
        written.tv_sec += UseAfterWriteSeconds;
        if (!isLater(info.st_atim, written))
            return;
        if (!m_used || isLater(info.st_atim, m_lastAccess)) {
            m_lastAccess = info.st_atim;
            m_used = true;
        }
    }

    void noteFileSystem(int fd, dev_t device)
    {
        if (m_atimeKept.contains(device))
            return;
        // When the mount cannot be asked, no access time is trusted.
        struct statvfs fileSystem;
        m_atimeKept.insert(device, ::fstatvfs(fd, &fileSystem) == 0 && !(fileSystem.f_flag & ST_NOATIME));
    }

    // False on cancel.
    bool readFolder(const Folder& folder)
    {
        const int fd = ::open(folder.path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            m_partial = true;
            return true;
        }
        struct stat opened;
        // Replaced by something else since it was looked at: its contents are not this tree's.
        if (::fstat(fd, &opened) != 0 || opened.st_dev != folder.info.st_dev || opened.st_ino != folder.info.st_ino) {
            ::close(fd);
            m_partial = true;
            return true;
        }
        DIR* stream = ::fdopendir(fd);
        if (!stream) {
            ::close(fd);
            m_partial = true;
            return true;
        }
        if (m_mode != Mode::FoldersOnly)
            noteFileSystem(fd, opened.st_dev);
        for (;;) {
            if (cancelled()) {
                ::closedir(stream);
                return false;
            }
            errno = 0;
            const dirent* entry = ::readdir(stream);
            if (!entry) {
                if (errno != 0)
                    m_partial = true;
                break;
            }
            const char* name = entry->d_name;
            if (isDotOrDotDot(name))
                continue;
            const bool program = m_mode != Mode::FoldersOnly && isProgramName(name);
            if (m_mode != Mode::Everything && !program && entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
                continue;
            struct stat info;
            if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                m_partial = true;
                continue;
            }
            if (m_mode == Mode::Everything)
                count(info);
            if (program && S_ISREG(info.st_mode))
                noteProgram(info);
            if (S_ISDIR(info.st_mode)) {
                QByteArray relative(name);
                if (!folder.relative.isEmpty())
                    relative = folder.relative + '/' + relative;
                m_stack.push_back({QByteArray(folder.path + '/' + name), relative, info});
            }
        }
        ::closedir(stream);
        return true;
    }

    Mode m_mode;
    const std::atomic<bool>* m_cancel;
    std::vector<Folder> m_stack;
    qint64 m_bytes = 0;
    bool m_partial = false;
    quint64 m_signatureSum = 0;
    quint64 m_folders = 0;
    QSet<FileId> m_linkedSeen;      // files with more than one name, counted once
    QHash<dev_t, bool> m_atimeKept; // by file system: false when mounted noatime
    std::optional<FileId> m_leftOut;
    timespec m_lastAccess{};
    bool m_used = false;
};

} // namespace

namespace FolderSize {

std::optional<Measurement> measure(const QString& folder, const QString& leaveOut, const std::atomic<bool>* cancel)
{
    Walk walk(Walk::Mode::Everything, cancel);
    walk.leaveOut(leaveOut);
    if (!walk.run(folder))
        return std::nullopt;
    return Measurement{walk.bytes(), walk.partial(), walk.signature(), walk.lastUse()};
}

std::optional<Measurement> glance(const QString& folder, const QString& leaveOut, const std::atomic<bool>* cancel)
{
    Walk walk(Walk::Mode::FoldersAndPrograms, cancel);
    walk.leaveOut(leaveOut);
    if (!walk.run(folder))
        return std::nullopt;
    return Measurement{0, walk.partial(), walk.signature(), walk.lastUse()};
}

std::optional<quint64> signature(const QString& folder, const std::atomic<bool>* cancel)
{
    Walk walk(Walk::Mode::FoldersOnly, cancel);
    if (!walk.run(folder))
        return std::nullopt;
    return walk.signature();
}

} // namespace FolderSize
