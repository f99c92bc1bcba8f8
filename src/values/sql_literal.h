#pragma once

#include "core/column_definition.h"

#include <string>
#include <string_view>

namespace dunmore::values {

// The SQL literal of one column of a decoded row, followed by its comma. savingFolder is
// the destination folder of the save in progress (externally stored values arrive as
// the path of a file under it and become a LOAD_FILE call).
std::string sqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder);
void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder,
                      std::string& out);

}  // namespace dunmore::values
