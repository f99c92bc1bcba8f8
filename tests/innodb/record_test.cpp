// Record parsers of both formats and the compact chain rules over hand-built pages.
#include "innodb/record.h"

#include "innodb/page.h"
#include "support/page_builder.h"

#include <gtest/gtest.h>

namespace dunmore::innodb {
namespace {

using test::be;
using test::PageBuilder;
using test::PageBytes;
using test::textBytes;

TEST(InnodbRecord, NextRecordOffsetRules) {
    struct Case {
        const char* name;
        std::uint32_t origin;
        std::uint16_t e;
        bool backwardSeen;
        std::uint32_t successor;
        std::uint32_t area;
        bool ends;
        std::uint32_t pageSize = kDefaultPageSize;
    };
    const Case kCases[] = {
        {"forward link", 200, 50, false, 250, 50, false},
        {"link of -128", 300, 65408, false, 172, 16084, false},
        {"exactly 16384 ends the chain", 100, 16384, false, 16484, 16384, true},
        {"wrapping link", 16000, 0x8000 + 1000, false, 616, 384, false},
        {"after a backward link the area runs to the page end", 400, 20, true, 420, 15984, false},
        {"link to the supremum", 8000, static_cast<std::uint16_t>(112 - 8000), false, 112, 8384, false},
        {"4 KiB: link of -128", 300, 65408, false, 172, 3796, false, 4096},
        {"4 KiB: exactly 4096 ends the chain", 100, 4096, false, 4196, 4096, true, 4096},
        {"4 KiB: link to the supremum", 3000, static_cast<std::uint16_t>(112 - 3000), false, 112, 1096, false, 4096},
        {"64 KiB: a forward link beyond 16 KiB", 20000, 40000, false, 60000, 40000, false, 65536},
        {"64 KiB: a backward link wraps modulo 65536", 60000, static_cast<std::uint16_t>(1000 - 60000), false, 1000, 5536, false, 65536},
        {"64 KiB: a link to the page end ends the chain", 60000, 5536, false, 65536, 5536, true, 65536},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const Successor s = nextRecordOffset(c.origin, c.e, c.backwardSeen, c.pageSize);
        EXPECT_EQ(s.offset, c.successor);
        EXPECT_EQ(s.fieldAreaLength, c.area);
        EXPECT_EQ(s.endsChain(), c.ends);
    }
}

TEST(InnodbRecord, CompactFieldLengthRules) {
    struct Case {
        const char* name;
        std::uint32_t mainType;
        std::uint32_t length;
        std::uint32_t fixed;
        PageBytes entry;  // bytes read downward from the cursor
        std::uint32_t want;
        bool external;
        std::int64_t consumed;
    };
    const Case kCases[] = {
        {"fixed length takes no entry", 6, 4, 4, {0xFF}, 4, false, 0},
        {"short column, one byte even at 0x80 and above", 12, 40, 0, {0x90, 0x01}, 0x90, false, 1},
        {"255-byte column is still one byte", 1, 255, 0, {0xFF}, 255, false, 1},
        {"long column, small value in one byte", 12, 400, 0, {0x7F}, 127, false, 1},
        {"long column, two bytes", 12, 400, 0, {0x81, 0x2C}, 300, false, 2},
        {"blob with small declared length, two bytes", 5, 10, 0, {0x80 | 0x3F, 0xFF}, 0x3FFF, false, 2},
        {"blob stored externally", 5, 10, 0, {0xC0, 0x14}, 20, true, 2},
        {"geometry uses the blob rule", 14, 12, 0, {0x80, 0x19}, 25, false, 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        PageBytes page(64, 0);
        const std::int64_t start = 40;
        for (std::size_t i = 0; i < c.entry.size(); ++i) page[start - i] = c.entry[i];
        core::InnodbColumn col;
        col.mainType = c.mainType;
        col.length = c.length;
        col.fixedLength = c.fixed;
        std::int64_t cursor = start;
        const auto got = compactFieldLength(col, page, cursor);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->length, c.want);
        EXPECT_EQ(got->external, c.external);
        EXPECT_EQ(start - cursor, c.consumed);
    }
    // Entries that would lie before the page start end the record.
    core::InnodbColumn blob;
    blob.mainType = 5;
    blob.length = 10;
    PageBytes page(16, 0x80);
    std::int64_t cursor = 0;
    EXPECT_FALSE(compactFieldLength(blob, page, cursor));
    EXPECT_EQ(cursor, 0);
    cursor = -1;
    EXPECT_FALSE(compactFieldLength(blob, page, cursor));
    cursor = 16;
    EXPECT_FALSE(compactFieldLength(blob, page, cursor));
}

TEST(InnodbRecord, RedundantFieldsOneAndTwoByteOffsets) {
    PageBuilder p(PageBuilder::Format::Redundant);
    const std::size_t a = p.redundantRecord(300, {be(7, 4), textBytes("ab"), {}}, true, 0, {false, false, true});
    const std::size_t b = p.redundantRecord(600, {textBytes("xyz"), be(0x0102, 2)}, false,
                                            kInfoDeleteMark, {true, false});
    p.chainRedundant({a, b});

    const auto ra = redundantFields(p.bytes(), 300);
    ASSERT_TRUE(ra);
    EXPECT_EQ(ra->fieldCount, 3u);
    EXPECT_EQ(ra->offsetWidth, 1u);
    EXPECT_EQ(ra->next, 600);
    EXPECT_FALSE(ra->deleted());
    ASSERT_EQ(ra->fields.size(), 3u);
    EXPECT_EQ(ra->fields[0].start, 300u);
    EXPECT_EQ(ra->fields[0].length, 4u);
    EXPECT_EQ(ra->fields[1].start, 304u);
    EXPECT_EQ(ra->fields[1].length, 2u);
    EXPECT_TRUE(ra->fields[2].isNull);
    EXPECT_EQ(ra->fields[2].length, 0u);

    // 2-byte entries: 0x8003 is end offset 3 with the NULL flag masked off.
    const auto rb = redundantFields(p.bytes(), 600);
    ASSERT_TRUE(rb);
    EXPECT_EQ(rb->offsetWidth, 2u);
    EXPECT_TRUE(rb->deleted());
    EXPECT_EQ(rb->next, 116);
    ASSERT_EQ(rb->fields.size(), 2u);
    EXPECT_TRUE(rb->fields[0].isNull);
    EXPECT_EQ(rb->fields[0].length, 3u);
    EXPECT_EQ(rb->fields[1].start, 603u);
    EXPECT_EQ(rb->fields[1].length, 2u);
    EXPECT_EQ(core::readBeAt(p.bytes(), rb->fields[1].start, 2), 0x0102u);

    // The externally-stored flag of a 2-byte entry.
    test::setU16be(p.bytes(), 600 - 6 - 4, 0x4000 | 5);
    const auto ext = redundantFields(p.bytes(), 600);
    ASSERT_TRUE(ext);
    EXPECT_TRUE(ext->fields[1].external);
    EXPECT_EQ(ext->fields[1].length, 2u);
}

TEST(InnodbRecord, RedundantFieldsStayInsideThePage) {
    struct Case { const char* name; std::uint32_t origin; std::uint32_t fields; bool ok; };
    const Case kCases[] = {
        {"header before the page start", 3, 1, false},
        {"origin past the page end", 16385, 1, false},
        {"offset array before the page start", 20, 10, false},
        {"fits", 20, 7, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        PageBytes page(16384, 0);
        if (c.origin <= page.size() && c.origin >= 6) {
            const std::uint32_t word = (c.fields << 1);  // 2-byte offsets
            page[c.origin - 5] = static_cast<std::uint8_t>(word >> 16);
            page[c.origin - 4] = static_cast<std::uint8_t>(word >> 8);
            page[c.origin - 3] = static_cast<std::uint8_t>(word);
        }
        EXPECT_EQ(redundantFields(page, c.origin).isOk(), c.ok);
    }
    // A field whose end offset reaches past the page end is cut there.
    PageBuilder p(PageBuilder::Format::Redundant);
    p.redundantRecord(16370, {be(1, 4)}, false);
    test::setU16be(p.bytes(), 16370 - 8, 0x3FFF);
    const auto r = redundantFields(p.bytes(), 16370);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->fields[0].start + r->fields[0].length, 16384u);
}

TEST(InnodbRecord, CompactHeaderFields) {
    PageBuilder p(PageBuilder::Format::Compact);
    p.compactRecord(200, be(1, 4), {}, kInfoDeleteMark, kStatusNodePointer);
    p.bytes()[195] |= 0x03;  // owned count
    test::setU16be(p.bytes(), 196, (9 << 3) | kStatusNodePointer);
    p.linkCompact(200, 112);
    const auto h = compactHeader(p.bytes(), 200);
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->deleted());
    EXPECT_EQ(h->ownedCount, 3);
    EXPECT_EQ(h->heapNumber, 9);
    EXPECT_EQ(h->status, kStatusNodePointer);
    EXPECT_EQ(h->successor, static_cast<std::uint16_t>(112 - 200));
    EXPECT_FALSE(compactHeader(p.bytes(), 4));
    EXPECT_FALSE(compactHeader(p.bytes(), 16385));
}

std::vector<std::uint32_t> origins(const std::vector<CompactChainEntry>& chain) {
    std::vector<std::uint32_t> out;
    for (const auto& e : chain) out.push_back(e.origin);
    return out;
}

TEST(InnodbRecord, CompactChainEndRules) {
    {
        SCOPED_TRACE("forward chain, delete-marked record taken like the others");
        PageBuilder p(PageBuilder::Format::Compact);
        p.compactRecord(200, be(1, 4), {});
        p.compactRecord(300, be(2, 4), {}, kInfoDeleteMark);
        p.chainCompact({200, 300});
        const auto chain = compactChain(p.bytes(), 0, true);
        EXPECT_EQ(origins(chain), (std::vector<std::uint32_t>{200, 300}));
        EXPECT_EQ(chain[0].fieldAreaLength, 100u);
    }
    {
        SCOPED_TRACE("backward link: later areas run to the page end in .ibd walks only");
        PageBuilder p(PageBuilder::Format::Compact);
        p.chainCompact({300, 172, 250});
        const auto ibd = compactChain(p.bytes(), 0, true);
        EXPECT_EQ(origins(ibd), (std::vector<std::uint32_t>{300, 172, 250}));
        EXPECT_EQ(ibd[0].fieldAreaLength, 16084u);
        EXPECT_EQ(ibd[1].fieldAreaLength, 16384u - 172);
        const auto shared = compactChain(p.bytes(), 0, false);
        EXPECT_EQ(shared[1].fieldAreaLength, 78u);
    }
    {
        SCOPED_TRACE("empty page and start limits");
        PageBuilder p(PageBuilder::Format::Compact);
        EXPECT_TRUE(compactChain(p.bytes(), 0, true).empty());
        p.chainCompact({400});
        EXPECT_TRUE(compactChain(p.bytes(), 16376, true).empty());
        EXPECT_EQ(origins(compactChain(p.bytes(), 400, true)), (std::vector<std::uint32_t>{400}));
    }
    {
        SCOPED_TRACE("successor of 16384 ends the chain after the record");
        PageBuilder p(PageBuilder::Format::Compact);
        p.chainCompact({200});
        test::setU16be(p.bytes(), 198, 16384 - 200 + 16384);
        const auto chain = compactChain(p.bytes(), 0, true);
        ASSERT_EQ(chain.size(), 1u);
        EXPECT_GE(chain[0].successor, 16384u);
    }
    {
        SCOPED_TRACE("a loop ends at the first record met again");
        PageBuilder p(PageBuilder::Format::Compact);
        p.chainCompact({200, 220});
        p.linkCompact(220, 200);
        EXPECT_EQ(origins(compactChain(p.bytes(), 0, true)), (std::vector<std::uint32_t>{200, 220}));
    }
    {
        SCOPED_TRACE("at most 1,501 records are taken from a page");
        PageBuilder p(PageBuilder::Format::Compact);
        std::vector<std::size_t> chain;
        for (std::size_t o = 200; chain.size() < 1600; o += 8) chain.push_back(o);
        p.chainCompact(chain);
        const auto taken = compactChain(p.bytes(), 0, true);
        ASSERT_EQ(taken.size(), kMaxRecordsPer16KiB);
        EXPECT_EQ(taken.back().origin, 200u + 8 * 1500);
    }
    {
        SCOPED_TRACE("a redundant page read by a compact walk yields nothing");
        PageBuilder p(PageBuilder::Format::Redundant);
        p.redundantRecord(300, {be(1, 4)}, true);
        p.chainRedundant({300});
        EXPECT_TRUE(compactChain(p.bytes(), 0, true).empty());
    }
    {
        SCOPED_TRACE("a key beginning with the text supremum is a record");
        PageBuilder p(PageBuilder::Format::Compact);
        p.compactRecord(200, textBytes("supremum!"), {9});
        p.chainCompact({200});
        EXPECT_EQ(compactChain(p.bytes(), 0, true).size(), 1u);
    }
}

}  // namespace
}  // namespace dunmore::innodb
