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
    struct Case { const char* name; std::uint64_t length; std::uint64_t pages; };
    const Case kCases[] = {
        {"empty", 0, 0},
        {"less than a page", 16383, 0},
        {"one page", 16384, 1},
        {"k pages and a remainder", 16384 * 5 + 100, 5},
        {"beyond 4 GiB", (std::uint64_t{1} << 32) + 16384 * 2 + 1, 262146},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pageCount(c.length), c.pages);
    }
    EXPECT_EQ(pageOffset(262144), std::uint64_t{1} << 32);
    EXPECT_EQ(pageOffset(0xFFFFFFFE), std::uint64_t{0xFFFFFFFE} << 14);
}

// A page above 4 GiB is read from its true position, not from the 32-bit wrapped one.
TEST(InnodbPage, ReadsPagesPastFourGibByTheirTrueOffset) {
    const fs::path path = scratch("sparse.ibd");
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    const std::uint32_t high = 262145;  // 4 GiB + 16 KiB
    fs::resize_file(path, pageOffset(high + 1) + 100);  // sparse, with a partial last page

    PageBuilder low(PageBuilder::Format::Compact, 1);
    PageBuilder far(PageBuilder::Format::Redundant, high);
    far.next(7).level(2).indexId(0x1122334455667788);
    writeAt(path, pageOffset(1), low.bytes());
    writeAt(path, pageOffset(high), far.bytes());

    core::ReadOnlyFile file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(pageCount(file.size()), high + 1);

    const auto fil = readFilHeader(file, high);
    ASSERT_TRUE(fil);
    EXPECT_EQ(fil->pageNumber, high);
    EXPECT_EQ(fil->nextPage, 7u);
    EXPECT_EQ(fil->pageType, kIndexPageType);
    const auto index = readIndexHeader(file, high);
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
    EXPECT_FALSE(readFilHeader(file, 0));
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
