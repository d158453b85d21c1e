#include "controls/TFramePanel.h"

#include <QPainter>

TFramePanel::TFramePanel(QWidget* parent) : QFrame(parent), m_color(palette().color(QPalette::Window))
{
    resize(100, 50);
    setFrameShape(QFrame::NoFrame);
    // Own colour, painted here rather than inherited; the palette follows so that children asking for the
    // window colour get the panel's.
    setColor(m_color);
}

void TFramePanel::setColor(const QColor& color)
{
    m_color = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
    update();
}

void TFramePanel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(rect(), m_color);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, width() - 1, height() - 1));
}
