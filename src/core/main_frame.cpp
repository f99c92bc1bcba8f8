#include "core/main_frame.h"

#include "core/item_journal.h"

#include <filesystem>

namespace dunmore::core {

MainFrame::~MainFrame() { waitForJob(); }

void MainFrame::addOutputLine(std::string_view text) {
    if (ItemJournal* journal = ItemJournal::current();
        journal && journal->record(ItemJournal::Kind::OutputLine, text))
        return;
    frontend.addOutputLine(text);
    ++settings.outputLineCount;
}

void MainFrame::writeLog(std::string_view text) {
    if (ItemJournal* journal = ItemJournal::current(); journal && journal->record(ItemJournal::Kind::Log, text))
        return;
    logFile.write(text);
}

void MainFrame::setProgressRange(std::uint64_t upper) {
    if (ItemJournal* journal = ItemJournal::current();
        journal && journal->record(ItemJournal::Kind::ProgressRange, {}, upper))
        return;
    frontend.setProgressRange(upper);
}

void MainFrame::setProgressPosition(std::uint64_t position) {
    if (ItemJournal* journal = ItemJournal::current();
        journal && journal->record(ItemJournal::Kind::ProgressPosition, {}, position))
        return;
    frontend.setProgressPosition(position);
}

bool MainFrame::startJob(std::function<void(MainFrame&)> job) {
    if (settings.busy.load() != 0) {
        frontend.showMessage(kPleaseWait);
        return false;
    }
    settings.busy = 1;
    runWorker(std::move(job));
    return true;
}

void MainFrame::runWorker(std::function<void(MainFrame&)> job) {
    waitForJob();
    m_worker = std::thread([this, job = std::move(job)] { job(*this); });
}

void MainFrame::waitForJob() {
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) m_worker.join();
}

void MainFrame::stopCommand() {
    if (settings.busy.load() == 0) return;
    if (frontend.askYesNo(Question::StopRunningProcess, "Are you sure to stop the running process?"))
        settings.stopRequested = 1;
}

bool MainFrame::closeRequest() {
    if (settings.busy.load() != 0) {
        frontend.showMessage("Please stop the running process to close the application.");
        return false;
    }
    if (!frontend.askYesNo(Question::CloseApplication, "Do you want to close the application?")) return false;
    context.closeSystemTablespace();
    previewTable = std::make_unique<TableReader>();
    std::error_code ec;
    if (!settings.logFilePath.empty() && std::filesystem::exists(settings.logFilePath, ec))
        frontend.showMessage("Log file path : " + settings.logFilePath);
    return true;
}

std::shared_ptr<const PreviewSnapshot> previewSnapshot(const TableReader& table) {
    auto page = std::make_shared<PreviewSnapshot>();
    page->columns = table.columns;
    page->rows = table.previewRows;
    page->moreRows = table.moreRows;
    return page;
}

}  // namespace dunmore::core
