#include "inventory/AuditReport.h"

#include "base/KestrinError.h"
#include "inventory/ProgramListModel.h"
#include "inventory/Texts.h"

#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

QStringList AuditReport::headerLines(const QString& computerName, const QString& userName, const QString& date,
                                     const QString& time)
{
    QStringList lines;
    lines << sAuditTitle + computerName;
    lines << sAuditGenerated + u' ' + date + u' ' + time;
    lines << Separator;
    // The producer text is two lines in one.
    lines << sAuditProducer.split(QStringLiteral("\r\n"));
    lines << Separator;
    lines << sAuditComputerName + computerName;
    lines << sAuditUserName + userName;
    lines << Separator;
    lines << QStringLiteral(" INSTALLED PROGRAMS:");
    lines << Separator;
    return lines;
}

QStringList AuditReport::programLines(const ProgramListModel& list, Format format)
{
    QStringList lines{Separator};
    for (int row = 0; row < list.count(); ++row) {
        const InstalledProgram& program = list.at(row);
        lines << program.Name;
        if (format == Format::Short)
            continue;
        lines << QStringLiteral("Uninstall Command: ") + list.subItem(row, list.CommandColumn());
        if (!program.Size.isEmpty())
            lines << QStringLiteral("Size: ") + program.Size;
        if (!program.uninstallerFound())
            lines << sAuditMissingUninstaller;
        lines << Separator;
    }
    return lines;
}

QString AuditReport::reportFileName(const QString& chosen)
{
    if (chosen.isEmpty())
        return QStringLiteral("Report.txt");
    // The extension runs from the last dot of the file's own name; a dot in a folder name is not one.
    const QString fileName = QFileInfo(chosen).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : fileName.mid(dot);
    return extension == QStringLiteral(".txt") ? chosen : chosen + QStringLiteral(".txt");
}

QByteArray AuditReport::fileBytes(const QStringList& lines)
{
    QStringEncoder encoder(QStringEncoder::System);
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += encoder.encode(line);
        bytes += "\r\n";
    }
    return bytes;
}

QString AuditReport::fileErrorText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return QStringLiteral("File access denied");
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
        return QStringLiteral("Invalid filename");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("Disk full");
    default:
        return QStringLiteral("I/O error %1").arg(error);
    }
}

void AuditReport::writeFile(const QString& path, const QStringList& lines)
{
    const QByteArray bytes = fileBytes(lines);
    // POSIX calls rather than QFile: the user's text depends on the exact errno.
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        throw KestrinError(fileErrorText(ENOENT));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw KestrinError(fileErrorText(errno));
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write that stores nothing without an error means the device is full.
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw KestrinError(fileErrorText(error));
        }
        written += n;
    }
    // Some file systems report a full disk or a lost connection only when the file is closed.
    if (::close(fd) != 0 && errno != EINTR)
        throw KestrinError(fileErrorText(errno));
}
