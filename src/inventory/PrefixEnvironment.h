#pragma once

#include "paths/WindowsPaths.h"
#include "prefix/WinePrefix.h"

#include <QHash>
#include <QString>

#include <array>
#include <functional>
#include <optional>

// The environment that Wine gives the prefix's Windows programs, as far as finding programs and files
// needs it.
namespace PrefixEnvironment {

// The PATH a program of the prefix sees: the folders of this process's WINEPATH (Windows or Unix
// paths, ";"-separated), then the "PATH" of HKLM "System\CurrentControlSet\Control\Session
// Manager\Environment" with its %NAME% references expanded from that key's values (%SystemRoot% and
// %windir% being C:\windows unless the key says otherwise), then a "PATH" of HKCU "Environment"
// appended with ";", as Wine does. Throws KestrinError when a hive cannot be read.
QString searchPath(const WinePrefix& prefix);

// text with each %NAME% that lookup knows replaced by its value; an unknown reference stays as written,
// and its closing "%" may open the next one (as Windows expands).
QString expandReferences(const QString& text, const std::function<std::optional<QString>(const QString&)>& lookup);

// The variables a program of the prefix sees, for expanding the references in an entry's texts: those
// of the two environment keys (the user's first), and the folders Wine sets itself. %ProgramFiles% and
// %CommonProgramFiles% are the 32-bit folders for a program of the Wow64 view, as Wine sets them for
// 32-bit programs, and the native ones otherwise.
class Variables
{
public:
    // Throws KestrinError when a hive cannot be read.
    Variables(const WinePrefix& prefix, PathView view);

    QString expand(const QString& text) const;

    struct Variable
    {
        QString text;
        bool expandable = false; // its own references are expanded in turn
    };
    using Table = QHash<QString, Variable>; // by case-folded name: names ignore letter case

private:
    Table m_wine;
    Table m_user;
    Table m_system;
};

// Expands references for either view, reading each view's variables on first use; a hive that cannot
// be read leaves the texts as they are. Meant to live for one scan.
class Expander
{
public:
    explicit Expander(WinePrefix prefix) : m_prefix(std::move(prefix)) {}
    QString expand(const QString& text, PathView view);

private:
    WinePrefix m_prefix;
    std::array<std::optional<Variables>, 2> m_variables;
    std::array<bool, 2> m_unreadable{};
};

} // namespace PrefixEnvironment
