#include "mainwindow/CommandLine.h"

#include <array>
#include <utility>

namespace {

CommandLine& currentLine()
{
    static CommandLine line;
    return line;
}

} // namespace

CommandLine::CommandLine(QStringList arguments)
{
    takeLeadingOptions(arguments);
    m_arguments = std::move(arguments);
    static const std::array<std::pair<QString, Switch>, 6> switches{{
        {QStringLiteral("/UNINSTALL"), Switch::Uninstall},
        {QStringLiteral("/QU"), Switch::QuietUninstall},
        {QStringLiteral("/RFL"), Switch::ReportFileLong},
        {QStringLiteral("/RFS"), Switch::ReportFileShort},
        {QStringLiteral("/RPS"), Switch::ReportPrintShort},
        {QStringLiteral("/RPL"), Switch::ReportPrintLong},
    }};
    const QString first = m_arguments.value(0);
    for (const auto& [text, which] : switches) {
        if (first.compare(text, Qt::CaseInsensitive) == 0)
            m_switch = which;
    }
}

void CommandLine::takeLeadingOptions(QStringList& arguments)
{
    // Options come before the switch, so that the switch and its names keep their positions.
    while (!arguments.isEmpty() && arguments.first().startsWith(QStringLiteral("--"))) {
        const QString option = arguments.takeFirst();
        const auto value = [&]() -> QString {
            QString taken = arguments.isEmpty() ? QString() : arguments.takeFirst();
            if (taken.isEmpty())
                m_optionError = QStringLiteral("%1 needs a value.").arg(option);
            return taken;
        };
        if (option == u"--prefix") {
            m_prefixOption = value();
        } else if (option == u"--remove-leftovers") {
            m_removeLeftovers = true;
        } else if (option == u"--clean-menus") {
            m_cleanMenus = true;
            return; // a run of its own, whose arguments follow
        } else {
            m_optionError = QStringLiteral("Unknown option %1.").arg(option);
        }
        if (!m_optionError.isEmpty())
            return;
    }
}

bool CommandLine::ShowMainWindow() const
{
    switch (m_switch) {
    case Switch::QuietUninstall:
    case Switch::ReportPrintLong:
    case Switch::ReportPrintShort:
        return false;
    case Switch::ReportFileLong:
    case Switch::ReportFileShort:
        return argument(1).isEmpty();
    case Switch::None:
    case Switch::Uninstall:
        break;
    }
    return true;
}

QString CommandLine::commandToRun(const QString& uninstallCommand)
{
    if (!uninstallCommand.startsWith(u'"'))
        return uninstallCommand;
    QString inside;
    bool closed = false;
    for (qsizetype i = 1; i < uninstallCommand.size(); ++i) {
        const QChar c = uninstallCommand.at(i);
        if (c != u'"') {
            inside += c;
            continue;
        }
        if (i + 1 < uninstallCommand.size() && uninstallCommand.at(i + 1) == u'"') {
            inside += c;
            ++i;
            continue;
        }
        closed = true;
        break;
    }
    if (!closed)
        inside.chop(1);
    return inside.isEmpty() ? uninstallCommand : inside;
}

int CommandLine::graver(int a, int b)
{
    // A failed layer, then an uninstaller that did not run, then a program left listed, then a typo.
    const auto rank = [](int status) {
        switch (status) {
        case ExitFailed:
            return 4;
        case ExitNotStarted:
            return 3;
        case ExitNotRemoved:
            return 2;
        case ExitNameNotFound:
            return 1;
        default:
            return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

QString CommandLine::usageText()
{
    return QStringLiteral("Usage: kestrin [--prefix DIR] [SWITCH [ARGUMENT...]]\n"
                          "       kestrin [--prefix DIR] --clean-menus [/F]\n"
                          "Lists and removes the programs registered for uninstall in a Wine prefix.\n"
                          "\n"
                          "Options (before the switch):\n"
                          "  --prefix DIR      manage the Wine prefix in DIR\n"
                          "  --clean-menus [/F] list the menu entries Wine left for programs that have gone;\n"
                          "                    with /F move them into the entry trash; no window is shown\n"
                          "  --remove-leftovers with /QU: once a program is removed, move what it surely left\n"
                          "                    in the prefix (its folder, shortcuts, keys, menu entries) into\n"
                          "                    the entry trash, and list it on standard output\n"
                          "  --help, --version print this text or the version and end\n"
                          "\n"
                          "Switches (letter case does not matter):\n"
                          "  /UNINSTALL NAME   open the uninstall window for the program listed as NAME\n"
                          "  /QU NAME...       run the uninstaller of each named program, log the outcome in\n"
                          "                    ULog.txt and end; no window is shown\n"
                          "  /RFL [FILE]       write the long audit report to FILE (\".txt\" is added) and end;\n"
                          "                    without FILE it goes to Report.txt\n"
                          "  /RFS [FILE]       the same with the short report (program names only)\n"
                          "  /RPL, /RPS        print the long or short report on the default printer and end\n"
                          "\n"
                          "The prefix is the one given with --prefix, else $WINEPREFIX, else the one last chosen\n"
                          "with File > Open Prefix, else ~/.wine. Uninstallers run under $WINELOADER, else the\n"
                          "Wine that the prefix's manager (Bottles, Lutris, Steam, Heroic) runs it with, else wine,\n"
                          "else wine64. ULog.txt and Report.txt are in the current folder.\n"
                          "Runs that show no window need no display: without DISPLAY and WAYLAND_DISPLAY they run\n"
                          "offscreen, and print errors on standard error.\n"
                          "\n"
                          "Exit status: 0 success; 1 a report, a print or a log write failed, an option was wrong,\n"
                          "or the folder is not a Wine prefix; 2 an uninstaller left its program in the list;\n"
                          "3 an uninstaller did not run (the reason is on standard error); 4 a name given to /QU\n"
                          "is not in the list. When several apply, the first of 1, 3, 2, 4 that applies.\n");
}

const CommandLine& CommandLine::current()
{
    return currentLine();
}

void CommandLine::setCurrent(const CommandLine& line)
{
    currentLine() = line;
}
