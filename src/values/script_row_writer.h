#pragma once

#include "core/column_definition.h"
#include "core/script_writer.h"
#include "values/row_text.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace dunmore::values {

// How the rows of one table become script text: the statement head, the statement end,
// the folder of the save (for LOAD_FILE of blob files), the column types and how many
// rows a statement carries. Read, never changed, by every thread that formats the
// table's rows.
struct ScriptRowFormat {
    std::string head;
    std::string statementEnd;
    std::string savingFolder;
    std::uint32_t rowsPerStatement = 1;
};

// The script text of a run of consecutive rows of a table, formatted apart from the
// script: with one row per statement the statements themselves, otherwise each row's
// literals, which ScriptRowWriter::writeRun joins into statements as writeRow would. So
// runs of one table can be formatted at once on several threads and written in order,
// and the script holds the bytes that writeRow would have written for the same rows.
class ScriptRowRun {
public:
    // buffer: a text buffer whose room is reused (RunBuffers); its contents are dropped.
    explicit ScriptRowRun(const ScriptRowFormat& format, std::string buffer = {})
        : m_format(&format), m_text(std::move(buffer)) {}

    void addRow(const core::RowValues& row);
    // Adds a row whose literals appendLiterals(text) appends to the run's RowText, each
    // followed by its comma, as addRow would write them from the row's values. When it
    // returns false the row is not added and what it appended is taken off again.
    template <typename AppendLiterals>
    bool addRowFrom(AppendLiterals&& appendLiterals) {
        const std::size_t mark = m_text.size();
        const bool single = m_format->rowsPerStatement == 1;
        if (single) m_text.append(m_format->head);
        const std::size_t start = m_text.size();
        if (!appendLiterals(m_text)) {
            m_text.cut(mark);
            return false;
        }
        if (m_text.size() > start && m_text.back() == ',') m_text.pop_back();
        if (single)
            m_text.append(m_format->statementEnd);
        else
            m_rowEnds.push_back(m_text.size());
        ++m_rows;
        return true;
    }
    std::size_t bytes() const { return m_text.size(); }
    std::uint64_t rows() const { return m_rows; }

    // A place the run can be cut at: after the rows added so far.
    struct Cut {
        std::size_t bytes = 0;
        std::uint64_t rows = 0;
    };
    Cut cutHere() const { return {m_text.size(), m_rows}; }
    // The text buffer, for the next run (its contents are of no further use).
    std::string releaseBuffer() { return m_text.release(); }

private:
    friend class ScriptRowWriter;
    const ScriptRowFormat* m_format;
    RowText m_text;
    std::vector<std::size_t> m_rowEnds;  // several rows per statement: where each row ends
    std::uint64_t m_rows = 0;
};

// Text buffers handed between the threads that format runs and the one that writes them,
// so that a table read in many runs allocates a few buffers, not one per run, and its
// memory stays as flat as the number of runs in flight.
class RunBuffers {
public:
    // A buffer given back before, or a new one with room for a typical run.
    std::string take();
    void give(std::string buffer);

private:
    std::mutex m_mutex;
    std::vector<std::string> m_spare;
};

// The INSERT statements of one table's rows, written to the script: head, the row's
// literals, the statement end, row after row in the order given. When the writer asks
// for more rows per statement (ScriptWriter::rowsPerStatement), rows join the open
// statement as ",(" literals ")" until it holds that many rows or would pass
// ScriptWriter::kMaxStatementBytes, and the statement end closes it; every row is
// counted on the writer (ScriptWriter::countRows) as its text is written. With
// workers > 1 the statements of rows handed to writeRow are built and written on a
// second thread while the caller decodes the next rows: each row's value texts are copied
// into a batch and the batches are formatted in order, so the bytes written are the same
// as with one worker. At most a few batches (a few thousand rows, a few MiB) are in
// flight. Runs formatted elsewhere (writeRun) are written as they are.
class ScriptRowWriter {
public:
    // columns gives the types of the table's columns (their values are not read here);
    // savingFolder is the destination folder (for LOAD_FILE of blob files).
    ScriptRowWriter(core::ScriptWriter& writer, const core::RowValues& columns, std::string head,
                    std::string_view statementEnd, std::string savingFolder, unsigned workers);
    ~ScriptRowWriter();
    ScriptRowWriter(const ScriptRowWriter&) = delete;
    ScriptRowWriter& operator=(const ScriptRowWriter&) = delete;

    // How this writer formats rows: for the runs of other threads.
    const ScriptRowFormat& format() const { return m_format; }

    // Takes the row's values (row has the columns given at construction). False once a
    // write of the script has failed: the rows after it are not written.
    bool writeRow(const core::RowValues& row);
    // Writes the rows of a run (made with format()) up to upTo after those taken before.
    // False when a write has failed.
    bool writeRun(const ScriptRowRun& run, ScriptRowRun::Cut upTo);
    // Writes every row taken and waits for the worker. False when a write failed.
    bool finish();

private:
    struct Batch {
        std::string text;                  // the values of the batch's rows, back to back
        std::vector<std::size_t> ends;     // per value: its end in text
        std::vector<std::uint8_t> flags;   // per value: kNullFlag, kHexFlag
        std::size_t rows = 0;
        void clear();
    };

    static constexpr std::uint8_t kNullFlag = 1;
    static constexpr std::uint8_t kHexFlag = 2;

    void formatBatch(const Batch& batch);
    // Puts a row's literals into the script text as the next row of an extended INSERT.
    void emitRow(std::string_view row);
    // Ends the open extended INSERT, if any.
    void closeStatement();
    void flushChunk(bool force);
    void startWorker();
    // Formats what the worker still has and ends it.
    void stopWorker();
    void run();
    void submitCurrent();

    core::ScriptWriter& m_writer;
    core::RowValues m_columns;
    ScriptRowFormat m_format;
    unsigned m_workers = 1;
    std::string m_chunk;
    std::string m_row;              // the literals of the row being emitted (extended INSERTs)
    std::uint32_t m_openRows = 0;   // rows of the open extended INSERT
    std::size_t m_openBytes = 0;
    std::uint64_t m_uncountedRows = 0;  // rows in m_chunk, counted on the writer when it is written
    std::atomic<bool> m_failed{false};
    bool m_finished = false;

    // Worker mode only.
    std::vector<Batch> m_batches;
    Batch* m_current = nullptr;
    std::deque<Batch*> m_full;
    std::deque<Batch*> m_free;
    bool m_done = false;
    std::mutex m_mutex;
    std::condition_variable m_fullReady;
    std::condition_variable m_freeReady;
    std::thread m_worker;
};

// Workers for a save: the setting when it is above 0, else the cores of the computer.
unsigned saveWorkers(std::uint32_t setting);

}  // namespace dunmore::values
