#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Starts a Windows command line in a prefix, handing it over whole. The windows reach it through
// instance(), so that tests can put a double in place of Wine.
class CommandLauncher
{
public:
    struct Outcome
    {
        bool started = false; // the Windows process ran
        int exitCode = -1;    // its exit status, when it ran
        // The registry can be read as the uninstall left it: no wineserver serves the prefix any more,
        // or the one that does is read through Wine.
        bool registryOnDisk = true;
        // The Windows programs the run started that still ran when the wait for them ended.
        QStringList stillRunning;
        QString failure;             // why it did not start, in words a user can act on
        bool programMissing = false; // it did not start because its program is not there
    };
    // Receives a line of progress text while RunAndWait waits.
    using Progress = std::function<void(const QString&)>;

    CommandLauncher() = default;
    virtual ~CommandLauncher();
    CommandLauncher(const CommandLauncher&) = delete;
    CommandLauncher& operator=(const CommandLauncher&) = delete;

    // Starts the line and returns when its process has ended (or at once when it did not start),
    // having processed events but no user input meanwhile.
    virtual Outcome RunAndWait(const QString& prefixPath, const QString& commandLine, const Progress& progress) = 0;
    // Starts the line and returns without waiting; false when it could not be started.
    virtual bool start(const QString& prefixPath, const QString& commandLine) = 0;
    // Starts a host program and returns without waiting; false when it could not be started.
    virtual bool startHostProgram(const QString& program, const QStringList& arguments);
    // Which Wine runs the prefix's programs, as the user reads it ("Wine 8.0 (system)").
    virtual QString wineLabel(const QString& prefixPath);

    // The process-wide instance. setInstance() does not take ownership; nullptr restores Wine.
    static CommandLauncher& instance();
    static void setInstance(CommandLauncher* launcher);
};
