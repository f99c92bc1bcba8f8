// Round trips of partitioned tables: a real MariaDB server writes RANGE, LIST, HASH, KEY,
// RANGE COLUMNS and subpartitioned tables of both engines, `dunmore save-script` (and
// save-server) saves them, and a fresh server that loads the result must hold every row
// of every partition, in tables partitioned as the originals were.
#include "support/fixture.h"
#include "support/roundtrip.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

// One table of each partitioning method for @E@ (MyISAM, InnoDB), with a prefix @X@ of
// their names. Partition names that need the file-name encoding (p-max), explicit and
// default subpartition names, values stored off the InnoDB page, NULLs.
const char* kTablesSql = R"SQL(
CREATE TABLE @X@range (id INT NOT NULL, d DATE NOT NULL, v VARCHAR(20), PRIMARY KEY (id, d)) ENGINE=@E@
  PARTITION BY RANGE (YEAR(d)) (PARTITION p2019 VALUES LESS THAN (2020), PARTITION `p-max` VALUES LESS THAN MAXVALUE);
INSERT INTO @X@range SELECT seq, '2018-06-01' + INTERVAL seq DAY, IF(seq % 7, CONCAT('v', seq), NULL) FROM seq_1_to_900;
CREATE TABLE @X@list (id INT NOT NULL PRIMARY KEY, c INT) ENGINE=@E@
  PARTITION BY LIST (id MOD 3) (PARTITION p0 VALUES IN (0), PARTITION p1 VALUES IN (1), PARTITION p2 VALUES IN (2));
INSERT INTO @X@list SELECT seq, IF(seq % 5, seq * 2, NULL) FROM seq_1_to_300;
CREATE TABLE @X@hash (id INT, t TEXT) ENGINE=@E@ PARTITION BY HASH (id) PARTITIONS 4;
INSERT INTO @X@hash SELECT seq, IF(seq % 20 = 0, REPEAT(CONCAT('long ', seq), 3000), CONCAT('t', seq)) FROM seq_1_to_200;
CREATE TABLE @X@key (id INT PRIMARY KEY, c VARCHAR(10)) ENGINE=@E@ PARTITION BY KEY () PARTITIONS 3;
INSERT INTO @X@key SELECT seq, CONCAT('k', seq) FROM seq_1_to_150;
CREATE TABLE @X@sub (id INT NOT NULL, d DATE NOT NULL, PRIMARY KEY (id, d)) ENGINE=@E@
  PARTITION BY RANGE (YEAR(d)) SUBPARTITION BY HASH (id) SUBPARTITIONS 2
  (PARTITION p0 VALUES LESS THAN (2019), PARTITION p1 VALUES LESS THAN MAXVALUE);
INSERT INTO @X@sub SELECT seq, '2018-06-01' + INTERVAL seq DAY FROM seq_1_to_500;
CREATE TABLE @X@subnamed (id INT NOT NULL, d DATE NOT NULL) ENGINE=@E@
  PARTITION BY LIST (MONTH(d) MOD 2) SUBPARTITION BY KEY (id)
  (PARTITION even VALUES IN (0) (SUBPARTITION s0, SUBPARTITION s1),
   PARTITION odd VALUES IN (1) (SUBPARTITION s2, SUBPARTITION s3));
INSERT INTO @X@subnamed SELECT seq, '2020-01-01' + INTERVAL seq DAY FROM seq_1_to_400;
CREATE TABLE @X@cols (a INT, b VARCHAR(5)) ENGINE=@E@ PARTITION BY RANGE COLUMNS (a, b)
  (PARTITION p0 VALUES LESS THAN (10, 'm'), PARTITION p1 VALUES LESS THAN (MAXVALUE, MAXVALUE));
INSERT INTO @X@cols SELECT seq % 20, CHAR(97 + seq % 26) FROM seq_1_to_100;
CREATE TABLE @X@pages (id INT PRIMARY KEY, v VARCHAR(10)) ENGINE=@E@ PARTITION BY HASH (id) PARTITIONS 3;
INSERT INTO @X@pages SELECT seq, CONCAT('v', seq) FROM seq_1_to_2500;
)SQL";

std::string tablesSql(const std::string& engine, const std::string& prefix) {
    return replaceAll(replaceAll(kTablesSql, "@E@", engine), "@X@", prefix);
}

// A partitioning the statement cannot carry: it gathers the PRIMARY KEY and UNIQUE KEY
// columns into one clause each, and the UNIQUE KEY written lacks the partitioning column.
// The table is saved plain, with every row.
const char* kPlainSql = R"SQL(
CREATE TABLE plain (id INT NOT NULL, d DATE NOT NULL, u INT NOT NULL, PRIMARY KEY (id, d), UNIQUE KEY (u, d))
  ENGINE=InnoDB PARTITION BY HASH (YEAR(d)) PARTITIONS 3;
INSERT INTO plain SELECT seq, '2015-01-01' + INTERVAL seq * 10 DAY, seq FROM seq_1_to_400;
)SQL";

std::string partitionSql(const std::string& db, bool myisam) {
    return "CREATE DATABASE " + db + " CHARACTER SET utf8mb4;\nUSE " + db + ";\n" +
           (myisam ? tablesSql("MyISAM", "my_") : "") + tablesSql("InnoDB", "in_") + kPlainSql;
}

// Every row, and how the copy is partitioned: the partitions, their methods, expressions
// and bounds, and the rows each one holds.
std::string partitionQuery(const std::string& db, bool myisam) {
    std::string q;
    for (const char* prefix : {"my_", "in_"}) {
        if (!myisam && prefix == std::string("my_")) continue;
        const std::string p = std::string("`@P@") + db + "`." + prefix;
        q += "SELECT * FROM " + p + "range ORDER BY id;\nSELECT * FROM " + p + "list ORDER BY id;\n" +
             "SELECT id, MD5(t), LENGTH(t) FROM " + p + "hash ORDER BY id;\nSELECT * FROM " + p +
             "key ORDER BY id;\nSELECT * FROM " + p + "sub ORDER BY id;\nSELECT * FROM " + p +
             "subnamed ORDER BY id;\nSELECT * FROM " + p + "cols ORDER BY a, b;\n" +
             "SELECT * FROM " + p + "pages ORDER BY id;\n" +
             "SELECT COUNT(*), MIN(id) FROM " + p + "range PARTITION (`p-max`);\n" +
             "SELECT COUNT(*), MIN(id) FROM " + p + "subnamed PARTITION (s2);\n";
    }
    q += "SELECT * FROM `@P@" + db + "`.plain ORDER BY id;\n";
    q += "SELECT TABLE_NAME, PARTITION_NAME, SUBPARTITION_NAME, PARTITION_ORDINAL_POSITION, "
         "SUBPARTITION_ORDINAL_POSITION, PARTITION_METHOD, SUBPARTITION_METHOD, PARTITION_EXPRESSION, "
         "SUBPARTITION_EXPRESSION, PARTITION_DESCRIPTION FROM information_schema.PARTITIONS WHERE "
         "TABLE_SCHEMA = '@P@" + db + "' AND TABLE_NAME <> 'plain' ORDER BY 1, 4, 5;\n";
    return q;
}

const RoundTrip kPartitioned{"partitioned", partitionSql("rt_part", true), partitionQuery("rt_part", true),
                             {"rt_part"}};
// Without file-per-table the InnoDB partitions are tables of ibdata1 (rt_psys/in_range#P#p2019).
const RoundTrip kPartitionedSystem{"partitioned_sys", partitionSql("rt_psys", false),
                                   partitionQuery("rt_psys", false), {"rt_psys"}, "--innodb-file-per-table=0"};

TEST(PartitionRoundTrip, EveryPartitionOfBothEnginesWithIbdata1) {
    const CommandRun save = roundTrip(kPartitioned, false);
    EXPECT_EQ(save.status, 0) << save.out;
    EXPECT_NE(save.out.find("Reading subpartition p1sp1 of partition p1 of table in_sub (in_sub#P#p1#SP#p1sp1)"),
              std::string::npos)
        << save.out;
    EXPECT_NE(save.out.find("Table plain is saved without its partitioning: the UNIQUE KEY written lacks its "
                            "partitioning column d; the rows of all its partitions go into one table."),
              std::string::npos)
        << save.out;
}

// Without ibdata1 (the InnoDB layout from the .frm) the save is the one made with it,
// statement for statement and long value for long value, which the test above loads.
TEST(PartitionRoundTrip, EveryPartitionOfBothEnginesWithoutIbdata1) {
    const Fixture fx = makeFixture(kPartitioned.name + "_source", kPartitioned.sql,
                                   replaceAll(kPartitioned.query, "@P@", ""), kPartitioned.serverOpts);
    const fs::path work = scratch("partitioned_no_ibdata1");
    fs::copy(fx.dataDir, work / "data", fs::copy_options::recursive);
    fs::remove(work / "data" / "ibdata1");
    const CommandRun with = saveScript(fx.dataDir, work / "with", {"rt_part"}, work);
    const CommandRun without = saveScript(work / "data", work / "without", {"rt_part"}, work);
    EXPECT_EQ(with.status, 0) << with.out;
    EXPECT_EQ(without.status, 0) << without.out;
    const std::string script = scriptsOf(work / "with");
    EXPECT_NE(script.find("INSERT INTO `in_hash`"), std::string::npos);
    EXPECT_EQ(replaceAll(scriptsOf(work / "without"), (work / "without").string(), (work / "with").string()),
              script);
    std::size_t blobs = 0;
    for (const auto& e : fs::directory_iterator(work / "with" / "Scriptdata" / "blobdata")) {
        ++blobs;
        EXPECT_EQ(readFileText(work / "without" / "Scriptdata" / "blobdata" / e.path().filename()),
                  readFileText(e.path()));
    }
    EXPECT_GT(blobs, 0u);
}

TEST(PartitionRoundTrip, InnodbPartitionsInTheSystemTablespace) {
    const CommandRun save = roundTrip(kPartitionedSystem, false);
    EXPECT_EQ(save.status, 0) << save.out;
}

// Into a live server; a server without partitioning gets the tables unpartitioned, with
// the same rows, and the save says so.
TEST(PartitionRoundTrip, SavedIntoALiveServer) {
    const Fixture fx = makeFixture(kPartitioned.name + "_source", kPartitioned.sql,
                                   replaceAll(kPartitioned.query, "@P@", ""), kPartitioned.serverOpts);
    const fs::path work = scratch("partitioned_server");
    const fs::path password = work / "password";
    writeFileText(password, std::string(TestServer::kPassword) + "\n");
    const auto saveInto = [&](const TestServer& server) {
        server.query("DROP DATABASE IF EXISTS `rep_rt_part`;\n");
        return run(kDunmore + " save-server --log-folder " + quoted(work) + " " + quoted(fx.dataDir) +
                   " rt_part --server 127.0.0.1 --port " + server.port() + " --user " + TestServer::kUser +
                   " --password-file " + quoted(password));
    };
    const TestServer& server = sharedServer();
    const CommandRun save = saveInto(server);
    EXPECT_EQ(save.status, 0) << save.out;
    const std::string copyQuery = replaceAll(kPartitioned.query, "@P@", "rep_");
    expectSameResults(fx.resultText(), server.query(copyQuery));

    const TestServer unpartitioned({"--skip-partition"});
    const CommandRun plain = saveInto(unpartitioned);
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_NE(plain.out.find("The server refused the partitioning of table in_sub ("), std::string::npos) << plain.out;
    // Every row, without the partitions' layout and rows by partition.
    const std::string rowsQuery = copyQuery.substr(0, copyQuery.find("SELECT TABLE_NAME"));
    std::string rowsOnly;
    std::istringstream lines(rowsQuery);
    for (std::string line; std::getline(lines, line);)
        if (line.find(" PARTITION (") == std::string::npos) rowsOnly += line + "\n";
    expectSameResults(server.query(rowsOnly), unpartitioned.query(rowsOnly));
}

// The preview pages through the partitions one after the other: pages of 1,000 rows
// that begin in one partition and end in the next, every row once, then the end.
TEST(PartitionRoundTrip, PreviewPagesCrossPartitions) {
    for (const RoundTrip* rt : {&kPartitioned, &kPartitionedSystem}) {
        const Fixture fx = makeFixture(rt->name + "_source", rt->sql, replaceAll(rt->query, "@P@", ""), rt->serverOpts);
        const std::string db = rt->databases.front();
        for (const char* table : {"my_pages", "in_pages"}) {
            if (rt == &kPartitionedSystem && table == std::string("my_pages")) continue;
            SCOPED_TRACE(rt->name + " " + table);
            std::vector<int> ids;
            for (int page = 1; page <= 3; ++page) {
                const CommandRun shown = run(kDunmore + " preview " + quoted(fx.dataDir) + " " + db + "." + table +
                                             " --page " + std::to_string(page) + " --log-folder " +
                                             quoted(scratch("partitioned_preview")));
                ASSERT_EQ(shown.status, 0) << shown.out;
                const auto rows = parseBatch(shown.out);
                EXPECT_EQ(rows.size(), page < 3 ? 1001u : 501u);
                for (std::size_t r = 1; r < rows.size(); ++r) ids.push_back(std::stoi(rows[r][0]));
            }
            std::sort(ids.begin(), ids.end());
            ASSERT_EQ(ids.size(), 2500u);
            for (int i = 0; i < 2500; ++i) ASSERT_EQ(ids[static_cast<std::size_t>(i)], i + 1);
            EXPECT_EQ(run(kDunmore + " preview " + quoted(fx.dataDir) + " " + db + "." + table + " --page 4").status,
                      2);
        }
    }
}

// A partition whose file is gone: the rows of the others are saved, the lost one is named
// in the messages and the exit status; a damaged .par gives way to the definition's list;
// lower-case "#p#" and "#sp#" files are read.
TEST(PartitionRoundTrip, MissingPartitionIsNamedAndTheOthersSaved) {
    const Fixture fx = makeFixture(kPartitioned.name + "_source", kPartitioned.sql,
                                   replaceAll(kPartitioned.query, "@P@", ""), kPartitioned.serverOpts);
    const fs::path work = scratch("partitioned_missing");
    const fs::path data = work / "data";
    fs::copy(fx.dataDir, data, fs::copy_options::recursive);
    fs::remove(data / "rt_part" / "in_list#P#p1.ibd");
    fs::remove(data / "rt_part" / "my_range#P#p@002dmax.MYD");
    // Files named as a server with lower_case_table_names names them are found too.
    fs::rename(data / "rt_part" / "in_hash#P#p2.ibd", data / "rt_part" / "in_hash#p#p2.ibd");
    for (const char* ext : {".MYD", ".MYI"})
        fs::rename(data / "rt_part" / (std::string("my_sub#P#p1#SP#p1sp0") + ext),
                   data / "rt_part" / (std::string("my_sub#p#p1#sp#p1sp0") + ext));
    std::string par = readFileText(data / "rt_part" / "my_key.par");
    par[4] = static_cast<char>(par[4] ^ 1);  // the checksum no longer fits
    writeFileText(data / "rt_part" / "my_key.par", par);

    const CommandRun save = saveScript(data, work / "out", {"rt_part"}, work);
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Rows of table in_list (partition p1) not saved: its file in_list#P#p1.ibd is missing."),
              std::string::npos)
        << save.out;
    EXPECT_NE(save.out.find("Rows of table my_range (partition p-max) not saved: its file "
                            "my_range#P#p@002dmax.MYD is missing."),
              std::string::npos)
        << save.out;
    // The script holds exactly the rows of the partitions that are there.
    const std::string script = scriptsOf(work / "out");
    const auto idsOf = [&](const std::string& table) {
        std::vector<long> ids;
        const std::string head = "INSERT INTO `" + table + "`(`id`,";
        for (auto p = script.find(head); p != std::string::npos; p = script.find(head, p + 1))
            ids.push_back(std::stol(script.substr(script.find("VALUES(", p) + 7)));
        return ids;
    };
    const auto inList = idsOf("in_list");
    EXPECT_EQ(inList.size(), 200u);
    EXPECT_TRUE(std::none_of(inList.begin(), inList.end(), [](long id) { return id % 3 == 1; }));
    const auto myRange = idsOf("my_range");
    ASSERT_EQ(myRange.size(), 578u);
    EXPECT_EQ(*std::max_element(myRange.begin(), myRange.end()), 578);
    EXPECT_EQ(idsOf("my_key").size(), 150u);
    EXPECT_EQ(idsOf("in_hash").size(), 200u);
    EXPECT_EQ(idsOf("my_sub").size(), 500u);
    EXPECT_NE(logFilesText(work).find("my_key.par fails its checksum; the partitions the definition names are read."),
              std::string::npos);
}

}  // namespace
}  // namespace dunmore::test
