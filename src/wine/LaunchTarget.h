#pragma once

#include "prefix/WinePrefix.h"

#include <QString>

// What a Windows command line would start, as far as the host can tell before Wine runs it: the
// program as the line names it, the file that is in the prefix, and whether that file is a 32-bit
// program (which a 64-bit prefix can run only with 32-bit Wine installed).
struct LaunchTarget
{
    // The program as the line names it: the quoted text, else the words up to the first that names a
    // file (or ends in ".exe"), else the first word.
    QString program;
    // The host file of the program: the one a drive path names, or for a name without a folder the
    // one in the system folders; empty when none is there (Wine may still find it on the prefix's PATH).
    QString hostFile;
    // A 32-bit program, or rundll32 with a 32-bit DLL, which Wine runs in its 32-bit half.
    bool is32Bit = false;

    static LaunchTarget of(const WinePrefix& prefix, const QString& commandLine);
};

// The machine field of a PE file's header (0x14c for i386, 0x8664 for x86-64); 0 when the file is no
// regular file or not a PE program.
quint16 peMachine(const QString& hostPath);
