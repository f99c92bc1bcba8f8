#pragma once

#include "core/main_frame.h"
#include "core/row_sink.h"
#include "values/script_row_writer.h"

#include <optional>
#include <string>
#include <string_view>

namespace dunmore::values {

// None: the rows are counted and go nowhere (a check).
enum class StatementDestination { Script, Server, None };

// The save's sink of one table's rows, fed by the MyISAM and the InnoDB streams alike:
// every row becomes one INSERT statement (the head built once, the row's literals, the
// stream's statement end), written to the script through a ScriptRowWriter (which may
// build the statements on a second thread, settings.saveJobs) or executed on
// frame.serverConnection. It keeps the table's counts and writes the lines the stream
// logs: "row not inserted after N  row no." for a row the server refused, the total
// line, the deleted count, and "Error in processing function " + the stream's name.
// While settings.checkOnly is set the rows are only counted (dunmore check).
class StatementSink : public core::RowSink {
public:
    // streamName is the name the stream logs (mydfileforscript, parseibdfilefordatabase ...).
    StatementSink(core::MainFrame& frame, std::string_view streamName,
                  StatementDestination destination, const core::RowValues& columns,
                  std::string_view tableName, std::string_view statementEnd);

    // Writes or executes the row's statement. A row the server refuses is logged and
    // counted as rejected, and the walk goes on; a failed script write, a missing or a
    // lost connection ends it (false) and fails the table.
    bool acceptRow(const core::RowValues& row) override;

    // The script format of the table's rows, for rows formatted on other threads (runs);
    // null unless the rows go to the script.
    const ScriptRowFormat* scriptFormat() const;
    // Writes a run of rows formatted with scriptFormat() up to upTo, after the rows before
    // it, and counts them. A failed script write fails the table (false).
    bool acceptRun(const ScriptRowRun& run, ScriptRowRun::Cut upTo);
    bool acceptRun(const ScriptRowRun& run) { return acceptRun(run, run.cutHere()); }

    // The walk ended on a failure: reason goes to the log when the table is finished.
    // The first reason is kept.
    void fail(std::string reason);
    // Appends text to the script after the last row (MyISAM's COMMIT); a failed write
    // fails the table.
    void writeScriptText(std::string_view text);
    // Ends the table. After a failure: "Error in processing function <name>" and the
    // reason in the log, no total line, false. Otherwise the total line in the log
    // (followed by two line ends) and the output pane, "Deleted records skipped = N" in
    // the log, and true.
    bool finish(std::uint64_t deletedSkipped);
    // After finish: a line about the table's damage, in the log and the output pane.
    void reportLine(std::string_view line);
    // After finish: rows were lost to damage. damageLog goes to the log as it stands
    // (asFailure: under the stream's "Error in processing function" line; nothing when
    // it is empty and not asFailure).
    void reportDamage(std::uint64_t damaged, std::string_view damageLog, bool asFailure);
    // Names what of the table was lost, for the job's final message (counts().loss, the
    // names joined by "; ").
    void nameLoss(std::string_view loss);
    // A line of the table's damage report: to the log (and, when shown, the output
    // pane), and kept in counts().report.
    void reportCheck(std::string line, bool shown = false);

    const core::TableRowCounts& counts() const { return m_counts; }

private:
    void logFailure(std::string_view reason);
    // Waits until every script row taken is written; a failed write fails the table.
    void endScriptRows();

    core::MainFrame& m_frame;
    std::string_view m_streamName;
    StatementDestination m_destination;
    std::string m_head;
    std::string_view m_statementEnd;
    std::string m_statement;
    std::optional<ScriptRowWriter> m_scriptRows;
    std::string m_failure;
    core::TableRowCounts m_counts;
};

}  // namespace dunmore::values
