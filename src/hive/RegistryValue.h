#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Registry value types, numbered as Windows numbers them.
namespace RegType {
enum : quint32
{
    None = 0,
    Sz = 1,
    ExpandSz = 2,
    Binary = 3,
    Dword = 4,
    Link = 6,
    MultiSz = 7,
    Qword = 11,
};
}

// A value's type and its data exactly as the registry stores them (strings as UTF-16LE with their
// terminating NUL).
struct RegistryValue
{
    quint32 type = RegType::None;
    QByteArray data;

    static RegistryValue fromString(const QString& text, quint32 type = RegType::Sz);
    static RegistryValue fromMultiString(const QStringList& items);
    static RegistryValue fromDword(quint32 value);
    static RegistryValue fromQword(quint64 value);
    static RegistryValue fromBinary(const QByteArray& bytes, quint32 type = RegType::Binary);

    // The data read as UTF-16LE text, cut at the first NUL (an odd last byte is ignored).
    QString toText() const;
    // The items of a multi-string, without the empty list terminator.
    QStringList toStringList() const;
    // Little-endian integer of the first four or eight bytes; callers check the size first.
    quint32 toDword() const;
    quint64 toQword() const;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};
