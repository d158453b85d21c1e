#include "TestPrefix.h"

#include "hive/HiveSyntax.h"
#include "hive/RegistryValue.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

// A system.reg of about `megabytes`, in Wine's layout.
QByteArray makeHive(int megabytes)
{
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    QByteArray blob(400, '\0');
    for (int i = 0; text.size() < qsizetype(megabytes) * 1024 * 1024; ++i) {
        for (char& b : blob)
            b = char(QRandomGenerator::global()->bounded(256));
        text += '\n' +
                HiveSyntax::formatKeyHeader({u"Software"_s, u"Filler"_s, u"Entry%1"_s.arg(i, 6, 10, QLatin1Char('0'))},
                                            1700000000000 + i);
        text += HiveSyntax::formatValue(u"DisplayName"_s, RegistryValue::fromString(u"Program %1"_s.arg(i)));
        text += HiveSyntax::formatValue(u"Blob"_s, RegistryValue::fromBinary(blob));
    }
    return text;
}

QStringList temporaryFiles(const TestPrefix& prefix)
{
    return QDir(prefix.path()).entryList({u".system.reg.*"_s}, QDir::Files | QDir::Hidden);
}

void sleepNanos(qint64 nanos)
{
    timespec t{time_t(nanos / 1000000000), long(nanos % 1000000000)};
    while (::nanosleep(&t, &t) != 0) {
    }
}

} // namespace

// Kills kestrin-reg at random moments of an add and checks every time that the hive is exactly
// the old file or the new one, and that a save that completes leaves no temporary file behind.
// KESTRIN_KILL_RUNS and KESTRIN_KILL_HIVE_MB make the probe as long as wanted.
class TestKillProbe : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hiveIsOldOrNewAfterEveryKill();

private:
    QProcess* startAdd(int run);
    QString m_binary = qEnvironmentVariable("KESTRIN_REG");
    TestPrefix m_prefix;
};

QProcess* TestKillProbe::startAdd(int run)
{
    auto* process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"WINEPREFIX"_s, m_prefix.path());
    process->setProcessEnvironment(env);
    process->start(m_binary, {u"add"_s, u"HKLM\\Software\\KillProbe%1"_s.arg(run), u"/v"_s, u"V"_s, u"/t"_s,
                              u"REG_SZ"_s, u"/d"_s, u"x"_s, u"/f"_s});
    return process;
}

void TestKillProbe::hiveIsOldOrNewAfterEveryKill()
{
    QVERIFY2(QFileInfo(m_binary).isExecutable(), "KESTRIN_REG must name the built kestrin-reg");
    const int runs =
        qEnvironmentVariableIsSet("KESTRIN_KILL_RUNS") ? qEnvironmentVariableIntValue("KESTRIN_KILL_RUNS") : 24;
    const int megabytes =
        qEnvironmentVariableIsSet("KESTRIN_KILL_HIVE_MB") ? qEnvironmentVariableIntValue("KESTRIN_KILL_HIVE_MB") : 3;
    QVERIFY(m_prefix.write(u"system.reg"_s, makeHive(megabytes)));

    // How long a whole add takes; kills fall anywhere in it and a little after.
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QProcess> warmup(startAdd(0));
    QVERIFY(warmup->waitForFinished(120000) && warmup->exitCode() == 0);
    const qint64 duration = timer.nsecsElapsed();

    int unchanged = 0, replaced = 0, completed = 0, mostLeftovers = 0;
    for (int run = 1; run <= runs; ++run) {
        const QByteArray old = m_prefix.read(u"system.reg"_s);
        std::unique_ptr<QProcess> add(startAdd(run));
        QVERIFY(add->waitForStarted());
        sleepNanos(QRandomGenerator::global()->bounded(duration + duration / 4));
        if (add->state() != QProcess::NotRunning)
            ::kill(pid_t(add->processId()), SIGKILL);
        add->waitForFinished(-1);
        const bool finished = add->exitStatus() == QProcess::NormalExit && add->exitCode() == 0;

        const QByteArray now = m_prefix.read(u"system.reg"_s);
        if (now == old) {
            QVERIFY2(!finished, "a completed add changed nothing");
            ++unchanged;
        } else {
            // The new file is the old one with the new key's section, and nothing else changed.
            const QRegularExpression section(
                u"\\n\\[Software\\\\\\\\KillProbe%1\\] \\d+\\n#time=[0-9a-f]+\\n\"V\"=\"x\"\\n"_s.arg(run));
            const QRegularExpressionMatch match = section.match(QString::fromLatin1(now));
            QVERIFY2(match.hasMatch(), qPrintable(u"run %1: the hive is neither the old nor the new file"_s.arg(run)));
            QByteArray withoutNewKey = now;
            withoutNewKey.remove(match.capturedStart(), match.capturedLength());
            QVERIFY2(withoutNewKey == old, qPrintable(u"run %1: more than the new key changed"_s.arg(run)));
            ++replaced;
        }
        const int leftovers = int(temporaryFiles(m_prefix).size());
        mostLeftovers = std::max(mostLeftovers, leftovers);
        if (finished) {
            ++completed;
            QVERIFY2(leftovers == 0, qPrintable(temporaryFiles(m_prefix).join(u' ')));
        }
    }
    std::unique_ptr<QProcess> last(startAdd(runs + 1));
    QVERIFY(last->waitForFinished(120000) && last->exitCode() == 0);
    const QStringList afterLastSave = temporaryFiles(m_prefix);
    qInfo("hive %d MB, add %.0f ms; %d runs: %d killed, %d completed; hive old %d, new %d, neither 0; "
          "most temporary files after a kill %d, after the next completed save %d",
          megabytes, double(duration) / 1e6, runs, runs - completed, completed, unchanged, replaced, mostLeftovers,
          int(afterLastSave.size()));
    QVERIFY2(afterLastSave.isEmpty(), qPrintable(afterLastSave.join(u' ')));
}

QTEST_GUILESS_MAIN(TestKillProbe)
#include "tst_killprobe.moc"
