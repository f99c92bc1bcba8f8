// The record layout derived from a table's definition is the one a real MariaDB server
// wrote into the .MYI of every kind of table (fixed-length and dynamic, checksums, small
// MAX_ROWS, 8n + 1 flagged fields, virtual columns, every type); a .MYI that is damaged
// or missing gives way to it and the rows read are those of the table; the save names
// what the .MYI state says was lost (a .MYD cut short, rows missing, records that are
// not rows).
#include <gtest/gtest.h>

#include <functional>

#include "myisam/myisam_layout.h"
#include "myisam/myisam_row_stream.h"
#include "myisam_test_support.h"
#include "support/recording_frontend.h"

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

const char* const kSql = R"SQL(
SET sql_mode='';
CREATE DATABASE l;
USE l;
CREATE TABLE every_type (a TINYINT, b SMALLINT, c MEDIUMINT, d INT, e BIGINT, f FLOAT, g DOUBLE,
  h DECIMAL(10,2), i DECIMAL(3,1), j DATE, k TIME, l TIME(3), m DATETIME, n DATETIME(6),
  o TIMESTAMP NULL, p TIMESTAMP(2) NULL, q YEAR, r BIT(1), s BIT(9), t BIT(16), u ENUM('a','b'),
  v SET('a','b','c','d','e','f','g','h','i','j','k','l','m','n','o','p','q','r','s','t','u','v',
        'w','x','y','z','a1','b1','c1','d1','e1'),
  w CHAR(2), x CHAR(10), y BINARY(5), z VARCHAR(10), aa VARCHAR(300), bb TINYBLOB, cc TEXT,
  dd MEDIUMBLOB, ee LONGTEXT, ff GEOMETRY, gg INT ZEROFILL, hh CHAR(4) CHARACTER SET latin1,
  ii BIT(3), jj DOUBLE(8,3), kk INT UNSIGNED NOT NULL, ll TINYINT NOT NULL) ENGINE=MyISAM;
INSERT INTO every_type VALUES (1, 2, 3, 4, 5, 1.5, 2.5, 12345678.91, 12.3, '2020-02-29',
  '-12:34:56', '01:02:03.456', '2021-01-01 01:02:03', '2022-02-02 02:03:04.123456',
  '2023-03-03 03:04:05', '2024-04-04 04:05:06.78', 2025, 1, 300, 65535, 'b', 'a,e1', 'xy',
  'ten chars.', 'bin', 'var', REPEAT('w', 300), 'tiny', 'text', REPEAT('m', 70000), 'long',
  ST_GeomFromText('POINT(1 2)'), 7, 'four', 5, 3.25, 4000000000, -1);
INSERT INTO every_type (kk, ll) VALUES (0, 0);
INSERT INTO every_type (a, kk, ll, x, aa) VALUES (-1, 1, 1, 'x', 'y');
CREATE TABLE fixed_types (a TINYINT, b INT NOT NULL, c CHAR(5), d DATE, e BIT(3),
  f DECIMAL(5,2), g SET('x','y'), h TIME(2), i DATETIME(3), j ENUM('p','q'), k DOUBLE,
  l YEAR) ENGINE=MyISAM;
INSERT INTO fixed_types SELECT IF(seq % 5 = 0, NULL, seq), seq, CONCAT('c', seq),
  '2020-01-01' + INTERVAL seq DAY, seq % 8, seq / 4, IF(seq % 2, 'x', 'x,y'),
  SEC_TO_TIME(seq * 61.25), '2020-01-01 00:00:00.125' + INTERVAL seq HOUR,
  IF(seq % 3, 'p', 'q'), seq * 1.5, 1990 + seq % 50 FROM seq_1_to_60;
DELETE FROM fixed_types WHERE b % 11 = 0;
CREATE TABLE tiny (a TINYINT NOT NULL) ENGINE=MyISAM;
INSERT INTO tiny VALUES (1), (2), (3);
CREATE TABLE small_max (a INT NOT NULL) ENGINE=MyISAM MAX_ROWS=100;
INSERT INTO small_max VALUES (10), (20);
CREATE TABLE fixed_varchar (a TINYINT NOT NULL, b VARCHAR(20)) ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO fixed_varchar VALUES (1, 'one'), (2, NULL), (3, '');
CREATE TABLE dyn_char (a TINYINT NOT NULL, b CHAR(20)) ENGINE=MyISAM ROW_FORMAT=DYNAMIC;
INSERT INTO dyn_char VALUES (1, 'padded'), (2, '');
CREATE TABLE checksummed (a INT NOT NULL, b VARCHAR(20)) ENGINE=MyISAM CHECKSUM=1;
INSERT INTO checksummed VALUES (1, 'a'), (2, 'bb');
CREATE TABLE fixed_checksum (a INT NOT NULL, b CHAR(3)) ENGINE=MyISAM CHECKSUM=1;
INSERT INTO fixed_checksum VALUES (1, 'a'), (2, 'bb');
CREATE TABLE nine_flags (a TINYINT NOT NULL, b TINYINT NOT NULL, c TINYINT NOT NULL,
  d TINYINT NOT NULL, e TINYINT NOT NULL, f TINYINT NOT NULL, g TINYINT NOT NULL,
  h TINYINT NOT NULL, i TINYINT NOT NULL, j VARCHAR(3)) ENGINE=MyISAM;
INSERT INTO nine_flags VALUES (1, 2, 3, 4, 5, 6, 7, 8, 9, 'ten'), (0, 0, 0, 0, 0, 0, 0, 0, 0, NULL);
CREATE TABLE zero_fill (a TINYINT ZEROFILL, b INT ZEROFILL, c VARCHAR(3)) ENGINE=MyISAM;
INSERT INTO zero_fill VALUES (1, 2, 'c'), (0, 0, '');
CREATE TABLE virtual_cols (a INT, b INT AS (a + 1) VIRTUAL, c VARCHAR(5),
  d INT AS (a * 2) PERSISTENT) ENGINE=MyISAM;
INSERT INTO virtual_cols (a, c) VALUES (1, 'x'), (NULL, 'y');
CREATE TABLE dyn_rows (id INT NOT NULL, v VARCHAR(300), t TEXT, n INT) ENGINE=MyISAM;
INSERT INTO dyn_rows SELECT seq, CONCAT('value ', seq), REPEAT('t', seq * 3), IF(seq % 3 = 0, NULL, seq)
  FROM seq_1_to_40;
UPDATE dyn_rows SET t = REPEAT('grown', 200) WHERE id IN (3, 10, 20);
DELETE FROM dyn_rows WHERE id IN (5, 25);
)SQL";

const char* const kTables[] = {"every_type",     "fixed_types", "tiny",       "small_max",
                               "fixed_varchar",  "dyn_char",    "checksummed", "fixed_checksum",
                               "nine_flags",     "zero_fill",   "virtual_cols", "dyn_rows"};

class MyisamLayoutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        s_fixture = new Fixture(makeFixture("myisam_layout", kSql));
    }
    static void TearDownTestSuite() {
        delete s_fixture;
        s_fixture = nullptr;
    }
    static fs::path folder() { return s_fixture->dataDir / "l"; }
    static Fixture* s_fixture;
};
Fixture* MyisamLayoutTest::s_fixture = nullptr;

// The rows of ctx's open data file by the layout in ctx.
std::vector<TextRow> walkRows(TableSession& s, myisam::WalkCounts* counts = nullptr) {
    return s.rows(true, counts);
}

// Reads table of folder with loadMyisamLayout (instead of the .MYI head alone).
bool openByLayout(TableSession& s, const fs::path& folder, const std::string& table) {
    s.reader = std::make_unique<myisam::MyisamReader>();
    myisam::MyisamReader& c = s.ctx();
    if (!schema::readTableDefinition(c, folder / (table + ".frm"), s.settings)) return false;
    const bool layout =
        myisam::loadMyisamLayout(c, folder / (table + ".MYI"), folder / (table + ".MYD"));
    return layout && static_cast<bool>(c.dataFile.open(folder / (table + ".MYD")));
}

TEST_F(MyisamLayoutTest, DerivedLayoutIsTheOneTheServerWrote) {
    for (const char* table : kTables) {
        SCOPED_TRACE(table);
        TableSession s;
        myisam::MyisamReader& ctx = s.ctx();
        ASSERT_TRUE(schema::readTableDefinition(ctx, folder() / (std::string(table) + ".frm"), s.settings));
        myisam::MyisamHeadFacts facts;
        ASSERT_TRUE(myisam::readMyisamHeader(ctx, folder() / (std::string(table) + ".MYI"), &facts));
        myisam::MyisamState derived;
        ASSERT_EQ(myisam::deriveMyisamState(ctx, derived), "");
        EXPECT_EQ(myisam::myisamHeadDamage(ctx, facts), "");
        EXPECT_EQ(derived.myisamRowFormat, ctx.myisamRowFormat);
        EXPECT_EQ(derived.recordChecksum, ctx.recordChecksum);
        EXPECT_EQ(derived.myisamRecordLength, ctx.myisamRecordLength);
        EXPECT_EQ(derived.packedRecordLength, ctx.packedRecordLength);
        EXPECT_EQ(derived.minPackLength, ctx.minPackLength);
        EXPECT_EQ(derived.packBits, ctx.packBits);
        EXPECT_EQ(derived.blobCount, ctx.blobCount);
        EXPECT_EQ(derived.fieldCount, ctx.fieldCount);
        ASSERT_EQ(derived.myisamColumns.size(), ctx.myisamColumns.size());
        for (std::size_t j = 0; j < derived.myisamColumns.size(); ++j) {
            SCOPED_TRACE("record definition " + std::to_string(j));
            EXPECT_EQ(derived.myisamColumns[j].fieldType, ctx.myisamColumns[j].fieldType);
            EXPECT_EQ(derived.myisamColumns[j].fieldLength, ctx.myisamColumns[j].fieldLength);
            EXPECT_EQ(derived.myisamColumns[j].nullBit, ctx.myisamColumns[j].nullBit);
            EXPECT_EQ(derived.myisamColumns[j].nullPos, ctx.myisamColumns[j].nullPos);
        }
        // The state of a cleanly closed table fits its data file.
        ASSERT_TRUE(ctx.stateCounts.has_value());
        EXPECT_TRUE(myisam::plausibleStateCounts(*ctx.stateCounts, ctx));
    }
}

using Bytes = std::string;

// Copies table of the fixture into work with its .MYI passed through damage (nullptr:
// the .MYI left out) and its .MYD through dataDamage.
void copyDamaged(const fs::path& from, const fs::path& work, const std::string& table,
                 const std::function<void(Bytes&)>& indexDamage,
                 const std::function<void(Bytes&)>& dataDamage = nullptr) {
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy_file(from / (table + ".frm"), work / (table + ".frm"));
    Bytes data = readFileText(from / (table + ".MYD"));
    if (dataDamage) dataDamage(data);
    writeFileText(work / (table + ".MYD"), data);
    if (!indexDamage) return;
    Bytes index = readFileText(from / (table + ".MYI"));
    indexDamage(index);
    writeFileText(work / (table + ".MYI"), index);
}

// A .MYI damaged in any way leaves the rows readable: they are read by the definition's
// layout and are the rows read through the intact .MYI.
TEST_F(MyisamLayoutTest, DamagedIndexHeadsGiveWayToTheDefinition) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;  // nullptr: no .MYI at all
        bool counts;                         // the state counts survive
    };
    const auto zeroRange = [](std::size_t from, std::size_t to) {
        return [=](Bytes& b) {
            for (std::size_t i = from; i < to && i < b.size(); ++i) b[i] = 0;
        };
    };
    const Case kCases[] = {
        {"no .MYI", nullptr, false},
        {"cut to 100 bytes", [](Bytes& b) { b.resize(100); }, true},
        {"cut to 20 bytes", [](Bytes& b) { b.resize(20); }, false},
        {"signature zeroed", zeroRange(0, 4), true},
        {"every byte 0xFF", [](Bytes& b) { b.assign(b.size(), static_cast<char>(0xFF)); }, false},
        {"head zeroed from byte 100", zeroRange(100, 1024), true},
        {"record definitions zeroed", [](Bytes& b) {
             const std::size_t headLength =
                 (static_cast<std::uint8_t>(b[6]) << 8) | static_cast<std::uint8_t>(b[7]);
             for (std::size_t i = headLength - 14; i < headLength; ++i) b[i] = 0;
         }, true},
    };
    for (const char* table : {"every_type", "fixed_types", "dyn_rows", "tiny", "virtual_cols"}) {
        SCOPED_TRACE(table);
        TableSession intact;
        ASSERT_TRUE(intact.open(folder(), table));
        const std::vector<TextRow> original = walkRows(intact);
        ASSERT_FALSE(original.empty());
        for (const Case& c : kCases) {
            SCOPED_TRACE(c.name);
            const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_layout_work";
            copyDamaged(folder(), work, table, c.damage);
            TableSession s;
            ASSERT_TRUE(openByLayout(s, work, table));
            EXPECT_NE(s.ctx().headDamage.find(std::string(table) + ".MYI "), std::string::npos);
            EXPECT_EQ(s.ctx().stateCounts.has_value(), c.counts);
            myisam::WalkCounts counts;
            EXPECT_EQ(walkRows(s, &counts), original);
            EXPECT_EQ(counts.damagedSkipped, 0u);
        }
    }
}

// A save over a damaged data file names what the .MYI state says was lost, and never
// writes a row that was not stored.
TEST_F(MyisamLayoutTest, SavesNameWhatTheIndexStateSaysWasLost) {
    struct Case {
        const char* table;
        const char* name;
        std::function<void(Bytes&)> dataDamage;
        std::function<void(Bytes&)> indexDamage;  // on top of the intact .MYI
        std::vector<std::string> lossParts;       // empty: the save is complete
    };
    const auto keep = [](Bytes&) {};
    // Where the DATE column d of fixed_types lies in its first slot (a live row).
    std::size_t dateOffset = 0;
    {
        TableSession s;
        ASSERT_TRUE(s.open(folder(), "fixed_types"));
        for (const core::ColumnDefinition& col : s.ctx().columns)
            if (col.name == "d") dateOffset = col.recordPos - 1;
        ASSERT_NE(dateOffset, 0u);
    }
    const auto addRecords = [](std::uint64_t extra) {
        return [=](Bytes& b) {
            // State records, 8 bytes big-endian at 28.
            std::uint64_t v = 0;
            for (int i = 0; i < 8; ++i) v = v << 8 | static_cast<std::uint8_t>(b[28 + i]);
            v += extra;
            for (int i = 7; i >= 0; --i, v >>= 8) b[28 + i] = static_cast<char>(v & 0xFF);
        };
    };
    const Case kCases[] = {
        {"fixed_types", "intact", keep, keep, {}},
        {"dyn_rows", "intact", keep, keep, {}},
        {"fixed_types", "cut in half",
         [](Bytes& b) { b.resize(b.size() / 2); }, keep,
         {"bytes shorter than fixed_types.MYI says", "rows fixed_types.MYI counts were not found"}},
        {"fixed_types", "every byte 0xFF",
         [](Bytes& b) { b.assign(b.size(), static_cast<char>(0xFF)); }, keep,
         {"damaged record(s) of fixed_types.MYD skipped", "rows fixed_types.MYI counts were not found"}},
        {"dyn_rows", "every byte 0xFF",
         [](Bytes& b) { b.assign(b.size(), static_cast<char>(0xFF)); }, keep,
         {"damaged record(s) of dyn_rows.MYD skipped", "rows dyn_rows.MYI counts were not found"}},
        {"dyn_rows", "the .MYI counts three rows more", keep, addRecords(3),
         {"3 of the 41 rows dyn_rows.MYI counts were not found"}},
        {"fixed_types", "a DATE out of range in the first row",
         [&](Bytes& b) { b.replace(dateOffset, 3, 3, static_cast<char>(0xFF)); }, keep,
         {"1 damaged record(s) of fixed_types.MYD skipped",
          "1 of the 55 rows fixed_types.MYI counts were not found"}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.table) + ": " + c.name);
        TableSession intact;
        ASSERT_TRUE(intact.open(folder(), c.table));
        const std::vector<TextRow> original = walkRows(intact);

        const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_layout_save";
        copyDamaged(folder(), work, c.table, c.indexDamage, c.dataDamage);
        core::AppSettings settings;
        RecordingFrontend frontend;
        core::MainFrame frame(settings, frontend);
        settings.savingScript = true;
        settings.logFolder = work.string() + "/";
        settings.logFilePath = frame.logFile.open(settings.logFolder, core::currentLocalTime()).value();
        myisam::MyisamReader ctx;
        ASSERT_TRUE(schema::readTableDefinition(ctx, work / (std::string(c.table) + ".frm"), settings));
        ASSERT_TRUE(myisam::loadMyisamLayout(ctx, work / (std::string(c.table) + ".MYI"),
                                             work / (std::string(c.table) + ".MYD")));
        ASSERT_TRUE(frame.scriptWriter.open(work / "rows.sql"));
        core::TableRowCounts counts;
        const bool complete = myisam::saveMyisamTableRows(
            frame, ctx, work / (std::string(c.table) + ".MYD"), c.table, false, &counts);
        frame.scriptWriter.close();
        EXPECT_EQ(complete, c.lossParts.empty());
        for (const std::string& part : c.lossParts)
            EXPECT_NE(counts.loss.find(part), std::string::npos) << counts.loss;
        if (c.lossParts.empty()) {
            EXPECT_EQ(counts.loss, "");
        }
        // Every statement written is one of a stored row.
        EXPECT_LE(counts.written, original.size());
        const std::string script = readFileText(work / "rows.sql");
        std::size_t statements = 0;
        for (std::size_t at = script.find("INSERT INTO"); at != std::string::npos;
             at = script.find("INSERT INTO", at + 1))
            ++statements;
        EXPECT_EQ(statements, counts.written);
        // A data file damaged loses rows; a .MYI state that counts more does not.
        if (!c.lossParts.empty() && c.name != std::string("the .MYI counts three rows more")) {
            EXPECT_LT(counts.written, original.size());
        }
    }
}

}  // namespace
}  // namespace dunmore::test
