#pragma once

#include "leftovers/LeftoverFinder.h"

#include <QDialog>

class QLabel;
class QTreeWidget;
class ProgramListHost;
class TuduButton;

// Shows what a removed program left behind, each with a checkbox, why it was found and how sure that
// is; only what is the program's beyond doubt starts checked. REMOVE moves the checked ones into the
// prefix's entry trash, from where Restore Deleted Entries brings them back.
class TfLeftovers : public QDialog
{
    Q_OBJECT

public:
    // `finder` has found `leftovers`; both must outlive the window.
    TfLeftovers(ProgramListHost& host, const LeftoverFinder& finder, const QList<Leftover>& leftovers);

    // The rows that are checked, as indexes into the leftovers.
    QList<int> checkedLeftovers() const;

    QWidget* paPicture;
    QLabel* imgLeftovers;
    QLabel* lLeftoversHeader;
    QTreeWidget* lvLeftovers;
    TuduButton* buRemove;
    TuduButton* buClose;

    void buRemoveClick();
    void buCloseClick();

private:
    void FormCreate();

    ProgramListHost& m_host;
    const LeftoverFinder& m_finder;
    const QList<Leftover>& m_leftovers;
};
