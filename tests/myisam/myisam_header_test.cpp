// The .MYI head: hand-built heads for the option bits, a head without keys and heads cut
// short, and the heads of real tables, whose column definitions must cover the record.
#include <gtest/gtest.h>

#include "myisam_test_support.h"

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBasePos = 0x40;

// A head with the given options, keys of one segment each, and the column definitions.
std::vector<std::uint8_t> buildHead(std::uint16_t options, std::uint8_t keys,
                                    const std::vector<myisam::MyisamColumn>& columns) {
    std::vector<std::uint8_t> b(kBasePos + 100, 0);
    const auto be = [&](std::size_t at, std::uint64_t v, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
    };
    be(0, 0xFEFE0701, 4);
    be(4, options, 2);
    be(12, kBasePos, 2);
    be(kBasePos + 44, 321, 4);             // recordLength
    be(kBasePos + 48, 322, 4);             // packedRecordLength
    be(kBasePos + 52, 7, 4);               // minPackLength
    be(kBasePos + 64, columns.size(), 4);  // fieldCount
    b[kBasePos + 74] = keys;               // keyCount
    be(kBasePos + 76, 2, 2);               // packBits
    for (std::uint8_t k = 0; k < keys; ++k) {
        std::vector<std::uint8_t> key(12 + 18, 0);
        key[0] = 1;
        b.insert(b.end(), key.begin(), key.end());
    }
    for (const myisam::MyisamColumn& c : columns) {
        b.push_back(static_cast<std::uint8_t>(c.fieldType >> 8));
        b.push_back(static_cast<std::uint8_t>(c.fieldType));
        b.push_back(static_cast<std::uint8_t>(c.fieldLength >> 8));
        b.push_back(static_cast<std::uint8_t>(c.fieldLength));
        b.push_back(c.nullBit);
        b.push_back(static_cast<std::uint8_t>(c.nullPos >> 8));
        b.push_back(static_cast<std::uint8_t>(c.nullPos));
    }
    return b;
}

TEST(MyisamHeader, HandBuiltHeads) {
    const std::vector<myisam::MyisamColumn> columns = {
        {0, 1, 0, 0, {}, 0}, {8, 302, 1, 0, {}, 0}, {4, 10, 2, 0, {}, 0}};
    struct Case {
        const char* name;
        std::uint16_t options;
        std::uint8_t keys;
        std::size_t cut;  // bytes taken off the end
        bool result;
        std::int32_t rowFormat;
        std::size_t columns;
        std::uint32_t recordLength;
    };
    const Case kCases[] = {
        {"fixed", 0x00, 1, 0, true, 0, 3, 321},
        {"packed records", 0x01, 1, 0, true, 1, 3, 321},
        {"packed and compressed", 0x05, 1, 0, true, 2, 3, 321},
        {"compressed only", 0x04, 2, 0, true, 2, 3, 321},
        {"no keys", 0x01, 0, 0, true, 1, 3, 321},
        {"last column ends at the end of the file", 0x01, 1, 0, true, 1, 3, 321},
        {"last column cut short", 0x01, 1, 3, true, 1, 2, 321},
        {"cut inside the key definitions", 0x01, 3, 21 + 30, true, 1, 0, 321},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> head = buildHead(c.options, c.keys, columns);
        head.resize(head.size() - c.cut);
        myisam::MyisamState state;
        EXPECT_EQ(myisam::parseMyisamHeader(head, head.size(), state), c.result);
        EXPECT_EQ(state.myisamRowFormat, c.rowFormat);
        EXPECT_EQ(state.myisamColumns.size(), c.columns);
        EXPECT_EQ(state.myisamRecordLength, c.recordLength);
        EXPECT_EQ(state.packBits, 2u);
        for (std::size_t k = 0; k < state.myisamColumns.size(); ++k) {
            EXPECT_EQ(state.myisamColumns[k].fieldType, columns[k].fieldType);
            EXPECT_EQ(state.myisamColumns[k].fieldLength, columns[k].fieldLength);
            EXPECT_EQ(state.myisamColumns[k].nullBit, columns[k].nullBit);
        }
    }
    // Too short for a head, or the base information past the end.
    myisam::MyisamState state;
    const std::vector<std::uint8_t> head = buildHead(0x01, 0, columns);
    EXPECT_FALSE(myisam::parseMyisamHeader(core::ByteSpan(head).first(24), 24, state));
    EXPECT_TRUE(myisam::parseMyisamHeader(core::ByteSpan(head).first(kBasePos), kBasePos, state));
    EXPECT_EQ(state.myisamRowFormat, 1);
    EXPECT_TRUE(state.myisamColumns.empty());
    EXPECT_EQ(state.myisamRecordLength, 0u);

    myisam::MyisamReader ctx;
    EXPECT_FALSE(myisam::readMyisamHeader(ctx, "/nonexistent/t.MYI"));
}

// In real heads the column definitions lie end to end over the whole record.
TEST(MyisamHeader, RealHeadsCoverTheRecord) {
    const fs::path peer = fs::path(DUNMORE_PEER_FIXTURES) / "mariadb-server" / "std_data";
    for (const char* name : {"mysql57user", "mysql56time", "bug19371", "old_decimal/t1dec102",
                             "ctype_upgrade/mysql050614_xxx_croatian_ci"}) {
        SCOPED_TRACE(name);
        myisam::MyisamReader ctx;
        ASSERT_TRUE(myisam::readMyisamHeader(ctx, peer / (std::string(name) + ".MYI")));
        EXPECT_FALSE(ctx.indexFile.isOpen());
        ASSERT_EQ(ctx.myisamColumns.size(), ctx.fieldCount);
        std::uint32_t total = 0;
        for (const myisam::MyisamColumn& c : ctx.myisamColumns) total += c.fieldLength;
        EXPECT_EQ(total, ctx.myisamRecordLength);
    }
}

// Fixed-length rows built by hand: null flags win over the stored bytes, BIT bits in the
// null-flag area or stored as bytes, the delete mark.
TEST(MyisamFixedRow, NullFlagsBitsAndDeleteMark) {
    myisam::MyisamReader ctx;
    ctx.myisamRowFormat = myisam::kRowFormatFixed;
    const auto column = [](std::uint32_t type, std::int32_t length, std::uint32_t pos,
                           bool nullable, std::uint16_t packFlags = 0) {
        core::ColumnDefinition c;
        c.typeCode = type;
        c.length = length;
        c.recordPos = pos;
        c.nullable = nullable ? 1 : 0;
        c.packFlags = packFlags;
        c.charset = 8;
        return c;
    };
    // Null-flag byte 0: bit 0 the delete mark, bits 1-3 the null flags of i, f and b5, bits
    // 4-7 and bit 0 of byte 1 the five bits of b5 (low to high). The last column is a
    // BIT(5) stored as a byte (pack-flag bit 12).
    ctx.columns = {column(3, 11, 3, true), column(4, 12, 7, true), column(16, 5, 11, true),
                   column(16, 5, 11, false, 1u << 12)};
    ctx.nullBitmapBytes = 2;
    ctx.recordLength = 12;
    const myisam::MyisamRowLayout layout = myisam::buildRowLayout(ctx, {true});
    struct Case {
        const char* name;
        std::vector<std::uint8_t> record;
        bool live;
        std::vector<std::string> values;
    };
    const Case kCases[] = {
        {"all set",
         {0x01 | 0xA0, 0x01, 7, 0, 0, 0, 0x00, 0x00, 0xC0, 0x3F, 0x13, 0, 0},
         true,
         {"7", "1.5", "11010", "10011"}},
        {"flags set over non-zero bytes",
         {0x01 | 0x02 | 0x04 | 0x08, 0, 7, 0, 0, 0, 0, 0, 0xC0, 0x3F, 0x01},
         true,
         {"NULL", "NULL", "NULL", "00001"}},
        {"deleted slot", {0x00, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0}, false, {}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ctx.previewRows.clear();
        std::vector<std::uint8_t> record = c.record;
        record.resize(12, 0);
        EXPECT_EQ(myisam::decodeFixedRow(ctx, layout, core::ByteSpan(record)), c.live);
        if (!c.live) {
            EXPECT_TRUE(ctx.previewRows.empty());
            continue;
        }
        ASSERT_EQ(ctx.previewRows.size(), 1u);
        for (std::size_t k = 0; k < c.values.size(); ++k) {
            EXPECT_EQ(ctx.previewRows[0][k].value, c.values[k]) << k;
            EXPECT_EQ(ctx.previewRows[0][k].isNull, c.values[k] == "NULL") << k;
        }
    }
}

}  // namespace
}  // namespace dunmore::test
