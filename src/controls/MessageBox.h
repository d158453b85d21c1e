#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// Every message box of the program goes through here, so that tests can answer boxes in advance and read
// what would have been shown, without a modal loop.
class MessageBox
{
public:
    using Button = QMessageBox::StandardButton;

    enum class Kind
    {
        Plain,
        Information,
        Warning,
        Critical,
        Question,
    };

    // One box as it was asked for, with the answer it got.
    struct Shown
    {
        Kind kind;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        Button answer;
    };

    // The title of the plain and the error boxes: the application's title.
    static QString applicationTitle();

    static Button information(QWidget* parent, const QString& title, const QString& text);
    static Button warning(QWidget* parent, const QString& title, const QString& text);
    static Button critical(QWidget* parent, const QString& title, const QString& text);
    // Yes and No buttons; Escape answers No.
    static Button question(QWidget* parent, const QString& title, const QString& text,
                           Button defaultButton = QMessageBox::Yes);
    // No icon, an OK button, titled with the application's title.
    static Button message(QWidget* parent, const QString& text);
    // The standard error box for a layer's failure: a critical box titled with the application's title.
    static void showError(QWidget* parent, const QString& text);

    // Test hook. In test mode no box is shown: each is recorded and answered by the next queued answer,
    // else by its default button. setNextAnswer() switches test mode on; setTestMode(false) clears the
    // queue and the record.
    static void setTestMode(bool on);
    static void setNextAnswer(Button answer);
    static const QList<Shown>& recorded();
    static void clearRecorded();

    // For runs without a display: every box is written to standard error and answered by its default
    // button, as nobody could see or answer it.
    static void setConsoleMode(bool on);

private:
    static Button show(QWidget* parent, Kind kind, const QString& title, const QString& text,
                       QMessageBox::StandardButtons buttons, Button defaultButton);
};
