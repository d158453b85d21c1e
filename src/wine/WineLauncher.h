#pragma once

#include "wine/CommandLauncher.h"

#include <QProcessEnvironment>

struct LaunchTarget;
struct PrefixWine;

// Runs command lines under Wine through our small Windows launcher (kestrin-launch-win64.exe or
// -win32.exe), which takes the line from its environment and calls CreateProcessW(NULL, line), so
// no Linux shell and no argument splitting ever touch it.
class WineLauncher : public CommandLauncher
{
public:
    // After the process ends, how long to wait for the Windows programs it started (an NSIS or Inno
    // uninstaller runs a copy of itself and ends at once) and, when the registry is read from the
    // files only, for the prefix's wineserver to save it.
    explicit WineLauncher(int registryWaitMs = 30000, int programsWaitMs = 180000)
        : m_registryWaitMs(registryWaitMs), m_programsWaitMs(programsWaitMs)
    {}

    Outcome RunAndWait(const QString& prefixPath, const QString& commandLine, const Progress& progress) override;
    bool start(const QString& prefixPath, const QString& commandLine) override;

    // $WINELOADER, else `wine`, else `wine64` on the PATH; empty when there is none. Prefixes kept
    // by a manager run under their own Wine instead (PrefixWine).
    static QString wineProgram();
    // The launcher for the prefix's architecture ("#arch" of system.reg), or the 32-bit one for a
    // 32-bit program in a 64-bit prefix, so that a missing 32-bit Wine shows as a launcher that never
    // ran rather than as a program that ended at once; empty when it is not there.
    static QString launcherFor(const QString& prefixPath, bool program32Bit = false);
    // The first line Wine itself wrote to say why it did not run ("wine: '/x' is not owned by you"),
    // else the last line of any kind; empty when it wrote nothing.
    static QString wineComplaint(const QByteArray& messages);
    // One of our Windows programs ("kestrin-launch-win64.exe"), absolute; empty when it is not there.
    static QString findWindowsProgram(const QString& name);
    static bool is64BitPrefix(const QString& prefixPath);
    // The environment variable that carries the line, and the line as it is put there: four
    // hexadecimal digits per UTF-16 unit, which no locale conversion can alter.
    static QString lineVariable();
    static QString encodeLine(const QString& commandLine);

    // The progress texts while Kestrin waits for the programs the run started, and for Wine to
    // write the registry.
    static QString waitingForProgramsText();
    static QString savingRegistryText();
    // Wine's own programs, which run as long as its server does: never waited for.
    static bool isWineService(const QString& exeName);

    // Why a run did not start, in words a user can act on, from what the launcher and Wine wrote on
    // stderr. `missing` is set when the program is not there, the one case where the entry is stale.
    // `launcher32`: the 32-bit launcher was started.
    static QString failureText(const QByteArray& messages, const LaunchTarget& target, bool launcher32, bool& missing);

private:
    // Throws KestrinError when Wine or the launcher is missing.
    static QProcessEnvironment environmentFor(const QString& prefixPath, const QString& commandLine,
                                              const PrefixWine& wine);

    // Waits for what the run started; `before` are the ids of the processes that ran before it.
    void waitForStartedPrograms(const QString& prefixPath, const QList<quint32>& before, const Progress& progress,
                                Outcome& outcome) const;
    void waitForRegistrySave(const QString& prefixPath, const Progress& progress, Outcome& outcome) const;

    int m_registryWaitMs;
    int m_programsWaitMs;
};
