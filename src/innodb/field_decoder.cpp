// Field bytes of a compact InnoDB record to value texts.
//
// InnoDB keeps integers (main type 6: the MySQL integer types, and also ENUM, SET, YEAR
// and the pre-5.6 DATE, TIME, DATETIME and TIMESTAMP layouts) big-endian, with the sign
// bit inverted for signed columns so that the bytes sort like the numbers. The value
// decoders read little-endian two's complement, so those bytes are reversed and, for
// signed columns, the sign bit is put back. Every other main type is handed over as
// stored: FLOAT and DOUBLE are little-endian already, DECIMAL, BIT and the 5.6 temporal
// types are fixed binary in the byte order the decoders expect, character data is in
// the column's character set.
#include "innodb/field_decoder.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "innodb/blob_file.h"
#include "values/charset.h"
#include "values/value_decoder.h"

#include <algorithm>
#include <array>

namespace dunmore::innodb {

namespace {

constexpr std::uint32_t kMainTypeInt = 6;
constexpr std::uint32_t kPreciseUnsigned = 0x200;
constexpr std::uint32_t kLatin1Collation = 8;  // latin1_swedish_ci: Windows-1252

bool isIntegerTypeCode(std::uint32_t code) {
    return code == 1 || code == 2 || code == 3 || code == 8 || code == 9;
}

bool isBlobTypeCode(std::uint32_t code) { return code >= 249 && code <= 252; }
bool isCharacterTypeCode(std::uint32_t code) { return code == 15 || code == 253 || code == 254; }

// Character data whose column names no character set (charset 0).
void renderUnknownText(const core::ColumnDefinition& column, core::ByteSpan bytes,
                       std::string& out) {
    out = textFromBytes(bytes);
    if (core::fieldType(column.typeCode) == core::FieldType::String ||
        core::fieldType(column.typeCode) == core::FieldType::VarString) {
        // CHAR values are stored padded with blanks, which MySQL removes when reading.
        while (!out.empty() && out.back() == ' ') out.pop_back();
    }
}

void appendHex(core::ByteSpan bytes, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (bytes.empty()) return;
    out.reserve(out.size() + 2 + 2 * bytes.size());
    out += "0x";
    for (std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
}

// A BLOB or TEXT value held whole in memory (in-record, or read completely).
void renderBlobInline(const core::ColumnDefinition& column, core::ByteSpan bytes,
                      std::string& out) {
    out.clear();
    if (column.charset == core::kBinaryCollation)
        appendHex(bytes, out);
    else if (column.charset > 0)
        values::textToUtf8(static_cast<std::uint32_t>(column.charset), bytes, out);
    else
        out = textFromBytes(bytes);
}

// The length of a valid UTF-8 sequence starting at text[i], or 0.
std::size_t utf8SequenceLength(core::ByteSpan text, std::size_t i) {
    const std::uint8_t b = text[i];
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const std::uint8_t c = text[i + k];
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return n;
}

// Bytes no server writes for column (a month 13, a DECIMAL digit group above its digits)
// are damage: their text would be a value never stored. False then, with whole (when
// given) cleared and the reason in ctx.valueLoss.
bool storedValueHolds(InnodbReader& ctx, const core::ColumnDefinition& column, const char* fault,
                      bool* whole) {
    if (fault == nullptr) return true;
    // A caller that takes no answer (a key text, a default) is not reading a record.
    if (!whole) return false;
    *whole = false;
    if (ctx.valueLoss.empty())
        ctx.valueLoss = "its value of " + column.name + " is not one a server stores (" + fault + ")";
    return false;
}

}  // namespace

bool isUnsignedInteger(const core::InnodbColumn& field) {
    return (field.preciseType & kPreciseUnsigned) != 0 ||
           (isIntegerTypeCode(field.column.typeCode) && field.column.isUnsigned);
}

void convertIntegerField(std::span<std::uint8_t> bytes, const core::InnodbColumn& field) {
    if (field.mainType != kMainTypeInt || bytes.empty()) return;
    std::reverse(bytes.begin(), bytes.end());
    if (!isUnsignedInteger(field)) bytes.back() ^= 0x80;
}

std::string textFromBytes(core::ByteSpan bytes) {
    const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const core::ByteSpan text = bytes.first(static_cast<std::size_t>(zero - bytes.begin()));
    bool multiByte = false;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = utf8SequenceLength(text, i);
        if (n == 0) return values::textToUtf8(kLatin1Collation, text);
        multiByte = true;
        i += n;
    }
    if (multiByte) return core::asText(text);
    return values::textToUtf8(kLatin1Collation, text);
}

bool decodeInnodbField(InnodbReader& ctx, core::AppSettings& settings,
                       core::ByteSpan bytes, const core::InnodbColumn& field, bool external,
                       std::string& out, bool* whole) {
    if (whole) *whole = true;
    const core::ColumnDefinition& column = field.column;
    const values::DecodeOptions options{settings.saving()};
    const bool blob = isBlobTypeCode(column.typeCode);

    if (external) {
        if (blob && !settings.saving()) {
            out.assign(kLargeSizeBlobData);
            return false;
        }
        // A save into a server sends every value in its statement: a file the server
        // would have to read from the client's disk is no way to get it there.
        const auto lost = [&](const core::Status& why) {
            // Part of the value is lost: a text of the rest would be a value never stored.
            if (whole) *whole = false;
            if (ctx.valueLoss.empty())
                ctx.valueLoss = "its value of " + column.name + " cannot be read whole (" + why.message() + ")";
            out.clear();
            return false;
        };
        if (blob && !settings.savingToServer && !settings.blobsInline) {
            core::Status read;
            out = extractExternalBlob(ctx, settings, bytes, &read);
            if (!read) return lost(read);
            if (!out.empty()) return false;
            // No blob file could be written: the value still reaches the output whole.
        }
        core::Bytes value;
        if (const core::Status read = readExternalValue(ctx, bytes, value); !read) return lost(read);
        const core::Bytes& whole = value;
        if (blob && settings.blobsInline) {
            // The stored bytes as they are, whatever the column's character set: the
            // server takes a hexadecimal literal into a TEXT column byte for byte, as it
            // would the contents of a blob file.
            out.clear();
            appendHex(whole, out);
            return !out.empty();
        }
        if (blob)
            renderBlobInline(column, whole, out);
        else if (isCharacterTypeCode(column.typeCode) && column.charset <= 0)
            renderUnknownText(column, whole, out);
        else
            values::decodeColumnValue(column, whole, options, out);
        return false;
    }

    if (blob) {
        renderBlobInline(column, bytes, out);
        return false;
    }

    if (field.mainType == kMainTypeInt && isIntegerTypeCode(column.typeCode) &&
        bytes.size() == values::storedWidth(column)) {
        // The stored big-endian number, its sign bit put back for a signed column: what
        // the conversion below gives the value decoder, without the copies.
        std::uint64_t v = 0;
        for (const std::uint8_t b : bytes) v = (v << 8) | b;
        const bool isUnsigned = isUnsignedInteger(field);
        if (!isUnsigned) v ^= std::uint64_t{0x80} << (8 * (bytes.size() - 1));
        out.clear();
        values::appendIntegerText(v, bytes.size(), isUnsigned, out);
        return false;
    }
    if (field.mainType == kMainTypeInt && bytes.size() <= 8) {
        std::array<std::uint8_t, 8> converted{};
        std::copy(bytes.begin(), bytes.end(), converted.begin());
        const std::span<std::uint8_t> view(converted.data(), bytes.size());
        convertIntegerField(view, field);
        const bool isUnsigned = isUnsignedInteger(field);
        if (isIntegerTypeCode(column.typeCode) && column.isUnsigned != isUnsigned) {
            core::ColumnDefinition signedness = column;
            signedness.isUnsigned = isUnsigned;
            values::decodeColumnValue(signedness, view, options, out);
        } else {
            storedValueHolds(ctx, column, values::decodeStoredValue(column, view, options, out), whole);
        }
        return false;
    }
    if (isCharacterTypeCode(column.typeCode) && column.charset <= 0) {
        renderUnknownText(column, bytes, out);
        return false;
    }
    storedValueHolds(ctx, column, values::decodeStoredValue(column, bytes, options, out), whole);
    return false;
}

std::string decodeInnodbField(InnodbReader& ctx, core::AppSettings& settings,
                              core::ByteSpan bytes, const core::InnodbColumn& field,
                              bool external) {
    std::string out;
    (void)decodeInnodbField(ctx, settings, bytes, field, external, out);
    return out;
}

}  // namespace dunmore::innodb
