#include "mainwindow/MainCommands.h"

#include "base/UntouchedRead.h"
#include "controls/GuardedCall.h"
#include "controls/TfAbout.h"
#include "desktop/ShellOpen.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/ProgramListView.h"
#include "mainwindow/TfKestrin.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>
#include <QToolButton>

namespace {

// Where the popup menu opens, relative to the cursor.
constexpr QPoint PopupOffset{20, 0};
// An internet shortcut is a few lines; more than this is not one.
constexpr qint64 MaxShortcutBytes = 64 * 1024;

} // namespace

MainCommands::MainCommands(TfKestrin& window, MainActions& actions)
    : QObject(&window), m_window(window), m_actions(actions)
{
    setObjectName(QStringLiteral("MainCommands"));
    m_popup = [this](const QPoint& pos) {
        m_actions.pmAction->popup(pos);
    };

    const auto bind = [this](QAction* action, void (MainCommands::*handler)()) {
        connect(action, &QAction::triggered, this, handler);
    };
    const auto bindButton = [this](QToolButton* button, void (MainCommands::*handler)()) {
        connect(button, &QToolButton::clicked, this, handler);
    };
    bind(actions.PrintorSaveAuditReport1, &MainCommands::PrintorSaveAuditReport1Click);
    bind(actions.OpenPrefix1, &MainCommands::OpenPrefix1Click);
    bind(actions.Exit1, &MainCommands::Exit1Click);
    bind(actions.Uninstall2, &MainCommands::Uninstall2Click);
    bind(actions.DeleteFromList1, &MainCommands::DeleteFromList1Click);
    bind(actions.ProgramDetails1, &MainCommands::ProgramDetails1Click);
    bind(actions.EditProgramDetails1, &MainCommands::EditProgramDetails1Click);
    bind(actions.newPrograms1, &MainCommands::newPrograms1Click);
    bind(actions.UninstallLog1, &MainCommands::UninstallLog1Click);
    bind(actions.RestoreDeletedEntries1, &MainCommands::RestoreDeletedEntries1Click);
    bind(actions.CleanUpMenuEntries1, &MainCommands::CleanUpMenuEntries1Click);
    bind(actions.Refresh1, &MainCommands::Refresh1Click);
    bind(actions.HelpTopics1, &MainCommands::HelpTopics1Click);
    bind(actions.Updates1, &MainCommands::Updates1Click);
    bind(actions.About1, &MainCommands::About1Click);
    bind(actions.pmUninstall, &MainCommands::Uninstall2Click);
    bind(actions.pmDeleteFromList, &MainCommands::DeleteFromList1Click);
    bind(actions.pmProgramDetails, &MainCommands::ProgramDetails1Click);
    bind(actions.pmEditProgramDetails, &MainCommands::EditProgramDetails1Click);
    bindButton(actions.tbUninstall, &MainCommands::Uninstall2Click);
    bindButton(actions.tbDelete, &MainCommands::DeleteFromList1Click);
    bindButton(actions.tbDetails, &MainCommands::ProgramDetails1Click);
    bindButton(actions.tbAudit, &MainCommands::PrintorSaveAuditReport1Click);
    bindButton(actions.tbHelp, &MainCommands::HelpTopics1Click);
    bindButton(actions.buUpdates, &MainCommands::Updates1Click);

    connect(actions.ViewStyles, &QActionGroup::triggered, this, [this](QAction* item) {
        for (int style = 0; style < 4; ++style) {
            if (m_actions.viewItem(style) == item)
                m_window.ChangeViewStyle(style);
        }
    });

    ProgramListView* list = window.lvPrograms;
    connect(list, &ProgramListView::doubleClicked, this, &MainCommands::lvProgramsDblClick);
    connect(list, &ProgramListView::enterPressed, this, &MainCommands::lvProgramsKeyDown);
    connect(list, &ProgramListView::rightPressed, this, &MainCommands::lvProgramsMouseDown);
}

void MainCommands::setWindowOpener(Window which, std::function<void()> open)
{
    m_openers[size_t(which)] = std::move(open);
}

void MainCommands::setPopupHandler(std::function<void(const QPoint&)> popup)
{
    m_popup = std::move(popup);
}

void MainCommands::open(Window which, bool needsSelection)
{
    if (needsSelection && !m_window.RequireSelection())
        return;
    if (const auto& opener = m_openers[size_t(which)])
        runGuarded(&m_window, opener);
}

void MainCommands::OpenPrefix1Click()
{
    open(Window::OpenPrefix, false);
}

void MainCommands::Exit1Click()
{
    m_window.close();
}

void MainCommands::Refresh1Click()
{
    runGuarded(&m_window, [this] {
        const int remembered = std::max(0, m_window.lvPrograms->selectedRow());
        m_window.refreshListAndCount();
        m_window.selectItem(remembered); // past the end of a shorter list: none
    });
}

void MainCommands::HelpTopics1Click()
{
    // A help file that does not open is not reported.
    ShellOpen::instance().open(QDir(m_window.workingFolder()).filePath(QStringLiteral("kestrin.chm")));
}

void MainCommands::Updates1Click()
{
    const QString path = QDir(m_window.workingFolder()).filePath(QStringLiteral("latest.url"));
    if (!QFileInfo(path).isFile())
        return;
    if (const QString url = internetShortcutUrl(path); !url.isEmpty())
        ShellOpen::instance().open(url);
}

void MainCommands::About1Click()
{
    runGuarded(&m_window, [this] {
        TfAbout about(&m_window);
        about.exec();
    });
}

void MainCommands::Uninstall2Click()
{
    open(Window::Uninstall, true);
}

void MainCommands::DeleteFromList1Click()
{
    open(Window::DeleteFromList, true);
}

void MainCommands::ProgramDetails1Click()
{
    open(Window::ProgramDetails, true);
}

void MainCommands::EditProgramDetails1Click()
{
    open(Window::EditProgramDetails, true);
}

void MainCommands::newPrograms1Click()
{
    open(Window::NewProgram, false);
}

void MainCommands::UninstallLog1Click()
{
    open(Window::UninstallLog, false);
}

void MainCommands::PrintorSaveAuditReport1Click()
{
    open(Window::AuditReport, false);
}

void MainCommands::RestoreDeletedEntries1Click()
{
    open(Window::RestoreDeletedEntries, false);
}

void MainCommands::CleanUpMenuEntries1Click()
{
    open(Window::CleanUpMenuEntries, false);
}

void MainCommands::lvProgramsDblClick()
{
    if (m_window.lvPrograms->selectedRow() >= 0)
        Uninstall2Click();
}

void MainCommands::lvProgramsKeyDown()
{
    if (m_window.lvPrograms->selectedRow() >= 0)
        Uninstall2Click();
}

void MainCommands::lvProgramsMouseDown(const QPoint& globalPos)
{
    if (m_window.lvPrograms->selectedRow() >= 0 && m_popup)
        m_popup(globalPos + PopupOffset);
}

QString MainCommands::internetShortcutUrl(const QString& path)
{
    QFile file;
    if (!openUntouched(file, path))
        return {};
    const QString text = QString::fromLocal8Bit(file.read(MaxShortcutBytes));
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    bool inSection = false;
    for (const QString& rawLine : text.split(lineEnd)) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2)
                            .trimmed()
                            .compare(QLatin1String("InternetShortcut"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inSection && equals > 0 &&
            line.left(equals).trimmed().compare(QLatin1String("URL"), Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1).trimmed();
    }
    return {};
}
