#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class ProgramListModel;

// The lines of the software audit report and its file. A line is one entry of a QStringList without
// its line end; the separator line is a single carriage return, so a saved report reads CR CR LF
// there, which readers of older reports rely on.
namespace AuditReport {

inline const QString Separator = QStringLiteral("\r");

enum class Format
{
    Short, // display names only
    Long,  // name, uninstall command, missing-uninstaller note, separator
};

// The header built when the report window opens; `date` and `time` as the log writes them.
QStringList headerLines(const QString& computerName, const QString& userName, const QString& date, const QString& time);

// A separator, then the entries of `list` in its order.
QStringList programLines(const ProgramListModel& list, Format format);

// The name a save goes to: "Report.txt" for an empty name; ".txt" appended unless the name ends in
// exactly ".txt" (so "a.TXT" becomes "a.TXT.txt").
QString reportFileName(const QString& chosen);

// Every line in the locale's 8-bit encoding followed by CR LF.
QByteArray fileBytes(const QStringList& lines);

// Creates or truncates `path` and writes the report. Throws KestrinError with the file layer's
// text: "File access denied", "Invalid filename", "Disk full" or "I/O error <errno>".
void writeFile(const QString& path, const QStringList& lines);

// The file layer's text for an errno value.
QString fileErrorText(int error);

} // namespace AuditReport
