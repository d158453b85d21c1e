#pragma once

#include <QString>
#include <QStringView>

// The 8.3 names that Wine gives files whose own names are not 8.3. Wine keeps no table: it derives
// the short name from the long one with a hash, e.g. "Program Files" -> "PROG~FBU", and a path
// component in short form names the first entry of its folder whose derived name matches.
namespace ShortName {

// Whether name is a legal 8.3 name: at most 8 characters, optionally a "." and 1 to 3 more, ASCII
// only, none of the characters DOS forbids (a blank among them). Only such a name is compared with
// the derived short names.
bool isLegal8Dot3(QStringView name);

// The short name Wine derives from longName, in upper case: up to 4 characters of the name
// (characters DOS forbids, "~", "." and non-ASCII ones becoming "_"), "~" up to 5 characters,
// 3 characters of a hash of the name without regard to case, then "." and up to 3 characters of
// the text after the last "." if there is one (a "." at the start or the end does not count).
QString hashed(QStringView longName);

// Whether the folder entry longName is the one the 8.3 name shortName selects by its hash. Only
// names that are not 8.3 themselves have a derived short name.
bool matches(QStringView longName, QStringView shortName);

} // namespace ShortName
