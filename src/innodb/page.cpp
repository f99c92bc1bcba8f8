// InnoDB pages. A tablespace is cut into pages of one size (4, 8, 16, 32 or 64 KiB, named
// by the space flags of page 0 at byte 54); page n starts at byte n * size (64-bit).
// Every page begins with the 38-byte FIL header (checksum, page number, prev,
// next, LSN, page type, flush LSN, space id; all big-endian). An index page (type 17855)
// continues with the 56-byte index header (directory slots, heap top, record counts,
// level at 64, index id at 66) and then the infimum and supremum system records: compact
// pages keep the infimum origin at 99 and the supremum at 112, redundant pages at 101 and
// 116. See docs/formats/innodb.md.

#include "innodb/page.h"

#include "innodb/innodb_reader.h"
#include "innodb/tablespace_format.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace dunmore::innodb {
namespace {

constexpr std::string_view kInfimum = "infimum";
constexpr std::size_t kFilPageNumberOffset = 4;
// Space flags: the full_crc32 marker and its page size field (MariaDB 10.5+); the page
// size field of the other layouts.
constexpr std::uint32_t kFcrc32Marker = 1u << 4;
constexpr std::uint32_t kFcrc32PageSsizeMask = 0xF;
constexpr std::uint32_t kPageSsizeShift = 6;
constexpr std::uint32_t kPageSsizeMask = 0xF;
constexpr std::uint32_t kPagesChecked = 3;
constexpr std::string_view kSupremum = "supremum";

// The zero-terminated text at pos equals text exactly (the terminator must be inside the
// page).
bool textAt(PageView page, std::size_t pos, std::string_view text) {
    if (pos > page.size() || page.size() - pos < text.size() + 1) return false;
    core::ByteReader r(page);
    r.seek(pos);
    const auto bytes = r.bytes(text.size());
    const auto terminator = r.u8();
    return r.ok() && terminator == 0 && core::asText(bytes) == text;
}

}  // namespace

FilHeader decodeFilHeader(PageView page) {
    core::ByteReader r(page);
    FilHeader h;
    h.checksum = r.u32be();
    h.pageNumber = r.u32be();
    h.prevPage = r.u32be();
    h.nextPage = r.u32be();
    h.lsn = r.u64be();
    h.pageType = r.u16be();
    h.flushLsn = r.u64be();
    h.spaceId = r.u32be();
    if (!r.ok()) return FilHeader{.nextPage = 0, .pageType = 0};
    return h;
}

IndexPageHeader decodeIndexHeader(PageView page) {
    core::ByteReader r(page);
    r.seek(kPageHeaderOffset);
    IndexPageHeader h;
    h.dirSlots = r.u16be();
    h.heapTop = r.u16be();
    h.heapRecords = r.u16be();
    h.freeList = r.u16be();
    h.garbage = r.u16be();
    h.lastInsert = r.u16be();
    h.direction = r.u16be();
    h.directionCount = r.u16be();
    h.recordCount = r.u16be();
    h.maxTrxId = r.u64be();
    h.level = r.u16be();
    h.indexId = r.u64be();
    if (!r.ok()) return {};
    return h;
}

core::Result<FilHeader> readFilHeader(core::ReadOnlyFile& file, std::uint32_t page,
                                      std::uint32_t pageSize) {
    if (!file.isOpen()) return core::Status::ioError("tablespace file is not open");
    std::array<std::uint8_t, kFilHeaderSize> bytes{};
    (void)file.readAt(pageOffset(page, pageSize), bytes);
    return decodeFilHeader(bytes);
}

core::Result<IndexPageHeader> readIndexHeader(core::ReadOnlyFile& file, std::uint32_t page,
                                              std::uint32_t pageSize) {
    if (!file.isOpen()) return core::Status::ioError("tablespace file is not open");
    std::array<std::uint8_t, kPageHeaderOffset + kIndexHeaderSize> bytes{};
    (void)file.readAt(pageOffset(page, pageSize), bytes);
    return decodeIndexHeader(bytes);
}

core::Status readPage(core::ReadOnlyFile& file, std::uint32_t page, PageBuffer out) {
    if (!file.isOpen()) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return core::Status::ioError("tablespace file is not open");
    }
    // Bytes past the end of the file stay zero: such a page reads as page type 0.
    (void)file.readAt(pageOffset(page, static_cast<std::uint32_t>(out.size())), out);
    return core::Status::ok();
}

core::Status readPage(InnodbReader& ctx, core::ReadOnlyFile& file, std::uint32_t page) {
    const auto read = readTablespacePage(file, ctx.formatOf(file), page, ctx.pageSpan());
    return read ? core::Status::ok() : read.status();
}

std::uint32_t pageSizeOfSpaceFlags(std::uint32_t flags) {
    if (flags & kFcrc32Marker) {
        const std::uint32_t n = flags & kFcrc32PageSsizeMask;
        return n >= 3 && n <= 7 ? 512u << n : 0;
    }
    const std::uint32_t n = (flags >> kPageSsizeShift) & kPageSsizeMask;
    if (n == 0) return kDefaultPageSize;
    return n >= 3 && n <= 7 && n != 5 ? 512u << n : 0;
}

bool pagesCarryTheirNumbers(core::ReadOnlyFile& file, std::uint32_t size) {
    // Pages 1 (the change-buffer bitmap), 2 (the first inode page) and 3 carry their own
    // page numbers in every tablespace a server wrote.
    std::uint32_t checked = 0;
    for (std::uint32_t n = 1; n <= kPagesChecked; ++n) {
        if (pageOffset(n + 1, size) > file.size()) break;
        std::array<std::uint8_t, 4> number{};
        if (file.readAt(pageOffset(n, size) + kFilPageNumberOffset, number) != number.size() ||
            core::readBeAt(number, 0, 4) != n)
            return false;
        ++checked;
    }
    return checked > 0;
}

std::uint32_t tablespacePageSize(core::ReadOnlyFile& file) {
    std::array<std::uint8_t, 4> flagBytes{};
    const bool haveFlags = file.readAt(kFspSpaceFlagsOffset, flagBytes) == flagBytes.size();
    const std::uint32_t named =
        haveFlags
            ? pageSizeOfSpaceFlags(static_cast<std::uint32_t>(core::readBeAt(flagBytes, 0, 4)))
            : 0;
    const bool onlyPageZero = named != 0 && file.size() < 2ull * named;
    if (named != 0 && (onlyPageZero || pagesCarryTheirNumbers(file, named))) return named;
    for (const std::uint32_t size : {16384u, 4096u, 8192u, 32768u, 65536u})
        if (size != named && pagesCarryTheirNumbers(file, size)) return size;
    return named != 0 ? named : kDefaultPageSize;
}

core::Result<InnodbPage> readIndexPage(core::ReadOnlyFile& file, std::uint32_t page,
                                       PageBuffer out) {
    if (auto s = readPage(file, page, out); !s) return s;
    InnodbPage p;
    p.fil = decodeFilHeader(out);
    if (isIndexPageType(p.fil.pageType)) p.index = decodeIndexHeader(out);
    return p;
}

core::Result<InnodbPage> readIndexPage(InnodbReader& ctx, core::ReadOnlyFile& file,
                                       std::uint32_t page) {
    if (auto st = readPage(ctx, file, page); !st) return st;
    const PageView view(ctx.pageBuffer.data(), ctx.pageSize());
    InnodbPage p;
    p.fil = decodeFilHeader(view);
    if (isIndexPageType(p.fil.pageType)) p.index = decodeIndexHeader(view);
    ctx.lastFilHeader = p.fil;
    return p;
}

bool isCompactIndexPage(PageView page) {
    if (textAt(page, kCompactInfimum, kInfimum)) return true;
    if (decodeFilHeader(page).pageType != kInstantIndexPageType) return false;
    for (std::size_t i = 0; i < kInfimum.size() + 1; ++i)
        if (core::readBeAt(page, kCompactInfimum + i, 1) != 0) return false;
    return (core::readBeAt(page, kCompactInfimum - 3, 1) & 0x07) == 2 &&
           (core::readBeAt(page, kCompactSupremum - 3, 1) & 0x07) == 3;
}

bool isRedundantIndexPage(PageView page) {
    if (textAt(page, kRedundantInfimum, kInfimum)) return true;
    // The zeroed system records of an instant-ALTER root: the page header's record
    // count without the compact flag, the infimum heap record 0, the supremum 1.
    if (decodeFilHeader(page).pageType != kInstantIndexPageType) return false;
    if (core::readBeAt(page, kPageHeaderOffset + 4, 2) & 0x8000) return false;
    for (std::size_t i = 0; i < kInfimum.size() + 1; ++i)
        if (core::readBeAt(page, kRedundantInfimum + i, 1) != 0) return false;
    return (core::readBeAt(page, kRedundantInfimum - 5, 3) >> 11) == 0 &&
           (core::readBeAt(page, kRedundantSupremum - 5, 3) >> 11) == 1;
}

std::uint16_t firstCompactRecord(PageView page) {
    const auto e = static_cast<std::uint16_t>(core::readBeAt(page, kCompactInfimum - 2, 2));
    return static_cast<std::uint16_t>(kCompactInfimum + e);
}

std::uint16_t firstRedundantRecord(PageView page) {
    return static_cast<std::uint16_t>(core::readBeAt(page, kRedundantInfimum - 2, 2));
}

bool isCompactSupremum(PageView page, std::size_t origin) {
    if (origin <= kCompactSupremum) return true;
    if (origin > page.size() || page.size() - origin < kSupremum.size()) return false;
    if (core::asText(page.subspan(origin, kSupremum.size())) != kSupremum) return false;
    // A user record whose first field begins with the text "supremum" is not the
    // supremum: the system record also carries status 3 in its header.
    return (core::readBeAt(page, origin - 3, 1) & 0x07) == 3;
}

bool isRedundantSupremum(PageView page, std::size_t origin) {
    if (origin == kRedundantSupremum) return true;
    if (!textAt(page, origin, kSupremum) || origin < 4) return false;
    // The supremum is heap record 1; a user record holding the text has a higher number.
    return (core::readBeAt(page, origin - 5, 2) >> 3) == 1;
}

RecordFormat pageRecordFormat(PageView page) {
    if (!isIndexPageType(decodeFilHeader(page).pageType)) return RecordFormat::Unknown;
    if (isCompactIndexPage(page)) return RecordFormat::Compact;
    if (isRedundantIndexPage(page)) return RecordFormat::Redundant;
    return RecordFormat::Unknown;
}

}  // namespace dunmore::innodb
