// MyISAM records of the fixed-length format (mi_statrec.c) and the record layout shared
// with the dynamic format.
//
// A fixed-length .MYD is a sequence of slots of the table's record length. A slot starts
// with the null-flag bytes, whose bit 0 of the first byte is always set in a live record;
// a deleted slot has its first byte 0, followed by the free-list link. The columns follow
// at their .frm record positions: integers, floats and temporal types at their stored
// widths, DECIMAL packed, VARCHAR as a 1-byte (byte length below 256) or 2-byte
// little-endian length and its data, CHAR/BINARY padded to their length. A BIT column
// keeps its whole bytes in the record and its remaining bits in the null-flag area,
// right after its own null bit (unless the bits are stored as characters).
// See docs/formats/myisam.md.
#include "myisam/myisam_record_reader.h"

#include <algorithm>

#include "core/field_type.h"
#include "myisam/dynamic_record.h"
#include "myisam/myisam_header.h"

namespace dunmore::myisam {
namespace {

using core::FieldType;
using core::fieldType;
// A BLOB in the record: its length bytes and a memory pointer of 8 bytes.
constexpr std::uint32_t kBlobPointerSize = 8;
constexpr std::uint16_t kPackBitAsChar = 1u << 12;
constexpr std::uint8_t kDeleteMarkClear = 0;
constexpr std::uint8_t kDeleteMarkBit = 0x01;

bool bitsStoredInNullArea(const core::ColumnDefinition& col) {
    return fieldType(col.typeCode) == FieldType::Bit && !(col.packFlags & kPackBitAsChar);
}

// The bytes column col occupies at its record position in a fixed-length record.
std::uint32_t fixedWidth(const core::ColumnDefinition& col) {
    const std::uint32_t length = col.length > 0 ? static_cast<std::uint32_t>(col.length) : 0;
    switch (fieldType(col.typeCode)) {
        case FieldType::Varchar:
            return (length < 256 ? 1 : 2) + length;
        case FieldType::Bit:
            return bitsStoredInNullArea(col) ? length / 8 : (length + 7) / 8;
        // The DECIMAL of servers before 5.0.3 is stored as its text, `length` characters.
        case FieldType::Decimal:
            return length;
        case FieldType::String:
        case FieldType::VarString:
        case FieldType::Json:
        case FieldType::Geometry:
            return length;
        default:
            return values::storedWidth(col);
    }
}

// BLOB/TEXT length bytes by the .frm type code; GEOMETRY and MySQL's JSON use 4.
std::uint32_t blobLengthBytes(std::uint32_t typeCode) {
    switch (fieldType(typeCode)) {
        case FieldType::TinyBlob: return 1;
        case FieldType::Blob: return 2;
        case FieldType::MediumBlob: return 3;
        default: return 4;
    }
}

std::uint32_t recordOffset(const core::ColumnDefinition& col) {
    return col.recordPos > 0 ? col.recordPos - 1 : 0;
}

// One span of a record, clipped to it.
core::ByteSpan slice(core::ByteSpan record, std::size_t offset, std::size_t count) {
    if (offset >= record.size()) return {};
    return record.subspan(offset, std::min(count, record.size() - offset));
}

}  // namespace

std::uint32_t recordWidth(const core::ColumnDefinition& col) {
    switch (fieldType(col.typeCode)) {
        case FieldType::TinyBlob:
        case FieldType::MediumBlob:
        case FieldType::LongBlob:
        case FieldType::Blob:
        case FieldType::Json:
        case FieldType::Geometry:
            return blobLengthBytes(col.typeCode) + kBlobPointerSize;
        default:
            return fixedWidth(col);
    }
}

void appendRow(MyisamReader& ctx) { ctx.previewRows.push_back(ctx.columns); }

std::vector<MyisamColumnPlace> nullFlagPlaces(const std::vector<core::ColumnDefinition>& columns,
                                              bool fixedFormat) {
    std::vector<MyisamColumnPlace> places(columns.size());
    // Null bits in column order, as the server assigns them when it opens the table; the
    // .frm reader's numbers count the columns that are not stored as well.
    std::uint32_t next = fixedFormat ? 1 : 0;
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const core::ColumnDefinition& col = columns[k];
        MyisamColumnPlace& place = places[k];
        if (col.nullable) {
            const std::uint32_t bit = col.nullFlagBit >= 0 ? static_cast<std::uint32_t>(col.nullFlagBit) : next;
            place.nullPos = bit / 8;
            place.nullBit = static_cast<std::uint8_t>(1u << (bit % 8));
            next = bit + 1;
        }
        if (bitsStoredInNullArea(col) && col.length > 0 && (col.length & 7) != 0) {
            const std::uint32_t bit = col.bitFlagsBit >= 0 ? static_cast<std::uint32_t>(col.bitFlagsBit) : next;
            place.bitPos = bit / 8;
            place.bitOffset = static_cast<std::uint8_t>(bit % 8);
            place.bitCount = static_cast<std::uint8_t>(col.length & 7);
            next = bit + place.bitCount;
        }
    }
    return places;
}

MyisamRowLayout buildRowLayout(const MyisamReader& ctx,
                               const values::DecodeOptions& options) {
    MyisamRowLayout layout;
    layout.options = options;
    const std::size_t columnCount = ctx.columns.size();
    layout.places = nullFlagPlaces(ctx.columns, ctx.myisamRowFormat == kRowFormatFixed);

    // MyisamColumns lie end to end from offset 0; match them to table columns by offset.
    const std::size_t fieldCount = ctx.myisamColumns.size();
    layout.tableColumnOf.assign(fieldCount, -1);
    layout.fieldOffsets.resize(fieldCount);
    std::uint32_t offset = 0;
    for (std::size_t j = 0; j < fieldCount; ++j) {
        layout.fieldOffsets[j] = offset;
        offset += ctx.myisamColumns[j].fieldLength;
    }
    for (std::size_t k = 0; k < columnCount; ++k) {
        const core::ColumnDefinition& col = ctx.columns[k];
        if (bitsStoredInNullArea(col) && col.length < 8) continue;  // no bytes of its own
        const std::uint32_t start = recordOffset(col);
        const auto it =
            std::lower_bound(layout.fieldOffsets.begin(), layout.fieldOffsets.end(), start);
        if (it == layout.fieldOffsets.end() || *it != start) continue;
        // Skip empty entries that share the offset.
        std::size_t j = static_cast<std::size_t>(it - layout.fieldOffsets.begin());
        while (j < fieldCount && layout.fieldOffsets[j] == start &&
               ctx.myisamColumns[j].fieldLength == 0)
            ++j;
        if (j >= fieldCount || layout.fieldOffsets[j] != start || layout.tableColumnOf[j] >= 0)
            continue;
        layout.tableColumnOf[j] = static_cast<int>(k);
        MyisamColumnPlace& place = layout.places[k];
        place.myisamIndex = static_cast<int>(j);
        const MyisamColumn& field = ctx.myisamColumns[j];
        // The index file's own record of the null flag wins over the derived one.
        if (col.nullable && field.nullBit != 0) {
            place.nullPos = field.nullPos;
            place.nullBit = field.nullBit;
        }
    }

    layout.nullAreaLength = ctx.nullBitmapBytes;
    if (fieldCount > 0 && layout.tableColumnOf[0] < 0)
        layout.nullAreaLength =
            std::max<std::uint32_t>(layout.nullAreaLength, ctx.myisamColumns[0].fieldLength);
    return layout;
}

void applyNullRule(MyisamReader& ctx, const MyisamRowLayout& layout, std::size_t k,
                   core::ByteSpan nullFlags) {
    if (k >= ctx.columns.size() || k >= layout.places.size()) return;
    const MyisamColumnPlace& place = layout.places[k];
    if (place.nullBit == 0 || place.nullPos >= nullFlags.size()) return;
    if ((nullFlags[place.nullPos] & place.nullBit) != place.nullBit) return;
    core::ColumnDefinition& col = ctx.columns[k];
    col.value = "NULL";
    col.isNull = true;
}

void assembleBitValue(const MyisamColumnPlace& place, core::ByteSpan nullFlags,
                      core::ByteSpan wholeBytes, std::vector<std::uint8_t>& out) {
    out.clear();
    if (place.bitCount > 0) {
        const std::uint32_t low = core::readLeAt(nullFlags, place.bitPos, 1);
        const std::uint32_t high = core::readLeAt(nullFlags, place.bitPos + 1, 1);
        const std::uint32_t bits =
            ((high << 8 | low) >> place.bitOffset) & ((1u << place.bitCount) - 1);
        out.push_back(static_cast<std::uint8_t>(bits));
    }
    out.insert(out.end(), wholeBytes.begin(), wholeBytes.end());
}

SlotState decodeFixedSlot(MyisamReader& ctx, const MyisamRowLayout& layout,
                          core::ByteSpan record) {
    if (record.empty() || record[0] == kDeleteMarkClear) return SlotState::Deleted;
    // A live record keeps bit 0 of its first byte set; a slot of nothing but 0xFF bytes
    // (erased or overwritten storage) is not one a server wrote either.
    if ((record[0] & kDeleteMarkBit) == 0 ||
        std::all_of(record.begin(), record.end(), [](std::uint8_t b) { return b == 0xFF; }))
        return SlotState::Damaged;
    const core::ByteSpan nullFlags = slice(record, 0, layout.nullAreaLength);
    std::vector<std::uint8_t> bitBytes;
    for (std::size_t k = 0; k < ctx.columns.size(); ++k) {
        core::ColumnDefinition& col = ctx.columns[k];
        col.isNull = false;
        const std::uint32_t start = recordOffset(col);
        core::ByteSpan bytes;
        if (fieldType(col.typeCode) == FieldType::Varchar) {
            const std::size_t prefix = col.length < 256 ? 1 : 2;
            const std::size_t stored = core::readLeAt(record, start, prefix);
            if (stored > static_cast<std::size_t>(std::max(col.length, 0))) return SlotState::Damaged;
            bytes = slice(record, start + prefix, stored);
        } else {
            bytes = slice(record, start, fixedWidth(col));
        }
        if (bitsStoredInNullArea(col)) {
            assembleBitValue(layout.places[k], nullFlags, bytes, bitBytes);
            bytes = bitBytes;
        }
        if (values::decodeStoredValue(col, bytes, layout.options, col.value)) return SlotState::Damaged;
        applyNullRule(ctx, layout, k, nullFlags);
    }
    return SlotState::Row;
}

bool decodeFixedRow(MyisamReader& ctx, const MyisamRowLayout& layout,
                    core::ByteSpan record) {
    if (decodeFixedSlot(ctx, layout, record) != SlotState::Row) return false;
    appendRow(ctx);
    return true;
}

bool decodeFixedRow(MyisamReader& ctx, const MyisamRowLayout& layout,
                    std::uint64_t rowPosition) {
    std::vector<std::uint8_t> record(ctx.recordLength ? ctx.recordLength : ctx.myisamRecordLength);
    const std::size_t got = ctx.dataFile.readAt(rowPosition, record);
    if (got == 0) return false;
    return decodeFixedRow(ctx, layout, record);
}

std::uint64_t fixedRowStep(const MyisamReader& ctx, std::uint64_t fileLength) {
    const std::uint64_t frmLength = ctx.recordLength;
    const std::uint64_t packed = ctx.packedRecordLength;
    // With record checksums every slot is one byte longer than the record.
    if (ctx.recordChecksum && packed == frmLength + 1) return packed;
    if (frmLength == packed || packed >= fileLength || packed == 0) return frmLength;
    return packed;
}

namespace {

WalkCounts walkFixedRows(MyisamReader& ctx, const MyisamRowLayout& layout,
                         std::uint64_t startPosition, const WalkOptions& options) {
    WalkCounts counts;
    const std::uint64_t fileLength = ctx.dataFile.size();
    const std::uint64_t step = fixedRowStep(ctx, fileLength);
    if (step == 0) return counts;
    std::size_t slotLength = ctx.recordLength ? ctx.recordLength : ctx.myisamRecordLength;
    if (slotLength == 0) slotLength = static_cast<std::size_t>(step);
    std::vector<std::uint8_t> record(slotLength);
    std::uint64_t p = startPosition;
    const std::uint64_t end = std::min(fileLength, options.endPosition);
    for (; p < end;) {
        if (options.beforeRecord && !options.beforeRecord()) break;
        const std::uint64_t next = p + step;
        if (ctx.dataFile.readAt(p, record) < record.size()) {
            // A slot cut short by the end of the file: its missing bytes were never stored.
            ++counts.damagedSkipped;
            p = fileLength;
            break;
        }
        switch (decodeFixedSlot(ctx, layout, record)) {
            case SlotState::Row:
                if (options.collectRows) appendRow(ctx);
                ++counts.rows;
                if (options.onRow && !options.onRow(next)) {
                    counts.nextPosition = next;
                    return counts;
                }
                break;
            case SlotState::Deleted:
                ++counts.deletedSkipped;
                break;
            case SlotState::Damaged:
                ++counts.damagedSkipped;
                break;
        }
        if (next <= p) {
            p = fileLength;
            break;
        }
        p = next;
    }
    counts.nextPosition = p;
    return counts;
}

}  // namespace

void addWalkCounts(WalkCounts& total, const WalkCounts& part) {
    total.rows += part.rows;
    total.deletedSkipped += part.deletedSkipped;
    total.damagedSkipped += part.damagedSkipped;
    total.nextPosition = part.nextPosition;
    total.searching = part.searching;
}

WalkCounts walkMyisamRows(MyisamReader& ctx, std::uint64_t startPosition,
                          const WalkOptions& options) {
    // Without a definition there are no columns to give a row.
    if (!ctx.dataFile.isOpen() || ctx.columns.empty()) return {};
    const MyisamRowLayout layout = buildRowLayout(ctx, options.decode);
    switch (ctx.myisamRowFormat) {
        case kRowFormatFixed:
            return walkFixedRows(ctx, layout, startPosition, options);
        case kRowFormatDynamic:
            return walkDynamicRows(ctx, layout, startPosition, options);
        default:
            return {};
    }
}

}  // namespace dunmore::myisam
