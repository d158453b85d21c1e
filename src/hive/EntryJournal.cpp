#include "hive/EntryJournal.h"

#include "base/KestrinError.h"
#include "hive/EntryTrash.h"
#include "hive/HiveDocument.h"
#include "hive/HiveSyntax.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

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

void appendRegKey(QString& out, const QString& rootName, const HiveKey& top)
{
    // A key with subkeys and no values of its own needs no line: importing its subkeys makes it.
    forEachKey(top, [&](const HiveKey& key) {
        if (key.values().empty() && !key.subkeys().empty() && &key != &top)
            return;
        out += QStringLiteral("\r\n[") + rootName + u'\\' + key.path().join(u'\\') + QStringLiteral("]\r\n");
        for (const HiveValue& v : key.values()) {
            appendRegValue(out, v);
            out += QStringLiteral("\r\n");
        }
    });
}

} // namespace

bool isUninstallEntry(const QStringList& path)
{
    return entryOf(path).size() == path.size();
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

    const QString rootName = rootNameOf(hivePath);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QStringList& entry : std::as_const(entries)) {
        // The entry as the file has it now: what the record keeps.
        const std::unique_ptr<HiveDocument> before = changed.original(entry);
        const HiveKey* old = before ? before->findKey(entry) : nullptr;
        TrashRecord record;
        record.text = old ? before->keyText(old) : QByteArray();
        if (record.text.isEmpty())
            continue; // a new entry: nothing to bring back
        const HiveValue* name = old->findValue(QStringLiteral("DisplayName"));
        record.time = now;
        record.action = changed.findKey(entry) ? QStringLiteral("edited") : QStringLiteral("deleted");
        record.prefix = QDir::cleanPath(prefixPath);
        record.hive = QFileInfo(hivePath).fileName();
        record.key = entry.join(u'\\');
        record.name = name ? name->value.toText() : QString();
        try {
            EntryTrash::write(prefixPath, record, regFileText(rootName, *old));
        } catch (const KestrinError& error) {
            throw KestrinError(
                QStringLiteral("Kestrin keeps a copy of every entry it deletes or changes, and could not "
                               "write the copy of %1 to %2 (%3). Nothing was changed.")
                    .arg(record.key, EntryTrash::folderFor(prefixPath), error.message()));
        }
    }
}

} // namespace EntryJournal
