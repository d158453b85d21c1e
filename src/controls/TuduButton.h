#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// The flat white rounded push button of every dialog: a black 1 px outline with 12 x 12 corner
// ellipses and a centred caption. It never takes focus and has no hover, pressed or disabled look.
// clicked() fires on a left-button release over the button; a double-click counts as two clicks.
class TuduButton : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor Color READ color WRITE setColor)

public:
    explicit TuduButton(QWidget* parent = nullptr);
    // A button as the dialogs lay them out: named, captioned in a bold face of `family` at
    // `pixels`, placed at `geometry`.
    static TuduButton* create(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                              int pixels = 16, const QString& family = QStringLiteral("Arial"));

    // Where button `index` of `count` goes in a row at `top`, spread evenly over `clientWidth`.
    static QRect rowGeometry(int clientWidth, int count, int index, QSize size, int top);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);

    // Kept for the windows that set it; the fill is always white.
    QColor color() const { return m_color; }
    void setColor(const QColor& color) { m_color = color; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString m_caption;
    QColor m_color;
    bool m_pressed = false;
};
