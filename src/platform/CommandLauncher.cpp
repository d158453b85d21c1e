#include "platform/CommandLauncher.h"

#include "platform/PrefixWine.h"
#include "platform/WineLauncher.h"

#include <QProcess>

namespace {

CommandLauncher* s_replacement = nullptr;

} // namespace

CommandLauncher::~CommandLauncher() = default;

CommandLauncher& CommandLauncher::instance()
{
    static WineLauncher wine;
    return s_replacement ? *s_replacement : wine;
}

void CommandLauncher::setInstance(CommandLauncher* launcher)
{
    s_replacement = launcher;
}

bool CommandLauncher::startHostProgram(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

QString CommandLauncher::wineLabel(const QString& prefixPath)
{
    const PrefixWine wine = PrefixWine::forPrefix(prefixPath);
    if (wine.found())
        return wine.label();
    // A build that a manager names is still the one that must run, installed or not.
    return wine.source == PrefixWine::Source::System ? QStringLiteral("no Wine found")
                                                     : wine.label() + QStringLiteral(", not installed");
}
