#pragma once

#include "base/KestrinError.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// A key that a record keeps, with its subkeys.
struct TrashKey
{
    QString hive; // "system.reg" or "user.reg"
    QString key;  // the key's path inside the hive
    bool operator==(const TrashKey&) const = default;
};

// What the trash keeps of one change: the registry text as it was, and any files taken away with it.
struct TrashRecord
{
    QString id;           // the base name of its files in the prefix's trash folder
    QDateTime time;       // UTC
    QString action;       // "deleted", "edited", "menu-removed" or "leftovers-removed"
    QString prefix;       // the prefix's folder
    QString hive;         // "system.reg" or "user.reg"; empty for "leftovers-removed"
    QString key;          // the key's path inside the hive; empty for "leftovers-removed"
    QString name;         // what lists show: the entry's or the program's display name
    QStringList files;    // original paths of the files (and, for "leftovers-removed", folders) kept with it
    QList<TrashKey> keys; // "leftovers-removed": the keys it removed
    // The registry sections, verbatim as the hive had them. For "leftovers-removed", the key lines
    // name each key under its hive's file name ("[system.reg\\Software\\...]"), so one text holds both.
    QByteArray text;
    QString damage; // why the record cannot be used, or empty
};

// A restore that would replace a key or a file that exists again.
class EntryExistsError : public KestrinError
{
public:
    using KestrinError::KestrinError;
};

// The records of deleted or changed entries of each prefix, and bringing them back. The trash never
// removes a record by itself: only a restore that succeeded, or purge().
namespace EntryTrash {

// $XDG_DATA_HOME/kestrin/trash/<prefix folder's name>-<hash of its canonical path>.
QString folderFor(const QString& prefixPath);

// Writes `record` and its .reg file (when `regText` is not empty), both flushed, and returns the new
// record's id. Throws KestrinError when they cannot be written.
QString write(const QString& prefixPath, TrashRecord record, const QByteArray& regText);

// Every record of the prefix, newest first; a damaged one says why in `damage`.
QList<TrashRecord> list(const QString& prefixPath);
// One record; throws KestrinError when there is none of that id or it is damaged.
TrashRecord read(const QString& prefixPath, const QString& id);

// Moves `files` into a new record (its text, for a "menu-removed" record, the removed values' section)
// and returns its id. The record, naming every file, is written before the first file moves. All
// files move or none do.
QString keepFiles(const QString& prefixPath, TrashRecord record, const QStringList& files);
// Takes back keepFiles(): the files return where they were and the record goes. For a change that
// could not be saved after its files were kept.
void undoKeep(const QString& prefixPath, const QString& id);

// Moves what an uninstall left behind into one new "leftovers-removed" record and returns its id.
// `record` brings the time, prefix and name. The record, with every path and the keys' text, is on
// disk before anything moves; then `paths` (files, and folders whole) move into it, then `keys` with
// their subkeys leave their hives, one save per hive. Refused before anything moves while Wine serves
// the prefix (WineRunningError), and (KestrinError) for a path that is not a plain absolute path below
// the prefix's canonical drive_c, is drive_c, is or reaches through a symbolic link, or does not
// exist, and for a key that does not exist, is no program's own key under Software, or holds or lies
// in an uninstall key. A path or key inside another one goes with it. On a failure what moved goes
// back and the record goes; what cannot go back stays in the record, and the error says so. Saves at
// once: not for use inside a HiveFile::WriteBatch.
QString keepLeftovers(const QString& prefixPath, TrashRecord record, const QStringList& paths,
                      const QList<TrashKey>& keys);

// Brings a record back, then removes the record:
// "deleted" and "edited" write the key and its subkeys as they were in one atomic save, replacing a
// key of that path only when `replace` (else EntryExistsError); "menu-removed" sets the recorded
// values into their key, then moves the files back (a file in its place whose copy is gone is back
// already), replacing an existing file only when `replace`;
// "leftovers-removed" merges the keys back into their hives (one save per hive), then moves the files
// and folders back. It finishes what a killed removal or restore began: a path that is in its place
// and whose copy is gone is back already. A path taken again, or a recorded value that its key now
// holds otherwise, is replaced only when `replace` (else EntryExistsError), and what it replaces is kept
// in a record of its own.
// Refused while Wine serves the prefix (WineRunningError); the record stays on any failure.
void restore(const QString& prefixPath, const QString& id, bool replace);

// Whether restoring the record would replace something that exists now.
bool wouldReplace(const QString& prefixPath, const TrashRecord& record);

// Removes a record and what it keeps.
void purge(const QString& prefixPath, const QString& id);

} // namespace EntryTrash
