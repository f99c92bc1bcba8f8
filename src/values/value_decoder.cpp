// Stored column values to their texts, for MyISAM rows and InnoDB fields alike.
//
// Byte layouts, by MySQL type code:
// - integers (1 TINYINT, 2 SMALLINT, 9 MEDIUMINT, 3 INT, 8 BIGINT): 1, 2, 3, 4, 8 bytes,
//   little-endian two's complement (the InnoDB reader first turns its big-endian,
//   sign-flipped form into this one). Signed or unsigned by the column's attribute.
// - 4 FLOAT, 5 DOUBLE: IEEE 754, little-endian.
// - 246 NEWDECIMAL: MySQL's packed decimal (groups of nine digits in four bytes, partial
//   groups in 1-4 bytes, big-endian, sign in the top bit, negative values inverted).
//   0 DECIMAL (before MySQL 5.0): the number as ASCII text, padded to the field length.
// - 14 NEWDATE: 3 bytes little-endian, day in bits 0-4, month 5-8, year above.
//   10 DATE (before MySQL 5.0): 4 bytes little-endian, the number YYYYMMDD.
// - 11 TIME: 3 bytes little-endian signed, the number [-]HHMMSS. With fractional seconds
//   (MariaDB 5.3 to 10.0, field length above 10) big-endian of
//   (microseconds since -838:59:59.999999) / 10^(6-fsp), 3 to 6 bytes.
// - 19 TIME2 (MySQL 5.6): 3 bytes big-endian, bias 0x800000, hour in bits 12-21,
//   minute 6-11, second 0-5, then (fsp+1)/2 bytes of fraction.
// - 12 DATETIME: 8 bytes little-endian, the number YYYYMMDDhhmmss. With fractional seconds
//   (MariaDB, field length above 19) big-endian of the packed time
//   (((((year*13+month)*32+day)*24+hour)*60+minute)*60+second)*10^6+us) / 10^(6-fsp).
// - 18 DATETIME2: 5 bytes big-endian, bias 2^39, ((year*13+month) << 22 | day << 17 |
//   hour << 12 | minute << 6 | second), then (fsp+1)/2 bytes of fraction.
// - 7 TIMESTAMP: 4 bytes little-endian seconds since 1970 UTC (0 is the zero value); with
//   fractional seconds (MariaDB) 4 bytes big-endian then the fraction, big-endian.
//   17 TIMESTAMP2: 4 bytes big-endian, then (fsp+1)/2 bytes of fraction.
// - 13 YEAR: 1 byte, 0 for 0000 else year - 1900.
// - 16 BIT: (n+7)/8 bytes big-endian.
// - 247 ENUM: 1-based member index, 1 byte, 2 bytes for more than 255 members.
// - 248 SET: member bit mask, 1, 2, 3, 4 or 8 bytes little-endian.
// - character, BLOB and GEOMETRY types: the bytes as given.

#include "values/value_decoder.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "values/charset.h"
#include "values/mysql_json.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace dunmore::values {

namespace {

using core::FieldType;
using core::fieldType;

// Preview placeholders for long values; saving always writes them whole.
constexpr std::size_t kPreviewBinaryLimit = 99;
constexpr std::size_t kPreviewBlobLimit = 999;

// Display widths of the temporal types without fractional seconds; a longer field
// length carries fsp = length - width - 1.
constexpr std::int32_t kTimeWidth = 10;
constexpr std::int32_t kDatetimeWidth = 19;

// Bytes of the MariaDB fractional-second formats, by fsp 0..6.
constexpr std::array<std::uint32_t, 7> kTimeHiresBytes = {3, 4, 4, 5, 5, 5, 6};
constexpr std::array<std::uint32_t, 7> kDatetimeHiresBytes = {5, 6, 6, 7, 7, 7, 8};
constexpr std::array<std::uint32_t, 7> kSecPartBytes = {0, 1, 1, 2, 2, 3, 3};
// TIME's range ends at 838:59:59; MariaDB's fractional TIME counts from below it.
constexpr std::int64_t kTimeMaxValueSeconds = 838 * 3600 + 59 * 60 + 59;

// MySQL 5.6 temporal biases.
constexpr std::int64_t kTimefIntOffset = 0x800000;
constexpr std::int64_t kTimefOffset = 0x800000000000LL;
constexpr std::int64_t kDatetimefIntOffset = 0x8000000000LL;

constexpr std::array<std::uint32_t, 10> kDigitsToBytes = {0, 1, 1, 2, 2, 3, 3, 4, 4, 4};
constexpr std::array<std::int64_t, 10> kPowersOf10 = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
constexpr std::uint32_t kDigitsPerGroup = 9;
constexpr std::uint32_t kGroupBytes = 4;
constexpr std::uint32_t kMaxGroupValue = 999999999;
// Bound on digits taken from a definition; MySQL allows 65 and 30.
constexpr std::int32_t kMaxDecimalDigits = 81;
// The old text DECIMAL holds up to 255 digits, a sign and a point.
constexpr std::int32_t kMaxOldDecimalLength = 257;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A copy of the first N bytes of a value, zero-filled beyond what was given, so that
// fixed-width layouts never read outside the caller's bytes.
template <std::size_t N>
struct Padded {
    explicit Padded(core::ByteSpan bytes) {
        const std::size_t n = std::min(bytes.size(), N);
        if (n > 0) std::memcpy(data.data(), bytes.data(), n);
    }
    core::ByteSpan span(std::size_t width) const { return {data.data(), std::min(width, N)}; }
    std::array<std::uint8_t, N> data{};
};

// 10^0 to 10^19, every power of ten an unsigned 64-bit integer holds.
constexpr std::array<std::uint64_t, 20> kUnsignedPowersOf10 = [] {
    std::array<std::uint64_t, 20> powers{};
    std::uint64_t p = 1;
    for (auto& power : powers) {
        power = p;
        p *= 10;
    }
    return powers;
}();

// Two decimal digits of every number below 100.
constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes the text of a value from a place on: into a TextBuilder, or straight into the
// room of a RowText. Its writer makes sure the room suffices.
class TextCursor {
public:
    TextCursor(char* begin, char* limit) : m_end(begin), m_limit(limit) {}
    void put(char c) { *m_end++ = c; }
    // value in decimal, "-" first when negative.
    template <typename T>
    void number(T value) {
        m_end = std::to_chars(m_end, m_limit, value).ptr;
    }
    // The same for an integer, two digits at a time from the last: the count of digits
    // from the bit width (log10 2 ~ 1233 / 4096), one more when value reaches the next
    // power of ten.
    void integer(std::uint64_t value) {
        if (value < 10) {
            put(static_cast<char>('0' + value));
            return;
        }
        const auto estimate = static_cast<std::size_t>((std::bit_width(value) * 1233) >> 12);
        const std::size_t digits = estimate + (value >= kUnsignedPowersOf10[estimate] ? 1 : 0);
        m_end += digits;
        char* p = m_end;
        for (; value >= 100; value /= 100) {
            p -= 2;
            std::memcpy(p, &kDigitPairs[2 * (value % 100)], 2);
        }
        if (value >= 10) {
            std::memcpy(p - 2, &kDigitPairs[2 * value], 2);
        } else {
            p[-1] = static_cast<char>('0' + value);
        }
    }
    void integer(std::int64_t value) {
        if (value < 0) {
            put('-');
            integer(0 - static_cast<std::uint64_t>(value));
            return;
        }
        integer(static_cast<std::uint64_t>(value));
    }
    // value with at least width digits (leading zeros); negative values as they are.
    [[gnu::always_inline]] void padded(std::int64_t value, int width) {
        if (value < 0) {
            number(value);
            return;
        }
        if (width <= 9 && value < kPowersOf10[static_cast<std::size_t>(width)]) {
            fixedDigits(static_cast<std::uint64_t>(value), width);
            return;
        }
        int digits = 1;
        for (auto rest = static_cast<std::uint64_t>(value) / 10; rest != 0; rest /= 10) ++digits;
        fixedDigits(static_cast<std::uint64_t>(value), std::max(digits, width));
    }
    // Exactly `width` digits of value below 10^width, leading zeros included.
    [[gnu::always_inline]] void fixedDigits(std::uint64_t value, int width) {
        m_end += width;
        char* p = m_end;
        for (; width >= 2; width -= 2) {
            p -= 2;
            std::memcpy(p, &kDigitPairs[2 * (value % 100)], 2);
            value /= 100;
        }
        if (width == 1) *--p = static_cast<char>('0' + value % 10);
    }
    char* end() const { return m_end; }

private:
    char* m_end;
    char* m_limit;
};

// The text of one value, built in a buffer on the stack and appended to its string with
// one call: a value of many small parts (a date, a DECIMAL of digit groups) would otherwise
// grow the string part by part.
template <std::size_t N>
class TextBuilder : public TextCursor {
public:
    TextBuilder() : TextCursor(m_buffer, m_buffer + N) {}
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;
    void appendTo(std::string& out) const { out.append(m_buffer, static_cast<std::size_t>(end() - m_buffer)); }

private:
    char m_buffer[N];
};

// Room for any date or time text, fraction and sign included.
using TemporalText = TextBuilder<128>;

template <typename T>
void appendNumber(std::string& out, T value) {
    TextBuilder<32> text;
    text.number(value);
    text.appendTo(out);
}

void appendHex(core::ByteSpan bytes, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + 2 + 2 * bytes.size());
    char* p = out.data() + start;
    *p++ = '0';
    *p++ = 'x';
    for (const std::uint8_t b : bytes) {
        *p++ = kHexDigits[b >> 4];
        *p++ = kHexDigits[b & 0x0F];
    }
}

std::int64_t signExtend(std::uint64_t v, std::size_t bytes) {
    if (bytes == 0 || bytes >= 8) return static_cast<std::int64_t>(v);
    const unsigned bits = static_cast<unsigned>(8 * bytes);
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    return static_cast<std::int64_t>((v ^ sign) - sign);
}

int fractionalPrecision(const core::ColumnDefinition& column, std::int32_t width) {
    const std::int32_t fsp = column.length - width - 1;
    return std::clamp(fsp, 0, 6);
}

// ".ffffff" cut to fsp digits.
void putFraction(TextCursor& out, std::int64_t micro, int fsp) {
    if (fsp <= 0) return;
    const auto v = static_cast<std::uint64_t>(std::clamp<std::int64_t>(micro, 0, 999999));
    out.put('.');
    out.fixedDigits(v / kPowersOf10[static_cast<std::size_t>(6 - fsp)], fsp);
}

void putDate(TextCursor& out, std::int64_t year, std::int64_t month, std::int64_t day) {
    out.padded(year, 4);
    out.put('-');
    out.padded(month, 2);
    out.put('-');
    out.padded(day, 2);
}

void putClock(TextCursor& out, std::int64_t hour, std::int64_t minute, std::int64_t second) {
    out.padded(hour, 2);
    out.put(':');
    out.padded(minute, 2);
    out.put(':');
    out.padded(second, 2);
}

void appendTime(std::string& out, bool negative, std::int64_t hour, std::int64_t minute,
                std::int64_t second, std::int64_t micro, int fsp) {
    TemporalText text;
    if (negative) text.put('-');
    putClock(text, hour, minute, second);
    putFraction(text, micro, fsp);
    text.appendTo(out);
}

void appendOldDatetime(std::string& out, std::uint64_t n) {
    const std::uint64_t t = n % 1000000;
    const std::uint64_t d = n / 1000000;
    TemporalText text;
    text.fixedDigits(d / 10000 % 10000, 4);
    text.put('-');
    text.fixedDigits(d / 100 % 100, 2);
    text.put('-');
    text.fixedDigits(d % 100, 2);
    text.put(' ');
    text.fixedDigits(t / 10000 % 100, 2);
    text.put(':');
    text.fixedDigits(t / 100 % 100, 2);
    text.put(':');
    text.fixedDigits(t % 100, 2);
    text.appendTo(out);
}

// The broken-down packed time of MariaDB's fractional DATETIME.
void appendPackedDatetime(std::string& out, std::uint64_t packed, int fsp) {
    const std::int64_t micro = static_cast<std::int64_t>(packed % 1000000);
    packed /= 1000000;
    const std::uint64_t second = packed % 60;
    packed /= 60;
    const std::uint64_t minute = packed % 60;
    packed /= 60;
    const std::uint64_t hour = packed % 24;
    packed /= 24;
    const std::uint64_t day = packed % 32;
    packed /= 32;
    const std::uint64_t month = packed % 13;
    const std::uint64_t year = packed / 13;
    TemporalText text;
    putDate(text, static_cast<std::int64_t>(year), static_cast<std::int64_t>(month),
            static_cast<std::int64_t>(day));
    text.put(' ');
    putClock(text, static_cast<std::int64_t>(hour), static_cast<std::int64_t>(minute),
             static_cast<std::int64_t>(second));
    putFraction(text, micro, fsp);
    text.appendTo(out);
}

void appendTimestamp(std::string& out, std::uint32_t seconds, std::int64_t micro, int fsp,
                     bool saving) {
    TemporalText text;
    if (seconds == 0 && micro == 0) {
        // MySQL stores the zero TIMESTAMP as 0; 1970-01-01 00:00:00 UTC is outside its range.
        putDate(text, 0, 0, 0);
        text.put(' ');
        putClock(text, 0, 0, 0);
        putFraction(text, 0, fsp);
        text.appendTo(out);
        return;
    }
    const time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    // Saved values are UTC (the scripts set the session time zone to +00:00); the preview
    // shows the computer's local time.
    const bool converted = saving ? gmtime_r(&t, &tm) != nullptr : localtime_r(&t, &tm) != nullptr;
    if (!converted) {
        out.append(timestampText(0, 0, 0, -1, -1, -1));
        return;
    }
    putDate(text, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    text.put(' ');
    putClock(text, tm.tm_hour, tm.tm_min, tm.tm_sec);
    putFraction(text, micro, fsp);
    text.appendTo(out);
}

// The fraction bytes that follow a MySQL 5.6 temporal value, as microseconds.
std::int64_t mysql56Fraction(core::ByteReader& r, int fsp) {
    switch (fsp) {
        case 1:
        case 2:
            return signExtend(r.u8(), 1) * 10000;
        case 3:
        case 4:
            return signExtend(r.u16be(), 2) * 100;
        case 5:
        case 6:
            return signExtend(r.u24be(), 3);
        default:
            return 0;
    }
}

void decodeInteger(const core::ColumnDefinition& column, core::ByteSpan bytes, std::size_t width,
                   std::string& out) {
    // Little-endian; bytes past those given read as zero.
    std::uint64_t v = 0;
    const std::size_t n = std::min(bytes.size(), width);
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{bytes[i]} << (8 * i);
    appendIntegerText(v, width, column.isUnsigned, out);
}

void decodeFloat(core::ByteSpan bytes, bool isDouble, std::string& out) {
    const Padded<8> p(bytes);
    core::ByteReader r(p.span(isDouble ? 8 : 4));
    if (isDouble) {
        appendNumber(out, std::bit_cast<double>(r.u64le()));
        return;
    }
    const float f = std::bit_cast<float>(r.u32le());
    char buf[32];
    const auto shortest = std::to_chars(buf, buf + sizeof buf, f);
    // The server reads a FLOAT literal as a double and refuses one above FLT_MAX; the
    // shortest text of a float near FLT_MAX is such a double (3.4028235e+38), so those
    // are written with the digits of the float's exact value instead.
    double asDouble = 0;
    std::from_chars(buf, shortest.ptr, asDouble);
    if (std::isfinite(f) && std::fabs(asDouble) > std::numeric_limits<float>::max()) {
        appendNumber(out, static_cast<double>(f));
        return;
    }
    out.append(buf, shortest.ptr);
}

void decodeDate(core::ByteSpan bytes, bool oldDate, std::string& out) {
    const Padded<4> p(bytes);
    core::ByteReader r(p.span(4));
    if (oldDate) {
        const std::uint32_t v = r.u32le();
        TemporalText text;
        putDate(text, v / 10000, v / 100 % 100, v % 100);
        text.appendTo(out);
        return;
    }
    const std::uint32_t v = r.u24le();
    TemporalText text;
    putDate(text, v >> 9, (v >> 5) & 0x0F, v & 0x1F);
    text.appendTo(out);
}

// A MariaDB fractional TIME (5.3 to 10.0) as signed microseconds: its big-endian count
// of 10^(6-fsp) steps from -838:59:59.999999.
std::int64_t hiresTimeMicros(core::ByteSpan bytes, int fsp) {
    const std::uint32_t width = kTimeHiresBytes[static_cast<std::size_t>(fsp)];
    core::ByteReader r(bytes.first(std::min<std::size_t>(width, bytes.size())));
    const std::int64_t scale = kPowersOf10[static_cast<std::size_t>(6 - fsp)];
    const std::int64_t zeroPoint = (kTimeMaxValueSeconds + 1) * 1000000 / scale;
    return (static_cast<std::int64_t>(r.ubeN(width)) - zeroPoint) * scale;
}

// A MySQL 5.6 TIME2 value as a signed count: the hours, minutes and seconds of its
// magnitude in bits 24 and up (hour 12-21, minute 6-11, second 0-5), microseconds below.
std::int64_t time2Packed(core::ByteSpan bytes, int fsp) {
    core::ByteReader r(bytes);
    if (fsp >= 5) return static_cast<std::int64_t>(r.u48be()) - kTimefOffset;
    std::int64_t intPart = static_cast<std::int64_t>(r.u24be()) - kTimefIntOffset;
    std::int64_t frac = 0;
    if (fsp >= 3) {
        frac = r.u16be();
        if (intPart < 0 && frac != 0) {
            ++intPart;
            frac -= 0x10000;
        }
        frac *= 100;
    } else if (fsp >= 1) {
        frac = r.u8();
        if (intPart < 0 && frac != 0) {
            ++intPart;
            frac -= 0x100;
        }
        frac *= 10000;
    }
    return intPart * (std::int64_t{1} << 24) + frac;
}

void decodeTime(const core::ColumnDefinition& column, core::ByteSpan bytes, std::string& out) {
    const int fsp = fractionalPrecision(column, kTimeWidth);
    const Padded<8> p(bytes);
    if (fieldType(column.typeCode) == FieldType::Time2) {
        const std::int64_t packed = time2Packed(p.span(8), fsp);
        const bool negative = packed < 0;
        const std::uint64_t magnitude =
            negative ? 0 - static_cast<std::uint64_t>(packed) : static_cast<std::uint64_t>(packed);
        const std::uint64_t hms = magnitude >> 24;
        const std::int64_t micro = static_cast<std::int64_t>(magnitude & 0xFFFFFF);
        appendTime(out, negative, static_cast<std::int64_t>((hms >> 12) & 0x3FF),
                   static_cast<std::int64_t>((hms >> 6) & 0x3F),
                   static_cast<std::int64_t>(hms & 0x3F), micro, fsp);
        return;
    }
    if (fsp > 0) {
        const std::int64_t v = hiresTimeMicros(p.span(8), fsp);
        const bool negative = v < 0;
        const std::int64_t a = negative ? -v : v;
        const std::int64_t secs = a / 1000000;
        appendTime(out, negative, secs / 3600, secs / 60 % 60, secs % 60, a % 1000000, fsp);
        return;
    }
    core::ByteReader r(p.span(3));
    const std::int64_t v = signExtend(r.u24le(), 3);
    const bool negative = v < 0;
    const std::int64_t a = negative ? -v : v;
    appendTime(out, negative, a / 10000, a / 100 % 100, a % 100, 0, 0);
}

// The text of a DATETIME of the MySQL 5.6 format.
void putDatetime2(TextCursor& text, const Padded<8>& p, int fsp) {
    core::ByteReader r(p.span(8));
    std::int64_t intPart = static_cast<std::int64_t>(r.ubeN(5)) - kDatetimefIntOffset;
    std::int64_t micro = mysql56Fraction(r, fsp);
    if (intPart < 0) {
        // DATETIME has no negative values; show the magnitude with its sign.
        text.put('-');
        intPart = -intPart;
        micro = -micro;
    }
    const std::int64_t ymd = intPart >> 17;
    const std::int64_t ym = ymd >> 5;
    const std::int64_t hms = intPart & 0x1FFFF;
    putDate(text, ym / 13, ym % 13, ymd & 0x1F);
    text.put(' ');
    putClock(text, hms >> 12, (hms >> 6) & 0x3F, hms & 0x3F);
    putFraction(text, micro, fsp);
}

void decodeDatetime(const core::ColumnDefinition& column, core::ByteSpan bytes,
                    std::string& out) {
    const int fsp = fractionalPrecision(column, kDatetimeWidth);
    const Padded<8> p(bytes);
    if (fieldType(column.typeCode) == FieldType::Datetime2) {
        TemporalText text;
        putDatetime2(text, p, fsp);
        text.appendTo(out);
        return;
    }
    if (fsp > 0) {
        const std::uint32_t width = kDatetimeHiresBytes[static_cast<std::size_t>(fsp)];
        core::ByteReader r(p.span(width));
        const std::uint64_t scale = static_cast<std::uint64_t>(kPowersOf10[static_cast<std::size_t>(6 - fsp)]);
        appendPackedDatetime(out, r.ubeN(width) * scale, fsp);
        return;
    }
    core::ByteReader r(p.span(8));
    appendOldDatetime(out, r.u64le());
}

void decodeTimestamp(const core::ColumnDefinition& column, core::ByteSpan bytes, bool saving,
                     std::string& out) {
    const int fsp = fractionalPrecision(column, kDatetimeWidth);
    const Padded<8> p(bytes);
    core::ByteReader r(p.span(8));
    if (fieldType(column.typeCode) == FieldType::Timestamp2) {
        const std::uint32_t seconds = r.u32be();
        const std::int64_t micro = mysql56Fraction(r, fsp);
        appendTimestamp(out, seconds, micro, fsp, saving);
        return;
    }
    if (fsp > 0) {
        const std::uint32_t seconds = r.u32be();
        const std::size_t width = kSecPartBytes[static_cast<std::size_t>(fsp)];
        const std::int64_t micro = static_cast<std::int64_t>(r.ubeN(width)) *
                                   kPowersOf10[static_cast<std::size_t>(6 - fsp)];
        appendTimestamp(out, seconds, micro, fsp, saving);
        return;
    }
    appendTimestamp(out, r.u32le(), 0, 0, saving);
}

void decodeBit(const core::ColumnDefinition& column, core::ByteSpan bytes, std::string& out) {
    const int bits = std::clamp(column.length, 0, 64);
    // All bits of the given bytes, big-endian; a value wider than 64 bits keeps its low end.
    const core::ByteSpan tail = bytes.size() > 8 ? bytes.subspan(bytes.size() - 8) : bytes;
    core::ByteReader r(tail);
    const std::uint64_t v = r.ubeN(tail.size());
    for (int i = bits - 1; i >= 0; --i) out.push_back(((v >> i) & 1) != 0 ? '1' : '0');
}

std::uint32_t enumWidth(const core::ColumnDefinition& column) {
    return column.members.size() > 255 ? 2 : 1;
}

std::uint32_t setWidth(const core::ColumnDefinition& column) {
    const std::size_t w = (std::min<std::size_t>(column.members.size(), 64) + 7) / 8;
    if (w == 0) return 1;
    return w > 4 ? 8 : static_cast<std::uint32_t>(w);
}

void decodeEnum(const core::ColumnDefinition& column, core::ByteSpan bytes, std::string& out) {
    const std::uint32_t width = enumWidth(column);
    const Padded<2> p(bytes);
    core::ByteReader r(p.span(width));
    const std::uint64_t k = r.uleN(width);
    if (k >= 1 && k <= column.members.size()) out.append(column.members[k - 1]);
}

void decodeSet(const core::ColumnDefinition& column, core::ByteSpan bytes, std::string& out) {
    const std::uint32_t width = setWidth(column);
    const Padded<8> p(bytes);
    core::ByteReader r(p.span(width));
    const std::uint64_t mask = r.uleN(width);
    const std::size_t count = std::min<std::size_t>(column.members.size(), 64);
    bool first = true;
    for (std::size_t i = 0; i < count; ++i) {
        if (((mask >> i) & 1) == 0) continue;
        if (!first) out.push_back(',');
        out.append(column.members[i]);
        first = false;
    }
}

void decodeOldDecimal(core::ByteSpan bytes, std::string& out) {
    // The number as ASCII, right-aligned in blanks (or zero-filled).
    std::size_t begin = 0;
    std::size_t end = bytes.size();
    while (begin < end && (bytes[begin] == ' ' || bytes[begin] == 0)) ++begin;
    while (end > begin && (bytes[end - 1] == ' ' || bytes[end - 1] == 0)) --end;
    for (std::size_t i = begin; i < end; ++i) {
        const std::uint8_t c = bytes[i];
        const bool numeric = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+';
        out.push_back(numeric ? static_cast<char>(c) : '?');
    }
    if (begin == end) out.push_back('0');
}

void decodeCharacter(const core::ColumnDefinition& column, core::ByteSpan bytes,
                     const DecodeOptions& options, std::string& out) {
    if (column.charset == core::kBinaryCollation && fieldType(column.typeCode) != FieldType::Json) {
        if (bytes.empty()) return;
        if (!options.saving && bytes.size() > kPreviewBinaryLimit) {
            out.append("0x<Binarydata>");
            return;
        }
        appendHex(bytes, out);
        return;
    }
    // Type 245 is MySQL 5.7's JSON, stored in its binary form; a value that is not a
    // well-formed binary document is kept as the text it holds.
    if (fieldType(column.typeCode) == FieldType::Json && mysqlJsonText(bytes, out)) return;
    out.clear();
    const std::uint32_t collation =
        fieldType(column.typeCode) == FieldType::Json && column.charset == core::kBinaryCollation
            ? 45
            : static_cast<std::uint32_t>(column.charset);
    textToUtf8(collation, bytes, out);
    if (fieldType(column.typeCode) == FieldType::String || fieldType(column.typeCode) == FieldType::VarString) {
        // CHAR values are stored padded with blanks, which MySQL removes when reading.
        std::size_t end = out.size();
        while (end > 0 && out[end - 1] == ' ') --end;
        out.resize(end);
    }
}

void decodeBlob(const core::ColumnDefinition& column, core::ByteSpan bytes,
                const DecodeOptions& options, std::string& out) {
    if (!options.saving && bytes.size() > kPreviewBlobLimit) {
        out.append("Large Blob Data");
        return;
    }
    if (column.charset == core::kBinaryCollation) {
        if (!bytes.empty()) appendHex(bytes, out);
        return;
    }
    textToUtf8(static_cast<std::uint32_t>(column.charset), bytes, out);
}

void decodeGeometry(core::ByteSpan bytes, const DecodeOptions& options, std::string& out) {
    if (!options.saving) {
        out.append("Spatial Data");
        return;
    }
    if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) {
        out.append("NULL");
        return;
    }
    appendHex(bytes, out);
}

// The digit groups of a packed DECIMAL: the leading partial group, the whole groups of
// nine digits (integer part, then fraction) and the trailing partial group.
struct DecimalDigits {
    bool negative = false;
    std::uint64_t lead = 0;
    // Only the groups the layout has are written, and read (no zero fill per value).
    std::array<std::uint64_t, 2 * kMaxDecimalDigits / kDigitsPerGroup + 2> groups;
    std::uint32_t intg0 = 0;
    std::uint32_t frac0 = 0;
    std::uint32_t frac0x = 0;
    std::int32_t frac = 0;
    std::uint64_t trail = 0;
};

// The big-endian number of width (0 to 8) bytes at p.
std::uint64_t readGroup(const std::uint8_t* p, std::uint32_t width) {
    std::uint64_t v = 0;
    for (std::uint32_t i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

// False when a group holds more than its digits: bytes a server never wrote.
bool readPackedDecimal(core::ByteSpan bytes, std::int32_t precision, std::int32_t decimals,
                       DecimalDigits& d) {
    d.frac = std::clamp(decimals, 0, kMaxDecimalDigits);
    const std::int32_t intg = std::clamp(precision - d.frac, 0, kMaxDecimalDigits);
    d.intg0 = static_cast<std::uint32_t>(intg) / kDigitsPerGroup;
    const std::uint32_t intg0x = static_cast<std::uint32_t>(intg) % kDigitsPerGroup;
    d.frac0 = static_cast<std::uint32_t>(d.frac) / kDigitsPerGroup;
    d.frac0x = static_cast<std::uint32_t>(d.frac) % kDigitsPerGroup;

    // Bytes past those given read as zero (a copy of a short value; the stored size is at
    // most 72 bytes). The sign bit of the first byte is not part of the digits.
    const std::uint32_t size = kDigitsToBytes[intg0x] + kGroupBytes * (d.intg0 + d.frac0) +
                               kDigitsToBytes[d.frac0x];
    std::array<std::uint8_t, 96> copy;
    const std::uint8_t* start = bytes.data();
    if (bytes.size() < size || bytes.empty()) {
        copy.fill(0);
        if (!bytes.empty()) std::memcpy(copy.data(), bytes.data(), bytes.size());
        start = copy.data();
    }
    d.negative = (start[0] & 0x80) == 0;
    const std::uint64_t mask = d.negative ? ~std::uint64_t{0} : 0;
    const std::uint8_t* p = start;
    auto group = [&](std::uint32_t width) {
        const std::uint64_t widthMask =
            width >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * width)) - 1;
        std::uint64_t v = readGroup(p, width);
        if (p == start && width > 0) v ^= std::uint64_t{0x80} << (8 * (width - 1));
        p += width;
        return (v ^ mask) & widthMask;
    };
    d.lead = group(kDigitsToBytes[intg0x]);
    if (d.lead >= static_cast<std::uint64_t>(kPowersOf10[intg0x])) return false;
    for (std::uint32_t i = 0; i < d.intg0 + d.frac0; ++i) {
        d.groups[i] = group(kGroupBytes);
        if (d.groups[i] > kMaxGroupValue) return false;
    }
    d.trail = group(kDigitsToBytes[d.frac0x]);
    return d.trail < static_cast<std::uint64_t>(kPowersOf10[d.frac0x]);
}

// A sign, 81 integer digits, a point and 81 fraction digits at most, and room for a comma.
using DecimalText = TextBuilder<192>;

void putDecimalDigits(const DecimalDigits& d, TextCursor& text) {
    if (d.negative) text.put('-');
    bool started = false;
    if (d.lead != 0) {
        text.integer(d.lead);
        started = true;
    }
    for (std::uint32_t i = 0; i < d.intg0; ++i) {
        if (started) {
            text.fixedDigits(d.groups[i], kDigitsPerGroup);
        } else if (d.groups[i] != 0) {
            text.integer(d.groups[i]);
            started = true;
        }
    }
    if (!started) text.put('0');
    if (d.frac > 0) {
        text.put('.');
        for (std::uint32_t i = d.intg0; i < d.intg0 + d.frac0; ++i)
            text.fixedDigits(d.groups[i], kDigitsPerGroup);
        if (d.frac0x > 0) text.fixedDigits(d.trail, static_cast<int>(d.frac0x));
    }
}

void appendDecimalDigits(const DecimalDigits& d, std::string& out) {
    DecimalText text;
    putDecimalDigits(d, text);
    text.appendTo(out);
}

// Why the digits of a packed DECIMAL are not ones a server stores.
constexpr const char* kDecimalDigitsFault = "a DECIMAL digit group above its digits";

// False (and "0" written) when the digits are damaged.
bool appendPackedDecimal(core::ByteSpan bytes, std::int32_t precision, std::int32_t decimals,
                         std::string& out) {
    DecimalDigits d;
    // Digits are checked before anything is written, so damage yields "0" alone.
    if (!readPackedDecimal(bytes, precision, decimals, d)) {
        out.push_back('0');
        return false;
    }
    appendDecimalDigits(d, out);
    return true;
}

// The fraction bytes of a MySQL 5.6 temporal value hold at most fsp rounded up to even
// digits: 99, 9999 or 999999.
bool mysql56FractionInRange(core::ByteReader& r, int fsp) {
    switch (fsp) {
        case 1:
        case 2:
            return r.u8() <= 99;
        case 3:
        case 4:
            return r.u16be() <= 9999;
        case 5:
        case 6:
            return r.u24be() <= 999999;
        default:
            return true;
    }
}

const char* dateFault(std::uint64_t year, std::uint64_t month, std::uint64_t day) {
    if (year > 9999) return "a year above 9999";
    if (month > 12) return "a month above 12";
    if (day > 31) return "a day above 31";
    return nullptr;
}

const char* clockFault(std::uint64_t hour, std::uint64_t maxHour, std::uint64_t minute,
                       std::uint64_t second) {
    if (hour > maxHour) return maxHour == 23 ? "an hour above 23" : "an hour above 838";
    if (minute > 59) return "a minute above 59";
    if (second > 59) return "a second above 59";
    return nullptr;
}

const char* timeFault(const core::ColumnDefinition& column, const Padded<8>& p) {
    const int fsp = fractionalPrecision(column, kTimeWidth);
    if (fieldType(column.typeCode) == FieldType::Time2) {
        const std::int64_t packed = time2Packed(p.span(8), fsp);
        const std::uint64_t magnitude = packed < 0 ? 0 - static_cast<std::uint64_t>(packed)
                                                   : static_cast<std::uint64_t>(packed);
        if ((magnitude & 0xFFFFFF) > 999999) return "a fraction of a second above its digits";
        const std::uint64_t hms = magnitude >> 24;
        return clockFault(hms >> 12, 838, (hms >> 6) & 0x3F, hms & 0x3F);
    }
    if (fsp > 0) {
        const std::int64_t v = hiresTimeMicros(p.span(8), fsp);
        return (v < 0 ? -v : v) / 1000000 > kTimeMaxValueSeconds ? "a time beyond 838:59:59"
                                                                 : nullptr;
    }
    core::ByteReader r(p.span(3));
    const std::int64_t v = signExtend(r.u24le(), 3);
    const std::uint64_t a = static_cast<std::uint64_t>(v < 0 ? -v : v);
    return clockFault(a / 10000, 838, a / 100 % 100, a % 100);
}

const char* datetimeFault(const core::ColumnDefinition& column, const Padded<8>& p) {
    const int fsp = fractionalPrecision(column, kDatetimeWidth);
    if (fieldType(column.typeCode) == FieldType::Datetime2) {
        core::ByteReader r(p.span(8));
        const std::int64_t intPart = static_cast<std::int64_t>(r.ubeN(5)) - kDatetimefIntOffset;
        if (intPart < 0) return "a negative DATETIME";
        if (!mysql56FractionInRange(r, fsp)) return "a fraction of a second above its digits";
        const std::uint64_t ymd = static_cast<std::uint64_t>(intPart) >> 17;
        const std::uint64_t hms = static_cast<std::uint64_t>(intPart) & 0x1FFFF;
        if (const char* f = dateFault((ymd >> 5) / 13, (ymd >> 5) % 13, ymd & 0x1F)) return f;
        return clockFault(hms >> 12, 23, (hms >> 6) & 0x3F, hms & 0x3F);
    }
    if (fsp > 0) {
        const std::uint32_t width = kDatetimeHiresBytes[static_cast<std::size_t>(fsp)];
        core::ByteReader r(p.span(width));
        const std::uint64_t scale = static_cast<std::uint64_t>(kPowersOf10[static_cast<std::size_t>(6 - fsp)]);
        // Seconds, minutes, hours, days and months are taken modulo their ranges.
        const std::uint64_t year = r.ubeN(width) * scale / 1000000 / 60 / 60 / 24 / 32 / 13;
        return year > 9999 ? "a year above 9999" : nullptr;
    }
    core::ByteReader r(p.span(8));
    const std::uint64_t n = r.u64le();
    const std::uint64_t d = n / 1000000;
    const std::uint64_t t = n % 1000000;
    if (const char* f = dateFault(d / 10000, d / 100 % 100, d % 100)) return f;
    return clockFault(t / 10000, 23, t / 100 % 100, t % 100);
}

const char* timestampFault(const core::ColumnDefinition& column, const Padded<8>& p) {
    const int fsp = fractionalPrecision(column, kDatetimeWidth);
    core::ByteReader r(p.span(8));
    if (fieldType(column.typeCode) == FieldType::Timestamp2) {
        r.skip(4);
        return mysql56FractionInRange(r, fsp) ? nullptr : "a fraction of a second above its digits";
    }
    if (fsp == 0) return nullptr;
    r.skip(4);
    const std::uint64_t part = r.ubeN(kSecPartBytes[static_cast<std::size_t>(fsp)]);
    return part >= static_cast<std::uint64_t>(kPowersOf10[static_cast<std::size_t>(fsp)])
               ? "a fraction of a second above its digits"
               : nullptr;
}

}  // namespace

void appendIntegerText(std::uint64_t value, std::size_t width, bool isUnsigned, std::string& out) {
    if (isUnsigned)
        appendNumber(out, value);
    else
        appendNumber(out, signExtend(value, width));
}

void appendIntegerLiteral(std::uint64_t value, std::size_t width, bool isUnsigned, RowText& out) {
    // Twenty digits or a sign and nineteen, and the comma.
    constexpr std::size_t kRoom = 21;
    char* p = out.room(kRoom);
    TextCursor text(p, p + kRoom);
    if (isUnsigned)
        text.integer(value);
    else
        text.integer(signExtend(value, width));
    text.put(',');
    out.advance(text.end());
}

std::uint32_t packedDecimalSize(std::int32_t precision, std::int32_t decimals) {
    const std::int32_t frac = std::clamp(decimals, 0, kMaxDecimalDigits);
    const std::int32_t intg = std::clamp(precision - frac, 0, kMaxDecimalDigits);
    return kDigitsToBytes[static_cast<std::uint32_t>(intg) % kDigitsPerGroup] +
           kGroupBytes * (static_cast<std::uint32_t>(intg) / kDigitsPerGroup) +
           kGroupBytes * (static_cast<std::uint32_t>(frac) / kDigitsPerGroup) +
           kDigitsToBytes[static_cast<std::uint32_t>(frac) % kDigitsPerGroup];
}

std::string packedDecimalText(core::ByteSpan bytes, std::int32_t precision,
                              std::int32_t decimals) {
    std::string out;
    appendPackedDecimal(bytes, precision, decimals, out);
    return out;
}

std::string timestampText(int year, int month, int day, int hour, int minute, int second) {
    TemporalText text;
    putDate(text, year, month, day);
    text.put(' ');
    putClock(text, hour, minute, second);
    std::string out;
    text.appendTo(out);
    return out;
}

std::string oldDatetimeText(std::uint64_t value) {
    std::string out;
    appendOldDatetime(out, value);
    return out;
}

std::string geometryText(core::ByteSpan bytes) {
    std::string out;
    appendHex(bytes, out);
    return out;
}

std::uint32_t storedWidth(const core::ColumnDefinition& column) {
    switch (fieldType(column.typeCode)) {
        case FieldType::Tiny:
        case FieldType::Year:
            return 1;
        case FieldType::Short:
            return 2;
        case FieldType::Int24:
        case FieldType::NewDate:
            return 3;
        case FieldType::Long:
        case FieldType::Float:
        case FieldType::Date:
            return 4;
        case FieldType::LongLong:
        case FieldType::Double:
            return 8;
        case FieldType::Decimal:
            return static_cast<std::uint32_t>(std::clamp(column.length, 0, kMaxOldDecimalLength));
        case FieldType::NewDecimal:
            return packedDecimalSize(column.precision, column.decimals);
        case FieldType::Timestamp: {
            const int fsp = fractionalPrecision(column, kDatetimeWidth);
            return 4 + kSecPartBytes[static_cast<std::size_t>(fsp)];
        }
        case FieldType::Time:
            return kTimeHiresBytes[static_cast<std::size_t>(fractionalPrecision(column, kTimeWidth))];
        case FieldType::Datetime: {
            const int fsp = fractionalPrecision(column, kDatetimeWidth);
            return fsp > 0 ? kDatetimeHiresBytes[static_cast<std::size_t>(fsp)] : 8;
        }
        case FieldType::Timestamp2:
            return 4 + static_cast<std::uint32_t>(fractionalPrecision(column, kDatetimeWidth) + 1) / 2;
        case FieldType::Datetime2:
            return 5 + static_cast<std::uint32_t>(fractionalPrecision(column, kDatetimeWidth) + 1) / 2;
        case FieldType::Time2:
            return 3 + static_cast<std::uint32_t>(fractionalPrecision(column, kTimeWidth) + 1) / 2;
        case FieldType::Bit:
            return static_cast<std::uint32_t>(std::clamp(column.length, 0, 64) + 7) / 8;
        case FieldType::Enum:
            return enumWidth(column);
        case FieldType::Set:
            return setWidth(column);
        default:
            return 0;
    }
}

namespace {

// The checks of the types that read their value as a little-endian number, from a zeroed
// copy so that a short value reads as if its missing bytes were 0.
const char* paddedValueFault(const core::ColumnDefinition& column, FieldType type, const Padded<8>& p) {
    core::ByteReader r(p.span(8));
    switch (type) {
        case FieldType::Float:
            return std::isfinite(std::bit_cast<float>(r.u32le())) ? nullptr : "a FLOAT that is not a number";
        case FieldType::Double:
            return std::isfinite(std::bit_cast<double>(r.u64le())) ? nullptr : "a DOUBLE that is not a number";
        case FieldType::NewDate: {
            const std::uint32_t v = r.u24le();
            return dateFault(v >> 9, (v >> 5) & 0x0F, v & 0x1F);
        }
        case FieldType::Date: {
            const std::uint32_t v = r.u32le();
            return dateFault(v / 10000, v / 100 % 100, v % 100);
        }
        case FieldType::Time:
        case FieldType::Time2:
            return timeFault(column, p);
        case FieldType::Datetime:
        case FieldType::Datetime2:
            return datetimeFault(column, p);
        case FieldType::Timestamp:
        case FieldType::Timestamp2:
            return timestampFault(column, p);
        case FieldType::Enum: {
            if (column.members.empty()) return nullptr;
            core::ByteReader e(p.span(enumWidth(column)));
            return e.uleN(enumWidth(column)) > column.members.size() ? "an ENUM index past its members"
                                                                     : nullptr;
        }
        case FieldType::Set: {
            const std::size_t count = column.members.size();
            if (count == 0 || count >= 64) return nullptr;
            core::ByteReader m(p.span(setWidth(column)));
            return (m.uleN(setWidth(column)) >> count) != 0 ? "SET bits past its members" : nullptr;
        }
        default:
            return nullptr;
    }
}

}  // namespace

const char* storedValueFault(const core::ColumnDefinition& column, core::ByteSpan bytes) {
    const FieldType type = fieldType(column.typeCode);
    switch (type) {
        case FieldType::Float:
        case FieldType::Double:
        case FieldType::NewDate:
        case FieldType::Date:
        case FieldType::Time:
        case FieldType::Time2:
        case FieldType::Datetime:
        case FieldType::Datetime2:
        case FieldType::Timestamp:
        case FieldType::Timestamp2:
        case FieldType::Enum:
        case FieldType::Set:
            return paddedValueFault(column, type, Padded<8>(bytes));
        case FieldType::NewDecimal: {
            DecimalDigits d;
            return readPackedDecimal(bytes, column.precision, column.decimals, d)
                       ? nullptr
                       : kDecimalDigitsFault;
        }
        case FieldType::Decimal: {
            const core::ByteSpan text = bytes.first(std::min<std::size_t>(bytes.size(), storedWidth(column)));
            for (const std::uint8_t c : text)
                if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == ' ' || c == 0))
                    return "a DECIMAL with a character that is not a digit";
            return nullptr;
        }
        case FieldType::Bit: {
            const std::size_t bits = static_cast<std::size_t>(std::clamp(column.length, 0, 64));
            if (bits == 0 || bytes.size() != (bits + 7) / 8 || bits % 8 == 0) return nullptr;
            return (bytes[0] >> (bits % 8)) != 0 ? "BIT bits above its width" : nullptr;
        }
        default:
            return nullptr;
    }
}

void decodeColumnValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                       const DecodeOptions& options, std::string& out) {
    out.clear();
    switch (fieldType(column.typeCode)) {
        case FieldType::Tiny:
            return decodeInteger(column, bytes, 1, out);
        case FieldType::Short:
            return decodeInteger(column, bytes, 2, out);
        case FieldType::Int24:
            return decodeInteger(column, bytes, 3, out);
        case FieldType::Long:
            return decodeInteger(column, bytes, 4, out);
        case FieldType::LongLong:
            return decodeInteger(column, bytes, 8, out);
        case FieldType::Decimal:
            return decodeOldDecimal(bytes.first(std::min<std::size_t>(bytes.size(), storedWidth(column))), out);
        case FieldType::NewDecimal:
            (void)appendPackedDecimal(bytes, column.precision, column.decimals, out);
            return;
        case FieldType::Float:
            return decodeFloat(bytes, false, out);
        case FieldType::Double:
            return decodeFloat(bytes, true, out);
        case FieldType::Timestamp:
        case FieldType::Timestamp2:
            return decodeTimestamp(column, bytes, options.saving, out);
        case FieldType::Date:
        case FieldType::NewDate:
            return decodeDate(bytes, fieldType(column.typeCode) == FieldType::Date, out);
        case FieldType::Time:
        case FieldType::Time2:
            return decodeTime(column, bytes, out);
        case FieldType::Datetime:
        case FieldType::Datetime2:
            return decodeDatetime(column, bytes, out);
        case FieldType::Year: {
            const std::uint8_t b = bytes.empty() ? 0 : core::ByteReader(bytes).u8();
            // YEAR stores 0 for the zero year 0000 and year - 1900 otherwise.
            if (b == 0)
                out.append("0000");
            else
                appendNumber(out, 1900 + int{b});
            return;
        }
        case FieldType::Bit:
            return decodeBit(column, bytes, out);
        case FieldType::Enum:
            return decodeEnum(column, bytes, out);
        case FieldType::Set:
            return decodeSet(column, bytes, out);
        case FieldType::Varchar:
        case FieldType::Json:
        case FieldType::VarString:
        case FieldType::String:
            return decodeCharacter(column, bytes, options, out);
        case FieldType::TinyBlob:
        case FieldType::MediumBlob:
        case FieldType::LongBlob:
        case FieldType::Blob:
            return decodeBlob(column, bytes, options, out);
        case FieldType::Geometry:
            return decodeGeometry(bytes, options, out);
        default:
            return;
    }
}

const char* decodeStoredValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                              const DecodeOptions& options, std::string& out) {
    if (fieldType(column.typeCode) == FieldType::NewDecimal) {
        // The digit groups are read once, for the text and the check alike.
        out.clear();
        return appendPackedDecimal(bytes, column.precision, column.decimals, out)
                   ? nullptr
                   : kDecimalDigitsFault;
    }
    decodeColumnValue(column, bytes, options, out);
    return storedValueFault(column, bytes);
}

std::string decodeColumnValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                              const DecodeOptions& options) {
    std::string out;
    decodeColumnValue(column, bytes, options, out);
    return out;
}

std::optional<StoredValueForm> storedValueForm(const core::ColumnDefinition& column) {
    const FieldType type = fieldType(column.typeCode);
    if (type != FieldType::NewDecimal && type != FieldType::NewDate && type != FieldType::Datetime2)
        return std::nullopt;
    StoredValueForm form;
    form.type = type;
    form.width = storedWidth(column);
    form.precision = column.precision;
    form.decimals = column.decimals;
    form.fsp = type == FieldType::Datetime2 ? fractionalPrecision(column, kDatetimeWidth) : 0;
    return form;
}

bool appendStoredValueLiteral(const StoredValueForm& form, core::ByteSpan bytes, RowText& out) {
    if (bytes.size() != form.width) return false;
    // A DECIMAL's sign, 81 digits each side of its point, or a quoted DATETIME, and a comma.
    // The text ends where it was unless a value is written (out.advance below).
    constexpr std::size_t kRoom = 192;
    char* const room = out.room(kRoom);
    TextCursor text(room, room + kRoom);
    switch (form.type) {
        case FieldType::NewDecimal: {
            // Written bare: its text always has the form of a number.
            DecimalDigits d;
            if (!readPackedDecimal(bytes, form.precision, form.decimals, d)) return false;
            putDecimalDigits(d, text);
            break;
        }
        case FieldType::NewDate: {
            const std::uint32_t v = core::ByteReader(bytes).u24le();
            if (dateFault(v >> 9, (v >> 5) & 0x0F, v & 0x1F)) return false;
            text.put('\'');
            putDate(text, v >> 9, (v >> 5) & 0x0F, v & 0x1F);
            text.put('\'');
            break;
        }
        case FieldType::Datetime2: {
            // The checks of datetimeFault and, for a value that passes them, the text of
            // putDatetime2: not negative, every part within its range, so each part has
            // its fixed number of digits. Quoted, as appendSqlLiteral quotes a temporal
            // text; digits, '-', ' ', ':' and '.' need no escape.
            const int fsp = form.fsp;
            core::ByteReader r(bytes);
            const std::uint64_t packed = r.ubeN(5);
            if (packed < static_cast<std::uint64_t>(kDatetimefIntOffset)) return false;
            const std::uint64_t intPart = packed - static_cast<std::uint64_t>(kDatetimefIntOffset);
            std::uint64_t fraction = 0;
            if (fsp > 0) {
                const std::uint32_t width = static_cast<std::uint32_t>(fsp + 1) / 2;
                fraction = r.ubeN(width);
                if (fraction >= static_cast<std::uint64_t>(kPowersOf10[2 * width])) return false;
                // In microseconds, then cut to fsp digits as putFraction does.
                fraction = fraction * static_cast<std::uint64_t>(kPowersOf10[6 - 2 * width]) /
                           static_cast<std::uint64_t>(kPowersOf10[static_cast<std::size_t>(6 - fsp)]);
            }
            const std::uint64_t ymd = intPart >> 17;
            const std::uint64_t ym = ymd >> 5;
            const std::uint64_t hms = intPart & 0x1FFFF;
            const std::uint64_t year = ym / 13;
            const std::uint64_t hour = hms >> 12;
            const std::uint64_t minute = (hms >> 6) & 0x3F;
            const std::uint64_t second = hms & 0x3F;
            // The month (below 13) and the day (five bits) cannot leave their ranges.
            if (year > 9999 || hour > 23 || minute > 59 || second > 59) return false;
            text.put('\'');
            text.fixedDigits(year, 4);
            text.put('-');
            text.fixedDigits(ym % 13, 2);
            text.put('-');
            text.fixedDigits(ymd & 0x1F, 2);
            text.put(' ');
            text.fixedDigits(hour, 2);
            text.put(':');
            text.fixedDigits(minute, 2);
            text.put(':');
            text.fixedDigits(second, 2);
            if (fsp > 0) {
                text.put('.');
                text.fixedDigits(fraction, fsp);
            }
            text.put('\'');
            break;
        }
        default:
            return false;
    }
    text.put(',');
    out.advance(text.end());
    return true;
}

}  // namespace dunmore::values
