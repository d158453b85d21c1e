#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, drawn for it and kept as sources in the repository.
namespace Pictures {

// ilInterface: 32 by 32 pictures of the toolbar and the selection note.
enum Interface
{
    ToolbarUninstall = 0,
    ToolbarDelete = 1,
    ToolbarDetails = 2,
    ToolbarAudit = 3,
    ToolbarHelp = 4,
    NoteUninstallerFound = 5,
    NoteUninstallerMissing = 6,
    ToolbarUpdates = 7,
};
QPixmap interfacePicture(Interface index);

// ilPicture: 48 by 48 pictures of the uninstall and the remove-entry windows.
enum Picture
{
    UninstallWindow = 0,
    RemoveEntryWindow = 1,
    UninstallDone = 3,     // the program has gone
    UninstallQuestion = 4, // before uninstalling
};
QPixmap picture(Picture index);

// Kestrin's application icon, also the icon of entries that have none of their own.
QIcon applicationIcon();

} // namespace Pictures
