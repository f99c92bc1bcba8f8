#pragma once

#include "core/byte_reader.h"
#include "innodb/innodb_reader.h"
#include "core/settings.h"
#include "innodb/index_walk.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace dunmore::innodb {

// The fields a MySQL 8 clustered record stores, by its info bits: with the instant flag
// (0x80, 8.0.12 - 8.0.28) its own count of fields follows the header; with the version
// flag (0x40, 8.0.29+) its row version (one byte) does, and the fields of that version
// are stored (added at or before it, not dropped at or before it); without either, the
// fields the table had before its first instant ADD or DROP.
struct Mysql8RecordShape {
    std::vector<bool> present;  // per entry of ctx.sdiFields
    std::int64_t nullBase = 0;  // the first (highest) byte of the null bitmap
    std::uint32_t nullBytes = 0;
    bool ok = true;
};
Mysql8RecordShape mysql8RecordShape(const InnodbReader& ctx, core::ByteSpan page,
                                    std::uint32_t origin);

// Locates a table whose definition came from the SDI (ctx.sdiRootPage set): opens
// dbFolder/tableName.ibd into tablespaceFile, takes ctx.sdiFields as the layout and
// descends from the SDI's root page to the leftmost leaf.
TableStart locateSdiTable(InnodbReader& ctx, const std::filesystem::path& dbFolder,
                          const std::string& tableName);
// The same for the tablespace at path (a general tablespace such as mysql.ibd holds many
// tables; the SDI's root page says where this one is).
TableStart locateSdiTablespace(InnodbReader& ctx, const std::filesystem::path& path);

// decodeLeafRecord for a MySQL 8 table: every field of ctx.sdiFields the record stores is
// decoded (hidden ones are passed over), every table column it lacks takes its instant
// default (NULL when none is known). Damage as decodeLeafRecord: fields whose header
// entries are lost get the empty text, and the result is false.
bool decodeSdiLeafRecord(InnodbReader& ctx, core::AppSettings& settings,
                         core::ByteSpan page, std::uint32_t origin, std::uint32_t fieldAreaLength);

}  // namespace dunmore::innodb
