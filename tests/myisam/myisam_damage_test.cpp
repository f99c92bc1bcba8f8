// Damaged .MYD and .MYI files never crash, hang or read outside the file: truncations,
// invalid block types, chains that point backwards or into themselves, lengths past the
// end, empty deleted blocks, and .MYI heads cut short or lying about their counts. The
// damaged files are real tables of a MariaDB server with single bytes changed. Also the
// packed-record rules on small hand-built records.
#include <gtest/gtest.h>

#include <functional>

#include "myisam/dynamic_record.h"
#include "myisam/myisam_row_stream.h"
#include "myisam_test_support.h"

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

const char* const kSql = R"SQL(
CREATE DATABASE g;
USE g;
CREATE TABLE dyn (id INT NOT NULL, v VARCHAR(300), t TEXT, n INT) ENGINE=MyISAM;
INSERT INTO dyn SELECT seq, CONCAT('value ', seq), REPEAT('t', seq * 3), IF(seq % 3 = 0, NULL, seq) FROM seq_1_to_40;
UPDATE dyn SET t = REPEAT('grown', 200) WHERE id IN (3, 10, 20);
DELETE FROM dyn WHERE id IN (5, 25);
CREATE TABLE fix (id INT NOT NULL, c CHAR(8), d DATE) ENGINE=MyISAM;
INSERT INTO fix SELECT seq, CONCAT('c', seq), '2020-01-01' + INTERVAL seq DAY FROM seq_1_to_40;
DELETE FROM fix WHERE id = 7;
)SQL";

class MyisamDamageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_fixture = new Fixture(makeFixture("myisam_damage", kSql)); }
    static void TearDownTestSuite() {
        delete s_fixture;
        s_fixture = nullptr;
    }
    static fs::path folder() { return s_fixture->dataDir / "g"; }
    static Fixture* s_fixture;
};
Fixture* MyisamDamageTest::s_fixture = nullptr;

using Bytes = std::string;

void putBe(Bytes& b, std::size_t at, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width && at + i < b.size(); ++i)
        b[at + i] = static_cast<char>(v >> (8 * (width - 1 - i)));
}

// Block starts of a dynamic .MYD in file order, with their type byte.
std::vector<std::pair<std::uint64_t, int>> blocksOf(const fs::path& myd) {
    core::ReadOnlyFile file;
    EXPECT_TRUE(static_cast<bool>(file.open(myd)));
    std::vector<std::pair<std::uint64_t, int>> out;
    for (std::uint64_t p = 0; p < file.size();) {
        myisam::BlockInfo info;
        const std::uint32_t flags = myisam::readBlockHeader(file, info, p);
        if (flags & myisam::kBlockError) break;
        out.emplace_back(p, info.header[0]);
        p = info.dataPosition + info.blockLength;
    }
    return out;
}

// Copies table of the fixture into a work folder with its .MYD and .MYI passed through
// the damage functions, and returns the rows read from the copy.
std::vector<TextRow> readDamaged(const std::string& table, const std::function<void(Bytes&)>& myd,
                                 const std::function<void(Bytes&)>& myi,
                                 myisam::WalkCounts* counts = nullptr) {
    const fs::path src = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_damage" / "g";
    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_damage_work";
    fs::create_directories(work);
    fs::copy_file(src / (table + ".frm"), work / (table + ".frm"),
                  fs::copy_options::overwrite_existing);
    Bytes data = readFileText(src / (table + ".MYD"));
    Bytes index = readFileText(src / (table + ".MYI"));
    if (myd) myd(data);
    if (myi) myi(index);
    writeFileText(work / (table + ".MYD"), data);
    writeFileText(work / (table + ".MYI"), index);
    TableSession session;
    EXPECT_TRUE(session.open(work, table));
    return session.rows(true, counts);
}

TEST_F(MyisamDamageTest, DamagedDataFilesEndCleanly) {
    TableSession clean;
    ASSERT_TRUE(clean.open(folder(), "dyn"));
    const std::vector<TextRow> original = clean.rows();
    ASSERT_EQ(original.size(), 38u);
    const auto blocks = blocksOf(folder() / "dyn.MYD");
    ASSERT_GT(blocks.size(), 10u);
    // A chained first block (type 5, 6 or 13) and the position of the second record.
    std::uint64_t chained = 0;
    int chainedType = 0;
    for (const auto& [pos, type] : blocks)
        if ((type == 5 || type == 6 || type == 13) && chained == 0) {
            chained = pos;
            chainedType = type;
        }
    ASSERT_NE(chained, 0u);
    const std::uint64_t second = blocks[1].first;
    const std::size_t nextOffset = chainedType == 5 ? 5 : chainedType == 6 ? 7 : 8;

    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        std::size_t minRows;  // rows that must still be found
    };
    const Case kCases[] = {
        {"truncated in the first block", [](Bytes& b) { b.resize(7); }, 0},
        {"truncated in the middle", [](Bytes& b) { b.resize(b.size() / 2); }, 10},
        {"truncated by one byte", [](Bytes& b) { b.pop_back(); }, 36},
        {"type 14 at the start", [](Bytes& b) { b[0] = 14; }, 37},
        {"type 255 in the second record", [&](Bytes& b) { b[second] = static_cast<char>(255); },
         37},
        {"every byte 0xEE", [](Bytes& b) { b.assign(b.size(), static_cast<char>(0xEE)); }, 0},
        {"all zero: deleted blocks of length 0", [](Bytes& b) { b.assign(b.size(), 0); }, 0},
        {"chain pointing at itself", [&](Bytes& b) { putBe(b, chained + nextOffset, chained, 8); },
         36},
        {"chain pointing backwards to 0", [&](Bytes& b) { putBe(b, chained + nextOffset, 0, 8); },
         36},
        {"chain pointing past the end",
         [&](Bytes& b) { putBe(b, chained + nextOffset, 0x7FFFFFFFFFFFFFFFull, 8); }, 36},
        {"record length past the end",
         [&](Bytes& b) {
             b[second] = 4;  // whole record, 3-byte length
             putBe(b, second + 1, 0xFFFFFF, 3);
         },
         1},
        {"huge chained record length",
         [&](Bytes& b) {
             b[chained] = 13;
             putBe(b, chained + 1, 0xFFFFFFFF, 4);
         },
         30},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        myisam::WalkCounts counts;
        const std::vector<TextRow> rows = readDamaged("dyn", c.damage, nullptr, &counts);
        EXPECT_GE(rows.size(), c.minRows);
        EXPECT_LE(rows.size(), original.size());
        // What is read from a damaged file is rows of the original, in order.
        std::size_t at = 0;
        for (const TextRow& row : rows) {
            while (at < original.size() && original[at] != row) ++at;
            EXPECT_LT(at, original.size()) << "a row that was never stored: " << row[0];
        }
    }
}

// A save over a damaged file writes the rows around the damage and reports it.
TEST_F(MyisamDamageTest, ScriptStreamReportsDamagedRecords) {
    const auto blocks = blocksOf(folder() / "dyn.MYD");
    ASSERT_GT(blocks.size(), 2u);
    const std::uint64_t second = blocks[1].first;
    const std::vector<TextRow> rows = readDamaged(
        "dyn", [&](Bytes& b) { b[second] = static_cast<char>(255); }, nullptr);
    ASSERT_EQ(rows.size(), 37u);

    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_damage_work";
    core::AppSettings settings;
    core::SilentFrontend frontend;
    core::MainFrame frame(settings, frontend);
    settings.savingScript = true;
    settings.logFolder = work.string() + "/";
    settings.logFilePath = frame.logFile.open(settings.logFolder, core::currentLocalTime()).value();
    myisam::MyisamReader reader;
    ASSERT_TRUE(schema::readTableDefinition(reader, work / "dyn.frm", settings));
    ASSERT_TRUE(myisam::readMyisamHeader(reader, work / "dyn.MYI"));
    ASSERT_TRUE(frame.scriptWriter.open(work / "dyn.sql"));
    EXPECT_FALSE(myisam::mydfileforscript(frame, reader, work / "dyn.MYD", "dyn"));
    frame.scriptWriter.close();
    frame.logFile.close();
    const std::string script = readFileText(work / "dyn.sql");
    std::size_t statements = 0;
    for (std::size_t at = script.find("INSERT INTO"); at != std::string::npos;
         at = script.find("INSERT INTO", at + 1))
        ++statements;
    EXPECT_EQ(statements, 37u);
    // The log is UTF-16LE; its texts here are ASCII.
    const std::string raw = readFileText(settings.logFilePath);
    std::string log;
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2) log.push_back(raw[i]);
    EXPECT_NE(
        log.find("Total Number of record inserted =  37 .\r\n\r\nDeleted records skipped = 2\r\n"
                 "Damaged records skipped = 1\r\n"),
        std::string::npos);
}

TEST_F(MyisamDamageTest, DamagedIndexHeadsAndFixedRows) {
    TableSession clean;
    ASSERT_TRUE(clean.open(folder(), "fix"));
    const std::vector<TextRow> original = clean.rows();
    ASSERT_EQ(original.size(), 39u);

    struct Case {
        const char* name;
        std::function<void(Bytes&)> myd;
        std::function<void(Bytes&)> myi;
        std::size_t rows;
    };
    const auto base = [](const Bytes& b) {
        return (static_cast<std::size_t>(static_cast<std::uint8_t>(b[12])) << 8) |
               static_cast<std::uint8_t>(b[13]);
    };
    const Case kCases[] = {
        {"index of 24 bytes", nullptr, [](Bytes& b) { b.resize(24); }, 39},
        {"index cut in the base information", nullptr, [&](Bytes& b) { b.resize(base(b) + 30); },
         39},
        {"base position past the end", nullptr, [](Bytes& b) { putBe(b, 12, 0xFFFF, 2); }, 39},
        {"65535 keys of 255 segments", nullptr,
         [&](Bytes& b) {
             b[base(b) + 78] = static_cast<char>(255);
             b[base(b) + 100] = static_cast<char>(255);
         },
         39},
        {"four billion columns", nullptr, [&](Bytes& b) { putBe(b, base(b) + 64, 0xFFFFFFFF, 4); },
         39},
        {"packed length of 0", nullptr, [&](Bytes& b) { putBe(b, base(b) + 48, 0, 4); }, 39},
        // A slot cut short is not a row: its missing bytes were never read.
        {"data file cut inside the last row", [](Bytes& b) { b.resize(b.size() - 3); }, nullptr,
         38},
        {"data file cut to one byte", [](Bytes& b) { b.resize(1); }, nullptr, 0},
        {"empty data file", [](Bytes& b) { b.clear(); }, nullptr, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<TextRow> rows = readDamaged("fix", c.myd, c.myi);
        EXPECT_EQ(rows.size(), c.rows);
        // Rows read whole are the original rows.
        for (std::size_t r = 0; r + 1 < rows.size() && r < original.size(); ++r)
            EXPECT_EQ(rows[r], original[r]);
    }
}

// Hand-built packed records: the length and flag rules of the dynamic format.
TEST(MyisamPackedRecord, LengthAndFlagRules) {
    myisam::MyisamReader ctx;
    ctx.myisamRowFormat = myisam::kRowFormatDynamic;
    core::ColumnDefinition v;
    v.name = "v";
    v.typeCode = 15;
    v.length = 300;
    v.charset = 8;  // latin1
    v.recordPos = 1;
    core::ColumnDefinition c;
    c.name = "c";
    c.typeCode = 254;
    c.length = 10;
    c.charset = 8;
    c.recordPos = 303;
    core::ColumnDefinition b;
    b.name = "b";
    b.typeCode = 252;
    b.length = 65535;
    b.charset = 63;
    b.recordPos = 313;
    ctx.columns = {v, c, b};
    ctx.myisamColumns = {{8, 302, 0, 0, {}, 0}, {1, 10, 0, 0, {}, 0}, {4, 10, 0, 0, {}, 0}};
    ctx.packBits = 1;
    ctx.minPackLength = 3;  // flag byte, VARCHAR length, CHAR length
    const myisam::MyisamRowLayout layout = myisam::buildRowLayout(ctx, {true});

    struct Case {
        const char* name;
        std::vector<std::uint8_t> record;
        bool ok;
        std::vector<std::string> values;
    };
    const std::vector<std::uint8_t> longV = [] {
        std::vector<std::uint8_t> r = {0x00, 255, 0x01, 0x00};  // 256, big-endian after 255
        r.insert(r.end(), 256, 'a');
        r.insert(r.end(), {'x', 'y', 'z', ' ', ' ', ' ', ' ', ' ', ' ', ' '});
        r.insert(r.end(), {0x02, 0x00, 0xAB, 0xCD});
        return r;
    }();
    const Case kCases[] = {
        {"CHAR stripped, BLOB empty",
         {0x03, 2, 'h', 'i', 3, 'a', 'b', 'c'},
         true,
         {"hi", "abc", ""}},
        {"CHAR whole, BLOB of 2",
         {0x00, 0, 'p', 'a', 'd', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 2, 0, 0xAB, 0xCD},
         true,
         {"", "pad", "0xABCD"}},
        {"VARCHAR length 255 then 2 bytes", longV, true, {std::string(256, 'a'), "xyz", "0xABCD"}},
        {"VARCHAR longer than the record", {0x03, 9, 'a', 3, 'a', 'b', 'c'}, false, {}},
        {"VARCHAR above its length", {0x03, 255, 0x01, 0x2E, 1, 'x'}, false, {}},
        {"CHAR length not below its size",
         {0x03, 0, 10, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'},
         false,
         {}},
        {"BLOB length past the end", {0x01, 0, 1, 'a', 0xFF, 0xFF, 0x01}, false, {}},
        {"bytes left over", {0x03, 1, 'a', 1, 'b', 'z'}, false, {}},
        {"shorter than the minimum", {0x03, 0}, false, {}},
        {"empty", {}, false, {}},
    };
    for (const Case& k : kCases) {
        SCOPED_TRACE(k.name);
        ctx.previewRows.clear();
        EXPECT_EQ(myisam::unpackDynamicRecord(ctx, layout, k.record), k.ok);
        if (!k.ok) {
            EXPECT_TRUE(ctx.previewRows.empty());
            continue;
        }
        ASSERT_EQ(ctx.previewRows.size(), 1u);
        for (std::size_t i = 0; i < k.values.size(); ++i)
            EXPECT_EQ(ctx.previewRows[0][i].value, k.values[i]) << i;
    }
}

// Block headers decode per type; invalid ones are flagged, never read past 20 bytes.
TEST(MyisamBlockHeader, TypesAndSyncErrors) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> header;
        bool secondRead;
        std::uint32_t flags;
        std::uint32_t recLength, dataLength, blockLength;
        std::uint64_t dataPosition, nextPosition;
    };
    const Case kCases[] = {
        {"deleted",
         {0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 8},
         false,
         myisam::kBlockDeleted,
         0,
         0,
         20,
         100,
         8},
        {"deleted of length 0", {0, 0, 0, 0}, false, myisam::kBlockError, 0, 0, 0, 100, 0},
        {"deleted of odd length", {0, 0, 0, 21}, false, myisam::kBlockError, 0, 0, 21, 100, 0},
        {"whole, 2-byte length",
         {1, 0, 17},
         false,
         myisam::kBlockFirst | myisam::kBlockLast,
         17,
         17,
         17,
         103,
         0},
        {"whole with slack",
         {3, 0, 17, 3},
         false,
         myisam::kBlockFirst | myisam::kBlockLast,
         17,
         17,
         20,
         104,
         0},
        {"first of a chain",
         {5, 1, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0x10, 0},
         false,
         myisam::kBlockFirst,
         256,
         16,
         16,
         113,
         0x1000},
        {"first of a big chain",
         {13, 0, 1, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0x20, 0},
         false,
         myisam::kBlockFirst,
         65536,
         16,
         16,
         116,
         0x2000},
        {"last part met in file order",
         {7, 0, 9},
         false,
         myisam::kBlockLast | myisam::kBlockSyncError,
         0,
         9,
         9,
         103,
         0},
        {"last part in a chain", {7, 0, 9}, true, myisam::kBlockLast, 0, 9, 9, 103, 0},
        {"first type inside a chain",
         {1, 0, 9},
         true,
         myisam::kBlockFirst | myisam::kBlockLast | myisam::kBlockSyncError,
         9,
         9,
         9,
         103,
         0},
        {"type 14", {14, 1, 2, 3}, false, myisam::kBlockError, 0, 0, 0, 0, 0},
        {"type 255", {255}, false, myisam::kBlockError, 0, 0, 0, 0, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        myisam::BlockInfo info;
        info.secondRead = c.secondRead;
        std::copy(c.header.begin(), c.header.end(), info.header.begin());
        EXPECT_EQ(myisam::decodeBlockHeader(info, 100), c.flags);
        if (c.flags & myisam::kBlockError && c.header[0] != 0) continue;
        EXPECT_EQ(info.recLength, c.recLength);
        EXPECT_EQ(info.dataLength, c.dataLength);
        EXPECT_EQ(info.blockLength, c.blockLength);
        EXPECT_EQ(info.dataPosition, c.dataPosition);
        EXPECT_EQ(info.nextPosition, c.nextPosition);
    }
}

}  // namespace
}  // namespace dunmore::test
