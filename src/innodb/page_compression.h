#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/byte_reader.h"
#include "core/status.h"

namespace dunmore::innodb {

// MariaDB page compression (PAGE_COMPRESSED=1): the algorithms of
// innodb_compression_algorithm, by the number the files store.
enum class PageCompression : std::uint8_t {
    None = 0,
    Zlib = 1,
    Lz4 = 2,
    Lzo = 3,
    Lzma = 4,
    Bzip2 = 5,
    Snappy = 6
};
std::string_view compressionName(PageCompression algorithm);

// FIL page types of page-compressed pages outside the full_crc32 layout.
inline constexpr std::uint16_t kPageCompressedType = 34354;
inline constexpr std::uint16_t kPageCompressedEncryptedType = 37401;
// In the full_crc32 layout the top bit of the page type marks a compressed page; the low
// byte is its stored size in units of 256 bytes.
inline constexpr std::uint16_t kFullCrc32CompressedMarker = 0x8000;

// Whether stored, one page as the file holds it, is a compressed page of a tablespace of
// the given layout.
bool isPageCompressed(core::ByteSpan stored, bool fullCrc32);

// The bytes of stored that a full_crc32 checksum covers, with the checksum: the page's
// stored size for a compressed page, the whole page otherwise. 0 when the compressed page
// names a size that does not fit.
std::size_t fullCrc32StoredSize(core::ByteSpan stored);

// Decompresses the page-compressed page stored into out (out.size() == stored.size(), the
// page size): the page as the server wrote it before compressing it. In the full_crc32
// layout the algorithm is the tablespace's (fullCrc32Algorithm, from its space flags);
// otherwise each page names its own. Corrupt, naming what failed, when the page does not
// decompress to exactly one page; Unsupported for an encrypted page and for an algorithm
// this build cannot decompress.
core::Status decompressPageCompressed(core::ByteSpan stored, bool fullCrc32,
                                      PageCompression fullCrc32Algorithm,
                                      std::span<std::uint8_t> out);

}  // namespace dunmore::innodb
