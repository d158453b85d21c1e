// hive_bench: how the registry layer's parse and single-value save compare with merely reading and
// copying a registry file of realistic size (about 20 MB, a prefix with thousands of installed
// programs), and how much memory the parsed tree of a 10,000-entry hive takes.

#include "base/AtomicFile.h"
#include "base/KestrinError.h"
#include "base/LargeBuffer.h"
#include "hive/HiveDocument.h"
#include "hive/HiveSyntax.h"
#include "prefix/WinePrefix.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 targetBytes = 20 * 1024 * 1024;
constexpr qint64 treeHiveBytes = qint64(12.4 * 1024 * 1024); // the size of a real 10,000-entry system.reg
constexpr int treeEntries = 10000;
constexpr int slowInfoCacheBytes = 552;
const QStringList currentVersion{u"Software"_s, u"Microsoft"_s, u"Windows"_s, u"CurrentVersion"_s};

struct Entry
{
    QString key;
    QByteArray uninstallSection;
    QByteArray cacheSection;
};

QByteArray pseudoRandomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    for (char& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = char(seed >> 24);
    }
    return bytes;
}

// One program as installers leave it: an Uninstall key with the usual values and an ARPCache key
// with the 552-byte SlowInfoCache record.
Entry makeEntry(int i, qint64 stamp, int cacheBytes)
{
    const QString vendor = u"Vendor %1"_s.arg(i % 97);
    const QString product = (i % 5 == 0 ? u"Programm f\u00fcr B\u00fcro %1"_s : u"Product Suite %1"_s).arg(i);
    const QString key =
        i % 3 == 0 ? u"{%1-1111-2222-3333-%2}"_s.arg(i, 8, 16, QLatin1Char('0')).arg(i * 7919, 12, 16, QLatin1Char('0'))
                   : u"ProductSuite%1"_s.arg(i);
    const QString folder = u"C:\\Program Files\\"_s + vendor + u'\\' + product;

    std::vector<std::pair<QString, RegistryValue>> values{
        {u"DisplayIcon"_s, RegistryValue::fromString(folder + u"\\app.exe,0"_s)},
        {u"DisplayName"_s, RegistryValue::fromString(product)},
        {u"DisplayVersion"_s, RegistryValue::fromString(u"%1.%2.%3"_s.arg(i % 9).arg(i % 17).arg(i))},
        {u"EstimatedSize"_s, RegistryValue::fromDword(quint32(1000 + i * 37 % 500000))},
        {u"InstallLocation"_s, RegistryValue::fromString(folder + u'\\')},
        {u"InstallSignature"_s, RegistryValue::fromBinary(pseudoRandomBytes(16, quint32(i)))},
        {u"InstallState"_s, RegistryValue::fromBinary(pseudoRandomBytes(48, quint32(i) + 1))},
        {u"Publisher"_s, RegistryValue::fromString(vendor + u" Software GmbH"_s)},
        {u"UninstallString"_s,
         RegistryValue::fromString(u'"' + folder + u"\\uninstall.exe\" /S /LOG=\"%TEMP%\\u.log\""_s)},
        {u"URLInfoAbout"_s,
         RegistryValue::fromString(u"https://www.vendor%1.example/products/%2"_s.arg(i % 97).arg(i))},
    };
    Entry entry{key, {}, {}};
    const QStringList uninstallPath = currentVersion + QStringList{u"Uninstall"_s, key};
    entry.uninstallSection = '\n' + HiveSyntax::formatKeyHeader(uninstallPath, stamp);
    for (const auto& [name, value] : values)
        entry.uninstallSection += HiveSyntax::formatValue(name, value);

    const QStringList cachePath = currentVersion + QStringList{u"App Management"_s, u"ARPCache"_s, key};
    entry.cacheSection =
        '\n' + HiveSyntax::formatKeyHeader(cachePath, stamp) +
        HiveSyntax::formatValue(u"SlowInfoCache"_s,
                                RegistryValue::fromBinary(pseudoRandomBytes(cacheBytes, quint32(i) * 31)));
    return entry;
}

// A system.reg as Wine writes it: keys in Wine's name order, so the ARPCache keys come first.
QByteArray makeHive(int entries, int cacheBytes)
{
    const qint64 stamp = 1700000000000;
    std::vector<Entry> all;
    all.reserve(size_t(entries));
    for (int i = 0; i < entries; ++i)
        all.push_back(makeEntry(i, stamp + i, cacheBytes));
    std::sort(all.begin(), all.end(),
              [](const Entry& a, const Entry& b) { return HiveSyntax::compareNames(a.key, b.key) < 0; });
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    for (const Entry& e : all)
        text += e.cacheSection;
    for (const Entry& e : all)
        text += e.uninstallSection;
    return text;
}

// Keeps the size of one entry fixed and picks the number of entries, or the ARPCache record size,
// that gives a hive of about `bytes`.
int entriesFor(qint64 bytes)
{
    const Entry sample = makeEntry(1, 0, slowInfoCacheBytes);
    return int(bytes / (sample.uninstallSection.size() + sample.cacheSection.size()));
}

int cacheBytesFor(qint64 bytes, int entries)
{
    const qint64 bare = makeHive(entries, 0).size();
    // "xx," per byte, and "\\", a line end and two blanks per 25 bytes.
    return int(std::max<qint64>(0, (bytes - bare) / entries * 100 / 316));
}

double millis(qint64 nanos)
{
    return double(nanos) / 1e6;
}

double megabytesPerSecond(qint64 bytes, qint64 nanos)
{
    return double(bytes) / (1024.0 * 1024.0) / (double(nanos) / 1e9);
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The phases below run in a child process each, so that each one's peak memory is its own.

// wc -l: read the file in large blocks and count the line ends.
qint64 countLines(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    std::vector<char> buffer(1 << 20);
    qint64 lines = 0;
    ssize_t got;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
        const char* p = buffer.data();
        const char* end = p + got;
        while ((p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p))))) {
            ++lines;
            ++p;
        }
    }
    ::close(fd);
    return lines;
}

QByteArray readFile(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The file's bytes read as the registry layer reads a hive: into one buffer of huge pages. Null when
// it cannot be read whole.
QByteArray readAsHiveFile(const QByteArray& path)
{
    const int in = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (in < 0)
        return {};
    if (::fstat(in, &status) != 0) {
        ::close(in);
        return {};
    }
    QByteArray bytes;
    const bool read = LargeBuffer::readToEnd(in, qsizetype(status.st_size), bytes);
    ::close(in);
    return read ? bytes : QByteArray();
}

// The least any save of the whole file can do that leaves the old file or the new one after a crash:
// read it and replace it as the registry layer does (a temporary file beside it, flushed, renamed into
// place, the folder flushed), with nothing parsed or changed.
bool durableReplace(const QByteArray& path)
{
    const QByteArray bytes = readAsHiveFile(path);
    if (bytes.isNull())
        return false;
    try {
        AtomicFile::replace(QFile::decodeName(path + ".floor"), bytes);
    } catch (const KestrinError&) {
        return false;
    }
    return true;
}

// Every value of every uninstall entry and usage record, as a scan of the program list reads them.
qint64 readEverything(const HiveDocument& document)
{
    qint64 values = 0;
    for (const char* parent : {"Uninstall", "App Management\\ARPCache"}) {
        const HiveKey* key = document.findKey(currentVersion + QString::fromLatin1(parent).split(u'\\'));
        if (!key)
            return -1;
        for (const auto& entry : key->subkeys())
            values += qint64(entry->values().size());
    }
    return values;
}

// Runs one phase in this process and prints "<nanoseconds> <result>": for the count and the parse,
// the median of a few runs, the file in the page cache and its bytes in memory. "first-parse" is the
// parse of a process that has just started, which also pays for faulting in the memory it takes.
int runPhase(const char* phase, const QByteArray& path)
{
    constexpr int repeats = 5;
    std::vector<qint64> times;
    qint64 result = 0;
    QElapsedTimer timer;
    if (std::strcmp(phase, "count") == 0) {
        for (int i = 0; i < repeats; ++i) {
            timer.start();
            result = countLines(path);
            times.push_back(timer.nsecsElapsed());
        }
    } else if (std::strcmp(phase, "parse") == 0 || std::strcmp(phase, "first-parse") == 0) {
        const bool first = std::strcmp(phase, "first-parse") == 0;
        if (!first) {
            // The repeats reuse the memory of the first, as the line count reuses its buffer.
            mallopt(M_TRIM_THRESHOLD, 1 << 30);
            mallopt(M_MMAP_THRESHOLD, 32 << 20);
        }
        const QByteArray bytes = first ? readAsHiveFile(path) : readFile(path);
        for (int i = 0; i < (first ? 1 : repeats); ++i) {
            timer.start();
            const auto document = HiveDocument::fromBytes(bytes);
            times.push_back(timer.nsecsElapsed());
            const HiveKey* uninstall = document->findKey(currentVersion + QStringList{u"Uninstall"_s});
            result = document->isValid() && uninstall ? qint64(uninstall->subkeys().size()) : -1;
        }
    } else if (std::strcmp(phase, "read") == 0) {
        result = readFile(path).size();
    } else if (std::strcmp(phase, "load") == 0) {
        result = readAsHiveFile(path).size();
    } else if (std::strcmp(phase, "replace") == 0) {
        if (!durableReplace(path))
            return 1;
    } else if (std::strcmp(phase, "tree") == 0) {
        const auto document = HiveDocument::fromBytes(readFile(path));
        result = readEverything(*document);
    } else if (std::strcmp(phase, "idle") != 0) {
        return 2;
    }
    std::printf("%lld %lld\n", qlonglong(median(times)), qlonglong(result));
    return 0;
}

struct Run
{
    qint64 nanos = -1; // wall time of the child, or the time it reports for its phase
    qint64 result = 0; // what a phase child printed after its time
    qint64 peakKb = 0; // the child's peak resident memory
};

// Starts `argv` with `env` added, waits, and measures it. Returns a run with nanos -1 on failure.
Run runChild(const std::vector<QByteArray>& args, const std::vector<QByteArray>& env = {}, bool phase = false)
{
    std::vector<char*> argv;
    for (const QByteArray& a : args)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    std::vector<QByteArray> envStore = env;
    for (char** e = environ; *e; ++e)
        envStore.emplace_back(*e);
    std::vector<char*> envp;
    for (const QByteArray& e : envStore)
        envp.push_back(const_cast<char*>(e.constData()));
    envp.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    QElapsedTimer timer;
    timer.start();
    pid_t pid;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    Run run;
    if (spawned != 0) {
        ::close(out[0]);
        return run;
    }
    QByteArray printed;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(out[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0)
            printed.append(buffer, got);
    }
    ::close(out[0]);
    int status = 0;
    struct rusage usage;
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const qint64 wall = timer.nsecsElapsed();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return run;
    run.peakKb = usage.ru_maxrss;
    run.nanos = wall;
    if (phase) {
        const QList<QByteArray> fields = printed.trimmed().split(' ');
        if (fields.size() != 2)
            return {};
        run.nanos = fields[0].toLongLong();
        run.result = fields[1].toLongLong();
    }
    return run;
}

struct Series
{
    std::vector<qint64> nanos;
    qint64 peakKb = 0;
    qint64 result = 0;
    bool failed = false;

    void add(const Run& run)
    {
        if (run.nanos < 0) {
            failed = true;
            return;
        }
        nanos.push_back(run.nanos);
        peakKb = std::max(peakKb, run.peakKb);
        result = run.result;
    }
    qint64 typical() const { return median(nanos); }
};

bool writeHive(const QByteArray& path, const QByteArray& bytes)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int fail(const char* why)
{
    std::fprintf(stderr, "hive_bench: %s\n", why);
    return 1;
}

int usage()
{
    std::fprintf(stderr, "Usage: hive_bench [--runs N] [--reg KESTRIN-REG] [--keep]\n"
                         "Generates a system.reg of about 20 MB in a temporary prefix and compares, in interleaved\n"
                         "runs (medians printed): its parse with a read that counts its lines; one value written\n"
                         "by kestrin-reg add, and an add that changes nothing, with cp of the file. Then the memory\n"
                         "of the parsed tree of a 12.4 MB hive with 10,000 uninstall entries, every value read.\n"
                         "Peak memory (maxrss) is each child process's own. --keep leaves the prefixes in place.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--phase") == 0)
        return runPhase(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
        const bool written = writeHive(argv[2], makeHive(entriesFor(targetBytes), slowInfoCacheBytes)) &&
                             writeHive(argv[3], makeHive(treeEntries, cacheBytesFor(treeHiveBytes, treeEntries)));
        std::printf("0 0\n");
        return written ? 0 : 1;
    }

    int runs = 7;
    bool keep = false;
    QByteArray regTool = KESTRIN_REG_PATH;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
            if (runs <= 0)
                return usage();
        } else if (std::strcmp(argv[i], "--reg") == 0 && i + 1 < argc) {
            regTool = argv[++i];
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else {
            return usage();
        }
    }
    QCoreApplication app(argc, argv);
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());

    QTemporaryDir bigDir;
    QTemporaryDir treeDir;
    if (!bigDir.isValid() || !treeDir.isValid())
        return fail("cannot create a temporary folder");
    bigDir.setAutoRemove(!keep);
    treeDir.setAutoRemove(!keep);
    // A child's peak memory starts from its parent's peak: the hives are made by a child of their own.
    const QByteArray hivePath = QFile::encodeName(WinePrefix(bigDir.path()).systemHivePath());
    const QByteArray treePath = QFile::encodeName(WinePrefix(treeDir.path()).systemHivePath());
    const Run made = runChild({self, "--make", hivePath, treePath}, {}, true);
    if (made.nanos < 0)
        return fail("cannot write the hive files");
    const int entries = entriesFor(targetBytes);
    const qint64 hiveSize = QFileInfo(QFile::decodeName(hivePath)).size();
    const qint64 treeHiveSize = QFileInfo(QFile::decodeName(treePath)).size();
    const QByteArray copyPath = hivePath + ".copy";
    // The entry records that kestrin-reg keeps of the changed entry go to the temporary folder too.
    const std::vector<QByteArray> env{"WINEPREFIX=" + QFile::encodeName(bigDir.path()),
                                      "XDG_DATA_HOME=" + QFile::encodeName(bigDir.path()) + "/data"};
    const QByteArray key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ProductSuite1";

    Series count, parse, firstParse, copy, durableCopy, write, unchanged, replaceFloor, readFloor;
    for (int run = 0; run < runs; ++run) {
        count.add(runChild({self, "--phase", "count", hivePath}, {}, true));
        parse.add(runChild({self, "--phase", "parse", hivePath}, {}, true));
        firstParse.add(runChild({self, "--phase", "first-parse", hivePath}, {}, true));
        copy.add(runChild({"/bin/cp", hivePath, copyPath}));
        durableCopy.add(runChild({"/bin/sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", hivePath, copyPath}));
        // Whole processes, as kestrin-reg's runs are: what a save and a look at the file cannot go below.
        replaceFloor.add(runChild({self, "--phase", "replace", hivePath}));
        readFloor.add(runChild({self, "--phase", "load", hivePath}));
        write.add(runChild(
            {regTool, "add", key, "/v", "Comments", "/d", "hive_bench run " + QByteArray::number(run), "/f"}, env));
        unchanged.add(runChild(
            {regTool, "add", key, "/v", "Comments", "/d", "hive_bench run " + QByteArray::number(run), "/f"}, env));
    }
    Series idle, bytesOnly, tree;
    for (int run = 0; run < 3; ++run) {
        idle.add(runChild({self, "--phase", "idle", treePath}, {}, true));
        bytesOnly.add(runChild({self, "--phase", "read", treePath}, {}, true));
        tree.add(runChild({self, "--phase", "tree", treePath}, {}, true));
    }
    for (const Series* s : {&count, &parse, &firstParse, &copy, &durableCopy, &write, &unchanged, &replaceFloor,
                            &readFloor, &idle, &bytesOnly, &tree}) {
        if (s->failed)
            return fail("a measured run failed (is kestrin-reg built?)");
    }
    if (parse.result != entries || firstParse.result != entries)
        return fail("the parse did not find every entry");

    const double sizeMb = double(hiveSize) / (1024.0 * 1024.0);
    const auto ratio = [](qint64 a, qint64 b) {
        return double(a) / double(b);
    };
    std::printf("hive_bench: system.reg of %.1f MB with %d uninstall entries (+ ARPCache records), %lld lines; "
                "medians of %d interleaved runs\n",
                sizeMb, entries, qlonglong(count.result), runs);
    std::printf("  %-44s %9s %10s %9s %11s\n", "", "time", "throughput", "ratio", "peak memory");
    std::printf("  %-44s %7.1fms %6.0fMB/s %9s %8.1fMiB\n", "read + count lines (wc -l)", millis(count.typical()),
                megabytesPerSecond(hiveSize, count.typical()), "", double(count.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %6.0fMB/s %7.2fx %8.1fMiB   throughput / line count's (target >= 0.5)\n",
                "parse of the bytes (HiveDocument::fromBytes)", millis(parse.typical()),
                megabytesPerSecond(hiveSize, parse.typical()), ratio(count.typical(), parse.typical()),
                double(parse.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %6.0fMB/s %7.2fx %8.1fMiB   the same, once in a new process\n",
                "first parse of a process", millis(firstParse.typical()),
                megabytesPerSecond(hiveSize, firstParse.typical()), ratio(count.typical(), firstParse.typical()),
                double(firstParse.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %10s %9s %8.1fMiB\n", "cp of the file", millis(copy.typical()), "", "",
                double(copy.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %10s %9s %8.1fMiB   (a save is flushed to disk; cp's copy is not)\n",
                "cp of the file, then sync of the copy", millis(durableCopy.typical()), "", "",
                double(durableCopy.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %10s %7.2fx %8.1fMiB   a crash-safe save's least, in a process: / cp's\n",
                "read, write beside, fsync, rename, fsync dir", millis(replaceFloor.typical()), "",
                ratio(replaceFloor.typical(), copy.typical()), double(replaceFloor.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %10s %7.2fx %8.1fMiB   time / cp's (target <= 2)\n", "kestrin-reg add, one value",
                millis(write.typical()), "", ratio(write.typical(), copy.typical()), double(write.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %10s %7.2fx %8.1fMiB   a look at the file's text, in a process: / cp's\n",
                "read of the whole file", millis(readFloor.typical()), "", ratio(readFloor.typical(), copy.typical()),
                double(readFloor.peakKb) / 1024);
    std::printf("  %-44s %7.1fms %10s %7.2fx %8.1fMiB   time / cp's (target <= 1)\n",
                "kestrin-reg add, the value it has already", millis(unchanged.typical()), "",
                ratio(unchanged.typical(), copy.typical()), double(unchanged.peakKb) / 1024);

    const double treeMb = double(treeHiveSize) / (1024.0 * 1024.0);
    const double idleMib = double(idle.peakKb) / 1024;
    const double bytesMib = double(bytesOnly.peakKb) / 1024 - idleMib;
    const double treeMib = double(tree.peakKb) / 1024 - idleMib;
    std::printf("memory: system.reg of %.1f MB with %d uninstall entries, all %lld values of entries and records "
                "read (peak of 3 runs above an idle process of %.1f MiB)\n",
                treeMb, treeEntries, qlonglong(tree.result), idleMib);
    std::printf("  the file's bytes alone %.1f MiB; bytes + parsed tree %.1f MiB = %.2fx the file; the tree alone "
                "%.1f MiB\n",
                bytesMib, treeMib, treeMib / treeMb, treeMib - bytesMib);
    if (keep)
        std::printf("  prefixes kept: %s %s\n", qPrintable(bigDir.path()), qPrintable(treeDir.path()));
    return 0;
}
