#include "controls/Pictures.h"

#include <QTest>

using namespace Pictures;

// The pictures are compiled into a static library; these checks catch a picture left out of the
// resources, a resource dropped by the linker, or a drawing rendered at the wrong size.
class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void interfacePictures_data();
    void interfacePictures();
    void windowPictures_data();
    void windowPictures();
    void applicationIconSizes();
};

void TestPictures::interfacePictures_data()
{
    QTest::addColumn<int>("index");
    for (int i = ToolbarUninstall; i <= ToolbarUpdates; ++i)
        QTest::addRow("%d", i) << i;
}

void TestPictures::interfacePictures()
{
    QFETCH(int, index);
    const QPixmap pixmap = interfacePicture(static_cast<Interface>(index));
    QCOMPARE(pixmap.size(), QSize(32, 32));
    QVERIFY(pixmap.hasAlphaChannel());
}

void TestPictures::windowPictures_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("uninstall window") << int(UninstallWindow);
    QTest::newRow("remove-entry window") << int(RemoveEntryWindow);
}

void TestPictures::windowPictures()
{
    QFETCH(int, index);
    QCOMPARE(picture(static_cast<Picture>(index)).size(), QSize(48, 48));
}

void TestPictures::applicationIconSizes()
{
    const QIcon icon = applicationIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (int side : {16, 32, 48, 256}) {
        QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
        QCOMPARE(icon.pixmap(QSize(side, side)).size(), QSize(side, side));
    }
}

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
