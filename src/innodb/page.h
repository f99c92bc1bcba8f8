#pragma once

#include "core/byte_reader.h"
#include "core/read_only_file.h"
#include "core/status.h"

#include <cstdint>
#include <span>

namespace dunmore::innodb {

class InnodbReader;

// On-disk facts of InnoDB pages (format notes: docs/formats/innodb.md). A tablespace's
// pages are all of one size, innodb_page_size of the server that made it: 4, 8, 16
// (the default), 32 or 64 KiB; page 0 names it in its space flags (tablespacePageSize).
inline constexpr std::uint32_t kDefaultPageSize = 16384;
inline constexpr std::uint32_t kMinPageSize = 4096;
inline constexpr std::uint32_t kMaxPageSize = 65536;
inline constexpr std::uint32_t kFilNull = 0xFFFFFFFF;
inline constexpr std::size_t kFilHeaderSize = 38;
inline constexpr std::size_t kFilTrailerSize = 8;
inline constexpr std::size_t kPageHeaderOffset = 38;
inline constexpr std::size_t kIndexHeaderSize = 56;
inline constexpr std::uint16_t kIndexPageType = 17855;  // FIL_PAGE_INDEX, 0x45BF
// MariaDB 10.3+: the root page of a clustered index that went through an instant ALTER
// (FIL_PAGE_TYPE_INSTANT). It is an index page like any other.
inline constexpr std::uint16_t kInstantIndexPageType = 18;
inline constexpr std::size_t kCompactInfimum = 99;
inline constexpr std::size_t kCompactSupremum = 112;
inline constexpr std::size_t kRedundantInfimum = 101;
inline constexpr std::size_t kRedundantSupremum = 116;
// At most this many records are taken from a 16 KiB page (more cannot fit); pages of
// other sizes take as many in proportion, never fewer.
inline constexpr std::uint32_t kMaxRecordsPer16KiB = 1501;

// Whether size is one of the page sizes a tablespace can have.
constexpr bool isPageSize(std::uint64_t size) {
    return size == 4096 || size == 8192 || size == 16384 || size == 32768 || size == 65536;
}
// A compact walk starting at or after this offset (the FIL trailer) finds nothing on a
// page of pageSize bytes.
constexpr std::size_t compactStartLimit(std::size_t pageSize) {
    return pageSize - kFilTrailerSize;
}
constexpr std::uint32_t maxRecordsPerPage(std::size_t pageSize) {
    return pageSize <= kDefaultPageSize
               ? kMaxRecordsPer16KiB
               : static_cast<std::uint32_t>(kMaxRecordsPer16KiB * (pageSize / kDefaultPageSize));
}

// Whether a FIL page type marks a B-tree page (17855, or 18 for an instant-ALTER root).
constexpr bool isIndexPageType(std::uint16_t pageType) {
    return pageType == kIndexPageType || pageType == kInstantIndexPageType;
}

// Bytes 0..37 of every InnoDB page (big-endian).
struct FilHeader {
    std::uint32_t checksum = 0;
    std::uint32_t pageNumber = 0;
    std::uint32_t prevPage = 0;
    std::uint32_t nextPage = kFilNull;
    std::uint64_t lsn = 0;
    std::uint16_t pageType = 0;
    std::uint64_t flushLsn = 0;
    std::uint32_t spaceId = 0;
};

// Bytes 38..93 of an index page (big-endian).
struct IndexPageHeader {
    std::uint16_t dirSlots = 0;
    std::uint16_t heapTop = 0;
    std::uint16_t heapRecords = 0;
    std::uint16_t freeList = 0;
    std::uint16_t garbage = 0;
    std::uint16_t lastInsert = 0;
    std::uint16_t direction = 0;
    std::uint16_t directionCount = 0;
    std::uint16_t recordCount = 0;
    std::uint64_t maxTrxId = 0;
    std::uint16_t level = 0;
    std::uint64_t indexId = 0;
};

struct InnodbPage {
    FilHeader fil;
    IndexPageHeader index;
};

// Pages of one extent (FSP_EXTENT_SIZE): 1 MiB of pages up to 16 KiB pages, 64 pages
// beyond. Every pageSize-th page (page 0 among them) describes the next pageSize pages
// by their extents.
constexpr std::uint32_t extentPages(std::uint32_t pageSize) {
    return pageSize <= kDefaultPageSize ? (1u << 20) / pageSize : 64;
}
// Bytes of one extent descriptor (XDES): list node, segment id and state (24 bytes),
// then 2 bits per page of the extent.
constexpr std::uint32_t extentDescriptorSize(std::uint32_t pageSize) {
    return 24 + extentPages(pageSize) / 4;
}

// One page: its size is the page size of the tablespace it was read from.
using PageBuffer = std::span<std::uint8_t>;
using PageView = core::ByteSpan;

// Whole pages of pageSize bytes in a file of the given length (a partial last page does
// not count).
constexpr std::uint64_t pageCount(std::uint64_t fileLength, std::uint32_t pageSize) {
    return fileLength / pageSize;
}
// Byte offset of page n, computed in 64 bits.
constexpr std::uint64_t pageOffset(std::uint32_t page, std::uint32_t pageSize) {
    return static_cast<std::uint64_t>(page) * pageSize;
}

// FSP_SPACE_FLAGS of page 0 (the FSP header at byte 38, the flags 16 bytes into it).
inline constexpr std::size_t kFspSpaceFlagsOffset = kFilHeaderSize + 16;

// The page size that space flags name, 0 when they name none:
//  - MariaDB 10.5+ with innodb_checksum_algorithm=full_crc32 (bit 4, the full_crc32
//    marker, set): bits 0..3 hold n, the page size is 512 << n (3..7: 4 KiB .. 64 KiB);
//  - MySQL 5.6+ and MariaDB (10.1.21 and later): bits 6..9 hold n, 0 meaning 16 KiB,
//    otherwise 512 << n (3, 4, 6, 7).
// ROW_FORMAT=COMPRESSED pages are smaller on disk than the size named here.
std::uint32_t pageSizeOfSpaceFlags(std::uint32_t flags);

// The page size of the tablespace in file: the one its page 0 flags name when the file
// agrees (the first pages after page 0 carry their own numbers at that size, or the file
// has no page beyond page 0), otherwise the first size at which the file's pages 1 to 3
// carry their own numbers (damaged flags, or the flag layout of MariaDB 10.1.0 to
// 10.1.20); 16 KiB when neither tells.
std::uint32_t tablespacePageSize(core::ReadOnlyFile& file);

// Whether the file's pages 1 to 3 (those the file has) carry their own numbers when
// pages are size bytes long; false when the file has no page beyond page 0.
bool pagesCarryTheirNumbers(core::ReadOnlyFile& file, std::uint32_t size);

// Decodes bytes 0..37 / 38..93 of a page image. A view shorter than the header gives the
// zero (non-index) header.
FilHeader decodeFilHeader(PageView page);
IndexPageHeader decodeIndexHeader(PageView page);

// Reads the FIL header of page n of file, whose pages are pageSize bytes. A page at or
// past the end of the file reads as zeros (page type 0, not an index page); an I/O
// failure is an IoError.
core::Result<FilHeader> readFilHeader(core::ReadOnlyFile& file, std::uint32_t page,
                                      std::uint32_t pageSize);
// Reads the index header of page n (meaningful only when its page type is 17855).
core::Result<IndexPageHeader> readIndexHeader(core::ReadOnlyFile& file, std::uint32_t page,
                                              std::uint32_t pageSize);

// Reads page n into out, whose size is the page size: zero-filled first, then the bytes
// of the file at n * out.size(). A page wholly or partly past the end of the file keeps
// zeros where the file has no bytes and is not an error. IoError when the file is not
// open.
core::Status readPage(core::ReadOnlyFile& file, std::uint32_t page, PageBuffer out);
// The same into ctx.pageBuffer (ctx.pageSize bytes); a page of the table's .ibd is read
// in its format (readTablespacePage: compressed pages inflated).
core::Status readPage(InnodbReader& ctx, core::ReadOnlyFile& file, std::uint32_t page);

// Reads page n into out and decodes its headers from that one read. The index header is
// left zero when the page is not an index page (isIndexPageType).
core::Result<InnodbPage> readIndexPage(core::ReadOnlyFile& file, std::uint32_t page,
                                       PageBuffer out);
// The same into ctx.pageBuffer; the FIL header is also stored in ctx.lastFilHeader.
core::Result<InnodbPage> readIndexPage(InnodbReader& ctx, core::ReadOnlyFile& file,
                                       std::uint32_t page);

// The infimum tests: the zero-terminated text at the format's infimum origin is exactly
// "infimum" (compact: byte 99; redundant: byte 101). MariaDB 10.4+ zeroes the infimum and
// supremum texts of an instant-ALTER root (page type 18) after an instant DROP or
// reorder; such a page passes the compact test when the two system records carry their
// compact status (infimum 2, supremum 3), the redundant test when the page header's
// record count lacks the compact flag and the system records are heap records 0 and 1.
bool isCompactIndexPage(PageView page);
bool isRedundantIndexPage(PageView page);

// Compact: 99 + the big-endian successor value at bytes 97..98, in 16-bit arithmetic.
std::uint16_t firstCompactRecord(PageView page);
// Redundant: the big-endian absolute offset at bytes 99..100.
std::uint16_t firstRedundantRecord(PageView page);

// Compact: origin is 112 or less, or the 8 bytes at origin are "supremum" in a record of
// supremum status (a user key that begins with that text is not the supremum).
bool isCompactSupremum(PageView page, std::size_t origin);
// Redundant: origin is 116, or the zero-terminated text at origin is exactly "supremum"
// in heap record 1.
bool isRedundantSupremum(PageView page, std::size_t origin);

// Whether a page is a B-tree leaf or node-pointer page of a given format: an index page
// (isIndexPageType) that passes that format's infimum test.
enum class RecordFormat { Compact, Redundant, Unknown };
RecordFormat pageRecordFormat(PageView page);

}  // namespace dunmore::innodb
