#include "wine/SteamAppInfo.h"

#include "wine/ConfigFiles.h"

#include <QFile>
#include <QHash>
#include <QtEndian>

namespace {

using Node = KeyValuesText::Node;

enum Format : quint32
{
    Format27 = 0x07564427, // no checksum of the binary tree
    Format28 = 0x07564428,
    Format29 = 0x07564429, // keys by number from a table at the end
};

// The format 29 header: magic, universe, offset of the key table.
constexpr qint64 HeaderBytes29 = 16;

// What lies between an entry's size and its tree: state, last change, access token, checksum of the
// text form, change number, and from format 28 on the checksum of the binary form.
qint64 entryFieldBytes(Format format)
{
    return format == Format27 ? 40 : 60;
}

enum Type : quint8
{
    Table = 0x00,
    Text = 0x01,
    Int32 = 0x02,
    Float = 0x03,
    Pointer = 0x04,
    Colour = 0x06,
    UInt64 = 0x07,
    End = 0x08,
    Int64 = 0x0a,
    AlternateEnd = 0x0b,
};

bool readU32(QIODevice& device, quint32& value)
{
    char bytes[4];
    if (device.read(bytes, 4) != 4)
        return false;
    value = qFromLittleEndian<quint32>(bytes);
    return true;
}

// Format 29's keys: a count, then that many NUL-terminated UTF-8 strings to the end of the file.
class KeyTable
{
public:
    bool load(QIODevice& device, qint64 offset)
    {
        const qint64 size = device.size();
        if (offset < HeaderBytes29 || offset > size || size - offset > SteamAppInfo::MaxEntryBytes ||
            !device.seek(offset))
            return false;
        m_bytes = device.read(size - offset);
        if (m_bytes.size() != size - offset || m_bytes.size() < 4)
            return false;
        // Only where each key starts is kept (each is at least its NUL long, so the count cannot
        // outgrow the table); keys are decoded when an entry uses them.
        const quint32 count = qFromLittleEndian<quint32>(m_bytes.constData());
        qsizetype at = 4;
        for (quint32 i = 0; i < count; ++i) {
            const qsizetype end = m_bytes.indexOf('\0', at);
            if (end < 0)
                return false;
            m_starts.push_back(quint32(at));
            at = end + 1;
        }
        return true;
    }

    std::optional<QString> key(quint32 index)
    {
        if (index >= m_starts.size())
            return std::nullopt;
        // Kept once per key, so the many nodes that share a key share its text.
        auto it = m_decoded.find(index);
        if (it == m_decoded.end())
            it = m_decoded.insert(index, QString::fromUtf8(QByteArrayView(m_bytes.constData() + m_starts[index])));
        return *it;
    }

private:
    QByteArray m_bytes;
    std::vector<quint32> m_starts;
    QHash<quint32, QString> m_decoded;
};

// One entry's tree. Tables nest on an explicit stack of the open ones, so a file cannot drive the
// reader's own stack, and no deeper than MaxDepth, as the tree is freed and compared recursively.
class TreeReader
{
public:
    TreeReader(QByteArrayView data, KeyTable* keys) : m_data(data), m_keys(keys) {}

    std::optional<Node> readTop()
    {
        std::vector<Node> open(1);
        open.reserve(SteamAppInfo::MaxDepth + 1);
        for (;;) {
            quint8 type = 0;
            if (!takeByte(type))
                return std::nullopt;
            if (type == End || type == AlternateEnd) {
                if (open.size() == 1)
                    return std::move(open.front());
                Node done = std::move(open.back());
                open.pop_back();
                open.back().children.push_back(std::move(done));
                continue;
            }
            Node node;
            if (!readKey(node.key) || !readValue(type, node))
                return std::nullopt;
            if (node.block) {
                if (open.size() > size_t(SteamAppInfo::MaxDepth))
                    return std::nullopt;
                open.push_back(std::move(node));
            } else {
                open.back().children.push_back(std::move(node));
            }
        }
    }

private:
    bool readValue(quint8 type, Node& node)
    {
        switch (type) {
        case Table:
            node.block = true;
            return true;
        case Text:
            return readString(node.text);
        case Int32:
        case Pointer:
        case Colour:
            return readNumber<qint32>(node.text);
        case Float:
            return readNumber<float>(node.text);
        case UInt64:
            return readNumber<quint64>(node.text);
        case Int64:
            return readNumber<qint64>(node.text);
        default:
            return false;
        }
    }

    template <typename Number> bool readNumber(QString& text)
    {
        QByteArrayView bytes;
        if (!take(sizeof(Number), bytes))
            return false;
        text = QString::number(qFromLittleEndian<Number>(bytes.data()));
        return true;
    }

    bool take(qsizetype bytes, QByteArrayView& out)
    {
        if (bytes > m_data.size() - m_at)
            return false;
        out = m_data.sliced(m_at, bytes);
        m_at += bytes;
        return true;
    }

    bool takeByte(quint8& byte)
    {
        QByteArrayView bytes;
        if (!take(1, bytes))
            return false;
        byte = quint8(bytes.front());
        return true;
    }

    bool readString(QString& text)
    {
        const qsizetype end = m_data.indexOf('\0', m_at);
        if (end < 0)
            return false;
        text = QString::fromUtf8(m_data.sliced(m_at, end - m_at));
        m_at = end + 1;
        return true;
    }

    bool readKey(QString& key)
    {
        if (!m_keys)
            return readString(key);
        QByteArrayView bytes;
        if (!take(4, bytes))
            return false;
        const auto text = m_keys->key(qFromLittleEndian<quint32>(bytes.data()));
        if (!text)
            return false;
        key = *text;
        return true;
    }

    QByteArrayView m_data;
    qsizetype m_at = 0;
    KeyTable* m_keys;
};

} // namespace

std::optional<KeyValuesText::Node> SteamAppInfo::read(const QString& path, quint32 appId)
{
    const auto file = ConfigFiles::openRegularFile(path);
    return file ? read(*file, appId) : std::nullopt;
}

std::optional<KeyValuesText::Node> SteamAppInfo::read(QIODevice& device, quint32 appId)
{
    quint32 magic = 0, universe = 0;
    if (device.isSequential() || !device.seek(0) || !readU32(device, magic) || !readU32(device, universe))
        return std::nullopt;
    if (magic != Format27 && magic != Format28 && magic != Format29)
        return std::nullopt;
    const Format format = Format(magic);
    qint64 entriesEnd = device.size();
    KeyTable keys;
    if (format == Format29) {
        char offset[8];
        if (device.read(offset, 8) != 8)
            return std::nullopt;
        entriesEnd = qFromLittleEndian<qint64>(offset);
        if (!keys.load(device, entriesEnd) || !device.seek(HeaderBytes29))
            return std::nullopt;
    }

    const qint64 fieldBytes = entryFieldBytes(format);
    for (;;) {
        quint32 id = 0, size = 0;
        if (!readU32(device, id) || id == 0 || !readU32(device, size))
            return std::nullopt;
        // Both operands are far below 2^63: the position is within the file, the size a 32-bit number.
        const qint64 next = device.pos() + qint64(size);
        if (size < fieldBytes || next > entriesEnd)
            return std::nullopt;
        if (id != appId) {
            if (!device.seek(next))
                return std::nullopt;
            continue;
        }
        if (size > MaxEntryBytes)
            return std::nullopt;
        const QByteArray entry = device.read(size);
        if (entry.size() != qsizetype(size))
            return std::nullopt;
        TreeReader reader(QByteArrayView(entry).sliced(fieldBytes), format == Format29 ? &keys : nullptr);
        auto top = reader.readTop();
        if (!top)
            return std::nullopt;
        for (Node& node : top->children) {
            if (node.key.compare(u"appinfo", Qt::CaseInsensitive) == 0)
                return std::move(node);
        }
        return std::nullopt;
    }
}
