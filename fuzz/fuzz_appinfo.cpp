// Steam's binary appinfo.vdf reader over arbitrary input, asked for the entry Kestrin reads (the Steam
// Play manifest). Besides memory safety: no tree comes back nested deeper than the reader allows, and
// a tree that was read, written back as a file of format 27 and of format 29 with every value as a
// string, reads back to the same tree from both.
#include "FuzzSupport.h"

#include "wine/SteamAppInfo.h"

#include <QBuffer>
#include <QHash>
#include <QtEndian>

#include <cstdint>

namespace {

using Node = KeyValuesText::Node;

constexpr quint32 SteamPlayManifests = 891390;

void append32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

class Writer
{
public:
    explicit Writer(bool keyTable) : m_keyTable(keyTable) {}

    // The file holding `top` as the manifest's only top-level node.
    QByteArray file(const Node& top)
    {
        QByteArray tree;
        write(top, tree, 1);
        tree += '\x08';
        QByteArray out;
        append32(out, m_keyTable ? 0x07564429 : 0x07564427);
        append32(out, 1);
        const qsizetype fieldBytes = m_keyTable ? 60 : 40;
        QByteArray entries;
        append32(entries, SteamPlayManifests);
        append32(entries, quint32(fieldBytes + tree.size()));
        entries += QByteArray(fieldBytes, '\0') + tree;
        append32(entries, 0);
        if (!m_keyTable)
            return out + entries;
        char offset[8];
        qToLittleEndian(qint64(16 + entries.size()), offset);
        out.append(offset, 8);
        out += entries;
        append32(out, quint32(m_keys.size()));
        return out + m_table;
    }

private:
    void write(const Node& node, QByteArray& out, int depth)
    {
        check(!node.isBlock() || depth <= SteamAppInfo::MaxDepth, "tables nested deeper than the reader allows");
        out += node.isBlock() ? '\x00' : '\x01';
        const QByteArray key = node.key.toUtf8();
        if (m_keyTable) {
            auto it = m_keys.find(key);
            if (it == m_keys.end()) {
                it = m_keys.insert(key, quint32(m_keys.size()));
                m_table += key + '\0';
            }
            append32(out, *it);
        } else {
            out += key + '\0';
        }
        if (!node.isBlock()) {
            out += node.text.toUtf8() + '\0';
            return;
        }
        for (const Node& child : node.children)
            write(child, out, depth + 1);
        out += '\x08';
    }

    bool m_keyTable;
    QHash<QByteArray, quint32> m_keys;
    QByteArray m_table;
};

std::optional<Node> readManifest(const QByteArray& bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return SteamAppInfo::read(buffer, SteamPlayManifests);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto top = readManifest(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!top)
        return 0;
    const QByteArray written = Writer(false).file(*top);
    const auto again = readManifest(written);
    check(again && Writer(false).file(*again) == written, "the tree written back as format 27 reads differently");
    const auto indexed = readManifest(Writer(true).file(*top));
    check(indexed && Writer(false).file(*indexed) == written, "the tree written back as format 29 reads differently");
    return 0;
}
