#include "menus/TfCleanMenus.h"

#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/PicturePanel.h"
#include "controls/Pictures.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "menus/MenuCleanup.h"
#include "prefix/WinePrefix.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

namespace {

constexpr int ClientWidth = 600;
constexpr int ClientHeight = 400;
constexpr int ListTop = 84;
constexpr int ButtonTop = 352;

} // namespace

bool TfCleanMenus::offerAfterUninstall(QWidget* parent, const WinePrefix& prefix, const WineMenuFolders& folders)
{
    StaleMenuEntries stale(prefix, folders);
    stale.scan();
    if (stale.entries().isEmpty())
        return false;
    const qsizetype count = stale.entries().size();
    const QString text =
        QStringLiteral("The menus still hold %1 that Wine made for programs that have gone. Clean them up now?")
            .arg(count == 1 ? QStringLiteral("an entry") : QStringLiteral("%1 entries").arg(count));
    return MessageBox::question(parent, MessageBox::applicationTitle(), text) == QMessageBox::Yes;
}

TfCleanMenus::TfCleanMenus(ProgramListHost& host, const WineMenuFolders& folders)
    : QDialog(host.hostWindow()), m_host(host), m_stale(host.prefix(), folders)
{
    setObjectName(QStringLiteral("fCleanMenus"));
    setWindowTitle(QStringLiteral("Clean Up Menu Entries"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    const PicturePanel picture = PicturePanel::create(this, "imgClean");
    paPicture = picture.panel;
    imgClean = picture.image;

    lCleanHeader = new QLabel(this);
    lCleanHeader->setObjectName(QStringLiteral("lCleanHeader"));
    lCleanHeader->setGeometry(84, 16, ClientWidth - 100, 60);
    lCleanHeader->setWordWrap(true);
    QFont headerFont(QStringLiteral("MS Sans Serif"));
    headerFont.setPixelSize(13);
    lCleanHeader->setFont(headerFont);
    lCleanHeader->setText(QStringLiteral(
        "Wine left these menu entries and desktop icons behind for programs that have gone. REMOVE moves the "
        "checked ones into the entry trash, from where Restore Deleted Entries brings them back."));

    lvEntries = new QTreeWidget(this);
    lvEntries->setObjectName(QStringLiteral("lvEntries"));
    lvEntries->setGeometry(16, ListTop, ClientWidth - 32, ButtonTop - ListTop - 16);
    lvEntries->setHeaderLabels({QStringLiteral("Menu entry"), QStringLiteral("Why it is stale")});
    lvEntries->header()->setSectionsMovable(false);
    lvEntries->setColumnWidth(0, 200);
    lvEntries->setUniformRowHeights(true);
    // The end of a path names the file; its beginning is the same home folder on every line.
    lvEntries->setTextElideMode(Qt::ElideMiddle);
    lvEntries->setFont(headerFont);

    const QString arial = QStringLiteral("Arial");
    buRemove = TuduButton::create(this, "buRemove", QStringLiteral("REMOVE"),
                                  QRect((ClientWidth - 113) / 2, ButtonTop, 113, 32), 16, arial);
    buCancel = TuduButton::create(this, "buCancel", QStringLiteral("CANCEL"),
                                  QRect(ClientWidth - 57 - 12, ClientHeight - 24 - 12, 57, 24), 12,
                                  QStringLiteral("MS Sans Serif"));
    connect(buRemove, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buRemoveClick(); }); });
    connect(buCancel, &TuduButton::clicked, this, &TfCleanMenus::buCancelClick);

    FormCreate();
}

void TfCleanMenus::FormCreate()
{
    imgClean->setPixmap(Pictures::picture(Pictures::RemoveEntryWindow));
    m_stale.scan();
    for (int index = 0; index < m_stale.entries().size(); ++index) {
        const StaleMenuEntry& entry = m_stale.entries().at(index);
        auto* item = new QTreeWidgetItem(lvEntries, {entry.name, entry.reason});
        item->setCheckState(0, Qt::Checked);
        item->setToolTip(1, entry.reason);
        for (const QString& file : m_stale.filesOf(index)) {
            auto* child = new QTreeWidgetItem(item, {file});
            child->setFirstColumnSpanned(true);
            child->setToolTip(0, file);
        }
        item->setExpanded(true);
    }
    lvEntries->setFocus();
}

QList<int> TfCleanMenus::checkedEntries() const
{
    QList<int> checked;
    for (int row = 0; row < lvEntries->topLevelItemCount(); ++row) {
        if (lvEntries->topLevelItem(row)->checkState(0) == Qt::Checked)
            checked << row;
    }
    return checked;
}

void TfCleanMenus::buRemoveClick()
{
    const QList<int> chosen = checkedEntries();
    if (chosen.isEmpty()) {
        MessageBox::message(this, QStringLiteral("Check the menu entries you wish to remove."));
        return;
    }
    MenuCleanup::remove(m_host.prefix(), m_stale, chosen);
    // A desktop that cannot be told keeps its old menu until it looks again: no reason to fail.
    MenuCleanup::refreshDesktopMenus(m_stale.folders());
    accept();
}

void TfCleanMenus::buCancelClick()
{
    reject();
}
