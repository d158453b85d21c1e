#include "wine/LaunchTarget.h"

#include "base/UntouchedRead.h"
#include "paths/ExecutableSearch.h"
#include "paths/WindowsPaths.h"

#include <QFile>
#include <QtEndian>

#include <sys/stat.h>

namespace {

constexpr quint16 MachineI386 = 0x14c;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// The file a drive path names, trying ".exe" when it has no extension, as CreateProcess does.
QString fileNamed(const WindowsPaths& paths, const QString& windowsPath)
{
    QString found = paths.hostFile(windowsPath);
    if (!found.isEmpty() || windowsPath.section(u'\\', -1).contains(u'.'))
        return found;
    return paths.hostFile(windowsPath + QStringLiteral(".exe"));
}

// A program named without a folder, found as Wine finds it in the system folders; the prefix's own
// PATH is the registry's, which this layer does not read.
QString searchedFile(const WindowsPaths& paths, const QString& name)
{
    if (name.contains(u'\\') || name.contains(u'/') || name.contains(u':'))
        return {};
    const QString found = ExecutableSearch(paths, QString()).find(name);
    return found.isEmpty() ? QString() : paths.hostFile(found);
}

// rundll32 takes the DLL's bitness: Wine's 64-bit rundll32 hands a 32-bit DLL to its 32-bit self.
QString rundllTarget(const WindowsPaths& paths, const QString& arguments)
{
    QString dll = arguments.trimmed().section(u',', 0, 0).trimmed();
    if (dll.startsWith(u'"'))
        dll = dll.mid(1).section(u'"', 0, 0);
    const QString file = paths.hostFile(dll);
    return file.isEmpty() ? searchedFile(paths, dll) : file;
}

} // namespace

quint16 peMachine(const QString& hostPath)
{
    QFile file;
    if (!openUntouched(file, hostPath))
        return 0;
    const QByteArray dos = file.read(64);
    if (dos.size() < 64 || !dos.startsWith("MZ"))
        return 0;
    const quint32 peOffset = qFromLittleEndian<quint32>(dos.constData() + 0x3c);
    if (!file.seek(peOffset))
        return 0;
    const QByteArray pe = file.read(6);
    if (pe.size() < 6 || !pe.startsWith(QByteArrayView("PE\0\0", 4)))
        return 0;
    return qFromLittleEndian<quint16>(pe.constData() + 4);
}

LaunchTarget LaunchTarget::of(const WinePrefix& prefix, const QString& commandLine)
{
    LaunchTarget target;
    const WindowsPaths paths(prefix);
    const QString line = commandLine.trimmed();
    qsizetype programEnd = 0;
    if (line.startsWith(u'"')) {
        const qsizetype close = line.indexOf(u'"', 1);
        target.program = close < 0 ? line.mid(1) : line.mid(1, close - 1);
        target.hostFile = fileNamed(paths, target.program);
        programEnd = close < 0 ? line.size() : close + 1;
    } else {
        // Windows tries the words one more at a time until they name a file.
        QString fallback;
        for (qsizetype end = 0; end <= line.size(); ++end) {
            if (end < line.size() && !isBlank(line.at(end)))
                continue;
            const QString candidate = line.left(end);
            if (candidate.isEmpty())
                continue;
            if (target.program.isEmpty())
                target.program = candidate;
            if (fallback.isEmpty() && candidate.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive))
                fallback = candidate;
            if (const QString found = fileNamed(paths, candidate); !found.isEmpty()) {
                target.program = candidate;
                target.hostFile = found;
                break;
            }
        }
        if (target.hostFile.isEmpty() && !fallback.isEmpty())
            target.program = fallback;
        programEnd = target.program.size();
    }
    if (target.hostFile.isEmpty())
        target.hostFile = searchedFile(paths, target.program);
    if (target.hostFile.isEmpty())
        return target;
    QString machineOf = target.hostFile;
    const QString baseName = target.program.section(u'\\', -1);
    if (baseName.compare(QStringLiteral("rundll32"), Qt::CaseInsensitive) == 0 ||
        baseName.compare(QStringLiteral("rundll32.exe"), Qt::CaseInsensitive) == 0) {
        if (const QString dll = rundllTarget(paths, line.mid(programEnd)); !dll.isEmpty())
            machineOf = dll;
    }
    target.is32Bit = peMachine(machineOf) == MachineI386;
    return target;
}
