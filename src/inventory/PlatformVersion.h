#pragma once

#include "platform/WinePrefix.h"

// True when the prefix runs as a Windows of the NT family, false for the 9x family (win95, win98,
// winme) and for Win32s (win20, win30, win31). Decided from the prefix's configured Windows version,
// in the order Wine reads it.
bool IsNTPlatform(const WinePrefix& prefix);
