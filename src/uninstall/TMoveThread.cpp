#include "uninstall/TMoveThread.h"

#include "uninstall/TfUninstall.h"

void TMoveThread::run()
{
    for (;;) {
        emit step();
        QThread::msleep(20);
        // The flag is the only datum shared with the window: atomic, no lock.
        if (!fUninstall || fUninstall->UninstallDone.load())
            return;
    }
}
