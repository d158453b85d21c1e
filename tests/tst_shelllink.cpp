#include "formats/ShellLink.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray fixture(const QString& name)
{
    QFile file(QStringLiteral(KESTRIN_TEST_DATA "/lnk/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray header(quint32 flags)
{
    QByteArray h = le32(0x4C) + QByteArray::fromHex("0114020000000000c000000000000046") + le32(flags);
    return h.leftJustified(0x4C, '\0');
}

QByteArray utf16(const QString& text)
{
    QByteArray b;
    for (QChar c : text)
        b += le16(c.unicode());
    return b;
}

// A counted UTF-16 string as Wine writes it: the count and the text both include a NUL.
QByteArray counted(const QString& text)
{
    return le16(quint16(text.size() + 1)) + utf16(text) + le16(0);
}

// LinkInfo with a local path: ANSI base and suffix, and a UTF-16 base when one is given.
QByteArray linkInfo(const QByteArray& base, const QByteArray& suffix, const QString& unicodeBase = {})
{
    const quint32 suffixAt = 0x24 + quint32(base.size()) + 1;
    const quint32 unicodeAt = unicodeBase.isEmpty() ? 0 : suffixAt + quint32(suffix.size()) + 1;
    const QByteArray b = le32(0x24) + le32(1) + le32(0) + le32(0x24) + le32(0) + le32(suffixAt) + le32(unicodeAt) +
                         le32(0) + base + '\0' + suffix + '\0' + utf16(unicodeBase) + le16(0);
    return le32(quint32(b.size()) + 4) + b;
}

// A 0x314-byte environment block with the same text in both forms.
QByteArray environmentBlock(quint32 signature, const QString& text)
{
    return le32(0x314) + le32(signature) + text.toLatin1().leftJustified(260, '\0') +
           utf16(text).leftJustified(520, '\0');
}

// Little-endian number in a test file; bytes past its end count as 0.
quint32 numberAt(const QByteArray& lnk, qsizetype offset, int size)
{
    quint32 v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | (offset + i < lnk.size() ? quint8(lnk.at(offset + i)) : 0u);
    return v;
}

// Offsets of the parts of a Wine shortcut that has an IDList and a LinkInfo.
qsizetype linkInfoAt(const QByteArray& lnk)
{
    return 0x4E + numberAt(lnk, 0x4C, 2);
}

qsizetype stringDataAt(const QByteArray& lnk)
{
    return linkInfoAt(lnk) + numberAt(lnk, linkInfoAt(lnk), 4);
}

QByteArray patched(QByteArray lnk, qsizetype offset, const QByteArray& bytes)
{
    return lnk.replace(offset, bytes.size(), bytes);
}

QStringList textsOf(const ShellLinkInfo& info)
{
    return {info.LinkTarget, info.LinkArguments, info.LinkWorkDir, info.LinkDescription, info.LinkIconLocation};
}

} // namespace

class TestShellLink : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void readsWineShortcuts_data();
    void readsWineShortcuts();
    void readsHeaderValues();
    void readsShortcutVariants_data();
    void readsShortcutVariants();
    void rejectsDamagedFiles_data();
    void rejectsDamagedFiles();

private:
    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile file(m_dir->filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write test file");
        return file.fileName();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestShellLink::readsWineShortcuts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("texts"); // target, arguments, work dir, description, icon

    QTest::newRow("all fields") << u"Foo Tool.lnk"_s
                                << QStringList{u"C:\\Program Files\\Foo Tool\\foo.exe"_s, u"/mode fast"_s,
                                               u"C:\\Program Files\\Foo Tool"_s, u"Starts Foo Tool"_s,
                                               u"C:\\Program Files\\Foo Tool\\foo.ico"_s};
    QTest::newRow("target only") << u"Notepad.lnk"_s << QStringList{u"C:\\windows\\notepad.exe"_s, {}, {}, {}, {}};
    QTest::newRow("cp1252 path, UTF-16 description")
        << u"Bär Editor.lnk"_s << QStringList{u"C:\\Program Files\\Bär\\bär.exe"_s, {}, {}, u"Ünïcode"_s, {}};
}

void TestShellLink::readsWineShortcuts()
{
    QFETCH(QString, name);
    QFETCH(QStringList, texts);
    const QByteArray bytes = fixture(name);
    QVERIFY(!bytes.isEmpty());

    ShellLinkInfo info;
    info.LinkFile = write(name, bytes);
    info.LinkIconIndex = 99;
    info.LinkShowCmd = 99;
    QVERIFY(ReadShellLink(info));
    QCOMPARE(textsOf(info), texts);
    QCOMPARE(info.LinkIconIndex, 0);
    QCOMPARE(info.LinkShowCmd, 1);
    QCOMPARE(info.LinkHotKey, quint16(0));
}

void TestShellLink::readsHeaderValues()
{
    QByteArray lnk = header(0x80);
    lnk = patched(lnk, 0x18, le32(0x20));                                              // archive
    lnk = patched(lnk, 0x1C, QByteArray::fromHex("0102030405060708"));                 // creation
    lnk = patched(lnk, 0x2C, QByteArray::fromHex("ffffffffffffff7f"));                 // write
    lnk = patched(lnk, 0x34, le32(4096) + le32(quint32(-3)) + le32(7) + le16(0x0241)); // Ctrl+A
    ShellLinkInfo info;
    info.LinkFile = write(u"header.lnk"_s, lnk + le32(0));
    info.LinkTarget = u"previous"_s;
    QVERIFY(ReadShellLink(info));
    QCOMPARE(info.LinkTarget, QString());
    QCOMPARE(info.LinkIconIndex, -3);
    QCOMPARE(info.LinkShowCmd, 7);
    QCOMPARE(info.LinkHotKey, quint16(0x0241));
    const ShellLinkInfo::FindData expected{0x20, 0x0807060504030201, 0, 0x7fffffffffffffff, 4096};
    QCOMPARE(info.LinkFindData, expected);

    info.LinkFile = write(u"show.lnk"_s, patched(lnk, 0x3C, le32(5)) + le32(0));
    QVERIFY(ReadShellLink(info));
    QCOMPARE(info.LinkShowCmd, 1);
}

void TestShellLink::readsShortcutVariants_data()
{
    QTest::addColumn<QByteArray>("lnk");
    QTest::addColumn<QStringList>("texts"); // target, arguments, work dir, description, icon

    const QByteArray foo = fixture(u"Foo Tool.lnk"_s);
    const QStringList fooTexts{u"C:\\Program Files\\Foo Tool\\foo.exe"_s, u"/mode fast"_s,
                               u"C:\\Program Files\\Foo Tool"_s, u"Starts Foo Tool"_s,
                               u"C:\\Program Files\\Foo Tool\\foo.ico"_s};
    const QByteArray notepad = fixture(u"Notepad.lnk"_s);
    const QStringList notepadTexts{u"C:\\windows\\notepad.exe"_s, {}, {}, {}, {}};
    const QByteArray noTerminal = notepad.chopped(4);
    const QString productCode = u"{6B2A1C44-0F3E-4D51-9A37-2C8E5B7D1F60}"_s;

    // Description after it (16 counted UTF-16 units), the relative path Wine writes without its flag.
    const qsizetype afterDescription = stringDataAt(foo) + 2 + 16 * 2;
    QTest::newRow("Wine relative path without its flag")
        << QByteArray(foo).insert(afterDescription, counted(u"..\\Foo Tool\\foo.exe"_s)) << fooTexts;
    QTest::newRow("ANSI strings in cp1252") << header(0x24) + le16(6) + "\x80uro \xe4" + le16(3) +
                                                   "a\x9f"
                                                   "b" +
                                                   le32(0)
                                            << QStringList{{}, u"aŸb"_s, {}, u"€uro ä"_s, {}};
    QTest::newRow("UTF-16 LinkInfo path preferred")
        << header(0x82) + linkInfo("C:\\x.exe", "", u"C:\\Ü.exe"_s) + le32(0)
        << QStringList{u"C:\\Ü.exe"_s, {}, {}, {}, {}};
    QTest::newRow("base path and suffix joined") << header(0x82) + linkInfo("C:\\Apps", "tool.exe") + le32(0)
                                                 << QStringList{u"C:\\Apps\\tool.exe"_s, {}, {}, {}, {}};
    QTest::newRow("environment block gives the target")
        << header(0x280) + environmentBlock(0xA0000001, u"%windir%\\notepad.exe"_s) + le32(0)
        << QStringList{u"%windir%\\notepad.exe"_s, {}, {}, {}, {}};
    // Notepad.lnk with other flags and an icon environment block in place of its terminal block.
    const auto withIconBlock = [&](quint32 flags, const QString& text) -> QByteArray {
        return patched(noTerminal, 0x14, le32(flags)) + environmentBlock(0xA0000007, text) + le32(0);
    };
    QTest::newRow("icon environment block with HasExpIcon")
        << withIconBlock(0x4083, u"%ProgramFiles%\\a.ico"_s)
        << QStringList{notepadTexts[0], {}, {}, {}, u"%ProgramFiles%\\a.ico"_s};
    QTest::newRow("icon environment block without HasExpIcon")
        << withIconBlock(0x83, u"%ProgramFiles%\\a.ico"_s) << notepadTexts;
    QTest::newRow("Wine product code of an advertised shortcut") << withIconBlock(0x883, productCode) << notepadTexts;
    QTest::newRow("product code with HasExpIcon") << withIconBlock(0x4883, productCode) << notepadTexts;
    QTest::newRow("texts cut to 260 characters")
        << header(0x84) + counted(QString(300, u'x')) + le32(0) << QStringList{{}, {}, {}, QString(260, u'x'), {}};
    QTest::newRow("text ends at an embedded NUL")
        << header(0x84) + le16(5) + le16('a') + le16(0) + le16('b') + le16('c') + le16(0) + le32(0)
        << QStringList{{}, {}, {}, u"a"_s, {}};

    // Damaged parts that leave the rest readable.
    const qsizetype localBasePathField = linkInfoAt(notepad) + 0x10;
    QTest::newRow("LocalBasePath offset past LinkInfo")
        << patched(notepad, localBasePathField, le32(0x1000)) << QStringList{{}, {}, {}, {}, {}};
    QTest::newRow("LocalBasePath offset 0xFFFFFFFF")
        << patched(notepad, localBasePathField, le32(0xFFFFFFFF)) << QStringList{{}, {}, {}, {}, {}};
    QTest::newRow("ExtraData block size overflows") << noTerminal + le32(0xFFFFFFF0) + le32(0xA0000001) << notepadTexts;
    QTest::newRow("ExtraData block size below 8") << noTerminal + le32(5) + le32(0xA0000001) + le32(0) << notepadTexts;
    QTest::newRow("zero-size block ends the walk")
        << header(0x280) + le32(0) + environmentBlock(0xA0000001, u"C:\\after.exe"_s)
        << QStringList{{}, {}, {}, {}, {}};
    QTest::newRow("file ends inside the terminal block") << notepad.chopped(2) << notepadTexts;
}

void TestShellLink::readsShortcutVariants()
{
    QFETCH(QByteArray, lnk);
    QFETCH(QStringList, texts);
    ShellLinkInfo info;
    info.LinkFile = write(u"variant.lnk"_s, lnk);
    QVERIFY(ReadShellLink(info));
    QCOMPARE(textsOf(info), texts);
}

void TestShellLink::rejectsDamagedFiles_data()
{
    QTest::addColumn<QByteArray>("lnk");
    QTest::addColumn<bool>("present");

    const QByteArray foo = fixture(u"Foo Tool.lnk"_s);
    for (qsizetype cut :
         {qsizetype(0), qsizetype(3), qsizetype(0x20), qsizetype(0x4B), qsizetype(0x60), linkInfoAt(foo) + 2,
          linkInfoAt(foo) + 0x30, stringDataAt(foo) + 1, stringDataAt(foo) + 20, foo.size() - 8})
        QTest::addRow("truncated at 0x%llx", qlonglong(cut)) << foo.left(cut) << true;
    QTest::newRow("wrong header size") << patched(foo, 0, le32(0x4D)) << true;
    QTest::newRow("wrong CLSID") << patched(foo, 4, QByteArray(1, '\x02')) << true;
    QTest::newRow("IDList past the end") << patched(foo, 0x4C, le16(0xFFFF)) << true;
    QTest::newRow("LinkInfo past the end") << patched(foo, linkInfoAt(foo), le32(0x7FFFFFFF)) << true;
    QTest::newRow("LinkInfo shorter than its header") << patched(foo, linkInfoAt(foo), le32(8)) << true;
    QTest::newRow("huge string count") << patched(foo, stringDataAt(foo), le16(0xFFFF)) << true;
    QTest::newRow("missing file") << QByteArray() << false;
}

void TestShellLink::rejectsDamagedFiles()
{
    QFETCH(QByteArray, lnk);
    QFETCH(bool, present);
    ShellLinkInfo info;
    info.LinkFile = present ? write(u"damaged.lnk"_s, lnk) : m_dir->filePath(u"missing.lnk"_s);
    info.LinkTarget = u"C:\\kept.exe"_s;
    info.LinkIconLocation = u"kept.ico"_s;
    info.LinkIconIndex = 5;
    info.LinkShowCmd = 3;
    const ShellLinkInfo before = info;
    QVERIFY(!ReadShellLink(info));
    QVERIFY(info == before);
}

QTEST_GUILESS_MAIN(TestShellLink)
#include "tst_shelllink.moc"
