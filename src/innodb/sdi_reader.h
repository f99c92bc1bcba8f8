#pragma once

#include "core/read_only_file.h"
#include "core/status.h"
#include "innodb/page.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::innodb {

// FSP_SPACE_FLAGS of page 0 (MySQL 8.0+, fsp0types.h): bit 0 post-Antelope, bits 1..4
// the compressed page size, bit 5 atomic blobs, bits 6..9 the page size, bit 10 DATA
// DIRECTORY, bit 11 shared, bit 12 temporary, bit 13 encryption, bit 14 SDI.
inline constexpr std::uint32_t kFspHeaderOffset = 38;
inline constexpr std::uint32_t kFspFlagsZipSsizeShift = 1;
inline constexpr std::uint32_t kFspFlagsPageSsizeShift = 6;
inline constexpr std::uint32_t kFspFlagsSsizeMask = 0xF;
inline constexpr std::uint32_t kFspFlagsEncryption = 1u << 13;
inline constexpr std::uint32_t kFspFlagsSdi = 1u << 14;
// FIL_PAGE_SDI: the pages of the SDI index.
inline constexpr std::uint16_t kSdiPageType = 17853;
// SDI record types (dd::enum_sdi_type... in sdi.h): 1 a table, 2 a tablespace.
inline constexpr std::uint32_t kSdiTypeTable = 1;
inline constexpr std::uint32_t kSdiTypeTablespace = 2;

// The space flags of a tablespace's page 0.
struct TablespaceFlags {
    std::uint32_t flags = 0;
    bool hasSdi() const { return (flags & kFspFlagsSdi) != 0; }
    bool encrypted() const { return (flags & kFspFlagsEncryption) != 0; }
    // KEY_BLOCK_SIZE in bytes of a ROW_FORMAT=COMPRESSED tablespace, 0 when not compressed.
    std::uint32_t compressedPageSize() const {
        const std::uint32_t ssize = (flags >> kFspFlagsZipSsizeShift) & kFspFlagsSsizeMask;
        return ssize == 0 ? 0 : 512u << ssize;
    }
    // The logical page size in bytes (pageSizeOfSpaceFlags; 0 when the flags name none).
    std::uint32_t pageSize() const { return pageSizeOfSpaceFlags(flags); }
};

// The flags of file's page 0. IoError when the file is shorter than the FSP header.
core::Result<TablespaceFlags> readTablespaceFlags(core::ReadOnlyFile& file);

// One SDI record: its type, the id of the dictionary object and the JSON text, inflated.
struct SdiRecord {
    std::uint32_t type = 0;
    std::uint64_t id = 0;
    std::string json;
};

// What an SDI read found: the records that could be read, and one text per record or
// page that could not.
struct SdiContents {
    std::vector<SdiRecord> records;
    std::vector<std::string> damaged;
};

// Reads every SDI record of a MySQL 8.0+ tablespace: the SDI root page named in page 0
// (after the extent descriptors and the encryption information), the descent to the
// leftmost leaf, the leaf chain, and for each live record its zlib-compressed JSON, kept
// in the record or in a chain of SDI BLOB pages, in pages of the size the flags name.
// Unsupported for a tablespace without the SDI flag, an encrypted one (its pages need the
// keyring's key), a ROW_FORMAT=COMPRESSED one and flags that name no page size; Corrupt
// when the SDI root or the descent is damaged;
// IoError when a page cannot be read. A damaged record is named in damaged and the walk
// goes on.
core::Result<SdiContents> readSdiRecords(core::ReadOnlyFile& file);

}  // namespace dunmore::innodb
