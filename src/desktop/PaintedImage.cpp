#include "desktop/PaintedImage.h"

#include <QPainter>

QImage paintedImage(QSize size, const std::function<void(QPainter&)>& draw)
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        draw(painter);
    }
    // A copy has pixel data of its own and no engine; the canvas takes its engine along when it goes.
    return canvas.copy();
}
