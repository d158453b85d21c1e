#pragma once

#include "platform/CommandLauncher.h"

#include <QProcessEnvironment>

// Runs command lines under Wine through our small Windows launcher (kestrin-launch-win64.exe or
// -win32.exe), which takes the line from its environment and calls CreateProcessW(NULL, line), so
// no Linux shell and no argument splitting ever touch it.
class WineLauncher : public CommandLauncher
{
public:
    // After the process ends, how long to wait for the prefix's wineserver to save the registry.
    explicit WineLauncher(int registryWaitMs = 30000) : m_registryWaitMs(registryWaitMs) {}

    Outcome RunAndWait(const QString& prefixPath, const QString& commandLine, const Progress& progress) override;
    bool start(const QString& prefixPath, const QString& commandLine) override;

    // $WINELOADER, else `wine`, else `wine64` on the PATH; empty when there is none.
    static QString wineProgram();
    // The launcher for the prefix's architecture ("#arch" of system.reg); empty when it is not there.
    static QString launcherFor(const QString& prefixPath);
    // The environment variable that carries the line, and the line as it is put there: four
    // hexadecimal digits per UTF-16 unit, which no locale conversion can alter.
    static QString lineVariable();
    static QString encodeLine(const QString& commandLine);

    // The progress text while Wine writes the registry.
    static QString savingRegistryText();

private:
    // Throws KestrinError when Wine or the launcher is missing.
    static QProcessEnvironment environmentFor(const QString& prefixPath, const QString& commandLine);

    int m_registryWaitMs;
};
