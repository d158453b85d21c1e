#pragma once

class QLabel;
class QWidget;

// The white square in a window's top left corner that holds the window's 48 by 48 picture in a
// sunken frame.
struct PicturePanel
{
    QWidget* panel;
    QLabel* image;

    // The panel named "paPicture", its picture label named `imageName`.
    static PicturePanel create(QWidget* parent, const char* imageName);
};
