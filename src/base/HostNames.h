#pragma once

#include <QString>

// The computer's and the logged-on user's names, as reports show them. Tests can fix both.
namespace HostNames {

// The host name, cut to 15 characters as a Windows computer name is.
QString computerName();
// The login name of the user running the program.
QString userName();

// Replaces both names; empty strings restore the system's.
void setForTests(const QString& computer, const QString& user);

inline constexpr int MaxComputerNameLength = 15;

} // namespace HostNames
