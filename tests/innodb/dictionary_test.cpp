// The dictionary of real MariaDB data folders against what the live server reported, and
// hand-built ibdata1 images for the cases a real file cannot show.
#include "innodb/dictionary.h"

#include "core/recovery_context.h"
#include "innodb/column_layout.h"
#include "innodb/page.h"
#include "schema/collation_table.h"
#include "support/fixture.h"
#include "support/page_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

namespace dunmore::innodb {

// Tables of every row format, file-per-table and inside ibdata1, with the clustering
// keys that matter to the layout. Shared with column_layout_test.cpp.
const test::Fixture& innodbLayoutFixture() {
    static const std::string kSql = R"SQL(
CREATE DATABASE lay;
USE lay;
CREATE TABLE types_c (
  id INT NOT NULL PRIMARY KEY,
  ti TINYINT, tiu TINYINT UNSIGNED NOT NULL, si SMALLINT, siu SMALLINT UNSIGNED,
  mi MEDIUMINT, miu MEDIUMINT UNSIGNED, bi BIGINT, biu BIGINT UNSIGNED,
  d1 DECIMAL(10,2), d2 DECIMAL(30,10) UNSIGNED NOT NULL, d3 DECIMAL(65,30), f FLOAT,
  f2 FLOAT(7,3), fu FLOAT UNSIGNED, db DOUBLE, dbu DOUBLE(10,2) UNSIGNED,
  dt DATE, yr YEAR, dtm DATETIME(6), dtm0 DATETIME, dtm3 DATETIME(3), tm TIME(3), tm0 TIME,
  ts TIMESTAMP(6) NULL, ts0 TIMESTAMP NULL, ts1 TIMESTAMP(1) NOT NULL DEFAULT '2000-01-01',
  b1 BIT(1), b13 BIT(13), b64 BIT(64), e ENUM('a','b') NOT NULL, s SET('x','y','z'),
  s9 SET('1','2','3','4','5','6','7','8','9'),
  s20 SET('a1','a2','a3','a4','a5','a6','a7','a8','a9','b1','b2','b3','b4','b5','b6','b7','b8','b9','c1','c2'),
  vl VARCHAR(10) CHARACTER SET latin1, vl300 VARCHAR(300) CHARACTER SET latin1,
  vu VARCHAR(10), vu100 VARCHAR(100) CHARACTER SET utf8mb4,
  cl CHAR(10) CHARACTER SET latin1, cu CHAR(10), cb BINARY(5), vb VARBINARY(20),
  vb300 VARBINARY(300), bl BLOB, tx TEXT, g GEOMETRY, pt POINT NOT NULL,
  ubin VARCHAR(5) CHARACTER SET utf8mb4 COLLATE utf8mb4_bin,
  cl1 CHAR(3) CHARACTER SET latin1 COLLATE latin1_bin, p1 VARCHAR(20) NOT NULL
) ENGINE=InnoDB ROW_FORMAT=COMPACT;
CREATE TABLE types_b (id INT UNSIGNED PRIMARY KEY, tb TINYBLOB, mb MEDIUMBLOB, lb LONGBLOB,
  tt TINYTEXT, txl TEXT CHARACTER SET latin1, j JSON, u8 CHAR(4) CHARACTER SET utf8mb3,
  uc CHAR(3) CHARACTER SET ucs2, big CHAR(255) CHARACTER SET latin1, bigb BINARY(255),
  uca VARCHAR(10) CHARACTER SET utf8mb4 COLLATE utf8mb4_uca1400_ai_ci)
  ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
CREATE TABLE types_r LIKE types_c;
ALTER TABLE types_r ROW_FORMAT=REDUNDANT;
CREATE TABLE pk_ba (a INT NOT NULL, b VARCHAR(10) NOT NULL, c INT, PRIMARY KEY (b, a))
  ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
CREATE TABLE pk_ba_r (a INT NOT NULL, b VARCHAR(10) NOT NULL, c INT, PRIMARY KEY (b, a))
  ENGINE=InnoDB ROW_FORMAT=REDUNDANT;
CREATE TABLE uniq_nn (a INT, b INT NOT NULL, c CHAR(3) NOT NULL, UNIQUE KEY k (c, b))
  ENGINE=InnoDB;
CREATE TABLE uniq_null (a INT NOT NULL, b INT, UNIQUE KEY k (b)) ENGINE=InnoDB;
CREATE TABLE nokey (a INT, b VARCHAR(5)) ENGINE=InnoDB ROW_FORMAT=COMPACT;
CREATE TABLE pk_prefix (v VARCHAR(20) NOT NULL, n INT, PRIMARY KEY (v(3))) ENGINE=InnoDB;
CREATE TABLE sup (k VARCHAR(20) NOT NULL PRIMARY KEY, n INT) ENGINE=InnoDB;
INSERT INTO pk_ba VALUES (1,'x',10),(2,'a',20),(3,'a',NULL);
INSERT INTO pk_ba_r SELECT * FROM pk_ba;
INSERT INTO uniq_nn VALUES (1,5,'zz'),(2,3,'aa'),(NULL,1,'aa');
INSERT INTO uniq_null VALUES (1,7),(2,NULL),(3,-4);
INSERT INTO nokey VALUES (1,'q'),(2,NULL),(-3,'rr');
INSERT INTO pk_prefix VALUES ('abcdef',1),('xyz12',2);
INSERT INTO sup VALUES ('supremum',1),('zzz',2);
CREATE TABLE virt (a INT PRIMARY KEY, g INT AS (a + 1) VIRTUAL, s INT AS (a * 2) STORED, z INT)
  ENGINE=InnoDB;
INSERT INTO virt (a, z) VALUES (1, 9), (2, -9);
CREATE TABLE inst (a INT PRIMARY KEY, b INT) ENGINE=InnoDB;
INSERT INTO inst VALUES (1, 10), (2, 20);
ALTER TABLE inst ADD COLUMN c INT DEFAULT 5, ALGORITHM=INSTANT;
INSERT INTO inst VALUES (3, 30, 7);
CREATE TABLE inst_drop (a INT PRIMARY KEY, i INT NOT NULL, n INT, v VARCHAR(10),
  w VARCHAR(300), c CHAR(3) CHARACTER SET latin1 NOT NULL, k VARCHAR(5) NOT NULL, z INT)
  ENGINE=InnoDB;
INSERT INTO inst_drop VALUES (1, 2, 3, 'v', 'w', 'c', 'k', 9);
ALTER TABLE inst_drop DROP COLUMN i, DROP COLUMN n, DROP COLUMN v, DROP COLUMN w,
  DROP COLUMN c, MODIFY z INT FIRST, ALGORITHM=INSTANT;
INSERT INTO inst_drop VALUES (NULL, 2, 'kk'), (-7, 3, '');
SET GLOBAL innodb_file_per_table=0;
CREATE TABLE shared_c (a INT PRIMARY KEY, b VARCHAR(20)) ENGINE=InnoDB ROW_FORMAT=COMPACT;
CREATE TABLE shared_r (b VARCHAR(20), a INT NOT NULL, PRIMARY KEY (a)) ENGINE=InnoDB ROW_FORMAT=REDUNDANT;
CREATE TABLE shared_d (a INT, b VARCHAR(20) NOT NULL, UNIQUE KEY (b)) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
INSERT INTO shared_c VALUES (1,'one'),(2,NULL);
INSERT INTO shared_r VALUES ('two',2),(NULL,5);
INSERT INTO shared_d VALUES (7,'seven'),(NULL,'eight');
SET GLOBAL innodb_file_per_table=1;
)SQL";
    static const std::string kQuery = R"SQL(
SELECT 'col' AS tag, t.NAME AS tname, c.NAME AS cname, c.POS, c.MTYPE, c.PRTYPE, c.LEN
  FROM information_schema.INNODB_SYS_COLUMNS c JOIN information_schema.INNODB_SYS_TABLES t
  USING (TABLE_ID) WHERE t.NAME LIKE 'lay/%' ORDER BY t.NAME, c.POS;
SELECT 'idx' AS tag, t.NAME AS tname, t.TABLE_ID, t.SPACE, t.ROW_FORMAT, i.NAME AS iname,
  i.TYPE, i.PAGE_NO FROM information_schema.INNODB_SYS_INDEXES i
  JOIN information_schema.INNODB_SYS_TABLES t USING (TABLE_ID) WHERE t.NAME LIKE 'lay/%';
SELECT 'row' AS tag, 'pk_ba' AS tname, a, HEX(b) AS b, c FROM lay.pk_ba ORDER BY b, a;
SELECT 'row' AS tag, 'pk_ba_r' AS tname, a, HEX(b) AS b, c FROM lay.pk_ba_r ORDER BY b, a;
SELECT 'row' AS tag, 'uniq_nn' AS tname, a, b, HEX(c) AS c FROM lay.uniq_nn ORDER BY c, b;
SELECT 'row' AS tag, 'uniq_null' AS tname, a, b FROM lay.uniq_null ORDER BY a;
SELECT 'row' AS tag, 'nokey' AS tname, a, HEX(b) AS b FROM lay.nokey;
SELECT 'row' AS tag, 'pk_prefix' AS tname, HEX(v) AS v, n FROM lay.pk_prefix ORDER BY v;
SELECT 'row' AS tag, 'sup' AS tname, HEX(k) AS k, n FROM lay.sup ORDER BY k;
SELECT 'row' AS tag, 'virt' AS tname, a, s, z FROM lay.virt ORDER BY a;
SELECT 'row' AS tag, 'inst_drop' AS tname, z, a, HEX(k) AS k FROM lay.inst_drop ORDER BY a;
SELECT 'row' AS tag, 'shared_c' AS tname, a, HEX(b) AS b FROM lay.shared_c ORDER BY a;
SELECT 'row' AS tag, 'shared_r' AS tname, HEX(b) AS b, a FROM lay.shared_r ORDER BY a;
SELECT 'row' AS tag, 'shared_d' AS tname, a, HEX(b) AS b FROM lay.shared_d ORDER BY b;
)SQL";
    static const test::Fixture fixture = test::makeFixture("innodb_layout", kSql, kQuery);
    return fixture;
}

const schema::CollationTable& shippedCollations() {
    static const schema::CollationTable table = [] {
        schema::CollationTable t;
        t.loadCollationTable(std::filesystem::path(DUNMORE_SOURCE_DIR) / "data" / "collation (2)");
        return t;
    }();
    return table;
}

// Rows of the fixture's query output with the given tag, each as header name -> value.
std::vector<std::map<std::string, std::string>> taggedRows(const std::string& tag) {
    std::vector<std::map<std::string, std::string>> out;
    std::vector<std::string> header;
    for (const auto& row : test::parseBatch(innodbLayoutFixture().resultText())) {
        if (!row.empty() && row[0] == "tag") {
            header = row;
            continue;
        }
        if (row.empty() || row[0] != tag) continue;
        std::map<std::string, std::string> m;
        for (std::size_t i = 0; i < row.size() && i < header.size(); ++i) m[header[i]] = row[i];
        out.push_back(std::move(m));
    }
    return out;
}

namespace {

// A run whose ibdata1 was opened, and a table reader of that run.
struct OpenedRun {
    core::RecoveryContext run;
    std::unique_ptr<InnodbReader> reader = std::make_unique<InnodbReader>();
    // A reader of the run as it stands now.
    void newReader() { reader = std::make_unique<InnodbReader>(run); }
    const SystemTablespace& dict() const { return reader->dictionary(); }
};

std::unique_ptr<OpenedRun> openFixtureDictionary() {
    auto ctx = std::make_unique<OpenedRun>();
    const auto& fx = innodbLayoutFixture();
    EXPECT_TRUE(openSystemTablespace(ctx->run, (fx.dataDir / "ibdata1").string(), shippedCollations()));
    ctx->newReader();
    return ctx;
}

std::string tableOf(const std::string& dbSlashTable) {
    return dbSlashTable.substr(dbSlashTable.find('/') + 1);
}

TEST(InnodbDictionary, FixtureTablesAndClusteredRootsMatchTheServer) {
    auto ctx = openFixtureDictionary();
    const auto& fx = innodbLayoutFixture();
    const auto indexes = taggedRows("idx");
    ASSERT_GE(indexes.size(), 16u);
    int clustered = 0;
    for (const auto& x : indexes) {
        if ((std::stoul(x.at("TYPE")) & 1) == 0) continue;
        ++clustered;
        const std::string& name = x.at("tname");
        SCOPED_TRACE(name);
        const std::uint64_t id = std::stoull(x.at("TABLE_ID"));
        EXPECT_EQ(findTableId(ctx->dict(), name), id);
        EXPECT_EQ(findClusteredRoot(ctx->dict(), id), std::stoul(x.at("PAGE_NO")));
        const TableLocation where = locateTable(ctx->dict(), (fx.dataDir / "lay").string(), tableOf(name));
        EXPECT_TRUE(where.found);
        EXPECT_EQ(where.tableId, id);
        EXPECT_EQ(where.rootPage, std::stoul(x.at("PAGE_NO")));
        EXPECT_EQ(where.space, std::stoul(x.at("SPACE")));
        EXPECT_EQ(where.inOwnFile, x.at("SPACE") != "0");
        EXPECT_EQ(where.redundant, x.at("ROW_FORMAT") == "Redundant");
        if (where.inOwnFile) {
            EXPECT_TRUE(std::filesystem::exists(where.ibdPath));
        }
    }
    EXPECT_EQ(clustered, 16);
    // Key spelling: a backslash works for the slash; the case of the name matters.
    EXPECT_EQ(findTableId(ctx->dict(), "lay\\pk_ba"), findTableId(ctx->dict(), "lay/pk_ba"));
    EXPECT_NE(findTableId(ctx->dict(), "lay/pk_ba"), 0u);
    EXPECT_EQ(findTableId(ctx->dict(), "Lay/pk_ba"), 0u);
    EXPECT_EQ(findTableId(ctx->dict(), "lay/pk_b"), 0u);
    EXPECT_FALSE(locateTable(ctx->dict(), (fx.dataDir / "lay").string(), "missing").found);
    // The dictionary's own tables are there too.
    EXPECT_NE(findTableId(ctx->dict(), "SYS_FOREIGN"), 0u);
}

TEST(InnodbDictionary, SysColumnsMatchTheServer) {
    auto ctx = openFixtureDictionary();
    const auto columns = taggedRows("col");
    ASSERT_GT(columns.size(), 100u);
    for (const auto& c : columns) {
        SCOPED_TRACE(c.at("tname") + "." + c.at("cname"));
        const std::uint64_t id = findTableId(ctx->dict(), c.at("tname"));
        ASSERT_NE(id, 0u);
        const innodb::SysColumnsRecord* found = nullptr;
        for (const auto& r : ctx->dict().sysColumns)
            if (r.tableId == id && r.position == std::stoul(c.at("POS"))) found = &r;
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->name, c.at("cname"));
        EXPECT_EQ(found->mainType, std::stoul(c.at("MTYPE")));
        EXPECT_EQ(found->preciseType, std::stoul(c.at("PRTYPE")));
        EXPECT_EQ(found->length, std::stoul(c.at("LEN")));
        const std::uint32_t m = found->mainType;
        if (m <= 5 || m == 12 || m == 13) {
            const auto* e = shippedCollations().lookupCollation(collationOf(found->preciseType));
            EXPECT_EQ(found->mbMinMaxLen, e ? e->minBytesPerChar + 5 * e->maxBytesPerChar : 0);
            if (c.at("cname") == "uca") {
                // A collation number above 255 (utf8mb4_uca1400_ai_ci) keeps all its bits.
                EXPECT_EQ(collationOf(found->preciseType), 2304u);
            } else {
                EXPECT_NE(e, nullptr);
            }
        } else {
            EXPECT_EQ(found->mbMinMaxLen, 0u);
        }
    }
}

TEST(InnodbDictionary, ReopeningStartsFromACleanDictionary) {
    auto ctx = openFixtureDictionary();
    const auto tables = ctx->dict().sysTables.size();
    const auto columns = ctx->dict().sysColumns.size();
    const auto indexes = ctx->dict().sysIndexes.size();
    ASSERT_GT(tables, 0u);
    ASSERT_TRUE(openSystemTablespace(ctx->run, (innodbLayoutFixture().dataDir / "ibdata1").string(),
                                     shippedCollations()));
    ctx->newReader();
    EXPECT_EQ(ctx->dict().sysTables.size(), tables);
    EXPECT_EQ(ctx->dict().sysColumns.size(), columns);
    EXPECT_EQ(ctx->dict().sysIndexes.size(), indexes);
    // A path that cannot be opened changes nothing.
    EXPECT_FALSE(openSystemTablespace(ctx->run, "/nonexistent/ibdata1", shippedCollations()));
    EXPECT_TRUE(ctx->run.systemTablespaceOpen());
    ctx->newReader();
    EXPECT_TRUE(ctx->reader->systemTablespace.isOpen());
    EXPECT_EQ(ctx->dict().sysTables.size(), tables);
}

// An instant ADD COLUMN leaves a metadata record first on the leaf; records written
// before it keep the ordinary status, later ones the instant status.
TEST(InnodbDictionary, InstantAlterMetadataRecordIsRecognised) {
    auto ctx = openFixtureDictionary();
    const auto where = locateTable(ctx->dict(), (innodbLayoutFixture().dataDir / "lay").string(), "inst");
    ASSERT_TRUE(where.found);
    core::ReadOnlyFile ibd;
    ASSERT_TRUE(ibd.open(where.ibdPath));
    const auto page = readIndexPage(*ctx->reader, ibd, where.rootPage);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->index.level, 0);
    std::vector<std::pair<bool, std::uint8_t>> seen;
    for (const auto& e : compactChain(ctx->reader->pageBuffer, 0, true)) {
        const auto h = compactHeader(ctx->reader->pageBuffer, e.origin);
        ASSERT_TRUE(h);
        seen.emplace_back(isMetadataRecord(*h, true), h->status);
    }
    const std::vector<std::pair<bool, std::uint8_t>> expected = {
        {true, kStatusInstant}, {false, kStatusOrdinary}, {false, kStatusOrdinary},
        {false, kStatusInstant}};
    EXPECT_EQ(seen, expected);
}

// A small ibdata1 image: SYS_TABLES under a two-level root at page 8 whose leaf chain
// (pages 12, 13) loops back; SYS_COLUMNS and SYS_INDEXES roots that are leaves.
class HandBuiltDictionary : public ::testing::Test {
protected:
    static constexpr std::uint32_t kPages = 14;
    using Bytes = test::PageBytes;

    static std::vector<Bytes> sysTablesRecord(const std::string& name, Bytes id, std::uint32_t nCols,
                                              std::uint32_t space) {
        return {test::textBytes(name), Bytes(6, 0), Bytes(7, 0), id, test::be(nCols, 4),
                test::be(1, 4), test::be(0, 8), test::be(0, 4), {}, test::be(space, 4)};
    }
    static std::vector<Bytes> sysColumnsRecord(std::uint64_t table, std::uint32_t pos,
                                               std::uint32_t mtype, std::uint32_t prtype) {
        return {test::be(table, 8), test::be(pos, 4), Bytes(6, 0), Bytes(7, 0),
                test::textBytes("c" + std::to_string(pos)), test::be(mtype, 4), test::be(prtype, 4),
                test::be(10, 4), test::be(0, 4)};
    }
    static std::vector<Bytes> sysIndexesRecord(std::uint64_t table, std::uint64_t index,
                                               std::uint32_t type, std::uint32_t root) {
        return {test::be(table, 8), test::be(index, 8), Bytes(6, 0), Bytes(7, 0),
                test::textBytes("i" + std::to_string(index)), test::be(1, 4), test::be(type, 4),
                test::be(0, 4), test::be(root, 4)};
    }

    void SetUp() override {
        using test::PageBuilder;
        m_pages.assign(kPages, Bytes(16384, 0));
        PageBuilder root(PageBuilder::Format::Redundant, 8);
        root.level(1);
        root.redundantRecord(300, {test::textBytes("a"), test::be(12, 4)}, true, kInfoMinRecord);
        root.chainRedundant({300});
        m_pages[8] = root.bytes();

        PageBuilder leaf1(PageBuilder::Format::Redundant, 12);
        leaf1.next(13);
        leaf1.redundantRecord(300, sysTablesRecord("shop/orders", test::be(40, 8), 0x80000003, 7), false,
                              kInfoDeleteMark);
        leaf1.redundantRecord(600, sysTablesRecord("shop/orders", test::be(41, 8), 3, 0), false);
        leaf1.chainRedundant({300, 600});
        m_pages[12] = leaf1.bytes();
        PageBuilder leaf2(PageBuilder::Format::Redundant, 13);
        leaf2.next(12);  // a loop back to the first leaf
        leaf2.redundantRecord(300, sysTablesRecord("shop/short_id", test::be(42, 7), 1, 0), false);
        leaf2.redundantRecord(600, sysTablesRecord("shop/gone", test::be(43, 8), 1, 0), false,
                              kInfoDeleteMark);
        leaf2.chainRedundant({300, 600});
        m_pages[13] = leaf2.bytes();

        PageBuilder cols(PageBuilder::Format::Redundant, 10);
        cols.redundantRecord(300, sysColumnsRecord(41, 0, 12, 0x000F), false);
        cols.redundantRecord(500, sysColumnsRecord(41, 1, 5, 0x04FC), false);
        cols.redundantRecord(700, sysColumnsRecord(41, 2, 6, 0x0503), false);
        cols.redundantRecord(900, sysColumnsRecord(41, 3, 13, 0x2D00FE), false);
        cols.chainRedundant({300, 500, 700, 900});
        m_pages[10] = cols.bytes();

        PageBuilder idx(PageBuilder::Format::Redundant, 11);
        idx.redundantRecord(300, sysIndexesRecord(41, 90, 0, 4), false);
        idx.redundantRecord(500, sysIndexesRecord(41, 91, 2, 5), false);
        idx.redundantRecord(700, sysIndexesRecord(41, 92, 3, 6), false, kInfoDeleteMark);
        idx.redundantRecord(900, sysIndexesRecord(41, 93, 3, 9), false);
        idx.redundantRecord(1100, sysIndexesRecord(43, 94, 1, 0), false);
        idx.chainRedundant({300, 500, 700, 900, 1100});
        m_pages[11] = idx.bytes();

        m_collations.insert(8, {1, 1, "latin1", "latin1_swedish_ci"});
        m_collations.insert(63, {1, 1, "binary", "binary"});
        m_collations.insert(45, {1, 4, "utf8mb4", "utf8mb4_general_ci"});
    }

    std::string write(const std::string& name) {
        const auto dir = std::filesystem::path(DUNMORE_BINARY_DIR) / "innodb_dictionary_test";
        std::filesystem::create_directories(dir);
        const auto path = dir / name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const auto& p : m_pages) out.write(reinterpret_cast<const char*>(p.data()), p.size());
        return path.string();
    }

    std::vector<Bytes> m_pages;
    schema::CollationTable m_collations;
};

TEST_F(HandBuiltDictionary, LoadsAllThreeIndexes) {
    auto ctx = std::make_unique<OpenedRun>();
    ASSERT_TRUE(openSystemTablespace(ctx->run, write("ibdata1"), m_collations));
    ctx->newReader();
    // The looping leaf chain is read once: 4 records, no repeats.
    ASSERT_EQ(ctx->dict().sysTables.size(), 4u);
    EXPECT_TRUE(ctx->dict().sysTables[0].deleted);
    EXPECT_TRUE(ctx->dict().sysTables[0].compact);
    EXPECT_EQ(ctx->dict().sysTables[0].columnCount, 3u);
    EXPECT_EQ(ctx->dict().sysTables[0].space, 7u);
    EXPECT_FALSE(ctx->dict().sysTables[1].compact);
    // The live record of a name wins over a delete-marked one; a dropped table is found.
    EXPECT_EQ(findTableId(ctx->dict(), "shop\\orders"), 41u);
    EXPECT_EQ(findTableId(ctx->dict(), "Shop\\orders"), 0u);
    EXPECT_EQ(findTableId(ctx->dict(), "shop/gone"), 43u);
    // An ID field that is not 8 bytes long keeps id 0 and is never found.
    EXPECT_EQ(ctx->dict().sysTables[2].id, 0u);
    EXPECT_EQ(findTableId(ctx->dict(), "shop/short_id"), 0u);

    ASSERT_EQ(ctx->dict().sysColumns.size(), 4u);
    struct Case { const char* name; std::uint32_t prtype; std::uint32_t mbMinMax; };
    const Case kCases[] = {
        {"VARMYSQL without collation gets latin1", 0x08000F, 1 + 5 * 1},
        {"binary BLOB without collation gets binary", 0x3F04FC, 1 + 5 * 1},
        {"integer has no collation", 0x0503, 0},
        {"utf8mb4 CHAR keeps its collation", 0x2D00FE, 1 + 5 * 4},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(kCases[i].name);
        EXPECT_EQ(ctx->dict().sysColumns[i].preciseType, kCases[i].prtype);
        EXPECT_EQ(ctx->dict().sysColumns[i].mbMinMaxLen, kCases[i].mbMinMax);
    }
    // Secondary indexes (type 0, unique type 2) and a delete-marked clustered record are
    // passed over for the live clustered one.
    EXPECT_EQ(findClusteredRoot(ctx->dict(), 41), 9u);
    EXPECT_EQ(findClusteredRoot(ctx->dict(), 43), 0u);
    EXPECT_EQ(findClusteredRoot(ctx->dict(), 0), 0u);
}

TEST_F(HandBuiltDictionary, DamagedRootsLeaveOnlyTheirListEmpty) {
    struct Case {
        const char* name;
        std::function<void(std::vector<Bytes>&)> damage;
        std::size_t tables, columns, indexes;
    };
    const Case kCases[] = {
        {"SYS_TABLES root not an index page", [](auto& p) { test::setU16be(p[8], 24, 2); }, 0, 4, 5},
        {"child page out of range", [](auto& p) { test::setU32be(p[8], 301, 99); }, 0, 4, 5},
        {"child page 0", [](auto& p) { test::setU32be(p[8], 301, 0); }, 0, 4, 5},
        {"child at the same level", [](auto& p) { test::setU16be(p[12], 64, 1); }, 0, 4, 5},
        {"compact SYS_COLUMNS page", [](auto& p) { p[10][101] = 'x'; }, 4, 0, 5},
        {"offset array past the page start", [](auto& p) { p[11][296] = 0x07; p[11][297] = 0xFE; }, 4, 4, 0},
        {"record chain loop on a page", [](auto& p) { test::setU16be(p[10], 298, 300); }, 4, 1, 5},
        {"truncated file", [](auto& p) { p.resize(11); }, 0, 4, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.damage(m_pages);
        auto ctx = std::make_unique<OpenedRun>();
        ASSERT_TRUE(openSystemTablespace(ctx->run, write("damaged"), m_collations));
        ctx->newReader();
        EXPECT_EQ(ctx->dict().sysTables.size(), c.tables);
        EXPECT_EQ(ctx->dict().sysIndexes.size(), c.indexes);
        EXPECT_EQ(ctx->dict().sysColumns.size(), c.columns);
    }
}

}  // namespace
}  // namespace dunmore::innodb
