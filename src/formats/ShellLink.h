#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// What a shortcut (.lnk) file says about its target. Texts hold at most 260 characters, the room the
// 8-bit shell-link interface gives them; environment references such as %windir% stay unexpanded.
struct ShellLinkInfo
{
    // The target's directory data as the shortcut's header records it. Times are FILETIMEs
    // (100-nanosecond units since 1601-01-01 UTC); the header keeps only the low 32 bits of the size.
    struct FindData
    {
        quint32 fileAttributes = 0;
        quint64 creationTime = 0;
        quint64 lastAccessTime = 0;
        quint64 lastWriteTime = 0;
        quint32 fileSize = 0;

        friend bool operator==(const FindData&, const FindData&) = default;
    };

    QString LinkFile; // set by the caller
    QString LinkTarget;
    QString LinkArguments;
    QString LinkWorkDir;
    QString LinkDescription;
    QString LinkIconLocation;
    qint32 LinkIconIndex = 0;
    quint16 LinkHotKey = 0; // low byte virtual-key code, high byte modifiers
    qint32 LinkShowCmd = 0; // 1 normal, 3 maximised, 7 minimised; other stored values read as 1
    FindData LinkFindData;

    friend bool operator==(const ShellLinkInfo&, const ShellLinkInfo&) = default;
};

// Reads the shortcut file info.LinkFile into the other fields, all of them, absent parts as empty.
// A file that cannot be read, is not a shortcut or is cut short gives false and leaves every field
// as it was. Damaged optional data at the end of the file is skipped, never read out of bounds.
bool ReadShellLink(ShellLinkInfo& info);
// The same over the file's contents; LinkFile is not looked at.
bool parseShellLink(QByteArrayView data, ShellLinkInfo& info);
