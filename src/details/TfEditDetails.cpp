#include "details/TfEditDetails.h"

#include "controls/GuardedCall.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "inventory/ProgramListModel.h"
#include "prefix/WinePrefix.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

namespace {

constexpr int ClientWidth = 524;
constexpr int ClientHeight = 327;

} // namespace

TfEditDetails::TfEditDetails(ProgramListHost& host) : QDialog(host.hostWindow())
{
    setObjectName(QStringLiteral("fEditDetails"));
    setWindowTitle(QStringLiteral("Edit Program Details"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    leStoredLabel = new QLabel(QStringLiteral("The program uninstall information is stored under : "), this);
    leStoredLabel->setObjectName(QStringLiteral("leStoredLabel"));
    leStoredLabel->move(8, 8);
    leStored = new QLineEdit(this);
    leStored->setObjectName(QStringLiteral("leStored"));
    leStored->setGeometry(8, 24, 513, 21);
    leStoredLabel->setBuddy(leStored);
    lTitle = new QLabel(QStringLiteral("Uninstall information :"), this);
    lTitle->setObjectName(QStringLiteral("lTitle"));
    lTitle->move(8, 62);

    vleDetails = new QTableWidget(0, 2, this);
    vleDetails->setObjectName(QStringLiteral("vleDetails"));
    vleDetails->setGeometry(8, 80, 512, 153);
    vleDetails->setHorizontalHeaderLabels({QStringLiteral("Registry Key"), QStringLiteral("Registry Value")});
    vleDetails->verticalHeader()->hide();
    vleDetails->setColumnWidth(0, 150);
    vleDetails->verticalHeader()->setDefaultSectionSize(18);
    vleDetails->horizontalHeader()->setStretchLastSection(true);
    vleDetails->setSelectionMode(QAbstractItemView::SingleSelection);
    vleDetails->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                                QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    QFont gridFont(QStringLiteral("MS Sans Serif"));
    gridFont.setPixelSize(12);
    vleDetails->setFont(gridFont);
    vleDetails->installEventFilter(this);
    connect(vleDetails, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previousRow, int) { vleDetailsSelectCell(row, previousRow); });

    const QString small = QStringLiteral("MS Sans Serif");
    const QString large = QStringLiteral("Arial");
    buAdd = TuduButton::create(this, "buAdd", QStringLiteral("ADD KEY"), QRect(360, 240, 73, 25), 11, small);
    buDel = TuduButton::create(this, "buDel", QStringLiteral("DELETE KEY"), QRect(440, 240, 81, 25), 11, small);
    buOK = TuduButton::create(this, "buOK", QStringLiteral("OK"), QRect(184, 288, 89, 32), 16, large);
    buCancel = TuduButton::create(this, "buCancel", QStringLiteral("CANCEL"), QRect(280, 288, 89, 32), 16, large);
    connect(buAdd, &TuduButton::clicked, this, &TfEditDetails::buAddClick);
    connect(buDel, &TuduButton::clicked, this, &TfEditDetails::buDelClick);
    connect(buOK, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buOKClick(); }); });
    connect(buCancel, &TuduButton::clicked, this, &TfEditDetails::buCancelClick);

    // Escape closes the window even while a cell is being edited: the form sees keys before the cell's editor.
    qApp->installEventFilter(this);

    FormCreate(host);
    vleDetails->setFocus();
}

TfEditDetails::~TfEditDetails()
{
    qApp->removeEventFilter(this);
}

void TfEditDetails::FormCreate(ProgramListHost& host)
{
    const int selected = host.selectedIndex();
    const InstalledProgram program = selected >= 0 ? host.programList().at(selected) : InstalledProgram{};
    m_editor = std::make_unique<EntryEditor>(host.prefix(), program.Root, program.KeyPath);

    const QList<EntryEditor::Row> initial = m_editor->initialRows();
    const QSignalBlocker quiet(vleDetails);
    vleDetails->setRowCount(std::max<int>(1, int(initial.size())));
    for (int row = 0; row < vleDetails->rowCount(); ++row) {
        setRow(row, row < initial.size() ? initial[row].name : QString(),
               row < initial.size() ? initial[row].text : QString());
    }
    SelectedRow = -1;
    if (!m_editor->ValueNames().isEmpty()) {
        const QString first = m_editor->ValueNames().constFirst();
        for (int row = 0; row < initial.size() && SelectedRow < 0; ++row) {
            if (initial[row].name == first)
                SelectedRow = row;
        }
    }
    vleDetails->setCurrentCell(std::max(SelectedRow, 0), 0);
    leStored->setText(m_editor->StoredPath());
    leStored->setCursorPosition(0); // the root's name first
}

void TfEditDetails::setRow(int row, const QString& name, const QString& text)
{
    vleDetails->setItem(row, 0, new QTableWidgetItem(name));
    vleDetails->setItem(row, 1, new QTableWidgetItem(text));
}

QString TfEditDetails::cellText(int row, int column) const
{
    const QTableWidgetItem* item = vleDetails->item(row, column);
    return item ? item->text() : QString();
}

bool TfEditDetails::rowIsBlank(int row) const
{
    return cellText(row, 0).isEmpty() && cellText(row, 1).isEmpty();
}

QList<EntryEditor::Row> TfEditDetails::rows() const
{
    QList<EntryEditor::Row> result;
    for (int row = 0; row < vleDetails->rowCount(); ++row)
        result.append({cellText(row, 0), cellText(row, 1)});
    return result;
}

void TfEditDetails::removeRow(int row)
{
    // The grid always keeps one row.
    const QSignalBlocker quiet(vleDetails);
    m_removing = true;
    if (vleDetails->rowCount() <= 1)
        setRow(0, QString(), QString());
    else
        vleDetails->removeRow(row);
    m_removing = false;
}

void TfEditDetails::vleDetailsSelectCell(int row, int previousRow)
{
    if (m_removing)
        return;
    // A blank row is dropped when the selection leaves it.
    if (previousRow >= 0 && previousRow != row && previousRow < vleDetails->rowCount() && rowIsBlank(previousRow) &&
        vleDetails->rowCount() > 1) {
        removeRow(previousRow);
        if (row > previousRow)
            --row;
        const QSignalBlocker quiet(vleDetails);
        vleDetails->setCurrentCell(row, std::max(vleDetails->currentColumn(), 0));
    }
    SelectedRow = row;
}

void TfEditDetails::buAddClick()
{
    const int current = vleDetails->currentRow();
    if (current >= 0 && rowIsBlank(current))
        return;
    const int row = vleDetails->rowCount();
    const QSignalBlocker quiet(vleDetails);
    vleDetails->insertRow(row);
    setRow(row, QString(), QString());
}

void TfEditDetails::buDelClick()
{
    if (rowIsBlank(0) || SelectedRow < 0 || SelectedRow >= vleDetails->rowCount())
        return;
    // A row with neither name nor text stands for no value: marking it would delete the default value.
    if (!rowIsBlank(SelectedRow))
        DeletedNames.append(cellText(SelectedRow, 0));
    const bool wasLast = SelectedRow == vleDetails->rowCount() - 1;
    removeRow(SelectedRow);
    if (wasLast && SelectedRow > 0)
        --SelectedRow;
    const QSignalBlocker quiet(vleDetails);
    vleDetails->setCurrentCell(SelectedRow, std::max(vleDetails->currentColumn(), 0));
}

void TfEditDetails::buOKClick()
{
    // A cell still being edited counts with its new text.
    if (QWidget* focus = vleDetails->focusWidget(); focus && focus != vleDetails)
        vleDetails->setFocus();
    m_editor->apply(rows(), DeletedNames);
    accept();
}

void TfEditDetails::buCancelClick()
{
    reject();
}

bool TfEditDetails::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->window() == this) {
            buCancelClick();
            return true;
        }
    }
    if (watched == vleDetails && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int current = vleDetails->currentRow();
        const bool named = current >= 0 && !cellText(current, 0).isEmpty();
        if (key->key() == Qt::Key_Insert && key->modifiers() == Qt::NoModifier) {
            if (named) {
                const QSignalBlocker quiet(vleDetails);
                vleDetails->insertRow(current);
                setRow(current, QString(), QString());
                vleDetails->setCurrentCell(current, std::max(vleDetails->currentColumn(), 0));
                SelectedRow = current;
            }
            return true;
        }
        if (key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier && current == vleDetails->rowCount() - 1) {
            if (named) {
                {
                    const QSignalBlocker quiet(vleDetails);
                    vleDetails->insertRow(current + 1);
                    setRow(current + 1, QString(), QString());
                }
                vleDetails->setCurrentCell(current + 1, std::max(vleDetails->currentColumn(), 0));
            }
            return true;
        }
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::ControlModifier) {
            // Only the grid's row goes: its value is neither rewritten nor deleted.
            if (current >= 0) {
                removeRow(current);
                const int row = std::min(current, vleDetails->rowCount() - 1);
                const QSignalBlocker quiet(vleDetails);
                vleDetails->setCurrentCell(row, std::max(vleDetails->currentColumn(), 0));
                SelectedRow = row;
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
