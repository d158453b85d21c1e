#include "paths/ShortName.h"

namespace {

// Forbidden in names on a FAT volume; a blank too, for 8.3 names.
constexpr QStringView invalidDosChars = u"*?<>|\"+=,;[] ";

bool isInvalidInShortName(char16_t c)
{
    // "~" and "." would make the derived name ambiguous.
    return c > 0x7f || invalidDosChars.contains(QChar(c)) || c == u'~' || c == u'.';
}

char16_t lower(char16_t c)
{
    return QChar(c).toLower().unicode();
}

char16_t upper(char16_t c)
{
    return QChar(c).toUpper().unicode();
}

} // namespace

bool ShortName::isLegal8Dot3(QStringView name)
{
    const qsizetype length = name.size();
    if (length == 0 || length > 12)
        return false;
    // A leading "." is only allowed in "." and "..".
    if (name[0] == u'.')
        return length == 1 || (length == 2 && name[1] == u'.');

    qsizetype dot = -1;
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = name[i].unicode();
        if (c > 0x7f || invalidDosChars.contains(QChar(c)) || c == u':' || c == u'/' || c == u'\\')
            return false;
        if (c == u'.') {
            if (dot != -1)
                return false;
            dot = i;
        }
    }
    if (dot == -1)
        return length <= 8;
    return dot <= 8 && length - dot > 1 && length - dot < 5;
}

QString ShortName::hashed(QStringView longName)
{
    static constexpr char16_t hashChars[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    const qsizetype length = longName.size();
    if (length == 0)
        return QString();

    // 16 bits throughout: each step is cut back to an unsigned short, as in Wine.
    quint16 hash = 0xbeef;
    for (qsizetype i = 0; i + 1 < length; ++i)
        hash =
            quint16((hash << 3) ^ (hash >> 5) ^ lower(longName[i].unicode()) ^ (lower(longName[i + 1].unicode()) << 8));
    hash = quint16((hash << 3) ^ (hash >> 5) ^ lower(longName[length - 1].unicode()));

    // The extension starts at the last "." that is neither the first nor the last character.
    qsizetype ext = -1;
    for (qsizetype i = 1; i + 1 < length; ++i) {
        if (longName[i] == u'.')
            ext = i;
    }

    QString result;
    result.reserve(12);
    qsizetype i = 0;
    for (; i < 4 && i < length && i != ext; ++i) {
        const char16_t c = longName[i].unicode();
        result += QChar(isInvalidInShortName(c) ? u'_' : upper(c));
    }
    while (result.size() < 5)
        result += u'~';
    result += QChar(hashChars[(hash >> 10) & 0x1f]);
    result += QChar(hashChars[(hash >> 5) & 0x1f]);
    result += QChar(hashChars[hash & 0x1f]);
    if (ext >= 0) {
        result += u'.';
        for (qsizetype j = ext + 1; j < length && j <= ext + 3; ++j) {
            const char16_t c = longName[j].unicode();
            result += QChar(isInvalidInShortName(c) ? u'_' : upper(c));
        }
    }
    return result;
}

bool ShortName::matches(QStringView longName, QStringView shortName)
{
    // A name that is 8.3 already has no derived one: Wine does not find it by its hash.
    return isLegal8Dot3(shortName) && !isLegal8Dot3(longName) &&
           hashed(longName).compare(shortName, Qt::CaseInsensitive) == 0;
}
