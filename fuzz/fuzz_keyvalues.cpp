// Steam's key-value text reader over arbitrary input. Besides memory safety: a tree that parsed,
// written back with every text quoted, parses again to the same tree.
#include "FuzzSupport.h"

#include "formats/KeyValuesText.h"

#include <cstdint>

namespace {

QByteArray quoted(const QString& text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c == '\n' ? QByteArray("\\n") : c == '\t' ? QByteArray("\\t") : QByteArray(1, c);
    }
    return out + '"';
}

QByteArray written(const std::vector<KeyValuesText::Node>& nodes)
{
    QByteArray out;
    for (const KeyValuesText::Node& node : nodes) {
        out += quoted(node.key) + ' ';
        out +=
            node.isBlock() ? QByteArray("{\n" + written(node.children) + "}\n") : QByteArray(quoted(node.text) + '\n');
    }
    return out;
}

bool same(const std::vector<KeyValuesText::Node>& a, const std::vector<KeyValuesText::Node>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].isBlock() != b[i].isBlock() || a[i].text != b[i].text ||
            !same(a[i].children, b[i].children))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto nodes = KeyValuesText::parse(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!nodes)
        return 0;
    const auto again = KeyValuesText::parse(written(*nodes));
    check(again && same(*nodes, *again), "the tree written back parses differently");
    return 0;
}
