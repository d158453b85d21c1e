#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A desktop entry file (".desktop") as freedesktop.org defines it: groups of
// key=value lines, comments and blank lines. Keys may carry a locale ("Name[de]"); values are
// UTF-8 with the escapes \s \n \t \r \\ of string values.
class DesktopEntry
{
public:
    // Nullopt when the text breaks the format: a line that is neither a comment, a group header nor
    // a key=value line, an entry before the first group, a group or a key within a group twice,
    // a first group other than "Desktop Entry", or text that is not UTF-8.
    static std::optional<DesktopEntry> parse(QByteArrayView data);
    static std::optional<DesktopEntry> read(const QString& path);

    // The unescaped value of key in group; nullopt when absent.
    std::optional<QString> value(const QString& group, const QString& key) const;

    // The arguments of an Exec value (already unescaped as a string) by the Exec quoting
    // rules: blanks separate arguments; within double quotes a backslash escapes only " ` $ and \.
    // As the shell does, and as Wine's menu builder relies on, a backslash outside quotes takes the
    // next character literally. Field codes are dropped, "%%" stands for "%". Nullopt for an
    // unterminated quote or a trailing lone backslash.
    static std::optional<QStringList> splitExec(const QString& exec);

private:
    struct Entry
    {
        QString group;
        QString key;
        QString value;
    };
    QList<Entry> m_entries;
};
