#include "hive/EntryTrash.h"

#include "base/AtomicFile.h"
#include "hive/EntryJournal.h"
#include "hive/HiveDocument.h"
#include "hive/HiveFile.h"
#include "hive/HiveSyntax.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <memory>

namespace EntryTrash {

namespace {

const QString firstLine = QStringLiteral("Kestrin entry record 1");
const QStringList menuFilesKey{QStringLiteral("Software"), QStringLiteral("Wine"), QStringLiteral("MenuFiles")};

QString recordPath(const QString& folder, const QString& id)
{
    return folder + u'/' + id + QStringLiteral(".record");
}

QString filesFolder(const QString& folder, const QString& id)
{
    return folder + u'/' + id + QStringLiteral(".files");
}

QString keptFile(const QString& folder, const QString& id, qsizetype index)
{
    return filesFolder(folder, id) + u'/' + QString::number(index);
}

// Ids name files in the trash folder, and the command line passes them in: nothing that could
// reach outside it.
void requireValidId(const QString& id)
{
    static const QRegularExpression valid(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z-]*$"));
    if (!valid.match(id).hasMatch())
        throw KestrinError(QStringLiteral("\"%1\" is not the id of a record of the entry trash.").arg(id));
}

QString oneLine(QString text)
{
    return text.replace(u'\r', u' ').replace(u'\n', u' ');
}

QByteArray digestOf(const QByteArray& text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
}

QStringList keyPath(const QString& key)
{
    return key.split(u'\\', Qt::SkipEmptyParts);
}

bool isUnder(const QStringList& path, const QStringList& parent)
{
    if (path.size() < parent.size())
        return false;
    for (qsizetype i = 0; i < parent.size(); ++i) {
        if (!HiveSyntax::sameName(path[i], parent[i]))
            return false;
    }
    return true;
}

// The record's text as a hive of its own, so that its keys can be checked and copied.
std::unique_ptr<HiveDocument> parseText(const QByteArray& text)
{
    return HiveDocument::fromBytes(QByteArray(HiveSyntax::header.toByteArray() + "\n\n" + text));
}

// A key of the text that has values, or that has neither values nor subkeys, had a section of
// its own: the keys that only lead to others did not.
bool hasOwnSection(const HiveKey& key)
{
    return !key.values().empty() || key.subkeys().empty();
}

QString textDamage(const TrashRecord& record)
{
    const auto document = parseText(record.text);
    const QStringList path = keyPath(record.key);
    const HiveKey* key = document->findKey(path);
    if (!key)
        return QStringLiteral("its text holds no key %1").arg(record.key);
    QString damage;
    std::function<void(const HiveKey&)> visit = [&](const HiveKey& k) {
        if (damage.isEmpty() && hasOwnSection(k) && !isUnder(k.path(), path))
            damage = QStringLiteral("its text holds the key %1, outside %2").arg(k.path().join(u'\\'), record.key);
        for (const auto& subkey : k.subkeys())
            visit(*subkey);
    };
    visit(document->root());
    return damage;
}

// Reads a record file; a record that cannot be used says why in `damage`.
TrashRecord parseRecord(const QString& folder, const QString& id)
{
    TrashRecord record;
    record.id = id;
    QFile file(recordPath(folder, id));
    if (!file.open(QIODevice::ReadOnly)) {
        record.damage = file.errorString();
        return record;
    }
    const QByteArray bytes = file.readAll();
    const qsizetype end = bytes.indexOf("\n\n");
    if (end < 0 || !bytes.startsWith(QByteArray(firstLine.toUtf8() + "\n"))) {
        record.damage = QStringLiteral("it is not a record of the entry trash");
        return record;
    }
    record.text = bytes.mid(end + 2);
    QByteArray digest;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    for (const QByteArray& line : lines.sliced(1)) {
        const qsizetype colon = line.indexOf(": ");
        const QByteArray field = line.left(colon);
        const QString value = QString::fromUtf8(line.mid(colon + 2));
        if (field == "Time")
            record.time = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (field == "Action")
            record.action = value;
        else if (field == "Prefix")
            record.prefix = value;
        else if (field == "Hive")
            record.hive = value;
        else if (field == "Key")
            record.key = value;
        else if (field == "Name")
            record.name = value;
        else if (field == "File")
            record.files << value;
        else if (field == "Digest")
            digest = line.mid(colon + 2);
    }
    if (!record.time.isValid())
        record.damage = QStringLiteral("it has no valid time");
    else if (record.action != u"deleted" && record.action != u"edited" && record.action != u"menu-removed")
        record.damage = QStringLiteral("its action \"%1\" is unknown").arg(record.action);
    else if (record.hive != u"system.reg" && record.hive != u"user.reg")
        record.damage = QStringLiteral("its hive \"%1\" is unknown").arg(record.hive);
    else if (keyPath(record.key).isEmpty())
        record.damage = QStringLiteral("it names no key");
    else if (record.action == u"menu-removed"
                 ? !isUnder(keyPath(record.key), menuFilesKey) || keyPath(record.key).size() != menuFilesKey.size() ||
                       record.hive != u"user.reg"
                 : !EntryJournal::isUninstallEntry(keyPath(record.key)))
        record.damage = QStringLiteral("its key %1 is not one the trash keeps").arg(record.key);
    else if (!digest.isEmpty() && digest != digestOf(record.text))
        record.damage = QStringLiteral("its text has been changed or cut short");
    else
        record.damage = textDamage(record);
    for (qsizetype i = 0; i < record.files.size() && record.damage.isEmpty(); ++i) {
        const QString& file = record.files[i];
        if (QDir::isRelativePath(file) || QDir::cleanPath(file) != file)
            record.damage = QStringLiteral("the path %1 is not a plain absolute path").arg(file);
        else if (!QFileInfo(keptFile(folder, id, i)).isFile())
            record.damage = QStringLiteral("the copy of %1 is missing").arg(file);
    }
    return record;
}

QByteArray recordBytes(const TrashRecord& record)
{
    QString header = firstLine + QStringLiteral("\nTime: ") + record.time.toString(Qt::ISODateWithMs) +
                     QStringLiteral("\nAction: ") + record.action + QStringLiteral("\nPrefix: ") +
                     oneLine(record.prefix) + QStringLiteral("\nHive: ") + record.hive + QStringLiteral("\nKey: ") +
                     oneLine(record.key) + QStringLiteral("\nName: ") + oneLine(record.name);
    for (const QString& file : record.files)
        header += QStringLiteral("\nFile: ") + oneLine(file);
    header += QStringLiteral("\nDigest: ") + QString::fromLatin1(digestOf(record.text)) + QStringLiteral("\n\n");
    return header.toUtf8() + record.text;
}

QString newId(const QString& folder, const QDateTime& time)
{
    // Saves within one millisecond must not share a name.
    QString id;
    int serial = 0;
    do
        id = time.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QStringLiteral("-%1").arg(++serial);
    while (QFileInfo::exists(recordPath(folder, id)) || QFileInfo::exists(filesFolder(folder, id)));
    return id;
}

void makeFolder(const QString& folder)
{
    if (!QDir().mkpath(folder))
        throw KestrinError(QStringLiteral("The folder %1 could not be created.").arg(folder));
}

void moveFile(const QString& from, const QString& to)
{
    QFile file(from);
    if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !file.rename(to))
        throw KestrinError(QStringLiteral("%1 could not be moved to %2: %3").arg(from, to, file.errorString()));
}

void removeRecordFiles(const QString& folder, const QString& id)
{
    // The record first, so that what is left is never listed as a record with missing parts.
    QFile::remove(recordPath(folder, id));
    QFile::remove(folder + u'/' + id + QStringLiteral(".reg"));
    QDir(filesFolder(folder, id)).removeRecursively();
}

void copyKey(HiveDocument& into, const HiveKey& key)
{
    if (hasOwnSection(key)) {
        HiveKey* target = into.createKey(key.path());
        for (const HiveValue& value : key.values())
            into.setValue(target, value.name, value.value);
    }
    for (const auto& subkey : key.subkeys())
        copyKey(into, *subkey);
}

QString setAside(const QString& folder, const QString& id, qsizetype index)
{
    return keptFile(folder, id, index) + QStringLiteral(".replaced");
}

// Undoes returnFiles() for the first `count` files.
void takeBackFiles(const QString& folder, const TrashRecord& record, qsizetype count)
{
    for (qsizetype i = std::min(count, record.files.size()); i-- > 0;) {
        QFile::rename(record.files[i], keptFile(folder, record.id, i));
        QFile::rename(setAside(folder, record.id, i), record.files[i]);
    }
}

// Moves the kept files back. A file that exists again is set aside in the record's folder, to be
// dropped once the whole restore has succeeded; on failure everything goes back where it was.
void returnFiles(const QString& folder, const TrashRecord& record, bool replace)
{
    qsizetype moved = 0;
    try {
        for (; moved < record.files.size(); ++moved) {
            const QString& target = record.files[moved];
            if (replace && QFileInfo::exists(target))
                moveFile(target, setAside(folder, record.id, moved));
            moveFile(keptFile(folder, record.id, moved), target);
        }
    } catch (const KestrinError&) {
        takeBackFiles(folder, record, moved + 1);
        throw;
    }
}

} // namespace

QString folderFor(const QString& prefixPath)
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    const QString canonical = QFileInfo(prefixPath).canonicalFilePath();
    const QString path = canonical.isEmpty() ? QFileInfo(prefixPath).absoluteFilePath() : canonical;
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
    QString name = QFileInfo(path).fileName();
    if (name.isEmpty())
        name = QStringLiteral("prefix");
    return data + QStringLiteral("/kestrin/trash/") + name + u'-' + QString::fromLatin1(hash);
}

QString write(const QString& prefixPath, TrashRecord record, const QByteArray& regText)
{
    const QString folder = folderFor(prefixPath);
    makeFolder(folder);
    record.id = newId(folder, record.time);
    if (!regText.isEmpty())
        AtomicFile::replace(folder + u'/' + record.id + QStringLiteral(".reg"), regText);
    // The record last: a record on disk always has its parts whole.
    AtomicFile::replace(recordPath(folder, record.id), recordBytes(record));
    return record.id;
}

QList<TrashRecord> list(const QString& prefixPath)
{
    const QString folder = folderFor(prefixPath);
    QList<TrashRecord> records;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.record")}, QDir::Files);
    for (const QString& name : names)
        records << parseRecord(folder, name.chopped(7));
    std::sort(records.begin(), records.end(), [](const TrashRecord& a, const TrashRecord& b) {
        if (a.time != b.time)
            return a.time > b.time;
        return a.id.size() != b.id.size() ? a.id.size() > b.id.size() : a.id > b.id;
    });
    return records;
}

TrashRecord read(const QString& prefixPath, const QString& id)
{
    requireValidId(id);
    const QString folder = folderFor(prefixPath);
    if (!QFileInfo::exists(recordPath(folder, id)))
        throw KestrinError(QStringLiteral("The entry trash of %1 has no record %2.").arg(prefixPath, id));
    TrashRecord record = parseRecord(folder, id);
    if (!record.damage.isEmpty())
        throw KestrinError(
            QStringLiteral("The record %1 of the entry trash cannot be used: %2.").arg(id, record.damage));
    return record;
}

QString keepFiles(const QString& prefixPath, TrashRecord record, const QStringList& files)
{
    const QString folder = folderFor(prefixPath);
    makeFolder(folder);
    record.id = newId(folder, record.time);
    record.files.clear();
    for (const QString& file : files)
        record.files << QFileInfo(file).absoluteFilePath();
    if (!QDir().mkpath(filesFolder(folder, record.id)))
        throw KestrinError(QStringLiteral("The folder %1 could not be created.").arg(filesFolder(folder, record.id)));
    qsizetype moved = 0;
    try {
        for (; moved < record.files.size(); ++moved)
            moveFile(record.files[moved], keptFile(folder, record.id, moved));
        AtomicFile::replace(recordPath(folder, record.id), recordBytes(record));
    } catch (const KestrinError& error) {
        QStringList stranded;
        while (moved-- > 0) {
            if (!QFile::rename(keptFile(folder, record.id, moved), record.files[moved]))
                stranded << record.files[moved];
        }
        if (stranded.isEmpty()) {
            QDir().rmdir(filesFolder(folder, record.id));
            throw;
        }
        // What could not go back stays in the trash, never lost.
        throw KestrinError(
            QStringLiteral("%1 The files %2 could not be put back and are kept in %3.")
                .arg(error.message(), stranded.join(QStringLiteral(", ")), filesFolder(folder, record.id)));
    }
    return record.id;
}

void undoKeep(const QString& prefixPath, const QString& id)
{
    const TrashRecord record = read(prefixPath, id);
    const QString folder = folderFor(prefixPath);
    returnFiles(folder, record, false);
    removeRecordFiles(folder, id);
}

bool wouldReplace(const QString& prefixPath, const TrashRecord& record)
{
    if (record.action == u"menu-removed") {
        return std::any_of(record.files.cbegin(), record.files.cend(),
                           [](const QString& file) { return QFileInfo::exists(file); });
    }
    const auto hive = HiveFile::open(prefixPath + u'/' + record.hive);
    return hive->current().findKey(keyPath(record.key)) != nullptr;
}

void restore(const QString& prefixPath, const QString& id, bool replace)
{
    const TrashRecord record = read(prefixPath, id);
    if (!replace && wouldReplace(prefixPath, record)) {
        throw EntryExistsError(record.action == u"menu-removed"
                                   ? QStringLiteral("A file that the record %1 would restore exists again.").arg(id)
                                   : QStringLiteral("The key %1 exists again in %2.").arg(record.key, record.hive));
    }
    const QString folder = folderFor(prefixPath);
    const auto recorded = parseText(record.text);
    const QStringList path = keyPath(record.key);
    const auto hive = HiveFile::open(prefixPath + u'/' + record.hive);
    const bool menuEntry = record.action == u"menu-removed";
    // Files move before the save: a save that would be refused must not move them at all.
    if (menuEntry)
        hive->requireChangeable();
    if (menuEntry)
        returnFiles(folder, record, replace);
    try {
        hive->modify([&](HiveDocument& document) {
            if (menuEntry) {
                copyKey(document, *recorded->findKey(path));
                return;
            }
            if (HiveKey* existing = document.findKey(path))
                document.deleteKey(existing);
            copyKey(document, *recorded->findKey(path));
        });
    } catch (const KestrinError&) {
        if (menuEntry)
            takeBackFiles(folder, record, record.files.size());
        throw;
    }
    removeRecordFiles(folder, id);
}

void purge(const QString& prefixPath, const QString& id)
{
    requireValidId(id);
    const QString folder = folderFor(prefixPath);
    if (!QFileInfo::exists(recordPath(folder, id)))
        throw KestrinError(QStringLiteral("The entry trash of %1 has no record %2.").arg(prefixPath, id));
    removeRecordFiles(folder, id);
    if (QFileInfo::exists(recordPath(folder, id)))
        throw KestrinError(QStringLiteral("The record %1 could not be removed from %2.").arg(id, folder));
}

} // namespace EntryTrash
