// One table's INSERT statements to the script, built on a second thread when the save has
// more than one worker. The caller (the row walk) decodes; the worker turns the values into
// literals and writes. Batches go to the worker and back through two queues, in order.
#include "values/script_row_writer.h"

#include "values/sql_literal.h"

#include <algorithm>
#include <exception>

namespace dunmore::values {

namespace {

// Statements are gathered up to this many bytes before they are handed to the writer.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
// A batch goes to the worker at this many rows or bytes of values, whichever comes first.
constexpr std::size_t kBatchRows = 2048;
constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
// Batches in flight: the caller fills one while the worker formats another.
constexpr std::size_t kBatchCount = 4;
// A batch that once held very long values gives the memory back.
constexpr std::size_t kKeepBatchBytes = std::size_t{4} << 20;

}  // namespace

void ScriptRowWriter::Batch::clear() {
    if (text.capacity() > kKeepBatchBytes) std::string().swap(text);
    text.clear();
    ends.clear();
    flags.clear();
    rows = 0;
}

ScriptRowWriter::ScriptRowWriter(core::ScriptWriter& writer, const core::RowValues& columns,
                                 std::string head, std::string_view statementEnd,
                                 std::string savingFolder, unsigned workers)
    : m_writer(writer),
      m_columns(columns),
      m_head(std::move(head)),
      m_statementEnd(statementEnd),
      m_savingFolder(std::move(savingFolder)),
      m_rowsPerStatement(writer.rowsPerStatement()) {
    m_chunk.reserve(kChunkBytes + 4096);
    for (auto& column : m_columns) {
        column.value.clear();
        column.value.shrink_to_fit();
    }
    if (workers <= 1) return;
    m_batches.resize(kBatchCount);
    for (auto& batch : m_batches) {
        batch.ends.reserve(kBatchRows * m_columns.size());
        batch.flags.reserve(kBatchRows * m_columns.size());
        m_free.push_back(&batch);
    }
    m_worker = std::thread([this] { run(); });
}

ScriptRowWriter::~ScriptRowWriter() { (void)finish(); }

bool ScriptRowWriter::writeRow(const core::RowValues& row) {
    if (m_failed.load(std::memory_order_relaxed)) return false;
    if (!m_worker.joinable()) {
        if (m_rowsPerStatement == 1) {
            m_chunk += m_head;
            appendRowValues(row, m_savingFolder, m_chunk);
            m_chunk += m_statementEnd;
            ++m_uncountedRows;
            flushChunk(false);
        } else {
            m_row.clear();
            appendRowValues(row, m_savingFolder, m_row);
            emitRow();
        }
        return !m_failed.load(std::memory_order_relaxed);
    }
    if (m_current == nullptr) {
        std::unique_lock lock(m_mutex);
        m_freeReady.wait(lock, [&] { return !m_free.empty(); });
        m_current = m_free.front();
        m_free.pop_front();
    }
    Batch& batch = *m_current;
    const std::size_t n = std::min(row.size(), m_columns.size());
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (i < n) {
            batch.text += row[i].value;
            batch.flags.push_back(static_cast<std::uint8_t>((row[i].isNull ? kNullFlag : 0) |
                                                            (row[i].isHexLiteral ? kHexFlag : 0)));
        } else {
            batch.flags.push_back(0);
        }
        batch.ends.push_back(batch.text.size());
    }
    ++batch.rows;
    if (batch.rows >= kBatchRows || batch.text.size() >= kBatchBytes) submitCurrent();
    return true;
}

void ScriptRowWriter::submitCurrent() {
    if (m_current == nullptr) return;
    {
        std::lock_guard lock(m_mutex);
        m_full.push_back(m_current);
    }
    m_current = nullptr;
    m_fullReady.notify_one();
}

void ScriptRowWriter::formatBatch(const Batch& batch) {
    const std::size_t columns = m_columns.size();
    std::size_t value = 0;
    std::size_t start = 0;
    const bool single = m_rowsPerStatement == 1;
    for (std::size_t r = 0; r < batch.rows; ++r) {
        std::string& out = single ? m_chunk : m_row;
        if (single)
            m_chunk += m_head;
        else
            m_row.clear();
        const std::size_t rowStart = out.size();
        for (std::size_t c = 0; c < columns; ++c, ++value) {
            const std::size_t end = batch.ends[value];
            appendSqlLiteral(m_columns[c], std::string_view(batch.text).substr(start, end - start),
                             (batch.flags[value] & kNullFlag) != 0, (batch.flags[value] & kHexFlag) != 0,
                             m_savingFolder, out);
            start = end;
        }
        if (out.size() > rowStart && out.back() == ',') out.pop_back();
        if (!single) {
            emitRow();
            continue;
        }
        m_chunk += m_statementEnd;
        ++m_uncountedRows;
        flushChunk(false);
    }
}

void ScriptRowWriter::emitRow() {
    const std::size_t more = m_row.size() + 3;  // "),(" or "(" ... ")"
    if (m_openRows > 0 && (m_openRows >= m_rowsPerStatement ||
                           m_openBytes + more > core::ScriptWriter::kMaxStatementBytes))
        closeStatement();
    if (m_openRows == 0) {
        m_chunk += m_head;
        m_openBytes = m_head.size();
    } else {
        m_chunk += ",(";
    }
    m_chunk += m_row;
    m_chunk += ')';
    m_openBytes += more;
    ++m_openRows;
    ++m_uncountedRows;
    flushChunk(false);
}

void ScriptRowWriter::closeStatement() {
    if (m_openRows == 0) return;
    // The statement end without its closing parenthesis, which each row carries.
    m_chunk += std::string_view(m_statementEnd).substr(m_statementEnd.starts_with(')') ? 1 : 0);
    m_openRows = 0;
    m_openBytes = 0;
}

void ScriptRowWriter::flushChunk(bool force) {
    if (m_chunk.size() < kChunkBytes && !force) return;
    if (!m_chunk.empty() && !m_failed.load(std::memory_order_relaxed)) {
        m_writer.writeText(m_chunk);
        if (m_writer.failed()) m_failed.store(true);
    }
    m_chunk.clear();
    // The rows of the chunk are counted as it goes out, not one by one.
    m_writer.countRows(m_uncountedRows);
    m_uncountedRows = 0;
}

void ScriptRowWriter::run() {
    for (;;) {
        Batch* batch = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_fullReady.wait(lock, [&] { return !m_full.empty() || m_done; });
            if (m_full.empty()) return;
            batch = m_full.front();
            m_full.pop_front();
        }
        try {
            if (!m_failed.load(std::memory_order_relaxed)) formatBatch(*batch);
        } catch (const std::exception&) {
            m_failed.store(true);
        }
        batch->clear();
        {
            std::lock_guard lock(m_mutex);
            m_free.push_back(batch);
        }
        m_freeReady.notify_one();
    }
}

bool ScriptRowWriter::finish() {
    if (m_finished) return !m_failed.load();
    m_finished = true;
    if (m_worker.joinable()) {
        submitCurrent();
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_fullReady.notify_one();
        m_worker.join();
    }
    closeStatement();
    flushChunk(true);
    return !m_failed.load();
}

unsigned saveWorkers(std::uint32_t setting) {
    if (setting > 0) return setting;
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace dunmore::values
