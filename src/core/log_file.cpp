#include "core/log_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace dunmore::core {

namespace {

// Windows-1252 code points of bytes 0x80..0x9F; other bytes map to themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void putUnit(std::string& out, std::uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>((unit >> 8) & 0xFF));
}

void putCodePoint(std::string& out, std::uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        putUnit(out, 0xD800 + (cp >> 10));
        putUnit(out, 0xDC00 + (cp & 0x3FF));
    } else {
        putUnit(out, cp);
    }
}

}  // namespace

std::string utf8ToUtf16le(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0;
        std::size_t len = 0;
        if (b0 < 0x80) {
            cp = b0;
            len = 1;
        } else if ((b0 & 0xE0) == 0xC0) {
            cp = b0 & 0x1F;
            len = 2;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = b0 & 0x0F;
            len = 3;
        } else if ((b0 & 0xF8) == 0xF0) {
            cp = b0 & 0x07;
            len = 4;
        }
        bool valid = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; valid && k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (valid && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) ||
                      (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                      (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            putCodePoint(out, b0 >= 0x80 && b0 < 0xA0 ? kCp1252High[b0 - 0x80] : b0);
            ++i;
            continue;
        }
        putCodePoint(out, cp);
        i += len;
    }
    return out;
}

std::string logFileName(const std::optional<std::tm>& now) {
    char stamp[96];
    if (now)
        std::snprintf(stamp, sizeof stamp, "%d-%d-%d-%d-%d-%d", now->tm_mday, now->tm_mon + 1,
                      now->tm_year + 1900, now->tm_hour, now->tm_min, now->tm_sec);
    else
        std::snprintf(stamp, sizeof stamp, "%d-%d-%d-%d-%d-%d", 0, 0, 0, -1, -1, -1);
    return std::string("Dunmore_log_") + stamp + ".txt";
}

std::optional<std::tm> currentLocalTime() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    if (t == static_cast<std::time_t>(-1) || !localtime_r(&t, &tm)) return std::nullopt;
    return tm;
}

std::string logSectionEnd() { return "\r\n " + std::string(84, '*') + "\r\n"; }

LogFile::~LogFile() { close(); }

Result<std::string> LogFile::open(const std::string& logFolder, const std::optional<std::tm>& now) {
    const std::string path = logFolder + logFileName(now);
    close();
    m_failed = false;
    std::error_code ec;
    const bool exists = std::filesystem::exists(path, ec);
    if (!exists) {
        m_file = std::fopen(path.c_str(), "w+b");
        if (m_file) std::fwrite("\xFF\xFE", 1, 2, m_file);
    } else {
        m_file = std::fopen(path.c_str(), "r+b");
        if (m_file) std::fseek(m_file, 0, SEEK_END);
    }
    if (!m_file) {
        m_failed = true;
        return Status::ioError("the log file " + path + " cannot be " +
                               (exists ? "opened" : "created") + ": " + std::strerror(errno));
    }
    write("\r\n" + std::string(80, '*') + "\r\n");
    return path;
}

void LogFile::write(std::string_view utf8) {
    if (!m_file || utf8.empty()) return;
    const std::string bytes = utf8ToUtf16le(utf8);
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size() || std::fflush(m_file) != 0)
        m_failed = true;
}

void LogFile::close() {
    if (m_file && std::fclose(m_file) != 0) m_failed = true;
    m_file = nullptr;
}

}  // namespace dunmore::core
