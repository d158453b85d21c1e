#pragma once

#include "details/DetailPage.h"

#include <QDialog>

class QLabel;
class QScrollArea;
class ProgramListHost;
class TuduButton;

// The details window: the selected entry's values as a read-only page of rows, built once at
// creation. Web addresses, files and folders are links the shell opens; the uninstall and modify
// commands are links that start the command under Wine.
class TfDetails : public QDialog
{
    Q_OBJECT

public:
    explicit TfDetails(ProgramListHost& host);
    ~TfDetails() override;

    int ShownIndex = -1;
    bool CommandRun = false;

    QScrollArea* sbDetails;
    TuduButton* buOK;

    // The page's value labels, top to bottom, and the rows they show.
    const QList<QLabel*>& valueLabels() const { return m_valueLabels; }
    const DetailPage& page() const { return m_page; }

    void buOKClick();
    void ExecuteAction(const QLabel& clicked);
    void LaunchCmd(const QLabel& clicked);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    QLabel* AddDetailLabel(int x, int top, const QString& caption, DetailRow::Click click);

    ProgramListHost& m_host;
    QWidget* m_content;
    DetailPage m_page;
    QList<QLabel*> m_valueLabels;
};

// The one window of its kind while it is open; nullptr otherwise.
extern TfDetails* fDetails;
