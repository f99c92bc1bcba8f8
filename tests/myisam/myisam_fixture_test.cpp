// Rows read from MyISAM tables that a real MariaDB server wrote, compared with what the
// same server returned for them: fixed-length tables of every fixed-width type with
// deleted and reused slots, dynamic tables with long VARCHARs, every TEXT/BLOB size,
// records split into block chains by updates and deleted blocks, and packed CHARs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "myisam/dynamic_record.h"
#include "myisam/myisam_row_stream.h"
#include "myisam_test_support.h"
#include "values/sql_literal.h"

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

const char* const kSql = R"SQL(
CREATE DATABASE m;
USE m;
SET time_zone = '+00:00';

CREATE TABLE fixed_all (
  id INT NOT NULL PRIMARY KEY,
  ti TINYINT, tu TINYINT UNSIGNED, si SMALLINT, su SMALLINT UNSIGNED, mi MEDIUMINT,
  mu MEDIUMINT UNSIGNED, i INT, iu INT UNSIGNED, bi BIGINT, bu BIGINT UNSIGNED,
  f FLOAT, d DOUBLE, de DECIMAL(12,3), dz DECIMAL(30,10) UNSIGNED,
  dt DATE, tm TIME, tm3 TIME(3), dtt DATETIME, dtt6 DATETIME(6), ts TIMESTAMP NULL DEFAULT NULL,
  ts2 TIMESTAMP(2) NULL DEFAULT NULL, yr YEAR,
  b1 BIT(1), b5 BIT(5), b12 BIT(12), b64 BIT(64),
  e ENUM('a','b','c'), s SET('x','y','z'),
  c CHAR(10), cu CHAR(5) CHARACTER SET utf8mb4, cb BINARY(4), vc VARCHAR(20), vb VARBINARY(8)
) ENGINE=MyISAM ROW_FORMAT=FIXED;

INSERT INTO fixed_all VALUES
 (1, -128, 255, -32768, 65535, -8388608, 16777215, -2147483648, 4294967295,
  -9223372036854775808, 18446744073709551615, 0.5, -1.25e-300, -123456789.125,
  12345678901234567890.0123456789, '2024-02-29', '-838:59:59', '12:34:56.789',
  '1000-01-01 00:00:00', '9999-12-31 23:59:59.999999', '2038-01-19 03:14:07',
  '1970-01-01 00:00:01.5', 2155, b'1', b'10101', b'101011110000', b'1000000000000000000000000000000000000000000000000000000000000001',
  'c', 'x,z', 'abc', 'äö€', 0x00FF10, 'x y', 0x00),
 (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL),
 (3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '0000-00-00', '00:00:00', '00:00:00',
  '0000-00-00 00:00:00', '0000-00-00 00:00:00', NULL, NULL, 0, b'0', b'0', b'0', b'0',
  '', '', '', '', '', '', ''),
 (4, 127, 1, 32767, 1, 8388607, 1, 2147483647, 1, 9223372036854775807, 1, 3.25, 1e300,
  999999999.999, 0.0000000001, '1000-01-01', '838:59:59', '-00:00:00.001', '2024-06-30 12:00:00',
  '2024-06-30 12:00:00.000001', '1970-01-01 00:00:01', '2024-01-01 00:00:00.99', 1901,
  b'0', b'11111', b'111111111111', b'1111111111111111111111111111111111111111111111111111111111111111',
  'a', 'x,y,z', 'tab\there', 'ab', 0x61, 'it''s', 0xFFFFFFFFFFFFFFFF);
INSERT INTO fixed_all (id) VALUES (5), (6), (7);
DELETE FROM fixed_all WHERE id IN (2, 5);
INSERT INTO fixed_all (id, i, c) VALUES (8, 8, 'reused');
DELETE FROM fixed_all WHERE id = 7;

CREATE TABLE fixed_nn (
  a TINYINT NOT NULL, b3 BIT(3) NOT NULL, c CHAR(3) NOT NULL, b9 BIT(9) NOT NULL,
  d DATE NOT NULL
) ENGINE=MyISAM;
INSERT INTO fixed_nn VALUES (1, b'101', 'abc', b'100000001', '2001-02-03'),
  (2, b'010', '', b'011111110', '0000-00-00'), (3, b'111', 'z', b'0', '2020-12-31');
DELETE FROM fixed_nn WHERE a = 1;

CREATE TABLE dyn (
  id INT NOT NULL, v VARCHAR(300), vs VARCHAR(10) CHARACTER SET latin1, n INT,
  c CHAR(20), b3 BIT(3), b10 BIT(10), vb VARBINARY(50),
  tt TINYTEXT, tx TEXT, mt MEDIUMTEXT, lt LONGTEXT,
  tb TINYBLOB, bl BLOB, mb MEDIUMBLOB, lb LONGBLOB
) ENGINE=MyISAM;
INSERT INTO dyn VALUES
 (1, 'short', 'abc', 1, 'char', b'101', b'1100000011', 0x0001FF, 'tiny', 'text', 'medium', 'long',
  0x00, 0x0102, 0x030405, 0x060708),
 (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
 (3, '', '', 0, '', b'0', b'0', '', '', '', '', '', '', '', '', ''),
 (4, REPEAT('€', 300), 'x\ty\nz\\', -5, 'pad  ', b'111', b'1111111111', REPEAT(0xAB, 50),
  REPEAT('t', 255), REPEAT('äbc', 20000), REPEAT('m', 100000), REPEAT('l', 300000),
  REPEAT(0xCD, 255), REPEAT(0xEF, 65535), REPEAT(0x11, 70000), REPEAT(0x22, 1000000));
INSERT INTO dyn (id, v) VALUES (5, 'five'), (6, 'six'), (7, 'seven'), (8, 'eight'), (9, 'nine');
UPDATE dyn SET v = REPEAT('u', 290), tx = REPEAT('grown ', 3000) WHERE id IN (5, 7);
DELETE FROM dyn WHERE id IN (6, 8);
INSERT INTO dyn (id, v, mt) VALUES (10, 'ten', REPEAT('r', 5000)), (11, 'eleven', 'x');
UPDATE dyn SET lb = REPEAT(0x33, 200000) WHERE id = 1;
DELETE FROM dyn WHERE id = 3;

CREATE TABLE vmax (v VARCHAR(65532) CHARACTER SET latin1) ENGINE=MyISAM;
INSERT INTO vmax VALUES (REPEAT('x', 65532)), (NULL), (''), (REPEAT('y', 255)), (REPEAT('z', 256));

CREATE TABLE pchar (c CHAR(30), n INT NOT NULL, d DECIMAL(10,2), c300 CHAR(255) CHARACTER SET latin1, bi BIGINT,
  bn BINARY(6), dm DECIMAL(13,2))
  ENGINE=MyISAM ROW_FORMAT=DYNAMIC;
INSERT INTO pchar VALUES ('packed', 0, 1.50, REPEAT('q', 200), 0, 0x616220202020, -95123456789.50),
  ('', 7, NULL, '', NULL, NULL, NULL),
  (NULL, -1, -0.01, 'x', 123456789012, 'ab', 95123456789.5), ('   lead', 2, 0, REPEAT('w', 254), -1, 0x202020202061, -0.01);
DELETE FROM pchar WHERE n = 7;

CREATE TABLE dlit (id INT NOT NULL, ti TINYINT, tu TINYINT UNSIGNED, si SMALLINT, mi MEDIUMINT UNSIGNED,
  bi BIGINT, bu BIGINT UNSIGNED, v VARCHAR(40) CHARACTER SET utf8mb4, c CHAR(8) CHARACTER SET utf8mb4,
  c3 CHAR(4) CHARACTER SET utf8mb3 NOT NULL, vl VARCHAR(12) CHARACTER SET latin1, vb VARBINARY(10),
  d DECIMAL(8,3), dt DATETIME, t TEXT CHARACTER SET utf8mb4) ENGINE=MyISAM ROW_FORMAT=DYNAMIC;
INSERT INTO dlit SELECT seq, IF(seq % 9 = 0, NULL, CAST(seq AS SIGNED) % 256 - 128), seq % 256, -CAST(seq AS SIGNED) * 97, seq * 40503 % 16777216,
  IF(seq % 2, -9223372036854775807 + CAST(seq AS SIGNED), 9223372036854775807 - CAST(seq AS SIGNED)), 18446744073709551615 - seq,
  IF(seq % 5 = 0, NULL, CONCAT('v', seq, IF(seq % 3 = 0, ' l''é\\"', ''), REPEAT('ü', seq % 7))),
  IF(seq % 4 = 0, '', CONCAT(' c', seq % 50, IF(seq % 6 = 0, ' ', ''))), IF(seq % 2, 'ñ', 'ab  '),
  CONCAT('l', CHAR(200 + seq % 50)), IF(seq % 7 = 0, NULL, UNHEX(HEX(seq * 2654435761))), CAST(seq AS SIGNED) / 7 - 20,
  '2000-01-01' + INTERVAL seq * 3607 SECOND, IF(seq % 11 = 0, NULL, REPEAT('tëxt\n', seq % 30))
  FROM seq_1_to_400;
DELETE FROM dlit WHERE id % 13 = 0;
CREATE TABLE dck (id INT NOT NULL, v VARCHAR(30), t TEXT) ENGINE=MyISAM CHECKSUM=1;
INSERT INTO dck VALUES (1, 'a', 'x'), (2, NULL, NULL), (3, 'ccc', REPEAT('z', 300));
DELETE FROM dck WHERE id = 2;
CREATE TABLE fck (id INT NOT NULL, c CHAR(5)) ENGINE=MyISAM CHECKSUM=1;
INSERT INTO fck VALUES (1, 'a'), (2, 'bb'), (3, 'c');
DELETE FROM fck WHERE id = 2;
)SQL";

// The server's rendering of every column in the form our values take while saving:
// binary strings and BIT as hex or bits, NULL as NULL.
const char* const kQuery = R"SQL(
SET time_zone = '+00:00';
USE m;
SELECT '@@fixed_all' AS section;
SELECT id, ti, tu, si, su, mi, mu, i, iu, bi, bu, f, d, de, dz, dt, tm, tm3, dtt, dtt6, ts, ts2, yr,
  BIN(b1), LPAD(BIN(b5), 5, '0'), LPAD(BIN(b12), 12, '0'), LPAD(BIN(b64), 64, '0'), e, s, c, cu,
  CONCAT('0x', HEX(cb)), vc, IF(vb = '', '', CONCAT('0x', HEX(vb))) FROM fixed_all;
SELECT '@@fixed_nn' AS section;
SELECT a, LPAD(BIN(b3), 3, '0'), c, LPAD(BIN(b9), 9, '0'), d FROM fixed_nn;
SELECT '@@dyn' AS section;
SELECT id, v, vs, n, c, LPAD(BIN(b3), 3, '0'), LPAD(BIN(b10), 10, '0'),
  IF(vb = '', '', CONCAT('0x', HEX(vb))), tt, tx, mt, lt,
  IF(tb = '', '', CONCAT('0x', HEX(tb))), IF(bl = '', '', CONCAT('0x', HEX(bl))),
  IF(mb = '', '', CONCAT('0x', HEX(mb))), IF(lb = '', '', CONCAT('0x', HEX(lb))) FROM dyn;
SELECT '@@vmax' AS section;
SELECT v FROM vmax;
SELECT '@@pchar' AS section;
SELECT c, n, d, c300, bi, CONCAT('0x', HEX(bn)), dm FROM pchar;
SELECT '@@dck' AS section;
SELECT * FROM dck;
SELECT '@@fck' AS section;
SELECT * FROM fck;
)SQL";

class MyisamFixtureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        s_fixture = new Fixture(makeFixture("myisam_tables", kSql, kQuery));
    }
    static void TearDownTestSuite() {
        delete s_fixture;
        s_fixture = nullptr;
    }
    static Fixture* s_fixture;
};
Fixture* MyisamFixtureTest::s_fixture = nullptr;

// Equal texts, or two renderings of one floating-point number (1e+300 and 1e300).
bool sameValue(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (a.empty() || b.empty()) return false;
    char* endA = nullptr;
    char* endB = nullptr;
    const double x = std::strtod(a.c_str(), &endA);
    const double y = std::strtod(b.c_str(), &endB);
    return *endA == 0 && *endB == 0 && x == y;
}

void expectSameRows(const std::vector<TextRow>& ours, const std::vector<TextRow>& server) {
    ASSERT_EQ(ours.size(), server.size());
    for (std::size_t r = 0; r < ours.size(); ++r) {
        ASSERT_EQ(ours[r].size(), server[r].size()) << "row " << r;
        for (std::size_t c = 0; c < ours[r].size(); ++c)
            EXPECT_TRUE(sameValue(ours[r][c], server[r][c]))
                << "row " << r << " column " << c << ": ours " << ours[r][c].substr(0, 80)
                << ", server " << server[r][c].substr(0, 80);
    }
}

TEST_F(MyisamFixtureTest, RowsEqualWhatTheServerReturned) {
    struct Case {
        const char* table;
        std::int32_t rowFormat;
        std::uint64_t minDeleted;  // deleted slots or blocks the walk must have passed
    };
    const Case kCases[] = {
        {"fixed_all", myisam::kRowFormatFixed, 1},
        {"fixed_nn", myisam::kRowFormatFixed, 1},
        {"dyn", myisam::kRowFormatDynamic, 1},
        {"vmax", myisam::kRowFormatDynamic, 0},
        {"pchar", myisam::kRowFormatDynamic, 1},
        // CHECKSUM=1: a checksum byte after every record and slot.
        {"dck", myisam::kRowFormatDynamic, 1},
        {"fck", myisam::kRowFormatFixed, 1},
    };
    const std::string result = s_fixture->resultText();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.table);
        TableSession session;
        ASSERT_TRUE(session.open(s_fixture->dataDir / "m", c.table));
        EXPECT_EQ(session.ctx().myisamRowFormat, c.rowFormat);
        myisam::WalkCounts counts;
        const std::vector<TextRow> ours = session.rows(true, &counts);
        const std::vector<TextRow> server = sectionRows(result, c.table);
        ASSERT_FALSE(server.empty());
        expectSameRows(ours, server);
        EXPECT_GE(counts.deletedSkipped, c.minDeleted);
        EXPECT_EQ(counts.damagedSkipped, 0u);
    }
}

// The CREATE TABLE statement of table in kSql, up to its semicolon.
std::string createStatement(const std::string& table) {
    const std::string sql = kSql;
    const std::size_t start = sql.find("CREATE TABLE " + table + " ");
    if (start == std::string::npos) return {};
    return sql.substr(start, sql.find(';', start) + 1 - start);
}

// Every table saved as a script, loaded by a real server into the same definitions, reads
// back exactly as the original: the values written are the values that were stored.
TEST_F(MyisamFixtureTest, ScriptOfEveryTableReloadsToTheSameRows) {
    // Without strict mode, as the original rows were stored: an ENUM holding its error
    // value '' cannot be inserted again under strict mode.
    std::string reload =
        "CREATE DATABASE m;\nUSE m;\nSET time_zone = '+00:00';\nSET sql_mode = '';\n";
    const char* const kTables[] = {"fixed_all", "fixed_nn", "dyn", "vmax", "pchar", "dck", "fck"};
    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_tables_script";
    fs::create_directories(work);
    for (const char* table : kTables) {
        SCOPED_TRACE(table);
        TableSession session;
        ASSERT_TRUE(session.open(s_fixture->dataDir / "m", table));
        session.settings.savingScript = true;
        const fs::path script = work / (std::string(table) + ".sql");
        ASSERT_TRUE(session.frame->scriptWriter.open(script));
        ASSERT_TRUE(myisam::mydfileforscript(
            *session.frame, session.ctx(), s_fixture->dataDir / "m" / (std::string(table) + ".MYD"), table));
        session.frame->scriptWriter.close();
        const std::string create = createStatement(table);
        ASSERT_FALSE(create.empty());
        reload += create + "\n" + readFileText(script);
    }
    const Fixture back = makeFixture("myisam_tables_reload", reload, kQuery);
    const std::string original = s_fixture->resultText();
    const std::string reloaded = back.resultText();
    for (const char* table : kTables) {
        SCOPED_TRACE(table);
        const std::vector<TextRow> expected = sectionRows(original, table);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(sectionRows(reloaded, table), expected);
    }
}

// The literals written straight from a dynamic record's fields are the literals of its
// decoded values, byte for byte, and a record is refused (and refused the same way) by
// both or by neither: every record of every dynamic table (integers of each width,
// UTF-8 and latin1 text, CHAR padding, binary strings, DECIMAL, DATETIME, TEXT, BLOB and
// BIT columns, NULLs, checksums), and copies of each with a few bytes changed.
TEST_F(MyisamFixtureTest, LiteralsFromFieldsEqualTheLiteralsOfTheDecodedValues) {
    const std::string folder = "/save/here";
    std::uint64_t seed = 0x2545F4914F6CDD1DULL;
    const auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    std::size_t records = 0, rows = 0, refusals = 0, plannedTables = 0;
    for (const char* table : {"dyn", "vmax", "pchar", "dck", "dlit"}) {
        SCOPED_TRACE(table);
        TableSession session;
        ASSERT_TRUE(session.open(s_fixture->dataDir / "m", table));
        ASSERT_EQ(session.ctx().myisamRowFormat, myisam::kRowFormatDynamic);
        myisam::MyisamReader& ctx = session.ctx();
        std::optional<myisam::DynamicLiteralPlan> plan;
        const auto compare = [&](const myisam::MyisamRowLayout& layout, core::ByteSpan record) {
            std::string want;
            const myisam::UnpackResult decoded = myisam::unpackDynamicRecordValues(ctx, layout, record);
            if (decoded == myisam::UnpackResult::Row)
                for (const auto& c : ctx.columns) values::appendSqlLiteral(c, folder, want);
            values::RowText gotText;
            const myisam::UnpackResult written =
                myisam::appendDynamicRecordLiterals(ctx, layout, *plan, record, folder, gotText);
            const std::string got(gotText.view());
            EXPECT_EQ(static_cast<int>(written), static_cast<int>(decoded));
            if (written == myisam::UnpackResult::Row && decoded == written && got != want) {
                const std::size_t at = static_cast<std::size_t>(
                    std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(std::min(got.size(), want.size())),
                                  want.begin()).first - got.begin());
                ADD_FAILURE() << "differs from byte " << at << ": got " << got.substr(at > 40 ? at - 40 : 0, 120)
                              << " want " << want.substr(at > 40 ? at - 40 : 0, 120);
            }
            if (decoded == myisam::UnpackResult::Row)
                ++rows;
            else
                ++refusals;
            return decoded;
        };
        myisam::WalkOptions o;
        o.decode = session.options(true);
        o.collectRows = false;
        o.unpackRecord = [&](const myisam::MyisamRowLayout& layout, core::ByteSpan record) {
            if (!plan) {
                plan = myisam::planDynamicLiterals(ctx, layout);
                if (plan->usable) ++plannedTables;
            }
            ++records;
            const myisam::UnpackResult result = compare(layout, record);
            std::vector<std::uint8_t> copy(record.begin(), record.end());
            for (int m = 0; m < 16 && !copy.empty(); ++m) {
                std::copy(record.begin(), record.end(), copy.begin());
                for (std::uint64_t k = next() % 3; k < 3; ++k) {
                    const std::size_t at = next() % copy.size();
                    if (m % 2)
                        copy[at] = static_cast<std::uint8_t>(next());
                    else
                        copy[at] ^= static_cast<std::uint8_t>(1u << (next() % 8));
                }
                (void)compare(layout, copy);
            }
            return result;
        };
        const myisam::WalkCounts counts = myisam::walkMyisamRows(ctx, 0, o);
        EXPECT_EQ(counts.damagedSkipped, 0u);
        EXPECT_GT(counts.rows, 0u);
    }
    // dyn keeps BIT bits among its null flags, so it is read through its values; the
    // other four are planned.
    EXPECT_EQ(plannedTables, 4u);
    EXPECT_GT(records, 350u);
    EXPECT_GT(rows, 2000u);
    EXPECT_GT(refusals, 500u);
}

// The updates and deletes of the fixture left what the walk has to cope with: records
// whose first block points to a continuation elsewhere, and deleted blocks.
TEST_F(MyisamFixtureTest, DynamicFixtureHoldsChainsAndDeletedBlocks) {
    TableSession session;
    ASSERT_TRUE(session.open(s_fixture->dataDir / "m", "dyn"));
    core::ReadOnlyFile& file = session.ctx().dataFile;
    int chainedFirst = 0, continuation = 0, deleted = 0;
    for (std::uint64_t p = 0; p < file.size();) {
        myisam::BlockInfo info;
        const std::uint32_t flags = myisam::readBlockHeader(file, info, p);
        ASSERT_EQ(flags & myisam::kBlockError, 0u) << "at " << p;
        if (flags & myisam::kBlockDeleted)
            ++deleted;
        else if (flags & myisam::kBlockSyncError)
            ++continuation;
        else if (!(flags & myisam::kBlockLast))
            ++chainedFirst;
        const std::uint64_t next = info.dataPosition + info.blockLength;
        ASSERT_GT(next, p);
        p = next;
    }
    EXPECT_GT(chainedFirst, 0);
    EXPECT_GT(continuation, 0);
    EXPECT_GT(deleted, 0);
}

}  // namespace
}  // namespace dunmore::test
