// Column value decoders on small hand-built byte strings: the forms the InnoDB reader
// hands over, preview placeholders, old layouts no server here writes, and damaged or
// short input.

#include "values/value_decoder.h"

#include "values/sql_literal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace dunmore::values {
namespace {

using core::Bytes;

core::ColumnDefinition column(std::uint32_t typeCode, std::int32_t length = 0, std::int32_t charset = 0) {
    core::ColumnDefinition c;
    c.typeCode = typeCode;
    c.length = length;
    c.charset = charset;
    return c;
}

core::ColumnDefinition unsignedColumn(std::uint32_t typeCode) {
    auto c = column(typeCode);
    c.isUnsigned = true;
    return c;
}

core::ColumnDefinition decimalColumn(std::int32_t precision, std::int32_t decimals) {
    auto c = column(246);
    c.precision = precision;
    c.decimals = decimals;
    return c;
}

core::ColumnDefinition memberColumn(std::uint32_t typeCode, std::vector<std::string> members) {
    auto c = column(typeCode);
    c.members = std::move(members);
    return c;
}

// An InnoDB integer field as the InnoDB reader turns it into the little-endian form: the
// bytes reversed and, for signed columns, the sign bit flipped back.
Bytes fromInnodb(Bytes stored, bool isUnsigned) {
    std::reverse(stored.begin(), stored.end());
    if (!isUnsigned && !stored.empty()) stored.back() ^= 0x80;
    return stored;
}

std::string decode(const core::ColumnDefinition& c, const Bytes& bytes, bool saving = false) {
    DecodeOptions options;
    options.saving = saving;
    return decodeColumnValue(c, bytes, options);
}

TEST(ValueDecoderBytes, Cases) {
    auto bit = [](std::int32_t n) { return column(16, n); };
    struct Case {
        const char* name;
        core::ColumnDefinition column;
        Bytes bytes;
        bool saving;
        std::string text;
    };
    const Case kCases[] = {
        {"tinyint 0xFF signed", column(1), {0xFF}, false, "-1"},
        {"tinyint 0xFF unsigned", unsignedColumn(1), {0xFF}, false, "255"},
        {"int FF FF FF FF", column(3), {0xFF, 0xFF, 0xFF, 0xFF}, false, "-1"},
        {"int unsigned 4000000000", unsignedColumn(3), {0x00, 0x28, 0x6B, 0xEE}, false, "4000000000"},
        {"innodb int -5", column(3), fromInnodb({0x7F, 0xFF, 0xFF, 0xFB}, false), false, "-5"},
        {"innodb smallint 5", column(2), fromInnodb({0x80, 0x05}, false), false, "5"},
        {"innodb smallint -5", column(2), fromInnodb({0x7F, 0xFB}, false), false, "-5"},
        {"innodb int unsigned 5", unsignedColumn(3), fromInnodb({0, 0, 0, 5}, true), false, "5"},
        {"innodb mediumint -1", column(9), fromInnodb({0x7F, 0xFF, 0xFF}, false), false, "-1"},
        {"short int reads zero", column(3), {0x05}, false, "5"},
        {"empty bigint", column(8), {}, false, "0"},
        {"decimal(5,2) 12.50", decimalColumn(5, 2), {0x80, 0x0C, 0x32}, false, "12.50"},
        {"decimal(5,2) -0.50", decimalColumn(5, 2), {0x7F, 0xFF, 0xCD}, false, "-0.50"},
        {"decimal(5,2) -3.10", decimalColumn(5, 2), {0x7F, 0xFC, 0xF5}, false, "-3.10"},
        {"decimal(10,0) 0", decimalColumn(10, 0), {0x80, 0, 0, 0, 0}, false, "0"},
        // No integer digits: the sign bit stands in the first fraction group.
        {"decimal(9,9) -0.5", decimalColumn(9, 9), {0x62, 0x32, 0x9A, 0xFF}, false, "-0.500000000"},
        {"decimal(9,9) 0.5", decimalColumn(9, 9), {0x9D, 0xCD, 0x65, 0x00}, false, "0.500000000"},
        {"decimal digits out of range", decimalColumn(5, 2), {0x83, 0xE8, 0x32}, false, "0"},
        {"decimal group out of range", decimalColumn(18, 0), {0x80, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false, "0"},
        {"decimal short input", decimalColumn(5, 2), {0x80}, false, "0.00"},
        {"old decimal text", [] { auto c = column(0, 8); return c; }(), {' ', ' ', '-', '1', '2', '.', '5', '0'}, false, "-12.50"},
        {"float 0.1", column(4), {0xCD, 0xCC, 0xCC, 0x3D}, false, "0.1"},
        {"double 1e-300", column(5), {0x59, 0xF3, 0xF8, 0xC2, 0x1F, 0x6E, 0xA5, 0x01}, false, "1e-300"},
        {"double -0", column(5), {0, 0, 0, 0, 0, 0, 0, 0x80}, false, "-0"},
        {"newdate zero", column(14), {0, 0, 0}, false, "0000-00-00"},
        {"newdate 2015-03-07", column(14), {0x67, 0xBE, 0x0F}, false, "2015-03-07"},
        {"old date", column(10), {0x23, 0x78, 0x33, 0x01}, false, "2015-03-07"},
        {"old time -838:59:59", column(11, 10), {0x59, 0x0A, 0x80}, false, "-838:59:59"},
        {"old datetime zero", column(12, 19), {0, 0, 0, 0, 0, 0, 0, 0}, false, "0000-00-00 00:00:00"},
        {"datetime2 2015-03-07 09:05:00", column(18, 19), {0x99, 0x95, 0x8E, 0x91, 0x40}, false, "2015-03-07 09:05:00"},
        {"datetime2 from 5 bytes of DATETIME(3)", column(18, 23), {0x99, 0x95, 0x8E, 0x91, 0x40}, false, "2015-03-07 09:05:00.000"},
        {"timestamp zero", column(7, 19), {0, 0, 0, 0}, false, "0000-00-00 00:00:00"},
        {"timestamp2 zero fsp 6", column(17, 26), {0, 0, 0, 0, 0, 0, 0}, false, "0000-00-00 00:00:00.000000"},
        {"timestamp2 saving is utc", column(17, 19), {0x55, 0xFA, 0xBF, 0xDC}, true, "2015-09-17 13:27:56"},
        {"year 0", column(13), {0}, false, "0000"},
        {"year 1", column(13), {1}, false, "1901"},
        {"year 255", column(13), {255}, false, "2155"},
        {"bit(1) 1", bit(1), {1}, false, "1"},
        {"bit(3) 5", bit(3), {5}, false, "101"},
        {"bit(16)", bit(16), {0x80, 0x01}, false, "1000000000000001"},
        {"bit(12) from its bytes", bit(12), {0x0A, 0xBC}, false, "101010111100"},
        {"bit(64) all ones", bit(64), Bytes(8, 0xFF), false, std::string(64, '1')},
        {"enum 0", memberColumn(247, {"a", "b"}), {0}, false, ""},
        {"enum out of range", memberColumn(247, {"a", "b"}), {3}, false, ""},
        {"enum 2", memberColumn(247, {"a", "b"}), {2}, false, "b"},
        {"set a,c", memberColumn(248, {"a", "b", "c"}), {5}, false, "a,c"},
        {"set bits beyond members", memberColumn(248, {"a", "b", "c"}), {0xFA}, false, "b"},
        {"set empty", memberColumn(248, {"a"}), {0}, false, ""},
        {"varbinary 99 preview", column(15, 200, 63), Bytes(99, 0xAB), false, "0x" + [] {
             std::string s;
             for (int i = 0; i < 99; ++i) s += "AB";
             return s;
         }()},
        {"varbinary 100 preview", column(15, 200, 63), Bytes(100, 0xAB), false, "0x<Binarydata>"},
        {"varbinary 100 saving", column(15, 200, 63), Bytes(100, 0x01), true, "0x" + [] {
             std::string s;
             for (int i = 0; i < 100; ++i) s += "01";
             return s;
         }()},
        {"empty varbinary", column(15, 10, 63), {}, true, ""},
        {"binary keeps trailing zeros", column(254, 4, 63), {0x41, 0, 0, 0}, true, "0x41000000"},
        {"char trailing blanks", column(254, 8, 8), {'a', 'b', ' ', ' '}, false, "ab"},
        {"varchar keeps trailing blanks", column(15, 8, 8), {'a', 'b', ' ', ' '}, false, "ab  "},
        {"varchar with nul", column(15, 8, 45), {'a', 0, 'b'}, false, std::string("a\0b", 3)},
        {"text 1000 preview", column(252, 65535, 45), Bytes(1000, 'x'), false, "Large Blob Data"},
        {"text 999 preview", column(252, 65535, 45), Bytes(999, 'x'), false, std::string(999, 'x')},
        {"text 1000 saving", column(252, 65535, 45), Bytes(1000, 'x'), true, std::string(1000, 'x')},
        {"blob hex", column(252, 65535, 63), {0x00, 0xFF}, true, "0x00FF"},
        {"blob 1000 preview", column(252, 65535, 63), Bytes(1000, 0), false, "Large Blob Data"},
        {"geometry preview", column(255, 0, 63), {1, 2, 3}, false, "Spatial Data"},
        {"geometry zero", column(255, 0, 63), Bytes(25, 0), true, "NULL"},
        {"geometry empty", column(255, 0, 63), {}, true, "NULL"},
        {"geometry saving", column(255, 0, 63), {0, 0, 0, 0, 1, 1, 0, 0, 0}, true, "0x000000000101000000"},
        {"null type", column(6), {1, 2}, false, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.column, c.bytes, c.saving), c.text);
    }
}

// Bytes no server writes for the type are faults; the limits of each type are not.
TEST(ValueDecoderBytes, StoredValueFaults) {
    struct Case {
        const char* name;
        core::ColumnDefinition column;
        Bytes bytes;
        bool fault;
    };
    const Case kCases[] = {
        {"int all ones", column(3), {0xFF, 0xFF, 0xFF, 0xFF}, false},
        {"year 255", column(13), {255}, false},
        {"char 0xFF", column(254, 4, 8), Bytes(4, 0xFF), false},
        {"float 0xFF: NaN", column(4), Bytes(4, 0xFF), true},
        {"float infinity", column(4), {0, 0, 0x80, 0x7F}, true},
        {"float largest", column(4), {0xFF, 0xFF, 0x7F, 0x7F}, false},
        {"double NaN", column(5), {0, 0, 0, 0, 0, 0, 0xF8, 0x7F}, true},
        {"newdate zero", column(14), {0, 0, 0}, false},
        {"newdate 9999-12-31", column(14), {0x9F, 0x1F, 0x4E}, false},
        {"newdate 0xFF: month 15", column(14), {0xFF, 0xFF, 0xFF}, true},
        {"newdate month 13", column(14), {0xA0, 0x01, 0x00}, true},
        {"old date 20150307", column(10), {0x23, 0x78, 0x33, 0x01}, false},
        {"old date month 13", column(10), {0x0B, 0x7C, 0x33, 0x01}, true},
        {"old time -838:59:59", column(11, 10), {0x59, 0x0A, 0x80}, false},
        {"old time minute 60", column(11, 10), {0x70, 0x17, 0x00}, true},
        {"time2 838:59:59", column(19, 10), {0xB4, 0x6E, 0xFB}, false},
        {"time2 0xFF", column(19, 10), {0xFF, 0xFF, 0xFF}, true},
        {"datetime2 2015-03-07 09:05:00", column(18, 19), {0x99, 0x95, 0x8E, 0x91, 0x40}, false},
        {"datetime2 zero", column(18, 19), {0x80, 0, 0, 0, 0}, false},
        {"datetime2 0xFF", column(18, 19), Bytes(5, 0xFF), true},
        {"datetime2 negative", column(18, 19), {0x7F, 0, 0, 0, 0}, true},
        {"datetime2(2) fraction 100", column(18, 22), {0x99, 0x95, 0x8E, 0x91, 0x40, 100}, true},
        {"datetime2(2) fraction 99", column(18, 22), {0x99, 0x95, 0x8E, 0x91, 0x40, 99}, false},
        {"old datetime 9999-12-31 23:59:59", column(12, 19), {0x77, 0x87, 0xD1, 0x05, 0xF1, 0x5A, 0, 0}, false},
        {"old datetime 0xFF", column(12, 19), Bytes(8, 0xFF), true},
        {"timestamp 0xFF", column(7, 19), Bytes(4, 0xFF), false},
        {"timestamp2(6) fraction 0xFF", column(17, 26), Bytes(7, 0xFF), true},
        {"decimal(5,2) 12.50", decimalColumn(5, 2), {0x80, 0x0C, 0x32}, false},
        {"decimal(5,2) 0xFF", decimalColumn(5, 2), {0xFF, 0xFF, 0xFF}, true},
        {"decimal(18,0) group out of range", decimalColumn(18, 0), {0x80, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true},
        {"old decimal text", column(0, 8), {' ', ' ', '-', '1', '2', '.', '5', '0'}, false},
        {"old decimal 0xFF", column(0, 3), Bytes(3, 0xFF), true},
        {"enum 2 of 2", memberColumn(247, {"a", "b"}), {2}, false},
        {"enum 3 of 2", memberColumn(247, {"a", "b"}), {3}, true},
        {"set all three", memberColumn(248, {"a", "b", "c"}), {7}, false},
        {"set bits beyond members", memberColumn(248, {"a", "b", "c"}), {0xFA}, true},
        {"bit(12) in range", column(16, 12), {0x0A, 0xBC}, false},
        {"bit(12) 0xFF", column(16, 12), {0xFF, 0xFF}, true},
        {"bit(64) all ones", column(16, 64), Bytes(8, 0xFF), false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(storedValueFault(c.column, c.bytes) != nullptr, c.fault);
    }
}

TEST(ValueDecoderBytes, Helpers) {
    EXPECT_EQ(oldDatetimeText(0), "0000-00-00 00:00:00");
    EXPECT_EQ(oldDatetimeText(20150307090500ULL), "2015-03-07 09:05:00");
    EXPECT_EQ(oldDatetimeText(99991231235959ULL), "9999-12-31 23:59:59");
    EXPECT_EQ(timestampText(2015, 3, 7, 9, 5, 0), "2015-03-07 09:05:00");
    EXPECT_EQ(timestampText(0, 0, 0, -1, -1, -1), "0000-00-00 -1:-1:-1");
    EXPECT_EQ(geometryText(Bytes{0x00, 0x5C, 0x27}), "0x005C27");
    EXPECT_EQ(packedDecimalSize(65, 30), 30u);
    EXPECT_EQ(packedDecimalSize(5, 2), 3u);
    EXPECT_EQ(packedDecimalSize(10, 0), 5u);
    EXPECT_EQ(packedDecimalText(Bytes{0x80, 0x0C, 0x32}, 5, 2), "12.50");
}

TEST(ValueDecoderBytes, StoredWidths) {
    struct Case {
        const char* name;
        core::ColumnDefinition column;
        std::uint32_t width;
    };
    std::vector<std::string> members300(300, "m");
    const Case kCases[] = {
        {"tinyint", column(1), 1},          {"smallint", column(2), 2},
        {"mediumint", column(9), 3},        {"int", column(3), 4},
        {"bigint", column(8), 8},           {"float", column(4), 4},
        {"double", column(5), 8},           {"year", column(13), 1},
        {"newdate", column(14), 3},         {"old date", column(10), 4},
        {"old time", column(11, 10), 3},    {"old time(6)", column(11, 17), 6},
        {"old time(1)", column(11, 12), 4}, {"old datetime", column(12, 19), 8},
        {"old datetime(3)", column(12, 23), 7}, {"old timestamp", column(7, 19), 4},
        {"old timestamp(6)", column(7, 26), 7}, {"time2", column(19, 10), 3},
        {"time2(3)", column(19, 14), 5},    {"datetime2", column(18, 19), 5},
        {"datetime2(6)", column(18, 26), 8}, {"timestamp2(1)", column(17, 21), 5},
        {"bit(1)", column(16, 1), 1},       {"bit(9)", column(16, 9), 2},
        {"bit(64)", column(16, 64), 8},     {"enum small", memberColumn(247, {"a"}), 1},
        {"enum 300", memberColumn(247, members300), 2},
        {"set 8", memberColumn(248, std::vector<std::string>(8, "s")), 1},
        {"set 17", memberColumn(248, std::vector<std::string>(17, "s")), 3},
        {"set 33", memberColumn(248, std::vector<std::string>(33, "s")), 8},
        {"set 64", memberColumn(248, std::vector<std::string>(64, "s")), 8},
        {"decimal(65,30)", decimalColumn(65, 30), 30}, {"old decimal", column(0, 7), 7},
        {"varchar", column(15, 10), 0},     {"blob", column(252), 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(storedWidth(c.column), c.width);
    }
}

// Any bytes with any definition: every type code, hostile lengths, precisions and member
// lists. The decoders must return (the sanitizer build checks the reads).
bool isUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// An integer's literal has the digits of its text, at every width and at the edges of
// each count of digits.
TEST(ValueDecoderBytes, IntegerLiteralsAreTheirTexts) {
    std::vector<std::uint64_t> values = {0, ~std::uint64_t{0}, std::uint64_t{1} << 63, (std::uint64_t{1} << 63) - 1};
    for (std::uint64_t p = 1; p <= 1000000000000000000ULL; p *= 10)
        for (const std::uint64_t v : {p - 1, p, p + 1, 9 * p, 2 * p - 1}) values.push_back(v);
    std::mt19937_64 rng(5);
    for (int i = 0; i < 2000; ++i) values.push_back(rng() >> (rng() % 64));
    for (const std::size_t width : {1u, 2u, 3u, 4u, 8u})
        for (const bool isUnsigned : {false, true})
            for (const std::uint64_t raw : values) {
                const std::uint64_t v = width == 8 ? raw : raw & ((std::uint64_t{1} << (8 * width)) - 1);
                std::string text;
                appendIntegerText(v, width, isUnsigned, text);
                RowText literal;
                appendIntegerLiteral(v, width, isUnsigned, literal);
                EXPECT_EQ(literal.view(), text + ",") << v << " width " << width << (isUnsigned ? " unsigned" : "");
            }
}

// The literal written straight from the stored bytes is the literal of the decoded text,
// and it is taken for every value of the column's width that has no fault: on values of
// every range, damaged ones among them.
TEST(ValueDecoderBytes, StoredValueLiteralsAreThoseOfTheDecodedTexts) {
    struct Case {
        const char* name;
        core::ColumnDefinition column;
    };
    std::vector<Case> cases = {
        {"date", column(14)},
        {"decimal(10,2)", decimalColumn(10, 2)},
        {"decimal(65,30)", decimalColumn(65, 30)},
        {"decimal(5,5)", decimalColumn(5, 5)},
        {"decimal(1,0)", decimalColumn(1, 0)},
        {"decimal(18,9)", decimalColumn(18, 9)},
        {"decimal(40,0)", decimalColumn(40, 0)},
        {"decimal(0,0)", decimalColumn(0, 0)},
    };
    for (std::int32_t fsp = 0; fsp <= 6; ++fsp)
        cases.push_back({"datetime(fsp)", column(18, fsp == 0 ? 19 : 20 + fsp)});
    std::mt19937 rng(11);
    // Bytes of every kind: random, zero, all ones, small (digit groups and date parts in
    // range) and their complement (a negative DECIMAL's), mixed or one kind for the whole
    // value, with and without the sign or offset bit of the first byte.
    const auto draw = [&](std::size_t n) {
        Bytes bytes(n);
        const unsigned whole = rng() % 3;
        const unsigned smallMask = rng() % 2 ? 0x1F : 0x03;
        for (auto& b : bytes) {
            const unsigned kind = whole == 0 ? rng() % 4 : whole == 1 ? 3 : 4;
            const std::uint8_t small = static_cast<std::uint8_t>(rng() & smallMask);
            b = static_cast<std::uint8_t>(kind == 0   ? rng()
                                          : kind == 1 ? 0
                                          : kind == 2 ? 0xFF
                                          : kind == 3 ? small
                                                      : 0xFF - small);
        }
        if (n > 0 && rng() % 2) bytes[0] ^= 0x80;
        return bytes;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<StoredValueForm> form = storedValueForm(c.column);
        ASSERT_TRUE(form);
        const std::size_t width = storedWidth(c.column);
        std::size_t taken = 0;
        for (int round = 0; round < 3000; ++round) {
            // One draw in fifty is a byte longer or shorter than the column's width.
            const std::size_t n = round % 100 == 0 ? width + 1 : round % 50 == 0 && width > 0 ? width - 1 : width;
            const Bytes bytes = draw(n);
            std::string text;
            const char* fault = decodeStoredValue(c.column, bytes, DecodeOptions{true}, text);
            std::string want;
            appendSqlLiteral(c.column, text, false, false, "", want);
            RowText got;
            got.append("x,");
            const bool took = appendStoredValueLiteral(*form, bytes, got);
            if (bytes.size() != width) {
                EXPECT_FALSE(took);
            } else {
                EXPECT_EQ(took, fault == nullptr) << text;
            }
            if (took) {
                ++taken;
                EXPECT_EQ(got.view(), "x," + want);
            } else {
                EXPECT_EQ(got.view(), "x,");
            }
        }
        EXPECT_GT(taken, 100u);
    }
}

TEST(ValueDecoderBytes, HostileInputNeverFails) {
    std::mt19937 rng(7);
    const std::int32_t kLengths[] = {0, 1, 7, 19, 26, 64, 65, 1000, -1, -100, 2147483647};
    for (std::uint32_t type = 0; type < 256; ++type) {
        for (const std::int32_t length : kLengths) {
            for (int round = 0; round < 4; ++round) {
                core::ColumnDefinition c = column(type, length, round % 2 ? 63 : static_cast<std::int32_t>(rng() % 400));
                c.precision = static_cast<std::int32_t>(rng() % 200) - 50;
                c.decimals = static_cast<std::int32_t>(rng() % 100) - 20;
                c.isUnsigned = round % 2 == 0;
                c.members.assign(rng() % 70, "m");
                Bytes bytes(rng() % 40);
                for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
                for (const bool saving : {false, true}) {
                    const std::string text = decode(c, bytes, saving);
                    // Whatever the bytes, the text is UTF-8 the script can carry.
                    EXPECT_TRUE(isUtf8(text)) << "type " << type << " length " << length;
                    EXPECT_LE(storedWidth(c), 257u);
                }
            }
        }
    }
}

}  // namespace
}  // namespace dunmore::values
