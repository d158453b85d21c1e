#pragma once

#include "controls/ProgramListHost.h"
#include "desktop/SystemIconList.h"
#include "inventory/RegistryRoot.h"
#include "prefix/WinePrefix.h"

#include <QDir>
#include <QMainWindow>

#include <memory>

class MainActions;
class MainCommands;
class ProgramIconModel;
class ProgramListModel;
class ProgramListView;
class ProgramScan;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class TFramePanel;

// The main window: the program list of a prefix with its selection note and search, the commands
// of menus, toolbar and popup, and the remembered window settings. Its creation reads the settings,
// scans the list and prepares the uninstall log; its destruction saves the settings.
//
// Files named without a folder (the log, the help file, the update shortcut) resolve against
// `workingFolder`, the current directory at start by default.
struct ProgramTraces;
class ListSizeFiller;

class TfKestrin : public QMainWindow, public ProgramListHost
{
    Q_OBJECT

public:
    explicit TfKestrin(WinePrefix prefix, QString workingFolder = QDir::currentPath(), QWidget* parent = nullptr);
    ~TfKestrin() override;

    QWidget* hostWindow() override { return this; }
    const WinePrefix& prefix() const override { return m_prefix; }
    const QString& workingFolder() const override { return m_workingFolder; }
    const QString& LogPath() const { return m_logPath; }
    int WarningIconIndex() const { return m_warningIconIndex; }
    // The sub-item of the uninstall command: 3 on the NT family, 0 on the 9x family.
    int CommandColumn() const { return m_commandColumn; }

    // The one program list; every window reads its entries from here.
    ProgramListModel& programList() override { return *m_model; }
    SystemIconList& iconList() { return m_icons; }
    MainActions& actions() { return *m_actions; }
    MainCommands& commands() { return *m_commands; }

    // Reads the whole list anew; nothing is selected afterwards. Entries that cannot be read are left
    // out and named in the status bar's note. Throws KestrinError when a hive cannot be read: the
    // entries before the failure stay listed.
    void RefreshProgramList();
    void UpdateStatusCount();
    void refreshListAndCount() override;
    void uninstallSelected() override;
    void showMainWindow() override;
    // True when an entry is selected; otherwise tells the user to select one.
    bool RequireSelection();
    // The selected row, -1 when none.
    int selectedIndex() const override;
    // Selects `row` (none when out of range) and shows its note.
    void selectItem(int row) override;
    // View style 0 to 3: large icons, small icons, list, details; checks the View item.
    void ChangeViewStyle(int style);

    // Manages `prefix` from now on: saves the window settings into the prefix left, then takes the
    // start-up steps that concern a prefix (its settings, the icon lists, the scan, the count, the first
    // item selected). Throws KestrinError as the scan does.
    void OpenPrefix(const WinePrefix& prefix);
    // What the list area says instead of the list when the prefix is none Kestrin can read; empty when
    // it can.
    QString prefixProblem() const;

    // Saves the window settings; runs once, at the latest when the window is destroyed.
    void FormDestroy();

    // Set by the command-line runs.
    bool UninstallTargetFound = false;
    bool UninstallPending = false;

    // A run that ends by its switch asks for the end while the window is created; main() lets it
    // take effect when the event loop starts. The status is the process's exit status.
    bool endRequested() const { return m_endRequested; }
    int exitStatus() const { return m_exitStatus; }

    // 0 when the key exists in `root` and holds a value named `valueName`, -1 otherwise.
    int EntryHasValue(const QString& valueName, RegistryRoot root, const QString& keyPath);

    // The form's controls.
    QWidget* paLeftSide = nullptr;
    TFramePanel* fpaHeader = nullptr;
    QLineEdit* edSearch = nullptr;
    QPushButton* buFind = nullptr;
    TFramePanel* fpaSelector = nullptr;
    QLabel* imgIndicator = nullptr;
    QLabel* lIndicator = nullptr;
    QWidget* paRightSide = nullptr;
    ProgramListView* lvPrograms = nullptr; // the stack of the two views; see ProgramListView
    QStatusBar* sbarStatus = nullptr;
    QLabel* sbarStatusPanel = nullptr;
    QLabel* sbarSkippedNote = nullptr; // names the entries the last scan left out; hidden when none
    QLabel* sbarPrefixPanel = nullptr; // the prefix's Windows version and architecture
    QLabel* sbarWinePanel = nullptr;   // the Wine that runs the prefix's uninstallers
    QLabel* lPrefixProblem = nullptr;  // stands in for the list when the prefix cannot be read

    // Each dropped shortcut, in order, opens one new-entry window filled in from it; the next opens
    // when the previous has closed. Other files are passed over without a word.
    void AddDroppedShortcuts(const QStringList& names);
    // Run after an uninstall that removed its program: asks once whether to clean up the menu entries
    // Wine left behind, when there are any.
    void offerMenuCleanup();
    // Run after an uninstall that removed its program: shows what it left behind, when anything.
    void offerLeftovers(const ProgramTraces& traces);
    // /QU --remove-leftovers: takes what the removed program surely left, and says so on standard output.
    void removeLeftoversOf(const ProgramTraces& traces);

    void lvProgramsSelectItem(int row);
    void lvProgramsClick();
    void buFindClick();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildForm();
    // What the commands open: each window is made for one modal use.
    void installWindowOpeners();
    void FormCreate();
    void giveFocusBackToTheList();
    // At creation; for another prefix later the window keeps its place and is not minimized.
    void applySettings(bool firstTime);
    void saveSettings();
    void showPrefix();
    void showPrefixHealth();
    void setUpProgramList(bool ntFamily);
    void InitImageLists();
    void hideNote();
    void showSkippedEntries();
    // Where the list paints, in every style.
    QList<QWidget*> listViewports() const;
    // The command-line switches act here, as the last step of the creation.
    void ActOnCommandLine();
    void PrepareUninstall();
    void QuietUninstall();
    void ReportToFile(bool longFormat, const QString& fileName);
    void ReportToPrinter(bool longFormat);
    // Opens the uninstall window, or says the program was not found, once after a /UNINSTALL start.
    void FormPaint();
    void endRun(int status);
    void noteFailure(int status);

    WinePrefix m_prefix;
    QString m_workingFolder;
    QString m_logPath;
    int m_warningIconIndex = -1;
    int m_ownIconIndex = -1;
    int m_commandColumn = 3;
    bool m_ntFamily = true;
    bool m_settingsSaved = false;
    bool m_endRequested = false;
    int m_exitStatus = 0;

    SystemIconList m_icons;
    std::unique_ptr<ProgramScan> m_scan;
    ProgramListModel* m_model = nullptr;
    ProgramIconModel* m_iconModel = nullptr;
    MainActions* m_actions = nullptr;
    MainCommands* m_commands = nullptr;
    ListSizeFiller* m_sizeFiller = nullptr;
};
