#include "platform/CommandLauncher.h"

#include "platform/WineLauncher.h"

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
