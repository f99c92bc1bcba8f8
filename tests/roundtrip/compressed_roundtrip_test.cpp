// InnoDB's compressed storage: ROW_FORMAT=COMPRESSED tables of every KEY_BLOCK_SIZE a 16 KiB
// server writes, and MariaDB PAGE_COMPRESSED=1 tables of each of its six algorithms (in
// the full_crc32 layout, and in the crc32 layout where each page names its algorithm).
// A real MariaDB server with the compression providers writes one data folder for all of
// them; `dunmore save-script` saves it (with and without ibdata1), a fresh server loads
// the scripts and every value is compared. The same folder, damaged, shows compressed
// pages that cannot be read named as lost, and an encrypted tablespace refused by name.
#include "core/read_only_file.h"
#include "innodb/page.h"
#include "innodb/page_check.h"
#include "innodb/tablespace_format.h"
#include "support/fixture.h"
#include "support/roundtrip.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

// One table of every kind of column, NULLs among them (nine nullable INTs: a two-byte
// null bitmap), values stored off the page, a secondary index, then updates, deletes and
// late inserts (written into the compressed pages' modification logs and free lists).
// @T@ is the table, @O@ its options.
const char* kTableSql = R"SQL(
CREATE TABLE @T@ (id INT NOT NULL PRIMARY KEY, a INT, b BIGINT UNSIGNED, c CHAR(8) CHARACTER SET latin1 NOT NULL,
  d DATETIME(6), e DECIMAL(18,4), f DOUBLE, v VARCHAR(60), w VARBINARY(40), n1 INT, n2 INT, n3 INT, n4 INT,
  n5 INT, n6 INT, n7 INT, n8 INT, n9 INT, t TEXT, bl LONGBLOB, KEY (v)) ENGINE=InnoDB @O@;
INSERT INTO @T@ SELECT seq, IF(seq % 7 = 0, NULL, CAST(seq AS SIGNED) * 3 - 5000), seq * 1000003, CONCAT('c', seq % 1000),
  '2020-01-01 00:00:00' + INTERVAL seq * 37 SECOND + INTERVAL seq MICROSECOND, seq / 7, seq * 1.5e10,
  REPEAT(CHAR(65 + seq % 26), seq % 60), UNHEX(SHA1(seq)), IF(seq % 2, NULL, seq), IF(seq % 3, NULL, seq),
  IF(seq % 4, NULL, seq), IF(seq % 5, NULL, seq), IF(seq % 6, NULL, seq), IF(seq % 8, NULL, seq),
  IF(seq % 9, NULL, seq), IF(seq % 10, NULL, seq), IF(seq % 11, NULL, seq),
  IF(seq % 97 = 0, REPEAT(CONCAT('long text ', seq), 900), CONCAT('t', seq)),
  IF(seq % 61 = 0, REPEAT(UNHEX(SHA2(seq, 256)), 2000), IF(seq % 3 = 0, NULL, x'00FF'))
  FROM seq_1_to_1800;
UPDATE @T@ SET v = CONCAT(LEFT(v, 50), '+upd') WHERE id % 11 = 0;
UPDATE @T@ SET t = REPEAT('grown ', 2000), n9 = -1 WHERE id % 250 = 5;
DELETE FROM @T@ WHERE id % 17 = 0;
INSERT INTO @T@ (id, c, v, t) SELECT seq, 'late', 'late', IF(seq % 50 = 0, REPEAT('late long ', 1000), NULL)
  FROM seq_1801_to_2000;
)SQL";

const char* kTableQuery =
    "SELECT id, a, b, HEX(c), d, e, f, HEX(v), HEX(w), n1, n2, n3, n4, n5, n6, n7, n8, n9, "
    "IF(LENGTH(t) > 100, CONCAT(LENGTH(t), ':', MD5(t)), HEX(t)), "
    "IF(LENGTH(bl) > 100, CONCAT(LENGTH(bl), ':', MD5(bl)), HEX(bl)) FROM `@P@rt_compressed`.`@T@` "
    "ORDER BY id;\n";

const char* kAlgorithms[] = {"zlib", "lz4", "lzo", "lzma", "bzip2", "snappy"};

std::string table(const std::string& name, const std::string& options) {
    return replaceAll(replaceAll(kTableSql, "@T@", name), "@O@", options);
}

std::string compressedSql() {
    std::string sql = "CREATE DATABASE rt_compressed CHARACTER SET utf8mb4;\nUSE rt_compressed;\n";
    for (const char* size : {"1", "4", "8", "16"})
        sql += table(std::string("zip") + size,
                     std::string("ROW_FORMAT=COMPRESSED KEY_BLOCK_SIZE=") + size);
    // The hidden row id clusters a table without a key.
    sql +=
        "CREATE TABLE zipnokey (x INT, y VARCHAR(20), z INT NOT NULL) ENGINE=InnoDB "
        "ROW_FORMAT=COMPRESSED "
        "KEY_BLOCK_SIZE=2;\nINSERT INTO zipnokey SELECT IF(seq % 3, seq, NULL), IF(seq % 4, "
        "CONCAT('y', seq), NULL), "
        "seq FROM seq_1_to_3000;\nDELETE FROM zipnokey WHERE z % 9 = 0;\n";
    // full_crc32 (the server's default): the tablespace's flags name the algorithm.
    for (const char* algorithm : kAlgorithms)
        sql += std::string("SET GLOBAL innodb_compression_algorithm = ") + algorithm + ";\n" +
               table(std::string("pc_") + algorithm, "PAGE_COMPRESSED=1");
    // The crc32 layout: each page names the algorithm it was written with. The lzma
    // table's pages are written at once, the other's at shutdown with bzip2.
    sql +=
        "SET GLOBAL innodb_checksum_algorithm = crc32;\nSET GLOBAL innodb_compression_algorithm = "
        "lzma;\n" +
        table("pc_crc32_lzma", "PAGE_COMPRESSED=1") +
        "FLUSH TABLES pc_crc32_lzma FOR EXPORT;\nUNLOCK TABLES;\n"
        "SET GLOBAL innodb_compression_algorithm = bzip2;\n" +
        table("pc_crc32", "PAGE_COMPRESSED=1 PAGE_COMPRESSION_LEVEL=9") +
        "SET GLOBAL innodb_checksum_algorithm = full_crc32;\n";
    // Encrypted with a key the saved folder does not carry.
    sql +=
        "CREATE DATABASE rt_encrypted;\nUSE rt_encrypted;\nCREATE TABLE secret (id INT PRIMARY "
        "KEY, s VARCHAR(20)) "
        "ENGINE=InnoDB ENCRYPTED=YES;\nINSERT INTO secret SELECT seq, CONCAT('secret ', seq) FROM "
        "seq_1_to_500;\n";
    return sql;
}

std::vector<std::string> tableNames() {
    std::vector<std::string> names = {"zip1", "zip4", "zip8", "zip16"};
    for (const char* algorithm : kAlgorithms) names.push_back(std::string("pc_") + algorithm);
    names.push_back("pc_crc32_lzma");
    names.push_back("pc_crc32");
    return names;
}

std::string compressedQuery() {
    std::string q = "SET time_zone = '+00:00';\n";
    for (const auto& name : tableNames()) q += replaceAll(kTableQuery, "@T@", name);
    return q + "SELECT x, HEX(y), z FROM `@P@rt_compressed`.zipnokey ORDER BY z;\n";
}

// The server options: every compression provider, and a key file for the encrypted table.
std::string serverOptions() {
    const fs::path keys = fs::path(DUNMORE_FIXTURE_ROOT) / "compressed_keys.txt";
    writeFileText(keys, "1;" + std::string(64, '7') + "\n");
    std::string opts =
        "--plugin-load-add=file_key_management --file-key-management-filename=" + keys.string();
    for (const char* algorithm : kAlgorithms)
        if (std::string(algorithm) != "zlib")
            opts += std::string(" --plugin-load-add=provider_") + algorithm;
    return opts;
}

RoundTrip compressedRoundTrip() {
    return {"compressed",      compressedSql(), compressedQuery(),
            {"rt_compressed"}, serverOptions(), "--rows-per-insert 1000"};
}

TEST(CompressedRoundTrip, EveryValueOfCompressedAndPageCompressedTablesWithIbdata1) {
    const CommandRun save = roundTrip(compressedRoundTrip(), false);
    EXPECT_EQ(save.status, 0) << save.out;
}

TEST(CompressedRoundTrip, EveryValueOfCompressedAndPageCompressedTablesWithoutIbdata1) {
    const CommandRun save = roundTrip(compressedRoundTrip(), true);
    EXPECT_EQ(save.status, 0) << save.out;
}

// The source folder of the round trip.
Fixture compressedSource() {
    const RoundTrip rt = compressedRoundTrip();
    return makeFixture(rt.name + "_source", rt.sql, replaceAll(rt.query, "@P@", ""), rt.serverOpts);
}

struct Page {
    std::size_t offset = 0;  // in the file
    std::size_t size = 0;    // stored bytes
    std::uint32_t number = 0;
};

std::uint32_t be(const std::string& image, std::size_t at, std::size_t width) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v = (v << 8) | static_cast<std::uint8_t>(image.at(at + i));
    return v;
}

// The leaf pages of the clustered index (the index of root page 3) of an .ibd, in file
// order, as they are stored.
std::vector<Page> clusteredLeaves(const fs::path& ibd, const std::string& image) {
    core::ReadOnlyFile file;
    if (!file.open(ibd)) return {};
    const innodb::TablespaceFormat format = innodb::readTablespaceFormat(file);
    std::vector<std::uint8_t> buffer(format.pageSize);
    const core::ByteSpan view(buffer.data(), buffer.size());
    std::uint64_t rootIndex = 0;
    std::vector<Page> leaves;
    for (std::uint32_t n = 3; n < innodb::pageCount(file.size(), format); ++n) {
        const auto read = innodb::readTablespacePage(file, format, n, innodb::PageBuffer(buffer));
        if (!read || !read->valid() ||
            !innodb::isIndexPageType(innodb::decodeFilHeader(view).pageType))
            continue;
        const innodb::IndexPageHeader index = innodb::decodeIndexHeader(view);
        if (n == 3) rootIndex = index.indexId;
        if (index.level != 0 || index.indexId != rootIndex) continue;
        const std::size_t at = std::size_t{n} * format.physicalPageSize;
        const std::uint32_t type = be(image, at + 24, 2);
        const std::size_t stored =
            format.fullCrc32 && (type & 0x8000) ? (type & 0x7FFF) << 8 : format.physicalPageSize;
        leaves.push_back({at, stored, n});
    }
    return leaves;
}

std::span<std::uint8_t> pageBytes(std::string& image, const Page& p) {
    return {reinterpret_cast<std::uint8_t*>(image.data() + p.offset), p.size};
}

// A copy of the source folder whose rt_compressed.<file> is changed by damage (given the
// file's image and its path).
fs::path damagedFolder(const std::string& name, const std::string& file,
                       const std::function<void(std::string&, const fs::path&)>& damage) {
    const Fixture fx = compressedSource();
    const fs::path work = scratch("compressed_" + name);
    const fs::path data = work / "data";
    // ibdata1 and the one table are all a check of it reads.
    fs::create_directories(data / "rt_compressed");
    fs::copy_file(fx.dataDir / "ibdata1", data / "ibdata1");
    const fs::path ibd = data / "rt_compressed" / file;
    fs::copy_file(fx.dataDir / "rt_compressed" / file, ibd);
    fs::copy_file(fx.dataDir / "rt_compressed" / fs::path(file).replace_extension(".frm"),
                  fs::path(ibd).replace_extension(".frm"));
    std::string image = readFileText(ibd);
    damage(image, ibd);
    writeFileText(ibd, image);
    return data;
}

CommandRun check(const fs::path& data, const std::string& item) {
    return run(kDunmore + " check --log-folder " + quoted(data.parent_path()) + " " + quoted(data) +
               " " + item);
}

// A compressed page that cannot be read is a damaged page: counted, named with why, and
// the rows of the other pages saved; never guessed.
TEST(CompressedRoundTrip, CompressedPagesThatCannotBeReadAreNamedAsLost) {
    struct Case {
        const char* name;
        const char* file;
        std::function<void(std::string&, const Page&)> damage;
        const char* reason;
    };
    const Case kCases[] = {
        {"zip stream damaged, checksum rewritten", "zip8.ibd",
         [](std::string& image, const Page& p) {
             for (std::size_t i = 0; i < 64; ++i)
                 image[p.offset + 200 + i] = static_cast<char>(0xA5);
             innodb::writeCompressedPageChecksum(pageBytes(image, p), innodb::PageChecksum::Crc32c);
         },
         "the compressed page cannot be inflated: "},
        {"zip page bytes changed", "zip4.ibd",
         [](std::string& image, const Page& p) { image[p.offset + 1000] ^= 0x10; },
         "checksum mismatch"},
        {"page-compressed stream damaged, checksum rewritten", "pc_zlib.ibd",
         [](std::string& image, const Page& p) {
             for (std::size_t i = 0; i < 16; ++i)
                 image[p.offset + 60 + i] = static_cast<char>(0x5A);
             const auto stored = pageBytes(image, p);
             const std::uint32_t crc = innodb::pageFullCrc32Checksum(stored);
             for (int i = 0; i < 4; ++i)
                 image[p.offset + p.size - 4 + i] = static_cast<char>(crc >> (24 - 8 * i));
         },
         "the compressed page cannot be decompressed: zlib does not give one page"},
    };
    int index = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::uint32_t damagedPage = 0;
        const fs::path data = damagedFolder("case" + std::to_string(index++), c.file,
                                            [&](std::string& image, const fs::path& ibd) {
                                                const auto leaves = clusteredLeaves(ibd, image);
                                                if (leaves.size() < 3) return;
                                                const Page& p = leaves[leaves.size() / 2];
                                                damagedPage = p.number;
                                                c.damage(image, p);
                                            });
        ASSERT_NE(damagedPage, 0u);
        const std::string table = fs::path(c.file).stem().string();
        const CommandRun r = check(data, "rt_compressed." + table);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("rt_compressed." + table + " (table): DAMAGED"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("lost: page " + std::to_string(damagedPage) + " damaged (" + c.reason),
                  std::string::npos)
            << r.out;
        const fs::path out = data.parent_path() / "out";
        const CommandRun save =
            saveScript(data, out, {"rt_compressed." + table}, data.parent_path());
        EXPECT_EQ(save.status, 1) << save.out;
        EXPECT_NE(scriptsOf(out).find("INSERT INTO `" + table + "`"), std::string::npos);
    }
}

// Compressed pages verify with each checksum a server can write on them, and a page
// compressed by an algorithm no server has is damaged.
TEST(CompressedRoundTrip, CompressedPageChecksumsAndUnknownAlgorithms) {
    for (const auto algorithm : {innodb::PageChecksum::Innodb, innodb::PageChecksum::None}) {
        const std::string name(innodb::checksumName(algorithm));
        SCOPED_TRACE(name);
        const fs::path data =
            damagedFolder("checksum_" + name, "zip4.ibd", [&](std::string& image, const fs::path&) {
                for (std::size_t at = 0; at + 4096 <= image.size(); at += 4096)
                    innodb::writeCompressedPageChecksum(pageBytes(image, {at, 4096, 0}), algorithm);
            });
        const CommandRun r = check(data, "rt_compressed.zip4");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("(page checksums: " + name + " "), std::string::npos) << r.out;
    }
    // The crc32 layout names the algorithm in bytes 26..33 of each compressed page: 9 on
    // every page below the root.
    std::size_t renamed = 0;
    const fs::path data = damagedFolder(
        "unknown_algorithm", "pc_crc32.ibd", [&](std::string& image, const fs::path&) {
            for (std::size_t at = 4 * 16384; at + 16384 <= image.size(); at += 16384)
                if (be(image, at + 24, 2) == 34354) {
                    image[at + 33] = 9;
                    ++renamed;
                }
        });
    ASSERT_GT(renamed, 3u);
    const CommandRun r = check(data, "rt_compressed.pc_crc32");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(" damaged (the compressed page cannot be decompressed: it names "
                         "compression algorithm 9)"),
              std::string::npos)
        << r.out;
}

// Without ibdata1 the space flags still say the table is compressed.
TEST(CompressedRoundTrip, ScanNamesCompressedTablesWithoutIbdata1) {
    const fs::path data = damagedFolder("scan", "zip4.ibd", [](std::string&, const fs::path&) {});
    fs::remove(data / "ibdata1");
    const CommandRun scan = run(kDunmore + " scan --log-folder " + quoted(data.parent_path()) + " " + quoted(data));
    EXPECT_EQ(scan.status, 0) << scan.out;
    const auto line = scan.out.find("\n    zip4  ");
    ASSERT_NE(line, std::string::npos) << scan.out;
    const std::string text = scan.out.substr(line, scan.out.find('\n', line + 1) - line);
    EXPECT_NE(text.find(" InnoDB  Compressed "), std::string::npos) << text;
}

TEST(CompressedRoundTrip, AnEncryptedTablespaceIsRefusedByName) {
    const Fixture fx = compressedSource();
    const fs::path work = scratch("compressed_encrypted");
    const CommandRun save = saveScript(fx.dataDir, work / "out", {"rt_encrypted"}, work);
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(
        save.out.find("Rows of table secret not saved: its records cannot be read: the tablespace "
                      "is encrypted "
                      "(ENCRYPTED=YES, key id 1) and its pages cannot be read without the key."),
        std::string::npos)
        << save.out;
    EXPECT_EQ(scriptsOf(work / "out").find("INSERT INTO `secret`"), std::string::npos);
}

}  // namespace
}  // namespace dunmore::test
