#include "ui/kestrel_harbor_app.h"

#include "schema/collation_table.h"
#include "ui/main_frame.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

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
    m_window = std::make_unique<CMainFrame>(settings);
    m_window->showMaximized();
    return m_app.exec();
}

}  // namespace dunmore::ui
