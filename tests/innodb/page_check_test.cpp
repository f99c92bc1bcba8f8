// Page verification against pages real servers wrote: MySQL 5.0 to 8.0 files (innodb and
// crc32 checksums) and MariaDB 10.11 files (full_crc32) all verify; every kind of damage
// to a page of each algorithm is found.
#include "innodb/page_check.h"

#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;
constexpr std::size_t kPage = 16384;

// ROW_FORMAT=COMPRESSED pages carry the compressed-page checksum, encrypted ones
// theirs: not the layouts checkPage reads.
bool uncompressedPlain(const fs::path& p) {
    const std::string name = p.filename().string();
    return name.find("compressed") == std::string::npos && name.find("encrypted") == std::string::npos;
}

TEST(PageCheck, EveryPageOfRealFilesVerifies) {
    std::vector<fs::path> files;
    for (const fs::path root : {fs::path(DUNMORE_PEER_FIXTURES), fs::path(DUNMORE_BINARY_DIR) / "sample/datadir"})
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file() && (e.path().extension() == ".ibd" || e.path().filename() == "ibdata1") &&
                uncompressedPlain(e.path()))
                files.push_back(e.path());
    ASSERT_GT(files.size(), 100u);
    std::map<std::string, std::size_t> algorithms;
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        const std::string image = test::readFileText(f);
        for (std::size_t p = 0; p + kPage <= image.size(); p += kPage) {
            const core::ByteSpan page(reinterpret_cast<const std::uint8_t*>(image.data() + p), kPage);
            const auto number = static_cast<std::uint32_t>(p / kPage);
            auto check = innodb::checkPage(page, number);
            // ibdata1's doublewrite buffer holds copies of other pages.
            if (!check.valid() && f.filename() == "ibdata1" && number >= 64 && number < 192)
                check = innodb::checkPage(page, static_cast<std::uint32_t>(core::readBeAt(page, 4, 4)));
            if (check.state == innodb::PageState::AllZero) continue;
            ASSERT_TRUE(check.valid()) << "page " << number << ": " << check.problem;
            ++algorithms[std::string(innodb::checksumName(check.algorithm))];
        }
    }
    EXPECT_GT(algorithms["innodb"], 0u);
    EXPECT_GT(algorithms["crc32"], 0u);
    EXPECT_GT(algorithms["full_crc32"], 0u);
}

TEST(PageCheck, DamageToAPageOfEachAlgorithmIsFound) {
    const std::string image =
        test::readFileText(fs::path(DUNMORE_BINARY_DIR) / "sample/datadir/library/visits.ibd");
    ASSERT_GE(image.size(), 8 * kPage);
    const std::uint32_t number = 7;
    for (const auto algorithm : {innodb::PageChecksum::Crc32c, innodb::PageChecksum::Innodb,
                                 innodb::PageChecksum::None, innodb::PageChecksum::FullCrc32}) {
        SCOPED_TRACE(std::string(innodb::checksumName(algorithm)));
        std::vector<std::uint8_t> page(image.begin() + number * kPage, image.begin() + (number + 1) * kPage);
        innodb::writePageChecksum(page, algorithm);
        const auto good = innodb::checkPage(page, number);
        ASSERT_TRUE(good.valid()) << good.problem;
        EXPECT_EQ(good.algorithm, algorithm);

        struct Case {
            const char* name;
            std::size_t at;
            std::uint8_t mask;
            std::uint32_t expected;
            bool foundWithoutChecksum;  // by the page number or the LSN trailer alone
        };
        const Case kCases[] = {
            {"bit flip in a record", 5000, 0x10, number, false},
            {"bit flip in the page number", 7, 0x01, number, true},
            {"bit flip in the LSN", 23, 0x80, number, true},
            {"bit flip in the trailer", kPage - 1, 0x04, number, true},
            {"read from another position", 0, 0, number + 1, true},
        };
        for (const auto& c : kCases) {
            SCOPED_TRACE(c.name);
            auto damaged = page;
            damaged[c.at] ^= c.mask;
            const auto check = innodb::checkPage(damaged, c.expected);
            // innodb_checksum_algorithm=none leaves a changed record undetectable.
            if (algorithm == innodb::PageChecksum::None && !c.foundWithoutChecksum) continue;
            EXPECT_EQ(check.state, innodb::PageState::Damaged);
            EXPECT_FALSE(check.problem.empty());
        }
        if (algorithm == innodb::PageChecksum::None) continue;
        // The checksum fields themselves.
        auto field = page;
        field[algorithm == innodb::PageChecksum::FullCrc32 ? kPage - 2 : 1] ^= 0x20;
        EXPECT_FALSE(innodb::checkPage(field, number).valid());
    }
    const std::vector<std::uint8_t> zero(kPage, 0), ones(kPage, 0xFF);
    EXPECT_EQ(innodb::checkPage(zero, 3).state, innodb::PageState::AllZero);
    EXPECT_EQ(innodb::checkPage(ones, 3).state, innodb::PageState::Damaged);
    EXPECT_EQ(innodb::checkPage(core::ByteSpan(zero.data(), 40), 0).state, innodb::PageState::Damaged);
}

TEST(PageCheck, Crc32cOfTheStandardCheckValue) {
    // CRC-32C("123456789") = 0xE3069283 (RFC 3720).
    EXPECT_EQ(innodb::crc32c(core::asBytes("123456789")), 0xE3069283u);
    EXPECT_EQ(innodb::crc32c(core::asBytes("")), 0u);
}

TEST(PageCheck, Crc32cOfLongInputsIsTheBitwiseDefinition) {
    // Lengths around the split of long inputs, a page less its checksum, odd tails.
    for (const std::size_t n : {1023u, 1024u, 1031u, 4092u, 16380u, 65531u}) {
        SCOPED_TRACE(n);
        std::vector<std::uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
        std::uint32_t expected = 0xFFFFFFFFu;
        for (const std::uint8_t b : bytes) {
            expected ^= b;
            for (int k = 0; k < 8; ++k) expected = (expected & 1) ? (expected >> 1) ^ 0x82F63B78u : expected >> 1;
        }
        EXPECT_EQ(innodb::crc32c(bytes), ~expected);
        EXPECT_EQ(innodb::crc32c(core::ByteSpan(bytes).subspan(5), innodb::crc32c(core::ByteSpan(bytes).first(5))),
                  ~expected);
    }
}

}  // namespace
