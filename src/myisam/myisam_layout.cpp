// The layout of a MyISAM data file when its .MYI head cannot be trusted: derived from the
// table's .frm the way the server lays out a new table (ha_myisam.cc table2myisam, then
// mi_create.c):
//
// - record definitions in record order: each column with bytes of its own at its .frm
//   record position (a gap before it, such as the null-flag bytes, is a definition of
//   type normal);
// - field types: BLOB, TEXT, GEOMETRY and JSON blob; TIMESTAMP normal; VARCHAR varchar;
//   in a fixed-length table everything else normal; in a packed one TIMESTAMP2 skip pre
//   space, types that pack their zero value (numbers, temporal types, SET, BIT) skip zero,
//   the rest (CHAR, BINARY, ENUM, DECIMAL) normal up to 3 bytes or with ZEROFILL, skip
//   end space for CHAR and BINARY and skip pre space for DECIMAL beyond;
// - when the flagged fields number 8n + 1, the last skip-zero field of one byte becomes
//   normal (one flag byte fewer);
// - the minimum packed length: the normal fields, one length byte per VARCHAR and
//   space-stripped field, every VARCHAR whole in a fixed-length table, the checksum
//   byte and the flag bytes; a fixed-length slot is the record, at least one byte longer
//   than a record pointer (6 bytes, fewer with a small MAX_ROWS), and the checksum byte.
// See docs/formats/myisam.md.
#include "myisam/myisam_layout.h"

#include <algorithm>
#include <vector>

#include "core/field_type.h"
#include "core/read_only_file.h"
#include "myisam/myisam_record_reader.h"

namespace dunmore::myisam {
namespace {

constexpr std::uint16_t kCreateOptionPackRecord = 0x0001;
constexpr std::uint16_t kCreateOptionChecksum = 0x0020;
constexpr std::uint32_t kBaseInfoSize = 100;
// A dynamic record takes at least one block of 20 bytes.
constexpr std::uint64_t kMinBlockLength = 20;
// The largest data file MyISAM can address (7-byte record pointers).
constexpr std::uint64_t kMaxDataFileLength = std::uint64_t{1} << 56;
constexpr std::uint32_t kDefaultPointerLength = 6;
constexpr std::uint32_t kLongVarcharLength = 257;
// myisampack writes FE FE 08 and a version byte at the start of the data file.
constexpr std::uint8_t kPackedFileMagic[3] = {0xFE, 0xFE, 0x08};

using core::FieldType;
using core::fieldType;

bool isBlob(FieldType t) {
    return core::isBlobType(t) || t == FieldType::Json || t == FieldType::Geometry;
}

// Whether the server's field packs its zero value away (Field::zero_pack): every type but
// the character, binary, ENUM and DECIMAL ones.
bool packsZero(FieldType t) {
    switch (t) {
        case FieldType::Decimal:
        case FieldType::NewDecimal:
        case FieldType::Varchar:
        case FieldType::Enum:
        case FieldType::VarString:
        case FieldType::String:
            return false;
        default:
            return !isBlob(t);
    }
}

std::int16_t fieldTypeOf(const core::ColumnDefinition& col, std::uint32_t width, bool packRecord) {
    const FieldType t = fieldType(col.typeCode);
    if (isBlob(t)) return kFieldBlob;
    if (t == FieldType::Timestamp) return kFieldNormal;
    if (t == FieldType::Varchar) return kFieldVarchar;
    if (!packRecord) return kFieldNormal;
    if (t == FieldType::Timestamp2) return kFieldSkipPrespace;
    if (packsZero(t)) return kFieldSkipZero;
    if (width <= 3 || col.isZerofill) return kFieldNormal;
    return t == FieldType::String || t == FieldType::VarString || t == FieldType::Enum ? kFieldSkipEndspace
                                                                           : kFieldSkipPrespace;
}

// mi_get_pointer_length: the bytes of a record pointer for a table of up to maxRows rows.
std::uint32_t pointerLength(std::uint64_t maxRows) {
    if (maxRows == 0) return kDefaultPointerLength;
    for (std::uint32_t bytes = 2; bytes < 7; ++bytes)
        if (maxRows < (std::uint64_t{1} << (8 * bytes))) return bytes;
    return 7;
}

bool compressedDataFile(const std::filesystem::path& dataPath) {
    core::ReadOnlyFile file;
    if (!file.open(dataPath).isOk()) return false;
    std::uint8_t magic[3] = {};
    return file.readAt(0, magic) == sizeof magic && std::equal(magic, magic + 3, kPackedFileMagic);
}

}  // namespace

std::string deriveMyisamState(const core::TableDefinitionState& def, MyisamState& out) {
    if (def.columns.empty()) return "the definition has no columns";
    const bool packRecord = (def.createOptions & kCreateOptionPackRecord) != 0;
    struct Placed {
        std::size_t column;
        std::uint32_t offset;
        std::uint32_t width;
    };
    std::vector<Placed> placed;
    bool blobs = false;
    for (std::size_t k = 0; k < def.columns.size(); ++k) {
        const core::ColumnDefinition& col = def.columns[k];
        if (col.recordPos == 0) return "column " + col.name + " has no record position";
        const std::uint32_t width = recordWidth(col);
        blobs = blobs || isBlob(fieldType(col.typeCode));
        if (width == 0) {
            // Only a BIT(1..7) kept among the null flags has no bytes of its own.
            if (fieldType(col.typeCode) == FieldType::Bit && col.length > 0 && col.length < 8) continue;
            return "the record width of column " + col.name + " is not known";
        }
        placed.push_back({k, col.recordPos - 1, width});
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const Placed& a, const Placed& b) { return a.offset < b.offset; });

    MyisamState s;
    s.myisamRowFormat = packRecord || blobs ? kRowFormatDynamic : kRowFormatFixed;
    const std::vector<MyisamColumnPlace> nulls =
        nullFlagPlaces(def.columns, s.myisamRowFormat == kRowFormatFixed);
    std::uint32_t recpos = 0;
    for (const Placed& p : placed) {
        if (p.offset < recpos)
            return "columns " + def.columns[p.column].name + " and the one before it overlap";
        if (p.offset > recpos)
            s.myisamColumns.push_back({kFieldNormal, static_cast<std::uint16_t>(p.offset - recpos), 0, 0, {}, 0});
        MyisamColumn field;
        field.fieldType = fieldTypeOf(def.columns[p.column], p.width, packRecord);
        field.fieldLength = static_cast<std::uint16_t>(p.width);
        if (def.columns[p.column].nullable) {
            field.nullBit = nulls[p.column].nullBit;
            field.nullPos = static_cast<std::uint16_t>(nulls[p.column].nullPos);
        }
        s.myisamColumns.push_back(std::move(field));
        recpos = p.offset + p.width;
    }
    if (def.recordLength != 0 && recpos > def.recordLength)
        return "the columns end at byte " + std::to_string(recpos) + ", past the record length " +
               std::to_string(def.recordLength);

    // mi_create: flagged fields, the minimum packed length, the lengths of a record.
    std::uint32_t reclength = 0, packed = 0, minPack = 0, varcharLength = 0, longVarchars = 0;
    for (const MyisamColumn& f : s.myisamColumns) {
        reclength += f.fieldLength;
        if (f.fieldType == kFieldNormal || f.fieldType == kFieldCheck) {
            minPack += f.fieldLength;
            continue;
        }
        ++packed;
        if (f.fieldType == kFieldBlob) {
            ++s.blobCount;
        } else if (f.fieldType == kFieldSkipPrespace || f.fieldType == kFieldSkipEndspace) {
            ++minPack;
        } else if (f.fieldType == kFieldVarchar) {
            varcharLength += f.fieldLength - 1u;
            --packed;
            ++minPack;
            if (f.fieldLength >= kLongVarcharLength) ++longVarchars;
        } else if (f.fieldType != kFieldSkipZero) {
            minPack += f.fieldLength;
            --packed;
        }
    }
    if ((packed & 7) == 1) {
        for (auto it = s.myisamColumns.rbegin(); it != s.myisamColumns.rend(); ++it) {
            if (it->fieldType == kFieldSkipZero && it->fieldLength == 1) {
                it->fieldType = kFieldNormal;
                --packed;
                ++minPack;
                break;
            }
        }
    }
    if (packed > 0) s.myisamRowFormat = kRowFormatDynamic;
    const bool dynamic = s.myisamRowFormat == kRowFormatDynamic;
    s.recordChecksum = (def.createOptions & kCreateOptionChecksum) != 0;
    if (!dynamic) minPack += varcharLength;
    if (s.recordChecksum) ++minPack;
    s.packBits = static_cast<std::uint16_t>((packed + 7) / 8);
    minPack += s.packBits;

    std::uint32_t slot = reclength;
    if (dynamic) {
        slot += longVarchars;
    } else {
        const std::uint32_t pointer = pointerLength(def.maxRows);
        if (slot <= pointer) slot = pointer + 1;  // room for the delete link
    }
    s.myisamRecordLength = reclength;
    s.packedRecordLength = slot + (s.recordChecksum ? 1u : 0u);
    s.minPackLength = minPack;
    s.fieldCount = static_cast<std::uint32_t>(s.myisamColumns.size());
    s.packFieldCount = packed;
    s.minBlockLength = static_cast<std::uint32_t>(
        s.packedRecordLength + 3 < kMinBlockLength && s.blobCount == 0
            ? std::max<std::uint64_t>(s.packedRecordLength, kMinBlockLength)
            : kMinBlockLength);
    s.stateCounts = out.stateCounts;
    out = std::move(s);
    return {};
}

std::string myisamHeadDamage(const MyisamState& state, const MyisamHeadFacts& facts) {
    if (!facts.signature) return "does not begin with the MyISAM signature";
    if (!facts.baseInfoRead) return "ends before its base information";
    if (facts.baseInfoLength != kBaseInfoSize)
        return "gives its base information a length of " + std::to_string(facts.baseInfoLength);
    if (!facts.definitionsComplete) return "ends inside its record definitions";
    if (facts.headerLength != facts.definitionsEnd)
        return "says its head is " + std::to_string(facts.headerLength) +
               " bytes long, but its definitions end at byte " + std::to_string(facts.definitionsEnd);
    std::uint64_t total = 0;
    for (const MyisamColumn& f : state.myisamColumns) total += f.fieldLength;
    if (total != state.myisamRecordLength)
        return "has record definitions of " + std::to_string(total) +
               " bytes for a record length of " + std::to_string(state.myisamRecordLength);
    return {};
}

bool plausibleStateCounts(const MyisamStateCounts& counts, const MyisamState& state) {
    if (counts.dataFileLength > kMaxDataFileLength) return false;
    if (state.myisamRowFormat == kRowFormatFixed) {
        const std::uint64_t slot =
            state.packedRecordLength != 0 ? state.packedRecordLength : state.myisamRecordLength;
        if (slot == 0) return false;
        const std::uint64_t slots = counts.dataFileLength / slot;
        return counts.dataFileLength % slot == 0 && counts.records <= slots &&
               counts.deletedRecords == slots - counts.records;
    }
    return counts.records <= counts.dataFileLength / kMinBlockLength &&
           counts.deletedRecords <= counts.dataFileLength / kMinBlockLength;
}

bool loadMyisamLayout(MyisamReader& ctx, const std::filesystem::path& indexPath,
                      const std::filesystem::path& dataPath) {
    std::string problem;
    MyisamHeadFacts facts;
    if (!readMyisamHeader(ctx, indexPath, &facts))
        problem = !facts.opened ? "cannot be opened"
                                : "is " + std::to_string(facts.fileLength) +
                                      " bytes long, shorter than its header";
    else
        problem = myisamHeadDamage(ctx, facts);
    const std::string indexName = indexPath.filename().string();
    const std::string countsDamage =
        "The record counts of " + indexName +
        " do not fit its data file: the rows found cannot be checked against them.";
    std::optional<MyisamStateCounts> counts = ctx.stateCounts;
    if (problem.empty()) {
        if (counts && !plausibleStateCounts(*counts, ctx)) {
            ctx.stateCounts.reset();
            ctx.countsDamage = countsDamage;
        }
        return true;
    }
    MyisamState derived;
    const std::string underivable = deriveMyisamState(ctx, derived);
    if (!underivable.empty()) {
        static_cast<MyisamState&>(ctx) = MyisamState{};
        ctx.headDamage = indexName + " " + problem +
                         ", and the definition gives no record layout either (" + underivable + ").";
        return false;
    }
    static_cast<MyisamState&>(ctx) = derived;
    ctx.stateCounts.reset();
    if (compressedDataFile(dataPath)) ctx.myisamRowFormat = kRowFormatCompressed;
    ctx.headDamage = indexName + " " + problem +
                     ": the rows are read by the record layout of the table's definition.";
    if (counts && ctx.myisamRowFormat != kRowFormatCompressed) {
        if (plausibleStateCounts(*counts, ctx))
            ctx.stateCounts = counts;
        else
            ctx.countsDamage = countsDamage;
    }
    return true;
}

}  // namespace dunmore::myisam
