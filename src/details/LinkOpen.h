#pragma once

#include "prefix/WinePrefix.h"

#include <QString>

// The shell's default action for a link of an entry's page: a web address goes to the desktop; a
// Windows path of the prefix ("C:\...", whole text, surrounding quotes dropped) is mapped onto the
// prefix's drives, and a program, batch file or installer package there runs under Wine while
// anything else opens on the desktop. Text that names nothing in the prefix opens nothing: there is
// no search along the host's PATH and no shell. True when something was handed on.
bool openInPrefix(const WinePrefix& prefix, const QString& target);

// The command line that runs a Windows document under Wine, or empty when the document is not a
// program, batch file or installer package.
QString runLineFor(const QString& windowsPath);
