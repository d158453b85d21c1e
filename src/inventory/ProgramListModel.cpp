#include "inventory/ProgramListModel.h"

#include "inventory/UsageCache.h"

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
    ++m_generation;
    endResetModel();
}

void ProgramListModel::beginBatch()
{
    if (m_inBatch)
        return;
    m_inBatch = true;
    ++m_generation;
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

void ProgramListModel::setMeasured(int row, qint64 bytes, const QDateTime& lastUse)
{
    if (!m_ntFamily || row < 0 || row >= count())
        return;
    InstalledProgram& p = m_items[size_t(row)];
    int first = columnCount();
    int last = -1;
    if (p.SizeFrom == SizeSource::None && bytes > 0) {
        p.Size = UsageCache::FormatUsageSize(bytes);
        p.SizeFrom = SizeSource::Folder;
        first = last = SizeColumn;
    }
    if (p.LastUsed.isEmpty() && lastUse.isValid()) {
        p.LastUsed = UsageCache::FormatUsageDate(UsageCache::fileTimeOf(lastUse));
        first = std::min(first, int(LastUsedColumn));
        last = std::max(last, int(LastUsedColumn));
    }
    if (last >= 0)
        emit dataChanged(index(row, first), index(row, last), {Qt::DisplayRole, Qt::ToolTipRole});
}

QString ProgramListModel::sizeSourceText(const InstalledProgram& p)
{
    switch (p.SizeFrom) {
    case SizeSource::UsageCache:
        return QStringLiteral("%1, as the system's cache of sizes records it").arg(p.Size);
    case SizeSource::Estimate:
        return QStringLiteral("%1, as the installer estimated it").arg(p.Size);
    case SizeSource::Folder:
        return QStringLiteral("%1, measured on disk from the program's folder").arg(p.Size);
    case SizeSource::None:
        break;
    }
    return QString();
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
    case Qt::ToolTipRole:
        if (index.column() == SizeColumn && m_ntFamily)
            return sizeSourceText(p);
        [[fallthrough]];
    case Qt::DisplayRole:
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
