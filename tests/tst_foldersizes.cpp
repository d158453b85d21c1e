#include "TestDrive.h"

#include "base/Clock.h"
#include "inventory/FolderSize.h"
#include "inventory/FolderSizeCache.h"
#include "inventory/ProgramFolder.h"
#include "inventory/ProgramSizes.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

qint64 duBytes(const QString& folder)
{
    QProcess du;
    du.start(u"du"_s, {u"-sb"_s, folder});
    if (!du.waitForFinished(60'000))
        return -1;
    return du.readAllStandardOutput().split('\t').first().toLongLong();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool writeBytes(const QString& path, qsizetype count, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(mode) && file.write(QByteArray(count, 'x')) == count;
}

// Access and modification time, `offset` seconds from now each; the change time becomes now.
bool setTimes(const QString& path, qint64 accessOffset, qint64 modifyOffset)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const timespec times[2] = {{time_t(now + accessOffset), 0}, {time_t(now + modifyOffset), 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

ProgramSizes::Request request(int token, const QString& installLocation, const QString& uninstall = {})
{
    return {token, {installLocation, uninstall, {}, PathView::Native}, {}, true};
}

} // namespace

class TestFolderSizes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void programFolder_data();
    void programFolder();
    void sizeAsDuCountsIt();
    void unreadableFolderIsPartial();
    void cacheAnswersUnchangedFolders();
    void damagedCacheIsReplaced_data();
    void damagedCacheIsReplaced();
    void lastUse_data();
    void lastUse();
    void resultsArriveThroughTheEventLoop();
    void destructionStopsTheWorker();

private:
    QString driveC(const QString& relative = {}) const
    {
        return m_prefix->file(u"drive_c"_s) + (relative.isEmpty() ? QString() : u'/' + relative);
    }

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_cacheDir;
    QString m_cachePath;
};

void TestFolderSizes::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    QVERIFY(QDir().mkpath(driveC()));
    QVERIFY(TestDrive::addDrive(*m_prefix, u'c', u"drive_c"_s));
    m_cacheDir = std::make_unique<QTemporaryDir>();
    m_cachePath = m_cacheDir->filePath(u"kestrin/folder-sizes"_s);
}

void TestFolderSizes::cleanup()
{
    Clock::setSource({});
}

void TestFolderSizes::programFolder_data()
{
    QTest::addColumn<QStringList>("files"); // in drive_c; "x -> outside" makes x a link out of the prefix
    QTest::addColumn<QString>("installLocation");
    QTest::addColumn<QString>("uninstall");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QStringList>("others"); // other entries: InstallLocation|UninstallString
    QTest::addColumn<QString>("expected");   // in drive_c; empty for none
    QTest::addColumn<ProgramFolder::Source>("source");

    using S = ProgramFolder::Source;
    const QStringList tool{u"Apps/Tool/app.exe"_s, u"Apps/Tool/unins000.exe"_s};
    const QString unins = u"\"C:\\Apps\\Tool\\unins000.exe\" /SILENT"_s;
    const QStringList msi{u"windows/system32/msiexec.exe"_s, u"Apps/Tool/app.exe"_s};
    const QString msiCmd = u"MsiExec.exe /X{1A2B}"_s;
    const QStringList none;

    QTest::newRow("InstallLocation first")
        << tool + QStringList{u"Apps/Tool/bin/un.exe"_s} << u"C:\\Apps\\Tool"_s << u"C:\\Apps\\Tool\\bin\\un.exe"_s
        << QString() << none << u"Apps/Tool"_s << S::InstallLocation;
    QTest::newRow("InstallLocation quoted, trailing separator, other case")
        << tool << u"\"c:\\APPS\\tool\\\""_s << QString() << QString() << none << u"Apps/Tool"_s << S::InstallLocation;
    QTest::newRow("InstallLocation naming a file")
        << tool << u"C:\\Apps\\Tool\\app.exe"_s << unins << QString() << none << u"Apps/Tool"_s << S::Uninstaller;
    QTest::newRow("InstallLocation missing")
        << tool << u"C:\\Gone"_s << unins << QString() << none << u"Apps/Tool"_s << S::Uninstaller;
    QTest::newRow("uninstaller in C:\\windows, icon with index")
        << msi << QString() << msiCmd << u"C:\\Apps\\Tool\\app.exe,0"_s << none << u"Apps/Tool"_s << S::Icon;
    QTest::newRow("quoted icon, negative index")
        << msi << QString() << msiCmd << u"\"C:\\Apps\\Tool\\app.exe\",-101"_s << none << u"Apps/Tool"_s << S::Icon;
    QTest::newRow("link inside drive_c") << QStringList{u"Apps/Tool/app.exe"_s, u"Short -> Apps/Tool"_s}
                                         << u"C:\\Short"_s << QString() << QString() << none << u"Apps/Tool"_s
                                         << S::InstallLocation;
    QTest::newRow("per-user programs folder refused, its program taken")
        << QStringList{u"users/me/AppData/Local/App/unins.exe"_s} << u"C:\\users\\me\\AppData\\Local"_s
        << u"C:\\users\\me\\AppData\\Local\\App\\unins.exe"_s << QString() << none << u"users/me/AppData/Local/App"_s
        << S::Uninstaller;

    // Each as InstallLocation, uninstaller folder and icon folder at once.
    const auto refused = [&](const char* name, const QString& folder) {
        const QString file = QString(folder).replace(u'\\', u'/').mid(3) + u"/unins.exe"_s;
        QTest::newRow(name) << QStringList{file} << folder + u"\\"_s << folder + u"\\unins.exe"_s
                            << folder + u"\\unins.exe,0"_s << none << QString() << S::None;
    };
    refused("drive root", u"C:"_s);
    refused("C:\\windows", u"C:\\windows"_s);
    refused("inside C:\\windows", u"C:\\windows\\Installer"_s);
    refused("Program Files", u"C:\\Program Files"_s);
    refused("Program Files (x86)", u"C:\\Program Files (x86)"_s);
    refused("Common Files", u"C:\\Program Files (x86)\\Common Files"_s);
    refused("ProgramData", u"C:\\ProgramData"_s);
    refused("users", u"C:\\users"_s);
    refused("profile root", u"C:\\users\\me"_s);
    refused("Public", u"C:\\users\\Public"_s);
    refused("Roaming", u"C:\\users\\me\\AppData\\Roaming"_s);
    refused("Start Menu", u"C:\\users\\me\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"_s);

    QTest::newRow("uninstaller folder shared, icon folder own")
        << QStringList{u"Suite/unins.exe"_s, u"Suite/One/one.exe"_s} << QString() << u"C:\\Suite\\unins.exe /id=1"_s
        << u"C:\\Suite\\One\\one.exe"_s << QStringList{u"|C:\\Suite\\unins.exe /id=2"_s} << u"Suite/One"_s << S::Icon;
    QTest::newRow("icon folder inside another's install folder")
        << QStringList{u"Game/game.exe"_s, u"Game/Addon/addon.exe"_s} << QString() << u"C:\\Other\\un.exe"_s
        << u"C:\\Game\\Addon\\addon.exe"_s << QStringList{u"C:\\Game|C:\\Game\\un.exe"_s} << QString() << S::None;
    QTest::newRow("folder holding another entry's folder")
        << QStringList{u"Vendor/unins.exe"_s, u"Vendor/Game/game.exe"_s} << QString() << u"C:\\Vendor\\unins.exe"_s
        << QString() << QStringList{u"C:\\Vendor\\Game|"_s} << QString() << S::None;
    QTest::newRow("icon folder shared") << msi + QStringList{u"Apps/Tool/unins.exe"_s} << QString() << msiCmd
                                        << u"C:\\Apps\\Tool\\app.exe"_s << QStringList{u"|C:\\Apps\\Tool\\unins.exe"_s}
                                        << QString() << S::None;
    QTest::newRow("InstallLocation is not judged for sharing")
        << tool << u"C:\\Apps\\Tool"_s << QString() << QString() << QStringList{u"|" + unins} << u"Apps/Tool"_s
        << S::InstallLocation;
    QTest::newRow("link out of the prefix")
        << QStringList{u"users/me/Documents -> outside"_s} << u"C:\\users\\me\\Documents\\Game"_s
        << u"C:\\users\\me\\Documents\\Game\\game.exe"_s << u"C:\\users\\me\\Documents\\Game\\game.exe"_s << none
        << QString() << S::None;
    QTest::newRow("link out of the prefix and back")
        << QStringList{u"Apps/Tool/app.exe"_s, u"users/me/Documents -> outside"_s}
        << u"C:\\users\\me\\Documents\\Back"_s << QString() << QString() << none << QString() << S::None;
}

void TestFolderSizes::programFolder()
{
    QFETCH(QStringList, files);
    QFETCH(QString, installLocation);
    QFETCH(QString, uninstall);
    QFETCH(QString, icon);
    QFETCH(QStringList, others);
    QFETCH(QString, expected);
    QFETCH(ProgramFolder::Source, source);

    QTemporaryDir home; // stands for the user's home, which managers link profile folders to
    QVERIFY(writeBytes(home.filePath(u"Game/game.exe"_s), 10));
    QVERIFY(QFile::link(driveC(u"Apps/Tool"_s), home.filePath(u"Back"_s)));
    for (const QString& file : files) {
        if (const qsizetype arrow = file.indexOf(u" -> "_s); arrow > 0) {
            const QString link = driveC(file.left(arrow));
            const QString target = file.mid(arrow + 4);
            QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
            QVERIFY(QFile::link(target == u"outside"_s ? home.path() : driveC(target), link));
        } else {
            QVERIFY(writeBytes(driveC(file), 1));
        }
    }

    QList<ProgramFolder::Facts> entries{{installLocation, uninstall, icon, PathView::Native}};
    for (const QString& other : others)
        entries.append({other.section(u'|', 0, 0), other.section(u'|', 1), {}, PathView::Native});
    const ProgramFolder::Result result = ProgramFolder(WinePrefix(m_prefix->path())).foldersOf(entries).first();
    QCOMPARE(result.hostPath, expected.isEmpty() ? QString() : QFileInfo(driveC(expected)).canonicalFilePath());
    QCOMPARE(result.source, source);
}

void TestFolderSizes::sizeAsDuCountsIt()
{
    if (QStandardPaths::findExecutable(u"du"_s).isEmpty())
        QSKIP("du is not installed");
    QTemporaryDir outside;
    QVERIFY(writeBytes(outside.filePath(u"big"_s), 100'000));
    const QString app = driveC(u"Apps/Tool"_s);
    QVERIFY(writeBytes(app + u"/app.exe"_s, 12'345));
    QVERIFY(writeBytes(app + u"/data/a/b/c/level.dat"_s, 777));
    QVERIFY(QDir().mkpath(app + u"/data/empty"_s));
    QVERIFY(::link(QFile::encodeName(app + u"/app.exe"_s).constData(),
                   QFile::encodeName(app + u"/data/app-again.exe"_s).constData()) == 0);
    QVERIFY(::link(QFile::encodeName(outside.filePath(u"big"_s)).constData(),
                   QFile::encodeName(app + u"/linked-in"_s).constData()) == 0);
    QVERIFY(QFile::link(outside.filePath(u"big"_s), app + u"/to-big"_s));
    QVERIFY(QFile::link(outside.path(), app + u"/to-outside"_s));
    QVERIFY(::mkfifo(QFile::encodeName(app + u"/data/pipe"_s).constData(), 0600) == 0);
    QString deep = app + u"/deep"_s;
    for (int i = 0; i < 40; ++i)
        deep += u"/level"_s;
    QVERIFY(writeBytes(deep + u"/bottom.txt"_s, 3));

    const auto measured = FolderSize::measure(app);
    QVERIFY(measured);
    QCOMPARE(measured->bytes, duBytes(app));
    QVERIFY(!measured->partial);
    QCOMPARE(measured->signature, FolderSize::signature(app).value_or(0));

    // The top folder is never taken through a link.
    QVERIFY(!FolderSize::measure(driveC(u"../dosdevices/c:"_s)));
    const std::atomic<bool> cancelled{true};
    QVERIFY(!FolderSize::measure(app, {}, &cancelled));
    QVERIFY(!FolderSize::signature(app, &cancelled));
}

void TestFolderSizes::unreadableFolderIsPartial()
{
    if (::geteuid() == 0)
        QSKIP("permissions do not stop root");
    const QString app = driveC(u"Apps/Tool"_s);
    QVERIFY(writeBytes(app + u"/app.exe"_s, 100));
    QVERIFY(writeBytes(app + u"/locked/inner.dat"_s, 5000));
    QVERIFY(QFile::setPermissions(app + u"/locked"_s, {}));
    const auto measured = FolderSize::measure(app);
    // du, too, counts the folder it cannot list but nothing in it.
    const qint64 du = duBytes(app);
    QFile::setPermissions(app + u"/locked"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(measured);
    QVERIFY(measured->partial);
    QCOMPARE(measured->bytes, du);
}

void TestFolderSizes::cacheAnswersUnchangedFolders()
{
    QVERIFY(writeBytes(driveC(u"Apps/One/one.exe"_s), 1000));
    QVERIFY(writeBytes(driveC(u"Apps/Two/sub/two.exe"_s), 2000));
    const WinePrefix prefix(m_prefix->path());
    const QList<ProgramSizes::Request> requests{request(1, u"C:\\Apps\\One"_s), request(2, u"C:\\Apps\\Two"_s)};
    const auto bytesOf = [&](int token) {
        const auto results = ProgramSizes::measureNow(prefix, requests, m_cachePath);
        for (const auto& result : results)
            if (result.token == token)
                return result.bytes;
        return qint64(-1);
    };
    const qint64 one = bytesOf(1);
    const qint64 two = bytesOf(2);
    QCOMPARE(one, FolderSize::measure(driveC(u"Apps/One"_s))->bytes);
    QVERIFY(QFile::exists(m_cachePath));

    // Growing in place changes no folder: the cache answers. A file added below changes a folder.
    QVERIFY(writeBytes(driveC(u"Apps/One/one.exe"_s), 500, QIODevice::Append));
    QVERIFY(writeBytes(driveC(u"Apps/Two/sub/new.dat"_s), 300));
    QCOMPARE(bytesOf(1), one);
    QCOMPARE(bytesOf(2), two + 300);

    // Past the age bound the folder is measured again.
    Clock::setSource([] { return QDateTime::currentDateTime().addDays(FolderSizeCache::MaxAgeDays + 1); });
    QCOMPARE(bytesOf(1), one + 500);
}

void TestFolderSizes::damagedCacheIsReplaced_data()
{
    QTest::addColumn<QByteArray>("content"); // "FIFO" makes a FIFO of the file
    QTest::newRow("garbage") << QByteArray("\x00\xff\x13garbage\n\n", 12);
    QTest::newRow("another header") << QByteArray("kestrin folder sizes 99\n1 - 0 0 /x\n");
    QTest::newRow("damaged lines") << QByteArray("kestrin folder sizes 1\n1 2\nx - zz 0 /a\n-5 - 1 1 /b\n");
    QTest::newRow("too large") << QByteArray("kestrin folder sizes 1\n") +
                                      QByteArray(FolderSizeCache::MaxFileBytes, '#');
    QTest::newRow("FIFO") << QByteArray("FIFO");
}

void TestFolderSizes::damagedCacheIsReplaced()
{
    QFETCH(QByteArray, content);
    QVERIFY(QDir().mkpath(QFileInfo(m_cachePath).absolutePath()));
    if (content == "FIFO")
        QVERIFY(::mkfifo(QFile::encodeName(m_cachePath).constData(), 0600) == 0);
    else
        QVERIFY(writeFile(m_cachePath, content));
    QVERIFY(writeBytes(driveC(u"Apps/One/one.exe"_s), 1000));

    const auto results =
        ProgramSizes::measureNow(WinePrefix(m_prefix->path()), {request(1, u"C:\\Apps\\One"_s)}, m_cachePath);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results.first().bytes, FolderSize::measure(driveC(u"Apps/One"_s))->bytes);
    FolderSizeCache reread(m_cachePath);
    reread.load();
    QCOMPARE(reread.size(), 1);
}

void TestFolderSizes::lastUse_data()
{
    QTest::addColumn<QStringList>("files"); // "name accessOffset modifyOffset", in seconds from now
    QTest::addColumn<QString>("leaveOut");  // in the prefix
    QTest::addColumn<int>("used");          // the file whose access is the last use; -1 for none

    const QString read = u"app.exe 3600 -86400"_s;
    QTest::newRow("read after it was written") << QStringList{read} << QString() << 0;
    QTest::newRow("read before it was written") << QStringList{u"app.exe -7200 -3600"_s} << QString() << -1;
    QTest::newRow("read before its inode changed") << QStringList{u"app.exe -3600 -7200"_s} << QString() << -1;
    // Wine's menu builder reads programs for their icons as the installer makes the shortcuts.
    QTest::newRow("read within minutes of being written") << QStringList{u"app.exe 120 -86400"_s} << QString() << -1;
    QTest::newRow("latest of several, any case") << QStringList{read, u"sub/TOOL.EXE 7200 -86400"_s} << QString() << 1;
    QTest::newRow("not a program") << QStringList{u"readme.txt 3600 -86400"_s} << QString() << -1;
    QTest::newRow("uninstaller left out") << QStringList{u"app.exe -7200 -3600"_s, u"unins000.exe 3600 -86400"_s}
                                          << u"drive_c/Apps/Tool/unins000.exe"_s << -1;
    QTest::newRow("uninstaller named through the drive")
        << QStringList{read, u"unins000.exe 7200 -86400"_s} << u"dosdevices/c:/Apps/Tool/unins000.exe"_s << 0;
}

void TestFolderSizes::lastUse()
{
    QFETCH(QStringList, files);
    QFETCH(QString, leaveOut);
    QFETCH(int, used);

    const QString app = driveC(u"Apps/Tool"_s);
    QVERIFY(QDir().mkpath(app));
    struct statvfs fileSystem;
    QVERIFY(::statvfs(QFile::encodeName(app).constData(), &fileSystem) == 0);
    if (fileSystem.f_flag & ST_NOATIME)
        QSKIP("the test folder is on a file system mounted noatime");
    QDateTime expected;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QStringList parts = files.at(i).split(u' ');
        const QString path = app + u'/' + parts.at(0);
        QVERIFY(writeBytes(path, 10));
        QVERIFY(setTimes(path, parts.at(1).toLongLong(), parts.at(2).toLongLong()));
        if (i == used)
            expected = QFileInfo(path).fileTime(QFileDevice::FileAccessTime);
    }
    const auto measured = FolderSize::measure(app, leaveOut.isEmpty() ? QString() : m_prefix->file(leaveOut));
    QVERIFY(measured);
    QCOMPARE(measured->lastUse, expected);
    // The look that answers from the cache reads the last use anew, the same way.
    const auto glanced = FolderSize::glance(app, leaveOut.isEmpty() ? QString() : m_prefix->file(leaveOut));
    QVERIFY(glanced);
    QCOMPARE(glanced->lastUse, expected);
    QCOMPARE(glanced->signature, measured->signature);
}

void TestFolderSizes::resultsArriveThroughTheEventLoop()
{
    QVERIFY(writeBytes(driveC(u"Apps/One/one.exe"_s), 1000));
    QVERIFY(writeBytes(driveC(u"Apps/Two/two.exe"_s), 2000));
    ProgramSizes sizes(WinePrefix(m_prefix->path()), m_cachePath);
    QSignalSpy measured(&sizes, &ProgramSizes::measured);
    QSignalSpy finished(&sizes, &ProgramSizes::finished);

    // A replaced batch delivers nothing, even what it had measured before; of the next, the wanted
    // entries that have a folder.
    sizes.measure({request(10, u"C:\\Apps\\One"_s), request(20, u"C:\\Apps\\Two"_s)});
    QTest::qSleep(200); // long enough for the worker to have measured both
    ProgramSizes::Request notWanted = request(2, u"C:\\Apps\\Two"_s);
    notWanted.wanted = false;
    sizes.measure({request(1, u"C:\\Apps\\One"_s), notWanted, request(3, u"C:\\Gone"_s)});
    QCOMPARE(measured.count(), 0);
    QVERIFY(finished.wait(10'000));
    QTest::qWait(50); // anything late from the first batch would arrive now
    QCOMPARE(finished.count(), 1);
    QCOMPARE(measured.count(), 1);
    QCOMPARE(measured.first().at(0).toInt(), 1);
    QCOMPARE(measured.first().at(1).toLongLong(), FolderSize::measure(driveC(u"Apps/One"_s))->bytes);
}

void TestFolderSizes::destructionStopsTheWorker()
{
    for (int folder = 0; folder < 40; ++folder)
        for (int file = 0; file < 100; ++file)
            QVERIFY(writeBytes(driveC(u"Apps/Big/d%1/f%2"_s.arg(folder).arg(file)), 1));
    int delivered = 0;
    {
        ProgramSizes sizes(WinePrefix(m_prefix->path()), m_cachePath);
        connect(&sizes, &ProgramSizes::measured, this, [&delivered] { ++delivered; });
        sizes.measure({request(1, u"C:\\Apps\\Big"_s)});
    }
    QTest::qWait(100);
    QCOMPARE(delivered, 0);
}

QTEST_GUILESS_MAIN(TestFolderSizes)
#include "tst_foldersizes.moc"
