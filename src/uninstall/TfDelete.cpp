#include "uninstall/TfDelete.h"

#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/PicturePanel.h"
#include "controls/Pictures.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "inventory/ProgramListModel.h"
#include "inventory/Texts.h"
#include "prefix/WinePrefix.h"
#include "uninstall/EntryDeletion.h"
#include "uninstall/UninstallLog.h"

#include <QLabel>
#include <QPlainTextEdit>

namespace {

constexpr int ClientWidth = 445;
constexpr int ClientHeight = 362;

} // namespace

const QStringList& TfDelete::warningLines()
{
    static const QStringList lines{
        QStringLiteral("WARNING : You should only delete the entries for "),
        QStringLiteral("programs that you know for sure that are no longer on "),
        QStringLiteral("your computer. If the program is still on your computer "),
        QStringLiteral("and you delete it from the list, you may not be able to "),
        QStringLiteral("uninstall it later."),
        QString(),
        QStringLiteral("Note: If the program has a question mark near its "),
        QStringLiteral("name in the list, it does not mean for sure that the "),
        QStringLiteral("program is no longer on your computer. To check if "),
        QStringLiteral("the program is really gone, please try to uninstall it "),
        QStringLiteral("first."),
    };
    return lines;
}

TfDelete::TfDelete(ProgramListHost& host) : QDialog(host.hostWindow()), m_host(host)
{
    setObjectName(QStringLiteral("fDelete"));
    setWindowTitle(QStringLiteral("Delete From List"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    const PicturePanel picture = PicturePanel::create(this, "imgDel");
    paPicture = picture.panel;
    imgDel = picture.image;
    paPicture->setFocusPolicy(Qt::StrongFocus);

    mWarning = new QPlainTextEdit(this);
    mWarning->setObjectName(QStringLiteral("mWarning"));
    mWarning->setGeometry(84, 16, 321, 241);
    mWarning->setReadOnly(true);
    mWarning->setFrameStyle(QFrame::NoFrame);
    mWarning->setFocusPolicy(Qt::NoFocus);
    QPalette windowColour = mWarning->palette();
    windowColour.setColor(QPalette::Base, palette().color(QPalette::Window));
    mWarning->setPalette(windowColour);
    QFont memoFont(QStringLiteral("MS Sans Serif"));
    memoFont.setPixelSize(13);
    mWarning->setFont(memoFont);
    mWarning->setPlainText(warningLines().join(QLatin1Char('\n')));

    const QString arial = QStringLiteral("Arial");
    buTryUninstal = TuduButton::create(this, "buTryUninstal", QStringLiteral("TRY TO UNINSTALL"),
                                       QRect(24, 276, 177, 32), 16, arial);
    buDelete = TuduButton::create(this, "buDelete", QStringLiteral("DELETE"), QRect(240, 276, 113, 32), 16, arial);
    buCancel = TuduButton::create(this, "buCancel", QStringLiteral("CANCEL"),
                                  QRect(ClientWidth - 57 - 12, ClientHeight - 24 - 12, 57, 24), 12,
                                  QStringLiteral("MS Sans Serif"));
    connect(buTryUninstal, &TuduButton::clicked, this, &TfDelete::buTryUninstalClick);
    connect(buDelete, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buDeleteClick(); }); });
    connect(buCancel, &TuduButton::clicked, this, &TfDelete::buCancelClick);

    FormCreate();
}

void TfDelete::FormCreate()
{
    const int row = m_host.selectedIndex();
    const QString name = row >= 0 ? m_host.programList().at(row).Name : QString();
    // The question, an empty line, then the warning.
    const QString question = sConfirmDeletePrefix + name + sConfirmDeleteSuffix;
    mWarning->setPlainText(question + QStringLiteral("\n\n") + warningLines().join(QLatin1Char('\n')));
    paPicture->setFocus();
    imgDel->setPixmap(Pictures::picture(Pictures::RemoveEntryWindow));
}

void TfDelete::buTryUninstalClick()
{
    // Hidden at once; its modal run ends when the runner opened here has closed.
    hide();
    m_host.uninstallSelected();
}

void TfDelete::buDeleteClick()
{
    const int row = m_host.selectedIndex();
    if (row < 0)
        return;
    const InstalledProgram item = m_host.programList().at(row);
    const QString refusal =
        deleteEntryLogged(UninstallLog(m_host.workingFolder()), m_host.prefix(), item.Root, item.KeyPath, item.Name);
    if (!refusal.isEmpty())
        MessageBox::showError(this, refusal);
    m_host.refreshListAndCount();
    if (m_host.programList().count() > 0)
        m_host.selectItem(0);
    accept();
}

void TfDelete::buCancelClick()
{
    reject();
}
