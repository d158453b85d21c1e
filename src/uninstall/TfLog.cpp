#include "uninstall/TfLog.h"

#include "controls/GuardedCall.h"
#include "controls/MemoLines.h"
#include "controls/MessageBox.h"
#include "controls/QPrinterPrintJob.h"
#include "controls/TuduButton.h"
#include "desktop/ShellOpen.h"
#include "inventory/Texts.h"

#include <QFile>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStringDecoder>

namespace {

constexpr int ClientWidth = 615;
constexpr int ClientHeight = 296;
constexpr QRect MemoRect{7, 8, 601, 233};
constexpr QSize ButtonSize{130, 32};
constexpr int ButtonTop = 252;

QRect buttonSlot(int index)
{
    // Four buttons in one row under the memo, evenly spaced.
    return TuduButton::rowGeometry(ClientWidth, 4, index, ButtonSize, ButtonTop);
}

} // namespace

TfLog::TfLog(UninstallLog log, QWidget* parent) : QDialog(parent), m_log(std::move(log))
{
    setObjectName(QStringLiteral("fLog"));
    setWindowTitle(QStringLiteral("Uninstall Log"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    mLog = new QPlainTextEdit(this);
    mLog->setObjectName(QStringLiteral("mLog"));
    mLog->setGeometry(MemoRect);
    mLog->setReadOnly(true);
    mLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mLog->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    QFont memoFont(QStringLiteral("MS Sans Serif"));
    memoFont.setPixelSize(13);
    mLog->setFont(memoFont);

    buClear = TuduButton::create(this, "buClear", QStringLiteral("CLEAR LOG"), buttonSlot(0));
    buEdit = TuduButton::create(this, "buEdit", QStringLiteral("EDIT LOG ..."), buttonSlot(1));
    buPrint = TuduButton::create(this, "buPrint", QStringLiteral("PRINT ..."), buttonSlot(2));
    buCancel = TuduButton::create(this, "buCancel", QStringLiteral("CANCEL"), buttonSlot(3));
    connect(buClear, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buClearClick(); }); });
    connect(buEdit, &TuduButton::clicked, this, &TfLog::buEditClick);
    connect(buPrint, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buPrintClick(); }); });
    connect(buCancel, &TuduButton::clicked, this, &TfLog::buCancelClick);

    // Centred on the desktop, not on the main window.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

void TfLog::FormCreate()
{
    QFile file(m_log.LogPath());
    if (!file.open(QIODevice::ReadOnly)) {
        MessageBox::showError(this,
                              QStringLiteral("Cannot open file \"%1\". %2").arg(m_log.LogPath(), file.errorString()));
        return;
    }
    QStringDecoder decoder(QStringDecoder::System);
    setMemoText(decoder.decode(file.readAll()));
}

void TfLog::setMemoText(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mLog->setPlainText(lines);
    mLog->moveCursor(QTextCursor::Start);
}

QStringList TfLog::visualLines() const
{
    return ::visualLines(*mLog);
}

void TfLog::buClearClick()
{
    setMemoText(sLogHeader);
    // A deletion that fails is not reported: the header is then appended to the old text.
    QFile::remove(m_log.LogPath());
    m_log.AppendToLog(UninstallLog::headerRecord());
}

void TfLog::buEditClick()
{
    // Closing lets the next opening show the file as the editor saved it; a refusal keeps the window.
    if (ShellOpen::instance().open(m_log.LogPath()))
        accept();
}

void TfLog::buPrintClick()
{
    const std::unique_ptr<PrintJob> job = QPrinterPrintJob::choose(this);
    if (!job)
        return;
    job->setFont(mLog->font());
    job->begin();
    PrintJob::printLines(*job, visualLines());
    job->end();
}

void TfLog::buCancelClick()
{
    reject();
}
