#pragma once

#include "inventory/RegistryRoot.h"
#include "leftovers/ProgramTraces.h"
#include "wine/CommandLauncher.h"

#include <QDialog>

#include <atomic>

class QLabel;
class QProgressBar;
class ProgramListHost;
class TMoveThread;
class TuduButton;

// The uninstall runner: runs the selected entry's uninstaller under Wine, waits for it, has the
// user confirm that it has finished, then re-reads the list and records whether the entry has
// gone; a leftover entry can be cleaned up. One window serves one uninstall.
class TfUninstall : public QDialog
{
    Q_OBJECT

public:
    enum class State
    {
        Ready,
        Running,
        AwaitingConfirmation,
        Removed,
        StillListed,
        NotRun, // the uninstaller did not start, or Wine could not load it
    };

    explicit TfUninstall(ProgramListHost& host);
    ~TfUninstall() override;

    State state() const { return m_state; }
    // What the entry said about its program before the uninstaller ran, to find its leftovers by.
    const ProgramTraces& traces() const { return m_traces; }

    // Captured at opening from the selected item: the name to look for, and the entry's own key.
    QString ProgramName;
    RegistryRoot Root = RegistryRoot::LocalMachine;
    QString KeyPath;
    // Set by the user-interface thread once the uninstaller has ended; read by TMoveThread.
    std::atomic<bool> UninstallDone{false};

    QWidget* paPicture;
    QLabel* imgUn;
    QLabel* lUnHeader;
    QLabel* lUnProgramName;
    QLabel* lUnTip;
    QLabel* lUnWine; // which Wine runs the uninstaller
    QProgressBar* pbProgress;
    TuduButton* buUninstall;
    TuduButton* buCancel;

    void buUninstallClick();
    void ContinueClick();
    void CloseClick();
    void CleanUpClick();
    void buCancelClick();

    // The index of the first list item named exactly `name` (case-sensitive), or -1.
    int FindProgramIndex(const QString& name) const;

    // The message when the prefix's wineserver still runs at "CONTINUE".
    static QString stillRunningText();
    // Said when the wait for the programs the uninstall started ran out.
    static QString stillRunningAfterWaitText(const QStringList& programs);
    // The header when the uninstaller did not run, followed by the reason.
    static QString notRunText();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate();
    // Starts the command and waits for it, painting but taking no input; returns at once when it
    // does not start.
    CommandLauncher::Outcome RunAndWait(const QString& command);
    // Says why the uninstaller did not run and logs the failure; a missing uninstaller makes the
    // entry stale, so only then is CLEAN-UP offered.
    void showNotRun(const CommandLauncher::Outcome& outcome);
    void showPicture(int index);
    void setAction(const QString& caption, void (TfUninstall::*action)());
    // Re-reads the list, selects its first item and closes the window.
    void refreshAndClose();

    ProgramListHost& m_host;
    // The list's own verdict, which expands references and looks where the entry's view looks: a
    // launcher's "not found" alone (an unexpanded %ProgramFiles%, a disk not mounted) is no proof.
    bool m_uninstallerMissing = false;
    State m_state = State::Ready;
    void (TfUninstall::*m_action)() = nullptr;
    bool m_closeAfterWait = false;
    ProgramTraces m_traces;
};

// The window while it exists: TMoveThread reaches it here.
extern TfUninstall* fUninstall;
