#include "mainwindow/ProgramListView.h"

#include "mainwindow/ProgramIconModel.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QSet>
#include <QTreeView>

#include <array>

namespace {

constexpr std::array<int, 5> ntColumnWidths{150, 70, 90, 70, 270};
constexpr std::array<int, 2> nineXColumnWidths{150, 270};
// A cell of the large-icon grid: the decoration and up to three wrapped caption lines.
constexpr QSize largeIconGrid{96, 80};
// Small icons stand in rows of equal cells, as natively; a longer name is elided.
constexpr QSize smallIconGrid{170, 20};

void setUpView(QAbstractItemView* view)
{
    view->setFrameShape(QFrame::NoFrame);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setDragEnabled(false);
    // The selection keeps its colour when the list loses the focus.
    QPalette palette = view->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    view->setPalette(palette);
}

} // namespace

ProgramListView::ProgramListView(QWidget* parent)
    : QStackedWidget(parent), m_icons(new QListView(this)), m_details(new QTreeView(this))
{
    setObjectName(QStringLiteral("lvPrograms"));
    setFrameShape(QFrame::NoFrame);
    m_icons->setObjectName(QStringLiteral("lvProgramsIcons"));
    m_details->setObjectName(QStringLiteral("lvProgramsDetails"));
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_icons), static_cast<QAbstractItemView*>(m_details)}) {
        setUpView(view);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        connect(view, &QAbstractItemView::pressed, this, &ProgramListView::onPressed);
        connect(view, &QAbstractItemView::doubleClicked, this, &ProgramListView::onDoubleClicked);
        addWidget(view);
    }

    m_details->setRootIsDecorated(false);
    m_details->setItemsExpandable(false);
    m_details->setUniformRowHeights(true);
    m_details->setAllColumnsShowFocus(true);
    m_details->setSortingEnabled(false); // the list keeps its own order; a header click changes nothing
    m_details->setIconSize(ProgramIconModel::SmallDecoration);
    m_details->header()->setStretchLastSection(false);
    m_details->header()->setSectionsMovable(false);

    setViewStyle(LargeIcons);
}

void ProgramListView::setModel(QAbstractItemModel* model)
{
    QItemSelectionModel* previous = m_icons->selectionModel();
    m_icons->setModel(model);
    m_details->setModel(model);
    // setModel() gives each view a selection model of its own; both are replaced by the shared one.
    QSet<QItemSelectionModel*> replaced{previous, m_icons->selectionModel(), m_details->selectionModel()};
    replaced.remove(nullptr);
    auto* shared = new QItemSelectionModel(model, this);
    m_icons->setSelectionModel(shared);
    m_details->setSelectionModel(shared);
    qDeleteAll(replaced);
    connect(shared, &QItemSelectionModel::selectionChanged, this, &ProgramListView::onSelectionChanged);

    const int columns = model ? model->columnCount() : 0;
    const auto widths = [columns](int column) {
        return columns == int(ntColumnWidths.size()) ? ntColumnWidths[size_t(column)]
                                                     : nineXColumnWidths[size_t(std::min(column, 1))];
    };
    for (int column = 0; column < columns; ++column)
        m_details->setColumnWidth(column, widths(column));
}

void ProgramListView::setViewStyle(ViewStyle style)
{
    // While a menu is open the focus is the menu's; the window still remembers the list as the
    // widget that gets it back.
    const bool hadFocus = currentView()->hasFocus() || window()->focusWidget() == currentView();
    m_style = style;
    if (style == Details) {
        setCurrentWidget(m_details);
    } else {
        // setViewMode() resets flow, wrapping and movement, so those follow it.
        m_icons->setViewMode(style == LargeIcons ? QListView::IconMode : QListView::ListMode);
        m_icons->setMovement(QListView::Static);
        m_icons->setResizeMode(QListView::Adjust);
        m_icons->setWrapping(true);
        m_icons->setFlow(style == List ? QListView::TopToBottom : QListView::LeftToRight);
        m_icons->setWordWrap(style == LargeIcons);
        m_icons->setIconSize(style == LargeIcons ? ProgramIconModel::LargeDecoration
                                                 : ProgramIconModel::SmallDecoration);
        m_icons->setGridSize(style == LargeIcons ? largeIconGrid : style == SmallIcons ? smallIconGrid : QSize());
        // Every item of the large-icon style has the same size, its caption cut to one line, so layout
        // asks one item instead of each. The other styles give each item the width of its caption.
        m_icons->setUniformItemSizes(style == LargeIcons);
        m_icons->setSpacing(style == List ? 2 : 0);
        setCurrentWidget(m_icons);
    }
    setFocusProxy(currentView());
    if (hadFocus)
        currentView()->setFocus();
    currentView()->viewport()->update();
}

QAbstractItemView* ProgramListView::currentView() const
{
    return m_style == Details ? static_cast<QAbstractItemView*>(m_details) : m_icons;
}

int ProgramListView::selectedRow() const
{
    const QItemSelectionModel* selection = m_icons->selectionModel();
    if (!selection)
        return -1;
    const QModelIndexList indexes = selection->selectedIndexes();
    return indexes.isEmpty() ? -1 : indexes.first().row();
}

void ProgramListView::selectRow(int row)
{
    QItemSelectionModel* selection = m_icons->selectionModel();
    if (!selection || !selection->model())
        return;
    const QModelIndex index = selection->model()->index(row, 0);
    if (!index.isValid()) {
        selection->clearSelection();
        return;
    }
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ProgramListView::ensureVisible(int row)
{
    QAbstractItemView* view = currentView();
    if (view->model())
        view->scrollTo(view->model()->index(row, 0), QAbstractItemView::EnsureVisible);
}

void ProgramListView::onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    // One call per row, the row that lost the selection first, so the note ends with the new row.
    for (const QItemSelection* part : {&deselected, &selected}) {
        int last = -1;
        for (const QModelIndex& index : part->indexes()) {
            if (index.row() != last)
                emit itemSelectionChanged(last = index.row());
        }
    }
}

QModelIndex ProgramListView::rowAt(QAbstractItemView* view, const QPoint& pos) const
{
    QModelIndex index = view->indexAt(pos);
    if (!index.isValid() && view == m_details) {
        // Past the last column a details row still counts as the row, as with full-row selection natively.
        const QHeaderView* header = m_details->header();
        const int right = header->length() - header->offset() - 1;
        if (right >= 0 && pos.x() > right)
            index = view->indexAt(QPoint(right, pos.y()));
    }
    return index.isValid() ? index.siblingAtColumn(0) : QModelIndex();
}

bool ProgramListView::eventFilter(QObject* watched, QEvent* event)
{
    QAbstractItemView* view = nullptr;
    if (watched == m_icons->viewport() || watched == m_icons)
        view = m_icons;
    else if (watched == m_details->viewport() || watched == m_details)
        view = m_details;
    if (!view)
        return QStackedWidget::eventFilter(watched, event);

    if (watched == view) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                emit enterPressed();
                return true;
            }
        }
        return QStackedWidget::eventFilter(watched, event);
    }

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        m_pressButton = mouse->button();
        m_pressGlobal = mouse->globalPosition().toPoint();
        const QPoint pos = mouse->position().toPoint();
        const QModelIndex row = rowAt(view, pos);
        if (!row.isValid()) {
            // The native list drops its selection on a press on empty space; the item view keeps it.
            selectRow(-1);
        } else if (!view->indexAt(pos).isValid()) {
            // The blank end of a details row: the item view ignores it, so act for it.
            selectRow(row.row());
            if (event->type() == QEvent::MouseButtonDblClick)
                onDoubleClicked(row);
            else
                onPressed(row);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            emit clicked();
        break;
    default:
        break;
    }
    return QStackedWidget::eventFilter(watched, event);
}

void ProgramListView::onPressed(const QModelIndex& /*index*/)
{
    if (m_pressButton == Qt::RightButton && selectedRow() >= 0)
        emit rightPressed(m_pressGlobal);
}

void ProgramListView::onDoubleClicked(const QModelIndex& /*index*/)
{
    if (m_pressButton == Qt::LeftButton && selectedRow() >= 0)
        emit doubleClicked();
}
