// Loading the collation table file and the application's table.
#include "schema/collation_table.h"

#include "support/frm_builder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace dunmore::schema {
namespace {

namespace fs = std::filesystem;

core::Bytes record(std::uint32_t number, std::uint32_t minBytes, std::uint32_t maxBytes,
                   const std::string& charset, const std::string& collation) {
    core::Bytes b;
    auto u32 = [&](std::uint32_t v) { test::putU32le(b, b.size(), v); };
    u32(number);
    u32(minBytes);
    u32(maxBytes);
    u32(static_cast<std::uint32_t>(charset.size()));
    b.insert(b.end(), charset.begin(), charset.end());
    u32(static_cast<std::uint32_t>(collation.size()));
    b.insert(b.end(), collation.begin(), collation.end());
    return b;
}

core::Bytes concat(std::initializer_list<core::Bytes> parts) {
    core::Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

CollationTable load(const core::Bytes& bytes) {
    const fs::path path = fs::path(DUNMORE_BINARY_DIR) / "schema_test_tmp" / "collations.bin";
    test::writeBytes(path, bytes);
    CollationTable t;
    t.loadCollationTable(path);
    return t;
}

TEST(CollationTable, LoadsRecords) {
    const auto utf8 = record(33, 1, 3, "utf8", "utf8_general_ci");
    const auto binary = record(63, 1, 1, "binary", "binary");
    const CollationTable t = load(concat({utf8, binary}));
    EXPECT_EQ(t.size(), 2u);
    const CollationEntry* e = t.lookupCollation(33);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->minBytesPerChar, 1u);
    EXPECT_EQ(e->maxBytesPerChar, 3u);
    EXPECT_EQ(e->charsetName, "utf8");
    EXPECT_EQ(e->collationName, "utf8_general_ci");
    EXPECT_EQ(t.lookupCollation(8), nullptr);
}

TEST(CollationTable, DamagedAndOddFiles) {
    struct Case {
        const char* name;
        core::Bytes bytes;
        std::size_t size;
        std::uint32_t number;  // looked up when size > 0
        const char* charset;
        const char* collation;
        std::uint32_t maxBytes;
    };
    core::Bytes claimsTooMuch = record(8, 1, 1, "latin1", "latin1_swedish_ci");
    test::putU32le(claimsTooMuch, 12, 0xFFFFFFF0);
    core::Bytes zeroInName = record(9, 1, 1, std::string("lat\0in", 6), "x");
    const Case cases[] = {
        {"empty file", {}, 0, 0, "", "", 0},
        {"second record of a number wins",
         concat({record(8, 1, 1, "first", "a"), record(8, 1, 2, "second", "b")}), 1, 8, "second", "b", 2},
        {"empty character-set name", record(5, 1, 1, "", "c"), 1, 5, "", "c", 1},
        {"truncated last record keeps what it has",
         concat({record(1, 1, 1, "big5", "big5_chinese_ci"),
                 test::truncateAt(record(2, 1, 2, "latin2", "latin2_czech_cs"), 20)}),
         2, 2, "lati", "", 2},
        {"name length past the end", claimsTooMuch, 1, 8, "latin1\x11", "", 1},
        {"name cut at a zero byte", zeroInName, 1, 9, "lat", "x", 1},
        {"a few stray bytes", core::Bytes{1, 2, 3}, 0, 0, "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CollationTable t = load(c.bytes);
        EXPECT_EQ(t.size(), c.size);
        if (c.size == 0) continue;
        const CollationEntry* e = t.lookupCollation(c.number);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->charsetName, c.charset);
        EXPECT_EQ(e->collationName, c.collation);
        EXPECT_EQ(e->maxBytesPerChar, c.maxBytes);
    }
    CollationTable missing;
    missing.loadCollationTable("/nonexistent/collation (2)");
    EXPECT_TRUE(missing.empty());
}

TEST(CollationTable, ApplicationTableSearchOrder) {
    const fs::path base = fs::path(DUNMORE_BINARY_DIR) / "schema_test_tmp" / "search";
    fs::remove_all(base);
    const fs::path work = base / "work";
    const fs::path exe = base / "exe";
    test::writeBytes(exe / kCollationFileName, record(8, 1, 1, "beside", "exe"));
    fs::create_directories(work);
    const fs::path saved = fs::current_path();
    fs::current_path(work);
    const fs::path usedExe = loadApplicationCollations(exe);
    const std::string fromExe = applicationCollations().lookupCollation(8)->charsetName;
    test::writeBytes(work / kCollationFileName, record(8, 1, 1, "workdir", "cwd"));
    const fs::path usedCwd = loadApplicationCollations(exe);
    const std::string fromCwd = applicationCollations().lookupCollation(8)->charsetName;
    fs::current_path(saved);
    EXPECT_EQ(usedExe, exe / kCollationFileName);
    EXPECT_EQ(fromExe, "beside");
    EXPECT_EQ(usedCwd, fs::path(kCollationFileName));
    EXPECT_EQ(fromCwd, "workdir");
    setApplicationCollations({});
}

// The data file shipped with Dunmore agrees with the collation list of a real server on
// every collation number the server has: names and maximum bytes per character, which
// the CREATE TABLE statements and the character-set converters rely on.
TEST(CollationTable, ShippedFileMatchesTheServer) {
    const fs::path shipped = fs::path(DUNMORE_SOURCE_DIR) / "data" / kCollationFileName;
    ASSERT_TRUE(fs::exists(shipped)) << shipped << " is missing";
    CollationTable file;
    file.loadCollationTable(shipped);
    const CollationTable server = test::serverCollations();
    ASSERT_GT(server.size(), 100u);
    for (const std::uint32_t n : {8u, 33u, 45u, 46u, 47u, 63u, 35u, 54u, 56u, 60u, 51u, 13u, 224u}) {
        SCOPED_TRACE(n);
        const CollationEntry* s = server.lookupCollation(n);
        const CollationEntry* f = file.lookupCollation(n);
        ASSERT_NE(s, nullptr);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->charsetName, s->charsetName);
        EXPECT_EQ(f->collationName, s->collationName);
        EXPECT_EQ(f->maxBytesPerChar, s->maxBytesPerChar);
        EXPECT_EQ(f->minBytesPerChar, s->minBytesPerChar);
    }
    const std::pair<std::uint32_t, const char*> names[] = {
        {8, "latin1"}, {33, "utf8mb3"}, {45, "utf8mb4"}, {35, "ucs2"}, {54, "utf16"},
        {56, "utf16le"}, {60, "utf32"}, {51, "cp1251"}, {13, "sjis"}, {63, "binary"}};
    for (const auto& [n, name] : names) {
        SCOPED_TRACE(n);
        ASSERT_NE(file.lookupCollation(n), nullptr);
        EXPECT_EQ(file.lookupCollation(n)->charsetName, name);
    }
}

}  // namespace
}  // namespace dunmore::schema
