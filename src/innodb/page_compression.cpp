// MariaDB page compression (PAGE_COMPRESSED=1). A compressed page keeps its page number
// in the file and is followed by unused bytes (a hole, when the file system punches one):
//   full_crc32 layout (MariaDB 10.5+): bytes 0..25 of the page as they were, then the
//     compressed stream from byte 26; the page type (24) is 0x8000 | n, the stored size
//     being n * 256 bytes, whose last 4 are the CRC-32C of the bytes before them. For
//     lz4, lzo and snappy the byte before the checksum holds the low byte of the exact
//     stream end (+5; 0 when the stream fills the size). The algorithm is named by the
//     tablespace's space flags (bits 5..7).
//   other layouts: the FIL header (38 bytes) as it was, with 0xDEADBEEF in the checksum
//     field, page type 34354 and the algorithm in bytes 26..33 (u64be); the stream's
//     length (u16be) at 38 and the stream from 40. Type 37401 marks a page compressed and
//     then encrypted: length at 38, algorithm at 40, the stream from 42.
// The stream holds the whole page (innodb_page_size bytes) as the server wrote it.
#include "innodb/page_compression.h"

#include <zlib.h>

#ifdef DUNMORE_HAVE_LZ4
#include <lz4.h>
#endif
#ifdef DUNMORE_HAVE_LZO
#include <lzo/lzo1x.h>
#endif
#ifdef DUNMORE_HAVE_LZMA
#include <lzma.h>
#endif
#ifdef DUNMORE_HAVE_BZIP2
#include <bzlib.h>
#endif
#ifdef DUNMORE_HAVE_SNAPPY
#include <snappy-c.h>
#endif

#include <string>

namespace dunmore::innodb {
namespace {

constexpr std::size_t kPageTypeOffset = 24;
constexpr std::size_t kFullCrc32StreamStart = 26;
constexpr std::size_t kFullCrc32Checksum = 4;
constexpr std::size_t kAlgorithmOffset = 26;
constexpr std::size_t kFilData = 38;
constexpr std::size_t kStreamStart = kFilData + 2;
constexpr std::uint32_t kNoChecksumMagic = 0xDEADBEEF;

std::uint16_t pageType(core::ByteSpan page) {
    return static_cast<std::uint16_t>(core::readBeAt(page, kPageTypeOffset, 2));
}

core::Status unreadable(const std::string& why) {
    return core::Status::corrupt("the compressed page cannot be decompressed: " + why);
}

bool keepsStreamEnd(PageCompression algorithm) {
    return algorithm == PageCompression::Lz4 || algorithm == PageCompression::Lzo ||
           algorithm == PageCompression::Snappy;
}

// Decompresses stream into out; true when it gives exactly out.size() bytes.
core::Status inflateStream(PageCompression algorithm, core::ByteSpan stream,
                           std::span<std::uint8_t> out) {
    const std::size_t want = out.size();
    bool whole = false;
    switch (algorithm) {
        case PageCompression::Zlib: {
            uLongf produced = static_cast<uLongf>(want);
            whole = ::uncompress(out.data(), &produced, stream.data(),
                                 static_cast<uLong>(stream.size())) == Z_OK &&
                    produced == want;
            break;
        }
        case PageCompression::Lz4:
#ifdef DUNMORE_HAVE_LZ4
            whole = LZ4_decompress_safe(reinterpret_cast<const char*>(stream.data()),
                                        reinterpret_cast<char*>(out.data()),
                                        static_cast<int>(stream.size()),
                                        static_cast<int>(want)) == static_cast<int>(want);
            break;
#else
            return core::Status::unsupported("lz4 page compression is not built into this program");
#endif
        case PageCompression::Lzo: {
#ifdef DUNMORE_HAVE_LZO
            static const bool initialised = lzo_init() == LZO_E_OK;
            lzo_uint produced = want;
            whole = initialised &&
                    lzo1x_decompress_safe(stream.data(), stream.size(), out.data(), &produced,
                                          nullptr) == LZO_E_OK &&
                    produced == want;
            break;
#else
            return core::Status::unsupported("lzo page compression is not built into this program");
#endif
        }
        case PageCompression::Lzma: {
#ifdef DUNMORE_HAVE_LZMA
            std::uint64_t memoryLimit = UINT64_MAX;
            std::size_t inPos = 0;
            std::size_t outPos = 0;
            whole =
                lzma_stream_buffer_decode(&memoryLimit, 0, nullptr, stream.data(), &inPos,
                                          stream.size(), out.data(), &outPos, want) == LZMA_OK &&
                outPos == want;
            break;
#else
            return core::Status::unsupported(
                "lzma page compression is not built into this program");
#endif
        }
        case PageCompression::Bzip2: {
#ifdef DUNMORE_HAVE_BZIP2
            unsigned produced = static_cast<unsigned>(want);
            whole = BZ2_bzBuffToBuffDecompress(
                        reinterpret_cast<char*>(out.data()), &produced,
                        const_cast<char*>(reinterpret_cast<const char*>(stream.data())),
                        static_cast<unsigned>(stream.size()), 1, 0) == BZ_OK &&
                    produced == want;
            break;
#else
            return core::Status::unsupported(
                "bzip2 page compression is not built into this program");
#endif
        }
        case PageCompression::Snappy: {
#ifdef DUNMORE_HAVE_SNAPPY
            std::size_t produced = want;
            const char* in = reinterpret_cast<const char*>(stream.data());
            std::size_t expected = 0;
            whole = snappy_uncompressed_length(in, stream.size(), &expected) == SNAPPY_OK &&
                    expected == want &&
                    snappy_uncompress(in, stream.size(), reinterpret_cast<char*>(out.data()),
                                      &produced) == SNAPPY_OK &&
                    produced == want;
            break;
#else
            return core::Status::unsupported(
                "snappy page compression is not built into this program");
#endif
        }
        case PageCompression::None:
            return unreadable("it names no compression algorithm");
    }
    if (!whole)
        return unreadable(std::string(compressionName(algorithm)) + " does not give one page of " +
                          std::to_string(want) + " bytes from its " +
                          std::to_string(stream.size()) + " stored bytes");
    return core::Status::ok();
}

bool knownAlgorithm(std::uint64_t value) {
    return value >= static_cast<std::uint64_t>(PageCompression::Zlib) &&
           value <= static_cast<std::uint64_t>(PageCompression::Snappy);
}

}  // namespace

std::string_view compressionName(PageCompression algorithm) {
    switch (algorithm) {
        case PageCompression::None:
            return "none";
        case PageCompression::Zlib:
            return "zlib";
        case PageCompression::Lz4:
            return "lz4";
        case PageCompression::Lzo:
            return "lzo";
        case PageCompression::Lzma:
            return "lzma";
        case PageCompression::Bzip2:
            return "bzip2";
        case PageCompression::Snappy:
            return "snappy";
    }
    return "unknown";
}

bool isPageCompressed(core::ByteSpan stored, bool fullCrc32) {
    const std::uint16_t type = pageType(stored);
    if (fullCrc32) return (type & kFullCrc32CompressedMarker) != 0;
    return type == kPageCompressedType || type == kPageCompressedEncryptedType;
}

std::size_t fullCrc32StoredSize(core::ByteSpan stored) {
    const std::uint16_t type = pageType(stored);
    if (!(type & kFullCrc32CompressedMarker)) return stored.size();
    const std::size_t size =
        std::size_t{static_cast<std::uint16_t>(type & ~kFullCrc32CompressedMarker)} << 8;
    return size > kFullCrc32StreamStart + kFullCrc32Checksum && size < stored.size() ? size : 0;
}

core::Status decompressPageCompressed(core::ByteSpan stored, bool fullCrc32,
                                      PageCompression fullCrc32Algorithm,
                                      std::span<std::uint8_t> out) {
    if (fullCrc32) {
        std::size_t size = fullCrc32StoredSize(stored);
        if (size == 0) return unreadable("its stored size does not fit the page");
        if (keepsStreamEnd(fullCrc32Algorithm)) {
            // The exact end of the stream: the byte before the checksum holds its low byte.
            if (const std::size_t low = stored[size - kFullCrc32Checksum - 1]; low != 0)
                size += low - 0x100;
            size -= kFullCrc32Checksum + 1;
            if (size <= kFullCrc32StreamStart || size > stored.size())
                return unreadable("its stream end does not fit");
        }
        return inflateStream(fullCrc32Algorithm,
                             stored.subspan(kFullCrc32StreamStart, size - kFullCrc32StreamStart),
                             out);
    }
    const std::uint16_t type = pageType(stored);
    if (type == kPageCompressedEncryptedType)
        return core::Status::unsupported(
            "the page is encrypted (and compressed): it cannot be read without the key");
    if (type != kPageCompressedType)
        return unreadable("its page type " + std::to_string(type) + " is not a compressed one");
    if (core::readBeAt(stored, 0, 4) != kNoChecksumMagic)
        return unreadable("its checksum field does not hold the mark of a compressed page");
    const std::uint64_t algorithm = core::readBeAt(stored, kAlgorithmOffset, 8);
    if (!knownAlgorithm(algorithm))
        return unreadable("it names compression algorithm " + std::to_string(algorithm));
    const std::size_t length = core::readBeAt(stored, kFilData, 2);
    if (length == 0 || length > stored.size() - kStreamStart)
        return unreadable("its stored length " + std::to_string(length) + " does not fit the page");
    return inflateStream(static_cast<PageCompression>(algorithm),
                         stored.subspan(kStreamStart, length), out);
}

}  // namespace dunmore::innodb
