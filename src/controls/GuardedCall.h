#pragma once

#include "base/KestrinError.h"
#include "controls/MessageBox.h"

#include <exception>

class QWidget;

// Runs one entry point of the user interface (a command, the start-up, the end). A failure of a layer
// ends it there and shows the standard error box; no exception leaves an event handler.
// True when the action ran to its end.
template <class Action> bool runGuarded(QWidget* parent, Action&& action)
{
    try {
        action();
        return true;
    } catch (const KestrinError& error) {
        MessageBox::showError(parent, error.message());
    } catch (const std::exception& error) {
        MessageBox::showError(parent, QString::fromLocal8Bit(error.what()));
    }
    return false;
}
