#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_reader.h"
#include "core/read_only_file.h"
#include "myisam/myisam_reader.h"
#include "myisam/myisam_record_reader.h"
#include "values/row_text.h"
#include "values/value_decoder.h"

namespace dunmore::myisam {

// Result flags of a block header.
inline constexpr std::uint32_t kBlockFirst = 1;
inline constexpr std::uint32_t kBlockLast = 2;
inline constexpr std::uint32_t kBlockDeleted = 4;
// Not a valid header: a type above 13, or a deleted block whose length is below the
// smallest block or not a multiple of the block alignment.
inline constexpr std::uint32_t kBlockError = 8;
inline constexpr std::uint32_t kBlockSyncError = 16;

inline constexpr std::size_t kBlockHeaderSize = 20;
// Every block starts at a multiple of 4 and is at least 20 bytes long.
inline constexpr std::uint64_t kBlockAlignment = 4;
inline constexpr std::uint32_t kMinBlockLength = 20;

// One decoded block header of a dynamic-format .MYD.
struct BlockInfo {
    std::array<std::uint8_t, kBlockHeaderSize> header{};
    std::uint32_t recLength = 0;
    std::uint32_t dataLength = 0;
    std::uint32_t blockLength = 0;
    std::uint64_t dataPosition = 0;
    std::uint64_t nextPosition = 0;
    std::uint64_t previousPosition = 0;
    bool secondRead = false;
};

// Decodes the header bytes in info.header for a block at position; returns the flags.
// Reads nothing outside info.header.
std::uint32_t decodeBlockHeader(BlockInfo& info, std::uint64_t position);
// Reads the 20 header bytes at position of file (zeros past its end) and decodes them.
std::uint32_t readBlockHeader(core::ReadOnlyFile& file, BlockInfo& info, std::uint64_t position);
std::uint32_t readBlockHeader(MyisamReader& ctx, BlockInfo& info, std::uint64_t position);

// Splits a complete dynamic record into its fields (MyISAM's packed-record layout, as
// _mi_rec_unpack checks it: every length bounded by the record, and the fields using the
// record up exactly) and decodes them into the values of ctx.columns: Row. Malformed
// (nothing decoded) for a record that does not split so; BadValue for one whose fields
// split but hold a value outside its type (values::storedValueFault): the values of
// ctx.columns are then not those of a row.
UnpackResult unpackDynamicRecordValues(MyisamReader& ctx, const MyisamRowLayout& layout,
                                       core::ByteSpan record);
// The split of unpackDynamicRecordValues: the bytes of each MyisamColumn of the record
// into spans (space-stripped fields restored into restored). False when the record does
// not split so.
bool splitDynamicRecord(const MyisamReader& ctx, core::ByteSpan record,
                        std::vector<core::ByteSpan>& spans, std::vector<std::uint8_t>& restored);

// How the SQL literals of a dynamic table's records are made straight from their fields,
// worked out once per table: per table column, its field and whether it is an integer, a
// UTF-8 character value or a value of values::storedValueForm whose literal is
// written from the stored bytes, or another value, decoded and then made a literal. Usable when every column has bytes of its own
// (no BIT bits among the null flags).
struct DynamicLiteralPlan {
    enum class Step : std::uint8_t { Integer, Utf8Text, StoredValue, Value };
    struct Column {
        Step step = Step::Value;
        std::uint32_t field = 0;
        std::uint8_t width = 0;   // Integer: its stored bytes
        bool trimBlanks = false;  // CHAR: the blanks that pad it are not part of the value
        values::StoredValueForm form;  // StoredValue
    };
    std::vector<Column> columns;
    bool usable = false;
};
DynamicLiteralPlan planDynamicLiterals(const MyisamReader& ctx, const MyisamRowLayout& layout);

// Appends the SQL literals of the record's values, each followed by its comma, in column
// order: what unpackDynamicRecordValues and then values::appendSqlLiteral of each of
// ctx.columns give, without the texts of the values in between where the plan allows.
// Returns what unpackDynamicRecordValues would; when it is not Row, out holds part of a
// row, which the caller cuts off.
UnpackResult appendDynamicRecordLiterals(MyisamReader& ctx, const MyisamRowLayout& layout,
                                         const DynamicLiteralPlan& plan, core::ByteSpan record,
                                         std::string_view savingFolder, values::RowText& out);

// unpackDynamicRecordValues, then the row appended to previewRows.
bool unpackDynamicRecord(MyisamReader& ctx, const MyisamRowLayout& layout,
                         core::ByteSpan record);

// Decodes one unpacked field of MyisamColumn k into its table column's value (nothing when
// k belongs to no table column), then applies the null rule with nullArea. False, decoding
// nothing, when the bytes are no value of the column's type.
bool decodeDynamicField(MyisamReader& ctx, const MyisamRowLayout& layout, std::size_t k,
                        core::ByteSpan fieldBytes, core::ByteSpan nullArea);

// Whether position looks like the start of a block of a dynamic .MYD: it and the blocks
// after it, each where the one before ends, kBlockRunLength of them or up to the end of
// the file, have valid headers, lengths of at least 20 bytes that keep the blocks on
// their 4-byte alignment, and (deleted blocks) links into the file. Record bytes rarely
// pass this; a position that does is still only a guess, which whoever walks from it
// checks.
inline constexpr std::uint32_t kBlockRunLength = 8;
bool startsBlockRun(core::ReadOnlyFile& file, std::uint64_t position);
// A block start in [from, limit) for a walk to begin at: a few blocks on from the first
// position that startsBlockRun; limit (clipped to the file length) when there is none.
std::uint64_t findBlockRun(core::ReadOnlyFile& file, std::uint64_t from, std::uint64_t limit);

// The dynamic half of walkMyisamRows.
WalkCounts walkDynamicRows(MyisamReader& ctx, const MyisamRowLayout& layout,
                           std::uint64_t startPosition, const WalkOptions& options);

}  // namespace dunmore::myisam
