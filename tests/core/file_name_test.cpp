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

// Encoding gives back the server's file names of the names above.
TEST(FileName, EncodesAsTheServerDoes) {
    const char* kNames[] = {"plain_Name09", "shop@002deu", "ware@0020house", "orders@002e2024", "caf@0p",
                            "Gr@1i@1je", "@0K@0O@0P@0Q@0Z", "@W0@u0@x0@x0@o0@r1", "@65e5@672c@8a9e",
                            "x@0040@0040@0040", "a@005c@005cb", "q@0060t", "p@002dmax"};
    for (const char* onDisk : kNames) {
        SCOPED_TRACE(onDisk);
        EXPECT_EQ(encodeFileName(*decodeFileName(onDisk)), onDisk);
    }
}

// The files of partitions and subpartitions, in both cases the servers write them.
TEST(FileName, SplitsPartitionFileNames) {
    struct Case {
        const char* onDisk;
        const char* table;
        const char* partition;
        const char* subpartition;
    };
    const Case kCases[] = {
        {"t#P#p0", "t", "p0", ""},
        {"r_my#P#p@002dmax", "r_my", "p@002dmax", ""},
        {"s_in#P#p0#SP#p0sp0", "s_in", "p0", "p0sp0"},
        {"s_in#p#p0#sp#p0sp0", "s_in", "p0", "p0sp0"},
        {"shop@002deu#P#p1", "shop@002deu", "p1", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.onDisk);
        const auto parts = splitPartitionFileName(c.onDisk);
        ASSERT_TRUE(parts.has_value());
        EXPECT_EQ(parts->table, c.table);
        EXPECT_EQ(parts->partition, c.partition);
        EXPECT_EQ(parts->subpartition, c.subpartition);
        if (std::string_view(c.onDisk).find("#P#") != std::string_view::npos)
            EXPECT_EQ(partitionFileName(parts->table, parts->partition, parts->subpartition), c.onDisk);
    }
    for (const char* notPartition : {"t", "#P#p0", "t#P#", "t#P#p0#SP#", "t#Px"})
        EXPECT_FALSE(splitPartitionFileName(notPartition).has_value()) << notPartition;
}

TEST(FileName, DatabaseNameIsTheDecodedLastPart) {
    EXPECT_EQ(databaseName("/data/shop@002deu"), "shop-eu");
    EXPECT_EQ(databaseName("/data/shop@002deu/"), "shop-eu");
    EXPECT_EQ(databaseName("/data/old-name"), "old-name");
}

}  // namespace
}  // namespace dunmore::core
