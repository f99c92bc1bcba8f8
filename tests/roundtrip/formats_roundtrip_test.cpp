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
// three steps of a DROP, an ADD ... FIRST and a second ADD.
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
)SQL";

const char* kOtherTablesQuery = R"SQL(
SELECT HEX(d), HEX(e), a, c, f FROM `@P@@D@`.nokey ORDER BY c, a, d;
SELECT z, v, n, HEX(y), HEX(t) FROM `@P@@D@`.vkey ORDER BY v, n;
SELECT y, c FROM `@P@@D@`.ckey ORDER BY c;
SELECT c, id, b, d FROM `@P@@D@`.issue ORDER BY id;
)SQL";

std::string instantSql(const std::string& db) {
    std::string sql = "CREATE DATABASE " + db + ";\nUSE " + db +
                      ";\nSET SESSION alter_algorithm='INSTANT';\nSET time_zone = '+00:00';\n";
    sql += replaceAll(replaceAll(kEvolveSql, "@T@", "evolve"), "@F@", "DYNAMIC");
    sql += replaceAll(replaceAll(kEvolveSql, "@T@", "evolve_compact"), "@F@", "COMPACT");
    return sql + kOtherTablesSql;
}

std::string instantQuery(const std::string& db) {
    std::string q = "SET time_zone = '+00:00';\n";
    for (const char* table : {"evolve", "evolve_compact"}) q += replaceAll(kEvolveQuery, "@T@", table);
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
