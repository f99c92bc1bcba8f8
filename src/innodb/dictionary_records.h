#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace dunmore::innodb {

// The records of the InnoDB data dictionary in ibdata1 (SYS_TABLES, SYS_COLUMNS,
// SYS_INDEXES), as the dictionary reader decodes them.

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

}  // namespace dunmore::innodb
