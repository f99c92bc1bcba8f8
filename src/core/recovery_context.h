#pragma once

#include "core/column_definition.h"
#include "core/innodb_records.h"
#include "core/myisam_records.h"
#include "core/read_only_file.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::core {

// The table definition read last: the parts of the context that a .frm read refills.
struct TableDefinitionState {
    std::uint8_t engineCode = 0;  // 9 MyISAM, 12 InnoDB
    std::uint32_t tableCharset = 0;
    std::vector<ColumnDefinition> columns;
    std::vector<std::string> intervalValues;
    std::uint32_t recordLength = 0;
    std::uint32_t nullBitmapBytes = 0;
    std::vector<KeyInfo> keys;  // in file order
    std::uint32_t mysqlVersion = 0;  // header offset 51
    // MySQL 8.0+ tables defined by the SDI of their tablespace: the clustered index's
    // root page (0 for a .frm table) and every field of its records in record order.
    std::uint32_t sdiRootPage = 0;
    std::vector<InnodbColumn> sdiFields;
};

inline constexpr std::uint8_t kEngineMyisam = 9;
inline constexpr std::uint8_t kEngineInnodb = 12;

// The one working object handed to every engine routine. At any time it describes at
// most one table, the one read last.
struct RecoveryContext : TableDefinitionState, MyisamState, InnodbState {
    std::array<std::uint8_t, kInnodbPageSize> pageBuffer{};
    std::vector<RowValues> previewRows;
    std::vector<PagePosition> pageStack;
    bool moreRows = false;
    bool keepPositions = false;

    ReadOnlyFile definitionFile;
    ReadOnlyFile dataFile;
    ReadOnlyFile indexFile;
    ReadOnlyFile systemTablespace;
    ReadOnlyFile tablespaceFile;

    // Returns every per-table part to its initial state before the next table is read:
    // nothing of one table may survive into the next. The dictionary of ibdata1 and the
    // open system tablespace stay.
    void clearTable() {
        static_cast<TableDefinitionState&>(*this) = TableDefinitionState{};
        static_cast<MyisamState&>(*this) = MyisamState{};
        previewRows.clear();
        clusteredFields.clear();
        innodbColumns.clear();
        tableSysColumns.clear();
        sdiFields.clear();
        sdiRootPage = 0;
        lastFilHeader = FilHeader{};
        tablespaceSelected = false;
        clusteredRoot = 0;
        clusteredIndexId = 0;
    }
};

}  // namespace dunmore::core
