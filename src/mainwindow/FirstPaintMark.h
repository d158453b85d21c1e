#pragma once

#include <QObject>

class ProgramListView;

// For the start-up benchmark: with KESTRIN_FIRST_PAINT_MARK set in the environment, the program writes
// the line "kestrin: list painted" on standard output and ends as soon as the program list has painted
// itself holding at least one entry. Without the variable nothing is installed.
class FirstPaintMark : public QObject
{
    Q_OBJECT

public:
    static void installIfAsked(ProgramListView* list);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FirstPaintMark(ProgramListView* list);

    ProgramListView* m_list;
    bool m_marked = false;
};
