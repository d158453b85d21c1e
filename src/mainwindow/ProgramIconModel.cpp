#include "mainwindow/ProgramIconModel.h"

#include "desktop/PaintedImage.h"
#include "desktop/SystemIconList.h"
#include "inventory/ProgramListModel.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>

namespace {

// One item's decoration: composed at one of the two decoration sizes when a view first wants it at that
// size. What was composed is held in a plain icon that does the drawing, so that every mode (a
// selected item's tint among them) looks as Qt draws a plain icon.
class DecorationEngine : public QIconEngine
{
public:
    DecorationEngine(SystemIconList& icons, int iconIndex, int stateIndex)
        : m_icons(icons), m_iconIndex(iconIndex), m_stateIndex(stateIndex)
    {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        composeFor(rect.size());
        m_composed.paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        // The size of a view's decoration is known without composing it.
        if (size == ProgramIconModel::SmallDecoration || size == ProgramIconModel::LargeDecoration)
            return size;
        composeFor(size);
        return m_composed.actualSize(size, mode, state);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        composeFor(size);
        return m_composed.pixmap(size, mode, state);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        composeFor(size);
        return m_composed.pixmap(size, scale, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {ProgramIconModel::SmallDecoration, ProgramIconModel::LargeDecoration};
    }

    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("ProgramDecoration"); }
    QIconEngine* clone() const override { return new DecorationEngine(*this); }

private:
    // A size other than the two decorations gets what an icon holding both would give.
    void composeFor(const QSize& size)
    {
        const int small = ProgramIconModel::SmallDecoration.height();
        const int large = ProgramIconModel::LargeDecoration.height();
        if (size != ProgramIconModel::LargeDecoration && !m_hasSmall) {
            m_hasSmall = true;
            m_composed.addPixmap(compose(ProgramIconModel::SmallDecoration, QRect(0, 0, small, small),
                                         iconImage(&SystemIconList::smallImage), QRect(small, 0, small, small)));
        }
        // In the large styles the sign stands at the icon's lower left, as the native list draws state images.
        if (size != ProgramIconModel::SmallDecoration && !m_hasLarge) {
            m_hasLarge = true;
            m_composed.addPixmap(compose(ProgramIconModel::LargeDecoration, QRect(0, large - small, small, small),
                                         iconImage(&SystemIconList::largeImage), QRect(small, 0, large, large)));
        }
    }

    QImage iconImage(QImage (SystemIconList::*ofSize)(int)) const
    {
        return valid(m_iconIndex) ? (m_icons.*ofSize)(m_iconIndex) : QImage();
    }

    bool valid(int index) const { return index >= 0 && index < m_icons.count(); }

    // Pictures added from outside the icon list may come in any size: each is fitted to its place.
    QPixmap compose(const QSize& canvas, const QRect& stateRect, const QImage& icon, const QRect& iconRect) const
    {
        const QImage state = valid(m_stateIndex) ? m_icons.smallImage(m_stateIndex) : QImage();
        return QPixmap::fromImage(paintedImage(canvas, [&](QPainter& painter) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            if (!state.isNull())
                painter.drawImage(stateRect, state);
            if (!icon.isNull())
                painter.drawImage(iconRect, icon);
        }));
    }

    SystemIconList& m_icons;
    int m_iconIndex;
    int m_stateIndex;
    bool m_hasSmall = false;
    bool m_hasLarge = false;
    QIcon m_composed;
};

} // namespace

ProgramIconModel::ProgramIconModel(SystemIconList& icons, QObject* parent) : QIdentityProxyModel(parent), m_icons(icons)
{}

QVariant ProgramIconModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DecorationRole || index.column() != ProgramListModel::NameColumn)
        return QIdentityProxyModel::data(index, role);
    return decoration(QIdentityProxyModel::data(index, ProgramListModel::IconIndexRole).toInt(),
                      QIdentityProxyModel::data(index, ProgramListModel::StateImageRole).toInt());
}

QIcon ProgramIconModel::decoration(int iconIndex, int stateIndex) const
{
    const quint64 key = (quint64(quint32(iconIndex)) << 32) | quint32(stateIndex);
    if (const auto it = m_cache.constFind(key); it != m_cache.cend())
        return *it;
    QIcon icon(new DecorationEngine(m_icons, iconIndex, stateIndex));
    m_cache.insert(key, icon);
    return icon;
}
