#include "core/file_name.h"

#include <gtest/gtest.h>

namespace dunmore::core {
namespace {

// Folder and file names as MariaDB 10.11 writes them for the names on the right.
TEST(FileName, DecodesTheServersEncoding) {
    struct Case {
        const char* onDisk;
        const char* real;
    };
    const Case kCases[] = {
        {"plain_Name09", "plain_Name09"},
        {"shop@002deu", "shop-eu"},
        {"ware@0020house", "ware house"},
        {"orders@002e2024", "orders.2024"},
        {"caf@0p", "café"},
        {"Gr@1i@1je", "Größe"},
        {"@0K@0O@0P@0Q@0Z", "ÄÈÉÊÓ"},
        {"@W0@u0@x0@x0@o0@r1", "Россия"},
        {"@65e5@672c@8a9e", "日本語"},
        {"x@0040@0040@0040", "x@@@"},
        {"a@005c@005cb", "a\\\\b"},
        {"q@0060t", "q`t"},
        {"a@002fb", "a/b"},
        {"@002e", "."},
        {"ends@@@here", "ends"},
        {"#mysql50#a-b.old", "a-b.old"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.onDisk);
        const auto decoded = decodeFileName(c.onDisk);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(*decoded, c.real);
        EXPECT_EQ(realName(c.onDisk), c.real);
    }
}

// Names a 5.1+ server never writes stay as they are on disk.
TEST(FileName, KeepsWhatIsNotEncoded) {
    const char* kNames[] = {
        "a-b",          // a pre-5.1 name
        "t#P#p0",       // a partition's file
        "#sql-1a2b_3",  // a temporary table
        "caf\xc3\xa9",  // raw UTF-8
        "a@",           // escape cut short
        "a@0",
        "a@002",
        "a@002D",       // hexadecimal digits are lower case
        "a@00g1",
        "a@0000",       // NUL
        "a@d800",       // a lone surrogate
        "",
        "@@@",          // nothing before the end mark
        "#mysql50#",
    };
    for (const char* n : kNames) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(decodeFileName(n).has_value());
        EXPECT_EQ(realName(n), n);
    }
}

TEST(FileName, DatabaseNameIsTheDecodedLastPart) {
    EXPECT_EQ(databaseName("/data/shop@002deu"), "shop-eu");
    EXPECT_EQ(databaseName("/data/shop@002deu/"), "shop-eu");
    EXPECT_EQ(databaseName("/data/old-name"), "old-name");
}

}  // namespace
}  // namespace dunmore::core
