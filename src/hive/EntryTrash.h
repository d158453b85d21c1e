#pragma once

#include "base/KestrinError.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// What the trash keeps of one change: the registry text as it was, and any files taken away with it.
struct TrashRecord
{
    QString id;        // the base name of its files in the prefix's trash folder
    QDateTime time;    // UTC
    QString action;    // "deleted", "edited" or "menu-removed"
    QString prefix;    // the prefix's folder
    QString hive;      // "system.reg" or "user.reg"
    QString key;       // the key's path inside the hive
    QString name;      // what lists show: the entry's display name
    QStringList files; // original paths of the files kept with the record
    QByteArray text;   // the registry sections, verbatim as the hive had them
    QString damage;    // why the record cannot be used, or empty
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
// and returns its id. All files move or none do.
QString keepFiles(const QString& prefixPath, TrashRecord record, const QStringList& files);
// Takes back keepFiles(): the files return where they were and the record goes. For a change that
// could not be saved after its files were kept.
void undoKeep(const QString& prefixPath, const QString& id);

// Brings a record back in one atomic save of its hive, then removes the record:
// "deleted" and "edited" write the key and its subkeys as they were, replacing a key of that path
// only when `replace` (else EntryExistsError); "menu-removed" sets the recorded values into their key
// and moves the files back, replacing an existing file only when `replace`.
// Refused while Wine serves the prefix (WineRunningError); the record stays on any failure.
void restore(const QString& prefixPath, const QString& id, bool replace);

// Whether restoring the record would replace something that exists now.
bool wouldReplace(const QString& prefixPath, const TrashRecord& record);

// Removes a record and what it keeps.
void purge(const QString& prefixPath, const QString& id);

} // namespace EntryTrash
