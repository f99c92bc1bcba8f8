#pragma once

#include "core/catalogue.h"
#include "core/check_tree.h"
#include "core/frontend.h"
#include "core/log_file.h"
#include "core/recovery_context.h"
#include "core/script_writer.h"
#include "core/settings.h"
#include "core/statement_executor.h"
#include "core/table_reader.h"

#include <functional>
#include <memory>
#include <string_view>
#include <thread>

namespace dunmore::core {

inline constexpr std::string_view kApplicationTitle = "Dunmore(Full) v22.08";
inline constexpr std::string_view kPleaseWait = "Please wait for the running process.";

// The engine side of the main frame: what every job is handed. It owns the catalogue,
// the check tree, the one RecoveryContext, the reader of the table the records pane
// shows, the log and the script writer, and reaches the person only through the
// Frontend.
class MainFrame {
public:
    MainFrame(AppSettings& settings, Frontend& frontend) : settings(settings), frontend(frontend) {}
    ~MainFrame();
    MainFrame(const MainFrame&) = delete;
    MainFrame& operator=(const MainFrame&) = delete;

    AppSettings& settings;
    Frontend& frontend;
    Catalogue catalogue;
    CheckTree tree;
    RecoveryContext context;
    // The table the preview read last, kept open for its later pages (an engine's reader
    // once a table was previewed; never null).
    std::unique_ptr<TableReader> previewTable = std::make_unique<TableReader>();
    LogFile logFile;
    ScriptWriter scriptWriter;
    // The open server connection of a save into a server; null otherwise.
    StatementExecutor* serverConnection = nullptr;

    // A line in the output pane (no line break in the text).
    void addOutputLine(std::string_view text);
    // Appends text to the log; no line break is added.
    void writeLog(std::string_view text);
    // The progress bar of the item being saved (Frontend::setProgressRange/Position).
    // These three and the script writer keep to the calling thread's ItemJournal, if any.
    void setProgressRange(std::uint64_t upper);
    void setProgressPosition(std::uint64_t position);
    bool stopRequested() const { return settings.stopRequested.load() != 0; }

    // Admission of a job: "Please wait for the running process." and false while busy;
    // otherwise busy is set, the job runs on a new worker thread and true is returned.
    // The job must clear busy as its very last step (after its final message), so that
    // the worker of an admitted job's predecessor has nothing left but to return and
    // joining it here never waits on the person. Call on the thread that runs commands.
    bool startJob(std::function<void(MainFrame&)> job);
    // Waits for the worker of the last started job (command line and tests).
    void waitForJob();
    // Runs job on a new worker thread without admission (the caller has set busy).
    void runWorker(std::function<void(MainFrame&)> job);

    // Stop command: asks while busy and on Yes sets stopRequested; asks nothing when idle.
    void stopCommand();

    // Close request. Returns false when the application keeps running; true when the
    // caller is to end the process (the files are closed and the log path was shown).
    bool closeRequest();

private:
    std::thread m_worker;
};

// The records pane's own copy of the page the preview read into table.previewRows, with
// the table's columns and moreRows, for Frontend::showPreview.
std::shared_ptr<const PreviewSnapshot> previewSnapshot(const TableReader& table);

}  // namespace dunmore::core
