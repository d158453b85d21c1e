#pragma once

#include "desktop/WineMenuFolders.h"
#include "prefix/WinePrefix.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// One shortcut of the prefix whose menu and desktop entries outlived it.
struct StaleMenuEntry
{
    QString name;               // Name= of its desktop entry, else the shortcut's file name
    QString linkPath;           // the shortcut, as a Windows path
    QString reason;             // why it is stale, one sentence
    QStringList menuFileValues; // its values under HKCU\Software\Wine\MenuFiles
    QStringList ownFiles;       // host paths of its generated .desktop and .menu files
    QStringList directoryNames; // the .directory files its .menu files use (file names)
    QStringList iconNames;      // the Icon= names of its desktop entries
};

// Finds, without starting Wine, the entries that Wine's menu builder made for shortcuts of the prefix
// that have gone, or whose program has gone. Wine's bookkeeping names each generated file with the
// shortcut it came from (HKEY_CURRENT_USER\Software\Wine\MenuFiles).
//
// A file is only ever a candidate when it lies in the folders Wine writes to and MenuFiles, or a
// stale desktop entry of this prefix, names it: a .desktop must be Wine's entry for this prefix (an
// entry of another prefix that took the same name stays, and so does its .menu file); a .menu must
// be Wine's "wine-*.menu". A .directory file goes only when no remaining .menu file uses it, an icon
// only when no remaining desktop entry names it.
class StaleMenuEntries
{
public:
    StaleMenuEntries(WinePrefix prefix, WineMenuFolders folders);

    // Reads MenuFiles and the folders anew. Throws KestrinError when user.reg cannot be read.
    void scan();
    const QList<StaleMenuEntry>& entries() const { return m_entries; }

    // Host paths of the files that removing the entries at `chosen` takes away: their own files,
    // the .directory files and icons nothing else uses, in that order.
    QStringList filesToRemove(const QList<int>& chosen) const;
    // The files of entries().at(index) when every stale entry goes.
    QStringList filesOf(int index) const;
    // The MenuFiles values of the chosen entries.
    QStringList valuesToDelete(const QList<int>& chosen) const;
    // The folders under applications/wine/Programs that hold nothing but `removed` files; deepest first.
    QStringList foldersEmptiedBy(const QStringList& removed) const;

    const WineMenuFolders& folders() const { return m_folders; }

private:
    struct MenuFileValue
    {
        QString valueName; // the generated file, as a Windows path
        QString linkPath;  // the shortcut it came from
    };
    QList<MenuFileValue> readMenuFiles() const;
    // Empty when the shortcut is there with its program, or when that cannot be told for sure.
    QString whyStale(const QString& linkPath) const;
    // Host path of the existing file a MenuFiles value names; empty when there is none.
    QString hostPathOf(const QString& valueName) const;
    // Host path of a generated file named by MenuFiles, when it is one Kestrin may remove.
    QString candidateFile(const QString& valueName) const;
    bool isWineEntryOfPrefix(const QString& desktopFile) const;
    void readRemainingUses();
    QStringList sharedFilesFreedBy(const QList<int>& chosen) const;

    WinePrefix m_prefix;
    WineMenuFolders m_folders;
    QList<StaleMenuEntry> m_entries;
    // Every .menu file with the .directory files it uses, and every .desktop file with its Icon=.
    QHash<QString, QStringList> m_menuDirectories;
    QHash<QString, QString> m_desktopIcons;
};
