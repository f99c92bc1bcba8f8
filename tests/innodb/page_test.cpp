// Page addressing, headers and the infimum/supremum rules over hand-built images and a
// sparse file larger than 4 GiB.
#include "innodb/page.h"

#include "innodb/innodb_reader.h"
#include "support/page_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace dunmore::innodb {
namespace {

using test::PageBuilder;
using test::PageBytes;
namespace fs = std::filesystem;

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::path(DUNMORE_BINARY_DIR) / "innodb_page_test";
    fs::create_directories(dir);
    return dir / name;
}

void writeAt(const fs::path& path, std::uint64_t offset, const PageBytes& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(InnodbPage, PageCountDropsPartialLastPage) {
    struct Case { const char* name; std::uint64_t length; std::uint64_t pages; std::uint32_t size = 16384; };
    const Case kCases[] = {
        {"empty", 0, 0},
        {"less than a page", 16383, 0},
        {"one page", 16384, 1},
        {"k pages and a remainder", 16384 * 5 + 100, 5},
        {"beyond 4 GiB", (std::uint64_t{1} << 32) + 16384 * 2 + 1, 262146},
        {"4 KiB pages", 4096 * 7 + 4095, 7, 4096},
        {"64 KiB pages beyond 4 GiB", (std::uint64_t{1} << 32) + 65536 + 1, 65537, 65536},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pageCount(c.length, c.size), c.pages);
    }
    EXPECT_EQ(pageOffset(262144, kDefaultPageSize), std::uint64_t{1} << 32);
    EXPECT_EQ(pageOffset(0xFFFFFFFE, kDefaultPageSize), std::uint64_t{0xFFFFFFFE} << 14);
    EXPECT_EQ(pageOffset(0xFFFFFFFE, kMaxPageSize), std::uint64_t{0xFFFFFFFE} << 16);
}

// The page size of a tablespace: what the space flags of page 0 name in each layout,
// checked against the page numbers of pages 1 to 3, which also tell it when the flags
// cannot.
TEST(InnodbPage, PageSizeFromTheSpaceFlagsOfPageZero) {
    struct Case {
        const char* name;
        std::uint32_t flags;
        std::uint32_t size;    // the size the file's pages really have
        std::uint32_t pages;
        bool numbered;         // pages 1.. carry their own numbers
        std::uint32_t want;
    };
    const Case kCases[] = {
        {"16 KiB: page size field 0", 0x21, 16384, 4, true, 16384},
        {"MySQL 8 16 KiB with the SDI flag", 0x4021, 16384, 4, true, 16384},
        {"4 KiB: field 3", 0x21 | 3u << 6, 4096, 8, true, 4096},
        {"8 KiB: field 4", 0x21 | 4u << 6, 8192, 4, true, 8192},
        {"32 KiB: field 6", 0x21 | 6u << 6, 32768, 4, true, 32768},
        {"64 KiB: field 7", 0x21 | 7u << 6, 65536, 4, true, 65536},
        {"full_crc32 16 KiB: marker and 5", 0x10 | 5, 16384, 4, true, 16384},
        {"full_crc32 4 KiB: marker and 3", 0x10 | 3, 4096, 4, true, 4096},
        {"full_crc32 64 KiB, page-compressed", 0x10 | 7 | 1u << 5, 65536, 4, true, 65536},
        {"damaged flags: the page numbers tell 4 KiB", 0xFFFFFFFF, 4096, 8, true, 4096},
        {"MariaDB 10.1.0-10.1.20 layout (size in bits 13..15): the numbers tell 8 KiB",
         4u << 13 | 1u << 6 | 6u << 7, 8192, 6, true, 8192},
        {"flags that the page numbers contradict", 3u << 6, 16384, 4, true, 16384},
        {"only page 0: the flags are taken", 7u << 6, 65536, 1, false, 65536},
        {"nothing tells: 16 KiB", 0xFFFFFFFF, 8192, 4, false, 16384},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> image(std::size_t{c.size} * c.pages, 0);
        for (int i = 0; i < 4; ++i)
            image[kFspSpaceFlagsOffset + i] = static_cast<std::uint8_t>(c.flags >> (24 - 8 * i));
        for (std::uint32_t n = 1; c.numbered && n < c.pages; ++n)
            image[std::size_t{n} * c.size + 7] = static_cast<std::uint8_t>(n);
        const fs::path path = scratch("flags.ibd");
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        }
        core::ReadOnlyFile file;
        ASSERT_TRUE(file.open(path));
        EXPECT_EQ(tablespacePageSize(file), c.want);
    }
    EXPECT_EQ(pageSizeOfSpaceFlags(0x21 | 5u << 6), 0u) << "16 KiB is field 0, never 5";
    EXPECT_EQ(pageSizeOfSpaceFlags(0x10 | 2), 0u) << "no 2 KiB pages";
}

// A page above 4 GiB is read from its true position, not from the 32-bit wrapped one.
TEST(InnodbPage, ReadsPagesPastFourGibByTheirTrueOffset) {
    const fs::path path = scratch("sparse.ibd");
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    const std::uint32_t high = 262145;  // 4 GiB + 16 KiB
    fs::resize_file(path, pageOffset(high + 1, kDefaultPageSize) + 100);  // sparse, with a partial last page

    PageBuilder low(PageBuilder::Format::Compact, 1);
    PageBuilder far(PageBuilder::Format::Redundant, high);
    far.next(7).level(2).indexId(0x1122334455667788);
    writeAt(path, pageOffset(1, kDefaultPageSize), low.bytes());
    writeAt(path, pageOffset(high, kDefaultPageSize), far.bytes());

    core::ReadOnlyFile file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(pageCount(file.size(), kDefaultPageSize), high + 1);

    const auto fil = readFilHeader(file, high, kDefaultPageSize);
    ASSERT_TRUE(fil);
    EXPECT_EQ(fil->pageNumber, high);
    EXPECT_EQ(fil->nextPage, 7u);
    EXPECT_EQ(fil->pageType, kIndexPageType);
    const auto index = readIndexHeader(file, high, kDefaultPageSize);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->level, 2);
    EXPECT_EQ(index->indexId, 0x1122334455667788u);

    auto ctx = std::make_unique<innodb::InnodbReader>();
    const auto page = readIndexPage(*ctx, file, high);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->fil.pageNumber, high);
    EXPECT_EQ(ctx->lastFilHeader.pageNumber, high);
    EXPECT_TRUE(isRedundantIndexPage(ctx->pageBuffer));
    // Page 262145 - 262144 = 1 is where a 32-bit offset would have landed.
    ASSERT_TRUE(readIndexPage(*ctx, file, 1));
    EXPECT_EQ(ctx->lastFilHeader.pageNumber, 1u);
    EXPECT_TRUE(isCompactIndexPage(ctx->pageBuffer));

    // The partial page after the last whole one and pages past the end read as zeros:
    // page type 0, not an index page.
    for (std::uint32_t n : {high + 1, high + 50, 0xFFFFFFFEu}) {
        SCOPED_TRACE(n);
        std::fill(ctx->pageBuffer.begin(), ctx->pageBuffer.end(), std::uint8_t{0xAA});
        const auto p = readIndexPage(*ctx, file, n);
        ASSERT_TRUE(p);
        EXPECT_NE(p->fil.pageType, kIndexPageType);
        if (n != high + 1) {
            EXPECT_EQ(ctx->pageBuffer[100], 0);
        }
    }
    file.close();
    fs::remove(path);
}

TEST(InnodbPage, ClosedFileIsAnIoError) {
    core::ReadOnlyFile file;
    EXPECT_FALSE(readFilHeader(file, 0, kDefaultPageSize));
    auto ctx = std::make_unique<innodb::InnodbReader>();
    EXPECT_EQ(readPage(*ctx, file, 0).code(), core::StatusCode::IoError);
}

TEST(InnodbPage, InfimumTestsTellTheFormatsApart) {
    PageBuilder compact(PageBuilder::Format::Compact);
    PageBuilder redundant(PageBuilder::Format::Redundant);
    EXPECT_TRUE(isCompactIndexPage(compact.bytes()));
    EXPECT_FALSE(isRedundantIndexPage(compact.bytes()));
    EXPECT_TRUE(isRedundantIndexPage(redundant.bytes()));
    EXPECT_FALSE(isCompactIndexPage(redundant.bytes()));
    EXPECT_EQ(pageRecordFormat(compact.bytes()), RecordFormat::Compact);
    EXPECT_EQ(pageRecordFormat(redundant.bytes()), RecordFormat::Redundant);

    struct Case { const char* name; std::size_t pos; std::uint8_t value; };
    const Case kCases[] = {
        {"capital I", 99, 'I'},
        {"no terminator", 106, 'x'},
        {"longer text", 106, 'm'},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        PageBuilder p(PageBuilder::Format::Compact);
        p.bytes()[c.pos] = c.value;
        EXPECT_FALSE(isCompactIndexPage(p.bytes()));
        EXPECT_EQ(pageRecordFormat(p.bytes()), RecordFormat::Unknown);
    }
    // An instant-ALTER root (type 18) whose system-record texts MariaDB zeroed.
    PageBuilder instant(PageBuilder::Format::Compact);
    instant.pageType(kInstantIndexPageType);
    EXPECT_EQ(pageRecordFormat(instant.bytes()), RecordFormat::Compact);
    for (std::size_t i = 99; i < 107; ++i) instant.bytes()[i] = 0;
    EXPECT_TRUE(isCompactIndexPage(instant.bytes()));
    instant.bytes()[96] = 0;  // infimum status lost: not a page we know
    EXPECT_FALSE(isCompactIndexPage(instant.bytes()));
    instant.bytes()[96] = 2;
    instant.pageType(kIndexPageType);  // zeroed texts only on an instant root
    EXPECT_FALSE(isCompactIndexPage(instant.bytes()));

    PageBuilder notIndex(PageBuilder::Format::Compact);
    notIndex.pageType(2);
    EXPECT_EQ(pageRecordFormat(notIndex.bytes()), RecordFormat::Unknown);
    // Images shorter than the headers are neither.
    PageBytes shortImage(compact.bytes().begin(), compact.bytes().begin() + 104);
    EXPECT_FALSE(isCompactIndexPage(shortImage));
    EXPECT_EQ(decodeFilHeader(PageBytes(10, 0xFF)).pageType, 0);
}

TEST(InnodbPage, FirstRecordAndSupremumRules) {
    PageBuilder p(PageBuilder::Format::Compact);
    EXPECT_EQ(firstCompactRecord(p.bytes()), 112);  // empty page
    EXPECT_TRUE(isCompactSupremum(p.bytes(), 112));
    test::setU16be(p.bytes(), 97, 0xFFFF);  // 99 + 0xFFFF wraps in 16 bits to 98
    EXPECT_EQ(firstCompactRecord(p.bytes()), 98);
    EXPECT_TRUE(isCompactSupremum(p.bytes(), 98));

    // A user record whose key begins with the text "supremum" is not the supremum.
    PageBuilder user(PageBuilder::Format::Compact);
    user.compactRecord(300, test::textBytes("supremum"), {8});
    EXPECT_FALSE(isCompactSupremum(user.bytes(), 300));
    user.bytes()[297] = 0x03;
    EXPECT_TRUE(isCompactSupremum(user.bytes(), 300));

    PageBuilder r(PageBuilder::Format::Redundant);
    EXPECT_EQ(firstRedundantRecord(r.bytes()), 116);
    EXPECT_TRUE(isRedundantSupremum(r.bytes(), 116));
    test::putText(r.bytes(), 400, std::string("supremum") + '\0');
    test::setU16be(r.bytes(), 395, 5 << 3);  // heap number 5
    EXPECT_FALSE(isRedundantSupremum(r.bytes(), 400));
    test::setU16be(r.bytes(), 395, 1 << 3);
    EXPECT_TRUE(isRedundantSupremum(r.bytes(), 400));
    EXPECT_FALSE(isRedundantSupremum(r.bytes(), 16380));  // text cut by the page end
}

}  // namespace
}  // namespace dunmore::innodb
