#include "details/EntryEditor.h"

#include "base/KestrinError.h"
#include "hive/HiveFile.h"

const QString EntryEditor::Marker = QStringLiteral("*#*#*");

EntryEditor::EntryEditor(const WinePrefix& prefix, RegistryRoot root, const QString& keyPath)
    : m_registry(prefix), m_keyPath(keyPath)
{
    m_registry.RootKey(root);
    // A prefix the user may only read shows its values; saving them then fails with the reason.
    if (!m_registry.OpenKey(keyPath, false) && !m_registry.OpenKeyReadOnly(keyPath))
        return;
    m_registry.GetValueNames(m_valueNames);
    for (const QString& name : std::as_const(m_valueNames)) {
        const QString text = ValueText(name);
        if (text == Marker || (name.isEmpty() && text.isEmpty()))
            continue;
        m_initialRows.append({name, text});
        m_shownTexts.insert(name, text);
    }
}

QString EntryEditor::StoredPath() const
{
    if (m_valueNames.isEmpty())
        return {};
    return rootName(m_registry.rootKey()) + u'\\' + m_keyPath;
}

QString EntryEditor::ValueText(const QString& name)
{
    switch (m_registry.GetDataType(name)) {
    case RegDataType::String:
    case RegDataType::ExpandString:
        return m_registry.ReadString(name);
    case RegDataType::Integer:
        try {
            return QString::number(m_registry.ReadInteger(name));
        } catch (const KestrinError&) {
            return Marker; // an integer of the wrong size is no number to show
        }
    default:
        return Marker;
    }
}

void EntryEditor::WriteRowValue(const Row& row)
{
    const bool existing = m_valueNames.contains(row.name);
    const RegDataType type = existing ? m_registry.GetDataType(row.name) : RegDataType::Other;
    if (type == RegDataType::Integer) {
        bool ok = false;
        const int number = row.text.toInt(&ok, 10);
        if (ok)
            m_registry.WriteInteger(row.name, number);
        return;
    }
    // Wine expands %...% references only in an expandable string: a plain one would break the entry.
    m_registry.writeValue(row.name, RegistryValue::fromString(
                                        row.text, type == RegDataType::ExpandString ? RegType::ExpandSz : RegType::Sz));
}

void EntryEditor::apply(const QList<Row>& rows, const QStringList& deletedNames)
{
    HiveFile::WriteBatch batch;
    for (const Row& row : rows) {
        if (row.name.isEmpty())
            continue;
        const auto shown = m_shownTexts.constFind(row.name);
        if (shown != m_shownTexts.cend() && *shown == row.text)
            continue;
        WriteRowValue(row);
    }
    for (const QString& name : deletedNames)
        m_registry.DeleteValue(name);
    batch.commit();
}
