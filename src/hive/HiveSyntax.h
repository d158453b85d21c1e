#pragma once

#include "hive/RegistryValue.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The line-level text format of Wine's registry files: escaping, key lines and value lines,
// read and written exactly as wineserver reads and writes them.
namespace HiveSyntax {

inline constexpr QByteArrayView header = "WINE REGISTRY Version 2";

// Wine's order of key and value names: UTF-16 units compared after lower-casing, the shorter
// name first when one is a prefix of the other.
int compareNames(QStringView a, QStringView b);
inline bool sameName(QStringView a, QStringView b)
{
    return compareNames(a, b) == 0;
}

// Decodes Wine's escapes from `pos` up to the first unescaped `endChar`. Returns the position
// just past `endChar`, or -1 when the text ends before it.
qsizetype parseString(QByteArrayView line, qsizetype pos, char endChar, QString& out);

// Appends `text` escaped as Wine writes it; `delimiters` are the characters that get a backslash
// besides the backslash itself. A final NUL unit is not written. Returns the characters written.
qsizetype appendEscaped(QByteArray& out, QStringView text, QByteArrayView delimiters);

// The components of a key line ("[a\\b] 123"), or nothing when the line is malformed.
std::optional<QStringList> parseKeyLine(QByteArrayView line);
// "[path] seconds\n#time=filetime\n" for a key changed at `unixMillis`.
QByteArray formatKeyHeader(const QStringList& path, qint64 unixMillis);

struct ParsedValue
{
    QString name; // empty for the default value "@"
    RegistryValue value;
};

enum class ParseResult
{
    Complete,
    Continues, // a hex list ended with "\": the next line carries on
    Malformed,
};

// Parses one value line (without its line end). On Continues, feed the next line to
// parseHexContinuation until it returns Complete or Malformed.
ParseResult parseValueLine(QByteArrayView line, ParsedValue& out);
ParseResult parseHexContinuation(QByteArrayView line, ParsedValue& out);

// The value's line(s) as Wine writes them, ending with "\n".
QByteArray formatValue(QStringView name, const RegistryValue& value);

} // namespace HiveSyntax
