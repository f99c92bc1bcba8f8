// The statement sink of a save: one INSERT per row, written to the script or executed on
// the server, and the per-table lines of the log and the output pane.
#include "values/statement_sink.h"

#include "values/sql_literal.h"

namespace dunmore::values {

namespace {

constexpr std::size_t kStatementReserve = 256;

}  // namespace

StatementSink::StatementSink(core::MainFrame& frame, std::string_view streamName,
                             StatementDestination destination, const core::RowValues& columns,
                             std::string_view tableName, std::string_view statementEnd)
    : m_frame(frame),
      m_streamName(streamName),
      m_destination(destination),
      m_head(insertStatementHead(columns, tableName)),
      m_statementEnd(statementEnd) {
    if (frame.settings.checkOnly)
        m_destination = StatementDestination::None;
    else if (destination == StatementDestination::Script)
        m_scriptRows.emplace(frame.scriptWriter, columns, m_head, statementEnd,
                             frame.settings.savingFolder, saveWorkers(frame.settings.saveJobs));
    else
        m_statement.reserve(m_head.size() + kStatementReserve);
}

bool StatementSink::acceptRow(const core::RowValues& row) {
    if (m_destination == StatementDestination::None) {
        ++m_counts.written;
        return true;
    }
    if (m_scriptRows) {
        if (!m_scriptRows->writeRow(row)) {
            fail("the script file could not be written");
            return false;
        }
        ++m_counts.written;
        return true;
    }
    m_statement.assign(m_head);
    appendRowValues(row, m_frame.settings.savingFolder, m_statement);
    m_statement += m_statementEnd;
    if (m_frame.serverConnection == nullptr) {
        fail("no server connection");
        return false;
    }
    if (m_frame.serverConnection->executeStatement(m_statement)) {
        ++m_counts.written;
    } else if (m_frame.serverConnection->connectionLost()) {
        // No later row can reach the server.
        ++m_counts.rejected;
        fail("the connection to the server was lost after " + std::to_string(m_counts.written) +
             " rows");
        return false;
    } else {
        ++m_counts.rejected;
        m_frame.writeLog("row not inserted after " + std::to_string(m_counts.written) +
                         "  row no.\r\n");
    }
    return true;
}

const ScriptRowFormat* StatementSink::scriptFormat() const {
    return m_scriptRows ? &m_scriptRows->format() : nullptr;
}

bool StatementSink::acceptRun(const ScriptRowRun& run, ScriptRowRun::Cut upTo) {
    if (!m_scriptRows || !m_scriptRows->writeRun(run, upTo)) {
        fail("the script file could not be written");
        return false;
    }
    m_counts.written += upTo.rows;
    return true;
}

void StatementSink::fail(std::string reason) {
    if (!m_counts.failed) m_failure = std::move(reason);
    m_counts.failed = true;
}

void StatementSink::endScriptRows() {
    if (!m_scriptRows) return;
    if (!m_scriptRows->finish()) fail("the script file could not be written");
    m_scriptRows.reset();
}

void StatementSink::writeScriptText(std::string_view text) {
    endScriptRows();
    if (m_counts.failed || m_destination != StatementDestination::Script) return;
    m_frame.scriptWriter.writeText(text);
    if (m_frame.scriptWriter.failed()) fail("the script file could not be written");
}

bool StatementSink::finish(std::uint64_t deletedSkipped) {
    endScriptRows();
    m_counts.deletedSkipped = deletedSkipped;
    if (m_counts.failed) {
        logFailure(m_failure);
        return false;
    }
    const std::string total =
        "Total Number of record inserted =  " + std::to_string(m_counts.written) + " .";
    m_frame.writeLog(total + "\r\n\r\n");
    m_frame.addOutputLine(total);
    m_frame.writeLog("Deleted records skipped = " + std::to_string(deletedSkipped) + "\r\n");
    return true;
}

void StatementSink::reportLine(std::string_view line) {
    m_frame.writeLog(std::string(line) + "\r\n");
    m_frame.addOutputLine(line);
}

void StatementSink::reportDamage(std::uint64_t damaged, std::string_view damageLog, bool asFailure) {
    m_counts.damaged += damaged;
    if (asFailure) {
        logFailure(damageLog);
    } else if (!damageLog.empty()) {
        m_frame.writeLog(std::string(damageLog) + "\r\n");
    }
}

void StatementSink::nameLoss(std::string_view loss) {
    if (!m_counts.loss.empty()) m_counts.loss += "; ";
    m_counts.loss += loss;
}

void StatementSink::reportCheck(std::string line, bool shown) {
    m_frame.writeLog(line + "\r\n");
    if (shown) m_frame.addOutputLine(line);
    m_counts.report.push_back(std::move(line));
}

void StatementSink::logFailure(std::string_view reason) {
    std::string text = "Error in processing function ";
    text += m_streamName;
    text += "\r\n";
    if (!reason.empty()) {
        text += reason;
        text += "\r\n";
    }
    m_frame.writeLog(text);
}

}  // namespace dunmore::values
