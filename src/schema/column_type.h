#pragma once

#include "core/column_definition.h"
#include "schema/collation_table.h"

#include <cstdint>
#include <string>

namespace dunmore::schema {

// The SQL type text of a column ("VARCHAR(255)", "INT UNSIGNED", "TIME(3)").
std::string columnTypeText(std::uint32_t tableCharset, const core::ColumnDefinition& column,
                           const CollationTable& collations);

}  // namespace dunmore::schema
