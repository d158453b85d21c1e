#include "uninstall/UninstallLog.h"

#include "base/Clock.h"
#include "base/KestrinError.h"
#include "inventory/Texts.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>

namespace {

[[noreturn]] void fail(const QString& what, const QString& path, const QString& reason)
{
    throw KestrinError(QStringLiteral("Could not %1 the uninstall log %2: %3").arg(what, path, reason));
}

} // namespace

// QDir joins without doubling the slash of "/".
UninstallLog::UninstallLog(const QString& folder) : m_path(QDir(folder).filePath(QStringLiteral("ULog.txt"))) {}

void UninstallLog::AppendToLog(const QString& text) const
{
    QStringEncoder encoder(QStringEncoder::System);
    const QByteArray bytes = encoder.encode(text);

    if (!QFile::exists(m_path)) {
        QFile created(m_path);
        // NewOnly: a file that appeared since the check is appended to, never truncated.
        if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !QFile::exists(m_path))
            fail(QStringLiteral("create"), m_path, created.errorString());
        created.close();
    }

    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        fail(QStringLiteral("open"), m_path, file.errorString());
    // A short write (a full disk, a file size limit) is as much a failure as a refused one; the
    // buffered bytes only meet the disk at flush and close, so both are checked too.
    if (file.write(bytes) != bytes.size() || !file.flush())
        fail(QStringLiteral("write"), m_path, file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        fail(QStringLiteral("write"), m_path, file.errorString());
}

void UninstallLog::prepare() const
{
    if (!QFile::exists(m_path))
        AppendToLog(headerRecord());
}

QString UninstallLog::headerRecord()
{
    return sLogHeader + QStringLiteral("\r\n\r\n");
}

void UninstallLog::GetDateAndTime(QString& date, QString& time)
{
    const QDateTime now = Clock::now();
    const QDate d = now.date();
    const QTime t = now.time();
    date = QString::number(d.day()) + u'/' + QString::number(d.month()) + u'/' + QString::number(d.year());
    time = QString::number(t.hour()) + u':' + QString::number(t.minute()) + u':' + QString::number(t.second());
}

QString UninstallLog::timeStampRecord()
{
    QString date;
    QString time;
    GetDateAndTime(date, time);
    return QStringLiteral("\r\n") + date + u' ' + time + QStringLiteral("\r\n");
}
