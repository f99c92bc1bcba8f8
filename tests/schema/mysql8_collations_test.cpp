// MySQL 8 collations: known by number beside a MariaDB server's list, and their nearest
// MariaDB counterparts for scripts a MariaDB server loads.
#include "schema/mysql8_collations.h"

#include <gtest/gtest.h>

namespace {

using namespace dunmore::schema;

TEST(Mysql8Collations, KnownByNumberWithoutReplacingTheFilesEntries) {
    CollationTable table;
    table.insert(45, {1, 4, "utf8mb4", "utf8mb4_general_ci"});
    table.insert(255, {1, 4, "utf8mb4", "from the file"});
    addMysql8Collations(table);
    struct Case { std::uint32_t number; const char* charset; const char* name; std::uint32_t maxBytes; };
    const Case kCases[] = {
        {45, "utf8mb4", "utf8mb4_general_ci", 4},  {255, "utf8mb4", "from the file", 4},
        {278, "utf8mb4", "utf8mb4_0900_as_cs", 4}, {305, "utf8mb4", "utf8mb4_0900_as_ci", 4},
        {309, "utf8mb4", "utf8mb4_0900_bin", 4},   {323, "utf8mb4", "utf8mb4_mn_cyrl_0900_as_cs", 4},
        {248, "gb18030", "gb18030_chinese_ci", 4}, {76, "utf8mb3", "utf8mb3_tolower_ci", 3},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.number);
        const CollationEntry* e = table.lookupCollation(c.number);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->charsetName, c.charset);
        EXPECT_EQ(e->collationName, c.name);
        EXPECT_EQ(e->maxBytesPerChar, c.maxBytes);
    }
    EXPECT_EQ(table.lookupCollation(272), nullptr);  // not assigned by MySQL
}

TEST(Mysql8Collations, NearestMariadbCollations) {
    struct Case { const char* mysql; const char* mariadb; };
    const Case kCases[] = {
        {"utf8mb4_0900_ai_ci", "utf8mb4_uca1400_ai_ci"},
        {"utf8mb4_0900_as_cs", "utf8mb4_uca1400_as_cs"},
        {"utf8mb4_0900_as_ci", "utf8mb4_uca1400_as_ci"},
        {"utf8mb4_0900_bin", "utf8mb4_bin"},
        {"utf8mb4_de_pb_0900_ai_ci", "utf8mb4_uca1400_german2_ai_ci"},
        {"utf8mb4_es_trad_0900_as_cs", "utf8mb4_uca1400_spanish2_as_cs"},
        {"utf8mb4_sv_0900_ai_ci", "utf8mb4_uca1400_swedish_ai_ci"},
        // No MariaDB language variant: the root collation with the same strength.
        {"utf8mb4_ja_0900_as_cs_ks", "utf8mb4_uca1400_as_cs"},
        {"utf8mb4_zh_0900_as_cs", "utf8mb4_uca1400_as_cs"},
        {"gb18030_chinese_ci", "utf8mb4_unicode_520_ci"},
        {"utf8mb3_tolower_ci", "utf8mb3_general_ci"},
        // MariaDB's own are kept.
        {"utf8mb4_general_ci", "utf8mb4_general_ci"},
        {"latin1_swedish_ci", "latin1_swedish_ci"},
        {"utf8mb4_uca1400_ai_ci", "utf8mb4_uca1400_ai_ci"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.mysql);
        EXPECT_EQ(nearestMariadbCollation(c.mysql), c.mariadb);
        EXPECT_EQ(isMysql8OnlyCollation(c.mysql), std::string(c.mysql) != c.mariadb);
    }
    CollationTable table;
    addMysql8Collations(table);
    table.insert(8, {1, 1, "latin1", "latin1_swedish_ci"});
    const CollationTable mapped = withNearestMariadbNames(table);
    EXPECT_EQ(mapped.lookupCollation(255)->collationName, "utf8mb4_uca1400_ai_ci");
    EXPECT_EQ(mapped.lookupCollation(249)->charsetName, "utf8mb4");
    EXPECT_EQ(mapped.lookupCollation(8)->collationName, "latin1_swedish_ci");
}

}  // namespace
