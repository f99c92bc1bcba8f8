#pragma once

#include "core/byte_reader.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dunmore::innodb {

// The page checksum algorithms InnoDB servers write (innodb_checksum_algorithm).
enum class PageChecksum {
    Crc32c,     // crc32: CRC-32C of bytes 4..25 XOR that of 38..size-9, in both fields
    Innodb,     // innodb: the fold checksums ("new" in bytes 0..3, "old" in size-8..size-5)
    None,       // none: 0xDEADBEEF in both fields
    FullCrc32,  // full_crc32 (MariaDB 10.5+): CRC-32C of bytes 0..size-5 in the last 4
};
std::string_view checksumName(PageChecksum algorithm);

// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78) of bytes, continuing from crc.
std::uint32_t crc32c(core::ByteSpan bytes, std::uint32_t crc = 0);

// The three checksums of an uncompressed page image of any page size.
std::uint32_t pageCrc32Checksum(core::ByteSpan page);
std::uint32_t pageNewInnodbChecksum(core::ByteSpan page);
std::uint32_t pageOldInnodbChecksum(core::ByteSpan page);
std::uint32_t pageFullCrc32Checksum(core::ByteSpan page);

// What checkPage found.
enum class PageState {
    Valid,     // a checksum of one algorithm matches, the LSNs agree, the page number is right
    AllZero,   // never written (a zero page carries no checksum)
    Damaged,   // see problem
};
struct PageCheck {
    PageState state = PageState::Damaged;
    PageChecksum algorithm = PageChecksum::Crc32c;
    std::string problem;  // for Damaged: what did not match
    bool valid() const { return state == PageState::Valid; }
};

// Verifies an uncompressed page image read from position expectedPage of its file: the
// checksum in any of the algorithms (full_crc32 first, then crc32, innodb and none, in
// any mix of the two legacy fields that a server accepts), the low 32 bits of the header
// LSN against the trailer, and the page number in the header. A page shorter than the
// FIL header and trailer is Damaged.
PageCheck checkPage(core::ByteSpan page, std::uint32_t expectedPage);

// The checksum of a ROW_FORMAT=COMPRESSED page (zip pages and the other pages of such a
// tablespace, at KEY_BLOCK_SIZE bytes; there is no trailer) in bytes 0..3, over bytes
// 4..15, 24..25 and 34..end (the checksum field, the LSN and the flush LSN left out):
// crc32 XORs the CRC-32C of the three ranges, innodb is the Adler-32 of them in turn,
// none is 0xDEADBEEF. FullCrc32 is not a compressed-page algorithm (0).
std::uint32_t compressedPageChecksum(core::ByteSpan page, PageChecksum algorithm);

// Verifies a compressed page read from position expectedPage: the checksum in any of the
// three algorithms and the page number.
PageCheck checkCompressedPage(core::ByteSpan page, std::uint32_t expectedPage);

// Rewrites a page image's checksum fields (and the LSN trailer) in the given algorithm,
// as a server writing it would. For tests that damage a page and keep it consistent.
void writePageChecksum(std::span<std::uint8_t> page, PageChecksum algorithm);
void writeCompressedPageChecksum(std::span<std::uint8_t> page, PageChecksum algorithm);

}  // namespace dunmore::innodb
