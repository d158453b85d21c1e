#include "hive/HiveChanges.h"
#include "hive/HiveDocument.h"
#include "hive/HiveSyntax.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray readData(const QString& name)
{
    QFile f(QStringLiteral(KESTRIN_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList path(const QString& text)
{
    return text.split(u'\\');
}

const QString uninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;
constexpr qint64 stamp = 1796687600000; // a fixed "now" for the keys a test changes

} // namespace

class TestHiveDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keysOfAnyDepth();
    void manyUnsortedValues();
    void writesUnchangedFilesUnchanged_data();
    void writesUnchangedFilesUnchanged();
    void readsTheFixture();
    void rewritesOnlyTheChangedKey();
    void placesNewKeysInWineOrder();
    void placesNewValuesInNameOrder();
    void deletesKeysWithSubkeys();
    void keepsAnEmptyParentAsAKey();
    void mergesSectionsAndNamesWithoutCase();
    void survivesBrokenFiles_data();
    void survivesBrokenFiles();
    void keepsCutShortValuesUnread_data();
    void keepsCutShortValuesUnread();
    void keepsOverlongLines();
    void savedTextReadsBackTheSame();
    void openValuesMeanTheSameAfterASave_data();
    void openValuesMeanTheSameAfterASave();
    void writesWithTheFilesLineEnds();
    void readsUnreadKeysAfterASave_data();
    void readsUnreadKeysAfterASave();
    void readsKeysSpeltInOtherCases();
    void forgetsOnlyValuesWithoutChanges();
    void changesComeToSteps_data();
    void changesComeToSteps();
};

void TestHiveDocument::writesUnchangedFilesUnchanged_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("system.reg") << u"prefix/system.reg"_s;
    QTest::newRow("user.reg") << u"prefix/user.reg"_s;
    QTest::newRow("userdef.reg") << u"prefix/userdef.reg"_s;
}

void TestHiveDocument::writesUnchangedFilesUnchanged()
{
    QFETCH(QString, file);
    const QByteArray bytes = readData(file);
    QVERIFY(!bytes.isEmpty());
    auto doc = HiveDocument::fromBytes(bytes);
    QVERIFY(doc->isValid());
    QVERIFY(!doc->isModified());
    QCOMPARE(doc->serialize(stamp), bytes);
}

void TestHiveDocument::readsTheFixture()
{
    auto doc = HiveDocument::fromBytes(readData(u"prefix/system.reg"_s));
    QCOMPARE(doc->architecture(), QByteArray("win64"));
    const HiveKey* baer = doc->findKey(path(uninstall + u"\\Baer"_s));
    QVERIFY(baer);
    QCOMPARE(baer->findValue(u"UninstallString"_s)->value.toText(),
             u"C:\\Program Files\\B\u00e4r\\uninstall.exe \"quoted arg\" \\\\server\\share"_s);
    // Value and key names match without regard to letter case and keep their own.
    const HiveKey* upper = doc->findKey(path(uninstall.toLower() + u"\\upper"_s));
    QVERIFY(upper);
    QCOMPARE(upper->name(), u"UPPER"_s);
    QVERIFY(upper->findValue(u"uninstallstring"_s));
    const HiveKey* types = doc->findKey(path(uninstall + u"\\Types"_s));
    QVERIFY(types);
    QVERIFY(types->findValue(QString())); // the default value "@"
    // Subkeys enumerate in Wine's order.
    const HiveKey* list = doc->findKey(path(uninstall));
    QStringList names;
    for (const auto& k : list->subkeys())
        names << k->name();
    QCOMPARE(names, (QStringList{u"Baer"_s, u"EmptyCommand"_s, u"EmptyName"_s, u"FooTool_is1"_s, u"lowercase"_s,
                                 u"NoCommand"_s, u"Twin1"_s, u"Twin2"_s, u"Types"_s, u"UPPER"_s,
                                 u"{6B2A1C44-0F5E-4C59-9D1E-1B2C3D4E5F60}"_s}));
}

void TestHiveDocument::rewritesOnlyTheChangedKey()
{
    const QByteArray before = readData(u"prefix/system.reg"_s);
    auto doc = HiveDocument::fromBytes(before);
    HiveKey* baer = doc->findKey(path(uninstall + u"\\Baer"_s));
    doc->setValue(baer, u"Comments"_s, RegistryValue::fromString(u"new"_s));
    const QByteArray after = doc->serialize(stamp);

    const QByteArray header = "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Baer]";
    const qsizetype start = before.indexOf(header);
    const qsizetype end = before.indexOf("\n[", start + 1);
    QVERIFY(start > 0 && end > start);
    const qsizetype grown = after.size() - before.size();
    // Everything before and after the key is as it was, byte for byte.
    QCOMPARE(after.left(start), before.left(start));
    QCOMPARE(after.mid(end + grown), before.mid(end));
    const QByteArray section = after.mid(start, end + grown - start);
    QVERIFY2(section.contains("\n\"Comments\"=\"new\"\n\"DisplayName\""), section.constData());
    QVERIFY(section.contains("] 1796687600\n#time=1dd86a622f29800\n"));
    // Untouched values of the changed key keep their exact text.
    QVERIFY(section.contains("\"UninstallString\"=\"C:\\\\Program Files\\\\B\\xe4r\\\\uninstall.exe"));

    // Setting a value to what it already holds changes nothing.
    auto again = HiveDocument::fromBytes(before);
    HiveKey* key = again->findKey(path(uninstall + u"\\Baer"_s));
    again->setValue(key, u"UNINSTALLSTRING"_s, key->findValue(u"UninstallString"_s)->value);
    QVERIFY(!again->isModified());
}

void TestHiveDocument::placesNewKeysInWineOrder()
{
    const QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n"
                            "\n[K\\\\KTest] 1\n#time=1\n\"a\"=\"1\"\n"
                            "\n[K\\\\KTest\\\\Sub] 1\n#time=1\n\"a\"=\"1\"\n"
                            "\n[K\\\\Z_a] 1\n#time=1\n\"a\"=\"1\"\n";
    auto doc = HiveDocument::fromBytes(text);
    // Wine walks the tree depth first, so KTest2 follows all of KTest's subkeys; names compare
    // lower-cased, so "_" (0x5f) sorts before letters and Z_a precedes Zab.
    doc->setValue(doc->createKey(path(u"K\\KTest2"_s)), u"v"_s, RegistryValue::fromDword(2));
    doc->setValue(doc->createKey(path(u"K\\Zab"_s)), u"v"_s, RegistryValue::fromDword(3));
    doc->setValue(doc->createKey(path(u"K\\A"_s)), u"v"_s, RegistryValue::fromDword(1));
    doc->createKey(path(u"K\\KTest\\Empty"_s));
    const QByteArray out = doc->serialize(stamp);
    QStringList keys;
    for (const QByteArray& line : out.split('\n')) {
        if (line.startsWith('['))
            keys << QString::fromLatin1(line.left(line.indexOf(']') + 1));
    }
    QCOMPARE(keys, (QStringList{u"[K\\\\A]"_s, u"[K\\\\KTest]"_s, u"[K\\\\KTest\\\\Empty]"_s, u"[K\\\\KTest\\\\Sub]"_s,
                                u"[K\\\\KTest2]"_s, u"[K\\\\Z_a]"_s, u"[K\\\\Zab]"_s}));
    QVERIFY(out.contains("\n\n[K\\\\KTest\\\\Empty] 1796687600\n#time=1dd86a622f29800\n\n[K\\\\KTest\\\\Sub]"));
    QVERIFY(out.endsWith("\n\n[K\\\\Zab] 1796687600\n#time=1dd86a622f29800\n\"v\"=dword:00000003\n"));
}

void TestHiveDocument::placesNewValuesInNameOrder()
{
    const QByteArray text =
        "WINE REGISTRY Version 2\n\n[K] 1\n#time=1\n#class=\"c\"\n\"b\"=\"1\"\n;note\n\"d\"=\"1\"\n";
    auto doc = HiveDocument::fromBytes(text);
    HiveKey* key = doc->findKey({u"K"_s});
    doc->setValue(key, u"e"_s, RegistryValue::fromString(u"5"_s));
    doc->setValue(key, u"a"_s, RegistryValue::fromString(u"0"_s));
    doc->setValue(key, u"c"_s, RegistryValue::fromString(u"3"_s));
    doc->setValue(key, QString(), RegistryValue::fromString(u"@"_s));
    QCOMPARE(doc->serialize(stamp), QByteArray("WINE REGISTRY Version 2\n\n[K] 1796687600\n#time=1dd86a622f29800\n"
                                               "#class=\"c\"\n@=\"@\"\n\"a\"=\"0\"\n\"b\"=\"1\"\n;note\n\"c\"=\"3\"\n"
                                               "\"d\"=\"1\"\n\"e\"=\"5\"\n"));
}

void TestHiveDocument::deletesKeysWithSubkeys()
{
    const QByteArray before = readData(u"prefix/system.reg"_s);
    auto doc = HiveDocument::fromBytes(before);
    doc->deleteKey(doc->findKey(path(uninstall + u"\\Twin2"_s)));
    const QByteArray after = doc->serialize(stamp);
    QVERIFY(!after.contains("Uninstall\\\\Twin2"));
    QVERIFY(after.contains("Uninstall\\\\Twin1]"));
    auto reread = HiveDocument::fromBytes(after);
    QVERIFY(!reread->findKey(path(uninstall + u"\\Twin2\\Components"_s)));
    // Only the deleted sections are gone.
    const qsizetype start =
        before.indexOf("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Twin2]");
    const qsizetype end =
        before.indexOf("\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Types]");
    QVERIFY(start > 0 && end > start);
    QCOMPARE(after, before.left(start) + before.mid(end));
}

void TestHiveDocument::keepsAnEmptyParentAsAKey()
{
    // A key with subkeys and no values has no section; once its last subkey goes it needs one,
    // or the key itself would vanish from the file.
    auto doc = HiveDocument::fromBytes("WINE REGISTRY Version 2\n\n[P\\\\Only] 1\n#time=1\n\"a\"=\"1\"\n");
    doc->deleteKey(doc->findKey(path(u"P\\Only"_s)));
    const QByteArray out = doc->serialize(stamp);
    QCOMPARE(out, QByteArray("WINE REGISTRY Version 2\n\n[P] 1796687600\n#time=1dd86a622f29800\n"));
    QVERIFY(HiveDocument::fromBytes(out)->findKey({u"P"_s}));
}

void TestHiveDocument::mergesSectionsAndNamesWithoutCase()
{
    const QByteArray text = "WINE REGISTRY Version 2\n\n[KEdge] 1\n#time=1\n\"V\"=\"1\"\n\"v\"=\"2\"\n"
                            "\n[kedge] 2\n\"W\"=\"3\"\n";
    auto doc = HiveDocument::fromBytes(text);
    HiveKey* key = doc->findKey({u"KEDGE"_s});
    QVERIFY(key);
    QCOMPARE(key->name(), u"KEdge"_s);
    QCOMPARE(key->values().size(), size_t(2));
    QCOMPARE(key->findValue(u"V"_s)->value.toText(), u"2"_s); // the last one wins
    QCOMPARE(key->findValue(u"w"_s)->value.toText(), u"3"_s);

    doc->setValue(key, u"W"_s, RegistryValue::fromString(u"4"_s));
    const QByteArray out = doc->serialize(stamp);
    auto reread = HiveDocument::fromBytes(out);
    QCOMPARE(reread->findKey({u"KEdge"_s})->findValue(u"W"_s)->value.toText(), u"4"_s);
    QCOMPARE(reread->findKey({u"KEdge"_s})->findValue(u"V"_s)->value.toText(), u"2"_s);
}

void TestHiveDocument::survivesBrokenFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("keptLine"); // the damaged text that must survive a change

    QTest::newRow("bad escape") << u"bad-escape.reg"_s << true << QByteArray("\"V\"=\"ends with backslash\\\n");
    QTest::newRow("unterminated string") << u"unterminated-string.reg"_s << true
                                         << QByteArray("\"V\"=\"no closing quote\n");
    QTest::newRow("odd hex") << u"odd-hex.reg"_s << true << QByteArray("\"V\"=hex:0g,12\n\"W\"=hex:123\n");
    QTest::newRow("blank after hex tag") << u"hex-space-after-tag.reg"_s << true
                                         << QByteArray("\"HexSp\"=hex: 01 , 02\n");
    QTest::newRow("continuation into a key")
        << u"truncated-continuation.reg"_s << true << QByteArray("\"V\"=hex:01,02,\\\n");
    QTest::newRow("continuation at the end")
        << u"continuation-at-eof.reg"_s << true << QByteArray("\"V\"=hex:01,02,\\\n");
    QTest::newRow("unknown tag") << u"unknown-tag.reg"_s << true << QByteArray("\"V\"=str(3):\"x\"\n\"W\"=blob:12\n");
    QTest::newRow("bad key line") << u"bad-key-line.reg"_s << true
                                  << QByteArray("[Software\\\\Unterminated 1796687552\n\"Orphan\"=\"kept\"\n");
    QTest::newRow("value before any key") << u"value-before-key.reg"_s << true << QByteArray("\"Early\"=\"no key\"\n");
    QTest::newRow("garbage line") << u"garbage-line.reg"_s << true << QByteArray("this is not a value\n");
    QTest::newRow("no final newline") << u"missing-final-newline.reg"_s << true << QByteArray("\"A\"=\"1\"\n");
    QTest::newRow("CR LF") << u"crlf.reg"_s << true << QByteArray("\"V\"=\"1\"\r\n\"B\"=hex:01,02,\\\r\n  03\r\n");
    QTest::newRow("NUL byte") << u"nul-bytes.reg"_s << true << QByteArray("\"V\"=\"a\0b\"\n", 10);
    QTest::newRow("invalid UTF-8") << u"invalid-utf8.reg"_s << true << QByteArray("\"V\"=\"caf\xc3 \xff\xfe\"\n");
    QTest::newRow("byte order mark") << u"bom-header.reg"_s << false << QByteArray();
    QTest::newRow("unknown architecture") << u"bad-arch.reg"_s << false << QByteArray();
    QTest::newRow("cut inside a line") << u"truncated-mid-line.reg"_s << true << QByteArray("\"V\"=\"abc");
}

void TestHiveDocument::survivesBrokenFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, valid);
    QFETCH(QByteArray, keptLine);
    const QByteArray bytes = readData(u"broken/"_s + file);
    QVERIFY(!bytes.isEmpty());
    auto doc = HiveDocument::fromBytes(bytes);
    QCOMPARE(doc->isValid(), valid);
    if (!valid) {
        QVERIFY(doc->root().subkeys().empty());
        return;
    }
    QCOMPARE(doc->serialize(stamp), bytes);

    // A change elsewhere keeps the damaged text where it was.
    HiveKey* good = doc->findKey(path(u"Software\\Good"_s));
    if (!good)
        good = doc->createKey(path(u"Software\\Good"_s));
    doc->setValue(good, u"New"_s, RegistryValue::fromString(u"x"_s));
    const QByteArray out = doc->serialize(stamp);
    QVERIFY2(out.contains(keptLine), out.constData());
    auto reread = HiveDocument::fromBytes(out);
    const HiveKey* again = reread->findKey(path(u"Software\\Good"_s));
    QVERIFY(again);
    QCOMPARE(again->findValue(u"New"_s)->value.toText(), u"x"_s);
}

namespace {
enum Change
{
    CreateAfter,
    DeleteNext,
    SetInSameKey,
};
} // namespace

void TestHiveDocument::keepsCutShortValuesUnread_data()
{
    // A value line ending in "\" that meets a key line or the end of the file is not read. A blank
    // line after it would complete it, so no change may put one there.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("keyOfValue");
    QTest::addColumn<int>("change");
    QTest::addColumn<QString>("changedKey");
    QTest::newRow("new key after it") << u"continuation-before-key.reg"_s << u"Software\\A"_s << int(CreateAfter)
                                      << u"Software\\B"_s;
    QTest::newRow("next key deleted") << u"continuation-before-key.reg"_s << u"Software\\A"_s << int(DeleteNext)
                                      << u"Software\\C"_s;
    QTest::newRow("value set beside it") << u"continuation-before-key.reg"_s << u"Software\\A"_s << int(SetInSameKey)
                                         << u"Software\\A"_s;
    QTest::newRow("new key after the end")
        << u"continuation-at-eof.reg"_s << u"Software\\Good"_s << int(CreateAfter) << u"Software\\Z"_s;
}

void TestHiveDocument::keepsCutShortValuesUnread()
{
    QFETCH(QString, file);
    QFETCH(QString, keyOfValue);
    QFETCH(int, change);
    QFETCH(QString, changedKey);
    const QByteArray cutLine = "\"V\"=hex:01,02,\\\n";
    auto doc = HiveDocument::fromBytes(readData(u"broken/"_s + file));
    QVERIFY(!doc->findKey(path(keyOfValue))->findValue(u"V"_s));

    if (change == CreateAfter)
        doc->createKey(path(changedKey));
    else if (change == DeleteNext)
        doc->deleteKey(doc->findKey(path(changedKey)));
    else
        doc->setValue(doc->findKey(path(changedKey)), u"New"_s, RegistryValue::fromDword(1));
    const QByteArray out = doc->serialize(stamp);
    QVERIFY2(out.contains(cutLine), out.constData());

    auto reread = HiveDocument::fromBytes(out);
    QVERIFY2(!reread->findKey(path(keyOfValue))->findValue(u"V"_s), out.constData());
    const HiveKey* changed = reread->findKey(path(changedKey));
    QCOMPARE(changed != nullptr, change != DeleteNext);
    if (change == SetInSameKey)
        QVERIFY(changed->findValue(u"New"_s));
    QCOMPARE(reread->serialize(stamp), out);
}

void TestHiveDocument::keepsOverlongLines()
{
    QByteArray text = "WINE REGISTRY Version 2\n\n[K] 1\n\"Long\"=\"";
    text += QByteArray(4 * 1024 * 1024, 'a') + "\"\n\"Bad\"=\"" + QByteArray(1024 * 1024, 'b') + "\n";
    auto doc = HiveDocument::fromBytes(text);
    const HiveKey* key = doc->findKey({u"K"_s});
    QCOMPARE(key->findValue(u"Long"_s)->value.toText().size(), 4 * 1024 * 1024);
    QVERIFY(!key->findValue(u"Bad"_s));
    QCOMPARE(doc->serialize(stamp), text);
}

void TestHiveDocument::savedTextReadsBackTheSame()
{
    // The saved text, read anew, writes back unchanged and takes further changes.
    auto doc = HiveDocument::fromBytes(readData(u"prefix/system.reg"_s));
    doc->setValue(doc->createKey(path(uninstall + u"\\New"_s)), u"DisplayName"_s, RegistryValue::fromString(u"n"_s));
    const QByteArray first = doc->serialize(stamp);
    doc = HiveDocument::fromBytes(first);
    QVERIFY(!doc->isModified());
    QCOMPARE(doc->serialize(stamp + 1000), first);
    doc->deleteValue(doc->findKey(path(uninstall + u"\\New"_s)), u"DisplayName"_s);
    const QByteArray second = doc->serialize(stamp + 1000);
    QCOMPARE(HiveDocument::fromBytes(second)->findKey(path(uninstall + u"\\New"_s))->values().size(), size_t(0));
    QCOMPARE(second.size(), first.size() - qsizetype(sizeof("\"DisplayName\"=\"n\"\n") - 1));
}

namespace {

// "V" of key A as a reader sees it: its type and bytes, or "absent".
QByteArray valueOfA(const HiveDocument& doc)
{
    const HiveKey* key = doc.findKey({u"A"_s});
    const HiveValue* value = key ? key->findValue(u"V"_s) : nullptr;
    if (!value)
        return "absent";
    return QByteArray::number(int(value->value.type)) + ':' + value->value.data.toHex();
}

} // namespace

void TestHiveDocument::openValuesMeanTheSameAfterASave_data()
{
    // A hex value ending in "\" takes the next line as its continuation. Wine reads one that the
    // file ends as a bad line, and one followed by a blank line as complete.
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("deleteB"); // else a key Z is added after everything
    const QByteArray head = "WINE REGISTRY Version 2\n\n#arch=win64\n\n[A] 1\n";
    QTest::newRow("ended by the file") << head + "\"V\"=hex:01,02,\\\n" << false;
    QTest::newRow("ended by the file, no newline") << head + "\"V\"=hex:01,02,\\" << false;
    QTest::newRow("backslash then junk, no newline") << head + "\"V\"=hex:\\00" << false;
    QTest::newRow("ended by a blank line, next key deleted") << head + "\"V\"=hex:01,02,\\\n\n[B] 1\n\"X\"=\"y\"\n"
                                                             << true;
    QTest::newRow("ended by a blank line, key added") << head + "\"V\"=hex:01,02,\\\n\n[B] 1\n\"X\"=\"y\"\n" << false;
}

void TestHiveDocument::openValuesMeanTheSameAfterASave()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, deleteB);
    auto doc = HiveDocument::fromBytes(text);
    const QByteArray before = valueOfA(*doc);
    if (deleteB)
        doc->deleteKey(doc->findKey({u"B"_s}));
    else
        doc->setValue(doc->createKey({u"Z"_s}), u"N"_s, RegistryValue::fromString(u"new"_s));
    QByteArray saved = doc->serialize(stamp);
    auto reread = HiveDocument::fromBytes(saved);
    QCOMPARE(valueOfA(*reread), before);
    QCOMPARE(bool(reread->findKey({u"Z"_s})), !deleteB);
    QVERIFY(!reread->findKey({u"B"_s}) || !deleteB);
    // And again after one more unrelated change: the text has settled.
    reread->setValue(reread->createKey({u"Y"_s}), u"N"_s, RegistryValue::fromString(u"more"_s));
    saved = reread->serialize(stamp);
    QCOMPARE(valueOfA(*HiveDocument::fromBytes(saved)), before);
}

void TestHiveDocument::writesWithTheFilesLineEnds()
{
    QByteArray text = readData(u"prefix/system.reg"_s);
    text.replace("\n", "\r\n");
    auto doc = HiveDocument::fromBytes(text);
    HiveKey* key = doc->findKey(path(uninstall + u"\\Baer"_s));
    QVERIFY(key);
    doc->setValue(key, u"Long"_s, RegistryValue::fromBinary(QByteArray(60, 0x11))); // wraps over lines
    doc->setValue(doc->createKey(path(uninstall + u"\\ZNew"_s)), u"DisplayName"_s, RegistryValue::fromString(u"New"_s));
    doc->deleteKey(doc->findKey(path(uninstall + u"\\Twin1"_s)));
    const QByteArray saved = doc->serialize(stamp);
    QCOMPARE(saved.count('\n'), saved.count("\r\n"));
    QVERIFY(saved.contains("\"Long\"=hex:11,"));
    QVERIFY(saved.contains("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\ZNew]"));
}

namespace {

// Every key's path and values, spelling included, as one string to compare.
QString dump(const HiveKey& key)
{
    QString text = key.path().join(u'\\') + u'\n';
    for (const HiveValue& v : key.values())
        text += u"  "_s + v.name + u'=' + QString::number(v.value.type) + u':' +
                QString::fromLatin1(v.value.data.toHex()) + u'\n';
    for (const auto& subkey : key.subkeys())
        text += dump(*subkey);
    return text;
}

enum SavedChange
{
    SetValue,
    DeleteKey,
    CreateKey,
};

} // namespace

void TestHiveDocument::readsUnreadKeysAfterASave_data()
{
    // A key whose values were not read before a save of the same file reads them from the saved
    // text, wherever the change moved it.
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<int>("change");
    QTest::addColumn<QString>("key");
    QTest::newRow("value set early in the file")
        << u"prefix/system.reg"_s << false << int(SetValue) << u"Software\\Classes\\.txt"_s;
    QTest::newRow("value set in an entry")
        << u"prefix/system.reg"_s << false << int(SetValue) << uninstall + u"\\Baer"_s;
    QTest::newRow("entry deleted") << u"prefix/system.reg"_s << false << int(DeleteKey) << uninstall + u"\\Twin1"_s;
    QTest::newRow("key created") << u"prefix/system.reg"_s << false << int(CreateKey) << uninstall + u"\\Aaa"_s;
    QTest::newRow("CR LF, value set") << u"prefix/system.reg"_s << true << int(SetValue) << uninstall + u"\\Baer"_s;
    QTest::newRow("CR LF, key deleted") << u"prefix/system.reg"_s << true << int(DeleteKey) << uninstall + u"\\Types"_s;
    QTest::newRow("open value before the change")
        << u"broken/continuation-before-key.reg"_s << false << int(DeleteKey) << u"Software\\C"_s;
    QTest::newRow("open value ended by the file")
        << u"broken/continuation-at-eof.reg"_s << false << int(CreateKey) << u"Software\\Z"_s;
}

void TestHiveDocument::readsUnreadKeysAfterASave()
{
    QFETCH(QString, file);
    QFETCH(bool, crlf);
    QFETCH(int, change);
    QFETCH(QString, key);
    QByteArray text = readData(file);
    QVERIFY(!text.isEmpty());
    if (crlf)
        text.replace("\n", "\r\n");
    auto doc = HiveDocument::fromBytes(text);
    if (change == SetValue) {
        HiveKey* changed = doc->findKey(path(key));
        QVERIFY(changed);
        doc->setValue(changed, u"Comments"_s, RegistryValue::fromBinary(QByteArray(40, 0x5a)));
    } else if (change == DeleteKey) {
        QVERIFY(doc->findKey(path(key)));
        doc->deleteKey(doc->findKey(path(key)));
    } else {
        doc->setValue(doc->createKey(path(key)), u"DisplayName"_s, RegistryValue::fromString(u"new"_s));
    }
    const QByteArray saved = doc->serialize(stamp);
    // Keys whose values were never read are written as they were.
    auto pristine = HiveDocument::fromBytes(text);
    for (const auto& subkey : pristine->root().subkeys()) {
        if (!key.startsWith(subkey->name(), Qt::CaseInsensitive))
            QVERIFY(saved.contains(pristine->keyText(subkey.get())));
    }

    doc->adoptSaved(saved);
    QVERIFY(!doc->isModified());
    auto reread = HiveDocument::fromBytes(saved);
    QCOMPARE(dump(doc->root()), dump(reread->root()));
    QCOMPARE(doc->serialize(stamp), saved);
    // And the next change writes what it would write to the saved file read anew.
    for (HiveDocument* d : {doc.get(), reread.get()})
        d->setValue(d->createKey(path(uninstall + u"\\Zzz"_s)), u"V"_s, RegistryValue::fromDword(1));
    QCOMPARE(doc->serialize(stamp + 1000), reread->serialize(stamp + 1000));
}

void TestHiveDocument::readsKeysSpeltInOtherCases()
{
    // One key in sections spelt differently: its values come from all of them, the last one
    // winning, and it is spelt as the first line that names it, before and after a save.
    const QByteArray text = "WINE REGISTRY Version 2\n\n[top\\\\mid\\\\gone] 1\n\"X\"=\"1\"\n\n[Top] 1\n\"V\"=\"1\"\n"
                            "\n[TOP\\\\MID] 1\n\"Y\"=\"2\"\n\n[ToP] 2\n\"V\"=\"2\"\n\"W\"=\"3\"\n";
    auto doc = HiveDocument::fromBytes(text);
    const HiveKey* top = doc->findKey({u"TOP"_s});
    QVERIFY(top);
    QCOMPARE(top->name(), u"top"_s);
    QCOMPARE(top->values().size(), size_t(2));
    QCOMPARE(top->findValue(u"v"_s)->value.toText(), u"2"_s);
    QCOMPARE(top->findValue(u"W"_s)->value.toText(), u"3"_s);

    // The line that spelt it goes with the deleted key: the next line that names it spells it now.
    doc->deleteKey(doc->findKey({u"Top"_s, u"Mid"_s, u"Gone"_s}));
    const QByteArray saved = doc->serialize(stamp);
    doc->adoptSaved(saved);
    auto reread = HiveDocument::fromBytes(saved);
    QCOMPARE(doc->findKey({u"top"_s})->name(), u"Top"_s);
    QCOMPARE(dump(doc->root()), dump(reread->root()));
    for (HiveDocument* d : {doc.get(), reread.get()})
        d->setValue(d->createKey({u"top"_s, u"C"_s}), u"Z"_s, RegistryValue::fromDword(5));
    const QByteArray next = doc->serialize(stamp);
    QCOMPARE(next, reread->serialize(stamp));
    QVERIFY(next.contains("[Top\\\\C]"));
}

void TestHiveDocument::forgetsOnlyValuesWithoutChanges()
{
    // Values let go are read again from the text as they were; values holding a change are kept
    // until the change is saved.
    const QByteArray text = readData(u"prefix/system.reg"_s);
    auto doc = HiveDocument::fromBytes(text);
    const auto fresh = HiveDocument::fromBytes(text);
    for (const QString& name : {u"Baer"_s, u"Types"_s, u"Twin1"_s}) {
        const HiveKey* key = doc->findKey(path(uninstall + u'\\' + name));
        QVERIFY(key);
        QVERIFY(!key->values().empty());
        doc->forgetValues(*key);
    }
    QCOMPARE(dump(doc->root()), dump(fresh->root()));

    const auto spelt = HiveDocument::fromBytes("WINE REGISTRY Version 2\n\n[Top] 1\n\"V\"=\"1\"\n\n[TOP\\\\Mid] 1\n"
                                               "\"Y\"=\"2\"\n\n[ToP] 2\n\"V\"=\"2\"\n\"W\"=\"3\"\n");
    const HiveKey* top = spelt->findKey({u"top"_s});
    QVERIFY(top);
    QCOMPARE(top->values().size(), size_t(2));
    spelt->forgetValues(*top);
    QVERIFY(top->findValue(u"V"_s));
    QCOMPARE(top->findValue(u"V"_s)->value.toText(), u"2"_s); // the last section still wins

    HiveKey* baer = doc->findKey(path(uninstall + u"\\Baer"_s));
    const RegistryValue comment = RegistryValue::fromString(u"kept"_s);
    doc->setValue(baer, u"Comments"_s, comment);
    doc->forgetValues(*baer);
    QVERIFY(baer->findValue(u"Comments"_s));
    QCOMPARE(baer->findValue(u"Comments"_s)->value, comment);
    const QByteArray saved = doc->serialize(stamp);
    doc->adoptSaved(saved);
    doc->forgetValues(*baer);
    QVERIFY(baer->findValue(u"Comments"_s));
    QCOMPARE(baer->findValue(u"Comments"_s)->value, comment);
    QCOMPARE(dump(doc->root()), dump(HiveDocument::fromBytes(saved)->root()));
}

void TestHiveDocument::changesComeToSteps_data()
{
    // Each change is a line: "set KEY NAME=TEXT" ("expand" for an expandable string), "unset KEY NAME",
    // "create KEY", "delete KEY".
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("nothing") << QStringList{} << QStringList{};
    QTest::newRow("a value set to what it was") << QStringList{u"set A Keep=k"_s} << QStringList{};
    QTest::newRow("a new and a changed value") << QStringList{u"set A New=n"_s, u"set A Keep=changed"_s}
                                               << QStringList{u"set A Keep=changed"_s, u"set A New=n"_s};
    QTest::newRow("a value deleted") << QStringList{u"unset A Old"_s} << QStringList{u"unset A Old"_s};
    // Wine makes the keys between, as RegCreateKeyEx does.
    QTest::newRow("keys made down a new path") << QStringList{u"create A\\B\\C"_s, u"set A\\B\\C V=v"_s}
                                               << QStringList{u"create A\\B\\C"_s, u"set A\\B\\C V=v"_s};
    QTest::newRow("a key with its subkeys deleted") << QStringList{u"delete A"_s} << QStringList{u"delete A"_s};
    QTest::newRow("a subkey's change under a deleted key")
        << QStringList{u"set A\\Sub S=x"_s, u"delete A"_s} << QStringList{u"delete A"_s};
    // As a restore that replaces an entry does it: the old subkey and value must go.
    QTest::newRow("a key deleted and made anew")
        << QStringList{u"delete A"_s, u"create A"_s, u"set A Keep=k"_s, u"set A Fresh=f"_s}
        << QStringList{u"set A Fresh=f"_s, u"unset A Old"_s, u"delete A\\Sub"_s};
    QTest::newRow("the same text, another type") << QStringList{u"expand A Keep=k"_s} << QStringList{u"set A Keep=k"_s};
    QTest::newRow("the default value") << QStringList{u"set A =d"_s} << QStringList{u"set A =d"_s};
    QTest::newRow("names compared without case")
        << QStringList{u"set a keep=k"_s, u"set A\\SUB S=x"_s} << QStringList{u"set A\\Sub S=x"_s};
}

void TestHiveDocument::changesComeToSteps()
{
    QFETCH(QStringList, changes);
    QFETCH(QStringList, steps);
    auto doc = HiveDocument::fromBytes("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
                                       "#arch=win64\n\n[Software\\\\A] 1700000000\n\"Keep\"=\"k\"\n\"Old\"=\"o\"\n\n"
                                       "[Software\\\\A\\\\Sub] 1700000000\n\"S\"=\"s\"\n");
    const auto key = [](const QString& relative) {
        return path(u"Software\\"_s + relative);
    };
    for (const QString& change : std::as_const(changes)) {
        const QStringList words = change.split(u' ');
        const QStringList at = key(words.at(1));
        if (words.at(0) == u"set" || words.at(0) == u"expand") {
            const QString name = words.at(2).section(u'=', 0, 0);
            const quint32 type = words.at(0) == u"set" ? RegType::Sz : RegType::ExpandSz;
            doc->setValue(doc->createKey(at), name, RegistryValue::fromString(words.at(2).section(u'=', 1), type));
        } else if (words.at(0) == u"unset") {
            QVERIFY(doc->deleteValue(doc->findKey(at), words.at(2)));
        } else if (words.at(0) == u"create") {
            doc->createKey(at);
        } else {
            doc->deleteKey(doc->findKey(at));
        }
    }
    QStringList seen;
    for (const HiveChange& step : changesOf(*doc)) {
        const QString where = step.key.mid(1).join(u'\\');
        switch (step.kind) {
        case HiveChange::Kind::CreateKey:
            seen << u"create "_s + where;
            break;
        case HiveChange::Kind::SetValue:
            seen << u"set "_s + where + u' ' + step.name + u'=' + step.value.toText();
            break;
        case HiveChange::Kind::DeleteValue:
            seen << u"unset "_s + where + u' ' + step.name;
            break;
        case HiveChange::Kind::DeleteKey:
            seen << u"delete "_s + where;
            break;
        }
    }
    QCOMPARE(seen, steps);
}

// A file can make a key as deep as it likes: nothing that walks the tree may recurse per level.
void TestHiveDocument::keysOfAnyDepth()
{
    constexpr int depth = 300000;
    QByteArray line = "[k";
    line.reserve(depth * 3 + 16);
    for (int i = 1; i < depth; ++i)
        line += "\\\\k";
    const QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0\n\n" + line +
                            "] 1700000000\n\"v\"=dword:00000001\n";
    {
        const auto doc = HiveDocument::fromBytes(text);
        QVERIFY(doc->isValid());
        const QStringList path(depth, u"k"_s);
        HiveKey* deepest = doc->findKey(path);
        QVERIFY(deepest);
        QCOMPARE(deepest->values().size(), size_t(1));
        QCOMPARE(deepest->path().size(), depth);
        QVERIFY(doc->keyText(doc->findKey({u"k"_s})).contains("\"v\"=dword:00000001"));
        doc->setValue(deepest, u"w"_s, RegistryValue::fromDword(2));
        // A new section for the top key goes before the first section below it.
        doc->setValue(doc->findKey({u"k"_s}), u"top"_s, RegistryValue::fromDword(3));
        const auto again = HiveDocument::fromBytes(doc->serialize(1700000000000));
        QVERIFY(again->findKey(path)->findValue(u"w"));
        QVERIFY(again->findKey({u"k"_s})->findValue(u"top"));
        doc->deleteKey(doc->findKey({u"k"_s}));
        QVERIFY(!doc->findKey({u"k"_s}));
    } // and the trees are freed
}

// Values in no order, as a hand-made file has them: read into name order, a repeated name once.
void TestHiveDocument::manyUnsortedValues()
{
    constexpr int count = 200000;
    QByteArray text = "WINE REGISTRY Version 2\n\n[Software\\\\Many] 1700000000\n";
    for (int i = count; i-- > 0;)
        text += "\"v" + QByteArray::number(i * 7919 % count) +
                "\"=dword:" + QByteArray::number(i % 10).rightJustified(8, '0') + "\n";
    text += "\"V5\"=dword:00000009\n"; // a repeated name, in other letter case: the last one read wins
    const auto doc = HiveDocument::fromBytes(text);
    const HiveKey* key = doc->findKey({u"Software"_s, u"Many"_s});
    QVERIFY(key);
    QCOMPARE(key->values().size(), size_t(count));
    QVERIFY(std::is_sorted(key->values().begin(), key->values().end(), [](const HiveValue& a, const HiveValue& b) {
        return HiveSyntax::compareNames(a.name, b.name) < 0;
    }));
    QCOMPARE(key->findValue(u"v5")->value.toDword(), 9u);
}

QTEST_GUILESS_MAIN(TestHiveDocument)
#include "tst_hivedocument.moc"
