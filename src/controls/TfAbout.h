#pragma once

#include <QDialog>

class QLabel;
class TuduButton;

// The About window: product name, the Windows versions served, the version from "version.id" in the
// current directory, the copyright and a link to the maker's web site. OK and Escape close it.
class TfAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfAbout(QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void lAddressClick();
    void buOKClick();
    // First line of "version.id" in the current directory; empty when there is none.
    static QString readVersionText();

    QLabel* lPrgName;
    QLabel* lUse;
    QLabel* lVersion;
    QLabel* Label2;
    QLabel* Label4;
    QLabel* lAddress;
    TuduButton* buOK;
    bool m_addressPressed = false;
};
