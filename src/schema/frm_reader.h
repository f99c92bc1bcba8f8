#pragma once

#include "core/recovery_context.h"
#include "core/settings.h"

#include <filesystem>

namespace dunmore::schema {

// Reads the .frm file at path into the TableDefinition parts of ctx (engineCode,
// tableCharset, columns, intervalValues, keys, recordLength, nullBitmapBytes) and sets
// settings.version56OrLater. Returns true also when the file is not a table definition
// at all (nothing changed then); false when a definition turned out damaged part way.
// Requires: the caller emptied columns, intervalValues and keys.
bool readTableDefinition(core::RecoveryContext& ctx, const std::filesystem::path& path,
                         core::AppSettings& settings);

}  // namespace dunmore::schema
