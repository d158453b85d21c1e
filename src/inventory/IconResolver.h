#pragma once

#include "paths/WindowsPaths.h"

#include <QString>

#include <functional>

// Picks the icon of an uninstall entry from the texts that may name an icon-bearing file. The indices are
// those of the system icon list, which answers through the function given; this class only chooses the
// file to ask about.
//
// The texts are read as a program of the entry's view reads them: references expanded by the function
// given, and in the Wow64 view the 32-bit forms first, then the native ones (see UninstallResolver).
class IconResolver
{
public:
    // The system icon index of a file named by a Windows path text as a program of the view sees it,
    // -1 when there is none (for instance because the file does not exist).
    using SystemIconIndexFn = std::function<int(const QString& file, PathView view)>;
    // text with its %NAME% references expanded for a program of the view.
    using ExpandFn = std::function<QString(const QString& text, PathView view)>;

    // ownIconIndex: the index of this program's own icon, the last source of every entry. Without
    // expand, references stay as written.
    IconResolver(SystemIconIndexFn systemIconIndex, int ownIconIndex, ExpandFn expand = {});

    // Wraps a lookup by host file so that it is asked only for existing files of the prefix. Given folder
    // listings, the prefix's folders are looked at through them (see WindowsPaths).
    static SystemIconIndexFn throughPrefix(const WinePrefix& prefix, std::function<int(const QString& hostFile)> lookup,
                                           const std::shared_ptr<FolderListings>& listings = {});

    // The first icon among: the display icon, the usage record's program path, the uninstall command,
    // this program's own icon. -1 when none has one.
    int ProgramIconIndex(const QString& displayIcon, const QString& programPath, const QString& command,
                         PathView view = PathView::Native) const;

    // The icon of the file that text names ("file,index", possibly in double quotes); -1 for none.
    int IconIndexOf(const QString& text, PathView view = PathView::Native) const;

    // The icon-bearing file that t names, cut three characters past the first "." of its name; empty when
    // its extension is none of exe, EXE, dll, DLL, scr, SCR, ico.
    static QString IconFileOf(const QString& t);

    // A usage record's program path starts with a character of its own unless it is a drive path.
    static QString NormalizeCachePath(const QString& p);

private:
    int iconIndexOfExpanded(const QString& text, PathView view) const;

    SystemIconIndexFn m_systemIconIndex;
    int m_ownIconIndex;
    ExpandFn m_expand;
};
