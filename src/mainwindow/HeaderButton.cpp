#include "mainwindow/HeaderButton.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace {

// Room the style keeps between the caption and the button's edges.
constexpr int CaptionPadding = 12;

} // namespace

HeaderButton::HeaderButton(QWidget* parent) : QToolButton(parent)
{
    setIconSize(QSize(32, 32));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize HeaderButton::sizeHint() const
{
    const int caption = fontMetrics().horizontalAdvance(text().trimmed()) + CaptionPadding;
    return {std::max(DesignedSize.width(), caption), DesignedSize.height()};
}

void HeaderButton::paintEvent(QPaintEvent* /*event*/)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text = option.text.trimmed();
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
}
