#pragma once

#include "core/byte_reader.h"
#include "core/innodb_column.h"
#include "core/read_only_file.h"
#include "core/status.h"
#include "innodb/innodb_reader.h"

#include <cstdint>

namespace dunmore::schema {
class CollationTable;
}

namespace dunmore::innodb {

// InnoDB main types (data0type.h).
inline constexpr std::uint32_t kMainVarchar = 1;
inline constexpr std::uint32_t kMainChar = 2;
inline constexpr std::uint32_t kMainFixBinary = 3;
inline constexpr std::uint32_t kMainBinary = 4;
inline constexpr std::uint32_t kMainBlob = 5;
inline constexpr std::uint32_t kMainInt = 6;
inline constexpr std::uint32_t kMainSysChild = 7;
inline constexpr std::uint32_t kMainSys = 8;
inline constexpr std::uint32_t kMainFloat = 9;
inline constexpr std::uint32_t kMainDouble = 10;
inline constexpr std::uint32_t kMainDecimal = 11;
inline constexpr std::uint32_t kMainVarMysql = 12;
inline constexpr std::uint32_t kMainMysql = 13;
inline constexpr std::uint32_t kMainGeometry = 14;

// Precise-type bits.
inline constexpr std::uint32_t kPreciseNotNull = 0x100;
inline constexpr std::uint32_t kPreciseUnsigned = 0x200;
inline constexpr std::uint32_t kPreciseBinary = 0x400;
inline constexpr std::uint32_t kPreciseLongTrueVarchar = 0x1000;
inline constexpr std::uint32_t kPreciseVirtual = 0x2000;
// Longest column InnoDB keeps at a fixed place in a compact record.
inline constexpr std::uint32_t kMaxFixedColumnLength = 768;

// Precise types of the hidden system columns (DATA_ROW_ID, DATA_TRX_ID, DATA_ROLL_PTR
// with NOT NULL).
inline constexpr std::uint32_t kPreciseRowId = 0x100;
inline constexpr std::uint32_t kPreciseTrxId = 0x101;
inline constexpr std::uint32_t kPreciseRollPtr = 0x102;

// The collation number held in bits 16..30 of a precise type (15 bits: MariaDB 10.10+
// and MySQL 8 have collation numbers above 255).
inline constexpr std::uint32_t kCollationMask = 0x7FFF;
constexpr std::uint32_t collationOf(std::uint32_t preciseType) {
    return (preciseType >> 16) & kCollationMask;
}

// Bytes a field always occupies in a compact record, 0 when the record carries its length.
std::uint32_t fixedLengthOf(std::uint32_t mainType, std::uint32_t preciseType,
                            std::uint32_t length, std::uint32_t mbMinMaxLen);

// Builds ctx.innodbColumns from ctx.columns alone, with the type, precise type, length
// and collation InnoDB records for each column in SYS_COLUMNS, then buildClusteredFields.
// Requires: ctx.columns and ctx.keys hold the current table's definition; clusteredFields
// is empty.
void buildColumnsFromDefinition(InnodbReader& ctx,
                                const schema::CollationTable& collations);

// The InnodbColumn of one definition column (position = its index).
core::InnodbColumn columnFromDefinition(const core::ColumnDefinition& column,
                                        const schema::CollationTable& collations);

// Builds ctx.innodbColumns from the SYS_COLUMNS records of tableId, then
// buildClusteredFields. A column takes the record of its name (case-insensitive; by
// position only when no name of the table matches), a live record before a delete-marked
// one. Virtual columns are not stored and get no field; nor does a column without a
// record. Returns why the definition and the dictionary disagree (a column without a
// record, or one whose recorded MySQL type or fixed byte length is not its .frm's): the
// rows would then be decoded as values they are not. Empty when they agree.
// Requires: as buildColumnsFromDefinition.
std::string buildColumnsFromDictionary(InnodbReader& ctx, std::uint64_t tableId);

// Fills ctx.clusteredFields from ctx.innodbColumns and empties innodbColumns. The
// clustering key is the PRIMARY key, else the first UNIQUE key whose parts are all NOT
// NULL whole columns, else the hidden DB_ROW_ID; its fields come in key-part order (from
// ctx.keys), then DB_TRX_ID and DB_ROLL_PTR, then every other column in table order. A
// key part that holds only a prefix of its column is a hidden field (its value is not
// decoded) and the whole column follows with the other columns.
void buildClusteredFields(InnodbReader& ctx);

// MariaDB 10.4+: after an instant DROP COLUMN or column reorder, the clustered records
// keep their original field order, which the metadata record at the start of the
// leftmost leaf records in a BLOB: u32 count of non-key fields, then per physical field a
// u16: the column's InnoDB position, or 0x8000 for a dropped column with 0x4000 NOT NULL
// and fixed length + 1 (0 short variable, 1 variable of more than 255 bytes) below.
// Reorders ctx.clusteredFields to that physical order; dropped columns become hidden
// fields. leaf is the leftmost leaf page of the clustered index, read from file. Without
// such a metadata record nothing changes. Corrupt (nothing changed) when the metadata
// cannot be read or does not fit the layout.
// Requires: ctx.clusteredFields built by one of the builders for this table.
core::Status applyInstantMetadata(InnodbReader& ctx, core::ReadOnlyFile& file,
                                  core::ByteSpan leaf);

// Null-bitmap bytes of a compact record: ceil(N / 8) for the N nullable clustered fields.
std::uint32_t nullBitmapSize(const InnodbReader& ctx);
// The same for a record that stores only the first count fields of ctx.clusteredFields.
std::uint32_t nullBitmapSizeOfFirst(const InnodbReader& ctx, std::size_t count);

}  // namespace dunmore::innodb
