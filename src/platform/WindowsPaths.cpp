#include "WindowsPaths.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool isAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

bool statHost(const QString& hostPath, struct stat& info)
{
    return ::stat(QFile::encodeName(hostPath).constData(), &info) == 0;
}

} // namespace

WindowsPaths::WindowsPaths(WinePrefix prefix) : m_prefix(std::move(prefix)) {}

QString WindowsPaths::SystemDir()
{
    return QStringLiteral("C:\\windows\\system32\\");
}

QString WindowsPaths::WindowsDir()
{
    return QStringLiteral("C:\\windows\\");
}

bool WindowsPaths::isValidName(QStringView name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        // A NUL would also cut the host path short.
        if (c.unicode() < 0x20 || QStringView(u"<>:\"|?*").contains(c))
            return false;
    }
    return true;
}

QString WindowsPaths::trimName(QStringView name)
{
    qsizetype end = name.size();
    while (end > 0 && (name[end - 1] == QLatin1Char('.') || name[end - 1] == QLatin1Char(' ')))
        --end;
    return name.first(end).toString();
}

std::optional<WindowsPaths::DrivePath> WindowsPaths::parse(QStringView windowsPath)
{
    if (windowsPath.size() < 3 || !isAsciiLetter(windowsPath[0]) || windowsPath[1] != QLatin1Char(':') ||
        !isSeparator(windowsPath[2]))
        return std::nullopt;

    QList<QStringView> pieces;
    qsizetype start = 3;
    for (qsizetype i = 3; i <= windowsPath.size(); ++i) {
        if (i == windowsPath.size() || isSeparator(windowsPath[i])) {
            if (i > start)
                pieces.append(windowsPath.sliced(start, i - start));
            start = i + 1;
        }
    }

    DrivePath result{windowsPath[0].toLower(), {}, isSeparator(windowsPath.back())};
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QStringView piece = pieces[i];
        if (piece == u".")
            continue;
        if (piece == u"..") {
            if (!result.components.isEmpty())
                result.components.removeLast();
            continue;
        }
        QString name = piece.toString();
        if (i == pieces.size() - 1) {
            name = trimName(name);
            if (name.isEmpty())
                continue;
        }
        if (!isValidName(name))
            return std::nullopt;
        result.components.append(name);
    }
    return result;
}

QString WindowsPaths::driveFolder(QChar drive) const
{
    const QString folder = m_prefix.path() + QStringLiteral("/dosdevices/") + drive + QLatin1Char(':');
    return isHostFolder(folder) ? folder : QString();
}

QString WindowsPaths::findEntry(const QString& hostFolder, const QString& name)
{
    const QString exact = hostFolder + QLatin1Char('/') + name;
    struct stat info;
    if (statHost(exact, info))
        return exact;

    // As Wine does: the first entry in directory order whose name matches without regard to case.
    DIR* dir = ::opendir(QFile::encodeName(hostFolder).constData());
    if (!dir)
        return QString();
    QString match;
    while (const dirent* entry = ::readdir(dir)) {
        const QString entryName = QFile::decodeName(entry->d_name);
        if (entryName == u"." || entryName == u"..")
            continue;
        if (entryName.compare(name, Qt::CaseInsensitive) == 0) {
            match = hostFolder + QLatin1Char('/') + entryName;
            break;
        }
    }
    ::closedir(dir);
    return match;
}

bool WindowsPaths::isHostFile(const QString& hostPath)
{
    struct stat info;
    return !hostPath.isEmpty() && statHost(hostPath, info) && S_ISREG(info.st_mode);
}

bool WindowsPaths::isHostFolder(const QString& hostPath)
{
    struct stat info;
    return !hostPath.isEmpty() && statHost(hostPath, info) && S_ISDIR(info.st_mode);
}

QString WindowsPaths::hostPath(const QString& windowsPath) const
{
    const auto parsed = parse(windowsPath);
    if (!parsed)
        return QString();
    QString current = driveFolder(parsed->drive);
    for (const QString& component : parsed->components) {
        if (current.isEmpty())
            break;
        current = findEntry(current, component);
    }
    struct stat info;
    if (current.isEmpty() || !statHost(current, info) || (parsed->folderOnly && !S_ISDIR(info.st_mode)))
        return QString();
    return current;
}

bool WindowsPaths::Exists(const QString& windowsPath) const
{
    return isHostFile(hostPath(windowsPath));
}
