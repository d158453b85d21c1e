#pragma once

#include <QString>

// The uninstall log, "ULog.txt": a text file in the locale's 8-bit encoding with CR LF line ends
// that only ever grows by whole records. The file is opened and closed for every record.
class UninstallLog
{
public:
    // The log in `folder`: folder + "/ULog.txt".
    explicit UninstallLog(const QString& folder);

    const QString& LogPath() const { return m_path; }

    // Appends text exactly (no line end added), creating the file when it is missing.
    // Throws KestrinError with the input/output error the user reads when that fails.
    void AppendToLog(const QString& text) const;

    // Creates the file with the header record when it does not exist; an existing log is left
    // untouched. Throws like AppendToLog.
    void prepare() const;

    // The header record: the header text and two line ends.
    static QString headerRecord();

    // The time-stamp record: CR LF, date, a blank, time, CR LF.
    static QString timeStampRecord();

    // Local date "d/m/yyyy" and time "h:m:s" from the clock, without leading zeros.
    static void GetDateAndTime(QString& date, QString& time);

private:
    QString m_path;
};
