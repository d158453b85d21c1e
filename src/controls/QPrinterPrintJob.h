#pragma once

#include "desktop/PrintJob.h"

#include <QFont>
#include <QPainter>

#include <functional>
#include <memory>

class QPrinter;
class QWidget;

// A print job on a QPrinter (a printer chosen in Qt's print dialog, or a PDF file).
class QPrinterPrintJob : public PrintJob
{
public:
    explicit QPrinterPrintJob(std::unique_ptr<QPrinter> printer);
    ~QPrinterPrintJob() override;

    void setFont(const QFont& font) override;
    void begin() override;
    int textHeight(const QString& line) override;
    int pageHeight() override;
    void textOut(int x, int y, const QString& line) override;
    void newPage() override;
    void end() override;

    // Shows the print dialog; the job for the chosen printer, or nullptr when the user cancels.
    // Tests replace the dialog with setChoiceForTests() (nullptr restores it).
    static std::unique_ptr<PrintJob> choose(QWidget* parent);
    static void setChoiceForTests(std::function<std::unique_ptr<PrintJob>()> choice);

    // A job on the system's default printer, without a dialog. Throws KestrinError when there is no
    // default printer. Tests replace the printer with setDefaultForTests(); a replacement that
    // returns nullptr stands for a system without a default printer.
    static std::unique_ptr<PrintJob> defaultPrinter();
    static void setDefaultForTests(std::function<std::unique_ptr<PrintJob>()> printer);
    static QString noDefaultPrinterText();

private:
    std::unique_ptr<QPrinter> m_printer;
    QPainter m_painter;
    QFont m_font;
};
