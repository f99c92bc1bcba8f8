// Partitioned tables and old names among the files of older servers (the peer fixtures),
// through the `dunmore` executable. The files are used in place: the data folder of the
// test holds links to them.
#include "support/fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
const fs::path kPeers = DUNMORE_PEER_FIXTURES;

struct CommandResult {
    int status = -1;
    std::string out;
};

CommandResult dunmore(const fs::path& work, const std::string& args) {
    const fs::path out = work / "output.txt";
    const std::string cmd = "'" DUNMORE_BINARY_DIR "/bin/dunmore' " + args + " --log-folder '" + work.string() +
                            "' >'" + out.string() + "' 2>&1 </dev/null";
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dunmore::test::readFileText(out)};
}

// A data folder whose databases hold links to peer files: database -> files.
fs::path linkedDataFolder(const fs::path& work,
                          const std::vector<std::pair<std::string, std::vector<std::string>>>& databases) {
    const fs::path data = work / "data";
    fs::remove_all(data);
    for (const auto& [db, files] : databases) {
        fs::create_directories(data / db);
        for (const std::string& f : files) fs::create_symlink(kPeers / f, data / db / fs::path(f).filename());
    }
    return data;
}

// A PARTITION BY clause without what differs between servers' renderings: quotes around
// names, case, runs of blanks.
std::string normalClause(const std::string& text) {
    std::string out;
    for (const char c : text.substr(text.find("PARTITION BY"))) {
        if (c == '`' || c == ';') continue;
        const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (std::isspace(static_cast<unsigned char>(l))) {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
            continue;
        }
        if (l == '(' && !out.empty() && out.back() == ' ') out.pop_back();  // "BY RANGE (" / "BY RANGE("
        out.push_back(l);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

TEST(PeerFiles, PartitionedTablesOfOlderServers) {
    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "peer_partitions";
    fs::remove_all(work);
    fs::create_directories(work);
    const std::string dir = "mariadb-server/std_data/";
    const fs::path data = linkedDataFolder(
        work, {{"std_data",
                {dir + "mdev17909.frm", dir + "mdev17909.par", dir + "mdev17909#P#p20181029.MYD",
                 dir + "mdev17909#P#p20181029.MYI", dir + "mdev17909#P#p20181128.MYD",
                 dir + "mdev17909#P#p20181128.MYI", dir + "mysql57part.frm"}},
               {"parts", {dir + "parts/t1_blackhole.frm", dir + "parts/t1_blackhole.par"}},
               {"frm_files", {"mysql-utilities/std_data/frm_files/me@002etoo@002eperiods.frm"}}});

    // One table per partitioned table; the partitions' files are no tables of their own.
    const CommandResult scan = dunmore(work, "scan '" + data.string() + "' --json");
    ASSERT_EQ(scan.status, 0) << scan.out;
    const auto doc = nlohmann::json::parse(scan.out);
    std::map<std::string, nlohmann::json> tables;
    for (const auto& db : doc["databases"])
        for (const auto& t : db["tables"]) tables[db["name"].get<std::string>() + "." + t["name"].get<std::string>()] = t;
    ASSERT_EQ(tables.size(), 4u) << scan.out;
    EXPECT_EQ(tables["std_data.mdev17909"]["engine"], "MyISAM");
    EXPECT_EQ(tables["std_data.mdev17909"]["partitions"], 2);
    EXPECT_EQ(tables["std_data.mdev17909"]["estimatedRows"], 0);
    EXPECT_TRUE(tables["std_data.mdev17909"]["problem"].is_null()) << tables["std_data.mdev17909"];
    EXPECT_EQ(tables["std_data.mysql57part"]["partitions"], 19);
    EXPECT_EQ(tables["parts.t1_blackhole"]["engine"], "BLACKHOLE");
    EXPECT_TRUE(tables.count("frm_files.me.too.periods")) << scan.out;

    // MariaDB 10.1's MyISAM partitions save, with the clause the 10.11 server shows.
    const CommandResult save = dunmore(work, "save-script '" + data.string() + "' '" + (work / "out").string() +
                                       "' std_data.mdev17909");
    EXPECT_EQ(save.status, 0) << save.out;
    const std::string script = dunmore::test::readFileText(work / "out" / "Scriptdata" / "std_data.sql");
    const std::string create = script.substr(script.find("Create TABLE"));
    const std::string expected =
        dunmore::test::readFileText(kPeers / (dir + "mdev17909.expected.sql"));
    EXPECT_EQ(normalClause(create.substr(0, create.find(";\r\n") + 1)), normalClause(expected));

    // BLACKHOLE partitions (the server refuses them too) and MySQL 5.7 native partitions
    // without their files are refused by name.
    const CommandResult refused = dunmore(work, "save-script '" + data.string() + "' '" + (work / "out2").string() +
                                          "' parts.t1_blackhole std_data.mysql57part");
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_NE(refused.out.find("Rows of table t1_blackhole not saved: the storage engine of its partitions is "
                               "neither MyISAM nor InnoDB."),
              std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("Rows of table mysql57part (partition p2013) not saved: its file "
                               "mysql57part#P#p2013.ibd is missing."),
              std::string::npos)
        << refused.out;
}

}  // namespace
