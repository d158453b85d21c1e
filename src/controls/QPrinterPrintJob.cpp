#include "controls/QPrinterPrintJob.h"

#include "base/KestrinError.h"

#include <QFontMetrics>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

namespace {

std::function<std::unique_ptr<PrintJob>()> s_testChoice;
std::function<std::unique_ptr<PrintJob>()> s_testDefault;

} // namespace

QPrinterPrintJob::QPrinterPrintJob(std::unique_ptr<QPrinter> printer) : m_printer(std::move(printer)) {}

QPrinterPrintJob::~QPrinterPrintJob()
{
    if (m_painter.isActive())
        m_painter.end();
}

void QPrinterPrintJob::setFont(const QFont& font)
{
    m_font = font;
    // A pixel size means screen pixels; the printer needs the same point size at its own resolution.
    if (m_font.pixelSize() > 0)
        m_font.setPointSizeF(m_font.pixelSize() * 72.0 / 96.0);
}

void QPrinterPrintJob::begin()
{
    if (!m_printer->isValid())
        throw KestrinError(QStringLiteral("There is no printer to print on. Choose a printer or print to a file."));
    if (!m_painter.begin(m_printer.get()))
        throw KestrinError(
            QStringLiteral("The printer \"%1\" could not start printing.")
                .arg(m_printer->outputFileName().isEmpty() ? m_printer->printerName() : m_printer->outputFileName()));
    m_painter.setFont(m_font);
}

int QPrinterPrintJob::textHeight(const QString& /*line*/)
{
    return QFontMetrics(m_font, m_printer.get()).height();
}

int QPrinterPrintJob::pageHeight()
{
    return m_printer->height();
}

void QPrinterPrintJob::textOut(int x, int y, const QString& line)
{
    // The caller gives the top of the line; QPainter writes on the baseline.
    m_painter.drawText(x, y + QFontMetrics(m_font, m_printer.get()).ascent(), line);
}

void QPrinterPrintJob::newPage()
{
    if (!m_printer->newPage())
        throw KestrinError(QStringLiteral("The printer could not start a new page."));
}

void QPrinterPrintJob::end()
{
    if (!m_painter.end())
        throw KestrinError(QStringLiteral("The printer could not finish the document."));
}

std::unique_ptr<PrintJob> QPrinterPrintJob::choose(QWidget* parent)
{
    if (s_testChoice)
        return s_testChoice();
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), parent);
    if (dialog.exec() != QDialog::Accepted)
        return nullptr;
    return std::make_unique<QPrinterPrintJob>(std::move(printer));
}

void QPrinterPrintJob::setChoiceForTests(std::function<std::unique_ptr<PrintJob>()> choice)
{
    s_testChoice = std::move(choice);
}

QString QPrinterPrintJob::noDefaultPrinterText()
{
    return QStringLiteral("There is no default printer to print on. Set up a printer (for example with the "
                          "desktop's printer settings or CUPS), or save the report as a file instead.");
}

std::unique_ptr<PrintJob> QPrinterPrintJob::defaultPrinter()
{
    std::unique_ptr<PrintJob> job;
    if (s_testDefault) {
        job = s_testDefault();
    } else if (const QPrinterInfo info = QPrinterInfo::defaultPrinter(); !info.isNull()) {
        job = std::make_unique<QPrinterPrintJob>(std::make_unique<QPrinter>(info, QPrinter::HighResolution));
    }
    if (!job)
        throw KestrinError(noDefaultPrinterText());
    return job;
}

void QPrinterPrintJob::setDefaultForTests(std::function<std::unique_ptr<PrintJob>()> printer)
{
    s_testDefault = std::move(printer);
}
