#pragma once

#include "hive/EntryTrash.h"

#include <QDialog>

class QTreeWidget;
class ProgramListHost;
class TuduButton;

// The entry trash of the prefix: the records of deleted and changed entries, newest first, and
// bringing one back.
class TfRestore : public QDialog
{
    Q_OBJECT

public:
    explicit TfRestore(ProgramListHost& host);

    QTreeWidget* lvRecords;
    TuduButton* buRestore;
    TuduButton* buDeleteRecord;
    TuduButton* buClose;

    void buRestoreClick();
    void buDeleteRecordClick();
    void buCloseClick();

    // The records as the list shows them, in its order.
    const QList<TrashRecord>& records() const { return m_records; }

private:
    void FormCreate();
    void showRecords(const QString& selectId = {});
    const TrashRecord* selectedRecord() const;
    void selectRestoredEntry(const TrashRecord& record);

    ProgramListHost& m_host;
    QList<TrashRecord> m_records;
};
