#include "AuditPrefix.h"
#include "RecordingPrintJob.h"

#include "audit/TfAudit.h"
#include "base/Clock.h"
#include "base/HostNames.h"
#include "base/KestrinError.h"
#include "controls/MessageBox.h"
#include "controls/QPrinterPrintJob.h"
#include "controls/TuduButton.h"
#include "inventory/AuditReport.h"
#include "mainwindow/TfKestrin.h"

#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray headerBytes = " Software Audit Report for: kestrin-host-01\r\n"
                               " Generated on  7/12/2026 9:5:3\r\n"
                               "\r\r\n"
                               " By Kestrin\r\n"
                               " Copyright (C) 2026 Varnholt Software - https://kestrin.example.org\r\n"
                               "\r\r\n"
                               " Computer Name: kestrin-host-01\r\n"
                               " User Name: ann\r\n"
                               "\r\r\n"
                               " INSTALLED PROGRAMS:\r\n"
                               "\r\r\n";

} // namespace

class TestAudit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void savedReport_data();
    void savedReport();
    void reportFileName_data();
    void reportFileName();
    void editedHeaderIsSavedAndPrinted();
    void failedWrite_data();
    void failedWrite();
    void closingWithoutReport_data();
    void closingWithoutReport();
    void printedPdfMatchesTheSavedReport();

private:
    std::unique_ptr<TfKestrin> makeMain(bool entries = true);
    QByteArray fileBytes(const QString& name) const;

    std::unique_ptr<TestPrefix> m_prefix;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestAudit::init()
{
    m_prefix = std::make_unique<TestPrefix>();
    m_work = std::make_unique<QTemporaryDir>();
    MessageBox::setTestMode(true);
    Clock::setSource([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)); });
    // A computer name is cut to 15 characters.
    HostNames::setForTests(u"kestrin-host-0123456789"_s, u"ann"_s);
}

void TestAudit::cleanup()
{
    TfAudit::setSaveChoiceForTests(nullptr);
    QPrinterPrintJob::setChoiceForTests(nullptr);
    HostNames::setForTests({}, {});
    Clock::setSource({});
    MessageBox::setTestMode(false);
}

std::unique_ptr<TfKestrin> TestAudit::makeMain(bool entries)
{
    makeAuditPrefix(*m_prefix, entries);
    return std::make_unique<TfKestrin>(WinePrefix(m_prefix->path()), m_work->path());
}

QByteArray TestAudit::fileBytes(const QString& name) const
{
    QFile file(m_work->filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestAudit::savedReport_data()
{
    QTest::addColumn<bool>("entries");
    QTest::addColumn<bool>("longFormat");
    QTest::addColumn<QByteArray>("programs");
    QTest::newRow("short") << true << false << QByteArray("\r\r\nAlpha\r\nBeta\r\n");
    QTest::newRow("long, missing uninstaller noted") << true << true
                                                     << QByteArray("\r\r\nAlpha\r\n"
                                                                   "Uninstall Command: \"C:\\alpha\\unins.exe\" /S\r\n"
                                                                   "\r\r\n"
                                                                   "Beta\r\n"
                                                                   "Uninstall Command: C:\\beta\\gone.exe\r\n"
                                                                   "It seems that the uninstall program for this "
                                                                   "product (or one of its components) is missing. It "
                                                                   "is possible that you have already removed this "
                                                                   "program from your computer.\r\n"
                                                                   "\r\r\n");
    QTest::newRow("empty list: one separator") << false << true << QByteArray("\r\r\n");
}

void TestAudit::savedReport()
{
    QFETCH(bool, entries);
    QFETCH(bool, longFormat);
    QFETCH(QByteArray, programs);
    auto main = makeMain(entries);
    TfAudit audit(*main);
    audit.show();
    if (longFormat)
        QTest::mouseClick(audit.rbLong, Qt::LeftButton);
    // A file already there is truncated, not appended to.
    QFile old(m_work->filePath(u"report.txt"_s));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(4000, 'x')) == 4000);
    old.close();
    TfAudit::setSaveChoiceForTests([this] { return m_work->filePath(u"report"_s); });
    QTest::mouseClick(audit.buSaveFile, Qt::LeftButton);
    QCOMPARE(fileBytes(u"report.txt"_s), headerBytes + programs);
    QCOMPARE(audit.targetFileName(), m_work->filePath(u"report.txt"_s));
    QVERIFY(!audit.isVisible());
    QCOMPARE(audit.result(), int(QDialog::Accepted));
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestAudit::reportFileName_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("saved");
    QTest::newRow("empty") << QString() << u"Report.txt"_s;
    QTest::newRow("no extension") << u"/r/out"_s << u"/r/out.txt"_s;
    QTest::newRow(".txt kept") << u"/r/out.txt"_s << u"/r/out.txt"_s;
    QTest::newRow(".TXT gets a second one") << u"/r/out.TXT"_s << u"/r/out.TXT.txt"_s;
    QTest::newRow("other extension") << u"/r/out.log"_s << u"/r/out.log.txt"_s;
    QTest::newRow("trailing dot") << u"out."_s << u"out..txt"_s;
    QTest::newRow("dot in the folder only") << u"/r/a.txt/out"_s << u"/r/a.txt/out.txt"_s;
}

void TestAudit::reportFileName()
{
    QFETCH(QString, chosen);
    QFETCH(QString, saved);
    QCOMPARE(AuditReport::reportFileName(chosen), saved);
}

void TestAudit::editedHeaderIsSavedAndPrinted()
{
    auto main = makeMain();
    TfAudit audit(*main);
    audit.show();
    audit.mAudit->setFocus();
    audit.mAudit->moveCursor(QTextCursor::Start);
    QTest::keyClicks(audit.mAudit, u"Dept. 7"_s);
    QTest::keyClick(audit.mAudit, Qt::Key_Return);
    TfAudit::setSaveChoiceForTests([this] { return m_work->filePath(u"edited.txt"_s); });
    QTest::mouseClick(audit.buSaveFile, Qt::LeftButton);
    QCOMPARE(fileBytes(u"edited.txt"_s), "Dept. 7\r\n" + headerBytes + "\r\r\nAlpha\r\nBeta\r\n");

    TfAudit printed(*main);
    printed.show();
    printed.mAudit->selectAll();
    QTest::keyClicks(printed.mAudit, u"Only this"_s);
    // The last line begins exactly 200 units above the page's end: no page is started after it.
    QStringList calls;
    QPrinterPrintJob::setChoiceForTests([&calls] { return std::make_unique<RecordingJob>(calls, 10, 230 + 200); });
    QTest::mouseClick(printed.buPrint, Qt::LeftButton);
    QCOMPARE(calls, (QStringList{u"font MS Sans Serif"_s, u"begin"_s, u"100,200 Only this"_s, u"100,210 "_s,
                                 u"100,220 Alpha"_s, u"100,230 Beta"_s, u"end"_s}));
    QVERIFY(!printed.isVisible());

    // With the page one unit shorter than the last line needs, that line goes to a page of its own.
    calls.clear();
    TfAudit longer(*main);
    longer.mAudit->setPlainText(u"a\nb\nc"_s);
    QPrinterPrintJob::setChoiceForTests([&calls] { return std::make_unique<RecordingJob>(calls, 10, 250 + 199); });
    longer.buPrintClick();
    QCOMPARE(calls.mid(2), (QStringList{u"100,200 a"_s, u"100,210 b"_s, u"100,220 c"_s, u"100,230 "_s,
                                        u"100,240 Alpha"_s, u"page"_s, u"100,200 Beta"_s, u"end"_s}));
}

void TestAudit::failedWrite_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::newRow("read-only folder") << u"locked/r"_s << u"File access denied"_s;
    QTest::newRow("missing folder") << u"nowhere/r"_s << u"Invalid filename"_s;
    QTest::newRow("a folder in the way") << u"taken"_s << u"Invalid filename"_s;
    QTest::newRow("full device") << u"/dev/full"_s << u"Disk full"_s;
    QTest::newRow("attribute without write, also for root")
        << u"/sys/kernel/uevent_seqnum"_s << u"File access denied"_s;
    QTest::newRow("file that fails its writes") << u"/proc/version"_s << u"I/O error 5"_s;
}

void TestAudit::failedWrite()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    if (target.startsWith(u"locked"_s) && geteuid() == 0)
        QSKIP("root writes into a read-only folder");
    if (target.startsWith(u"/dev/"_s) && !QFile::exists(target))
        QSKIP("the file is not there");
    auto main = makeMain();
    QVERIFY(QDir(m_work->path()).mkpath(u"locked"_s));
    QVERIFY(QFile::setPermissions(m_work->filePath(u"locked"_s), QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY(QDir(m_work->path()).mkpath(u"taken.txt"_s));
    TfAudit audit(*main);
    audit.show();
    if (target.startsWith(u'/')) {
        // A device that takes no byte: the write itself fails, after the open succeeded.
        try {
            AuditReport::writeFile(target, audit.reportLines());
            QFAIL("the write succeeded");
        } catch (const KestrinError& error) {
            QCOMPARE(error.message(), message);
        }
        return;
    }
    QVERIFY(!audit.saveToFile(m_work->filePath(target)));
    QCOMPARE(MessageBox::recorded().size(), 1);
    QCOMPARE(MessageBox::recorded().first().kind, MessageBox::Kind::Critical);
    QCOMPARE(MessageBox::recorded().first().text, message);
    // Not left hidden while modal: it closed.
    QVERIFY(!audit.isVisible());
    QCOMPARE(audit.result(), int(QDialog::Rejected));
    QFile::setPermissions(m_work->filePath(u"locked"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestAudit::closingWithoutReport_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("save dialog cancelled") << u"save"_s;
    QTest::newRow("print dialog cancelled") << u"print"_s;
    QTest::newRow("CLOSE") << u"close"_s;
    QTest::newRow("Escape in the text box") << u"escape"_s;
}

void TestAudit::closingWithoutReport()
{
    QFETCH(QString, how);
    auto main = makeMain();
    TfAudit audit(*main);
    audit.show();
    audit.mAudit->selectAll();
    QTest::keyClicks(audit.mAudit, u"edited"_s);
    TfAudit::setSaveChoiceForTests([] { return std::nullopt; });
    QPrinterPrintJob::setChoiceForTests([] { return nullptr; });
    if (how == u"save"_s)
        QTest::mouseClick(audit.buSaveFile, Qt::LeftButton);
    else if (how == u"print"_s)
        QTest::mouseClick(audit.buPrint, Qt::LeftButton);
    else if (how == u"close"_s)
        QTest::mouseClick(audit.buCancel, Qt::LeftButton);
    else
        QTest::keyClick(audit.mAudit, Qt::Key_Escape);
    QCOMPARE(audit.reportLines(), QStringList{u"edited"_s});
    const bool closes = how == u"close"_s || how == u"escape"_s;
    QCOMPARE(audit.isVisible(), !closes);
    // Only the log that the main window prepares.
    QCOMPARE(QDir(m_work->path()).entryList(QDir::Files), QStringList{u"ULog.txt"_s});
    QVERIFY(MessageBox::recorded().isEmpty());
}

void TestAudit::printedPdfMatchesTheSavedReport()
{
    const QString pdftotext = QStandardPaths::findExecutable(u"pdftotext"_s);
    if (pdftotext.isEmpty())
        QSKIP("pdftotext is not installed");
    auto main = makeMain();
    const QString pdf = m_work->filePath(u"report.pdf"_s);
    QPrinterPrintJob::setChoiceForTests([&pdf] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return std::make_unique<QPrinterPrintJob>(std::move(printer));
    });
    TfAudit printed(*main);
    printed.rbLong->setChecked(true);
    printed.buPrintClick();
    TfAudit saved(*main);
    saved.rbLong->setChecked(true);
    QVERIFY(saved.saveToFile(m_work->filePath(u"report"_s)));

    QProcess convert;
    convert.start(pdftotext, {pdf, u"-"_s});
    QVERIFY(convert.waitForFinished(30000));
    const QString text = QString::fromUtf8(convert.readAllStandardOutput());
    const QString report = QString::fromLocal8Bit(fileBytes(u"report.txt"_s));
    QCOMPARE(text.simplified().split(u' '), report.simplified().split(u' '));
}

QTEST_MAIN(TestAudit)
#include "tst_audit.moc"
