// editor_bench: the entry editor's OK with ten changed rows on a registry file of about 20 MB, as
// one atomic save, against ten separate saves and against copying the file with cp.

#include "details/EntryEditor.h"
#include "hive/HiveSyntax.h"
#include "inventory/RegistryAccess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 targetBytes = 20 * 1024 * 1024;
constexpr int runs = 7;
constexpr int changedRows = 10;
const QString entryKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Entry00001"_s;

QByteArray makeHive()
{
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    const QStringList uninstall{u"Software"_s, u"Microsoft"_s, u"Windows"_s, u"CurrentVersion"_s, u"Uninstall"_s};
    for (int i = 0; text.size() < targetBytes; ++i) {
        text += '\n' + HiveSyntax::formatKeyHeader(
                           uninstall + QStringList{u"Entry%1"_s.arg(i, 5, 10, QLatin1Char('0'))}, 1700000000000 + i);
        text += HiveSyntax::formatValue(u"DisplayName"_s, RegistryValue::fromString(u"Program %1"_s.arg(i)));
        for (int v = 0; v < 12; ++v) {
            text += HiveSyntax::formatValue(
                u"Value%1"_s.arg(v),
                RegistryValue::fromString(u"C:\\Program Files\\Vendor\\Program %1\\file%2"_s.arg(i).arg(v)));
        }
        text += HiveSyntax::formatValue(u"Blob"_s, RegistryValue::fromBinary(QByteArray(552, char(i))));
    }
    return text;
}

qint64 median(std::vector<qint64> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    QTemporaryDir dir;
    const WinePrefix prefix(dir.path());
    const QByteArray hive = makeHive();
    QFile file(prefix.systemHivePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(hive) != hive.size())
        return 1;
    file.close();

    EntryEditor editor(prefix, RegistryRoot::LocalMachine, entryKey);
    std::vector<qint64> batched, separate, copies;
    for (int run = 0; run < runs; ++run) {
        QList<EntryEditor::Row> rows = editor.initialRows();
        for (int i = 0; i < changedRows; ++i)
            rows[i + 1].text = u"changed in run %1"_s.arg(run);
        QElapsedTimer timer;
        timer.start();
        editor.apply(rows, {});
        batched.push_back(timer.nsecsElapsed());

        RegistryAccess registry(prefix);
        registry.RootKey(RegistryRoot::LocalMachine);
        registry.OpenKey(entryKey, false);
        timer.restart();
        for (int i = 0; i < changedRows; ++i)
            registry.WriteString(u"Value%1"_s.arg(i), u"separate run %1"_s.arg(run));
        separate.push_back(timer.nsecsElapsed());

        timer.restart();
        QProcess::execute(u"cp"_s, {prefix.systemHivePath(), dir.filePath(u"copy.reg"_s)});
        copies.push_back(timer.nsecsElapsed());
    }
    std::printf("editor_bench: system.reg of %.1f MB, %d changed rows, median of %d runs\n",
                double(hive.size()) / (1024.0 * 1024.0), changedRows, runs);
    std::printf("  OK, one atomic save:        %8.1f ms\n", double(median(batched)) / 1e6);
    std::printf("  one save per row:           %8.1f ms\n", double(median(separate)) / 1e6);
    std::printf("  cp of the same file:        %8.1f ms\n", double(median(copies)) / 1e6);
    return 0;
}
