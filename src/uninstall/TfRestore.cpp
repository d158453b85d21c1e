#include "uninstall/TfRestore.h"

#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/ProgramListHost.h"
#include "controls/TuduButton.h"
#include "hive/HiveSyntax.h"
#include "inventory/ProgramListModel.h"
#include "prefix/WinePrefix.h"

#include <QHeaderView>
#include <QTreeWidget>

namespace {

constexpr int ClientWidth = 560;
constexpr int ClientHeight = 330;
constexpr QSize ButtonSize{160, 32};
constexpr int ButtonTop = 282;

QString actionText(const TrashRecord& record)
{
    if (!record.damage.isEmpty())
        return QStringLiteral("damaged");
    if (record.action == u"menu-removed")
        return QStringLiteral("menu entry removed");
    if (record.action == u"leftovers-removed")
        return QStringLiteral("leftovers removed");
    return record.action;
}

// What the record brings back, for the name's tool tip.
QString contentsText(const TrashRecord& record)
{
    if (record.action != u"leftovers-removed")
        return record.key;
    QStringList lines = record.files;
    for (const TrashKey& key : record.keys)
        lines << (key.hive == u"system.reg" ? QStringLiteral("HKLM\\") : QStringLiteral("HKCU\\")) + key.key;
    return lines.join(u'\n');
}

QString replaceQuestion(const TrashRecord& record)
{
    if (record.action == u"menu-removed") {
        return QStringLiteral("Some of the files of \"%1\" exist again. Replace them with the record's copies?")
            .arg(record.name);
    }
    if (record.action == u"leftovers-removed") {
        return QStringLiteral("Some files, folders or registry values of \"%1\" exist again. Replace them with the "
                              "record's copies? What they replace is kept in the trash.")
            .arg(record.name);
    }
    return QStringLiteral("An entry exists again under %1. Replace it with the record of \"%2\"?")
        .arg(record.key, record.name);
}

QRect buttonSlot(int index)
{
    // Three buttons in one row under the list, evenly spaced.
    return TuduButton::rowGeometry(ClientWidth, 3, index, ButtonSize, ButtonTop);
}

} // namespace

TfRestore::TfRestore(ProgramListHost& host) : QDialog(host.hostWindow()), m_host(host)
{
    setObjectName(QStringLiteral("fRestore"));
    setWindowTitle(QStringLiteral("Restore Deleted Entries"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    lvRecords = new QTreeWidget(this);
    lvRecords->setObjectName(QStringLiteral("lvRecords"));
    lvRecords->setGeometry(8, 8, ClientWidth - 16, ButtonTop - 20);
    lvRecords->setRootIsDecorated(false);
    lvRecords->setUniformRowHeights(true);
    lvRecords->setAllColumnsShowFocus(true);
    lvRecords->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Action"), QStringLiteral("Name")});
    lvRecords->header()->setSectionsMovable(false);
    lvRecords->setColumnWidth(0, 150);
    lvRecords->setColumnWidth(1, 140);
    QFont listFont(QStringLiteral("MS Sans Serif"));
    listFont.setPixelSize(13);
    lvRecords->setFont(listFont);

    buRestore = TuduButton::create(this, "buRestore", QStringLiteral("RESTORE"), buttonSlot(0));
    buDeleteRecord = TuduButton::create(this, "buDeleteRecord", QStringLiteral("DELETE RECORD"), buttonSlot(1));
    buClose = TuduButton::create(this, "buClose", QStringLiteral("CLOSE"), buttonSlot(2));
    connect(buRestore, &TuduButton::clicked, this, [this] { runGuarded(this, [this] { buRestoreClick(); }); });
    connect(buDeleteRecord, &TuduButton::clicked, this,
            [this] { runGuarded(this, [this] { buDeleteRecordClick(); }); });
    connect(buClose, &TuduButton::clicked, this, &TfRestore::buCloseClick);
    connect(lvRecords, &QTreeWidget::currentItemChanged, this, [this] {
        const bool chosen = selectedRecord() != nullptr;
        buRestore->setEnabled(chosen);
        buDeleteRecord->setEnabled(chosen);
    });

    FormCreate();
}

void TfRestore::FormCreate()
{
    showRecords();
    lvRecords->setFocus();
}

void TfRestore::showRecords(const QString& selectId)
{
    m_records = EntryTrash::list(m_host.prefix().path());
    lvRecords->clear();
    QTreeWidgetItem* current = nullptr;
    for (const TrashRecord& record : std::as_const(m_records)) {
        const QString time = record.time.isValid()
                                 ? record.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                 : QString();
        const QString name = record.damage.isEmpty() ? record.name : record.damage;
        auto* item = new QTreeWidgetItem(lvRecords, {time, actionText(record), name});
        item->setToolTip(2, contentsText(record));
        if (!current || record.id == selectId)
            current = item;
    }
    lvRecords->setCurrentItem(current);
    buRestore->setEnabled(current != nullptr);
    buDeleteRecord->setEnabled(current != nullptr);
}

const TrashRecord* TfRestore::selectedRecord() const
{
    const int row = lvRecords->indexOfTopLevelItem(lvRecords->currentItem());
    return row >= 0 && row < m_records.size() ? &m_records[row] : nullptr;
}

void TfRestore::buRestoreClick()
{
    const TrashRecord* chosen = selectedRecord();
    if (!chosen)
        return;
    const TrashRecord record = EntryTrash::read(m_host.prefix().path(), chosen->id);
    const bool replace = EntryTrash::wouldReplace(m_host.prefix().path(), record);
    if (replace) {
        if (MessageBox::question(this, windowTitle(), replaceQuestion(record), MessageBox::Button::No) !=
            MessageBox::Button::Yes)
            return;
    }
    // The record stays until its entry is back, so a failure here loses nothing.
    EntryTrash::restore(m_host.prefix().path(), record.id, replace);
    showRecords();
    m_host.refreshListAndCount();
    selectRestoredEntry(record);
}

void TfRestore::selectRestoredEntry(const TrashRecord& record)
{
    const RegistryRoot root = record.hive == u"user.reg" ? RegistryRoot::CurrentUser : RegistryRoot::LocalMachine;
    const ProgramListModel& list = m_host.programList();
    for (int row = 0; row < list.count(); ++row) {
        const InstalledProgram& item = list.at(row);
        if (item.Root == root && HiveSyntax::sameName(item.KeyPath, record.key)) {
            m_host.selectItem(row);
            return;
        }
    }
    if (list.count() > 0)
        m_host.selectItem(0);
}

void TfRestore::buDeleteRecordClick()
{
    const TrashRecord* chosen = selectedRecord();
    if (!chosen)
        return;
    const QString name = chosen->name.isEmpty() ? chosen->key : chosen->name;
    const QString question =
        chosen->action == u"leftovers-removed"
            ? QStringLiteral("Delete the record of \"%1\" with the files and keys it keeps? They cannot be brought "
                             "back once the record is gone.")
                  .arg(name)
            : QStringLiteral("Delete the record of \"%1\"? The entry cannot be brought back once its record is gone.")
                  .arg(name);
    if (MessageBox::question(this, windowTitle(), question, MessageBox::Button::No) != MessageBox::Button::Yes)
        return;
    const int row = lvRecords->indexOfTopLevelItem(lvRecords->currentItem());
    EntryTrash::purge(m_host.prefix().path(), chosen->id);
    showRecords(m_records.value(row + 1).id);
}

void TfRestore::buCloseClick()
{
    reject();
}
