#include "desktop/PrintJob.h"

PrintJob::~PrintJob() = default;

void PrintJob::printLines(PrintJob& job, const QStringList& lines)
{
    int onPage = 0;
    for (const QString& line : lines) {
        const int height = job.textHeight(line);
        int y = TopMargin + onPage * height;
        if (y > job.pageHeight() - BottomMargin && onPage > 0) {
            job.newPage();
            onPage = 0;
            y = TopMargin;
        }
        job.textOut(LeftMargin, y, line);
        ++onPage;
    }
}
