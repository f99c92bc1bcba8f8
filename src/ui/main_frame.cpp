#include "ui/main_frame.h"

#include "core/scan.h"
#include "innodb/dictionary.h"
#include "innodb/mysql8_dictionary.h"
#include "output/script_save_job.h"
#include "output/server_save_job.h"
#include "ui/about_dlg.h"
#include "ui/application_look.h"
#include "ui/caption_bar.h"
#include "ui/check_tree_model.h"
#include "ui/file_setting_dlg.h"
#include "ui/file_view.h"
#include "ui/icons.h"
#include "ui/kestrel_static.h"
#include "ui/message_box.h"
#include "ui/output_wnd.h"
#include "ui/records_model.h"
#include "ui/savedlgoption.h"
#include "ui/splash_screen_ex.h"
#include "ui/user_guide.h"
#include "ui/window_frontend.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QDesktopServices>
#include <QDockWidget>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdlib>

namespace dunmore::ui {

namespace {

QString qtext(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QAction* makeAction(QObject* parent, const QString& text, IconKind icon, const QString& description) {
    auto* action = new QAction(makeIcon(icon), text, parent);
    action->setToolTip(description);
    action->setStatusTip(description);
    return action;
}

QToolButton* ribbonButton(QWidget* parent, QAction* action) {
    auto* button = new QToolButton(parent);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIconSize(QSize(32, 32));
    button->setAutoRaise(true);
    button->setMinimumWidth(72);
    return button;
}

// One panel of the ribbon: its buttons in a row, its title under them.
QFrame* ribbonPanel(QWidget* parent, const QString& title, std::initializer_list<QAction*> actions) {
    auto* panel = new QFrame(parent);
    panel->setObjectName("ribbonPanel");
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    for (QAction* action : actions) row->addWidget(ribbonButton(panel, action));
    layout->addLayout(row);
    auto* label = new QLabel(title, panel);
    label->setAlignment(Qt::AlignCenter);
    label->setObjectName("ribbonPanelTitle");
    layout->addWidget(label);
    return panel;
}

}  // namespace

CMainFrame::CMainFrame(core::AppSettings& settings, Options options)
    : m_settings(settings), m_frontend(new WindowFrontend(*this)) {
    m_frame = std::make_unique<core::MainFrame>(settings, *m_frontend);
    m_exit = [](int code) { std::_Exit(code); };
    // Server mode of the Save Database dialog saves through the server job, as
    // `dunmore save-server` does.
    m_serverJob = [](core::MainFrame& frame) { (void)output::runServerSaveJob(frame); };

    setWindowTitle(qtext(core::kApplicationTitle));
    setWindowIcon(makeIcon(IconKind::Application));
    setObjectName("CMainFrame");

    makeStatusBar();

    m_treeModel = new CheckTreeModel(m_frame->tree, this);
    m_treeModel->setEditable([this] { return m_settings.busy.load() == 0; });
    m_fileView = new CFileView(m_treeModel, this);

    m_open = makeAction(this, "Open", IconKind::Open, "Open Database file");
    m_stop = makeAction(this, "Stop", IconKind::Stop, "Stop running process");
    m_save = makeAction(this, "Save MySQL Data", IconKind::Save, "Save recovered data");
    m_help = makeAction(this, "Help", IconKind::Help, "Help for Dunmore");
    m_about = makeAction(this, "About", IconKind::About, "About Dunmore");
    m_stop->setEnabled(false);
    connect(m_open, &QAction::triggered, this, &CMainFrame::openCommand);
    connect(m_stop, &QAction::triggered, this, &CMainFrame::stopCommand);
    connect(m_save, &QAction::triggered, this, &CMainFrame::saveCommand);
    connect(m_help, &QAction::triggered, this, &CMainFrame::helpCommand);
    connect(m_about, &QAction::triggered, this, &CMainFrame::aboutCommand);

    auto* ribbon = new QToolBar("Ribbon", this);
    ribbon->setObjectName("ribbon");
    ribbon->setMovable(false);
    ribbon->setFloatable(false);
    ribbon->toggleViewAction()->setEnabled(false);
    ribbon->addWidget(makeRibbon());
    addToolBar(Qt::TopToolBarArea, ribbon);

    m_output = new COutputWnd(this);

    m_caption = new CMyCaptionBar(this);
    auto* captionBar = new QToolBar("Caption", this);
    captionBar->setObjectName("captionToolBar");
    captionBar->setMovable(false);
    captionBar->setFloatable(false);
    captionBar->toggleViewAction()->setEnabled(false);
    captionBar->addWidget(m_caption);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, captionBar);

    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);
    m_treeDock = new QDockWidget("MySQL Database Objects", this);
    m_treeDock->setObjectName("treeDock");
    m_treeDock->setWidget(m_fileView);
    m_treeDock->setAllowedAreas(Qt::AllDockWidgetAreas);
    addDockWidget(Qt::LeftDockWidgetArea, m_treeDock);
    m_outputDock = new QDockWidget("Output", this);
    m_outputDock->setObjectName("outputDock");
    m_outputDock->setWidget(m_output);
    m_outputDock->setAllowedAreas(Qt::AllDockWidgetAreas);
    addDockWidget(Qt::RightDockWidgetArea, m_outputDock);
    resizeDocks({m_treeDock, m_outputDock}, {200, 400}, Qt::Horizontal);

    m_records = new CKestrelStatic(this);
    m_records->setObjectName("recordsPane");
    setCentralWidget(m_records);
    m_preview = std::make_unique<RecordPreview>(*m_frame, *m_records, static_cast<PreviewHost&>(*this));
    connect(m_records, &CKestrelStatic::previousRecords, this, [this] { m_preview->onPreviousRecords(); });
    connect(m_records, &CKestrelStatic::nextRecords, this, [this] { m_preview->onNextRecords(); });
    connect(m_fileView->tree(), &QTreeView::clicked, this, [this](const QModelIndex& index) {
        const auto node = m_treeModel->nodeOf(index);
        if (node != core::CheckTree::kNone) m_preview->onTreeItemClicked(node);
    });

    m_saveDialog = new savedlgoption(m_settings, this);

    if (options.splash) {
        auto* splash = new CSplashScreenEx(this, "v22.08", 2000);
        splash->start();
    }
    applyApplicationLook(storedApplicationLook());

    setCaptionText("Select MySQL database file to continue the recovery process.");
    m_progress->hide();
    m_output->addOutputLine("select database file to continue the recovery process.");
    m_settings.outputLineCount = 1;
    m_frame->logFile.close();

    m_busyWatch = new QTimer(this);
    m_busyWatch->setInterval(50);
    connect(m_busyWatch, &QTimer::timeout, this, &CMainFrame::watchBusy);
    m_busyWatch->start();
}

CMainFrame::~CMainFrame() {
    // A job still running (the window is torn down without the close request, as in
    // tests) is asked to stop and waited for; its requests to this window are dropped.
    m_settings.stopRequested = 1;
    m_busyWatch->stop();
    while (m_settings.busy.load() != 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    m_frame->waitForJob();
}

QWidget* CMainFrame::makeRibbon() {
    auto* strip = new QWidget(this);
    strip->setObjectName("ribbonStrip");
    auto* outer = new QHBoxLayout(strip);
    outer->setContentsMargins(4, 2, 4, 2);
    outer->setSpacing(6);

    auto* appButton = new QToolButton(strip);
    appButton->setObjectName("applicationButton");
    appButton->setIcon(makeIcon(IconKind::Application));
    appButton->setIconSize(QSize(32, 32));
    appButton->setFixedSize(42, 42);
    appButton->setAutoRaise(true);
    appButton->setToolTip(qtext(core::kApplicationTitle));
    appButton->setShortcut(QKeySequence("Alt+F"));
    outer->addWidget(appButton, 0, Qt::AlignTop);

    auto* category = new QVBoxLayout;
    category->setSpacing(0);
    auto* tab = new QLabel("Dunmore", strip);
    tab->setObjectName("ribbonCategory");
    QFont tabFont = tab->font();
    tabFont.setBold(true);
    tab->setFont(tabFont);
    tab->setContentsMargins(8, 2, 8, 2);
    category->addWidget(tab, 0, Qt::AlignLeft);
    auto* panels = new QHBoxLayout;
    panels->setSpacing(0);
    // The first panel has no title; its empty title row keeps both panels' buttons level.
    panels->addWidget(ribbonPanel(strip, "", {m_open, m_stop, m_save}));
    auto* separator = new QFrame(strip);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    panels->addWidget(separator);
    panels->addWidget(ribbonPanel(strip, "About", {m_help, m_about}));
    panels->addStretch(1);
    category->addLayout(panels);
    outer->addLayout(category, 1);
    return strip;
}

void CMainFrame::makeStatusBar() {
    auto* bar = new QStatusBar(this);
    bar->setSizeGripEnabled(true);
    setStatusBar(bar);
    auto* link = new QLabel(bar);
    link->setObjectName("makerLink");
    const QUrl guide = userGuideUrl();
    link->setText(guide.isValid() ? QString("<a href=\"%1\">Dunmore</a>").arg(guide.toString()) : "Dunmore");
    link->setOpenExternalLinks(true);
    link->setToolTip("Dunmore");
    link->setContentsMargins(6, 0, 6, 0);
    bar->addWidget(link);
    auto* edition = new QLabel("Dunmore(Full)", bar);
    edition->setObjectName("editionPane");
    edition->setContentsMargins(6, 0, 6, 0);
    bar->addPermanentWidget(edition);
    m_progress = new QProgressBar(bar);
    m_progress->setObjectName("progressBar");
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    bar->installEventFilter(this);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == statusBar() && event->type() == QEvent::Resize) {
        // The progress bar keeps its place in the status bar at every width.
        const int w = statusBar()->width();
        m_progress->setGeometry(250, 3, std::max(0, w - 560), 17);
        m_progress->setVisible(m_progress->isVisible() && w > 560);
        m_progress->update();
    }
    return QMainWindow::eventFilter(watched, event);
}

QTreeView* CMainFrame::treeView() const { return m_fileView->tree(); }

// ---- commands ----

namespace {

// The scan's calls into the InnoDB module: ibdata1 and its dictionary, and the data
// dictionary of MySQL 8 (mysql.ibd).
core::ScanHooks scanHooks() {
    core::ScanHooks hooks;
    hooks.openSystemTablespace = [](core::RecoveryContext& ctx, const std::string& path) {
        return innodb::openSystemTablespace(ctx, path);
    };
    hooks.readDictionary = [](const std::string& path) { return innodb::readMysql8Dictionary(path); };
    return hooks;
}

}  // namespace

bool CMainFrame::runSettingsDialog() {
    CKestrelFileSettingDlg dialog(m_settings, this);
    if (dialog.exec() != QDialog::Accepted) return false;
    // The scan rebuilds the tree on its worker: the view lets go of it until then.
    m_treeModel->detach();
    return true;
}

void CMainFrame::openCommand() {
    core::openCommand(*m_frame, [this] { return runSettingsDialog(); }, scanHooks());
    watchBusy();
}

void CMainFrame::openFolders(const QString& data, const QString& temp, const QString& log) {
    const core::ScanHooks hooks = scanHooks();
    core::openCommand(
        *m_frame,
        [&] {
            m_settings.chosenFolder = withSeparator(data).toStdString();
            m_settings.tempFolder = withSeparator(temp).toStdString();
            m_settings.logFolder = withSeparator(log).toStdString();
            m_treeModel->detach();
            return true;
        },
        hooks);
    watchBusy();
}

void CMainFrame::stopCommand() { m_frame->stopCommand(); }

void CMainFrame::saveCommand() {
    output::saveCommand(
        *m_frame, [this] { return m_saveDialog->exec() == QDialog::Accepted; }, m_serverJob);
    watchBusy();
}

void CMainFrame::helpCommand() {
    if (m_settings.busy.load() != 0) return messageBox("Please stop the running process to continue the process.");
    const QUrl guide = userGuideUrl();
    if (guide.isValid())
        QDesktopServices::openUrl(guide);
    else
        messageBox("The user guide (user-guide.html) was not found beside the program.");
}

void CMainFrame::aboutCommand() {
    if (m_settings.busy.load() != 0) return messageBox("Please stop the running process to continue the process.");
    CKestrelAboutDlg about(this);
    about.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!m_frame->closeRequest()) {
        event->ignore();
        return;
    }
    // Everything the log holds is on disk before the process ends.
    m_frame->logFile.close();
    event->accept();
    m_exit(-1);
}

// ---- what the jobs ask for ----

void CMainFrame::appendOutputLine(const QString& text) { m_output->addOutputLine(text); }

void CMainFrame::setCaptionText(const QString& text) { m_caption->setText(text); }

void CMainFrame::setProgressRange(std::uint64_t upper) {
    m_progressUpper = upper;
    m_progress->setValue(0);
}

void CMainFrame::setProgressPosition(std::uint64_t position) {
    // Per mille of the range: 64-bit positions (bytes of a large .MYD) fit the bar.
    const long double upper = m_progressUpper == 0 ? 1.0L : static_cast<long double>(m_progressUpper);
    const long double at = std::min(static_cast<long double>(position), upper);
    m_progress->setValue(static_cast<int>(at * 1000.0L / upper));
}

void CMainFrame::showProgressBar(bool visible) {
    if (visible) m_progress->setValue(0);
    m_progress->setVisible(visible && statusBar()->width() > 560);
    m_progress->repaint();
}

void CMainFrame::messageBox(const QString& text) { informationBox(this, text); }

bool CMainFrame::question(core::Question kind, const QString& text) {
    return yesNoQuestion(this, text, kind == core::Question::CloseApplication);
}

std::optional<std::string> CMainFrame::chooseFile() {
    const QString path = QFileDialog::getOpenFileName(this);
    if (path.isEmpty()) return std::nullopt;
    return path.toStdString();
}

void CMainFrame::setTreeEnabled(bool enabled) {
    m_frame->tree.enableTree(enabled);
    m_fileView->setTreeEnabled(enabled);
}

void CMainFrame::resetRecordsPane() {
    m_records->records()->clear();
    m_records->textView()->clear();
    m_records->label()->clear();
    m_records->previousButton()->setEnabled(false);
    m_records->nextButton()->setEnabled(false);
}

void CMainFrame::clearOutput() { m_output->clear(); }

void CMainFrame::showTreeSnapshot(std::shared_ptr<const core::CheckTree> tree) {
    m_treeModel->showSnapshot(std::move(tree));
    expandShownTree();
    fitTreeDock();
}

void CMainFrame::fitTreeDock() {
    // The data folder's node holds a whole path: the pane grows to show the widest node,
    // up to a third of the window, and never shrinks below what it is.
    QTreeView* view = treeView();
    view->resizeColumnToContents(0);
    const int wanted = view->header()->sectionSize(0) + 2 * view->frameWidth() + 2 + 4;
    const int widest = std::max(m_treeDock->width(), width() / 3);
    if (wanted > m_treeDock->width()) resizeDocks({m_treeDock}, {std::min(wanted, widest)}, Qt::Horizontal);
}

void CMainFrame::reselect(core::CheckTree::NodeId node) {
    const QModelIndex index = m_treeModel->indexOf(node);
    if (index.isValid()) treeView()->setCurrentIndex(index);
}

void CMainFrame::expandShownTree() {
    const core::CheckTree* tree = m_treeModel->shownTree();
    if (!tree) return;
    for (core::CheckTree::NodeId id = 0; id < static_cast<core::CheckTree::NodeId>(tree->size()); ++id)
        if (tree->node(id).expanded) treeView()->expand(m_treeModel->indexOf(id));
}

void CMainFrame::watchBusy() {
    const bool busy = m_settings.busy.load() != 0;
    m_stop->setEnabled(busy);
    // The scan has ended: the window's thread owns the tree now, and the check boxes act
    // on it.
    if (!busy && !m_treeModel->live()) m_treeModel->useLiveTree();
}

}  // namespace dunmore::ui
