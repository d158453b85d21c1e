#pragma once

#include "inventory/RegistryAccess.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The values of one uninstall entry as the entry editor shows them: string and integer values as
// texts, and the writing back of the edited rows. Holds the entry's key open for its lifetime.
class EntryEditor
{
public:
    struct Row
    {
        QString name;
        QString text;
        friend bool operator==(const Row&, const Row&) = default;
    };

    // Stands for a value that gets no row; never shown, never written.
    static const QString Marker;

    EntryEditor(const WinePrefix& prefix, RegistryRoot root, const QString& keyPath);

    // The key's value names when it was opened, in stored order; empty when it could not be opened.
    const QStringList& ValueNames() const { return m_valueNames; }
    // "<root>\<key path>", or empty when the key has no values.
    QString StoredPath() const;
    // The rows the grid starts with: every value with a text, the unnamed one only when its text is
    // not empty.
    QList<Row> initialRows() const { return m_initialRows; }

    // The text of a string or integer value; Marker for any other type and a missing value.
    QString ValueText(const QString& name);

    // Writes the named rows in order, then deletes `deletedNames`. A row whose name and text are as
    // they were shown at the start is left alone; an integer value takes only a text that reads as a
    // 32-bit integer; an expandable string stays expandable. One save: when anything fails, nothing
    // is written and KestrinError says why.
    void apply(const QList<Row>& rows, const QStringList& deletedNames);

private:
    void WriteRowValue(const Row& row);

    RegistryAccess m_registry;
    QString m_keyPath;
    QStringList m_valueNames;
    QList<Row> m_initialRows;
    QHash<QString, QString> m_shownTexts; // of the values that got a row
};
