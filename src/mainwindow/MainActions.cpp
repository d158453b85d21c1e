#include "mainwindow/MainActions.h"

#include "controls/Pictures.h"
#include "mainwindow/HeaderButton.h"

#include <QActionGroup>
#include <QMainWindow>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

namespace {

constexpr int HeaderHeight = 57;

QMenu* addMenu(QMenuBar* bar, const char* name, const QString& caption)
{
    QMenu* menu = bar->addMenu(caption);
    menu->setObjectName(QLatin1String(name));
    return menu;
}

QAction* addItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

QAction* addSeparator(QMenu* menu, const char* name)
{
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QLatin1String(name));
    return separator;
}

QToolButton* addButton(QToolBar* bar, const char* name, const QString& caption, Pictures::Interface picture)
{
    auto* button = new HeaderButton(bar);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(QIcon(Pictures::interfacePicture(picture)));
    bar->addWidget(button);
    return button;
}

} // namespace

MainActions::MainActions(QMainWindow* window) : QObject(window)
{
    setObjectName(QStringLiteral("MainActions"));
    QMenuBar* bar = window->menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));

    QMenu* file = addMenu(bar, "File1", QStringLiteral("&File"));
    OpenPrefix1 = addItem(file, "OpenPrefix1", QStringLiteral("&Open Prefix..."));
    OpenPrefix1->setShortcut(QKeySequence::Open);
    NPrefix = addSeparator(file, "NPrefix");
    PrintorSaveAuditReport1 =
        addItem(file, "PrintorSaveAuditReport1", QStringLiteral("&Print or Save Audit Report ..."));
    RestoreDeletedEntries1 = addItem(file, "RestoreDeletedEntries1", QStringLiteral("&Restore Deleted Entries..."));
    CleanUpMenuEntries1 = addItem(file, "CleanUpMenuEntries1", QStringLiteral("&Clean Up Menu Entries..."));
    N1 = addSeparator(file, "N1");
    Exit1 = addItem(file, "Exit1", QStringLiteral("&Exit"));

    QMenu* uninstall = addMenu(bar, "Uninstall1", QStringLiteral("&Uninstall"));
    Uninstall2 = addItem(uninstall, "Uninstall2", QStringLiteral("&Uninstall..."));
    N2 = addSeparator(uninstall, "N2");
    DeleteFromList1 = addItem(uninstall, "DeleteFromList1", QStringLiteral("&Delete From List..."));
    ProgramDetails1 = addItem(uninstall, "ProgramDetails1", QStringLiteral("&Program Details..."));
    EditProgramDetails1 = addItem(uninstall, "EditProgramDetails1", QStringLiteral("&Edit Program Details..."));
    newPrograms1 = addItem(uninstall, "newPrograms1", QStringLiteral("&New Program..."));
    N3 = addSeparator(uninstall, "N3");
    UninstallLog1 = addItem(uninstall, "UninstallLog1", QStringLiteral("Un&install Log..."));

    QMenu* view = addMenu(bar, "View1", QStringLiteral("&View"));
    ViewStyles = new QActionGroup(this);
    ViewStyles->setObjectName(QStringLiteral("ViewStyles"));
    ViewStyles->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    Large1 = addItem(view, "Large1", QStringLiteral("&Large Icons"));
    SmallIcons1 = addItem(view, "SmallIcons1", QStringLiteral("&Small Icons"));
    List1 = addItem(view, "List1", QStringLiteral("L&ist"));
    Details1 = addItem(view, "Details1", QStringLiteral("&Details"));
    for (QAction* item : {Large1, SmallIcons1, List1, Details1}) {
        item->setCheckable(true);
        ViewStyles->addAction(item);
    }
    Large1->setChecked(true);
    N4 = addSeparator(view, "N4");
    Refresh1 = addItem(view, "Refresh1", QStringLiteral("&Refresh"));

    QMenu* help = addMenu(bar, "Help1", QStringLiteral("&Help"));
    HelpTopics1 = addItem(help, "HelpTopics1", QStringLiteral("&Help Topics"));
    Updates1 = addItem(help, "Updates1", QStringLiteral("Updates"));
    N5 = addSeparator(help, "N5");
    About1 = addItem(help, "About1", QStringLiteral("&About..."));

    tbarHeader = new QToolBar(window);
    tbarHeader->setObjectName(QStringLiteral("tbarHeader"));
    tbarHeader->setMovable(false);
    tbarHeader->setFloatable(false);
    tbarHeader->setFixedHeight(HeaderHeight);
    tbarHeader->toggleViewAction()->setVisible(false);
    window->addToolBar(Qt::TopToolBarArea, tbarHeader);
    tbUninstall =
        addButton(tbarHeader, "tbUninstall", QStringLiteral("     Uninstall     "), Pictures::ToolbarUninstall);
    tbarHeader->addSeparator();
    tbDelete = addButton(tbarHeader, "tbDelete", QStringLiteral("Delete From List"), Pictures::ToolbarDelete);
    tbDetails = addButton(tbarHeader, "tbDetails", QStringLiteral("Program Details"), Pictures::ToolbarDetails);
    tbarHeader->addSeparator();
    tbAudit = addButton(tbarHeader, "tbAudit", QStringLiteral("  Audit Report  "), Pictures::ToolbarAudit);
    tbarHeader->addSeparator();
    tbHelp = addButton(tbarHeader, "tbHelp", QStringLiteral("        Help         "), Pictures::ToolbarHelp);
    tbarHeader->addSeparator();
    buUpdates = addButton(tbarHeader, "buUpdates", QStringLiteral("     Updates     "), Pictures::ToolbarUpdates);

    pmAction = new QMenu(window);
    pmAction->setObjectName(QStringLiteral("pmAction"));
    pmUninstall = addItem(pmAction, "pmUninstall", QStringLiteral("Uninstall..."));
    pmDeleteFromList = addItem(pmAction, "pmDeleteFromList", QStringLiteral("Delete From List..."));
    addSeparator(pmAction, "pmN1");
    pmProgramDetails = addItem(pmAction, "pmProgramDetails", QStringLiteral("Program Details..."));
    pmEditProgramDetails = addItem(pmAction, "pmEditProgramDetails", QStringLiteral("Edit Program Details..."));
}

QAction* MainActions::viewItem(int style) const
{
    switch (style) {
    case 1:
        return SmallIcons1;
    case 2:
        return List1;
    case 3:
        return Details1;
    default:
        return Large1;
    }
}
