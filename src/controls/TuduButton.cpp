#include "controls/TuduButton.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int DefaultWidth = 130;
constexpr int DefaultHeight = 40;
constexpr int CornerRadius = 6; // a 12 x 12 corner ellipse

} // namespace

TuduButton::TuduButton(QWidget* parent) : QWidget(parent), m_color(palette().color(QPalette::Button))
{
    resize(DefaultWidth, DefaultHeight);
    QFont captionFont = font();
    captionFont.setPointSize(12);
    captionFont.setBold(true);
    setFont(captionFont);
    // The caption colour lives in the palette, so a window can still change it like a font colour.
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

QRect TuduButton::rowGeometry(int clientWidth, int count, int index, QSize size, int top)
{
    const int gap = (clientWidth - count * size.width()) / (count + 1);
    return QRect(QPoint(gap + index * (size.width() + gap), top), size);
}

TuduButton* TuduButton::create(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                               int pixels, const QString& family)
{
    auto* button = new TuduButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setCaption(caption);
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(true);
    button->setFont(font);
    button->setGeometry(geometry);
    return button;
}

void TuduButton::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
}

void TuduButton::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    // Crisp 1 px lines as on the original platform; no antialiasing.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    // An aliased 1 px pen draws a QRect's outline right of and below its mathematical edges, so the rect
    // one pixel smaller than the widget puts the outline on its first and last columns and rows.
    painter.drawRoundedRect(QRect(0, 0, width() - 1, height() - 1), CornerRadius, CornerRadius);

    if (m_caption.isEmpty())
        return;
    const QFontMetrics metrics(font());
    // Integer division truncates toward zero, so a caption wider than the button starts left of it and is
    // clipped evenly on both sides.
    const int x = (width() - metrics.horizontalAdvance(m_caption)) / 2;
    const int y = (height() - metrics.height()) / 2;
    painter.setFont(font());
    // The active colour always: no disabled look.
    painter.setPen(palette().color(QPalette::Active, QPalette::WindowText));
    painter.drawText(QPoint(x, y + metrics.ascent()), m_caption);
}

void TuduButton::mousePressEvent(QMouseEvent* event)
{
    // Qt grabs the mouse for the pressed widget until release, so the release comes here even outside.
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
}

void TuduButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double-click is just another press: two clicks in all.
    mousePressEvent(event);
}

void TuduButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    // Disabled widgets get no mouse events at all, so a disabled button never reaches here.
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}
