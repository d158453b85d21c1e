#pragma once

#include <QColor>
#include <QFrame>

// A panel in its own colour with a 1 px white frame just inside its edges, and no bevel. It may hold
// child controls.
class TFramePanel : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(QColor Color READ color WRITE setColor)

public:
    explicit TFramePanel(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
};
