#pragma once

#include "core/byte_reader.h"
#include "core/innodb_column.h"
#include "core/status.h"
#include "innodb/page.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace dunmore::innodb {

// Info bits of a record header (high nibble of the first header byte).
inline constexpr std::uint8_t kInfoDeleteMark = 0x20;
inline constexpr std::uint8_t kInfoMinRecord = 0x10;
inline constexpr std::size_t kRedundantHeaderSize = 6;
inline constexpr std::size_t kCompactHeaderSize = 5;

// Compact record status (low 3 bits of the byte at origin - 3).
inline constexpr std::uint8_t kStatusOrdinary = 0;
inline constexpr std::uint8_t kStatusNodePointer = 1;
inline constexpr std::uint8_t kStatusInfimum = 2;
inline constexpr std::uint8_t kStatusSupremum = 3;
// MariaDB 10.3+: a leaf record written after an instant ADD COLUMN (it stores its own
// field count before the null bitmap).
inline constexpr std::uint8_t kStatusInstant = 4;

// One field of a redundant record: [start, start + length) inside the page, already cut
// at the page end.
struct FieldExtent {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    bool isNull = false;
    bool external = false;
};

// A redundant-format record taken apart.
struct RedundantRecord {
    std::uint32_t origin = 0;
    std::uint8_t infoBits = 0;  // 0x20 delete mark, 0x10 minimum record
    std::uint32_t heapNumber = 0;
    std::uint32_t fieldCount = 0;
    std::uint32_t offsetWidth = 0;  // 1 or 2
    std::uint16_t next = 0;         // absolute offset of the successor; 0 = none
    std::vector<FieldExtent> fields;
    // An end offset reached past the page end or below the one before it (damage).
    bool truncated = false;
    bool deleted() const { return (infoBits & kInfoDeleteMark) != 0; }
};

// Decodes the redundant record whose origin (first byte of field 0) is at origin: its
// 6-byte header, the end-offset array below it and the field extents. Corrupt when the
// header or the offset array would lie before the page start or the origin is not inside
// the page; a field reaching past the page end is cut there.
core::Result<RedundantRecord> redundantFields(core::ByteSpan page, std::uint32_t origin);

// The 5 bytes below a compact record's origin.
struct CompactRecordHeader {
    std::uint8_t infoBits = 0;
    std::uint8_t ownedCount = 0;
    std::uint16_t heapNumber = 0;
    std::uint8_t status = 0;
    std::uint16_t successor = 0;  // relative, taken modulo 65536
    bool deleted() const { return (infoBits & kInfoDeleteMark) != 0; }
};
// Corrupt when the header would lie before the page start or past its end.
core::Result<CompactRecordHeader> compactHeader(core::ByteSpan page, std::uint32_t origin);

// MariaDB 10.3+ keeps the metadata of an instant ADD/DROP COLUMN in a hidden first record
// of the clustered index's leftmost leaf: it carries the minimum-record flag (and, after
// an instant DROP or reorder, the delete mark). It is not a row.
inline bool isMetadataRecord(const CompactRecordHeader& header, bool leafPage) {
    return leafPage && (header.infoBits & kInfoMinRecord) != 0;
}

// Where the chain goes after a compact record.
struct Successor {
    std::uint32_t offset = 0;           // successor origin; the page size or more ends the chain
    std::uint32_t fieldAreaLength = 0;  // bytes of this record's field area
    bool backward = false;              // the link was a backward or wrapping one
    std::uint32_t pageSize = kDefaultPageSize;
    bool endsChain() const { return offset >= pageSize; }
};

// The successor of the compact record at origin with successor value e (the 16-bit value
// at origin - 2) on a page of pageSize bytes. backwardSeen: a backward link was already
// met on this page, so the field area runs to the page end.
Successor nextRecordOffset(std::uint32_t origin, std::uint16_t e, bool backwardSeen,
                           std::uint32_t pageSize);

// The length of one compact field without a fixed length.
struct FieldLength {
    std::uint32_t length = 0;
    bool external = false;
};

// Reads the length entry of a field at cursor (the position of the next unread length
// byte; entries are read downward, so the cursor moves down by one or two bytes). A field
// whose fixedLength is not 0 has that length and consumes no entry. Two-byte entries
// are possible when the column's length is above 255 or its main type is a large one
// (BLOB, GEOMETRY). Corrupt when an entry would lie before the page start; the cursor
// does not move then.
core::Result<FieldLength> compactFieldLength(const core::InnodbColumn& column,
                                             core::ByteSpan page, std::int64_t& cursor);

// One record of a compact page's chain.
struct CompactChainEntry {
    std::uint32_t origin = 0;
    std::uint32_t fieldAreaLength = 0;
    std::uint32_t successor = 0;  // may be the page size or more (the chain ended here)
};

// The records of a compact index page in chain order, from start (0: the first record
// after the infimum): nothing when the page fails the compact infimum test, when start is
// in the FIL trailer or beyond, or when the first record is the supremum. Records are
// taken while the origin is above 112 and below the page size, at most
// maxRecordsPerPage, and a record met a second time (a looping chain) ends the page. useBackwardFlag: after a
// backward link every later field area runs to the page end (the .ibd walks).
std::vector<CompactChainEntry> compactChain(core::ByteSpan page, std::uint32_t start,
                                            bool useBackwardFlag);

// The records of a redundant index page in chain order (absolute successor offsets):
// nothing when the page fails the redundant infimum test or its first record is the
// supremum. Records are taken while the origin lies past the supremum and inside the
// page, at most 1,501 per page; a record met again or whose header cannot be read ends
// the page.
std::vector<std::uint32_t> redundantChain(core::ByteSpan page);

// The first user record of a leaf page in either record format: where MariaDB keeps the
// instant ALTER metadata record. nullopt when the page holds none.
struct FirstRecord {
    std::uint32_t origin = 0;
    std::uint8_t infoBits = 0;
    std::uint8_t status = 0;  // compact status (redundant records have none: 0)
    bool redundant = false;
    std::uint32_t fieldAreaLength = 0;  // compact: up to the successor
};
std::optional<FirstRecord> firstUserRecord(core::ByteSpan page);

// Main types of the InnoDB dictionary whose length entries may take two bytes whatever
// their declared length.
bool isLargeMainType(std::uint32_t mainType);

}  // namespace dunmore::innodb
