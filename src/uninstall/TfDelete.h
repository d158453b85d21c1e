#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class ProgramListHost;
class TuduButton;

// The remove-entry window: deletes the selected entry's key without running anything, after a
// warning; or hands over to the uninstall runner instead.
class TfDelete : public QDialog
{
    Q_OBJECT

public:
    explicit TfDelete(ProgramListHost& host);

    // The warning the memo holds under the question, one item per line.
    static const QStringList& warningLines();

    QWidget* paPicture;
    QLabel* imgDel;
    QPlainTextEdit* mWarning;
    TuduButton* buTryUninstal;
    TuduButton* buDelete;
    TuduButton* buCancel;

    void buTryUninstalClick();
    void buDeleteClick();
    void buCancelClick();

private:
    void FormCreate();

    ProgramListHost& m_host;
};
