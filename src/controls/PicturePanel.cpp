#include "controls/PicturePanel.h"

#include <QLabel>

PicturePanel PicturePanel::create(QWidget* parent, const char* imageName)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("paPicture"));
    panel->setGeometry(16, 16, 52, 52);
    panel->setAutoFillBackground(true);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    panel->setPalette(white);
    auto* image = new QLabel(panel);
    image->setObjectName(QLatin1String(imageName));
    image->setGeometry(1, 1, 50, 50);
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return {panel, image};
}
