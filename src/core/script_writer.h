#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace dunmore::core {

// The one script file open at a time. Texts are UTF-8 already inside the engine and are
// appended as they are; the file has no byte-order mark. A failed write is remembered
// (`failed`) so that the save job can report it instead of claiming success.
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

private:
    void flushBuffer();

    std::FILE* m_file = nullptr;
    std::string m_buffer;
    bool m_failed = false;
    std::uint64_t m_bytes = 0;
};

}  // namespace dunmore::core
