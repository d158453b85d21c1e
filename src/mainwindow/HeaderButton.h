#pragma once

#include <QToolButton>

// A button of the header toolbar: a 32 by 32 picture over its caption, 83 by 52 as designed. The
// designed captions carry blanks that only served to centre them; the style would elide such padded
// text, so it is drawn trimmed, and a caption wider than the button widens it instead of being cut.
class HeaderButton : public QToolButton
{
    Q_OBJECT

public:
    static constexpr QSize DesignedSize{83, 52};

    explicit HeaderButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
