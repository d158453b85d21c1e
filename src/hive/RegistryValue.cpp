#include "hive/RegistryValue.h"

#include <QtEndian>

namespace {

QByteArray utf16Bytes(const QString& text)
{
    QByteArray bytes;
    bytes.resize(text.size() * 2);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data());
    return bytes;
}

} // namespace

RegistryValue RegistryValue::fromString(const QString& text, quint32 type)
{
    return {type, utf16Bytes(text) + QByteArray(2, '\0')};
}

RegistryValue RegistryValue::fromMultiString(const QStringList& items)
{
    QByteArray data;
    for (const QString& item : items)
        data += utf16Bytes(item) + QByteArray(2, '\0');
    data += QByteArray(2, '\0');
    return {RegType::MultiSz, data};
}

RegistryValue RegistryValue::fromDword(quint32 value)
{
    QByteArray data(4, '\0');
    qToLittleEndian(value, data.data());
    return {RegType::Dword, data};
}

RegistryValue RegistryValue::fromQword(quint64 value)
{
    QByteArray data(8, '\0');
    qToLittleEndian(value, data.data());
    return {RegType::Qword, data};
}

RegistryValue RegistryValue::fromBinary(const QByteArray& bytes, quint32 type)
{
    return {type, bytes};
}

QString RegistryValue::toText() const
{
    const qsizetype units = data.size() / 2;
    QString text(units, Qt::Uninitialized);
    qFromLittleEndian<char16_t>(data.constData(), units, text.data());
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

QStringList RegistryValue::toStringList() const
{
    const qsizetype units = data.size() / 2;
    QString text(units, Qt::Uninitialized);
    qFromLittleEndian<char16_t>(data.constData(), units, text.data());
    QStringList items = text.split(QChar(u'\0'));
    // "a\0b\0\0" splits into a, b and two empty tails: the terminators, not items.
    while (!items.isEmpty() && items.constLast().isEmpty())
        items.removeLast();
    return items;
}

quint32 RegistryValue::toDword() const
{
    return data.size() >= 4 ? qFromLittleEndian<quint32>(data.constData()) : 0;
}

quint64 RegistryValue::toQword() const
{
    return data.size() >= 8 ? qFromLittleEndian<quint64>(data.constData()) : 0;
}
