#include "mainwindow/TfKestrin.h"

#include "audit/TfAudit.h"
#include "base/KestrinError.h"
#include "controls/GuardedCall.h"
#include "controls/MessageBox.h"
#include "controls/Pictures.h"
#include "controls/TFramePanel.h"
#include "details/TfDetails.h"
#include "details/TfEditDetails.h"
#include "details/TfNewProgram.h"
#include "hive/PrefixHealth.h"
#include "inventory/DroppedShortcut.h"
#include "inventory/PlatformVersion.h"
#include "inventory/ProgramListModel.h"
#include "inventory/ProgramScan.h"
#include "inventory/Texts.h"
#include "leftovers/TfLeftovers.h"
#include "mainwindow/CommandLine.h"
#include "mainwindow/ListSizeFiller.h"
#include "mainwindow/MainActions.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/MainSettings.h"
#include "mainwindow/ProgramIconModel.h"
#include "mainwindow/ProgramListView.h"
#include "mainwindow/TfOpenPrefix.h"
#include "menus/TfCleanMenus.h"
#include "prefix/WineServer.h"
#include "uninstall/TfDelete.h"
#include "uninstall/TfLog.h"
#include "uninstall/TfRestore.h"
#include "uninstall/TfUninstall.h"
#include "uninstall/UninstallLog.h"
#include "wine/CommandLauncher.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

const QColor FormColor(124, 153, 228);
const QColor FrameColor(213, 227, 253);
constexpr int FontPixels = 11;
constexpr int NoteFontPixels = 12;
constexpr int LeftSideWidth = 201;
constexpr int StatusPanelWidth = 150;
constexpr int ProblemMargin = 24;
constexpr QSize SelectorSize{181, 210};
constexpr QSize NoteSize{158, 154};
constexpr int NoteBottomMargin = 8;

void paint(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

TfKestrin::TfKestrin(WinePrefix prefix, QString workingFolder, QWidget* parent)
    : QMainWindow(parent), m_prefix(std::move(prefix)), m_workingFolder(std::move(workingFolder)),
      m_logPath(UninstallLog(m_workingFolder).LogPath())
{
    buildForm();
    m_actions = new MainActions(this);
    paint(m_actions->tbarHeader, FormColor);
    m_commands = new MainCommands(*this, *m_actions);
    m_sizeFiller = new ListSizeFiller(this);
    installWindowOpeners();
    FormCreate();
    lvPrograms->setFocus();
    // A menu bar that Escape left in keyboard mode hands the focus, when a later command of it runs,
    // back to itself and then drops it: the list would take no more keys.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now)
            QTimer::singleShot(0, this, &TfKestrin::giveFocusBackToTheList);
    });
}

TfKestrin::~TfKestrin()
{
    FormDestroy();
    // The views ask the icon model for pictures of m_icons, which goes before the base class deletes
    // its children: the views go first.
    delete takeCentralWidget();
}

void TfKestrin::buildForm()
{
    setObjectName(QStringLiteral("fKestrin"));
    setWindowTitle(QStringLiteral("Kestrin"));
    QFont formFont = font();
    formFont.setPixelSize(FontPixels);
    setFont(formFont);
    resize(740, 545);

    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("body"));
    paint(body, FormColor);
    auto* bodyLayout = new QHBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);
    setCentralWidget(body);

    paLeftSide = new QWidget(body);
    paLeftSide->setObjectName(QStringLiteral("paLeftSide"));
    paLeftSide->setFixedWidth(LeftSideWidth);
    bodyLayout->addWidget(paLeftSide);

    fpaHeader = new TFramePanel(paLeftSide);
    fpaHeader->setObjectName(QStringLiteral("fpaHeader"));
    fpaHeader->setColor(FrameColor);
    fpaHeader->setGeometry(9, 16, 181, 41);
    edSearch = new QLineEdit(fpaHeader);
    edSearch->setObjectName(QStringLiteral("edSearch"));
    edSearch->setGeometry(8, 10, 113, 21);
    buFind = new QPushButton(QStringLiteral("Find"), fpaHeader);
    buFind->setObjectName(QStringLiteral("buFind"));
    buFind->setGeometry(126, 10, 46, 22);
    connect(buFind, &QPushButton::clicked, this, &TfKestrin::buFindClick);
    connect(edSearch, &QLineEdit::returnPressed, this, &TfKestrin::buFindClick);

    fpaSelector = new TFramePanel(paLeftSide);
    fpaSelector->setObjectName(QStringLiteral("fpaSelector"));
    fpaSelector->setColor(FrameColor);
    fpaSelector->setGeometry(QRect(QPoint(9, 73), SelectorSize));
    fpaSelector->hide();
    imgIndicator = new QLabel(fpaSelector);
    imgIndicator->setObjectName(QStringLiteral("imgIndicator"));
    imgIndicator->setGeometry(12, 8, 32, 32);
    lIndicator = new QLabel(fpaSelector);
    lIndicator->setObjectName(QStringLiteral("lIndicator"));
    lIndicator->setGeometry(QRect(QPoint(12, 48), NoteSize));
    lIndicator->setWordWrap(true);
    lIndicator->setTextFormat(Qt::PlainText); // holds a name from the registry
    lIndicator->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont noteFont = lIndicator->font();
    noteFont.setPixelSize(NoteFontPixels);
    lIndicator->setFont(noteFont);
    QPalette notePalette = lIndicator->palette();
    notePalette.setColor(QPalette::WindowText, Qt::blue);
    lIndicator->setPalette(notePalette);

    paRightSide = new QWidget(body);
    paRightSide->setObjectName(QStringLiteral("paRightSide"));
    auto* rightLayout = new QVBoxLayout(paRightSide);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    lvPrograms = new ProgramListView(paRightSide);
    rightLayout->addWidget(lvPrograms);
    lPrefixProblem = new QLabel(paRightSide);
    lPrefixProblem->setObjectName(QStringLiteral("lPrefixProblem"));
    lPrefixProblem->setTextFormat(Qt::PlainText); // holds a path
    lPrefixProblem->setWordWrap(true);
    lPrefixProblem->setAlignment(Qt::AlignCenter);
    lPrefixProblem->setMargin(ProblemMargin);
    lPrefixProblem->setAutoFillBackground(true);
    lPrefixProblem->setBackgroundRole(QPalette::Base);
    lPrefixProblem->hide();
    rightLayout->addWidget(lPrefixProblem);
    bodyLayout->addWidget(paRightSide, 1);
    connect(lvPrograms, &ProgramListView::itemSelectionChanged, this, &TfKestrin::lvProgramsSelectItem);
    connect(lvPrograms, &ProgramListView::clicked, this, &TfKestrin::lvProgramsClick);

    sbarStatus = statusBar();
    sbarStatus->setObjectName(QStringLiteral("sbarStatus"));
    sbarStatusPanel = new QLabel(sbarStatus);
    sbarStatusPanel->setObjectName(QStringLiteral("sbarStatusPanel"));
    // The only panel is also the last, which natively reaches to the bar's end.
    sbarStatusPanel->setMinimumWidth(StatusPanelWidth);
    sbarStatus->addWidget(sbarStatusPanel, 1);
    sbarSkippedNote = new QLabel(sbarStatus);
    sbarSkippedNote->setObjectName(QStringLiteral("sbarSkippedNote"));
    sbarSkippedNote->setTextFormat(Qt::PlainText); // holds key paths from the registry
    // A long key path must not widen the window; the whole text is in the tooltip.
    sbarSkippedNote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    sbarStatus->addWidget(sbarSkippedNote, 2);
    sbarSkippedNote->hide();
    sbarPrefixPanel = new QLabel(sbarStatus);
    sbarPrefixPanel->setObjectName(QStringLiteral("sbarPrefixPanel"));
    sbarStatus->addPermanentWidget(sbarPrefixPanel);
    sbarWinePanel = new QLabel(sbarStatus);
    sbarWinePanel->setObjectName(QStringLiteral("sbarWinePanel"));
    sbarWinePanel->setTextFormat(Qt::PlainText); // runner names come from the managers' files
    sbarStatus->addPermanentWidget(sbarWinePanel);
}

void TfKestrin::installWindowOpeners()
{
    m_commands->setWindowOpener(MainCommands::Window::Uninstall, [this] {
        TfUninstall runner(*this);
        runner.exec();
        if (runner.state() == TfUninstall::State::Removed) {
            offerLeftovers(runner.traces());
            offerMenuCleanup();
        }
    });
    m_commands->setWindowOpener(MainCommands::Window::DeleteFromList, [this] {
        TfDelete remove(*this);
        remove.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::ProgramDetails, [this] {
        TfDetails details(*this);
        details.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::EditProgramDetails, [this] {
        TfEditDetails editor(*this);
        editor.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::NewProgram, [this] {
        TfNewProgram entry(*this);
        entry.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::UninstallLog, [this] {
        TfLog log(UninstallLog(m_workingFolder), this);
        log.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::AuditReport, [this] {
        TfAudit audit(*this);
        audit.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::RestoreDeletedEntries, [this] {
        TfRestore trash(*this);
        trash.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::OpenPrefix, [this] {
        TfOpenPrefix choice(*this);
        choice.exec();
    });
    m_commands->setWindowOpener(MainCommands::Window::CleanUpMenuEntries, [this] {
        TfCleanMenus cleanup(*this, WineMenuFolders::fromEnvironment());
        if (cleanup.entries().isEmpty()) {
            MessageBox::message(this, QStringLiteral("No menu entries of removed programs were found."));
            return;
        }
        cleanup.exec();
    });
}

void TfKestrin::offerLeftovers(const ProgramTraces& traces)
{
    runGuarded(this, [&] {
        LeftoverFinder finder(m_prefix, traces, WineMenuFolders::fromEnvironment());
        const QList<Leftover> leftovers = finder.find();
        if (leftovers.isEmpty())
            return;
        TfLeftovers window(*this, finder, leftovers);
        window.exec();
    });
}

void TfKestrin::offerMenuCleanup()
{
    runGuarded(this, [this] {
        if (TfCleanMenus::offerAfterUninstall(this, m_prefix, WineMenuFolders::fromEnvironment()))
            m_commands->CleanUpMenuEntries1Click();
    });
}

void TfKestrin::FormCreate()
{
    showPrefix();
    applySettings(true);
    setAcceptDrops(true);
    UninstallTargetFound = false;
    UninstallPending = false;

    bool nt = true;
    const bool platformKnown = runGuarded(this, [&] { nt = IsNTPlatform(m_prefix); });
    setUpProgramList(nt);
    InitImageLists();
    // A failure shows its error box and skips the rest: the window still comes up with what was read,
    // while a run that shows no window ends, failed.
    const bool created = platformKnown && runGuarded(this, [this] {
                             RefreshProgramList();
                             UpdateStatusCount();
                             if (m_model->count() > 0)
                                 selectItem(0);
                             UninstallLog(m_workingFolder).prepare();
                             ActOnCommandLine();
                         });
    if (!created && !CommandLine::current().ShowMainWindow())
        endRun(CommandLine::ExitFailed);
}

void TfKestrin::OpenPrefix(const WinePrefix& prefix)
{
    saveSettings();
    m_prefix = prefix;
    m_settingsSaved = false;
    showPrefix();
    applySettings(false);
    UninstallTargetFound = false;
    UninstallPending = false;
    const bool nt = IsNTPlatform(m_prefix);
    // The views move to the new models before the old ones go.
    ProgramListModel* oldModel = m_model;
    ProgramIconModel* oldIconModel = m_iconModel;
    setUpProgramList(nt);
    delete oldIconModel;
    delete oldModel;
    m_scan = std::make_unique<ProgramScan>(m_prefix, m_ntFamily, m_icons, m_warningIconIndex, m_ownIconIndex);
    RefreshProgramList();
    UpdateStatusCount();
    if (m_model->count() > 0)
        selectItem(0);
}

void TfKestrin::showPrefix()
{
    setWindowTitle(QStringLiteral("Kestrin - ") + m_prefix.displayPath());
    QString platform;
    runGuarded(this, [&] { platform = PrefixPlatformText(m_prefix); });
    sbarPrefixPanel->setText(platform);
    sbarPrefixPanel->setVisible(!platform.isEmpty());
    // Naming the system's Wine asks it for its version: once the list is up, not before.
    sbarWinePanel->clear();
    QTimer::singleShot(0, this, [this, path = m_prefix.path()] {
        if (path == m_prefix.path())
            sbarWinePanel->setText(CommandLauncher::instance().wineLabel(path));
    });
}

QString TfKestrin::prefixProblem() const
{
    return lPrefixProblem->text();
}

void TfKestrin::showPrefixHealth()
{
    const PrefixHealth health = PrefixHealth::check(m_prefix);
    lPrefixProblem->setText(health.sentence());
    lPrefixProblem->setVisible(!health.ready());
    lvPrograms->setVisible(health.ready());
}

void TfKestrin::applySettings(bool firstTime)
{
    MainSettings settings;
    settings.width = width();
    settings.height = height();
    settings.left = x();
    settings.top = y();
    if (settings.read(m_prefix)) {
        // A size that cannot be a window keeps the designed one.
        resize(settings.width > 0 ? settings.width : width(), settings.height > 0 ? settings.height : height());
        if (firstTime)
            move(settings.left, settings.top);
        if (settings.mainViewStyle >= 0 && settings.mainViewStyle <= 3)
            ChangeViewStyle(settings.mainViewStyle);
    }

    // Centred on the desktop of all screens together, which overrides the remembered position. This
    // is the normal rectangle, so it comes before the state. A window already in use stays where it is.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (firstTime && screen) {
        const QRect desktop = screen->virtualGeometry();
        move(desktop.x() + (desktop.width() - width()) / 2, desktop.y() + (desktop.height() - height()) / 2);
    }

    if (settings.windowState == MainSettings::Minimized && firstTime)
        setWindowState(Qt::WindowMinimized);
    else if (settings.windowState == MainSettings::Maximized)
        setWindowState(Qt::WindowMaximized);
}

void TfKestrin::setUpProgramList(bool ntFamily)
{
    m_ntFamily = ntFamily;
    m_commandColumn = ntFamily ? 3 : 0;
    m_model = new ProgramListModel(ntFamily, this);
    m_model->setObjectName(QStringLiteral("programList"));
    m_iconModel = new ProgramIconModel(m_icons, this);
    m_iconModel->setSourceModel(m_model);
    lvPrograms->setModel(m_iconModel);
    // A scan takes the selection away; a note about an entry no longer selected would mislead.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (lvPrograms->selectedRow() < 0)
            hideNote();
    });
}

void TfKestrin::InitImageLists()
{
    const auto pictures = [](const QIcon& icon) {
        return std::pair(icon.pixmap(SystemIconList::SmallSize).toImage(),
                         icon.pixmap(SystemIconList::LargeSize).toImage());
    };
    const auto [warningSmall, warningLarge] = pictures(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    m_warningIconIndex = m_icons.addImages(warningSmall, warningLarge);
    const auto [ownSmall, ownLarge] = pictures(Pictures::applicationIcon());
    m_ownIconIndex = m_icons.addImages(ownSmall, ownLarge);
    m_scan = std::make_unique<ProgramScan>(m_prefix, m_ntFamily, m_icons, m_warningIconIndex, m_ownIconIndex);
}

QList<QWidget*> TfKestrin::listViewports() const
{
    return {lvPrograms->iconView()->viewport(), lvPrograms->detailsView()->viewport()};
}

void TfKestrin::RefreshProgramList()
{
    showPrefixHealth();
    try {
        m_scan->RefreshProgramList(*m_model);
    } catch (...) {
        showSkippedEntries();
        m_sizeFiller->afterScan(m_prefix, m_model, listViewports());
        throw;
    }
    showSkippedEntries();
    m_sizeFiller->afterScan(m_prefix, m_model, listViewports());
}

// A note rather than a message box: the same entries would raise it again on every refresh.
void TfKestrin::showSkippedEntries()
{
    const QList<ProgramScan::SkippedEntry>& skipped = m_scan->skippedEntries();
    if (skipped.isEmpty()) {
        sbarSkippedNote->clear();
        sbarSkippedNote->setToolTip(QString());
        sbarSkippedNote->hide();
        return;
    }
    const auto describe = [](const ProgramScan::SkippedEntry& entry) -> QString {
        return rootName(entry.root) + QLatin1Char('\\') + entry.keyPath + QStringLiteral(": ") + entry.message;
    };
    QStringList lines;
    for (const ProgramScan::SkippedEntry& entry : skipped)
        lines.append(describe(entry));
    const QString lead = skipped.size() == 1
                             ? QStringLiteral("Left out ")
                             : QStringLiteral("Left out %1 unreadable entries; the first: ").arg(skipped.size());
    sbarSkippedNote->setText(lead + lines.first());
    sbarSkippedNote->setToolTip(lines.join(QLatin1Char('\n')));
    sbarSkippedNote->show();
}

void TfKestrin::UpdateStatusCount()
{
    sbarStatusPanel->setText(QString::number(m_model->count()) + QStringLiteral(" program(s) available for uninstall"));
}

void TfKestrin::refreshListAndCount()
{
    try {
        RefreshProgramList();
    } catch (...) {
        // The entries read before the failure are listed; the count must say so.
        UpdateStatusCount();
        throw;
    }
    UpdateStatusCount();
}

void TfKestrin::uninstallSelected()
{
    m_commands->Uninstall2Click();
}

void TfKestrin::showMainWindow()
{
    // Without a display the run ends instead; nobody could use the window.
    if (CommandLine::current().headless())
        return;
    show();
    raise();
    activateWindow();
}

bool TfKestrin::RequireSelection()
{
    if (selectedIndex() >= 0)
        return true;
    MessageBox::message(this, sSelectProgram);
    return false;
}

int TfKestrin::selectedIndex() const
{
    return lvPrograms->selectedRow();
}

void TfKestrin::selectItem(int row)
{
    lvPrograms->selectRow(row);
}

void TfKestrin::ChangeViewStyle(int style)
{
    lvPrograms->setViewStyle(ProgramListView::ViewStyle(style));
    m_actions->viewItem(style)->setChecked(true);
}

void TfKestrin::lvProgramsSelectItem(int row)
{
    if (row < 0 || row >= m_model->count())
        return;
    fpaSelector->show();
    const InstalledProgram& program = m_model->at(row);
    const bool found = program.UninstallerMissing == -1;
    lIndicator->setText(found ? sCanUninstallPrefix + program.Name + sCanUninstallSuffix
                              : sMissingUninstallerPrefix + program.Name + sMissingUninstallerSuffix);
    imgIndicator->setPixmap(
        Pictures::interfacePicture(found ? Pictures::NoteUninstallerFound : Pictures::NoteUninstallerMissing));
    // The designed frame holds the longer note only in the narrow font it was made for; elsewhere the
    // frame grows downwards rather than cutting the text off.
    const int textHeight = std::max(NoteSize.height(), lIndicator->heightForWidth(NoteSize.width()));
    lIndicator->resize(NoteSize.width(), textHeight);
    fpaSelector->resize(SelectorSize.width(),
                        std::max(SelectorSize.height(), lIndicator->y() + textHeight + NoteBottomMargin));
}

void TfKestrin::lvProgramsClick()
{
    if (selectedIndex() < 0)
        hideNote();
}

void TfKestrin::hideNote()
{
    fpaSelector->hide();
    lIndicator->clear();
}

void TfKestrin::buFindClick()
{
    const QString text = edSearch->text();
    if (text.isEmpty())
        return;
    const int count = m_model->count();
    const int start = std::max(0, selectedIndex());
    // Every item once, beginning after the selected one, which comes last.
    for (int step = 1; step <= count; ++step) {
        const int row = (start + step) % count;
        if (m_model->at(row).Name.contains(text, Qt::CaseInsensitive)) {
            selectItem(row);
            lvPrograms->ensureVisible(row);
            return;
        }
    }
    MessageBox::critical(this, MessageBox::applicationTitle(),
                         QStringLiteral("The program you are looking for (") + text +
                             QStringLiteral(") was not found"));
}

void TfKestrin::giveFocusBackToTheList()
{
    const QWidget* focus = QApplication::focusWidget();
    if (isActiveWindow() && !QApplication::activePopupWidget() && (!focus || focus == menuBar()))
        lvPrograms->setFocus();
}

void TfKestrin::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        QTimer::singleShot(0, this, &TfKestrin::giveFocusBackToTheList);
}

void TfKestrin::FormDestroy()
{
    saveSettings();
}

void TfKestrin::saveSettings()
{
    if (m_settingsSaved)
        return;
    m_settingsSaved = true;
    // A run that shows no window has no place or size of the user's to remember: keep the saved ones.
    if (!CommandLine::current().ShowMainWindow())
        return;
    // A folder that is no prefix gets no user.reg of ours: Wine would take it for a broken prefix.
    if (!PrefixHealth::check(m_prefix).ready())
        return;
    MainSettings settings;
    QRect normal = normalGeometry();
    if (normal.isEmpty())
        normal = geometry();
    settings.width = normal.width();
    settings.height = normal.height();
    settings.left = normal.x();
    settings.top = normal.y();
    settings.windowState = isMinimized()   ? MainSettings::Minimized
                           : isMaximized() ? MainSettings::Maximized
                                           : MainSettings::Normal;
    settings.mainViewStyle = lvPrograms->viewStyle();
    try {
        settings.write(m_prefix);
    } catch (const WineRunningError& error) {
        // The window is gone by now: there is nothing to try again, only what was lost and why.
        MessageBox::showError(this, QStringLiteral("The window settings could not be saved: Wine is running in the "
                                                   "prefix %1 and would overwrite them.")
                                        .arg(error.prefixPath()));
    } catch (const KestrinError& error) {
        MessageBox::showError(this, QStringLiteral("The window settings could not be saved: ") + error.message());
    }
}

namespace {

QStringList droppedFiles(const QMimeData* data)
{
    QStringList names;
    if (!data)
        return names;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            names << url.toLocalFile();
    }
    return names;
}

} // namespace

void TfKestrin::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfKestrin::dragMoveEvent(QDragMoveEvent* event)
{
    if (!droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfKestrin::dropEvent(QDropEvent* event)
{
    const QStringList names = droppedFiles(event->mimeData());
    if (names.isEmpty())
        return;
    event->acceptProposedAction();
    // The drag source waits for the drop to finish: the windows open after it has.
    QTimer::singleShot(0, this, [this, names] { AddDroppedShortcuts(names); });
}

void TfKestrin::AddDroppedShortcuts(const QStringList& names)
{
    runGuarded(this, [&] {
        for (const QString& name : names) {
            const std::optional<DroppedShortcut> shortcut = readDroppedShortcut(m_prefix, name);
            if (!shortcut)
                continue;
            TfNewProgram entry(*this);
            entry.leReg->setText(rootName(RegistryRoot::LocalMachine) + QLatin1Char('\\') + sUninstallKey +
                                 QLatin1Char('\\') + shortcut->name);
            entry.KeyName = shortcut->name;
            entry.leName->setText(shortcut->name);
            entry.leUninstall->setText(shortcut->target);
            entry.leDisplayIcon->setText(shortcut->icon);
            entry.exec();
        }
    });
}
