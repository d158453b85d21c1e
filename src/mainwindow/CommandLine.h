#pragma once

#include <QString>
#include <QStringList>

// The arguments a run starts with: leading options ("--prefix DIR"), then the switch, which picks
// the action and is compared without regard to letter case; the further arguments are names.
class CommandLine
{
public:
    enum class Switch
    {
        None,
        Uninstall,        // /UNINSTALL name: open the uninstall window for it once the window shows
        QuietUninstall,   // /QU name...: run each uninstaller, log, end
        ReportFileLong,   // /RFL [file]
        ReportFileShort,  // /RFS [file]
        ReportPrintLong,  // /RPL: print on the default printer, end
        ReportPrintShort, // /RPS
    };

    // Exit statuses of a run that ends by itself.
    static constexpr int ExitOk = 0;
    static constexpr int ExitFailed = 1;       // a report, a print or a log write failed, or no prefix
    static constexpr int ExitNotRemoved = 2;   // an uninstaller left its program listed
    static constexpr int ExitNotStarted = 3;   // an uninstaller did not run (Wine or its file missing, ...)
    static constexpr int ExitNameNotFound = 4; // a name given to /QU is not in the list
    // Which of two statuses a run that met both ends with: the more serious.
    static int graver(int a, int b);

    // `arguments` without the program's own name.
    explicit CommandLine(QStringList arguments = {});

    // The folder given with --prefix; empty when none was.
    const QString& prefixOption() const { return m_prefixOption; }
    // Why the leading options cannot be used (an unknown option, a missing value); empty when they can.
    const QString& optionError() const { return m_optionError; }
    // Whether --clean-menus was given; the arguments after it are then all of argument()'s.
    bool cleanMenus() const { return m_cleanMenus; }
    // Whether --remove-leftovers was given: /QU then takes what a removed program surely left.
    bool removeLeftovers() const { return m_removeLeftovers; }
    const QStringList& arguments() const { return m_arguments; }

    Switch switchGiven() const { return m_switch; }
    // The argument at `index` (1 is the one after the switch); empty when there is none.
    QString argument(int index) const { return m_arguments.value(index); }
    // The second to the last argument.
    QStringList names() const { return m_arguments.mid(1); }

    // False for the runs that end without showing a window: /QU, /RPL, /RPS, and /RFL, /RFS with a
    // file name.
    bool ShowMainWindow() const;
    // True for a run without a display: boxes go to standard error and a run that would have to
    // show a window ends with a failure instead.
    bool headless() const { return m_headless; }
    void setHeadless(bool on) { m_headless = on; }

    // The program a quiet uninstall runs for a stored command: a command that begins with a double
    // quote gives the text inside the first pair (a doubled quote stands for one; without a closing
    // quote the rest less its last character), and whatever followed is dropped. Any other command,
    // or an empty quoted text, is used unchanged.
    static QString commandToRun(const QString& uninstallCommand);

    // What --help prints.
    static QString usageText();

    // The run's command line, as main() set it; tests set their own and restore an empty one.
    static const CommandLine& current();
    static void setCurrent(const CommandLine& line);

private:
    void takeLeadingOptions(QStringList& arguments);

    QStringList m_arguments; // from the switch on
    QString m_prefixOption;
    QString m_optionError;
    Switch m_switch = Switch::None;
    bool m_headless = false;
    bool m_cleanMenus = false;
    bool m_removeLeftovers = false;
};
