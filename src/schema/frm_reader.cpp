// Reader of binary .frm table definitions (format versions 6, 7, 9, 10 and 11), all
// integers little-endian. The file header (64 bytes) gives the version (byte 2), the
// engine (byte 3), the length of the block at 64 whose end holds the u32 position of the
// 288-byte form information block, the key section (offset u16 at 6, length u16 at 28),
// the create options (u16 at 30), the table collation (bytes 38 and 41) and the server
// version (u32 at 51). After the form information block come the screens, one record
// per column (17 bytes from version 9, 11 before), the column names, the ENUM/SET member
// lists and the comments. Version 11 is version 10 with an extra section of column
// expressions (virtual columns, DEFAULT and CHECK expressions) after the comments; its
// column records are the same. See docs/formats/frm.md for the full layout.
#include "schema/frm_reader.h"

#include "core/collation_numbers.h"
#include "core/byte_reader.h"
#include "core/read_only_file.h"
#include "schema/collation_table.h"
#include "schema/frm_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace dunmore::schema {
namespace {

using core::ByteReader;
using core::ByteSpan;
using core::Status;

constexpr std::size_t kFrmHeaderSize = 64;
constexpr std::size_t kFormInfoSize = 288;
constexpr std::size_t kColumnRecordSize = 17;     // versions 9 and later
constexpr std::size_t kOldColumnRecordSize = 11;  // versions 6 and 7
constexpr std::size_t kKeyHeaderSize = 8;         // versions 9 and later
constexpr std::size_t kOldKeyHeaderSize = 4;
constexpr std::size_t kKeyPartSize = 9;  // versions 7 and later
constexpr std::size_t kOldKeyPartSize = 7;
constexpr std::size_t kKeySectionHeaderSize = 6;

constexpr std::uint16_t kPackSigned = 0x0001;  // FIELDFLAG_DECIMAL: numbers are signed
constexpr std::uint16_t kPackZerofill = 0x0004;
constexpr std::uint16_t kPackBitAsChar = 0x1000;
constexpr std::uint16_t kPackNoDefault = 0x4000;
constexpr std::uint16_t kPackMaybeNull = 0x8000;
constexpr unsigned kPackDecimalsShift = 8;
// MySQL keeps decimals in bits 8-12 and marks "not fixed" with 31; MariaDB widened the
// field to bits 8-13 and marks "not fixed" with 39. Six bits read both correctly.
constexpr unsigned kPackDecimalsMask = 0x3F;
constexpr int kNotFixedDecimals = 31;
constexpr int kMaxDecimalPrecision = 65;
constexpr std::uint16_t kFieldNumberMask = 0x3FFF;
constexpr std::uint16_t kKeyFlagNoSame = 0x0001;  // stored inverted
constexpr std::uint16_t kCreateOptionPackRecord = 0x0001;

constexpr std::uint32_t kTypeDecimal = 0;
constexpr std::uint32_t kTypeNewDecimal = 246;
constexpr std::uint32_t kTypeFloat = 4;
constexpr std::uint32_t kTypeDouble = 5;
constexpr std::uint32_t kTypeBit = 16;
constexpr std::uint32_t kTypeEnum = 247;
constexpr std::uint32_t kTypeSet = 248;
constexpr std::uint32_t kTypeGeometry = 255;

bool isNumericType(std::uint32_t type) {
    switch (type) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 8: case 9: case 246:
            return true;
        default:
            return false;
    }
}

std::string where(const std::filesystem::path& path, std::uint64_t offset) {
    return path.string() + " at offset " + std::to_string(offset);
}

// A separator-delimited name list: its first byte is the separator, each item follows a
// separator, and the list ends with a separator followed by a zero byte (or at the end of
// the data). A list whose first byte is zero is empty. The reader is left after the list.
std::vector<ByteSpan> splitNameList(ByteReader& r) {
    std::vector<ByteSpan> items;
    if (r.remaining() == 0) return items;
    const std::size_t start = r.position();
    const ByteSpan data = r.data();
    const std::uint8_t separator = data[start];
    std::size_t pos = start + 1;
    if (separator == 0) {
        r.seek(pos);
        return items;
    }
    while (pos < data.size() && data[pos] != 0) {
        std::size_t end = pos;
        while (end < data.size() && data[end] != separator) ++end;
        items.push_back(data.subspan(pos, end - pos));
        pos = end + 1;  // past the separator; end of data leaves pos beyond it
    }
    if (pos < data.size()) ++pos;  // the terminating zero
    r.seek(std::min(pos, data.size()));
    return items;
}

// The expression section of version 11: a 16-byte head, then one entry per expression:
// u8 kind, u16 field number (0-based; 0xFFFF for table CHECK constraints), u16 length
// of the expression text, u8 length of the name, the name, the expression text.
constexpr std::size_t kExpressionHeadSize = 16;
constexpr std::uint8_t kExpressionVirtual = 0;    // generated, not stored
constexpr std::uint8_t kExpressionUsingHash = 5;  // hidden hash of a long UNIQUE key

// Which columns the engine does not store: VIRTUAL generated columns and the hidden hash
// columns of long UNIQUE keys. Their values are not in the data files, and InnoDB leaves
// them out of its records, so they are left out of the column list.
std::vector<bool> columnsNotStored(ByteSpan expressions, std::size_t fieldCount) {
    std::vector<bool> out(fieldCount, false);
    ByteReader r(expressions);
    r.skip(kExpressionHeadSize);
    while (r.ok() && r.remaining() >= 6) {
        const std::uint8_t kind = r.u8();
        const std::uint16_t field = r.u16le();
        const std::uint16_t length = r.u16le();
        const std::uint8_t nameLength = r.u8();
        r.skip(nameLength);
        r.skip(length);
        if (!r.ok()) break;
        if ((kind == kExpressionVirtual || kind == kExpressionUsingHash) && field < fieldCount)
            out[field] = true;
    }
    return out;
}

// MariaDB 10.0+ keeps an "extra2" segment in the block at offset 64 (older files have
// form names there, beginning with '/'): entries of u8 type, u8 length (0: a u16 length
// follows) and data. Type 129 holds one flag byte per column whose low three bits are its
// invisibility; 3 marks the server's own hidden columns (the hash of a long UNIQUE key),
// which no engine stores and which the server makes again from the key.
constexpr std::uint8_t kExtra2FieldFlags = 129;
constexpr std::uint8_t kInvisibilityMask = 7;
constexpr std::uint8_t kInvisibleFull = 3;

void markInternalColumns(ByteSpan extra2, std::vector<bool>& notStored) {
    if (extra2.empty() || extra2[0] == '/') return;
    ByteReader r(extra2);
    while (r.ok() && r.remaining() >= 2) {
        const std::uint8_t type = r.u8();
        std::size_t length = r.u8();
        if (length == 0) length = r.u16le();
        const ByteSpan data = r.bytes(length);
        if (!r.ok() || length == 0) break;
        if (type != kExtra2FieldFlags) continue;
        for (std::size_t i = 0; i < data.size() && i < notStored.size(); ++i)
            if ((data[i] & kInvisibilityMask) == kInvisibleFull) notStored[i] = true;
    }
}

struct KeyDescription {
    std::uint16_t flags = 0;
    std::uint32_t partCount = 0;
    std::vector<core::KeyPart> parts;
};

// The raw facts of one column record.
struct ColumnRecord {
    std::uint32_t length = 0;
    std::uint32_t recordPos = 0;
    std::uint16_t packFlags = 0;
    std::uint32_t typeCode = 0;
    std::uint32_t charset = 0;
    std::uint8_t charsetLow = 0;
    std::uint32_t intervalNumber = 0;
    std::uint32_t commentLength = 0;
};

// Up to count bytes at offset, as many as the file holds there (got says how many).
// Every count comes from u16 fields of the file, so it stays small.
std::vector<std::uint8_t> readClipped(core::ReadOnlyFile& file, std::uint64_t offset,
                                      std::size_t count, std::size_t& got) {
    const std::uint64_t available = offset < file.size() ? file.size() - offset : 0;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(count, available)), 0);
    got = file.readAt(offset, buffer);
    buffer.resize(got);
    return buffer;
}

Status readDefinition(core::TableDefinitionState& ctx, const std::filesystem::path& path,
                      core::AppSettings& settings) {
    core::ReadOnlyFile file;
    if (Status s = file.open(path); !s) return s;

    if (file.size() < kFrmHeaderSize)
        return Status::unsupported("not a table definition (shorter than 64 bytes): " +
                                   path.string());
    std::array<std::uint8_t, kFrmHeaderSize> headerBytes{};
    if (file.readAt(0, headerBytes) != kFrmHeaderSize)
        return Status::ioError("cannot read the header of " + path.string());
    const ByteSpan header(headerBytes);
    const std::uint8_t formatVersion = header[2];
    if (header[0] != 0xFE || header[1] != 0x01)
        return Status::unsupported("not a table definition (no 0xFE 0x01 signature): " +
                                   path.string());
    if (formatVersion != 6 && formatVersion != 7 && formatVersion != 9 && formatVersion != 10 &&
        formatVersion != 11)
        return Status::unsupported("unsupported .frm format version " +
                                   std::to_string(formatVersion) + ": " + path.string());

    ctx.engineCode = header[3];
    const unsigned v = formatVersion - 6u;
    const bool newLayout = v >= 3;

    ByteReader h(header);
    h.seek(18);
    const std::uint32_t maxRows = h.u32le();
    h.seek(4);
    const std::uint16_t formNamesLength = h.u16le();
    const std::uint16_t keySectionOffset = h.u16le();
    const std::uint16_t formNameCount = h.u16le();
    h.seek(28);
    const std::uint16_t keySectionLength = h.u16le();
    const std::uint16_t createOptions = h.u16le();
    const std::uint8_t newCharsetLayout = h.u8();
    h.seek(51);
    const std::uint32_t mysqlVersion = h.u32le();

    if (file.size() < kFrmHeaderSize + 4)
        return Status::corrupt("definition shorter than 68 bytes: " + path.string());
    if (formNameCount == 0)
        return Status::corrupt("no form names in " + where(path, 8));

    // The block at 64 and the form position after it, in one request.
    const std::uint64_t formPosOffset = kFrmHeaderSize + formNamesLength;
    std::size_t got = 0;
    auto formBlock = readClipped(file, kFrmHeaderSize, formNamesLength + 4u, got);
    if (got <= formNamesLength)
        return Status::corrupt("form position past the end of " + where(path, formPosOffset));
    formBlock.resize(formNamesLength + 4u, 0);
    const ByteSpan extra2 = ByteSpan(formBlock).first(formNamesLength);
    ByteReader fp(ByteSpan(formBlock).subspan(formNamesLength));
    const std::uint32_t formPos = fp.u32le();
    if (formPos == 0) return Status::corrupt("form position 0 in " + where(path, formPosOffset));

    auto formInfo = readClipped(file, formPos, kFormInfoSize, got);
    if (got == 0)
        return Status::corrupt("form information block past the end of " +
                               where(path, formPos));
    formInfo.resize(kFormInfoSize, 0);  // a block cut short reads as zeros

    ctx.mysqlVersion = mysqlVersion;
    ctx.createOptions = createOptions;
    ctx.maxRows = maxRows;
    settings.version56OrLater = mysqlVersion >= 50600;
    ctx.tableCharset = newCharsetLayout == 0 ? header[41] * 256u + header[38] : 0;

    ByteReader fi(formInfo);
    fi.seek(258);
    const std::uint16_t fieldCount = fi.u16le();
    const std::uint16_t screensLength = fi.u16le();
    fi.seek(266);
    const std::uint16_t recordLength = fi.u16le();
    const std::uint16_t namesLength = fi.u16le();
    const std::uint16_t intervalCount = fi.u16le();
    fi.skip(2);  // total number of members, sizing only
    const std::uint16_t intervalLength = fi.u16le();
    fi.seek(284);
    const std::uint16_t commentLength = fi.u16le();
    const std::uint16_t expressionLength = fi.u16le();

    // Key section, read in one request. Only the bytes the file holds are decoded: keys
    // made up from bytes past its end would be taken for real ones.
    const auto keyBytes = readClipped(file, keySectionOffset, keySectionLength, got);
    std::vector<KeyDescription> keyDescriptions;
    std::vector<std::string> keyNames;
    std::uint32_t declaredKeyParts = 0;
    if (keyBytes.size() >= kKeySectionHeaderSize) {
        ByteReader k(keyBytes);
        const std::uint8_t b0 = k.u8();
        const std::uint8_t b1 = k.u8();
        std::uint32_t keyCount = 0;
        if (b0 & 0x80) {
            keyCount = (std::uint32_t{b1} << 7) | (b0 & 0x7Fu);
            declaredKeyParts = k.u16le();
        } else {
            keyCount = b0;
            declaredKeyParts = b1;
        }
        k.seek(kKeySectionHeaderSize);
        const std::size_t keyHeaderSize = newLayout ? kKeyHeaderSize : kOldKeyHeaderSize;
        const std::size_t partSize = v >= 1 ? kKeyPartSize : kOldKeyPartSize;
        while (keyDescriptions.size() < keyCount && k.remaining() >= keyHeaderSize) {
            KeyDescription key;
            if (newLayout) {
                key.flags = k.u16le() ^ kKeyFlagNoSame;
                k.skip(2);  // key length
                key.partCount = k.u8();
                k.skip(3);  // algorithm, block size
            } else {
                key.flags = k.u8() ^ kKeyFlagNoSame;
                k.skip(2);
                key.partCount = k.u8();
            }
            for (std::uint32_t p = 0; p < key.partCount && k.remaining() >= partSize; ++p) {
                core::KeyPart part;
                part.fieldNumber = k.u16le() & kFieldNumberMask;
                k.skip(2);  // offset + 1
                if (v >= 1) {
                    k.skip(3);  // part flags, key type
                    part.length = k.u16le();
                } else {
                    const std::uint8_t length = k.u8();
                    part.length = length > 128 ? (length & 127u) : length;
                    k.skip(2);
                }
                key.parts.push_back(part);
            }
            keyDescriptions.push_back(std::move(key));
        }
        for (const ByteSpan name : splitNameList(k)) keyNames.push_back(utf8OrWindows1252(name));
    }

    // Column section, read in one request.
    const std::size_t recordSize = newLayout ? kColumnRecordSize : kOldColumnRecordSize;
    const std::size_t namesStart = screensLength + std::size_t{fieldCount} * recordSize;
    const std::size_t intervalsStart = namesStart + namesLength;
    const std::size_t commentsStart = intervalsStart + intervalLength;
    const std::size_t sectionLength = commentsStart + commentLength;
    // Version 11 keeps its column expressions right after the comments; they are read
    // with the rest of the section.
    const std::size_t expressionsLength = formatVersion == 11 ? expressionLength : 0;
    const std::uint64_t sectionOffset = std::uint64_t{formPos} + kFormInfoSize;
    auto section = readClipped(file, sectionOffset, sectionLength + expressionsLength, got);
    if (got < intervalsStart)
        return Status::corrupt("column records and names need " + std::to_string(intervalsStart) +
                               " bytes, the file holds " + std::to_string(got) + " at " +
                               where(path, sectionOffset));
    section.resize(sectionLength + expressionsLength, 0);  // what is cut off reads as empty
    const ByteSpan sectionSpan = ByteSpan(section).first(sectionLength);
    std::vector<bool> notStored = columnsNotStored(
        ByteSpan(section).subspan(sectionLength, expressionsLength), fieldCount);
    markInternalColumns(extra2, notStored);

    ByteReader names(sectionSpan.subspan(namesStart, namesLength));
    const auto columnNames = splitNameList(names);
    if (columnNames.size() != fieldCount)
        return Status::corrupt("the name list holds " + std::to_string(columnNames.size()) +
                               " names for " + std::to_string(fieldCount) + " columns in " +
                               where(path, sectionOffset + namesStart));

    std::vector<ColumnRecord> records(fieldCount);
    for (std::size_t i = 0; i < fieldCount; ++i) {
        ByteReader c(sectionSpan.subspan(screensLength + i * recordSize, recordSize));
        ColumnRecord& rec = records[i];
        if (newLayout) {
            c.seek(3);
            rec.length = c.u16le();
            rec.recordPos = c.u24le();
            rec.packFlags = c.u16le();
            c.skip(1);  // unireg check
            const std::uint8_t charsetHigh = c.u8();
            rec.intervalNumber = c.u8();
            rec.typeCode = c.u8();
            rec.charsetLow = c.u8();
            rec.commentLength = c.u16le();
            rec.charset = charsetHigh * 256u + rec.charsetLow;
            // The low charset byte of a geometry column holds its sub-type; geometry data
            // is binary.
            if (rec.typeCode == kTypeGeometry) rec.charset = core::kBinaryCollation;
        } else {
            c.seek(3);
            rec.length = c.u8();
            rec.recordPos = c.u16le();
            rec.packFlags = c.u16le();
            rec.typeCode = ((rec.packFlags & ~kPackNoDefault) >> 3) & 15u;
        }
    }

    // Member lists. Each list is decoded in the character set of the first column that
    // uses it (the set decides how the members are stored).
    ByteReader intervals(sectionSpan.subspan(intervalsStart, intervalLength));
    std::vector<std::vector<ByteSpan>> rawLists;
    for (std::uint32_t i = 0; i < intervalCount && intervals.remaining() > 0; ++i)
        rawLists.push_back(splitNameList(intervals));
    std::vector<std::int64_t> listCharset(rawLists.size(), -1);
    std::vector<std::int64_t> columnList(fieldCount, -1);
    if (newLayout) {
        std::uint32_t enumSeen = 0;
        for (std::size_t i = 0; i < fieldCount; ++i) {
            const ColumnRecord& rec = records[i];
            if (rec.typeCode != kTypeEnum && rec.typeCode != kTypeSet) continue;
            const std::uint32_t list = rec.intervalNumber != 0 ? rec.intervalNumber - 1 : enumSeen;
            ++enumSeen;
            if (list >= rawLists.size()) continue;
            columnList[i] = list;
            if (listCharset[list] < 0) listCharset[list] = rec.charset;
        }
    }
    const CollationTable& collations = applicationCollations();
    std::vector<std::vector<std::string>> intervalLists(rawLists.size());
    for (std::size_t l = 0; l < rawLists.size(); ++l) {
        std::string charsetName;
        if (listCharset[l] >= 0) {
            if (const CollationEntry* e =
                    collations.lookupCollation(static_cast<std::uint32_t>(listCharset[l])))
                charsetName = e->charsetName;
        }
        for (const ByteSpan member : rawLists[l]) {
            std::string text = memberToUtf8(member, charsetName);
            ctx.intervalValues.push_back(text);
            intervalLists[l].push_back(std::move(text));
        }
    }

    const bool nullFieldsFirst = newCharsetLayout == 0;
    std::uint32_t nullBits =
        (nullFieldsFirst && !(createOptions & kCreateOptionPackRecord)) ? 1 : 0;
    std::size_t commentCursor = commentsStart;
    // 1-based field numbers of the file to those of the column list (0: left out).
    std::vector<std::uint32_t> listNumber(fieldCount + 1, 0);
    for (std::size_t i = 0; i < fieldCount; ++i) {
        const ColumnRecord& rec = records[i];
        core::ColumnDefinition col;
        col.index = static_cast<std::uint32_t>(ctx.columns.size());
        col.name = utf8OrWindows1252(columnNames[i]);
        col.length = static_cast<std::int32_t>(rec.length);
        col.recordPos = rec.recordPos;
        col.typeCode = rec.typeCode;
        col.packFlags = rec.packFlags;
        col.nullable = (rec.packFlags & kPackMaybeNull) ? 1 : 0;
        if (newLayout) {
            col.charset = static_cast<std::int32_t>(rec.charset);
            if (rec.typeCode == kTypeGeometry) col.geometryType = rec.charsetLow;
            if (rec.commentLength != 0) {
                // Comment lengths that add up to more than the comment text are cut at
                // its end.
                const std::size_t start = std::min(commentCursor, sectionLength);
                const std::size_t take =
                    std::min<std::size_t>(rec.commentLength, sectionLength - start);
                ByteSpan comment = sectionSpan.subspan(start, take);
                const auto zero = std::find(comment.begin(), comment.end(), 0);
                comment = comment.first(static_cast<std::size_t>(zero - comment.begin()));
                col.comment = utf8OrWindows1252(comment);
                commentCursor += rec.commentLength;
            }
            if (columnList[i] >= 0) {
                const auto& members = intervalLists[static_cast<std::size_t>(columnList[i])];
                col.members = members;
                for (const std::string& m : members) {
                    if (m.empty()) continue;
                    col.intervalText += "'" + m + "',";
                }
                while (!col.intervalText.empty() && col.intervalText.back() == ',')
                    col.intervalText.pop_back();
            }
            const int decimals =
                static_cast<int>((rec.packFlags >> kPackDecimalsShift) & kPackDecimalsMask);
            if (rec.typeCode == kTypeDecimal || rec.typeCode == kTypeNewDecimal) {
                int precision = col.length - (decimals > 0 ? 1 : 0) -
                                ((rec.packFlags & kPackSigned) && col.length > 0 ? 1 : 0);
                col.precision = std::min(precision, kMaxDecimalPrecision);
                col.decimals = decimals;
            } else if ((rec.typeCode == kTypeFloat || rec.typeCode == kTypeDouble) &&
                       decimals < kNotFixedDecimals) {
                col.precision = col.length;
                col.decimals = decimals;
            }
        }
        if (isNumericType(rec.typeCode)) {
            col.isUnsigned = !(rec.packFlags & kPackSigned);
            col.isZerofill = (rec.packFlags & kPackZerofill) != 0;
        }
        // The server gives each column its null flag and then the uneven bits of a BIT,
        // in the order of the columns.
        if (col.nullable) col.nullFlagBit = static_cast<std::int32_t>(nullBits++);
        if (rec.typeCode == kTypeBit && !(rec.packFlags & kPackBitAsChar) && (rec.length & 7u) != 0) {
            col.bitFlagsBit = static_cast<std::int32_t>(nullBits);
            nullBits += rec.length & 7u;
        }
        if (notStored[i]) continue;
        listNumber[i + 1] = col.index + 1;
        ctx.columns.push_back(std::move(col));
    }

    // Keys, in file order, and the key flags of the columns.
    for (std::size_t k = 0; k < keyDescriptions.size(); ++k) {
        core::KeyInfo info;
        info.name = k < keyNames.size() ? keyNames[k] : std::string();
        std::string upper = info.name;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        info.primary = upper == "PRIMARY";
        info.unique = (keyDescriptions[k].flags & kKeyFlagNoSame) != 0;
        for (core::KeyPart part : keyDescriptions[k].parts) {
            if (part.fieldNumber > fieldCount) {
                part.fieldNumber = 0;
            } else if (part.fieldNumber != 0) {
                // A part over a column that is not stored is left out with the column.
                part.fieldNumber = listNumber[part.fieldNumber];
                if (part.fieldNumber == 0) continue;
            }
            info.parts.push_back(part);
        }
        if (declaredKeyParts > 0) {
            for (const core::KeyPart& part : info.parts) {
                if (part.fieldNumber == 0 || part.fieldNumber > ctx.columns.size()) continue;
                core::ColumnDefinition& col = ctx.columns[part.fieldNumber - 1];
                if (info.primary)
                    col.inPrimaryKey = 1;
                else if (info.unique)
                    col.inUniqueKey = 1;
            }
        }
        ctx.keys.push_back(std::move(info));
    }

    ctx.recordLength = recordLength;
    ctx.nullBitmapBytes = (nullBits + 7) / 8;
    return Status::ok();
}

}  // namespace

Status readTableDefinitionStatus(core::TableDefinitionState& ctx, const std::filesystem::path& path,
                                 core::AppSettings& settings) {
    return readDefinition(ctx, path, settings);
}

bool readTableDefinition(core::TableDefinitionState& ctx, const std::filesystem::path& path,
                         core::AppSettings& settings) {
    // Not a definition at all is no failure; a file that cannot be read is one.
    const core::StatusCode code = readTableDefinitionStatus(ctx, path, settings).code();
    return code != core::StatusCode::Corrupt && code != core::StatusCode::IoError;
}

}  // namespace dunmore::schema
