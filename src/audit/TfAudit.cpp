#include "audit/TfAudit.h"

#include "base/HostNames.h"
#include "base/KestrinError.h"
#include "controls/GuardedCall.h"
#include "controls/MemoLines.h"
#include "controls/MessageBox.h"
#include "controls/ProgramListHost.h"
#include "controls/QPrinterPrintJob.h"
#include "controls/TuduButton.h"
#include "inventory/ProgramListModel.h"
#include "inventory/Texts.h"
#include "uninstall/UninstallLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTextBlock>

TfAudit* fAudit = nullptr;

namespace {

constexpr int ClientWidth = 607;
constexpr int ClientHeight = 345;
constexpr QRect MemoRect{8, 26, 591, 214};
constexpr int ButtonTop = 304;
// A block the program appended as a separator line; the text box cannot hold the carriage return.
constexpr int SeparatorState = 1;

std::function<std::optional<QString>()> s_saveChoice;

TuduButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    // The caption was made for a narrow face; a wider fallback face gets smaller until it fits.
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(16);
    while (font.pixelSize() > 10 && QFontMetrics(font).horizontalAdvance(caption) > geometry.width() - 8)
        font.setPixelSize(font.pixelSize() - 1);
    return TuduButton::create(parent, name, caption, geometry, font.pixelSize());
}

QRadioButton* makeRadio(QWidget* parent, const char* name, const QString& caption, int top)
{
    auto* radio = new QRadioButton(caption, parent);
    radio->setObjectName(QLatin1String(name));
    radio->setGeometry(8, top, ClientWidth - 16, 20);
    return radio;
}

} // namespace

TfAudit::TfAudit(ProgramListHost& host) : QDialog(host.hostWindow()), m_host(host)
{
    setObjectName(QStringLiteral("fAudit"));
    setWindowTitle(QStringLiteral("Audit Report"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    laHeaderName = new QLabel(QStringLiteral("Report Header (add, change or remove text):"), this);
    laHeaderName->setObjectName(QStringLiteral("laHeaderName"));
    laHeaderName->setGeometry(8, 6, ClientWidth - 16, 18);

    mAudit = new QPlainTextEdit(this);
    mAudit->setObjectName(QStringLiteral("mAudit"));
    mAudit->setGeometry(MemoRect);
    mAudit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mAudit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont(QStringLiteral("MS Sans Serif"));
    memoFont.setPixelSize(13);
    mAudit->setFont(memoFont);
    // A window that is never shown gets no resize event, yet its box must have its width when the
    // report is printed: deliver the size now.
    QResizeEvent sized(MemoRect.size(), QSize());
    QCoreApplication::sendEvent(mAudit, &sized);

    rbShort = makeRadio(this, "rbShort", QStringLiteral("Short Format (programs name only)"), 248);
    rbLong = makeRadio(this, "rbLong",
                       QStringLiteral("Long Format (program name, uninstall command and program status)"), 270);
    rbShort->setChecked(true);

    const int gap = (ClientWidth - 130 - 138 - 130) / 4;
    buPrint = makeButton(this, "buPrint", QStringLiteral("PRINT ..."), QRect(gap, ButtonTop, 130, 32));
    buSaveFile =
        makeButton(this, "buSaveFile", QStringLiteral("SAVE AS FILE ..."), QRect(2 * gap + 130, ButtonTop, 138, 32));
    buCancel = makeButton(this, "buCancel", QStringLiteral("CLOSE"), QRect(3 * gap + 268, ButtonTop, 130, 32));
    connect(buPrint, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buPrintClick(); }); });
    connect(buSaveFile, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buSaveFileClick(); }); });
    connect(buCancel, &TuduButton::clicked, this, &TfAudit::buCancelClick);

    move(host.hostWindow()->geometry().center() - rect().center());
    fAudit = this;
    FormCreate();
}

TfAudit::~TfAudit()
{
    if (fAudit == this)
        fAudit = nullptr;
}

void TfAudit::FormCreate()
{
    mAudit->clear();
    QString date;
    QString time;
    UninstallLog::GetDateAndTime(date, time);
    appendLines(AuditReport::headerLines(HostNames::computerName(), HostNames::userName(), date, time));
    mAudit->moveCursor(QTextCursor::Start);
}

void TfAudit::appendLines(const QStringList& lines)
{
    QTextCursor cursor(mAudit->document());
    cursor.movePosition(QTextCursor::End);
    // An empty box has one empty block, which takes the first line.
    bool reuseBlock = mAudit->document()->isEmpty();
    for (const QString& line : lines) {
        if (!reuseBlock)
            cursor.insertBlock();
        reuseBlock = false;
        const bool separator = line == AuditReport::Separator;
        if (!separator)
            cursor.insertText(line);
        cursor.block().setUserState(separator ? SeparatorState : -1);
    }
}

void TfAudit::appendProgramLines()
{
    appendLines(AuditReport::programLines(m_host.programList(), rbLong->isChecked() ? AuditReport::Format::Long
                                                                                    : AuditReport::Format::Short));
}

QStringList TfAudit::reportLines() const
{
    QStringList lines;
    for (QTextBlock block = mAudit->document()->begin(); block.isValid(); block = block.next()) {
        const bool separator = block.userState() == SeparatorState && block.text().isEmpty();
        lines << (separator ? AuditReport::Separator : block.text());
    }
    return lines;
}

QStringList TfAudit::visualLines() const
{
    return ::visualLines(*mAudit);
}

std::optional<QString> TfAudit::chooseFile()
{
    if (s_saveChoice)
        return s_saveChoice();
    QFileDialog dialog(this, QStringLiteral("Save Report As"), m_host.workingFolder(),
                       QStringLiteral(" Text File (*.txt)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

void TfAudit::setSaveChoiceForTests(std::function<std::optional<QString>()> choice)
{
    s_saveChoice = std::move(choice);
}

void TfAudit::buSaveFileClick()
{
    const std::optional<QString> chosen = chooseFile();
    if (!chosen)
        return;
    saveToFile(*chosen);
}

bool TfAudit::saveToFile(const QString& chosenName)
{
    m_fileName = QDir(m_host.workingFolder()).filePath(AuditReport::reportFileName(chosenName));
    hide();
    appendProgramLines();
    const bool written = runGuarded(this, [this] { AuditReport::writeFile(m_fileName, reportLines()); });
    // The program lines are in the box now: the window closes either way, so they are never added twice.
    finish(written);
    return written;
}

void TfAudit::buPrintClick()
{
    std::unique_ptr<PrintJob> chosen = QPrinterPrintJob::choose(this);
    if (!chosen)
        return;
    printWith([&chosen] { return std::move(chosen); });
}

bool TfAudit::printOnDefaultPrinter()
{
    return printWith([] { return QPrinterPrintJob::defaultPrinter(); });
}

bool TfAudit::printWith(const std::function<std::unique_ptr<PrintJob>()>& acquire)
{
    hide();
    appendProgramLines();
    try {
        const std::unique_ptr<PrintJob> job = acquire();
        job->setFont(mAudit->font());
        // The text of a box that was never shown has not been wrapped yet; setting the mode again lays
        // it out at the box's width.
        mAudit->setLineWrapMode(QPlainTextEdit::NoWrap);
        mAudit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        job->begin();
        PrintJob::printLines(*job, visualLines());
        job->end();
    } catch (const KestrinError& error) {
        MessageBox::showError(m_host.hostWindow(), error.message());
        // A command-line print run goes on as a normal run with the main window.
        QuitAfterReport = false;
        m_host.showMainWindow();
        finish(false);
        return false;
    }
    finish(true);
    return true;
}

void TfAudit::finish(bool done)
{
    done ? accept() : reject();
}

void TfAudit::buCancelClick()
{
    reject();
}
