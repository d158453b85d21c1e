#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class RegistryAccess;
class ProgramListHost;
class TuduButton;

// The new-entry window: creates a subkey of the machine's uninstall key with a display name, an
// uninstall command and, optionally, a display icon, then has the main window read its list again.
// The uninstall key stays open from creation until the window closes. An opener may replace KeyName
// and the four texts before showing it.
class TfNewProgram : public QDialog
{
    Q_OBJECT

public:
    explicit TfNewProgram(ProgramListHost& host);
    ~TfNewProgram() override;

    // What BROWSE asks for a file: the host path chosen, empty when cancelled. By default Qt's open
    // dialog, starting in startFolder; tests answer instead.
    using FileChooser = std::function<QString(QWidget* parent, const QString& startFolder)>;
    static void setFileChooser(FileChooser chooser);

    QStringList KeyNames;
    QString KeyName;
    int BrowseTarget = 0; // 0 none, 1 the uninstall command, 2 the display icon

    QLabel* lReg;
    QLineEdit* leReg;
    QLabel* lName;
    QLineEdit* leName;
    QLabel* lUninstall;
    QLineEdit* leUninstall;
    TuduButton* buCmd;
    QLabel* lDisplayIcon;
    QLineEdit* leDisplayIcon;
    TuduButton* buIco;
    TuduButton* buOK;
    TuduButton* buCancel;

    void buCmdClick(TuduButton* sender);
    void buOKClick();
    void buCancelClick();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    // Creates the key and its values in one save: a refused write leaves no half-made entry.
    void createEntry();

    ProgramListHost& m_host;
    std::unique_ptr<RegistryAccess> m_registry;
};

// The window while it exists; null otherwise.
extern TfNewProgram* fNewProgram;
