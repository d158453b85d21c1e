#include "desktop/SystemIconList.h"
#include "formats/PeIconReader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <functional>

using namespace PeIconReader;
using namespace Qt::StringLiterals;

namespace {

void putU16(QByteArray& bytes, qsizetype at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void putU32(QByteArray& bytes, qsizetype at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

QByteArray u16(quint16 value)
{
    QByteArray b(2, '\0');
    putU16(b, 0, value);
    return b;
}

QByteArray u32(quint32 value)
{
    QByteArray b(4, '\0');
    putU32(b, 0, value);
    return b;
}

// The picture every decoding test expects: distinct colours across and down, so a flipped or
// shifted row shows. Palette formats use the index (x + 3y) mod the palette size instead.
QRgb patternColour(int x, int y)
{
    return qRgb(x * 16, y * 16, 128);
}

const QList<QRgb> kPalette = {qRgb(0, 0, 255),   qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
                              qRgb(0, 255, 255), qRgb(255, 0, 255), qRgb(128, 64, 32), qRgb(9, 8, 7)};

// An icon DIB of side x side: colour rows from pixel(x, y) (palette index or RGB, alpha in the top
// byte for 32 bits), AND mask bits from masked(x, y), both bottom-up.
QByteArray makeDib(int bitCount, int side, const QList<QRgb>& palette, const std::function<QRgb(int, int)>& pixel,
                   const std::function<bool(int, int)>& masked)
{
    QByteArray dib(40, '\0');
    putU32(dib, 0, 40);
    putU32(dib, 4, side);
    putU32(dib, 8, side * 2);
    putU16(dib, 12, 1);
    putU16(dib, 14, bitCount);
    putU32(dib, 32, quint32(palette.size()));
    for (QRgb c : palette)
        dib += bytesOf({int(qBlue(c)), qGreen(c), qRed(c), 0});
    const int stride = (side * bitCount + 31) / 32 * 4;
    for (int y = side - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < side; ++x) {
            const QRgb v = pixel(x, y);
            if (bitCount == 1)
                row[x / 8] = char(row[x / 8] | (v << (7 - x % 8)));
            else if (bitCount == 4)
                row[x / 2] = char(row[x / 2] | (v << (x % 2 ? 0 : 4)));
            else if (bitCount == 8)
                row[x] = char(v);
            else
                row.replace(x * bitCount / 8, bitCount / 8,
                            bytesOf({qBlue(v), qGreen(v), qRed(v), qAlpha(v)}).left(bitCount / 8));
        }
        dib += row;
    }
    const int maskStride = (side + 31) / 32 * 4;
    for (int y = side - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < side; ++x)
            row[x / 8] = char(row[x / 8] | (masked(x, y) ? 0x80 >> (x % 8) : 0));
        dib += row;
    }
    return dib;
}

QByteArray solidDib(int bitCount, int side, QRgb colour)
{
    const QList<QRgb> palette = bitCount <= 8 ? QList<QRgb>{colour} : QList<QRgb>{};
    return makeDib(
        bitCount, side, palette, [&](int, int) { return bitCount <= 8 ? 0 : colour; }, [](int, int) { return false; });
}

QByteArray makePng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

int imageSide(const QByteArray& image)
{
    return image.startsWith("\x89PNG") ? qFromBigEndian<qint32>(image.constData() + 16)
                                       : qFromLittleEndian<qint32>(image.constData() + 4);
}

int imageBits(const QByteArray& image)
{
    return image.startsWith("\x89PNG") ? 32 : qFromLittleEndian<quint16>(image.constData() + 14);
}

// One 16-byte ICONDIR entry as the rebuilt file must carry it.
QByteArray icoEntry(int side, int bitCount, quint32 size, quint32 offset)
{
    return bytesOf({side & 0xFF, side & 0xFF, 0, 0}) + u16(1) + u16(quint16(bitCount)) + u32(size) + u32(offset);
}

QByteArray makeIco(const QList<QByteArray>& images)
{
    QByteArray ico = u16(0) + u16(1) + u16(quint16(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (const QByteArray& image : images) {
        ico += icoEntry(imageSide(image), imageBits(image), quint32(image.size()), offset);
        offset += quint32(image.size());
    }
    for (const QByteArray& image : images)
        ico += image;
    return ico;
}

struct TestGroup
{
    QString name; // empty: numbered by id
    quint32 id = 0;
    QList<QByteArray> images;
    int bytesInResExtra = 0;   // added to each declared size
    quint16 missingIconId = 0; // a further entry naming an RT_ICON that does not exist
};

// A minimal PE32 or PE32+ file with one .rsrc section (RVA 0x1000 at file offset 0x200) holding the
// groups; RT_ICON IDs are numbered 1, 2, ... in group order. `at` gets the file offsets of the parts
// the broken-input tests damage.
QByteArray makePe(bool pe32Plus, const QList<TestGroup>& groups, QHash<QString, qsizetype>* at = nullptr)
{
    constexpr quint32 kRsrcRva = 0x1000;
    constexpr qsizetype kRsrcFile = 0x200;
    QList<QByteArray> icons;
    for (const TestGroup& g : groups)
        icons += g.images;
    const qsizetype n = icons.size();
    const qsizetype g = groups.size();
    const qsizetype iconDir = 32;
    const qsizetype groupDir = iconDir + 16 + 8 * n;
    const qsizetype langDirs = groupDir + 16 + 8 * g;
    const qsizetype leaves = langDirs + 24 * (n + g);
    QByteArray tree(leaves + 16 * (n + g), '\0');
    QHash<QString, qsizetype> parts;
    const auto directory = [&](qsizetype offset, int named, int ids) {
        putU16(tree, offset + 12, quint16(named));
        putU16(tree, offset + 14, quint16(ids));
    };
    const auto entry = [&](qsizetype dir, int index, quint32 name, quint32 target) {
        putU32(tree, dir + 16 + 8 * index, name);
        putU32(tree, dir + 20 + 8 * index, target);
    };
    const auto addData = [&](int resource, const QByteArray& data) {
        const qsizetype langDir = langDirs + 24 * resource;
        const qsizetype leaf = leaves + 16 * resource;
        directory(langDir, 0, 1);
        entry(langDir, 0, 1033, quint32(leaf));
        putU32(tree, leaf, kRsrcRva + quint32(tree.size()));
        putU32(tree, leaf + 4, quint32(data.size()));
        tree += data + QByteArray((4 - data.size() % 4) % 4, '\0');
        return langDir;
    };
    directory(0, 0, 2);
    entry(0, 0, 3, 0x80000000u | quint32(iconDir));
    entry(0, 1, 14, 0x80000000u | quint32(groupDir));
    directory(iconDir, 0, int(n));
    directory(groupDir, int(std::count_if(groups.begin(), groups.end(), [](auto& t) { return !t.name.isEmpty(); })),
              int(std::count_if(groups.begin(), groups.end(), [](auto& t) { return t.name.isEmpty(); })));
    quint16 nextIcon = 1;
    for (int i = 0; i < g; ++i) {
        const TestGroup& group = groups[i];
        quint32 name = group.id;
        if (!group.name.isEmpty()) {
            parts.insert(u"name"_s, kRsrcFile + tree.size());
            name = 0x80000000u | quint32(tree.size());
            tree += u16(quint16(group.name.size()));
            for (QChar c : group.name)
                tree += u16(c.unicode());
            tree += QByteArray((4 - tree.size() % 4) % 4, '\0');
        }
        const int count = int(group.images.size()) + (group.missingIconId ? 1 : 0);
        QByteArray data = u16(0) + u16(1) + u16(quint16(count));
        for (const QByteArray& image : group.images) {
            const int side = imageSide(image);
            data += bytesOf({side & 0xFF, side & 0xFF, 0, 0}) + u16(1) + u16(imageBits(image)) +
                    u32(quint32(image.size() + group.bytesInResExtra)) + u16(nextIcon++);
        }
        if (group.missingIconId)
            data += QByteArray(8, '\0') + u32(0) + u16(group.missingIconId);
        if (i == 0)
            parts.insert(u"groupData"_s, kRsrcFile + tree.size());
        entry(groupDir, i, name, 0x80000000u | quint32(addData(int(n + i), data)));
    }
    // Images last, so that cutting the file short damages them alone.
    for (int i = 0; i < n; ++i) {
        parts.insert(u"iconData"_s, kRsrcFile + tree.size());
        entry(iconDir, i, quint32(i + 1), 0x80000000u | quint32(addData(i, icons[i])));
    }

    const qsizetype optional = 0x58;
    const qsizetype optionalSize = pe32Plus ? 240 : 224;
    const qsizetype directories = optional + (pe32Plus ? 112 : 96);
    QByteArray file(kRsrcFile, '\0');
    file[0] = 'M';
    file[1] = 'Z';
    putU32(file, 0x3C, 0x40);
    file.replace(0x40, 4, QByteArray("PE\0\0", 4));
    putU16(file, 0x44, pe32Plus ? 0x8664 : 0x14C);
    putU16(file, 0x46, 1);
    putU16(file, 0x54, quint16(optionalSize));
    putU16(file, optional, pe32Plus ? 0x20B : 0x10B);
    putU32(file, directories - 4, 16);
    putU32(file, directories + 16, kRsrcRva);
    putU32(file, directories + 20, quint32(tree.size()));
    const qsizetype section = optional + optionalSize;
    file.replace(section, 5, ".rsrc");
    putU32(file, section + 8, quint32(tree.size()));
    putU32(file, section + 12, kRsrcRva);
    putU32(file, section + 16, quint32(tree.size()));
    putU32(file, section + 20, quint32(kRsrcFile));
    if (at) {
        parts.insert({{u"optional"_s, optional},
                      {u"directories"_s, directories},
                      {u"section"_s, section},
                      {u"root"_s, kRsrcFile},
                      {u"groupDir"_s, kRsrcFile + groupDir},
                      {u"groupLangDir"_s, kRsrcFile + langDirs + 24 * n},
                      {u"groupLeaf"_s, kRsrcFile + leaves + 16 * n},
                      {u"iconLeaf"_s, kRsrcFile + leaves}});
        *at = parts;
    }
    return file + tree;
}

QList<TestGroup> orderedGroups()
{
    const QImage png = [] {
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(qRgba(10, 20, 30, 200));
        return image;
    }();
    return {{u"ALPHA"_s, 0, {solidDib(32, 16, qRgb(255, 0, 0))}},
            {u"BETA"_s, 0, {solidDib(32, 16, qRgb(0, 255, 0)), makePng(png)}, 0, 99},
            {QString(), 5, {solidDib(32, 16, qRgb(0, 0, 255))}},
            {QString(), 7, {solidDib(8, 16, qRgb(1, 2, 3))}, 100}};
}

QRgb centre(const QImage& image)
{
    return image.pixel(image.width() / 2, image.height() / 2);
}

} // namespace

class TestPeIconReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsGroupsNamedFirst_data();
    void listsGroupsNamedFirst();
    void rebuildsIco();
    void decodesImages_data();
    void decodesImages();
    void choosesBestSize_data();
    void choosesBestSize();
    void readsFiles();
    void listsIconsOncePerFile();
    void rejectsBrokenPe_data();
    void rejectsBrokenPe();
    void rejectsBrokenIco_data();
    void rejectsBrokenIco();
    void readsWineFiles();
};

void TestPeIconReader::listsGroupsNamedFirst_data()
{
    QTest::addColumn<bool>("pe32Plus");
    QTest::newRow("PE32") << false;
    QTest::newRow("PE32+") << true;
}

void TestPeIconReader::listsGroupsNamedFirst()
{
    QFETCH(bool, pe32Plus);
    const QByteArray pe = makePe(pe32Plus, orderedGroups());
    const QList<IconGroup> expected = {{u"ALPHA"_s, 0}, {u"BETA"_s, 0}, {QString(), 5}, {QString(), 7}};
    QCOMPARE(iconGroups(pe), expected);

    const QList<std::pair<int, QRgb>> picks = {{0, qRgb(255, 0, 0)}, {1, qRgb(0, 255, 0)},  {2, qRgb(0, 0, 255)},
                                               {3, qRgb(1, 2, 3)},   {-5, qRgb(0, 0, 255)}, {-7, qRgb(1, 2, 3)}};
    for (const auto& [index, colour] : picks)
        QCOMPARE(centre(imageFromIcon(iconFromPe(pe, index), 16)), colour);
    // No group 4; no group with ID 1 or 3 (3 is RT_ICON, a type, not a group).
    for (int index : {4, -1, -3, -14, INT_MIN, INT_MAX})
        QVERIFY2(iconFromPe(pe, index).isEmpty(), qPrintable(QString::number(index)));
}

void TestPeIconReader::rebuildsIco()
{
    const QList<TestGroup> groups = orderedGroups();
    const QByteArray pe = makePe(false, groups);
    const QByteArray dib = groups[1].images[0];
    const QByteArray png = groups[1].images[1];
    // The entry naming the missing RT_ICON 99 is dropped; offsets run on from the 2-entry directory.
    QByteArray expected = u16(0) + u16(1) + u16(2) + icoEntry(16, 32, quint32(dib.size()), 38) +
                          icoEntry(32, 32, quint32(png.size()), quint32(38 + dib.size())) + dib + png;
    QCOMPARE(iconFromPe(pe, 1), expected);

    // A group declaring more bytes than the resource holds keeps the resource's size.
    const QByteArray small = groups[3].images[0];
    QCOMPARE(iconFromPe(pe, -7), u16(0) + u16(1) + u16(1) + icoEntry(16, 8, quint32(small.size()), 22) + small);

    // A group declaring fewer bytes cuts the image to that many.
    TestGroup shortGroup{QString(), 2, {dib}, -8};
    QCOMPARE(iconFromPe(makePe(true, {shortGroup}), -2),
             u16(0) + u16(1) + u16(1) + icoEntry(16, 32, quint32(dib.size() - 8), 22) + dib.left(dib.size() - 8));
}

void TestPeIconReader::decodesImages_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QImage>("expected");

    const auto indexed = [](int x, int y, int colours) {
        return QRgb((x + 3 * y) % colours);
    };
    const auto maskedCorner = [](int x, int y) {
        return x == 15 && y == 0;
    };
    for (int bits : {1, 4, 8}) {
        const QList<QRgb> palette = kPalette.mid(0, std::min(qsizetype(1) << bits, kPalette.size()));
        QImage expected(16, 16, QImage::Format_ARGB32);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x)
                expected.setPixel(x, y, maskedCorner(x, y) ? 0 : palette[indexed(x, y, int(palette.size()))]);
        }
        QTest::addRow("%d bits", bits) << makeDib(
                                              bits, 16, palette,
                                              [&](int x, int y) { return indexed(x, y, int(palette.size())); },
                                              maskedCorner)
                                       << expected;
    }

    QImage opaque(16, 16, QImage::Format_ARGB32);
    QImage translucent(16, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QRgb c = patternColour(x, y);
            opaque.setPixel(x, y, maskedCorner(x, y) ? 0 : c);
            translucent.setPixel(x, y, qRgba(qRed(c), qGreen(c), qBlue(c), 255 - x * 8 - y));
        }
    }
    QTest::newRow("24 bits") << makeDib(24, 16, {}, patternColour, maskedCorner) << opaque;
    // Alpha bytes all zero: the AND mask decides.
    QTest::newRow("32 bits, mask") << makeDib(
                                          32, 16, {}, [](int x, int y) { return patternColour(x, y) & 0xFFFFFF; },
                                          maskedCorner)
                                   << opaque;
    // With alpha present the mask is ignored: the masked corner keeps its alpha.
    QTest::newRow("32 bits, alpha") << makeDib(
                                           32, 16, {}, [&](int x, int y) { return translucent.pixel(x, y); },
                                           maskedCorner)
                                    << translucent;
    QTest::newRow("png") << makePng(translucent) << translucent;
}

void TestPeIconReader::decodesImages()
{
    QFETCH(QByteArray, image);
    QFETCH(QImage, expected);
    const QImage decoded = imageFromIcon(makeIco({image}), 16);
    QCOMPARE(decoded.size(), QSize(16, 16));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x)
            QCOMPARE(decoded.pixel(x, y), expected.pixel(x, y));
    }
}

void TestPeIconReader::choosesBestSize_data()
{
    QTest::addColumn<QByteArray>("ico");
    QTest::addColumn<int>("size");
    QTest::addColumn<QRgb>("colour");

    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255), grey = qRgb(90, 90, 90);
    const QByteArray ico =
        makeIco({solidDib(8, 16, red), solidDib(32, 16, green), solidDib(32, 32, blue), solidDib(4, 48, grey)});
    QTest::newRow("16: more colours win") << ico << 16 << green;
    QTest::newRow("32 exact") << ico << 32 << blue;
    QTest::newRow("48 exact") << ico << 48 << grey;
    QTest::newRow("24: tie goes to the larger") << ico << 24 << blue;
    QTest::newRow("20: closest, scaled up") << ico << 20 << green;
    QTest::newRow("256: largest, scaled up") << ico << 256 << grey;

    QByteArray brokenBest = ico;
    putU32(brokenBest, 6 + 16 + 12, 0x7FFFFFF0); // the 32-bit 16x16 entry points past the end
    QTest::newRow("16: broken best falls back") << brokenBest << 16 << red;
}

void TestPeIconReader::choosesBestSize()
{
    QFETCH(QByteArray, ico);
    QFETCH(int, size);
    QFETCH(QRgb, colour);
    const QImage image = imageFromIcon(ico, size);
    QCOMPARE(image.size(), QSize(size, size));
    QCOMPARE(centre(image), colour);
}

void TestPeIconReader::readsFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray pe = makePe(true, orderedGroups());
    const QByteArray ico = makeIco({solidDib(32, 16, qRgb(1, 1, 1))});
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write(u"app.exe"_s, pe);
    write(u"app.ico"_s, ico);
    write(u"text.ico"_s, "not an icon");

    QCOMPARE(iconFromFile(dir.filePath(u"app.exe"_s), -5), iconFromPe(pe, -5));
    QVERIFY(!iconFromFile(dir.filePath(u"app.exe"_s), 0).isEmpty());
    QCOMPARE(iconFromFile(dir.filePath(u"app.ico"_s), 0), ico);
    QVERIFY(iconFromFile(dir.filePath(u"app.ico"_s), 1).isEmpty());
    QVERIFY(iconFromFile(dir.filePath(u"app.ico"_s), -1).isEmpty());
    QVERIFY(iconFromFile(dir.filePath(u"text.ico"_s), 0).isEmpty());
    QVERIFY(iconFromFile(dir.filePath(u"missing.exe"_s), 0).isEmpty());
    QVERIFY(iconFromFile(dir.path(), 0).isEmpty());
}

void TestPeIconReader::listsIconsOncePerFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile pe(dir.filePath(u"app.exe"_s));
    QVERIFY(pe.open(QIODevice::WriteOnly));
    pe.write(makePe(
        false, {TestGroup{QString(), 1, {solidDib(32, 16, qRgb(200, 10, 10)), solidDib(32, 32, qRgb(10, 200, 10))}}}));
    pe.close();
    QFile plain(dir.filePath(u"tool.exe"_s));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(QFile::link(dir.filePath(u"app.exe"_s), dir.filePath(u"link.exe"_s)));

    SystemIconList list;
    const int warning = list.addImages(QImage(16, 16, QImage::Format_ARGB32), QImage(32, 32, QImage::Format_ARGB32));
    const int app = list.indexOfFile(dir.filePath(u"app.exe"_s));
    QVERIFY(app > warning);
    QCOMPARE(list.indexOfFile(dir.filePath(u"link.exe"_s)), app); // one file, one index
    QCOMPARE(list.indexOfFile(dir.filePath(u"app.exe"_s)), app);
    QCOMPARE(list.indexOfFile(dir.path()), -1);
    QCOMPARE(list.indexOfFile(dir.filePath(u"missing.exe"_s)), -1);
    // Each size comes from the file's own image of that size.
    QCOMPARE(list.smallImage(app).pixel(8, 8), qRgb(200, 10, 10));
    QCOMPARE(list.largeImage(app).pixel(16, 16), qRgb(10, 200, 10));
    // A file without icons shows a generic picture of its kind.
    const int tool = list.indexOfFile(dir.filePath(u"tool.exe"_s));
    QVERIFY(tool >= 0 && tool != app);
    QCOMPARE(list.smallImage(tool).size(), QSize(16, 16));
    QVERIFY(list.smallImage(tool) != list.smallImage(warning));
    // A file made after another was deleted may get its inode; it is still another file.
    QVERIFY(QFile::remove(dir.filePath(u"tool.exe"_s)));
    QFile later(dir.filePath(u"later.txt"_s));
    QVERIFY(later.open(QIODevice::WriteOnly));
    later.close();
    const int laterIndex = list.indexOfFile(later.fileName());
    QVERIFY(laterIndex >= 0 && laterIndex != tool);
}

void TestPeIconReader::rejectsBrokenPe_data()
{
    QTest::addColumn<QByteArray>("pe");

    QHash<QString, qsizetype> at;
    const QByteArray good = makePe(false, {{u"APP"_s, 0, {solidDib(32, 16, qRgb(1, 2, 3))}}}, &at);
    QVERIFY(!iconFromPe(good, 0).isEmpty()); // the base is sound; each row adds one defect

    const auto cut = [&](const char* row, qsizetype length) {
        QTest::newRow(row) << good.left(length);
    };
    const auto patch = [&](const char* row, const QString& part, qsizetype offset, quint32 value, int width = 4) {
        QByteArray pe = good;
        width == 2 ? putU16(pe, at.value(part) + offset, quint16(value)) : putU32(pe, at.value(part) + offset, value);
        QTest::newRow(row) << pe;
    };

    QTest::newRow("empty") << QByteArray();
    cut("truncated DOS header", 0x3C);
    cut("truncated PE header", 0x50);
    cut("truncated optional header", 0x58 + 100);
    cut("truncated section table", at.value(u"section"_s) + 20);
    cut("truncated root directory", at.value(u"root"_s) + 8);
    cut("truncated group directory", at.value(u"groupDir"_s) + 20);
    cut("truncated icon image", at.value(u"iconData"_s) + 10);
    cut("truncated group data", at.value(u"groupData"_s) + 10);
    patch("PE offset past end", QString(), 0x3C, 0x7FFFFFF0);
    patch("PE offset wraps", QString(), 0x3C, 0xFFFFFFFF);
    patch("bad PE signature", QString(), 0x40, 0x00004550 + 1);
    patch("unknown optional magic", u"optional"_s, 0, 0x107, 2);
    patch("no resource directory entry", u"directories"_s, -4, 2);
    patch("resource RVA outside sections", u"directories"_s, 16, 0x9000);
    patch("section data past end", u"section"_s, 20, 0x7FFFFFF0);
    patch("no sections", QString(), 0x46, 0, 2);
    patch("huge section count", QString(), 0x46, 0xFFFF, 2);
    patch("huge root counts", u"root"_s, 12, 0xFFFFFFFF);
    patch("empty group directory", u"groupDir"_s, 12, 0);
    patch("self-referencing directory", u"root"_s, 16 + 8 + 4, 0x80000000u);
    patch("language loop", u"groupLangDir"_s, 20, 0x80000000u | quint32(at.value(u"groupLangDir"_s) - 0x200));
    patch("name offset past end", u"groupDir"_s, 16, 0xFFFFFFF0);
    patch("name length past end", u"name"_s, 0, 0xFFFF, 2);
    patch("group data RVA past end", u"groupLeaf"_s, 0, 0x7FFFFF00);
    patch("group data size huge", u"groupLeaf"_s, 4, 0xFFFFFFFF);
    patch("group data RVA wraps", u"groupLeaf"_s, 0, 0xFFFFFFF0);
    patch("group count zero", u"groupData"_s, 4, 0, 2);
    patch("group count huge", u"groupData"_s, 4, 0xFFFF, 2);
    patch("group of cursors", u"groupData"_s, 2, 2, 2);
    patch("missing RT_ICON", u"groupData"_s, 6 + 12, 99, 2);
    patch("icon data RVA past end", u"iconLeaf"_s, 0, 0x7FFFFF00);
    patch("icon data size huge", u"iconLeaf"_s, 4, 0x7FFFFFFF);
}

void TestPeIconReader::rejectsBrokenPe()
{
    QFETCH(QByteArray, pe);
    for (int index = -20; index <= 3; ++index)
        QVERIFY2(iconFromPe(pe, index).isEmpty(), qPrintable(QString::number(index)));
    QVERIFY(imageFromIcon(iconFromPe(pe, 0), 16).isNull());
}

void TestPeIconReader::rejectsBrokenIco_data()
{
    QTest::addColumn<QByteArray>("ico");

    const QByteArray good = makeIco({solidDib(32, 16, qRgb(1, 2, 3))});
    const QByteArray goodPalette = makeIco({solidDib(4, 16, qRgb(1, 2, 3))});
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    const QByteArray goodPng = makeIco({makePng(picture)});
    for (const QByteArray& ico : {good, goodPalette, goodPng})
        QVERIFY(!imageFromIcon(ico, 16).isNull()); // the bases are sound; each row adds one defect

    const auto patch = [](const char* row, QByteArray ico, qsizetype offset, quint32 value, int width = 4) {
        width == 2 ? putU16(ico, offset, quint16(value)) : putU32(ico, offset, value);
        QTest::newRow(row) << ico;
    };
    constexpr qsizetype entry = 6;
    constexpr qsizetype image = 22;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("header only") << good.left(6);
    QTest::newRow("image truncated") << good.left(good.size() - 1);
    QTest::newRow("PNG truncated") << makeIco({makePng(picture).chopped(20)});
    patch("count zero", good, 4, 0, 2);
    patch("count huge", good, 4, 0xFFFF, 2);
    patch("cursor type", good, 2, 2, 2);
    patch("offset past end", good, entry + 12, 0x7FFFFFF0);
    patch("size past end", good, entry + 8, 0x7FFFFFF0);
    patch("offset plus size wraps", good, entry + 12, 0xFFFFFFF0);
    patch("DIB header too small", good, image, 12);
    patch("DIB header too large", good, image, 0xFFFFFFFF);
    patch("DIB width zero", good, image + 4, 0);
    patch("DIB width negative", good, image + 4, quint32(-16));
    patch("DIB width huge", good, image + 4, 100000);
    patch("DIB height top-down", good, image + 8, quint32(-32));
    patch("DIB height below two", good, image + 8, 1);
    patch("DIB height huge", good, image + 8, 0x7FFFFFFF);
    patch("DIB 16 bits", good, image + 14, 16, 2);
    patch("DIB 7 bits", good, image + 14, 7, 2);
    patch("DIB compressed", good, image + 16, 1);
    patch("DIB palette too long", goodPalette, image + 32, 17);
    patch("DIB palette past end", goodPalette, image + 32, 0xFFFFFFFF);
    patch("PNG huge", goodPng, image + 16, qToBigEndian<quint32>(100000));
    QByteArray garbage = goodPng;
    garbage.replace(image + 33, 20, QByteArray(20, 'X'));
    QTest::newRow("PNG garbage") << garbage;
}

void TestPeIconReader::rejectsBrokenIco()
{
    QFETCH(QByteArray, ico);
    for (int size : {16, 32, 48})
        QVERIFY(imageFromIcon(ico, size).isNull());
}

void TestPeIconReader::readsWineFiles()
{
    const QString dir = u"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/"_s;
    const QString notepad = dir + u"notepad.exe"_s;
    const QString shell32 = dir + u"shell32.dll"_s;
    if (!QFile::exists(notepad) || !QFile::exists(shell32))
        QSKIP("Wine's own PE files are not installed");

    QFile notepadFile(notepad);
    QVERIFY(notepadFile.open(QIODevice::ReadOnly));
    const QList<IconGroup> notepadGroups = iconGroups(notepadFile.readAll());
    QCOMPARE(notepadGroups.size(), 1);
    const QByteArray ico = iconFromFile(notepad, 0);
    QCOMPARE(qFromLittleEndian<quint16>(ico.constData() + 4), quint16(10));
    QCOMPARE(ico.at(6), '\0'); // 0 = 256 wide
    const quint32 firstOffset = qFromLittleEndian<quint32>(ico.constData() + 6 + 12);
    QVERIFY(ico.mid(firstOffset).startsWith("\x89PNG"));
    QCOMPARE(iconFromFile(notepad, -int(notepadGroups[0].id)), ico);
    for (int size : {16, 32, 48, 256}) {
        const QImage image = imageFromIcon(ico, size);
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(qAlpha(centre(image)) > 0);
    }

    QFile shellFile(shell32);
    QVERIFY(shellFile.open(QIODevice::ReadOnly));
    const QList<IconGroup> shellGroups = iconGroups(shellFile.readAll());
    QVERIFY(shellGroups.size() > 3);
    QCOMPARE(shellGroups[0].name, u"IDI_SHELL_OPTIONS"_s);
    QCOMPARE(shellGroups[1].name, u"IDI_SHELL_RENAME_FOLDER"_s);
    QCOMPARE(shellGroups[2], (IconGroup{QString(), 1}));
    const QByteArray options = iconFromFile(shell32, 0);
    QVERIFY(!options.isEmpty());
    QVERIFY(options != iconFromFile(shell32, -1));
    QVERIFY(!imageFromIcon(iconFromFile(shell32, -1), 32).isNull());
    qInfo("notepad.exe: group %u, %u images; shell32.dll: %lld groups", notepadGroups[0].id,
          qFromLittleEndian<quint16>(ico.constData() + 4), qint64(shellGroups.size()));
}

QTEST_GUILESS_MAIN(TestPeIconReader)
#include "tst_peiconreader.moc"
