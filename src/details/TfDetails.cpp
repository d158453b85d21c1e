#include "details/TfDetails.h"

#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "details/LinkOpen.h"
#include "inventory/PlatformVersion.h"
#include "inventory/ProgramListModel.h"
#include "prefix/WinePrefix.h"
#include "wine/CommandLauncher.h"

#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>

TfDetails* fDetails = nullptr;

namespace {

constexpr int ClientWidth = 495;
constexpr int ClientHeight = 326;
constexpr int CaptionX = 20;
constexpr int ValueX = 180;
constexpr int PageMargin = 20;
const char* const clickProperty = "detailClick";

} // namespace

TfDetails::TfDetails(ProgramListHost& host) : QDialog(host.hostWindow()), m_host(host)
{
    setObjectName(QStringLiteral("fDetails"));
    setWindowTitle(QStringLiteral("Program Details"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(10);
    setFont(font);

    sbDetails = new QScrollArea(this);
    sbDetails->setObjectName(QStringLiteral("sbDetails"));
    sbDetails->setGeometry(8, 9, 481, 272);
    sbDetails->setFrameStyle(QFrame::Box | QFrame::Plain);
    sbDetails->setLineWidth(1);
    sbDetails->setWidgetResizable(false);
    QPalette white = sbDetails->palette();
    white.setColor(QPalette::Window, Qt::white);
    sbDetails->setPalette(white);
    sbDetails->setAutoFillBackground(true);
    m_content = new QWidget;
    m_content->setObjectName(QStringLiteral("sbDetailsPage"));
    m_content->setPalette(white);
    m_content->setAutoFillBackground(true);
    sbDetails->setWidget(m_content);

    buOK = new TuduButton(this);
    buOK->setObjectName(QStringLiteral("buOK"));
    buOK->setCaption(QStringLiteral("OK"));
    QFont okFont(QStringLiteral("Arial"));
    okFont.setPixelSize(16);
    okFont.setBold(true);
    buOK->setFont(okFont);
    buOK->setGeometry(212, 288, 89, 32);
    buOK->setCursor(Qt::PointingHandCursor);
    connect(buOK, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buOKClick(); }); });

    fDetails = this;
    FormCreate();
}

TfDetails::~TfDetails()
{
    if (fDetails == this)
        fDetails = nullptr;
}

void TfDetails::FormCreate()
{
    CommandRun = false;
    ShownIndex = m_host.selectedIndex();
    if (ShownIndex < 0)
        return;
    const InstalledProgram program = m_host.programList().at(ShownIndex);
    bool ntFamily = true;
    if (!runGuarded(this, [&] { ntFamily = IsNTPlatform(m_host.prefix()); }))
        return;
    runGuarded(this, [&] { m_page = buildDetailPage(m_host.prefix(), program, ntFamily); });

    int width = 0;
    int height = 0;
    for (const DetailRow& row : std::as_const(m_page.rows)) {
        const QLabel* caption = AddDetailLabel(CaptionX, row.top, row.caption, DetailRow::Click::None);
        QLabel* value = AddDetailLabel(ValueX, row.top, row.text, row.click);
        m_valueLabels.append(value);
        width = std::max({width, caption->geometry().right(), value->geometry().right()});
        height = std::max({height, caption->geometry().bottom(), value->geometry().bottom()});
    }
    // A long value widens the page; the scroll box scrolls when it does not fit.
    m_content->resize(std::max(width + PageMargin, sbDetails->viewport()->width()),
                      std::max(height + PageMargin, sbDetails->viewport()->height()));
    if (!m_page.error.isEmpty())
        MessageBox::showError(this, m_page.error);
}

QLabel* TfDetails::AddDetailLabel(int x, int top, const QString& caption, DetailRow::Click click)
{
    auto* label = new QLabel(caption, m_content);
    label->setTextFormat(Qt::PlainText); // registry texts are never markup
    label->move(x, top);
    if (click != DetailRow::Click::None) {
        QFont font = label->font();
        font.setUnderline(true);
        label->setFont(font);
        QPalette blue = label->palette();
        blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
        label->setPalette(blue);
        label->setCursor(Qt::PointingHandCursor);
        label->setProperty(clickProperty, int(click));
        label->installEventFilter(this);
    }
    label->adjustSize();
    return label;
}

bool TfDetails::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QLabel*>(watched);
    if (label && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        label->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        // Neither an open nor a start reports its outcome; nothing may leave the event handler either.
        try {
            if (DetailRow::Click(label->property(clickProperty).toInt()) == DetailRow::Click::Run)
                LaunchCmd(*label);
            else
                ExecuteAction(*label);
        } catch (const std::exception&) {
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfDetails::ExecuteAction(const QLabel& clicked)
{
    // As the shell's own open, the outcome is not reported.
    openInPrefix(m_host.prefix(), clicked.text());
}

void TfDetails::LaunchCmd(const QLabel& clicked)
{
    CommandRun = true;
    // The line goes to Windows exactly as stored; it is not waited for and a failed start is silent.
    CommandLauncher::instance().start(m_host.prefix().path(), clicked.text());
}

void TfDetails::buOKClick()
{
    if (CommandRun) {
        m_host.refreshListAndCount();
    }
    const int count = m_host.programList().count();
    if (ShownIndex >= 0 && ShownIndex < count)
        m_host.selectItem(ShownIndex);
    else if (count > 0)
        m_host.selectItem(0);
    accept();
}
