// startup_bench: the time from process start to the first paint of the filled program list (offscreen),
// on generated prefixes of 1,000 and 10,000 uninstall entries whose files exist, against
// `wine uninstaller --list` on the same prefix when Wine is installed. Each child's peak memory is
// printed beside its time, with an almost empty prefix (one entry) as the baseline.
//
//     startup_bench [--runs N] [--prefixes DIR] [KESTRIN ...]
//
// The programs named (default: the kestrin built beside this benchmark) run in turn, interleaved with
// Wine's, N times each (default 5); medians are printed. With --prefixes the prefixes are made in DIR
// and kept there, for profiling and for later runs, which use them again.
//
// With Wine the prefixes are real ones: a base made once by `wineboot -i` is kept in /tmp and copied for
// each size, and the entries are added to its system.reg in Wine's format.

#include "hive/HiveSyntax.h"
#include "wine/WineLauncher.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace Qt::StringLiterals;

namespace {

constexpr int entriesPerFolder = 10;
constexpr int childTimeoutMs = 120000;
const QByteArray paintedMark = "kestrin: list painted";

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// An .ico file with a 16 and a 32 pixel PNG image, coloured by seed so that files differ.
QByteArray icoFile(int seed)
{
    QList<QByteArray> pngs;
    for (const int side : {16, 32}) {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(QColor::fromHsv(seed * 37 % 360, 200, 220));
        for (int i = 0; i < side; ++i)
            image.setPixel(i, i, qRgba(0, 0, 0, 255));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        pngs.append(png);
    }
    QByteArray ico(6 + 16 * pngs.size(), '\0');
    qToLittleEndian<quint16>(1, ico.data() + 2);
    qToLittleEndian<quint16>(quint16(pngs.size()), ico.data() + 4);
    quint32 offset = quint32(ico.size());
    for (qsizetype i = 0; i < pngs.size(); ++i) {
        char* entry = ico.data() + 6 + 16 * i;
        entry[0] = entry[1] = char(i == 0 ? 16 : 32);
        qToLittleEndian<quint16>(1, entry + 4);
        qToLittleEndian<quint16>(32, entry + 6);
        qToLittleEndian<quint32>(quint32(pngs[i].size()), entry + 8);
        qToLittleEndian<quint32>(offset, entry + 12);
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : std::as_const(pngs))
        ico += png;
    return ico;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Adds `count` entries to the prefix's system.reg, with their files under drive_c: ten entries share a
// program folder with one icon file; half of them are 32-bit programs (the Wow6432Node view); every
// seventh uninstaller is missing; every fourth entry names its files in upper case, as some installers
// write them; every fifth has no DisplayIcon, so its icon comes from the uninstaller.
void addEntries(const QString& prefix, int count)
{
    const QStringList currentVersion{u"Software"_s, u"Microsoft"_s, u"Windows"_s, u"CurrentVersion"_s};
    const QStringList wowCurrentVersion = QStringList{u"Software"_s, u"Wow6432Node"_s} + currentVersion.mid(1);
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        const int folderNumber = i / entriesPerFolder;
        const bool wow64 = folderNumber % 2 == 1;
        const QString programFiles = wow64 ? u"Program Files (x86)"_s : u"Program Files"_s;
        const QString vendor = u"Vendor %1"_s.arg(folderNumber % 97);
        const QString product = u"Product Suite %1"_s.arg(folderNumber);
        const QString relativeFolder = programFiles + u'/' + vendor + u'/' + product;
        const QString uninstaller = u"unins%1.exe"_s.arg(i, 5, 10, QLatin1Char('0'));

        if (i % entriesPerFolder == 0)
            writeFile(prefix + u"/drive_c/"_s + relativeFolder + u"/app.ico"_s, icoFile(folderNumber));
        if (i % 7 != 3)
            writeFile(prefix + u"/drive_c/"_s + relativeFolder + u'/' + uninstaller, {});

        QString folder = u"C:\\"_s + QString(relativeFolder).replace(u'/', u'\\');
        if (i % 4 == 1)
            folder = folder.toUpper();
        const QString key = i % 3 == 0 ? u"{%1-1111-2222-3333-%2}"_s.arg(i, 8, 16, QLatin1Char('0'))
                                             .arg(quint64(i) * 7919, 12, 16, QLatin1Char('0'))
                                       : u"ProductSuite%1"_s.arg(i);
        std::vector<std::pair<QString, RegistryValue>> values;
        if (i % 5 != 2)
            values.emplace_back(u"DisplayIcon"_s, RegistryValue::fromString(u'"' + folder + u"\\app.ico\",0"_s));
        values.insert(
            values.end(),
            {
                {u"DisplayName"_s, RegistryValue::fromString(u"Application %1 of %2"_s.arg(count - i).arg(vendor))},
                {u"DisplayVersion"_s, RegistryValue::fromString(u"%1.%2.%3"_s.arg(i % 9).arg(i % 17).arg(i))},
                {u"EstimatedSize"_s, RegistryValue::fromDword(quint32(1000 + i * 37 % 500000))},
                {u"HelpLink"_s, RegistryValue::fromString(u"https://support.vendor%1.example/help"_s.arg(i % 97))},
                {u"InstallDate"_s,
                 RegistryValue::fromString(
                     u"2024%1%2"_s.arg(1 + i % 12, 2, 10, QLatin1Char('0')).arg(1 + i % 28, 2, 10, QLatin1Char('0')))},
                {u"InstallLocation"_s, RegistryValue::fromString(folder + u'\\')},
                {u"Language"_s, RegistryValue::fromDword(1033)},
                {u"ModifyPath"_s, RegistryValue::fromString(u'"' + folder + u'\\' + uninstaller + u"\" /MODIFY"_s)},
                {u"NoRepair"_s, RegistryValue::fromDword(1)},
                {u"Publisher"_s, RegistryValue::fromString(vendor + u" Software GmbH"_s)},
                {u"QuietUninstallString"_s,
                 RegistryValue::fromString(u'"' + folder + u'\\' + uninstaller + u"\" /VERYSILENT /NORESTART"_s)},
                {u"UninstallString"_s, RegistryValue::fromString(u'"' + folder + u'\\' + uninstaller + u'"')},
                {u"URLInfoAbout"_s,
                 RegistryValue::fromString(u"https://www.vendor%1.example/products/%2"_s.arg(i % 97).arg(i))},
                {u"URLUpdateInfo"_s,
                 RegistryValue::fromString(u"https://www.vendor%1.example/updates/%2"_s.arg(i % 97).arg(i))},
                {u"VersionMajor"_s, RegistryValue::fromDword(quint32(i % 9))},
                {u"VersionMinor"_s, RegistryValue::fromDword(quint32(i % 17))},
            });
        const QStringList path = (wow64 ? wowCurrentVersion : currentVersion) + QStringList{u"Uninstall"_s, key};
        text += '\n' + HiveSyntax::formatKeyHeader(path, 1700000000000 + i);
        for (const auto& [name, value] : values)
            text += HiveSyntax::formatValue(name, value);
    }
    QFile hive(prefix + u"/system.reg"_s);
    hive.open(QIODevice::Append);
    hive.write(text);
}

bool run(const QString& program, const QStringList& arguments, const QString& prefix)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"WINEPREFIX"_s, prefix);
    env.insert(u"WINEDEBUG"_s, u"-all"_s);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString wineServerProgram()
{
    const QString beside = QFileInfo(WineLauncher::wineProgram()).absolutePath() + u"/wineserver"_s;
    return QFileInfo::exists(beside) ? beside : u"wineserver"_s;
}

// The base every prefix is copied from: a real prefix when Wine is installed, made once and kept.
QString basePrefix(const QString& scratch, bool wine)
{
    if (!wine) {
        const QString base = scratch + u"/base"_s;
        QDir().mkpath(base + u"/drive_c"_s);
        QDir().mkpath(base + u"/dosdevices"_s);
        QFile::link(u"../drive_c"_s, base + u"/dosdevices/c:"_s);
        writeFile(base + u"/system.reg"_s,
                  "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n");
        return base;
    }
    const QString base = u"/tmp/kestrin-bench-wine-base-%1"_s.arg(getuid());
    const QString ready = base + u"/.kestrin-bench-ready"_s;
    if (QFile::exists(ready))
        return base;
    std::printf("making a Wine prefix in %s (once)...\n", qPrintable(base));
    std::fflush(stdout);
    QDir(base).removeRecursively();
    QDir().mkpath(base);
    if (!run(WineLauncher::wineProgram(), {u"wineboot"_s, u"-i"_s}, base) ||
        !run(wineServerProgram(), {u"-w"_s}, base) || !QFile::exists(base + u"/system.reg"_s)) {
        std::fprintf(stderr, "wineboot failed; the prefix in %s is incomplete\n", qPrintable(base));
        std::exit(1);
    }
    writeFile(ready, {});
    return base;
}

void copyOf(const QString& base, const QString& to)
{
    QDir().mkpath(to);
    // A fresh Wine prefix holds hundreds of megabytes of system files that nobody here writes: they are
    // hard links to the base's. The registry files, which change, are copies of their own.
    if (QProcess::execute(u"cp"_s, {u"-al"_s, base + u"/."_s, to}) != 0) {
        std::fprintf(stderr, "could not copy %s\n", qPrintable(base));
        std::exit(1);
    }
    for (const QString& hive : QDir(base).entryList({u"*.reg"_s}, QDir::Files)) {
        QFile::remove(to + u'/' + hive);
        QFile::copy(base + u'/' + hive, to + u'/' + hive);
    }
}

struct Outcome
{
    bool ok = false;
    double ms = 0;
    double peakMiB = 0;
    int lines = 0; // lines written on standard output
};

// Starts the program and times it until `mark` appears on its standard output, or until it ends when
// `mark` is empty; the child's peak memory comes from wait4.
Outcome timeChild(const QStringList& command, const QStringList& extraEnvironment, const QString& workingDir,
                  const QByteArray& mark)
{
    std::vector<QByteArray> storage;
    for (const QString& part : command)
        storage.push_back(QFile::encodeName(part));
    std::vector<QByteArray> envStorage;
    for (char** e = environ; *e; ++e)
        envStorage.emplace_back(*e);
    for (const QString& setting : extraEnvironment)
        envStorage.push_back(setting.toLocal8Bit());
    std::vector<char*> argv, envp;
    for (QByteArray& part : storage)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    for (QByteArray& part : envStorage)
        envp.push_back(part.data());
    envp.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    const int errorFile = ::open(QFile::encodeName(workingDir + u"/stderr.txt"_s).constData(),
                                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorFile, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(workingDir).constData());

    Outcome outcome;
    const double start = nowMs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(errorFile);
    if (spawned != 0) {
        ::close(out[0]);
        return {};
    }

    QByteArray output;
    bool marked = false;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int remaining = int(childTimeoutMs - (nowMs() - start));
        if (remaining <= 0 || ::poll(&p, 1, remaining) <= 0)
            break;
        char buffer[65536];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        output.append(buffer, n);
        if (!mark.isEmpty() && output.contains(mark)) {
            outcome.ms = nowMs() - start;
            marked = true;
            break;
        }
    }
    if (!marked && !mark.isEmpty())
        ::kill(pid, SIGKILL);
    // Whatever the child still writes is drained so that it can end.
    char sink[65536];
    while (::read(out[0], sink, sizeof sink) > 0) {
    }
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (mark.isEmpty())
        outcome.ms = nowMs() - start;
    outcome.ok = (marked || mark.isEmpty()) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    outcome.peakMiB = double(usage.ru_maxrss) / 1024.0;
    outcome.lines = int(output.count('\n'));
    return outcome;
}

struct Series
{
    std::vector<double> ms;
    std::vector<double> peakMiB;
    int failures = 0;
    int lines = 0;

    void add(const Outcome& outcome)
    {
        if (!outcome.ok) {
            ++failures;
            return;
        }
        ms.push_back(outcome.ms);
        peakMiB.push_back(outcome.peakMiB);
        lines = outcome.lines;
    }
};

struct Prefix
{
    QString label;
    int entries;
    QString path;
    double hiveMiB = 0;
    std::vector<Series> kestrin; // one per program
    Series wine;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList programs;
    int runs = 5;
    QString kept;
    const QStringList arguments = app.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == u"--runs" && i + 1 < arguments.size())
            runs = std::max(1, arguments[++i].toInt());
        else if (arguments[i] == u"--prefixes" && i + 1 < arguments.size())
            kept = QDir(arguments[++i]).absolutePath();
        else
            programs.append(QFileInfo(arguments[i]).absoluteFilePath());
    }
    if (programs.isEmpty())
        programs.append(QStringLiteral(KESTRIN_EXE));

    const bool wine = !WineLauncher::wineProgram().isEmpty();
    QTemporaryDir temporary;
    const QDir scratch(kept.isEmpty() ? temporary.path() : kept);
    QDir().mkpath(scratch.path());
    const QString base = basePrefix(scratch.path(), wine);
    std::vector<Prefix> prefixes{
        {u"almost empty"_s, 1, {}, 0, {}, {}}, {u"1,000"_s, 1000, {}, 0, {}, {}}, {u"10,000"_s, 10000, {}, 0, {}, {}}};
    for (Prefix& prefix : prefixes) {
        prefix.path = scratch.filePath(u"prefix-%1"_s.arg(prefix.entries));
        const QString made = prefix.path + u"/.kestrin-bench-entries"_s;
        if (!QFile::exists(made)) {
            QDir(prefix.path).removeRecursively();
            copyOf(base, prefix.path);
            addEntries(prefix.path, prefix.entries);
            writeFile(made, {});
        }
        prefix.hiveMiB = double(QFileInfo(prefix.path + u"/system.reg"_s).size()) / (1024.0 * 1024.0);
        prefix.kestrin.resize(size_t(programs.size()));
    }
    const QString work = scratch.filePath(u"work"_s);
    QDir().mkpath(work);

    const auto waitForWineServer = [&](const QString& prefix) {
        run(wineServerProgram(), {u"-w"_s}, prefix);
    };
    for (int round = 0; round < runs; ++round) {
        for (Prefix& prefix : prefixes) {
            for (qsizetype p = 0; p < programs.size(); ++p) {
                prefix.kestrin[size_t(p)].add(
                    timeChild({programs[p]},
                              {u"QT_QPA_PLATFORM=offscreen"_s, u"WINEPREFIX="_s + prefix.path, u"WINEDEBUG=-all"_s,
                               u"KESTRIN_FIRST_PAINT_MARK=1"_s, u"XDG_DATA_HOME="_s + work},
                              work, paintedMark));
            }
            if (wine) {
                // Each run starts Wine cold: the server of the previous run has saved and ended.
                waitForWineServer(prefix.path);
                prefix.wine.add(timeChild({WineLauncher::wineProgram(), u"uninstaller"_s, u"--list"_s},
                                          {u"WINEPREFIX="_s + prefix.path, u"WINEDEBUG=-all"_s}, work, {}));
                waitForWineServer(prefix.path);
            }
        }
    }

    std::printf("start -> list painted (offscreen), medians of %d interleaved runs; peak memory of the child\n", runs);
    std::printf("%-13s %8s %-28s %10s %9s %10s %9s %11s\n", "prefix", "hive MiB", "program", "ms", "peak MiB",
                "wine ms", "listed", "wine/this");
    const std::vector<Series>& baseline = prefixes.front().kestrin;
    for (const Prefix& prefix : prefixes) {
        const double wineMs = median(prefix.wine.ms);
        for (qsizetype p = 0; p < programs.size(); ++p) {
            const Series& series = prefix.kestrin[size_t(p)];
            const double ms = median(series.ms);
            std::printf("%-13s %8.1f %-28s %10.1f %9.1f", qPrintable(prefix.label), prefix.hiveMiB,
                        qPrintable(programs[p].right(28)), ms, median(series.peakMiB));
            if (wine)
                std::printf(" %10.1f %9d %10.1fx", wineMs, prefix.wine.lines, ms > 0 ? wineMs / ms : 0.0);
            if (series.failures)
                std::printf("  (%d runs failed, see %s/stderr.txt)", series.failures, qPrintable(work));
            std::printf("\n");
        }
    }
    const Prefix& largest = prefixes.back();
    for (qsizetype p = 0; p < programs.size(); ++p) {
        const double above = median(largest.kestrin[size_t(p)].peakMiB) - median(baseline[size_t(p)].peakMiB);
        const double hiveAbove = largest.hiveMiB - prefixes.front().hiveMiB;
        std::printf("%s: peak at %s entries %.1f MiB above the almost empty prefix, %.1fx the hive's growth "
                    "(%.1f MiB) and %.1fx the whole hive (%.1f MiB)\n",
                    qPrintable(programs[p]), qPrintable(largest.label), above, hiveAbove > 0 ? above / hiveAbove : 0,
                    hiveAbove, above / largest.hiveMiB, largest.hiveMiB);
    }
    return 0;
}
