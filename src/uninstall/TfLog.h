#pragma once

#include "uninstall/UninstallLog.h"

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class TuduButton;

// The log window: the uninstall log as it was when the window opened, with buttons to start the
// log anew, open it in the desktop's editor, print it, and close.
class TfLog : public QDialog
{
    Q_OBJECT

public:
    explicit TfLog(UninstallLog log, QWidget* parent = nullptr);

    // The memo's lines as it shows them: a file line that the memo wraps gives several.
    QStringList visualLines() const;

    QPlainTextEdit* mLog;
    TuduButton* buClear;
    TuduButton* buEdit;
    TuduButton* buPrint;
    TuduButton* buCancel;

    void buClearClick();
    void buEditClick();
    void buPrintClick();
    void buCancelClick();

private:
    void FormCreate();
    void setMemoText(const QString& text);

    UninstallLog m_log;
};
