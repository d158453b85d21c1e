#pragma once

#include "inventory/PrefixDiscovery.h"

#include <QDialog>
#include <QList>

#include <functional>

class QLabel;
class QTreeWidget;
class TfKestrin;
class TuduButton;

// The Open Prefix window: the Wine prefixes found on this machine, each with its name, where it was
// found, its folder, Windows version, architecture and number of listed programs, and BROWSE for any
// other folder. Opening one has the main window manage it at once and remembers it for the next start.
class TfOpenPrefix : public QDialog
{
    Q_OBJECT

public:
    explicit TfOpenPrefix(TfKestrin& main);

    // What BROWSE asks for a folder: the folder chosen, empty when cancelled. By default Qt's folder
    // dialog, starting in startFolder; tests answer instead.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& startFolder)>;
    static void setFolderChooser(FolderChooser chooser);

    const QList<FoundPrefix>& found() const { return m_found; }

    QLabel* lPrefixes;
    QTreeWidget* lvPrefixes;
    TuduButton* buBrowse;
    TuduButton* buOpen;
    TuduButton* buCancel;

    void buOpenClick();
    void buBrowseClick();
    void buCancelClick();

private:
    void openPrefix(const WinePrefix& prefix);

    TfKestrin& m_main;
    QList<FoundPrefix> m_found;
};
