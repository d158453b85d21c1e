#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A throw-away Wine prefix in a temporary folder, filled from the checked-in test data.
class TestPrefix
{
public:
    TestPrefix() { QVERIFY2(m_dir.isValid(), "cannot create a temporary folder"); }

    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    // Copies tests/data/<source> into the prefix as <target>, writable.
    bool copyData(const QString& source, const QString& target) const
    {
        const QString to = file(target);
        QDir().mkpath(QFileInfo(to).absolutePath());
        QFile::remove(to);
        return QFile::copy(QStringLiteral(KESTRIN_TEST_DATA "/") + source, to) &&
               QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    bool copyFixtureHives() const
    {
        return copyData(QStringLiteral("prefix/system.reg"), QStringLiteral("system.reg")) &&
               copyData(QStringLiteral("prefix/user.reg"), QStringLiteral("user.reg")) &&
               copyData(QStringLiteral("prefix/userdef.reg"), QStringLiteral("userdef.reg"));
    }

    QByteArray read(const QString& name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(file(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }

private:
    QTemporaryDir m_dir;
};
