#include "base/Clock.h"
#include "base/KestrinError.h"
#include "uninstall/UninstallLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestUninstallLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void prepareWritesHeaderRecord();
    void prepareLeavesExistingLog();
    void appendsExactBytes();
    void appendCreatesMissingFile();
    void nonAsciiNameInLocaleEncoding();
    void dateAndTime_data();
    void dateAndTime();
    void failureNamesFileAndCause_data();
    void failureNamesFileAndCause();
    void fileSizeLimitKeepsEarlierRecords();

private:
    QByteArray contents() const;

    QTemporaryDir m_dir;
    QString m_logPath;
};

void TestUninstallLog::init()
{
    QVERIFY(m_dir.isValid());
    m_logPath = m_dir.filePath(u"ULog.txt"_s);
    QFile::remove(m_logPath);
}

void TestUninstallLog::cleanup()
{
    Clock::setSource({});
}

QByteArray TestUninstallLog::contents() const
{
    QFile file(m_logPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void TestUninstallLog::prepareWritesHeaderRecord()
{
    UninstallLog log(m_dir.path());
    QCOMPARE(log.LogPath(), m_logPath);
    log.prepare();
    QCOMPARE(contents(), QByteArray("Kestrin Uninstall Log \r\n"
                                    "Contains information about programs you have uninstalled from your computer\r\n"
                                    "\r\n"));
}

void TestUninstallLog::prepareLeavesExistingLog()
{
    const QByteArray old = "an old log\r\nwithout the header";
    {
        QFile file(m_logPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(old);
    }
    UninstallLog(m_dir.path()).prepare();
    QCOMPARE(contents(), old);
}

void TestUninstallLog::appendsExactBytes()
{
    const UninstallLog log(m_dir.path());
    log.prepare();
    log.AppendToLog(u"\r\n5/3/2003 9:7:3\r\n"_s);
    log.AppendToLog(u"Uninstalling Foo Tool 1.0\r\n"_s);
    log.AppendToLog(u"Uninstall OK. Uninstaller removed program from list.\r\n"_s);
    log.AppendToLog(u"no line end"_s);
    log.AppendToLog(QString());
    QCOMPARE(contents(), UninstallLog::headerRecord().toLatin1() +
                             "\r\n5/3/2003 9:7:3\r\nUninstalling Foo Tool 1.0\r\n"
                             "Uninstall OK. Uninstaller removed program from list.\r\nno line end");
}

void TestUninstallLog::appendCreatesMissingFile()
{
    UninstallLog(m_dir.path()).AppendToLog(u"Deleting entry X\r\n"_s);
    QCOMPARE(contents(), QByteArray("Deleting entry X\r\n"));
}

void TestUninstallLog::nonAsciiNameInLocaleEncoding()
{
    // Qt takes the locale's encoding to be UTF-8 on Linux, as the locales in use are.
    UninstallLog(m_dir.path()).AppendToLog(u"Uninstalling B\u00e4r Editor \u2211 \u753b\u50cf\r\n"_s);
    QCOMPARE(contents(), QByteArray("Uninstalling B\xc3\xa4r Editor \xe2\x88\x91 \xe7\x94\xbb\xe5\x83\x8f\r\n"));
}

void TestUninstallLog::dateAndTime_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");

    auto at = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
    };
    QTest::newRow("no leading zeros") << at(2003, 3, 5, 9, 7, 3) << u"5/3/2003"_s << u"9:7:3"_s;
    QTest::newRow("day first") << at(2003, 2, 1, 10, 0, 0) << u"1/2/2003"_s << u"10:0:0"_s;
    QTest::newRow("two-digit day") << at(2003, 1, 12, 23, 59, 59) << u"12/1/2003"_s << u"23:59:59"_s;
    QTest::newRow("midnight") << at(2024, 12, 31, 0, 0, 0) << u"31/12/2024"_s << u"0:0:0"_s;
    QTest::newRow("afternoon on 24 hours") << at(1999, 10, 10, 13, 45, 6) << u"10/10/1999"_s << u"13:45:6"_s;
}

void TestUninstallLog::dateAndTime()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, date);
    QFETCH(QString, time);

    Clock::setSource([now] { return now; });
    QString gotDate = u"stale"_s;
    QString gotTime = u"stale"_s;
    UninstallLog::GetDateAndTime(gotDate, gotTime);
    QCOMPARE(gotDate, date);
    QCOMPARE(gotTime, time);
}

void TestUninstallLog::failureNamesFileAndCause_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<bool>("bypassedByRoot");

    QTest::newRow("folder missing") << u"missing"_s << u"create"_s << false;
    QTest::newRow("log is a folder") << u"folder"_s << u"open"_s << false;
    QTest::newRow("full disk") << u"full"_s << u"write"_s << false;
    QTest::newRow("read-only file") << u"readonly-file"_s << u"open"_s << true;
    QTest::newRow("folder without write rights") << u"readonly-folder"_s << u"create"_s << true;
}

void TestUninstallLog::failureNamesFileAndCause()
{
    QFETCH(QString, setup);
    QFETCH(QString, verb);
    QFETCH(bool, bypassedByRoot);

    if (bypassedByRoot && geteuid() == 0)
        QSKIP("Permission bits do not bind root");

    QString folder = m_dir.path();
    if (setup == u"missing") {
        folder = m_dir.filePath(u"no such folder"_s);
    } else if (setup == u"folder") {
        QVERIFY(QDir(m_dir.path()).mkdir(u"ULog.txt"_s));
    } else if (setup == u"full") {
        if (!QFile::exists(u"/dev/full"_s))
            QSKIP("No /dev/full here");
        QVERIFY(QFile::link(u"/dev/full"_s, m_logPath));
    } else if (setup == u"readonly-file") {
        QFile file(m_logPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner));
    } else if (setup == u"readonly-folder") {
        folder = m_dir.filePath(u"locked"_s);
        QVERIFY(QDir(m_dir.path()).mkdir(u"locked"_s));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }

    const UninstallLog log(folder);
    QString message;
    try {
        log.AppendToLog(u"Deleting entry X\r\n"_s);
    } catch (const KestrinError& e) {
        message = e.message();
    }
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::remove(m_logPath);
    QDir(m_dir.path()).rmdir(u"ULog.txt"_s);

    const QString start = u"Could not "_s + verb + u" the uninstall log "_s + log.LogPath() + u": "_s;
    QVERIFY2(message.startsWith(start), qPrintable(message));
    QVERIFY2(message.size() > start.size(), "the cause is missing");
}

void TestUninstallLog::fileSizeLimitKeepsEarlierRecords()
{
    const UninstallLog log(m_dir.path());
    log.prepare();
    const QByteArray header = contents();

    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(header.size() + 10);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);

    QString message;
    try {
        log.AppendToLog(u"Uninstalling a program with a name far longer than ten bytes\r\n"_s);
    } catch (const KestrinError& e) {
        message = e.message();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY2(message.startsWith(u"Could not write the uninstall log "_s + m_logPath + u": "_s), qPrintable(message));
    QVERIFY(contents().startsWith(header));
}

QTEST_GUILESS_MAIN(TestUninstallLog)
#include "tst_uninstalllog.moc"
