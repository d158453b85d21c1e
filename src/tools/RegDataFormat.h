#pragma once

#include "hive/RegistryValue.h"

#include <QString>

#include <optional>

// Registry data as kestrin-reg reads it from the command line and prints it, in the spelling of
// Wine's reg: type names such as REG_SZ, and data texts as /d takes them.
namespace RegDataFormat {

// "REG_SZ" for RegType::Sz and so on; an unknown type number as "0x<hex>".
QString typeName(quint32 type);
// The type that /t may name (case-insensitive), or nothing for another name.
std::optional<quint32> typeFromName(const QString& name);

// The value that `text` stands for as data of `type`: REG_MULTI_SZ items separated by the two
// characters \0, REG_DWORD and REG_QWORD in decimal or 0x hex, REG_BINARY and REG_NONE as hex
// digit pairs. Throws KestrinError saying what is wrong with the text.
RegistryValue parseData(quint32 type, const QString& text);

// The data as query shows it: strings as they are, multi-strings joined by \0, DWORD and QWORD
// as 0x hex, everything else as upper-case hex digits.
QString formatData(const RegistryValue& value);

} // namespace RegDataFormat
