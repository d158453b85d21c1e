#include "formats/ShellLink.h"

#include "base/UntouchedRead.h"

#include <QByteArrayView>
#include <QFile>
#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

// The .lnk layout of [MS-SHLLINK], read as leniently as Wine's shell32 writes it.

namespace {

constexpr qsizetype HeaderSize = 0x4C;
constexpr std::array<char, 16> LinkClsid = {'\x01', '\x14', '\x02', '\x00', '\x00', '\x00', '\x00', '\x00',
                                            '\xC0', '\x00', '\x00', '\x00', '\x00', '\x00', '\x00', '\x46'};
// Real shortcuts are a few kilobytes. A larger file is read only this far, so a stray big file dropped
// on the window costs no more memory than this.
constexpr qint64 MaxReadSize = 1024 * 1024;
constexpr qsizetype MaxFieldLength = 260;

namespace LinkFlag {
enum : quint32
{
    HasLinkTargetIdList = 0x1,
    HasLinkInfo = 0x2,
    HasName = 0x4,
    HasRelativePath = 0x8,
    HasWorkingDir = 0x10,
    HasArguments = 0x20,
    HasIconLocation = 0x40,
    IsUnicode = 0x80,
    HasExpIcon = 0x4000,
};
}

constexpr qsizetype LinkInfoMinSize = 0x1C;
constexpr qsizetype LinkInfoUnicodeHeaderSize = 0x24;
constexpr quint32 VolumeIdAndLocalBasePath = 0x1;

constexpr quint32 EnvironmentBlock = 0xA0000001;
constexpr quint32 IconEnvironmentBlock = 0xA0000007;
constexpr qsizetype EnvironmentBlockSize = 0x314; // size, signature, 260 ANSI bytes, 260 UTF-16 units
constexpr qsizetype EnvironmentTextLength = 260;

// Bytes 0x80-0x9F of Windows-1252; the rest of that code page is Latin-1. The five unassigned bytes
// become the C1 controls, as Windows converts them. A table, because Qt converts legacy code pages
// only when it was built with ICU.
constexpr std::array<char16_t, 32> Cp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Little-endian reads over a stretch of the file. Every read checks its range first; offsets are
// relative to the stretch, so a sub-structure's own offsets cannot reach outside it.
class Bytes
{
public:
    explicit Bytes(QByteArrayView data) : m_data(data) {}

    qsizetype size() const { return m_data.size(); }
    bool contains(qsizetype offset, qsizetype count) const
    {
        return offset >= 0 && count >= 0 && offset <= size() && count <= size() - offset;
    }
    // Callers check contains() first.
    Bytes slice(qsizetype offset, qsizetype count) const { return Bytes(m_data.sliced(offset, count)); }

    std::optional<quint16> u16(qsizetype offset) const { return read<quint16>(offset); }
    std::optional<quint32> u32(qsizetype offset) const { return read<quint32>(offset); }
    std::optional<quint64> u64(qsizetype offset) const { return read<quint64>(offset); }

    // Windows-1252 text of at most maxBytes bytes from offset, ended early by a NUL.
    QString ansiText(qsizetype offset, qsizetype maxBytes) const
    {
        QString text;
        if (!contains(offset, 0))
            return text;
        const qsizetype end = offset + std::min(maxBytes, size() - offset);
        for (qsizetype i = offset; i < end && m_data[i] != 0; ++i) {
            const auto byte = static_cast<quint8>(m_data[i]);
            text.append(QChar(byte >= 0x80 && byte < 0xA0 ? Cp1252High[byte - 0x80] : char16_t(byte)));
        }
        return text;
    }

    // UTF-16LE text of at most maxUnits code units from offset, ended early by a NUL.
    QString utf16Text(qsizetype offset, qsizetype maxUnits) const
    {
        QString text;
        if (!contains(offset, 0))
            return text;
        const qsizetype end = offset + 2 * std::min(maxUnits, (size() - offset) / 2);
        for (qsizetype i = offset; i < end; i += 2) {
            const auto unit = qFromLittleEndian<quint16>(m_data.data() + i);
            if (unit == 0)
                break;
            text.append(QChar(unit));
        }
        return text;
    }

private:
    template <typename T> std::optional<T> read(qsizetype offset) const
    {
        if (!contains(offset, qsizetype(sizeof(T))))
            return std::nullopt;
        return qFromLittleEndian<T>(m_data.data() + offset);
    }

    QByteArrayView m_data;
};

QString limited(QString text)
{
    if (text.size() > MaxFieldLength) {
        qsizetype length = MaxFieldLength;
        if (text.at(length - 1).isHighSurrogate())
            --length; // keep a character whole
        text.truncate(length);
    }
    return text;
}

// Texts at an offset of a LinkInfo structure; an offset of 0 means "absent".
QString ansiAt(const Bytes& info, std::optional<quint32> offset)
{
    return offset && *offset ? info.ansiText(*offset, info.size()) : QString();
}

QString unicodeAt(const Bytes& info, std::optional<quint32> offset)
{
    return offset && *offset ? info.utf16Text(*offset, info.size()) : QString();
}

// The target named by a LinkInfo structure (given alone): LocalBasePath + CommonPathSuffix, the
// UTF-16 forms when the header has them. Offsets outside the structure yield no text.
QString linkInfoTarget(const Bytes& info)
{
    if (!(info.u32(8).value_or(0) & VolumeIdAndLocalBasePath))
        return {};
    QString base;
    QString suffix;
    if (info.u32(4).value_or(0) >= LinkInfoUnicodeHeaderSize) {
        base = unicodeAt(info, info.u32(0x1C));
        suffix = unicodeAt(info, info.u32(0x20));
    }
    if (base.isEmpty()) {
        base = ansiAt(info, info.u32(0x10));
        suffix = ansiAt(info, info.u32(0x18));
    }
    if (!base.isEmpty() && !suffix.isEmpty() && !base.endsWith(u'\\') && !suffix.startsWith(u'\\'))
        base += u'\\';
    return base + suffix;
}

struct StringData
{
    QString description;
    QString relativePath;
    QString workDir;
    QString arguments;
    QString iconLocation;
    qsizetype end = 0; // where the ExtraData begins
};

// The counted strings that `flags` announce, in their fixed order, from offset; nothing when one runs
// past the end. Wine counts and writes a terminating NUL that the format does not have: a text ends
// at its first NUL.
std::optional<StringData> readStringData(const Bytes& bytes, qsizetype offset, quint32 flags)
{
    StringData strings;
    const bool unicode = flags & LinkFlag::IsUnicode;
    const std::pair<quint32, QString StringData::*> parts[] = {
        {LinkFlag::HasName, &StringData::description},          {LinkFlag::HasRelativePath, &StringData::relativePath},
        {LinkFlag::HasWorkingDir, &StringData::workDir},        {LinkFlag::HasArguments, &StringData::arguments},
        {LinkFlag::HasIconLocation, &StringData::iconLocation},
    };
    for (const auto& [flag, field] : parts) {
        if (!(flags & flag))
            continue;
        const auto count = bytes.u16(offset);
        if (!count)
            return std::nullopt;
        const qsizetype length = qsizetype(*count) * (unicode ? 2 : 1);
        if (!bytes.contains(offset + 2, length))
            return std::nullopt;
        strings.*field = unicode ? bytes.utf16Text(offset + 2, *count) : bytes.ansiText(offset + 2, *count);
        offset += 2 + length;
    }
    strings.end = offset;
    return strings;
}

// Whether ExtraData can begin at offset: the end of the file, a terminal block, or a block with an
// ExtraData signature that fits in the file.
bool extraDataStartsAt(const Bytes& bytes, qsizetype offset)
{
    if (offset == bytes.size())
        return true;
    const auto size = bytes.u32(offset);
    if (!size)
        return false;
    if (*size < 4)
        return true;
    const quint32 signature = bytes.u32(offset + 4).value_or(0);
    return *size >= 8 && bytes.contains(offset, *size) && (signature & 0xFFFFFFF0u) == 0xA0000000u;
}

struct ExtraTexts
{
    QString target;
    QString iconLocation;
};

// Target text of an environment block: the UTF-16 form, else the ANSI one.
QString environmentText(const Bytes& block)
{
    const QString unicode = block.utf16Text(8 + EnvironmentTextLength, EnvironmentTextLength);
    return unicode.isEmpty() ? block.ansiText(8, EnvironmentTextLength) : unicode;
}

// Walks the ExtraData blocks up to the terminal one. A block that is too short or runs past the end
// of the file ends the walk: what came before it stays good. Each block moves the walk on by at
// least 8 bytes, so it always ends.
ExtraTexts readExtraData(const Bytes& bytes, qsizetype offset)
{
    ExtraTexts texts;
    for (;;) {
        const auto size = bytes.u32(offset);
        if (!size || *size < 8 || !bytes.contains(offset, *size))
            break;
        const Bytes block = bytes.slice(offset, *size);
        const quint32 signature = block.u32(4).value_or(0);
        if (block.size() >= EnvironmentBlockSize) {
            if (signature == EnvironmentBlock)
                texts.target = environmentText(block);
            else if (signature == IconEnvironmentBlock)
                texts.iconLocation = environmentText(block);
        }
        offset += *size;
    }
    return texts;
}

} // namespace

bool ReadShellLink(ShellLinkInfo& info)
{
    QFile file;
    if (!openUntouched(file, info.LinkFile))
        return false;
    return parseShellLink(file.read(MaxReadSize), info);
}

bool parseShellLink(QByteArrayView data, ShellLinkInfo& info)
{
    const Bytes bytes(data);
    if (bytes.u32(0) != quint32(HeaderSize) || !bytes.contains(0, HeaderSize) ||
        std::memcmp(data.constData() + 4, LinkClsid.data(), LinkClsid.size()) != 0)
        return false;

    const quint32 flags = bytes.u32(0x14).value_or(0);
    qsizetype offset = HeaderSize;
    if (flags & LinkFlag::HasLinkTargetIdList) {
        const auto idListSize = bytes.u16(offset);
        if (!idListSize || !bytes.contains(offset + 2, *idListSize))
            return false;
        offset += 2 + *idListSize;
    }

    QString target;
    if (flags & LinkFlag::HasLinkInfo) {
        const auto linkInfoSize = bytes.u32(offset);
        if (!linkInfoSize || *linkInfoSize < LinkInfoMinSize || !bytes.contains(offset, *linkInfoSize))
            return false;
        target = linkInfoTarget(bytes.slice(offset, *linkInfoSize));
        offset += *linkInfoSize;
    }

    std::optional<StringData> strings = readStringData(bytes, offset, flags);
    if (!(flags & LinkFlag::HasRelativePath) && !(strings && extraDataStartsAt(bytes, strings->end))) {
        // Wine writes a relative path without setting its flag. Take one in when that makes the
        // strings end where ExtraData can begin.
        std::optional<StringData> withRelativePath = readStringData(bytes, offset, flags | LinkFlag::HasRelativePath);
        if (withRelativePath && extraDataStartsAt(bytes, withRelativePath->end))
            strings = std::move(withRelativePath);
    }
    if (!strings)
        return false;

    const ExtraTexts extra = readExtraData(bytes, strings->end);
    if (target.isEmpty())
        target = extra.target;
    QString iconLocation = strings->iconLocation;
    // Wine stores the product code of an advertised shortcut in the icon environment block.
    if (iconLocation.isEmpty() && (flags & LinkFlag::HasExpIcon) && QUuid::fromString(extra.iconLocation).isNull())
        iconLocation = extra.iconLocation;

    info.LinkTarget = limited(target);
    info.LinkArguments = limited(strings->arguments);
    info.LinkWorkDir = limited(strings->workDir);
    info.LinkDescription = limited(strings->description);
    info.LinkIconLocation = limited(iconLocation);
    info.LinkIconIndex = static_cast<qint32>(bytes.u32(0x38).value_or(0));
    info.LinkHotKey = bytes.u16(0x40).value_or(0);
    const auto showCmd = static_cast<qint32>(bytes.u32(0x3C).value_or(0));
    info.LinkShowCmd = showCmd == 3 || showCmd == 7 ? showCmd : 1;
    info.LinkFindData = {bytes.u32(0x18).value_or(0), bytes.u64(0x1C).value_or(0), bytes.u64(0x24).value_or(0),
                         bytes.u64(0x2C).value_or(0), bytes.u32(0x34).value_or(0)};
    return true;
}
