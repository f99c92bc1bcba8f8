#pragma once

#include "core/column_definition.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::core {

inline constexpr std::uint32_t kInnodbPageSize = 16384;
inline constexpr std::uint32_t kFilNull = 0xFFFFFFFF;

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

struct RollPointer {
    std::uint8_t insertFlag = 0;
    std::uint8_t rollbackSegment = 0;
    std::uint32_t undoPage = 0;
    std::uint16_t undoOffset = 0;
};

struct SysTablesRecord {
    std::string name;
    std::array<std::uint8_t, 6> trxId{};
    RollPointer rollPtr;
    std::uint64_t id = 0;
    std::uint32_t columnCount = 0;
    std::uint32_t type = 0;
    std::uint64_t mixId = 0;
    std::uint32_t mixLength = 0;
    std::uint32_t space = 0;
    // N_COLS had its top bit set: the table's records are in the compact format.
    bool compact = false;
    // The record carries the delete mark (a dropped table not yet purged).
    bool deleted = false;
};

struct SysColumnsRecord {
    std::uint64_t tableId = 0;
    std::uint32_t position = 0;
    std::array<std::uint8_t, 6> trxId{};
    RollPointer rollPtr;
    std::string name;
    std::uint32_t mainType = 0;
    std::uint32_t preciseType = 0;
    std::uint32_t mbMinMaxLen = 0;
    std::uint32_t mbMinLen = 0;
    std::uint32_t mbMaxLen = 0;
    std::uint32_t length = 0;
    std::uint32_t precision = 0;
    bool deleted = false;
};

struct SysIndexesRecord {
    std::uint64_t tableId = 0;
    std::uint64_t indexId = 0;
    std::array<std::uint8_t, 6> trxId{};
    RollPointer rollPtr;
    std::string name;
    std::uint32_t fieldCount = 0;
    std::uint32_t type = 0;
    std::uint32_t space = 0;
    std::uint32_t rootPage = 0;
    bool deleted = false;
};

// How InnoDB stores one column of the clustered index.
struct InnodbColumn {
    std::uint32_t mainType = 0;
    std::uint32_t preciseType = 0;
    std::uint32_t length = 0;
    std::uint32_t precision = 0;
    std::uint32_t position = 0;
    std::uint32_t fixedLength = 0;
    std::uint32_t mbMinMaxLen = 0;
    ColumnDefinition column;
    bool placed = false;
    // A hidden system column (DB_ROW_ID, DB_TRX_ID, DB_ROLL_PTR): decoded as nothing.
    bool hidden = false;
    // MySQL 8.0.29+ row versions: the version that added the field (0: there from the
    // start) and the one that dropped it (0: not dropped).
    std::uint8_t versionAdded = 0;
    std::uint8_t versionDropped = 0;
    // MySQL 8.0.12+ instant ADD COLUMN: records older than the field lack it and take this
    // value (column.value holds its stored bytes, column.isNull a NULL default).
    bool hasInstantDefault = false;
    // Added by an instant ADD of 8.0.12 - 8.0.28: absent from records without their own
    // field count.
    bool instantAdded = false;
};

// Where a later preview screen starts.
struct PagePosition {
    std::uint32_t page = 0;
    std::uint64_t offset = 0;
};

// The InnoDB part of the working context.
struct InnodbState {
    std::vector<SysTablesRecord> sysTables;
    std::vector<SysColumnsRecord> sysColumns;
    std::vector<SysIndexesRecord> sysIndexes;
    std::vector<SysColumnsRecord> tableSysColumns;
    std::vector<InnodbColumn> innodbColumns;
    std::vector<InnodbColumn> clusteredFields;
    FilHeader lastFilHeader;
    std::uint64_t systemPageCount = 0;
    std::uint64_t tablespacePageCount = 0;
    bool tablespaceSelected = false;
    // The clustered index of the table located last: its root page and (from the
    // dictionary) its index id; 0 when not known.
    std::uint32_t clusteredRoot = 0;
    std::uint64_t clusteredIndexId = 0;
};

}  // namespace dunmore::core
