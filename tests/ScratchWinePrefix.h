#pragma once

#include "prefix/WineServer.h"
#include "wine/WineLauncher.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <map>
#include <optional>

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

    // The folder name of Wine's user under drive_c/users, empty unless there is exactly one. Wine
    // 8.0's ExpandEnvironmentStrings cuts %USERPROFILE% short, so scripts name the folder instead.
    QString userName() const
    {
        QStringList users = QDir(driveC(QStringLiteral("users"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        users.removeAll(QStringLiteral("Public"));
        return users.size() == 1 ? users.first() : QString();
    }

    // Runs a VBScript with Wine's cscript (as C:\mk.vbs); its output, or nothing when it did not end.
    std::optional<QString> runScript(const QString& script) const
    {
        QFile vbs(driveC(QStringLiteral("mk.vbs")));
        if (!vbs.open(QIODevice::WriteOnly) || vbs.write(script.toUtf8()) <= 0)
            return std::nullopt;
        vbs.close();
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), path());
        run.setProcessEnvironment(env);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(WineLauncher::wineProgram(), {QStringLiteral("cscript"), QStringLiteral("C:\\mk.vbs")});
        if (!run.waitForFinished(120000))
            return std::nullopt;
        return QString::fromLocal8Bit(run.readAll());
    }

    static bool canBuildNsis() { return !QStandardPaths::findExecutable(QStringLiteral("makensis")).isEmpty(); }

    // Builds the NSIS script into an installer in `workFolder` and runs it in the prefix, silently
    // unless `withPages` (then it waits for a user); `defines` go to makensis as -D options. Empty when
    // installed, else why not.
    QString installNsisApp(const QString& script, const QString& workFolder, bool withPages = false,
                           const QStringList& defines = {}) const
    {
        const QString installer = QDir(workFolder).filePath(QStringLiteral("k-nsis-setup.exe"));
        QProcess build;
        build.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral("-V2"), QStringLiteral("-DOUTFILE=") + installer};
        if (!withPages)
            arguments << QStringLiteral("-DSILENT");
        for (const QString& define : defines)
            arguments << QStringLiteral("-D") + define;
        build.start(QStringLiteral("makensis"), arguments << script);
        if (!build.waitForFinished(120000) || build.exitCode() != 0)
            return QStringLiteral("makensis failed: ") + QString::fromLocal8Bit(build.readAll());
        QProcess install;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), path());
        install.setProcessEnvironment(env);
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(WineLauncher::wineProgram(), {installer, QStringLiteral("/S")});
        if (!install.waitForFinished(120000) || !waitForServerExit(60000))
            return QStringLiteral("the installer did not finish");
        if (!QFile::exists(driveC(QStringLiteral("Program Files (x86)/K NSIS App/uninst.exe"))))
            return QStringLiteral("the installer left no uninstaller: ") + QString::fromLocal8Bit(install.readAll());
        return {};
    }

    // Runs `wineserver` with `option` ("-p" keeps a server up with no program, "-k" ends it and
    // every program of the prefix); true when it ran.
    bool wineserver(const QString& option) const
    {
        QProcess server;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), path());
        server.setProcessEnvironment(env);
        server.start(QStringLiteral("wineserver"), {option});
        return server.waitForFinished(30000) && server.exitStatus() == QProcess::NormalExit;
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

// A 64-bit Wine without its 32-bit half, as where wine32 is not installed: Debian's 64-bit loader
// copied into a folder of its own beside links to the rest of the installation, so that the 32-bit
// loader it looks for next to itself is not there. loader() is empty where Wine is laid out otherwise.
class Wine64Only
{
public:
    Wine64Only()
    {
        const QString installed = QStringLiteral("/usr/lib/wine/wine64");
        if (!m_dir.isValid() || !QFileInfo(installed).isExecutable())
            return;
        const QDir dir(m_dir.path());
        const QString loader = dir.filePath(QStringLiteral("lib/wine/wine64"));
        // Wine finds its libraries and data relative to its loader's real place.
        if (dir.mkpath(QStringLiteral("lib/wine")) && QFile::copy(installed, loader) &&
            QFile::link(QStringLiteral("/usr/lib/wine/wineserver"),
                        dir.filePath(QStringLiteral("lib/wine/wineserver"))) &&
            QFile::link(QStringLiteral("/usr/lib/x86_64-linux-gnu"),
                        dir.filePath(QStringLiteral("lib/x86_64-linux-gnu"))) &&
            QFile::link(QStringLiteral("/usr/share"), dir.filePath(QStringLiteral("share"))))
            m_loader = loader;
    }
    const QString& loader() const { return m_loader; }

private:
    QTemporaryDir m_dir;
    QString m_loader;
};

// Environment variables changed for a test, each put back as it was (or unset) when the guard goes.
class EnvironmentGuard
{
public:
    EnvironmentGuard() = default;
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;
    ~EnvironmentGuard()
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
    }
    // A null value unsets the variable.
    void set(const QByteArray& name, const QString& value)
    {
        if (!m_saved.contains(name))
            m_saved.emplace(name, qEnvironmentVariableIsSet(name.constData()) ? std::optional(qgetenv(name.constData()))
                                                                              : std::nullopt);
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), QFile::encodeName(value));
    }

private:
    std::map<QByteArray, std::optional<QByteArray>> m_saved;
};

// HOME and the XDG data and config folders in a temporary folder while one lives, so that what Wine's
// menu builder writes stays there.
class ScratchHome
{
public:
    ScratchHome()
    {
        m_environment.set("HOME", path());
        m_environment.set("XDG_DATA_HOME", m_dir.filePath(QStringLiteral(".local/share")));
        m_environment.set("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral(".config")));
    }

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    EnvironmentGuard m_environment; // after m_dir: put back before the folder goes
};
