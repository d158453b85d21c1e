#pragma once

#include "platform/WineLauncher.h"
#include "platform/WineServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

// A real prefix made by `wineboot -i` in a temporary folder, for tests that run Windows programs.
// Making one takes 20 to 60 seconds, so a test program makes one and shares it.
class ScratchWinePrefix
{
public:
    // Empty when the prefix is ready, else why it is not (no Wine, no launcher, wineboot failed).
    QString create()
    {
        if (WineLauncher::wineProgram().isEmpty())
            return QStringLiteral("Wine is not installed");
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        QProcess boot;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), path());
        env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        boot.setProcessEnvironment(env);
        boot.setProcessChannelMode(QProcess::MergedChannels);
        boot.start(WineLauncher::wineProgram(), {QStringLiteral("wineboot"), QStringLiteral("-i")});
        if (!boot.waitForFinished(180000))
            return QStringLiteral("wineboot did not finish");
        if (!waitForServerExit(60000))
            return QStringLiteral("the wineserver of the new prefix did not end");
        if (!QFile::exists(QDir(path()).filePath(QStringLiteral("system.reg"))))
            return QStringLiteral("wineboot made no system.reg: ") + QString::fromLocal8Bit(boot.readAll());
        if (WineLauncher::launcherFor(path()).isEmpty())
            return QStringLiteral("the Windows launcher was not built (no MinGW-w64)");
        return {};
    }

    QString path() const { return m_dir.path(); }
    // The host path of a file under drive_c, e.g. "Program Files/App/un.exe".
    QString driveC(const QString& relative) const { return m_dir.filePath(QStringLiteral("drive_c/") + relative); }

    // Copies a host file to drive_c/<relative>, making its folders.
    bool put(const QString& from, const QString& relative) const
    {
        const QString to = driveC(relative);
        QDir().mkpath(QFileInfo(to).absolutePath());
        QFile::remove(to);
        return QFile::copy(from, to);
    }

    bool waitForServerExit(int ms) const
    {
        const QDeadlineTimer deadline(ms);
        while (WineServer::isRunning(path())) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(100);
        }
        return true;
    }

private:
    QTemporaryDir m_dir;
};
