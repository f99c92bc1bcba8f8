// Round trips of the storage formats beyond a plain COMPACT/DYNAMIC table: a real
// MariaDB server writes the data folder, `dunmore save-script` saves it, a fresh server
// loads the scripts, and every value of every table is compared with the original's.
#include "innodb/page_check.h"
#include "support/fixture.h"
#include "support/roundtrip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace dunmore::test {
namespace {

// Ten rounds of instant ALTER TABLE on one table (ADD at the end, FIRST and AFTER, DROP
// of fixed- and variable-length columns, reorder), rows written and rewritten between
// the rounds, defaults of many types (one long enough to be stored off the metadata
// record's page), NULL and NOT NULL columns. @T@ is the table, @F@ its row format.
const char* kEvolveSql = R"SQL(
CREATE TABLE @T@ (id INT NOT NULL PRIMARY KEY, a INT, b VARCHAR(20), c DATETIME(3),
  w VARCHAR(300)) ENGINE=InnoDB ROW_FORMAT=@F@;
INSERT INTO @T@ SELECT seq, seq * 3, CONCAT('b', seq), '2020-01-01 00:00:00.5' + INTERVAL seq MINUTE,
  REPEAT('w', seq % 290) FROM seq_1_to_400;
ALTER TABLE @T@ ADD COLUMN d INT NOT NULL DEFAULT 7;
INSERT INTO @T@ (id, a, b, c, w, d) SELECT seq, -seq, NULL, NULL, 'r1', seq FROM seq_401_to_700;
ALTER TABLE @T@ DROP COLUMN a;
INSERT INTO @T@ (id, b, c, w, d) SELECT seq, 'r2', '1000-01-01 00:00:00', NULL, -seq FROM seq_701_to_900;
ALTER TABLE @T@ ADD COLUMN e VARCHAR(10) DEFAULT 'dee' FIRST;
UPDATE @T@ SET w = CONCAT(IFNULL(w, ''), '+') WHERE id % 50 = 1;
INSERT INTO @T@ (e, id, b, c, w, d) SELECT IF(seq % 2, NULL, 'r3'), seq, 'r3', NULL, 'r3', 3 FROM seq_901_to_1100;
ALTER TABLE @T@ ADD COLUMN f DECIMAL(12,3) NOT NULL DEFAULT -1.5 AFTER b;
INSERT INTO @T@ (e, id, b, f, c, w, d) SELECT 'r4', seq, NULL, seq / 8, NULL, NULL, 4 FROM seq_1101_to_1300;
ALTER TABLE @T@ MODIFY c DATETIME(3) AFTER id;
DELETE FROM @T@ WHERE id % 97 = 0;
INSERT INTO @T@ (e, id, c, b, f, w, d) SELECT 'r5', seq, '2024-02-29 12:00:00.125', 'r5', 0, 'r5', 5 FROM seq_1301_to_1500;
SET @s = CONCAT('ALTER TABLE @T@ ADD COLUMN g MEDIUMTEXT DEFAULT ''', REPEAT('long default ', 700), '''');
PREPARE st FROM @s;
EXECUTE st;
INSERT INTO @T@ (e, id, c, b, f, w, d, g) SELECT 'r6', seq, NULL, 'r6', 6, 'r6', 6, IF(seq % 3, NULL, 'short g')
  FROM seq_1501_to_1700;
UPDATE @T@ SET b = 'upd6' WHERE id % 100 = 2;
ALTER TABLE @T@ DROP COLUMN b;
INSERT INTO @T@ (e, id, c, f, w, d, g) SELECT 'r7', seq, NULL, 7, REPEAT('7', 280), 7, '' FROM seq_1701_to_1900;
ALTER TABLE @T@ ADD COLUMN i ENUM('x','y','z') NOT NULL DEFAULT 'y' AFTER id, ADD COLUMN j BIT(5) DEFAULT b'10101',
  ADD COLUMN k TIMESTAMP NULL DEFAULT '2001-02-03 04:05:06', ADD COLUMN l DOUBLE DEFAULT 1e-300,
  ADD COLUMN m DATE DEFAULT '2024-02-29', ADD COLUMN n VARBINARY(8) DEFAULT x'00FF',
  ADD COLUMN o INT UNSIGNED DEFAULT 4000000000, ADD COLUMN p CHAR(3) CHARACTER SET utf8mb4 DEFAULT 'äöü' FIRST,
  ADD COLUMN q SET('s1','s2','s3') DEFAULT 's1,s3', ADD COLUMN r INT NULL;
INSERT INTO @T@ (p, e, id, i, c, f, w, d, g, j, k, l, m, n, o, q, r)
  SELECT 'r8', 'r8', seq, 'z', NULL, 8, NULL, 8, NULL, b'00001', NULL, -2.5, NULL, '', 0, '', seq FROM seq_1901_to_2100;
UPDATE @T@ SET r = -1 WHERE id % 100 = 3;
ALTER TABLE @T@ DROP COLUMN d, MODIFY e VARCHAR(10) DEFAULT 'dee' AFTER o;
INSERT INTO @T@ (p, id, i, c, f, w, g, j, k, l, m, n, o, e, q, r)
  SELECT NULL, seq, 'x', NULL, 9, 'r9', 'r9', NULL, '2038-01-19 03:14:07', NULL, '9999-12-31', NULL, NULL, NULL, 's2', NULL
  FROM seq_2101_to_2300;
ALTER TABLE @T@ ADD COLUMN s BIGINT NOT NULL DEFAULT -9223372036854775808, ADD COLUMN t TIME(2) DEFAULT '-12:34:56.78' AFTER c;
INSERT INTO @T@ (p, id, i, c, t, f, w, g, j, k, l, m, n, o, e, q, r, s)
  SELECT 'r10', seq, 'y', NULL, '838:59:59', 10, 'r10', NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'r10', NULL, NULL, seq
  FROM seq_2301_to_2500;
UPDATE @T@ SET s = 0 WHERE id % 100 = 4;
)SQL";

// Every column of the evolved table as an exact text: strings and bits in hexadecimal,
// the long text by its length and digest.
const char* kEvolveQuery =
    "SELECT HEX(p), id, i, c, t, f, HEX(w), IF(LENGTH(g) > 100, CONCAT(LENGTH(g), ':', MD5(g)), HEX(g)), "
    "BIN(j), k, l, m, HEX(n), o, HEX(e), q, r, s FROM `@P@@D@`.`@T@` ORDER BY id;\n";

// The same kinds of rounds on a table clustered on the hidden row id, on one with a
// variable-length two-part key, on a CHAR key in a multi-byte character set, and the
// three steps of a DROP, an ADD ... FIRST and a second ADD. Then the changes of a column
// the server makes without touching the records written before: a VARCHAR widened past
// 255 bytes (its old values all shorter than 128, so their one-byte lengths still read
// as the wider column's), utf8mb3 columns made utf8mb4, a column renamed, and NOT NULL
// columns of a REDUNDANT table made nullable.
const char* kOtherTablesSql = R"SQL(
CREATE TABLE nokey (a INT, b VARCHAR(10), c INT NOT NULL) ENGINE=InnoDB;
INSERT INTO nokey SELECT seq, CONCAT('b', seq), seq FROM seq_1_to_300;
ALTER TABLE nokey ADD COLUMN d CHAR(4) DEFAULT 'dd' FIRST;
INSERT INTO nokey SELECT 'x', seq, NULL, seq FROM seq_301_to_600;
ALTER TABLE nokey DROP COLUMN b;
ALTER TABLE nokey ADD COLUMN e BLOB DEFAULT 'blob default' AFTER d;
INSERT INTO nokey SELECT NULL, 'e', seq, seq FROM seq_601_to_900;
ALTER TABLE nokey ADD COLUMN f INT NOT NULL DEFAULT 0;
CREATE TABLE vkey (v VARCHAR(20) NOT NULL, n INT NOT NULL, x INT, y VARCHAR(5), PRIMARY KEY (v, n))
  ENGINE=InnoDB ROW_FORMAT=COMPACT;
INSERT INTO vkey SELECT CONCAT('key', seq), seq, seq, 'y' FROM seq_1_to_1500;
ALTER TABLE vkey DROP COLUMN x;
ALTER TABLE vkey ADD COLUMN z INT DEFAULT 42 FIRST;
INSERT INTO vkey (v, n, y, z) SELECT CONCAT('new', seq), seq, NULL, seq FROM seq_1_to_1500;
ALTER TABLE vkey ADD COLUMN t VARCHAR(10) DEFAULT 'tt';
CREATE TABLE ckey (c CHAR(10) NOT NULL PRIMARY KEY, x INT) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
INSERT INTO ckey SELECT CONCAT('k', seq), seq FROM seq_1_to_50;
ALTER TABLE ckey ADD COLUMN y INT DEFAULT 5 FIRST;
ALTER TABLE ckey DROP COLUMN x;
CREATE TABLE issue (id INT PRIMARY KEY, a INT, b VARCHAR(10)) ENGINE=InnoDB;
INSERT INTO issue VALUES (1, 10, 'one'), (2, 20, 'two');
ALTER TABLE issue DROP COLUMN a;
ALTER TABLE issue ADD COLUMN c INT NOT NULL DEFAULT 7 FIRST;
ALTER TABLE issue ADD COLUMN d VARCHAR(10) DEFAULT 'dee';
INSERT INTO issue (id, b, c, d) VALUES (3, 'three', 33, 'x');
CREATE TABLE retype (id INT PRIMARY KEY, v VARCHAR(100) CHARACTER SET latin1, c CHAR(5) CHARACTER SET utf8mb3,
  u VARCHAR(40) CHARACTER SET utf8mb3 COLLATE utf8mb3_general_ci, old_name INT) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
INSERT INTO retype SELECT seq, REPEAT('v', seq % 101), CONCAT('ä', seq), CONCAT('ö', seq), seq FROM seq_1_to_300;
ALTER TABLE retype MODIFY v VARCHAR(300) CHARACTER SET latin1;
ALTER TABLE retype MODIFY c CHAR(5) CHARACTER SET utf8mb4,
  MODIFY u VARCHAR(40) CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
ALTER TABLE retype RENAME COLUMN old_name TO new_name;
INSERT INTO retype SELECT seq, REPEAT('w', seq - 100), CONCAT('😀', seq), CONCAT('🎨', seq), -seq FROM seq_301_to_400;
CREATE TABLE nulled (id INT PRIMARY KEY, a INT NOT NULL, b VARCHAR(20) NOT NULL, c CHAR(3) NOT NULL) ENGINE=InnoDB
  ROW_FORMAT=REDUNDANT;
INSERT INTO nulled SELECT seq, seq, CONCAT('b', seq), 'ccc' FROM seq_1_to_300;
ALTER TABLE nulled MODIFY a INT NULL, MODIFY b VARCHAR(20) NULL, MODIFY c CHAR(3) NULL;
INSERT INTO nulled SELECT seq, IF(seq % 2, NULL, seq), IF(seq % 3, NULL, 'b'), IF(seq % 5, NULL, 'c')
  FROM seq_301_to_400;
)SQL";

const char* kOtherTablesQuery = R"SQL(
SELECT HEX(d), HEX(e), a, c, f FROM `@P@@D@`.nokey ORDER BY c, a, d;
SELECT z, v, n, HEX(y), HEX(t) FROM `@P@@D@`.vkey ORDER BY v, n;
SELECT y, c FROM `@P@@D@`.ckey ORDER BY c;
SELECT c, id, b, d FROM `@P@@D@`.issue ORDER BY id;
SELECT id, HEX(v), HEX(c), HEX(u), new_name FROM `@P@@D@`.retype ORDER BY id;
SELECT id, a, HEX(b), HEX(c) FROM `@P@@D@`.nulled ORDER BY id;
)SQL";

std::string instantSql(const std::string& db) {
    std::string sql = "CREATE DATABASE " + db + ";\nUSE " + db +
                      ";\nSET SESSION alter_algorithm='INSTANT';\nSET time_zone = '+00:00';\n";
    sql += replaceAll(replaceAll(kEvolveSql, "@T@", "evolve"), "@F@", "DYNAMIC");
    sql += replaceAll(replaceAll(kEvolveSql, "@T@", "evolve_compact"), "@F@", "COMPACT");
    sql += replaceAll(replaceAll(kEvolveSql, "@T@", "evolve_redundant"), "@F@", "REDUNDANT");
    return sql + kOtherTablesSql;
}

std::string instantQuery(const std::string& db) {
    std::string q = "SET time_zone = '+00:00';\n";
    for (const char* table : {"evolve", "evolve_compact", "evolve_redundant"})
        q += replaceAll(kEvolveQuery, "@T@", table);
    q += kOtherTablesQuery;
    return replaceAll(q, "@D@", db);
}

// The file-per-table fixture serves both variants, with ibdata1 (the layout from the
// dictionary) and without it (from the .frm); the other keeps every table in ibdata1.
const RoundTrip kInstant{"instant", instantSql("rt_instant"), instantQuery("rt_instant"), {"rt_instant"}};
const RoundTrip kInstantSystem{"instant_sys", instantSql("rt_instant_sys"), instantQuery("rt_instant_sys"),
                               {"rt_instant_sys"}, "--innodb-file-per-table=0"};

TEST(InstantAlterRoundTrip, TenRoundsReadExactlyWithIbdata1) {
    const CommandRun save = roundTrip(kInstant, false);
    EXPECT_EQ(save.status, 0) << save.out;
}

TEST(InstantAlterRoundTrip, TenRoundsReadExactlyWithoutIbdata1) {
    const CommandRun save = roundTrip(kInstant, true);
    EXPECT_EQ(save.status, 0) << save.out;
}

TEST(InstantAlterRoundTrip, TenRoundsReadExactlyInTheSystemTablespace) {
    const CommandRun save = roundTrip(kInstantSystem, false);
    EXPECT_EQ(save.status, 0) << save.out;
}

// ROW_FORMAT=REDUNDANT tables: every type, NULLs (fixed-length ones keep their bytes),
// values stored off the page with their 768-byte prefix, a tree of several levels, the
// hidden row id, and a table in ibdata1.
const char* kRedundantSql = R"SQL(
CREATE DATABASE rt_redundant CHARACTER SET utf8mb4;
USE rt_redundant;
SET time_zone = '+00:00';
CREATE TABLE types (id INT NOT NULL PRIMARY KEY, ti TINYINT, si SMALLINT UNSIGNED, bi BIGINT,
  de DECIMAL(20,6), fl FLOAT, db DOUBLE, dt DATETIME(6), ts TIMESTAMP(3) NULL, tm TIME, da DATE,
  yr YEAR, bt BIT(10), en ENUM('a','b','c'), st SET('x','y','z'), cl CHAR(10) CHARACTER SET latin1,
  cu CHAR(5), vl VARCHAR(100) CHARACTER SET latin1, vu VARCHAR(3000), vb VARBINARY(50), bn BINARY(4),
  tx TEXT, bl LONGBLOB, js JSON) ENGINE=InnoDB ROW_FORMAT=REDUNDANT;
INSERT INTO types SELECT seq, IF(seq % 7 = 0, NULL, CAST(seq % 256 AS SIGNED) - 128), IF(seq % 7 = 1, NULL, seq * 20),
  IF(seq % 7 = 2, NULL, -CAST(seq AS SIGNED) * 1000000007), IF(seq % 7 = 3, NULL, seq / 7), IF(seq % 7 = 4, NULL, seq / 3),
  IF(seq % 7 = 5, NULL, seq * 1.5e-200), IF(seq % 7 = 6, NULL, '2000-01-01 00:00:00.000001' + INTERVAL seq HOUR),
  IF(seq % 5 = 0, NULL, '2001-01-01 00:00:00.123' + INTERVAL seq MINUTE), IF(seq % 5 = 1, NULL, SEC_TO_TIME(CAST(seq AS SIGNED) * 37 - 50000)),
  IF(seq % 5 = 2, NULL, '1000-01-01' + INTERVAL seq DAY), IF(seq % 5 = 3, NULL, 1901 + seq % 255),
  IF(seq % 5 = 4, NULL, seq % 1024), ELT(seq % 4 + 1, 'a', 'b', 'c', NULL), IF(seq % 3, 'x,z', NULL),
  IF(seq % 9 = 0, NULL, CONCAT('c', seq)), IF(seq % 9 = 1, NULL, 'äé€'), IF(seq % 9 = 2, NULL, REPEAT('v', seq % 100)),
  IF(seq % 100 = 0, REPEAT('日本語', 1000), IF(seq % 9 = 3, NULL, CONCAT('ü', seq))),
  IF(seq % 9 = 4, NULL, UNHEX(SHA1(seq))), IF(seq % 9 = 5, NULL, UNHEX(LPAD(HEX(seq), 8, '0'))),
  IF(seq % 50 = 0, REPEAT(CONCAT('text ', seq), 3000), IF(seq % 9 = 6, NULL, 'short')),
  IF(seq % 60 = 0, REPEAT(UNHEX(SHA2(seq, 256)), 3000), IF(seq % 9 = 7, NULL, x'00FF')),
  IF(seq % 9 = 8, NULL, JSON_OBJECT('n', seq, 's', REPEAT('j', seq % 30)))
  FROM seq_1_to_3000;
DELETE FROM types WHERE id % 101 = 0;
UPDATE types SET vu = REPEAT('ü', 1000) WHERE id % 250 = 1;
CREATE TABLE nokey (a INT, b VARCHAR(10)) ENGINE=InnoDB ROW_FORMAT=REDUNDANT;
INSERT INTO nokey SELECT IF(seq % 3, seq, NULL), IF(seq % 4, CONCAT('b', seq), NULL) FROM seq_1_to_2000;
SET GLOBAL innodb_file_per_table = 0;
CREATE TABLE in_ibdata LIKE types;
INSERT INTO in_ibdata SELECT * FROM types WHERE id < 600;
SET GLOBAL innodb_file_per_table = 1;
)SQL";

const char* kRedundantTypesQuery =
    "SELECT id, ti, si, bi, de, CAST(fl AS DOUBLE), db, dt, ts, tm, da, yr, BIN(bt), en, st, HEX(cl), HEX(cu), "
    "HEX(vl), HEX(vu), HEX(vb), HEX(bn), IF(LENGTH(tx) > 100, CONCAT(LENGTH(tx), ':', MD5(tx)), HEX(tx)), "
    "IF(LENGTH(bl) > 100, CONCAT(LENGTH(bl), ':', MD5(bl)), HEX(bl)), js FROM `@P@rt_redundant`.`@T@` ORDER BY id;\n";

std::string redundantQuery(bool withIbdata1Table) {
    std::string q = "SET time_zone = '+00:00';\n" + replaceAll(kRedundantTypesQuery, "@T@", "types") +
                    "SELECT a, HEX(b) FROM `@P@rt_redundant`.nokey ORDER BY a, b;\n";
    if (withIbdata1Table) q += replaceAll(kRedundantTypesQuery, "@T@", "in_ibdata");
    return q;
}

TEST(RedundantRoundTrip, EveryValueWithAndWithoutIbdata1) {
    const RoundTrip withIbdata1{"redundant", kRedundantSql, redundantQuery(true), {"rt_redundant"}};
    EXPECT_EQ(roundTrip(withIbdata1, false).status, 0);
    // Without ibdata1 the table inside it cannot be read: the save says so (exit 1) and
    // the file-per-table tables come out whole.
    const RoundTrip withoutIbdata1{"redundant", kRedundantSql, redundantQuery(false), {"rt_redundant"}};
    const CommandRun save = roundTrip(withoutIbdata1, true);
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Rows of table in_ibdata not saved"), std::string::npos) << save.out;
}

// A root page whose core field count does not fit the table (resealed, as the server
// would write it): the table is refused by name with the reason, nothing of it is
// written, and the other tables are saved.
TEST(InstantAlterRoundTrip, MetadataThatDoesNotFitRefusesTheTableByName) {
    namespace fs = std::filesystem;
    const Fixture fx = makeFixture(kInstant.name + "_source", kInstant.sql,
                                   replaceAll(kInstant.query, "@P@", ""), kInstant.serverOpts);
    const fs::path work = scratch("instant_refused");
    const fs::path data = work / "data";
    fs::copy(fx.dataDir, data, fs::copy_options::recursive);
    const fs::path ibd = data / "rt_instant" / "issue.ibd";
    std::string image = readFileText(ibd);
    constexpr std::size_t kPage = 16384, kRoot = 3, kPageInstant = 50;
    ASSERT_GT(image.size(), (kRoot + 1) * kPage);
    image[kRoot * kPage + kPageInstant] = 0x01;  // 40 core fields, in the high 13 bits
    image[kRoot * kPage + kPageInstant + 1] = 0x40;
    innodb::writePageChecksum(
        std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(image.data() + kRoot * kPage), kPage),
        innodb::PageChecksum::FullCrc32);
    writeFileText(ibd, image);
    const CommandRun save = saveScript(data, work / "out", {"rt_instant"}, work);
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Rows of table issue not saved: its records cannot be read: the instant ALTER "
                            "root page (page 3) counts 40 core fields; the table has 7."),
              std::string::npos)
        << save.out;
    const std::string script = scriptsOf(work / "out");
    EXPECT_EQ(script.find("INSERT INTO `issue`"), std::string::npos);
    EXPECT_NE(script.find("INSERT INTO `vkey`"), std::string::npos);
}

}  // namespace
}  // namespace dunmore::test
