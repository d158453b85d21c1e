// The desktop entry reader over arbitrary file contents, and the Exec quoting. Besides memory
// safety: every line of the input, taken as arguments and quoted as the format asks, splits back
// into exactly those arguments.
#include "FuzzSupport.h"

#include "formats/DesktopEntry.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace {

QString quoted(const QString& argument)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (QStringView(u"\"`$\\").contains(c))
            out += u'\\';
        out += c;
    }
    return out + u'"';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const std::optional<DesktopEntry> entry = DesktopEntry::parse(bytes)) {
        if (const std::optional<QString> exec = entry->value(QStringLiteral("Desktop Entry"), QStringLiteral("Exec")))
            DesktopEntry::splitExec(*exec);
    }

    const QStringList arguments = QString::fromUtf8(bytes).split(u'\n');
    QStringList line;
    for (const QString& argument : arguments)
        line << quoted(argument);
    const std::optional<QStringList> split = DesktopEntry::splitExec(line.join(u' '));
    check(split.has_value(), "a quoted line splits");
    check(*split == arguments, "quoted arguments split back unchanged");
    return 0;
}
