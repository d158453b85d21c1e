#include "WindowsPaths.h"

#include "ShortName.h"

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

// "\\?\C:\..." and "\??\C:\..." name what "C:\..." names.
QStringView withoutLongPathPrefix(QStringView path)
{
    if (path.startsWith(u"\\\\?\\") || path.startsWith(u"\\??\\")) {
        const QStringView rest = path.sliced(4);
        if (rest.size() >= 2 && rest[1] == QLatin1Char(':'))
            return rest;
    }
    return path;
}

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Subfolders of system32 that 32-bit programs see unredirected.
bool isSharedSystemFolder(const QStringList& below)
{
    if (below.isEmpty())
        return false;
    for (QStringView shared : {u"catroot", u"catroot2", u"driverstore", u"logfiles", u"spool"}) {
        if (sameName(below[0], shared))
            return true;
    }
    return below.size() >= 2 && sameName(below[0], u"drivers") && sameName(below[1], u"etc");
}

} // namespace

WindowsPaths::WindowsPaths(WinePrefix prefix, PathView view) : m_prefix(std::move(prefix)), m_view(view) {}

std::optional<QString> WindowsPaths::redirected(const QString& windowsPath)
{
    const auto parsed = parse(windowsPath);
    if (!parsed || parsed->drive != QLatin1Char('c') || parsed->components.size() < 2 ||
        !sameName(parsed->components[0], u"windows") || !sameName(parsed->components[1], u"system32") ||
        isSharedSystemFolder(parsed->components.mid(2)))
        return std::nullopt;
    QString result = QStringLiteral("C:\\windows\\syswow64");
    for (const QString& component : parsed->components.mid(2))
        result += QLatin1Char('\\') + component;
    if (parsed->folderOnly)
        result += QLatin1Char('\\');
    return result;
}

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
    windowsPath = withoutLongPathPrefix(windowsPath);
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

    // As Wine does: the first entry in directory order whose name matches without regard to case, or
    // whose derived short name does when name is a legal 8.3 name.
    DIR* dir = ::opendir(QFile::encodeName(hostFolder).constData());
    if (!dir)
        return QString();
    const bool shortForm = ShortName::isLegal8Dot3(name);
    QString match;
    while (const dirent* entry = ::readdir(dir)) {
        const QString entryName = QFile::decodeName(entry->d_name);
        if (entryName == u"." || entryName == u"..")
            continue;
        if (sameName(entryName, name) || (shortForm && ShortName::matches(entryName, name))) {
            match = hostFolder + QLatin1Char('/') + entryName;
            break;
        }
    }
    ::closedir(dir);
    return match;
}

QString WindowsPaths::findUnder(const QString& hostFolder, const QStringList& components)
{
    QString current = hostFolder;
    for (const QString& component : components) {
        if (current.isEmpty())
            break;
        current = findEntry(current, component);
    }
    return current;
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
    if (m_view == PathView::Wow64) {
        if (const auto redirect = redirected(windowsPath)) {
            if (QString host = hostPathAsWritten(*redirect); !host.isEmpty())
                return host;
        }
    }
    return hostPathAsWritten(windowsPath);
}

QString WindowsPaths::hostPathAsWritten(const QString& windowsPath) const
{
    const auto parsed = parse(windowsPath);
    if (!parsed)
        return QString();
    const QString current = findUnder(driveFolder(parsed->drive), parsed->components);
    struct stat info;
    if (current.isEmpty() || !statHost(current, info) || (parsed->folderOnly && !S_ISDIR(info.st_mode)))
        return QString();
    return current;
}

bool WindowsPaths::Exists(const QString& windowsPath) const
{
    return isHostFile(hostPath(windowsPath));
}
