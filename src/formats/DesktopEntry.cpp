#include "formats/DesktopEntry.h"

#include "base/UntouchedRead.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>

namespace {

QString unescapeString(QStringView raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar next = raw[++i];
        switch (next.unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        case '\\':
            out += u'\\';
            break;
        default:
            // Not a string escape: the backslash stays for the Exec quoting to read.
            out += c;
            out += next;
        }
    }
    return out;
}

bool isKeyName(QStringView key)
{
    // A-Za-z0-9- with an optional [locale] suffix.
    const qsizetype bracket = key.indexOf(u'[');
    const QStringView name = bracket < 0 ? key : key.left(bracket);
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'-')
            return false;
    }
    return bracket < 0 || (key.endsWith(u']') && key.size() > bracket + 2);
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::parse(QByteArrayView data)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(data);
    if (decoder.hasError())
        return std::nullopt;

    DesktopEntry entry;
    QString group;
    QSet<QString> groups;
    QSet<QString> keysOfGroup;
    const QStringList lines = text.split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                return std::nullopt;
            group = line.mid(1, line.size() - 2);
            if (group.isEmpty() || group.contains(u'[') || group.contains(u']') || groups.contains(group))
                return std::nullopt;
            if (groups.isEmpty() && group != u"Desktop Entry")
                return std::nullopt;
            groups.insert(group);
            keysOfGroup.clear();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (group.isEmpty() || equals < 0)
            return std::nullopt;
        const QString key = line.left(equals).trimmed();
        if (!isKeyName(key) || keysOfGroup.contains(key))
            return std::nullopt;
        keysOfGroup.insert(key);
        // Blanks around "=" are not part of the value; blanks at its end are.
        QStringView value = QStringView(line).mid(equals + 1);
        while (!value.isEmpty() && (value.front() == u' ' || value.front() == u'\t'))
            value = value.mid(1);
        entry.m_entries.append({group, key, unescapeString(value)});
    }
    if (groups.isEmpty())
        return std::nullopt;
    return entry;
}

std::optional<DesktopEntry> DesktopEntry::read(const QString& path)
{
    QFile file;
    // Anything larger is not a launcher.
    constexpr qint64 MaxSize = 1 << 20;
    if (!openUntouched(file, path) || file.size() > MaxSize)
        return std::nullopt;
    return parse(file.read(MaxSize));
}

std::optional<QString> DesktopEntry::value(const QString& group, const QString& key) const
{
    for (const Entry& e : m_entries) {
        if (e.group == group && e.key == key)
            return e.value;
    }
    return std::nullopt;
}

std::optional<QStringList> DesktopEntry::splitExec(const QString& exec)
{
    QStringList args;
    QString current;
    bool inWord = false;
    bool fieldCodeOnly = false; // the word so far is one field code, which goes with it
    enum class Quote
    {
        None,
        Double,
        Single
    } quote = Quote::None;

    auto endWord = [&] {
        if (inWord && !fieldCodeOnly)
            args << current;
        current.clear();
        inWord = false;
        fieldCodeOnly = false;
    };

    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quote == Quote::Double) {
            if (c == u'"') {
                quote = Quote::None;
            } else if (c == u'\\' && i + 1 < exec.size() && QStringView(u"\"`$\\").contains(exec[i + 1])) {
                current += exec[++i];
            } else {
                current += c;
            }
            continue;
        }
        if (quote == Quote::Single) {
            if (c == u'\'')
                quote = Quote::None;
            else
                current += c;
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            endWord();
            continue;
        }
        const bool startsWord = !inWord;
        inWord = true;
        if (c == u'"') {
            quote = Quote::Double;
            fieldCodeOnly = false;
        } else if (c == u'\'') {
            quote = Quote::Single;
            fieldCodeOnly = false;
        } else if (c == u'\\') {
            if (i + 1 == exec.size())
                return std::nullopt;
            current += exec[++i];
            fieldCodeOnly = false;
        } else if (c == u'%' && i + 1 < exec.size()) {
            const QChar code = exec[++i];
            if (code == u'%') {
                current += u'%';
                fieldCodeOnly = false;
            } else {
                // A field code is replaced by what the launcher passes; we pass nothing.
                fieldCodeOnly = startsWord || fieldCodeOnly;
            }
        } else {
            current += c;
            fieldCodeOnly = false;
        }
    }
    if (quote != Quote::None)
        return std::nullopt;
    endWord();
    return args;
}
