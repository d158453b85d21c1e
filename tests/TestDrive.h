#pragma once

#include "TestPrefix.h"

#include "inventory/RegistryAccess.h"

#include <QDir>
#include <QFile>

// Drives, files and environment values inside a TestPrefix, laid out as Wine lays them out.
namespace TestDrive {

// dosdevices/<letter>: -> ../<folder>, the relative link that Wine makes for drive C:.
inline bool addDrive(const TestPrefix& prefix, QChar letter, const QString& folder)
{
    QDir().mkpath(prefix.file(QStringLiteral("dosdevices")));
    return QFile::link(QStringLiteral("../") + folder, prefix.file(QStringLiteral("dosdevices/") + letter + u':'));
}

// An empty file, or a folder when path ends with "/"; path is relative to the prefix.
inline bool add(const TestPrefix& prefix, const QString& path)
{
    if (path.endsWith(u'/'))
        return QDir().mkpath(prefix.file(path));
    QDir().mkpath(QFileInfo(prefix.file(path)).absolutePath());
    QFile file(prefix.file(path));
    return file.open(QIODevice::WriteOnly);
}

inline void setString(const TestPrefix& prefix, RegistryRoot root, const QString& key, const QString& name,
                      const QString& text, quint32 type = RegType::ExpandSz)
{
    // Only Wine creates system.reg; a test prefix starts from what a fresh one holds.
    if (!QFile::exists(prefix.file(QStringLiteral("system.reg"))))
        QVERIFY(prefix.write(QStringLiteral("system.reg"), "WINE REGISTRY Version 2\n;; All keys relative to "
                                                           "REGISTRY\\\\Machine\n\n#arch=win64\n"));
    RegistryAccess registry{WinePrefix(prefix.path())};
    registry.RootKey(root);
    QVERIFY(registry.OpenKey(key, true));
    registry.writeValue(name, RegistryValue::fromString(text, type));
}

} // namespace TestDrive
