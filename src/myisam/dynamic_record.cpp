// MyISAM records of the dynamic (packed) format, as mi_dynrec.c writes them.
//
// The .MYD is a sequence of blocks, each starting at a multiple of 4 with a header whose
// first byte is the block type (0 deleted, 1-4 whole record, 5/6/13 first part of a
// chained record, 7-10 last part, 11/12 middle part); lengths and positions are
// big-endian. A record is the concatenation of its blocks' data. It starts with
// `packBits` flag bytes, then the fields in MyisamColumn order: normal fields at their
// length, VARCHARs with a 1-byte (or 1/3-byte) length, space-stripped CHARs with a
// length when their flag bit is set, skip-zero fields absent when their flag bit is set,
// BLOBs as a 1-4 byte length and the data (absent, meaning empty, when the flag bit is
// set). See docs/formats/myisam.md for the header table.
#include "myisam/dynamic_record.h"

#include <algorithm>
#include <unordered_set>

#include "myisam/myisam_header.h"
#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "values/charset.h"
#include "values/sql_literal.h"
#include "values/value_decoder.h"

namespace dunmore::myisam {
namespace {

// A BLOB field in the unpacked record is its length (1-4 bytes) and a memory pointer.
constexpr std::uint32_t kBlobPointerSize = 8;
constexpr std::uint8_t kLongVarcharMark = 255;
constexpr std::uint32_t kMaxFieldLength = 65535;
constexpr std::size_t kLinearVisitLimit = 64;
// The link of a deleted block that has no neighbour.
constexpr std::uint64_t kNoBlock = ~std::uint64_t{0};

const std::vector<std::uint8_t>& zeroBytes() {
    static const std::vector<std::uint8_t> zeros(kMaxFieldLength + 1, 0);
    return zeros;
}

// Block positions of the chain being collected, so that a chain can never revisit one.
class VisitedBlocks {
public:
    void clear() {
        m_list.clear();
        m_set.clear();
    }
    // False when position was visited already.
    bool insert(std::uint64_t position) {
        if (m_list.size() < kLinearVisitLimit) {
            if (std::find(m_list.begin(), m_list.end(), position) != m_list.end()) return false;
            m_list.push_back(position);
            return true;
        }
        if (m_set.empty()) m_set.insert(m_list.begin(), m_list.end());
        return m_set.insert(position).second;
    }

private:
    std::vector<std::uint64_t> m_list;
    std::unordered_set<std::uint64_t> m_set;
};

}  // namespace

std::uint32_t decodeBlockHeader(BlockInfo& info, std::uint64_t position) {
    core::ByteReader r(info.header);
    const std::uint8_t type = r.u8();
    std::uint32_t flags = 0;
    const bool firstType = type <= 6 || type == 13;
    if (info.secondRead ? firstType : !firstType) flags |= kBlockSyncError;
    switch (type) {
        case 0:
            info.blockLength = r.u24be();
            r.seek(4);
            info.nextPosition = r.u64be();
            info.previousPosition = r.u64be();
            info.dataPosition = position;
            if (info.blockLength < kMinBlockLength || info.blockLength % kBlockAlignment != 0)
                return kBlockError;
            return flags | kBlockDeleted;
        case 1:
            info.recLength = info.dataLength = info.blockLength = r.u16be();
            info.dataPosition = position + 3;
            return flags | kBlockFirst | kBlockLast;
        case 2:
            info.recLength = info.dataLength = info.blockLength = r.u24be();
            info.dataPosition = position + 4;
            return flags | kBlockFirst | kBlockLast;
        case 3:
            info.recLength = info.dataLength = r.u16be();
            info.blockLength = info.recLength + r.u8();
            info.dataPosition = position + 4;
            return flags | kBlockFirst | kBlockLast;
        case 4:
            info.recLength = info.dataLength = r.u24be();
            info.blockLength = info.recLength + r.u8();
            info.dataPosition = position + 5;
            return flags | kBlockFirst | kBlockLast;
        case 5:
            info.recLength = r.u16be();
            info.dataLength = info.blockLength = r.u16be();
            info.nextPosition = r.u64be();
            info.secondRead = true;
            info.dataPosition = position + 13;
            return flags | kBlockFirst;
        case 6:
            info.recLength = r.u24be();
            info.dataLength = info.blockLength = r.u24be();
            info.nextPosition = r.u64be();
            info.secondRead = true;
            info.dataPosition = position + 15;
            return flags | kBlockFirst;
        case 7:
            info.dataLength = info.blockLength = r.u16be();
            info.dataPosition = position + 3;
            return flags | kBlockLast;
        case 8:
            info.dataLength = info.blockLength = r.u24be();
            info.dataPosition = position + 4;
            return flags | kBlockLast;
        case 9:
            info.dataLength = r.u16be();
            info.blockLength = info.dataLength + r.u8();
            info.dataPosition = position + 4;
            return flags | kBlockLast;
        case 10:
            info.dataLength = r.u24be();
            info.blockLength = info.dataLength + r.u8();
            info.dataPosition = position + 5;
            return flags | kBlockLast;
        case 11:
            info.dataLength = info.blockLength = r.u16be();
            info.nextPosition = r.u64be();
            info.secondRead = true;
            info.dataPosition = position + 11;
            return flags;
        case 12:
            info.dataLength = info.blockLength = r.u24be();
            info.nextPosition = r.u64be();
            info.secondRead = true;
            info.dataPosition = position + 12;
            return flags;
        case 13:
            info.recLength = r.u32be();
            info.dataLength = info.blockLength = r.u24be();
            info.nextPosition = r.u64be();
            info.secondRead = true;
            info.dataPosition = position + 16;
            return flags | kBlockFirst;
        default:
            return kBlockError;
    }
}

std::uint32_t readBlockHeader(core::ReadOnlyFile& file, BlockInfo& info, std::uint64_t position) {
    file.readAt(position, info.header);
    return decodeBlockHeader(info, position);
}

std::uint32_t readBlockHeader(MyisamReader& ctx, BlockInfo& info, std::uint64_t position) {
    return readBlockHeader(ctx.dataFile, info, position);
}

bool decodeDynamicField(MyisamReader& ctx, const MyisamRowLayout& layout, std::size_t k,
                        core::ByteSpan fieldBytes, core::ByteSpan nullArea) {
    if (k >= layout.tableColumnOf.size() || layout.tableColumnOf[k] < 0) return true;
    const std::size_t column = static_cast<std::size_t>(layout.tableColumnOf[k]);
    if (column >= ctx.columns.size()) return true;
    core::ColumnDefinition& col = ctx.columns[column];
    col.isNull = false;
    const MyisamColumnPlace& place = layout.places[column];
    thread_local std::vector<std::uint8_t> bits;
    if (place.bitCount > 0) {
        assembleBitValue(place, nullArea, fieldBytes, bits);
        fieldBytes = bits;
    }
    if (values::decodeStoredValue(col, fieldBytes, layout.options, col.value)) return false;
    applyNullRule(ctx, layout, column, nullArea);
    return true;
}

bool splitDynamicRecord(const MyisamReader& ctx, core::ByteSpan record,
                        std::vector<core::ByteSpan>& spans, std::vector<std::uint8_t>& restored) {
    constexpr bool kMalformed = false;
    const std::vector<MyisamColumn>& fields = ctx.myisamColumns;
    if (fields.empty() || record.size() < ctx.minPackLength || record.size() < ctx.packBits)
        return kMalformed;
    // Every field of a record that splits is given its span below.
    spans.resize(fields.size());
    const core::ByteSpan zeros = zeroBytes();
    // Space-stripped fields get their spaces back, as MyISAM restores them: a BINARY value
    // or a packed DECIMAL may end or begin with bytes 0x20 that are part of the value.
    // Reserved at the first such field, for all of them, so that the spans into it stay
    // valid.
    restored.clear();
    bool reserved = false;
    const auto reserveRestored = [&] {
        std::size_t strippedTotal = 0;
        for (const MyisamColumn& f : fields)
            if (f.fieldType == kFieldSkipEndspace || f.fieldType == kFieldSkipPrespace)
                strippedTotal += f.fieldLength;
        restored.reserve(strippedTotal);
        reserved = true;
    };

    core::ByteReader r(record);
    r.skip(ctx.packBits);
    std::int64_t minPack = static_cast<std::int64_t>(ctx.minPackLength) - ctx.packBits;
    std::size_t flagPos = 0;
    std::uint32_t bit = 1;
    const auto flagSet = [&] { return (core::readLeAt(record, flagPos, 1) & bit) != 0; };
    const auto nextBit = [&] {
        bit <<= 1;
        if (bit > 128) {
            bit = 1;
            ++flagPos;
        }
    };
    const auto enough = [&](std::int64_t need) {
        return need <= static_cast<std::int64_t>(r.remaining());
    };

    // Taken out of the vectors once: the spans stored below could alias them for the
    // compiler, which would load them again for every field.
    const MyisamColumn* const field = fields.data();
    const std::size_t fieldCount = fields.size();
    core::ByteSpan* const span = spans.data();
    for (std::size_t j = 0; j < fieldCount; ++j) {
        const std::int16_t type = field[j].fieldType;
        const std::uint32_t length = field[j].fieldLength;
        if (type == kFieldNormal || type == kFieldCheck) {
            if (!enough(std::max<std::int64_t>(minPack, length))) return kMalformed;
            minPack -= length;
            span[j] = r.bytes(length);
            continue;
        }
        if (type == kFieldVarchar) {
            std::uint32_t stored = 0;
            if (length <= 256) {
                stored = r.u8();
                if (!r.ok() || length < 1 || stored > length - 1) return kMalformed;
            } else {
                stored = r.u8();
                if (stored == kLongVarcharMark) stored = r.u16be();
                if (!r.ok() || stored > length - 2) return kMalformed;
            }
            if (stored > r.remaining()) return kMalformed;
            span[j] = r.bytes(stored);
            --minPack;
            continue;
        }
        if (flagSet()) {
            if (type == kFieldSkipZero) {
                span[j] = zeros.first(length);
            } else if (type == kFieldBlob) {
                span[j] = {};  // an empty BLOB: length 0
            } else if (type == kFieldSkipEndspace || type == kFieldSkipPrespace) {
                std::uint32_t stored = 0;
                if (length > 255 && (r.peekU8(r.position()) & 128) && r.remaining() > 0) {
                    if (r.remaining() < 2) return kMalformed;
                    const std::uint32_t low = r.u8() & 127;
                    stored = low + (static_cast<std::uint32_t>(r.u8()) << 7);
                } else {
                    if (r.remaining() == 0) return kMalformed;
                    stored = r.u8();
                }
                --minPack;
                if (stored >= length || !enough(minPack + stored)) return kMalformed;
                const core::ByteSpan kept = r.bytes(stored);
                if (!reserved) reserveRestored();
                const std::size_t at = restored.size();
                if (type == kFieldSkipPrespace)
                    restored.insert(restored.end(), length - stored, ' ');
                restored.insert(restored.end(), kept.begin(), kept.end());
                if (type == kFieldSkipEndspace)
                    restored.insert(restored.end(), length - stored, ' ');
                span[j] = core::ByteSpan(restored).subspan(at, length);
            } else {
                span[j] = {};
            }
        } else if (type == kFieldBlob) {
            if (length <= kBlobPointerSize || length > kBlobPointerSize + 4) return kMalformed;
            const std::size_t sizeLength = length - kBlobPointerSize;
            if (r.remaining() < sizeLength) return kMalformed;
            const std::uint64_t blobLength = r.uleN(sizeLength);
            if (blobLength > r.remaining() ||
                static_cast<std::int64_t>(r.remaining() - blobLength) < minPack)
                return kMalformed;
            span[j] = r.bytes(static_cast<std::size_t>(blobLength));
        } else {
            if (type == kFieldSkipEndspace || type == kFieldSkipPrespace) --minPack;
            if (!enough(std::max<std::int64_t>(minPack + length, length))) return kMalformed;
            span[j] = r.bytes(length);
        }
        nextBit();
    }
    // A record whose fields do not use it up exactly (but for its checksum byte) is not
    // what MyISAM wrote.
    return r.ok() && r.remaining() == (ctx.recordChecksum ? 1u : 0u);
}

UnpackResult unpackDynamicRecordValues(MyisamReader& ctx, const MyisamRowLayout& layout,
                                       core::ByteSpan record) {
    const std::vector<MyisamColumn>& fields = ctx.myisamColumns;
    thread_local std::vector<core::ByteSpan> spans;
    thread_local std::vector<std::uint8_t> restored;
    if (!splitDynamicRecord(ctx, record, spans, restored)) return UnpackResult::Malformed;

    core::ByteSpan nullArea;
    if (layout.tableColumnOf.size() == fields.size() && layout.tableColumnOf[0] < 0)
        nullArea = spans[0];
    // Columns without bytes of their own (BIT(1..7)) or without a MyisamColumn still get a
    // value: their bits, or nothing, and their null flag.
    for (std::size_t k = 0; k < ctx.columns.size(); ++k) {
        if (layout.places[k].myisamIndex >= 0) continue;
        core::ColumnDefinition& col = ctx.columns[k];
        col.isNull = false;
        std::vector<std::uint8_t> bits;
        assembleBitValue(layout.places[k], nullArea, {}, bits);
        values::decodeColumnValue(col, bits, layout.options, col.value);
        applyNullRule(ctx, layout, k, nullArea);
    }
    for (std::size_t j = 0; j < fields.size(); ++j)
        if (!decodeDynamicField(ctx, layout, j, spans[j], nullArea)) return UnpackResult::BadValue;
    return UnpackResult::Row;
}

DynamicLiteralPlan planDynamicLiterals(const MyisamReader& ctx, const MyisamRowLayout& layout) {
    DynamicLiteralPlan plan;
    const std::size_t fields = ctx.myisamColumns.size();
    if (layout.places.size() != ctx.columns.size() || layout.tableColumnOf.size() != fields) return plan;
    for (std::size_t k = 0; k < ctx.columns.size(); ++k) {
        const MyisamColumnPlace& place = layout.places[k];
        // Every column from bytes of its own, and those bytes of no other column.
        if (place.myisamIndex < 0 || static_cast<std::size_t>(place.myisamIndex) >= fields ||
            layout.tableColumnOf[static_cast<std::size_t>(place.myisamIndex)] != static_cast<int>(k) ||
            place.bitCount > 0)
            return {};
        const core::ColumnDefinition& col = ctx.columns[k];
        const core::FieldType type = core::fieldType(col.typeCode);
        DynamicLiteralPlan::Column step;
        step.field = static_cast<std::uint32_t>(place.myisamIndex);
        if (type == core::FieldType::Tiny || type == core::FieldType::Short || type == core::FieldType::Int24 ||
            type == core::FieldType::Long || type == core::FieldType::LongLong) {
            step.step = DynamicLiteralPlan::Step::Integer;
            step.width = static_cast<std::uint8_t>(values::storedWidth(col));
        } else if ((type == core::FieldType::Varchar || type == core::FieldType::VarString ||
                    type == core::FieldType::String) &&
                   col.charset > 0 && col.charset != core::kBinaryCollation &&
                   values::isUtf8Collation(static_cast<std::uint32_t>(col.charset))) {
            step.step = DynamicLiteralPlan::Step::Utf8Text;
            step.trimBlanks = type != core::FieldType::Varchar;
        } else if (const auto form = values::storedValueForm(col)) {
            step.step = DynamicLiteralPlan::Step::StoredValue;
            step.form = *form;
        }
        plan.columns.push_back(step);
    }
    plan.usable = true;
    return plan;
}

UnpackResult appendDynamicRecordLiterals(MyisamReader& ctx, const MyisamRowLayout& layout,
                                         const DynamicLiteralPlan& plan, core::ByteSpan record,
                                         std::string_view savingFolder, values::RowText& out) {
    if (!plan.usable) {
        const UnpackResult unpacked = unpackDynamicRecordValues(ctx, layout, record);
        if (unpacked == UnpackResult::Row)
            for (const auto& column : ctx.columns) values::appendSqlLiteral(column, savingFolder, out);
        return unpacked;
    }
    thread_local std::vector<core::ByteSpan> spans;
    thread_local std::vector<std::uint8_t> restored;
    if (!splitDynamicRecord(ctx, record, spans, restored)) return UnpackResult::Malformed;
    core::ByteSpan nullArea;
    if (layout.tableColumnOf[0] < 0) nullArea = spans[0];
    std::string& text = ctx.literalScratch;
    // Taken out of the vectors once: the bytes written through out could alias them for
    // the compiler, which would load them again for every column.
    const DynamicLiteralPlan::Column* const steps = plan.columns.data();
    const core::ColumnDefinition* const columns = ctx.columns.data();
    const MyisamColumnPlace* const places = layout.places.data();
    const core::ByteSpan* const fieldBytes = spans.data();
    const std::size_t columnCount = plan.columns.size();
    for (std::size_t k = 0; k < columnCount; ++k) {
        const DynamicLiteralPlan::Column& step = steps[k];
        const core::ColumnDefinition& col = columns[k];
        const core::ByteSpan bytes = fieldBytes[step.field];
        const MyisamColumnPlace& place = places[k];
        const bool isNull = place.nullBit != 0 && place.nullPos < nullArea.size() &&
                            (nullArea[place.nullPos] & place.nullBit) == place.nullBit;
        if (step.step == DynamicLiteralPlan::Step::StoredValue && !isNull &&
            values::appendStoredValueLiteral(step.form, bytes, out))
            continue;
        if (step.step == DynamicLiteralPlan::Step::Value || step.step == DynamicLiteralPlan::Step::StoredValue) {
            // Checked whether or not its null flag is set, as the values are.
            text.clear();
            if (values::decodeStoredValue(col, bytes, layout.options, text)) return UnpackResult::BadValue;
            if (isNull)
                values::appendSqlLiteral(col, "NULL", true, false, savingFolder, out);
            else
                values::appendSqlLiteral(col, text, false, col.isHexLiteral, savingFolder, out);
            continue;
        }
        if (isNull) {
            values::appendSqlLiteral(col, "NULL", true, false, savingFolder, out);
            continue;
        }
        if (step.step == DynamicLiteralPlan::Step::Integer) {
            // Little-endian; bytes past those given read as zero.
            std::uint64_t v = 0;
            const std::size_t n = std::min<std::size_t>(bytes.size(), step.width);
            if (n == 4)
                v = core::ByteReader(bytes).u32le();
            else
                for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{bytes[i]} << (8 * i);
            values::appendIntegerLiteral(v, step.width, col.isUnsigned, out);
            continue;
        }
        if (values::appendUtf8TextLiteral(bytes, step.trimBlanks, out)) continue;
        text.clear();
        values::decodeStoredValue(col, bytes, layout.options, text);
        values::appendSqlLiteral(col, text, false, col.isHexLiteral, savingFolder, out);
    }
    return UnpackResult::Row;
}

bool unpackDynamicRecord(MyisamReader& ctx, const MyisamRowLayout& layout,
                         core::ByteSpan record) {
    if (unpackDynamicRecordValues(ctx, layout, record) != UnpackResult::Row) return false;
    appendRow(ctx);
    return true;
}

WalkCounts walkDynamicRows(MyisamReader& ctx, const MyisamRowLayout& layout,
                           std::uint64_t startPosition, const WalkOptions& options) {
    WalkCounts counts;
    core::ReadOnlyFile& file = ctx.dataFile;
    const std::uint64_t fileLength = file.size();
    std::vector<std::uint8_t> record;
    VisitedBlocks visited;
    const auto nextAligned = [](std::uint64_t p) {
        return (p / kBlockAlignment + 1) * kBlockAlignment;
    };
    // A deleted block's links are the free-list neighbours: none, or blocks in the file.
    const auto plausibleLink = [&](std::uint64_t link) {
        return link == kNoBlock || (link < fileLength && link % kBlockAlignment == 0);
    };
    // After damage the walk searches for the next block it can trust: a deleted block
    // with plausible links or a record that unpacks. Lengths of anything else are not
    // followed, so that one bad header cannot make the walk jump over good records.
    bool searching = options.startSearching;
    const std::uint64_t end = std::min(fileLength, options.endPosition);

    std::uint64_t p = startPosition;
    for (; p < end;) {
        if (options.beforeRecord && !options.beforeRecord()) break;
        BlockInfo info;
        std::uint32_t flags = readBlockHeader(file, info, p);
        if ((flags & kBlockDeleted) &&
            !(plausibleLink(info.nextPosition) && plausibleLink(info.previousPosition)))
            flags = kBlockError;
        if (flags & kBlockError) {
            if (!searching) ++counts.damagedSkipped;
            searching = true;
            p = nextAligned(p);
            continue;
        }
        if (flags & (kBlockDeleted | kBlockSyncError)) {
            // A deleted block, or a later part of a record met in file order.
            if (flags & kBlockDeleted) ++counts.deletedSkipped;
            const std::uint64_t next = info.dataPosition + info.blockLength;
            p = (searching && !(flags & kBlockDeleted)) || next <= p ? nextAligned(p) : next;
            continue;
        }

        // The first block of a record: collect its chain.
        const std::uint64_t resume = info.dataPosition + info.blockLength;
        ctx.nullAreaFirst = !layout.tableColumnOf.empty() && layout.tableColumnOf[0] < 0;
        // The record's bytes are the first recordLength of record, which only grows: its
        // bytes are read over, not cleared first, record after record.
        std::size_t recordLength = 0;
        visited.clear();
        visited.insert(p);
        std::uint64_t left = info.recLength;
        bool intact = info.recLength <= fileLength;
        while (intact) {
            if (info.dataLength > left || info.dataPosition > fileLength ||
                info.dataLength > fileLength - info.dataPosition) {
                intact = false;
                break;
            }
            if (info.dataLength > 0) {
                const std::size_t at = recordLength;
                recordLength += info.dataLength;
                if (record.size() < recordLength) record.resize(recordLength);
                file.readAt(info.dataPosition, std::span(record).subspan(at, info.dataLength));
            }
            left -= info.dataLength;
            if (left == 0) break;
            if (flags & kBlockLast) {
                intact = false;
                break;
            }
            const std::uint64_t next = info.nextPosition;
            if (next >= fileLength || !visited.insert(next)) {
                intact = false;
                break;
            }
            flags = readBlockHeader(file, info, next);
            if (flags & (kBlockError | kBlockDeleted | kBlockSyncError | kBlockFirst))
                intact = false;
        }

        const core::ByteSpan recordBytes(record.data(), recordLength);
        const UnpackResult unpacked = !intact             ? UnpackResult::Malformed
                                      : options.unpackRecord ? options.unpackRecord(layout, recordBytes)
                                                             : unpackDynamicRecordValues(ctx, layout, recordBytes);
        if (unpacked == UnpackResult::Row) {
            if (options.collectRows) appendRow(ctx);
            searching = false;
            ++counts.rows;
            p = resume > p ? resume : nextAligned(p);
            if (options.onRow && !options.onRow(p)) break;
        } else if (unpacked == UnpackResult::BadValue && !searching) {
            // A record whose blocks and fields are whole but whose values are not ones a
            // server stores: it is lost, the blocks after it are where they say.
            ++counts.damagedSkipped;
            p = resume > p ? resume : nextAligned(p);
        } else {
            if (!searching) ++counts.damagedSkipped;
            searching = true;
            p = nextAligned(p);
        }
    }
    counts.nextPosition = p;
    counts.searching = searching;
    return counts;
}

bool startsBlockRun(core::ReadOnlyFile& file, std::uint64_t position) {
    const std::uint64_t fileLength = file.size();
    if (position % kBlockAlignment != 0 || position >= fileLength) return false;
    const auto plausibleLink = [&](std::uint64_t link) {
        return link == kNoBlock || (link < fileLength && link % kBlockAlignment == 0);
    };
    std::uint64_t p = position;
    for (std::uint32_t k = 0; k < kBlockRunLength && p < fileLength; ++k) {
        BlockInfo info;
        const std::uint32_t flags = readBlockHeader(file, info, p);
        if (flags & kBlockError) return false;
        if ((flags & kBlockDeleted) &&
            !(plausibleLink(info.nextPosition) && plausibleLink(info.previousPosition)))
            return false;
        const std::uint64_t next = info.dataPosition + info.blockLength;
        if (next < p + kMinBlockLength || next % kBlockAlignment != 0 || next > fileLength)
            return false;
        p = next;
    }
    return true;
}

std::uint64_t findBlockRun(core::ReadOnlyFile& file, std::uint64_t from, std::uint64_t limit) {
    limit = std::min(limit, file.size());
    for (std::uint64_t p = (from + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment; p < limit;
         p += kBlockAlignment) {
        if (!startsBlockRun(file, p)) continue;
        // The tail of a record may pass for a block whose end falls on a real one: a few
        // blocks on, the run is the file's own.
        for (std::uint32_t k = 0; k < kBlockRunLength / 2 && p < limit; ++k) {
            BlockInfo info;
            (void)readBlockHeader(file, info, p);
            p = info.dataPosition + info.blockLength;
        }
        return std::min(p, limit);
    }
    return limit;
}

}  // namespace dunmore::myisam
