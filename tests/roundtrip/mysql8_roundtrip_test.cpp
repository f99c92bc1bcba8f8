// MySQL 8.0 tablespaces into MariaDB: `dunmore save-script --target mariadb` over the
// Sakila database a MySQL 8.0.40 server wrote (peer fixtures), the scripts loaded by a
// fresh MariaDB server, and every table compared with the same definitions filled from
// the Sakila data dump itself; and `dunmore save-server` of the same folder into a live
// MariaDB server, which must give the same tables without being told its kind.
#include "support/fixture.h"
#include "support/mysql8_dictionary_builder.h"
#include "support/roundtrip.h"
#include "support/test_server.h"

#include "innodb/page_check.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

const fs::path kMysql8 = fs::path(DUNMORE_PEER_FIXTURES) / "mysql8";

// The Sakila tables among the fixture files (payment and rental are not).
const std::vector<std::string> kSakilaTables = {
    "actor",  "address",   "category",  "city",  "country", "customer", "film",
    "film_actor", "film_category", "film_text", "inventory", "language", "staff", "store"};

// The INSERT statements of the dump for the tables saved (one statement may span lines).
std::string dumpInserts(const std::string& dump) {
    std::string out;
    for (std::size_t at = dump.find("INSERT INTO "); at != std::string::npos;
         at = dump.find("INSERT INTO ", at)) {
        std::size_t name = at + 12;
        if (dump[name] == '`') ++name;
        const std::string table = dump.substr(name, dump.find_first_of("` ", name) - name);
        const std::size_t end = dump.find(";\n", at);
        if (std::find(kSakilaTables.begin(), kSakilaTables.end(), table) != kSakilaTables.end())
            out += dump.substr(at, end + 2 - at);
        at = end;
    }
    // MariaDB skips MySQL 5.7 version comments; the geometry literals inside them stay.
    for (const std::string drop : {"/*!50705 ", ",*/"})
        for (auto p = out.find(drop); p != std::string::npos; p = out.find(drop, p))
            out.replace(p, drop.size(), drop == ",*/" ? "," : "");
    return out;
}

TEST(Mysql8RoundTrip, SakilaLoadsIntoMariadbWithTheDumpsRows) {
    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "roundtrip_scratch" / "mysql8";
    fs::remove_all(work);
    const fs::path data = work / "data";
    fs::create_directories(data / "sakila");
    const fs::path sakila = dunmore::test::peerSakila80Folder();
    for (const auto& e : fs::directory_iterator(sakila))
        fs::copy_file(e.path(), data / "sakila" / e.path().filename());
    const fs::path out = work / "out";
    const CommandRun save = run(std::string(DUNMORE_BINARY_DIR "/bin/dunmore") + " save-script '" +
                                data.string() + "' '" + out.string() + "' --target mariadb --log-folder '" +
                                work.string() + "'");
    ASSERT_EQ(save.status, 0) << save.out;
    EXPECT_NE(save.out.find("Collation utf8mb4_0900_ai_ci of table actor written as utf8mb4_uca1400_ai_ci"),
              std::string::npos) << save.out;
    const std::string script = readFileText(out / "Scriptdata" / "sakila.sql");
    EXPECT_EQ(script.find("0900"), std::string::npos);

    // The comparison: row counts and table checksums of the same definitions.
    std::string query = "SET time_zone = '+00:00';\nUSE rep_sakila;\n";
    for (const auto& t : kSakilaTables)
        query += "SELECT '" + t + "', COUNT(*) FROM `" + t + "`;\nCHECKSUM TABLE `" + t + "`;\n";

    // Expected: the script's own CREATE TABLE statements filled by the dump's INSERTs;
    // film_text as the triggers of the original schema fill it, from film.
    std::string definitions = "SET NAMES utf8mb4;\nSET TIME_ZONE='+00:00';\nCREATE DATABASE rep_sakila;\nUSE rep_sakila;\n";
    for (std::size_t at = script.find("Create TABLE"); at != std::string::npos;
         at = script.find("Create TABLE", at + 1))
        definitions += script.substr(at, script.find(";", at) + 1 - at) + "\n";
    const std::string dump = readFileText(kMysql8 / "innodb_ruby" / "expected-sakila-from-aFemzz-Sakila-db" /
                                          "sakila-data.sql");
    const Fixture expected = makeFixture("mysql8_sakila_expected",
                                         definitions + dumpInserts(dump) +
                                             "INSERT INTO film_text SELECT film_id, title, description FROM film;\n",
                                         query);
    const Fixture copy = makeFixture("mysql8_sakila_copy", script, query);
    const auto want = parseBatch(expected.resultText());
    const auto got = parseBatch(copy.resultText());
    ASSERT_EQ(want.size(), got.size()) << copy.resultText();
    std::size_t compared = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(want[i], got[i]);
        ++compared;
    }
    EXPECT_GT(compared, 50u);

    // Straight into a MariaDB server: it says what it is, so its tables get MariaDB
    // collations and the same rows as the loaded script.
    TestServer server;
    const fs::path password = work / "password";
    writeFileText(password, TestServer::kPassword);
    const CommandRun saved = run(std::string(DUNMORE_BINARY_DIR "/bin/dunmore") + " save-server '" +
                                 data.string() + "' --server 127.0.0.1 --port " + server.port() +
                                 " --user " + TestServer::kUser + " --password-file '" + password.string() +
                                 "' --log-folder '" + work.string() + "'");
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_NE(saved.out.find("Collation utf8mb4_0900_ai_ci of table actor written as utf8mb4_uca1400_ai_ci"),
              std::string::npos) << saved.out;
    EXPECT_EQ(parseBatch(server.query(query)), got);
}

// The output of query (every database written `@P@name`) over originals and over their
// copies: data is saved by `save-script --target mariadb`, and one MariaDB server runs
// the originals' SQL, the scripts, and the query once for each side.
struct TwoSides {
    std::string originals, copies;
};

TwoSides originalsBesideCopies(const std::string& name, const fs::path& data, const fs::path& work,
                               const std::string& originals, const std::string& query,
                               const std::string& saveOptions = {}, const std::string& serverOptions = {}) {
    const fs::path out = work / "out";
    const CommandRun save = run(kDunmore + " save-script " + quoted(data) + " " + quoted(out) + " --target mariadb " +
                                saveOptions + " --log-folder " + quoted(work));
    EXPECT_EQ(save.status, 0) << save.out;
    if (save.status != 0) return {};
    const std::string both = "SET time_zone = '+00:00';\n" + replaceAll(query, "@P@", "") +
                             "SELECT 'the copies';\n" + replaceAll(query, "@P@", "rep_");
    const std::string result = makeFixture(name, originals + scriptsOf(out), both, serverOptions).resultText();
    const std::string marker = "the copies\nthe copies\n";
    const auto split = result.find(marker);
    EXPECT_NE(split, std::string::npos) << result.substr(0, 2000);
    if (split == std::string::npos) return {};
    return {result.substr(0, split), result.substr(split + marker.size())};
}

// The statements between "<<SQL" and "SQL" of one of percona-parser's fixture scripts,
// with its shell variables filled in.
std::string heredocOf(const fs::path& script, const std::string& table) {
    const std::string text = readFileText(script);
    const std::size_t start = text.find("<<SQL\n") + 6;
    std::string sql = text.substr(start, text.find("\nSQL\n", start) - start);
    sql = replaceAll(sql, "$TABLE_NAME", table);
    return replaceAll(sql, "${MYSQL_TZ}", "-03:00");
}

TEST(Mysql8RoundTrip, PeerTablesLoadIntoMariadbAsTheirOwnSqlMakesThem) {
    // The tables of the peer fixtures whose making SQL MariaDB runs too: ibdNinja's for
    // MySQL 8.0.40 and 8.4.8 (instant ADD and DROP, every column type with generated
    // columns, long values, 500 rows, a table altered on two servers in turn, JSON
    // documents after partial updates), percona-parser's (a -03:00 session) and
    // InnoDB_rs's. The SQL makes the originals in a real MariaDB; the scripts of
    // `save-script --target mariadb` load beside them; every table must read back the same. NOW() is the value each
    // server stored (ibdNinja's record listings), type_test's SQL ran on a latin1
    // connection (its UTF-8 text is stored twice encoded), and JSON documents compare
    // normalised, as MySQL keeps them in its own binary order.
    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "roundtrip_scratch" / "mysql8_peer_tables";
    fs::remove_all(work);
    const fs::path data = work / "data";
    struct Version {
        std::string db;
        std::string now;  // UNIX time of NOW()
    };
    const Version kVersions[] = {{"ninja80", "1768557228"}, {"ninja84", "1770217569"}};
    const std::vector<std::pair<std::string, std::string>> kNinjaFiles = {
        {"01_simple_table.sql", "simple_table"},     {"02_multi_index.sql", "multi_index"},
        {"03_instant_add_column.sql", "instant_add_col"}, {"04_data_types.sql", "data_types"},
        {"05_nullable_no_pk.sql", "nullable_no_pk"}, {"06_with_deletes.sql", "with_deletes"},
        {"07_multi_page.sql", "multi_page"},         {"08_instant_add_drop.sql", "instant_add_drop"},
        {"09_all_column_types.sql", "type_test"},    {"12_blob_external.sql", "blob_external"},
        {"10_upgrade_8016.sql", "ddl_test"}};
    std::string originals;
    std::string query;
    const auto select = [&](const std::string& db, const std::string& table) {
        std::string columns = "*";
        if (table == "data_types")
            columns = "id, tiny_col, small_col, medium_col, big_col, float_col, double_col, decimal_col, char_col, "
                      "varchar_col, text_col, HEX(binary_col), HEX(varbinary_col), HEX(blob_col), date_col, time_col, "
                      "datetime_col, timestamp_col, year_col, enum_col, set_col, bit_col + 0, JSON_NORMALIZE(json_col)";
        if (table == "type_test")
            columns = "col_tinyint, col_smallint, col_mediumint, col_int, col_bigint, col_decimal_small, "
                      "col_decimal_large, col_float, col_double, col_bit1 + 0, col_bit8 + 0, col_bit64 + 0, "
                      "col_char_utf8, col_char_latin1, col_varchar_utf8, col_varchar_latin1, col_text_utf8, "
                      "col_text_latin1, HEX(col_binary), HEX(col_varbinary), HEX(col_blob), col_datetime0, "
                      "col_datetime3, col_datetime6, col_timestamp0, col_timestamp3, col_timestamp6, col_time0, "
                      "col_time3, col_time6, col_date, col_year, HEX(col_geometry), HEX(col_point), "
                      "HEX(col_linestring), HEX(col_polygon), HEX(col_multipoint), HEX(col_multilinestring), "
                      "HEX(col_multipolygon), HEX(col_geometrycollection), col_enum, col_set, "
                      "JSON_NORMALIZE(col_json), col_virtual_int, col_virtual_concat, col_virtual_datetime, verify_column";
        if (table == "blob_external") columns = "id, description, MD5(data), LENGTH(data), MD5(extra), LENGTH(extra)";
        if (table == "ddl_test") columns = "id, original_col1, verify_column, JSON_NORMALIZE(data_v3), data_v5";
        query += "SELECT " + columns + " FROM `@P@" + db + "`.`" + table + "` ORDER BY 1, 2;\n";
    };
    const fs::path ninja = kMysql8 / "ibdNinja" / "tests";
    for (const Version& v : kVersions) {
        const fs::path version = ninja / (v.db == "ninja80" ? "8.0" : "8.4");
        fs::create_directories(data / v.db);
        originals += "CREATE DATABASE `" + v.db + "`;\nUSE `" + v.db + "`;\nSET time_zone = '+00:00';\n"
                     "SET TIMESTAMP = " + v.now + ";\n";
        for (const auto& [sql, table] : kNinjaFiles) {
            fs::copy_file(version / "fixtures" / (table + ".ibd"), data / v.db / (table + ".ibd"));
            const bool latin1 = table == "type_test";
            std::string text = readFileText(version / "sql" / sql);
            if (table == "ddl_test") {
                // Made by two servers in turn (the ALTERs of 11_upgrade_8040.sql after an
                // upgrade); MariaDB has no index on an expression, which holds no rows.
                text = replaceAll(text + "\n" + readFileText(version / "sql" / "11_upgrade_8040.sql"),
                                  "ALTER TABLE ddl_test\nADD INDEX idx_data_v3 ((CAST(data_v3->'$.key' AS CHAR(50))));", "");
            }
            if (latin1) {
                // MariaDB indexes no generated column whose value depends on the SQL mode
                // (CONCAT of a CHAR column); the rows do not depend on the indexes.
                text = replaceAll(text, "INDEX idx_virtual_concat (col_virtual_concat),", "");
                text = replaceAll(text, ",\nADD INDEX idx_virtual_composite (col_virtual_int, col_virtual_concat(20))", "");
            }
            originals += std::string(latin1 ? "SET NAMES latin1;\n" : "") + text + "\n" +
                         (latin1 ? "SET NAMES utf8mb4;\n" : "");
            select(v.db, table);
        }
        // The JSON documents changed by partial updates after their SQL's INSERT: the
        // originals hold them as they now stand (ibdNinja's *_current.txt).
        struct JsonTable {
            std::string sql, table;
            std::vector<std::string> columns, documents;
        };
        const JsonTable kJson[] = {
            {"13_json_partial_update.sql", "json_partial", {"doc1", "doc2"},
             {"json_partial_inspect_doc1_current.txt", "json_partial_inspect_doc2_current.txt"}},
            {"14_json_partial_large.sql", "json_partial_large", {"doc"}, {"json_partial_large_inspect_current.txt"}},
            {"15_json_partial_purged.sql", "json_partial_purged", {"doc"}, {"json_partial_purged_inspect_current.txt"}},
        };
        for (const JsonTable& j : kJson) {
            fs::copy_file(version / "fixtures" / (j.table + ".ibd"), data / v.db / (j.table + ".ibd"));
            const std::string text = readFileText(version / "sql" / j.sql);
            originals += text.substr(0, text.find("INSERT INTO ")) + "INSERT INTO " + j.table + " VALUES (1";
            std::string columns = "id";
            for (std::size_t i = 0; i < j.columns.size(); ++i) {
                const std::string doc = readFileText(version / "expected" / j.documents[i]);
                originals += ", '" + replaceAll(replaceAll(doc, "\\", "\\\\"), "'", "\\'") + "'";
                columns += ", JSON_NORMALIZE(" + j.columns[i] + ")";
            }
            originals += ");\n";
            query += "SELECT " + columns + " FROM `@P@" + v.db + "`.`" + j.table + "`;\n";
        }
    }
    const fs::path percona = kMysql8 / "percona-parser" / "tests";
    fs::create_directories(data / "percona");
    originals += "CREATE DATABASE percona;\nUSE percona;\n";
    for (const auto& [script, table] : {std::pair<std::string, std::string>{"test_types_decode.sh", "types_test"},
                                        {"test_secondary_index.sh", "secondary_index"}}) {
        fs::copy_file(percona / (table + ".ibd"), data / "percona" / (table + ".ibd"));
        originals += heredocOf(percona / script, table) + "\n";
        select("percona", table);
    }
    // InnoDB_rs's table of MySQL 8.0.38 with the rows its tests state.
    const fs::path rs = kMysql8 / "InnoDB_rs" / "test_data";
    fs::create_directories(data / "rs");
    fs::copy_file(rs / "float_sample.ibd", data / "rs" / "float_sample.ibd");
    originals += "CREATE DATABASE rs;\nUSE rs;\n" +
                 replaceAll(readFileText(rs / "double_test_table.sql"), "utf8mb4_0900_ai_ci", "utf8mb4_uca1400_ai_ci") +
                 "\nINSERT INTO float_sample VALUES ('test1', 1.1, 2.2), ('test2', -0.9, -1.42);\n";
    select("rs", "float_sample");

    const TwoSides sides =
        originalsBesideCopies("mysql8_peer_tables", data, work, originals + "SET TIMESTAMP = DEFAULT;\n", query);
    EXPECT_GT(std::count(sides.originals.begin(), sides.originals.end(), '\n'), 1000);
    expectSameResults(sides.originals, sides.copies);
}

// The lines of a query output in order: the rows of a table whose order of equal keys
// the two servers need not share compare as sets.
std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(Mysql8RoundTrip, JavaReaderTablesOfMysql8018LoadAsTheirScriptsMakeThem) {
    // innodb-java-reader made the same tables with the same scripts on MySQL 5.6, 5.7 and
    // 8.0.18; the scripts are kept beside the 5.6 files. They make the originals in a real
    // MariaDB, the scripts of `save-script --target mariadb` over the 8.0.18 files load
    // beside them, and every table must read back the same: every column type of the
    // suite, utf8/gbk/ujis text, composite and VARCHAR primary keys, tables without a key,
    // 4,000 rows over a tree of two levels, deleted rows.
    const fs::path work = scratch("mysql8_java_reader");
    const fs::path data = work / "data";
    fs::create_directories(data / "jr80");
    const fs::path scripts = fs::path(DUNMORE_PEER_FIXTURES) / "innodb-java-reader" / "mysql56";
    const fs::path files = kMysql8 / "innodb-java-reader" / "innodb-java-reader" / "src" / "test" / "resources" /
                           "testsuite" / "mysql80";
    const char* const kTables[] = {
        "column/binary/tb07", "column/bit/tb27",     "column/boolean/tb18", "column/char/tb04utf8mb4",
        "column/char/tb05",   "column/char/tb20",    "column/decimal/tb19", "column/enum/tb25",
        "column/float/tb15",  "column/int/tb02",     "column/set/tb26",     "column/time/tb03",
        "column/time/tb16",   "column/time/tb17",    "deletion/tb13",       "nullcolumn/tb12",
        "nullcolumn/tb14",    "pk/tb21",             "pk/tb22",             "pk/tb23",
        "pk/tb24",            "pk/tb24_sk",          "pk/tb28",             "simple/emp",
        "simple/tb01"};
    std::string originals = "CREATE DATABASE jr80;\nUSE jr80;\nSET sql_mode='';\n";
    std::string query;
    for (const char* path : kTables) {
        const std::string table = fs::path(path).filename().string();
        fs::copy_file(files / (std::string(path) + ".ibd"), data / "jr80" / (table + ".ibd"));
        std::string script = readFileText(scripts / (std::string(path) + ".sql"));
        // Some scripts end with the console output of a SELECT.
        if (const auto console = script.find("\nmysql>"); console != std::string::npos) script.resize(console + 1);
        // tb24's rows stand commented out ("--insert"), as the suite's generator wrote them.
        if (table == "tb24") script = replaceAll(script, "\n--insert ", "\ninsert ");
        originals += script + "\ndelimiter ;\nSET sql_mode='';\n";
        // tb24_sk has tb24's rows under another primary key.
        if (table == "tb24_sk") originals += "INSERT INTO tb24_sk SELECT * FROM tb24;\n";
        query += "SELECT '" + table + "', t.* FROM `@P@jr80`.`" + table + "` t;\n";
    }

    // The scripts' thousands of one-row INSERTs, each its own transaction, are not
    // written through to the disk one by one.
    const TwoSides sides = originalsBesideCopies("mysql8_java_reader", data, work, originals, query,
                                                 "--rows-per-insert 1000", "--innodb-flush-log-at-trx-commit=0");
    const auto expected = sortedLines(sides.originals);
    EXPECT_GT(expected.size(), 9000u);
    const auto got = sortedLines(sides.copies);
    ASSERT_EQ(expected.size(), got.size());
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(expected[i].substr(0, 3000), got[i].substr(0, 3000));
    EXPECT_TRUE(expected == got);
}

TEST(Mysql8RoundTrip, ViewsAndTriggersOfTheDataDictionaryAreSavedAndWork) {
    // A MySQL 8 data folder: mysql.ibd (its dictionary tables written by a real server in
    // their layout, support/mysql8_dictionary_builder.h) and the database shop with
    // simple_table (ibdNinja's 8.0.40 file). The view and the triggers kept only in the
    // dictionary are listed, saved into rep_shop and work there.
    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "roundtrip_scratch" / "mysql8_dictionary";
    fs::remove_all(work);
    const fs::path data = work / "data";
    fs::create_directories(data / "shop");
    fs::copy_file(kMysql8 / "ibdNinja" / "tests" / "8.0" / "fixtures" / "simple_table.ibd",
                  data / "shop" / "simple_table.ibd");
    const Fixture dd = makeFixture("mysql8_dictionary_tables", dictionaryTablesSql(), {}, kDictionaryServerOptions);
    auto pages = dictionaryPages(dd.dataDir / "dd");
    for (auto& p : pages) innodb::writePageChecksum(p, innodb::PageChecksum::Crc32c);
    writeFileText(data / "mysql.ibd", joinPages(pages));

    const CommandRun scan = run(kDunmore + " scan " + quoted(data) + " --log-folder " + quoted(work));
    ASSERT_EQ(scan.status, 0) << scan.out;
    EXPECT_NE(scan.out.find("  views\n    adults\n  triggers\n    simple_table\n"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("mysql.ibd holds 2 stored procedures and functions; they are not saved"),
              std::string::npos) << scan.out;

    const fs::path out = work / "out";
    const CommandRun save = run(kDunmore + " save-script " + quoted(data) + " " + quoted(out) +
                                " --target mariadb --log-folder " + quoted(work));
    ASSERT_EQ(save.status, 0) << save.out;
    const std::string script = readFileText(out / "Scriptdata" / "shop.sql");
    EXPECT_NE(script.find("CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW `adults` AS "
                          "select `rep_shop`.`simple_table`.`id` AS `id`,`rep_shop`.`simple_table`.`name` AS `name` "
                          "from `rep_shop`.`simple_table` where (`rep_shop`.`simple_table`.`age` > 29);"),
              std::string::npos) << script;
    const auto upper = script.find("CREATE TRIGGER `name_upper` BEFORE INSERT ON `simple_table` FOR EACH ROW SET NEW.name = UPPER(NEW.name)");
    const auto lower = script.find("CREATE TRIGGER `email_lower` BEFORE INSERT ON `simple_table` FOR EACH ROW");
    ASSERT_NE(upper, std::string::npos) << script;
    EXPECT_LT(upper, lower);  // action_order 1 fires before 2
    // email_lower was written under PIPES_AS_CONCAT and ANSI_QUOTES: it is created under
    // them (its "email" is a column, its || a concatenation), and the session's mode comes
    // back after it. STRICT_TRANS_TABLES changes nothing of how a text reads.
    EXPECT_NE(script.find("SET @rep_sql_mode = @@SESSION.sql_mode;\nSET SESSION sql_mode = CONCAT_WS(',', "
                          "NULLIF(@@SESSION.sql_mode, ''), 'PIPES_AS_CONCAT,ANSI_QUOTES');\nDELIMITER $$\n"
                          "CREATE TRIGGER `email_lower` BEFORE INSERT ON `simple_table` FOR EACH ROW SET "
                          "NEW.\"email\" = LOWER(NEW.\"email\") || ''\n$$\nDELIMITER ;\n"
                          "SET SESSION sql_mode = @rep_sql_mode;\n"),
              std::string::npos) << script;
    EXPECT_EQ(script.find("STRICT_TRANS_TABLES"), std::string::npos);

    const std::string use = "INSERT INTO rep_shop.simple_table VALUES (6, 'zed', -4, 'Zed@Example.ORG');\n"
                            "UPDATE rep_shop.simple_table SET age = -1 WHERE id = 1;\n";
    const std::string query = "SELECT * FROM rep_shop.adults ORDER BY id;\nSELECT * FROM rep_shop.simple_table ORDER BY id;\n";
    const std::string expected =
        "id\tname\n3\tCharlie\n5\tEve\n"
        "id\tname\tage\temail\n"
        "1\tAlice\t0\talice@example.com\n2\tBob\t25\tbob@example.com\n3\tCharlie\t35\tcharlie@example.com\n"
        "4\tDiana\t28\tdiana@example.com\n5\tEve\t32\teve@example.com\n6\tZED\t-4\tzed@example.org\n";
    EXPECT_EQ(makeFixture("mysql8_dictionary_copy", scriptsOf(out) + use, query).resultText(), expected);

    // Straight into a server: the view after the tables, the triggers on their table.
    TestServer server;
    const fs::path password = work / "password";
    writeFileText(password, TestServer::kPassword);
    const CommandRun saved = run(kDunmore + " save-server " + quoted(data) + " --server 127.0.0.1 --port " +
                                 server.port() + " --user " + TestServer::kUser + " --password-file " +
                                 quoted(password) + " --log-folder " + quoted(work));
    ASSERT_EQ(saved.status, 0) << saved.out;
    (void)server.query(use);
    EXPECT_EQ(server.query(query), expected);
}

}  // namespace
}  // namespace dunmore::test
