#pragma once

#include <QImage>
#include <QSize>

#include <functional>

class QPainter;

// A transparent picture of the given size with what draw paints on it. Painting attaches a paint engine
// to an image for the image's whole life; the picture returned carries none, so that the thousands of
// pictures a long list keeps do not keep an engine each.
QImage paintedImage(QSize size, const std::function<void(QPainter&)>& draw);
