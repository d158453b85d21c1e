#pragma once

#include <QObject>
#include <QPoint>

#include <array>
#include <functional>

class MainActions;
class TfKestrin;

// The commands of the main window: one handler per command, shared by the menu item, the toolbar
// button and the popup item of the same name, and the mouse and key commands of the list.
class MainCommands : public QObject
{
    Q_OBJECT

public:
    // The windows that the commands open, each created for one modal use.
    enum class Window
    {
        Uninstall,
        DeleteFromList,
        ProgramDetails,
        EditProgramDetails,
        NewProgram,
        UninstallLog,
        AuditReport,
        RestoreDeletedEntries,
        OpenPrefix,
        CleanUpMenuEntries,
    };
    static constexpr int WindowCount = 10;

    MainCommands(TfKestrin& window, MainActions& actions);

    // Replaces what opens `which`; the commands around it (the selection check) stay. A window not yet
    // provided opens nothing.
    void setWindowOpener(Window which, std::function<void()> open);
    // Replaces the showing of the popup menu at a screen position (tests record it instead).
    void setPopupHandler(std::function<void(const QPoint&)> popup);

    void OpenPrefix1Click();
    void Exit1Click();
    void Refresh1Click();
    void HelpTopics1Click();
    void Updates1Click();
    void About1Click();
    void Uninstall2Click();
    void DeleteFromList1Click();
    void ProgramDetails1Click();
    void EditProgramDetails1Click();
    void newPrograms1Click();
    void UninstallLog1Click();
    void PrintorSaveAuditReport1Click();
    void RestoreDeletedEntries1Click();
    void CleanUpMenuEntries1Click();

    void lvProgramsDblClick();
    void lvProgramsKeyDown();
    void lvProgramsMouseDown(const QPoint& globalPos);

    // The address an internet shortcut's [InternetShortcut] section names in its URL= line; empty
    // when the file has none or cannot be read.
    static QString internetShortcutUrl(const QString& path);

private:
    void open(Window which, bool needsSelection);

    TfKestrin& m_window;
    MainActions& m_actions;
    std::array<std::function<void()>, WindowCount> m_openers;
    std::function<void(const QPoint&)> m_popup;
};
