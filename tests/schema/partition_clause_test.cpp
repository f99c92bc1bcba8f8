// The partition text of .frm files and the .par files of partitioned tables: texts as
// MariaDB 10.11 writes them, and the files of MySQL 5.1 to 5.7 and MariaDB 10.1 servers
// among the peer fixtures, read in place.
#include "schema/frm_reader.h"
#include "schema/par_file.h"
#include "schema/partition_clause.h"

#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace dunmore::schema {
namespace {

namespace fs = std::filesystem;
const fs::path kPeers = DUNMORE_PEER_FIXTURES;

// "p0" or "p0/p0sp0" for each partition, in order.
std::vector<std::string> namesOf(const PartitionClause& c) {
    std::vector<std::string> out;
    for (const auto& p : c.partitions) {
        if (p.subpartitions.empty()) out.push_back(p.name);
        for (const auto& s : p.subpartitions) out.push_back(p.name + "/" + s);
    }
    return out;
}

std::vector<std::string> identifiersOf(const PartitionClause& c) {
    std::vector<std::string> out;
    for (const auto& i : c.functionIdentifiers)
        if (!i.keyword) out.push_back(i.name);
    return out;
}

struct ClauseCase {
    const char* name;
    const char* text;
    std::vector<std::string> partitions;
    std::vector<std::string> identifiers;
    const char* statement;
};

// MariaDB 10.11's texts (CREATE TABLE ... PARTITION BY ... in a 10.11 server, its .frm
// read back), and MySQL 5.x's forms with unquoted names and user-typed functions.
const ClauseCase kClauses[] = {
    {"hash, default names", " PARTITION BY HASH (`id`)\nPARTITIONS 4", {"p0", "p1", "p2", "p3"}, {"id"},
     "PARTITION BY HASH (`id`) PARTITIONS 4"},
    {"key on the primary key", " PARTITION BY KEY ()\nPARTITIONS 3", {"p0", "p1", "p2"}, {},
     "PARTITION BY KEY () PARTITIONS 3"},
    {"list, a name in the file-name encoding",
     " PARTITION BY LIST (`id` MOD 3)\n(PARTITION `p0` VALUES IN (0) ENGINE = InnoDB,\n PARTITION `p-1` VALUES IN (1)"
     " ENGINE = InnoDB)",
     {"p0", "p-1"}, {"id"},
     "PARTITION BY LIST (`id` MOD 3) (PARTITION `p0` VALUES IN (0) ENGINE = InnoDB, PARTITION `p-1` VALUES IN (1) "
     "ENGINE = InnoDB)"},
    {"range columns with a string bound",
     " PARTITION BY RANGE  COLUMNS(`a`,`b`)\n(PARTITION `p0` VALUES LESS THAN (10,_utf8mb4 0x6d) ENGINE = InnoDB,\n"
     " PARTITION `p1` VALUES LESS THAN (MAXVALUE,MAXVALUE) ENGINE = InnoDB)",
     {"p0", "p1"}, {"a", "b"}, nullptr},
    {"default subpartitions",
     " PARTITION BY RANGE (year(`d`))\nSUBPARTITION BY HASH (`id`)\nSUBPARTITIONS 2\n(PARTITION `p0` VALUES LESS "
     "THAN (2019) ENGINE = InnoDB,\n PARTITION `p1` VALUES LESS THAN MAXVALUE ENGINE = InnoDB)",
     {"p0/p0sp0", "p0/p0sp1", "p1/p1sp0", "p1/p1sp1"}, {"d", "id"}, nullptr},
    {"named subpartitions",
     " PARTITION BY RANGE (year(`d`))\nSUBPARTITION BY KEY (`id`)\n(PARTITION `p0` VALUES LESS THAN (2019)\n "
     "(SUBPARTITION `s0` ENGINE = MyISAM,\n  SUBPARTITION `s1` ENGINE = MyISAM),\n PARTITION `p1` VALUES LESS THAN "
     "MAXVALUE\n (SUBPARTITION `s2` ENGINE = MyISAM,\n  SUBPARTITION `s3` ENGINE = MyISAM))",
     {"p0/s0", "p0/s1", "p1/s2", "p1/s3"}, {"d", "id"}, nullptr},
    {"directories of the old server left out",
     " PARTITION BY RANGE (a)\n(PARTITION p0 VALUES LESS THAN (5) DATA DIRECTORY = '/mnt/d' INDEX DIRECTORY = "
     "'/mnt/i' ENGINE = MyISAM,\n PARTITION p1 VALUES LESS THAN MAXVALUE ENGINE = MyISAM)",
     {"p0", "p1"}, {"a"},
     "PARTITION BY RANGE (a) (PARTITION p0 VALUES LESS THAN (5) ENGINE = MyISAM, PARTITION p1 VALUES LESS THAN "
     "MAXVALUE ENGINE = MyISAM)"},
    {"MySQL 5.x linear key with an algorithm", " PARTITION BY LINEAR KEY ALGORITHM = 2 (a,b)\nPARTITIONS 2",
     {"p0", "p1"}, {"a", "b"}, nullptr},
    {"a bare key word and a cast", " PARTITION BY HASH (CAST(a AS SIGNED) DIV 2)", {"p0"}, {"a"}, nullptr},
};

TEST(PartitionClause, TakesApartTheServersTexts) {
    for (const auto& c : kClauses) {
        SCOPED_TRACE(c.name);
        const auto parsed = parsePartitionClause(c.text);
        ASSERT_TRUE(parsed) << parsed.status().message();
        EXPECT_EQ(namesOf(*parsed), c.partitions);
        EXPECT_EQ(identifiersOf(*parsed), c.identifiers);
        EXPECT_EQ(parsed->notRebuilt, "");
        if (c.statement) EXPECT_EQ(parsed->statementText, c.statement);
    }
}

// A text cut anywhere, and texts the server never writes, are not taken for whole.
TEST(PartitionClause, RefusesTextThatIsNotWhole) {
    const std::string whole = kClauses[5].text;
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_FALSE(parsePartitionClause(whole.substr(0, cut))) << whole.substr(0, cut);
    }
    const char* kBroken[] = {
        " PARTITION BY HASH (`id`)\nPARTITIONS 0",
        " PARTITION BY HASH (`id`))",
        " PARTITION BY HASH (`id`) PARTITIONS 2 (PARTITION p0)",
        " PARTITION BY LIST (a) (PARTITION p0 VALUES IN (1), PARTITION P0 VALUES IN (2))",
        " PARTITION BY RANGE (a) SUBPARTITION BY HASH (a) (PARTITION p0 VALUES LESS THAN (1) (SUBPARTITION s0), "
        "PARTITION p1 VALUES LESS THAN (2) (SUBPARTITION s1, SUBPARTITION s2))",
        " PARTITION BY HASH (id\x01)",
        " PARTITION BY HASH (\xff)",
        " PARTITION BY HASH (`id`) garbage",
        " SUBPARTITION BY HASH (`id`)",
        " PARTITION BY HASH (a) PARTITIONS 8192 SUBPARTITION BY HASH (a) SUBPARTITIONS 8192",
    };
    for (const char* text : kBroken) EXPECT_FALSE(parsePartitionClause(text)) << text;
}

TEST(PartitionClause, SystemTimeAndCommentsAreReadButNotRebuilt) {
    const auto history =
        parsePartitionClause(" PARTITION BY SYSTEM_TIME INTERVAL 1 MONTH\n(PARTITION `p0` HISTORY ENGINE = InnoDB,\n"
                             " PARTITION `pn` CURRENT ENGINE = InnoDB)");
    ASSERT_TRUE(history) << history.status().message();
    EXPECT_EQ(namesOf(*history), (std::vector<std::string>{"p0", "pn"}));
    EXPECT_NE(history->notRebuilt, "");
    const auto commented = parsePartitionClause(" PARTITION BY HASH (a /* why */)\nPARTITIONS 2");
    ASSERT_TRUE(commented);
    EXPECT_EQ(namesOf(*commented), (std::vector<std::string>{"p0", "p1"}));
    EXPECT_NE(commented->notRebuilt, "");
}

struct PeerCase {
    const char* frm;
    std::uint8_t engine;  // of the partitions
    std::vector<std::string> partitions;
    const char* par;  // nullptr: none
};

// The partitioned .frm files of the peer fixtures and their .par files.
TEST(PartitionClause, PeerDefinitionsAndParFiles) {
    const PeerCase kCases[] = {
        {"mariadb-server/std_data/mdev17909.frm", 9, {"p20181029", "p20181128"},
         "mariadb-server/std_data/mdev17909.par"},
        // BLACKHOLE partitions (the server refuses the table): the engine says so.
        {"mariadb-server/std_data/parts/t1_blackhole.frm", 19, {"p0"}, "mariadb-server/std_data/parts/t1_blackhole.par"},
        // MySQL 5.7 native InnoDB partitioning: no .par, the text alone names them.
        {"mariadb-server/std_data/mysql57part.frm", 12,
         {"p2013", "p2014", "p2015", "p2016", "p2017", "p2018", "p2019", "p2020", "p2021", "p2022", "p2023", "p2024",
          "p2025", "p2026", "p2027", "p2028", "p2029", "p2030", "pEOW"},
         nullptr},
        {"mysql-utilities/std_data/frm_files/t9.frm", 12, {"p0"}, nullptr},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.frm);
        core::TableDefinitionState def;
        core::AppSettings settings;
        ASSERT_TRUE(readTableDefinitionStatus(def, kPeers / c.frm, settings));
        EXPECT_TRUE(def.partitioned);
        EXPECT_EQ(def.engineCode, c.engine);
        EXPECT_EQ(def.partitionDamage, "");
        const auto clause = parsePartitionClause(def.partitionText);
        ASSERT_TRUE(clause) << clause.status().message();
        EXPECT_EQ(namesOf(*clause), c.partitions);
        if (!c.par) continue;
        const auto par = readParFile(kPeers / c.par);
        ASSERT_TRUE(par) << par.status().message();
        EXPECT_EQ(par->names, c.partitions);
        EXPECT_EQ(par->engines, std::vector<std::uint8_t>(c.partitions.size(), c.engine));
    }
    // A table of an old name (5.1 encoding of "me.too.periods") that is not partitioned.
    core::TableDefinitionState plain;
    core::AppSettings settings;
    ASSERT_TRUE(readTableDefinitionStatus(plain, kPeers / "mysql-utilities/std_data/frm_files/me@002etoo@002eperiods.frm",
                                          settings));
    EXPECT_FALSE(plain.partitioned);
}

// One byte changed anywhere in a .par's main part is found, by its checksum or its counts.
TEST(PartitionClause, DamagedParFilesAreRefused) {
    const fs::path source = kPeers / "mariadb-server/std_data/mdev17909.par";
    const std::string image = test::readFileText(source);
    const fs::path copy = fs::temp_directory_path() / "dunmore_par_test.par";
    for (std::size_t at = 0; at < 40; ++at) {
        SCOPED_TRACE(at);
        std::string damaged = image;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
        test::writeFileText(copy, damaged);
        EXPECT_FALSE(readParFile(copy));
    }
    std::string traversal = image;  // "p2018102/" in place of "p20181029", resealed
    traversal[0x14 + 8] = '/';
    traversal[4] = static_cast<char>(traversal[4] ^ '9' ^ '/');
    test::writeFileText(copy, traversal);
    EXPECT_FALSE(readParFile(copy));
    for (const std::size_t size : {0u, 12u, 30u}) {
        test::writeFileText(copy, image.substr(0, size));
        EXPECT_FALSE(readParFile(copy)) << size;
    }
    fs::remove(copy);
}

}  // namespace
}  // namespace dunmore::schema
