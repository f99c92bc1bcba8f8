// MyISAM tables written by other servers (MySQL 4.1 to 5.7, MariaDB 5.3 to 10.11), from
// the peer fixtures, read in place: every one reads without a crash in preview and in
// saving mode, and where the server's test results give the rows, ours equal them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "myisam/myisam_layout.h"
#include "myisam_test_support.h"

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

const fs::path kPeer = fs::path(DUNMORE_PEER_FIXTURES) / "mariadb-server";

struct Case {
    const char* table;  // path of the .MYD/.MYI without extension
    const char* frm;    // the .frm when it is not the table's own (partitions)
    std::size_t rows;
    // The rows of the server's SELECT * in mysql-test/main/type_temporal_mysql56.result
    // (TIME_ZONE '+00:00'); empty when the results name none.
    std::vector<TextRow> expected;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> kCases = {
        {"plugin/type_uuid/type_uuid/std_data/mdev-29959", nullptr, 64, {}},
        {"std_data/bad_row_type", nullptr, 0, {}},
        {"std_data/bug19371", nullptr, 2, {}},
        {"std_data/cluster_7022_table", nullptr, 0, {}},
        {"std_data/host_old", nullptr, 0, {}},
        {"std_data/mdev17909#P#p20181029", "std_data/mdev17909.frm", 0, {}},
        {"std_data/mdev17909#P#p20181128", "std_data/mdev17909.frm", 0, {}},
        {"std_data/mysql56time",
         nullptr,
         3,
         {{"838:59:59", "838:59:59.0", "838:59:59.00", "838:59:59.000", "838:59:59.0000",
           "838:59:59.00000", "838:59:59.000000"},
          {"00:00:00", "00:00:00.0", "00:00:00.00", "00:00:00.000", "00:00:00.0000",
           "00:00:00.00000", "00:00:00.000000"},
          {"-838:59:59", "-838:59:59.0", "-838:59:59.00", "-838:59:59.000", "-838:59:59.0000",
           "-838:59:59.00000", "-838:59:59.000000"}}},
        {"std_data/mysql56timestamp",
         nullptr,
         2,
         {{"1970-01-01 00:00:01", "1970-01-01 00:00:01.0", "1970-01-01 00:00:01.00",
           "1970-01-01 00:00:01.000", "1970-01-01 00:00:01.0000", "1970-01-01 00:00:01.00000",
           "1970-01-01 00:00:01.000000"},
          {"2038-01-19 03:14:07", "2038-01-19 03:14:07.9", "2038-01-19 03:14:07.99",
           "2038-01-19 03:14:07.999", "2038-01-19 03:14:07.9999", "2038-01-19 03:14:07.99999",
           "2038-01-19 03:14:07.999999"}}},
        {"std_data/mysql57_virtual", nullptr, 0, {}},
        {"std_data/mysql57user", nullptr, 3, {}},
        {"std_data/vcol_autoinc", nullptr, 0, {}},
        {"std_data/mysql_json/tempty", nullptr, 2, {}},
        {"std_data/vcol_upgrade/maria100226_char_to_vchar_virtual", nullptr, 3, {}},
        {"std_data/mysql5613mysql/user", nullptr, 6, {}},
        {"std_data/temporal_upgrade/mysql050614_temporal0", nullptr, 1, {}},
        {"std_data/ctype_upgrade/maria050533_xxx_croatian_ci", nullptr, 4, {}},
        {"std_data/ctype_upgrade/mysql050614_xxx_croatian_ci", nullptr, 4, {}},
        {"std_data/old_decimal/t1dec102", nullptr, 3, {{"123.45"}, {"123.46"}, {"123.47"}}},
    };
    return kCases;
}

TEST(MyisamPeerFixtures, EveryTableReadsAndKnownRowsAgree) {
    setenv("TZ", "UTC", 1);
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.table);
        const fs::path base = kPeer / c.table;
        const fs::path folder = base.parent_path();
        const std::string name = base.filename().string();
        for (const bool saving : {false, true}) {
            SCOPED_TRACE(saving ? "saving" : "preview");
            TableSession s;
            myisam::MyisamReader& ctx = s.ctx();
            const fs::path frm = c.frm ? kPeer / c.frm : folder / (name + ".frm");
            ASSERT_TRUE(schema::readTableDefinition(ctx, frm, s.settings));
            ASSERT_FALSE(ctx.columns.empty());
            EXPECT_TRUE(myisam::readMyisamHeader(ctx, folder / (name + ".MYI")));
            ASSERT_TRUE(static_cast<bool>(ctx.dataFile.open(folder / (name + ".MYD"))));
            myisam::WalkCounts counts;
            const std::vector<TextRow> rows = s.rows(saving, &counts);
            EXPECT_EQ(rows.size(), c.rows);
            EXPECT_EQ(counts.damagedSkipped, 0u);
            for (const TextRow& row : rows) EXPECT_EQ(row.size(), ctx.columns.size());
            if (!c.expected.empty()) { EXPECT_EQ(rows, c.expected); }
        }
    }
}

// The .MYI heads of these servers are intact: none is taken for damaged, and their state
// counts fit their data files.
TEST(MyisamPeerFixtures, IntactHeadsAreNotTakenForDamaged) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.table);
        const fs::path base = kPeer / c.table;
        const fs::path folder = base.parent_path();
        const std::string name = base.filename().string();
        TableSession s;
        myisam::MyisamReader& ctx = s.ctx();
        const fs::path frm = c.frm ? kPeer / c.frm : folder / (name + ".frm");
        ASSERT_TRUE(schema::readTableDefinition(ctx, frm, s.settings));
        EXPECT_TRUE(myisam::loadMyisamLayout(ctx, folder / (name + ".MYI"), folder / (name + ".MYD")));
        EXPECT_EQ(ctx.headDamage, "");
        EXPECT_EQ(ctx.countsDamage, "");
    }
}

}  // namespace
}  // namespace dunmore::test
