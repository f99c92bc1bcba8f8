#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace dunmore::core {

// The one script file open at a time. Texts are UTF-8 already inside the engine and are
// appended as they are; the file has no byte-order mark. A failed write is remembered
// (`failed`) so that the save job can report it instead of claiming success. Texts and
// row counts of a thread with an ItemJournal go to the journal until the item's turn.
class ScriptWriter {
public:
    ScriptWriter() = default;
    ~ScriptWriter();
    ScriptWriter(const ScriptWriter&) = delete;
    ScriptWriter& operator=(const ScriptWriter&) = delete;

    // Creates or truncates the file. Returns whether it opened.
    bool open(const std::filesystem::path& path);
    bool isOpen() const { return m_file != nullptr; }
    // Appends the bytes of text (no terminator). An empty text writes nothing.
    void writeText(std::string_view text);
    // Appends CR LF.
    void writeLineEnd();
    // Flushes and closes; a failure to flush counts as a failed write.
    void close();

    bool failed() const { return m_failed; }
    void resetFailure() { m_failed = false; }
    std::uint64_t bytesWritten() const { return m_bytes; }

    // How many rows one INSERT statement carries (1 and up; 1 by default): read by the
    // row writers that build the statements of a table.
    void setRowsPerStatement(std::uint32_t rows) { m_rowsPerStatement = rows == 0 ? 1 : rows; }
    std::uint32_t rowsPerStatement() const { return m_rowsPerStatement; }
    // Rows of INSERT statements written so far, over every file the writer opened (the
    // row writers count them; read from any thread for progress).
    void countRows(std::uint64_t rows);
    std::uint64_t rowsWritten() const { return m_rowsWritten.load(std::memory_order_relaxed); }

    // An extended INSERT grows to at most this many bytes of values, well under the
    // smallest max_allowed_packet of a current server (the client's default is 16 MiB);
    // a single larger row still goes alone.
    static constexpr std::size_t kMaxStatementBytes = 1 << 20;

private:
    void flushBuffer();

    std::FILE* m_file = nullptr;
    std::string m_buffer;
    bool m_failed = false;
    std::uint64_t m_bytes = 0;
    std::uint32_t m_rowsPerStatement = 1;
    std::atomic<std::uint64_t> m_rowsWritten{0};
};

}  // namespace dunmore::core
