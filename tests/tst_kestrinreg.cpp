// kestrin-reg, run as a separate process on a copy of the fixture prefix.

#include "TestPrefix.h"
#include "WineServerDouble.h"

#include "hive/EntryTrash.h"
#include "prefix/WineServer.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString baerKey = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Baer"_s;
const QString baerFullName = u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Baer"_s;
const QByteArray baerHeader = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Baer]";

struct Result
{
    int code = -1; // -1 when it crashed or hung
    QString out;
    QString err;
};

void start(QProcess& process, const QString& program, const QStringList& args, const QString& prefix,
           const QString& tmpdir = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!tmpdir.isEmpty())
        env.insert(u"TMPDIR"_s, tmpdir);
    env.insert(u"WINEPREFIX"_s, prefix);
    env.insert(u"WINEDEBUG"_s, u"-all"_s);
    env.insert(u"HOME"_s, prefix + u"/home"_s); // where Wine would put menu entries
    QDir().mkpath(prefix + u"/home"_s);
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice()); // no terminal: nobody to ask
    process.start(program, args);
}

Result finish(QProcess& process, int timeoutMs)
{
    const bool finished = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    process.kill(); // when it hangs
    process.waitForFinished();
    return {finished ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Result run(const QString& program, const QStringList& args, const QString& prefix, int timeoutMs = 60000)
{
    QProcess process;
    start(process, program, args, prefix);
    return finish(process, timeoutMs);
}

QString wineProgram()
{
    const QString wine = QStandardPaths::findExecutable(u"wine"_s);
    return wine.isEmpty() ? QStandardPaths::findExecutable(u"wine64"_s) : wine;
}

// Ends the prefix's wineserver and removes the folder Debian's Wine made for it in /tmp.
void stopWine(const QString& wineserver, const QString& prefix)
{
    run(wineserver, {u"-k"_s}, prefix);
    run(wineserver, {u"-w"_s}, prefix);
    QFile nameFile(prefix + u"/wineserver"_s);
    const QString name =
        nameFile.open(QIODevice::ReadOnly) ? QString::fromUtf8(nameFile.readAll().trimmed()) : QString();
    if (name.startsWith(u"wine-"_s) && !name.contains(u'/'))
        QDir(QDir::tempPath() + u'/' + name).removeRecursively();
}

// The lines of a hive split where the section of the key with `header` begins and ends.
struct Split
{
    QList<QByteArray> before, section, after;
};
Split splitAtSection(const QByteArray& file, const QByteArray& header)
{
    const QList<QByteArray> lines = file.split('\n');
    qsizetype begin = 0;
    while (begin < lines.size() && !lines.at(begin).startsWith(header))
        ++begin;
    qsizetype end = begin;
    while (end < lines.size() && !lines.at(end).isEmpty())
        ++end;
    return {lines.mid(0, begin), lines.mid(begin, end - begin), lines.mid(end)};
}

} // namespace

class TestKestrinReg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_binary = qEnvironmentVariable("KESTRIN_REG");
        QVERIFY2(QFileInfo(m_binary).isExecutable(), "KESTRIN_REG must name the built kestrin-reg");
    }
    void init()
    {
        m_prefix = std::make_unique<TestPrefix>();
        QVERIFY(m_prefix->copyFixtureHives());
    }

    void queryPrintsKeyAndValues()
    {
        const QString displayLine = u"    DisplayName    REG_SZ    B\u00e4r Editor \u2211 \u753b\u50cf\n"_s;
        Result r = reg({u"query"_s, baerKey});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, u'\n' + baerFullName + u'\n' +
                            u"    Comments    REG_SZ    Line with \"double quotes\" and a backslash \\ end\n"_s +
                            displayLine +
                            u"    UninstallString    REG_SZ    C:\\Program Files\\B\u00e4r\\uninstall.exe "
                            "\"quoted arg\" \\\\server\\share\n\n"_s);
        r = reg({u"QUERY"_s, u"hkey_local_machine"_s + baerKey.mid(4), u"/v"_s, u"DisplayName"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, u'\n' + baerFullName + u'\n' + displayLine + u'\n');
    }

    void addStoresEachType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("fileLine");
        // Wine writes \x with four digits before a character that is a hex digit.
        QTest::newRow("string") << u"REG_SZ"_s << u"Gr\u00fc\u00dfe"_s << u"Gr\u00fc\u00dfe"_s
                                << QByteArray("\"V\"=\"Gr\\xfc\\x00dfe\"");
        QTest::newRow("expandable") << u"REG_EXPAND_SZ"_s << u"%SystemRoot%\\x"_s << u"%SystemRoot%\\x"_s
                                    << QByteArray("\"V\"=str(2):\"%SystemRoot%\\\\x\"");
        QTest::newRow("multi") << u"REG_MULTI_SZ"_s << u"a\\0b c\\0"_s << u"a\\0b c"_s
                               << QByteArray("\"V\"=str(7):\"a\\0b c\\0\"");
        QTest::newRow("dword max") << u"REG_DWORD"_s << u"4294967295"_s << u"0xffffffff"_s
                                   << QByteArray("\"V\"=dword:ffffffff");
        QTest::newRow("dword hex") << u"REG_DWORD"_s << u"0x2A"_s << u"0x2a"_s << QByteArray("\"V\"=dword:0000002a");
        QTest::newRow("qword") << u"REG_QWORD"_s << u"0x100000001"_s << u"0x100000001"_s
                               << QByteArray("\"V\"=hex(b):01,00,00,00,01,00,00,00");
        QTest::newRow("binary") << u"REG_BINARY"_s << u"00aBff"_s << u"00ABFF"_s << QByteArray("\"V\"=hex:00,ab,ff");
    }
    void addStoresEachType()
    {
        QFETCH(QString, type);
        QFETCH(QString, data);
        QFETCH(QString, shown);
        QFETCH(QByteArray, fileLine);
        const QString key = u"HKLM\\Software\\Kestrin Types"_s;
        QCOMPARE(reg({u"add"_s, key, u"/v"_s, u"V"_s, u"/t"_s, type.toLower(), u"/d"_s, data}).code, 0);
        QVERIFY(
            splitAtSection(m_prefix->read(u"system.reg"_s), "[Software\\\\Kestrin Types]").section.contains(fileLine));
        QCOMPARE(reg({u"query"_s, key, u"/v"_s, u"V"_s}).out,
                 u"\nHKEY_LOCAL_MACHINE\\Software\\Kestrin Types\n    V    "_s + type + u"    "_s + shown + u"\n\n"_s);
    }

    // Exit status and message of runs that change nothing; arguments separated by "|".
    void changesNothing_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString add = u"add|HKLM\\Software\\Kestrin|/v|V|/t|"_s;
        const QString baer = baerKey + u'|';
        QTest::newRow("help") << u"/?"_s << 0 << u"Usage: kestrin-reg query KEY"_s;
        QTest::newRow("no arguments") << QString() << 2 << u"No operation"_s;
        QTest::newRow("unknown operation") << u"copy|HKLM\\Software"_s << 2 << u"Unknown operation"_s;
        QTest::newRow("other root") << u"add|HKU\\.Default\\X"_s << 2 << u"HKEY_CURRENT_USER"_s;
        QTest::newRow("no root") << u"query|Software\\Wine"_s << 2 << u"HKLM\\"_s;
        QTest::newRow("/v and /ve") << u"add|HKLM\\Software|/v|x|/ve"_s << 2 << u"not both"_s;
        QTest::newRow("/v without name") << u"add|HKLM\\Software|/v|/f"_s << 2 << u"needs a value"_s;
        QTest::newRow("delete the root") << u"delete|HKLM|/f"_s << 2 << u"below"_s;
        QTest::newRow("unknown type") << add + u"REG_FOO"_s << 2 << u"REG_FOO"_s;
        QTest::newRow("dword too big") << add + u"REG_DWORD|/d|4294967296"_s << 1 << u"REG_DWORD"_s;
        QTest::newRow("dword garbage") << add + u"REG_DWORD|/d|12abc"_s << 1 << u"REG_DWORD"_s;
        QTest::newRow("dword empty") << add + u"REG_DWORD|/d|"_s << 1 << u"REG_DWORD"_s;
        QTest::newRow("qword too big") << add + u"REG_QWORD|/d|0x10000000000000000"_s << 1 << u"REG_QWORD"_s;
        QTest::newRow("binary odd") << add + u"REG_BINARY|/d|abc"_s << 1 << u"odd"_s;
        QTest::newRow("binary not hex") << add + u"REG_BINARY|/d|0g"_s << 1 << u"hex digits"_s;
        QTest::newRow("multi empty item") << add + u"REG_MULTI_SZ|/d|a\\0\\0b"_s << 1 << u"empty item"_s;
        QTest::newRow("overwrite without /f") << u"add|"_s + baer + u"/v|displayname|/d|x"_s << 1 << u"/f"_s;
        QTest::newRow("delete value without /f") << u"delete|"_s + baer + u"/v|DisplayName"_s << 1 << u"/f"_s;
        QTest::newRow("delete key without /f") << u"delete|"_s + baerKey << 1 << u"/f"_s;
        QTest::newRow("query missing key") << u"query|HKLM\\Software\\Kestrin"_s << 1 << u"does not exist"_s;
        QTest::newRow("query missing value") << u"query|"_s + baer + u"/v|Nope"_s << 1 << u"does not exist"_s;
        QTest::newRow("delete missing value") << u"delete|"_s + baer + u"/ve|/f"_s << 1 << u"does not exist"_s;
    }
    void changesNothing()
    {
        QFETCH(QString, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        const QByteArray system = m_prefix->read(u"system.reg"_s), user = m_prefix->read(u"user.reg"_s);
        const Result r = reg(args.isEmpty() ? QStringList() : args.split(u'|'));
        QCOMPARE(r.code, code);
        QVERIFY2((code == 0 ? r.out : r.err).contains(message), qPrintable(r.err));
        QVERIFY(m_prefix->read(u"system.reg"_s) == system);
        QVERIFY(m_prefix->read(u"user.reg"_s) == user);
    }

    void addChangesOnlyItsKeySection()
    {
        const Split before = splitAtSection(m_prefix->read(u"system.reg"_s), baerHeader);
        QCOMPARE(reg({u"add"_s, baerKey, u"/v"_s, u"Publisher"_s, u"/d"_s, u"B\u00e4r & Co"_s}).code, 0);
        const Split after = splitAtSection(m_prefix->read(u"system.reg"_s), baerHeader);

        QCOMPARE(after.before, before.before);
        QCOMPARE(after.after, before.after);
        QList<QByteArray> expected = before.section.mid(2);
        expected.insert(2, "\"Publisher\"=\"B\\xe4r & Co\""); // in Wine's name order
        QCOMPARE(after.section.mid(2), expected);
        QVERIFY(after.section.at(1).startsWith("#time="));
        QVERIFY(after.section.at(1) != before.section.at(1));
    }

    void deletesInTheRightHive()
    {
        QCOMPARE(reg({u"delete"_s, baerKey, u"/v"_s, u"Comments"_s, u"/f"_s}).code, 0);
        QCOMPARE(reg({u"query"_s, baerKey, u"/v"_s, u"Comments"_s}).code, 1);
        QCOMPARE(reg({u"query"_s, baerKey, u"/v"_s, u"DisplayName"_s}).code, 0);

        const QString tree = u"HKLM\\Software\\Kestrin Tree"_s;
        QCOMPARE(reg({u"add"_s, tree + u"\\A\\B"_s, u"/v"_s, u"x"_s, u"/d"_s, u"y"_s}).code, 0);
        QCOMPARE(reg({u"add"_s, tree + u"\\C"_s}).code, 0);
        QVERIFY(reg({u"query"_s, tree}).out.endsWith(u"Tree\\A\nHKEY_LOCAL_MACHINE\\Software\\Kestrin Tree\\C\n"_s));
        QCOMPARE(reg({u"delete"_s, tree, u"/f"_s}).code, 0);
        QCOMPARE(reg({u"query"_s, tree + u"\\A"_s}).code, 1);
        QVERIFY(!m_prefix->read(u"system.reg"_s).contains("Kestrin Tree"));

        const QByteArray system = m_prefix->read(u"system.reg"_s);
        const QString userKey = u"HKEY_CURRENT_USER\\Software\\Kestrin User"_s;
        QCOMPARE(reg({u"add"_s, userKey, u"/ve"_s, u"/d"_s, u"user data"_s}).code, 0);
        QVERIFY(m_prefix->read(u"system.reg"_s) == system);
        QVERIFY(splitAtSection(m_prefix->read(u"user.reg"_s), "[Software\\\\Kestrin User]")
                    .section.contains("@=\"user data\""));
        QCOMPARE(reg({u"query"_s, u"hkcu\\Software\\Kestrin User"_s, u"/ve"_s}).out,
                 u"\nHKEY_CURRENT_USER\\Software\\Kestrin User\n    (Default)    REG_SZ    user data\n\n"_s);
    }

    void writesWhileWineRuns_data()
    {
        QTest::addColumn<bool>("realServer");
        QTest::addColumn<bool>("otherTmpdir"); // the server's lock file is out of our sight
        QTest::addColumn<bool>("throughWine");
        // A lock without a server, or a server a Wine of ours would not find, cannot take the change.
        QTest::newRow("lock held, no server") << false << false << false;
        QTest::newRow("wineserver") << true << false << true;
        QTest::newRow("wineserver under another TMPDIR") << true << true << false;
    }
    void writesWhileWineRuns()
    {
        QFETCH(bool, realServer);
        QFETCH(bool, otherTmpdir);
        QFETCH(bool, throughWine);
        const QString prefix = m_prefix->path();
        const QByteArray system = m_prefix->read(u"system.reg"_s);

        std::unique_ptr<LockHolder> holder;
        QProcess server;
        const QString wineserver = QStandardPaths::findExecutable(u"wineserver"_s);
        QTemporaryDir serverTmp; // outlives the guard below
        const auto stopServer = qScopeGuard([&] {
            if (server.state() != QProcess::NotRunning) {
                server.terminate(); // a server saves and ends on SIGTERM, whatever its TMPDIR
                if (!server.waitForFinished(20000))
                    stopWine(wineserver, prefix);
                server.waitForFinished();
            }
        });
        if (realServer) {
            if (wineserver.isEmpty())
                QSKIP("Wine is not installed");
            start(server, wineserver, {u"-p"_s, u"-f"_s}, prefix, otherTmpdir ? serverTmp.path() : QString());
            if (otherTmpdir)
                QTRY_VERIFY_WITH_TIMEOUT(WineServer::serverProcessFound(prefix), 30000);
        } else {
            holder = std::make_unique<LockHolder>(WineServer::lockFileCandidates(prefix).first());
        }
        QTRY_VERIFY2_WITH_TIMEOUT(WineServer::isRunning(prefix),
                                  qPrintable(u"server state %1, exit %2: %3"_s.arg(server.state())
                                                 .arg(server.exitCode())
                                                 .arg(QString::fromLocal8Bit(server.readAllStandardError()))),
                                  30000);
        if (throughWine)
            QTRY_VERIFY_WITH_TIMEOUT(WineServer::isReachable(prefix), 30000);

        const Result r = reg({u"add"_s, baerKey, u"/v"_s, u"New"_s, u"/d"_s, u"x"_s});
        // The server owns the file until it ends: nothing is written to it either way.
        QVERIFY(m_prefix->read(u"system.reg"_s) == system);
        const Result query = reg({u"query"_s, baerKey, u"/v"_s, u"New"_s});
        if (!throughWine) {
            QVERIFY(r.code > 0);
            QVERIFY2(r.err.contains(u"Wine is running in the prefix"_s), qPrintable(r.err));
            // Reading the files still works, with a warning that Wine may not have saved its latest changes.
            const Result name = reg({u"query"_s, baerKey, u"/v"_s, u"DisplayName"_s});
            QCOMPARE(name.code, 0);
            QVERIFY(name.err.contains(u"Wine is running"_s));
            return;
        }
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(query.code, 0);
        QVERIFY2(query.out.contains(u"New    REG_SZ    x"_s), qPrintable(query.out));
        QVERIFY2(query.err.isEmpty(), qPrintable(query.err));
        // Once the server has ended, the file holds the change it saved.
        server.terminate();
        QVERIFY(server.waitForFinished(30000));
        QTRY_VERIFY_WITH_TIMEOUT(!WineServer::isRunning(prefix), 30000);
        QVERIFY(m_prefix->read(u"system.reg"_s).contains("\"New\"=\"x\""));
    }

    void concurrentAddsLoseNothing()
    {
        const QString key = u"HKLM\\Software\\Kestrin Concurrent"_s;
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int i = 0; i < 40; ++i) { // two writers' worth of 20 values each, all at once
            writers.push_back(std::make_unique<QProcess>());
            start(*writers.back(), m_binary,
                  {u"add"_s, key, u"/v"_s, u"V%1"_s.arg(i), u"/t"_s, u"REG_DWORD"_s, u"/d"_s, QString::number(i)},
                  m_prefix->path());
        }
        for (const auto& writer : writers) {
            const Result r = finish(*writer, 120000);
            QVERIFY2(r.code == 0, qPrintable(r.err));
        }
        const QString out = reg({u"query"_s, key}).out;
        for (int i = 0; i < 40; ++i)
            QVERIFY2(out.contains(u"    V%1    REG_DWORD    0x%2\n"_s.arg(i).arg(i, 0, 16)), qPrintable(out));
    }

    void wineReadsWhatWasAdded()
    {
        const QString wine = wineProgram();
        const QString wineserver = QStandardPaths::findExecutable(u"wineserver"_s);
        if (wine.isEmpty() || wineserver.isEmpty())
            QSKIP("Wine is not installed");
        const QString prefix = m_prefix->path();
        const QString key = u"HKLM\\Software\\Kestrin Wine"_s;
        QCOMPARE(reg({u"add"_s, key, u"/v"_s, u"Greeting"_s, u"/d"_s, u"hello from kestrin"_s}).code, 0);
        QCOMPARE(reg({u"add"_s, key, u"/v"_s, u"Count"_s, u"/t"_s, u"REG_DWORD"_s, u"/d"_s, u"42"_s}).code, 0);

        const auto stopServer = qScopeGuard([&] { stopWine(wineserver, prefix); });
        // The copy lacks Wine's own files, so the first start sets the prefix up (seconds).
        // The 64-bit view: with 32-bit Wine installed, `wine reg` is the 32-bit program, which sees
        // HKLM\Software through Wow6432Node.
        Result r = run(wine, {u"reg"_s, u"query"_s, key, u"/v"_s, u"Greeting"_s, u"/reg:64"_s}, prefix, 180000);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains(u"Greeting    REG_SZ    hello from kestrin"_s), qPrintable(r.out));
        r = run(wine, {u"reg"_s, u"query"_s, key, u"/v"_s, u"Count"_s, u"/reg:64"_s}, prefix, 60000);
        QVERIFY2(r.out.contains(u"Count    REG_DWORD    0x2a"_s), qPrintable(r.out));
    }

    void trashCommands()
    {
        QCOMPARE(reg({u"delete"_s, baerKey, u"/f"_s}).code, 0);
        Result r = reg({u"trash"_s, u"list"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count(u'\n'), 1);
        QVERIFY2(r.out.contains(u"  deleted  "_s + baerKey + u"  B\u00e4r Editor"_s), qPrintable(r.out));
        const QString id = r.out.section(u' ', 0, 0);

        // Back, then deleted and replaced by a newcomer: a second restore needs /f.
        QCOMPARE(reg({u"trash"_s, u"restore"_s, id}).code, 0);
        QCOMPARE(reg({u"query"_s, baerKey, u"/v"_s, u"DisplayName"_s}).code, 0);
        QCOMPARE(reg({u"delete"_s, baerKey, u"/f"_s}).code, 0);
        QCOMPARE(reg({u"add"_s, baerKey, u"/v"_s, u"DisplayName"_s, u"/d"_s, u"Newcomer"_s}).code, 0);
        const QString second = reg({u"trash"_s, u"list"_s}).out.section(u' ', 0, 0);
        r = reg({u"trash"_s, u"restore"_s, second});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(u"/f"_s), qPrintable(r.err));
        QVERIFY(reg({u"query"_s, baerKey}).out.contains(u"Newcomer"_s));
        QCOMPARE(reg({u"trash"_s, u"restore"_s, second, u"/F"_s}).code, 0);
        QVERIFY(reg({u"query"_s, baerKey}).out.contains(u"B\u00e4r Editor"_s));

        // The newcomer went to the trash in turn; /all empties it.
        QCOMPARE(reg({u"trash"_s, u"purge"_s, u"20000101-000000-000-1"_s}).code, 1);
        QCOMPARE(reg({u"trash"_s, u"purge"_s, u"/all"_s}).code, 0);
        QVERIFY(reg({u"trash"_s, u"list"_s}).out.contains(u"is empty"_s));
        for (const QStringList& wrong : {QStringList{u"trash"_s},
                                         {u"trash"_s, u"restore"_s},
                                         {u"trash"_s, u"frob"_s},
                                         {u"trash"_s, u"purge"_s, id, u"/all"_s},
                                         {u"trash"_s, u"list"_s, id}})
            QCOMPARE(reg(wrong).code, 2);
    }

    void regeditImportsTheRecord()
    {
        const QString wine = wineProgram();
        const QString wineserver = QStandardPaths::findExecutable(u"wineserver"_s);
        if (wine.isEmpty() || wineserver.isEmpty())
            QSKIP("Wine is not installed");
        const QString prefix = m_prefix->path();
        const QStringList keys{baerKey, u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Types"_s,
                               u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Twin2"_s};
        const auto stopServer = qScopeGuard([&] { stopWine(wineserver, prefix); });
        auto wineQuery = [&](const QString& key) {
            return run(wine, {u"reg"_s, u"query"_s, key, u"/s"_s, u"/reg:64"_s}, prefix, 180000);
        };
        QStringList before;
        for (const QString& key : keys) {
            const Result r = wineQuery(key); // the first start sets the copied prefix up
            QVERIFY2(r.code == 0, qPrintable(r.err));
            before << r.out;
        }
        stopWine(wineserver, prefix);
        for (const QString& key : keys)
            QCOMPARE(reg({u"delete"_s, key, u"/f"_s}).code, 0);
        const QString folder = EntryTrash::folderFor(prefix);
        const QStringList regFiles = QDir(folder).entryList({u"*.reg"_s}, QDir::Files);
        QCOMPARE(regFiles.size(), keys.size());
        for (const QString& file : regFiles) {
            // As the README tells users to: `wine regedit` would be the 32-bit program where 32-bit
            // Wine is installed, and would import into Wow6432Node.
            const Result r = run(wine, {u"reg"_s, u"import"_s, folder + u'/' + file, u"/reg:64"_s}, prefix, 60000);
            QVERIFY2(r.code == 0, qPrintable(r.err));
        }
        for (qsizetype i = 0; i < keys.size(); ++i)
            QCOMPARE(wineQuery(keys[i]).out, before[i]);
    }

private:
    Result reg(const QStringList& args) const { return run(m_binary, args, m_prefix->path()); }

    QString m_binary;
    std::unique_ptr<TestPrefix> m_prefix;
};

QTEST_GUILESS_MAIN(TestKestrinReg)
#include "tst_kestrinreg.moc"
