#pragma once

#include "core/byte_reader.h"
#include "core/read_only_file.h"
#include "core/status.h"

#include <cstdint>
#include <span>

namespace dunmore::innodb {

class InnodbReader;

// On-disk facts of a 16 KiB InnoDB page (format notes: docs/formats/innodb.md).
inline constexpr std::uint32_t kPageSize = 16384;
inline constexpr std::uint32_t kFilNull = 0xFFFFFFFF;
inline constexpr std::uint32_t kPageShift = 14;
inline constexpr std::size_t kFilHeaderSize = 38;
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
// A compact walk starting at or after this offset finds nothing on the page.
inline constexpr std::size_t kCompactStartLimit = 16376;
// At most this many records are taken from one page (more cannot fit in 16 KiB).
inline constexpr std::uint32_t kMaxRecordsPerPage = 1501;

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

using PageBuffer = std::span<std::uint8_t, kPageSize>;
using PageView = core::ByteSpan;

// Whole pages in a file of the given length (a partial last page does not count).
constexpr std::uint64_t pageCount(std::uint64_t fileLength) { return fileLength >> kPageShift; }
// Byte offset of page n, computed in 64 bits.
constexpr std::uint64_t pageOffset(std::uint32_t page) {
    return static_cast<std::uint64_t>(page) << kPageShift;
}

// Decodes bytes 0..37 / 38..93 of a page image. A view shorter than the header gives the
// zero (non-index) header.
FilHeader decodeFilHeader(PageView page);
IndexPageHeader decodeIndexHeader(PageView page);

// Reads the FIL header of page n of file. A page at or past the end of the file reads as
// zeros (page type 0, not an index page); an I/O failure is an IoError.
core::Result<FilHeader> readFilHeader(core::ReadOnlyFile& file, std::uint32_t page);
// Reads the index header of page n (meaningful only when its page type is 17855).
core::Result<IndexPageHeader> readIndexHeader(core::ReadOnlyFile& file, std::uint32_t page);

// Reads page n into out: zero-filled first, then the bytes of the file at n * 16384.
// A page wholly or partly past the end of the file keeps zeros where the file has no
// bytes and is not an error. IoError when the file is not open.
core::Status readPage(core::ReadOnlyFile& file, std::uint32_t page, PageBuffer out);
// The same into ctx.pageBuffer.
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
// compact status (infimum 2, supremum 3).
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
