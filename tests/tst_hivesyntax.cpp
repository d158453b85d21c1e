#include "hive/HiveSyntax.h"

#include <QTest>

using namespace HiveSyntax;
using namespace Qt::StringLiterals;

class TestHiveSyntax : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesEscapes_data();
    void parsesEscapes();
    void writesEscapes_data();
    void writesEscapes();
    void escapingRoundTrips_data();
    void escapingRoundTrips();
    void formatsValues_data();
    void formatsValues();
    void parsesValueLines_data();
    void parsesValueLines();
    void readsHexContinuation();
    void ordersNamesAsWine_data();
    void ordersNamesAsWine();
    void parsesKeyLines_data();
    void parsesKeyLines();
};

void TestHiveSyntax::parsesEscapes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("end");

    QTest::newRow("plain") << QByteArray("abc\"rest") << u"abc"_s << 4;
    QTest::newRow("C escapes") << QByteArray("\\a\\b\\e\\f\\n\\r\\t\\v\"") << u"\a\b\x1b\f\n\r\t\v"_s << 17;
    QTest::newRow("hex stops after four digits") << QByteArray("\\x00e41\"") << u"\u00e41"_s << 8;
    QTest::newRow("hex stops at a non-hex") << QByteArray("\\xe9 x\"") << u"\u00e9 x"_s << 7;
    QTest::newRow("hex without digit is x") << QByteArray("\\xz\"") << u"xz"_s << 4;
    QTest::newRow("octal up to three digits") << QByteArray("\\0001\\17\"") << QString(u"\u0000"_s + u"1\u000f"_s) << 9;
    QTest::newRow("escaped delimiters") << QByteArray("\\\\\\\"\\[\\]\"") << u"\\\"[]"_s << 9;
    QTest::newRow("raw UTF-8") << QByteArray("Caf\xc3\xa9 \xe6\x97\xa5\"") << u"Caf\u00e9 \u65e5"_s << 10;
    QTest::newRow("UTF-8 beyond the BMP") << QByteArray("\xf0\x9f\x98\x80\"") << u"\U0001F600"_s << 5;
    QTest::newRow("invalid UTF-8 dropped") << QByteArray("a\xff\xc3 b\"") << u"a b"_s << 6;
    // Over-long forms of "A" and of U+00E9 are invalid, not those characters.
    QTest::newRow("over-long UTF-8 dropped") << QByteArray("a\xe0\x81\x81\xf0\x80\x83\xa9"
                                                           "b\"")
                                             << u"ab"_s << 10;
    QTest::newRow("no end") << QByteArray("abc") << QString() << -1;
    QTest::newRow("backslash at the end") << QByteArray("abc\\") << QString() << -1;
    QTest::newRow("escaped quote is no end") << QByteArray("a\\\"") << QString() << -1;
}

void TestHiveSyntax::parsesEscapes()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QFETCH(int, end);
    QString out;
    QCOMPARE(parseString(text, 0, '"', out), qsizetype(end));
    if (end >= 0)
        QCOMPARE(out, expected);
}

void TestHiveSyntax::writesEscapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("delimiters");
    QTest::addColumn<QByteArray>("expected");

    // The forms below are what Wine 8.0 itself wrote.
    QTest::newRow("hex padded before hex digits") << u"\u00e41 \u00c4B \u65e5\u672c\u8a9e end"_s << QByteArray("\"")
                                                  << QByteArray("\\x00e41 \\x00c4B \\x65e5\\x672c\\x8a9e end");
    QTest::newRow("octal padded before octal digits")
        << QString(u"x"_s + QChar(0) + u"1y"_s + QChar(0) + u"ab"_s + QChar(0) + QChar(0)) << QByteArray("\"")
        << QByteArray("x\\0001y\\0ab\\0");
    QTest::newRow("control characters") << u"tab\tA\u0001B\u00017"_s << QByteArray("\"")
                                        << QByteArray("tab\\tA\\1B\\0017");
    QTest::newRow("value delimiters") << u"Caf\u00e9 1 \"q\" back\\slash tab\tx"_s << QByteArray("\"")
                                      << QByteArray("Caf\\xe9 1 \\\"q\\\" back\\\\slash tab\\tx");
    QTest::newRow("key delimiters") << u"Sub [br] \"q\" \u00e9"_s << QByteArray("[]")
                                    << QByteArray("Sub \\[br\\] \"q\" \\xe9");
    QTest::newRow("escape character and DEL") << u"\u001b\u007f"_s << QByteArray("\"") << QByteArray("\\e\x7f");
    QTest::newRow("surrogates escaped each") << u"\U0001F600"_s << QByteArray("\"") << QByteArray("\\xd83d\\xde00");
}

void TestHiveSyntax::writesEscapes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, delimiters);
    QFETCH(QByteArray, expected);
    QByteArray out;
    QCOMPARE(appendEscaped(out, text, delimiters), expected.size());
    QCOMPARE(out, expected);
}

void TestHiveSyntax::escapingRoundTrips_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("digits after every kind of escape")
        << QString(u"\u00e91\u00e9a\u00e9g"_s + QChar(1) + u"7"_s + QChar(1) + u"8\t0\\1\"2"_s);
    QTest::newRow("all control characters") << [] {
        QString s;
        for (char16_t c = 1; c < 0x20; ++c)
            s += QChar(c) + u"5"_s;
        return s;
    }();
    QTest::newRow("wide characters") << u"\u65e5\u672cF\uffff0\u0100f"_s;
}

void TestHiveSyntax::escapingRoundTrips()
{
    QFETCH(QString, text);
    QByteArray escaped;
    appendEscaped(escaped, text, "\"");
    escaped.append('"');
    QString back;
    QCOMPARE(parseString(escaped, 0, '"', back), escaped.size());
    QCOMPARE(back, text);
}

void TestHiveSyntax::formatsValues_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RegistryValue>("value");
    QTest::addColumn<QByteArray>("expected");

    QByteArray bin;
    for (int i = 0; i < 48; ++i)
        bin.append(char(i));
    QTest::newRow("string") << u"DisplayName"_s << RegistryValue::fromString(u"Caf\u00e9 \"q\""_s)
                            << QByteArray("\"DisplayName\"=\"Caf\\xe9 \\\"q\\\"\"\n");
    QTest::newRow("empty string") << u"EmptyStr"_s << RegistryValue::fromString(QString())
                                  << QByteArray("\"EmptyStr\"=\"\"\n");
    QTest::newRow("expandable") << u"Exp"_s << RegistryValue::fromString(u"%ProgramFiles%\\Foo"_s, RegType::ExpandSz)
                                << QByteArray("\"Exp\"=str(2):\"%ProgramFiles%\\\\Foo\"\n");
    QTest::newRow("multi-string") << u"Multi"_s << RegistryValue::fromMultiString({u"one"_s, u"two"_s, u"three"_s})
                                  << QByteArray("\"Multi\"=str(7):\"one\\0two\\0three\\0\"\n");
    QTest::newRow("dword") << u"Dw"_s << RegistryValue::fromDword(0x12345678) << QByteArray("\"Dw\"=dword:12345678\n");
    QTest::newRow("binary wraps as Wine does")
        << u"Bin"_s << RegistryValue::fromBinary(bin)
        << QByteArray("\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
                      "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f\n");
    QTest::newRow("qword") << u"Qw"_s << RegistryValue::fromQword(0x1122334455667788ULL)
                           << QByteArray("\"Qw\"=hex(b):88,77,66,55,44,33,22,11\n");
    QTest::newRow("large type") << u"Big"_s << RegistryValue::fromBinary("\x01\x02", 0x100000)
                                << QByteArray("\"Big\"=hex(100000):01,02\n");
    QTest::newRow("unterminated string") << u"Hex1"_s << RegistryValue::fromBinary(QByteArray("A\0B\0", 4), RegType::Sz)
                                         << QByteArray("\"Hex1\"=hex(1):41,00,42,00\n");
    QTest::newRow("dword of another size") << u"D3"_s << RegistryValue::fromBinary("\x01\x02\x03", RegType::Dword)
                                           << QByteArray("\"D3\"=hex(4):01,02,03\n");
    QTest::newRow("no data") << u"BadStr"_s << RegistryValue::fromBinary({}, RegType::None)
                             << QByteArray("\"BadStr\"=hex(0):\n");
    QTest::newRow("default value") << QString() << RegistryValue::fromString(u"x"_s) << QByteArray("@=\"x\"\n");
}

void TestHiveSyntax::formatsValues()
{
    QFETCH(QString, name);
    QFETCH(RegistryValue, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(formatValue(name, value), expected);

    // Whatever is written reads back the same.
    ParsedValue parsed;
    QByteArray lines = expected;
    lines.chop(1);
    const QList<QByteArray> split = lines.split('\n');
    ParseResult result = parseValueLine(split[0], parsed);
    for (int i = 1; i < split.size(); ++i) {
        QCOMPARE(result, ParseResult::Continues);
        result = parseHexContinuation(split[i], parsed);
    }
    QCOMPARE(result, ParseResult::Complete);
    QCOMPARE(parsed.name, name);
    QCOMPARE(parsed.value, value);
}

void TestHiveSyntax::parsesValueLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("result");
    QTest::addColumn<RegistryValue>("value");

    const int complete = int(ParseResult::Complete);
    const int malformed = int(ParseResult::Malformed);
    QTest::newRow("str: tag") << QByteArray("\"a\"=str:\"x\"") << complete << RegistryValue::fromString(u"x"_s);
    QTest::newRow("blanks around =") << QByteArray("  \"a\" \t= \t\"x\"") << complete
                                     << RegistryValue::fromString(u"x"_s);
    QTest::newRow("rest after string ignored")
        << QByteArray("\"a\"=\"x\" junk") << complete << RegistryValue::fromString(u"x"_s);
    QTest::newRow("short dword") << QByteArray("\"a\"=dword:1") << complete << RegistryValue::fromDword(1);
    // Wine reads dwords with strtoul: a 0x prefix and a sign are taken, no digits read as 0.
    QTest::newRow("dword with 0x") << QByteArray("\"a\"=dword:0x10") << complete << RegistryValue::fromDword(16);
    QTest::newRow("negative dword") << QByteArray("\"a\"=dword:-1") << complete << RegistryValue::fromDword(0xFFFFFFFF);
    QTest::newRow("dword without digits") << QByteArray("\"a\"=dword:zz") << complete << RegistryValue::fromDword(0);
    QTest::newRow("blank inside hex(") << QByteArray("\"a\"=hex( 2):41,00,00,00") << complete
                                       << RegistryValue::fromString(u"A"_s, RegType::ExpandSz);
    QTest::newRow("one-digit hex bytes") << QByteArray("\"a\"=hex:1,2") << complete
                                         << RegistryValue::fromBinary("\x01\x02");
    QTest::newRow("blank after hex tag") << QByteArray("\"HexSp\"=hex: 01 , 02") << malformed << RegistryValue();
    QTest::newRow("byte above ff") << QByteArray("\"a\"=hex:123") << malformed << RegistryValue();
    QTest::newRow("not hex") << QByteArray("\"a\"=hex:0g") << malformed << RegistryValue();
    QTest::newRow("unknown string type") << QByteArray("\"a\"=str(3):\"x\"") << malformed << RegistryValue();
    QTest::newRow("unknown tag") << QByteArray("\"a\"=blob:1") << malformed << RegistryValue();
    QTest::newRow("no equals sign") << QByteArray("\"a\" \"x\"") << malformed << RegistryValue();
    QTest::newRow("hex( without close") << QByteArray("\"a\"=hex(2:01") << malformed << RegistryValue();
    QTest::newRow("NUL byte in line") << QByteArray("\"a\"=\"x\0y\"", 9) << malformed << RegistryValue();
    QTest::newRow("name with equals signs")
        << QByteArray("\"a=b=c\"=\"=\"") << complete << RegistryValue::fromString(u"="_s);
}

void TestHiveSyntax::parsesValueLines()
{
    QFETCH(QByteArray, line);
    QFETCH(int, result);
    QFETCH(RegistryValue, value);
    ParsedValue parsed;
    QCOMPARE(int(parseValueLine(line, parsed)), result);
    if (result == int(ParseResult::Complete))
        QCOMPARE(parsed.value, value);
}

void TestHiveSyntax::readsHexContinuation()
{
    ParsedValue parsed;
    QCOMPARE(parseValueLine("\"B\"=hex:01,02,\\  ", parsed), ParseResult::Continues);
    QCOMPARE(parseHexContinuation("   03,04,\\ ignored as Wine does", parsed), ParseResult::Continues);
    QCOMPARE(parseHexContinuation("  05", parsed), ParseResult::Complete);
    QCOMPARE(parsed.value.data, QByteArray("\x01\x02\x03\x04\x05"));
    QCOMPARE(parseHexContinuation("  zz", parsed), ParseResult::Malformed);
}

void TestHiveSyntax::ordersNamesAsWine_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("letter case ignored") << u"KEdge"_s << u"kedge"_s << 0;
    QTest::newRow("shorter first") << u"KTest"_s << u"KTest2"_s << -1;
    QTest::newRow("underscore before letters") << u"Z_a"_s << u"Zab"_s << -1;
    QTest::newRow("compared lower-cased") << u"_"_s << u"A"_s << -1;
    QTest::newRow("non-ASCII case") << u"\u00c4x"_s << u"\u00e4X"_s << 0;
    QTest::newRow("default value first") << QString() << u"A"_s << -1;
}

void TestHiveSyntax::ordersNamesAsWine()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(compareNames(a, b), order);
    QCOMPARE(compareNames(b, a), -order);
}

void TestHiveSyntax::parsesKeyLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("path");
    QTest::newRow("plain") << QByteArray("[Software\\\\A b] 1796687542") << true
                           << QStringList{u"Software"_s, u"A b"_s};
    QTest::newRow("no time") << QByteArray("[A]") << true << QStringList{u"A"_s};
    QTest::newRow("escaped brackets") << QByteArray("[Sub \\[br\\] \"q\" \\xe9] 1") << true
                                      << QStringList{u"Sub [br] \"q\" \u00e9"_s};
    QTest::newRow("unterminated") << QByteArray("[Software\\\\A 1") << false << QStringList();
    // Wine skips empty parts of a key path: a doubled, leading or trailing separator names no key.
    QTest::newRow("empty parts") << QByteArray("[\\\\Software\\\\\\\\A\\\\] 1") << true
                                 << QStringList{u"Software"_s, u"A"_s};
}

void TestHiveSyntax::parsesKeyLines()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    QFETCH(QStringList, path);
    const auto parsed = parseKeyLine(line);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, path);
}

QTEST_GUILESS_MAIN(TestHiveSyntax)
#include "tst_hivesyntax.moc"
