#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// Holds the lock a running wineserver holds. fcntl locks belong to a process, and a process never
// sees its own lock as held, so a forked child takes it.
class LockHolder
{
public:
    explicit LockHolder(const QString& lockPath) : m_lockPath(lockPath)
    {
        const QString serverDir = QFileInfo(lockPath).absolutePath();
        QDir().mkpath(serverDir);
        for (const QString& dir : {QFileInfo(serverDir).absolutePath(), serverDir})
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = QFile::encodeName(lockPath);
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) { // only async-signal-safe calls from here
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            const int fd = ::open(path.constData(), O_RDWR | O_CREAT, 0600);
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            if (ok)
                ::pause(); // until killed
            ::_exit(1);
        }
        char ok = 0;
        (void)!::read(ready[0], &ok, 1);
        m_locked = ok == 1;
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~LockHolder()
    {
        if (m_pid > 0 && ::kill(m_pid, SIGKILL) == 0)
            ::waitpid(m_pid, nullptr, 0);
        QFile::remove(m_lockPath);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool locked() const { return m_locked; }

private:
    QString m_lockPath;
    pid_t m_pid = -1;
    bool m_locked = false;
};

// A process named like Wine's server, working in `folder`, as a server started under another
// TMPDIR or in a private /tmp does: its lock file is out of our sight.
class FakeServerProcess
{
public:
    FakeServerProcess(const QString& binFolder, const QString& folder)
    {
        const QString program = binFolder + QStringLiteral("/wineserver64");
        QFile::copy(QStringLiteral("/bin/sleep"), program);
        QDir().mkpath(folder);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::chdir(QFile::encodeName(folder).constData()) == 0)
                ::execl(QFile::encodeName(program).constData(), "wineserver64", "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // The process shows its own name once exec has happened.
        for (int i = 0; i < 200 && !named(); ++i)
            QTest::qWait(10);
    }
    ~FakeServerProcess() { stop(); }
    FakeServerProcess(const FakeServerProcess&) = delete;
    FakeServerProcess& operator=(const FakeServerProcess&) = delete;
    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    bool named() const
    {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(m_pid));
        return comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("wineserver");
    }

private:
    pid_t m_pid = -1;
};
