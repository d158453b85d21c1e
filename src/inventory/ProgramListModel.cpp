#include "inventory/ProgramListModel.h"

#include <QLocale>

#include <algorithm>

namespace {

// The user's collation; in the C or POSIX locale, which has none of its own and would sort by code
// point ("Zebra" before "apple", accented letters last), the default Unicode collation, which English
// uses unchanged.
QCollator listCollator()
{
    const QLocale locale;
    return QCollator(locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale);
}

} // namespace

ProgramListModel::ProgramListModel(bool ntFamily, QObject* parent)
    : QAbstractTableModel(parent), m_ntFamily(ntFamily), m_collator(listCollator())
{
    m_collator.setCaseSensitivity(Qt::CaseSensitive);
    m_collator.setNumericMode(false);
}

QString ProgramListModel::subItem(int row, int subItem) const
{
    const InstalledProgram& p = at(row);
    if (subItem == CommandColumn())
        return p.UninstallCommand;
    if (!m_ntFamily)
        return QString();
    switch (subItem) {
    case 0:
        return p.Size;
    case 1:
        return p.LastUsed;
    case 2:
        return p.Frequency;
    default:
        return QString();
    }
}

void ProgramListModel::clear()
{
    beginResetModel();
    m_items.clear();
    endResetModel();
}

void ProgramListModel::beginBatch()
{
    if (m_inBatch)
        return;
    m_inBatch = true;
    beginResetModel();
}

void ProgramListModel::append(InstalledProgram program)
{
    if (!m_inBatch) {
        // Outside a batch an item goes straight to its sorted place.
        const auto it = std::upper_bound(m_items.begin(), m_items.end(), program,
                                         [this](const InstalledProgram& a, const InstalledProgram& b) {
                                             return m_collator.compare(a.Name, b.Name) < 0;
                                         });
        const int row = int(it - m_items.begin());
        beginInsertRows({}, row, row);
        m_items.insert(it, std::move(program));
        endInsertRows();
        return;
    }
    m_items.push_back(std::move(program));
}

void ProgramListModel::endBatch()
{
    if (!m_inBatch)
        return;
    // Sort keys make the sort of a large list cheap; equal names keep the order they came in.
    std::vector<std::pair<QCollatorSortKey, size_t>> keys;
    keys.reserve(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i)
        keys.emplace_back(m_collator.sortKey(m_items[i].Name), i);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    std::vector<InstalledProgram> sorted;
    sorted.reserve(m_items.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(m_items[key.second]));
    m_items = std::move(sorted);
    m_inBatch = false;
    endResetModel();
}

int ProgramListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || m_inBatch ? 0 : count();
}

int ProgramListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : (m_ntFamily ? 5 : 2);
}

QVariant ProgramListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const InstalledProgram& p = at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == NameColumn)
            return p.Name;
        return subItem(index.row(), index.column() - 1);
    case IconIndexRole:
        return p.IconIndex;
    case StateImageRole:
        return p.UninstallerMissing;
    case KeyPathRole:
        return p.KeyPath;
    default:
        return {};
    }
}

QVariant ProgramListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const ntCaptions[] = {"Name", "Size", "Last Used On", "Frequency", "Uninstall Command"};
    static const char* const nineXCaptions[] = {"Name", "Uninstall Command"};
    if (section < 0 || section >= columnCount())
        return {};
    return QString::fromLatin1(m_ntFamily ? ntCaptions[section] : nineXCaptions[section]);
}
