#pragma once

#include "core/main_frame.h"
#include "core/settings.h"
#include "ui/record_preview.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QDockWidget;
class QLabel;
class QProgressBar;
class QTimer;
class QTreeView;

namespace dunmore::ui {

class CFileView;
class CheckTreeModel;
class CKestrelFileSettingDlg;
class CKestrelStatic;
class CMyCaptionBar;
class COutputWnd;
class WindowFrontend;
class savedlgoption;

// The main window: the ribbon strip (Open, Stop, Save MySQL Data / Help, About), the
// caption bar, the status bar with its progress bar, the "MySQL Database Objects" and
// "Output" panes and the records pane. It owns the engine's main frame (catalogue, tree,
// context, log) and hands its commands to the engine's jobs; the jobs reach it through
// its WindowFrontend.
class CMainFrame : public QMainWindow, private PreviewHost {
    Q_OBJECT
public:
    struct Options {
        bool splash = true;
    };
    CMainFrame(core::AppSettings& settings, Options options);
    CMainFrame(core::AppSettings& settings) : CMainFrame(settings, Options{}) {}
    ~CMainFrame() override;

    // The commands of the ribbon.
    void openCommand();
    // Open without the settings dialog: the three folders as the dialog would store them
    // (the unattended run of the screenshot script).
    void openFolders(const QString& data, const QString& temp, const QString& log);
    void stopCommand();
    void saveCommand();
    void helpCommand();
    void aboutCommand();

    // What the frontend carries out on the window's thread.
    void appendOutputLine(const QString& text);
    void setCaptionText(const QString& text);
    void setProgressRange(std::uint64_t upper);
    void setProgressPosition(std::uint64_t position);
    void showProgressBar(bool visible);
    void messageBox(const QString& text);
    bool question(core::Question kind, const QString& text);
    std::optional<std::string> chooseFile();
    void setTreeEnabled(bool enabled);
    void resetRecordsPane();
    void clearOutput();
    // The scan's copy of the tree it built; drawn until the scan has ended.
    void showTreeSnapshot(std::shared_ptr<const core::CheckTree> tree);

    // How the process ends after a confirmed close request (tests replace it).
    void setExitHandler(std::function<void(int)> exit) { m_exit = std::move(exit); }
    // The save into a server, started by Save when the dialog chose a server; by default
    // the server save job (runServerSaveJob).
    void setServerJob(std::function<void(core::MainFrame&)> job) { m_serverJob = std::move(job); }

    core::MainFrame& frame() { return *m_frame; }
    core::AppSettings& settings() { return m_settings; }
    QAction* openAction() const { return m_open; }
    QAction* stopAction() const { return m_stop; }
    QAction* saveAction() const { return m_save; }
    QAction* helpAction() const { return m_help; }
    QAction* aboutAction() const { return m_about; }
    QTreeView* treeView() const;
    CheckTreeModel* treeModel() const { return m_treeModel; }
    CFileView* fileView() const { return m_fileView; }
    COutputWnd* outputPane() const { return m_output; }
    CKestrelStatic* recordsPane() const { return m_records; }
    CMyCaptionBar* captionBar() const { return m_caption; }
    QProgressBar* progressBar() const { return m_progress; }
    QDockWidget* treeDock() const { return m_treeDock; }
    QDockWidget* outputDock() const { return m_outputDock; }
    savedlgoption* saveDialog() const { return m_saveDialog; }
    RecordPreview& preview() { return *m_preview; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // PreviewHost
    void setCaption(const QString& text) override { setCaptionText(text); }
    void showMessage(const QString& text) override { messageBox(text); }
    void showProgress(bool visible) override { showProgressBar(visible); }
    void reselect(core::CheckTree::NodeId node) override;

    QWidget* makeRibbon();
    void makeStatusBar();
    void expandShownTree();
    void fitTreeDock();
    void watchBusy();
    bool runSettingsDialog();

    core::AppSettings& m_settings;
    WindowFrontend* m_frontend;
    std::unique_ptr<core::MainFrame> m_frame;
    CheckTreeModel* m_treeModel = nullptr;
    CFileView* m_fileView = nullptr;
    COutputWnd* m_output = nullptr;
    CKestrelStatic* m_records = nullptr;
    CMyCaptionBar* m_caption = nullptr;
    QProgressBar* m_progress = nullptr;
    QDockWidget* m_treeDock = nullptr;
    QDockWidget* m_outputDock = nullptr;
    QAction* m_open = nullptr;
    QAction* m_stop = nullptr;
    QAction* m_save = nullptr;
    QAction* m_help = nullptr;
    QAction* m_about = nullptr;
    savedlgoption* m_saveDialog = nullptr;
    QTimer* m_busyWatch = nullptr;
    std::uint64_t m_progressUpper = 0;
    std::function<void(int)> m_exit;
    std::function<void(core::MainFrame&)> m_serverJob;
    std::unique_ptr<RecordPreview> m_preview;
};

}  // namespace dunmore::ui
