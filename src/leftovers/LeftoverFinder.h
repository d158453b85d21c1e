#pragma once

#include "inventory/ProgramFolder.h"
#include "leftovers/ProgramTraces.h"
#include "menus/StaleMenuEntries.h"
#include "prefix/WinePrefix.h"

#include <QList>
#include <QString>
#include <QStringList>

// One thing a removed program left in the prefix.
struct Leftover
{
    enum class Kind
    {
        Folder,
        File,
        Key,
        MenuEntry, // a Linux menu entry or desktop icon Wine made for one of its shortcuts
    };

    Kind kind = Kind::File;
    QString shown;        // what the window shows: a Windows path, a key with its root, a menu entry's name
    QString hostPath;     // Folder and File
    QString hive;         // Key: "system.reg" or "user.reg"
    QString key;          // Key: its path inside the hive
    int menuEntry = -1;   // MenuEntry: its index in LeftoverFinder::menuEntries()
    QString reason;       // why it was found, one sentence
    bool certain = false; // the program's beyond doubt; only these start checked

    // "sure" or "maybe", as the window and the command line say it.
    QString certaintyText() const;
};

// Looks for what a program left behind in the prefix once its uninstaller has run: its install folder,
// its shortcuts and their Start Menu folders, its keys under Software\<Publisher> and Software\<Product>
// of both hives and both views, and the menu entries Wine made for its shortcuts.
//
// Everything found is tied to the program by a fact its entry recorded (its install folder, its
// uninstaller, its shortcuts' targets, its publisher and name as whole key names), never by a part of
// a name. Never proposed: anything outside drive_c or reached through a symbolic link; a folder that
// holds what another listed entry names (a shared Common Files or publisher folder); the prefix's own
// folders (drive roots, C:\windows, Program Files, profiles); a key named like another listed entry or
// naming its folder; a whole publisher key while the publisher has another product listed, or while it
// holds anything else; the system's own keys.
class LeftoverFinder
{
public:
    LeftoverFinder(WinePrefix prefix, ProgramTraces traces, WineMenuFolders menuFolders);

    // Reads the list, the folders, both hives and Wine's menu bookkeeping anew. Throws KestrinError
    // when a hive cannot be read.
    QList<Leftover> find();

    // The menu entries find() looked at; Leftover::menuEntry indexes them.
    const StaleMenuEntries& menuEntries() const { return m_menus; }
    const ProgramTraces& traces() const { return m_traces; }

private:
    struct ListedEntry
    {
        QString name;
        QString entryName;
        QString publisher;
        QStringList folders;        // canonical host folders its install location, uninstaller and icon lie in
        QStringList windowsFolders; // the same as Windows paths
        QString uninstallerFile;
    };
    void readListedEntries();
    // Drops from the traces what the list as it is now shows to be shared: a folder that holds another
    // entry's, an uninstaller that another entry uses or that lies in such a folder, and the shortcuts
    // found through them.
    void narrowTraces();
    bool inListedFolder(const QString& windowsPath) const;
    bool isNamedByListedEntry(const QString& keyName) const;
    bool holdsListedEntry(const QString& hostFolder) const;
    bool publisherHasOtherProducts() const;
    bool valuesNameFolder(const QStringList& texts, const QString& windowsFolder) const;

    void findFolder(QList<Leftover>& found);
    void findShortcuts(QList<Leftover>& found) const;
    void findKeys(QList<Leftover>& found) const;
    void findMenuEntries(QList<Leftover>& found, const QList<Leftover>& shortcuts);

    WinePrefix m_prefix;
    ProgramTraces m_traces;
    StaleMenuEntries m_menus;
    ProgramFolder m_folders;
    QString m_driveC; // canonical
    QList<ListedEntry> m_listed;
    QList<PrefixShortcut> m_formerShortcuts; // the program's before the uninstall, as narrowTraces() left them
};
