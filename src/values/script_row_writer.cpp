// One table's INSERT statements to the script, built on a second thread when the save has
// more than one worker. The caller (the row walk) decodes; the worker turns the values into
// literals and writes. Batches go to the worker and back through two queues, in order.
#include "values/script_row_writer.h"

#include "core/item_journal.h"
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
// So does a run buffer beyond the text of a piece cut at its limit (4 MiB and a page).
constexpr std::size_t kKeepRunBytes = std::size_t{8} << 20;
// Room a new run buffer starts with: the text of a typical run of a table read in pieces.
constexpr std::size_t kRunReserve = std::size_t{2} << 20;

}  // namespace

void ScriptRowWriter::Batch::clear() {
    if (text.capacity() > kKeepBatchBytes) std::string().swap(text);
    text.clear();
    ends.clear();
    flags.clear();
    rows = 0;
}

std::string RunBuffers::take() {
    std::lock_guard lock(m_mutex);
    if (m_spare.empty()) {
        std::string buffer;
        buffer.reserve(kRunReserve);
        return buffer;
    }
    std::string buffer = std::move(m_spare.back());
    m_spare.pop_back();
    return buffer;
}

void RunBuffers::give(std::string buffer) {
    // A buffer that once held very long values gives the memory back.
    if (buffer.capacity() > kKeepRunBytes) return;
    std::lock_guard lock(m_mutex);
    m_spare.push_back(std::move(buffer));
}

void ScriptRowRun::addRow(const core::RowValues& row) {
    ++m_rows;
    if (m_format->rowsPerStatement == 1) {
        m_text.append(m_format->head);
        appendRowValues(row, m_format->savingFolder, m_text);
        m_text.append(m_format->statementEnd);
        return;
    }
    appendRowValues(row, m_format->savingFolder, m_text);
    m_rowEnds.push_back(m_text.size());
}

ScriptRowWriter::ScriptRowWriter(core::ScriptWriter& writer, const core::RowValues& columns,
                                 std::string head, std::string_view statementEnd,
                                 std::string savingFolder, unsigned workers)
    : m_writer(writer),
      m_columns(columns),
      m_format{std::move(head), std::string(statementEnd), std::move(savingFolder),
               writer.rowsPerStatement()},
      m_workers(workers) {
    m_chunk.reserve(kChunkBytes + 4096);
    for (auto& column : m_columns) {
        column.value.clear();
        column.value.shrink_to_fit();
    }
}

ScriptRowWriter::~ScriptRowWriter() { (void)finish(); }

void ScriptRowWriter::startWorker() {
    m_batches.resize(kBatchCount);
    for (auto& batch : m_batches) {
        batch.ends.reserve(kBatchRows * m_columns.size());
        batch.flags.reserve(kBatchRows * m_columns.size());
        m_free.push_back(&batch);
    }
    // The worker writes for the caller: into the caller's journal, if it has one.
    m_worker = std::thread([this, journal = core::ItemJournal::current()] {
        core::ItemJournal::Scope scope(journal);
        run();
    });
}

bool ScriptRowWriter::writeRow(const core::RowValues& row) {
    if (m_failed.load(std::memory_order_relaxed)) return false;
    // The worker starts with the first row, so a table written in runs has none.
    if (m_workers > 1 && !m_worker.joinable() && m_batches.empty()) startWorker();
    if (!m_worker.joinable()) {
        if (m_format.rowsPerStatement == 1) {
            m_chunk += m_format.head;
            appendRowValues(row, m_format.savingFolder, m_chunk);
            m_chunk += m_format.statementEnd;
            ++m_uncountedRows;
            flushChunk(false);
        } else {
            m_row.clear();
            appendRowValues(row, m_format.savingFolder, m_row);
            emitRow(m_row);
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

bool ScriptRowWriter::writeRun(const ScriptRowRun& run, ScriptRowRun::Cut upTo) {
    stopWorker();
    // The rows of a table written in runs are read on other threads; the few handed to
    // writeRow between runs are formatted here rather than on a worker of their own.
    m_workers = 1;
    if (m_failed.load(std::memory_order_relaxed)) return false;
    if (m_format.rowsPerStatement == 1) {
        // Statements already: they follow what the chunk holds.
        flushChunk(true);
        if (!m_failed.load(std::memory_order_relaxed)) {
            m_writer.writeText(run.m_text.view().substr(0, upTo.bytes));
            if (m_writer.failed()) m_failed.store(true);
        }
        m_writer.countRows(upTo.rows);
        return !m_failed.load(std::memory_order_relaxed);
    }
    std::size_t start = 0;
    for (std::uint64_t r = 0; r < upTo.rows && r < run.m_rowEnds.size(); ++r) {
        const std::size_t end = run.m_rowEnds[r];
        emitRow(run.m_text.view().substr(start, end - start));
        start = end;
    }
    return !m_failed.load(std::memory_order_relaxed);
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
    const bool single = m_format.rowsPerStatement == 1;
    for (std::size_t r = 0; r < batch.rows; ++r) {
        std::string& out = single ? m_chunk : m_row;
        if (single)
            m_chunk += m_format.head;
        else
            m_row.clear();
        const std::size_t rowStart = out.size();
        for (std::size_t c = 0; c < columns; ++c, ++value) {
            const std::size_t end = batch.ends[value];
            appendSqlLiteral(m_columns[c], std::string_view(batch.text).substr(start, end - start),
                             (batch.flags[value] & kNullFlag) != 0, (batch.flags[value] & kHexFlag) != 0,
                             m_format.savingFolder, out);
            start = end;
        }
        if (out.size() > rowStart && out.back() == ',') out.pop_back();
        if (!single) {
            emitRow(m_row);
            continue;
        }
        m_chunk += m_format.statementEnd;
        ++m_uncountedRows;
        flushChunk(false);
    }
}

void ScriptRowWriter::emitRow(std::string_view row) {
    const std::size_t more = row.size() + 3;  // "),(" or "(" ... ")"
    if (m_openRows > 0 && (m_openRows >= m_format.rowsPerStatement ||
                           m_openBytes + more > core::ScriptWriter::kMaxStatementBytes))
        closeStatement();
    if (m_openRows == 0) {
        m_chunk += m_format.head;
        m_openBytes = m_format.head.size();
    } else {
        m_chunk += ",(";
    }
    m_chunk += row;
    m_chunk += ')';
    m_openBytes += more;
    ++m_openRows;
    ++m_uncountedRows;
    flushChunk(false);
}

void ScriptRowWriter::closeStatement() {
    if (m_openRows == 0) return;
    // The statement end without its closing parenthesis, which each row carries.
    const std::string_view end = m_format.statementEnd;
    m_chunk += end.substr(end.starts_with(')') ? 1 : 0);
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

void ScriptRowWriter::stopWorker() {
    if (!m_worker.joinable()) return;
    submitCurrent();
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_fullReady.notify_one();
    m_worker.join();
}

bool ScriptRowWriter::finish() {
    if (m_finished) return !m_failed.load();
    m_finished = true;
    stopWorker();
    closeStatement();
    flushChunk(true);
    return !m_failed.load();
}

unsigned saveWorkers(std::uint32_t setting) {
    if (setting > 0) return setting;
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace dunmore::values
