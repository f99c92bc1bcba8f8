// Column type texts: every type code, the character-length divisor and the attributes.
#include "schema/column_type.h"

#include <gtest/gtest.h>

namespace dunmore::schema {
namespace {

CollationTable sampleCollations() {
    CollationTable t;
    t.insert(8, {1, 1, "latin1", "latin1_swedish_ci"});
    t.insert(33, {1, 3, "utf8mb3", "utf8mb3_general_ci"});
    t.insert(45, {1, 4, "utf8mb4", "utf8mb4_general_ci"});
    t.insert(63, {1, 1, "binary", "binary"});
    return t;
}

core::ColumnDefinition col(std::uint32_t type, std::int32_t length, std::int32_t charset = 0) {
    core::ColumnDefinition c;
    c.typeCode = type;
    c.length = length;
    c.charset = charset;
    return c;
}

TEST(ColumnType, TextsByTypeCode) {
    struct Case {
        const char* name;
        std::uint32_t tableCharset;
        core::ColumnDefinition column;
        const char* text;
    };
    auto decimal = [](std::uint32_t type, int p, int d, bool isUnsigned) {
        auto c = col(type, p + 2);
        c.precision = p;
        c.decimals = d;
        c.isUnsigned = isUnsigned;
        return c;
    };
    auto integer = [](std::uint32_t type, bool isUnsigned, bool zerofill) {
        auto c = col(type, 11);
        c.isUnsigned = isUnsigned;
        c.isZerofill = zerofill;
        return c;
    };
    auto members = [](std::uint32_t type, std::vector<std::string> m, std::string text) {
        auto c = col(type, 1, 45);
        c.members = std::move(m);
        c.intervalText = std::move(text);
        return c;
    };
    auto geometry = [](int sub) {
        auto c = col(255, 8, 63);
        c.geometryType = sub;
        return c;
    };
    const Case cases[] = {
        {"NEWDECIMAL", 0, decimal(246, 65, 30, false), "DECIMAL(65,30)"},
        {"old DECIMAL unsigned", 0, decimal(0, 10, 2, true), "DECIMAL(10,2) UNSIGNED"},
        {"TINYINT", 0, integer(1, false, false), "TINYINT"},
        {"SMALLINT UNSIGNED", 0, integer(2, true, false), "SMALLINT UNSIGNED"},
        {"INT ZEROFILL", 0, integer(3, true, true), "INT UNSIGNED ZEROFILL"},
        {"MEDIUMINT", 0, integer(9, false, false), "MEDIUMINT"},
        {"BIGINT UNSIGNED", 0, integer(8, true, false), "BIGINT UNSIGNED"},
        {"FLOAT without decimals", 0, decimal(4, 12, 0, false), "FLOAT"},
        {"FLOAT(7,3)", 0, decimal(4, 7, 3, false), "FLOAT(7,3)"},
        {"DOUBLE UNSIGNED", 0, decimal(5, 22, 0, true), "DOUBLE UNSIGNED"},
        {"DOUBLE(20,5)", 0, decimal(5, 20, 5, false), "DOUBLE(20,5)"},
        {"old TIMESTAMP", 0, col(7, 19), "TIMESTAMP"},
        {"TIMESTAMP2(0)", 0, col(17, 19), "TIMESTAMP"},
        {"TIMESTAMP2(6)", 0, col(17, 26), "TIMESTAMP(6)"},
        {"MySQL 4 TIMESTAMP(14)", 0, col(7, 14), "TIMESTAMP"},
        {"DATE", 0, col(10, 10), "DATE"},
        {"NEWDATE", 0, col(14, 10), "DATE"},
        {"TIME", 0, col(11, 10), "TIME"},
        {"TIME2(1)", 0, col(19, 12), "TIME(1)"},
        {"TIME2(6)", 0, col(19, 17), "TIME(6)"},
        {"DATETIME", 0, col(12, 19), "DATETIME"},
        {"DATETIME2(3)", 0, col(18, 23), "DATETIME(3)"},
        {"MariaDB 5.3 DATETIME(2)", 0, col(12, 22), "DATETIME(2)"},
        {"YEAR", 0, col(13, 4), "YEAR"},
        {"VARCHAR divided by the table set", 33, col(15, 765, 33), "VARCHAR(255)"},
        {"VARCHAR without table set", 0, col(15, 765, 33), "VARCHAR(765)"},
        {"VARCHAR in its own set", 8, col(15, 400, 45), "VARCHAR(100)"},
        {"VARCHAR in an unknown set", 8, col(15, 40, 999), "VARCHAR(40)"},
        {"VARBINARY", 45, col(15, 30, 63), "VARBINARY(30)"},
        {"BIT(64)", 0, col(16, 64), "BIT(64)"},
        {"JSON", 0, col(245, 8), "JSON"},
        {"ENUM with an empty member", 45, members(247, {"a", "", "b c"}, "'a','b c'"), "ENUM('a','','b c')"},
        {"SET escapes", 45, members(248, {"it's", "back\\slash"}, ""), "SET('it''s','back\\\\slash')"},
        {"ENUM from its text only", 0, members(247, {}, "'x','y'"), "ENUM('x','y')"},
        {"ENUM without members", 0, members(247, {}, ""), "ENUM"},
        {"SET without members", 0, members(248, {}, ""), "SET"},
        {"TINYTEXT", 45, col(249, 8, 45), "TINYTEXT"},
        {"TINYBLOB", 45, col(249, 8, 63), "TINYBLOB"},
        {"MEDIUMTEXT", 45, col(250, 8, 45), "MEDIUMTEXT"},
        {"MEDIUMBLOB", 45, col(250, 8, 63), "MEDIUMBLOB"},
        {"LONGTEXT", 45, col(251, 8, 45), "LONGTEXT"},
        {"LONGBLOB", 45, col(251, 8, 63), "LONGBLOB"},
        {"TEXT", 45, col(252, 8, 45), "TEXT"},
        {"BLOB", 45, col(252, 8, 63), "BLOB"},
        {"pre-5.0 VARCHAR", 8, col(253, 30, 8), "VARCHAR(30)"},
        {"pre-5.0 VARBINARY", 8, col(253, 255, 63), "VARBINARY(255)"},
        {"CHAR divided", 45, col(254, 40, 45), "CHAR(10)"},
        {"BINARY keeps bytes", 33, col(254, 8, 63), "BINARY(8)"},
        {"POINT", 0, geometry(1), "POINT"},
        {"LINESTRING", 0, geometry(2), "LINESTRING"},
        {"POLYGON", 0, geometry(3), "POLYGON"},
        {"MULTIPOINT", 0, geometry(4), "MULTIPOINT"},
        {"MULTILINESTRING", 0, geometry(5), "MULTILINESTRING"},
        {"MULTIPOLYGON", 0, geometry(6), "MULTIPOLYGON"},
        {"GEOMETRYCOLLECTION", 0, geometry(7), "GEOMETRYCOLLECTION"},
        {"GEOMETRY", 0, geometry(0), "GEOMETRY"},
        {"GEOMETRY unknown sub-type", 0, geometry(42), "GEOMETRY"},
        {"type 6", 0, col(6, 0), "UNKNOWN DATATYPE"},
        {"type 200", 0, col(200, 0), "UNKNOWN DATATYPE"},
    };
    const CollationTable collations = sampleCollations();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(columnTypeText(c.tableCharset, c.column, collations), c.text);
    }
    // Without a collation table every length stays in bytes.
    EXPECT_EQ(columnTypeText(33, col(15, 765, 33), CollationTable{}), "VARCHAR(765)");
}

TEST(ColumnType, Quoting) {
    EXPECT_EQ(quoteIdentifier("a`b"), "`a``b`");
    EXPECT_EQ(quoteIdentifier(""), "``");
    EXPECT_EQ(escapeSqlText("it's \\ \"q\""), "it''s \\\\ \"q\"");
}

}  // namespace
}  // namespace dunmore::schema
