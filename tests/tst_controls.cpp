#include "controls/MessageBox.h"
#include "controls/TFramePanel.h"
#include "controls/TfAbout.h"
#include "controls/TuduButton.h"
#include "desktop/ShellOpen.h"

#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cstdlib>
#include <memory>

namespace {

const QRgb Untouched = qRgb(255, 0, 0); // pixels a widget leaves unpainted
const QRgb Black = qRgb(0, 0, 0), White = qRgb(255, 255, 255);

QImage renderOf(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(Untouched);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Columns holding any shade of caption ink, inside the outline and clear of the corner arcs.
std::pair<int, int> inkColumns(const QImage& image)
{
    int first = image.width(), last = -1;
    for (int y = 6; y < image.height() - 6; ++y)
        for (int x = 2; x < image.width() - 2; ++x)
            if (image.pixel(x, y) != White && image.pixel(x, y) != Untouched) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    return {first, last};
}

// Tells a real double-click from two single clicks.
class ProbeButton : public TuduButton
{
public:
    using TuduButton::TuduButton;
    int doubleClicks = 0;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        ++doubleClicks;
        TuduButton::mouseDoubleClickEvent(event);
    }
};

// Applies the real routing rules but records what would reach the desktop.
class RecordingShell : public ShellOpen
{
public:
    QStringList opened;
    QList<QUrl> urls;
    bool open(const QString& target) override
    {
        opened.append(target);
        return ShellOpen::open(target);
    }

protected:
    bool openUrl(const QUrl& url) override
    {
        urls.append(url);
        return true;
    }
};

} // namespace

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MessageBox::setTestMode(true); }
    void init();
    void cleanup();
    void buttonOutline_data();
    void buttonOutline();
    void buttonCaption_data();
    void buttonCaption();
    void buttonClicks_data();
    void buttonClicks();
    void framePanel();
    void aboutVersion_data();
    void aboutVersion();
    void aboutLinkAndClose();
    void shellOpenRoutes_data();
    void shellOpenRoutes();
    void messageBoxAnswers();

private:
    QString m_oldCurrent;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestControls::init()
{
    m_oldCurrent = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid() && QDir::setCurrent(m_dir->path()));
}

void TestControls::cleanup()
{
    QDir::setCurrent(m_oldCurrent);
    m_dir.reset();
    ShellOpen::setInstance(nullptr);
}

void TestControls::buttonOutline_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("default") << QSize(); // 130 x 40
    QTest::newRow("dialog OK") << QSize(129, 32);
    QTest::newRow("small") << QSize(25, 17);
}

void TestControls::buttonOutline()
{
    QFETCH(QSize, size);
    TuduButton button;
    QCOMPARE(button.focusPolicy(), Qt::NoFocus);
    if (size.isValid())
        button.resize(size);
    QCOMPARE(button.size(), size.isValid() ? size : QSize(130, 40));
    const QImage image = renderOf(button);
    const int w = button.width(), h = button.height();
    // The whole outline is visible, straight edges on the outer rows and columns, white inside.
    for (const QPoint& edge :
         {QPoint(w / 2, 0), QPoint(w / 2, h - 1), QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(6, 0), QPoint(0, 6)})
        QCOMPARE(image.pixel(edge), Black);
    for (const QPoint& inside : {QPoint(w / 2, 1), QPoint(w / 2, h - 2), QPoint(1, h / 2), QPoint(w - 2, h / 2)})
        QCOMPARE(image.pixel(inside), White);
    // Rounded corners leave the parent's background showing.
    for (const QPoint& corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
        QCOMPARE(image.pixel(corner), Untouched);
}

void TestControls::buttonCaption_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("width");
    QTest::newRow("OK") << QStringLiteral("OK") << 130;
    QTest::newRow("odd width") << QStringLiteral("HOOH") << 131;
    QTest::newRow("wider than the button") << QStringLiteral("UNINSTALL THE PROGRAM") << 60;
}

void TestControls::buttonCaption()
{
    QFETCH(QString, caption);
    QFETCH(int, width);
    // A wide button shows the whole caption; it must sit in the middle.
    TuduButton wide, button;
    wide.resize(600, 40);
    wide.setCaption(caption);
    const QImage reference = renderOf(wide);
    const auto [first, last] = inkColumns(reference);
    QVERIFY2(first < last && std::abs(first - (599 - last)) <= 1,
             qPrintable(QStringLiteral("%1..%2").arg(first).arg(last)));

    // A narrower one shows the middle of the same caption, clipped evenly when it does not fit, and looks
    // the same when disabled.
    button.resize(width, 40);
    button.setCaption(caption);
    button.setEnabled(false);
    const QImage image = renderOf(button);
    const int offset = (600 - width) / 2;
    bool matched = false;
    for (int shift = -1; shift <= 1 && !matched; ++shift) {
        matched = true;
        for (int y = 6; y < 34 && matched; ++y)
            for (int x = 2; x < width - 2 && matched; ++x)
                matched = image.pixel(x, y) == reference.pixel(x + offset + shift, y);
    }
    QVERIFY(matched);
}

void TestControls::buttonClicks_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<Qt::MouseButton>("mouseButton");
    QTest::addColumn<QPoint>("release"); // null: double-click
    QTest::addColumn<int>("clicks");
    const QPoint inside(100, 60), outside(250, 20);
    QTest::newRow("click") << true << Qt::LeftButton << inside << 1;
    QTest::newRow("released outside") << true << Qt::LeftButton << outside << 0;
    QTest::newRow("right button") << true << Qt::RightButton << inside << 0;
    QTest::newRow("disabled") << false << Qt::LeftButton << inside << 0;
    QTest::newRow("double click") << true << Qt::LeftButton << QPoint() << 2;
    QTest::newRow("disabled double click") << false << Qt::LeftButton << QPoint() << 0;
}

void TestControls::buttonClicks()
{
    QFETCH(bool, enabled);
    QFETCH(Qt::MouseButton, mouseButton);
    QFETCH(QPoint, release);
    QFETCH(int, clicks);
    // Through the window system, so that Qt's mouse grab and double-click detection take part. Qt delivers a
    // double-click as press, release, double-click, release.
    QWidget host;
    host.resize(300, 200);
    auto* button = new ProbeButton(&host);
    button->move(50, 50);
    button->setEnabled(enabled);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy spy(button, &TuduButton::clicked);
    const QPoint inside(100, 60);
    if (release.isNull()) {
        QTest::mouseDClick(host.windowHandle(), mouseButton, {}, inside);
    } else {
        QTest::mousePress(host.windowHandle(), mouseButton, {}, inside);
        QTest::mouseRelease(host.windowHandle(), mouseButton, {}, release);
    }
    QCOMPARE(spy.count(), clicks);
    QCOMPARE(button->doubleClicks, release.isNull() && enabled ? 1 : 0);
}

void TestControls::framePanel()
{
    TFramePanel panel;
    QCOMPARE(panel.size(), QSize(100, 50));
    panel.resize(181, 41);
    panel.setColor(QColor(213, 227, 253));
    const QImage image = renderOf(panel);
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 181; ++x) {
            const bool edge = x == 0 || y == 0 || x == 180 || y == 40;
            QCOMPARE(image.pixel(x, y), edge ? White : qRgb(213, 227, 253));
        }
}

void TestControls::aboutVersion_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file; "/": a folder of that name
    QTest::addColumn<QString>("caption");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("Version ");
    QTest::newRow("folder") << QByteArray("/") << QStringLiteral("Version ");
    QTest::newRow("empty first line") << QByteArray("\n2.1\n") << QStringLiteral("Version ");
    QTest::newRow("several lines") << QByteArray("2.1.0\n2.0.9\n") << QStringLiteral("Version 2.1.0");
    QTest::newRow("CR LF") << QByteArray("3.0 beta\r\nnotes\r\n") << QStringLiteral("Version 3.0 beta");
    QTest::newRow("no line end") << QByteArray("4.2") << QStringLiteral("Version 4.2");
    QTest::newRow("UTF-8") << QByteArray("5.0 \xc3\xa9t\xc3\xa9\n") << QStringLiteral("Version 5.0 été");
}

void TestControls::aboutVersion()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, caption);
    QFile file(QStringLiteral("version.id"));
    if (content == "/")
        QVERIFY(QDir().mkdir(file.fileName()));
    else if (!content.isNull())
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    TfAbout about;
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lVersion"))->text(), caption);
    QCOMPARE(about.size(), QSize(425, 333));
}

void TestControls::aboutLinkAndClose()
{
    RecordingShell shell;
    ShellOpen::setInstance(&shell);
    TfAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    auto* address = about.findChild<QLabel*>(QStringLiteral("lAddress"));
    QTest::mousePress(address, Qt::LeftButton);
    QTest::mouseRelease(address, Qt::LeftButton, {}, QPoint(-5, -5));
    QVERIFY(shell.opened.isEmpty()); // released elsewhere: no click
    QTest::mouseClick(address, Qt::LeftButton);
    QCOMPARE(shell.opened, QStringList{address->text()});
    QCOMPARE(shell.urls.size(), 1); // the caption is a web address the shell accepts

    QTest::keyClick(&about, Qt::Key_Escape);
    QVERIFY(!about.isVisible());
    QCOMPARE(about.result(), int(QDialog::Rejected));
    about.show();
    QTest::mouseClick(about.findChild<TuduButton*>(QStringLiteral("buOK")), Qt::LeftButton);
    QVERIFY(!about.isVisible());
    QCOMPARE(about.result(), int(QDialog::Accepted));
}

void TestControls::shellOpenRoutes_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("url"); // empty: refused
    QTest::newRow("https") << QStringLiteral("https://kestrin.example.org/a?b=1")
                           << QStringLiteral("https://kestrin.example.org/a?b=1");
    QTest::newRow("www") << QStringLiteral(" www.example.org ") << QStringLiteral("http://www.example.org");
    QTest::newRow("scheme case") << QStringLiteral("HTTP://Example.ORG") << QStringLiteral("http://example.org");
    QTest::newRow("mailto") << QStringLiteral("mailto:help@example.org") << QStringLiteral("mailto:help@example.org");
    QTest::newRow("no host") << QStringLiteral("http://") << QString();
    QTest::newRow("other scheme") << QStringLiteral("javascript:alert(1)") << QString();
    QTest::newRow("windows path") << QStringLiteral("C:\\Program Files\\App\\readme.txt") << QString();
    QTest::newRow("missing file") << QStringLiteral("no such file.txt") << QString();
    QTest::newRow("existing file") << QStringLiteral("kestrin.chm") << QStringLiteral("file:kestrin.chm");
}

void TestControls::shellOpenRoutes()
{
    QFETCH(QString, target);
    QFETCH(QString, url);
    QFile document(QStringLiteral("kestrin.chm"));
    QVERIFY(document.open(QIODevice::WriteOnly));
    document.close();
    if (url.startsWith(QLatin1String("file:")))
        url = QUrl::fromLocalFile(QDir::current().absoluteFilePath(target)).toString();
    RecordingShell shell;
    QCOMPARE(shell.open(target), !url.isEmpty());
    QCOMPARE(shell.urls.isEmpty() ? QString() : shell.urls.constFirst().toString(), url);
}

void TestControls::messageBoxAnswers()
{
    MessageBox::setNextAnswer(QMessageBox::No);
    QCOMPARE(MessageBox::question(nullptr, QStringLiteral("Delete"), QStringLiteral("Sure?")), QMessageBox::No);
    QCOMPARE(MessageBox::question(nullptr, QStringLiteral("Delete"), QStringLiteral("Again?")),
             QMessageBox::Yes); // the default
    MessageBox::showError(nullptr, QStringLiteral("Cannot write the file"));
    MessageBox::message(nullptr, QStringLiteral("Please fill in all fields !"));
    const QList<MessageBox::Shown> shown = MessageBox::recorded();
    QCOMPARE(shown.size(), 4);
    QCOMPARE(shown.at(1).text, QStringLiteral("Again?"));
    QCOMPARE(shown.at(2).kind, MessageBox::Kind::Critical);
    QCOMPARE(shown.at(2).title, QStringLiteral("Kestrin"));
    QCOMPARE(shown.at(2).text, QStringLiteral("Cannot write the file"));
    QCOMPARE(shown.at(3).kind, MessageBox::Kind::Plain);
    QCOMPARE(shown.at(3).title, QStringLiteral("Kestrin"));
    MessageBox::setTestMode(true);
    QVERIFY(MessageBox::recorded().isEmpty());
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
