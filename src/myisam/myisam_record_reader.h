#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/byte_reader.h"
#include "myisam/myisam_reader.h"
#include "values/value_decoder.h"

namespace dunmore::myisam {

// Where one table column lives in a MyISAM record, worked out once per table.
struct MyisamColumnPlace {
    // The MyisamColumn that holds the column's bytes (matched by record offset), or -1
    // (a BIT(1..7) column has no bytes of its own, or the .MYI head was not read).
    int myisamIndex = -1;
    // The column's null flag: byte offset in the record and mask; mask 0 = NOT NULL.
    std::uint32_t nullPos = 0;
    std::uint8_t nullBit = 0;
    // The bits of a BIT column that do not fill a whole byte: they follow the column's
    // null bit in the null-flag area (bitCount 0 when there are none).
    std::uint32_t bitPos = 0;
    std::uint8_t bitOffset = 0;
    std::uint8_t bitCount = 0;
};

struct MyisamRowLayout {
    std::vector<MyisamColumnPlace> places;    // per table column
    std::vector<int> tableColumnOf;           // per MyisamColumn: table column or -1
    std::vector<std::uint32_t> fieldOffsets;  // per MyisamColumn: offset in the record
    // Bytes of the null-flag area at the start of the record.
    std::uint32_t nullAreaLength = 0;
    values::DecodeOptions options;
};

// What a walk passed over besides the rows it appended.
struct WalkCounts {
    std::uint64_t rows = 0;
    std::uint64_t deletedSkipped = 0;  // deleted slots (fixed) or deleted blocks (dynamic)
    std::uint64_t damagedSkipped = 0;  // unreadable headers, broken chains, bad records
    // Where the walk would go on: the position of the next slot or block it would read,
    // and (dynamic) whether it was looking for a block to trust after damage.
    std::uint64_t nextPosition = 0;
    bool searching = false;
};

// Adds the counts of part, a walk that went on where total's left off, to total.
void addWalkCounts(WalkCounts& total, const WalkCounts& part);

// What became of a dynamic record: a row; blocks that do not make a record MyISAM wrote;
// fields that split but hold a value outside its type.
enum class UnpackResult { Row, Malformed, BadValue };

struct WalkOptions {
    values::DecodeOptions decode;
    // Asked before each row (fixed-length) or record (dynamic); false abandons the walk.
    std::function<bool()> beforeRecord;
    // Called after each row with the position at which the walk would continue; false
    // ends the walk. The row is in ctx.columns and, when collectRows is set, also
    // appended to previewRows.
    std::function<bool(std::uint64_t nextPosition)> onRow;
    // Streams that hand every row on at once leave it in ctx.columns: no copy per row.
    bool collectRows = true;
    // The walk takes no slot or record that starts at or after this position.
    std::uint64_t endPosition = ~std::uint64_t{0};
    // Dynamic: the walk starts as one that was looking for a block to trust (a walk that
    // goes on where another left off, WalkCounts::searching).
    bool startSearching = false;
    // Dynamic: when set, a whole record is handed here in place of being decoded into
    // ctx.columns (unpackDynamicRecordValues); the walk goes on by its answer.
    std::function<UnpackResult(const MyisamRowLayout&, core::ByteSpan record)> unpackRecord;
};

// The null flag (and the BIT bits kept among the null flags) of each column, assigned in
// column order as the server does: from bit 0 of the first byte, or from bit 1 in a
// fixed-length table (bit 0 is its delete mark). myisamIndex stays -1.
std::vector<MyisamColumnPlace> nullFlagPlaces(const std::vector<core::ColumnDefinition>& columns,
                                              bool fixedFormat);

// The bytes column col takes in a MyISAM record at its record position (the server's
// pack_length_in_rec): a BIT column without the bits kept among the null flags, a
// VARCHAR with its length bytes, a BLOB or GEOMETRY as its length and a memory pointer.
std::uint32_t recordWidth(const core::ColumnDefinition& col);

// The layout of ctx's table: table columns matched to MyisamColumns by record offset,
// null flags and BIT bits as the server places them (bit 0 of the first null-flag byte
// is reserved for the delete mark in fixed-length tables). Never fails; columns it
// cannot place have myisamIndex -1 and read from their .frm position.
MyisamRowLayout buildRowLayout(const MyisamReader& ctx,
                               const values::DecodeOptions& options);

// The null rule: when the null flag of table column k is set in nullFlags, its value
// becomes "NULL" and isNull is set, whatever its decoded text. Flags outside nullFlags
// count as clear.
void applyNullRule(MyisamReader& ctx, const MyisamRowLayout& layout, std::size_t k,
                   core::ByteSpan nullFlags);

// The full big-endian bytes of a BIT column: the bits kept in the null-flag area (when
// the column has them) followed by its whole bytes from the record.
void assembleBitValue(const MyisamColumnPlace& place, core::ByteSpan nullFlags,
                      core::ByteSpan wholeBytes, std::vector<std::uint8_t>& out);

// Appends a copy of ctx.columns (the row just decoded) to previewRows.
void appendRow(MyisamReader& ctx);

enum class SlotState { Row, Deleted, Damaged };

// Decodes the fixed-length record in `record` (one slot, starting at its null-flag
// bytes) into the values of ctx.columns: Row. A deleted slot (first byte 0, MyISAM's
// delete mark) decodes nothing: Deleted. A slot that is no record the server wrote (the
// delete-mark bit of a live record clear, every byte 0xFF, a VARCHAR length above its
// column, a value outside its type) is Damaged; the values of ctx.columns are then not
// those of a row.
SlotState decodeFixedSlot(MyisamReader& ctx, const MyisamRowLayout& layout,
                          core::ByteSpan record);
// decodeFixedSlot, then, for a Row, the row appended to previewRows (true).
bool decodeFixedRow(MyisamReader& ctx, const MyisamRowLayout& layout,
                    core::ByteSpan record);
// The same for the slot at rowPosition of ctx.dataFile.
bool decodeFixedRow(MyisamReader& ctx, const MyisamRowLayout& layout,
                    std::uint64_t rowPosition);

// Walks ctx.dataFile from startPosition: fixed-length slots, dynamic blocks or, for a
// compressed table or a table without columns, nothing. Live rows only; the walk always
// moves forward and ends at the end of the file, when onRow or beforeRecord says stop,
// or when the file is not open. Returns what it passed.
WalkCounts walkMyisamRows(MyisamReader& ctx, std::uint64_t startPosition,
                          const WalkOptions& options);

// The distance between fixed-length slots: the .frm record length when it equals the
// .MYI packed record length or the latter is not below the file length, else the packed
// record length; 0 when neither is usable.
std::uint64_t fixedRowStep(const MyisamReader& ctx, std::uint64_t fileLength);

}  // namespace dunmore::myisam
