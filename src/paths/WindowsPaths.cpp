#include "paths/WindowsPaths.h"

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

WindowsPaths::WindowsPaths(WinePrefix prefix, PathView view, std::shared_ptr<FolderListings> listings)
    : m_prefix(std::move(prefix)), m_view(view), m_listings(std::move(listings))
{}

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
    return m_prefix.path() + QStringLiteral("/dosdevices/") + drive + QLatin1Char(':');
}

QString WindowsPaths::findEntry(const QString& hostFolder, const QString& name)
{
    // What the folder's listing shows is not kept: this look-up stands alone.
    return FolderListings().find(hostFolder, name).hostPath;
}

QString WindowsPaths::findUnder(const QString& hostFolder, const QStringList& components)
{
    return FolderListings().findUnder(hostFolder, components).hostPath;
}

bool WindowsPaths::isHostFile(const QString& hostPath)
{
    return !hostPath.isEmpty() && FolderListings::kindOnDisk(hostPath) == FolderListings::Kind::File;
}

bool WindowsPaths::isHostFolder(const QString& hostPath)
{
    return !hostPath.isEmpty() && FolderListings::kindOnDisk(hostPath) == FolderListings::Kind::Folder;
}

FolderListings::Entry WindowsPaths::resolve(const QString& windowsPath) const
{
    if (m_view == PathView::Wow64) {
        if (const auto redirect = redirected(windowsPath)) {
            if (FolderListings::Entry found = resolveAsWritten(*redirect); !found.hostPath.isEmpty())
                return found;
        }
    }
    return resolveAsWritten(windowsPath);
}

FolderListings::Entry WindowsPaths::resolveAsWritten(const QString& windowsPath) const
{
    using Kind = FolderListings::Kind;
    const auto parsed = parse(windowsPath);
    if (!parsed)
        return {};
    // Without listings of the caller's, what this look-up learns is not kept.
    FolderListings once;
    FolderListings& listings = m_listings ? *m_listings : once;
    const QString drive = driveFolder(parsed->drive);
    if (listings.kindOf(drive) != Kind::Folder)
        return {};
    FolderListings::Entry found = listings.findUnder(drive, parsed->components);
    if (found.kind == Kind::None || (parsed->folderOnly && found.kind != Kind::Folder))
        return {};
    return found;
}

QString WindowsPaths::hostPath(const QString& windowsPath) const
{
    return resolve(windowsPath).hostPath;
}

QString WindowsPaths::hostFile(const QString& windowsPath) const
{
    FolderListings::Entry found = resolve(windowsPath);
    return found.kind == FolderListings::Kind::File ? std::move(found.hostPath) : QString();
}

bool WindowsPaths::Exists(const QString& windowsPath) const
{
    return resolve(windowsPath).kind == FolderListings::Kind::File;
}
