#pragma once

#include "details/EntryEditor.h"

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QTableWidget;
class ProgramListHost;
class TuduButton;

// The entry editor: the selected entry's string and integer values in a two-column grid of names
// and texts, written back by OK and left untouched by CANCEL, Escape and the close box.
class TfEditDetails : public QDialog
{
    Q_OBJECT

public:
    explicit TfEditDetails(ProgramListHost& host);
    ~TfEditDetails() override;

    // Grid row (from 0) of the last selected cell; -1 when none counts as selected.
    int SelectedRow = -1;
    // Names marked by DELETE KEY, in the order of the clicks.
    QStringList DeletedNames;

    QLabel* leStoredLabel;
    QLineEdit* leStored;
    QLabel* lTitle;
    QTableWidget* vleDetails;
    TuduButton* buAdd;
    TuduButton* buDel;
    TuduButton* buOK;
    TuduButton* buCancel;

    const EntryEditor& editor() const { return *m_editor; }
    // The grid's rows as they stand.
    QList<EntryEditor::Row> rows() const;

    void buAddClick();
    void buDelClick();
    void buOKClick();
    void buCancelClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate(ProgramListHost& host);
    void vleDetailsSelectCell(int row, int previousRow);
    void setRow(int row, const QString& name, const QString& text);
    QString cellText(int row, int column) const;
    bool rowIsBlank(int row) const;
    void removeRow(int row);

    std::unique_ptr<EntryEditor> m_editor;
    bool m_removing = false;
};
