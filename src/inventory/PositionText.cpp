#include "inventory/PositionText.h"

#include <algorithm>

qsizetype PositionText::Find(QStringView s, QStringView t)
{
    return t.indexOf(s) + 1;
}

QString PositionText::Sub(QStringView t, qsizetype i, qsizetype n)
{
    if (i < 1)
        i = 1;
    if (i > t.size() || n <= 0)
        return QString();
    return t.sliced(i - 1, std::min(n, t.size() - i + 1)).toString();
}

qsizetype PositionText::LastDot(QStringView t)
{
    return t.lastIndexOf(QLatin1Char('.')) + 1;
}

QString PositionText::Trim(QStringView t)
{
    qsizetype begin = 0;
    qsizetype end = t.size();
    while (begin < end && t[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && t[end - 1].unicode() <= 0x20)
        --end;
    return t.sliced(begin, end - begin).toString();
}
