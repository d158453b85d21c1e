#pragma once

#include <QString>

enum class RegistryRoot
{
    ClassesRoot,
    CurrentUser,  // the prefix's user.reg
    LocalMachine, // the prefix's system.reg
    Users,
    CurrentConfig,
};

// The root's Windows name, as windows show it before a key path ("HKEY_LOCAL_MACHINE").
inline QString rootName(RegistryRoot root)
{
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case RegistryRoot::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER");
    case RegistryRoot::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    case RegistryRoot::Users:
        return QStringLiteral("HKEY_USERS");
    case RegistryRoot::CurrentConfig:
        return QStringLiteral("HKEY_CURRENT_CONFIG");
    }
    return QString();
}
