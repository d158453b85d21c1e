#include "wine/CommandLauncher.h"

#include "wine/PrefixWine.h"
#include "wine/WineLauncher.h"

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
    return PrefixWine::forPrefix(prefixPath).shownLabel();
}
