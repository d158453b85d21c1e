#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

// What path look-ups have learnt of host folders. A name written as it is on disk is found with one
// look at it; the first name a folder is missing has the folder listed, once, and from then on its
// names are found by their exact form, without regard to letter case, or by the short name Wine
// derives (see ShortName), all from memory. Files created, renamed or removed after a folder was
// listed are not seen, so an object lives only as long as the folders may be taken as unchanged: one
// scan.
class FolderListings
{
public:
    enum class Kind : quint8
    {
        None, // missing, or a link that leads nowhere
        File,
        Folder,
        Other, // a device, a FIFO, a socket
    };

    struct Entry
    {
        QString hostPath; // empty when nothing matched
        Kind kind = Kind::None;
    };

    // The entry of hostFolder that name selects, as Wine selects it: the entry of exactly that name,
    // else the first in directory order whose name matches without regard to case or, when name is a
    // legal 8.3 name, by its derived short name. A folder that cannot be listed is still searched for
    // the exact name.
    Entry find(const QString& hostFolder, const QString& name);
    // The entry that components select one level at a time from hostFolder; an empty hostPath when one
    // of them selects nothing or, before the last, no folder.
    Entry findUnder(const QString& hostFolder, const QStringList& components);
    // What is at hostPath, following links; asked of the disk once per path.
    Kind kindOf(const QString& hostPath);
    // The same, asked of the disk every time.
    static Kind kindOnDisk(const QString& hostPath);

private:
    struct Listing
    {
        bool listed = false; // false when the folder could not be read
        QStringList names;   // in directory order
        std::vector<Kind> kinds;
        std::vector<bool> kindKnown;            // links and names of unknown type are looked at when first asked
        QHash<QString, qsizetype> byFoldedName; // the first entry of each case-folded name
        bool caseTwins = false;                 // two names differ only in letter case
        bool shortNamesHashed = false;
        QHash<QString, qsizetype> byShortName; // upper case; only names that are not 8.3 themselves
    };

    static Listing listingOf(const QString& hostFolder);
    static qsizetype exactIndex(const Listing& listing, const QString& name, const QString& folded);
    Entry entryAt(const QString& hostFolder, Listing& listing, qsizetype index);

    QHash<QString, Listing> m_listings; // by host folder, of the folders listed
    QHash<QString, Kind> m_kinds;       // of paths asked about directly
};
