#include "ProgramIconModel.h"

#include "inventory/ProgramListModel.h"
#include "platform/SystemIconList.h"

#include <QPainter>
#include <QPixmap>

namespace {

// Pictures added from outside the icon list may come in any size: each is fitted to its place.
QPixmap compose(const QSize& canvas, const QImage& state, const QRect& stateRect, const QImage& icon,
                const QRect& iconRect)
{
    QPixmap pixmap(canvas);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!state.isNull())
        painter.drawImage(stateRect, state);
    if (!icon.isNull())
        painter.drawImage(iconRect, icon);
    return pixmap;
}

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

    const auto valid = [this](int i) {
        return i >= 0 && i < m_icons.count();
    };
    const int small = SmallDecoration.height();
    const int large = LargeDecoration.height();
    const QImage state = valid(stateIndex) ? m_icons.smallImage(stateIndex) : QImage();
    QIcon icon;
    icon.addPixmap(compose(SmallDecoration, state, QRect(0, 0, small, small),
                           valid(iconIndex) ? m_icons.smallImage(iconIndex) : QImage(), QRect(small, 0, small, small)));
    // In the large styles the sign stands at the icon's lower left, as the native list draws state images.
    icon.addPixmap(compose(LargeDecoration, state, QRect(0, large - small, small, small),
                           valid(iconIndex) ? m_icons.largeImage(iconIndex) : QImage(), QRect(small, 0, large, large)));
    m_cache.insert(key, icon);
    return icon;
}
