#include "uninstall/TfUninstall.h"

#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/PicturePanel.h"
#include "controls/Pictures.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "hive/LiveHive.h"
#include "inventory/ProgramListModel.h"
#include "inventory/Texts.h"
#include "prefix/WinePrefix.h"
#include "prefix/WineServer.h"
#include "uninstall/EntryDeletion.h"
#include "uninstall/TMoveThread.h"
#include "uninstall/UninstallLog.h"
#include "wine/CommandLauncher.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>

TfUninstall* fUninstall = nullptr;

namespace {

constexpr int ClientWidth = 389;
constexpr int ClientHeight = 288;
constexpr int TextLeft = 84;
constexpr int TextWidth = ClientWidth - TextLeft - 16;
const QString LineEnd = QStringLiteral("\r\n");

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry, bool bold)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText); // names come from the registry
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(13);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

} // namespace

TfUninstall::TfUninstall(ProgramListHost& host) : QDialog(host.hostWindow()), m_host(host)
{
    setObjectName(QStringLiteral("fUninstall"));
    setWindowTitle(QStringLiteral("Uninstall"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    const PicturePanel picture = PicturePanel::create(this, "imgUn");
    paPicture = picture.panel;
    imgUn = picture.image;

    lUnHeader = makeLabel(this, "lUnHeader", QRect(TextLeft, 16, TextWidth, 64), false);
    lUnProgramName = makeLabel(this, "lUnProgramName", QRect(TextLeft, 88, TextWidth, 48), true);
    lUnTip = makeLabel(this, "lUnTip", QRect(TextLeft, 144, TextWidth, 48), false);
    lUnWine = makeLabel(this, "lUnWine", QRect(16, ClientHeight - 18, ClientWidth - 57 - 12 - 24, 16), false);
    QFont wineFont = lUnWine->font();
    wineFont.setPixelSize(11);
    lUnWine->setFont(wineFont);
    lUnWine->setWordWrap(false);
    lUnWine->setForegroundRole(QPalette::PlaceholderText);

    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setGeometry(16, 204, ClientWidth - 32, 16);
    pbProgress->setRange(0, 100);
    pbProgress->setTextVisible(false);
    pbProgress->hide();

    buUninstall = new TuduButton(this);
    buUninstall->setObjectName(QStringLiteral("buUninstall"));
    QFont actionFont(QStringLiteral("Arial"));
    actionFont.setPixelSize(16);
    actionFont.setBold(true);
    buUninstall->setFont(actionFont);
    buUninstall->setGeometry((ClientWidth - 113) / 2, 236, 113, 32);
    connect(buUninstall, &TuduButton::clicked, this, [this] {
        if (m_action)
            runGuarded(this, [this] { (this->*m_action)(); });
    });

    buCancel = new TuduButton(this);
    buCancel->setObjectName(QStringLiteral("buCancel"));
    QFont cancelFont(QStringLiteral("MS Sans Serif"));
    cancelFont.setPixelSize(12);
    cancelFont.setBold(true);
    buCancel->setFont(cancelFont);
    buCancel->setCaption(QStringLiteral("CANCEL"));
    buCancel->setGeometry(ClientWidth - 57 - 12, ClientHeight - 24 - 12, 57, 24);
    connect(buCancel, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buCancelClick(); }); });

    fUninstall = this;
    FormCreate();
}

TfUninstall::~TfUninstall()
{
    if (fUninstall == this)
        fUninstall = nullptr;
}

void TfUninstall::FormCreate()
{
    UninstallDone = false;
    if (const int row = m_host.selectedIndex(); row >= 0) {
        const InstalledProgram& item = m_host.programList().at(row);
        ProgramName = item.Name;
        Root = item.Root;
        KeyPath = item.KeyPath;
        m_uninstallerMissing = !item.uninstallerFound();
        m_traces = ProgramTraces::read(m_host.prefix(), Root, KeyPath, ProgramName, item.View);
    }
    lUnHeader->setText(sAboutToUninstall);
    lUnProgramName->setText(ProgramName);
    lUnTip->setText(sUninstallButtonHint);
    const QString wine = CommandLauncher::instance().wineLabel(m_host.prefix().path());
    lUnWine->setText(QStringLiteral("Runs under: ") + wine);
    lUnWine->setToolTip(lUnWine->text());
    showPicture(Pictures::UninstallQuestion);
    setAction(QStringLiteral("UNINSTALL"), &TfUninstall::buUninstallClick);
}

void TfUninstall::showPicture(int index)
{
    paPicture->show();
    imgUn->setPixmap(Pictures::picture(Pictures::Picture(index)));
    imgUn->repaint();
}

void TfUninstall::setAction(const QString& caption, void (TfUninstall::*action)())
{
    buUninstall->setCaption(caption);
    buUninstall->repaint();
    m_action = action;
}

void TfUninstall::buUninstallClick()
{
    paPicture->hide();
    lUnHeader->setText(QStringLiteral("Kestrin is now uninstalling the selected program ..."));
    lUnProgramName->setText(QStringLiteral("Please Wait ..."));
    pbProgress->setValue(0);
    pbProgress->show();
    m_state = State::Running;

    TMoveThread mover;
    connect(&mover, &TMoveThread::step, pbProgress, [this] {
        // Shows activity, not progress: round and round.
        pbProgress->setValue(pbProgress->value() >= pbProgress->maximum() ? 0 : pbProgress->value() + 1);
    });
    mover.start();
    lUnTip->hide();
    buUninstall->hide();
    buCancel->hide();

    CommandLauncher::Outcome outcome;
    {
        // However the wait ends, the worker stops and is joined: a running QThread must not be destroyed.
        const auto stopMover = qScopeGuard([&] {
            UninstallDone = true;
            mover.wait();
        });
        const int row = m_host.selectedIndex();
        outcome = RunAndWait(row >= 0 ? m_host.programList().at(row).UninstallCommand : QString());
    }

    if (!outcome.started) {
        showNotRun(outcome);
        if (m_closeAfterWait)
            reject();
        return;
    }
    pbProgress->hide();
    lUnProgramName->hide();
    const QString tip = QStringLiteral("If the Uninstall program has completed, press the Continue button");
    lUnTip->setText(outcome.stillRunning.isEmpty() ? tip
                                                   : stillRunningAfterWaitText(outcome.stillRunning) + u'\n' + tip);
    lUnTip->show();
    setAction(QStringLiteral("CONTINUE"), &TfUninstall::ContinueClick);
    buUninstall->show();
    m_state = State::AwaitingConfirmation;
    if (m_closeAfterWait)
        reject();
}

CommandLauncher::Outcome TfUninstall::RunAndWait(const QString& command)
{
    return CommandLauncher::instance().RunAndWait(m_host.prefix().path(), command, [this](const QString& progress) {
        lUnTip->setText(progress);
        lUnTip->show();
    });
}

QString TfUninstall::notRunText()
{
    return QStringLiteral("The Uninstall program did not run: ");
}

void TfUninstall::showNotRun(const CommandLauncher::Outcome& outcome)
{
    // Never "completed": nothing ran, so the list says nothing about the uninstall.
    m_state = State::NotRun;
    pbProgress->hide();
    lUnProgramName->hide();
    showPicture(Pictures::UninstallWindow);
    const QString reason = outcome.failure.isEmpty() ? QStringLiteral("Wine did not start it.") : outcome.failure;
    lUnHeader->setText(notRunText() + reason);
    if (outcome.programMissing && m_uninstallerMissing) {
        lUnTip->setText(sDeleteButtonHint);
        lUnTip->show();
        setAction(QStringLiteral("CLEAN-UP"), &TfUninstall::CleanUpClick);
        buCancel->show();
    } else {
        lUnTip->hide();
        setAction(QStringLiteral("CLOSE"), &TfUninstall::CloseClick);
    }
    buUninstall->show();

    // Logged before the box, which waits for the user; the header already says why.
    const UninstallLog log(m_host.workingFolder());
    log.AppendToLog(UninstallLog::timeStampRecord());
    log.AppendToLog(QStringLiteral("Uninstalling ") + ProgramName + LineEnd);
    log.AppendToLog(sLogUninstallFailed + LineEnd);
    MessageBox::showError(this, reason);
}

QString TfUninstall::stillRunningAfterWaitText(const QStringList& programs)
{
    return QStringLiteral("Kestrin stopped waiting; still running: %1.").arg(programs.join(QStringLiteral(", ")));
}

QString TfUninstall::stillRunningText()
{
    return QStringLiteral("Windows programs are still running in this Wine prefix, so the registry on disk may not "
                          "show the uninstall yet. Close them, then press the Continue button again.");
}

void TfUninstall::ContinueClick()
{
    // Read from the files alone, the registry is written only when Wine's server ends: an outcome
    // read before then could be stale. Read through Wine, it is current.
    if (WineServer::isRunning(m_host.prefix().path()) && !LiveHive::reaches(m_host.prefix().systemHivePath())) {
        MessageBox::message(this, stillRunningText());
        return;
    }
    // Shown first even when the refresh fails part way: the list has changed anyway.
    lUnProgramName->hide();
    lUnTip->hide();
    m_host.refreshListAndCount();
    const int index = FindProgramIndex(ProgramName);

    const UninstallLog log(m_host.workingFolder());
    log.AppendToLog(UninstallLog::timeStampRecord());
    log.AppendToLog(QStringLiteral("Uninstalling ") + ProgramName + LineEnd);
    if (index == -1) {
        showPicture(Pictures::UninstallDone);
        log.AppendToLog(sLogUninstallOK + LineEnd);
        lUnHeader->setText(sUninstallDoneRemoved);
        setAction(QStringLiteral("CLOSE"), &TfUninstall::CloseClick);
        m_state = State::Removed;
    } else {
        showPicture(Pictures::UninstallWindow);
        log.AppendToLog(sLogUninstallFailed + LineEnd);
        lUnHeader->setText(sUninstallDoneNotRemoved);
        lUnTip->setText(sDeleteButtonHint);
        lUnTip->show();
        setAction(QStringLiteral("CLEAN-UP"), &TfUninstall::CleanUpClick);
        buCancel->show();
        m_state = State::StillListed;
    }
}

int TfUninstall::FindProgramIndex(const QString& name) const
{
    const ProgramListModel& list = m_host.programList();
    for (int i = 0; i < list.count(); ++i) {
        if (list.at(i).Name == name)
            return i;
    }
    return -1;
}

void TfUninstall::refreshAndClose()
{
    m_host.refreshListAndCount();
    if (m_host.programList().count() > 0)
        m_host.selectItem(0);
    accept();
}

void TfUninstall::CloseClick()
{
    refreshAndClose();
}

void TfUninstall::buCancelClick()
{
    CloseClick();
}

void TfUninstall::CleanUpClick()
{
    // The key captured at opening: the list's selection is gone since the refresh.
    const QString refusal =
        deleteEntryLogged(UninstallLog(m_host.workingFolder()), m_host.prefix(), Root, KeyPath, ProgramName);
    if (!refusal.isEmpty())
        MessageBox::showError(this, refusal);
    refreshAndClose();
}

void TfUninstall::closeEvent(QCloseEvent* event)
{
    // The close box during the wait takes effect after it, like any input.
    if (m_state == State::Running) {
        m_closeAfterWait = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfUninstall::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        // During the wait Escape does nothing, like any other input.
        if (m_state != State::Running)
            reject();
        return;
    }
    QDialog::keyPressEvent(event);
}
