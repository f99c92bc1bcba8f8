#pragma once

#include "core/status.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace dunmore::core {

// The job log: UTF-16 little-endian with a byte-order mark, lines ended by CR LF that
// the callers put into their texts. Engine text is UTF-8; it is converted on write.
class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens the log for a new Open command in logFolder (which ends with a separator)
    // and writes the separator line. Returns the path of the log; IoError naming the path
    // and the reason when the file can be neither created nor opened (failed() is then
    // set and later writes do nothing). The stamp is taken from `now` (local time);
    // nullopt means the local time could not be determined.
    Result<std::string> open(const std::string& logFolder, const std::optional<std::tm>& now);
    bool isOpen() const { return m_file != nullptr; }
    // Appends text as UTF-16LE; no line break is added. A failed write has no effect
    // on the file but is remembered (failed()).
    void write(std::string_view utf8);
    void close();
    // The log could not be created, or a write to it failed (a read-only or full
    // folder) since the last open: it does not hold what the job reported.
    bool failed() const { return m_failed; }

private:
    std::FILE* m_file = nullptr;
    bool m_failed = false;
};

// "Dunmore_log_" + day-month-year-hour-minute-second + ".txt", numbers without leading
// zeros; nullopt gives 0-0-0--1--1--1.
std::string logFileName(const std::optional<std::tm>& now);

// The current local time, or nullopt when it cannot be determined.
std::optional<std::tm> currentLocalTime();

// UTF-8 to UTF-16LE bytes. Invalid UTF-8 bytes are taken as Windows-1252 characters so
// that nothing is lost.
std::string utf8ToUtf16le(std::string_view utf8);

// The log's section end: CR LF, one blank, 84 asterisks, CR LF.
std::string logSectionEnd();

}  // namespace dunmore::core
