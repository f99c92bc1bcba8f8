#pragma once

#include "core/recovery_context.h"
#include "core/status.h"
#include "innodb/dictionary_records.h"
#include "innodb/innodb_reader.h"
#include "innodb/page.h"
#include "innodb/record.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dunmore::schema {
class CollationTable;
}

namespace dunmore::innodb {

// Roots of the dictionary's clustered indexes in ibdata1 of 16 KiB pages.
inline constexpr std::uint32_t kSysTablesRoot = 8;
inline constexpr std::uint32_t kSysColumnsRoot = 10;
inline constexpr std::uint32_t kSysIndexesRoot = 11;
// The data dictionary header: page 7 (FIL_PAGE_TYPE_SYS), naming the roots at
// FIL_PAGE_DATA + 32 (SYS_TABLES), + 40 (SYS_COLUMNS) and + 44 (SYS_INDEXES).
inline constexpr std::uint32_t kDictionaryHeaderPage = 7;
inline constexpr std::uint16_t kSysPageType = 6;

// SYS_INDEXES TYPE bits.
inline constexpr std::uint32_t kIndexClustered = 1;
inline constexpr std::uint32_t kIndexUnique = 2;
// SYS_TABLES N_COLS top bit: the table's records are in the compact format (COMPACT,
// DYNAMIC, COMPRESSED); clear means REDUNDANT.
inline constexpr std::uint32_t kNColsCompact = 0x80000000;

enum class DictionaryKind { SysTables, SysColumns, SysIndexes };

// Opens ibdata1 read-only, loads SYS_TABLES, SYS_COLUMNS and SYS_INDEXES from it and
// hands the result to run.systemTablespace (replacing what a previous scan left). Returns
// false when the file cannot be opened (nothing changes then); true otherwise, even when
// a dictionary index could not be read (that list stays empty or partial).
bool openSystemTablespace(core::RecoveryContext& run, const std::string& path,
                          const schema::CollationTable& collations);
// The same with the application's collation table (the scan hook).
bool openSystemTablespace(core::RecoveryContext& run, const std::string& path);

// Where the dictionary's clustered indexes start.
struct DictionaryRoots {
    std::uint32_t sysTables = kSysTablesRoot;
    std::uint32_t sysColumns = kSysColumnsRoot;
    std::uint32_t sysIndexes = kSysIndexesRoot;
};
// The roots the dictionary header names (ibdata1 of 4 KiB pages keeps SYS_COLUMNS at 11
// and SYS_INDEXES at 12); the 16 KiB roots when the header page is not a system page or
// names a page 0 or one outside the file.
DictionaryRoots readDictionaryRoots(SystemTablespace& system);

// Reads the dictionary index rooted at rootPage of system.file into its list. False when
// the root is not an index page or a read failed (records appended before the failure
// stay).
bool loadDictionaryIndex(SystemTablespace& system, std::uint32_t rootPage, DictionaryKind kind,
                         const schema::CollationTable& collations);

// The leftmost leaf below page of system.file (redundant node pointers), or 0 when a page
// on the way is not an index page, not redundant, empty, or points outside the file. Each
// page is read once; the descent ends after as many levels as the file has pages.
std::uint32_t findLeftmostLeafRedundant(SystemTablespace& system, std::uint32_t page);

// Walks the leaf chain from firstLeaf and appends every record to the kind's list
// (delete-marked ones too, flagged). The walk ends at FIL_NULL, page 0, a page outside
// the file, at a page already visited, or after as many page visits as the file has
// pages. An I/O failure ends it with that Status.
core::Status readDictionaryLeaves(SystemTablespace& system, std::uint32_t firstLeaf,
                                  DictionaryKind kind, const schema::CollationTable& collations);

// Record decoders: a field whose stored length differs from the width of its column keeps
// its initial value.
SysTablesRecord decodeSysTablesRecord(core::ByteSpan page, const RedundantRecord& record);
SysColumnsRecord decodeSysColumnsRecord(core::ByteSpan page, const RedundantRecord& record);
SysIndexesRecord decodeSysIndexesRecord(core::ByteSpan page, const RedundantRecord& record);
// Completes a SYS_COLUMNS record: default collation of character and binary types, and
// mbMinLen / mbMaxLen / mbMinMaxLen from the collation table (0 for unknown numbers).
void completeSysColumnsRecord(SysColumnsRecord& record,
                              const schema::CollationTable& collations);

// The table id of "db/table" (a backslash is accepted for the slash), 0 when not found.
// The comparison is exact and case-sensitive. A live record wins over a delete-marked
// one of the same name; a delete-marked one (a dropped table) is found when it is the
// only one.
std::uint64_t findTableId(const SystemTablespace& dictionary, std::string_view key);

// The root page of the clustered index of a table (the SYS_INDEXES record of the id with
// the clustered bit in TYPE; live records first), 0 when not found.
std::uint32_t findClusteredRoot(const SystemTablespace& dictionary, std::uint64_t tableId);

// The SYS_TABLES record of a table id (live first), or null.
const SysTablesRecord* findSysTable(const SystemTablespace& dictionary, std::uint64_t tableId);

// Where an InnoDB table's rows live.
struct TableLocation {
    bool found = false;       // the table is known: in the dictionary, or its .ibd exists
    bool inOwnFile = false;   // its pages are in ibdPath (else in ibdata1)
    std::uint64_t tableId = 0;   // 0 without a dictionary entry
    std::uint32_t rootPage = 0;  // clustered root; 3 for an .ibd without a dictionary
    std::uint32_t space = 0;     // SYS_TABLES SPACE (0 = ibdata1)
    bool redundant = false;      // ROW_FORMAT=REDUNDANT: records in the redundant format
    std::string ibdPath;         // dbFolder/tableName.ibd
};

// Locates table tableName of the database folder dbFolder (its last path part is the
// database name) through the loaded dictionary, falling back to its .ibd file when the
// dictionary does not know it. Reads no page.
TableLocation locateTable(const SystemTablespace& dictionary, const std::string& dbFolder,
                          const std::string& tableName);

}  // namespace dunmore::innodb
