#include "formats/KeyValuesText.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The nodes as one line: key=text, key{...}, in order, for comparing whole trees.
QString flatten(const std::vector<KeyValuesText::Node>& nodes)
{
    QStringList parts;
    for (const KeyValuesText::Node& node : nodes)
        parts << (node.isBlock() ? QString(node.key + u'{' + flatten(node.children) + u'}')
                                 : QString(node.key + u'=' + node.text));
    return parts.join(u',');
}

} // namespace

class TestKeyValuesText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parses_data();
    void parses();
    void looksUpChildren();
};

void TestKeyValuesText::parses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("tree"); // empty: refused
    QTest::newRow("library list") << QByteArray(
                                         "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/a/"
                                         "Steam\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"220\"\t\t\"42\"\n\t\t}\n\t}\n}\n")
                                  << u"libraryfolders{0{path=/home/a/Steam,apps{220=42}}}"_s;
    QTest::newRow("older library list") << QByteArray("\"LibraryFolders\" { \"TimeNextStatsReport\" \"1\" \"1\" "
                                                      "\"/mnt/games\" }")
                                        << u"LibraryFolders{TimeNextStatsReport=1,1=/mnt/games}"_s;
    QTest::newRow("escapes") << QByteArray(R"("name" "Say \"hi\" \\ a\tb")") << u"name=Say \"hi\" \\ a\tb"_s;
    QTest::newRow("bare words and comments")
        << QByteArray("// made by hand\nAppState { appid 730 // the id\n name \"CS\" }")
        << u"AppState{appid=730,name=CS}"_s;
    QTest::newRow("condition after a value") << QByteArray("\"a\" \"1\" [$WIN32]\n\"b\" \"2\"") << u"a=1,b=2"_s;
    QTest::newRow("utf-8") << QByteArray("\"name\" \"Caf\xc3\xa9\"") << u"name=Caf\u00e9"_s;
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("unclosed block") << QByteArray("\"a\" { \"b\" \"c\"") << u"!"_s;
    QTest::newRow("stray closing brace") << QByteArray("\"a\" \"b\" }") << u"!"_s;
    QTest::newRow("key without value") << QByteArray("\"a\" { \"b\" }") << u"!"_s;
    QTest::newRow("unterminated quote") << QByteArray("\"a\" \"b") << u"!"_s;
    QTest::newRow("brace as key") << QByteArray("{ \"a\" \"b\" }") << u"!"_s;
    QTest::newRow("too deep") << QByteArray("a {").repeated(200) + QByteArray("}").repeated(200) << u"!"_s;
}

void TestKeyValuesText::parses()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, tree);
    const auto nodes = KeyValuesText::parse(text);
    QCOMPARE(nodes.has_value(), tree != u"!");
    if (!nodes)
        return;
    QCOMPARE(flatten(*nodes), tree);
}

void TestKeyValuesText::looksUpChildren()
{
    const auto nodes = KeyValuesText::parse("\"AppState\" { \"AppID\" \"220\" \"Name\" \"HL2\" \"UserConfig\" { } }");
    QVERIFY(nodes && nodes->size() == 1);
    const KeyValuesText::Node& state = nodes->front();
    QCOMPARE(state.childText(u"appid"), u"220"_s);
    QCOMPARE(state.childText(u"name"), u"HL2"_s);
    QCOMPARE(state.childText(u"userconfig"), QString()); // a block has no text
    QVERIFY(state.child(u"userconfig") && state.child(u"userconfig")->isBlock());
    QCOMPARE(state.child(u"missing"), nullptr);
}

QTEST_GUILESS_MAIN(TestKeyValuesText)
#include "tst_keyvaluestext.moc"
