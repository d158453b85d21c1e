#include "hive/HiveSyntax.h"

#include <QtEndian>

#include <cstdlib>
#include <cstring>

namespace HiveSyntax {

namespace {

inline char16_t foldCase(char16_t c)
{
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? char16_t(c + 32) : c;
    return QChar::toLower(c);
}

inline bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Decodes one UTF-8 sequence at `pos`. Returns the bytes it took and the code point in `cp`, or
// -1 in `cp` for an invalid sequence (Wine drops those).
qsizetype decodeUtf8(QByteArrayView s, qsizetype pos, char32_t& cp)
{
    const auto lead = static_cast<unsigned char>(s[pos]);
    int extra;
    char32_t min;
    if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        cp = lead & 0x07;
        min = 0x10000;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        cp = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        cp = lead & 0x1F;
        min = 0x80;
    } else {
        cp = char32_t(-1);
        return 1;
    }
    if (pos + extra >= s.size()) {
        cp = char32_t(-1);
        return 1;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto c = static_cast<unsigned char>(s[pos + i]);
        if ((c & 0xC0) != 0x80) {
            cp = char32_t(-1);
            return 1;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = char32_t(-1);
        return 1;
    }
    return 1 + extra;
}

void appendHexByte(QByteArray& out, unsigned char b)
{
    static constexpr char digits[] = "0123456789abcdef";
    out.append(digits[b >> 4]);
    out.append(digits[b & 0xF]);
}

void appendHex(QByteArray& out, quint32 v, int minDigits)
{
    char buf[9];
    int n = 0;
    do {
        buf[n++] = "0123456789abcdef"[v & 0xF];
        v >>= 4;
    } while (v);
    while (n < minDigits)
        buf[n++] = '0';
    while (n)
        out.append(buf[--n]);
}

void appendOctal(QByteArray& out, unsigned v, int minDigits)
{
    char buf[4];
    int n = 0;
    do {
        buf[n++] = char('0' + (v & 7));
        v >>= 3;
    } while (v);
    while (n < minDigits)
        buf[n++] = '0';
    while (n)
        out.append(buf[--n]);
}

QByteArray utf16Data(const QString& text)
{
    QByteArray data(text.size() * 2 + 2, '\0');
    qToLittleEndian<char16_t>(text.utf16(), text.size(), data.data());
    return data;
}

// Wine's parse_hex: bytes of one or two hex digits separated by commas, blanks allowed after a
// byte but not before the first. Returns the position after the list, or -1 on a bad byte.
qsizetype parseHexList(QByteArrayView line, qsizetype pos, QByteArray& out)
{
    // Written in place: a byte takes at least one digit and a comma, so the room is known.
    const qsizetype start = out.size();
    out.resize(start + (line.size() - pos + 1) / 2);
    char* const begin = out.data();
    char* dest = begin + start;
    const qsizetype size = line.size();
    while (pos < size && isHexDigit(line[pos])) {
        unsigned val = 0;
        while (pos < size && isHexDigit(line[pos])) {
            val = val * 16 + unsigned(hexValue(line[pos++]));
            if (val > 0xFF) {
                out.truncate(dest - begin);
                return -1;
            }
        }
        *dest++ = char(val);
        while (pos < size && isSpace(line[pos]))
            ++pos;
        if (pos < size && line[pos] == ',')
            ++pos;
        while (pos < size && isSpace(line[pos]))
            ++pos;
    }
    out.truncate(dest - begin);
    return pos;
}

// What follows a hex list: the end of the line, or "\" (then blanks) to continue.
ParseResult hexListEnd(QByteArrayView line, qsizetype pos)
{
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;
    if (pos == line.size())
        return ParseResult::Complete;
    // Wine reads on with the next line and ignores whatever follows the backslash.
    return line[pos] == '\\' ? ParseResult::Continues : ParseResult::Malformed;
}

// strtoul(text, &end, 16) as Wine calls it, on a view that need not end with a NUL. Returns the
// value and sets `used` to the characters it took (0 when there is no number).
unsigned long readHexNumber(QByteArrayView text, qsizetype& used)
{
    const QByteArray copy = text.first(qMin<qsizetype>(text.size(), 64)).toByteArray(); // ends with a NUL
    char* end = nullptr;
    const unsigned long value = std::strtoul(copy.constData(), &end, 16);
    used = end - copy.constData();
    return value;
}

} // namespace

int compareNames(QStringView a, QStringView b)
{
    const qsizetype n = qMin(a.size(), b.size());
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        if (pa[i] == pb[i])
            continue;
        const char16_t ca = foldCase(pa[i]);
        const char16_t cb = foldCase(pb[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

qsizetype parseString(QByteArrayView line, qsizetype pos, char endChar, QString& out)
{
    // Every byte of input yields at most one UTF-16 unit, except 4-byte UTF-8 (two units).
    out.resize(line.size() - pos);
    char16_t* dest = reinterpret_cast<char16_t*>(out.data());
    char16_t* const begin = dest;
    const qsizetype size = line.size();
    while (pos < size && line[pos] != endChar) {
        const auto c = static_cast<unsigned char>(line[pos]);
        if (c != '\\') {
            if (c < 0x80) {
                *dest++ = c;
                ++pos;
                continue;
            }
            char32_t cp;
            pos += decodeUtf8(line, pos, cp);
            if (cp == char32_t(-1))
                continue;
            if (cp >= 0x10000) {
                *dest++ = QChar::highSurrogate(cp);
                *dest++ = QChar::lowSurrogate(cp);
            } else {
                *dest++ = char16_t(cp);
            }
            continue;
        }
        if (++pos == size)
            return -1; // a backslash that escapes the end of the line
        const char e = line[pos];
        switch (e) {
        case 'a':
            *dest++ = 7;
            ++pos;
            break;
        case 'b':
            *dest++ = 8;
            ++pos;
            break;
        case 'e':
            *dest++ = 27;
            ++pos;
            break;
        case 'f':
            *dest++ = 12;
            ++pos;
            break;
        case 'n':
            *dest++ = 10;
            ++pos;
            break;
        case 'r':
            *dest++ = 13;
            ++pos;
            break;
        case 't':
            *dest++ = 9;
            ++pos;
            break;
        case 'v':
            *dest++ = 11;
            ++pos;
            break;
        case 'x': {
            ++pos;
            if (pos == size || !isHexDigit(line[pos])) {
                *dest++ = 'x';
                break;
            }
            unsigned v = 0;
            for (int i = 0; i < 4 && pos < size && isHexDigit(line[pos]); ++i)
                v = v * 16 + unsigned(hexValue(line[pos++]));
            *dest++ = char16_t(v);
            break;
        }
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7': {
            unsigned v = 0;
            for (int i = 0; i < 3 && pos < size && line[pos] >= '0' && line[pos] <= '7'; ++i)
                v = v * 8 + unsigned(line[pos++] - '0');
            *dest++ = char16_t(v);
            break;
        }
        default:
            // Any other escaped byte stands for itself; a UTF-8 lead byte starts a character.
            if (static_cast<unsigned char>(e) >= 0x80) {
                char32_t cp;
                pos += decodeUtf8(line, pos, cp);
                if (cp != char32_t(-1)) {
                    if (cp >= 0x10000) {
                        *dest++ = QChar::highSurrogate(cp);
                        *dest++ = QChar::lowSurrogate(cp);
                    } else {
                        *dest++ = char16_t(cp);
                    }
                }
            } else {
                *dest++ = static_cast<unsigned char>(e);
                ++pos;
            }
            break;
        }
    }
    if (pos == size)
        return -1;
    out.truncate(dest - begin);
    return pos + 1;
}

qsizetype appendEscaped(QByteArray& out, QStringView text, QByteArrayView delimiters)
{
    static constexpr char cEscapes[32] = {0, 0, 0, 0, 0, 0, 0, 'a', 'b', 't', 'n', 'v', 'f', 'r', 0, 0,
                                          0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0,   'e', 0,   0,   0, 0};
    const qsizetype before = out.size();
    const char16_t* s = text.utf16();
    const qsizetype len = text.size();
    for (qsizetype i = 0; i < len; ++i) {
        const char16_t c = s[i];
        const bool hasNext = i + 1 < len;
        if (c > 0x7F) {
            const bool padded = hasNext && s[i + 1] < 0x80 && isHexDigit(char(s[i + 1]));
            out.append("\\x");
            appendHex(out, c, padded ? 4 : 1);
        } else if (c < 0x20) {
            if (c == 0 && !hasNext)
                continue; // the terminator of string data is implied
            out.append('\\');
            if (cEscapes[c])
                out.append(cEscapes[c]);
            else
                appendOctal(out, c, hasNext && s[i + 1] >= '0' && s[i + 1] <= '7' ? 3 : 1);
        } else {
            const char ch = char(c);
            if (ch == '\\' || delimiters.contains(ch))
                out.append('\\');
            out.append(ch);
        }
    }
    return out.size() - before;
}

std::optional<QStringList> parseKeyLine(QByteArrayView line)
{
    qsizetype pos = 0;
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;
    if (pos == line.size() || line[pos] != '[' || line.contains('\0'))
        return std::nullopt;
    QString path;
    if (parseString(line, pos + 1, ']', path) < 0)
        return std::nullopt;
    QStringList components = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return components;
}

QByteArray formatKeyHeader(const QStringList& path, qint64 unixMillis)
{
    // FILETIME counts 100 ns steps from 1601; Wine writes both it and the seconds since 1970.
    static constexpr quint64 epochDifference = 11644473600ULL;
    const quint64 filetime =
        (quint64(unixMillis / 1000) + epochDifference) * 10000000ULL + quint64(unixMillis % 1000) * 10000ULL;
    QByteArray out;
    out.append('[');
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (i)
            out.append("\\\\");
        appendEscaped(out, path[i], "[]");
    }
    out.append("] ");
    out.append(QByteArray::number(quint32(unixMillis / 1000)));
    out.append("\n#time=");
    appendHex(out, quint32(filetime >> 32), 1);
    appendHex(out, quint32(filetime), 8);
    out.append('\n');
    return out;
}

ParseResult parseValueLine(QByteArrayView line, ParsedValue& out)
{
    // Wine reads lines as C strings: a NUL byte cuts the line short, so such a line is damaged.
    if (line.contains('\0'))
        return ParseResult::Malformed;
    qsizetype pos = 0;
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;
    if (pos == line.size())
        return ParseResult::Malformed;
    if (line[pos] == '@') {
        out.name.clear();
        ++pos;
    } else if (line[pos] == '"') {
        pos = parseString(line, pos + 1, '"', out.name);
        if (pos < 0)
            return ParseResult::Malformed;
    } else {
        return ParseResult::Malformed;
    }
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;
    if (pos == line.size() || line[pos] != '=')
        return ParseResult::Malformed;
    ++pos;
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;

    const QByteArrayView rest = line.sliced(pos);
    auto parseStringData = [&](qsizetype tagLength, quint32 type) {
        QString text;
        if (parseString(line, pos + tagLength, '"', text) < 0)
            return ParseResult::Malformed;
        out.value = {type, utf16Data(text)};
        return ParseResult::Complete;
    };
    if (rest.startsWith("\""))
        return parseStringData(1, RegType::Sz);
    if (rest.startsWith("str:\""))
        return parseStringData(5, RegType::Sz);
    if (rest.startsWith("str(2):\""))
        return parseStringData(8, RegType::ExpandSz);
    if (rest.startsWith("str(7):\""))
        return parseStringData(8, RegType::MultiSz);
    if (rest.startsWith("dword:")) {
        // Read as Wine reads it: no digits is 0, and the number is cut to 32 bits.
        qsizetype used;
        out.value = RegistryValue::fromDword(quint32(readHexNumber(line.sliced(pos + 6), used)));
        return ParseResult::Complete;
    }
    qsizetype listStart;
    quint32 type;
    if (rest.startsWith("hex:")) {
        type = RegType::Binary;
        listStart = pos + 4;
    } else if (rest.startsWith("hex(")) {
        qsizetype used;
        const unsigned long t = readHexNumber(line.sliced(pos + 4), used);
        const qsizetype p = pos + 4 + used;
        if (used == 0 || line.size() - p < 2 || line[p] != ')' || line[p + 1] != ':')
            return ParseResult::Malformed;
        type = quint32(t);
        listStart = p + 2;
    } else {
        return ParseResult::Malformed;
    }
    out.value.type = type;
    out.value.data.clear();
    const qsizetype end = parseHexList(line, listStart, out.value.data);
    if (end < 0)
        return ParseResult::Malformed;
    return hexListEnd(line, end);
}

ParseResult parseHexContinuation(QByteArrayView line, ParsedValue& out)
{
    qsizetype pos = 0;
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;
    const qsizetype end = parseHexList(line, pos, out.value.data);
    if (end < 0)
        return ParseResult::Malformed;
    return hexListEnd(line, end);
}

QByteArray formatValue(QStringView name, const RegistryValue& value)
{
    QByteArray out;
    out.reserve(name.size() + value.data.size() * 3 + 16);
    qsizetype count;
    if (name.isEmpty()) {
        out.append("@=");
        count = 2;
    } else {
        out.append('"');
        count = 1 + appendEscaped(out, name, "\"");
        out.append("\"=");
        count += 2;
    }

    const QByteArray& data = value.data;
    switch (value.type) {
    case RegType::Sz:
    case RegType::ExpandSz:
    case RegType::MultiSz: {
        // Only properly terminated strings are written as text.
        if (data.size() < 2 || data.size() % 2 || data[data.size() - 1] || data[data.size() - 2])
            break;
        if (value.type != RegType::Sz) {
            out.append("str(");
            appendHex(out, value.type, 1);
            out.append("):");
        }
        out.append('"');
        QString text(data.size() / 2, Qt::Uninitialized);
        qFromLittleEndian<char16_t>(data.constData(), text.size(), text.data());
        appendEscaped(out, text, "\"");
        out.append("\"\n");
        return out;
    }
    case RegType::Dword:
        if (data.size() != 4)
            break;
        out.append("dword:");
        appendHex(out, qFromLittleEndian<quint32>(data.constData()), 8);
        out.append('\n');
        return out;
    default:
        break;
    }

    if (value.type == RegType::Binary) {
        out.append("hex:");
        count += 4;
    } else {
        const qsizetype before = out.size();
        out.append("hex(");
        appendHex(out, value.type, 1);
        out.append("):");
        count += out.size() - before;
    }
    for (qsizetype i = 0; i < data.size(); ++i) {
        appendHexByte(out, static_cast<unsigned char>(data[i]));
        count += 2;
        if (i < data.size() - 1) {
            out.append(',');
            if (++count > 76) {
                out.append("\\\n  ");
                count = 2;
            }
        }
    }
    out.append('\n');
    return out;
}

} // namespace HiveSyntax
