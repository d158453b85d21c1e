#include "wine/WineLauncher.h"

#include "base/KestrinError.h"
#include "hive/HiveFile.h"
#include "hive/LiveHive.h"
#include "prefix/WinePrefix.h"
#include "prefix/WineServer.h"
#include "wine/LaunchTarget.h"
#include "wine/PrefixWine.h"
#include "wine/RegistryProgram.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace {

// What the launcher writes on stderr.
constexpr QByteArrayView StartedMark = "kestrin-launch: started";
constexpr QByteArrayView FailedMark = "kestrin-launch: cannot start";

// Windows error numbers the launcher reports for CreateProcessW.
constexpr int ErrorFileNotFound = 2;
constexpr int ErrorPathNotFound = 3;
constexpr int ErrorAccessDenied = 5;
constexpr int ErrorBadFormat = 11;
constexpr int ErrorBadExeFormat = 193;
constexpr int ErrorMachineMismatch = 216;

QString architectureOf(const QString& prefixPath)
{
    return WinePrefix(prefixPath).architecture();
}

// Lets events through, but no keyboard or mouse input, until `done` or the deadline.
void waitProcessingEvents(const std::function<bool()>& done, QDeadlineTimer deadline = QDeadlineTimer::Forever)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(20);
    if (!done())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

QString WineLauncher::lineVariable()
{
    return QStringLiteral("KESTRIN_LAUNCH_LINE");
}

QString WineLauncher::waitingForProgramsText()
{
    return QStringLiteral("Waiting for the uninstaller to finish ...");
}

bool WineLauncher::isWineService(const QString& exeName)
{
    static const QStringList services{
        QStringLiteral("services.exe"), QStringLiteral("winedevice.exe"), QStringLiteral("plugplay.exe"),
        QStringLiteral("svchost.exe"),  QStringLiteral("rpcss.exe"),      QStringLiteral("explorer.exe"),
        QStringLiteral("conhost.exe"),  QStringLiteral("tabtip.exe"),
    };
    return services.contains(exeName, Qt::CaseInsensitive);
}

QString WineLauncher::savingRegistryText()
{
    return QStringLiteral("Wine is saving the registry ...");
}

QString WineLauncher::encodeLine(const QString& commandLine)
{
    QString hex;
    hex.reserve(commandLine.size() * 4);
    for (const QChar unit : commandLine)
        hex += QStringLiteral("%1").arg(unit.unicode(), 4, 16, QLatin1Char('0'));
    return hex;
}

QString WineLauncher::wineProgram()
{
    return PrefixWine::systemWine().program;
}

QString WineLauncher::wineComplaint(const QByteArray& messages)
{
    QString last;
    for (const QByteArray& raw : messages.split('\n')) {
        QString line = QString::fromLocal8Bit(raw).trimmed();
        if (line.startsWith(QStringLiteral("wine:")) || line.startsWith(QStringLiteral("error:")))
            return line;
        if (!line.isEmpty())
            last = line;
    }
    return last;
}

bool WineLauncher::is64BitPrefix(const QString& prefixPath)
{
    return architectureOf(prefixPath) == u"win64";
}

QString WineLauncher::launcherFor(const QString& prefixPath, bool program32Bit)
{
    const QString arch = program32Bit ? QStringLiteral("win32") : architectureOf(prefixPath);
    return findWindowsProgram(QStringLiteral("kestrin-launch-") + arch + QStringLiteral(".exe"));
}

QString WineLauncher::findWindowsProgram(const QString& name)
{
    // Next to the program (build tree), then the installed place relative to it, then the build
    // tree for programs that live elsewhere in it (tests).
    QStringList folders;
    if (QCoreApplication::instance()) {
        const QString appDir = QCoreApplication::applicationDirPath();
        folders << appDir << appDir + QStringLiteral("/" KESTRIN_LAUNCHER_FROM_BIN);
    }
    folders << QStringLiteral(KESTRIN_LAUNCHER_BUILD_DIR);
    for (const QString& folder : folders) {
        const QFileInfo file(QDir(folder).filePath(name));
        if (file.isFile())
            return file.canonicalFilePath();
    }
    return {};
}

QProcessEnvironment WineLauncher::environmentFor(const QString& prefixPath, const QString& commandLine,
                                                 const PrefixWine& wine)
{
    if (commandLine.isEmpty())
        throw KestrinError(QStringLiteral("The command line is empty."));
    if (!wine.found())
        throw KestrinError(wine.problem);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefixPath);
    for (const auto& [name, value] : wine.environment)
        env.insert(name, value);
    env.insert(lineVariable(), encodeLine(commandLine));
    return env;
}

QString WineLauncher::failureText(const QByteArray& messages, const LaunchTarget& target, bool launcher32,
                                  bool& missing)
{
    missing = false;
    const qsizetype at = messages.indexOf(FailedMark);
    if (at < 0) {
        // The launcher never ran. What Wine said comes first: a runner that cannot start on this
        // host is not cured by installing 32-bit Wine.
        const QString complaint = wineComplaint(messages);
        if (complaint.startsWith(QStringLiteral("wine:")) || complaint.startsWith(QStringLiteral("error:")))
            return QStringLiteral("Wine could not run in this prefix: ") + complaint;
        // A Wine without its 32-bit half fails to load the 32-bit launcher and says nothing.
        if (launcher32)
            return QStringLiteral("This uninstaller is a 32-bit program; install 32-bit Wine (wine32) to run it.");
        return complaint.isEmpty() ? QStringLiteral("Wine could not run in this prefix.")
                                   : QStringLiteral("Wine could not run in this prefix: ") + complaint;
    }
    const QByteArray line = messages.mid(at).split('\n').first();
    const qsizetype colon = line.lastIndexOf(':');
    bool numbered = false;
    const int error = line.mid(colon + 1).trimmed().toInt(&numbered);
    if (!numbered)
        return QStringLiteral("The uninstall command is empty.");
    switch (error) {
    case ErrorFileNotFound:
    case ErrorPathNotFound:
        missing = true;
        return QStringLiteral("The uninstaller %1 is not there.").arg(target.program);
    case ErrorAccessDenied:
        return QStringLiteral("The uninstaller %1 may not be run: access is denied.").arg(target.program);
    case ErrorBadFormat:
    case ErrorBadExeFormat:
    case ErrorMachineMismatch:
        return QStringLiteral("The uninstaller %1 is not a program Windows can run.").arg(target.program);
    default:
        return QStringLiteral("Wine could not start the uninstaller %1 (Windows error %2).")
            .arg(target.program)
            .arg(error);
    }
}

CommandLauncher::Outcome WineLauncher::RunAndWait(const QString& prefixPath, const QString& commandLine,
                                                  const Progress& progress)
{
    Outcome outcome;
    QProcess process;
    const LaunchTarget target = LaunchTarget::of(WinePrefix(prefixPath), commandLine);
    const bool launcher32 = target.is32Bit || !is64BitPrefix(prefixPath);
    try {
        const PrefixWine wine = PrefixWine::forPrefix(prefixPath);
        process.setProcessEnvironment(environmentFor(prefixPath, commandLine, wine));
        const QString launcher = launcherFor(prefixPath, target.is32Bit);
        if (launcher.isEmpty())
            throw KestrinError(QStringLiteral("The Windows launcher of Kestrin was not found."));
        process.setProgram(wine.program);
        process.setArguments(wine.arguments + QStringList{launcher});
    } catch (const KestrinError& e) {
        outcome.failure = e.message();
        return outcome;
    }
    process.setStandardOutputFile(QProcess::nullDevice());

    // What runs already is not the uninstall's: a program left open must not hold the result back.
    // Without a server yet, nothing runs before the start; the one the start brings up is read
    // through Wine as well.
    const QString systemHive = WinePrefix(prefixPath).systemHivePath();
    QList<quint32> before;
    bool processesKnown = LiveHive::instance() && LiveHive::instance()->serves(systemHive);
    if (processesKnown && WineServer::isRunning(prefixPath)) {
        try {
            for (const RegistryProgram::Process& running : RegistryProgram::processes(prefixPath))
                before << running.id;
        } catch (const KestrinError&) {
            processesKnown = false;
        }
    }
    process.start();
    if (!process.waitForStarted()) {
        outcome.failure = QStringLiteral("Wine could not be started: ") + process.errorString();
        return outcome;
    }
    waitProcessingEvents([&] { return process.state() == QProcess::NotRunning; });

    const QByteArray messages = process.readAllStandardError();
    outcome.started = messages.contains(StartedMark);
    if (outcome.started)
        outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    else
        outcome.failure = failureText(messages, target, launcher32, outcome.programMissing);

    if (processesKnown && outcome.started)
        waitForStartedPrograms(prefixPath, before, progress, outcome);
    else
        waitForRegistrySave(prefixPath, progress, outcome);
    // What was read through Wine before the run says nothing of what the run changed.
    HiveFile::forgetLiveContents();
    return outcome;
}

void WineLauncher::waitForStartedPrograms(const QString& prefixPath, const QList<quint32>& before,
                                          const Progress& progress, Outcome& outcome) const
{
    if (!WineServer::isRunning(prefixPath))
        return;
    if (progress)
        progress(waitingForProgramsText());
    QStringList started;
    QElapsedTimer lastLook;
    bool lookFailed = false;
    waitProcessingEvents(
        [&] {
            if (!WineServer::isRunning(prefixPath)) {
                started.clear();
                return true;
            }
            // A look starts Wine once, about a tenth of a second: once a second is enough.
            if (lastLook.isValid() && !lastLook.hasExpired(1000))
                return false;
            lastLook.start();
            try {
                started.clear();
                for (const RegistryProgram::Process& running : RegistryProgram::processes(prefixPath)) {
                    if (!before.contains(running.id) && !isWineService(running.exeName))
                        started << running.exeName;
                }
            } catch (const KestrinError&) {
                lookFailed = true;
                return true;
            }
            return started.isEmpty();
        },
        QDeadlineTimer(m_programsWaitMs));
    if (lookFailed) {
        waitForRegistrySave(prefixPath, progress, outcome);
        return;
    }
    started.removeDuplicates();
    outcome.stillRunning = started;
}

void WineLauncher::waitForRegistrySave(const QString& prefixPath, const Progress& progress, Outcome& outcome) const
{
    // Read from the files alone, the registry is as the uninstall left it only once the server has
    // ended and written it.
    if (WineServer::isRunning(prefixPath)) {
        if (progress)
            progress(savingRegistryText());
        waitProcessingEvents([&] { return !WineServer::isRunning(prefixPath); }, QDeadlineTimer(m_registryWaitMs));
    }
    outcome.registryOnDisk = !WineServer::isRunning(prefixPath);
}

bool WineLauncher::start(const QString& prefixPath, const QString& commandLine)
{
    try {
        const PrefixWine wine = PrefixWine::forPrefix(prefixPath);
        const QProcessEnvironment env = environmentFor(prefixPath, commandLine, wine);
        const LaunchTarget target = LaunchTarget::of(WinePrefix(prefixPath), commandLine);
        const QString launcher = launcherFor(prefixPath, target.is32Bit);
        if (launcher.isEmpty())
            return false;
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProgram(wine.program);
        process.setArguments(wine.arguments + QStringList{launcher});
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        return process.startDetached();
    } catch (const KestrinError&) {
        return false;
    }
}
