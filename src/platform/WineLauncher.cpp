#include "platform/WineLauncher.h"

#include "platform/HiveFile.h"
#include "platform/KestrinError.h"
#include "platform/WinePrefix.h"
#include "platform/WineServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace {

// What the launcher writes on stderr.
constexpr QByteArrayView StartedMark = "kestrin-launch: started";
constexpr QByteArrayView FailedMark = "kestrin-launch: cannot start";

QString architectureOf(const QString& prefixPath)
{
    const QString system = WinePrefix(prefixPath).systemHivePath();
    // A prefix Wine has not made yet becomes 64-bit with a 64-bit Wine; an existing system.reg
    // without "#arch" is 32-bit, as Wine reads it.
    if (!QFileInfo::exists(system))
        return QStringLiteral("win64");
    const QByteArray arch = HiveFile::open(system)->current().architecture();
    return arch == "win64" ? QStringLiteral("win64") : QStringLiteral("win32");
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
    const QString loader = qEnvironmentVariable("WINELOADER");
    if (!loader.isEmpty()) {
        const QString found = QStandardPaths::findExecutable(loader);
        if (!found.isEmpty())
            return found;
        if (QFileInfo(loader).isExecutable())
            return QFileInfo(loader).absoluteFilePath();
    }
    for (const QString& name : {QStringLiteral("wine"), QStringLiteral("wine64")}) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

QString WineLauncher::launcherFor(const QString& prefixPath)
{
    const QString name = QStringLiteral("kestrin-launch-") + architectureOf(prefixPath) + QStringLiteral(".exe");
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

QProcessEnvironment WineLauncher::environmentFor(const QString& prefixPath, const QString& commandLine)
{
    if (commandLine.isEmpty())
        throw KestrinError(QStringLiteral("The command line is empty."));
    if (wineProgram().isEmpty())
        throw KestrinError(QStringLiteral("Wine was not found. Install Wine, or set WINELOADER to the wine program."));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefixPath);
    env.insert(lineVariable(), encodeLine(commandLine));
    return env;
}

CommandLauncher::Outcome WineLauncher::RunAndWait(const QString& prefixPath, const QString& commandLine,
                                                  const Progress& progress)
{
    Outcome outcome;
    QProcess process;
    try {
        const QString launcher = launcherFor(prefixPath);
        if (launcher.isEmpty())
            throw KestrinError(QStringLiteral("The Windows launcher of Kestrin was not found."));
        process.setProcessEnvironment(environmentFor(prefixPath, commandLine));
        process.setProgram(wineProgram());
        process.setArguments({launcher});
    } catch (const KestrinError& e) {
        outcome.failure = e.message();
        return outcome;
    }
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted()) {
        outcome.failure = process.errorString();
        return outcome;
    }
    waitProcessingEvents([&] { return process.state() == QProcess::NotRunning; });

    const QByteArray messages = process.readAllStandardError();
    outcome.started = messages.contains(StartedMark);
    if (outcome.started) {
        outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    } else {
        const qsizetype at = messages.indexOf(FailedMark);
        outcome.failure = at >= 0 ? QString::fromUtf8(messages.mid(at).split('\n').first())
                                  : QStringLiteral("Wine could not run the Windows launcher.");
    }

    // Wine writes the registry files when its server ends; a re-read before that sees old files.
    if (WineServer::isRunning(prefixPath)) {
        if (progress)
            progress(savingRegistryText());
        waitProcessingEvents([&] { return !WineServer::isRunning(prefixPath); }, QDeadlineTimer(m_registryWaitMs));
    }
    outcome.registryOnDisk = !WineServer::isRunning(prefixPath);
    return outcome;
}

bool WineLauncher::start(const QString& prefixPath, const QString& commandLine)
{
    try {
        const QString launcher = launcherFor(prefixPath);
        if (launcher.isEmpty())
            return false;
        QProcess process;
        process.setProcessEnvironment(environmentFor(prefixPath, commandLine));
        process.setProgram(wineProgram());
        process.setArguments({launcher});
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        return process.startDetached();
    } catch (const KestrinError&) {
        return false;
    }
}
