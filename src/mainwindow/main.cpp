#include "base/TerminationSignals.h"
#include "controls/MessageBox.h"
#include "controls/Pictures.h"
#include "desktop/WineMenuFolders.h"
#include "mainwindow/CommandLine.h"
#include "mainwindow/FirstPaintMark.h"
#include "mainwindow/TfKestrin.h"
#include "menus/CleanMenusRun.h"
#include "prefix/PrefixChoice.h"
#include "wine/PrefixWine.h"
#include "wine/WineLiveHive.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

// The switch decides before Qt connects to a display, so it is read from the raw arguments here.
CommandLine rawCommandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return CommandLine(arguments);
}

} // namespace

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(qUtf8Printable(CommandLine::usageText()), stdout);
            const WinePrefix prefix = PrefixChoice::startPrefix(rawCommandLine(argc, argv).prefixOption());
            const PrefixWine wine = PrefixWine::forPrefix(prefix.path());
            if (wine.found()) {
                std::printf("\nThis run: the prefix %s, whose uninstallers run under %s.\n",
                            qUtf8Printable(prefix.displayPath()), qUtf8Printable(wine.label()));
            } else {
                std::printf("\nThis run: the prefix %s, whose uninstallers cannot run: %s\n",
                            qUtf8Printable(prefix.displayPath()), qUtf8Printable(wine.problem));
            }
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("kestrin " KESTRIN_VERSION);
            return 0;
        }
    }

    // While Wine serves the prefix, its registry is read and changed through Wine.
    WineLiveHive live;
    LiveHive::setInstance(&live);

    const CommandLine raw = rawCommandLine(argc, argv);
    if (!raw.optionError().isEmpty()) {
        std::fprintf(stderr, "kestrin: %s\nTry 'kestrin --help'.\n", qUtf8Printable(raw.optionError()));
        return CommandLine::ExitFailed;
    }
    // Works on files only, so it needs no display and no window.
    if (raw.cleanMenus()) {
        QCoreApplication application(argc, argv);
        QTextStream output(stdout);
        QTextStream errors(stderr);
        return runCleanMenus(raw.arguments(), PrefixChoice::startPrefix(raw.prefixOption()),
                             WineMenuFolders::fromEnvironment(), output, errors);
    }

    // A run that shows no window must work over SSH or from cron: with no display at all it uses
    // the offscreen platform instead of failing to connect.
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool windowed = raw.ShowMainWindow();
    const bool headless = noDisplay && !windowed;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        if (noDisplay && windowed) {
            // Qt would abort with a note about its plugins; say what is missing instead.
            std::fputs("kestrin: this run shows a window and needs a display (DISPLAY or WAYLAND_DISPLAY).\n"
                       "The switches /QU, /RFL, /RFS with a file, /RPL and /RPS run without one.\n",
                       stderr);
            return 1;
        }
        if (headless)
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrin"));
    QApplication::setWindowIcon(Pictures::applicationIcon());

    // Qt has taken its own options out of the arguments by now.
    CommandLine line(QApplication::arguments().mid(1));
    line.setHeadless(headless);
    CommandLine::setCurrent(line);
    MessageBox::setConsoleMode(headless);

    TfKestrin fKestrin(PrefixChoice::startPrefix(line.prefixOption()));
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &fKestrin, &QWidget::close);
    FirstPaintMark::installIfAsked(fKestrin.lvPrograms);
    // A failed print run has made the window visible already; show() then only raises it.
    if (line.ShowMainWindow() || fKestrin.isVisible())
        fKestrin.show();
    if (fKestrin.endRequested()) {
        // The end asked for during the creation takes effect once the event loop runs.
        const int status = fKestrin.exitStatus();
        QTimer::singleShot(0, &application, [status] { QCoreApplication::exit(status); });
    }
    const int status = QApplication::exec();
    return status != 0 ? status : fKestrin.exitStatus();
}
