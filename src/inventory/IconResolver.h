#pragma once

#include <QString>

#include <functional>

class WindowsPaths;

// Picks the icon of an uninstall entry from the texts that may name an icon-bearing file. The indices are
// those of the system icon list, which answers through the function given; this class only chooses the
// file to ask about.
class IconResolver
{
public:
    // The system icon index of a file named by a Windows path text, -1 when there is none (for
    // instance because the file does not exist).
    using SystemIconIndexFn = std::function<int(const QString& file)>;

    // ownIconIndex: the index of this program's own icon, the last source of every entry.
    IconResolver(SystemIconIndexFn systemIconIndex, int ownIconIndex);

    // Wraps a lookup by host file so that it is asked only for existing files of the prefix.
    static SystemIconIndexFn throughPrefix(const WindowsPaths& paths,
                                           std::function<int(const QString& hostFile)> lookup);

    // The first icon among: the display icon, the usage record's program path, the uninstall command,
    // this program's own icon. -1 when none has one.
    int ProgramIconIndex(const QString& displayIcon, const QString& programPath, const QString& command) const;

    // The icon of the file that text names ("file,index", possibly in double quotes); -1 for none.
    int IconIndexOf(const QString& text) const;

    // The icon-bearing file that t names, cut three characters past the first "." of its name; empty when
    // its extension is none of exe, EXE, dll, DLL, scr, SCR, ico.
    static QString IconFileOf(const QString& t);

    // A usage record's program path starts with a character of its own unless it is a drive path.
    static QString NormalizeCachePath(const QString& p);

private:
    SystemIconIndexFn m_systemIconIndex;
    int m_ownIconIndex;
};
