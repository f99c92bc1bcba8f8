// The InnoDB reader against tables a real MariaDB server wrote: every row of every
// COMPACT and DYNAMIC table, in its own .ibd and inside ibdata1, with and without ibdata1
// (the layout from the .frm alone), equals what the server's SELECT returned; externally
// stored values are read whole; damaged files end walks cleanly and keep earlier rows.
#include "innodb/index_walk.h"

#include "innodb/dictionary.h"
#include "innodb/leaf_recovery.h"
#include "innodb/page_check.h"
#include "innodb/page.h"
#include "innodb/record.h"
#include "schema/collation_table.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"
#include "values/sql_literal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;
using Rows = std::vector<std::vector<std::string>>;

const std::string kSql = R"SQL(
CREATE DATABASE rt;
USE rt;
SET sql_mode='';
CREATE TABLE t_types (
 id INT NOT NULL PRIMARY KEY,
 ti TINYINT, tiu TINYINT UNSIGNED, si SMALLINT, siu SMALLINT UNSIGNED,
 mi MEDIUMINT, miu MEDIUMINT UNSIGNED, ii INT, iiu INT UNSIGNED, bi BIGINT, biu BIGINT UNSIGNED,
 fl FLOAT, db DOUBLE, de DECIMAL(20,6), de2 DECIMAL(5,2),
 dt DATETIME, dt6 DATETIME(6), ts TIMESTAMP NULL DEFAULT NULL, ts3 TIMESTAMP(3) NULL DEFAULT NULL,
 tm TIME, tm3 TIME(3), da DATE, yr YEAR,
 bt BIT(10), en ENUM('a','b','c'), st SET('x','y','z'),
 cl CHAR(10) CHARACTER SET latin1, cu CHAR(5) CHARACTER SET utf8mb4,
 vl VARCHAR(100) CHARACTER SET latin1, vu VARCHAR(300) CHARACTER SET utf8mb4,
 vb VARBINARY(50), bn BINARY(4), tx TEXT, bl BLOB
) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
INSERT INTO t_types VALUES
 (1, -128, 0, -32768, 0, -8388608, 0, -2147483648, 0, -9223372036854775808, 0,
  -3.25, -1e-300, -12345678901234.123456, -0.50,
  '1000-01-01 00:00:00', '2020-02-29 23:59:59.123456', '1970-01-01 00:00:01', '2038-01-19 03:14:07.999',
  '-838:59:59', '-12:34:56.789', '1000-01-01', 1901,
  b'0000000001', 'a', 'x', 'abc', 'é', 'O''Brien', 'café 日本', x'00ff41', x'01020304', 'tab\there\nline\\back', x'00'),
 (2, 127, 255, 32767, 65535, 8388607, 16777215, 2147483647, 4294967295, 9223372036854775807, 18446744073709551615,
  3.14159, 2.718281828459045, 99999999999999.999999, 999.99,
  '9999-12-31 23:59:59', '0000-00-00 00:00:00.000000', '2015-03-07 09:05:00', '2001-09-09 01:46:40.5',
  '838:59:59', '00:00:00.001', '9999-12-31', 2155,
  b'1111111111', 'c', 'x,y,z', '', '', '', '', '', x'00000000', '', ''),
 (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
 (4, 0, 1, -1, 1, -1, 1, -1, 1, -1, 1, 0, 0, 0, 0.00,
  '2000-01-01 12:00:00', '2000-01-01 12:00:00.000001', NULL, NULL, '00:00:00', '00:00:00', '2000-01-01', 2000,
  b'0101010101', 'b', '', 'zz', 'ñäöüß', REPEAT('x', 100), REPEAT('€', 300), REPEAT(x'AB', 50), x'FFFFFFFF',
  REPEAT('text ', 500), REPEAT(x'00FF', 1000));
CREATE TABLE t_types_c LIKE t_types;
ALTER TABLE t_types_c ROW_FORMAT=COMPACT;
INSERT INTO t_types_c SELECT * FROM t_types;
CREATE TABLE t_red LIKE t_types;
ALTER TABLE t_red ROW_FORMAT=REDUNDANT;
INSERT INTO t_red SELECT * FROM t_types;
SET GLOBAL mysql56_temporal_format=OFF;
CREATE TABLE t_oldtime (id INT PRIMARY KEY, dt DATETIME, ts TIMESTAMP NULL DEFAULT NULL, tm TIME, da DATE) ENGINE=InnoDB;
INSERT INTO t_oldtime VALUES (1, '2015-03-07 09:05:00', '2015-03-07 09:05:00', '-12:34:56', '2015-03-07'),
 (2, '1000-01-01 00:00:00', '1970-01-01 00:00:01', '838:59:59', '9999-12-31'), (3, NULL, NULL, NULL, NULL);
SET GLOBAL mysql56_temporal_format=ON;
CREATE TABLE t_big (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, k INT NOT NULL, vc VARCHAR(64), dt DATETIME, de DECIMAL(12,2)) ENGINE=InnoDB;
INSERT INTO t_big (k, vc, dt, de) SELECT seq * 7 % 1000, CONCAT('row-', seq), '2020-01-01' + INTERVAL seq MINUTE, seq / 100 FROM seq_1_to_30000;
DELETE FROM t_big WHERE id % 7 = 0;
UPDATE t_big SET vc = CONCAT(vc, '-updated-with-a-longer-text') WHERE id % 5 = 0;
CREATE TABLE t_pk_order (a INT NOT NULL, b VARCHAR(40) NOT NULL, c INT, d VARCHAR(10), PRIMARY KEY (b, a)) ENGINE=InnoDB;
INSERT INTO t_pk_order SELECT seq % 13, CONCAT('key-', seq * 7919 % 6000, '-', REPEAT('k', seq % 20)), seq, IF(seq % 3 = 0, NULL, 'd') FROM seq_1_to_6000;
CREATE TABLE t_rowid (a INT NULL, b VARCHAR(10)) ENGINE=InnoDB;
INSERT INTO t_rowid SELECT IF(seq % 4 = 0, NULL, seq), CONCAT('r', seq) FROM seq_1_to_5000;
CREATE TABLE t_uniq (a INT NULL, b INT NOT NULL, c VARCHAR(5), UNIQUE KEY ua (a), UNIQUE KEY ub (b)) ENGINE=InnoDB;
INSERT INTO t_uniq SELECT IF(seq % 4 = 0, NULL, seq), 10000 - seq, 'c' FROM seq_1_to_3000;
CREATE TABLE t_2500 (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB;
INSERT INTO t_2500 SELECT seq, CONCAT('v', seq) FROM seq_1_to_2500;
CREATE TABLE t_empty (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB;
CREATE TABLE t_blob (id INT PRIMARY KEY, lt LONGTEXT, lb LONGBLOB, vlong VARCHAR(20000) CHARACTER SET latin1, vbin VARBINARY(20000)) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
INSERT INTO t_blob SELECT seq, REPEAT(CONCAT('line ', seq, ' ünï\t'), seq * 900), REPEAT(UNHEX(SHA2(seq, 256)), seq * 700),
  REPEAT(CHAR(65 + seq % 26), 12000 + seq), REPEAT(UNHEX(SHA2(seq, 224)), 600) FROM seq_1_to_6;
INSERT INTO t_blob VALUES (7, 'short', x'0102', 'v', x'03'), (8, NULL, NULL, NULL, NULL), (9, '', '', '', '');
CREATE TABLE t_blob_c LIKE t_blob;
ALTER TABLE t_blob_c ROW_FORMAT=COMPACT;
INSERT INTO t_blob_c SELECT * FROM t_blob;
CREATE TABLE t_instant (id INT PRIMARY KEY, a INT, b VARCHAR(10), c INT NOT NULL) ENGINE=InnoDB;
INSERT INTO t_instant SELECT seq, seq * 2, CONCAT('b', seq), seq * 3 FROM seq_1_to_50;
ALTER TABLE t_instant DROP COLUMN a, ALGORITHM=INSTANT;
INSERT INTO t_instant SELECT seq, CONCAT('b', seq), seq * 3 FROM seq_51_to_60;
CREATE TABLE t_instant_add (id INT PRIMARY KEY, b VARCHAR(10)) ENGINE=InnoDB;
INSERT INTO t_instant_add SELECT seq, CONCAT('b', seq) FROM seq_1_to_50;
ALTER TABLE t_instant_add ADD COLUMN d INT DEFAULT 7, ADD COLUMN e VARCHAR(5) NULL, ALGORITHM=INSTANT;
INSERT INTO t_instant_add SELECT seq, CONCAT('b', seq), seq, IF(seq % 2, NULL, 'e') FROM seq_51_to_60;
CREATE TABLE t_add (id INT PRIMARY KEY, a VARCHAR(10)) ENGINE=InnoDB;
INSERT INTO t_add SELECT seq, CONCAT('a', seq) FROM seq_1_to_300;
ALTER TABLE t_add ADD COLUMN b INT NOT NULL DEFAULT 7, ADD COLUMN c VARCHAR(20) DEFAULT 'dflt', ADD COLUMN d INT NULL, ALGORITHM=INSTANT;
INSERT INTO t_add SELECT seq, CONCAT('a', seq), seq * 3, IF(seq % 3 = 0, NULL, CONCAT('c', seq)), IF(seq % 2, NULL, seq) FROM seq_301_to_400;
UPDATE t_add SET b = -1, d = id WHERE id % 10 = 0 AND id <= 300;
UPDATE t_add SET a = 'upd' WHERE id % 25 = 1 AND id <= 300;
CREATE TABLE t_add_n (id INT PRIMARY KEY, n1 INT NULL, n2 VARCHAR(8) NULL) ENGINE=InnoDB;
INSERT INTO t_add_n SELECT seq, IF(seq % 2, NULL, seq), IF(seq % 3, 'x', NULL) FROM seq_1_to_40;
ALTER TABLE t_add_n ADD COLUMN n3 INT NULL, ADD COLUMN n4 VARCHAR(8) NULL DEFAULT 'nd', ADD COLUMN n5 INT NULL DEFAULT 5, ADD COLUMN n6 INT NULL,
  ADD COLUMN n7 INT NULL, ADD COLUMN n8 INT NULL, ADD COLUMN t9 TEXT NULL DEFAULT 'text default', ALGORITHM=INSTANT;
INSERT INTO t_add_n VALUES (41, NULL, NULL, 1, NULL, NULL, 6, NULL, 8, NULL), (42, 2, 'y', NULL, 'v', 3, NULL, 7, NULL, 't');
UPDATE t_add_n SET n8 = 88 WHERE id IN (4, 5);
CREATE TABLE t_add_pk (k VARCHAR(40) PRIMARY KEY, n1 INT, n2 INT, n3 INT, n4 INT, n5 INT, n6 INT, n7 INT, n8 INT) ENGINE=InnoDB;
INSERT INTO t_add_pk SELECT CONCAT(REPEAT('k', seq % 30), seq), seq, NULL, seq, NULL, seq, NULL, seq, IF(seq % 2, NULL, seq) FROM seq_1_to_3000;
ALTER TABLE t_add_pk ADD COLUMN z INT NULL DEFAULT 9, ALGORITHM=INSTANT;
INSERT INTO t_add_pk SELECT CONCAT('new', seq), NULL, seq, NULL, seq, NULL, seq, NULL, seq, IF(seq % 2, NULL, seq) FROM seq_1_to_500;
SET GLOBAL innodb_file_per_table=OFF;
CREATE TABLE s_types LIKE t_types;
INSERT INTO s_types SELECT * FROM t_types;
CREATE TABLE s_types_c LIKE t_types_c;
INSERT INTO s_types_c SELECT * FROM t_types_c;
CREATE TABLE s_big LIKE t_big;
INSERT INTO s_big SELECT * FROM t_big;
CREATE TABLE s_blob LIKE t_blob;
INSERT INTO s_blob SELECT * FROM t_blob;
CREATE TABLE s_blob_c LIKE t_blob_c;
INSERT INTO s_blob_c SELECT * FROM t_blob_c;
SET GLOBAL innodb_file_per_table=ON;
)SQL";

const char* const kTypesColumns =
    "id, ti, tiu, si, siu, mi, miu, ii, iiu, bi, biu, fl, db, de, de2, dt, dt6, ts, ts3, tm, "
    "tm3, da, yr, LPAD(BIN(bt),10,'0'), en, st, cl, cu, vl, vu, HEX(vb), HEX(bn), tx, HEX(bl)";
const char* const kBlobColumns = "id, lt, HEX(lb), vlong, HEX(vbin)";

struct TableQuery {
    const char* table;
    const char* columns;
    bool inOwnFile;
};
const TableQuery kTables[] = {
    {"t_types", kTypesColumns, true},       {"t_types_c", kTypesColumns, true},
    {"t_red", kTypesColumns, true},
    {"s_types", kTypesColumns, false},      {"s_types_c", kTypesColumns, false},
    {"t_oldtime", "id, dt, ts, tm, da", true}, {"t_big", "id, k, vc, dt, de", true},
    {"s_big", "id, k, vc, dt, de", false},  {"t_pk_order", "a, b, c, d", true},
    {"t_rowid", "a, b", true},              {"t_uniq", "a, b, c", true},
    {"t_2500", "id, v", true},              {"t_empty", "id, v", true},
    {"t_blob", kBlobColumns, true},         {"t_blob_c", kBlobColumns, true},
    {"s_blob", kBlobColumns, false},        {"s_blob_c", kBlobColumns, false},
    {"t_instant", "id, b, c", true},        {"t_instant_add", "id, b, d, e", true},
    {"t_add", "id, a, b, c, d", true},
    {"t_add_n", "id, n1, n2, n3, n4, n5, n6, n7, n8, t9", true},
    {"t_add_pk", "k, n1, n2, n3, n4, n5, n6, n7, n8, z", true},
};

std::string queryText() {
    std::string q = "SET time_zone='+00:00';\n";
    for (const auto& t : kTables) {
        q += std::string("SELECT '#") + t.table + "' AS marker;\n";
        q += std::string("SELECT ") + t.columns + " FROM rt." + t.table + ";\n";
    }
    return q;
}

// The result sets of the query file, by table.
std::map<std::string, Rows> expectedRows(const std::string& text) {
    std::map<std::string, Rows> out;
    const Rows lines = test::parseBatch(text);
    Rows* current = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].size() == 1 && lines[i][0] == "marker" && i + 1 < lines.size()) {
            current = &out[lines[i + 1][0].substr(1)];
            ++i;
            // The result's header line; an empty result prints none.
            if (i + 1 < lines.size() && !(lines[i + 1].size() == 1 && lines[i + 1][0] == "marker"))
                ++i;
            continue;
        }
        if (current && !(lines[i].size() == 1 && lines[i][0].empty())) current->push_back(lines[i]);
    }
    return out;
}

// The escapes of mariadb --batch output.
std::string batchEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\0': out += "\\0"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string hexText(const std::string& bytes) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(d[c >> 4]);
        out.push_back(d[c & 15]);
    }
    return out;
}

bool isBinaryColumn(const core::ColumnDefinition& c) {
    const bool stringType = c.typeCode == 15 || c.typeCode == 253 || c.typeCode == 254 ||
                            (c.typeCode >= 249 && c.typeCode <= 252);
    return stringType && c.charset == 63;
}

struct Reader {
    core::AppSettings settings;
    core::RecoveryContext run;
    std::unique_ptr<innodb::InnodbReader> ctx = std::make_unique<innodb::InnodbReader>();
    fs::path blobFolder;
    std::uint64_t blobFilesRead = 0;
    // Called with every record the walk meets, before it is decoded.
    std::function<void(core::ByteSpan, const innodb::LeafRecord&, std::uint32_t)> eachRecord;

    explicit Reader(const fs::path& saving) {
        settings.savingScript = true;
        settings.savingFolder = saving.string();
        blobFolder = saving / "blobdata";
        fs::remove_all(saving);
        fs::create_directories(blobFolder);
    }

    // One column's value as mariadb --batch shows the same SELECT expression.
    std::string shown(const core::ColumnDefinition& c) {
        if (c.isNull) return "NULL";
        std::string v = c.value;
        const std::string blobPrefix = (blobFolder / "").string();
        if (v.rfind(blobPrefix, 0) == 0) {
            ++blobFilesRead;
            const std::string bytes = test::readFileText(v);
            return c.charset == 63 ? hexText(bytes) : batchEscaped(bytes);
        }
        if (isBinaryColumn(c)) return v.rfind("0x", 0) == 0 ? v.substr(2) : v;
        return batchEscaped(v);
    }

    struct Table {
        innodb::TableLookup lookup = innodb::TableLookup::NoTablespace;
        bool inOwnFile = false;
        Rows rows;
        innodb::LeafWalkCounts counts;
        innodb::LeafDamage damage;
    };

    // The table of db, or with the .frm of db and the .ibd of ibdDir.
    Table read(const fs::path& db, const std::string& name, const fs::path& ibdDir = {}) {
        Table t;
        ctx = std::make_unique<innodb::InnodbReader>(run);
        EXPECT_TRUE(schema::readTableDefinition(*ctx, db / (name + ".frm"), settings));
        const auto start = innodb::locateInnodbTable(*ctx, ibdDir.empty() ? db : ibdDir, name);
        t.lookup = start.lookup;
        t.inOwnFile = start.inOwnFile;
        // Without a leaf reachable from the root the leaves are looked for in the file.
        if (start.lookup != innodb::TableLookup::Found &&
            (start.lookup != innodb::TableLookup::LeafPageNotFound || ctx->clusteredFields.empty()))
            return t;
        ctx->tablespaceSelected = start.inOwnFile;
        const std::uint32_t nullBitmap = innodb::prepareWalkLayout(*ctx);
        innodb::ClusteredWalkOptions options;
        options.walk.slot = start.inOwnFile ? innodb::TablespaceSlot::TablespaceFile
                                            : innodb::TablespaceSlot::SystemTablespace;
        options.walk.firstPage = start.firstLeaf;
        options.walk.indexId = ctx->clusteredIndexId;
        options.rootPage = ctx->clusteredRoot;
        const auto st = innodb::walkClusteredIndex(
            *ctx, settings, options,
            [&](core::ByteSpan page, const innodb::LeafRecord& r) {
                if (eachRecord) eachRecord(page, r, nullBitmap);
                if (!innodb::decodeLeafRecord(*ctx, settings, page, r.origin, r.fieldAreaLength,
                                              nullBitmap)) {
                    innodb::recordRefused(*ctx, settings, page, r, nullBitmap, t.damage);
                    return true;
                }
                std::vector<std::string> row;
                for (const auto& c : ctx->columns) row.push_back(shown(c));
                t.rows.push_back(std::move(row));
                return true;
            },
            t.counts, t.damage);
        EXPECT_TRUE(st.isOk()) << st.message();
        ctx->tablespaceSelected = false;
        return t;
    }
};

void expectSameRows(Rows got, Rows want) {
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].size(), want[i].size()) << "row " << i;
        for (std::size_t k = 0; k < got[i].size(); ++k) {
            if (got[i][k] != want[i][k]) {
                ADD_FAILURE() << "row " << i << " column " << k << ": got "
                              << got[i][k].substr(0, 200) << " want " << want[i][k].substr(0, 200);
                return;
            }
        }
    }
}

class InnodbRows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        tzset();
        schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data");
        s_fixture = std::make_unique<test::Fixture>(test::makeFixture("innodb_rows", kSql, queryText()));
        s_expected = expectedRows(s_fixture->resultText());
        // The same folder without ibdata1: every layout comes from the .frm alone.
        s_withoutIbdata = fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_no_ibdata1";
        fs::remove_all(s_withoutIbdata);
        fs::create_directories(s_withoutIbdata / "rt");
        for (const auto& e : fs::directory_iterator(s_fixture->dataDir / "rt"))
            fs::copy_file(e.path(), s_withoutIbdata / "rt" / e.path().filename());
    }
    static std::unique_ptr<test::Fixture> s_fixture;
    static std::map<std::string, Rows> s_expected;
    static fs::path s_withoutIbdata;
};
std::unique_ptr<test::Fixture> InnodbRows::s_fixture;
std::map<std::string, Rows> InnodbRows::s_expected;
fs::path InnodbRows::s_withoutIbdata;

TEST_F(InnodbRows, EveryTableEqualsTheServersSelectWithTheDictionary) {
    Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_save_dict");
    ASSERT_TRUE(innodb::openSystemTablespace(reader.run, (s_fixture->dataDir / "ibdata1").string()));
    const fs::path db = s_fixture->dataDir / "rt";
    for (const auto& t : kTables) {
        SCOPED_TRACE(t.table);
        const auto want = s_expected.at(t.table);
        const auto got = reader.read(db, t.table);
        EXPECT_EQ(got.inOwnFile, t.inOwnFile);
        if (!want.empty()) {
            ASSERT_EQ(got.lookup, innodb::TableLookup::Found);
        }
        // Every page of an intact file verifies and every record parses.
        EXPECT_FALSE(got.damage.chainBroken) << got.damage.chainBreak;
        EXPECT_TRUE(got.damage.complete());
        expectSameRows(got.rows, want);
    }
    // The LONGTEXT and LONGBLOB values of the four blob tables went through blob files.
    EXPECT_GE(reader.blobFilesRead, 4u * 12u);
    EXPECT_EQ(reader.settings.blobFileCounter, reader.blobFilesRead);
}

TEST_F(InnodbRows, EveryOwnFileTableEqualsTheServersSelectWithoutIbdata1) {
    Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_save_frm");
    const fs::path db = s_withoutIbdata / "rt";
    for (const auto& t : kTables) {
        SCOPED_TRACE(t.table);
        const auto got = reader.read(db, t.table);
        if (!t.inOwnFile) {
            EXPECT_EQ(got.lookup, innodb::TableLookup::NoTablespace);
            continue;
        }
        EXPECT_FALSE(got.damage.chainBroken) << got.damage.chainBreak;
        EXPECT_TRUE(got.damage.complete());
        expectSameRows(got.rows, s_expected.at(t.table));
    }
    EXPECT_GE(reader.blobFilesRead, 2u * 12u);
}

// Records written before an instant ADD COLUMN hold the core fields only; the later ones
// (and the rewritten old ones) carry their own field count. Both equal the server's rows,
// the missing columns taking their defaults from the metadata record, with the dictionary
// and from the .ibd alone.
TEST_F(InnodbRows, TablesWithInstantlyAddedColumnsAreRead) {
    for (const fs::path& dir : {s_fixture->dataDir, s_withoutIbdata}) {
        SCOPED_TRACE(dir.filename().string());
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_save_add");
        if (fs::exists(dir / "ibdata1")) {
            ASSERT_TRUE(innodb::openSystemTablespace(reader.run, (dir / "ibdata1").string()));
        }
        for (const char* table : {"t_instant_add", "t_add", "t_add_n", "t_add_pk", "t_instant"}) {
            SCOPED_TRACE(table);
            const auto got = reader.read(dir / "rt", table);
            EXPECT_EQ(got.lookup, innodb::TableLookup::Found);
            ASSERT_FALSE(s_expected.at(table).empty());
            expectSameRows(got.rows, s_expected.at(table));
        }
    }
}

// ROW_FORMAT=REDUNDANT rows: every field's place from the end-offset array, NULL flags
// there too; the walk meets no page of another format.
TEST_F(InnodbRows, RedundantUserPagesAreRead) {
    for (const fs::path& dir : {s_fixture->dataDir, s_withoutIbdata}) {
        SCOPED_TRACE(dir.filename().string());
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_save_red");
        if (fs::exists(dir / "ibdata1")) {
            ASSERT_TRUE(innodb::openSystemTablespace(reader.run, (dir / "ibdata1").string()));
        }
        const auto got = reader.read(dir / "rt", "t_red");
        ASSERT_FALSE(s_expected.at("t_red").empty());
        expectSameRows(got.rows, s_expected.at("t_red"));
        EXPECT_EQ(got.counts.otherFormatPages, 0u);
        EXPECT_TRUE(got.damage.complete());
    }
}

// The literals written straight from a record's bytes are the literals of its decoded
// values, byte for byte, and a record is refused by both or by neither: every record of
// every table (each column type, row format, instant ALTER, key order, hidden row id,
// blob files and off-page values), with the dictionary and from the .frm alone, and
// copies of records with a few of their bytes changed (broken lengths, NULL bits, UTF-8,
// dates and DECIMAL digits beside intact ones).
TEST_F(InnodbRows, LiteralsFromStoredBytesEqualTheLiteralsOfTheDecodedValues) {
    std::size_t records = 0, planned = 0, agreedRefusals = 0, mutatedRows = 0;
    for (const fs::path& dir : {s_fixture->dataDir, s_withoutIbdata}) {
        SCOPED_TRACE(dir.filename().string());
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_save_literals");
        if (fs::exists(dir / "ibdata1")) {
            ASSERT_TRUE(innodb::openSystemTablespace(reader.run, (dir / "ibdata1").string()));
        }
        // Off-page values as hexadecimal literals: a blob file is created once, under a name
        // no other file has, so the two ways would name two files for one value. (The
        // blob files of a save in pieces are compared with the save of one thread.)
        reader.settings.blobsInline = true;
        const std::string folder = reader.settings.savingFolder;
        std::uint64_t seed = 0x9E3779B97F4A7C15ULL;
        const auto next = [&] {
            seed ^= seed << 13;
            seed ^= seed >> 7;
            seed ^= seed << 17;
            return seed;
        };
        for (const auto& t : kTables) {
            if (!t.inOwnFile && !fs::exists(dir / "ibdata1")) continue;
            SCOPED_TRACE(t.table);
            innodb::RecordLiteralPlan plan;
            std::size_t tableRecords = 0;
            // Both ways for one record of page.
            const auto compare = [&](core::ByteSpan page, const innodb::LeafRecord& r, std::uint32_t nullBitmap) {
                auto& ctx = *reader.ctx;
                std::string want;
                const bool decoded = innodb::decodeLeafRecord(ctx, reader.settings, page, r.origin,
                                                              r.fieldAreaLength, nullBitmap);
                for (const auto& c : ctx.columns) values::appendSqlLiteral(c, folder, want);
                values::RowText gotText;
                const bool written = innodb::appendLeafRecordLiterals(ctx, reader.settings, plan, page, r.origin,
                                                                      r.fieldAreaLength, nullBitmap, folder, gotText);
                const std::string got(gotText.view());
                EXPECT_EQ(written, decoded) << "record at " << r.origin;
                if (decoded && written && got != want) {
                    const std::size_t at = static_cast<std::size_t>(
                        std::mismatch(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(std::min(got.size(), want.size())),
                                      want.begin()).first - got.begin());
                    ADD_FAILURE() << "record at " << r.origin << " differs from byte " << at << ": got "
                                  << got.substr(at > 40 ? at - 40 : 0, 120) << " want "
                                  << want.substr(at > 40 ? at - 40 : 0, 120);
                } else if (!decoded && !written) {
                    ++agreedRefusals;
                }
                return decoded;
            };
            reader.eachRecord = [&](core::ByteSpan page, const innodb::LeafRecord& r, std::uint32_t nullBitmap) {
                if (tableRecords++ == 0) {
                    plan = innodb::planRecordLiterals(*reader.ctx);
                    if (plan.usable) ++planned;
                }
                ++records;
                compare(page, r, nullBitmap);
                if (tableRecords > 60) return;
                // Copies of the page with one to three bytes of the record or its header changed.
                std::vector<std::uint8_t> copy(page.begin(), page.end());
                const std::uint32_t from = r.origin > 24 ? r.origin - 24 : 0;
                const std::uint32_t span = std::max<std::uint32_t>(r.fieldAreaLength, 1) + (r.origin - from);
                for (int m = 0; m < 12; ++m) {
                    std::copy(page.begin(), page.end(), copy.begin());
                    for (std::uint64_t k = next() % 3; k < 3; ++k) {
                        // Every other copy has a byte of the header (lengths, NULL bits) replaced.
                        const std::size_t at = m % 2 ? from + next() % (r.origin - from + 1) : from + next() % span;
                        if (at >= copy.size()) continue;
                        if (m % 2)
                            copy[at] = static_cast<std::uint8_t>(next());
                        else
                            copy[at] ^= static_cast<std::uint8_t>(1u << (next() % 8));
                    }
                    if (compare(core::ByteSpan(copy), r, nullBitmap)) ++mutatedRows;
                }
            };
            (void)reader.read(dir / "rt", t.table);
            reader.eachRecord = nullptr;
        }
    }
    // The tables whose key columns come first, and the hidden row id tables, are planned;
    // changed copies are refused by both ways and read by both ways.
    EXPECT_GT(records, 100000u);
    EXPECT_GE(planned, 20u);
    EXPECT_GT(agreedRefusals, 500u);
    EXPECT_GT(mutatedRows, 5000u);
}

// ---- Preview screens -------------------------------------------------------------

struct RecordPlace {
    std::uint32_t page;
    std::uint32_t origin;
    std::uint32_t successor;
    std::string id;
};

// Every live record of a table in chain order, with the first column's value.
std::vector<RecordPlace> recordPlaces(Reader& reader, const fs::path& db, const std::string& name,
                                      std::uint32_t& firstLeaf) {
    reader.ctx = std::make_unique<innodb::InnodbReader>(reader.run);
    auto& ctx = *reader.ctx;
    EXPECT_TRUE(schema::readTableDefinition(ctx, db / (name + ".frm"), reader.settings));
    const auto start = innodb::locateInnodbTable(ctx, db, name);
    EXPECT_EQ(start.lookup, innodb::TableLookup::Found);
    firstLeaf = start.firstLeaf;
    const std::uint32_t nullBitmap = innodb::prepareWalkLayout(ctx);
    std::vector<RecordPlace> places;
    innodb::LeafWalkOptions options;
    options.firstPage = start.firstLeaf;
    innodb::LeafWalkCounts counts;
    EXPECT_TRUE(innodb::walkLeafChain(ctx, options,
                                      [&](core::ByteSpan page, const innodb::LeafRecord& r) {
                                          innodb::decodeLeafRecord(ctx, reader.settings, page,
                                                                   r.origin, r.fieldAreaLength,
                                                                   nullBitmap);
                                          places.push_back({r.page, r.origin, r.successor,
                                                            ctx.columns[0].value});
                                          return true;
                                      },
                                      counts)
                    .isOk());
    return places;
}

std::vector<std::string> screenIds(const innodb::InnodbReader& ctx) {
    std::vector<std::string> ids;
    for (const auto& row : ctx.previewRows) ids.push_back(row[0].value);
    return ids;
}

std::vector<std::string> idRange(const std::vector<RecordPlace>& places, std::size_t from,
                                 std::size_t to) {
    std::vector<std::string> ids;
    for (std::size_t i = from; i < to && i < places.size(); ++i) ids.push_back(places[i].id);
    return ids;
}

TEST_F(InnodbRows, PreviewScreensOf2500RowsPageBy1000WithTheirPositions) {
    Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_preview");
    reader.settings.savingScript = false;
    auto& settings = reader.settings;
    const fs::path db = s_withoutIbdata / "rt";
    std::uint32_t leaf = 0;
    const auto places = recordPlaces(reader, db, "t_2500", leaf);
    auto& ctx = *reader.ctx;
    ASSERT_EQ(places.size(), 2500u);
    ASSERT_NE(places.front().page, places.back().page);
    ctx.tablespaceSelected = true;

    // First screen, as the preview starts a table.
    ctx.pageStack.clear();
    ctx.pageStack.push_back({leaf, 0});
    ctx.keepPositions = false;
    settings.resumeAtOffset = false;
    ctx.previewRows.clear();
    EXPECT_TRUE(innodb::loadPreviewRows(ctx, settings, innodb::TablespaceSlot::TablespaceFile, leaf, 0));
    EXPECT_EQ(screenIds(ctx), idRange(places, 0, 1000));
    EXPECT_TRUE(ctx.moreRows);
    ASSERT_EQ(ctx.pageStack.size(), 2u);
    // The position pushed names the record after the 1,000th.
    EXPECT_EQ(ctx.pageStack.back().page, places[999].page);
    EXPECT_EQ(ctx.pageStack.back().offset, places[999].successor);

    struct Screen { std::size_t from, to; bool more; std::size_t stack; };
    const Screen kNext[] = {{1000, 2000, true, 3}, {2000, 2500, false, 3}};
    for (const auto& next : kNext) {
        SCOPED_TRACE(next.from);
        const auto top = ctx.pageStack.back();
        settings.resumeAtOffset = true;
        ctx.keepPositions = false;
        ctx.previewRows.clear();
        innodb::loadPreviewRows(ctx, settings, innodb::TablespaceSlot::TablespaceFile, top.page, top.offset);
        EXPECT_EQ(screenIds(ctx), idRange(places, next.from, next.to));
        EXPECT_EQ(ctx.moreRows, next.more);
        EXPECT_EQ(ctx.pageStack.size(), next.stack);
        EXPECT_FALSE(settings.resumeAtOffset);
    }
    // Previous Records reloads the middle screen from its saved start and pushes nothing.
    const auto middle = ctx.pageStack[1];
    settings.resumeAtOffset = true;
    ctx.keepPositions = true;
    ctx.previewRows.clear();
    innodb::loadPreviewRows(ctx, settings, innodb::TablespaceSlot::TablespaceFile, middle.page, middle.offset);
    EXPECT_EQ(screenIds(ctx), idRange(places, 1000, 2000));
    EXPECT_EQ(ctx.pageStack.size(), 3u);
}

TEST_F(InnodbRows, AScreenEndingOnTheLastRecordOfAPageResumesOnTheNextPage) {
    Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_preview_end");
    reader.settings.savingScript = false;
    auto& settings = reader.settings;
    std::uint32_t leaf = 0;
    const auto places = recordPlaces(reader, s_withoutIbdata / "rt", "t_2500", leaf);
    auto& ctx = *reader.ctx;
    ASSERT_EQ(places.size(), 2500u);
    // The first record that closes a page and has 999 records before it.
    std::size_t last = 999;
    while (last + 1 < places.size() && places[last + 1].page == places[last].page) ++last;
    ASSERT_LT(last + 1, places.size());
    const RecordPlace& start = places[last - 999];
    ctx.tablespaceSelected = true;
    ctx.pageStack.clear();
    ctx.keepPositions = false;
    settings.resumeAtOffset = true;
    ctx.previewRows.clear();
    innodb::loadPreviewRows(ctx, settings, innodb::TablespaceSlot::TablespaceFile, start.page, start.origin);
    EXPECT_EQ(screenIds(ctx), idRange(places, last - 999, last + 1));
    ASSERT_EQ(ctx.pageStack.size(), 1u);
    EXPECT_EQ(ctx.pageStack.back().page, places[last].page);
    EXPECT_EQ(ctx.pageStack.back().offset, innodb::kCompactSupremum);

    const auto top = ctx.pageStack.back();
    settings.resumeAtOffset = true;
    ctx.previewRows.clear();
    innodb::loadPreviewRows(ctx, settings, innodb::TablespaceSlot::TablespaceFile, top.page, top.offset);
    ASSERT_FALSE(ctx.previewRows.empty());
    EXPECT_EQ(screenIds(ctx).front(), places[last + 1].id);
    EXPECT_NE(places[last + 1].page, places[last].page);
}

// ---- Damaged files -----------------------------------------------------------------

void setU32be(std::string& image, std::uint64_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
void setU16be(std::string& image, std::uint64_t at, std::uint16_t v) {
    image[at] = static_cast<char>(v >> 8);
    image[at + 1] = static_cast<char>(v);
}
std::uint16_t u16be(const std::string& image, std::uint64_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(image[at]) << 8) |
                                      static_cast<unsigned char>(image[at + 1]));
}
constexpr std::uint64_t kPage = 16384;

// A copy of db/table (.frm and .ibd) with its .ibd image changed by damage.
fs::path damagedCopy(const fs::path& db, const std::string& table, const std::string& name,
                     const std::function<void(std::string&)>& damage) {
    const fs::path dir = fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damaged" / name / "rt";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(db / (table + ".frm"), dir / (table + ".frm"));
    std::string image = test::readFileText(db / (table + ".ibd"));
    damage(image);
    test::writeFileText(dir / (table + ".ibd"), image);
    return dir;
}

// Rewrites the checksum of a changed page as the server would have: the change then
// reads as the server's own, not as damage.
void reseal(std::string& image, std::uint64_t page) {
    innodb::writePageChecksum(
        std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(image.data() + page * kPage), kPage),
        innodb::PageChecksum::FullCrc32);
}

// An old copy of page from at page to, as a page a B-tree merge freed keeps it: its own
// page number, resealed.
void copyPageTo(std::string& image, std::uint64_t from, std::uint64_t to) {
    std::copy_n(image.begin() + from * kPage, kPage, image.begin() + to * kPage);
    setU32be(image, to * kPage + 4, static_cast<std::uint32_t>(to));
    reseal(image, to);
}

// Marks page p of the first extent as used in the space map of page 0 (the extent
// descriptor at 150 + 40 bytes each: state at 20, then two bits a page, the first set
// while the page is free).
void keepInSpaceMap(std::string& image, std::uint64_t p) {
    const std::uint64_t bit = 2 * p;
    image[150 + 24 + bit / 8] = static_cast<char>(image[150 + 24 + bit / 8] & ~(1 << (bit % 8)));
    reseal(image, 0);
}

TEST_F(InnodbRows, DamagedLeafPagesLoseOnlyTheirOwnRowsAndAreNamed) {
    Reader base(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_base");
    std::uint32_t leaf = 0;
    const auto places = recordPlaces(base, s_withoutIbdata / "rt", "t_big", leaf);
    std::vector<std::uint32_t> leaves;
    for (const auto& p : places)
        if (leaves.empty() || leaves.back() != p.page) leaves.push_back(p.page);
    ASSERT_GE(leaves.size(), 6u);
    // The ids of every leaf but the given ones, in key order.
    auto idsWithout = [&](std::set<std::uint32_t> lost) {
        std::vector<std::string> ids;
        for (const auto& p : places)
            if (!lost.count(p.page)) ids.push_back(p.id);
        return ids;
    };
    const std::uint32_t first = places.front().origin;
    const std::uint32_t second = places[1].origin;
    const std::uint32_t cutPage = leaves[leaves.size() / 2];
    std::set<std::uint32_t> pastCut;
    for (auto p : leaves)
        if (p >= cutPage) pastCut.insert(p);

    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        std::set<std::uint32_t> lostPages;  // leaves whose rows are lost and named
        std::uint64_t unreadableRecords;   // records of intact pages that are skipped
        const char* reportHas = "";         // a line of the report that says what was passed over
        std::string lostId;                 // the row of the unreadable record (default: the first)
    };
    // The record whose bytes end right below the first record's header: the one before
    // it in the page's heap.
    std::string belowFirst;
    for (std::uint32_t below = 0; const auto& p : places)
        if (p.page == leaves[0] && p.origin < first && p.origin > below) {
            below = p.origin;
            belowFirst = p.id;
        }
    ASSERT_FALSE(belowFirst.empty());
    // A page of the first extent that no page uses (the file's extent is larger than its
    // index).
    std::uint32_t spare = 0;
    {
        const std::string image = test::readFileText(s_withoutIbdata / "rt" / "t_big.ibd");
        for (std::uint32_t p = 63; p > 3 && spare == 0; --p)
            if (image.compare(p * kPage, kPage, std::string(kPage, '\0')) == 0) spare = p;
    }
    ASSERT_NE(spare, 0u);
    const std::uint32_t mid = leaves[leaves.size() / 2];
    const Case kCases[] = {
        {"first leaf zeroed", [&](std::string& img) { std::fill_n(img.begin() + leaves[0] * kPage, kPage, '\0'); },
         {leaves[0]}, 0},
        {"middle leaf zeroed", [&](std::string& img) { std::fill_n(img.begin() + mid * kPage, kPage, '\0'); },
         {mid}, 0},
        {"last leaf zeroed", [&](std::string& img) { std::fill_n(img.begin() + leaves.back() * kPage, kPage, '\0'); },
         {leaves.back()}, 0},
        {"middle leaf of 0xFF", [&](std::string& img) { std::fill_n(img.begin() + mid * kPage, kPage, '\xFF'); },
         {mid}, 0},
        {"bit flip in a record", [&](std::string& img) { img[leaves[3] * kPage + 6000] ^= 0x08; },
         {leaves[3]}, 0},
        {"bit flip in the next-page link", [&](std::string& img) { img[leaves[2] * kPage + 15] ^= 0x01; },
         {leaves[2]}, 0},
        {"two neighbouring leaves zeroed",
         [&](std::string& img) {
             std::fill_n(img.begin() + leaves[2] * kPage, kPage, '\0');
             std::fill_n(img.begin() + leaves[3] * kPage, kPage, '\0');
         },
         {leaves[2], leaves[3]}, 0},
        {"file cut in the middle of the chain", [&](std::string& img) { img.resize(cutPage * kPage + 1000); },
         pastCut, 0},
        // Links the server wrote (checksums rewritten) that loop or stop early: the other
        // leaves are found by the scan and nothing is lost.
        {"leaf chain loops back to the first leaf",
         [&](std::string& img) { setU32be(img, leaves[2] * kPage + 12, leaves[0]); reseal(img, leaves[2]); }, {}, 0},
        {"leaf chain points to itself",
         [&](std::string& img) { setU32be(img, leaves[1] * kPage + 12, leaves[1]); reseal(img, leaves[1]); }, {}, 0},
        {"previous equals next",
         [&](std::string& img) { setU32be(img, leaves[1] * kPage + 8, leaves[2]); reseal(img, leaves[1]); }, {}, 0},
        // A record whose length entry claims 16,128 bytes or more does not parse: it is
        // skipped and counted (vc's entry is the first below the 1-byte null bitmap; made
        // a 2-byte entry, its second byte is the one below, the last byte of the record
        // before it in the page, which stays as stored).
        {"length entry reaching past the page",
         [&](std::string& img) {
             img[leaves[0] * kPage + first - 7] = static_cast<char>(0xBF);
             reseal(img, leaves[0]);
         }, {}, 1},
        // A value no server writes in a page that verifies (its checksum rewritten): the
        // last byte of that record, the two fraction digits of its DECIMAL(12,2), made
        // 255. The row is not read and is named with the reason.
        {"DECIMAL digits above their range",
         [&](std::string& img) {
             img[leaves[0] * kPage + first - 8] = static_cast<char>(0xFF);
             reseal(img, leaves[0]);
         }, {}, 1, "its value of de is not one a server stores (a DECIMAL digit group above its digits)", belowFirst},
        // An old copy of a leaf the chain reads, found again by the scan that follows the
        // break: passed over where the space map marks it free, and where the map keeps it,
        // its records are met a second time and passed over; the rows stay in key order.
        {"old copy of a read leaf in a free page",
         [&](std::string& img) {
             copyPageTo(img, leaves[1], spare);
             std::fill_n(img.begin() + leaves[4] * kPage, kPage, '\0');
         },
         {leaves[4]}, 0, "leaf page(s) that the space map marks free (old copies) were passed over"},
        {"old copy of a read leaf in a page the space map keeps",
         [&](std::string& img) {
             copyPageTo(img, leaves[1], spare);
             keepInSpaceMap(img, spare);
             std::fill_n(img.begin() + leaves[4] * kPage, kPage, '\0');
         },
         {leaves[4]}, 0, "record(s) found a second time (an old copy of a page) were passed over"},
        // The same copy, older than the index: its last record has since moved to the next
        // leaf (its key there, the values of the row it was). With the first leaf lost every
        // leaf is found by the scan, the copy beside the pages the index links: the row
        // comes from the linked page, never from the copy.
        {"older copy of a leaf in a page the space map keeps",
         [&](std::string& img) {
             copyPageTo(img, leaves[1], spare);
             std::uint32_t lastOrigin = 0;
             std::string nextId;
             for (const auto& p : places) {
                 if (p.page == leaves[1]) lastOrigin = p.origin;
                 if (p.page == leaves[2] && nextId.empty()) nextId = p.id;
             }
             setU32be(img, spare * kPage + lastOrigin, static_cast<std::uint32_t>(std::stol(nextId)) ^ 0x80000000u);
             reseal(img, spare);
             keepInSpaceMap(img, spare);
             std::fill_n(img.begin() + leaves[0] * kPage, kPage, '\0');
         },
         {leaves[0]}, 0, "record(s) found a second time (an old copy of a page) were passed over"},
        // Successor links that skip records: the page header's record count names them.
        {"record successor loops inside the page",
         [&](std::string& img) {
             setU16be(img, leaves[0] * kPage + second - 2, static_cast<std::uint16_t>(first - second));
             reseal(img, leaves[0]);
         }, {}, 0},
    };
    // The rows as stored, by id: every row read from a damaged copy must be one of them.
    std::map<std::string, std::vector<std::string>> stored;
    for (const auto& row : base.read(s_withoutIbdata / "rt", "t_big").rows) stored[row[0]] = row;
    ASSERT_EQ(stored.size(), places.size());
    for (const bool withDictionary : {false, true}) {
        const fs::path db = (withDictionary ? s_fixture->dataDir : s_withoutIbdata) / "rt";
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + (withDictionary ? " with ibdata1" : " without ibdata1"));
            const fs::path dir = damagedCopy(db, "t_big", c.name, c.damage);
            Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_out");
            if (withDictionary) {
                ASSERT_TRUE(innodb::openSystemTablespace(reader.run, (s_fixture->dataDir / "ibdata1").string()));
            }
            const auto got = reader.read(dir, "t_big");
            std::vector<std::string> ids;
            for (const auto& row : got.rows) ids.push_back(row[0]);
            const std::set<std::string> unique(ids.begin(), ids.end());
            EXPECT_EQ(unique.size(), ids.size()) << "a row came twice";
            for (const auto& row : got.rows) {
                const auto was = stored.find(row[0]);
                EXPECT_TRUE(was != stored.end() && was->second == row) << "a row that was not stored: " << testing::PrintToString(row) << " stored " << (was == stored.end() ? std::string("none") : testing::PrintToString(was->second));
            }
            const auto report = got.damage.reportLines();
            std::string text;
            for (const auto& l : report) text += l + "\n";
            if (std::string(c.name) == "record successor loops inside the page") {
                // Records after the loop are not reached: counted, never guessed.
                EXPECT_FALSE(got.damage.complete()) << text;
                EXPECT_GT(got.damage.unreadableCount(), 0u);
                const auto all = idsWithout({});
                EXPECT_TRUE(std::includes(all.begin(), all.end(), ids.begin(), ids.end(),
                                          [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); }));
                continue;
            }
            auto want = idsWithout(c.lostPages);
            if (c.unreadableRecords)
                want.erase(c.lostId.empty() ? want.begin() : std::find(want.begin(), want.end(), c.lostId));
            EXPECT_EQ(ids, want) << text;
            EXPECT_EQ(got.damage.unreadableCount(), c.unreadableRecords) << text;
            EXPECT_EQ(got.damage.complete(), c.lostPages.empty() && c.unreadableRecords == 0) << text;
            EXPECT_NE(text.find(c.reportHas), std::string::npos) << text;
            for (const std::uint32_t p : c.lostPages) {
                if (p >= cutPage && std::string(c.name).find("cut") != std::string::npos) continue;
                EXPECT_NE(text.find("page " + std::to_string(p) + " damaged"), std::string::npos) << text;
            }
            if (!c.lostPages.empty() && std::string(c.name).find("cut") == std::string::npos) {
                // The key range named for each lost page: from its node pointer's key (at
                // most its first id) to before the first id of the next intact leaf.
                for (const std::uint32_t lost : c.lostPages) {
                    const std::string tail = " lost: page " + std::to_string(lost) + " damaged";
                    const auto at = text.find(tail);
                    ASSERT_NE(at, std::string::npos) << text;
                    const std::string line = text.substr(text.rfind('\n', at) + 1, at - text.rfind('\n', at) - 1);
                    long firstId = -1, lastId = -1, nextId = -1;
                    for (const auto& p : places) {
                        if (p.page == lost) {
                            if (firstId < 0) firstId = std::stol(p.id);
                            lastId = std::stol(p.id);
                        } else if (lastId >= 0 && nextId < 0 && !c.lostPages.count(p.page)) {
                            nextId = std::stol(p.id);
                        }
                    }
                    const auto from = line.find(" from ");
                    const auto before = line.find("before ");
                    if (lost == leaves[0]) {
                        EXPECT_EQ(from, std::string::npos) << line;
                    } else {
                        ASSERT_NE(from, std::string::npos) << line;
                        EXPECT_LE(std::stol(line.substr(from + 6)), firstId) << line;
                    }
                    if (nextId < 0) {
                        EXPECT_EQ(line.substr(line.size() - 3), " on") << line;
                    } else {
                        ASSERT_NE(before, std::string::npos) << line;
                        const long upper = std::stol(line.substr(before + 7));
                        EXPECT_GT(upper, lastId) << line;
                        EXPECT_LE(upper, nextId) << line;
                    }
                }
            }
        }
    }
}

TEST_F(InnodbRows, ADamagedRootIsReadAroundAndAFileWithoutLeavesNamesItsLoss) {
    const fs::path db = s_withoutIbdata / "rt";
    Reader base(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_base");
    std::uint32_t leaf = 0;
    const auto places = recordPlaces(base, db, "t_big", leaf);
    std::vector<std::string> all;
    for (const auto& p : places) all.push_back(p.id);
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        bool everyRow;
    };
    const Case kCases[] = {
        {"zeroed root", [](std::string& img) { std::fill_n(img.begin() + 3 * kPage, kPage, '\0'); }, true},
        {"root names a child past the file",
         [](std::string& img) {
             // The root of t_big is a node-pointer page: its first record's child page
             // number stands 4 bytes after the origin (the INT key).
             const std::uint64_t origin = 99 + u16be(img, 3 * kPage + 97);
             setU32be(img, 3 * kPage + origin + 4, 0x00FFFFFF);
         }, true},
        {"only the first two pages", [](std::string& img) { img.resize(2 * kPage); }, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = damagedCopy(db, "t_big", c.name, c.damage);
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_out");
        const auto got = reader.read(dir, "t_big");
        EXPECT_EQ(got.lookup, innodb::TableLookup::LeafPageNotFound);
        std::vector<std::string> ids;
        for (const auto& row : got.rows) ids.push_back(row[0]);
        std::string text;
        for (const auto& l : got.damage.reportLines()) text += l + "\n";
        if (c.everyRow) {
            EXPECT_EQ(ids, all) << text;
            EXPECT_TRUE(got.damage.complete()) << text;
            EXPECT_NE(text.find("page 3 (the root of the index) damaged"), std::string::npos) << text;
        } else {
            EXPECT_TRUE(ids.empty());
            EXPECT_TRUE(got.damage.chainBroken);
            EXPECT_FALSE(got.damage.complete());
            EXPECT_NE(text.find("No intact page of the table's index"), std::string::npos) << text;
        }
    }
}

// A table with instantly added columns whose root cannot be descended: with the root
// intact the layout comes from it and the metadata record of the first leaf the scan
// finds, and every row equals the server's; with the root lost nothing says how the
// records are laid out, so none is read and the reason is named.
TEST_F(InnodbRows, AnInstantTableWhoseDescentFailsIsReadWithItsLayoutOrNotAtAll) {
    const fs::path db = s_withoutIbdata / "rt";
    const auto& want = s_expected.at("t_add_pk");
    {
        const fs::path dir = damagedCopy(db, "t_add_pk", "instant root child past the file", [](std::string& img) {
            // The root is a node-pointer page; its first record's child page number
            // follows the VARCHAR key, whose length is the first entry below the header.
            const std::uint64_t origin = 99 + u16be(img, 3 * kPage + 97);
            const auto keyLength = static_cast<unsigned char>(img[3 * kPage + origin - 6]);
            setU32be(img, 3 * kPage + origin + keyLength, 0x00FFFFFF);
            reseal(img, 3);
        });
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_out");
        const auto got = reader.read(dir, "t_add_pk");
        EXPECT_EQ(got.lookup, innodb::TableLookup::LeafPageNotFound);
        EXPECT_TRUE(got.damage.layoutProblem.empty()) << got.damage.layoutProblem;
        expectSameRows(got.rows, want);
    }
    {
        const fs::path dir = damagedCopy(db, "t_add_pk", "instant root zeroed", [](std::string& img) {
            std::fill_n(img.begin() + 3 * kPage, kPage, '\0');
        });
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_out");
        const auto got = reader.read(dir, "t_add_pk");
        EXPECT_TRUE(got.rows.empty());
        EXPECT_FALSE(got.damage.complete());
        EXPECT_NE(got.damage.layoutProblem.find("its root page, which says how its records are laid out, is lost"),
                  std::string::npos) << got.damage.layoutProblem;
    }
}

// Instant ALTER metadata that does not agree with the table (the pages resealed, so they
// read as the server's own): the records would decode to guessed values, so the table is
// refused with what disagrees and no row is read, with the dictionary and without it.
TEST_F(InnodbRows, InstantMetadataThatDoesNotFitRefusesTheTable) {
    const auto firstRecord = [](const std::string& img, std::uint64_t page) {
        return page * kPage + static_cast<std::uint16_t>(99 + u16be(img, page * kPage + 97));
    };
    const auto blobPage = [](const std::string& img) {
        for (std::uint64_t p = 0; p < img.size() / kPage; ++p)
            if (u16be(img, p * kPage + 24) == 10) return p;
        return std::uint64_t{0};
    };
    struct Case {
        const char* name;
        const char* table;
        std::function<void(std::string&, std::uint64_t leaf)> damage;
        const char* problem;
    };
    const Case kCases[] = {
        {"root counts more core fields than the table has", "t_add",
         [](std::string& img, std::uint64_t) { setU16be(img, 3 * kPage + 50, 40 << 3); reseal(img, 3); },
         "counts 40 core fields; the table has 7"},
        {"metadata record missing", "t_add",
         [&](std::string& img, std::uint64_t leaf) {
             img[firstRecord(img, leaf) - 5] &= 0x0F;
             reseal(img, leaf);
         },
         "metadata record is missing"},
        {"metadata record with another field count", "t_add",
         [&](std::string& img, std::uint64_t leaf) {
             img[firstRecord(img, leaf) - 6] = 5;
             reseal(img, leaf);
         },
         "stores 10 fields; the table's records have 7"},
        {"metadata BLOB page of another type", "t_instant",
         [&](std::string& img, std::uint64_t) {
             const auto p = blobPage(img);
             setU16be(img, p * kPage + 24, 17855);
             reseal(img, p);
         },
         "is not a BLOB page"},
        {"root neither instant form", "t_instant",
         [](std::string& img, std::uint64_t) { img[3 * kPage + 100] = 'x'; reseal(img, 3); },
         "neither the infimum and supremum texts nor zeros"},
    };
    for (const bool withDictionary : {false, true}) {
        const fs::path db = (withDictionary ? s_fixture->dataDir : s_withoutIbdata) / "rt";
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + (withDictionary ? " with ibdata1" : " without ibdata1"));
            Reader intact(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_out");
            if (withDictionary) {
                ASSERT_TRUE(innodb::openSystemTablespace(intact.run, (s_fixture->dataDir / "ibdata1").string()));
            }
            ASSERT_FALSE(intact.read(db, c.table).rows.empty());
            const std::uint64_t leaf =
                innodb::findLeftmostLeaf(*intact.ctx, innodb::TablespaceSlot::TablespaceFile, 3);
            ASSERT_NE(leaf, 0u);
            const fs::path dir = damagedCopy(db, c.table, c.name, [&](std::string& img) { c.damage(img, leaf); });
            Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_damage_out");
            if (withDictionary) {
                ASSERT_TRUE(innodb::openSystemTablespace(reader.run, (s_fixture->dataDir / "ibdata1").string()));
            }
            reader.ctx = std::make_unique<innodb::InnodbReader>(reader.run);
            ASSERT_TRUE(schema::readTableDefinition(*reader.ctx, dir / (std::string(c.table) + ".frm"),
                                                    reader.settings));
            const auto start = innodb::locateInnodbTable(*reader.ctx, dir, c.table);
            EXPECT_EQ(start.lookup, innodb::TableLookup::LayoutUnreadable);
            EXPECT_NE(start.problem.find(c.problem), std::string::npos) << start.problem;
            EXPECT_EQ(start.firstLeaf, 0u);
            EXPECT_TRUE(reader.ctx->clusteredFields.empty());
            EXPECT_TRUE(reader.read(dir, c.table).rows.empty());
        }
    }
}

TEST_F(InnodbRows, DeleteMarkedRecordsAreNotRowsAndAreCounted) {
    const fs::path db = s_withoutIbdata / "rt";
    Reader base(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_deleted_base");
    std::uint32_t leaf = 0;
    const auto places = recordPlaces(base, db, "t_2500", leaf);
    ASSERT_EQ(places.size(), 2500u);
    // The first record, one in the middle and the last record of the first page.
    std::size_t lastOfFirst = 0;
    while (places[lastOfFirst + 1].page == places[0].page) ++lastOfFirst;
    const std::size_t marked[] = {0, 5, lastOfFirst};
    const fs::path dir = damagedCopy(db, "t_2500", "delete marks", [&](std::string& img) {
        for (std::size_t i : marked) img[places[i].page * kPage + places[i].origin - 5] |= 0x20;
        for (std::size_t i : marked) reseal(img, places[i].page);
    });
    Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_deleted_out");
    const auto got = reader.read(dir, "t_2500");
    EXPECT_EQ(got.counts.deletedSkipped, 3u);
    std::vector<std::string> want;
    for (std::size_t i = 0; i < places.size(); ++i)
        if (std::find(std::begin(marked), std::end(marked), i) == std::end(marked))
            want.push_back(places[i].id);
    std::vector<std::string> ids;
    for (const auto& row : got.rows) ids.push_back(row[0]);
    EXPECT_EQ(ids, want);
}

// An off-page value whose part chain cannot be followed to its stated length (it leaves
// the file, comes back to page 0 or to its own page, a part claims more than its page
// holds; the pages resealed, as the server's own) or whose part page does not verify is
// not a value that was stored: the rows of such values are not read and are counted,
// every other row is read as stored.
TEST_F(InnodbRows, ABlobChainThatCannotBeFollowedLosesOnlyTheRowsOfItsValues) {
    const fs::path db = s_withoutIbdata / "rt";
    Reader base(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_blob_base");
    const auto whole = base.read(db, "t_blob");
    ASSERT_EQ(whole.rows.size(), 9u);
    // Rows 1 to 6 keep their long values off-page; 7 to 9 hold short, NULL and empty ones.
    Rows inRecord;
    for (const auto& row : whole.rows)
        if (std::stoi(row[0]) >= 7) inRecord.push_back(row);
    ASSERT_EQ(inRecord.size(), 3u);
    struct Case { const char* name; std::uint32_t next; std::uint32_t length; bool reseal; };
    const Case kCases[] = {
        {"next part beyond the file", 0x7FFFFFF0, 0, true},
        {"next part is page 0", 0, 0, true},
        {"next part is the same page", 0xFFFFFFFE, 0, true},
        {"part length past the page", 0xFFFFFFFF, 0xFFFFFFFF, true},
        {"part pages that do not verify", 0xFFFFFFFF, 0, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = damagedCopy(db, "t_blob", c.name, [&](std::string& img) {
            for (std::uint64_t p = 0; p < img.size() / kPage; ++p) {
                if (u16be(img, p * kPage + 24) != 10) continue;  // BLOB pages only
                const std::uint32_t next = c.next == 0xFFFFFFFE ? static_cast<std::uint32_t>(p) : c.next;
                if (c.next != 0xFFFFFFFF) setU32be(img, p * kPage + 38 + 4, next);
                if (c.length != 0) setU32be(img, p * kPage + 38, c.length);
                if (c.reseal) reseal(img, p);
                else img[p * kPage + 1000] ^= 0x10;
            }
        });
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_blob_out");
        const auto got = reader.read(dir, "t_blob");
        expectSameRows(got.rows, inRecord);
        EXPECT_EQ(got.damage.unreadableCount(), 6u);
        EXPECT_FALSE(got.damage.complete());
        // A blob file may stay for a whole value of a row lost to its other value, never
        // for a part of one.
        std::set<std::string> wholeValues;
        for (const auto& e : fs::directory_iterator(base.blobFolder)) wholeValues.insert(test::readFileText(e.path()));
        for (const auto& e : fs::directory_iterator(reader.blobFolder))
            EXPECT_EQ(wholeValues.count(test::readFileText(e.path())), 1u) << e.path();
    }
}

// ---- Tablespaces of older MySQL servers ---------------------------------------------

// The rows of "INSERT INTO name VALUES (...),(...);" lines of a dump, as value texts.
std::map<std::string, Rows> dumpRows(const std::string& text) {
    std::map<std::string, Rows> out;
    std::size_t pos = 0;
    const std::string kInsert = "INSERT INTO ";
    while ((pos = text.find(kInsert, pos)) != std::string::npos) {
        pos += kInsert.size();
        const std::size_t nameEnd = text.find(' ', pos);
        Rows& rows = out[text.substr(pos, nameEnd - pos)];
        pos = text.find('(', nameEnd);
        std::vector<std::string> row;
        std::string value;
        bool quoted = false, wasQuoted = false;
        for (++pos; pos < text.size(); ++pos) {
            const char c = text[pos];
            if (quoted) {
                if (c == '\\' && pos + 1 < text.size()) {
                    const char e = text[++pos];
                    value.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e);
                } else if (c == '\'' && pos + 1 < text.size() && text[pos + 1] == '\'') {
                    value.push_back('\'');
                    ++pos;
                } else if (c == '\'') {
                    quoted = false;
                } else {
                    value.push_back(c);
                }
                continue;
            }
            if (c == '\'') {
                quoted = wasQuoted = true;
            } else if (c == ',' || c == ')') {
                row.push_back(wasQuoted ? batchEscaped(value) : value);
                value.clear();
                wasQuoted = false;
                if (c == ')') {
                    rows.push_back(std::move(row));
                    row.clear();
                    const std::size_t next = text.find_first_not_of(' ', pos + 1);
                    if (next == std::string::npos || text[next] != ',') break;
                    pos = text.find('(', next);
                }
            } else if (c != ' ' || !value.empty()) {
                value.push_back(c);
            }
        }
    }
    return out;
}

TEST(InnodbPeerFiles, SakilaTablesOfMysql50To56CompactAndRedundantReadWithoutIbdata1) {
    // The dump's TIMESTAMP texts carry no zone; the server that loaded it ran three hours
    // ahead of UTC, so the stored instants read back as the dump's texts in that zone
    // (the preview shows local time).
    setenv("TZ", "<+03>-3", 1);
    tzset();
    schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data");
    const fs::path peer = fs::path(DUNMORE_PEER_FIXTURES) / "innodb_ruby";
    const fs::path unpacked = fs::path(DUNMORE_FIXTURE_ROOT) / "sakila-db-unpacked";
    fs::create_directories(unpacked);
    const std::string cmd = "tar xzf '" + (peer / "sakila-db.tar.gz").string() + "' -C '" +
                            unpacked.string() + "' sakila-db/sakila-data.sql";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto dump = dumpRows(test::readFileText(unpacked / "sakila-db" / "sakila-data.sql"));
    // sakila-redundant: ROW_FORMAT=REDUNDANT files of a MySQL 5.6 server.
    for (const char* version : {"sakila-5.0", "sakila-compact", "sakila-redundant"}) {
        for (const char* table : {"actor", "category", "country", "language", "city", "store", "film"}) {
            SCOPED_TRACE(std::string(version) + " " + table);
            Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_sakila_out");
            reader.settings.savingScript = false;
            const auto got = reader.read(peer / version, table);
            ASSERT_EQ(got.lookup, innodb::TableLookup::Found);
            expectSameRows(got.rows, dump.at(table));
        }
    }
    setenv("TZ", "UTC", 1);
    tzset();
}

struct PeerTable {
    const char* script;   // under mysql56/ of the peer files
    const char* table;
    const char* columns;  // the SELECT list that shows the values as the reader gives them
    // The server shows FLOAT with 6 significant digits (and FLOAT(M,D), DOUBLE(M,D) with
    // D decimals), the reader in the shortest form that reads back exactly: compared as
    // numbers to the server's 6 digits.
    bool numbers = false;
};

// Numbers to 6 significant digits, so that 3.14 and 3.1400 compare equal.
Rows canonicalNumbers(Rows rows) {
    for (auto& row : rows) {
        for (auto& v : row) {
            char* end = nullptr;
            const double d = std::strtod(v.c_str(), &end);
            if (!v.empty() && end == v.c_str() + v.size()) {
                char buf[40];
                std::snprintf(buf, sizeof buf, "%.6g", d);
                v = buf;
            }
        }
    }
    return rows;
}
const PeerTable kPeerTables[] = {
    {"column/int/tb02.sql", "tb02", "*"},
    {"column/float/tb15.sql", "tb15", "*", true},
    {"column/decimal/tb19.sql", "tb19", "*"},
    {"column/time/tb03.sql", "tb03", "*"},
    {"column/time/tb16.sql", "tb16", "*"},
    {"column/time/tb17.sql", "tb17", "*"},
    {"column/char/tb05.sql", "tb05", "*"},
    {"column/boolean/tb18.sql", "tb18", "*"},
    {"column/enum/tb25.sql", "tb25", "*"},
    {"column/set/tb26.sql", "tb26", "*"},
    {"column/bit/tb27.sql", "tb27",
     "id, LPAD(BIN(a),1,'0'), LPAD(BIN(b),2,'0'), LPAD(BIN(c),7,'0'), LPAD(BIN(d),9,'0'), "
     "LPAD(BIN(e),64,'0')"},
    {"column/binary/tb07.sql", "tb07", "id, HEX(a), HEX(b), HEX(c), HEX(d), HEX(e)"},
    {"nullcolumn/tb12.sql", "tb12", "*"},
    {"nullcolumn/tb14.sql", "tb14", "*"},
    {"simple/tb01.sql", "tb01", "*"},
    {"simple/emp.sql", "emp", "*"},
    {"deletion/tb13.sql", "tb13", "*"},
};

TEST(InnodbPeerFiles, OneTypePerFileTablesOfMysql56And57DecodeToTheirScriptsValues) {
    setenv("TZ", "UTC", 1);
    tzset();
    schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data");
    const fs::path peer = fs::path(DUNMORE_PEER_FIXTURES) / "innodb-java-reader";
    // The scripts that made the files, run on the fixture server for its .frm files and
    // its SELECT of the same rows (without strict mode, as the 5.6 server ran them).
    std::string sql = "CREATE DATABASE jr;\nUSE jr;\nSET sql_mode='';\n";
    std::string query = "SET time_zone='+00:00';\n";
    for (const auto& t : kPeerTables) {
        std::string script = test::readFileText(peer / "mysql56" / t.script);
        // Some scripts end with the console output of a SELECT.
        if (const auto console = script.find("\nmysql>"); console != std::string::npos)
            script.resize(console + 1);
        sql += script + "\ndelimiter ;\nSET sql_mode='';\n";
        query += std::string("SELECT '#") + t.table + "' AS marker;\n";
        query += std::string("SELECT ") + t.columns + " FROM jr." + t.table + ";\n";
    }
    // simple/tb_redundant_format.ibd (ROW_FORMAT=REDUNDANT) comes without its script: its
    // one record holds the hidden row id and then a 4-byte and an 8-byte signed integer
    // (its field end offsets 6, 12, 19, 23, 31, no NULL flag), (1, 100). The same row
    // written by the fixture server is what the reader must give for the peer file.
    sql += "CREATE TABLE tb_redundant_format (a INT, b BIGINT) ENGINE=InnoDB ROW_FORMAT=REDUNDANT;\n"
           "INSERT INTO tb_redundant_format VALUES (1, 100);\n";
    query += "SELECT '#tb_redundant_format' AS marker;\nSELECT * FROM jr.tb_redundant_format;\n";
    const auto fixture = test::makeFixture("innodb_java_reader", sql, query);
    const auto expected = expectedRows(fixture.resultText());
    for (const char* version : {"mysql56", "mysql57"}) {
        for (const auto& t : kPeerTables) {
            const fs::path ibdDir = (peer / version / t.script).parent_path();
            if (!fs::exists(ibdDir / (std::string(t.table) + ".ibd"))) continue;
            SCOPED_TRACE(std::string(version) + " " + t.table);
            Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_java_reader_out");
            const auto got = reader.read(fixture.dataDir / "jr", t.table, ibdDir);
            ASSERT_EQ(got.lookup, innodb::TableLookup::Found);
            if (t.numbers)
                expectSameRows(canonicalNumbers(got.rows), canonicalNumbers(expected.at(t.table)));
            else
                expectSameRows(got.rows, expected.at(t.table));
        }
    }
    Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_java_reader_out");
    const auto got = reader.read(fixture.dataDir / "jr", "tb_redundant_format", peer / "mysql56" / "simple");
    ASSERT_EQ(got.lookup, innodb::TableLookup::Found);
    expectSameRows(got.rows, expected.at("tb_redundant_format"));
}

}  // namespace
