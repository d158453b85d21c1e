#include "details/TfNewProgram.h"

#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "hive/HiveFile.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "paths/HostToWindowsPath.h"
#include "prefix/WinePrefix.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>

TfNewProgram* fNewProgram = nullptr;

namespace {

constexpr int ClientWidth = 423;
constexpr int ClientHeight = 341;
constexpr int EditWidth = 401;
constexpr int EditHeight = 21;
constexpr int LabelHeight = 16;
const QString NamePrefix = QStringLiteral("NewProgram");

TfNewProgram::FileChooser& chooser()
{
    static TfNewProgram::FileChooser choose;
    return choose;
}

// A labelled edit: the label sits just above its field and its accelerator moves the focus there.
QLineEdit* makeField(QWidget* parent, const char* name, const char* labelName, QLabel*& label, const QString& caption,
                     int top)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(16, top, EditWidth, EditHeight);
    label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(labelName));
    label->setGeometry(16, top - LabelHeight - 2, EditWidth, LabelHeight);
    label->setBuddy(edit);
    return edit;
}

QString entryPath(const QString& keyName)
{
    return rootName(RegistryRoot::LocalMachine) + QLatin1Char('\\') + sUninstallKey + QLatin1Char('\\') + keyName;
}

} // namespace

TfNewProgram::TfNewProgram(ProgramListHost& host) : QDialog(host.hostWindow()), m_host(host)
{
    setObjectName(QStringLiteral("fNewProgram"));
    setWindowTitle(QStringLiteral("New Program"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    QFont formFont(QStringLiteral("MS Sans Serif"));
    formFont.setPixelSize(13);
    setFont(formFont);

    leReg = makeField(this, "leReg", "lReg", lReg, QStringLiteral("&Registry Entry Name : "), 32);
    leName =
        makeField(this, "leName", "lName", lName, QStringLiteral("Program &Name (how it appears in the list) :"), 88);
    leUninstall =
        makeField(this, "leUninstall", "lUninstall", lUninstall, QStringLiteral("Uninstall &Command : "), 144);
    buCmd = TuduButton::create(this, "buCmd", QStringLiteral("BROWSE"), QRect(352, 176, 65, 25), 12);
    leDisplayIcon =
        makeField(this, "leDisplayIcon", "lDisplayIcon", lDisplayIcon, QStringLiteral("Display &Icon :"), 216);
    buIco = TuduButton::create(this, "buIco", QStringLiteral("BROWSE"), QRect(352, 248, 65, 25), 12);
    buOK = TuduButton::create(this, "buOK", QStringLiteral("OK"), QRect(128, 299, 89, 32), 16);
    buCancel = TuduButton::create(this, "buCancel", QStringLiteral("CANCEL"), QRect(224, 299, 89, 32), 16);
    setTabOrder(leReg, leName);
    setTabOrder(leName, leUninstall);
    setTabOrder(leUninstall, leDisplayIcon);

    connect(buCmd, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buCmdClick(buCmd); }); });
    connect(buIco, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buCmdClick(buIco); }); });
    connect(buOK, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buOKClick(); }); });
    connect(buCancel, &TuduButton::clicked, this, &TfNewProgram::buCancelClick);

    FormCreate();
    fNewProgram = this;
}

TfNewProgram::~TfNewProgram()
{
    FormClose();
    if (fNewProgram == this)
        fNewProgram = nullptr;
}

void TfNewProgram::setFileChooser(FileChooser choose)
{
    chooser() = std::move(choose);
}

void TfNewProgram::FormCreate()
{
    BrowseTarget = 0;
    m_registry = std::make_unique<RegistryAccess>(m_host.prefix());
    m_registry->RootKey(RegistryRoot::LocalMachine);
    // A prefix the user may only read still gets a free name; creating the entry then says why it cannot.
    if (m_registry->OpenKey(sUninstallKey, false) || m_registry->OpenKeyReadOnly(sUninstallKey))
        m_registry->GetKeyNames(KeyNames);

    int n = 1;
    while (KeyNames.contains(NamePrefix + QString::number(n), Qt::CaseInsensitive))
        ++n;
    KeyName = NamePrefix + QString::number(n);
    leReg->setText(entryPath(KeyName));
}

void TfNewProgram::FormClose()
{
    if (m_registry)
        m_registry->CloseKey();
    m_registry.reset();
}

void TfNewProgram::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TfNewProgram::showEvent(QShowEvent* event)
{
    // Texts set before showing start at their beginning, where a long key path says the most.
    for (QLineEdit* edit : {leReg, leName, leUninstall, leDisplayIcon})
        edit->setCursorPosition(0);
    QDialog::showEvent(event);
}

void TfNewProgram::buCmdClick(TuduButton* sender)
{
    BrowseTarget = sender == buCmd ? 1 : 2;
    const QString start = QDir(m_host.prefix().path()).filePath(QStringLiteral("drive_c"));
    const QString chosen = chooser() ? chooser()(this, start) : QFileDialog::getOpenFileName(this, QString(), start);
    if (chosen.isEmpty())
        return;
    // The entry is read by Windows programs: it must name the file as the prefix's drives show it.
    const std::optional<QString> windowsPath = windowsPathOf(m_host.prefix(), chosen);
    if (!windowsPath) {
        MessageBox::message(this,
                            QStringLiteral("%1 is not on any drive of the prefix, so its programs cannot "
                                           "reach it. Choose a file under one of the drives in %2.")
                                .arg(chosen, QDir(m_host.prefix().path()).filePath(QStringLiteral("dosdevices"))));
        return;
    }
    (BrowseTarget == 1 ? leUninstall : leDisplayIcon)->setText(*windowsPath);
}

void TfNewProgram::buOKClick()
{
    if (leReg->text().isEmpty() || leName->text().isEmpty() || leUninstall->text().isEmpty()) {
        MessageBox::message(this, sFillAllFields);
        return;
    }
    const bool keyOpen = m_registry && m_registry->hasCurrentKey();
    if (keyOpen && m_registry->KeyExists(KeyName)) {
        MessageBox::message(this, sEntryExists);
        return;
    }
    if (!keyOpen) {
        MessageBox::message(this, sCannotCreateEntry);
        return;
    }
    createEntry();
}

void TfNewProgram::createEntry()
{
    {
        HiveFile::WriteBatch batch;
        if (!m_registry->CreateKey(KeyName)) {
            MessageBox::message(this, sCannotCreateEntry);
            return;
        }
        RegistryAccess entry(m_host.prefix());
        entry.RootKey(RegistryRoot::LocalMachine);
        if (!entry.OpenKey(sUninstallKey + QLatin1Char('\\') + KeyName, false)) {
            MessageBox::message(this, sCannotCreateEntry);
            return;
        }
        entry.WriteString(ValueName::DisplayName, leName->text());
        if (!leDisplayIcon->text().isEmpty())
            entry.WriteString(ValueName::DisplayIcon, leDisplayIcon->text());
        entry.WriteString(ValueName::UninstallString, leUninstall->text());
        batch.commit();
    }
    const QString created = sUninstallKey + QLatin1Char('\\') + KeyName;
    try {
        m_host.refreshListAndCount();
    } catch (...) {
        accept(); // the entry exists: the window has done its part
        throw;
    }
    const ProgramListModel& list = m_host.programList();
    for (int row = 0; row < list.count(); ++row) {
        if (list.at(row).Root == RegistryRoot::LocalMachine &&
            list.at(row).KeyPath.compare(created, Qt::CaseInsensitive) == 0) {
            m_host.selectItem(row);
            break;
        }
    }
    accept();
}

void TfNewProgram::buCancelClick()
{
    reject();
}
