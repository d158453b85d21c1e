#pragma once

#include <QString>
#include <QStringList>

class QFont;

// One printed document, in the printer's device units. The real job draws on a printer; tests
// record the calls. Every call may throw KestrinError with the text the user reads.
class PrintJob
{
public:
    PrintJob() = default;
    virtual ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Set before begin(): the face, style and point size of the text.
    virtual void setFont(const QFont& font) = 0;
    virtual void begin() = 0;
    virtual int textHeight(const QString& line) = 0;
    virtual int pageHeight() = 0;
    // Draws `line` with its top left corner at (x, y).
    virtual void textOut(int x, int y, const QString& line) = 0;
    virtual void newPage() = 0;
    virtual void end() = 0;

    // Places lines one under the other from 100 units left and 200 units down, starting a page
    // when a line would begin lower than 200 units above the page's end. A page that would stay
    // empty is never started, so a text that fills its last page exactly ends there.
    static void printLines(PrintJob& job, const QStringList& lines);

    static constexpr int LeftMargin = 100;
    static constexpr int TopMargin = 200;
    static constexpr int BottomMargin = 200;
};
