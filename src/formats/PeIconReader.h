#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// The icons that Windows programs carry: the icon groups of a PE file (.exe, .dll, .scr; PE32 and
// PE32+) rebuilt as .ico data, and .ico files themselves. Inputs may be damaged or hostile: whatever
// does not add up gives "no icon" (an empty array, list or null image), never a read outside the data.
namespace PeIconReader {

// One RT_GROUP_ICON entry: a named group carries its name (id 0), a numbered one its ID (name empty).
struct IconGroup
{
    QString name;
    quint32 id = 0;

    bool operator==(const IconGroup&) const = default;
};

// The icon groups of a PE image in directory order: named groups first, then IDs ascending.
QList<IconGroup> iconGroups(const QByteArray& pe);

// The group picked by index, rebuilt as an .ico file: index >= 0 is the index-th group in directory
// order, index < 0 the group whose ID is -index. Empty when there is no such group or it is unusable.
QByteArray iconFromPe(const QByteArray& pe, int index);

// The icon of a file on disk: a PE file as above; an .ico file is itself the one group (index 0).
QByteArray iconFromFile(const QString& path, int index);

// The image of .ico data for size x size pixels: the entry closest to that size (a larger one on a
// tie), then the one with most colours, scaled when its size differs. Null when no entry decodes or
// size is outside 1..1024.
QImage imageFromIcon(const QByteArray& ico, int size);

} // namespace PeIconReader
