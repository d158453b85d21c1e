#include "controls/TfAbout.h"

#include "controls/TuduButton.h"
#include "desktop/ShellOpen.h"

#include <QFile>
#include <QLabel>
#include <QMouseEvent>

namespace {

constexpr int ClientWidth = 425;
constexpr int ClientHeight = 333;
constexpr int LeftMargin = 24;
// Nobody writes a version longer than this; the cap keeps a stray huge file from filling the window.
constexpr qint64 MaxVersionBytes = 1024;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int top, int pixelSize, bool bold)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    // Part of the text comes from a file: show it as it is, never as markup.
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    label->setText(text);
    label->move(LeftMargin, top);
    label->adjustSize();
    return label;
}

} // namespace

TfAbout::TfAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fAbout"));
    setWindowTitle(QStringLiteral("About"));
    // Dialog border with the system menu only: no minimise, maximise or help button, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    lPrgName = makeLabel(this, "lPrgName", QStringLiteral("Kestrin"), 24, 20, true);
    lUse = makeLabel(this, "lUse", QStringLiteral("for Windows XP/2000/NT/Me/98/95"), 56, 13, true);
    lVersion = makeLabel(this, "lVersion", QStringLiteral("Version "), 96, 13, true);
    Label2 = makeLabel(this, "Label2", QStringLiteral("Copyright (C) 2026 Varnholt Software"), 136, 13, true);
    Label4 = makeLabel(this, "Label4", QStringLiteral("For more information please visit :"), 184, 13, false);
    lAddress = makeLabel(this, "lAddress", QStringLiteral("https://kestrin.example.org"), 204, 13, true);
    QFont linkFont = lAddress->font();
    linkFont.setUnderline(true);
    lAddress->setFont(linkFont);
    lAddress->adjustSize();
    QPalette linkPalette = lAddress->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    lAddress->setPalette(linkPalette);
    lAddress->setCursor(Qt::PointingHandCursor);
    lAddress->installEventFilter(this);

    buOK = new TuduButton(this);
    buOK->setObjectName(QStringLiteral("buOK"));
    buOK->setCaption(QStringLiteral("OK"));
    buOK->setGeometry((ClientWidth - 129) / 2, ClientHeight - 32 - 24, 129, 32);
    connect(buOK, &TuduButton::clicked, this, &TfAbout::buOKClick);

    // Shown modally over its parent: QDialog centres itself on the parent window when first shown, and
    // closes on Escape (nothing here takes focus, so the key always reaches the window).
    FormCreate();
}

void TfAbout::FormCreate()
{
    lVersion->setText(lVersion->text() + readVersionText());
    lVersion->adjustSize();
}

QString TfAbout::readVersionText()
{
    QFile file(QStringLiteral("version.id"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(MaxVersionBytes);
    // A line ends at LF, CR or CR LF, whichever comes first.
    qsizetype end = 0;
    while (end < head.size() && head.at(end) != '\n' && head.at(end) != '\r')
        ++end;
    return QString::fromLocal8Bit(head.left(end));
}

bool TfAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lAddress) {
        // A click as on a button: pressed and released over the label.
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            m_addressPressed = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool click = m_addressPressed && mouse->button() == Qt::LeftButton &&
                               lAddress->rect().contains(mouse->position().toPoint());
            m_addressPressed = false;
            if (click)
                lAddressClick();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfAbout::lAddressClick()
{
    // The label's own caption is the address; a browser that does not start is not reported.
    ShellOpen::instance().open(lAddress->text());
}

void TfAbout::buOKClick()
{
    accept();
}
