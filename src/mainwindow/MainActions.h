#pragma once

#include <QObject>

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QToolBar;
class QToolButton;

// The main window's command surfaces: the main menu, the header toolbar and the list's popup menu,
// each item with its designed name and caption. What the items do is wired by MainCommands.
class MainActions : public QObject
{
    Q_OBJECT

public:
    explicit MainActions(QMainWindow* window);

    // The View item of a view style (0 to 3).
    QAction* viewItem(int style) const;

    // "&File"
    QAction* OpenPrefix1;
    QAction* NPrefix;
    QAction* PrintorSaveAuditReport1;
    QAction* RestoreDeletedEntries1;
    QAction* CleanUpMenuEntries1;
    QAction* N1;
    QAction* Exit1;
    // "&Uninstall"
    QAction* Uninstall2;
    QAction* N2;
    QAction* DeleteFromList1;
    QAction* ProgramDetails1;
    QAction* EditProgramDetails1;
    QAction* newPrograms1;
    QAction* N3;
    QAction* UninstallLog1;
    // "&View": one radio group
    QActionGroup* ViewStyles;
    QAction* Large1;
    QAction* SmallIcons1;
    QAction* List1;
    QAction* Details1;
    QAction* N4;
    QAction* Refresh1;
    // "&Help"
    QAction* HelpTopics1;
    QAction* Updates1;
    QAction* N5;
    QAction* About1;

    QToolBar* tbarHeader;
    QToolButton* tbUninstall;
    QToolButton* tbDelete;
    QToolButton* tbDetails;
    QToolButton* tbAudit;
    QToolButton* tbHelp;
    QToolButton* buUpdates;

    QMenu* pmAction;
    QAction* pmUninstall;
    QAction* pmDeleteFromList;
    QAction* pmProgramDetails;
    QAction* pmEditProgramDetails;
};
