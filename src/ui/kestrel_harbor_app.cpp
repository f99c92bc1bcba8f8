#include "ui/kestrel_harbor_app.h"

#include "core/scan.h"
#include "schema/collation_table.h"
#include "ui/check_tree_model.h"
#include "ui/main_frame.h"

#include <QDir>
#include <QLockFile>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>

#include <cstdio>

namespace dunmore::ui {

void markRunningInstance() {
    // A lock file per process under the runtime folder: it exists while Dunmore runs.
    static std::unique_ptr<QLockFile> marker;
    if (marker) return;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    marker = std::make_unique<QLockFile>(
        dir + QString("/DUNMORE_EXE_RUNNING1-%1.lock").arg(QCoreApplication::applicationPid()));
    marker->setStaleLockTime(0);
    (void)marker->tryLock(0);
}

namespace {

// The unattended run behind scripts/screenshot: open a folder, preview one item, write a
// picture of the window and quit. Message boxes are answered with OK as they come up.
struct Unattended {
    QString openFolder;
    QString preview;  // DB.NAME
    QString logFolder;
    QString screenshot;
    bool any() const { return !openFolder.isEmpty() || !screenshot.isEmpty(); }
};

Unattended parseArguments(const QStringList& args) {
    Unattended u;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--open") u.openFolder = args[++i];
        else if (args[i] == "--preview") u.preview = args[++i];
        else if (args[i] == "--log-folder") u.logFolder = args[++i];
        else if (args[i] == "--screenshot") u.screenshot = args[++i];
    }
    return u;
}

core::CheckTree::NodeId findItem(const core::CheckTree& tree, const QString& item) {
    const auto dot = item.indexOf('.');
    if (tree.roots().empty() || dot < 0) return core::CheckTree::kNone;
    const auto dataNode = tree.node(tree.roots().front()).children.empty()
                              ? core::CheckTree::kNone
                              : tree.node(tree.roots().front()).children.front();
    auto db = tree.findChild(dataNode, item.left(dot).toStdString());
    auto tables = tree.findChild(db, "Tables");
    return tree.findChild(tables, item.mid(dot + 1).toStdString());
}

}  // namespace

CKestrelHarborApp::CKestrelHarborApp(int& argc, char** argv) : m_app(argc, argv) {
    QCoreApplication::setOrganizationName("Dunmore");
    QCoreApplication::setApplicationName("Dunmore");
    QGuiApplication::setDesktopFileName("dunmore-gui");
    markRunningInstance();
    // A missing collation file leaves the table empty; the engine then says so per column.
    schema::loadApplicationCollations(QCoreApplication::applicationDirPath().toStdString());
}

CKestrelHarborApp::~CKestrelHarborApp() = default;

int CKestrelHarborApp::run() {
    const Unattended u = parseArguments(QCoreApplication::arguments());
    m_window = std::make_unique<CMainFrame>(settings, CMainFrame::Options{!u.any()});
    if (!u.any()) {
        m_window->showMaximized();
        return m_app.exec();
    }
    m_window->setGeometry(0, 0, 1280, 800);
    m_window->show();
    CMainFrame* w = m_window.get();
    auto* answer = new QTimer(w);
    QObject::connect(answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    });
    answer->start(50);
    const QString logFolder = u.logFolder.isEmpty() ? QDir::tempPath() : u.logFolder;
    if (!u.openFolder.isEmpty()) w->openFolders(u.openFolder, QDir::tempPath(), logFolder);
    auto* wait = new QTimer(w);
    QObject::connect(wait, &QTimer::timeout, [this, w, wait, u] {
        if (settings.busy.load() != 0 || !w->treeModel()->live()) return;
        wait->stop();
        const auto item = findItem(w->frame().tree, u.preview);
        if (item != core::CheckTree::kNone) {
            const QModelIndex index = w->treeModel()->indexOf(item);
            for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) w->treeView()->expand(p);
            w->treeView()->setCurrentIndex(index);
            w->preview().onTreeItemClicked(item);
        }
        QTimer::singleShot(500, w, [w, u] {
            const bool saved = u.screenshot.isEmpty() || w->grab().save(u.screenshot, "PNG");
            if (!saved) std::fprintf(stderr, "dunmore-gui: cannot write %s\n", qPrintable(u.screenshot));
            if (!u.screenshot.isEmpty()) std::_Exit(saved ? 0 : 1);
        });
    });
    wait->start(50);
    return m_app.exec();
}

}  // namespace dunmore::ui
