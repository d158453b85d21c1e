#pragma once

#include "desktop/PrintJob.h"

#include <QFont>
#include <QStringList>

// Records every call of a print job, with fixed line and page heights.
class RecordingJob : public PrintJob
{
public:
    RecordingJob(QStringList& calls, int lineHeight, int page) : m_calls(calls), m_height(lineHeight), m_page(page) {}
    void setFont(const QFont& font) override { m_calls << QStringLiteral("font ") + font.family(); }
    void begin() override { m_calls << QStringLiteral("begin"); }
    int textHeight(const QString&) override { return m_height; }
    int pageHeight() override { return m_page; }
    void textOut(int x, int y, const QString& line) override
    {
        m_calls << QStringLiteral("%1,%2 %3").arg(x).arg(y).arg(line);
    }
    void newPage() override { m_calls << QStringLiteral("page"); }
    void end() override { m_calls << QStringLiteral("end"); }

private:
    QStringList& m_calls;
    int m_height;
    int m_page;
};
