#pragma once

#include "core/column_definition.h"

#include <cstdint>

namespace dunmore::core {

// How InnoDB stores one column of the clustered index. The definition of a MySQL 8.0+
// table read from the SDI of its tablespace carries these for every field of its records.
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
    // MariaDB 10.3+: the instant default is stored externally (column.value holds its
    // local bytes and the 20-byte reference).
    bool instantDefaultExternal = false;
};

}  // namespace dunmore::core
