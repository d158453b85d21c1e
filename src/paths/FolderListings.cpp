#include "paths/FolderListings.h"

#include "paths/ShortName.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

namespace {

QString joined(const QString& hostFolder, const QString& name)
{
    return hostFolder + QLatin1Char('/') + name;
}

} // namespace

FolderListings::Listing FolderListings::listingOf(const QString& hostFolder)
{
    Listing listing;
    DIR* dir = ::opendir(QFile::encodeName(hostFolder).constData());
    if (!dir)
        return listing;
    listing.listed = true;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name == u"." || name == u"..")
            continue;
        const QString folded = name.toCaseFolded();
        if (listing.byFoldedName.contains(folded))
            listing.caseTwins = true;
        else
            listing.byFoldedName.insert(folded, listing.names.size());
        // The type the folder records spares a look at each file; links are followed when asked about.
        Kind kind = Kind::None;
        bool known = true;
        switch (entry->d_type) {
        case DT_REG:
            kind = Kind::File;
            break;
        case DT_DIR:
            kind = Kind::Folder;
            break;
        case DT_LNK:
        case DT_UNKNOWN:
            known = false;
            break;
        default:
            kind = Kind::Other;
            break;
        }
        listing.names.append(name);
        listing.kinds.push_back(kind);
        listing.kindKnown.push_back(known);
    }
    ::closedir(dir);
    return listing;
}

qsizetype FolderListings::exactIndex(const Listing& listing, const QString& name, const QString& folded)
{
    const auto it = listing.byFoldedName.constFind(folded);
    if (it == listing.byFoldedName.cend())
        return -1;
    if (listing.names[*it] == name)
        return *it;
    if (listing.caseTwins) {
        for (qsizetype i = *it + 1; i < listing.names.size(); ++i) {
            if (listing.names[i] == name)
                return i;
        }
    }
    return -1;
}

FolderListings::Entry FolderListings::entryAt(const QString& hostFolder, Listing& listing, qsizetype index)
{
    Entry entry{joined(hostFolder, listing.names[index]), listing.kinds[size_t(index)]};
    if (!listing.kindKnown[size_t(index)]) {
        entry.kind = kindOnDisk(entry.hostPath);
        listing.kinds[size_t(index)] = entry.kind;
        listing.kindKnown[size_t(index)] = true;
    }
    return entry;
}

FolderListings::Entry FolderListings::find(const QString& hostFolder, const QString& name)
{
    auto known = m_listings.find(hostFolder);
    if (known == m_listings.end()) {
        // Most names are written as they are on disk: one look at the name answers those, and only a
        // folder where a name is missing is listed.
        const QString exact = joined(hostFolder, name);
        if (const Kind kind = kindOnDisk(exact); kind != Kind::None)
            return {exact, kind};
        known = m_listings.insert(hostFolder, listingOf(hostFolder));
    }
    Listing& folder = *known;
    if (!folder.listed) {
        // A folder we may search but not read still gives its entries by their exact names.
        const QString exact = joined(hostFolder, name);
        const Kind kind = kindOnDisk(exact);
        return kind == Kind::None ? Entry{} : Entry{exact, kind};
    }

    const QString folded = name.toCaseFolded();
    if (const qsizetype exact = exactIndex(folder, name, folded); exact >= 0)
        return entryAt(hostFolder, folder, exact);

    qsizetype match = -1;
    if (const auto it = folder.byFoldedName.constFind(folded); it != folder.byFoldedName.cend())
        match = *it;
    if (ShortName::isLegal8Dot3(name)) {
        if (!folder.shortNamesHashed) {
            folder.shortNamesHashed = true;
            for (qsizetype i = 0; i < folder.names.size(); ++i) {
                if (ShortName::isLegal8Dot3(folder.names[i]))
                    continue; // such a name is its own short name
                const QString shortName = ShortName::hashed(folder.names[i]);
                if (!folder.byShortName.contains(shortName))
                    folder.byShortName.insert(shortName, i);
            }
        }
        const auto it = folder.byShortName.constFind(name.toUpper());
        if (it != folder.byShortName.cend() && (match < 0 || *it < match))
            match = *it;
    }
    return match < 0 ? Entry{} : entryAt(hostFolder, folder, match);
}

FolderListings::Entry FolderListings::findUnder(const QString& hostFolder, const QStringList& components)
{
    if (hostFolder.isEmpty())
        return {};
    Entry current{hostFolder, Kind::Folder};
    for (const QString& component : components) {
        if (current.kind != Kind::Folder)
            return {};
        current = find(current.hostPath, component);
    }
    return current;
}

FolderListings::Kind FolderListings::kindOnDisk(const QString& hostPath)
{
    struct stat info;
    if (::stat(QFile::encodeName(hostPath).constData(), &info) != 0)
        return Kind::None;
    if (S_ISREG(info.st_mode))
        return Kind::File;
    return S_ISDIR(info.st_mode) ? Kind::Folder : Kind::Other;
}

FolderListings::Kind FolderListings::kindOf(const QString& hostPath)
{
    if (const auto it = m_kinds.constFind(hostPath); it != m_kinds.cend())
        return *it;
    const Kind kind = kindOnDisk(hostPath);
    m_kinds.insert(hostPath, kind);
    return kind;
}
