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

#include "core/byte_reader.h"
#include "core/collation_numbers.h"
#include "core/field_type.h"
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
using core::FieldType;
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
    FieldType type() const { return core::fieldType(typeCode); }
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

// The file header (64 bytes).
constexpr std::size_t kHeaderFormatVersion = 2;
constexpr std::size_t kHeaderEngine = 3;
constexpr std::size_t kHeaderFormBlockLength = 4;  // u16: the block at 64 (form names or extra2)
constexpr std::size_t kHeaderKeySectionOffset = 6;
constexpr std::size_t kHeaderFormNameCount = 8;
constexpr std::size_t kHeaderKeyBlockLength = 14;  // u16; 0xFFFF: the u32 at 47
constexpr std::size_t kHeaderRecordLength = 16;    // u16: the default record after the key block
constexpr std::size_t kHeaderMaxRows = 18;  // u32: MAX_ROWS
constexpr std::size_t kHeaderKeySectionLength = 28;
constexpr std::size_t kHeaderCreateOptions = 30;
constexpr std::size_t kHeaderCharsetLayout = 32;  // 0: collation in bytes 38 and 41, null flags first
constexpr std::size_t kHeaderCollationLow = 38;
constexpr std::size_t kHeaderCollationHigh = 41;
constexpr std::size_t kHeaderLongKeyBlockLength = 47;
constexpr std::size_t kHeaderMysqlVersion = 51;
constexpr std::size_t kHeaderExtraLength = 55;  // u32: the extra segment after the default record
constexpr std::size_t kHeaderPartitionEngine = 61;
constexpr std::uint16_t kLongKeyBlock = 0xFFFF;
// The form information block (288 bytes).
constexpr std::size_t kFormFieldCount = 258;
constexpr std::size_t kFormRecordLength = 266;
constexpr std::size_t kFormCommentLength = 284;
// A column record: from byte 3 the length, the record position, the pack flags and (in
// 17-byte records) the unireg check, the high collation byte, the member-list number,
// the type code, the low collation byte and the comment length.
constexpr std::size_t kColumnLengthOffset = 3;
// Type codes of 11-byte records: bits 3..6 of the pack flags without FIELDFLAG_NO_DEFAULT.
constexpr unsigned kOldTypeShift = 3;
constexpr unsigned kOldTypeMask = 15;

// What the file header says.
struct FrmHeader {
    std::uint8_t formatVersion = 0;
    std::uint8_t engineCode = 0;
    std::uint16_t formBlockLength = 0;
    std::uint16_t keySectionOffset = 0;
    std::uint16_t formNameCount = 0;
    std::uint16_t keySectionLength = 0;
    std::uint16_t createOptions = 0;
    std::uint32_t maxRows = 0;
    std::uint8_t charsetLayout = 0;
    std::uint32_t tableCharset = 0;
    std::uint32_t mysqlVersion = 0;
    std::uint32_t keyBlockLength = 0;
    std::uint16_t recordLength = 0;
    std::uint32_t extraLength = 0;
    std::uint8_t partitionEngine = 0;
    // 17-byte column records and 8-byte key headers (versions 9 and later).
    bool newLayout() const { return formatVersion >= 9; }
    // 9-byte key parts with a u16 length (versions 7 and later).
    bool wideKeyParts() const { return formatVersion >= 7; }
};

// The header of the file at path: Unsupported when it is not a table definition of a
// known version, IoError when it cannot be read.
core::Result<FrmHeader> readHeader(core::ReadOnlyFile& file, const std::filesystem::path& path) {
    if (file.size() < kFrmHeaderSize)
        return Status::unsupported("not a table definition (shorter than 64 bytes): " +
                                   path.string());
    std::array<std::uint8_t, kFrmHeaderSize> bytes{};
    if (file.readAt(0, bytes) != kFrmHeaderSize)
        return Status::ioError("cannot read the header of " + path.string());
    FrmHeader h;
    h.formatVersion = bytes[kHeaderFormatVersion];
    if (bytes[0] != 0xFE || bytes[1] != 0x01)
        return Status::unsupported("not a table definition (no 0xFE 0x01 signature): " +
                                   path.string());
    if (h.formatVersion != 6 && h.formatVersion != 7 && h.formatVersion != 9 &&
        h.formatVersion != 10 && h.formatVersion != 11)
        return Status::unsupported("unsupported .frm format version " +
                                   std::to_string(h.formatVersion) + ": " + path.string());
    h.engineCode = bytes[kHeaderEngine];
    ByteReader r(bytes);
    r.seek(kHeaderMaxRows);
    h.maxRows = r.u32le();
    r.seek(kHeaderFormBlockLength);
    h.formBlockLength = r.u16le();
    h.keySectionOffset = r.u16le();
    r.seek(kHeaderFormNameCount);
    h.formNameCount = r.u16le();
    r.seek(kHeaderKeySectionLength);
    h.keySectionLength = r.u16le();
    h.createOptions = r.u16le();
    r.seek(kHeaderCharsetLayout);
    h.charsetLayout = r.u8();
    r.seek(kHeaderKeyBlockLength);
    h.keyBlockLength = r.u16le();
    h.recordLength = r.u16le();
    if (h.keyBlockLength == kLongKeyBlock) {
        r.seek(kHeaderLongKeyBlockLength);
        h.keyBlockLength = r.u32le();
    }
    r.seek(kHeaderMysqlVersion);
    h.mysqlVersion = r.u32le();
    h.extraLength = r.u32le();
    h.partitionEngine = bytes[kHeaderPartitionEngine];
    h.tableCharset = h.charsetLayout == 0
                         ? bytes[kHeaderCollationHigh] * 256u + bytes[kHeaderCollationLow]
                         : 0;
    return h;
}

// The block at 64 (form names, or MariaDB's extra2 segment), the position of the form
// information block at its end, and that block's sizes.
struct FormInfo {
    std::vector<std::uint8_t> block;  // the block at 64, then the u32 form position
    std::uint32_t formPos = 0;
    std::uint16_t fieldCount = 0;
    std::uint16_t screensLength = 0;
    std::uint16_t recordLength = 0;
    std::uint16_t namesLength = 0;
    std::uint16_t intervalCount = 0;
    std::uint16_t intervalLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t expressionLength = 0;
    ByteSpan extra2(const FrmHeader& h) const { return ByteSpan(block).first(h.formBlockLength); }
};

// Corrupt when the form position or the block it names lies outside the file.
Status readFormInfo(core::ReadOnlyFile& file, const FrmHeader& h,
                    const std::filesystem::path& path, FormInfo& form) {
    if (file.size() < kFrmHeaderSize + 4)
        return Status::corrupt("definition shorter than 68 bytes: " + path.string());
    if (h.formNameCount == 0) return Status::corrupt("no form names in " + where(path, kHeaderFormNameCount));
    // The block at 64 and the form position after it, in one request.
    const std::uint64_t formPosOffset = kFrmHeaderSize + h.formBlockLength;
    std::size_t got = 0;
    form.block = readClipped(file, kFrmHeaderSize, h.formBlockLength + 4u, got);
    if (got <= h.formBlockLength)
        return Status::corrupt("form position past the end of " + where(path, formPosOffset));
    form.block.resize(h.formBlockLength + 4u, 0);
    ByteReader fp(ByteSpan(form.block).subspan(h.formBlockLength));
    form.formPos = fp.u32le();
    if (form.formPos == 0) return Status::corrupt("form position 0 in " + where(path, formPosOffset));

    auto info = readClipped(file, form.formPos, kFormInfoSize, got);
    if (got == 0)
        return Status::corrupt("form information block past the end of " + where(path, form.formPos));
    info.resize(kFormInfoSize, 0);  // a block cut short reads as zeros
    ByteReader r(info);
    r.seek(kFormFieldCount);
    form.fieldCount = r.u16le();
    form.screensLength = r.u16le();
    r.seek(kFormRecordLength);
    form.recordLength = r.u16le();
    form.namesLength = r.u16le();
    form.intervalCount = r.u16le();
    r.skip(2);  // total number of members, sizing only
    form.intervalLength = r.u16le();
    r.seek(kFormCommentLength);
    form.commentLength = r.u16le();
    form.expressionLength = r.u16le();
    return Status::ok();
}

// The keys of the key section, in file order, and their names.
struct KeySection {
    std::vector<KeyDescription> keys;
    std::vector<std::string> names;
    std::uint32_t declaredKeyParts = 0;
};

// Reads the key section in one request. Only the bytes the file holds are decoded: keys
// made up from bytes past its end would be taken for real ones.
KeySection readKeySection(core::ReadOnlyFile& file, const FrmHeader& h) {
    KeySection out;
    std::size_t got = 0;
    const auto bytes = readClipped(file, h.keySectionOffset, h.keySectionLength, got);
    if (bytes.size() < kKeySectionHeaderSize) return out;
    ByteReader k(bytes);
    const std::uint8_t b0 = k.u8();
    const std::uint8_t b1 = k.u8();
    std::uint32_t keyCount = 0;
    if (b0 & 0x80) {
        keyCount = (std::uint32_t{b1} << 7) | (b0 & 0x7Fu);
        out.declaredKeyParts = k.u16le();
    } else {
        keyCount = b0;
        out.declaredKeyParts = b1;
    }
    k.seek(kKeySectionHeaderSize);
    const std::size_t keyHeaderSize = h.newLayout() ? kKeyHeaderSize : kOldKeyHeaderSize;
    const std::size_t partSize = h.wideKeyParts() ? kKeyPartSize : kOldKeyPartSize;
    while (out.keys.size() < keyCount && k.remaining() >= keyHeaderSize) {
        KeyDescription key;
        if (h.newLayout()) {
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
            if (h.wideKeyParts()) {
                k.skip(3);  // part flags, key type
                part.length = k.u16le();
            } else {
                const std::uint8_t length = k.u8();
                part.length = length > 128 ? (length & 127u) : length;
                k.skip(2);
            }
            key.parts.push_back(part);
        }
        out.keys.push_back(std::move(key));
    }
    for (const ByteSpan name : splitNameList(k)) out.names.push_back(utf8OrWindows1252(name));
    return out;
}

// The section after the form information block: the screens, the column records, the
// names, the member lists, the comments and (version 11) the column expressions.
struct ColumnSection {
    std::vector<std::uint8_t> bytes;
    std::size_t namesStart = 0;
    std::size_t intervalsStart = 0;
    std::size_t commentsStart = 0;
    std::size_t length = 0;  // up to the end of the comments
    std::vector<ByteSpan> names;
    std::vector<ColumnRecord> records;
    std::vector<bool> notStored;
    ByteSpan span() const { return ByteSpan(bytes).first(length); }
};

ColumnRecord readColumnRecord(ByteSpan bytes, const FrmHeader& h) {
    ByteReader c(bytes);
    ColumnRecord rec;
    c.seek(kColumnLengthOffset);
    if (h.newLayout()) {
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
        // The low charset byte of a geometry column holds its sub-type; geometry data is
        // binary.
        if (rec.type() == FieldType::Geometry) rec.charset = core::kBinaryCollation;
    } else {
        rec.length = c.u8();
        rec.recordPos = c.u16le();
        rec.packFlags = c.u16le();
        rec.typeCode = ((rec.packFlags & ~kPackNoDefault) >> kOldTypeShift) & kOldTypeMask;
    }
    return rec;
}

// Reads the column section in one request. Corrupt when the file ends before the names
// end or the names are not one per column.
Status readColumnSection(core::ReadOnlyFile& file, const FrmHeader& h, const FormInfo& form,
                         const std::filesystem::path& path, ColumnSection& s) {
    const std::size_t recordSize = h.newLayout() ? kColumnRecordSize : kOldColumnRecordSize;
    s.namesStart = form.screensLength + std::size_t{form.fieldCount} * recordSize;
    s.intervalsStart = s.namesStart + form.namesLength;
    s.commentsStart = s.intervalsStart + form.intervalLength;
    s.length = s.commentsStart + form.commentLength;
    // Version 11 keeps its column expressions right after the comments; they are read
    // with the rest of the section.
    const std::size_t expressionsLength = h.formatVersion == 11 ? form.expressionLength : 0;
    const std::uint64_t sectionOffset = std::uint64_t{form.formPos} + kFormInfoSize;
    std::size_t got = 0;
    s.bytes = readClipped(file, sectionOffset, s.length + expressionsLength, got);
    if (got < s.intervalsStart)
        return Status::corrupt("column records and names need " + std::to_string(s.intervalsStart) +
                               " bytes, the file holds " + std::to_string(got) + " at " +
                               where(path, sectionOffset));
    s.bytes.resize(s.length + expressionsLength, 0);  // what is cut off reads as empty
    s.notStored = columnsNotStored(ByteSpan(s.bytes).subspan(s.length, expressionsLength),
                                   form.fieldCount);
    markInternalColumns(form.extra2(h), s.notStored);

    ByteReader names(s.span().subspan(s.namesStart, form.namesLength));
    s.names = splitNameList(names);
    if (s.names.size() != form.fieldCount)
        return Status::corrupt("the name list holds " + std::to_string(s.names.size()) +
                               " names for " + std::to_string(form.fieldCount) + " columns in " +
                               where(path, sectionOffset + s.namesStart));
    s.records.resize(form.fieldCount);
    for (std::size_t i = 0; i < form.fieldCount; ++i)
        s.records[i] = readColumnRecord(
            s.span().subspan(form.screensLength + i * recordSize, recordSize), h);
    return Status::ok();
}

// The ENUM/SET member lists, each decoded in the character set of the first column that
// uses it (the set decides how the members are stored), and the list of each column (-1
// for none). Every member is also appended to intervalValues.
struct MemberLists {
    std::vector<std::vector<std::string>> lists;
    std::vector<std::int64_t> ofColumn;
};

MemberLists readMemberLists(const ColumnSection& s, const FrmHeader& h, const FormInfo& form,
                            std::vector<std::string>& intervalValues) {
    ByteReader intervals(s.span().subspan(s.intervalsStart, form.intervalLength));
    std::vector<std::vector<ByteSpan>> rawLists;
    for (std::uint32_t i = 0; i < form.intervalCount && intervals.remaining() > 0; ++i)
        rawLists.push_back(splitNameList(intervals));
    std::vector<std::int64_t> listCharset(rawLists.size(), -1);
    MemberLists out;
    out.ofColumn.assign(form.fieldCount, -1);
    if (h.newLayout()) {
        std::uint32_t enumSeen = 0;
        for (std::size_t i = 0; i < form.fieldCount; ++i) {
            const ColumnRecord& rec = s.records[i];
            if (rec.type() != FieldType::Enum && rec.type() != FieldType::Set) continue;
            const std::uint32_t list = rec.intervalNumber != 0 ? rec.intervalNumber - 1 : enumSeen;
            ++enumSeen;
            if (list >= rawLists.size()) continue;
            out.ofColumn[i] = list;
            if (listCharset[list] < 0) listCharset[list] = rec.charset;
        }
    }
    const CollationTable& collations = applicationCollations();
    out.lists.resize(rawLists.size());
    for (std::size_t l = 0; l < rawLists.size(); ++l) {
        std::string charsetName;
        if (listCharset[l] >= 0) {
            if (const CollationEntry* e =
                    collations.lookupCollation(static_cast<std::uint32_t>(listCharset[l])))
                charsetName = e->charsetName;
        }
        for (const ByteSpan member : rawLists[l]) {
            std::string text = memberToUtf8(member, charsetName);
            intervalValues.push_back(text);
            out.lists[l].push_back(std::move(text));
        }
    }
    return out;
}

// Appends the stored columns to ctx.columns; listNumber (size fieldCount + 1) maps each
// 1-based field number of the file to that of the column list (0: left out). Returns the
// number of null-flag bits of a record.
std::uint32_t appendColumns(core::TableDefinitionState& ctx, const FrmHeader& h,
                            const FormInfo& form, const ColumnSection& s,
                            const MemberLists& members, std::vector<std::uint32_t>& listNumber) {
    const bool nullFieldsFirst = h.charsetLayout == 0;
    std::uint32_t nullBits =
        (nullFieldsFirst && !(h.createOptions & kCreateOptionPackRecord)) ? 1 : 0;
    const ByteSpan sectionSpan = s.span();
    std::size_t commentCursor = s.commentsStart;
    for (std::size_t i = 0; i < form.fieldCount; ++i) {
        const ColumnRecord& rec = s.records[i];
        core::ColumnDefinition col;
        col.index = static_cast<std::uint32_t>(ctx.columns.size());
        col.name = utf8OrWindows1252(s.names[i]);
        col.length = static_cast<std::int32_t>(rec.length);
        col.recordPos = rec.recordPos;
        col.typeCode = rec.typeCode;
        col.packFlags = rec.packFlags;
        col.nullable = (rec.packFlags & kPackMaybeNull) ? 1 : 0;
        if (h.newLayout()) {
            col.charset = static_cast<std::int32_t>(rec.charset);
            if (rec.type() == FieldType::Geometry) col.geometryType = rec.charsetLow;
            if (rec.commentLength != 0) {
                // Comment lengths that add up to more than the comment text are cut at
                // its end.
                const std::size_t start = std::min(commentCursor, s.length);
                const std::size_t take = std::min<std::size_t>(rec.commentLength, s.length - start);
                ByteSpan comment = sectionSpan.subspan(start, take);
                const auto zero = std::find(comment.begin(), comment.end(), 0);
                comment = comment.first(static_cast<std::size_t>(zero - comment.begin()));
                col.comment = utf8OrWindows1252(comment);
                commentCursor += rec.commentLength;
            }
            if (members.ofColumn[i] >= 0) {
                col.members = members.lists[static_cast<std::size_t>(members.ofColumn[i])];
                for (const std::string& m : col.members) {
                    if (m.empty()) continue;
                    col.intervalText += "'" + m + "',";
                }
                while (!col.intervalText.empty() && col.intervalText.back() == ',')
                    col.intervalText.pop_back();
            }
            const int decimals =
                static_cast<int>((rec.packFlags >> kPackDecimalsShift) & kPackDecimalsMask);
            if (rec.type() == FieldType::Decimal || rec.type() == FieldType::NewDecimal) {
                int precision = col.length - (decimals > 0 ? 1 : 0) -
                                ((rec.packFlags & kPackSigned) && col.length > 0 ? 1 : 0);
                col.precision = std::min(precision, kMaxDecimalPrecision);
                col.decimals = decimals;
            } else if ((rec.type() == FieldType::Float || rec.type() == FieldType::Double) &&
                       decimals < kNotFixedDecimals) {
                col.precision = col.length;
                col.decimals = decimals;
            }
        }
        if (core::isNumericType(rec.type())) {
            col.isUnsigned = !(rec.packFlags & kPackSigned);
            col.isZerofill = (rec.packFlags & kPackZerofill) != 0;
        }
        // The server gives each column its null flag and then the uneven bits of a BIT,
        // in the order of the columns.
        if (col.nullable) col.nullFlagBit = static_cast<std::int32_t>(nullBits++);
        if (rec.type() == FieldType::Bit && !(rec.packFlags & kPackBitAsChar) && (rec.length & 7u) != 0) {
            col.bitFlagsBit = static_cast<std::int32_t>(nullBits);
            nullBits += rec.length & 7u;
        }
        if (s.notStored[i]) continue;
        listNumber[i + 1] = col.index + 1;
        ctx.columns.push_back(std::move(col));
    }
    return nullBits;
}

// Appends the keys to ctx.keys, in file order, and sets the key flags of their columns.
void appendKeys(core::TableDefinitionState& ctx, const KeySection& keys, std::size_t fieldCount,
                const std::vector<std::uint32_t>& listNumber) {
    for (std::size_t k = 0; k < keys.keys.size(); ++k) {
        core::KeyInfo info;
        info.name = k < keys.names.size() ? keys.names[k] : std::string();
        std::string upper = info.name;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        info.primary = upper == "PRIMARY";
        info.unique = (keys.keys[k].flags & kKeyFlagNoSame) != 0;
        for (core::KeyPart part : keys.keys[k].parts) {
            if (part.fieldNumber > fieldCount) {
                part.fieldNumber = 0;
            } else if (part.fieldNumber != 0) {
                // A part over a column that is not stored is left out with the column.
                part.fieldNumber = listNumber[part.fieldNumber];
                if (part.fieldNumber == 0) continue;
            }
            info.parts.push_back(part);
        }
        if (keys.declaredKeyParts > 0) {
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
}

// The extra segment after the default record (MySQL 5.1+): u16 length and text of the
// connection string, u16 length and name of the engine, u32 length L and the partition
// text, which the server ends with a zero byte. Each part is there only when the segment
// holds more than its length field. Sets the partition text of ctx, or partitionDamage
// when the segment does not hold the whole text.
void readExtraSegment(core::ReadOnlyFile& file, const FrmHeader& h, core::TableDefinitionState& ctx) {
    const std::uint64_t start = std::uint64_t{h.keySectionOffset} + h.keyBlockLength + h.recordLength;
    if (h.extraLength == 0) return;
    const std::vector<std::uint8_t> segment = file.readVector(start, h.extraLength);
    if (segment.size() < h.extraLength) {
        if (ctx.partitioned)
            ctx.partitionDamage = "the extra segment of the definition, which holds the partition text, "
                                  "is cut off at the end of the file";
        return;
    }
    ByteReader r(segment);
    r.skip(r.u16le());  // the connection string
    if (!r.ok() || r.remaining() <= 2) return;
    r.skip(r.u16le());  // the engine name
    if (!r.ok() || r.remaining() <= 5) return;
    const std::uint32_t length = r.u32le();
    if (length == 0) return;
    ctx.partitioned = true;
    const ByteSpan text = r.bytes(length);
    if (!r.ok() || r.remaining() == 0 || r.u8() != 0) {
        ctx.partitionDamage = "the partition text of " + std::to_string(length) +
                              " bytes does not end within the definition's extra segment";
        return;
    }
    if (std::find(text.begin(), text.end(), 0) != text.end()) {
        ctx.partitionDamage = "the partition text holds a zero byte before its end";
        return;
    }
    ctx.partitionText = core::asText(text);
}

// The read, step by step. What a step sets stays set when a later one fails: the engine
// once the header is read, the server version and collation once the form information
// is, the member lists once the columns are.
Status readDefinition(core::TableDefinitionState& ctx, const std::filesystem::path& path,
                      core::AppSettings& settings) {
    core::ReadOnlyFile file;
    if (Status s = file.open(path); !s) return s;
    const auto header = readHeader(file, path);
    if (!header) return header.status();
    const FrmHeader& h = *header;
    ctx.engineCode = h.engineCode;
    if (h.engineCode == core::kEnginePartition) {
        // The engine that holds the rows, and with it the layout of the files, is the
        // partitions'.
        ctx.partitioned = true;
        ctx.engineCode = h.partitionEngine;
    }

    FormInfo form;
    if (Status s = readFormInfo(file, h, path, form); !s) return s;
    ctx.mysqlVersion = h.mysqlVersion;
    ctx.createOptions = h.createOptions;
    ctx.maxRows = h.maxRows;
    settings.version56OrLater = h.mysqlVersion >= 50600;
    ctx.tableCharset = h.tableCharset;

    const KeySection keys = readKeySection(file, h);
    ColumnSection section;
    if (Status s = readColumnSection(file, h, form, path, section); !s) return s;
    const MemberLists members = readMemberLists(section, h, form, ctx.intervalValues);
    std::vector<std::uint32_t> listNumber(form.fieldCount + 1, 0);
    const std::uint32_t nullBits = appendColumns(ctx, h, form, section, members, listNumber);
    appendKeys(ctx, keys, form.fieldCount, listNumber);

    ctx.recordLength = form.recordLength;
    ctx.nullBitmapBytes = (nullBits + 7) / 8;
    readExtraSegment(file, h, ctx);
    if (ctx.partitioned && ctx.partitionText.empty() && ctx.partitionDamage.empty())
        ctx.partitionDamage = "the definition holds no partition text";
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
