// The Sakila tables of MySQL 5.0 (REDUNDANT records, .frm format 10), 5.5 COMPACT and 5.6
// REDUNDANT servers (innodb_ruby's files among the peer fixtures, used in place through
// links), saved by `dunmore save-script` without ibdata1 and loaded into a fresh MariaDB
// server, against the Sakila dump the files were made from, loaded into another.
#include "support/fixture.h"
#include "support/roundtrip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

// The tables the peer folders hold, each ordered by its primary key.
const char* const kTables[][2] = {{"actor", "actor_id"},     {"category", "category_id"},
                                  {"country", "country_id"}, {"language", "language_id"},
                                  {"city", "city_id"},       {"store", "store_id"},
                                  {"film", "film_id"}};

std::string tablesQuery(const std::string& db, const std::string& zone) {
    std::string q = "SET time_zone = '" + zone + "';\n";
    for (const auto& t : kTables)
        q += std::string("SELECT * FROM `") + db + "`." + t[0] + " ORDER BY " + t[1] + ";\n";
    return q;
}

TEST(PeerRoundTrip, SakilaOfMysql50To56SavesEveryValue) {
    const fs::path peer = fs::path(DUNMORE_PEER_FIXTURES) / "innodb_ruby";
    const fs::path work = scratch("peer_sakila");
    ASSERT_EQ(std::system(("tar xzf '" + (peer / "sakila-db.tar.gz").string() + "' -C '" + work.string() +
                           "' sakila-db/sakila-schema.sql sakila-db/sakila-data.sql")
                              .c_str()),
              0);
    // The schema whole, and the rows of the tables the peer folders hold (the dump keeps
    // each table's rows on one line).
    std::string dump = readFileText(work / "sakila-db" / "sakila-schema.sql");
    std::istringstream data(readFileText(work / "sakila-db" / "sakila-data.sql"));
    for (std::string line; std::getline(data, line);) {
        const bool rows = line.rfind("INSERT INTO `", 0) == 0;
        const bool wanted = std::any_of(std::begin(kTables), std::end(kTables), [&](const auto& t) {
            return line.rfind(std::string("INSERT INTO `") + t[0] + "`", 0) == 0;
        });
        if (!rows || wanted) dump += line + "\n";
    }
    // The dump's TIMESTAMP texts are those of a server three hours ahead of UTC (see the
    // innodb peer tests): loaded and read in UTC they come back as written; the files
    // hold the instants, which the copy shows in that zone.
    const Fixture original = makeFixture("peer_sakila_dump", dump, tablesQuery("sakila", "+00:00"));

    const fs::path folder = work / "data";
    fs::create_directories(folder);
    const char* const kFolders[][2] = {{"s50", "sakila-5.0"}, {"s55", "sakila-compact"}, {"s56", "sakila-redundant"}};
    for (const auto& f : kFolders) fs::create_directory_symlink(peer / f[1], folder / f[0]);
    const CommandRun save = saveScript(folder, work / "out", {}, work);
    EXPECT_EQ(save.status, 0) << save.out;
    std::string query;
    for (const auto& f : kFolders) query += tablesQuery(std::string("rep_") + f[0], "+03:00");
    const Fixture copy = makeFixture("peer_sakila_copy", scriptsOf(work / "out"), query);
    const std::string once = original.resultText();
    expectSameResults(once + once + once, copy.resultText());
}

}  // namespace
}  // namespace dunmore::test
