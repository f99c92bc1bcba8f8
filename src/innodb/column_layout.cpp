// The column layout of a table's clustered index: for each column the InnoDB main type,
// precise type (MySQL type code in the low byte, 0x100 NOT NULL, 0x200 UNSIGNED,
// 0x400 BINARY, 0x1000 two-byte true VARCHAR, collation in bits 16..30), stored length
// and fixed length, and the order of the fields in a clustered record: the clustering
// key's parts in key order (or the hidden DB_ROW_ID), DB_TRX_ID, DB_ROLL_PTR, then the
// remaining columns. The definition-only mapping follows what InnoDB records in
// SYS_COLUMNS when it creates a table (ha_innodb.cc get_innobase_type_from_mysql_type);
// see docs/formats/innodb.md.

#include "innodb/column_layout.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "innodb/innodb_reader.h"
#include "innodb/page.h"
#include "innodb/record.h"
#include "schema/collation_table.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace dunmore::innodb {
namespace {

constexpr std::uint32_t kCollationLatin1 = 8;
constexpr std::uint32_t kNoSlot = 0xFFFFFFFF;


using core::FieldType;
using core::fieldType;

bool isCharacterMainType(std::uint32_t m) { return m <= kMainBlob || m == kMainVarMysql || m == kMainMysql; }

std::uint32_t packedDecimalBytes(std::int32_t precision, std::int32_t scale) {
    static constexpr std::uint32_t kDigitBytes[10] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 4};
    precision = std::clamp(precision, 1, 65);
    scale = std::clamp(scale, 0, precision);
    const std::int32_t intg = precision - scale;
    return static_cast<std::uint32_t>((intg / 9) * 4 + kDigitBytes[intg % 9] + (scale / 9) * 4 +
                                      kDigitBytes[scale % 9]);
}

// Fractional-second digits of TIME2 / DATETIME2 / TIMESTAMP2 from the field length.
std::uint32_t fractionDigits(const core::ColumnDefinition& c, std::int32_t base) {
    const std::int32_t fsp = c.length - base - 1;
    return fsp > 0 ? static_cast<std::uint32_t>(std::min(fsp, 6)) : 0;
}

// Bytes of the length prefix of a BLOB/TEXT column: the .frm type code names the kind.
std::uint32_t blobLengthBytes(std::uint32_t typeCode) {
    switch (fieldType(typeCode)) {
        case FieldType::TinyBlob: return 1;
        case FieldType::MediumBlob: return 3;
        case FieldType::LongBlob: return 4;
        default: return 2;
    }
}

core::InnodbColumn hiddenField(const char* name, std::uint32_t preciseType, std::uint32_t length) {
    core::InnodbColumn f;
    f.mainType = kMainSys;
    f.preciseType = preciseType;
    f.length = length;
    f.fixedLength = length;
    f.column.name = name;
    f.column.index = kNoSlot;
    f.hidden = true;
    return f;
}

// MySQL column names compare without regard to case.
bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isPrimaryKey(const core::KeyInfo& key) {
    if (key.primary) return true;
    std::string upper = key.name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char ch) {
        return static_cast<char>(std::toupper(ch));
    });
    return upper == "PRIMARY";
}

// The key part stores only a prefix of its column (InnoDB then keeps the whole column
// among the non-key fields as well).
bool isPrefixPart(const core::ColumnDefinition& c, const core::KeyPart& part) {
    if (core::isBlobType(fieldType(c.typeCode)) || fieldType(c.typeCode) == FieldType::Geometry) return true;
    if (fieldType(c.typeCode) == FieldType::Varchar || fieldType(c.typeCode) == FieldType::VarString || fieldType(c.typeCode) == FieldType::String)
        return part.length < static_cast<std::uint32_t>(std::max(c.length, 0));
    return false;
}

const core::ColumnDefinition* partColumn(const InnodbReader& ctx, const core::KeyPart& part) {
    if (part.fieldNumber == 0 || part.fieldNumber > ctx.columns.size()) return nullptr;
    return &ctx.columns[part.fieldNumber - 1];
}

// A UNIQUE key that MySQL promotes to the primary key when there is none: every part a
// whole NOT NULL column (a NOT NULL BLOB whose part covers the whole field counts).
bool isPromotableUnique(const InnodbReader& ctx, const core::KeyInfo& key) {
    if (!key.unique || key.parts.empty()) return false;
    for (const auto& part : key.parts) {
        const auto* c = partColumn(ctx, part);
        if (!c || c->nullable) return false;
        if (core::isBlobType(fieldType(c->typeCode)) && part.length == static_cast<std::uint32_t>(c->length)) continue;
        if (isPrefixPart(*c, part)) return false;
    }
    return true;
}

// The key InnoDB clusters on, or null for the hidden row id.
const core::KeyInfo* clusteringKey(const InnodbReader& ctx) {
    for (const auto& key : ctx.keys)
        if (isPrimaryKey(key) && !key.parts.empty()) return &key;
    for (const auto& key : ctx.keys)
        if (isPromotableUnique(ctx, key)) return &key;
    return nullptr;
}

}  // namespace

std::uint32_t fixedLengthOf(std::uint32_t mainType, std::uint32_t preciseType,
                            std::uint32_t length, std::uint32_t mbMinMaxLen) {
    std::uint32_t fixed = 0;
    switch (mainType) {
        case kMainChar:
        case kMainFixBinary:
        case kMainInt:
        case kMainSys:
        case kMainFloat:
        case kMainDouble:
        case 15:  // DATA_POINT (MySQL 5.7)
            fixed = length;
            break;
        case kMainMysql: {
            // Fixed only when every character takes the same number of bytes.
            const std::uint32_t mbMin = mbMinMaxLen % 5;
            const std::uint32_t mbMax = mbMinMaxLen / 5;
            if ((preciseType & kPreciseBinary) || mbMin == mbMax) fixed = length;
            break;
        }
        default:
            break;
    }
    return fixed <= kMaxFixedColumnLength ? fixed : 0;
}

core::InnodbColumn columnFromDefinition(const core::ColumnDefinition& c,
                                        const schema::CollationTable& collations) {
    core::InnodbColumn f;
    f.position = c.index;
    f.precision = static_cast<std::uint32_t>(std::max(c.precision, 0));
    f.column = c;
    const std::uint32_t byteLength = static_cast<std::uint32_t>(c.length);
    std::uint32_t collation = static_cast<std::uint32_t>(c.charset) & kCollationMask;
    if (collation == 0) collation = kCollationLatin1;
    const bool binaryCharset = collation == core::kBinaryCollation;
    FieldType mysqlType = fieldType(c.typeCode);
    std::uint32_t flags = 0;
    bool isUnsigned = c.isUnsigned;
    bool binaryFlag = true;  // numeric and temporal fields count as binary

    switch (fieldType(c.typeCode)) {
        case FieldType::Tiny: f.mainType = kMainInt; f.length = 1; break;
        case FieldType::Short: f.mainType = kMainInt; f.length = 2; break;
        case FieldType::Int24: f.mainType = kMainInt; f.length = 3; break;
        case FieldType::Long: f.mainType = kMainInt; f.length = 4; break;
        case FieldType::LongLong: f.mainType = kMainInt; f.length = 8; break;
        case FieldType::Year: f.mainType = kMainInt; f.length = 1; isUnsigned = true; break;
        case FieldType::NewDate:
            f.mainType = kMainInt; f.length = 3; mysqlType = FieldType::Date; break;
        case FieldType::Date: f.mainType = kMainInt; f.length = 4; break;
        case FieldType::Time: f.mainType = kMainInt; f.length = 3; break;
        case FieldType::Datetime: f.mainType = kMainInt; f.length = 8; break;
        case FieldType::Timestamp: f.mainType = kMainInt; f.length = 4; isUnsigned = true; break;
        case FieldType::Float: f.mainType = kMainFloat; f.length = 4; break;
        case FieldType::Double: f.mainType = kMainDouble; f.length = 8; break;
        case FieldType::Decimal: f.mainType = kMainDecimal; f.length = byteLength; break;
        case FieldType::NewDecimal:
            f.mainType = kMainFixBinary;
            f.length = packedDecimalBytes(c.precision, c.decimals);
            collation = kCollationLatin1;
            break;
        case FieldType::Time2:
            f.mainType = kMainFixBinary;
            f.length = 3 + (fractionDigits(c, 10) + 1) / 2;
            mysqlType = FieldType::Time;
            collation = kCollationLatin1;
            break;
        case FieldType::Datetime2:
            f.mainType = kMainFixBinary;
            f.length = 5 + (fractionDigits(c, 19) + 1) / 2;
            mysqlType = FieldType::Datetime;
            collation = kCollationLatin1;
            break;
        case FieldType::Timestamp2:
            f.mainType = kMainFixBinary;
            f.length = 4 + (fractionDigits(c, 19) + 1) / 2;
            mysqlType = FieldType::Timestamp;
            collation = kCollationLatin1;
            isUnsigned = true;
            break;
        case FieldType::Bit:
            f.mainType = kMainFixBinary;
            f.length = (byteLength + 7) / 8;
            collation = core::kBinaryCollation;
            isUnsigned = true;
            break;
        case FieldType::Enum:
            f.mainType = kMainInt;
            f.length = c.members.size() > 255 ? 2 : 1;
            mysqlType = FieldType::String;
            isUnsigned = true;
            binaryFlag = false;
            break;
        case FieldType::Set: {
            f.mainType = kMainInt;
            const std::uint32_t bytes = (static_cast<std::uint32_t>(c.members.size()) + 7) / 8;
            f.length = bytes == 0 ? 1 : (bytes > 4 ? 8 : bytes);
            mysqlType = FieldType::String;
            isUnsigned = true;
            binaryFlag = false;
            break;
        }
        case FieldType::Varchar:
        case FieldType::VarString:
            f.mainType = binaryCharset ? kMainBinary
                                       : (collation == kCollationLatin1 ? kMainVarchar : kMainVarMysql);
            f.length = byteLength;
            // The MySQL row keeps a two-byte length for more than 255 bytes.
            if (fieldType(c.typeCode) == FieldType::Varchar && byteLength > 255) flags |= kPreciseLongTrueVarchar;
            isUnsigned = false;
            binaryFlag = binaryCharset;
            break;
        case FieldType::String:
            f.mainType = binaryCharset ? kMainFixBinary
                                       : (collation == kCollationLatin1 ? kMainChar : kMainMysql);
            f.length = byteLength;
            isUnsigned = false;
            binaryFlag = binaryCharset;
            break;
        case FieldType::TinyBlob:
        case FieldType::MediumBlob:
        case FieldType::LongBlob:
        case FieldType::Blob:
            f.mainType = kMainBlob;
            f.length = blobLengthBytes(c.typeCode) + 8;
            mysqlType = FieldType::Blob;
            isUnsigned = false;
            binaryFlag = binaryCharset;
            break;
        case FieldType::Geometry:
            f.mainType = kMainGeometry;
            f.length = 4 + 8;
            isUnsigned = false;
            break;
        default:
            f.mainType = kMainInt;
            f.length = byteLength;
            break;
    }
    if (!isCharacterMainType(f.mainType)) collation = 0;
    if (!c.nullable) flags |= kPreciseNotNull;
    if (isUnsigned) flags |= kPreciseUnsigned;
    if (binaryFlag) flags |= kPreciseBinary;
    f.preciseType = (collation << 16) | flags | (core::typeCode(mysqlType) & 0xFF);
    if (collation != 0) {
        if (const auto* entry = collations.lookupCollation(collation))
            f.mbMinMaxLen = entry->minBytesPerChar + 5 * entry->maxBytesPerChar;
    }
    f.fixedLength = fixedLengthOf(f.mainType, f.preciseType, f.length, f.mbMinMaxLen);
    return f;
}

void buildColumnsFromDefinition(InnodbReader& ctx,
                                const schema::CollationTable& collations) {
    ctx.innodbColumns.clear();
    for (const auto& c : ctx.columns) {
        if (fieldType(c.typeCode) == FieldType::Null) continue;
        ctx.innodbColumns.push_back(columnFromDefinition(c, collations));
    }
    buildClusteredFields(ctx);
}

namespace {

// Main types whose values occupy the bytes their length names, whatever the record says.
bool isFixedSizeMainType(std::uint32_t m) {
    return m == kMainInt || m == kMainFloat || m == kMainDouble || m == kMainFixBinary || m == kMainDecimal;
}

// Why the .frm column c does not describe the values of its SYS_COLUMNS record r: the
// MySQL type InnoDB recorded (the low byte of the precise type; 0 in dictionaries of
// servers before 4.1, which say nothing) or, for a type of fixed size, its byte length.
// The record's layout is what the rows are read with and the .frm's type what their
// bytes are decoded as: where they disagree one of the two files is damaged, and the
// values would be guesses. Empty when they agree.
std::string disagreement(const core::ColumnDefinition& c, const SysColumnsRecord& r) {
    const core::InnodbColumn d = columnFromDefinition(c, schema::applicationCollations());
    const std::uint32_t recorded = r.preciseType & 0xFF;
    const std::uint32_t defined = d.preciseType & 0xFF;
    const auto describe = [](std::uint32_t mainType, std::uint32_t mysqlType, std::uint32_t length) {
        return "InnoDB type " + std::to_string(mainType) + ", MySQL type " + std::to_string(mysqlType) +
               ", " + std::to_string(length) + " bytes";
    };
    if ((recorded != 0 && recorded != defined) ||
        (isFixedSizeMainType(r.mainType) && (d.mainType != r.mainType || d.length != r.length)))
        return "column " + c.name + " is " + describe(r.mainType, recorded, r.length) +
               " in the dictionary of ibdata1 and " + describe(d.mainType, defined, d.length) +
               " by its .frm";
    return {};
}

}  // namespace

std::string buildColumnsFromDictionary(InnodbReader& ctx, std::uint64_t tableId) {
    std::string problem;
    ctx.tableSysColumns.clear();
    ctx.innodbColumns.clear();
    for (const auto& r : ctx.dictionary().sysColumns)
        if (r.tableId == tableId && tableId != 0 && (r.preciseType & kPreciseVirtual) == 0)
            ctx.tableSysColumns.push_back(r);
    // Columns are matched by name: after an instant ADD/DROP/reorder or with virtual
    // columns the SYS_COLUMNS positions are not the .frm column numbers. Positions serve
    // only when no name matches at all (names that did not survive).
    bool byName = false;
    for (const auto& c : ctx.columns)
        for (const auto& r : ctx.tableSysColumns)
            if (sameName(r.name, c.name)) byName = true;
    for (const auto& c : ctx.columns) {
        const SysColumnsRecord* match = nullptr;
        for (const auto& r : ctx.tableSysColumns) {
            if (byName ? !sameName(r.name, c.name) : r.position != c.index) continue;
            if (!match || (match->deleted && !r.deleted)) match = &r;
            if (!match->deleted) break;
        }
        if (!match) {
            if (problem.empty()) problem = "column " + c.name + " of the .frm is not in the dictionary of ibdata1";
            continue;
        }
        if (problem.empty()) problem = disagreement(c, *match);
        core::InnodbColumn f;
        f.mainType = match->mainType;
        f.preciseType = match->preciseType;
        f.length = match->length;
        f.precision = match->precision;
        f.position = match->position;
        f.mbMinMaxLen = match->mbMinMaxLen;
        f.fixedLength = fixedLengthOf(f.mainType, f.preciseType, f.length, f.mbMinMaxLen);
        f.column = c;
        ctx.innodbColumns.push_back(std::move(f));
    }
    ctx.tableSysColumns.clear();
    buildClusteredFields(ctx);
    return problem;
}

void buildClusteredFields(InnodbReader& ctx) {
    auto& columns = ctx.innodbColumns;
    const auto entryOf = [&](std::uint32_t index) -> core::InnodbColumn* {
        for (auto& f : columns)
            if (f.column.index == index) return &f;
        return nullptr;
    };

    std::vector<core::InnodbColumn> keyFields;
    if (const core::KeyInfo* key = clusteringKey(ctx)) {
        for (const auto& part : key->parts) {
            const auto* c = partColumn(ctx, part);
            core::InnodbColumn* f = c ? entryOf(c->index) : nullptr;
            if (!f) continue;
            if (isPrefixPart(*c, part)) {
                // Only the first bytes are in the key field; the whole value follows
                // among the other columns, where it is decoded.
                core::InnodbColumn prefix = *f;
                prefix.hidden = true;
                if (prefix.fixedLength > part.length) prefix.fixedLength = part.length;
                keyFields.push_back(std::move(prefix));
            } else if (!f->placed) {
                f->placed = true;
                keyFields.push_back(*f);
            }
        }
    } else if (ctx.keys.empty()) {
        // No key list: the key flags of the columns, in table order.
        for (auto& f : columns)
            if (f.column.inPrimaryKey) {
                f.placed = true;
                keyFields.push_back(f);
            }
        if (keyFields.empty())
            for (auto& f : columns)
                if (f.column.inUniqueKey && !f.column.nullable) {
                    f.placed = true;
                    keyFields.push_back(f);
                }
    }

    if (keyFields.empty()) ctx.clusteredFields.push_back(hiddenField("DB_ROW_ID", kPreciseRowId, 6));
    for (auto& f : keyFields) {
        f.placed = false;
        ctx.clusteredFields.push_back(std::move(f));
    }
    ctx.clusteredFields.push_back(hiddenField("DB_TRX_ID", kPreciseTrxId, 6));
    ctx.clusteredFields.push_back(hiddenField("DB_ROLL_PTR", kPreciseRollPtr, 7));
    for (auto& f : columns)
        if (!f.placed) ctx.clusteredFields.push_back(std::move(f));
    columns.clear();
}

namespace {

constexpr std::uint16_t kBlobPageType = 10;
constexpr std::size_t kFieldRefSize = 20;
constexpr std::uint16_t kDroppedColumn = 0x8000;
constexpr std::uint16_t kDroppedNotNull = 0x4000;

// Reads the externally stored metadata BLOB: parts of (u32 length, u32 next page) at
// byte 38 of each BLOB page, then the bytes.
core::Result<core::Bytes> readMetadataBlob(core::ReadOnlyFile& file, const TablespaceFormat& format,
                                           std::uint32_t page, std::uint32_t offset,
                                           std::uint64_t length) {
    if (length > 4 + 2 * 4096) return core::Status::corrupt("instant metadata BLOB too long");
    core::Bytes out;
    std::vector<std::uint8_t> buffer(format.pageSize);
    const std::uint64_t pages = pageCount(file.size(), format);
    for (std::uint64_t visits = 0; out.size() < length && visits < pages; ++visits) {
        if (page == kFilNull || page >= pages)
            return core::Status::corrupt("instant metadata BLOB page " + std::to_string(page) +
                                         " outside the file");
        if (auto st = readTablespacePage(file, format, page, PageBuffer(buffer)); !st)
            return st.status();
        if (decodeFilHeader(buffer).pageType != kBlobPageType)
            return core::Status::corrupt("page " + std::to_string(page) + " is not a BLOB page");
        core::ByteReader r(buffer);
        r.seek(offset);
        const std::uint32_t partLength = r.u32be();
        const std::uint32_t next = r.u32be();
        const auto part = r.bytes(std::min<std::uint64_t>(partLength, length - out.size()));
        if (!r.ok() || part.empty())
            return core::Status::corrupt("instant metadata BLOB part cut on page " +
                                         std::to_string(page));
        out.insert(out.end(), part.begin(), part.end());
        page = next;
        offset = kFilHeaderSize;
    }
    if (out.size() < length) return core::Status::corrupt("instant metadata BLOB incomplete");
    return out;
}

}  // namespace

core::Status applyInstantMetadata(InnodbReader& ctx, core::ReadOnlyFile& file,
                                  core::ByteSpan leaf) {
    const auto header = firstUserRecord(leaf);
    // Only the "alter" metadata (minimum-record flag and delete mark) carries a BLOB; an
    // instant ADD COLUMN alone keeps the table's own order.
    if (!header || !(header->infoBits & kInfoMinRecord) || !(header->infoBits & kInfoDeleteMark))
        return core::Status::ok();
    const std::uint32_t origin = header->origin;

    std::size_t rollIndex = 0;
    while (rollIndex < ctx.clusteredFields.size() &&
           ctx.clusteredFields[rollIndex].preciseType != kPreciseRollPtr)
        ++rollIndex;
    if (rollIndex == ctx.clusteredFields.size())
        return core::Status::corrupt("layout without DB_ROLL_PTR");

    // The BLOB reference stands right after DB_ROLL_PTR: space id, page, offset 38 and
    // the length (its high word 0). The metadata record writes its variable-length key
    // fields with zero length, so DB_TRX_ID follows the fixed-length key fields (what
    // InnoDB itself assumes); servers before MariaDB 10.4.11 wrote some CHAR keys at
    // their length, so the reference is otherwise looked for within the reach of the
    // longest key.
    const auto spaceId = static_cast<std::uint32_t>(core::readBeAt(leaf, 34, 4));
    const auto isReference = [&](std::size_t at) {
        return at + kFieldRefSize <= leaf.size() && core::readBeAt(leaf, at, 4) == spaceId &&
               core::readBeAt(leaf, at + 8, 4) == kFilHeaderSize &&
               core::readBeAt(leaf, at + 12, 4) == 0 && core::readBeAt(leaf, at + 16, 4) != 0;
    };
    std::size_t keyBytes = 0;
    for (std::size_t i = 0; i + 1 < rollIndex; ++i) keyBytes += ctx.clusteredFields[i].fixedLength;
    constexpr std::size_t kSystemBytes = 6 + 7;
    std::optional<std::size_t> refAt;
    if (header->redundant) {
        // A redundant record says where each field ends: the reference is the field after
        // DB_ROLL_PTR.
        const auto rec = redundantFields(leaf, origin);
        if (rec && rec->fields.size() > rollIndex + 1 && rec->fields[rollIndex + 1].length == kFieldRefSize &&
            isReference(rec->fields[rollIndex + 1].start))
            refAt = rec->fields[rollIndex + 1].start;
    }
    if (!refAt && isReference(origin + keyBytes + kSystemBytes)) refAt = origin + keyBytes + kSystemBytes;
    for (std::size_t at = origin + kSystemBytes; !refAt && at < origin + kSystemBytes + 3072; ++at)
        if (isReference(at)) refAt = at;
    if (!refAt) return core::Status::corrupt("instant metadata record without its BLOB reference");
    const auto blobPage = static_cast<std::uint32_t>(core::readBeAt(leaf, *refAt + 4, 4));
    const std::uint64_t blobLength = core::readBeAt(leaf, *refAt + 12, 8);
    const auto blob =
        readMetadataBlob(file, ctx.formatOf(file), blobPage, kFilHeaderSize, blobLength);
    if (!blob) return blob.status();

    core::ByteReader r(*blob);
    const std::uint32_t count = r.u32be();
    if (!r.ok() || count > r.remaining() / 2)
        return core::Status::corrupt("instant metadata field count " + std::to_string(count) +
                                     " does not fit its BLOB");
    std::vector<core::InnodbColumn> rest(ctx.clusteredFields.begin() + rollIndex + 1,
                                         ctx.clusteredFields.end());
    std::vector<core::InnodbColumn> physical;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint16_t entry = r.u16be();
        if (entry & kDroppedColumn) {
            core::InnodbColumn dropped;
            const std::uint32_t size = entry & 0x3FFF;
            dropped.preciseType = (entry & kDroppedNotNull) ? kPreciseNotNull : 0;
            if (size >= 2) {
                dropped.mainType = kMainFixBinary;
                dropped.length = size - 1;
                dropped.fixedLength = size - 1;
            } else {
                // Only the one- or two-byte length rule of the dropped column is kept.
                dropped.mainType = kMainBinary;
                dropped.length = size == 1 ? 256 : 255;
            }
            dropped.column.name = "(dropped)";
            dropped.column.index = kNoSlot;
            dropped.hidden = true;
            physical.push_back(std::move(dropped));
            continue;
        }
        auto it = std::find_if(rest.begin(), rest.end(), [&](const core::InnodbColumn& f) {
            return !f.hidden && f.position == entry;
        });
        if (it == rest.end())
            return core::Status::corrupt("instant metadata names column " + std::to_string(entry) +
                                         ", which the layout does not hold");
        physical.push_back(std::move(*it));
        rest.erase(it);
    }
    // The BLOB names every stored column once: a column it leaves out has no place in
    // the records.
    if (!rest.empty())
        return core::Status::corrupt("instant metadata does not name column " + rest.front().column.name +
                                     " of the table");
    ctx.clusteredFields.resize(rollIndex + 1);
    for (auto& f : physical) ctx.clusteredFields.push_back(std::move(f));
    return core::Status::ok();
}

std::uint32_t nullBitmapSize(const InnodbReader& ctx) {
    return nullBitmapSizeOfFirst(ctx, ctx.clusteredFields.size());
}

std::uint32_t nullBitmapSizeOfFirst(const InnodbReader& ctx, std::size_t count) {
    std::uint32_t nullable = 0;
    for (std::size_t i = 0; i < count && i < ctx.clusteredFields.size(); ++i)
        if ((ctx.clusteredFields[i].preciseType & kPreciseNotNull) == 0) ++nullable;
    return (nullable + 7) / 8;
}

}  // namespace dunmore::innodb
