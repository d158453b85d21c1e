// The command-line runs of the main window: what the switches do while the window is created and
// when it first shows.
#include "mainwindow/TfKestrin.h"

#include "audit/TfAudit.h"
#include "base/KestrinError.h"
#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "desktop/WineMenuFolders.h"
#include "hive/PrefixHealth.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "leftovers/LeftoverRemoval.h"
#include "mainwindow/CommandLine.h"
#include "mainwindow/ListSizeFiller.h"
#include "mainwindow/MainCommands.h"
#include "uninstall/UninstallLog.h"
#include "wine/CommandLauncher.h"

#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The first item whose whole caption equals `name` without regard to letter case; -1 when none.
int findByName(const ProgramListModel& list, const QString& name)
{
    for (int row = 0; row < list.count(); ++row) {
        if (list.at(row).Name.compare(name, Qt::CaseInsensitive) == 0)
            return row;
    }
    return -1;
}

// A run without a window has only standard error to say what went wrong.
void printError(const QString& text)
{
    std::fprintf(stderr, "kestrin: %s\n", qUtf8Printable(text));
}

} // namespace

void TfKestrin::ActOnCommandLine()
{
    const CommandLine& line = CommandLine::current();
    const bool runsAndEnds =
        line.switchGiven() != CommandLine::Switch::None && line.switchGiven() != CommandLine::Switch::Uninstall;
    if (const PrefixHealth health = PrefixHealth::check(m_prefix); runsAndEnds && !health.ready()) {
        // An empty report or a quiet run that finds nothing would pass for success.
        printError(health.sentence());
        endRun(CommandLine::ExitFailed);
        return;
    }
    switch (line.switchGiven()) {
    case CommandLine::Switch::Uninstall:
        PrepareUninstall();
        break;
    case CommandLine::Switch::QuietUninstall:
        // A log that cannot be written ends the run there, failed, rather than leaving it without a window.
        if (!runGuarded(this, [this] { QuietUninstall(); }))
            noteFailure(CommandLine::ExitFailed);
        endRun(m_exitStatus);
        break;
    case CommandLine::Switch::ReportFileLong:
    case CommandLine::Switch::ReportFileShort:
        ReportToFile(line.switchGiven() == CommandLine::Switch::ReportFileLong, line.argument(1));
        break;
    case CommandLine::Switch::ReportPrintLong:
    case CommandLine::Switch::ReportPrintShort:
        ReportToPrinter(line.switchGiven() == CommandLine::Switch::ReportPrintLong);
        break;
    case CommandLine::Switch::None:
        break;
    }
}

void TfKestrin::PrepareUninstall()
{
    const int row = findByName(*m_model, CommandLine::current().argument(1));
    UninstallPending = true;
    UninstallTargetFound = row >= 0;
    if (UninstallTargetFound)
        selectItem(row);
}

void TfKestrin::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Queued, so that the window has painted before a modal window or a box covers it.
    if (UninstallPending)
        QTimer::singleShot(0, this, &TfKestrin::FormPaint);
}

void TfKestrin::FormPaint()
{
    if (!UninstallPending)
        return;
    UninstallPending = false;
    if (UninstallTargetFound) {
        m_commands->Uninstall2Click();
        return;
    }
    MessageBox::critical(this, MessageBox::applicationTitle(),
                         QStringLiteral("There program you are looking for (") + CommandLine::current().argument(1) +
                             QStringLiteral(") was not found"));
}

void TfKestrin::QuietUninstall()
{
    // Every name is looked up in the list as it was read at start; nothing rescans in between.
    std::vector<InstalledProgram> listed;
    listed.reserve(size_t(m_model->count()));
    for (int row = 0; row < m_model->count(); ++row)
        listed.push_back(m_model->at(row));
    const UninstallLog log(m_workingFolder);
    const QString lineEnd = QStringLiteral("\r\n");

    for (const QString& name : CommandLine::current().names()) {
        const auto item = std::find_if(listed.begin(), listed.end(), [&name](const InstalledProgram& program) {
            return program.Name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (item == listed.end()) {
            // Skipped, and nothing logged; but a script must learn of the typo.
            printError(QStringLiteral("No program named \"%1\" is in the list; skipped.").arg(name));
            noteFailure(CommandLine::ExitNameNotFound);
            continue;
        }
        const bool takeLeftovers = CommandLine::current().removeLeftovers();
        const ProgramTraces traces =
            takeLeftovers ? ProgramTraces::read(m_prefix, item->Root, item->KeyPath, item->Name, item->View)
                          : ProgramTraces();
        // Waits for the programs the uninstaller started too (reading the files alone, for Wine to save
        // the registry), so that the check below reads what the uninstaller left.
        const CommandLauncher::Outcome outcome = CommandLauncher::instance().RunAndWait(
            m_prefix.path(), CommandLine::commandToRun(item->UninstallCommand), {});
        // An uninstaller that never ran removed nothing, whatever the list says now.
        const bool removed = outcome.started && EntryHasValue(ValueName::DisplayName, item->Root, item->KeyPath) == -1;
        log.AppendToLog(UninstallLog::timeStampRecord());
        log.AppendToLog(QStringLiteral("Uninstalling ") + name + lineEnd);
        log.AppendToLog((removed ? sLogUninstallOK : sLogUninstallFailed) + lineEnd);
        if (!outcome.stillRunning.isEmpty()) {
            printError(QStringLiteral("Stopped waiting for the uninstaller of \"%1\"; still running: %2.")
                           .arg(name, outcome.stillRunning.join(QStringLiteral(", "))));
        }
        if (!outcome.started) {
            printError(QStringLiteral("The uninstaller of \"%1\" did not run: %2").arg(name, outcome.failure));
            noteFailure(CommandLine::ExitNotStarted);
        } else if (!removed) {
            noteFailure(CommandLine::ExitNotRemoved);
        } else if (takeLeftovers && !runGuarded(this, [&] { removeLeftoversOf(traces); })) {
            noteFailure(CommandLine::ExitFailed);
        }
    }
}

void TfKestrin::removeLeftoversOf(const ProgramTraces& traces)
{
    LeftoverFinder finder(m_prefix, traces, WineMenuFolders::fromEnvironment());
    const QList<Leftover> leftovers = finder.find();
    const QList<int> certain = LeftoverRemoval::certainOnes(leftovers);
    if (certain.isEmpty())
        return;
    const LeftoverRemoval::Removed removed = LeftoverRemoval::remove(m_prefix, finder, leftovers, certain);
    for (const int index : certain) {
        if (leftovers[index].kind == Leftover::Kind::MenuEntry && !removed.menuError.isEmpty())
            continue;
        std::printf("%s\n", qUtf8Printable(QStringLiteral("Moved to the entry trash: ") + leftovers[index].shown));
    }
    for (const QString& id : {removed.recordId, removed.menuRecordId}) {
        if (!id.isEmpty())
            std::printf("%s\n", qUtf8Printable(QStringLiteral("Trash record: ") + id));
    }
    std::fflush(stdout);
    if (!removed.menuError.isEmpty())
        throw KestrinError(QStringLiteral("The menu entries it left stayed: ") + removed.menuError);
}

int TfKestrin::EntryHasValue(const QString& valueName, RegistryRoot root, const QString& keyPath)
{
    int result = -1;
    RegistryAccess registry(m_prefix);
    registry.RootKey(root);
    if (registry.KeyExists(keyPath)) {
        if (registry.OpenKeyReadOnly(keyPath) && registry.ValueExists(valueName))
            result = 0;
        registry.CloseKey();
    }
    return result;
}

void TfKestrin::ReportToFile(bool longFormat, const QString& fileName)
{
    // No window paints, so nothing measured the folders in the background.
    if (longFormat)
        runGuarded(this, [this] { ListSizeFiller::fillNow(m_prefix, *m_model); });
    TfAudit audit(*this);
    (longFormat ? audit.rbLong : audit.rbShort)->setChecked(true);
    if (!audit.saveToFile(fileName))
        noteFailure(CommandLine::ExitFailed);
    endRun(m_exitStatus);
}

void TfKestrin::ReportToPrinter(bool longFormat)
{
    if (longFormat)
        runGuarded(this, [this] { ListSizeFiller::fillNow(m_prefix, *m_model); });
    TfAudit audit(*this);
    (longFormat ? audit.rbLong : audit.rbShort)->setChecked(true);
    if (!audit.printOnDefaultPrinter())
        noteFailure(CommandLine::ExitFailed);
    // A failed print goes on as a normal run, unless nobody can see the window.
    if (QuitAfterReport || CommandLine::current().headless())
        endRun(m_exitStatus);
}

void TfKestrin::noteFailure(int status)
{
    m_exitStatus = CommandLine::graver(m_exitStatus, status);
}

void TfKestrin::endRun(int status)
{
    m_exitStatus = status;
    m_endRequested = true;
}
