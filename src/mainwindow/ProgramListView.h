#pragma once

#include <QPoint>
#include <QStackedWidget>

class QAbstractItemModel;
class QAbstractItemView;
class QItemSelection;
class QListView;
class QModelIndex;
class QTreeView;

// lvPrograms: the program list in four view styles. A QListView serves large icons, small icons and
// list; a QTreeView serves details. Both show the same model through one selection model, so the
// selection survives a change of style. Single selection, no editing, the selection stays visible
// without focus, and a press on empty space takes the selection away as in the native list.
class ProgramListView : public QStackedWidget
{
    Q_OBJECT

public:
    enum ViewStyle
    {
        LargeIcons = 0,
        SmallIcons = 1,
        List = 2,
        Details = 3,
    };

    explicit ProgramListView(QWidget* parent = nullptr);

    // Shows `model` (not owned) in both views, with the details columns at their designed widths.
    void setModel(QAbstractItemModel* model);

    ViewStyle viewStyle() const { return m_style; }
    void setViewStyle(ViewStyle style);

    // The view of the current style; the other one is hidden.
    QAbstractItemView* currentView() const;
    QListView* iconView() const { return m_icons; }
    QTreeView* detailsView() const { return m_details; }

    // The selected row, -1 when there is none.
    int selectedRow() const;
    // Makes `row` the single selected (and current) row; -1 clears the selection. Focus does not move.
    void selectRow(int row);
    // Scrolls the current view until the row is wholly visible.
    void ensureVisible(int row);

signals:
    // For each row that gains or loses the selection.
    void itemSelectionChanged(int row);
    // After every left click on the list, items or empty space.
    void clicked();
    void doubleClicked();
    void enterPressed();
    void rightPressed(const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void onPressed(const QModelIndex& index);
    void onDoubleClicked(const QModelIndex& index);
    // The row under a press, the whole width of a details row counting as the row.
    QModelIndex rowAt(QAbstractItemView* view, const QPoint& pos) const;

    QListView* m_icons;
    QTreeView* m_details;
    ViewStyle m_style = LargeIcons;
    Qt::MouseButton m_pressButton = Qt::NoButton;
    QPoint m_pressGlobal;
};
