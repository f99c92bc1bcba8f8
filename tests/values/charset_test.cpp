// Character data to UTF-8: the character set named by the collation, and bytes the set
// cannot decode kept as Windows-1252 characters.

#include "values/charset.h"

#include "schema/collation_table.h"
#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace dunmore::values {
namespace {

std::string utf8(std::uint32_t collation, std::string_view bytes) {
    return textToUtf8(collation, core::asBytes(bytes));
}

struct Case {
    const char* name;
    std::uint32_t collation;
    std::string bytes;
    std::string text;
};

// Collation numbers as MySQL and MariaDB number them.
const Case kCases[] = {
    {"latin1 e acute", 8, "caf\xE9", "café"},
    {"latin1 is cp1252", 8, "\x80\x99", "€™"},
    {"latin1 undefined cp1252 bytes", 47, "\x81\x8D\x8F\x90\x9D", "\u0081\u008D\u008F\u0090\u009D"},
    {"latin1 nul kept", 8, std::string("a\0b", 3), std::string("a\0b", 3)},
    {"utf8mb4 emoji", 45, "\xF0\x9F\x98\x80", "😀"},
    {"utf8mb3", 33, "\xE2\x82\xAC", "€"},
    {"utf8mb4 invalid byte", 45, "a\xFF" "b", "aÿb"},
    {"utf8mb4 truncated sequence", 45, "a\xE2\x82", "aâ‚"},
    {"utf8mb4 overlong", 46, "\xC0\xAF", "À¯"},
    {"utf8mb4 surrogate", 224, "\xED\xA0\x80", "í\u00A0€"},
    {"utf8mb4 above U+10FFFF", 45, "\xF4\x90\x80\x80", "ô\u0090€€"},
    {"binary as cp1252", 63, "\xE9", "é"},
    {"unknown collation", 9999, "\xE9", "é"},
    {"cp1251", 51, "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
    {"cp1251 bulgarian", 14, "\xA8", "Ё"},
    {"sjis", 13, "\x93\xFA\x96\x7B", "日本"},
    {"sjis ascii backslash and tilde", 13, "\\~", "\\~"},
    {"sjis fullwidth backslash is MySQL's backslash", 88, "\x81\x5F", "\\"},
    {"sjis trail byte 0x5C", 13, "\x95\x5C", "表"},
    {"sjis lone lead byte", 13, "a\x93", "a“"},
    {"cp932", 95, "\x81\x5F", "＼"},
    {"ucs2", 35, std::string("\x00\x41\x03\xA9", 4), "AΩ"},
    {"ucs2 odd byte", 35, std::string("\x00\x41\x03", 3), "A\u0003"},
    {"utf16 surrogate pair", 54, std::string("\xD8\x3D\xDE\x00", 4), "😀"},
    {"utf16 lone surrogate", 54, std::string("\xD8\x3D\x00\x41", 4), "Ø=A"},
    {"utf16le", 56, std::string("A\x00\xE9\x00", 4), "Aé"},
    {"utf32", 60, std::string("\x00\x01\xF6\x00", 4), "😀"},
    {"gbk", 28, "\xD6\xD0\xCE\xC4", "中文"},
    {"gb2312", 24, "\xD6\xD0", "中"},
    {"big5", 1, "\xA4\xA4", "中"},
    {"euckr", 19, "\xC7\xD1", "한"},
    {"ujis", 12, "\xC6\xFC", "日"},
    {"koi8r", 7, "\xED\xC9\xD2", "Мир"},
    {"latin2", 9, "\xA3\xF3", "Łó"},
    {"greek", 25, "\xE1", "α"},
};

TEST(Charset, BuiltInCollationMap) {
    schema::setApplicationCollations({});
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8(c.collation, c.bytes), c.text);
    }
}

// The same cases through the collation table the application ships.
TEST(Charset, ShippedCollationTable) {
    const std::filesystem::path dir = std::filesystem::path(DUNMORE_SOURCE_DIR) / "data";
    schema::CollationTable table;
    table.loadCollationTable(dir / schema::kCollationFileName);
    ASSERT_FALSE(table.empty());
    schema::setApplicationCollations(table);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8(c.collation, c.bytes), c.text);
    }
    schema::setApplicationCollations({});
}

TEST(Charset, ReusesTheOutputBuffer) {
    std::string out = "old text that is longer";
    textToUtf8(45, core::asBytes("new"), out);
    EXPECT_EQ(out, "new");
    textToUtf8(51, core::asBytes("\xE6"), out);
    EXPECT_EQ(out, "ж");
    textToUtf8(45, {}, out);
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace dunmore::values
