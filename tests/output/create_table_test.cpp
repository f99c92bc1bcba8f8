// CREATE TABLE statements: the exact text for hand-made definitions, and statements made
// from a real data folder that a real server executes into the same columns.
#include "output/create_table.h"

#include "core/main_frame.h"
#include "schema/frm_reader.h"
#include "schema/mysql8_collations.h"
#include "support/frm_builder.h"
#include "support/recording_frontend.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace dunmore::output {
namespace {

namespace fs = std::filesystem;

schema::CollationTable sampleCollations() {
    schema::CollationTable t;
    t.insert(8, {1, 1, "latin1", "latin1_swedish_ci"});
    t.insert(33, {1, 3, "utf8mb3", "utf8mb3_general_ci"});
    t.insert(45, {1, 4, "utf8mb4", "utf8mb4_general_ci"});
    t.insert(63, {1, 1, "binary", "binary"});
    return t;
}

core::ColumnDefinition col(std::string name, std::uint32_t type, std::int32_t length,
                           std::int32_t charset = 0, bool nullable = true) {
    core::ColumnDefinition c;
    c.name = std::move(name);
    c.typeCode = type;
    c.length = length;
    c.charset = charset;
    c.nullable = nullable ? 1 : 0;
    return c;
}

core::TableDefinitionState table(std::uint8_t engine, std::uint32_t charset,
                                 std::vector<core::ColumnDefinition> columns) {
    core::TableDefinitionState d;
    d.engineCode = engine;
    d.tableCharset = charset;
    for (std::size_t i = 0; i < columns.size(); ++i) columns[i].index = static_cast<std::uint32_t>(i);
    d.columns = std::move(columns);
    return d;
}

core::ColumnDefinition keyed(core::ColumnDefinition c, bool primary, bool unique) {
    c.inPrimaryKey = primary;
    c.inUniqueKey = unique;
    return c;
}

TEST(CreateTable, ExactTexts) {
    struct Case {
        const char* name;
        core::TableDefinitionState def;
        const char* tableName;
        const char* sql;
    };
    auto id = keyed(col("id", 3, 11, 8, false), true, false);
    auto commented = col("c", 15, 40, 8);
    commented.comment = "it's a \\ path";
    auto both = keyed(col("b", 3, 11), true, true);
    auto uni = keyed(col("u", 3, 11), false, true);
    auto uni2 = keyed(col("u2", 15, 40, 8), false, true);
    auto ts = col("ts", 17, 19, 8);
    auto tsNotNull = col("ts", 7, 19, 8, false);
    auto utf8 = col("v", 15, 300, 33);
    auto binary = col("bin", 15, 30, 63);
    auto unknown = col("q", 254, 20, 999);
    auto en = col("e", 247, 1, 33);
    en.members = {"a", "it's"};
    auto unsignedInt = col("n", 8, 20, 8, false);
    unsignedInt.isUnsigned = true;
    const Case cases[] = {
        {"MyISAM with a primary key", table(9, 8, {id, col("name", 15, 30, 8)}), "t1",
         "Create TABLE  `t1` (`id` INT NOT NULL, `name` VARCHAR(30), PRIMARY KEY (`id`))"
         "ENGINE=MYISAM DEFAULT CHARSET latin1 COLLATE latin1_swedish_ci;"},
        {"no keys", table(12, 0, {col("a", 3, 11), col("b", 1, 4)}), "t",
         "Create TABLE  `t` (`a` INT, `b` TINYINT)ENGINE=InnoDB;"},
        {"primary and unique", table(12, 0, {id, uni, uni2}), "t",
         "Create TABLE  `t` (`id` INT NOT NULL, `u` INT, `u2` VARCHAR(40), PRIMARY KEY (`id`),"
         "UNIQUE KEY (`u`,`u2`))ENGINE=InnoDB;"},
        {"primary wins over unique", table(12, 0, {both}), "t",
         "Create TABLE  `t` (`b` INT, PRIMARY KEY (`b`))ENGINE=InnoDB;"},
        {"no columns", table(9, 0, {}), "empty", "Create TABLE  `empty` ()ENGINE=MYISAM;"},
        {"unknown engine", table(42, 8, {col("a", 3, 11)}), "aria",
         "Create TABLE  `aria` (`a` INT) DEFAULT CHARSET latin1 COLLATE latin1_swedish_ci;"},
        {"table charset 0: no charset clauses", table(9, 0, {utf8}), "t",
         "Create TABLE  `t` (`v` VARCHAR(300))ENGINE=MYISAM;"},
        {"column in another charset", table(9, 8, {utf8}), "t",
         "Create TABLE  `t` (`v` VARCHAR(100) CHARSET utf8mb3 COLLATE utf8mb3_general_ci)"
         "ENGINE=MYISAM DEFAULT CHARSET latin1 COLLATE latin1_swedish_ci;"},
        {"binary, unknown and ENUM columns get no charset clause", table(9, 8, {binary, unknown, en}), "t",
         "Create TABLE  `t` (`bin` VARBINARY(30), `q` CHAR(20), `e` ENUM('a','it''s'))"
         "ENGINE=MYISAM DEFAULT CHARSET latin1 COLLATE latin1_swedish_ci;"},
        {"timestamps", table(12, 0, {ts, tsNotNull}), "t",
         "Create TABLE  `t` (`ts` TIMESTAMP DEFAULT CURRENT_TIMESTAMP, `ts` TIMESTAMP NOT NULL "
         "DEFAULT CURRENT_TIMESTAMP)ENGINE=InnoDB;"},
        {"comment escaped", table(12, 0, {commented}), "t",
         "Create TABLE  `t` (`c` VARCHAR(40) COMMENT 'it''s a \\\\ path')ENGINE=InnoDB;"},
        {"back-quotes doubled", table(12, 0, {keyed(col("a`b", 3, 11), true, false)}), "we`ird",
         "Create TABLE  `we``ird` (`a``b` INT, PRIMARY KEY (`a``b`))ENGINE=InnoDB;"},
        {"unsigned", table(12, 0, {unsignedInt}), "t",
         "Create TABLE  `t` (`n` BIGINT UNSIGNED NOT NULL)ENGINE=InnoDB;"},
        {"table charset unknown", table(12, 77, {col("a", 3, 11)}), "t",
         "Create TABLE  `t` (`a` INT)ENGINE=InnoDB;"},
    };
    const schema::CollationTable collations = sampleCollations();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(formatCreateTableStatement(c.def, c.tableName, collations), c.sql);
    }
}

TEST(CreateTable, GeneratedAndInvisibleColumnsOfMysql8) {
    // Generated columns stand where the table has them, between the stored ones; MariaDB
    // refuses NOT NULL on them, and INVISIBLE on a NOT NULL column without a default.
    auto id = keyed(col("id", 3, 11, 0, false), true, false);
    auto hidden = col("a", 3, 11);
    hidden.invisible = true;
    auto hiddenNotNull = col("n", 3, 11, 0, false);
    hiddenNotNull.invisible = true;
    core::TableDefinitionState def = table(12, 0, {id, hidden, hiddenNotNull});
    def.generatedColumns.push_back({col("g", 3, 11, 0, false), "(`id` * 2)", false, 1});
    def.generatedColumns.push_back({col("h", 8, 20), "(`id` + 1)", true, 2});
    EXPECT_EQ(formatCreateTableStatement(def, "t", sampleCollations()),
              "Create TABLE  `t` (`id` INT NOT NULL, `g` INT GENERATED ALWAYS AS ((`id` * 2)) VIRTUAL NOT NULL, "
              "`a` INT INVISIBLE, `h` BIGINT GENERATED ALWAYS AS ((`id` + 1)) STORED, `n` INT NOT NULL INVISIBLE, "
              "PRIMARY KEY (`id`))ENGINE=InnoDB;");
    core::AppSettings settings;
    test::RecordingFrontend frontend;
    core::MainFrame frame(settings, frontend);
    EXPECT_EQ(formatCreateTableForTarget(frame, def, "t", "t", true),
              "Create TABLE  `t` (`id` INT NOT NULL, `g` INT GENERATED ALWAYS AS ((`id` * 2)) VIRTUAL, "
              "`a` INT INVISIBLE, `h` BIGINT GENERATED ALWAYS AS ((`id` + 1)) STORED, `n` INT NOT NULL, "
              "PRIMARY KEY (`id`))ENGINE=InnoDB;");
}

TEST(CreateTable, Mysql8CollationsAreKeptForMysqlAndNamedNearestForMariadb) {
    // Numbers above 255 are collations only MySQL 8 has (utf8mb4_0900_as_cs 278,
    // utf8mb4_0900_bin 309, utf8mb4_de_pb_0900_ai_ci 256); 255 is utf8mb4_0900_ai_ci.
    const schema::CollationTable before = schema::applicationCollations();
    schema::CollationTable collations = sampleCollations();
    schema::addMysql8Collations(collations);
    schema::setApplicationCollations(collations);
    core::TableDefinitionState def = table(12, 255,
                                           {keyed(col("id", 3, 11, 0, false), true, false), col("a", 15, 80, 278),
                                            col("b", 15, 80, 309), col("c", 15, 80, 256), col("d", 15, 80, 45)});
    core::AppSettings settings;
    test::RecordingFrontend frontend;
    core::MainFrame frame(settings, frontend);
    EXPECT_EQ(formatCreateTableForTarget(frame, def, "t", "t", false),
              "Create TABLE  `t` (`id` INT NOT NULL, `a` VARCHAR(20) CHARSET utf8mb4 COLLATE utf8mb4_0900_as_cs, "
              "`b` VARCHAR(20) CHARSET utf8mb4 COLLATE utf8mb4_0900_bin, `c` VARCHAR(20) CHARSET utf8mb4 COLLATE "
              "utf8mb4_de_pb_0900_ai_ci, `d` VARCHAR(20) CHARSET utf8mb4 COLLATE utf8mb4_general_ci, PRIMARY KEY "
              "(`id`))ENGINE=InnoDB DEFAULT CHARSET utf8mb4 COLLATE utf8mb4_0900_ai_ci;");
    EXPECT_TRUE(frontend.lines.empty());
    EXPECT_EQ(formatCreateTableForTarget(frame, def, "t", "t", true),
              "Create TABLE  `t` (`id` INT NOT NULL, `a` VARCHAR(20) CHARSET utf8mb4 COLLATE utf8mb4_uca1400_as_cs, "
              "`b` VARCHAR(20) CHARSET utf8mb4 COLLATE utf8mb4_bin, `c` VARCHAR(20) CHARSET utf8mb4 COLLATE "
              "utf8mb4_uca1400_german2_ai_ci, `d` VARCHAR(20) CHARSET utf8mb4 COLLATE utf8mb4_general_ci, PRIMARY KEY "
              "(`id`))ENGINE=InnoDB DEFAULT CHARSET utf8mb4 COLLATE utf8mb4_uca1400_ai_ci;");
    const std::string said = " (the nearest MariaDB collation)";
    EXPECT_EQ(frontend.lines,
              (std::vector<std::string>{"Collation utf8mb4_0900_ai_ci of table t written as utf8mb4_uca1400_ai_ci" + said,
                                        "Collation utf8mb4_0900_as_cs of table t written as utf8mb4_uca1400_as_cs" + said,
                                        "Collation utf8mb4_0900_bin of table t written as utf8mb4_bin" + said,
                                        "Collation utf8mb4_de_pb_0900_ai_ci of table t written as "
                                        "utf8mb4_uca1400_german2_ai_ci" + said}));
    schema::setApplicationCollations(before);
}

TEST(CreateTable, KeyPrefixesAreKept) {
    auto t = keyed(col("t", 252, 8, 45, false), true, false);
    auto v = keyed(col("v", 15, 400, 45, false), false, true);
    auto whole = keyed(col("w", 15, 40, 45, false), false, true);
    auto def = table(9, 45, {t, v, whole});
    core::KeyInfo pk{"PRIMARY", true, true, {{1, 80}}};
    core::KeyInfo uk{"uv", true, false, {{2, 20}, {3, 40}}};
    def.keys = {pk, uk};
    EXPECT_EQ(formatCreateTableStatement(def, "p", sampleCollations()),
              "Create TABLE  `p` (`t` TEXT NOT NULL, `v` VARCHAR(100) NOT NULL, `w` VARCHAR(10) "
              "NOT NULL, PRIMARY KEY (`t`(20)),UNIQUE KEY (`v`(5),`w`))ENGINE=MYISAM DEFAULT "
              "CHARSET utf8mb4 COLLATE utf8mb4_general_ci;");
}

// --- Real data folder: the statements recreate the same columns on a real server. ---

const char* kColumnsQuery =
    "SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, "
    "IFNULL(CHARACTER_MAXIMUM_LENGTH,'-'), IFNULL(NUMERIC_PRECISION,'-'), "
    "IFNULL(NUMERIC_SCALE,'-'), IFNULL(DATETIME_PRECISION,'-'), "
    "IF(COLUMN_TYPE LIKE '%unsigned%','unsigned','signed'), IFNULL(CHARACTER_SET_NAME,'-'), "
    "IFNULL(COLLATION_NAME,'-'), IS_NULLABLE FROM information_schema.COLUMNS c "
    "JOIN information_schema.TABLES t USING (TABLE_SCHEMA, TABLE_NAME) "
    "WHERE TABLE_SCHEMA='%DB%' AND TABLE_TYPE='BASE TABLE' AND EXTRA NOT LIKE '%VIRTUAL%' "
    "ORDER BY TABLE_NAME, ORDINAL_POSITION;\n";

std::string query(const std::string& db) {
    std::string q = kColumnsQuery;
    q.replace(q.find("%DB%"), 4, db);
    return q;
}

// Columns in the order of their positions. VIRTUAL generated columns are left out of the
// original's list: no engine stores their values, so the definition leaves them out (and
// the recreated table has no such column, which the equal row counts show).
const char* kFieldNames[] = {"TABLE_NAME", "COLUMN_NAME", "DATA_TYPE",
                             "CHARACTER_MAXIMUM_LENGTH", "NUMERIC_PRECISION", "NUMERIC_SCALE",
                             "DATETIME_PRECISION", "UNSIGNED", "CHARACTER_SET_NAME",
                             "COLLATION_NAME", "IS_NULLABLE"};

// Where the recreated column differs from the original by design, and why.
struct Difference {
    const char* table;
    const char* column;
    const char* field;
    const char* reason;
};
const Difference kDesignDifferences[] = {
    {"t_wide", "eu", "CHARACTER_SET_NAME",
     "ENUM and SET columns get no CHARSET clause; the member texts are kept, the set is the table's"},
    {"t_wide", "eu", "COLLATION_NAME", "as above"},
    {"t_wide", "eu", "CHARACTER_MAXIMUM_LENGTH", "as above"},
};

bool designDifference(const std::string& table, const std::string& column, const std::string& field) {
    for (const auto& d : kDesignDifferences)
        if (table == d.table && column == d.column && field == d.field) return true;
    return false;
}

TEST(CreateTable, StatementsRecreateTheSameColumns) {
    const auto original = test::makeFixture("create_table_original", test::allTypesSql(), query("alltypes"));
    schema::CollationTable shipped;
    shipped.loadCollationTable(fs::path(DUNMORE_SOURCE_DIR) / "data" / schema::kCollationFileName);
    ASSERT_FALSE(shipped.empty()) << "the collation data file is missing";
    schema::setApplicationCollations(shipped);

    std::string sql = "CREATE DATABASE x;\nUSE x;\n";
    std::set<std::string> baseTables;
    const auto originalRows = test::parseBatch(original.resultText());
    for (std::size_t i = 1; i < originalRows.size(); ++i) baseTables.insert(originalRows[i][0]);
    ASSERT_GT(baseTables.size(), 20u);
    for (const auto& name : baseTables) {
        core::TableDefinitionState ctx;
        core::AppSettings settings;
        const auto status = schema::readTableDefinitionStatus(
            ctx, original.dataDir / "alltypes" / (name + ".frm"), settings);
        ASSERT_TRUE(status) << status.message();
        sql += formatCreateTableStatement(ctx, name) + "\n";
    }
    schema::setApplicationCollations({});

    // The server runs every statement; one it refuses fails the fixture (and this test).
    test::Fixture recreated;
    ASSERT_NO_THROW(recreated = test::makeFixture("create_table_recreated", sql, query("x")))
        << sql;
    const auto recreatedRows = test::parseBatch(recreated.resultText());
    ASSERT_EQ(recreatedRows.size(), originalRows.size());
    std::size_t differences = 0;
    for (std::size_t r = 1; r < originalRows.size(); ++r) {
        const auto& a = originalRows[r];
        const auto& b = recreatedRows[r];
        ASSERT_EQ(a.size(), 11u);
        ASSERT_EQ(b.size(), 11u);
        SCOPED_TRACE(a[0] + "." + a[1]);
        for (std::size_t f = 0; f < a.size(); ++f) {
            if (designDifference(a[0], a[1], kFieldNames[f])) {
                differences += a[f] != b[f];
                continue;
            }
            EXPECT_EQ(a[f], b[f]) << kFieldNames[f];
        }
    }
    EXPECT_GT(differences, 0u) << "a listed design difference no longer occurs";
}

}  // namespace
}  // namespace dunmore::output
