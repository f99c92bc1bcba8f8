#include "core/script_writer.h"

namespace dunmore::core {

ScriptWriter::~ScriptWriter() { close(); }

bool ScriptWriter::open(const std::filesystem::path& path) {
    close();
    m_file = std::fopen(path.c_str(), "w+b");
    m_bytes = 0;
    if (!m_file) {
        m_failed = true;
        return false;
    }
    // Large buffer: one statement per row makes many small appends.
    std::setvbuf(m_file, nullptr, _IOFBF, 1 << 20);
    return true;
}

void ScriptWriter::writeText(std::string_view text) {
    if (text.empty()) return;
    if (!m_file) {
        m_failed = true;
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size()) m_failed = true;
    m_bytes += text.size();
}

void ScriptWriter::writeLineEnd() { writeText("\r\n"); }

void ScriptWriter::close() {
    if (!m_file) return;
    if (std::fflush(m_file) != 0) m_failed = true;
    if (std::fclose(m_file) != 0) m_failed = true;
    m_file = nullptr;
}

}  // namespace dunmore::core
