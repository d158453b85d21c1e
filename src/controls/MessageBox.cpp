#include "controls/MessageBox.h"

#include <QQueue>

#include <cstdio>

namespace {

struct TestState
{
    bool active = false;
    QQueue<MessageBox::Button> answers;
    QList<MessageBox::Shown> shown;
};

bool s_console = false;

TestState& testState()
{
    static TestState state;
    return state;
}

QMessageBox::Icon iconOf(MessageBox::Kind kind)
{
    switch (kind) {
    case MessageBox::Kind::Information:
        return QMessageBox::Information;
    case MessageBox::Kind::Warning:
        return QMessageBox::Warning;
    case MessageBox::Kind::Critical:
        return QMessageBox::Critical;
    case MessageBox::Kind::Question:
        return QMessageBox::Question;
    case MessageBox::Kind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString MessageBox::applicationTitle()
{
    return QStringLiteral("Kestrin");
}

MessageBox::Button MessageBox::information(QWidget* parent, const QString& title, const QString& text)
{
    return show(parent, Kind::Information, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

MessageBox::Button MessageBox::warning(QWidget* parent, const QString& title, const QString& text)
{
    return show(parent, Kind::Warning, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

MessageBox::Button MessageBox::critical(QWidget* parent, const QString& title, const QString& text)
{
    return show(parent, Kind::Critical, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

MessageBox::Button MessageBox::question(QWidget* parent, const QString& title, const QString& text,
                                        Button defaultButton)
{
    return show(parent, Kind::Question, title, text, QMessageBox::Yes | QMessageBox::No, defaultButton);
}

MessageBox::Button MessageBox::message(QWidget* parent, const QString& text)
{
    return show(parent, Kind::Plain, applicationTitle(), text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::showError(QWidget* parent, const QString& text)
{
    critical(parent, applicationTitle(), text);
}

void MessageBox::setTestMode(bool on)
{
    TestState& state = testState();
    state.active = on;
    state.answers.clear();
    state.shown.clear();
}

void MessageBox::setConsoleMode(bool on)
{
    s_console = on;
}

void MessageBox::setNextAnswer(Button answer)
{
    TestState& state = testState();
    state.active = true;
    state.answers.enqueue(answer);
}

const QList<MessageBox::Shown>& MessageBox::recorded()
{
    return testState().shown;
}

void MessageBox::clearRecorded()
{
    testState().shown.clear();
}

MessageBox::Button MessageBox::show(QWidget* parent, Kind kind, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons, Button defaultButton)
{
    if (TestState& state = testState(); state.active) {
        const Button answer = state.answers.isEmpty() ? defaultButton : state.answers.dequeue();
        state.shown.append({kind, title, text, buttons, answer});
        return answer;
    }

    if (s_console) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
        return defaultButton;
    }

    QMessageBox box(iconOf(kind), title, text, buttons, parent);
    // Texts may come from the registry or a file: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    const int result = box.exec();
    // Closing without a button (only possible where an escape button exists) counts as that button.
    if (!buttons.testFlag(static_cast<Button>(result)) && box.escapeButton())
        return box.standardButton(box.escapeButton());
    return static_cast<Button>(result);
}
