// The views and triggers of a MySQL 8 data folder, read from the dictionary tables in
// mysql.ibd: a tablespace laid out as mysql.ibd is (SDI flag, an SDI record per table)
// whose records a real MariaDB server wrote in the dictionary tables' layout
// (support/mysql8_dictionary_builder.h), and the damage the reading names.
#include "innodb/mysql8_dictionary.h"

#include "innodb/page_check.h"
#include "schema/collation_table.h"
#include "support/mysql8_dictionary_builder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

fs::path writeDictionary(const std::string& name, std::vector<test::PageBytes> pages) {
    for (auto& p : pages) innodb::writePageChecksum(p, innodb::PageChecksum::Crc32c);
    const fs::path path = fs::path(DUNMORE_FIXTURE_ROOT) / "mysql8_dictionary" / name / "mysql.ibd";
    test::writeFileText(path, test::joinPages(pages));
    return path;
}

fs::path dictionaryFolder() {
    return test::makeFixture("mysql8_dictionary_tables", test::dictionaryTablesSql(), {},
                             test::kDictionaryServerOptions)
               .dataDir /
           "dd";
}

class Mysql8Dictionary : public ::testing::Test {
protected:
    static void SetUpTestSuite() { schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data"); }
};

TEST_F(Mysql8Dictionary, ViewsAndTriggersComeFromTheDictionaryTables) {
    const fs::path file = writeDictionary("intact", test::dictionaryPages(dictionaryFolder()));
    const core::DictionaryObjects d = innodb::readMysql8Dictionary(file);
    EXPECT_TRUE(d.problems.empty()) << d.problems.front();
    // Views of type VIEW only (information_schema's are SYSTEM VIEWs), named by schema.
    ASSERT_EQ(d.views.size(), 1u);
    EXPECT_EQ(d.views[0].schema, "shop");
    EXPECT_EQ(d.views[0].name, "adults");
    EXPECT_EQ(d.views[0].query,
              "select `shop`.`simple_table`.`id` AS `id`,`shop`.`simple_table`.`name` AS `name` from "
              "`shop`.`simple_table` where (`shop`.`simple_table`.`age` > 29)");
    std::vector<std::string> triggers;
    for (const auto& t : d.triggers)
        triggers.push_back(t.schema + "." + t.table + " " + t.name + " " + t.timing + " " + t.event + " " +
                           std::to_string(t.order) + " [" + t.sqlMode + "]: " + t.statement);
    EXPECT_EQ(triggers, (std::vector<std::string>{
                            "shop.simple_table email_lower BEFORE INSERT 2 [PIPES_AS_CONCAT,ANSI_QUOTES,STRICT_TRANS_"
                            "TABLES]: SET NEW.\"email\" = LOWER(NEW.\"email\") || ''",
                            "shop.simple_table age_clamp BEFORE UPDATE 1 [STRICT_TRANS_TABLES]: BEGIN\n  IF NEW.age < "
                            "0 THEN\n    SET NEW.age = 0;\n  END IF;\nEND",
                            "shop.simple_table name_upper BEFORE INSERT 1 []: SET NEW.name = UPPER(NEW.name)"}));
    EXPECT_EQ(d.routines, 2u);

    // The rows themselves, every column by its SDI layout.
    std::vector<std::string> problems;
    const auto rows = innodb::readDictionaryTable(
        file, test::dictionarySdiJson(test::dictionaryTables()[1], 5, [&] {
            const auto page = test::filePage(file, 5);
            std::uint64_t id = 0;
            for (int i = 0; i < 8; ++i) id = (id << 8) | page[66 + i];
            return id;
        }()),
        problems);
    ASSERT_TRUE(rows.isOk()) << rows.status().message();
    ASSERT_EQ(rows->size(), 4u);
    EXPECT_TRUE(problems.empty());
    const innodb::DictionaryRow& view = rows->at(1);
    EXPECT_EQ(view.at("id"), "11");
    EXPECT_EQ(view.at("type"), "VIEW");
    EXPECT_EQ(view.at("view_check_option"), "NONE");
    EXPECT_EQ(rows->at(0).at("view_definition_utf8"), std::nullopt);
    EXPECT_EQ(rows->at(3).at("name"), "innodb_table_stats");
}

TEST_F(Mysql8Dictionary, WhatCannotBeReadIsNamedAndTheRestKept) {
    const fs::path folder = dictionaryFolder();
    struct Case {
        const char* name;
        std::vector<test::PageBytes> pages;
        const char* problem;
        std::size_t views;
        std::size_t triggers;
    };
    auto damagedTriggers = test::dictionaryPages(folder);
    std::fill(damagedTriggers[6].begin() + 38, damagedTriggers[6].end() - 8, 0);  // mysql.triggers' leaf
    auto noSdi = test::dictionaryPages(folder);
    test::setU32be(noSdi[0], 38 + 16, 1u | (1u << 5));
    const Case kCases[] = {
        {"triggers' page damaged", damagedTriggers, "mysql.triggers", 1, 0},
        {"routines not in the SDI", test::dictionaryPages(folder, "routines"),
         "its SDI describes no table mysql.routines", 1, 3},
        {"no SDI", noSdi, "carries no SDI", 0, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const core::DictionaryObjects d = innodb::readMysql8Dictionary(writeDictionary("damaged", c.pages));
        std::string all;
        for (const auto& p : d.problems) all += p + "\n";
        EXPECT_NE(all.find(c.problem), std::string::npos) << all;
        EXPECT_EQ(d.views.size(), c.views);
        EXPECT_EQ(d.triggers.size(), c.triggers);
    }
}

}  // namespace
