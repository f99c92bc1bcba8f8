#pragma once

#include "core/table_reader.h"
#include "core/settings.h"
#include "core/status.h"

#include <filesystem>

namespace dunmore::schema {

// Reads the .frm file at path (format versions 6, 7, 9, 10 and 11) into the
// definition ctx (engineCode, tableCharset, columns, intervalValues, keys,
// recordLength, nullBitmapBytes, mysqlVersion) and sets settings.version56OrLater. The
// file is opened read-only and closed before returning. ENUM/SET
// members are decoded in their column's character set as applicationCollations() names
// it (latin1, utf8*, ucs2/utf16/utf16le/utf32; others as UTF-8 with a Windows-1252
// fallback), names and comments as UTF-8 with a Windows-1252 fallback. Returns true also
// when the file is not a table definition at all (nothing changed then); false when it
// cannot be opened or read (nothing changed then either) and when a definition turned
// out damaged part way.
// Requires: the caller emptied columns, intervalValues and keys.
bool readTableDefinition(core::TableDefinitionState& ctx, const std::filesystem::path& path,
                         core::AppSettings& settings);

// The same read with the reason of its outcome: ok when the definition was read;
// IoError when the file cannot be opened and Unsupported when it is not a table
// definition of a known format (in both cases nothing was changed); Corrupt when the
// definition is damaged (message names the file and the offset). readTableDefinition
// returns false exactly for Corrupt and IoError.
core::Status readTableDefinitionStatus(core::TableDefinitionState& ctx,
                                       const std::filesystem::path& path,
                                       core::AppSettings& settings);

}  // namespace dunmore::schema
