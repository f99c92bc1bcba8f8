// The InnoDB reader against tables a real MariaDB server wrote: every row of every
// COMPACT and DYNAMIC table, in its own .ibd and inside ibdata1, with and without ibdata1
// (the layout from the .frm alone), equals what the server's SELECT returned; externally
// stored values are read whole; damaged files end walks cleanly and keep earlier rows.
#include "innodb/index_walk.h"

#include "innodb/dictionary.h"
#include "innodb/page.h"
#include "innodb/record.h"
#include "schema/collation_table.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
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
    {"s_types", kTypesColumns, false},      {"s_types_c", kTypesColumns, false},
    {"t_oldtime", "id, dt, ts, tm, da", true}, {"t_big", "id, k, vc, dt, de", true},
    {"s_big", "id, k, vc, dt, de", false},  {"t_pk_order", "a, b, c, d", true},
    {"t_rowid", "a, b", true},              {"t_uniq", "a, b, c", true},
    {"t_2500", "id, v", true},              {"t_empty", "id, v", true},
    {"t_blob", kBlobColumns, true},         {"t_blob_c", kBlobColumns, true},
    {"s_blob", kBlobColumns, false},        {"s_blob_c", kBlobColumns, false},
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
            i += 2;  // the marker value and the next result's header line
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
    std::unique_ptr<core::RecoveryContext> ctx = std::make_unique<core::RecoveryContext>();
    fs::path blobFolder;
    std::uint64_t blobFilesRead = 0;

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
    };

    Table read(const fs::path& db, const std::string& name) {
        Table t;
        ctx->clearTable();
        EXPECT_TRUE(schema::readTableDefinition(*ctx, db / (name + ".frm"), settings));
        const auto start = innodb::locateInnodbTable(*ctx, db, name);
        t.lookup = start.lookup;
        t.inOwnFile = start.inOwnFile;
        if (start.lookup != innodb::TableLookup::Found) return t;
        ctx->tablespaceSelected = start.inOwnFile;
        const std::uint32_t nullBitmap = innodb::prepareWalkLayout(*ctx);
        innodb::LeafWalkOptions options;
        options.slot = start.inOwnFile ? innodb::TablespaceSlot::TablespaceFile
                                       : innodb::TablespaceSlot::SystemTablespace;
        options.firstPage = start.firstLeaf;
        const auto st = innodb::walkLeafChain(
            *ctx, options,
            [&](core::ByteSpan page, const innodb::LeafRecord& r) {
                innodb::decodeLeafRecord(*ctx, settings, page, r.origin, r.fieldAreaLength,
                                         nullBitmap);
                std::vector<std::string> row;
                for (const auto& c : ctx->columns) row.push_back(shown(c));
                t.rows.push_back(std::move(row));
                return true;
            },
            t.counts);
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
    ASSERT_TRUE(innodb::openSystemTablespace(*reader.ctx, (s_fixture->dataDir / "ibdata1").string()));
    const fs::path db = s_fixture->dataDir / "rt";
    for (const auto& t : kTables) {
        SCOPED_TRACE(t.table);
        const auto want = s_expected.at(t.table);
        const auto got = reader.read(db, t.table);
        EXPECT_EQ(got.inOwnFile, t.inOwnFile);
        if (!want.empty()) {
            ASSERT_EQ(got.lookup, innodb::TableLookup::Found);
        }
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
        expectSameRows(got.rows, s_expected.at(t.table));
    }
    EXPECT_GE(reader.blobFilesRead, 2u * 12u);
}

TEST_F(InnodbRows, RedundantUserPagesYieldNoRows) {
    for (const fs::path& dir : {s_fixture->dataDir, s_withoutIbdata}) {
        Reader reader(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_rows_save_red");
        if (fs::exists(dir / "ibdata1"))
            ASSERT_TRUE(innodb::openSystemTablespace(*reader.ctx, (dir / "ibdata1").string()));
        const auto got = reader.read(dir / "rt", "t_red");
        EXPECT_TRUE(got.rows.empty());
    }
}

}  // namespace
