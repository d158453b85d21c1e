#pragma once

#include "inventory/InstalledProgram.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QDateTime>

#include <vector>

// The program list: one row per uninstall entry, always sorted by name with a locale-aware,
// case-sensitive comparison fixed for the run. The views show it; every window reads its
// entries from it. Only whole scans change it.
class ProgramListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role
    {
        IconIndexRole = Qt::UserRole + 1, // int, index into the system icon list
        StateImageRole,                   // int, -1 or the warning icon's index
        KeyPathRole,                      // QString
    };
    enum Column
    {
        NameColumn = 0,
        SizeColumn = 1, // NT family only, as is LastUsedColumn
        LastUsedColumn = 2,
    };

    // `ntFamily` decides the columns: Name, Size, Last Used On, Frequency, Uninstall Command, or
    // on the 9x family just Name and Uninstall Command.
    explicit ProgramListModel(bool ntFamily = true, QObject* parent = nullptr);

    // The sub-item of the command: 3 on the NT family, 0 on the 9x family.
    int CommandColumn() const { return m_ntFamily ? 3 : 0; }
    bool isNtFamily() const { return m_ntFamily; }

    int count() const { return int(m_items.size()); }
    const InstalledProgram& at(int row) const { return m_items[size_t(row)]; }
    // The text of sub-item `subItem` of a row (0 to 2 the usage texts, CommandColumn the command).
    QString subItem(int row, int subItem) const;
    // The size with where it comes from, for a tooltip; empty without a size.
    static QString sizeSourceText(const InstalledProgram& program);

    // A scan: clear(), then beginBatch(), append() per entry, endBatch(). Views see only the
    // finished, sorted list.
    void clear();
    void beginBatch();
    void append(InstalledProgram program);
    void endBatch();
    // Counts the scans: a result computed for a row of an earlier scan must not land on this one's.
    quint64 generation() const { return m_generation; }

    // Fills in what measuring the program's folder found, where the row has nothing better: the size
    // when neither the usage cache nor the installer gave one, the last use when the cache gave none.
    // Rows keep their places: the list stays sorted by name.
    void setMeasured(int row, qint64 bytes, const QDateTime& lastUse);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    bool m_ntFamily;
    bool m_inBatch = false;
    quint64 m_generation = 0;
    QCollator m_collator;
    std::vector<InstalledProgram> m_items;
};
