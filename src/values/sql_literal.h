#pragma once

#include "core/column_definition.h"

#include <string>
#include <string_view>

namespace dunmore::values {

// The SQL literal of one column of a decoded row, followed by its comma. savingFolder is
// the destination folder of the save in progress (externally stored values arrive as
// the path of a file under it and become a LOAD_FILE call).
// - column.isNull gives NULL (the empty literal '' for a primary-key column). The text
//   "NULL" alone also means NULL, except in a text, ENUM or SET column, where it is the
//   stored four-letter string.
// - Quoted literals escape backslash, NUL, LF, CR, Ctrl-Z and '"' with a backslash and
//   double the apostrophe; bare literals (numbers, 0x hex, b'bits') are written bare
//   only when the text has that form, else quoted; an empty bare value is ''.
// - A BLOB/TEXT value is a LOAD_FILE call only when it is exactly a blob file path:
//   savingFolder, "blobdata" and a number, joined by separators.
std::string sqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder);
void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder,
                      std::string& out);

}  // namespace dunmore::values
