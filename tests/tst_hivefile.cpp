#include "TestPrefix.h"
#include "WineServerDouble.h"

#include "base/KestrinError.h"
#include "hive/HiveFile.h"
#include "hive/LiveHive.h"
#include "prefix/WineServer.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <functional>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QStringList fooKey{u"Software"_s, u"Foo"_s};

// A running Wine as the hive layer sees it: what it holds is the file's text, and the steps it is
// asked to take are kept.
class FakeLiveHive : public LiveHive
{
public:
    FakeLiveHive() { LiveHive::setInstance(this); }
    ~FakeLiveHive() override { LiveHive::setInstance(nullptr); }
    bool serves(const QString& hivePath) const override { return hivePath.endsWith(u"/system.reg"_s); }
    bool serverReachable(const QString&) const override { return reachable; }
    QByteArray read(const QString& hivePath) override
    {
        ++reads;
        if (onRead)
            onRead();
        if (failRead)
            throw KestrinError(u"Wine did not answer"_s);
        QFile file(hivePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void apply(const QString&, const std::vector<HiveChange>& changes) override
    {
        applied.insert(applied.end(), changes.begin(), changes.end());
    }

    bool reachable = true;
    bool failRead = false;
    std::function<void()> onRead;
    int reads = 0;
    std::vector<HiveChange> applied;
};

void setFoo(HiveFile& hive, const QString& value)
{
    hive.modify(
        [&](HiveDocument& doc) { doc.setValue(doc.createKey(fooKey), u"V"_s, RegistryValue::fromString(value)); });
}

QString fooValue(HiveFile& hive)
{
    const HiveKey* key = hive.current().findKey(fooKey);
    const HiveValue* value = key ? key->findValue(u"V"_s) : nullptr;
    return value ? value->value.toText() : QString();
}

QStringList strayFiles(const TestPrefix& prefix)
{
    return QDir(prefix.path()).entryList(QDir::Files | QDir::Hidden).filter(u".system.reg."_s);
}

void addBaer(HiveFile& hive, const QString& value)
{
    hive.modify([&](HiveDocument& doc) {
        doc.setValue(doc.createKey({u"Software"_s, u"Baer"_s}), u"V"_s, RegistryValue::fromString(value));
    });
}

} // namespace

class TestHiveFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void savesAtomicallyKeepingTheMode();
    void failedSaveLeavesTheFileAsItWas();
    void rereadsChangesMadeByOthers();
    void lazyReadsNeverMixTwoFiles();
    void neverWritesAFileThatIsNotAHive();
    void createsAMissingHiveAsWineWould();
    void refusesWritesWhileWineServes();
    void changesGoThroughARunningWine_data();
    void changesGoThroughARunningWine();
    void findsDebiansServerFolder();
    void findsAServerByItsWorkingFolder();
    void writeBatchIsOneSave();
    void writeBatchWithoutCommitChangesNothing();
    void passingLookLetsGoOnlyWhatItOpened();
    void removesOnlyOurStaleTemporaryFiles();
    void refusesHivesThatAreNotRegularFiles_data();
    void refusesHivesThatAreNotRegularFiles();
};

void TestHiveFile::savesAtomicallyKeepingTheMode()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    QVERIFY(::chmod(QFile::encodeName(prefix.file(u"system.reg"_s)).constData(), 0640) == 0);
    struct stat before;
    ::stat(QFile::encodeName(prefix.file(u"system.reg"_s)).constData(), &before);

    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    setFoo(*hive, u"saved"_s);

    struct stat after;
    ::stat(QFile::encodeName(prefix.file(u"system.reg"_s)).constData(), &after);
    QCOMPARE(after.st_mode & 07777, mode_t(0640));
    QVERIFY(after.st_ino != before.st_ino); // replaced by rename, not rewritten in place
    QVERIFY(prefix.read(u"system.reg"_s).contains("\n[Software\\\\Foo] "));
    QVERIFY(strayFiles(prefix).isEmpty());
}

void TestHiveFile::failedSaveLeavesTheFileAsItWas()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    const QByteArray original = prefix.read(u"system.reg"_s);
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));

    // A file size limit makes the write fail half way, as a full disk would.
    struct rlimit old;
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = rlim_t(original.size() / 2);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    QString message;
    try {
        setFoo(*hive, u"lost"_s);
    } catch (const KestrinError& e) {
        message = e.message();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY2(message.startsWith(u"Could not save "_s + prefix.file(u"system.reg"_s)), qPrintable(message));
    QVERIFY2(message.contains(u"left as it was"_s), qPrintable(message));
    QCOMPARE(prefix.read(u"system.reg"_s), original);
    QVERIFY(strayFiles(prefix).isEmpty());
    QCOMPARE(fooValue(*hive), QString()); // the change is not kept in memory either
    setFoo(*hive, u"later"_s);            // and the next save works
    QCOMPARE(fooValue(*HiveFile::open(prefix.file(u"system.reg"_s))), u"later"_s);
}

void TestHiveFile::rereadsChangesMadeByOthers()
{
    TestPrefix prefix;
    QVERIFY(prefix.write(u"system.reg"_s, "WINE REGISTRY Version 2\n\n[Software\\\\Foo] 1\n\"V\"=\"one\"\n"));
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    QCOMPARE(fooValue(*hive), u"one"_s);

    // Another program writes the file; the next read and the next write see its version.
    QVERIFY(prefix.write(u"system.reg"_s, "WINE REGISTRY Version 2\n\n[Software\\\\Foo] 1\n\"V\"=\"other\"\n"
                                          "\"W\"=\"theirs\"\n"));
    QCOMPARE(fooValue(*hive), u"other"_s);
    setFoo(*hive, u"mine"_s);
    const QByteArray text = prefix.read(u"system.reg"_s);
    QVERIFY(text.contains("\"V\"=\"mine\"\n\"W\"=\"theirs\"\n"));
}

void TestHiveFile::lazyReadsNeverMixTwoFiles()
{
    // Values are read from the text when first asked for. A file replaced after its keys were
    // found is read anew, and what is read comes whole from one version of the file.
    TestPrefix prefix;
    QVERIFY(prefix.write(u"system.reg"_s, "WINE REGISTRY Version 2\n\n[Software\\\\Foo] 1\n\"V\"=\"one\"\n"));
    const QByteArray moved = "WINE REGISTRY Version 2\n\n[Software\\\\Bar] 1\n\"Long\"=\"" + QByteArray(200, 'x') +
                             "\"\n\n[Software\\\\Foo] 1\n\"V\"=\"two\"\n";
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    {
        HiveFile::ReadBatch batch; // the disk is looked at once: this read goes on with the text it has
        const HiveKey* key = hive->current().findKey(fooKey);
        QVERIFY(key);
        QVERIFY(prefix.write(u"system.reg"_s, moved));
        QCOMPARE(key->findValue(u"V"_s)->value.toText(), u"one"_s);
        QCOMPARE(fooValue(*hive), u"one"_s);
    }
    QCOMPARE(fooValue(*hive), u"two"_s);

    QVERIFY(hive->current().findKey(fooKey));
    QVERIFY(prefix.write(u"system.reg"_s, "WINE REGISTRY Version 2\n\n[Software\\\\Foo] 2\n\"V\"=\"three\"\n"));
    QCOMPARE(fooValue(*hive), u"three"_s);
    QVERIFY(!hive->current().findKey({u"Software"_s, u"Bar"_s}));
}

void TestHiveFile::neverWritesAFileThatIsNotAHive()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyData(u"broken/bom-header.reg"_s, u"system.reg"_s));
    const QByteArray original = prefix.read(u"system.reg"_s);
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    QVERIFY(hive->current().root().subkeys().empty());
    QVERIFY_THROWS_EXCEPTION(KestrinError, setFoo(*hive, u"x"_s));
    try {
        setFoo(*hive, u"x"_s);
    } catch (const KestrinError& e) {
        QVERIFY(e.message().contains(u"is not a Wine registry file"_s));
    }
    QCOMPARE(prefix.read(u"system.reg"_s), original);
}

void TestHiveFile::createsAMissingHiveAsWineWould()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyData(u"prefix/system.reg"_s, u"system.reg"_s));
    auto hive = HiveFile::open(prefix.file(u"user.reg"_s));
    QVERIFY(hive->current().root().subkeys().empty());
    setFoo(*hive, u"first"_s);
    const QByteArray text = prefix.read(u"user.reg"_s);
    QVERIFY2(
        text.startsWith("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                        "\n#arch=win64\n\n[Software\\\\Foo] "),
        text.constData());
    QVERIFY(text.endsWith("\"V\"=\"first\"\n"));

    // system.reg is Wine's to create: it records the prefix's architecture.
    TestPrefix empty;
    auto system = HiveFile::open(empty.file(u"system.reg"_s));
    QString message;
    try {
        setFoo(*system, u"x"_s);
    } catch (const KestrinError& e) {
        message = e.message();
    }
    QVERIFY2(message.contains(u"has not been set up by Wine yet"_s), qPrintable(message));
    QVERIFY(!QFile::exists(empty.file(u"system.reg"_s)));
}

void TestHiveFile::refusesWritesWhileWineServes()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    const QByteArray original = prefix.read(u"system.reg"_s);
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    const QStringList locks = WineServer::lockFileCandidates(prefix.path());
    QVERIFY(!locks.isEmpty());
    QVERIFY(!WineServer::isRunning(prefix.path()));
    {
        LockHolder server(locks.first());
        QVERIFY(server.locked());
        QVERIFY(WineServer::isRunning(prefix.path()));
        QString message;
        try {
            setFoo(*hive, u"refused"_s);
        } catch (const KestrinError& e) {
            message = e.message();
        }
        QVERIFY2(message.contains(u"Wine is running in the prefix "_s + prefix.path()), qPrintable(message));
        QVERIFY(message.contains(u"Close the Windows programs"_s));
        QCOMPARE(prefix.read(u"system.reg"_s), original);
        QVERIFY(hive->current().findKey({u"Software"_s, u"Microsoft"_s})); // reads still work
        // A change that changes nothing writes nothing, so it is not refused.
        hive->modify([](HiveDocument& doc) { doc.createKey({u"Software"_s, u"Microsoft"_s}); });
    }
    QDir(QFileInfo(locks.first()).absolutePath()).removeRecursively();
    QVERIFY(!WineServer::isRunning(prefix.path()));
    setFoo(*hive, u"allowed"_s);
    QCOMPARE(fooValue(*hive), u"allowed"_s);
}

void TestHiveFile::findsDebiansServerFolder()
{
    TestPrefix prefix;
    QVERIFY(prefix.write(u"wineserver"_s, "wine-Ab12Cd\n"));
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(prefix.path()).constData(), &st) == 0);
    const QString serverDir = u"server-%1-%2"_s.arg(quint64(st.st_dev), 0, 16).arg(quint64(st.st_ino), 0, 16);
    const QStringList locks = WineServer::lockFileCandidates(prefix.path());
    QVERIFY(locks.contains(u"/tmp/.wine-%1/%2/lock"_s.arg(::getuid()).arg(serverDir)));
    QVERIFY(locks.contains(u"/run/user/%1/wine/%2/lock"_s.arg(::getuid()).arg(serverDir)));
    QVERIFY(locks.contains(u"/tmp/wine-Ab12Cd/%1/lock"_s.arg(serverDir)));
}

void TestHiveFile::findsAServerByItsWorkingFolder()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    const QByteArray original = prefix.read(u"system.reg"_s);
    QTemporaryDir elsewhere;
    const QString serverFolder = elsewhere.filePath(u"wine-Xy12ab/"_s + WineServer::serverFolderName(prefix.path()));
    FakeServerProcess server(elsewhere.path(), serverFolder);
    QVERIFY(server.named());
    QVERIFY(WineServer::isRunning(prefix.path()));

    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    QVERIFY_THROWS_EXCEPTION(WineRunningError, setFoo(*hive, u"refused"_s));
    QCOMPARE(prefix.read(u"system.reg"_s), original);

    // Another prefix's server is not this one's.
    TestPrefix other;
    QVERIFY(!WineServer::isRunning(other.path()));
    server.stop();
    QVERIFY(!WineServer::isRunning(prefix.path()));
}

void TestHiveFile::writeBatchIsOneSave()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    const QByteArray original = prefix.read(u"system.reg"_s);
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    {
        HiveFile::WriteBatch batch;
        setFoo(*hive, u"one"_s);
        addBaer(*hive, u"two"_s);
        QCOMPARE(fooValue(*hive), u"one"_s); // reads see the batch's changes
        QCOMPARE(prefix.read(u"system.reg"_s), original);
        {
            HiveFile::WriteBatch inner; // joins the outer batch
            setFoo(*hive, u"three"_s);
            inner.commit();
        }
        QCOMPARE(prefix.read(u"system.reg"_s), original);
        batch.commit();
    }
    const QByteArray saved = prefix.read(u"system.reg"_s);
    QVERIFY(saved.contains("[Software\\\\Foo] "));
    QVERIFY(saved.contains("\"V\"=\"three\""));
    QVERIFY(saved.contains("\"V\"=\"two\""));
    QVERIFY(strayFiles(prefix).isEmpty());

    // A commit refused because Wine runs leaves the file and drops the changes.
    LockHolder server(WineServer::lockFileCandidates(prefix.path()).first());
    QVERIFY(server.locked());
    {
        HiveFile::WriteBatch batch;
        setFoo(*hive, u"refused"_s);
        QVERIFY_THROWS_EXCEPTION(WineRunningError, batch.commit());
    }
    QCOMPARE(prefix.read(u"system.reg"_s), saved);
    QCOMPARE(fooValue(*hive), u"three"_s);
}

void TestHiveFile::passingLookLetsGoOnlyWhatItOpened()
{
    TestPrefix current;
    TestPrefix other;
    QVERIFY(current.copyFixtureHives() && other.copyFixtureHives());
    std::weak_ptr<HiveFile> openBefore = HiveFile::open(current.file(u"system.reg"_s));
    QVERIFY(openBefore.lock()->current().isValid());
    std::weak_ptr<HiveFile> lookedAt;
    std::shared_ptr<HiveFile> stillHeld;
    {
        const HiveFile::PassingLook look;
        const auto looked = HiveFile::open(other.file(u"system.reg"_s));
        QVERIFY(looked->current().isValid());
        lookedAt = looked;
        stillHeld = HiveFile::open(other.file(u"user.reg"_s));
        QVERIFY(stillHeld->current().isValid());
        QCOMPARE(HiveFile::open(current.file(u"system.reg"_s)), openBefore.lock());
    }
    QVERIFY(lookedAt.expired());
    QVERIFY(!openBefore.expired());
    QCOMPARE(HiveFile::open(other.file(u"user.reg"_s)), stillHeld); // still the one instance
}

void TestHiveFile::writeBatchWithoutCommitChangesNothing()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    const QByteArray original = prefix.read(u"system.reg"_s);
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    try {
        HiveFile::WriteBatch batch;
        setFoo(*hive, u"half"_s);
        throw KestrinError(u"the second step failed"_s);
    } catch (const KestrinError&) {
    }
    QCOMPARE(prefix.read(u"system.reg"_s), original);
    QCOMPARE(fooValue(*hive), QString());

    // A step that threw leaves half a change in memory: the batch must not save it.
    {
        HiveFile::WriteBatch batch;
        setFoo(*hive, u"first step"_s);
        try {
            hive->modify([](HiveDocument& doc) {
                doc.createKey({u"Software"_s, u"Half"_s});
                throw KestrinError(u"failed half way"_s);
            });
        } catch (const KestrinError&) {
        }
        QVERIFY_THROWS_EXCEPTION(KestrinError, batch.commit());
    }
    QCOMPARE(prefix.read(u"system.reg"_s), original);
    setFoo(*hive, u"after"_s); // outside a batch, saved at once again
    QVERIFY(prefix.read(u"system.reg"_s).contains("\"V\"=\"after\""));
}

void TestHiveFile::removesOnlyOurStaleTemporaryFiles()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    const QStringList stale{u".system.reg.Ab12Cd"_s, u".system.reg.000000"_s};
    const QStringList foreign{u".system.reg.toolong7"_s, u".system.reg.a-b_cd"_s, u".user.reg.Ab12Cd"_s,
                              u"reg1a2b0001.tmp"_s};
    for (const QString& name : stale + foreign)
        QVERIFY(prefix.write(name, "left over"));
    setFoo(*HiveFile::open(prefix.file(u"system.reg"_s)), u"x"_s);
    for (const QString& name : stale)
        QVERIFY2(!QFile::exists(prefix.file(name)), qPrintable(name));
    for (const QString& name : foreign)
        QVERIFY2(QFile::exists(prefix.file(name)), qPrintable(name));
}

void TestHiveFile::refusesHivesThatAreNotRegularFiles_data()
{
    QTest::addColumn<bool>("throughSymlink");
    QTest::newRow("fifo") << false;
    QTest::newRow("symlink to a fifo") << true;
}

void TestHiveFile::refusesHivesThatAreNotRegularFiles()
{
    QFETCH(bool, throughSymlink);
    TestPrefix prefix;
    const QString fifo = prefix.file(throughSymlink ? u"pipe"_s : u"system.reg"_s);
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    if (throughSymlink)
        QVERIFY(QFile::link(fifo, prefix.file(u"system.reg"_s)));
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    QVERIFY(hive->current().root().subkeys().empty()); // returns at once: nobody writes the FIFO
    QVERIFY2(hive->readError().contains(u"is not a regular file"_s), qPrintable(hive->readError()));
    QVERIFY_THROWS_EXCEPTION(KestrinError, setFoo(*hive, u"x"_s));
    QFileInfo after(fifo);
    QVERIFY(!after.isFile()); // still the FIFO, not replaced
}

void TestHiveFile::changesGoThroughARunningWine_data()
{
    QTest::addColumn<int>("trouble"); // 0 none, 1 the read through Wine fails, 2 Wine stops before the save
    QTest::newRow("through Wine") << 0;
    QTest::newRow("a read that fails is no ground for a change") << 1;
    QTest::newRow("Wine stops between the read and the save") << 2;
}

void TestHiveFile::changesGoThroughARunningWine()
{
    QFETCH(int, trouble);
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    const QByteArray original = prefix.read(u"system.reg"_s);
    auto hive = HiveFile::open(prefix.file(u"system.reg"_s));
    FakeLiveHive live;
    live.failRead = trouble == 1;
    if (trouble == 2)
        live.onRead = [&live] {
            live.reachable = false;
        };
    QString message;
    try {
        setFoo(*hive, u"live"_s);
    } catch (const KestrinError& e) {
        message = e.message();
    }
    // The file is never written while Wine serves the prefix.
    QCOMPARE(prefix.read(u"system.reg"_s), original);
    QCOMPARE(live.reads, 1);
    if (trouble != 0) {
        QVERIFY(live.applied.empty());
        QVERIFY2(message.contains(trouble == 1 ? u"Wine did not answer"_s : u"Wine stopped"_s), qPrintable(message));
        return;
    }
    QVERIFY2(message.isEmpty(), qPrintable(message));
    const std::vector<HiveChange> steps{
        {HiveChange::Kind::CreateKey, fooKey, {}, {}},
        {HiveChange::Kind::SetValue, fooKey, u"V"_s, RegistryValue::fromString(u"live"_s)}};
    QVERIFY(live.applied == steps);
    // What Wine holds is read anew after the change.
    hive->current();
    QCOMPARE(live.reads, 2);
}

QTEST_GUILESS_MAIN(TestHiveFile)
#include "tst_hivefile.moc"
