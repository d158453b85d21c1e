// The icon reader over arbitrary file contents, taken both as a PE image and as an .ico file.
// Besides memory safety: every group the directory lists can be asked for by index, and a numbered
// one by its ID with the same result; a rebuilt icon is a well-formed .ico whose entries lie inside
// it; a decoded image fits the asked size with one side equal to it.
#include "FuzzSupport.h"

#include "formats/PeIconReader.h"

#include <QByteArray>
#include <QImage>
#include <QtEndian>

#include <cstdint>

using namespace PeIconReader;

namespace {

constexpr int MaxGroupsTried = 4;

void checkIco(const QByteArray& ico)
{
    check(ico.size() >= 6, "an icon has a header");
    const auto* d = reinterpret_cast<const uchar*>(ico.constData());
    const quint16 count = qFromLittleEndian<quint16>(d + 4);
    check(qFromLittleEndian<quint16>(d) == 0 && qFromLittleEndian<quint16>(d + 2) == 1 && count > 0,
          "an icon header says icon and has entries");
    check(ico.size() >= 6 + 16 * qsizetype(count), "an icon holds its directory");
    qint64 end = 6 + 16 * qint64(count);
    for (int i = 0; i < count; ++i) {
        const quint32 bytes = qFromLittleEndian<quint32>(d + 6 + 16 * i + 8);
        const quint32 offset = qFromLittleEndian<quint32>(d + 6 + 16 * i + 12);
        check(offset == end, "images follow each other in directory order");
        end += bytes;
    }
    check(end == ico.size(), "an icon ends with its last image");
}

void checkImage(const QByteArray& ico, int side)
{
    const QImage image = imageFromIcon(ico, side);
    if (image.isNull())
        return;
    check(image.width() <= side && image.height() <= side && (image.width() == side || image.height() == side),
          "an image is scaled to the asked size");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // A second size from the input, so that odd sizes and scaling are tried too.
    const int side = size ? 1 + data[size - 1] : 1;

    const QList<IconGroup> groups = iconGroups(bytes);
    for (int i = 0; i < groups.size() && i < MaxGroupsTried; ++i) {
        const QByteArray ico = iconFromPe(bytes, i);
        if (groups[i].name.isEmpty() && groups[i].id > 0) {
            qsizetype first = 0;
            while (groups[first].id != groups[i].id || !groups[first].name.isEmpty())
                ++first;
            if (first == i)
                check(iconFromPe(bytes, -int(groups[i].id)) == ico, "a group is found by its ID as by its index");
        }
        if (ico.isEmpty())
            continue;
        checkIco(ico);
        checkImage(ico, 32);
        checkImage(ico, side);
    }
    check(iconFromPe(bytes, int(groups.size())).isEmpty(), "there is no group past the last");

    checkImage(bytes, 32);
    checkImage(bytes, side);
    return 0;
}
