// How a tablespace stores its pages. The space flags (page 0, byte 54, u32be) say:
//   full_crc32 (bit 4; MariaDB 10.5+): bits 0..3 the page size, bits 5..7 the page
//     compression algorithm (0 none, 1 zlib, 2 lz4, 3 lzo, 4 lzma, 5 bzip2, 6 snappy);
//   otherwise: bits 1..4 the ROW_FORMAT=COMPRESSED page size (KEY_BLOCK_SIZE = 512 << n,
//     n = 1..5), bits 6..9 the page size, bit 13 MySQL's encryption, bit 16 MariaDB's
//     page compression (each page then names its algorithm).
// MariaDB keeps its encryption data on page 0 after the extent descriptors (at 38 + 150 +
// the descriptors of one descriptor page): the magic 73 0E 0C 52 45 74, the scheme (1:
// encrypted), the IV length and IV, the minimum key version (u32be), the key id (u32be)
// and the mode (0 default, 1 on, 2 off). An encrypted page carries its key version in
// bytes 26..29 (bytes 0..3 in the full_crc32 layout). See docs/formats/innodb.md.
#include "innodb/tablespace_format.h"

#include "innodb/zip_page.h"

#include <algorithm>
#include <array>
#include <vector>

namespace dunmore::innodb {
namespace {

constexpr std::uint32_t kFcrc32Marker = 1u << 4;
constexpr std::uint32_t kFcrc32AlgorithmShift = 5;
constexpr std::uint32_t kFcrc32AlgorithmMask = 0x7;
constexpr std::uint32_t kAtomicBlobsFlag = 1u << 5;
constexpr std::uint32_t kZipSsizeShift = 1;
constexpr std::uint32_t kZipSsizeMask = 0xF;
constexpr std::uint32_t kMaxZipSsize = 5;
constexpr std::uint32_t kMinZipSize = 1024;
constexpr std::uint32_t kMaxZipPageSize = 16384;
constexpr std::uint32_t kMysqlEncryptionFlag = 1u << 13;
constexpr std::size_t kXdesArrayOffset = 150;
constexpr std::array<std::uint8_t, 6> kCryptMagic = {0x73, 0x0E, 0x0C, 0x52, 0x45, 0x74};
constexpr std::uint8_t kCryptSchemeEncrypted = 1;
constexpr std::uint8_t kEncryptionOff = 2;
constexpr std::size_t kKeyVersionOffset = 26;
constexpr std::size_t kFullCrc32KeyVersionOffset = 0;
constexpr std::size_t kPageTypeOffset = 24;
constexpr std::size_t kLsnLowOffset = 20;
constexpr std::uint16_t kSdiIndexPageType = 17853;
constexpr std::uint16_t kRtreePageType = 17854;

std::uint32_t be32(core::ByteSpan s, std::size_t at) {
    return static_cast<std::uint32_t>(core::readBeAt(s, at, 4));
}

bool allZero(core::ByteSpan bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

PageCheck damaged(std::string problem, PageChecksum algorithm = PageChecksum::Crc32c) {
    PageCheck check;
    check.state = PageState::Damaged;
    check.algorithm = algorithm;
    check.problem = std::move(problem);
    return check;
}

// The MariaDB encryption data of page 0 (page0 is at least physicalPageSize bytes).
void readCryptData(core::ByteSpan page0, TablespaceFormat& format) {
    const std::size_t at = kFilHeaderSize + kXdesArrayOffset +
                           std::size_t{format.physicalPageSize / extentPages(format.pageSize)} *
                               extentDescriptorSize(format.pageSize);
    core::ByteReader r(page0);
    r.seek(at);
    const auto magic = r.bytes(kCryptMagic.size());
    if (!r.ok() || !std::equal(magic.begin(), magic.end(), kCryptMagic.begin())) return;
    const std::uint8_t scheme = r.u8();
    const std::uint8_t ivLength = r.u8();
    r.skip(ivLength);
    r.u32be();  // the minimum key version
    const std::uint32_t keyId = r.u32be();
    const std::uint8_t mode = r.u8();
    if (!r.ok()) return;
    format.cryptData = true;
    format.keyId = keyId;
    format.encrypted = scheme == kCryptSchemeEncrypted && mode != kEncryptionOff;
}

// The key version an encrypted page carries, 0 for a page that is not encrypted.
std::uint32_t keyVersion(core::ByteSpan stored, const TablespaceFormat& format,
                         std::uint32_t page) {
    if (format.fullCrc32) return be32(stored, kFullCrc32KeyVersionOffset);
    // Page 0 is never encrypted; outside encrypted tablespaces bytes 26..29 hold the
    // flush LSN of page 0 only.
    if (!format.cryptData || page == 0) return 0;
    return be32(stored, kKeyVersionOffset);
}

PageCheck encryptedPage(std::uint32_t version, PageChecksum algorithm) {
    return damaged("the page is encrypted (key version " + std::to_string(version) +
                       "): it cannot be read without the key",
                   algorithm);
}

bool isZipIndexType(std::uint16_t type) {
    return isIndexPageType(type) || type == kSdiIndexPageType || type == kRtreePageType;
}

std::vector<std::uint8_t>& storedBuffer(std::size_t size) {
    thread_local std::vector<std::uint8_t> buffer;
    buffer.assign(size, 0);
    return buffer;
}

// A ROW_FORMAT=COMPRESSED page: verified as stored, index pages inflated.
PageCheck readZipPage(core::ByteSpan stored, const TablespaceFormat& format, std::uint32_t page,
                      PageBuffer out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    const std::size_t headers =
        std::min<std::size_t>(stored.size(), kFilHeaderSize + kIndexHeaderSize);
    PageCheck check = checkCompressedPage(stored, page);
    if (!check.valid()) {
        std::copy_n(stored.begin(), headers, out.begin());
        return check;
    }
    if (const std::uint32_t version = keyVersion(stored, format, page); version != 0) {
        std::copy_n(stored.begin(), headers, out.begin());
        return encryptedPage(version, check.algorithm);
    }
    const auto type = static_cast<std::uint16_t>(core::readBeAt(stored, kPageTypeOffset, 2));
    if (!isZipIndexType(type)) {
        std::copy(stored.begin(), stored.end(), out.begin());
        return check;
    }
    if (auto st = decompressZipPage(stored, out); !st) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        std::copy_n(stored.begin(), headers, out.begin());
        return damaged(st.message(), check.algorithm);
    }
    return check;
}

// A page of a tablespace that may hold page-compressed or encrypted pages.
PageCheck readLayoutPage(core::ByteSpan stored, const TablespaceFormat& format, std::uint32_t page,
                         PageBuffer out) {
    const bool compressed = isPageCompressed(stored, format.fullCrc32);
    if (!compressed) {
        std::copy(stored.begin(), stored.end(), out.begin());
        PageCheck check = checkPage(stored, page);
        if (check.valid())
            if (const std::uint32_t version = keyVersion(stored, format, page); version != 0)
                return encryptedPage(version, check.algorithm);
        return check;
    }
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::copy_n(stored.begin(), kFilHeaderSize, out.begin());
    if (allZero(stored)) return checkPage(stored, page);
    if (format.fullCrc32) {
        const std::size_t size = fullCrc32StoredSize(stored);
        if (size == 0)
            return damaged("the compressed page names a stored size beyond the page",
                           PageChecksum::FullCrc32);
        if (be32(stored, size - 4) != pageFullCrc32Checksum(stored.first(size)))
            return damaged("checksum mismatch", PageChecksum::FullCrc32);
        if (const std::uint32_t version = keyVersion(stored, format, page); version != 0)
            return encryptedPage(version, PageChecksum::FullCrc32);
        if (format.compression == PageCompression::None)
            return damaged("a compressed page in a tablespace whose flags name no compression",
                           PageChecksum::FullCrc32);
    }
    if (auto st = decompressPageCompressed(stored, format.fullCrc32, format.compression, out);
        !st) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        std::copy_n(stored.begin(), kFilHeaderSize, out.begin());
        return damaged(st.message(), PageChecksum::FullCrc32);
    }
    if (!format.fullCrc32) return checkPage(out, page);
    // The page was compressed before its checksum was written: its trailer carries the
    // LSN, the checksum of the stored page covers the rest.
    PageCheck check;
    check.algorithm = PageChecksum::FullCrc32;
    const std::uint32_t number = be32(out, 4);
    if (be32(out, out.size() - 8) != be32(out, kLsnLowOffset))
        check.problem = "the LSN of the header and the trailer differ";
    else if (number != page)
        check.problem = "the header names page " + std::to_string(number);
    else
        check.state = PageState::Valid;
    return check;
}

}  // namespace

std::string TablespaceFormat::unreadableReason() const {
    if (mysqlEncryption)
        return "the tablespace is encrypted (ENCRYPTION='Y') and its pages cannot be read without "
               "the "
               "keyring's key";
    if (encrypted)
        return "the tablespace is encrypted (ENCRYPTED=YES, key id " + std::to_string(keyId) +
               ") and its pages cannot be read without the key";
    return {};
}

TablespaceFormat plainFormat(std::uint32_t pageSize) {
    TablespaceFormat format;
    format.pageSize = isPageSize(pageSize) ? pageSize : kDefaultPageSize;
    format.physicalPageSize = format.pageSize;
    return format;
}

TablespaceFormat readTablespaceFormat(core::ReadOnlyFile& file) {
    TablespaceFormat format = plainFormat(tablespacePageSize(file));
    std::array<std::uint8_t, 4> flagBytes{};
    if (file.readAt(kFspSpaceFlagsOffset, flagBytes) != flagBytes.size()) return format;
    const auto flags = static_cast<std::uint32_t>(core::readBeAt(flagBytes, 0, 4));
    if (flags & kFcrc32Marker) {
        format.fullCrc32 = true;
        format.compression =
            static_cast<PageCompression>((flags >> kFcrc32AlgorithmShift) & kFcrc32AlgorithmMask);
    } else {
        const std::uint32_t zipSsize = (flags >> kZipSsizeShift) & kZipSsizeMask;
        const std::uint32_t logical = pageSizeOfSpaceFlags(flags);
        const std::uint32_t zipSize =
            zipSsize == 0 || zipSsize > kMaxZipSsize ? 0 : (kMinZipSize / 2) << zipSsize;
        if (zipSize != 0 && logical != 0 && logical <= kMaxZipPageSize && zipSize <= logical &&
            (file.size() < 2ull * zipSize || pagesCarryTheirNumbers(file, zipSize))) {
            format.zip = true;
            format.pageSize = logical;
            format.physicalPageSize = zipSize;
        }
        format.mysqlEncryption = (flags & kMysqlEncryptionFlag) != 0;
        format.atomicBlobs = (flags & kAtomicBlobsFlag) != 0;
    }
    std::vector<std::uint8_t> page0(format.physicalPageSize);
    if (file.readAt(0, page0) == page0.size()) readCryptData(page0, format);
    return format;
}

core::Result<PageCheck> readTablespacePage(core::ReadOnlyFile& file, const TablespaceFormat& format,
                                           std::uint32_t page, PageBuffer out) {
    if (!format.transforms()) {
        if (auto st = readPage(file, page, out); !st) return st;
        const core::ByteSpan view(out.data(), out.size());
        if (format.fullCrc32 || !isPageCompressed(view, false)) return checkPage(view, page);
        // A compressed page of a server whose flags do not say so (MariaDB 10.1.0 to
        // 10.1.20 kept page compression elsewhere in them).
        std::vector<std::uint8_t>& stored = storedBuffer(out.size());
        std::copy(out.begin(), out.end(), stored.begin());
        return readLayoutPage(core::ByteSpan(stored.data(), stored.size()), format, page, out);
    }
    if (!file.isOpen()) return core::Status::ioError("tablespace file is not open");
    std::vector<std::uint8_t>& stored = storedBuffer(format.physicalPageSize);
    (void)file.readAt(pageOffset(page, format.physicalPageSize), stored);
    const core::ByteSpan view(stored.data(), stored.size());
    if (format.zip) return readZipPage(view, format, page, out);
    return readLayoutPage(view, format, page, out);
}

core::Result<FilHeader> readStoredFilHeader(core::ReadOnlyFile& file,
                                            const TablespaceFormat& format, std::uint32_t page) {
    return readFilHeader(file, page, format.physicalPageSize);
}

}  // namespace dunmore::innodb
