#pragma once

#include "prefix/WinePrefix.h"

#include <QString>

// True when the prefix runs as a Windows of the NT family, false for the 9x family (win95, win98,
// winme) and for Win32s (win20, win30, win31). Decided from the prefix's configured Windows version,
// in the order Wine reads it.
bool IsNTPlatform(const WinePrefix& prefix);

// The Windows the prefix is configured as, as the user knows it ("Windows 10", or the product name
// the machine keys give, such as "Microsoft Windows 7"); empty when the registry names none.
QString WindowsVersionName(const WinePrefix& prefix);

// The architecture system.reg records ("win32", "win64"); empty when it records none.
QString PrefixArchitecture(const WinePrefix& prefix);

// The version and the architecture for the user, e.g. "Microsoft Windows 7 (win64)"; empty for a folder
// whose registry names neither.
QString PrefixPlatformText(const WinePrefix& prefix);
