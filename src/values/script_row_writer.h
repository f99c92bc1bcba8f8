#pragma once

#include "core/column_definition.h"
#include "core/script_writer.h"

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

// The INSERT statements of one table's rows, written to the script: head, the row's
// literals, the statement end, row after row in the order given. When the writer asks
// for more rows per statement (ScriptWriter::rowsPerStatement), rows join the open
// statement as ",(" literals ")" until it holds that many rows or would pass
// ScriptWriter::kMaxStatementBytes, and the statement end closes it; every row is
// counted on the writer (ScriptWriter::countRows) as its text is written. With workers > 1 the
// statements are built and written on a second thread while the caller decodes the next
// rows: each row's value texts are copied into a batch and the batches are formatted in
// order, so the bytes written are the same as with one worker. At most a few batches
// (a few thousand rows, a few MiB) are in flight.
class ScriptRowWriter {
public:
    // columns gives the types of the table's columns (their values are not read here);
    // savingFolder is the destination folder (for LOAD_FILE of blob files).
    ScriptRowWriter(core::ScriptWriter& writer, const core::RowValues& columns, std::string head,
                    std::string_view statementEnd, std::string savingFolder, unsigned workers);
    ~ScriptRowWriter();
    ScriptRowWriter(const ScriptRowWriter&) = delete;
    ScriptRowWriter& operator=(const ScriptRowWriter&) = delete;

    // Takes the row's values (row has the columns given at construction). False once a
    // write of the script has failed: the rows after it are not written.
    bool writeRow(const core::RowValues& row);
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
    // Puts the literals in m_row into the script text as the next row.
    void emitRow();
    // Ends the open extended INSERT, if any.
    void closeStatement();
    void flushChunk(bool force);
    void run();
    void submitCurrent();

    core::ScriptWriter& m_writer;
    core::RowValues m_columns;
    std::string m_head;
    std::string m_statementEnd;
    std::string m_savingFolder;
    std::string m_chunk;
    std::uint32_t m_rowsPerStatement = 1;
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
