#pragma once

#include "inventory/InstalledProgram.h"
#include "prefix/WinePrefix.h"

#include <QList>
#include <QLocale>
#include <QString>

// The rows of an entry's details page, read once from its key: a caption, the value's text and what
// a click on the text does. Blank lines show only as a larger step in `top`.
struct DetailRow
{
    enum class Click
    {
        None,
        Open, // handed to the shell
        Run,  // started as a command line
    };
    QString caption;
    QString text;
    Click click = Click::None;
    int top = 0; // pixels from the top of the page

    friend bool operator==(const DetailRow&, const DetailRow&) = default;
};

struct DetailPage
{
    QList<DetailRow> rows;
    QString error; // why building stopped early (the rows before it stay), or empty
};

// Builds the page of `program`'s own key in its own hive. A key that cannot be opened gives no rows;
// a failed read ends the page there and names the failure in `error`. The usage rows appear only for
// the NT family.
DetailPage buildDetailPage(const WinePrefix& prefix, const InstalledProgram& program, bool ntFamily,
                           const QLocale& locale = QLocale::system());

// An install date stored as yyyymmdd, shown as month, day and year in the locale's date order and
// separator; the stored text when it is not such a date under that locale.
QString installDateText(const QString& stored, const QLocale& locale);
