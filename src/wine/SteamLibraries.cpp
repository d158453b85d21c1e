#include "wine/SteamLibraries.h"

#include "wine/ConfigFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

constexpr qsizetype MaxSteamLibraries = 256;

} // namespace

namespace SteamLibraries {

QStringList roots(const QString& home)
{
    QStringList found;
    QSet<QString> seen;
    for (const QString& root :
         QStringList{home + QStringLiteral("/.steam/steam"), home + QStringLiteral("/.steam/root"),
                     home + QStringLiteral("/.local/share/Steam"),
                     home + QStringLiteral("/.var/app/com.valvesoftware.Steam/.local/share/Steam"),
                     home + QStringLiteral("/.var/app/com.valvesoftware.Steam/data/Steam")}) {
        const QString canonical = QFileInfo(root).canonicalFilePath();
        if (canonical.isEmpty() || !QFileInfo(canonical).isDir() || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        found << canonical;
    }
    return found;
}

QStringList libraries(const QString& root)
{
    QStringList libraries{root};
    QSet<QString> listed{root};
    for (const QString& list : QStringList{root + QStringLiteral("/steamapps/libraryfolders.vdf"),
                                           root + QStringLiteral("/config/libraryfolders.vdf")}) {
        const auto nodes = ConfigFiles::readKeyValues(list);
        if (!nodes)
            continue;
        for (const KeyValuesText::Node& top : *nodes) {
            for (const KeyValuesText::Node& entry : top.children) {
                const QString path = entry.isBlock() ? entry.childText(u"path") : entry.text;
                if (!QDir::isAbsolutePath(path) || listed.contains(path))
                    continue;
                // Each library costs a few looks at the disk in every search; a list longer than any
                // machine's drives is cut rather than searched for minutes.
                if (libraries.size() == MaxSteamLibraries)
                    return libraries;
                listed.insert(path);
                libraries << path;
            }
        }
    }
    return libraries;
}

} // namespace SteamLibraries
