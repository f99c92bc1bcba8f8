#include "core/log_file.h"

#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace dunmore::core {
namespace {

namespace fs = std::filesystem;

std::tm at(int day, int month, int year, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_mday = day;
    tm.tm_mon = month - 1;
    tm.tm_year = year - 1900;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return tm;
}

std::string utf16(const std::string& ascii) { return utf8ToUtf16le(ascii); }

TEST(LogFile, NameStampHasNoLeadingZeros) {
    EXPECT_EQ(logFileName(at(7, 3, 2024, 9, 5, 3)), "Dunmore_log_7-3-2024-9-5-3.txt");
    EXPECT_EQ(logFileName(at(31, 12, 1999, 23, 59, 59)), "Dunmore_log_31-12-1999-23-59-59.txt");
    EXPECT_EQ(logFileName(std::nullopt), "Dunmore_log_0-0-0--1--1--1.txt");
}

TEST(LogFile, NewFileHasBomAndSeparatorAndReopenAppends) {
    const fs::path dir = fs::temp_directory_path() / "dunmore_log_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto now = at(7, 3, 2024, 9, 5, 3);
    const std::string stars = "\r\n" + std::string(80, '*') + "\r\n";
    {
        LogFile log;
        const std::string path = log.open(dir.string() + "/", now).value();
        EXPECT_EQ(path, dir.string() + "/Dunmore_log_7-3-2024-9-5-3.txt");
        log.write("Processing ibdata1 File\r\n");
    }
    std::string text = test::readFileText(dir / "Dunmore_log_7-3-2024-9-5-3.txt");
    EXPECT_EQ(text, "\xFF\xFE" + utf16(stars) + utf16("Processing ibdata1 File\r\n"));
    {
        // A second Open in the same second appends: no second byte-order mark.
        LogFile log;
        log.open(dir.string() + "/", now).value();
    }
    const std::string again = test::readFileText(dir / "Dunmore_log_7-3-2024-9-5-3.txt");
    EXPECT_EQ(again, text + utf16(stars));
    fs::remove_all(dir);
}

// A log that cannot be created says so and names where it was to be; it is not taken
// for a log that holds the job's lines.
TEST(LogFile, ALogThatCannotBeCreatedIsAnIoErrorNamingItsPath) {
    LogFile log;
    const std::string folder = "/nonexistent/dunmore_logs/";
    const Result<std::string> opened = log.open(folder, at(7, 3, 2024, 9, 5, 3));
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.status().code(), StatusCode::IoError);
    EXPECT_NE(opened.status().message().find(folder + "Dunmore_log_7-3-2024-9-5-3.txt"),
              std::string::npos)
        << opened.status().message();
    EXPECT_TRUE(log.failed());
    EXPECT_FALSE(log.isOpen());
    log.write("nothing to write to\r\n");
    EXPECT_FALSE(fs::exists(folder));
}

TEST(LogFile, Utf16ConversionKeepsEveryCharacter) {
    struct Case { const char* name; std::string in; std::string out; };
    const Case cases[] = {
        {"ascii", "a", std::string("a\0", 2)},
        {"e acute", "\xC3\xA9", std::string("\xE9\0", 2)},
        {"emoji needs a surrogate pair", "\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4)},
        {"invalid byte taken as windows-1252", "\x80", std::string("\xAC\x20", 2)},
        {"lone continuation byte", "\xA9", std::string("\xA9\0", 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8ToUtf16le(c.in), c.out);
    }
    EXPECT_EQ(logSectionEnd(), "\r\n " + std::string(84, '*') + "\r\n");
}

}  // namespace
}  // namespace dunmore::core
