// hive_bench: how the registry layer's parse and single-value save compare with merely reading a
// registry file of realistic size (about 20 MB, a prefix with thousands of installed programs).

#include "inventory/RegistryAccess.h"
#include "platform/HiveDocument.h"
#include "platform/HiveSyntax.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 targetBytes = 20 * 1024 * 1024;
constexpr int parseRuns = 5;
constexpr int writeRuns = 9;
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
Entry makeEntry(int i, qint64 stamp)
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
        HiveSyntax::formatValue(u"SlowInfoCache"_s, RegistryValue::fromBinary(pseudoRandomBytes(552, quint32(i) * 31)));
    return entry;
}

// A system.reg as Wine writes it: keys in Wine's name order, so the ARPCache keys come first.
QByteArray makeHive(int entries)
{
    const qint64 stamp = 1700000000000;
    std::vector<Entry> all;
    all.reserve(size_t(entries));
    for (int i = 0; i < entries; ++i)
        all.push_back(makeEntry(i, stamp + i));
    std::sort(all.begin(), all.end(),
              [](const Entry& a, const Entry& b) { return HiveSyntax::compareNames(a.key, b.key) < 0; });
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    for (const Entry& e : all)
        text += e.cacheSection;
    for (const Entry& e : all)
        text += e.uninstallSection;
    return text;
}

double millis(qint64 nanos)
{
    return double(nanos) / 1e6;
}

double megabytesPerSecond(qint64 bytes, qint64 nanos)
{
    return double(bytes) / (1024.0 * 1024.0) / (double(nanos) / 1e9);
}

// wc -l: read the file in large blocks and count the line ends.
qint64 countLines(const QByteArray& path, qint64& lines)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    static std::vector<char> buffer(1 << 20);
    lines = 0;
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
    return timer.nsecsElapsed();
}

int fail(const char* why)
{
    std::fprintf(stderr, "hive_bench: %s\n", why);
    return 1;
}

int usage()
{
    std::fprintf(stderr, "Usage: hive_bench [--entries N] [--keep]\n"
                         "Generates a system.reg of about 20 MB (or with N uninstall entries) in a temporary\n"
                         "prefix and times parsing it, saving one value, and reading it line by line.\n"
                         "--keep leaves the prefix in place and prints its path.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    int entries = 0;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--entries") == 0 && i + 1 < argc) {
            entries = std::atoi(argv[++i]);
            if (entries <= 0)
                return usage();
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else {
            return usage();
        }
    }
    if (entries == 0) {
        // Size one entry and take as many as make the target size.
        const Entry sample = makeEntry(1, 0);
        entries = int(targetBytes / (sample.uninstallSection.size() + sample.cacheSection.size()));
    }

    QTemporaryDir prefixDir;
    if (!prefixDir.isValid())
        return fail("cannot create a temporary folder");
    prefixDir.setAutoRemove(!keep);
    const WinePrefix prefix(prefixDir.path());
    const QByteArray hive = makeHive(entries);
    {
        QFile file(prefix.systemHivePath());
        if (!file.open(QIODevice::WriteOnly) || file.write(hive) != hive.size())
            return fail("cannot write the hive file");
    }
    const QByteArray hivePath = QFile::encodeName(prefix.systemHivePath());
    const double sizeMb = double(hive.size()) / (1024.0 * 1024.0);

    // Baseline: best of a few runs, the file in the page cache as it is for the other two.
    qint64 lines = 0;
    qint64 baseline = std::numeric_limits<qint64>::max();
    for (int run = 0; run < parseRuns + 1; ++run)
        baseline = std::min(baseline, countLines(hivePath, lines));

    qint64 parse = std::numeric_limits<qint64>::max();
    qsizetype parsedEntries = 0;
    for (int run = 0; run < parseRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        const auto document = HiveDocument::fromBytes(hive);
        parse = std::min(parse, timer.nsecsElapsed());
        const HiveKey* uninstall = document->findKey(currentVersion + QStringList{u"Uninstall"_s});
        parsedEntries = document->isValid() && uninstall ? qsizetype(uninstall->subkeys().size()) : -1;
    }
    if (parsedEntries != entries) {
        std::fprintf(stderr, "hive_bench: the parse found %lld of %d entries\n", qlonglong(parsedEntries), entries);
        return 1;
    }

    // One value written through the registry object: re-check the file, serialize, write a
    // temporary file, flush it to disk and rename it over the hive.
    RegistryAccess registry(prefix);
    registry.RootKey(RegistryRoot::LocalMachine);
    if (!registry.OpenKey(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ProductSuite1"_s, false))
        return fail("cannot open the key to write");
    std::vector<qint64> writes;
    for (int run = 0; run < writeRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        registry.WriteString(u"Comments"_s, u"written by hive_bench, run %1"_s.arg(run));
        writes.push_back(timer.nsecsElapsed());
    }
    std::sort(writes.begin(), writes.end());
    const qint64 write = writes[writes.size() / 2];

    std::printf("hive_bench: system.reg with %d uninstall entries (+ ARPCache records): %.1f MB, %lld lines\n", entries,
                sizeMb, qlonglong(lines));
    std::printf("  baseline  read + count lines (best of %d):        %8.1f ms  %8.0f MB/s\n", parseRuns + 1,
                millis(baseline), megabytesPerSecond(hive.size(), baseline));
    std::printf("  parse     HiveDocument::fromBytes (best of %d):   %8.1f ms  %8.0f MB/s  %6.1fx baseline\n",
                parseRuns, millis(parse), megabytesPerSecond(hive.size(), parse), double(parse) / double(baseline));
    std::printf("  write     one value, atomic save (median of %d):  %8.1f ms  %8.0f MB/s  %6.1fx baseline\n",
                writeRuns, millis(write), megabytesPerSecond(hive.size(), write), double(write) / double(baseline));
    std::printf("            (write fastest %.1f ms, slowest %.1f ms)\n", millis(writes.front()),
                millis(writes.back()));
    if (keep)
        std::printf("  prefix kept: %s\n", qPrintable(prefix.path()));
    return 0;
}
