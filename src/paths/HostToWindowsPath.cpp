#include "paths/HostToWindowsPath.h"

#include "paths/WindowsPaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

struct Match
{
    QChar drive;
    QString rest; // relative to the drive's folder, "/" between names
    qsizetype rootLength = -1;
};

// The part of path below root, or nullopt when path is not root or under it.
std::optional<QString> below(const QString& path, const QString& root)
{
    if (root.isEmpty())
        return std::nullopt;
    if (path == root)
        return QString();
    if (root == u"/")
        return path.startsWith(u'/') ? std::optional<QString>(path.mid(1)) : std::nullopt;
    if (path.startsWith(root) && path.at(root.size()) == u'/')
        return path.mid(root.size() + 1);
    return std::nullopt;
}

bool isDriveName(const QString& name)
{
    // Wine names drives in lower case; "c::" and the like are the raw devices behind them.
    return name.size() == 2 && name.at(0) >= u'a' && name.at(0) <= u'z' && name.at(1) == u':';
}

} // namespace

std::optional<QString> windowsPathOf(const WinePrefix& prefix, const QString& hostPath)
{
    const QFileInfo file(hostPath);
    if (hostPath.isEmpty() || !file.exists())
        return std::nullopt;
    const QStringList forms{QDir::cleanPath(file.absoluteFilePath()), file.canonicalFilePath()};

    Match best;
    const QDir devices(QDir(prefix.path()).filePath(QStringLiteral("dosdevices")));
    const QFileInfoList entries =
        devices.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (!isDriveName(entry.fileName()))
            continue;
        QStringList roots{entry.canonicalFilePath()};
        if (entry.isSymLink())
            roots << QDir::cleanPath(entry.symLinkTarget());
        for (const QString& root : roots) {
            for (const QString& form : forms) {
                const std::optional<QString> rest = below(form, root);
                if (rest && root.size() > best.rootLength)
                    best = Match{entry.fileName().at(0), *rest, root.size()};
            }
        }
    }
    if (best.rootLength < 0)
        return std::nullopt;

    const QStringList names = best.rest.split(u'/', Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (!WindowsPaths::isValidName(name) || name.contains(u'\\'))
            return std::nullopt;
    }
    return best.drive.toUpper() + QStringLiteral(":\\") + names.join(u'\\');
}
