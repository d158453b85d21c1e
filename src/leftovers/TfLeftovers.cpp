#include "leftovers/TfLeftovers.h"

#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/PicturePanel.h"
#include "controls/Pictures.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "leftovers/LeftoverRemoval.h"
#include "prefix/WinePrefix.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

namespace {

constexpr int ClientWidth = 860;
constexpr int ClientHeight = 420;
constexpr int ListTop = 84;
constexpr int ButtonTop = 372;

QString kindText(Leftover::Kind kind)
{
    switch (kind) {
    case Leftover::Kind::Folder:
        return QStringLiteral("Folder");
    case Leftover::Kind::File:
        return QStringLiteral("File");
    case Leftover::Kind::Key:
        return QStringLiteral("Registry key");
    case Leftover::Kind::MenuEntry:
        return QStringLiteral("Menu entry");
    }
    return QString();
}

} // namespace

TfLeftovers::TfLeftovers(ProgramListHost& host, const LeftoverFinder& finder, const QList<Leftover>& leftovers)
    : QDialog(host.hostWindow()), m_host(host), m_finder(finder), m_leftovers(leftovers)
{
    setObjectName(QStringLiteral("fLeftovers"));
    setWindowTitle(QStringLiteral("Leftovers of ") + finder.traces().name);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    const PicturePanel picture = PicturePanel::create(this, "imgLeftovers");
    paPicture = picture.panel;
    imgLeftovers = picture.image;

    QFont headerFont(QStringLiteral("MS Sans Serif"));
    headerFont.setPixelSize(13);
    lLeftoversHeader = new QLabel(this);
    lLeftoversHeader->setObjectName(QStringLiteral("lLeftoversHeader"));
    lLeftoversHeader->setGeometry(84, 16, ClientWidth - 100, 60);
    lLeftoversHeader->setWordWrap(true);
    lLeftoversHeader->setTextFormat(Qt::PlainText); // the name comes from the registry
    lLeftoversHeader->setFont(headerFont);

    lvLeftovers = new QTreeWidget(this);
    lvLeftovers->setObjectName(QStringLiteral("lvLeftovers"));
    lvLeftovers->setGeometry(16, ListTop, ClientWidth - 32, ButtonTop - ListTop - 16);
    lvLeftovers->setHeaderLabels(
        {QStringLiteral("Leftover"), QStringLiteral("Why it was found"), QStringLiteral("How sure")});
    lvLeftovers->header()->setSectionsMovable(false);
    lvLeftovers->setColumnWidth(0, 330);
    lvLeftovers->setColumnWidth(1, 400);
    lvLeftovers->setRootIsDecorated(false);
    lvLeftovers->setUniformRowHeights(true);
    lvLeftovers->setTextElideMode(Qt::ElideMiddle);
    lvLeftovers->setFont(headerFont);

    const QString arial = QStringLiteral("Arial");
    buRemove = TuduButton::create(this, "buRemove", QStringLiteral("REMOVE"),
                                  QRect((ClientWidth - 113) / 2, ButtonTop, 113, 32), 16, arial);
    buClose = TuduButton::create(this, "buClose", QStringLiteral("CLOSE"),
                                 QRect(ClientWidth - 57 - 12, ClientHeight - 24 - 12, 57, 24), 12,
                                 QStringLiteral("MS Sans Serif"));
    connect(buRemove, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buRemoveClick(); }); });
    connect(buClose, &TuduButton::clicked, this, &TfLeftovers::buCloseClick);

    FormCreate();
}

void TfLeftovers::FormCreate()
{
    imgLeftovers->setPixmap(Pictures::picture(Pictures::RemoveEntryWindow));
    lLeftoversHeader->setText(
        QStringLiteral("%1 left these behind in the prefix. REMOVE moves the checked ones into the entry trash, "
                       "from where Restore Deleted Entries brings them back. Only what is the program's beyond "
                       "doubt is checked.")
            .arg(m_finder.traces().name));
    for (const Leftover& leftover : m_leftovers) {
        auto* item = new QTreeWidgetItem(lvLeftovers, {leftover.shown, leftover.reason, leftover.certaintyText()});
        item->setCheckState(0, leftover.certain ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(0, kindText(leftover.kind) + QStringLiteral(": ") + leftover.shown);
        item->setToolTip(1, leftover.reason);
    }
    lvLeftovers->setFocus();
}

QList<int> TfLeftovers::checkedLeftovers() const
{
    QList<int> checked;
    for (int row = 0; row < lvLeftovers->topLevelItemCount(); ++row) {
        if (lvLeftovers->topLevelItem(row)->checkState(0) == Qt::Checked)
            checked << row;
    }
    return checked;
}

void TfLeftovers::buRemoveClick()
{
    const QList<int> chosen = checkedLeftovers();
    if (chosen.isEmpty()) {
        MessageBox::message(this, QStringLiteral("Check the leftovers you wish to remove."));
        return;
    }
    const LeftoverRemoval::Removed removed = LeftoverRemoval::remove(m_host.prefix(), m_finder, m_leftovers, chosen);
    if (!removed.menuError.isEmpty()) {
        MessageBox::showError(this, QStringLiteral("The files and keys are in the entry trash, but the menu entries "
                                                   "stayed: ") +
                                        removed.menuError);
    }
    accept();
}

void TfLeftovers::buCloseClick()
{
    reject();
}
