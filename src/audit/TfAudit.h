#pragma once

#include "inventory/AuditReport.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class PrintJob;
class QLabel;
class QPlainTextEdit;
class QRadioButton;
class ProgramListHost;
class TuduButton;

// The audit report window: an editable header, then on save or print the lines of every listed
// program, once. Created without being shown, it also serves the command-line report runs.
class TfAudit : public QDialog
{
    Q_OBJECT

public:
    explicit TfAudit(ProgramListHost& host);
    ~TfAudit() override;

    QLabel* laHeaderName;
    QPlainTextEdit* mAudit;
    QRadioButton* rbShort;
    QRadioButton* rbLong;
    TuduButton* buPrint;
    TuduButton* buSaveFile;
    TuduButton* buCancel;

    void buPrintClick();
    void buSaveFileClick();
    void buCancelClick();

    // The runs without a dialog. Each appends the program lines, reports a failure in the standard
    // error box and closes the window; true when the report was written or printed.
    bool saveToFile(const QString& chosenName);
    bool printOnDefaultPrinter();

    // The text box's lines, a separator line as a single carriage return.
    QStringList reportLines() const;
    // The lines as the text box shows them, a wrapped line giving several.
    QStringList visualLines() const;
    // The file of the last save; empty before one.
    const QString& targetFileName() const { return m_fileName; }

    // Replaces the save dialog: the function returns the chosen name, or nothing for a cancel.
    static void setSaveChoiceForTests(std::function<std::optional<QString>()> choice);

private:
    void FormCreate();
    void appendLines(const QStringList& lines);
    void appendProgramLines();
    bool printWith(const std::function<std::unique_ptr<PrintJob>()>& acquire);
    std::optional<QString> chooseFile();
    void finish(bool done);

    ProgramListHost& m_host;
    QString m_fileName;
};

extern TfAudit* fAudit;
