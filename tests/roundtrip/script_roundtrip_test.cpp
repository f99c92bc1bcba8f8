// Round trips through the `dunmore` executable: a real MariaDB server writes a data
// folder, `dunmore save-script` turns it into scripts, a fresh server that never held
// the originals loads the scripts with the plain mariadb client, and every table, view
// and trigger of the "rep_" copies is compared with the original by the same queries.
#include "support/fixture.h"
#include "support/roundtrip.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

struct Column {
    std::string name;
    std::string type;
};

struct Table {
    std::string db;
    std::string name;
    std::string options;  // ENGINE=... and row format
    std::vector<Column> columns;
    std::string keys;     // ", PRIMARY KEY (...)" or empty
    std::string orderBy;
};

const std::vector<Column> kEveryType = {
    {"id", "INT NOT NULL"},
    {"ti", "TINYINT"}, {"tiu", "TINYINT UNSIGNED"}, {"si", "SMALLINT"},
    {"siu", "SMALLINT UNSIGNED"}, {"mi", "MEDIUMINT"}, {"miu", "MEDIUMINT UNSIGNED"},
    {"i", "INT"}, {"iu", "INT UNSIGNED"}, {"bi", "BIGINT"}, {"biu", "BIGINT UNSIGNED"},
    {"d1", "DECIMAL(10,2)"}, {"d2", "DECIMAL(30,10) UNSIGNED"}, {"d3", "DECIMAL(65,30)"},
    {"f", "FLOAT"}, {"db", "DOUBLE"},
    {"b1", "BIT(1)"}, {"b13", "BIT(13)"}, {"b64", "BIT(64)"},
    {"dt", "DATE"}, {"tm", "TIME"}, {"tm3", "TIME(3)"}, {"dtm", "DATETIME"},
    {"dtm6", "DATETIME(6)"}, {"ts", "TIMESTAMP NULL"}, {"ts6", "TIMESTAMP(6) NULL"},
    {"yr", "YEAR"},
    {"ch", "CHAR(10)"}, {"vc", "VARCHAR(200)"}, {"bn", "BINARY(8)"}, {"vb", "VARBINARY(300)"},
    {"tb", "TINYBLOB"}, {"bl", "BLOB"}, {"mb", "MEDIUMBLOB"}, {"lb", "LONGBLOB"},
    {"tt", "TINYTEXT"}, {"tx", "TEXT"}, {"mt", "MEDIUMTEXT"}, {"lt", "LONGTEXT"},
    {"en", "ENUM('a','b','it''s')"}, {"st", "SET('x','y','z')"},
    {"g", "GEOMETRY"}, {"js", "JSON"},
};

// Rows of every type: extremes, NULLs, zero values, escapes and long values.
const char* kEveryTypeRows = R"SQL(
(1, -128, 255, -32768, 65535, -8388608, 16777215, -2147483648, 4294967295,
 -9223372036854775808, 18446744073709551615, -99999999.99, 99999999999999999999.9999999999,
 -12345678901234567890123456789012345.123456789012345678901234567890,
 -3.4028234e38, 1e-300, b'1', b'1010101010101', b'1111111111111111111111111111111111111111111111111111111111111111',
 '0000-00-00', '-838:59:59', '-00:00:00.001', '1000-01-01 00:00:00', '9999-12-31 23:59:59.999999',
 '1970-01-01 00:00:01', '2038-01-19 03:14:07.999999', 1901,
 'it''s', 'a\\b\nc\rd\te\Z', 0x00FF27225C0A, 0x000102035C27, 0x27, 0x5C, 0x00, 0x1A,
 '''quoted''', 'back\\slash', 'line1\nline2', 'NULL',
 'it''s', 'x,z', ST_GeomFromText('POINT(1 2)'), '{"k": "v\\"q", "n": [1, 2.5]}'),
(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
 NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
 NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
(3, 127, 0, 32767, 0, 8388607, 0, 2147483647, 0, 9223372036854775807, 0, 0.00, 0, 0,
 0.1, 0.30000000000000004, b'0', b'0', b'0', '2024-02-29', '838:59:59', '12:34:56.789',
 '2000-01-01 12:00:00', '2024-06-30 23:59:59.000001', '2024-03-10 02:30:00',
 '2024-03-10 02:30:00.5', 2155, '', '', '', '', '', '', '', '', '', '', '', '', 'a', '',
 ST_GeomFromText('LINESTRING(0 0, 1 1, 2 5)'), '[]'),
(4, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -0.01, 0.0000000001, 0.000000000000000000000000000001,
 -1.5e-45, -2.2250738585072014e-308, b'1', b'1111111111111', b'1000000000000000000000000000000000000000000000000000000000000001',
 '1000-01-01', '00:00:00', '-838:59:58.999', '2024-12-31 23:59:59', '1000-01-01 00:00:00.000000',
 '2001-09-09 01:46:40', '1999-12-31 23:59:59.123456', 0,
 'abc', 'Ünïcødé € ÿ', 0x41, 0xC0FFEE, REPEAT(0xAB, 255), REPEAT(0xCD, 4000), REPEAT(0xEF, 70000),
 REPEAT(0x5A, 300000), REPEAT('t', 255), REPEAT('text ', 2000), REPEAT('mt', 40000),
 REPEAT('long text ', 30000), 'b', 'x,y,z', ST_GeomFromText('POLYGON((0 0,4 0,4 4,0 4,0 0))'),
 CONCAT('[', REPEAT('1,', 20000), '1]'))
)SQL";

std::vector<Table> tables() {
    const std::string myisam = "ENGINE=MyISAM";
    const std::string innodb = "ENGINE=InnoDB";
    return {
        {"rt_latin", "every_myisam", myisam, kEveryType, ", PRIMARY KEY (id)", "id"},
        {"rt_latin", "every_innodb", innodb, kEveryType, ", PRIMARY KEY (id)", "id"},
        {"rt_latin", "fixed_myisam", myisam + " ROW_FORMAT=FIXED",
         {{"id", "INT NOT NULL"}, {"c", "CHAR(5)"}, {"n", "DECIMAL(8,3)"}, {"d", "DATE"},
          {"b", "BIT(5)"}, {"f", "DOUBLE"}},
         ", PRIMARY KEY (id)", "id"},
        {"rt_latin", "orders", myisam,
         {{"id", "INT NOT NULL"}, {"note", "VARCHAR(100)"}}, ", PRIMARY KEY (id)", "id"},
        {"rt_utf8", "every_dynamic", innodb + " ROW_FORMAT=DYNAMIC", kEveryType,
         ", PRIMARY KEY (id)", "id"},
        {"rt_utf8", "long_compact", innodb + " ROW_FORMAT=COMPACT",
         {{"id", "INT NOT NULL"}, {"vc", "VARCHAR(200)"}, {"lb", "LONGBLOB"}, {"tx", "TEXT"},
          {"js", "JSON"}},
         ", PRIMARY KEY (id)", "id"},
        {"rt_utf8", "texts_myisam", myisam,
         {{"id", "INT NOT NULL"}, {"c", "CHAR(20)"}, {"v", "VARCHAR(300)"}, {"t", "TEXT"}},
         ", PRIMARY KEY (id)", "id"},
        {"rt_utf8", "wide_innodb", innodb,
         {{"id", "INT NOT NULL"}, {"c", "CHAR(20)"}, {"v", "VARCHAR(3000)"},
          {"vb", "VARBINARY(20000)"}, {"t", "TEXT"}},
         ", PRIMARY KEY (id)", "id"},
        {"rt_utf8", "key_order", innodb,
         {{"a", "INT NOT NULL"}, {"b", "VARCHAR(10) NOT NULL"}, {"c", "BIGINT UNSIGNED"}},
         ", PRIMARY KEY (b, a)", "b, a"},
        {"rt_utf8", "no_key", innodb, {{"a", "INT"}, {"b", "VARCHAR(10)"}}, "", "a, b"},
        {"rt_sys", "in_ibdata", innodb,
         {{"id", "INT NOT NULL"}, {"name", "VARCHAR(50)"}, {"amount", "DECIMAL(12,4)"},
          {"at", "DATETIME(3)"}, {"data", "LONGBLOB"}},
         ", PRIMARY KEY (id)", "id"},
    };
}

bool isHexed(const std::string& type) {
    for (const char* word : {"CHAR", "TEXT", "BLOB", "BINARY", "BIT", "GEOMETRY", "JSON"})
        if (type.find(word) != std::string::npos) return true;
    return false;
}

// A SELECT of the table that prints every stored value exactly: strings, binary values
// and bits as hexadecimal bytes, FLOAT as the double it converts to exactly.
std::string selectExact(const Table& t, const std::string& prefix) {
    std::string sql = "SELECT '" + t.name + "' AS tbl";
    for (const auto& c : t.columns) {
        const std::string col = "`" + c.name + "`";
        if (isHexed(c.type))
            sql += ", HEX(" + col + ")";
        else if (c.type.rfind("FLOAT", 0) == 0)
            sql += ", CAST(" + col + " AS DOUBLE)";
        else
            sql += ", " + col;
    }
    return sql + " FROM `" + prefix + t.db + "`.`" + t.name + "` ORDER BY " + t.orderBy + ";\n";
}

const char* kDataSql = R"SQL(
SET time_zone = '+00:00';
INSERT INTO rt_latin.every_myisam VALUES @EVERY@;
INSERT INTO rt_latin.every_innodb VALUES @EVERY@;
INSERT INTO rt_utf8.every_dynamic VALUES @EVERY@;
INSERT INTO rt_utf8.long_compact SELECT id, vc, lb, tx, js FROM rt_utf8.every_dynamic;
INSERT INTO rt_latin.fixed_myisam VALUES (1, 'ab', -12345.678, '2020-02-02', b'10101', -1.25),
  (2, NULL, NULL, NULL, NULL, NULL), (3, 'abcde', 99999.999, '9999-12-31', b'11111', 1e308);
INSERT INTO rt_latin.orders VALUES (1, 'first'), (2, NULL), (3, 'it''s');
DELETE FROM rt_latin.orders WHERE id = 2;
INSERT INTO rt_utf8.texts_myisam VALUES (1, 'ÄÖÜ €', 'Ελληνικά русский 日本語 😀', 'text with ''quote'' and \\ backslash'),
  (2, '', '', ''), (3, NULL, NULL, NULL);
INSERT INTO rt_utf8.wide_innodb VALUES (1, '日本', REPEAT('é', 3000), REPEAT(0x7F, 15000), REPEAT('😀', 3000)),
  (2, 'x', 'short', 0x00, 'short');
INSERT INTO rt_utf8.key_order VALUES (2, 'b', 1), (1, 'b', 2), (3, 'a', 18446744073709551615), (1, 'c', NULL);
INSERT INTO rt_utf8.no_key VALUES (1, 'one'), (NULL, 'null'), (2, NULL), (1, 'one');
INSERT INTO rt_sys.in_ibdata VALUES (1, 'Привет', 12345678.1234, '2021-05-06 07:08:09.123', REPEAT(0x42, 50000)),
  (2, 'мир', -0.0001, '1000-01-01 00:00:00.000', NULL), (3, NULL, NULL, NULL, '');
USE rt_big;
INSERT INTO rt_big.big SELECT seq, CONCAT('row ', seq), seq * 3 FROM seq_1_to_600000;
)SQL";

// Views and triggers: a view whose query holds an escaped apostrophe and a backslash,
// a view over two tables, triggers with multi-line bodies and quoted strings.
const char* kObjectsSql = R"SQL(
USE rt_latin;
CREATE VIEW v_quote AS SELECT id, vc, 'it''s a \\ back\\slash "dq"' AS q FROM every_myisam
  WHERE vc <> 'O\'Brien' OR vc IS NULL;
CREATE VIEW v_join AS SELECT o.id, o.note, e.ch FROM orders o JOIN every_innodb e ON e.id = o.id;
CREATE VIEW a_over_views AS SELECT j.id, j.note, q.q FROM v_join j JOIN v_quote q ON q.id = j.id;
CREATE VIEW z_base AS SELECT id FROM orders;
CREATE VIEW m_over_z AS SELECT id FROM z_base;
DELIMITER $$
CREATE TRIGGER orders_bi BEFORE INSERT ON orders FOR EACH ROW
BEGIN
  IF NEW.note IS NULL THEN
    SET NEW.note = 'it''s \\ "new"';
  END IF;
  SET NEW.note = CONCAT(NEW.note, '\tend');
END$$
CREATE TRIGGER orders_bu BEFORE UPDATE ON orders FOR EACH ROW SET NEW.note = 'x\'y'$$
CREATE TRIGGER orders_bi2 BEFORE INSERT ON orders FOR EACH ROW FOLLOWS orders_bi
BEGIN
  -- a comment with 'quotes'
  SET @last = CONCAT('inserted ', NEW.id, "\n");
END$$
DELIMITER ;
USE rt_utf8;
CREATE VIEW v_texts AS SELECT id, CONCAT(c, '|', v) AS cv FROM texts_myisam;
DELIMITER $$
CREATE TRIGGER texts_bi BEFORE INSERT ON texts_myisam FOR EACH ROW
BEGIN
  SET NEW.c = CONCAT('«', NEW.c, '»');
END$$
DELIMITER ;
)SQL";

// The CREATE TABLE statements of tables; those of database systemDb go into ibdata1.
std::string createTables(const std::vector<Table>& tables, const std::string& systemDb) {
    std::string sql;
    for (const auto& t : tables) {
        if (t.db == systemDb) sql += "SET GLOBAL innodb_file_per_table = 0;\n";
        sql += "CREATE TABLE " + t.db + "." + t.name + " (";
        for (std::size_t i = 0; i < t.columns.size(); ++i)
            sql += (i ? ", `" : "`") + t.columns[i].name + "` " + t.columns[i].type;
        sql += t.keys + ") " + t.options + ";\n";
        if (t.db == systemDb) sql += "SET GLOBAL innodb_file_per_table = 1;\n";
    }
    return sql;
}

std::string fixtureSql() {
    std::string sql = R"SQL(
CREATE DATABASE rt_latin CHARACTER SET latin1 COLLATE latin1_swedish_ci;
CREATE DATABASE rt_utf8 CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
CREATE DATABASE rt_sys CHARACTER SET cp1251 COLLATE cp1251_general_ci;
CREATE DATABASE rt_big CHARACTER SET latin1;
CREATE TABLE rt_big.big (id INT NOT NULL PRIMARY KEY, name VARCHAR(20), n BIGINT) ENGINE=MyISAM;
)SQL";
    sql += createTables(tables(), "rt_sys");
    sql += replaceAll(kDataSql, "@EVERY@", kEveryTypeRows);
    sql += kObjectsSql;
    return sql;
}

// The comparison queries over the databases named, with every database name prefixed.
std::string compareQuery(const std::vector<std::string>& dbs, const std::string& prefix) {
    std::string q = "SET time_zone = '+00:00';\n";
    for (const auto& db : dbs) {
        for (const auto& t : tables())
            if (t.db == db) {
                q += "SELECT '" + t.name + "' AS tbl, COUNT(*) FROM `" + prefix + db + "`.`" + t.name + "`;\n";
                q += selectExact(t, prefix);
            }
        const std::string schema = prefix + db;
        q += "SELECT TABLE_NAME, REPLACE(VIEW_DEFINITION, '`" + schema + "`.', '`" + db +
             "`.') AS definition FROM information_schema.VIEWS WHERE TABLE_SCHEMA = '" + schema + "' ORDER BY 1;\n";
        q += "SELECT TRIGGER_NAME, EVENT_MANIPULATION, EVENT_OBJECT_TABLE, ACTION_ORDER, ACTION_TIMING, "
             "ACTION_STATEMENT FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = '" + schema +
             "' ORDER BY 1;\n";
    }
    if (std::find(dbs.begin(), dbs.end(), "rt_latin") != dbs.end()) {
        q += "SELECT * FROM `" + prefix + "rt_latin`.v_quote ORDER BY id;\n";
        q += "SELECT * FROM `" + prefix + "rt_latin`.v_join ORDER BY id;\n";
        q += "SELECT * FROM `" + prefix + "rt_latin`.a_over_views ORDER BY id;\n";
        q += "SELECT * FROM `" + prefix + "rt_latin`.m_over_z ORDER BY id;\n";
    }
    if (std::find(dbs.begin(), dbs.end(), "rt_utf8") != dbs.end())
        q += "SELECT * FROM `" + prefix + "rt_utf8`.v_texts ORDER BY id;\n";
    return q;
}

// Size and a 64-bit FNV-1a hash of every file under dir.
std::map<std::string, std::pair<std::uintmax_t, std::uint64_t>> checksums(const fs::path& dir) {
    std::map<std::string, std::pair<std::uintmax_t, std::uint64_t>> sums;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::uint64_t h = 14695981039346656037ull;
        for (unsigned char c : readFileText(e.path())) h = (h ^ c) * 1099511628211ull;
        sums[fs::relative(e.path(), dir).string()] = {e.file_size(), h};
    }
    return sums;
}

// The first four words of the skip-th line of the save summary that begins with item.
std::vector<std::string> summaryLine(const std::string& output, const std::string& item, int skip = 0) {
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(item + " ", 0) != 0 || skip-- > 0) continue;
        std::istringstream words(line);
        std::vector<std::string> out;
        std::string w;
        while (out.size() < 4 && words >> w) out.push_back(w);
        return out;
    }
    return {};
}

const std::vector<std::string> kAllDbs = {"rt_latin", "rt_utf8", "rt_sys"};

Fixture original() { return makeFixture("roundtrip_source", fixtureSql(), compareQuery(kAllDbs, "")); }

TEST(ScriptRoundTrip, FreshServerHoldsEveryValueViewAndTrigger) {
    const Fixture fx = original();
    const std::string expected = fx.resultText();
    // Not a vacuous comparison: the originals hold rows, views and triggers.
    ASSERT_NE(expected.find("every_innodb\t4"), std::string::npos);
    ASSERT_NE(expected.find("orders_bi2"), std::string::npos);
    ASSERT_NE(expected.find("v_quote"), std::string::npos);

    const auto before = checksums(fx.dataDir);
    const fs::path out = scratch("full");
    const CommandRun save = saveScript(fx.dataDir, out, kAllDbs, out);
    EXPECT_EQ(save.status, 0) << save.out;
    EXPECT_NE(save.out.find("Script Created successfully"), std::string::npos) << save.out;
    EXPECT_EQ(checksums(fx.dataDir), before) << "the data folder changed";
    EXPECT_EQ(readFileText(out / "Scriptdata" / "ActualSaveFilepath.txt"),
              fs::canonical(out / "Scriptdata").string());

    const Fixture copy =
        makeFixture("roundtrip_copy", scriptsOf(out), compareQuery(kAllDbs, "rep_"));
    expectSameResults(expected, copy.resultText());
}

TEST(ScriptRoundTrip, FilePerTableTablesWithoutIbdata1) {
    const Fixture fx = original();
    const fs::path data = scratch("no_ibdata1") / "data";
    fs::copy(fx.dataDir, data, fs::copy_options::recursive);
    fs::remove(data / "ibdata1");
    const std::vector<std::string> dbs = {"rt_latin", "rt_utf8"};
    const fs::path out = data.parent_path() / "out";
    const CommandRun save = saveScript(data, out, dbs, data.parent_path());
    EXPECT_EQ(save.status, 0) << save.out;

    const Fixture expected = makeFixture("roundtrip_source_fpt", fixtureSql(), compareQuery(dbs, ""));
    const Fixture copy = makeFixture("roundtrip_copy_fpt", scriptsOf(out), compareQuery(dbs, "rep_"));
    expectSameResults(expected.resultText(), copy.resultText());
}

TEST(ScriptRoundTrip, UnwritableOutputFolderIsAFailure) {
    const Fixture fx = original();
    const fs::path dir = scratch("unwritable");
    const fs::path notAFolder = dir / "plain_file";
    writeFileText(notAFolder, "x");
    const CommandRun save = saveScript(fx.dataDir, notAFolder / "out", {"rt_latin.orders"}, dir);
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Sctipt File for Database rt_latin not created."), std::string::npos)
        << save.out;
    EXPECT_EQ(save.out.find("Script Created successfully"), std::string::npos) << save.out;
    EXPECT_NE(save.out.find("See the log file"), std::string::npos) << save.out;
}

TEST(ScriptRoundTrip, InterruptStopsAfterTheCurrentRow) {
    const Fixture fx = original();
    const fs::path out = scratch("interrupt");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        const std::string data = fx.dataDir.string(), o = out.string(), log = out.string();
        ::execl(kDunmore.c_str(), "dunmore", "save-script", "--log-folder", log.c_str(),
                data.c_str(), o.c_str(), "rt_big.big", "rt_latin", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string output;
    bool interrupted = false;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) {
        output.append(buf, static_cast<std::size_t>(n));
        if (!interrupted && output.find("Processing Table big") != std::string::npos) {
            // The stop comes once rows of big have reached the script (past its head and
            // the CREATE TABLE), however slowly the save runs.
            const fs::path script = out / "Scriptdata" / "rt_big.sql";
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            std::error_code ec;
            while (std::chrono::steady_clock::now() < deadline &&
                   !(fs::file_size(script, ec) > 65536 && !ec)) {
                // What the save prints meanwhile is read, so that it never waits on a full pipe.
                pollfd ready{pipeFds[0], POLLIN, 0};
                if (::poll(&ready, 1, 1) > 0 && (ready.revents & POLLIN)) {
                    n = ::read(pipeFds[0], buf, sizeof buf);
                    if (n <= 0) break;
                    output.append(buf, static_cast<std::size_t>(n));
                }
            }
            ::kill(pid, SIGINT);
            interrupted = true;
        }
    }
    ::close(pipeFds[0]);
    int w = 0;
    ::waitpid(pid, &w, 0);
    ASSERT_TRUE(interrupted) << output;
    ASSERT_TRUE(WIFEXITED(w));
    EXPECT_EQ(WEXITSTATUS(w), 1) << output;

    const std::string totalText = "Total Number of record inserted =  ";
    const auto t = output.find(totalText, output.find("Processing Table big"));
    ASSERT_NE(t, std::string::npos) << output;
    const unsigned long long total = std::stoull(output.substr(t + totalText.size()));
    EXPECT_GT(total, 0u);
    EXPECT_LT(total, 600000u);
    // No item after the stop was visited.
    EXPECT_EQ(output.find("Processing Table", t), std::string::npos) << output;
    const std::string script = readFileText(out / "Scriptdata" / "rt_big.sql");
    std::size_t rows = 0;
    for (auto p = script.find("INSERT INTO "); p != std::string::npos; p = script.find("INSERT INTO ", p + 1))
        ++rows;
    EXPECT_EQ(rows, total);
    EXPECT_TRUE(script.ends_with(");\r\nCOMMIT;\r\n\r\n")) << script.substr(script.size() - 200);
    // The summary names the stopped table with its rows and what was not reached.
    EXPECT_EQ(summaryLine(output, "rt_big.big"),
              (std::vector<std::string>{"rt_big.big", "table", std::to_string(total), "STOPPED:"}));
    EXPECT_EQ(summaryLine(output, "rt_latin.orders"),
              (std::vector<std::string>{"rt_latin.orders", "table", "-", "NOT"}));
}

}  // namespace
}  // namespace dunmore::test

namespace dunmore::test {
namespace {

CommandRun preview(const fs::path& dataDir, const std::string& item, int page, bool withErrors) {
    const fs::path log = scratch("preview_log");
    const std::string cmd = kDunmore + " preview --log-folder " + quoted(log) + " " + quoted(dataDir) +
                            " " + item + " --page " + std::to_string(page);
    return run(withErrors ? cmd : "(" + cmd + " 2>/dev/null)");
}

TEST(PreviewCommand, PagesColumnGridAndTexts) {
    const Fixture fx = original();
    // rt_big.big holds (n, 'row n', 3n) for n = 1 .. 600000: page 2 is rows 1001 to 2000.
    std::string expected = "id\tname\tn\n";
    for (int n = 1001; n <= 2000; ++n)
        expected += std::to_string(n) + "\trow " + std::to_string(n) + "\t" + std::to_string(3 * n) + "\n";
    EXPECT_EQ(preview(fx.dataDir, "rt_big.big", 2, false).out, expected);
    // The last page is full; the page after it is past the end, an error.
    const CommandRun past = preview(fx.dataDir, "rt_big.big", 601, true);
    EXPECT_EQ(past.status, 2);
    EXPECT_NE(past.out.find("No more records in table"), std::string::npos) << past.out;
    EXPECT_NE(past.out.find("page 601 is past the end of rt_big.big: it has 600000 rows, 600 pages"),
              std::string::npos) << past.out;
    EXPECT_EQ(preview(fx.dataDir, "rt_big.big", 601, false).out, "");

    EXPECT_EQ(preview(fx.dataDir, "rt_latin.orders.Keys", 1, false).out,
              "Column Name\tData Type\tsize\tAllow Nulls\tKey Name\n"
              "id\tINT\t11\tFalse\tPrimary Key\nnote\tVARCHAR(100)\t100\tTrue\t\n");
    const CommandRun view = preview(fx.dataDir, "rt_latin.v_join", 1, false);
    EXPECT_EQ(view.out.rfind("CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY "
                             "DEFINER VIEW `v_join` AS select ", 0), 0u) << view.out;
    const CommandRun triggers = preview(fx.dataDir, "rt_latin.orders.TRG", 1, false);
    EXPECT_NE(triggers.out.find("DELIMITER $$\nCREATE TRIGGER orders_bu BEFORE UPDATE ON orders FOR "
                                "EACH ROW SET NEW.note = 'x\\'y'\n$$\nDELIMITER ;\n"),
              std::string::npos) << triggers.out;
    EXPECT_EQ(preview(fx.dataDir, "rt_latin.nothing", 1, false).status, 2);
}

}  // namespace
}  // namespace dunmore::test

// The same round trip with the rows saved straight into a live server: `dunmore
// save-server` sends every statement through ODBC to a server whose default character
// set (latin1) differs from the originals', and which may read no file of the client.
namespace dunmore::test {
namespace {

CommandRun saveServer(const fs::path& dataDir, const std::vector<std::string>& items,
                      const fs::path& logDir, const TestServer& server) {
    const fs::path password = logDir / "password";
    writeFileText(password, std::string(TestServer::kPassword) + "\n");
    std::string cmd = kDunmore + " save-server --log-folder " + quoted(logDir) + " " +
                      quoted(dataDir) + " --server 127.0.0.1 --port " + server.port() +
                      " --user " + TestServer::kUser + " --password-file " + quoted(password);
    for (const auto& i : items) cmd += " " + i;
    return run(cmd);
}

void dropCopies(const TestServer& server, const std::vector<std::string>& dbs) {
    std::string sql;
    for (const auto& db : dbs) sql += "DROP DATABASE IF EXISTS `rep_" + db + "`;\n";
    server.query(sql);
}

TEST(ServerRoundTrip, LiveServerHoldsEveryValueViewAndTrigger) {
    const Fixture fx = original();
    const TestServer& server = sharedServer();
    dropCopies(server, kAllDbs);
    const auto before = checksums(fx.dataDir);
    const fs::path out = scratch("server_full");
    const CommandRun save = saveServer(fx.dataDir, kAllDbs, out, server);
    EXPECT_EQ(save.status, 0) << save.out;
    EXPECT_NE(save.out.find("Saving process completed successfully."), std::string::npos) << save.out;
    EXPECT_EQ(save.out.find(TestServer::kPassword), std::string::npos);
    EXPECT_EQ(checksums(fx.dataDir), before) << "the data folder changed";
    expectSameResults(fx.resultText(), server.query(compareQuery(kAllDbs, "rep_")));
}

TEST(ServerRoundTrip, FilePerTableTablesWithoutIbdata1) {
    const Fixture fx = original();
    const TestServer& server = sharedServer();
    const fs::path data = scratch("server_no_ibdata1") / "data";
    fs::copy(fx.dataDir, data, fs::copy_options::recursive);
    fs::remove(data / "ibdata1");
    const std::vector<std::string> dbs = {"rt_latin", "rt_utf8"};
    dropCopies(server, dbs);
    const CommandRun save = saveServer(data, dbs, data.parent_path(), server);
    EXPECT_EQ(save.status, 0) << save.out;
    const Fixture expected = makeFixture("roundtrip_source_fpt", fixtureSql(), compareQuery(dbs, ""));
    expectSameResults(expected.resultText(), server.query(compareQuery(dbs, "rep_")));
}

TEST(ServerRoundTrip, FailuresExitOneWithAnHonestMessage) {
    const Fixture fx = original();
    const TestServer& server = sharedServer();
    dropCopies(server, {"rt_latin"});
    server.query("CREATE DATABASE rep_rt_latin;");
    const fs::path out = scratch("server_failures");
    CommandRun save = saveServer(fx.dataDir, {"rt_latin.orders"}, out, server);
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Database rep_rt_latin not created"), std::string::npos) << save.out;
    EXPECT_NE(save.out.find("not saved completely"), std::string::npos) << save.out;
    EXPECT_EQ(save.out.find("successfully."), std::string::npos) << save.out;
    dropCopies(server, {"rt_latin"});

    // A refused login ends at the connection test, as the dialog's OK does.
    const fs::path wrong = out / "wrong";
    writeFileText(wrong, "not-the-password");
    save = run(kDunmore + " save-server --log-folder " + quoted(out) + " " + quoted(fx.dataDir) +
               " rt_latin --server 127.0.0.1 --port " + server.port() + " --user " +
               TestServer::kUser + " --password-file " + quoted(wrong));
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Access denied"), std::string::npos) << save.out;
    EXPECT_NE(save.out.find("Test connection is unsuccessful.Saving in database cannot be done."),
              std::string::npos) << save.out;
    EXPECT_EQ(save.out.find("not-the-password"), std::string::npos) << save.out;
    EXPECT_EQ(server.query("SHOW DATABASES LIKE 'rep_rt_latin';"), "");
}

}  // namespace
}  // namespace dunmore::test

namespace dunmore::test {
namespace {

// Names in many scripts: the server keeps them in its file-name encoding on disk. Its
// identifiers hold no character beyond the Basic Multilingual Plane; emoji stand in the
// values and in the bodies of views and triggers. Partitions and subpartitions of both
// engines carry such names too. One trigger is written under ANSI_QUOTES, its database
// named in double quotes, and PIPES_AS_CONCAT.
const char* kNamesSql = R"SQL(
CREATE DATABASE `shop-eu` CHARACTER SET utf8mb4;
CREATE TABLE `shop-eu`.`stock-items` (id INT PRIMARY KEY, `näme` VARCHAR(20)) ENGINE=InnoDB;
CREATE TABLE `shop-eu`.`cheap items` (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=MyISAM;
CREATE TABLE `shop-eu`.`orders.2024` (id INT PRIMARY KEY, total DECIMAL(10,2)) ENGINE=InnoDB;
CREATE TABLE `shop-eu`.`log` (id INT, what VARCHAR(40)) ENGINE=MyISAM;
INSERT INTO `shop-eu`.`cheap items` VALUES (1, 'a'), (2, 'b'), (3, 'c');
INSERT INTO `shop-eu`.`orders.2024` VALUES (7, 12.50), (8, -0.01);
CREATE VIEW `shop-eu`.`cheap-view` AS SELECT c.id, c.v, s.`näme` FROM `shop-eu`.`cheap items` c
  JOIN `shop-eu`.`stock-items` s ON s.id = c.id;
CREATE TRIGGER `shop-eu`.`stock-bi` BEFORE INSERT ON `shop-eu`.`stock-items` FOR EACH ROW
  INSERT INTO `shop-eu`.`log` VALUES (NEW.id, CONCAT('stock ', NEW.`näme`));
INSERT INTO `shop-eu`.`stock-items` VALUES (1, 'bolt'), (2, 'nut');
SET SESSION sql_mode = CONCAT(@@sql_mode, ',ANSI_QUOTES,PIPES_AS_CONCAT');
CREATE TRIGGER "shop-eu"."stock-au" AFTER UPDATE ON "shop-eu"."stock-items" FOR EACH ROW
  INSERT INTO "shop-eu"."log" VALUES (NEW.id, 'renamed ' || OLD."näme" || ' to ' || NEW."näme");
SET SESSION sql_mode = DEFAULT;
UPDATE `shop-eu`.`stock-items` SET `näme` = 'screw' WHERE id = 2;
CREATE DATABASE `café` CHARACTER SET latin1;
CREATE TABLE `café`.`Größe` (`größe` INT PRIMARY KEY, `maß` VARCHAR(10)) ENGINE=MyISAM;
CREATE TABLE `café`.`Straße` (id INT PRIMARY KEY, `Ærø` CHAR(8)) ENGINE=InnoDB;
INSERT INTO `café`.`Größe` VALUES (1, 'groß'), (2, 'klein');
INSERT INTO `café`.`Straße` VALUES (1, 'Ørsted');
CREATE VIEW `café`.`übersicht` AS SELECT `größe`, `maß` FROM `café`.`Größe`;
CREATE TRIGGER `café`.`prüfe größe.1` BEFORE INSERT ON `café`.`Größe` FOR EACH ROW SET NEW.`maß` = UPPER(NEW.`maß`);
INSERT INTO `café`.`Größe` VALUES (3, 'groß');
CREATE DATABASE `Россия`;
CREATE TABLE `Россия`.`Москва` (id INT PRIMARY KEY, `улица` VARCHAR(30), `значок` VARCHAR(10) CHARACTER SET utf8mb4)
  ENGINE=InnoDB;
CREATE TABLE `Россия`.`журнал` (id INT, `что` VARCHAR(40) CHARACTER SET utf8mb4) ENGINE=MyISAM;
CREATE TRIGGER `Россия`.`после вставки` AFTER INSERT ON `Россия`.`Москва` FOR EACH ROW
  INSERT INTO `Россия`.`журнал` VALUES (NEW.id, CONCAT('улица ', NEW.`улица`, ' 🚗'));
INSERT INTO `Россия`.`Москва` VALUES (1, 'Тверская', '🏛'), (2, 'Арбат', '🎨');
CREATE VIEW `Россия`.`вид` AS SELECT `улица`, CONCAT(`значок`, ' ✨🌍') AS `знак` FROM `Россия`.`Москва`;
CREATE DATABASE `日本語`;
CREATE TABLE `日本語`.`東京` (id INT PRIMARY KEY, `名前` VARCHAR(10)) ENGINE=InnoDB;
CREATE VIEW `日本語`.`一覧 ビュー` AS SELECT id, CONCAT(`名前`, '🗼') AS `名前` FROM `日本語`.`東京`;
USE `日本語`;
CREATE TABLE `日本語`.`分割-表` (id INT NOT NULL PRIMARY KEY, v VARCHAR(10)) ENGINE=InnoDB
  PARTITION BY RANGE (id) (PARTITION `前半` VALUES LESS THAN (100), PARTITION `後半 p.2` VALUES LESS THAN MAXVALUE);
INSERT INTO `日本語`.`分割-表` SELECT seq, CONCAT('値', seq) FROM seq_1_to_200;
CREATE TABLE `café`.`Teil-Größe` (id INT, v VARCHAR(10)) ENGINE=MyISAM PARTITION BY LIST (id MOD 2)
  SUBPARTITION BY KEY (id) (PARTITION `gerade` VALUES IN (0) (SUBPARTITION `ä1`, SUBPARTITION `ö 2`),
  PARTITION `ungerade` VALUES IN (1) (SUBPARTITION `ü3`, SUBPARTITION `ß.4`));
INSERT INTO `café`.`Teil-Größe` SELECT seq, CONCAT('w', seq) FROM seq_1_to_50;
CREATE TABLE `日本語`.`表-1` (id INT PRIMARY KEY, v VARCHAR(10)) ENGINE=MyISAM;
INSERT INTO `日本語`.`東京` VALUES (1, '渋谷'), (2, '新宿');
CREATE TRIGGER `日本語`.`表-1_bi` BEFORE INSERT ON `日本語`.`表-1` FOR EACH ROW
  SET NEW.v = CONCAT('「', NEW.v, '」');
INSERT INTO `日本語`.`表-1` VALUES (1, 'ひとつ');
CREATE DATABASE `ware house.2`;
CREATE TABLE `ware house.2`.`a.b c-d` (id INT PRIMARY KEY, `x-y` INT) ENGINE=InnoDB;
INSERT INTO `ware house.2`.`a.b c-d` VALUES (1, 10), (2, 20);
CREATE VIEW `ware house.2`.`v.1` AS SELECT id, `x-y` FROM `ware house.2`.`a.b c-d`;
)SQL";

const char* kNamesQuery = R"SQL(
SELECT id, HEX(`näme`) FROM `@P@shop-eu`.`stock-items` ORDER BY id;
SELECT id, HEX(v) FROM `@P@shop-eu`.`cheap items` ORDER BY id;
SELECT id, total FROM `@P@shop-eu`.`orders.2024` ORDER BY id;
SELECT * FROM `@P@shop-eu`.`cheap-view` ORDER BY id;
SELECT id, what FROM `@P@shop-eu`.`log` ORDER BY id;
SELECT `größe`, HEX(`maß`) FROM `@P@café`.`Größe` ORDER BY 1;
SELECT id, HEX(`Ærø`) FROM `@P@café`.`Straße` ORDER BY id;
SELECT * FROM `@P@café`.`übersicht` ORDER BY 1;
SELECT id, HEX(`улица`), HEX(`значок`) FROM `@P@Россия`.`Москва` ORDER BY id;
SELECT id, HEX(`что`) FROM `@P@Россия`.`журнал` ORDER BY id;
SELECT `улица`, HEX(`знак`) FROM `@P@Россия`.`вид` ORDER BY 1;
SELECT id, HEX(`名前`) FROM `@P@日本語`.`東京` ORDER BY id;
SELECT id, HEX(`名前`) FROM `@P@日本語`.`一覧 ビュー` ORDER BY id;
SELECT id, HEX(v) FROM `@P@日本語`.`分割-表` ORDER BY id;
SELECT COUNT(*), MIN(id) FROM `@P@日本語`.`分割-表` PARTITION (`後半 p.2`);
SELECT id, v FROM `@P@café`.`Teil-Größe` ORDER BY id;
SELECT COUNT(*), MIN(id) FROM `@P@café`.`Teil-Größe` PARTITION (`ß.4`);
SELECT id, v FROM `@P@日本語`.`表-1` ORDER BY id;
SELECT * FROM `@P@ware house.2`.`a.b c-d` ORDER BY id;
SELECT * FROM `@P@ware house.2`.`v.1` ORDER BY id;
SELECT REPLACE(SCHEMA_NAME, '@P@', '') AS db FROM information_schema.SCHEMATA
  WHERE SCHEMA_NAME LIKE '@P@%' AND SCHEMA_NAME NOT IN ('mysql', 'sys', 'performance_schema',
  'information_schema', 'test') ORDER BY 1;
SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA LIKE '@P@%'
  AND TABLE_SCHEMA NOT IN ('mysql', 'sys', 'performance_schema', 'information_schema')
  ORDER BY 1;
SELECT TRIGGER_NAME, REPLACE(TRIGGER_SCHEMA, '@P@', '') AS db, EVENT_OBJECT_TABLE,
  REPLACE(ACTION_STATEMENT, '@P@', '') AS body, SQL_MODE FROM information_schema.TRIGGERS
  WHERE TRIGGER_SCHEMA LIKE '@P@%' ORDER BY 1;
)SQL";

const RoundTrip kNames{"names", kNamesSql, kNamesQuery,
                       {"shop-eu", "café", "Россия", "日本語", "ware house.2"}};

TEST(NamesRoundTrip, RealNamesInCatalogueScriptsAndMessages) {
    const CommandRun save = roundTrip(kNames, false);
    EXPECT_EQ(save.status, 0) << save.out;
    for (const char* line : {"Processing Table stock-items", "Processing Table orders.2024",
                             "Processing Table Größe", "Processing Table 東京",
                             "Creating Script File For Database shop-eu",
                             "Creating Script File For Database ware house.2"})
        EXPECT_NE(save.out.find(line), std::string::npos) << line << "\n" << save.out;
    // Only a partition's file, named in parentheses after its real names, is spelled as on disk.
    for (const char* line : {"Reading subpartition ö 2 of partition gerade of table Teil-Größe "
                             "(Teil@002dGr@1i@1je#P#gerade#SP#@1i@00202)",
                             "Reading partition 後半 p.2 of table 分割-表 (@5206@5272@002d@8868#P#@5f8c@534a@0020p@002e2)"})
        EXPECT_NE(save.out.find(line), std::string::npos) << line << "\n" << save.out;
    std::istringstream lines(save.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Reading partition ", 0) != 0 && line.rfind("Reading subpartition ", 0) != 0) {
            EXPECT_EQ(line.find("@00"), std::string::npos) << line;
        }
    const fs::path scripts = fs::path(DUNMORE_FIXTURE_ROOT) / "roundtrip_scratch" / "names" / "out" / "Scriptdata";
    EXPECT_TRUE(fs::exists(scripts / "shop-eu.sql"));
    EXPECT_TRUE(fs::exists(scripts / "日本語.sql"));
}

TEST(NamesRoundTrip, WithoutIbdata1) {
    const CommandRun save = roundTrip(kNames, true);
    EXPECT_EQ(save.status, 0) << save.out;
}

// A server before 5.1 wrote names as they were typed: the folder `old-db`, the files
// `m-t.frm`, `i-t.ibd`, `v.w.frm` (a 5.1+ server shows them as `#mysql50#old-db`...). A
// folder a real server wrote is renamed that way, the texts of its view and trigger
// files with it (the view's md5 made anew, as the server would have written it), and
// ibdata1 left out, its dictionary holding the new names. Each name is kept as it is on
// disk and said in the log, and the copy holds every row under those names, with the
// view and the trigger working on the renamed qualifiers.
const char* kOldNamesSql = R"SQL(
CREATE DATABASE old_names CHARACTER SET latin1;
USE old_names;
CREATE TABLE old_names.mt (id INT PRIMARY KEY, v VARCHAR(10)) ENGINE=MyISAM;
CREATE TABLE old_names.it (id INT PRIMARY KEY, v VARCHAR(10), t TEXT) ENGINE=InnoDB;
INSERT INTO old_names.mt VALUES (1, 'a'), (2, NULL), (3, 'ä');
INSERT INTO old_names.it SELECT seq, CONCAT('i', seq), REPEAT('long ', seq * 20) FROM seq_1_to_300;
CREATE VIEW old_names.vw AS SELECT m.id, m.v, i.v AS w FROM old_names.mt m JOIN old_names.it i ON i.id = m.id + 2;
CREATE TRIGGER old_names.tr BEFORE INSERT ON old_names.it FOR EACH ROW SET NEW.v = UPPER(NEW.v);
)SQL";

const char* kOldNamesQuery = R"SQL(
SELECT id, HEX(v) FROM `@DB@`.`@MT@` ORDER BY id;
SELECT id, v, LENGTH(t), MD5(t) FROM `@DB@`.`@IT@` ORDER BY id;
SELECT * FROM `@DB@`.`@VW@` ORDER BY id;
START TRANSACTION;
INSERT INTO `@DB@`.`@IT@` VALUES (1000, 'fired', NULL);
SELECT * FROM `@DB@`.`@IT@` WHERE id = 1000;
ROLLBACK;
)SQL";

// The query on the names of one folder: database, MyISAM table, InnoDB table, view.
std::string oldNamesQuery(const std::array<std::string, 4>& names) {
    std::string q = kOldNamesQuery;
    const char* const kMarks[] = {"@DB@", "@MT@", "@IT@", "@VW@"};
    for (std::size_t i = 0; i < names.size(); ++i) q = replaceAll(q, kMarks[i], names[i]);
    return q;
}

TEST(NamesRoundTrip, NamesOfServersBefore51AreKeptAsOnDisk) {
    const Fixture fx = makeFixture("old_names_source", kOldNamesSql, oldNamesQuery({"old_names", "mt", "it", "vw"}));
    const fs::path work = scratch("old_names");
    const fs::path db = work / "data" / "old-db";
    fs::create_directories(db);
    const std::vector<std::pair<std::string, std::string>> kRenamed = {
        {"mt", "m-t"}, {"it", "i-t"}, {"vw", "v.w"}, {"tr", "t-r"}};
    for (const auto& e : fs::directory_iterator(fx.dataDir / "old_names")) {
        std::string stem = e.path().stem().string();
        std::string text = readFileText(e.path());
        for (const auto& [from, to] : kRenamed) {
            if (stem == from) stem = to;
            if (e.path().extension() == ".MYD" || e.path().extension() == ".MYI" ||
                e.path().extension() == ".ibd" || text.rfind("TYPE=", 0) != 0)
                continue;
            text = replaceAll(text, "`old_names`.`" + from + "`", "`old-db`.`" + to + "`");
            text = replaceAll(text, "old_names." + from, "`old-db`.`" + to + "`");
            text = replaceAll(text, "trigger_table=" + from + "\n", "trigger_table=" + to + "\n");
        }
        writeFileText(db / (stem + e.path().extension().string()), text);
    }
    // The md5 of the query (its text holds nothing the definition format escapes).
    const fs::path view = db / "v.w.frm";
    std::string viewText = readFileText(view);
    const auto query = viewText.find("\nquery=") + 7;
    writeFileText(work / "query.txt", viewText.substr(query, viewText.find('\n', query) - query));
    const CommandRun md5 = run("md5sum " + quoted(work / "query.txt"));
    ASSERT_EQ(md5.status, 0) << md5.out;
    const auto md5At = viewText.find("\nmd5=") + 5;
    viewText.replace(md5At, 32, md5.out.substr(0, 32));
    writeFileText(view, viewText);

    const CommandRun save = saveScript(work / "data", work / "out", {"'old-db'"}, work);
    EXPECT_EQ(save.status, 0) << save.out;
    for (const char* line : {"Processing Table m-t", "Processing Table i-t"})
        EXPECT_NE(save.out.find(line), std::string::npos) << line << "\n" << save.out;
    const std::string log = logFilesText(work);
    for (const char* kept : {"old-db", "m-t", "i-t", "v.w"})
        EXPECT_NE(log.find(std::string("Name kept as it is on disk (not in the server's file-name encoding): ") +
                           kept + "\n"),
                  std::string::npos)
            << kept << "\n" << log;
    const Fixture copy =
        makeFixture("old_names_copy", scriptsOf(work / "out"), oldNamesQuery({"rep_old-db", "m-t", "i-t", "v.w"}));
    expectSameResults(fx.resultText(), copy.resultText());
}

// Folders written with another innodb_page_size: tables of every type in their own .ibd
// (DYNAMIC; COMPACT with short values, as a 4 KiB page cannot hold the 768-byte
// prefixes of a COMPACT row of long values; no key, so a hidden row id), 20,000 rows deep
// enough for node-pointer levels and long leaf chains, and a table in ibdata1.
std::vector<Table> pageSizeTables() {
    const std::string innodb = "ENGINE=InnoDB";
    return {
        {"rt_pages", "every_dynamic", innodb + " ROW_FORMAT=DYNAMIC", kEveryType, ", PRIMARY KEY (id)", "id"},
        {"rt_pages", "short_compact", innodb + " ROW_FORMAT=COMPACT",
         {{"id", "INT NOT NULL"}, {"vc", "VARCHAR(200)"}, {"tx", "TEXT"}, {"d", "DECIMAL(20,6)"}},
         ", PRIMARY KEY (id)", "id"},
        {"rt_pages", "many", innodb,
         {{"id", "INT NOT NULL"}, {"name", "VARCHAR(40)"}, {"n", "BIGINT"}, {"t", "TEXT"}},
         ", PRIMARY KEY (id)", "id"},
        {"rt_pages", "no_key", innodb, {{"a", "INT"}, {"b", "VARCHAR(10)"}}, "", "a, b"},
        {"rt_pages_sys", "every_sys", innodb, kEveryType, ", PRIMARY KEY (id)", "id"},
    };
}

std::string pageSizeSql() {
    std::string sql = "CREATE DATABASE rt_pages CHARACTER SET utf8mb4;\n"
                      "CREATE DATABASE rt_pages_sys CHARACTER SET latin1;\n";
    sql += createTables(pageSizeTables(), "rt_pages_sys");
    sql += replaceAll(R"SQL(
SET time_zone = '+00:00';
USE rt_pages;
INSERT INTO rt_pages.every_dynamic VALUES @EVERY@;
INSERT INTO rt_pages_sys.every_sys VALUES @EVERY@;
INSERT INTO rt_pages.short_compact SELECT seq, REPEAT(CHAR(97 + seq % 26), seq % 200),
  IF(seq % 3 = 0, NULL, REPEAT('tx', seq % 50)), seq * 1.000001 - 500 FROM seq_1_to_3000;
INSERT INTO rt_pages.many SELECT seq, CONCAT('row ', seq), seq * 1000003 - 7,
  IF(seq % 500 = 0, REPEAT('long ', 3000), CONCAT('t', seq)) FROM seq_1_to_20000;
INSERT INTO rt_pages.no_key SELECT seq % 100, CONCAT('b', seq) FROM seq_1_to_2000;
SET GLOBAL innodb_checksum_algorithm = crc32;
CREATE TABLE rt_pages.crc32_layout LIKE rt_pages.many;
SET GLOBAL innodb_checksum_algorithm = full_crc32;
INSERT INTO rt_pages.crc32_layout SELECT * FROM rt_pages.many WHERE id % 3 = 0;
)SQL", "@EVERY@", kEveryTypeRows);
    return sql;
}

// The tables of the folder: those above, and one like `many` in the layout of crc32
// checksums, whose flags keep the page size where MySQL's do (bits 6 to 9).
std::vector<Table> pageSizeFolderTables() {
    std::vector<Table> tables = pageSizeTables();
    Table crc32 = tables[2];
    crc32.name = "crc32_layout";
    tables.push_back(crc32);
    return tables;
}

std::string pageSizeQuery(const std::vector<std::string>& dbs) {
    std::string q = "SET time_zone = '+00:00';\n";
    for (const auto& t : pageSizeFolderTables()) {
        if (std::find(dbs.begin(), dbs.end(), t.db) == dbs.end()) continue;
        q += "SELECT '" + t.name + "' AS tbl, COUNT(*) FROM `@P@" + t.db + "`.`" + t.name + "`;\n";
        q += selectExact(t, "@P@");
    }
    return q;
}

// The space flags of page 0 of a tablespace file.
std::uint32_t spaceFlags(const fs::path& file) {
    const std::string bytes = readFileText(file);
    if (bytes.size() < 58) return 0;
    std::uint32_t flags = 0;
    for (int i = 54; i < 58; ++i) flags = flags << 8 | static_cast<unsigned char>(bytes[i]);
    return flags;
}

TEST(PageSizeRoundTrip, FoldersOf4And64KiBPagesHoldEveryValue) {
    // MariaDB's full_crc32 flags, and those of the crc32 layout (post-Antelope, atomic
    // BLOBs, the page size).
    struct Case { const char* size; std::uint32_t flags, crc32Flags; };
    for (const Case& c : {Case{"4k", 0x13, 0x21 | 3u << 6}, Case{"64k", 0x17, 0x21 | 7u << 6}}) {
        SCOPED_TRACE(c.size);
        const std::string opts = std::string("--innodb-page-size=") + c.size;
        const std::vector<std::string> all = {"rt_pages", "rt_pages_sys"};
        const RoundTrip rt{std::string("pages_") + c.size, pageSizeSql(), pageSizeQuery(all), all, opts};
        const CommandRun save = roundTrip(rt, false);
        EXPECT_EQ(save.status, 0) << save.out;
        // Not a vacuous comparison: the folder has the page size asked for, and its rows.
        const fs::path source = fs::path(DUNMORE_FIXTURE_ROOT) / (rt.name + "_source");
        EXPECT_EQ(spaceFlags(source / "ibdata1"), c.flags);
        EXPECT_EQ(spaceFlags(source / "rt_pages" / "many.ibd"), c.flags);
        EXPECT_EQ(spaceFlags(source / "rt_pages" / "crc32_layout.ibd"), c.crc32Flags);
        EXPECT_NE(readFileText(fs::path(DUNMORE_FIXTURE_ROOT) / (rt.name + "_source.result"))
                      .find("many\t20000"),
                  std::string::npos);

        // From the .ibd files alone the page size comes from each file's own page 0: the
        // save of the same folder without ibdata1 is the one made with it, statement for
        // statement and long value for long value (the same folder, no server of its own).
        const fs::path work = scratch(rt.name + "_fpt");
        fs::copy(source, work / "data", fs::copy_options::recursive);
        fs::remove(work / "data" / "ibdata1");
        const CommandRun with = saveScript(source, work / "with", {"rt_pages"}, work);
        const CommandRun without = saveScript(work / "data", work / "without", {"rt_pages"}, work);
        EXPECT_EQ(with.status, 0) << with.out;
        EXPECT_EQ(without.status, 0) << without.out;
        const std::string script = scriptsOf(work / "with");
        for (const auto& t : pageSizeFolderTables())
            if (t.db == "rt_pages") {
                EXPECT_NE(script.find("INSERT INTO `" + t.name + "`"), std::string::npos) << t.name;
            }
        EXPECT_EQ(replaceAll(scriptsOf(work / "without"), (work / "without").string(), (work / "with").string()),
                  script);
        const auto blobFiles = [](const fs::path& out) {
            std::map<std::string, std::string> files;
            if (fs::is_directory(out / "Scriptdata" / "blobdata"))
                for (const auto& e : fs::directory_iterator(out / "Scriptdata" / "blobdata"))
                    files[e.path().filename().string()] = readFileText(e.path());
            return files;
        };
        EXPECT_EQ(blobFiles(work / "without"), blobFiles(work / "with"));
    }
}

// How many times text occurs in s.
std::size_t occurrences(const std::string& s, const std::string& text) {
    std::size_t n = 0;
    for (auto p = s.find(text); p != std::string::npos; p = s.find(text, p + text.size())) ++n;
    return n;
}

TEST(ScriptRoundTrip, ExtendedInsertsLoadTheSameRows) {
    const Fixture fx = original();
    const fs::path out = scratch("rows_per_insert");
    const CommandRun save = saveScript(fx.dataDir, out, kAllDbs, out, "--rows-per-insert 1000");
    ASSERT_EQ(save.status, 0) << save.out;
    const std::string scripts = scriptsOf(out);
    // A table's rows share one statement up to 1 MiB of literals: every_myisam's fourth
    // row alone passes that and starts a statement of its own.
    EXPECT_EQ(occurrences(scripts, "INSERT INTO `every_myisam`"), 2u);
    EXPECT_EQ(occurrences(scripts, "INSERT INTO `key_order`"), 1u);
    EXPECT_NE(scripts.find(" VALUES(3,'a',18446744073709551615),(1,'b',2),(2,'b',1),(1,'c',NULL);\r\n"),
              std::string::npos);
    const Fixture copy = makeFixture("roundtrip_copy_rows1000", scripts, compareQuery(kAllDbs, "rep_"));
    expectSameResults(fx.resultText(), copy.resultText());
}

TEST(ScriptRoundTrip, InlineLongValuesLoadWhereTheServerMayReadNoFile) {
    const Fixture fx = original();
    const fs::path out = scratch("blobs_inline");
    const CommandRun save = saveScript(fx.dataDir, out, kAllDbs, out, "--blobs inline --rows-per-insert 50");
    ASSERT_EQ(save.status, 0) << save.out;
    const std::string scripts = scriptsOf(out);
    EXPECT_EQ(scripts.find("LOAD_FILE"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(out / "Scriptdata" / "blobdata"));
    // The 300,000-byte LONGBLOB of every_innodb as one literal.
    std::string hex = "0x";
    for (int i = 0; i < 300000; ++i) hex += "5A";
    EXPECT_NE(scripts.find(hex + ","), std::string::npos);

    // The server may read files only from an empty folder of its own, so no file of the
    // save is readable to it; the scripts go in over its TCP port.
    TestServer server;
    const auto overTcp = [&](const std::string& sql, const std::string& name, bool batch) {
        const fs::path file = out / name;
        writeFileText(file, sql);
        return run(std::string("MYSQL_PWD='") + TestServer::kPassword +
                   "' mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P " + server.port() + " -u " +
                   TestServer::kUser + " --default-character-set=utf8mb4 --max-allowed-packet=256M" +
                   (batch ? " --batch" : "") + " < " + quoted(file));
    };
    writeFileText(out / "probe.bin", "x");
    const CommandRun probe = overTcp("SELECT LOAD_FILE('" + (out / "probe.bin").string() + "') IS NULL AS unreadable;",
                                     "probe.sql", true);
    ASSERT_EQ(probe.status, 0) << probe.out;
    EXPECT_EQ(probe.out, "unreadable\n1\n");
    const CommandRun load = overTcp(scripts, "load.sql", false);
    ASSERT_EQ(load.status, 0) << load.out.substr(0, 2000);
    const CommandRun copy = overTcp(compareQuery(kAllDbs, "rep_"), "compare.sql", true);
    ASSERT_EQ(copy.status, 0) << copy.out.substr(0, 2000);
    expectSameResults(fx.resultText(), copy.out);
}

// A server that may not read the blob files of a script stops at the first row that
// loads one, with an error that names the file, instead of storing NULL for the value;
// the rows before it are in.
TEST(ScriptRoundTrip, UnreadableBlobFilesStopTheLoadAtTheirRow) {
    const Fixture fx = original();
    const fs::path out = scratch("blobs_unreadable");
    const CommandRun save = saveScript(fx.dataDir, out, {"rt_latin.every_innodb"}, out);
    ASSERT_EQ(save.status, 0) << save.out;
    const std::string script = scriptsOf(out);
    const std::size_t firstLoad = script.find("IFNULL(LOAD_FILE('");
    ASSERT_NE(firstLoad, std::string::npos);
    // The statements before the one that loads the first blob file.
    std::size_t rowsBefore = 0;
    for (std::size_t at = script.find("INSERT INTO "); at < firstLoad; at = script.find("INSERT INTO ", at + 1))
        ++rowsBefore;
    ASSERT_GT(rowsBefore, 0u);
    --rowsBefore;

    TestServer server;  // reads files only from an empty folder of its own
    const fs::path file = out / "load.sql";
    writeFileText(file, script);
    const CommandRun load =
        run(std::string("MYSQL_PWD='") + TestServer::kPassword + "' mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P " +
            server.port() + " -u " + TestServer::kUser + " --default-character-set=utf8mb4 < " + quoted(file));
    EXPECT_NE(load.status, 0);
    EXPECT_NE(load.out.find("ERROR 1690"), std::string::npos) << load.out;
    EXPECT_NE(load.out.find("load_file('" + (out / "Scriptdata" / "blobdata").string() + "/"), std::string::npos)
        << load.out;
    EXPECT_EQ(server.query("SELECT COUNT(*) FROM rep_rt_latin.every_innodb;"),
              "COUNT(*)\n" + std::to_string(rowsBefore) + "\n");
}

// On a terminal the save shows one progress line, then the summary on standard error.
TEST(ScriptRoundTrip, ProgressLineAndSummaryOnATerminal) {
    const Fixture fx = original();
    const fs::path out = scratch("terminal");
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string data = fx.dataDir.string(), o = out.string();
        ::execl(kDunmore.c_str(), "dunmore", "save-script", "--log-folder", o.c_str(), data.c_str(),
                o.c_str(), "rt_big.big", "rt_latin.orders", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string output;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(master, buf, sizeof buf)) > 0) output.append(buf, static_cast<std::size_t>(n));
    ::close(master);
    int w = 0;
    ::waitpid(pid, &w, 0);
    ASSERT_TRUE(WIFEXITED(w));
    EXPECT_EQ(WEXITSTATUS(w), 0) << output;
    const std::string line = "\r\033[KSaving rt_big.big: ";
    const auto first = output.find(line);
    ASSERT_NE(first, std::string::npos) << output.substr(0, 3000);
    const auto end = output.find_first_of("\r\n", first + 2);
    const std::string shown = output.substr(first + 3, end - first - 3);
    EXPECT_NE(shown.find(" rows, "), std::string::npos) << shown;
    EXPECT_NE(shown.find("% of the save"), std::string::npos) << shown;
    EXPECT_NE(output.find(" left"), std::string::npos) << output.substr(0, 3000);
    EXPECT_EQ(summaryLine(output, "ITEM"), (std::vector<std::string>{"ITEM", "KIND", "ROWS", "STATUS"}));
    EXPECT_EQ(summaryLine(output, "rt_big.big"),
              (std::vector<std::string>{"rt_big.big", "table", "600000", "saved"}));
    EXPECT_EQ(summaryLine(output, "rt_latin.orders"),
              (std::vector<std::string>{"rt_latin.orders", "table", "2", "saved"}));
    EXPECT_EQ(summaryLine(output, "rt_latin.orders", 1),
              (std::vector<std::string>{"rt_latin.orders", "triggers", "-", "saved"}));
}

}  // namespace
}  // namespace dunmore::test
