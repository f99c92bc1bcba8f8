// Table readers of one scan share nothing but the run's RecoveryContext (ibdata1 and its
// dictionary): tables read on two threads at once give exactly the rows they give when
// read one after the other.
#include "core/table_reader.h"

#include "core/scan.h"
#include "innodb/index_walk.h"
#include "innodb/innodb_reader.h"
#include "innodb/sdi_definition.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_reader.h"
#include "myisam/myisam_record_reader.h"
#include "support/fixture.h"
#include "support/recording_frontend.h"
#include "support/scanned_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace dunmore::output {
namespace {

namespace fs = std::filesystem;

// Two InnoDB tables in ibdata1, one in its own .ibd and one MyISAM table, 20,000 rows
// each.
const char* kSql = R"SQL(
CREATE DATABASE par;
USE par;
SET GLOBAL innodb_file_per_table=OFF;
CREATE TABLE sys_a (id INT PRIMARY KEY, name VARCHAR(40), amount DECIMAL(12,3),
                    at DATETIME(3) NULL) ENGINE=InnoDB;
CREATE TABLE sys_b (k BIGINT UNSIGNED PRIMARY KEY, t TEXT, d DATE, f DOUBLE) ENGINE=InnoDB;
SET GLOBAL innodb_file_per_table=ON;
CREATE TABLE own (id INT PRIMARY KEY, v VARCHAR(200), e ENUM('x','y','z'), s SET('a','b'))
    ENGINE=InnoDB;
CREATE TABLE mine (id INT NOT NULL, v VARCHAR(100), t TEXT, n INT NULL) ENGINE=MyISAM;
INSERT INTO sys_a SELECT seq, CONCAT('name ', seq), seq * 1.125,
    IF(seq % 9 = 0, NULL, TIMESTAMP'2020-01-01 00:00:00' + INTERVAL seq SECOND) FROM seq_1_to_20000;
INSERT INTO sys_b SELECT seq * 1000003, REPEAT(CHAR(65 + seq % 26), seq % 300),
    DATE'2000-01-01' + INTERVAL seq DAY, seq / 7 FROM seq_1_to_20000;
INSERT INTO own SELECT seq, REPEAT('v', seq % 200), ELT(1 + seq % 3, 'x', 'y', 'z'),
    IF(seq % 2, 'a', 'a,b') FROM seq_1_to_20000;
INSERT INTO mine SELECT seq, CONCAT('m', seq), REPEAT('t', seq % 50), IF(seq % 5 = 0, NULL, seq)
    FROM seq_1_to_20000;
)SQL";
constexpr std::size_t kRowsPerTable = 20000;

using Rows = std::vector<std::string>;

std::string rowText(const core::RowValues& columns) {
    std::string text;
    for (const core::ColumnDefinition& c : columns) {
        text += c.isNull ? std::string("\\N") : c.value;
        text += '\x1F';
    }
    return text;
}

// Reads a table of the scan as a job does: its definition, then a reader of its engine
// made for it alone, and every row of that engine's walk.
Rows readTable(core::MainFrame& frame, const core::TableEntry& table) {
    const core::Catalogue& cat = frame.catalogue;
    core::TableDefinitionState definition;
    EXPECT_TRUE(innodb::readCatalogueTableDefinition(definition, cat, table, frame.settings).isOk());
    Rows rows;
    if (definition.engineCode == core::kEngineMyisam) {
        myisam::MyisamReader reader(std::move(definition));
        EXPECT_TRUE(myisam::readMyisamHeader(reader, core::tableFilePath(cat, table, ".MYI")));
        EXPECT_TRUE(reader.dataFile.open(core::tableFilePath(cat, table, ".MYD")).isOk());
        myisam::WalkOptions options;
        options.collectRows = false;
        options.onRow = [&](std::uint64_t) {
            rows.push_back(rowText(reader.columns));
            return true;
        };
        (void)myisam::walkMyisamRows(reader, 0, options);
        return rows;
    }
    innodb::InnodbReader reader(frame.context, std::move(definition));
    const auto start = innodb::locateInnodbTable(
        reader, cat.databaseFolders.at(static_cast<std::size_t>(table.databaseIndex)),
        core::diskName(table));
    EXPECT_EQ(start.lookup, innodb::TableLookup::Found) << table.name;
    reader.tablespaceSelected = start.inOwnFile;
    const std::uint32_t nullBitmap = innodb::prepareWalkLayout(reader);
    innodb::LeafWalkOptions options;
    options.slot = start.inOwnFile ? innodb::TablespaceSlot::TablespaceFile
                                   : innodb::TablespaceSlot::SystemTablespace;
    options.firstPage = start.firstLeaf;
    innodb::LeafWalkCounts counts;
    const core::Status walked = innodb::walkLeafChain(
        reader, options,
        [&](core::ByteSpan page, const innodb::LeafRecord& r) {
            EXPECT_TRUE(innodb::decodeLeafRecord(reader, frame.settings, page, r.origin,
                                                 r.fieldAreaLength, nullBitmap));
            rows.push_back(rowText(reader.columns));
            return true;
        },
        counts);
    EXPECT_TRUE(walked.isOk()) << walked.message();
    return rows;
}

TEST(TableReaders, TwoTablesReadOnTwoThreadsAtOnceGiveTheRowsReadOneAfterTheOther) {
    const test::Fixture fixture = test::makeFixture("table_readers", kSql);
    const fs::path logDir = fs::path(DUNMORE_FIXTURE_ROOT) / "table_readers_log";
    fs::create_directories(logDir);
    test::RecordingFrontend frontend;
    test::ScannedSession s(frontend, fixture.dataDir, logDir);
    ASSERT_TRUE(s.frame.context.systemTablespaceOpen());
    std::map<std::string, const core::TableEntry*> tables;
    for (const core::TableEntry& t : s.frame.catalogue.tables) tables[t.name] = &t;

    std::map<std::string, Rows> oneAfterTheOther;
    for (const char* name : {"sys_a", "sys_b", "own", "mine"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(tables.count(name), 1u);
        oneAfterTheOther[name] = readTable(s.frame, *tables[name]);
        ASSERT_EQ(oneAfterTheOther[name].size(), kRowsPerTable);
    }

    struct Pair { const char* first; const char* second; };
    const Pair kPairs[] = {
        {"sys_a", "sys_b"},  // both in ibdata1, through one dictionary
        {"sys_a", "sys_a"},  // one table, two readers
        {"own", "mine"},     // an .ibd and a MyISAM table
        {"sys_b", "own"},
    };
    for (const Pair& p : kPairs) {
        SCOPED_TRACE(std::string(p.first) + " with " + p.second);
        // A few rounds, so that the two walks meet at different points.
        for (int round = 0; round < 3; ++round) {
            Rows first;
            Rows second;
            std::latch go(2);
            std::thread a([&] {
                go.arrive_and_wait();
                first = readTable(s.frame, *tables[p.first]);
            });
            std::thread b([&] {
                go.arrive_and_wait();
                second = readTable(s.frame, *tables[p.second]);
            });
            a.join();
            b.join();
            EXPECT_TRUE(first == oneAfterTheOther[p.first]);
            EXPECT_TRUE(second == oneAfterTheOther[p.second]);
        }
    }
}

}  // namespace
}  // namespace dunmore::output
