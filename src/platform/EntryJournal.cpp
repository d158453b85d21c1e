#include "EntryJournal.h"

#include "AtomicFile.h"
#include "HiveDocument.h"
#include "HiveSyntax.h"
#include "KestrinError.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <memory>

namespace EntryJournal {

namespace {

const QList<QStringList> uninstallKeys{
    {QStringLiteral("Software"), QStringLiteral("Microsoft"), QStringLiteral("Windows"),
     QStringLiteral("CurrentVersion"), QStringLiteral("Uninstall")},
    {QStringLiteral("Software"), QStringLiteral("Wow6432Node"), QStringLiteral("Microsoft"), QStringLiteral("Windows"),
     QStringLiteral("CurrentVersion"), QStringLiteral("Uninstall")},
};

// The entry a changed key belongs to: an uninstall key's subkey, or empty.
QStringList entryOf(const QStringList& path)
{
    for (const QStringList& parent : uninstallKeys) {
        if (path.size() <= parent.size())
            continue;
        bool under = true;
        for (qsizetype i = 0; i < parent.size() && under; ++i)
            under = HiveSyntax::compareNames(path[i], parent[i]) == 0;
        if (under)
            return path.first(parent.size() + 1);
    }
    return {};
}

QString rootNameOf(const QString& hivePath)
{
    return QFileInfo(hivePath).fileName() == QStringLiteral("system.reg") ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                                                          : QStringLiteral("HKEY_CURRENT_USER");
}

// regedit's string form: backslash and quote escaped; anything else unusual goes as hex.
bool appendRegString(QString& out, const RegistryValue& value)
{
    const QByteArray& data = value.data;
    if (data.size() < 2 || data.size() % 2 || data.back() != 0 || data[data.size() - 2] != 0)
        return false;
    const QString text = value.toText();
    if (text.size() != data.size() / 2 - 1)
        return false; // an embedded NUL
    for (QChar c : text) {
        if (c.unicode() < 0x20)
            return false;
    }
    out += u'"';
    for (QChar c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return true;
}

void appendRegValue(QString& out, const HiveValue& v)
{
    if (v.name.isEmpty()) {
        out += u'@';
    } else {
        out += u'"';
        for (QChar c : v.name) {
            if (c == u'\\' || c == u'"')
                out += u'\\';
            out += c;
        }
        out += u'"';
    }
    out += u'=';
    const RegistryValue& value = v.value;
    if (value.type == RegType::Sz && appendRegString(out, value))
        return;
    if (value.type == RegType::Dword && value.data.size() == 4) {
        out += QStringLiteral("dword:%1").arg(value.toDword(), 8, 16, QLatin1Char('0'));
        return;
    }
    out += value.type == RegType::Binary ? QStringLiteral("hex:") : QStringLiteral("hex(%1):").arg(value.type, 0, 16);
    for (qsizetype i = 0; i < value.data.size(); ++i) {
        if (i)
            out += u',';
        out += QStringLiteral("%1").arg(quint8(value.data[i]), 2, 16, QLatin1Char('0'));
    }
}

void appendRegKey(QString& out, const QString& rootName, const HiveKey& key)
{
    out += QStringLiteral("\r\n[") + rootName + u'\\' + key.path().join(u'\\') + QStringLiteral("]\r\n");
    for (const HiveValue& v : key.values()) {
        appendRegValue(out, v);
        out += QStringLiteral("\r\n");
    }
    for (const auto& subkey : key.subkeys())
        appendRegKey(out, rootName, *subkey);
}

QString fieldText(QString text)
{
    // One line per field, whatever the name holds.
    return text.replace(u'\r', u' ').replace(u'\n', u' ');
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

QByteArray regFileText(const QString& rootName, const HiveKey& key)
{
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n");
    appendRegKey(text, rootName, key);
    text += QStringLiteral("\r\n");
    QByteArray bytes("\xff\xfe", 2);
    for (QChar c : std::as_const(text)) {
        bytes += char(c.unicode() & 0xff);
        bytes += char(c.unicode() >> 8);
    }
    return bytes;
}

void recordChanges(const QString& hivePath, const QString& prefixPath, const HiveDocument& changed)
{
    QList<QStringList> entries;
    for (const QStringList& path : changed.changedPaths()) {
        const QStringList entry = entryOf(path);
        if (!entry.isEmpty() && !entries.contains(entry))
            entries << entry;
    }
    if (entries.isEmpty())
        return;

    const QString folder = folderFor(prefixPath);
    const QString rootName = rootNameOf(hivePath);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int serial = 0;
    for (const QStringList& entry : std::as_const(entries)) {
        // The entry as the file has it now: what the record keeps.
        const std::unique_ptr<HiveDocument> before = changed.original(entry);
        const HiveKey* old = before ? before->findKey(entry) : nullptr;
        const QByteArray text = old ? before->keyText(old) : QByteArray();
        if (text.isEmpty())
            continue; // a new entry: nothing to bring back
        const HiveValue* name = old->findValue(QStringLiteral("DisplayName"));
        const QString action = changed.findKey(entry) ? QStringLiteral("edited") : QStringLiteral("deleted");
        QString id;
        do // saves within one millisecond must not share a name
            id = now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QStringLiteral("-%1").arg(++serial);
        while (QFileInfo::exists(folder + u'/' + id + QStringLiteral(".record")));
        const QString record = QStringLiteral("Kestrin entry record 1\n") + QStringLiteral("Time: ") +
                               now.toString(Qt::ISODateWithMs) + QStringLiteral("\nAction: ") + action +
                               QStringLiteral("\nPrefix: ") + fieldText(QDir::cleanPath(prefixPath)) +
                               QStringLiteral("\nHive: ") + QFileInfo(hivePath).fileName() + QStringLiteral("\nKey: ") +
                               fieldText(entry.join(u'\\')) + QStringLiteral("\nName: ") +
                               fieldText(name ? name->value.toText() : QString()) + QStringLiteral("\n\n");
        try {
            if (!QDir().mkpath(folder))
                throw KestrinError(QStringLiteral("cannot create the folder"));
            AtomicFile::replace(folder + u'/' + id + QStringLiteral(".reg"), regFileText(rootName, *old));
            // The record last: a record on disk always has its text whole.
            AtomicFile::replace(folder + u'/' + id + QStringLiteral(".record"), QByteArray(record.toUtf8() + text));
        } catch (const KestrinError& error) {
            throw KestrinError(
                QStringLiteral("Kestrin keeps a copy of every entry it deletes or changes, and could not "
                               "write the copy of %1 to %2 (%3). Nothing was changed.")
                    .arg(entry.join(u'\\'), folder, error.message()));
        }
    }
}

} // namespace EntryJournal
