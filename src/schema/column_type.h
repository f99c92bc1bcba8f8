#pragma once

#include "core/column_definition.h"
#include "schema/collation_table.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dunmore::schema {

// The SQL type text of a column ("VARCHAR(255)", "INT UNSIGNED", "TIME(3)"). Character
// lengths are divided by the maximum bytes per character of the column's character set
// (of the table's when they are the same); without a table character set, or when the
// collation is not in the table, the byte length stays. ENUM and SET list every member
// (the empty one too) in quotes with apostrophes and backslashes escaped.
std::string columnTypeText(std::uint32_t tableCharset, const core::ColumnDefinition& column,
                           const CollationTable& collations);

// text for use inside an SQL string literal: each apostrophe doubled, each backslash
// doubled.
std::string escapeSqlText(std::string_view text);

// name in back-quotes, with each back-quote it contains doubled.
std::string quoteIdentifier(std::string_view name);

}  // namespace dunmore::schema
