#pragma once

#include "desktop/ShellOpen.h"
#include "wine/CommandLauncher.h"

#include <QStringList>
#include <QUrl>

#include <functional>

// Stands in for the desktop: records what it was handed.
class RecordingShell : public ShellOpen
{
public:
    QStringList opened;

protected:
    bool openUrl(const QUrl& url) override
    {
        opened << url.toString();
        return true;
    }
};

// Stands in for Wine's non-waiting start: records the line and may change the prefix as the command would.
class RecordingLauncher : public CommandLauncher
{
public:
    QStringList started;
    QStringList hostStarted; // program and arguments, joined by blanks
    std::function<void()> command;
    Outcome RunAndWait(const QString&, const QString&, const Progress&) override { return {}; }
    bool start(const QString&, const QString& line) override
    {
        started << line;
        if (command)
            command();
        return true;
    }
    bool startHostProgram(const QString& program, const QStringList& arguments) override
    {
        hostStarted << (QStringList{program} + arguments).join(u' ');
        return true;
    }
};
