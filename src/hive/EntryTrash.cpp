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
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace EntryTrash {

namespace {

const QString firstLine = QStringLiteral("Kestrin entry record 1");
const QString leftoversAction = QStringLiteral("leftovers-removed");
const QStringList menuFilesKey{QStringLiteral("Software"), QStringLiteral("Wine"), QStringLiteral("MenuFiles")};
const QStringList hiveNames{QStringLiteral("system.reg"), QStringLiteral("user.reg")};
const QList<QStringList> uninstallKeys{
    {QStringLiteral("Software"), QStringLiteral("Microsoft"), QStringLiteral("Windows"),
     QStringLiteral("CurrentVersion"), QStringLiteral("Uninstall")},
    {QStringLiteral("Software"), QStringLiteral("Wow6432Node"), QStringLiteral("Microsoft"), QStringLiteral("Windows"),
     QStringLiteral("CurrentVersion"), QStringLiteral("Uninstall")},
};
// Keys directly under Software that hold what the system and every program share.
const QStringList sharedKeys{QStringLiteral("Classes"),
                             QStringLiteral("Clients"),
                             QStringLiteral("Microsoft"),
                             QStringLiteral("Policies"),
                             QStringLiteral("RegisteredApplications"),
                             QStringLiteral("Wine")};
// Far above any real record; the bound keeps a huge or endless file from being read whole.
constexpr qint64 MaxRecordBytes = qint64(16) << 20;

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
    forEachKey(document->root(), [&](const HiveKey& k) {
        if (damage.isEmpty() && hasOwnSection(k) && !isUnder(k.path(), path))
            damage = QStringLiteral("its text holds the key %1, outside %2").arg(k.path().join(u'\\'), record.key);
    });
    return damage;
}

QString rootName(const QString& hive)
{
    return hive == u"system.reg" ? QStringLiteral("HKLM") : QStringLiteral("HKCU");
}

QString describe(const TrashKey& key)
{
    return rootName(key.hive) + u'\\' + key.key;
}

// Where a leftovers record's text holds the key: under its hive's file name.
QStringList recordedPath(const TrashKey& key)
{
    return QStringList{key.hive} + keyPath(key.key);
}

bool hasLineBreak(const QString& text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

// Whether anything is at `path`, a dangling link included.
bool present(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// The prefix's drive_c as the file system names it, or empty when there is none.
QString canonicalDriveC(const QString& prefixPath)
{
    return QFileInfo(prefixPath + QStringLiteral("/drive_c")).canonicalFilePath();
}

// Why `path` may not be moved out of or back into `driveC`, or empty. Only the names below drive_c
// count: the prefix itself may well be reached through a link. A link at the end is moved as it is,
// never followed, so `linkAtEnd` may allow it.
QString pathProblem(const QString& driveC, const QString& path, bool linkAtEnd)
{
    if (driveC.isEmpty())
        return QStringLiteral("the prefix has no drive_c folder");
    if (QDir::isRelativePath(path) || QDir::cleanPath(path) != path || hasLineBreak(path))
        return QStringLiteral("%1 is not a plain absolute path").arg(path);
    if (path == driveC)
        return QStringLiteral("%1 is the prefix's drive C: itself").arg(path);
    if (!path.startsWith(driveC + u'/'))
        return QStringLiteral("%1 is not inside %2").arg(path, driveC);
    for (qsizetype slash = driveC.size(); slash >= 0;) {
        slash = path.indexOf(u'/', slash + 1);
        const QString part = slash < 0 ? path : path.left(slash);
        struct stat st;
        if (::lstat(QFile::encodeName(part).constData(), &st) != 0)
            break; // nothing further down to reach through
        if (S_ISLNK(st.st_mode) && slash >= 0)
            return QStringLiteral("%1 reaches through the symbolic link %2").arg(path, part);
        if (S_ISLNK(st.st_mode) && !linkAtEnd)
            return QStringLiteral("%1 is a symbolic link").arg(path);
    }
    return {};
}

// Why `key` may not be removed as a leftover, or empty: only a program's own key under Software,
// never a key that every program shares, and never one that holds or lies in an uninstall key (the
// entries are kept by records of their own).
QString keyProblem(const TrashKey& key)
{
    if (!hiveNames.contains(key.hive))
        return QStringLiteral("its hive \"%1\" is unknown").arg(key.hive);
    const QStringList path = keyPath(key.key);
    const qsizetype top = path.size() > 1 && HiveSyntax::sameName(path[1], u"Wow6432Node") ? 2 : 1;
    const bool shared = path.size() == top + 1 &&
                        std::any_of(sharedKeys.cbegin(), sharedKeys.cend(),
                                    [&](const QString& name) { return HiveSyntax::sameName(path[top], name); });
    if (hasLineBreak(key.key) || path.size() <= top || !HiveSyntax::sameName(path[0], u"Software") || shared)
        return QStringLiteral("%1 is not a program's own key").arg(describe(key));
    for (const QStringList& uninstall : uninstallKeys) {
        if (isUnder(path, uninstall) || isUnder(uninstall, path))
            return QStringLiteral("%1 is or holds an uninstall key").arg(describe(key));
    }
    return {};
}

QString leftoversDamage(const TrashRecord& record, const QByteArray& digest)
{
    for (const TrashKey& key : record.keys) {
        if (QString problem = keyProblem(key); !problem.isEmpty())
            return problem;
    }
    if (digest != digestOf(record.text))
        return QStringLiteral("its text has been changed or cut short");
    const auto document = parseText(record.text);
    QString damage;
    for (const auto& top : document->root().subkeys()) {
        forEachKey(*top, [&](const HiveKey& k) {
            if (!damage.isEmpty() || !hasOwnSection(k))
                return;
            const QStringList keyPath = k.path();
            const auto holds = [&](const TrashKey& key) {
                return isUnder(keyPath, recordedPath(key));
            };
            if (std::none_of(record.keys.cbegin(), record.keys.cend(), holds))
                damage =
                    QStringLiteral("its text holds the key %1, outside the keys it names").arg(keyPath.join(u'\\'));
        });
    }
    return damage;
}

// Records lie in a folder that anything running as the user may write to: a FIFO or a device named
// like a record must neither block nor be read without end.
QString readRecordFile(const QString& path, QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return QStringLiteral("it is not a regular file");
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        if (got == 0)
            return {};
        bytes.append(buffer, qsizetype(got));
        if (bytes.size() > MaxRecordBytes)
            return QStringLiteral("it is larger than %1 MiB").arg(MaxRecordBytes >> 20);
    }
}

// Reads a record file; a record that cannot be used says why in `damage`. `driveC` is the canonical
// drive_c of the trash's prefix, the only place a leftovers record may put anything back.
TrashRecord parseRecord(const QString& folder, const QString& id, const QString& driveC)
{
    TrashRecord record;
    record.id = id;
    QByteArray bytes;
    if (const QString error = readRecordFile(recordPath(folder, id), bytes); !error.isEmpty()) {
        record.damage = error;
        return record;
    }
    const qsizetype end = bytes.indexOf("\n\n");
    if (end < 0 || !bytes.startsWith(QByteArray(firstLine.toUtf8() + "\n"))) {
        record.damage = QStringLiteral("it is not a record of the entry trash");
        return record;
    }
    record.text = bytes.mid(end + 2);
    QByteArray digest;
    QStringList keyLines;
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
            keyLines << value;
        else if (field == "Name")
            record.name = value;
        else if (field == "File")
            record.files << value;
        else if (field == "Digest")
            digest = line.mid(colon + 2);
    }
    const bool leftovers = record.action == leftoversAction;
    if (leftovers) {
        // "Key: <hive>\<key>" once for each key.
        for (const QString& line : std::as_const(keyLines)) {
            const qsizetype slash = line.indexOf(u'\\');
            record.keys << TrashKey{slash < 0 ? line : line.left(slash), slash < 0 ? QString() : line.mid(slash + 1)};
        }
    } else if (!keyLines.isEmpty()) {
        record.key = keyLines.last();
    }
    if (!record.time.isValid())
        record.damage = QStringLiteral("it has no valid time");
    else if (record.action != u"deleted" && record.action != u"edited" && record.action != u"menu-removed" &&
             !leftovers)
        record.damage = QStringLiteral("its action \"%1\" is unknown").arg(record.action);
    else if (leftovers)
        record.damage = leftoversDamage(record, digest);
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
        if (leftovers) {
            // A path whose copy is gone but that is in its place is back already: a run was killed.
            record.damage = pathProblem(driveC, file, true);
            if (record.damage.isEmpty() && !present(keptFile(folder, id, i)) && !present(file))
                record.damage = QStringLiteral("neither %1 nor its copy in the trash exists").arg(file);
        } else if (QDir::isRelativePath(file) || QDir::cleanPath(file) != file) {
            record.damage = QStringLiteral("the path %1 is not a plain absolute path").arg(file);
        } else if (!QFileInfo(keptFile(folder, id, i)).isFile() && !present(file)) {
            // A copy that is gone while its file is in place was never moved, or is back: a run was killed.
            record.damage = QStringLiteral("neither %1 nor its copy in the trash exists").arg(file);
        }
    }
    return record;
}

QByteArray recordBytes(const TrashRecord& record)
{
    QString header = firstLine + QStringLiteral("\nTime: ") + record.time.toString(Qt::ISODateWithMs) +
                     QStringLiteral("\nAction: ") + record.action + QStringLiteral("\nPrefix: ") +
                     oneLine(record.prefix);
    if (record.action == leftoversAction) {
        for (const TrashKey& key : record.keys)
            header += QStringLiteral("\nKey: ") + key.hive + u'\\' + key.key;
    } else {
        header += QStringLiteral("\nHive: ") + record.hive + QStringLiteral("\nKey: ") + oneLine(record.key);
    }
    header += QStringLiteral("\nName: ") + oneLine(record.name);
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

// Copies `key` of a record's text into a hive; `skip` leading names of its path are not the hive's.
void copyKey(HiveDocument& into, const HiveKey& top, qsizetype skip = 0)
{
    forEachKey(top, [&](const HiveKey& key) {
        if (!hasOwnSection(key))
            return;
        HiveKey* target = into.createKey(key.path().sliced(skip));
        for (const HiveValue& value : key.values())
            into.setValue(target, value.name, value.value);
    });
}

QString setAside(const QString& folder, const QString& id, qsizetype index)
{
    return keptFile(folder, id, index) + QStringLiteral(".replaced");
}

// Undoes returnFiles() for the first `count` files.
void takeBackFiles(const QString& folder, const TrashRecord& record, qsizetype count)
{
    for (qsizetype i = std::min(count, record.files.size()); i-- > 0;) {
        if (present(keptFile(folder, record.id, i)))
            continue; // never moved back
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
            if (!present(keptFile(folder, record.id, moved)))
                continue; // in its place already: a killed run moved it back, or never took it
            if (replace && QFileInfo::exists(target))
                moveFile(target, setAside(folder, record.id, moved));
            moveFile(keptFile(folder, record.id, moved), target);
        }
    } catch (const KestrinError&) {
        takeBackFiles(folder, record, moved + 1);
        throw;
    }
}

// Renames without ever replacing what is at `to`: whatever is there now is not ours to overwrite.
// Returns 0 or the errno.
int renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without RENAME_NOREPLACE: look first.
    if (present(to))
        return EEXIST;
    return ::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
}

// Moves a file or a whole folder by renaming it; never by copying, which could fail half-way.
void movePath(const QString& from, const QString& to)
{
    const int error = renameNoReplace(from, to);
    if (error == EXDEV) {
        throw KestrinError(QStringLiteral("%1 cannot be moved into the entry trash in %2, which is on another file "
                                          "system than the prefix: Kestrin moves what it removes and never copies "
                                          "it. Set XDG_DATA_HOME to a folder on the prefix's file system.")
                               .arg(from, QFileInfo(to).absolutePath()));
    }
    if (error != 0) {
        throw KestrinError(QStringLiteral("%1 could not be moved to %2: %3.")
                               .arg(from, to, QString::fromLocal8Bit(std::strerror(error))));
    }
}

// The paths of a removal, each checked; one inside another goes with it.
QStringList leftoverPaths(const QString& driveC, const QStringList& paths, bool linkAtEnd)
{
    QStringList checked;
    for (const QString& path : paths) {
        QString problem = pathProblem(driveC, path, linkAtEnd);
        if (problem.isEmpty() && !present(path))
            problem = QStringLiteral("%1 does not exist").arg(path);
        if (!problem.isEmpty())
            throw KestrinError(QStringLiteral("Nothing was removed: %1.").arg(problem));
        const auto holds = [&](const QString& other) {
            return path.startsWith(other + u'/');
        };
        if (!checked.contains(path) && std::none_of(paths.cbegin(), paths.cend(), holds))
            checked << path;
    }
    return checked;
}

// The keys of a removal, each checked; one inside another goes with it.
QList<TrashKey> leftoverKeys(const QList<TrashKey>& keys)
{
    QList<TrashKey> checked;
    for (const TrashKey& key : keys) {
        if (const QString problem = keyProblem(key); !problem.isEmpty())
            throw KestrinError(QStringLiteral("Nothing was removed: %1.").arg(problem));
        const QStringList path = keyPath(key.key);
        const auto holds = [&](const TrashKey& other) {
            const QStringList parent = keyPath(other.key);
            return other.hive == key.hive && parent.size() < path.size() && isUnder(path, parent);
        };
        const auto same = [&](const TrashKey& other) {
            return other.hive == key.hive && keyPath(other.key).size() == path.size() &&
                   isUnder(path, keyPath(other.key));
        };
        if (std::none_of(keys.cbegin(), keys.cend(), holds) && std::none_of(checked.cbegin(), checked.cend(), same))
            checked << key;
    }
    return checked;
}

// One hive's sections with their key lines named under the hive's file name.
QByteArray underHiveName(const QByteArray& sections, const QString& hive)
{
    const QByteArray name = hive.toUtf8() + "\\\\";
    QByteArray text;
    for (qsizetype pos = 0; pos < sections.size();) {
        qsizetype end = sections.indexOf('\n', pos);
        end = end < 0 ? sections.size() : end + 1;
        const QByteArrayView line(sections.constData() + pos, end - pos);
        qsizetype first = 0;
        while (first < line.size() && QByteArrayView(" \t\v\f\r").contains(line[first]))
            ++first;
        // The key lines as the parser finds them: '[' after blanks at the start of a line.
        if (first < line.size() && line[first] == '[')
            text += line.first(first + 1) + name + line.sliced(first + 1);
        else
            text += line;
        pos = end;
    }
    return text;
}

// Refuses, before anything moves, what the saves that follow would refuse: Wine serving the prefix.
void requireChangeable(const QString& prefixPath, const QList<TrashKey>& keys)
{
    for (const QString& hive : hiveNames) {
        const auto inHive = [&](const TrashKey& key) {
            return key.hive == hive;
        };
        if (hive == u"system.reg" || std::any_of(keys.cbegin(), keys.cend(), inHive))
            HiveFile::open(prefixPath + u'/' + hive)->requireChangeable();
    }
}

// Takes back a removal that failed after its record was written: the first `moved` paths go back,
// and the record goes when that worked and no hive was saved. Returns what the record still keeps,
// for the error message, or empty.
QString undoLeftovers(const QString& folder, const TrashRecord& record, qsizetype moved, const QStringList& savedHives)
{
    QStringList stranded;
    while (moved-- > 0) {
        if (renameNoReplace(keptFile(folder, record.id, moved), record.files[moved]) != 0)
            stranded.prepend(record.files[moved]);
    }
    if (stranded.isEmpty() && savedHives.isEmpty()) {
        removeRecordFiles(folder, record.id);
        return {};
    }
    QString kept;
    if (!savedHives.isEmpty())
        kept += QStringLiteral(" The keys were already removed from %1.").arg(savedHives.join(QStringLiteral(", ")));
    if (!stranded.isEmpty())
        kept += QStringLiteral(" %1 could not be put back.").arg(stranded.join(QStringLiteral(", ")));
    return kept + QStringLiteral(" The record %1 of the entry trash keeps them: restoring it brings them back.")
                      .arg(record.id);
}

QString keepLeftoversChecked(const QString& prefixPath, TrashRecord record, const QStringList& paths,
                             const QList<TrashKey>& keys, bool linkAtEnd)
{
    if (paths.isEmpty() && keys.isEmpty())
        throw KestrinError(QStringLiteral("There is nothing to remove."));
    record.action = leftoversAction;
    record.hive.clear();
    record.key.clear();
    record.keys = leftoverKeys(keys);
    requireChangeable(prefixPath, record.keys);
    record.files = leftoverPaths(canonicalDriveC(prefixPath), paths, linkAtEnd);
    record.text.clear();
    QList<QByteArray> texts;
    for (const TrashKey& key : std::as_const(record.keys)) {
        const auto hive = HiveFile::open(prefixPath + u'/' + key.hive);
        const HiveDocument& document = hive->current();
        if (!hive->readError().isEmpty())
            throw KestrinError(hive->readError());
        const HiveKey* found = document.findKey(keyPath(key.key));
        if (!found)
            throw KestrinError(QStringLiteral("Nothing was removed: the key %1 does not exist.").arg(describe(key)));
        texts << underHiveName(document.keyText(found), key.hive);
        record.text += texts.last();
    }

    const QString folder = folderFor(prefixPath);
    makeFolder(folder);
    record.id = newId(folder, record.time);
    // The record first: all that moves after it is named there, so a kill at any moment loses nothing.
    AtomicFile::replace(recordPath(folder, record.id), recordBytes(record));
    qsizetype moved = 0;
    QStringList saved;
    try {
        makeFolder(filesFolder(folder, record.id));
        for (; moved < record.files.size(); ++moved)
            movePath(record.files[moved], keptFile(folder, record.id, moved));
        for (const QString& hiveName : hiveNames) {
            const auto inHive = [&](const TrashKey& key) {
                return key.hive == hiveName;
            };
            if (std::none_of(record.keys.cbegin(), record.keys.cend(), inHive))
                continue;
            bool changed = false;
            HiveFile::open(prefixPath + u'/' + hiveName)->modify([&](HiveDocument& document) {
                for (qsizetype i = 0; i < record.keys.size(); ++i) {
                    const TrashKey& key = record.keys[i];
                    HiveKey* found = key.hive == hiveName ? document.findKey(keyPath(key.key)) : nullptr;
                    if (!found)
                        continue;
                    // Read anew under the lock: what changed since the record was written is not in it.
                    if (underHiveName(document.keyText(found), hiveName) != texts[i])
                        throw KestrinError(
                            QStringLiteral("The key %1 changed while it was being removed.").arg(describe(key)));
                    document.deleteKey(found);
                    changed = true;
                }
            });
            if (changed)
                saved << hiveName;
        }
    } catch (const KestrinError& error) {
        const QString kept = undoLeftovers(folder, record, moved, saved);
        if (kept.isEmpty())
            throw;
        throw KestrinError(error.message() + kept);
    }
    return record.id;
}

// The paths that are taken again while their copy waits in the trash.
QStringList takenPaths(const QString& folder, const TrashRecord& record)
{
    QStringList taken;
    for (qsizetype i = 0; i < record.files.size(); ++i) {
        if (present(keptFile(folder, record.id, i)) && present(record.files[i]))
            taken << record.files[i];
    }
    return taken;
}

// Whether the hive holds `kept` of a leftovers text with all its values as they were.
bool holdsAsRecorded(const HiveDocument& hive, const HiveKey& top)
{
    bool holds = true;
    forEachKey(top, [&](const HiveKey& kept) {
        if (!holds || !hasOwnSection(kept))
            return;
        const HiveKey* now = hive.findKey(kept.path().sliced(1));
        holds = now && std::all_of(kept.values().cbegin(), kept.values().cend(), [&](const HiveValue& value) {
                    const HiveValue* there = now->findValue(value.name);
                    return there && there->value == value.value;
                });
    });
    return holds;
}

// Whether the hive holds one of the values of `kept` otherwise: merging would overwrite it.
bool holdsOtherwise(const HiveDocument& hive, const HiveKey& top)
{
    bool otherwise = false;
    forEachKey(top, [&](const HiveKey& kept) {
        if (otherwise || kept.values().empty())
            return;
        if (const HiveKey* now = hive.findKey(kept.path().sliced(1))) {
            otherwise = std::any_of(kept.values().cbegin(), kept.values().cend(), [&](const HiveValue& value) {
                const HiveValue* there = now->findValue(value.name);
                return there && there->value != value.value;
            });
        }
    });
    return otherwise;
}

QList<TrashKey> changedKeys(const QString& prefixPath, const TrashRecord& record, const HiveDocument& recorded)
{
    QList<TrashKey> changed;
    for (const TrashKey& key : record.keys) {
        const HiveKey* kept = recorded.findKey(recordedPath(key));
        if (kept && holdsOtherwise(HiveFile::open(prefixPath + u'/' + key.hive)->current(), *kept))
            changed << key;
    }
    return changed;
}

void restoreLeftovers(const QString& prefixPath, const TrashRecord& record, bool replace)
{
    requireChangeable(prefixPath, record.keys);
    const QString folder = folderFor(prefixPath);
    const auto recorded = parseText(record.text);
    const QStringList taken = takenPaths(folder, record);
    const QList<TrashKey> changed = changedKeys(prefixPath, record, *recorded);
    if (!taken.isEmpty() || !changed.isEmpty()) {
        QStringList what = taken;
        for (const TrashKey& key : changed)
            what << describe(key);
        if (!replace) {
            throw EntryExistsError(QStringLiteral("What the record %1 would restore exists again: %2.")
                                       .arg(record.id, what.join(QStringLiteral(", "))));
        }
        // Never deleted: what is there now goes into a record of its own.
        TrashRecord aside;
        aside.time = QDateTime::currentDateTimeUtc();
        aside.prefix = record.prefix;
        aside.name = QStringLiteral("%1 (replaced by a restore)").arg(record.name);
        keepLeftoversChecked(prefixPath, aside, taken, changed, true);
    }

    // The keys first: a restore killed after them finds its paths in the trash and the keys as they
    // were, which is no conflict.
    for (const QString& hiveName : hiveNames) {
        QList<const HiveKey*> kept;
        for (const TrashKey& key : record.keys) {
            const HiveKey* found = key.hive == hiveName ? recorded->findKey(recordedPath(key)) : nullptr;
            if (found)
                kept << found;
        }
        if (kept.isEmpty())
            continue;
        const auto hive = HiveFile::open(prefixPath + u'/' + hiveName);
        const auto isBack = [&](const HiveKey* key) {
            return holdsAsRecorded(hive->current(), *key);
        };
        if (std::all_of(kept.cbegin(), kept.cend(), isBack))
            continue;
        hive->modify([&](HiveDocument& document) {
            for (const HiveKey* key : std::as_const(kept))
                copyKey(document, *key, 1);
        });
    }

    const QString driveC = canonicalDriveC(prefixPath);
    for (qsizetype i = 0; i < record.files.size(); ++i) {
        const QString copy = keptFile(folder, record.id, i);
        const QString& path = record.files[i];
        if (!present(copy))
            continue; // back already
        try {
            if (const QString problem = pathProblem(driveC, path, false); !problem.isEmpty())
                throw KestrinError(QStringLiteral("%1 is not restored: %2.").arg(path, problem));
            makeFolder(QFileInfo(path).absolutePath());
            movePath(copy, path);
        } catch (const KestrinError& error) {
            throw KestrinError(QStringLiteral("%1 The record %2 stays: restoring it again brings back the rest.")
                                   .arg(error.message(), record.id));
        }
    }
    removeRecordFiles(folder, record.id);
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
    // System too: a FIFO or a device named like a record is listed as damaged, so that purge finds it.
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.record")}, QDir::Files | QDir::System);
    const QString driveC = canonicalDriveC(prefixPath);
    for (const QString& name : names)
        records << parseRecord(folder, name.chopped(7), driveC);
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
    TrashRecord record = parseRecord(folder, id, canonicalDriveC(prefixPath));
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
    // The record, with every file's place, is on disk before the first file moves: a run killed at any
    // point leaves a record that restore finishes.
    AtomicFile::replace(recordPath(folder, record.id), recordBytes(record));
    qsizetype moved = 0;
    try {
        for (; moved < record.files.size(); ++moved)
            moveFile(record.files[moved], keptFile(folder, record.id, moved));
    } catch (const KestrinError& error) {
        QStringList stranded;
        while (moved-- > 0) {
            if (!QFile::rename(keptFile(folder, record.id, moved), record.files[moved]))
                stranded << record.files[moved];
        }
        if (stranded.isEmpty()) {
            removeRecordFiles(folder, record.id);
            throw;
        }
        // What could not go back stays in the trash, never lost.
        throw KestrinError(
            QStringLiteral("%1 The files %2 could not be put back and are kept in %3.")
                .arg(error.message(), stranded.join(QStringLiteral(", ")), filesFolder(folder, record.id)));
    }
    return record.id;
}

QString keepLeftovers(const QString& prefixPath, TrashRecord record, const QStringList& paths,
                      const QList<TrashKey>& keys)
{
    return keepLeftoversChecked(prefixPath, std::move(record), paths, keys, false);
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
    if (record.action == leftoversAction) {
        return !takenPaths(folderFor(prefixPath), record).isEmpty() ||
               !changedKeys(prefixPath, record, *parseText(record.text)).isEmpty();
    }
    if (record.action == u"menu-removed") {
        const QString folder = folderFor(prefixPath);
        for (qsizetype i = 0; i < record.files.size(); ++i) {
            if (present(keptFile(folder, record.id, i)) && QFileInfo::exists(record.files[i]))
                return true;
        }
        return false;
    }
    const auto hive = HiveFile::open(prefixPath + u'/' + record.hive);
    return hive->current().findKey(keyPath(record.key)) != nullptr;
}

void restore(const QString& prefixPath, const QString& id, bool replace)
{
    const TrashRecord record = read(prefixPath, id);
    if (record.action == leftoversAction) {
        restoreLeftovers(prefixPath, record, replace);
        return;
    }
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
    // The values first, merged into their key, then the files: a run killed in between leaves the record
    // whole, and the next restore merges the same values again and moves the files that are still kept.
    hive->modify([&](HiveDocument& document) {
        if (menuEntry) {
            copyKey(document, *recorded->findKey(path));
            return;
        }
        if (HiveKey* existing = document.findKey(path))
            document.deleteKey(existing);
        copyKey(document, *recorded->findKey(path));
    });
    if (menuEntry)
        returnFiles(folder, record, replace);
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
