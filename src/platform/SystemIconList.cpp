#include "SystemIconList.h"

#include "PeIconReader.h"

#include <QFileInfo>
#include <QPainter>

int SystemIconList::indexOfFile(const QString& hostPath)
{
    const auto known = m_indexByPath.constFind(hostPath);
    if (known != m_indexByPath.constEnd())
        return *known;
    const QFileInfo info(hostPath);
    if (!info.isFile())
        return -1; // not remembered: the file may appear before the next scan
    // One file reached through different links or spellings keeps one index.
    const QString canonical = info.canonicalFilePath();
    int index = m_indexByPath.value(canonical, -1);
    if (index < 0) {
        index = count();
        m_entries.push_back(Entry{canonical, false, {}, {}});
        m_indexByPath.insert(canonical, index);
    }
    m_indexByPath.insert(hostPath, index);
    return index;
}

int SystemIconList::addImages(const QImage& small, const QImage& large)
{
    m_entries.push_back(Entry{QString(), true, small, large});
    return count() - 1;
}

QImage SystemIconList::smallImage(int index)
{
    if (index < 0 || index >= count())
        return {};
    decode(m_entries[size_t(index)]);
    return m_entries[size_t(index)].small;
}

QImage SystemIconList::largeImage(int index)
{
    if (index < 0 || index >= count())
        return {};
    decode(m_entries[size_t(index)]);
    return m_entries[size_t(index)].large;
}

void SystemIconList::decode(Entry& entry)
{
    if (entry.decoded)
        return;
    entry.decoded = true;
    const QByteArray ico = PeIconReader::iconFromFile(entry.hostPath, 0);
    entry.small = PeIconReader::imageFromIcon(ico, SmallSize);
    entry.large = PeIconReader::imageFromIcon(ico, LargeSize);
    if (entry.small.isNull())
        entry.small = genericFileImage(entry.hostPath, SmallSize);
    if (entry.large.isNull())
        entry.large = genericFileImage(entry.hostPath, LargeSize);
}

QImage genericFileImage(const QString& fileName, int size)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const bool program = suffix == QStringLiteral("exe") || suffix == QStringLiteral("com") ||
                         suffix == QStringLiteral("scr") || suffix == QStringLiteral("bat");
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 16.0;
    if (program) {
        // A window with a title bar.
        p.setPen(QPen(QColor(40, 60, 110), s));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5 * s, 2.5 * s, 13 * s, 11 * s));
        p.fillRect(QRectF(2 * s, 3 * s, 12 * s, 3 * s), QColor(50, 90, 180));
    } else {
        // A page with a folded corner.
        QPolygonF page;
        page << QPointF(3 * s, 1.5 * s) << QPointF(10 * s, 1.5 * s) << QPointF(13 * s, 4.5 * s)
             << QPointF(13 * s, 14.5 * s) << QPointF(3 * s, 14.5 * s);
        p.setPen(QPen(QColor(90, 90, 90), s));
        p.setBrush(Qt::white);
        p.drawPolygon(page);
        p.drawLine(QPointF(10 * s, 1.5 * s), QPointF(10 * s, 4.5 * s));
        p.drawLine(QPointF(10 * s, 4.5 * s), QPointF(13 * s, 4.5 * s));
    }
    return image;
}
