#pragma once

#include <QString>

// Text operations that count positions from 1, with 0 for "not there". The command and icon rules are
// stated in these terms; keeping them literal keeps every cut where the rules put it.
namespace PositionText {

// Position of the first s in t, 0 when there is none. Exact letter case.
qsizetype Find(QStringView s, QStringView t);
// The characters of t from position i on, at most n of them. An i below 1 counts as 1; empty when i
// lies past the end of t or n is 0 or less.
QString Sub(QStringView t, qsizetype i, qsizetype n);
// Position of the last "." in t, 0 when there is none.
qsizetype LastDot(QStringView t);
// t without blanks and control characters (codes up to 32) at either end.
QString Trim(QStringView t);

} // namespace PositionText
