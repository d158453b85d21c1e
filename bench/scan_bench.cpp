// scan_bench: how long a whole scan of the program list takes for prefixes of 1,000 and 10,000
// installed programs, each with a usage record, an existing uninstaller and an icon file; how the time
// grows from one size to the other; and the peak memory of the process that scanned.

#include "desktop/SystemIconList.h"
#include "hive/HiveSyntax.h"
#include "inventory/ProgramListModel.h"
#include "inventory/ProgramScan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QByteArray usageRecord(int i)
{
    QByteArray record(552, '\0');
    qToLittleEndian<qint64>(qint64(i + 1) * 1048576 * 3, record.data() + 8);
    qToLittleEndian<quint64>(127000000000000000ULL + quint64(i) * 864000000000ULL, record.data() + 16);
    qToLittleEndian<qint32>(i % 20, record.data() + 24);
    const QString path = u"C:\\Apps\\App%1\\app.exe"_s.arg(i);
    qToLittleEndian<char16_t>(path.utf16(), path.size(), record.data() + 28);
    return record;
}

// A prefix with `count` entries; every third uninstaller is missing, every entry's program file exists.
void makePrefix(const QString& dir, int count)
{
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    const QStringList cache{u"Software"_s,       u"Microsoft"_s,      u"Windows"_s,
                            u"CurrentVersion"_s, u"App Management"_s, u"ARPCache"_s};
    const QStringList uninstall{u"Software"_s, u"Microsoft"_s, u"Windows"_s, u"CurrentVersion"_s, u"Uninstall"_s};
    QByteArray cacheText, uninstallText;
    for (int i = 0; i < count; ++i) {
        const QString name = u"App%1"_s.arg(i, 5, 10, QLatin1Char('0'));
        cacheText += '\n' + HiveSyntax::formatKeyHeader(cache + QStringList{name}, 1700000000000) +
                     HiveSyntax::formatValue(u"SlowInfoCache"_s, RegistryValue::fromBinary(usageRecord(i)));
        uninstallText += '\n' + HiveSyntax::formatKeyHeader(uninstall + QStringList{name}, 1700000000000);
        uninstallText += HiveSyntax::formatValue(u"DisplayIcon"_s,
                                                 RegistryValue::fromString(u"C:\\Apps\\App%1\\app.exe,0"_s.arg(i)));
        uninstallText +=
            HiveSyntax::formatValue(u"DisplayName"_s, RegistryValue::fromString(u"Application %1"_s.arg(count - i)));
        uninstallText += HiveSyntax::formatValue(u"Publisher"_s, RegistryValue::fromString(u"Vendor %1"_s.arg(i % 50)));
        const QString uninstaller =
            i % 3 ? u"C:\\Apps\\App%1\\uninst.exe"_s.arg(i) : u"C:\\Gone\\App%1\\uninst.exe"_s.arg(i);
        uninstallText += HiveSyntax::formatValue(u"UninstallString"_s,
                                                 RegistryValue::fromString(u"\""_s + uninstaller + u"\" /S"_s));

        const QString folder = dir + u"/drive_c/Apps/App%1"_s.arg(i);
        QDir().mkpath(folder);
        QFile(folder + u"/app.exe"_s).open(QIODevice::WriteOnly);
        QFile(folder + u"/uninst.exe"_s).open(QIODevice::WriteOnly);
    }
    text += cacheText + uninstallText;
    QFile file(dir + u"/system.reg"_s);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    QDir().mkpath(dir + u"/dosdevices"_s);
    QFile::link(u"../drive_c"_s, dir + u"/dosdevices/c:"_s);
}

struct ChildResult
{
    double firstMs = 0;
    double againMs = 0;
    int items = 0;
    double peakMiB = 0;
};

double scanMillis(const QString& dir, SystemIconList& icons, int* items)
{
    ProgramListModel model(true);
    ProgramScan scan(WinePrefix(dir), true, icons, 0, 1);
    QElapsedTimer timer;
    timer.start();
    scan.RefreshProgramList(model);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    *items = model.count();
    return ms;
}

// One size in a process of its own, so that its peak memory is its own: the first scan parses the hive
// and meets every file for the first time; later scans find the hive and the icon indexes already
// known, as a Refresh does.
int runChild(const QString& dir)
{
    SystemIconList icons;
    icons.addImages({}, {});
    icons.addImages({}, {});
    ChildResult result;
    result.firstMs = scanMillis(dir, icons, &result.items);
    result.againMs = 1e300;
    for (int run = 0; run < 3; ++run)
        result.againMs = std::min(result.againMs, scanMillis(dir, icons, &result.items));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%f %f %d %f\n", result.firstMs, result.againMs, result.items, double(usage.ru_maxrss) / 1024.0);
    return 0;
}

std::optional<ChildResult> inChild(const QString& dir)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {u"--child"_s, dir});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> fields = child.readAllStandardOutput().simplified().split(' ');
    if (fields.size() != 4)
        return std::nullopt;
    return ChildResult{fields[0].toDouble(), fields[1].toDouble(), fields[2].toInt(), fields[3].toDouble()};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

// scan_bench [--runs N]: each size scanned in a fresh process N times (default 5), the sizes taking
// turns; medians are printed.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1] == u"--child")
        return runChild(arguments[2]);
    int runs = 5;
    if (arguments.size() == 3 && arguments[1] == u"--runs")
        runs = std::max(1, arguments[2].toInt());

    const std::array<int, 2> counts{1000, 10000};
    std::array<QTemporaryDir, 2> dirs;
    for (size_t i = 0; i < counts.size(); ++i)
        makePrefix(dirs[i].path(), counts[i]);
    std::array<std::vector<double>, 2> first, again, peak;
    std::array<int, 2> items{};
    for (int round = 0; round < runs; ++round) {
        for (size_t i = 0; i < counts.size(); ++i) {
            const auto result = inChild(dirs[i].path());
            if (!result) {
                std::fprintf(stderr, "the scan of %d entries failed\n", counts[i]);
                return 1;
            }
            first[i].push_back(result->firstMs);
            again[i].push_back(result->againMs);
            peak[i].push_back(result->peakMiB);
            items[i] = result->items;
        }
    }

    std::printf("medians of %d runs, each in a process of its own\n", runs);
    std::printf("%-8s %12s %12s %12s %8s %10s\n", "entries", "first ms", "again ms", "ms/entry", "listed", "peak MiB");
    for (size_t i = 0; i < counts.size(); ++i)
        std::printf("%-8d %12.1f %12.1f %12.3f %8d %10.1f\n", counts[i], median(first[i]), median(again[i]),
                    median(again[i]) / counts[i], items[i], median(peak[i]));
    std::printf("growth t(10,000) / t(1,000): first scan %.1f, repeat scans %.1f\n",
                median(first[1]) / median(first[0]), median(again[1]) / median(again[0]));
    return 0;
}
