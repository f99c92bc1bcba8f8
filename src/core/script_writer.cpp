#include "core/script_writer.h"

#include "core/item_journal.h"

namespace dunmore::core {

namespace {
// Texts are gathered up to this many bytes and written with one call: one statement per
// row makes many small appends.
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;
// A text this long is written without a copy into the buffer.
constexpr std::size_t kDirectWrite = std::size_t{64} << 10;
}  // namespace

ScriptWriter::~ScriptWriter() { close(); }

bool ScriptWriter::open(const std::filesystem::path& path) {
    close();
    m_file = std::fopen(path.c_str(), "w+b");
    m_bytes = 0;
    if (!m_file) {
        m_failed = true;
        return false;
    }
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    m_buffer.clear();
    m_buffer.reserve(kWriteChunk);
    return true;
}

void ScriptWriter::writeText(std::string_view text) {
    if (text.empty()) return;
    if (ItemJournal* journal = ItemJournal::current(); journal && journal->record(ItemJournal::Kind::Script, text))
        return;
    if (!m_file) {
        m_failed = true;
        return;
    }
    m_bytes += text.size();
    if (text.size() >= kDirectWrite) {
        // A chunk gathered by the caller goes out as it is, after what is buffered.
        flushBuffer();
        if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size()) m_failed = true;
        return;
    }
    m_buffer.append(text);
    if (m_buffer.size() >= kWriteChunk) flushBuffer();
}

void ScriptWriter::flushBuffer() {
    if (m_buffer.empty()) return;
    if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size())
        m_failed = true;
    m_buffer.clear();
}

void ScriptWriter::writeLineEnd() { writeText("\r\n"); }

void ScriptWriter::countRows(std::uint64_t rows) {
    if (ItemJournal* journal = ItemJournal::current(); journal && journal->record(ItemJournal::Kind::Rows, {}, rows))
        return;
    m_rowsWritten.fetch_add(rows, std::memory_order_relaxed);
}

void ScriptWriter::close() {
    if (!m_file) return;
    flushBuffer();
    if (std::fflush(m_file) != 0) m_failed = true;
    if (std::fclose(m_file) != 0) m_failed = true;
    m_file = nullptr;
}

}  // namespace dunmore::core
