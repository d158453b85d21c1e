#pragma once

#include "menus/StaleMenuEntries.h"

#include <QDialog>

class QLabel;
class QTreeWidget;
class ProgramListHost;
class TuduButton;

// Lists the menu entries and desktop icons that Wine made for shortcuts or programs that have gone,
// each checked, with why it is stale and the files it would remove; REMOVE moves the checked ones
// into the prefix's entry trash.
class TfCleanMenus : public QDialog
{
    Q_OBJECT

public:
    // Scans at once: read entries() to know whether there is anything to show. Throws KestrinError
    // when the prefix's user.reg cannot be read.
    TfCleanMenus(ProgramListHost& host, const WineMenuFolders& folders);

    // After an uninstall that removed its program: when Wine left menu entries of programs that have
    // gone, asks whether to clean them up. True when the user said yes. Throws KestrinError as the scan.
    static bool offerAfterUninstall(QWidget* parent, const WinePrefix& prefix, const WineMenuFolders& folders);

    const QList<StaleMenuEntry>& entries() const { return m_stale.entries(); }
    // The rows that are checked, as indexes into entries().
    QList<int> checkedEntries() const;

    QWidget* paPicture;
    QLabel* imgClean;
    QLabel* lCleanHeader;
    QTreeWidget* lvEntries;
    TuduButton* buRemove;
    TuduButton* buCancel;

    void buRemoveClick();
    void buCancelClick();

private:
    void FormCreate();

    ProgramListHost& m_host;
    StaleMenuEntries m_stale;
};
