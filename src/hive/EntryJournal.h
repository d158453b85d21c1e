#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class HiveDocument;
class HiveKey;

// Keeps a copy of every uninstall entry that a save deletes or changes, so that it can be brought
// back. Each copy is a record (the entry's text verbatim, with what was done to it) and, beside it,
// a .reg file that Wine's regedit imports.
namespace EntryJournal {

// Records, as the file has them now, the entries under an uninstall key that the changes made to
// `changed` delete or alter, each flushed to disk. Throws KestrinError, having recorded nothing that
// the caller may rely on, when a record cannot be written: the change must then not be saved.
void recordChanges(const QString& hivePath, const QString& prefixPath, const HiveDocument& changed);

// Whether `path` names an uninstall entry itself: a direct subkey of an uninstall key.
bool isUninstallEntry(const QStringList& path);

// A "Windows Registry Editor Version 5.00" text (UTF-16LE with its byte order mark, CR LF) of `key`
// and its subkeys, under the root named `rootName`.
QByteArray regFileText(const QString& rootName, const HiveKey& key);

} // namespace EntryJournal
