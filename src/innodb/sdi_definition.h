#pragma once

#include "core/catalogue.h"
#include "core/table_reader.h"
#include "core/settings.h"
#include "core/status.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dunmore::schema {
class CollationTable;
}

namespace dunmore::innodb {

// What the SDI says of a table beyond its definition.
struct SdiTableInfo {
    std::string name;            // the table's own name
    std::string schema;          // its database
    std::uint32_t serverVersion = 0;  // mysqld_version_id of the server that wrote the SDI
    std::uint32_t rowFormat = 0;      // dd row format: 1 FIXED, 2 DYNAMIC, 3 COMPRESSED, 4 REDUNDANT, 5 COMPACT
    std::uint32_t clusteredRoot = 0;
    std::uint64_t clusteredIndexId = 0;
    std::uint32_t virtualColumns = 0;  // generated VIRTUAL columns (not stored in the rows)
};

// "8.0.40" for a mysqld_version_id of 80040.
std::string serverVersionText(std::uint32_t versionId);
// The ROW_FORMAT name of a dd row format number ("" when unknown).
std::string_view rowFormatName(std::uint32_t rowFormat);

// Fills the definition part of ctx (engine InnoDB, table collation, columns, keys, the
// server version) and its MySQL 8 layout (sdiRootPage and sdiFields: every field of the
// clustered records in record order, with DB_ROW_ID/DB_TRX_ID/DB_ROLL_PTR, FTS_DOC_ID
// and instantly dropped columns as hidden fields, row versions and instant defaults)
// from the Table object of an SDI JSON text. Columns hidden by the storage engine are
// not table columns; INVISIBLE columns are (marked invisible); generated columns go to
// generatedColumns with their expression (a STORED one's field is passed over). Corrupt
// (ctx's definition emptied) when the text is not a Table object of a known layout.
core::Status parseSdiTable(core::TableDefinitionState& ctx, std::string_view json,
                           const schema::CollationTable& collations, SdiTableInfo* info);

// Reads the SDI of the tablespace at ibdPath and fills ctx from its Table record as
// parseSdiTable does. Unsupported/Corrupt/IoError with the reason when the SDI cannot be
// read (readSdiRecords), or when it holds no Table record or more than one.
core::Status readSdiTableDefinition(core::TableDefinitionState& ctx, const std::filesystem::path& ibdPath,
                                    SdiTableInfo* info = nullptr);

// The definition of a catalogue table: its .frm file when the folder has one, otherwise
// the SDI of its .ibd (MySQL 8.0+). The failure says why neither could be read.
// Requires: ctx is a fresh definition (nothing of another table in it).
core::Status readCatalogueTableDefinition(core::TableDefinitionState& ctx, const core::Catalogue& cat,
                                          const core::TableEntry& table,
                                          core::AppSettings& settings,
                                          SdiTableInfo* info = nullptr);

}  // namespace dunmore::innodb
