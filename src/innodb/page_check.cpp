// InnoDB page verification. Every page a server writes carries:
//   bytes 0..3        checksum field 1 (crc32 / "new" innodb fold / 0xDEADBEEF), or the
//                     first bytes of the page in full_crc32 files
//   bytes 4..7        the page number
//   bytes 16..23      the LSN of the last change (big-endian)
//   bytes 26..33      flush LSN (page 0 only), or the key version of an encrypted page
//   last 8 bytes      legacy: checksum field 2 ("old" fold, or crc32 / magic) and the low
//                     32 bits of the LSN; full_crc32: the low 32 bits of the LSN, then the
//                     CRC-32C of every byte before it.
// The legacy crc32 checksum leaves out the checksum field, the flush LSN and the trailer:
// CRC-32C(bytes 4..25) XOR CRC-32C(bytes 38..size-9). The innodb fold checksums are
// ut_fold_binary over the same two ranges (summed; field 1) and over bytes 0..25 (field 2).
// ROW_FORMAT=COMPRESSED pages have no trailer: their one checksum (bytes 0..3) covers
// bytes 4..15, 24..25 and 34..end, as CRC-32C (each range, XORed), Adler-32 or 0xDEADBEEF.
#include "innodb/page_check.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

namespace dunmore::innodb {
namespace {

constexpr std::size_t kChecksumField = 0;
constexpr std::size_t kPageNumberField = 4;
constexpr std::size_t kLsnField = 16;
constexpr std::size_t kPageTypeField = 24;
constexpr std::size_t kFlushLsnField = 26;  // also the key version of an encrypted page
constexpr std::size_t kSpaceIdField = 34;
constexpr std::size_t kFilData = 38;
constexpr std::size_t kTrailerSize = 8;
constexpr std::uint32_t kNoChecksumMagic = 0xDEADBEEF;
constexpr std::uint32_t kHashRandomMask = 1463735687;
constexpr std::uint32_t kHashRandomMask2 = 1653893711;

using CrcTable = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTable makeCrcTable() {
    CrcTable t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (std::size_t s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    return t;
}
constexpr CrcTable kCrcTable = makeCrcTable();

// ut_fold_binary: the low 32 bits of the server's fold do not depend on wider arithmetic.
std::uint32_t foldBinary(core::ByteSpan bytes) {
    std::uint32_t fold = 0;
    for (const std::uint8_t b : bytes)
        fold = ((((fold ^ b ^ kHashRandomMask2) << 8) + fold) ^ kHashRandomMask) + b;
    return fold;
}

std::uint32_t be32(core::ByteSpan page, std::size_t at) {
    return static_cast<std::uint32_t>(core::readBeAt(page, at, 4));
}
void setBe32(std::span<std::uint8_t> page, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) page[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

bool allZero(core::ByteSpan page) {
    for (const std::uint8_t b : page)
        if (b != 0) return false;
    return true;
}

}  // namespace

std::string_view checksumName(PageChecksum algorithm) {
    switch (algorithm) {
        case PageChecksum::Crc32c: return "crc32";
        case PageChecksum::Innodb: return "innodb";
        case PageChecksum::None: return "none";
        case PageChecksum::FullCrc32: return "full_crc32";
    }
    return "";
}

namespace {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Eight bytes in memory order as the instruction takes them (x86 is little-endian).
std::uint64_t loadLe64(const std::uint8_t* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The SSE 4.2 CRC32 instruction computes CRC-32C; eight bytes at a time in memory order.
// c is the CRC register (no inversion on entry or exit).
__attribute__((target("sse4.2"))) std::uint32_t crc32cRegister(const std::uint8_t* p,
                                                               std::size_t n, std::uint32_t c) {
    std::uint64_t c64 = c;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) c64 = __builtin_ia32_crc32di(c64, loadLe64(p + i));
    auto c32 = static_cast<std::uint32_t>(c64);
    for (; i < n; ++i) c32 = __builtin_ia32_crc32qi(c32, p[i]);
    return c32;
}

// The register after n zero bytes, from register c: a linear map of c, kept per length
// as the images of the 32 single bits (a thread's few lengths: those of its pages).
std::uint32_t crc32cAfterZeros(std::uint32_t c, std::size_t n) {
    struct Shift {
        std::size_t length = 0;
        std::array<std::uint32_t, 32> image{};
    };
    thread_local std::array<Shift, 4> shifts;
    thread_local std::size_t nextSlot = 0;
    Shift* shift = nullptr;
    for (auto& s : shifts)
        if (s.length == n) shift = &s;
    if (shift == nullptr) {
        static constexpr std::array<std::uint8_t, 4096> kZeros{};
        shift = &shifts[nextSlot++ % shifts.size()];
        shift->length = n;
        for (std::size_t bit = 0; bit < 32; ++bit) {
            std::uint32_t r = std::uint32_t{1} << bit;
            for (std::size_t left = n; left > 0;) {
                const std::size_t step = std::min(left, kZeros.size());
                r = crc32cRegister(kZeros.data(), step, r);
                left -= step;
            }
            shift->image[bit] = r;
        }
    }
    std::uint32_t out = 0;
    for (std::size_t bit = 0; bit < 32; ++bit)
        if ((c >> bit) & 1) out ^= shift->image[bit];
    return out;
}

// Long inputs run as three interleaved streams, as the instruction's latency allows, and
// the three registers are joined: the register over A then B is that over A moved past
// |B| zero bytes, XOR the register over B from zero.
__attribute__((target("sse4.2"))) std::uint32_t crc32cHardware(core::ByteSpan bytes,
                                                               std::uint32_t crc) {
    constexpr std::size_t kInterleaveFrom = 1024;
    const std::uint8_t* p = bytes.data();
    const std::size_t n = bytes.size();
    if (n < kInterleaveFrom) return ~crc32cRegister(p, n, ~crc);
    const std::size_t third = n / 3 / 8 * 8;
    std::uint64_t a = ~crc, b = 0, c = 0;
    for (std::size_t i = 0; i < third; i += 8) {
        a = __builtin_ia32_crc32di(a, loadLe64(p + i));
        b = __builtin_ia32_crc32di(b, loadLe64(p + third + i));
        c = __builtin_ia32_crc32di(c, loadLe64(p + 2 * third + i));
    }
    const std::size_t last = n - 2 * third;
    const std::uint32_t tail =
        crc32cRegister(p + 3 * third, n - 3 * third, static_cast<std::uint32_t>(c));
    std::uint32_t joined = crc32cAfterZeros(static_cast<std::uint32_t>(a), third) ^
                           static_cast<std::uint32_t>(b);
    joined = crc32cAfterZeros(joined, last) ^ tail;
    return ~joined;
}

bool hasHardwareCrc32c() {
    static const bool has = __builtin_cpu_supports("sse4.2");
    return has;
}
#else
std::uint32_t crc32cHardware(core::ByteSpan, std::uint32_t crc) { return crc; }
bool hasHardwareCrc32c() { return false; }
#endif

}  // namespace

std::uint32_t crc32c(core::ByteSpan bytes, std::uint32_t crc) {
    if (hasHardwareCrc32c()) return crc32cHardware(bytes, crc);
    crc = ~crc;
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    for (; i + 8 <= n; i += 8) {
        const std::uint32_t lo = crc ^ (std::uint32_t{bytes[i]} | std::uint32_t{bytes[i + 1]} << 8 |
                                        std::uint32_t{bytes[i + 2]} << 16 |
                                        std::uint32_t{bytes[i + 3]} << 24);
        crc = kCrcTable[7][lo & 0xFF] ^ kCrcTable[6][(lo >> 8) & 0xFF] ^
              kCrcTable[5][(lo >> 16) & 0xFF] ^ kCrcTable[4][lo >> 24] ^
              kCrcTable[3][bytes[i + 4]] ^ kCrcTable[2][bytes[i + 5]] ^
              kCrcTable[1][bytes[i + 6]] ^ kCrcTable[0][bytes[i + 7]];
    }
    for (; i < n; ++i) crc = (crc >> 8) ^ kCrcTable[0][(crc ^ bytes[i]) & 0xFF];
    return ~crc;
}

std::uint32_t pageCrc32Checksum(core::ByteSpan page) {
    return crc32c(page.subspan(kPageNumberField, kFlushLsnField - kPageNumberField)) ^
           crc32c(page.subspan(kFilData, page.size() - kFilData - kTrailerSize));
}

std::uint32_t pageNewInnodbChecksum(core::ByteSpan page) {
    return foldBinary(page.subspan(kPageNumberField, kFlushLsnField - kPageNumberField)) +
           foldBinary(page.subspan(kFilData, page.size() - kFilData - kTrailerSize));
}

std::uint32_t pageOldInnodbChecksum(core::ByteSpan page) {
    return foldBinary(page.first(kFlushLsnField));
}

std::uint32_t pageFullCrc32Checksum(core::ByteSpan page) {
    return crc32c(page.first(page.size() - 4));
}

namespace {

// The check of a page too short to hold its minimum bytes, or never written; nullopt
// when the page must be verified.
std::optional<PageCheck> shortOrUnwritten(core::ByteSpan page, std::size_t minimum,
                                          const char* what) {
    PageCheck check;
    if (page.size() < minimum) {
        check.problem = std::string("the page is shorter than its ") + what;
        return check;
    }
    if (!allZero(page)) return std::nullopt;
    check.state = PageState::AllZero;
    check.problem = "the page is all zeros";
    return check;
}

}  // namespace

PageCheck checkPage(core::ByteSpan page, std::uint32_t expectedPage) {
    if (auto early = shortOrUnwritten(page, kFilData + kTrailerSize, "header and trailer"))
        return *early;
    PageCheck check;
    const std::size_t size = page.size();
    const std::uint32_t lsnLow = be32(page, kLsnField + 4);
    const std::uint32_t pageNumber = be32(page, kPageNumberField);
    auto numbered = [&](PageChecksum algorithm) {
        check.algorithm = algorithm;
        if (pageNumber != expectedPage) {
            check.problem = "the header names page " + std::to_string(pageNumber);
            return check;
        }
        check.state = PageState::Valid;
        return check;
    };

    // full_crc32: the stored CRC covers everything before it.
    const std::uint32_t fullStored = be32(page, size - 4);
    if (fullStored == pageFullCrc32Checksum(page)) {
        // An encrypted page (non-zero key version) keeps its LSN trailer encrypted.
        if (be32(page, kFlushLsnField) == 0 && be32(page, size - 8) != lsnLow) {
            check.algorithm = PageChecksum::FullCrc32;
            check.problem = "the LSN of the header and the trailer differ";
            return check;
        }
        return numbered(PageChecksum::FullCrc32);
    }

    const std::uint32_t field1 = be32(page, kChecksumField);
    const std::uint32_t field2 = be32(page, size - kTrailerSize);
    const bool lsnAgrees = be32(page, size - 4) == lsnLow;
    auto legacy = [&](PageChecksum algorithm) {
        if (lsnAgrees) return numbered(algorithm);
        check.algorithm = algorithm;
        check.problem = "the LSN of the header and the trailer differ";
        return check;
    };
    if (field1 == kNoChecksumMagic && field2 == kNoChecksumMagic) return legacy(PageChecksum::None);
    const std::uint32_t crc = pageCrc32Checksum(page);
    if (field1 == crc && field2 == crc) return legacy(PageChecksum::Crc32c);
    const std::uint32_t fresh = pageNewInnodbChecksum(page);
    const std::uint32_t old = pageOldInnodbChecksum(page);
    // Servers before 4.0.14 kept the high LSN word in field 2; a server accepts either
    // legacy checksum in either field's place.
    const bool field1Ok = field1 == fresh || field1 == crc;
    const bool field2Ok = field2 == old || field2 == crc || field2 == be32(page, kLsnField);
    if (field1Ok && field2Ok) return legacy(PageChecksum::Innodb);
    check.problem = "checksum mismatch";
    return check;
}

std::uint32_t compressedPageChecksum(core::ByteSpan page, PageChecksum algorithm) {
    if (page.size() < kFilData) return 0;
    const core::ByteSpan head = page.subspan(kPageNumberField, kLsnField - kPageNumberField);
    const core::ByteSpan type = page.subspan(kPageTypeField, 2);
    const core::ByteSpan rest = page.subspan(kSpaceIdField);
    switch (algorithm) {
        case PageChecksum::Crc32c:
            return crc32c(head) ^ crc32c(type) ^ crc32c(rest);
        case PageChecksum::Innodb: {
            uLong adler = adler32(0L, head.data(), static_cast<uInt>(head.size()));
            adler = adler32(adler, type.data(), static_cast<uInt>(type.size()));
            return static_cast<std::uint32_t>(
                adler32(adler, rest.data(), static_cast<uInt>(rest.size())));
        }
        case PageChecksum::None:
            return kNoChecksumMagic;
        case PageChecksum::FullCrc32:
            return 0;
    }
    return 0;
}

PageCheck checkCompressedPage(core::ByteSpan page, std::uint32_t expectedPage) {
    if (auto early = shortOrUnwritten(page, kFilData, "header")) return *early;
    PageCheck check;
    const std::uint32_t stored = be32(page, kChecksumField);
    bool matched = false;
    for (const PageChecksum algorithm :
         {PageChecksum::Crc32c, PageChecksum::Innodb, PageChecksum::None}) {
        if (stored == compressedPageChecksum(page, algorithm)) {
            check.algorithm = algorithm;
            matched = true;
            break;
        }
    }
    if (!matched) {
        check.problem = "checksum mismatch";
        return check;
    }
    const std::uint32_t pageNumber = be32(page, kPageNumberField);
    if (pageNumber != expectedPage) {
        check.problem = "the header names page " + std::to_string(pageNumber);
        return check;
    }
    check.state = PageState::Valid;
    return check;
}

void writeCompressedPageChecksum(std::span<std::uint8_t> page, PageChecksum algorithm) {
    setBe32(page, kChecksumField,
            compressedPageChecksum(core::ByteSpan(page.data(), page.size()), algorithm));
}

void writePageChecksum(std::span<std::uint8_t> page, PageChecksum algorithm) {
    const std::size_t size = page.size();
    const core::ByteSpan view(page.data(), size);
    const std::uint32_t lsnLow = be32(view, kLsnField + 4);
    switch (algorithm) {
        case PageChecksum::FullCrc32:
            setBe32(page, size - 8, lsnLow);
            setBe32(page, size - 4, pageFullCrc32Checksum(view));
            return;
        case PageChecksum::None:
            setBe32(page, kChecksumField, kNoChecksumMagic);
            setBe32(page, size - kTrailerSize, kNoChecksumMagic);
            break;
        case PageChecksum::Crc32c: {
            const std::uint32_t crc = pageCrc32Checksum(view);
            setBe32(page, kChecksumField, crc);
            setBe32(page, size - kTrailerSize, crc);
            break;
        }
        case PageChecksum::Innodb:
            setBe32(page, kChecksumField, pageNewInnodbChecksum(view));
            setBe32(page, size - kTrailerSize, pageOldInnodbChecksum(view));
            break;
    }
    setBe32(page, size - 4, lsnLow);
}

}  // namespace dunmore::innodb
