#pragma once

#include <QString>
#include <QStringList>

// The host folders where Wine's menu builder writes a user's menu entries, desktop entries, menu
// folders and icons. Nothing outside them is ever taken for one of its files.
struct WineMenuFolders
{
    QString dataHome;     // $XDG_DATA_HOME, else ~/.local/share
    QString configHome;   // $XDG_CONFIG_HOME, else ~/.config
    QStringList desktops; // where desktop entries go: the XDG desktop folder, ~/Desktop, the home folder

    QString applications() const { return dataHome + QStringLiteral("/applications"); }
    QString wineApplications() const { return applications() + QStringLiteral("/wine"); }
    QString mergedMenus() const { return configHome + QStringLiteral("/menus/applications-merged"); }
    QString directories() const { return dataHome + QStringLiteral("/desktop-directories"); }
    QString hicolorIcons() const { return dataHome + QStringLiteral("/icons/hicolor"); }

    // The folders of the user running us, by the XDG rules Wine follows.
    static WineMenuFolders fromEnvironment();
};
