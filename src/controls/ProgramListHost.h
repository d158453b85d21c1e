#pragma once

class ProgramListModel;
class QString;
class QWidget;
class WinePrefix;

// What the windows opened from the main window use of it: the prefix, the one program list and its
// selection, and the working folder. The main window implements it; dialog tests use a stand-in, so a
// dialog never needs the whole main window.
class ProgramListHost
{
public:
    virtual ~ProgramListHost() = default;

    // The window the dialogs and their message boxes belong to.
    virtual QWidget* hostWindow() = 0;
    virtual const WinePrefix& prefix() const = 0;
    // Where files named without a folder (the log, a report) resolve.
    virtual const QString& workingFolder() const = 0;
    virtual ProgramListModel& programList() = 0;
    // The selected row, -1 when none.
    virtual int selectedIndex() const = 0;
    // Selects `row` (none when out of range) and shows its note.
    virtual void selectItem(int row) = 0;
    // Reads the whole list anew (nothing is selected afterwards) and updates the count, also when the
    // reading throws KestrinError: the entries read before the failure stay listed and counted, and the
    // error passes on.
    virtual void refreshListAndCount() = 0;
    // Starts the uninstall of the selected entry, as the Uninstall command does.
    virtual void uninstallSelected() = 0;
    // Brings the main window to the front after a run that was to end without it could not; a run
    // without a display shows nothing.
    virtual void showMainWindow() = 0;

protected:
    ProgramListHost() = default;
    ProgramListHost(const ProgramListHost&) = default;
    ProgramListHost& operator=(const ProgramListHost&) = default;
};
