#include "mainwindow/TfOpenPrefix.h"

#include "controls/GuardedCall.h"
#include "controls/TuduButton.h"
#include "hive/PrefixHealth.h"
#include "mainwindow/TfKestrin.h"
#include "prefix/PrefixChoice.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

namespace {

constexpr int ClientWidth = 780;
constexpr int ClientHeight = 400;
constexpr int Margin = 12;

TfOpenPrefix::FolderChooser& chooser()
{
    static TfOpenPrefix::FolderChooser choose;
    return choose;
}

} // namespace

TfOpenPrefix::TfOpenPrefix(TfKestrin& main) : QDialog(&main), m_main(main)
{
    setObjectName(QStringLiteral("fOpenPrefix"));
    setWindowTitle(QStringLiteral("Open Prefix"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    lPrefixes = new QLabel(QStringLiteral("Wine prefixes on this computer:"), this);
    lPrefixes->setObjectName(QStringLiteral("lPrefixes"));
    lPrefixes->setGeometry(Margin, Margin, ClientWidth - 2 * Margin, 20);

    lvPrefixes = new QTreeWidget(this);
    lvPrefixes->setObjectName(QStringLiteral("lvPrefixes"));
    lvPrefixes->setGeometry(Margin, 36, ClientWidth - 2 * Margin, ClientHeight - 36 - 56);
    lvPrefixes->setRootIsDecorated(false);
    lvPrefixes->setUniformRowHeights(true);
    lvPrefixes->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Found In"), QStringLiteral("Folder"),
                                 QStringLiteral("Windows"), QStringLiteral("Architecture"),
                                 QStringLiteral("Programs")});
    lvPrefixes->setTextElideMode(Qt::ElideMiddle); // a long folder keeps its start and its end
    // The folder takes the room the others leave, so that every column shows without scrolling.
    lvPrefixes->header()->setStretchLastSection(false);
    for (const auto& [column, width] : {std::pair{0, 140}, {1, 90}, {3, 140}, {4, 80}, {5, 70}})
        lvPrefixes->setColumnWidth(column, width);
    lvPrefixes->header()->setSectionResizeMode(2, QHeaderView::Stretch);

    const int buttonTop = ClientHeight - Margin - 32;
    buBrowse = TuduButton::create(this, "buBrowse", QStringLiteral("BROWSE..."), QRect(Margin, buttonTop, 113, 32));
    buOpen = TuduButton::create(this, "buOpen", QStringLiteral("OPEN"),
                                QRect(ClientWidth - Margin - 2 * 113 - 16, buttonTop, 113, 32));
    buCancel = TuduButton::create(this, "buCancel", QStringLiteral("CANCEL"),
                                  QRect(ClientWidth - Margin - 113, buttonTop, 113, 32));
    connect(buOpen, &TuduButton::clicked, this, &TfOpenPrefix::buOpenClick);
    connect(buBrowse, &TuduButton::clicked, this, &TfOpenPrefix::buBrowseClick);
    connect(buCancel, &TuduButton::clicked, this, &TfOpenPrefix::buCancelClick);
    connect(lvPrefixes, &QTreeWidget::itemActivated, this, &TfOpenPrefix::buOpenClick);

    m_found = discoverPrefixes(QDir::homePath());
    for (const FoundPrefix& found : std::as_const(m_found)) {
        auto* item =
            new QTreeWidgetItem(lvPrefixes, {found.name, found.origin, found.prefix.displayPath(), found.windowsVersion,
                                             found.architecture, QString::number(found.programCount)});
        item->setTextAlignment(5, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(2, found.prefix.path());
        if (found.prefix.path() == m_main.prefix().path())
            lvPrefixes->setCurrentItem(item);
    }
    if (!lvPrefixes->currentItem() && lvPrefixes->topLevelItemCount() > 0)
        lvPrefixes->setCurrentItem(lvPrefixes->topLevelItem(0));
    lvPrefixes->setFocus();
}

void TfOpenPrefix::setFolderChooser(FolderChooser choose)
{
    chooser() = std::move(choose);
}

void TfOpenPrefix::buOpenClick()
{
    const int row = lvPrefixes->indexOfTopLevelItem(lvPrefixes->currentItem());
    if (row >= 0 && row < m_found.size())
        openPrefix(m_found.at(row).prefix);
}

void TfOpenPrefix::buBrowseClick()
{
    const QString start = QDir::homePath();
    const QString chosen = chooser() ? chooser()(this, start)
                                     : QFileDialog::getExistingDirectory(this, QStringLiteral("Open Prefix"), start);
    if (!chosen.isEmpty())
        openPrefix(WinePrefix(QDir::cleanPath(chosen)));
}

void TfOpenPrefix::buCancelClick()
{
    reject();
}

void TfOpenPrefix::openPrefix(const WinePrefix& prefix)
{
    // The window closes once the main window has the prefix; a failure leaves it open to choose again.
    const bool opened = runGuarded(this, [&] {
        m_main.OpenPrefix(prefix);
        // A folder that is no prefix is shown with its sentence, but not offered again at the next start.
        if (PrefixHealth::check(prefix).ready())
            PrefixChoice::rememberOpened(prefix);
    });
    if (opened)
        accept();
}
