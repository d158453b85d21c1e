#pragma once

#include <QThread>

// Moves the uninstall window's progress bar while an uninstaller runs: a step every 20 ms, posted
// to the user-interface thread, until the window's done flag is set. It keeps no state of its own.
class TMoveThread : public QThread
{
    Q_OBJECT

public:
    using QThread::QThread;

signals:
    // Delivered queued to the window, which steps its bar.
    void step();

protected:
    void run() override;
};
