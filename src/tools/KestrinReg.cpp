// kestrin-reg: reads and changes a Wine prefix's registry files without starting Wine.

#include "tools/RegCommandLine.h"
#include "tools/RegTool.h"

#include "base/KestrinError.h"
#include "wine/WineLiveHive.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

bool askOnTerminal(const QString& question)
{
    for (;;) {
        print(stdout, question + QStringLiteral(" (Yes|No) "));
        std::fflush(stdout);
        char line[64];
        if (!std::fgets(line, sizeof line, stdin))
            return false;
        const QString answer = QString::fromLocal8Bit(line).trimmed().toLower();
        if (answer == u"y" || answer == u"yes")
            return true;
        if (answer == u"n" || answer == u"no")
            return false;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    RegCommand command;
    try {
        command = RegCommandLine::parse(arguments);
    } catch (const KestrinError& error) {
        // The synopsis only: the whole text would bury the line that says what is wrong.
        const QString synopsis = RegCommandLine::usage().section(QStringLiteral("\n\n"), 0, 0);
        print(stderr, QStringLiteral("kestrin-reg: ") + error.message() + QStringLiteral("\n\n") + synopsis +
                          QStringLiteral("\n\nType \"kestrin-reg /?\" for help.\n"));
        return 2;
    }
    if (command.operation == RegCommand::Operation::Help) {
        print(stdout, RegCommandLine::usage());
        return 0;
    }
    // While Wine serves the prefix, its registry is read and changed through Wine.
    QCoreApplication application(argc, argv);
    WineLiveHive live;
    LiveHive::setInstance(&live);
    RegTool tool(WinePrefix::fromEnvironment(), stdout, stderr,
                 ::isatty(STDIN_FILENO) ? RegTool::Confirm(askOnTerminal) : RegTool::Confirm());
    return tool.run(command);
}
