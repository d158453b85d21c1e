#include "formats/PeIconReader.h"

#include "base/UntouchedRead.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <tuple>

namespace PeIconReader {

namespace {

constexpr quint32 kRtIcon = 3;
constexpr quint32 kRtGroupIcon = 14;
constexpr quint32 kHighBit = 0x80000000u;
// Far above anything real (shell32 has a few hundred icons, a group some dozen images), low enough
// that hostile counts cannot make the work or the output explode.
constexpr quint32 kMaxDirectoryEntries = 32768;
constexpr quint16 kMaxImagesPerGroup = 1024;
constexpr qint64 kMaxIconBytes = 64 * 1024 * 1024;
constexpr qint32 kMaxImageSide = 1024;
// Larger files are not read for icons.
constexpr qint64 kMaxReadBytes = 256 * 1024 * 1024;

// Little-endian reads that yield 0 outside the data, so a missed check can never read out of
// bounds; the callers check ranges to decide what is valid.
class Bytes
{
public:
    explicit Bytes(QByteArrayView data) : m_data(reinterpret_cast<const uchar*>(data.data())), m_size(data.size()) {}

    qint64 size() const { return m_size; }
    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
    }
    quint8 u8(qint64 offset) const { return has(offset, 1) ? m_data[offset] : 0; }
    quint16 u16(qint64 offset) const { return has(offset, 2) ? qFromLittleEndian<quint16>(m_data + offset) : 0; }
    quint32 u32(qint64 offset) const { return has(offset, 4) ? qFromLittleEndian<quint32>(m_data + offset) : 0; }
    qint32 i32(qint64 offset) const { return has(offset, 4) ? qFromLittleEndian<qint32>(m_data + offset) : 0; }
    QByteArrayView view(qint64 offset, qint64 length) const
    {
        return has(offset, length) ? QByteArrayView(m_data + offset, length) : QByteArrayView();
    }

private:
    const uchar* m_data;
    qint64 m_size;
};

struct Section
{
    quint32 virtualAddress;
    quint32 virtualSize;
    quint32 rawSize;
    quint32 rawOffset;
};

struct DirectoryEntry
{
    quint32 name;
    quint32 target;

    bool isNamed() const { return name & kHighBit; }
    quint32 nameOffset() const { return name & ~kHighBit; }
    bool isDirectory() const { return target & kHighBit; }
    quint32 offset() const { return target & ~kHighBit; }
};

// The resource tree of a PE image. Tree offsets are relative to its start and are mapped through
// the section table one structure at a time, so no read can leave the file data of a section.
class ResourceTree
{
public:
    explicit ResourceTree(const QByteArray& file) : m_file(file) { m_valid = readHeaders(); }

    bool isValid() const { return m_valid; }

    std::optional<QList<DirectoryEntry>> directory(quint32 treeOffset) const
    {
        const auto header = treeBytes(treeOffset, 16);
        if (!header)
            return std::nullopt;
        const quint32 count = quint32(m_file.u16(*header + 12)) + m_file.u16(*header + 14);
        if (count > kMaxDirectoryEntries)
            return std::nullopt;
        const auto entries = treeBytes(quint64(treeOffset) + 16, quint64(count) * 8);
        if (!entries)
            return std::nullopt;
        QList<DirectoryEntry> result;
        result.reserve(count);
        for (quint32 i = 0; i < count; ++i)
            result.append({m_file.u32(*entries + i * 8), m_file.u32(*entries + i * 8 + 4)});
        return result;
    }

    // A name string: u16 length, then that many UTF-16 units without a terminator.
    std::optional<QString> name(quint32 treeOffset) const
    {
        const auto length = treeBytes(treeOffset, 2);
        if (!length)
            return std::nullopt;
        const quint16 units = m_file.u16(*length);
        const auto text = treeBytes(quint64(treeOffset) + 2, quint64(units) * 2);
        if (!text)
            return std::nullopt;
        QString result(units, Qt::Uninitialized);
        for (quint16 i = 0; i < units; ++i)
            result[i] = QChar(m_file.u16(*text + i * 2));
        return result;
    }

    // The subdirectory below a type entry of the root, first match.
    std::optional<QList<DirectoryEntry>> typeDirectory(quint32 type) const
    {
        const auto root = directory(0);
        if (!root)
            return std::nullopt;
        for (const DirectoryEntry& entry : *root) {
            if (!entry.isNamed() && entry.name == type)
                return entry.isDirectory() ? directory(entry.offset()) : std::nullopt;
        }
        return std::nullopt;
    }

    // The data of a name/ID entry in its first language, as the system's loader takes it.
    std::optional<QByteArrayView> firstLanguageData(const DirectoryEntry& entry) const
    {
        if (!entry.isDirectory())
            return std::nullopt;
        const auto languages = directory(entry.offset());
        if (!languages || languages->isEmpty() || languages->first().isDirectory())
            return std::nullopt;
        const auto leaf = treeBytes(languages->first().offset(), 16);
        if (!leaf)
            return std::nullopt;
        // OffsetToData is an RVA of its own, not relative to the tree.
        const quint32 size = m_file.u32(*leaf + 4);
        const auto data = fileOffset(m_file.u32(*leaf), size);
        if (!data)
            return std::nullopt;
        return m_file.view(*data, size);
    }

private:
    bool readHeaders()
    {
        if (!m_file.has(0, 64) || m_file.u16(0) != 0x5A4D)
            return false;
        const qint64 pe = m_file.u32(0x3C);
        if (!m_file.has(pe, 24) || m_file.u32(pe) != 0x00004550)
            return false;
        const quint16 sectionCount = m_file.u16(pe + 6);
        const quint16 optionalSize = m_file.u16(pe + 20);
        const qint64 optional = pe + 24;
        if (!m_file.has(optional, optionalSize))
            return false;
        qint64 countField = 0;
        qint64 directories = 0;
        switch (m_file.u16(optional)) {
        case 0x10B:
            countField = 92;
            directories = 96;
            break;
        case 0x20B:
            countField = 108;
            directories = 112;
            break;
        default:
            return false;
        }
        constexpr int kResourceDirectory = 2;
        if (optionalSize < directories + (kResourceDirectory + 1) * 8 ||
            m_file.u32(optional + countField) <= kResourceDirectory)
            return false;
        m_treeRva = m_file.u32(optional + directories + kResourceDirectory * 8);
        if (m_treeRva == 0)
            return false;
        const qint64 table = optional + optionalSize;
        if (!m_file.has(table, qint64(sectionCount) * 40))
            return false;
        m_sections.reserve(sectionCount);
        for (qint64 s = table; s < table + qint64(sectionCount) * 40; s += 40)
            m_sections.append({m_file.u32(s + 12), m_file.u32(s + 8), m_file.u32(s + 16), m_file.u32(s + 20)});
        return true;
    }

    // The file offset of length bytes at rva, when all of them lie in the file data of the section
    // that holds rva. 64-bit arithmetic: hostile 32-bit fields must not wrap around.
    std::optional<qint64> fileOffset(quint64 rva, quint64 length) const
    {
        for (const Section& s : m_sections) {
            const quint64 extent = std::max(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || rva - s.virtualAddress >= extent)
                continue;
            const quint64 within = rva - s.virtualAddress;
            if (within + length > s.rawSize)
                return std::nullopt;
            const qint64 offset = qint64(s.rawOffset + within);
            if (!m_file.has(offset, qint64(length)))
                return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    std::optional<qint64> treeBytes(quint64 treeOffset, quint64 length) const
    {
        return fileOffset(quint64(m_treeRva) + treeOffset, length);
    }

    Bytes m_file;
    QList<Section> m_sections;
    quint32 m_treeRva = 0;
    bool m_valid = false;
};

struct GroupEntry
{
    IconGroup group;
    DirectoryEntry entry;
};

// All groups with their names; a name that cannot be read makes the whole directory unusable.
std::optional<QList<GroupEntry>> readGroups(const ResourceTree& tree)
{
    if (!tree.isValid())
        return std::nullopt;
    const auto entries = tree.typeDirectory(kRtGroupIcon);
    if (!entries)
        return std::nullopt;
    QList<GroupEntry> groups;
    groups.reserve(entries->size());
    for (const DirectoryEntry& entry : *entries) {
        IconGroup group;
        if (entry.isNamed()) {
            const auto name = tree.name(entry.nameOffset());
            if (!name)
                return std::nullopt;
            group.name = *name;
        } else {
            group.id = entry.name;
        }
        groups.append({group, entry});
    }
    return groups;
}

void appendU16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void appendU32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// GRPICONDIR (14-byte entries naming RT_ICON IDs) to ICONDIR (16-byte entries with file offsets),
// keeping the entries whose image exists, each cut to the smaller of the two sizes.
QByteArray rebuildIcon(const ResourceTree& tree, QByteArrayView groupData)
{
    const Bytes group(groupData);
    const quint16 count = group.u16(4);
    if (!group.has(0, 6) || group.u16(0) != 0 || group.u16(2) != 1 || count == 0 || count > kMaxImagesPerGroup ||
        !group.has(6, qint64(count) * 14))
        return {};
    const auto icons = tree.typeDirectory(kRtIcon);
    if (!icons)
        return {};
    QHash<quint32, DirectoryEntry> iconById;
    for (const DirectoryEntry& entry : *icons) {
        if (!entry.isNamed() && !iconById.contains(entry.name))
            iconById.insert(entry.name, entry);
    }

    struct Image
    {
        QByteArrayView head; // width to bitCount, copied as they are
        QByteArrayView data;
    };
    QList<Image> images;
    qint64 total = 0;
    for (qint64 e = 6; e < 6 + qint64(count) * 14; e += 14) {
        const auto icon = iconById.constFind(group.u16(e + 12));
        if (icon == iconById.constEnd())
            continue;
        const auto data = tree.firstLanguageData(*icon);
        if (!data || data->isEmpty())
            continue;
        const qint64 size = std::min<qint64>(group.u32(e + 8), data->size());
        total += size;
        if (total > kMaxIconBytes)
            return {};
        images.append({group.view(e, 8), data->first(size)});
    }
    if (images.isEmpty())
        return {};

    QByteArray out;
    out.reserve(6 + images.size() * 16 + total);
    appendU16(out, 0);
    appendU16(out, 1);
    appendU16(out, quint16(images.size()));
    quint32 offset = quint32(6 + images.size() * 16);
    for (const Image& image : images) {
        out.append(image.head);
        appendU32(out, quint32(image.data.size()));
        appendU32(out, offset);
        offset += quint32(image.data.size());
    }
    for (const Image& image : images)
        out.append(image.data);
    return out;
}

bool isIconFile(const Bytes& ico)
{
    const quint16 count = ico.u16(4);
    return ico.has(0, 6) && ico.u16(0) == 0 && ico.u16(2) == 1 && count > 0 && count <= kMaxImagesPerGroup &&
           ico.has(6, qint64(count) * 16);
}

bool isPng(QByteArrayView data)
{
    return data.startsWith("\x89PNG\r\n\x1a\n");
}

QImage decodePng(QByteArrayView data)
{
    // Check the IHDR size first so a hostile header cannot ask for a huge allocation.
    const QByteArrayView ihdr = data.sliced(std::min<qsizetype>(8, data.size()));
    if (ihdr.size() < 16 || ihdr.sliced(4, 4) != "IHDR")
        return {};
    const quint32 width = qFromBigEndian<quint32>(ihdr.data() + 8);
    const quint32 height = qFromBigEndian<quint32>(ihdr.data() + 12);
    if (width == 0 || height == 0 || width > quint32(kMaxImageSide) || height > quint32(kMaxImageSide))
        return {};
    const QImage image = QImage::fromData(data, "PNG");
    return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32);
}

// A DIB icon image: BITMAPINFOHEADER with the doubled height, the palette, the colour rows, then
// the 1-bit AND mask; both bottom-up with rows padded to 4 bytes.
QImage decodeDib(QByteArrayView data)
{
    const Bytes dib(data);
    const quint32 headerSize = dib.u32(0);
    if (headerSize < 40 || !dib.has(0, headerSize))
        return {};
    const qint32 width = dib.i32(4);
    const qint32 height = dib.i32(8) / 2;
    const quint16 bitCount = dib.u16(14);
    const quint32 compression = dib.u32(16);
    if (width <= 0 || width > kMaxImageSide || height <= 0 || height > kMaxImageSide || compression != 0)
        return {};
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return {};

    QList<QRgb> palette;
    qint64 colourRows = headerSize;
    if (bitCount <= 8) {
        const quint32 maxColours = 1u << bitCount;
        const quint32 used = dib.u32(32);
        const quint32 colours = used ? used : maxColours;
        if (colours > maxColours || !dib.has(headerSize, qint64(colours) * 4))
            return {};
        for (quint32 i = 0; i < colours; ++i) {
            const qint64 p = headerSize + qint64(i) * 4;
            palette.append(qRgb(dib.u8(p + 2), dib.u8(p + 1), dib.u8(p)));
        }
        colourRows += qint64(colours) * 4;
        // Indices past a short palette show black rather than reading beyond it.
        palette.resize(maxColours, qRgb(0, 0, 0));
    }

    const qint64 colourStride = (qint64(width) * bitCount + 31) / 32 * 4;
    const qint64 maskStride = (qint64(width) + 31) / 32 * 4;
    const qint64 maskRows = colourRows + colourStride * height;
    if (!dib.has(maskRows, maskStride * height))
        return {};

    // A 32-bit image whose alpha bytes are all zero predates alpha: its AND mask decides.
    bool hasAlpha = false;
    if (bitCount == 32) {
        for (qint64 row = 0; row < height && !hasAlpha; ++row) {
            for (qint64 x = 0; x < width && !hasAlpha; ++x)
                hasAlpha = dib.u8(colourRows + row * colourStride + x * 4 + 3) != 0;
        }
    }

    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull())
        return {};
    for (qint32 y = 0; y < height; ++y) {
        const qint64 colour = colourRows + qint64(height - 1 - y) * colourStride;
        const qint64 mask = maskRows + qint64(height - 1 - y) * maskStride;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (qint32 x = 0; x < width; ++x) {
            QRgb pixel = 0;
            switch (bitCount) {
            case 1:
                pixel = palette.at((dib.u8(colour + x / 8) >> (7 - x % 8)) & 1);
                break;
            case 4:
                pixel = palette.at((dib.u8(colour + x / 2) >> (x % 2 ? 0 : 4)) & 0xF);
                break;
            case 8:
                pixel = palette.at(dib.u8(colour + x));
                break;
            case 24:
                pixel = qRgb(dib.u8(colour + x * 3 + 2), dib.u8(colour + x * 3 + 1), dib.u8(colour + x * 3));
                break;
            default:
                pixel = qRgba(dib.u8(colour + x * 4 + 2), dib.u8(colour + x * 4 + 1), dib.u8(colour + x * 4),
                              hasAlpha ? dib.u8(colour + x * 4 + 3) : 255);
                break;
            }
            if (!hasAlpha && ((dib.u8(mask + x / 8) >> (7 - x % 8)) & 1))
                pixel = 0;
            line[x] = pixel;
        }
    }
    return image;
}

QImage decodeImage(QByteArrayView data)
{
    return isPng(data) ? decodePng(data) : decodeDib(data);
}

} // namespace

QList<IconGroup> iconGroups(const QByteArray& pe)
{
    const auto groups = readGroups(ResourceTree(pe));
    QList<IconGroup> result;
    if (groups) {
        for (const GroupEntry& g : *groups)
            result.append(g.group);
    }
    return result;
}

QByteArray iconFromPe(const QByteArray& pe, int index)
{
    const ResourceTree tree(pe);
    const auto groups = readGroups(tree);
    if (!groups)
        return {};
    const GroupEntry* chosen = nullptr;
    if (index >= 0) {
        if (index < groups->size())
            chosen = &groups->at(index);
    } else {
        // Widened first: -INT_MIN does not fit in an int.
        const qint64 id = -qint64(index);
        const auto match = std::find_if(groups->cbegin(), groups->cend(),
                                        [id](const GroupEntry& g) { return !g.entry.isNamed() && g.group.id == id; });
        if (match != groups->cend())
            chosen = &*match;
    }
    if (!chosen)
        return {};
    const auto data = tree.firstLanguageData(chosen->entry);
    return data ? rebuildIcon(tree, *data) : QByteArray();
}

QByteArray iconFromFile(const QString& path, int index)
{
    // Only regular files, and without marking the program as used.
    QFile file;
    if (!openUntouched(file, path))
        return {};
    // Read, not mapped: a file that another program shortens while it is mapped would kill us with
    // SIGBUS. Each file is read once per size shown in a run.
    if (file.size() > kMaxReadBytes)
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.startsWith("MZ"))
        return iconFromPe(bytes, index);
    if (index == 0 && bytes.size() <= kMaxIconBytes && isIconFile(Bytes(bytes)))
        return QByteArray(bytes.constData(), bytes.size());
    return {};
}

QImage imageFromIcon(const QByteArray& ico, int size)
{
    const Bytes icon(ico);
    if (size <= 0 || size > kMaxImageSide || !isIconFile(icon))
        return {};

    struct Candidate
    {
        int distance;
        bool smaller;
        int depth;
        int order;
        QByteArrayView data;
    };
    QList<Candidate> candidates;
    const int count = icon.u16(4);
    for (int i = 0; i < count; ++i) {
        const qint64 entry = 6 + qint64(i) * 16;
        const QByteArrayView data = icon.view(icon.u32(entry + 12), icon.u32(entry + 8));
        if (data.isEmpty())
            continue;
        const int width = icon.u8(entry) ? icon.u8(entry) : 256;
        // Many directories leave the bit count 0; the DIB header knows it.
        int depth = isPng(data) ? 32 : Bytes(data).u16(14);
        if (depth == 0)
            depth = icon.u16(entry + 6);
        candidates.append({std::abs(width - size), width < size, depth, i, data});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.distance, a.smaller, b.depth, a.order) < std::tie(b.distance, b.smaller, a.depth, b.order);
    });
    for (const Candidate& candidate : candidates) {
        QImage image = decodeImage(candidate.data);
        if (image.isNull())
            continue;
        if (image.width() == size && image.height() == size)
            return image;
        return image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return {};
}

} // namespace PeIconReader
