// scan_bench: how long a whole scan of the program list takes for prefixes of 1,000 and 10,000
// installed programs, each with a usage record, an existing uninstaller and an icon file.

#include "inventory/ProgramListModel.h"
#include "inventory/ProgramScan.h"
#include "platform/HiveSyntax.h"
#include "platform/SystemIconList.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%-8s %12s %12s %12s %8s\n", "entries", "first ms", "again ms", "ms/entry", "listed");
    double firstOf1000 = 0;
    for (const int count : {1000, 10000}) {
        QTemporaryDir dir;
        makePrefix(dir.path(), count);
        SystemIconList icons;
        icons.addImages({}, {});
        icons.addImages({}, {});
        int items = 0;
        // The first scan parses the hive and meets every file for the first time; later scans
        // find the hive and the icon indexes already known, as a Refresh does.
        const double first = scanMillis(dir.path(), icons, &items);
        double again = 1e300;
        for (int run = 0; run < 3; ++run)
            again = std::min(again, scanMillis(dir.path(), icons, &items));
        std::printf("%-8d %12.1f %12.1f %12.3f %8d\n", count, first, again, again / count, items);
        if (count == 1000)
            firstOf1000 = again;
        else
            std::printf("ratio 10,000 / 1,000 (repeat scans): %.1f\n", again / firstOf1000);
    }
    return 0;
}
