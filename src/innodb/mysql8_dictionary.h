#pragma once

#include "core/catalogue.h"
#include "core/status.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::innodb {

// One row of a dictionary table: each column's value text by column name, nullopt for
// SQL NULL.
using DictionaryRow = std::map<std::string, std::optional<std::string>>;

// The rows of the table that the SDI Table JSON text json describes, read from the
// tablespace at path (its clustered index from the SDI's root page, records decoded by
// that layout, long values whole, text as UTF-8). Each part that could not be read (a
// damaged page, an unreadable record) is named in problems; the rows read stay. Corrupt
// or Unsupported when json is no readable Table object or the index cannot be found;
// IoError when the file cannot be read.
core::Result<std::vector<DictionaryRow>> readDictionaryTable(const std::filesystem::path& path,
                                                             std::string_view json,
                                                             std::vector<std::string>& problems);

// The views and triggers of a MySQL 8.0+ data folder, read from its data dictionary:
// mysql.schemata (database names), mysql.tables (rows of type VIEW: name and
// view_definition_utf8; other rows name the tables triggers belong to), mysql.triggers
// (name, timing, event, order, action_statement_utf8) and mysql.routines (counted), all
// in the general tablespace mysql.ibd at mysqlIbd, laid out by that file's own SDI.
// What cannot be read (no SDI, a table the SDI does not describe, damaged pages) is named
// in problems; what could be read is kept.
core::DictionaryObjects readMysql8Dictionary(const std::filesystem::path& mysqlIbd);

}  // namespace dunmore::innodb
