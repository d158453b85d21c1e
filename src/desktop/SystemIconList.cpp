#include "desktop/SystemIconList.h"

#include "desktop/PaintedImage.h"
#include "formats/PeIconReader.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <sys/stat.h>

int SystemIconList::indexOfFile(const QString& hostPath)
{
    const auto known = m_indexByPath.constFind(hostPath);
    if (known != m_indexByPath.constEnd())
        return *known;
    struct stat status;
    if (::stat(QFile::encodeName(hostPath).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return -1; // not remembered: the file may appear before the next scan
    // One file reached through different links or spellings keeps one index: the file's identity
    // costs one stat, where its canonical path would cost one per folder of the path.
    const FileIdentity identity{quint64(status.st_dev), quint64(status.st_ino),
                                qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec};
    int index = m_indexByFile.value(identity, -1);
    if (index < 0) {
        index = count();
        m_entries.push_back(Entry{hostPath, false, false, {}, {}});
        m_indexByFile.insert(identity, index);
    }
    m_indexByPath.insert(hostPath, index);
    return index;
}

int SystemIconList::addImages(const QImage& small, const QImage& large)
{
    m_entries.push_back(Entry{QString(), true, true, small, large});
    return count() - 1;
}

QImage SystemIconList::smallImage(int index)
{
    if (index < 0 || index >= count())
        return {};
    Entry& entry = m_entries[size_t(index)];
    if (!entry.smallDecoded) {
        entry.small = decode(entry.hostPath, SmallSize);
        entry.smallDecoded = true;
    }
    return entry.small;
}

QImage SystemIconList::largeImage(int index)
{
    if (index < 0 || index >= count())
        return {};
    Entry& entry = m_entries[size_t(index)];
    if (!entry.largeDecoded) {
        entry.large = decode(entry.hostPath, LargeSize);
        entry.largeDecoded = true;
    }
    return entry.large;
}

QImage SystemIconList::decode(const QString& hostPath, int size)
{
    const QImage image = PeIconReader::imageFromIcon(PeIconReader::iconFromFile(hostPath, 0), size);
    return image.isNull() ? genericFileImage(hostPath, size) : image;
}

QImage genericFileImage(const QString& fileName, int size)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const bool program = suffix == QStringLiteral("exe") || suffix == QStringLiteral("com") ||
                         suffix == QStringLiteral("scr") || suffix == QStringLiteral("bat");
    return paintedImage(QSize(size, size), [size, program](QPainter& p) {
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
    });
}
