#include "tools/RegDataFormat.h"

#include "base/KestrinError.h"

#include <QStringList>

#include <array>
#include <limits>

namespace RegDataFormat {

namespace {

struct TypeName
{
    quint32 type;
    const char16_t* name;
};

constexpr std::array<TypeName, 12> typeNames{{
    {RegType::None, u"REG_NONE"},
    {RegType::Sz, u"REG_SZ"},
    {RegType::ExpandSz, u"REG_EXPAND_SZ"},
    {RegType::Binary, u"REG_BINARY"},
    {RegType::Dword, u"REG_DWORD"},
    {5, u"REG_DWORD_BIG_ENDIAN"},
    {RegType::Link, u"REG_LINK"},
    {RegType::MultiSz, u"REG_MULTI_SZ"},
    {8, u"REG_RESOURCE_LIST"},
    {9, u"REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, u"REG_RESOURCE_REQUIREMENTS_LIST"},
    {RegType::Qword, u"REG_QWORD"},
}};

// The types whose data a text on the command line can describe.
constexpr std::array<quint32, 7> writableTypes{RegType::None,  RegType::Sz,    RegType::ExpandSz, RegType::Binary,
                                               RegType::Dword, RegType::Qword, RegType::MultiSz};

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Decimal, or hex after "0x". No sign, no blanks: a script's typo must not become a number.
std::optional<quint64> parseNumber(QStringView text, quint64 max)
{
    int base = 10;
    if (text.startsWith(u"0x", Qt::CaseInsensitive)) {
        text = text.mid(2);
        base = 16;
    }
    if (text.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (const QChar c : text) {
        const int digit = hexDigit(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        if (value > (max - quint64(digit)) / quint64(base))
            return std::nullopt;
        value = value * quint64(base) + quint64(digit);
    }
    return value;
}

QByteArray parseHexBytes(const QString& text)
{
    if (text.size() % 2 != 0)
        throw KestrinError(QStringLiteral("Binary data needs pairs of hex digits, but \"%1\" has an odd number of "
                                          "digits.")
                               .arg(text));
    QByteArray bytes(text.size() / 2, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(text.at(2 * i));
        const int low = hexDigit(text.at(2 * i + 1));
        if (high < 0 || low < 0)
            throw KestrinError(
                QStringLiteral("\"%1\" is not binary data: use hex digits only, such as 0aff.").arg(text));
        bytes[i] = char(high << 4 | low);
    }
    return bytes;
}

QStringList parseMultiString(const QString& text)
{
    if (text.isEmpty())
        return {};
    QStringList items = text.split(QStringLiteral("\\0"));
    if (items.constLast().isEmpty())
        items.removeLast(); // a closing separator ends the list, as in Wine's reg
    for (const QString& item : std::as_const(items)) {
        if (item.isEmpty()) {
            throw KestrinError(
                QStringLiteral("\"%1\" holds an empty item: a REG_MULTI_SZ list cannot have one.").arg(text));
        }
    }
    return items;
}

} // namespace

QString typeName(quint32 type)
{
    for (const TypeName& entry : typeNames) {
        if (entry.type == type)
            return QString::fromUtf16(entry.name);
    }
    return QStringLiteral("0x") + QString::number(type, 16);
}

std::optional<quint32> typeFromName(const QString& name)
{
    for (const quint32 type : writableTypes) {
        if (name.compare(typeName(type), Qt::CaseInsensitive) == 0)
            return type;
    }
    return std::nullopt;
}

RegistryValue parseData(quint32 type, const QString& text)
{
    switch (type) {
    case RegType::Sz:
    case RegType::ExpandSz:
        return RegistryValue::fromString(text, type);
    case RegType::MultiSz:
        return RegistryValue::fromMultiString(parseMultiString(text));
    case RegType::Dword:
    case RegType::Qword: {
        const bool dword = type == RegType::Dword;
        const auto number =
            parseNumber(text, dword ? std::numeric_limits<quint32>::max() : std::numeric_limits<quint64>::max());
        if (!number) {
            throw KestrinError(
                QStringLiteral("\"%1\" is not a %2: give a number from 0 to %3, in decimal or as 0x hex.")
                    .arg(text, typeName(type),
                         dword ? QStringLiteral("4294967295") : QStringLiteral("18446744073709551615")));
        }
        return dword ? RegistryValue::fromDword(quint32(*number)) : RegistryValue::fromQword(*number);
    }
    case RegType::None:
    case RegType::Binary:
        return RegistryValue::fromBinary(parseHexBytes(text), type);
    default:
        throw KestrinError(QStringLiteral("kestrin-reg cannot write values of type %1.").arg(typeName(type)));
    }
}

QString formatData(const RegistryValue& value)
{
    switch (value.type) {
    case RegType::Sz:
    case RegType::ExpandSz:
        return value.toText();
    case RegType::MultiSz:
        return value.toStringList().join(QStringLiteral("\\0"));
    case RegType::Dword:
        if (value.data.size() == 4)
            return QStringLiteral("0x") + QString::number(value.toDword(), 16);
        break;
    case RegType::Qword:
        if (value.data.size() == 8)
            return QStringLiteral("0x") + QString::number(value.toQword(), 16);
        break;
    default:
        break;
    }
    // Also a DWORD or QWORD of the wrong size: its bytes are all there is to show.
    return QString::fromLatin1(value.data.toHex().toUpper());
}

} // namespace RegDataFormat
