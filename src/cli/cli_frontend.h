#pragma once

#include "core/frontend.h"
#include "core/script_writer.h"

#include <chrono>
#include <map>

#include <cstdint>
#include <optional>
#include <string>

namespace dunmore::cli {

// The terminal front end: output lines to standard output, message-box texts to
// standard error, progress on standard error only when it is a terminal. Questions are
// answered No, except the ibdata1 browse question, answered Yes when --ibdata1 is given.
class CliFrontend : public core::Frontend {
public:
    explicit CliFrontend(std::string ibdata1 = {});

    void addOutputLine(std::string_view text) override;
    void setCaption(std::string_view text) override;
    void setProgressRange(std::uint64_t upper) override;
    void setProgressPosition(std::uint64_t pos) override;
    void showProgress(bool visible) override;
    void showMessage(std::string_view text) override;
    bool askYesNo(core::Question kind, std::string_view text) override;
    std::optional<std::string> chooseFile() override;
    void enableTree(bool) override {}

    // Messages are printed to standard error unless quiet (tests of the plain output).
    void setQuietMessages(bool quiet) { m_quietMessages = quiet; }
    // Output lines are not printed (commands whose standard output is a result, such as
    // schema and preview, while they scan).
    void setQuietLines(bool quiet) { m_quietLines = quiet; }

    // Shows a save's progress on a terminal as one line: the table being saved, its rows
    // so far (counted by writer), the share of the whole save done and the time left.
    // tableBytes weighs each table ("db.table", as the tree names it) by its size on disk.
    void trackSave(const core::ScriptWriter& writer, std::map<std::string, std::uint64_t> tableBytes);
    // Whether progress is drawn (standard error is a terminal).
    bool isTerminal() const { return m_terminal; }

private:
    void clearProgressLine();
    void drawSaveProgress(bool force);

    std::string m_ibdata1;
    bool m_terminal = false;
    bool m_progressShown = false;
    bool m_quietMessages = false;
    bool m_quietLines = false;
    std::uint64_t m_upper = 0;
    int m_lastPercent = -1;

    // The save being tracked.
    const core::ScriptWriter* m_writer = nullptr;
    std::map<std::string, std::uint64_t> m_tableBytes;
    std::uint64_t m_totalBytes = 0;
    std::uint64_t m_doneBytes = 0;     // tables finished
    std::string m_database;            // of the script being written
    std::string m_table;               // "db.table" being saved
    std::uint64_t m_tableRowsStart = 0;
    std::uint64_t m_position = 0;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace dunmore::cli
