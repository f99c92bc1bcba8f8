#pragma once

#include "core/byte_reader.h"
#include "core/column_definition.h"
#include "values/row_text.h"

#include <string>
#include <string_view>
#include <vector>

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
//   savingFolder, "blobdata" and a number, joined by separators. The call is guarded:
//   IFNULL(LOAD_FILE('p'),~0+ISNULL(LOAD_FILE('p'))), so that a server that cannot read
//   the file stops at the row with "BIGINT UNSIGNED value is out of range in
//   '~0 + isnull(load_file('p'))'" (error 1690) instead of storing NULL.
std::string sqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder);
// Whether the decoded value is SQL NULL: its null flag, or the text "NULL" in a column
// that cannot hold that word as a value (see sqlLiteral).
bool isSqlNull(const core::ColumnDefinition& column);
void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder,
                      std::string& out);
// The same for the given value text and flags in place of column.value, column.isNull and
// column.isHexLiteral (the column gives the type).
void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view value, bool isNull,
                      bool isHexLiteral, std::string_view savingFolder, std::string& out);
// The same two, appended to a RowText.
void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder, RowText& out);
void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view value, bool isNull,
                      bool isHexLiteral, std::string_view savingFolder, RowText& out);

// The literal of a value of a non-binary character column of a UTF-8 collation straight
// from its stored bytes: what appendSqlLiteral writes for its decoded text, the blanks
// that pad a CHAR value taken off when trimBlanks is set. False, appending nothing, when
// the bytes are not well-formed UTF-8 (their text is then not the bytes themselves).
bool appendUtf8TextLiteral(core::ByteSpan bytes, bool trimBlanks, RowText& out);

// The head of a row's INSERT statement, shared by the MyISAM and InnoDB row streams:
// "INSERT INTO `t`(`a`,`b`) VALUES(" with back-quotes inside names doubled.
std::string insertStatementHead(const std::vector<core::ColumnDefinition>& columns,
                                std::string_view tableName);
// Appends the SQL literals of the row's values, comma-separated. Each literal carries its
// comma; only the last one is taken off, so an empty last literal keeps its separator.
void appendRowValues(const std::vector<core::ColumnDefinition>& row, std::string_view savingFolder,
                     std::string& out);
void appendRowValues(const std::vector<core::ColumnDefinition>& row, std::string_view savingFolder, RowText& out);

}  // namespace dunmore::values
