#include "TestPrefix.h"

#include "controls/MessageBox.h"
#include "controls/QPrinterPrintJob.h"
#include "controls/TuduButton.h"
#include "desktop/ShellOpen.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/TfKestrin.h"
#include "uninstall/TfLog.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QByteArray header = "Kestrin Uninstall Log \r\nContains information about programs you have uninstalled "
                          "from your computer\r\n\r\n";

class SwitchableShell : public ShellOpen
{
public:
    QStringList opened;
    bool answer = true;
    bool open(const QString& target) override
    {
        opened << target;
        return answer;
    }
};

// Records every call, with fixed text and page heights.
class RecordingJob : public PrintJob
{
public:
    RecordingJob(QStringList& calls, int lineHeight, int page) : m_calls(calls), m_height(lineHeight), m_page(page) {}
    void setFont(const QFont& font) override { m_calls << u"font "_s + font.family(); }
    void begin() override { m_calls << u"begin"_s; }
    int textHeight(const QString&) override { return m_height; }
    int pageHeight() override { return m_page; }
    void textOut(int x, int y, const QString& line) override { m_calls << u"%1,%2 %3"_s.arg(x).arg(y).arg(line); }
    void newPage() override { m_calls << u"page"_s; }
    void end() override { m_calls << u"end"_s; }

private:
    QStringList& m_calls;
    int m_height;
    int m_page;
};

} // namespace

class TestLogWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void showsTheFileFromTheTop();
    void missingFileShowsTheErrorAndAnEmptyView();
    void clearLogWritesTheHeaderRecord();
    void clearLogThatCannotWriteShowsTheError();
    void editLog_data();
    void editLog();
    void cancelAndEscapeChangeNothing();
    void placesLinesOnPages_data();
    void placesLinesOnPages();
    void printsTheMemoLinesAsWrapped();
    void cancelledPrintDialogPrintsNothing();
    void printsToPdf();
    void menuCommandOpensTheWindow();

private:
    QByteArray logBytes() const;
    void writeLog(const QByteArray& bytes) const;
    std::unique_ptr<TfLog> makeWindow() const;

    std::unique_ptr<QTemporaryDir> m_work;
    SwitchableShell m_shell;
};

void TestLogWindow::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    MessageBox::setTestMode(true);
    m_shell.opened.clear();
    m_shell.answer = true;
    ShellOpen::setInstance(&m_shell);
}

void TestLogWindow::cleanup()
{
    ShellOpen::setInstance(nullptr);
    QPrinterPrintJob::setChoiceForTests(nullptr);
    MessageBox::setTestMode(false);
}

QByteArray TestLogWindow::logBytes() const
{
    QFile file(m_work->filePath(u"ULog.txt"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestLogWindow::writeLog(const QByteArray& bytes) const
{
    QFile file(m_work->filePath(u"ULog.txt"_s));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

std::unique_ptr<TfLog> TestLogWindow::makeWindow() const
{
    auto window = std::make_unique<TfLog>(UninstallLog(m_work->path()));
    window->show();
    return window;
}

void TestLogWindow::showsTheFileFromTheTop()
{
    QByteArray text = header;
    for (int i = 0; i < 40; ++i)
        text += "\r\n1/2/2003 9:7:3\r\nUninstalling B\xc3\xa4r " + QByteArray::number(i) + "\r\nDeleted OK.\r\n";
    writeLog(text);
    auto window = makeWindow();
    QCOMPARE(window->mLog->toPlainText(), QString::fromUtf8(text).replace(u"\r\n"_s, u"\n"_s));
    QCOMPARE(window->mLog->textCursor().position(), 0);
    QCOMPARE(window->mLog->verticalScrollBar()->value(), 0);
    QVERIFY(window->mLog->isReadOnly());
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestLogWindow::missingFileShowsTheErrorAndAnEmptyView()
{
    auto window = makeWindow();
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QVERIFY(MessageBox::recorded().first().text.contains(m_work->filePath(u"ULog.txt"_s)));
    QVERIFY(window->mLog->toPlainText().isEmpty());
    // Clearing still works and makes the file.
    QTest::mouseClick(window->buClear, Qt::LeftButton);
    QCOMPARE(logBytes(), header);
}

void TestLogWindow::clearLogWritesTheHeaderRecord()
{
    QByteArray text = header;
    for (int i = 0; i < 500; ++i)
        text += "\r\n1/2/2003 12:1:13\r\nDeleting entry Twin App\r\nFailed to delete entry.\r\n";
    writeLog(text);
    auto window = makeWindow();
    QTest::mouseClick(window->buClear, Qt::LeftButton);
    QCOMPARE(logBytes(), header);
    QCOMPARE(window->visualLines(),
             (QStringList{u"Kestrin Uninstall Log "_s,
                          u"Contains information about programs you have uninstalled from your computer"_s}));
    QVERIFY(window->isVisible());
}

void TestLogWindow::clearLogThatCannotWriteShowsTheError()
{
    // A folder in the log's place can be neither deleted as a file nor appended to, whoever we are.
    QVERIFY(QDir(m_work->path()).mkdir(u"ULog.txt"_s));
    auto window = makeWindow();
    MessageBox::clearRecorded();
    QTest::mouseClick(window->buClear, Qt::LeftButton);
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QVERIFY2(MessageBox::recorded().first().text.startsWith(u"Could not open the uninstall log"_s),
             qPrintable(MessageBox::recorded().first().text));
    QVERIFY(window->isVisible());
}

void TestLogWindow::editLog_data()
{
    QTest::addColumn<bool>("shellAnswer");
    QTest::addColumn<bool>("staysOpen");
    QTest::newRow("editor started") << true << false;
    QTest::newRow("no editor") << false << true;
}

void TestLogWindow::editLog()
{
    QFETCH(bool, shellAnswer);
    QFETCH(bool, staysOpen);
    writeLog(header);
    m_shell.answer = shellAnswer;
    auto window = makeWindow();
    QTest::mouseClick(window->buEdit, Qt::LeftButton);
    QCOMPARE(m_shell.opened, QStringList{m_work->filePath(u"ULog.txt"_s)});
    QCOMPARE(window->isVisible(), staysOpen);
    QVERIFY(MessageBox::recorded().isEmpty());
    QCOMPARE(logBytes(), header);
}

void TestLogWindow::cancelAndEscapeChangeNothing()
{
    writeLog(header);
    for (const bool escape : {false, true}) {
        auto window = makeWindow();
        if (escape)
            QTest::keyClick(window.get(), Qt::Key_Escape);
        else
            QTest::mouseClick(window->buCancel, Qt::LeftButton);
        QVERIFY(!window->isVisible());
        QCOMPARE(window->result(), int(QDialog::Rejected));
    }
    QCOMPARE(logBytes(), header);
    QVERIFY(m_shell.opened.isEmpty());
}

void TestLogWindow::placesLinesOnPages_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("lineHeight");
    QTest::addColumn<int>("pageHeight");
    QTest::addColumn<QStringList>("calls");
    // With a page of 1000 and lines of 100, lines start at 200 to 800: seven to a page.
    QTest::newRow("one line") << 1 << 100 << 1000 << QStringList{u"100,200 L0"_s};
    QTest::newRow("fills exactly one page")
        << 7 << 100 << 1000 << QStringList{u"100,200 L0"_s, u"100,300 L1"_s, u"100,400 L2"_s, u"100,500 L3"_s,
                                           u"100,600 L4"_s, u"100,700 L5"_s, u"100,800 L6"_s};
    QTest::newRow("one line more") << 8 << 100 << 1000
                                   << QStringList{u"100,200 L0"_s, u"100,300 L1"_s, u"100,400 L2"_s,
                                                  u"100,500 L3"_s, u"100,600 L4"_s, u"100,700 L5"_s,
                                                  u"100,800 L6"_s, u"page"_s,       u"100,200 L7"_s};
    QTest::newRow("a page too short for two lines")
        << 3 << 100 << 450 << QStringList{u"100,200 L0"_s, u"page"_s, u"100,200 L1"_s, u"page"_s, u"100,200 L2"_s};
    QTest::newRow("nothing") << 0 << 100 << 1000 << QStringList{};
}

void TestLogWindow::placesLinesOnPages()
{
    QFETCH(int, lineCount);
    QFETCH(int, lineHeight);
    QFETCH(int, pageHeight);
    QFETCH(QStringList, calls);
    QStringList lines;
    for (int i = 0; i < lineCount; ++i)
        lines << u"L%1"_s.arg(i);
    QStringList recorded;
    RecordingJob job(recorded, lineHeight, pageHeight);
    PrintJob::printLines(job, lines);
    QCOMPARE(recorded, calls);
}

void TestLogWindow::printsTheMemoLinesAsWrapped()
{
    const QByteArray longLine = "Uninstalling " + QByteArray("word ").repeated(60).trimmed();
    writeLog(header + "\r\n5/3/2003 9:7:3\r\n" + longLine + "\r\n");
    auto window = makeWindow();
    const QStringList lines = window->visualLines();
    QVERIFY2(lines.size() > 7, "the long line is wrapped by the memo");
    QCOMPARE(lines.mid(5).join(QString()), QString::fromLatin1(longLine));

    QStringList calls;
    QPrinterPrintJob::setChoiceForTests([&] { return std::make_unique<RecordingJob>(calls, 50, 100000); });
    QTest::mouseClick(window->buPrint, Qt::LeftButton);
    QCOMPARE(calls.size(), lines.size() + 3);
    QCOMPARE(calls.first(), u"font "_s + window->mLog->font().family());
    QCOMPARE(calls.at(1), u"begin"_s);
    QCOMPARE(calls.last(), u"end"_s);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(calls.at(i + 2), u"100,%1 %2"_s.arg(200 + 50 * i).arg(lines.at(i)));
}

void TestLogWindow::cancelledPrintDialogPrintsNothing()
{
    writeLog(header);
    auto window = makeWindow();
    bool asked = false;
    QPrinterPrintJob::setChoiceForTests([&] {
        asked = true;
        return std::unique_ptr<PrintJob>();
    });
    QTest::mouseClick(window->buPrint, Qt::LeftButton);
    QVERIFY(asked);
    QVERIFY(MessageBox::recorded().isEmpty());
    QVERIFY(window->isVisible());
}

void TestLogWindow::printsToPdf()
{
    const QString pdftotext = QStandardPaths::findExecutable(u"pdftotext"_s);
    if (pdftotext.isEmpty())
        QSKIP("pdftotext is not installed");
    QByteArray text = header;
    for (int i = 0; i < 30; ++i)
        text += "\r\n1/2/2003 9:7:" + QByteArray::number(i) + "\r\nUninstalling Program " + QByteArray::number(i) +
                "\r\nUninstall OK. Uninstaller removed program from list.\r\n";
    writeLog(text);
    auto window = makeWindow();
    const QString pdf = m_work->filePath(u"log.pdf"_s);
    QPrinterPrintJob::setChoiceForTests([&] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return std::make_unique<QPrinterPrintJob>(std::move(printer));
    });
    QTest::mouseClick(window->buPrint, Qt::LeftButton);
    QVERIFY2(MessageBox::recorded().isEmpty(), qPrintable(MessageBox::recorded().value(0).text));

    QProcess convert;
    convert.start(pdftotext, {u"-layout"_s, pdf, u"-"_s});
    QVERIFY(convert.waitForFinished(30000));
    const QString printed = QString::fromUtf8(convert.readAllStandardOutput());
    // Pages are separated by form feeds; lines keep their order, blank lines aside.
    const QStringList pages = printed.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    QVERIFY2(pages.size() >= 2, qPrintable(printed));
    QStringList printedLines;
    for (const QString& line : printed.split(QRegularExpression(u"[\n\f]"_s)))
        if (!line.trimmed().isEmpty())
            printedLines << line.trimmed();
    QStringList expected;
    for (const QString& line : window->visualLines())
        if (!line.trimmed().isEmpty())
            expected << line.trimmed();
    QCOMPARE(printedLines, expected);
    QVERIFY(!pages.last().trimmed().isEmpty()); // no blank page at the end
}

void TestLogWindow::menuCommandOpensTheWindow()
{
    TestPrefix prefix;
    QVERIFY(prefix.copyFixtureHives());
    writeLog(header + "\r\n1/2/2003 9:7:3\r\nUninstalling X\r\nDeleted OK.\r\n");
    TfKestrin main(WinePrefix(prefix.path()), m_work->path());
    QString shownText;
    QString caption;
    QTimer::singleShot(0, this, [&] {
        auto* log = qobject_cast<TfLog*>(QApplication::activeModalWidget());
        QVERIFY(log);
        caption = log->windowTitle();
        shownText = log->mLog->toPlainText();
        QTest::mouseClick(log->buCancel, Qt::LeftButton);
    });
    main.actions().UninstallLog1->trigger();
    QCOMPARE(caption, u"Uninstall Log"_s);
    QCOMPARE(shownText, QString::fromLatin1(header + "\r\n1/2/2003 9:7:3\r\nUninstalling X\r\nDeleted OK.\r\n")
                            .replace(u"\r\n"_s, u"\n"_s));
}

QTEST_MAIN(TestLogWindow)
#include "tst_logwindow.moc"
