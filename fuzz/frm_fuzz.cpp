// fuzz-link: dunmore_schema
// fuzz-seeds: ../shared/peer-fixtures/dbsake/*.frm ../shared/peer-fixtures/mariadb-server/std_data/*.frm ../shared/peer-fixtures/mariadb-server/std_data/*/*.frm ../shared/peer-fixtures/mysql-utilities/std_data/frm_files/*.frm ../shared/peer-fixtures/go-frm-parser/*.frm
// The .frm reader over arbitrary file contents: a read always ends with a status, never
// reads outside its buffers, and what it keeps is bounded by the file: every column has
// a record of at least 11 bytes, every ENUM/SET member a separator byte and every key
// part a description of at least 7 bytes.
#include "schema/column_type.h"
#include "schema/frm_reader.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("dunmore-frm-fuzz-" + std::to_string(::getpid()));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    // A new definition for every run, as the jobs make one per table.
    dunmore::core::TableDefinitionState ctx;
    static dunmore::core::AppSettings settings;
    const dunmore::core::Status status =
        dunmore::schema::readTableDefinitionStatus(ctx, path, settings);
    if (ctx.columns.size() * 11 > size) std::abort();
    if (ctx.intervalValues.size() > size) std::abort();
    if (!status.isOk() && status.code() != dunmore::core::StatusCode::Corrupt &&
        !ctx.columns.empty())
        std::abort();
    const dunmore::schema::CollationTable collations;
    for (const auto& column : ctx.columns) {
        if (column.members.size() > size) std::abort();
        const std::string type = dunmore::schema::columnTypeText(ctx.tableCharset, column, collations);
        if (type.empty()) std::abort();
        (void)dunmore::schema::quoteIdentifier(column.name);
        (void)dunmore::schema::escapeSqlText(column.comment);
    }
    for (const auto& key : ctx.keys)
        if (key.parts.size() * 7 > size) std::abort();
    return 0;
}
