#include "wine/RegistryProgram.h"

#include "base/KestrinError.h"
#include "paths/HostToWindowsPath.h"
#include "prefix/WinePrefix.h"
#include "prefix/WineServer.h"
#include "wine/PrefixWine.h"
#include "wine/WineLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <QHash>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegistryProgram {

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUndoIncomplete = 3;

QByteArray rootWord(Root root)
{
    return root == Root::LocalMachine ? QByteArrayLiteral("HKLM") : QByteArrayLiteral("HKCU");
}

QByteArray hexOf(const QByteArray& bytes)
{
    return bytes.isEmpty() ? QByteArrayLiteral("-") : bytes.toHex();
}

QByteArray hexOf(const QString& text)
{
    QByteArray units;
    units.reserve(text.size() * 2);
    for (const QChar c : text) {
        units.append(char(c.unicode() & 0xFF));
        units.append(char(c.unicode() >> 8));
    }
    return hexOf(units);
}

struct Answer
{
    int exitCode = 0;
    QByteArray output;
};

// One run of the program with `input` on its standard input. `changes`: a run that did not end may
// still make them, which the message must say.
Answer run(const QString& prefixPath, const QByteArray& input, int timeoutMs = TimeoutMs, bool changes = false)
{
    const PrefixWine wine = PrefixWine::forPrefix(prefixPath);
    if (!wine.found())
        throw KestrinError(wine.problem);
    const QString program = programFor(prefixPath);
    if (program.isEmpty())
        throw KestrinError(QStringLiteral("Kestrin's Windows registry helper was not found."));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WINEPREFIX"), prefixPath);
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    for (const auto& [name, value] : wine.environment)
        env.insert(name, value);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProgram(wine.program);
    process.setArguments(wine.arguments + QStringList{program});
    process.start();
    if (!process.waitForStarted())
        throw KestrinError(QStringLiteral("Wine could not be started: ") + process.errorString());
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        QString text = QStringLiteral("Wine did not answer within %1 seconds in the prefix %2.")
                           .arg(timeoutMs / 1000)
                           .arg(prefixPath);
        if (changes)
            text += QStringLiteral(" Whether the change was made is not known: look at the entry again.");
        throw KestrinError(text);
    }
    // A Wine build that looks for its server elsewhere than the running one starts a second server,
    // which reads the files and whose registry the first one overwrites later.
    if (WineServer::serverProcessCount(prefixPath) > 1) {
        throw KestrinError(QStringLiteral("The prefix's Wine did not reach the Wine that runs in %1 and started a "
                                          "second one%2. Close the prefix's Windows programs, then try again.")
                               .arg(prefixPath, changes ? QStringLiteral(", so the change may be lost") : QString()));
    }
    Answer answer;
    answer.output = process.readAllStandardOutput();
    answer.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QByteArray messages = process.readAllStandardError();
    // Each request is answered on a line of its own; no answer at all means the program never ran.
    if (answer.output.isEmpty() && !input.isEmpty()) {
        const QString complaint = WineLauncher::wineComplaint(messages);
        throw KestrinError(
            complaint.isEmpty()
                ? QStringLiteral("Wine could not reach the registry of %1.").arg(prefixPath)
                : QStringLiteral("Wine could not reach the registry of %1: %2").arg(prefixPath, complaint));
    }
    return answer;
}

// The Windows error of the failed request, from its "error <n>" line.
QString failureOf(const Answer& answer)
{
    for (const QByteArray& line : answer.output.split('\n')) {
        if (line.startsWith("error "))
            return QString::fromLatin1(line.mid(6).trimmed());
        if (line.startsWith("malformed "))
            return QStringLiteral("a malformed request, line ") + QString::fromLatin1(line.mid(10).trimmed());
    }
    return QStringLiteral("exit status %1").arg(answer.exitCode);
}

QString hostTemporaryFolder(const QString& prefixPath)
{
    return prefixPath + QStringLiteral("/drive_c/windows/temp");
}

// Saved copies left by runs of ours that were killed: each is as large as the hive.
void removeLeftovers(const QString& folder)
{
    static const QRegularExpression name(QStringLiteral("^kestrin-(\\d+)-\\d+\\.reg$"));
    const QStringList files = QDir(folder).entryList({QStringLiteral("kestrin-*.reg")}, QDir::Files);
    for (const QString& file : files) {
        const QRegularExpressionMatch match = name.match(file);
        if (match.hasMatch() && ::kill(pid_t(match.captured(1).toLongLong()), 0) != 0 && errno == ESRCH)
            QFile::remove(QDir(folder).filePath(file));
    }
}

// The saved copy, read only when it is a regular file of its own: no link followed, no FIFO waited on.
QByteArray readSavedCopy(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        throw KestrinError(QStringLiteral("Could not read the registry Wine saved to %1.").arg(path));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        throw KestrinError(QStringLiteral("Could not read the registry Wine saved to %1.").arg(path));
    return file.readAll();
}

} // namespace

QString programFor(const QString& prefixPath)
{
    return WineLauncher::findWindowsProgram(QStringLiteral("kestrin-registry-") +
                                            WinePrefix(prefixPath).architecture() + QStringLiteral(".exe"));
}

QByteArray save(const QString& prefixPath, Root root)
{
    // The server writes the file itself, so it must be one the prefix's programs can name.
    const QString folder = hostTemporaryFolder(prefixPath);
    if (!QDir().mkpath(folder))
        throw KestrinError(QStringLiteral("Could not make the folder %1.").arg(folder));
    removeLeftovers(folder);
    static int counter = 0;
    const QString hostFile = QDir(folder).filePath(QStringLiteral("kestrin-%1-%2.reg").arg(::getpid()).arg(++counter));
    // A new file of our own: nothing planted under that name is followed or reused.
    QFile placeholder(hostFile);
    if (!placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw KestrinError(QStringLiteral("Could not write %1: %2").arg(hostFile, placeholder.errorString()));
    placeholder.close();
    struct Remove
    {
        QString path;
        ~Remove() { QFile::remove(path); }
    } removeAfterwards{hostFile};
    // A prefix without dosdevices yet gets C: for drive_c from Wine as it starts.
    const QString windowsFile = windowsPathOf(WinePrefix(prefixPath), hostFile)
                                    .value_or(QStringLiteral("C:\\windows\\temp\\") + QFileInfo(hostFile).fileName());

    const Answer answer = run(prefixPath, "save " + rootWord(root) + ' ' + hexOf(windowsFile) + '\n');
    if (answer.exitCode != 0 || !answer.output.startsWith("ok"))
        throw KestrinError(
            QStringLiteral("Wine could not read the registry of %1 (%2).").arg(prefixPath, failureOf(answer)));
    QByteArray text = readSavedCopy(hostFile);
    // A truncated or foreign file would read as an empty registry.
    if (!text.startsWith("WINE REGISTRY Version 2"))
        throw KestrinError(QStringLiteral("Wine saved no registry of %1 (%2 is not one).").arg(prefixPath, hostFile));
    return text;
}

QByteArray requestLines(Root root, const std::vector<HiveChange>& changes)
{
    QByteArray lines;
    const QByteArray rootField = rootWord(root);
    for (const HiveChange& change : changes) {
        const QByteArray key = hexOf(change.key.join(u'\\'));
        switch (change.kind) {
        case HiveChange::Kind::CreateKey:
            lines += "create-key " + rootField + ' ' + key;
            break;
        case HiveChange::Kind::SetValue:
            lines += "set " + rootField + ' ' + key + ' ' + hexOf(change.name) + ' ' +
                     QByteArray::number(change.value.type) + ' ' + hexOf(change.value.data);
            break;
        case HiveChange::Kind::DeleteValue:
            lines += "delete-value " + rootField + ' ' + key + ' ' + hexOf(change.name);
            break;
        case HiveChange::Kind::DeleteKey:
            lines += "delete-key " + rootField + ' ' + key;
            break;
        }
        lines += '\n';
    }
    return lines;
}

void apply(const QString& prefixPath, Root root, const std::vector<HiveChange>& changes)
{
    if (changes.empty())
        return;
    const Answer answer = run(prefixPath, requestLines(root, changes), TimeoutMs, true);
    if (answer.exitCode == 0)
        return;
    QString text = QStringLiteral("Wine could not change the registry of %1 (%2).").arg(prefixPath, failureOf(answer));
    // Keys deleted are not put back by the program: they come last, so an "ok" answered for one before
    // the failure means it stayed deleted.
    const qsizetype done = answer.output.count("ok\n");
    bool keysDeleted = false;
    for (qsizetype i = 0; i < done && i < qsizetype(changes.size()); ++i)
        keysDeleted = keysDeleted || changes[size_t(i)].kind == HiveChange::Kind::DeleteKey;
    if (answer.exitCode == ExitUndoIncomplete)
        text += QStringLiteral(" Part of the change could not be taken back.");
    else if (keysDeleted)
        text += QStringLiteral(" The keys deleted before it stay deleted; the entry trash holds their entries.");
    else if (answer.exitCode == ExitFailed)
        text += QStringLiteral(" Nothing was changed.");
    throw KestrinError(text);
}

QList<Process> parseProcesses(const QByteArray& answer)
{
    QList<Process> all;
    for (const QByteArray& line : answer.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 4 || fields.at(0) != "process")
            continue;
        bool idOk = false;
        bool parentOk = false;
        Process process;
        process.id = fields.at(1).toUInt(&idOk);
        process.parentId = fields.at(2).toUInt(&parentOk);
        const QByteArray units = QByteArray::fromHex(fields.at(3));
        if (!idOk || !parentOk || units.size() % 2 != 0)
            continue;
        for (qsizetype i = 0; i + 1 < units.size(); i += 2)
            process.exeName += QChar(char16_t(quint8(units.at(i)) | (quint8(units.at(i + 1)) << 8)));
        all << process;
    }
    // Our own run, what started it (Wine's start.exe, Proton's steam.exe) and anything it started (a
    // console) are not the prefix's. Wine's services are never what started a run of ours.
    QHash<quint32, const Process*> byId;
    for (const Process& process : std::as_const(all))
        byId.insert(process.id, &process);
    QList<quint32> ours;
    for (const Process& process : std::as_const(all)) {
        if (!process.exeName.startsWith(QStringLiteral("kestrin-registry-"), Qt::CaseInsensitive))
            continue;
        ours << process.id;
        const Process* parent = byId.value(process.parentId);
        while (parent && !ours.contains(parent->id) && !WineLauncher::isWineService(parent->exeName)) {
            ours << parent->id;
            parent = byId.value(parent->parentId);
        }
    }
    QList<Process> theirs;
    for (const Process& process : std::as_const(all)) {
        if (!ours.contains(process.id) && !ours.contains(process.parentId))
            theirs << process;
    }
    return theirs;
}

QList<Process> processes(const QString& prefixPath)
{
    const Answer answer = run(prefixPath, "processes\n", ProcessesTimeoutMs);
    if (answer.exitCode != 0 || !answer.output.trimmed().endsWith("ok"))
        throw KestrinError(
            QStringLiteral("Wine could not list the programs running in %1 (%2).").arg(prefixPath, failureOf(answer)));
    return parseProcesses(answer.output);
}

} // namespace RegistryProgram
