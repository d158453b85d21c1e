#include "base/HostNames.h"

#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

namespace {

QString s_computer;
QString s_user;

} // namespace

QString HostNames::computerName()
{
    const QString name = s_computer.isEmpty() ? QSysInfo::machineHostName() : s_computer;
    return name.left(MaxComputerNameLength);
}

QString HostNames::userName()
{
    if (!s_user.isEmpty())
        return s_user;
    // The account of the process, not $USER, which su and sudo may leave pointing at someone else.
    if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

void HostNames::setForTests(const QString& computer, const QString& user)
{
    s_computer = computer;
    s_user = user;
}
