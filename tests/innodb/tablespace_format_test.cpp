// How a tablespace stores its pages: hand-built page 0 flags and encryption data, and the
// ROW_FORMAT=COMPRESSED file a MySQL 8.0.42 server wrote (peer fixtures).
#include "innodb/tablespace_format.h"

#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace dunmore::innodb {
namespace {

namespace fs = std::filesystem;

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::path(DUNMORE_BINARY_DIR) / "innodb_tablespace_format_test";
    fs::create_directories(dir);
    return dir / name;
}

void setBe32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

TEST(TablespaceFormat, FlagsAndPageZeroTellHowPagesAreStored) {
    constexpr std::uint32_t kZip1k =
        1u << 1 | 1 | 1u << 5;  // ZIP_SSIZE 1, post-Antelope, atomic blobs
    constexpr std::uint32_t kFullCrc32Lzma = 0x15 | 4u << 5;
    constexpr std::uint8_t kCryptMagic[] = {0x73, 0x0E, 0x0C, 0x52, 0x45, 0x74};
    struct Case {
        const char* name;
        std::uint32_t flags;
        std::uint32_t numberedAt;  // the size at which pages 1..3 carry their numbers
        std::size_t cryptAt;       // where the encryption data is written (0: none)
        std::uint32_t physical, logical;
        bool zip;
        PageCompression compression;
        bool encrypted;
    };
    const Case kCases[] = {
        {"KEY_BLOCK_SIZE=1", kZip1k, 1024, 0, 1024, 16384, true, PageCompression::None, false},
        {"compressed flags the pages do not fit", kZip1k, 16384, 0, 16384, 16384, false,
         PageCompression::None, false},
        {"full_crc32 with lzma", kFullCrc32Lzma, 16384, 0, 16384, 16384, false,
         PageCompression::Lzma, false},
        // 38 + 150 + 256 descriptors of 40 bytes for 16 KiB pages; 16 of 40 for 1 KiB zip pages.
        {"MariaDB encryption data", 0x15, 16384, 10428, 16384, 16384, false, PageCompression::None,
         true},
        {"encryption data of a compressed tablespace", kZip1k, 1024, 38 + 150 + 16 * 40, 1024,
         16384, true, PageCompression::None, true},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> image(std::size_t{c.numberedAt} * 4, 0);
        setBe32(image, kFspSpaceFlagsOffset, c.flags);
        for (std::uint32_t n = 1; n < 4; ++n) setBe32(image, std::size_t{n} * c.numberedAt + 4, n);
        if (c.cryptAt != 0) {
            std::copy(std::begin(kCryptMagic), std::end(kCryptMagic),
                      image.begin() + static_cast<std::ptrdiff_t>(c.cryptAt));
            image[c.cryptAt + 6] = 1;                   // encrypted scheme
            image[c.cryptAt + 7] = 16;                  // IV length
            setBe32(image, c.cryptAt + 8 + 16, 1);      // minimum key version
            setBe32(image, c.cryptAt + 8 + 16 + 4, 7);  // key id
            image[c.cryptAt + 8 + 16 + 8] = 1;          // mode: on
        }
        const fs::path path = scratch("flags.ibd");
        test::writeFileText(path, std::string(image.begin(), image.end()));
        core::ReadOnlyFile file;
        ASSERT_TRUE(file.open(path));
        const TablespaceFormat f = readTablespaceFormat(file);
        EXPECT_EQ(f.physicalPageSize, c.physical);
        EXPECT_EQ(f.pageSize, c.logical);
        EXPECT_EQ(f.zip, c.zip);
        EXPECT_EQ(f.compression, c.compression);
        EXPECT_EQ(f.encrypted, c.encrypted);
        EXPECT_EQ(f.unreadableReason().empty(), !c.encrypted);
        if (c.encrypted) {
            EXPECT_NE(f.unreadableReason().find("key id 7"), std::string::npos)
                << f.unreadableReason();
        }
    }
}

TEST(TablespaceFormat, MysqlCompressedPagesVerifyAndInflate) {
    const fs::path peer = fs::path(DUNMORE_PEER_FIXTURES) / "mysql8" / "go-innodb" / "testdata" /
                          "test_compressed.ibd";
    core::ReadOnlyFile file;
    ASSERT_TRUE(file.open(peer));
    const TablespaceFormat format = readTablespaceFormat(file);
    ASSERT_TRUE(format.zip);
    EXPECT_EQ(format.physicalPageSize, 8192u);
    EXPECT_EQ(format.pageSize, 16384u);
    ASSERT_EQ(pageCount(file.size(), format), 7u);
    std::vector<std::uint8_t> page(format.pageSize);
    const PageView view(page.data(), page.size());
    for (std::uint32_t n = 0; n < 6; ++n) {
        SCOPED_TRACE(n);
        const auto read = readTablespacePage(file, format, n, PageBuffer(page));
        ASSERT_TRUE(read);
        EXPECT_TRUE(read->valid()) << read->problem;
        EXPECT_EQ(read->algorithm, PageChecksum::Crc32c);
    }
    // Page 4, the root leaf: two records in key order after the inflation.
    ASSERT_TRUE(readTablespacePage(file, format, 4, PageBuffer(page)));
    ASSERT_EQ(pageRecordFormat(view), RecordFormat::Compact);
    EXPECT_EQ(decodeIndexHeader(view).recordCount, 2u);
    EXPECT_EQ(core::readBeAt(view, firstCompactRecord(view), 4),
              0x80000004u);  // ID 4, sign bit flipped

    // A changed byte fails the compressed-page checksum; page 6 was never written.
    std::string image = test::readFileText(peer);
    image[4 * 8192 + 500] ^= 0x01;
    const fs::path damaged = scratch("damaged_compressed.ibd");
    test::writeFileText(damaged, image);
    core::ReadOnlyFile copy;
    ASSERT_TRUE(copy.open(damaged));
    const auto read = readTablespacePage(copy, format, 4, PageBuffer(page));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->state, PageState::Damaged);
    EXPECT_EQ(read->problem, "checksum mismatch");
    EXPECT_EQ(readTablespacePage(copy, format, 6, PageBuffer(page))->state, PageState::AllZero);
}

}  // namespace
}  // namespace dunmore::innodb
