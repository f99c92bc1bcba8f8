// MySQL's binary JSON (the storage of a MySQL 5.7 JSON column) to JSON text.
//
//   document     ::= type value
//   type         0x00 small object, 0x01 large object, 0x02 small array, 0x03 large array,
//                0x04 literal (0x00 null, 0x01 true, 0x02 false), 0x05 int16, 0x06 uint16,
//                0x07 int32, 0x08 uint32, 0x09 int64, 0x0A uint64, 0x0B double,
//                0x0C utf8mb4 string, 0x0F opaque (a MySQL field type and its bytes)
//   object       ::= count size key-entry* value-entry* key* value*
//   array        ::= count size value-entry* value*
//   count, size  uint16 (small) or uint32 (large), little-endian; size is the byte size of
//                the object or array, offsets count from its first byte (after the type)
//   key-entry    ::= key-offset (uint16 | uint32) key-length (uint16)
//   value-entry  ::= type (uint8) offset-or-inlined-value (uint16 | uint32); literals,
//                int16 and uint16 (and in large containers int32 and uint32) are inlined
//   string       ::= length data, the length in 7-bit groups, low group first, the high
//                bit set on every byte but the last
//   opaque       ::= field-type (uint8) length data; DECIMAL data is precision, scale and
//                the packed decimal; DATE, TIME, DATETIME and TIMESTAMP data is the 8-byte
//                little-endian packed time (integer part << 24 | microseconds)

#include "values/mysql_json.h"

#include "values/value_decoder.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace dunmore::values {

namespace {

constexpr std::uint8_t kSmallObject = 0x00;
constexpr std::uint8_t kLargeObject = 0x01;
constexpr std::uint8_t kSmallArray = 0x02;
constexpr std::uint8_t kLargeArray = 0x03;
constexpr std::uint8_t kLiteral = 0x04;
constexpr std::uint8_t kInt16 = 0x05;
constexpr std::uint8_t kUint16 = 0x06;
constexpr std::uint8_t kInt32 = 0x07;
constexpr std::uint8_t kUint32 = 0x08;
constexpr std::uint8_t kInt64 = 0x09;
constexpr std::uint8_t kUint64 = 0x0A;
constexpr std::uint8_t kDouble = 0x0B;
constexpr std::uint8_t kString = 0x0C;
constexpr std::uint8_t kOpaque = 0x0F;

constexpr std::uint8_t kNullLiteral = 0x00;
constexpr std::uint8_t kTrueLiteral = 0x01;
constexpr std::uint8_t kFalseLiteral = 0x02;

// MySQL field types that opaque values carry with a known text.
constexpr std::uint8_t kFieldDecimal = 246;
constexpr std::uint8_t kFieldDate = 10;
constexpr std::uint8_t kFieldTime = 11;
constexpr std::uint8_t kFieldDatetime = 12;
constexpr std::uint8_t kFieldTimestamp = 7;

constexpr int kMaxDepth = 100;

template <typename T>
void appendNumber(std::string& out, T value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void appendTwo(std::string& out, std::uint64_t v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

void appendJsonString(std::string_view text, std::string& out) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\b': out.append("\\b"); break;
            case '\f': out.append("\\f"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            default:
                if (u < 0x20) {
                    out.append("\\u00");
                    out.push_back(kHex[u >> 4]);
                    out.push_back(kHex[u & 15]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

// A length in 7-bit groups (at most five bytes for 32 bits).
bool readVariableLength(core::ByteReader& r, std::uint64_t& length) {
    length = 0;
    for (int i = 0; i < 5; ++i) {
        const std::uint8_t b = r.u8();
        if (!r.ok()) return false;
        length |= std::uint64_t{b & 0x7Fu} << (7 * i);
        if ((b & 0x80) == 0) return length <= UINT32_MAX;
    }
    return false;
}

void appendBase64(core::ByteSpan data, std::string& out) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
        for (int k = 3; k >= 0; --k) out.push_back(kAlphabet[(v >> (6 * k)) & 63]);
    }
    if (i + 1 == data.size()) {
        const std::uint32_t v = std::uint32_t{data[i]} << 16;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.append("==");
    } else if (i + 2 == data.size()) {
        const std::uint32_t v = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back('=');
    }
}

// The packed time of a temporal opaque value as MySQL's JSON text shows it (always six
// fractional digits).
void appendPackedTemporal(std::uint8_t fieldType, std::int64_t packed, std::string& out) {
    const bool negative = packed < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(packed) : static_cast<std::uint64_t>(packed);
    const std::uint64_t micro = magnitude & 0xFFFFFF;
    const std::uint64_t intPart = magnitude >> 24;
    out.push_back('"');
    if (fieldType == kFieldTime) {
        if (negative) out.push_back('-');
        const std::uint64_t hms = intPart;
        const std::uint64_t hour = (hms >> 12) & 0x3FF;
        if (hour >= 100) appendNumber(out, hour); else appendTwo(out, hour);
        out.push_back(':');
        appendTwo(out, (hms >> 6) & 0x3F);
        out.push_back(':');
        appendTwo(out, hms & 0x3F);
    } else {
        const std::uint64_t ymd = intPart >> 17;
        const std::uint64_t ym = ymd >> 5;
        const std::uint64_t hms = intPart & 0x1FFFF;
        const std::uint64_t year = ym / 13;
        appendTwo(out, year / 100);
        appendTwo(out, year);
        out.push_back('-');
        appendTwo(out, ym % 13);
        out.push_back('-');
        appendTwo(out, ymd & 0x1F);
        if (fieldType != kFieldDate) {
            out.push_back(' ');
            appendTwo(out, hms >> 12);
            out.push_back(':');
            appendTwo(out, (hms >> 6) & 0x3F);
            out.push_back(':');
            appendTwo(out, hms & 0x3F);
        }
    }
    if (fieldType != kFieldDate) {
        out.push_back('.');
        char digits[6];
        std::uint64_t v = micro % 1000000;
        for (int i = 5; i >= 0; --i) {
            digits[i] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        out.append(digits, 6);
    }
    out.push_back('"');
}

class JsonPrinter {
public:
    JsonPrinter(std::string& out, std::size_t limit) : m_out(out), m_limit(limit) {}

    // A value of the given type whose bytes start at data (containers: after the type byte).
    bool value(std::uint8_t type, core::ByteSpan data, int depth) {
        // Entries of a damaged document may share one sub-document many times over; the
        // text of a real document is never more than a few times its binary size.
        if (depth > kMaxDepth || m_out.size() > m_limit) return false;
        switch (type) {
            case kSmallObject: return container(data, false, true, depth);
            case kLargeObject: return container(data, true, true, depth);
            case kSmallArray: return container(data, false, false, depth);
            case kLargeArray: return container(data, true, false, depth);
            case kLiteral: return literal(data.empty() ? 0xFF : data[0]);
            default: break;
        }
        core::ByteReader r(data);
        switch (type) {
            case kInt16: { const auto v = static_cast<std::int16_t>(r.u16le()); if (!r.ok()) return false; appendNumber(m_out, v); return true; }
            case kUint16: { const auto v = r.u16le(); if (!r.ok()) return false; appendNumber(m_out, v); return true; }
            case kInt32: { const auto v = static_cast<std::int32_t>(r.u32le()); if (!r.ok()) return false; appendNumber(m_out, v); return true; }
            case kUint32: { const auto v = r.u32le(); if (!r.ok()) return false; appendNumber(m_out, v); return true; }
            case kInt64: { const auto v = static_cast<std::int64_t>(r.u64le()); if (!r.ok()) return false; appendNumber(m_out, v); return true; }
            case kUint64: { const auto v = r.u64le(); if (!r.ok()) return false; appendNumber(m_out, v); return true; }
            case kDouble: {
                const double v = std::bit_cast<double>(r.u64le());
                if (!r.ok() || !std::isfinite(v)) return false;
                appendNumber(m_out, v);
                return true;
            }
            case kString: {
                std::uint64_t length = 0;
                if (!readVariableLength(r, length)) return false;
                const core::ByteSpan text = r.bytes(static_cast<std::size_t>(length));
                if (!r.ok()) return false;
                appendJsonString(core::asText(text), m_out);
                return true;
            }
            case kOpaque: return opaque(r);
            default: return false;
        }
    }

private:
    bool literal(std::uint8_t v) {
        switch (v) {
            case kNullLiteral: m_out.append("null"); return true;
            case kTrueLiteral: m_out.append("true"); return true;
            case kFalseLiteral: m_out.append("false"); return true;
            default: return false;
        }
    }

    bool opaque(core::ByteReader& r) {
        const std::uint8_t fieldType = r.u8();
        std::uint64_t length = 0;
        if (!r.ok() || !readVariableLength(r, length)) return false;
        const core::ByteSpan data = r.bytes(static_cast<std::size_t>(length));
        if (!r.ok()) return false;
        if (fieldType == kFieldDecimal && data.size() >= 2) {
            const int precision = data[0];
            const int scale = data[1];
            if (scale <= precision && packedDecimalSize(precision, scale) == data.size() - 2) {
                m_out.append(packedDecimalText(data.subspan(2), precision, scale));
                return true;
            }
        }
        if ((fieldType == kFieldDate || fieldType == kFieldTime || fieldType == kFieldDatetime ||
             fieldType == kFieldTimestamp) && data.size() == 8) {
            core::ByteReader t(data);
            appendPackedTemporal(fieldType, static_cast<std::int64_t>(t.u64le()), m_out);
            return true;
        }
        m_out.append("\"base64:type");
        appendNumber(m_out, fieldType);
        m_out.push_back(':');
        appendBase64(data, m_out);
        m_out.push_back('"');
        return true;
    }

    bool container(core::ByteSpan data, bool large, bool isObject, int depth) {
        const std::size_t offsetSize = large ? 4 : 2;
        core::ByteReader r(data);
        const std::uint64_t count = r.uleN(offsetSize);
        const std::uint64_t size = r.uleN(offsetSize);
        if (!r.ok() || size > data.size() || size < 2 * offsetSize) return false;
        const core::ByteSpan body = data.first(static_cast<std::size_t>(size));
        const std::size_t keyEntrySize = offsetSize + 2;
        const std::size_t valueEntrySize = 1 + offsetSize;
        const std::uint64_t headerSize =
            2 * offsetSize + count * ((isObject ? keyEntrySize : 0) + valueEntrySize);
        if (count > size || headerSize > size) return false;
        m_out.push_back(isObject ? '{' : '[');
        for (std::uint64_t i = 0; i < count; ++i) {
            if (i > 0) m_out.append(", ");
            if (isObject) {
                core::ByteReader k(body);
                k.seek(2 * offsetSize + static_cast<std::size_t>(i) * keyEntrySize);
                const std::uint64_t keyOffset = k.uleN(offsetSize);
                const std::uint16_t keyLength = k.u16le();
                if (!k.ok() || keyOffset > body.size() || keyLength > body.size() - keyOffset) return false;
                appendJsonString(core::asText(body.subspan(static_cast<std::size_t>(keyOffset), keyLength)), m_out);
                m_out.append(": ");
            }
            core::ByteReader v(body);
            v.seek(2 * offsetSize + static_cast<std::size_t>(count) * (isObject ? keyEntrySize : 0) +
                   static_cast<std::size_t>(i) * valueEntrySize);
            const std::uint8_t type = v.u8();
            if (!v.ok()) return false;
            const bool inlined = type == kLiteral || type == kInt16 || type == kUint16 ||
                                 (large && (type == kInt32 || type == kUint32));
            if (inlined) {
                if (!value(type, v.bytes(offsetSize), depth + 1)) return false;
                continue;
            }
            const std::uint64_t offset = v.uleN(offsetSize);
            if (!v.ok() || offset >= body.size() || offset < headerSize) return false;
            if (!value(type, body.subspan(static_cast<std::size_t>(offset)), depth + 1)) return false;
        }
        m_out.push_back(isObject ? '}' : ']');
        return true;
    }

    std::string& m_out;
    std::size_t m_limit;
};

}  // namespace

bool mysqlJsonText(core::ByteSpan bytes, std::string& out) {
    out.clear();
    if (bytes.empty()) return false;
    JsonPrinter printer(out, 16 * bytes.size() + 4096);
    return printer.value(bytes[0], bytes.subspan(1), 0);
}

}  // namespace dunmore::values
