// SQL literals: the literal texts, and statements built from hostile values executed by a
// real MariaDB server, which must store exactly those values.

#include "values/sql_literal.h"

#include "support/fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace dunmore::values {
namespace {

core::ColumnDefinition column(std::uint32_t typeCode, std::int32_t charset, std::string value,
                              bool isNull = false, bool inPrimaryKey = false) {
    core::ColumnDefinition c;
    c.typeCode = typeCode;
    c.charset = charset;
    c.value = std::move(value);
    c.isNull = isNull;
    c.inPrimaryKey = inPrimaryKey ? 1 : 0;
    return c;
}

constexpr std::int32_t kUtf8mb4 = 45;
constexpr std::int32_t kBinary = 63;

TEST(SqlLiteral, Texts) {
    struct Case {
        const char* name;
        core::ColumnDefinition column;
        const char* savingFolder;
        std::string literal;
    };
    const Case kCases[] = {
        {"apostrophe", column(15, kUtf8mb4, "O'Brien"), "", "'O''Brien',"},
        {"date", column(14, 0, "2015-03-07"), "", "'2015-03-07',"},
        {"null date", column(14, 0, "0000-00-00", true), "", "NULL,"},
        {"null date text", column(14, 0, "NULL"), "", "NULL,"},
        {"int", column(3, 0, "-5"), "", "-5,"},
        {"null int", column(3, 0, "NULL"), "", "NULL,"},
        {"null int flag", column(3, 0, "0", true), "", "NULL,"},
        {"double exponent", column(5, 0, "1e-300"), "", "1e-300,"},
        {"decimal", column(246, 0, "-0.50"), "", "-0.50,"},
        {"empty decimal", column(246, 0, ""), "", "'',"},
        {"number that is not one", column(3, 0, "1); DROP TABLE t; --"), "",
         "'1); DROP TABLE t; --',"},
        {"float not finite", column(4, 0, "inf"), "", "'inf',"},
        {"varbinary", column(15, kBinary, "0x4142"), "", "0x4142,"},
        {"empty varbinary", column(15, kBinary, ""), "", "'',"},
        {"varbinary placeholder", column(15, kBinary, "0x<Binarydata>"), "", "'0x<Binarydata>',"},
        {"bit", column(16, kBinary, "101"), "", "b'101',"},
        {"bit not bits", column(16, kBinary, "1'2"), "", "'1''2',"},
        {"primary key null", column(15, kUtf8mb4, "NULL", true, true), "", "'',"},
        {"primary key null int", column(3, 0, "NULL", false, true), "", "'',"},
        {"the word NULL", column(15, kUtf8mb4, "NULL"), "", "'NULL',"},
        {"the word NULL in TEXT", column(252, kUtf8mb4, "NULL"), "", "'NULL',"},
        {"null varchar", column(15, kUtf8mb4, "NULL", true), "", "NULL,"},
        {"backslash", column(15, kUtf8mb4, "a\\b"), "", "'a\\\\b',"},
        {"ends in backslash", column(254, kUtf8mb4, "abc\\"), "", "'abc\\\\',"},
        {"nul", column(15, kUtf8mb4, std::string("a\0b", 3)), "", "'a\\0b',"},
        {"line ends", column(252, kUtf8mb4, "a\r\nb"), "", "'a\\r\\nb',"},
        {"ctrl-z", column(15, kUtf8mb4, "\x1A"), "", "'\\Z',"},
        {"double quote", column(15, kUtf8mb4, "say \"hi\""), "", "'say \\\"hi\\\"',"},
        {"escaped apostrophe", column(15, kUtf8mb4, "\\'"), "", "'\\\\''',"},
        {"runs between escapes", column(15, kUtf8mb4, "x'y\"z\\"), "", "'x''y\\\"z\\\\',"},
        {"escapes at both ends", column(15, kUtf8mb4, "'a'"), "", "'''a''',"},
        {"enum", column(247, kUtf8mb4, "it's"), "", "'it''s',"},
        {"set", column(248, kUtf8mb4, "a,c"), "", "'a,c',"},
        {"json", column(245, kUtf8mb4, "{\"a\":\"\\n\"}"), "", "'{\\\"a\\\":\\\"\\\\n\\\"}',"},
        {"geometry", column(255, kBinary, "0x000000000101000000"), "", "0x000000000101000000,"},
        {"geometry null", column(255, kBinary, "NULL"), "", "NULL,"},
        {"blob hex", column(252, kBinary, "0x00FF"), "", "0x00FF,"},
        {"empty blob", column(252, kBinary, ""), "", "'',"},
        {"blob file", column(251, kUtf8mb4, "C:\\Out\\Scriptdata\\blobdata\\7"), "C:\\Out\\Scriptdata",
         "IFNULL(LOAD_FILE('C:/Out/Scriptdata/blobdata/7'),~0+ISNULL(LOAD_FILE('C:/Out/Scriptdata/blobdata/7'))),"},
        {"blob file posix", column(251, kBinary, "/srv/out/Scriptdata/blobdata/12"), "/srv/out/Scriptdata/",
         "IFNULL(LOAD_FILE('/srv/out/Scriptdata/blobdata/12'),~0+ISNULL(LOAD_FILE('/srv/out/Scriptdata/blobdata/12'))),"},
        {"blob file folder with apostrophe", column(252, kBinary, "/tmp/o'k/blobdata/0"), "/tmp/o'k",
         "IFNULL(LOAD_FILE('/tmp/o''k/blobdata/0'),~0+ISNULL(LOAD_FILE('/tmp/o''k/blobdata/0'))),"},
        {"text naming another path", column(252, kUtf8mb4, "see C:\\Other\\file.txt"), "C:\\Out\\Scriptdata",
         "'see C:\\\\Other\\\\file.txt',"},
        {"text naming the saving folder", column(252, kUtf8mb4, "C:\\Out\\Scriptdata\\secret.txt"),
         "C:\\Out\\Scriptdata", "'C:\\\\Out\\\\Scriptdata\\\\secret.txt',"},
        {"varchar is never a file", column(15, kUtf8mb4, "/srv/out/blobdata/1"), "/srv/out",
         "'/srv/out/blobdata/1',"},
        {"no saving folder", column(252, kUtf8mb4, "/blobdata/1"), "", "'/blobdata/1',"},
        {"time", column(19, 0, "-838:59:59.000000"), "", "'-838:59:59.000000',"},
        {"unknown type", column(6, 0, ""), "", "'',"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sqlLiteral(c.column, c.savingFolder), c.literal);
    }
    std::string out = "x,";
    appendSqlLiteral(column(3, 0, "7"), "", out);
    EXPECT_EQ(out, "x,7,");
}

// The escaping finds every byte it must escape wherever it stands: in a text of any
// length, in and after the blocks of sixteen bytes it tests at once, beside UTF-8 letters.
TEST(SqlLiteral, EscapesEveryByteAtEveryPlace) {
    const auto naive = [](std::string_view t) {
        std::string out = "'";
        for (const char c : t) {
            switch (c) {
                case '\'': out += "''"; break;
                case '\\': out += "\\\\"; break;
                case '"': out += "\\\""; break;
                case '\0': out += "\\0"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\032': out += "\\Z"; break;
                default: out += c;
            }
        }
        return out + "',";
    };
    const std::string kSpecial[] = {"'", "\\", "\"", std::string(1, '\0'), "\n", "\r", "\032", "\xC3\xA9", "\xE2\x82\xAC",
                                    "\xC3\xA9\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80'\xC3\xA9"};
    for (std::size_t length = 0; length <= 40; ++length) {
        for (const std::string& special : kSpecial) {
            for (std::size_t at = 0; at <= length; ++at) {
                std::string text(length, 'a');
                text.insert(at, special);
                // A letter of two bytes further on, never inside the special bytes.
                const std::size_t letterAt = std::max(at + special.size(), text.size() - at / 3);
                if (at % 3 == 0) text.insert(letterAt, "\xC3\xA9");
                SCOPED_TRACE(testing::Message() << "length " << length << " at " << at << " special "
                                                << static_cast<int>(static_cast<unsigned char>(special[0])));
                const std::string want = naive(text);
                EXPECT_EQ(sqlLiteral(column(15, kUtf8mb4, text), ""), want);
                RowText direct;
                ASSERT_TRUE(appendUtf8TextLiteral(
                    {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, false, direct));
                EXPECT_EQ(direct.view(), want);
            }
        }
    }
    // Bytes that are not UTF-8 leave the text as it was, wherever they stand, alone or at
    // the end of a run of letters of several bytes.
    for (const std::string bad : {"\xC3", "\xC3\xA9\xC3\xA9\xC3", "\xE2\x82\xAC\xE2\x82", "\xC3\xA9\xED\xA0\x80"})
    for (std::size_t at = 0; at <= 34; ++at) {
        std::string text(34, 'b');
        text.insert(at, bad);
        RowText direct;
        direct.append("x,");
        EXPECT_FALSE(appendUtf8TextLiteral({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                                           false, direct));
        EXPECT_EQ(direct.view(), "x,");
    }
}

std::string hexOf(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

// Every value below goes through sqlLiteral into one INSERT per row; the server reads the
// script and returns the stored bytes as hex.
TEST(SqlLiteral, HostileValuesStoreExactly) {
    const std::vector<std::string> texts = {
        "O'Brien", "back\\slash", "ends in a backslash\\", "\\", "'", "''", "\\'", std::string(1, '\0'),
        std::string("a\0b", 3), "line\nfeed", "cr\rlf\n", "ctrl\x1Az", "\x1A", "\"quoted\"",
        "'); DROP TABLE h; --", "\\'); DROP TABLE h; --", "NULL", "", "😀é€", "tab\there", "%_",
        "\\0 is not NUL", "\\n", "'\\", "\\\\'"};
    std::string allBytes;
    for (int i = 0; i < 256; ++i) allBytes.push_back(static_cast<char>(i));

    namespace fs = std::filesystem;
    const fs::path savingFolder = fs::path(DUNMORE_FIXTURE_ROOT) / "sql_literal_saves" / "Scriptdata";
    fs::create_directories(savingFolder / "blobdata");
    test::writeFileText(savingFolder / "blobdata" / "0", allBytes + "'\\\r\n");

    std::string sql =
        "CREATE DATABASE h; USE h;\n"
        "CREATE TABLE h (id INT PRIMARY KEY, v VARCHAR(200) CHARACTER SET utf8mb4 NULL, "
        "b VARBINARY(300) NULL, t TEXT CHARACTER SET utf8mb4 NULL, bl LONGBLOB NULL, "
        "e ENUM('it''s', 'c\\\\d', 'x') NULL, s SET('a', 'b''c') NULL, bits BIT(8) NULL, "
        "n DECIMAL(10,2) NULL, dt DATETIME(6) NULL) ENGINE=InnoDB;\n";
    auto insert = [&](int id, const std::vector<core::ColumnDefinition>& columns) {
        std::string row = "INSERT INTO `h` VALUES(";
        core::ColumnDefinition key = column(3, 0, std::to_string(id), false, true);
        appendSqlLiteral(key, savingFolder.string(), row);
        for (const auto& c : columns) appendSqlLiteral(c, savingFolder.string(), row);
        row.pop_back();
        sql += row + ");\n";
    };
    auto nulls = [] {
        std::vector<core::ColumnDefinition> c;
        c.push_back(column(15, kUtf8mb4, "NULL", true));
        c.push_back(column(15, kBinary, "NULL", true));
        c.push_back(column(252, kUtf8mb4, "NULL", true));
        c.push_back(column(251, kBinary, "NULL", true));
        c.push_back(column(247, kUtf8mb4, "NULL", true));
        c.push_back(column(248, kUtf8mb4, "NULL", true));
        c.push_back(column(16, kBinary, "NULL", true));
        c.push_back(column(246, 0, "NULL", true));
        c.push_back(column(18, 0, "NULL", true));
        return c;
    };
    for (std::size_t i = 0; i < texts.size(); ++i) {
        auto c = nulls();
        c[0] = column(15, kUtf8mb4, texts[i]);
        c[1] = column(15, kBinary, texts[i].empty() ? "" : "0x" + hexOf(texts[i]));
        c[2] = column(252, kUtf8mb4, texts[i]);
        insert(static_cast<int>(i + 1), c);
    }
    auto other = nulls();
    other[1] = column(15, kBinary, "0x" + hexOf(allBytes));
    other[3] = column(251, kBinary, (savingFolder / "blobdata" / "0").string());
    other[4] = column(247, kUtf8mb4, "it's");
    other[5] = column(248, kUtf8mb4, "a,b'c");
    other[6] = column(16, kBinary, "10000001");
    other[7] = column(246, 0, "-12345678.90");
    other[8] = column(18, 0, "9999-12-31 23:59:59.999999");
    insert(100, other);
    auto second = nulls();
    second[4] = column(247, kUtf8mb4, "c\\d");
    second[3] = column(251, kBinary, "0x" + hexOf(allBytes));
    insert(101, second);
    insert(102, nulls());

    const auto fixture = test::makeFixture(
        "sql_literal_hostile", sql,
        "USE h; SELECT id, HEX(v), v IS NULL, HEX(b), HEX(t), HEX(bl), HEX(e), HEX(s), BIN(bits), n, dt, "
        "bl IS NULL FROM h ORDER BY id;\n");
    const auto rows = test::parseBatch(fixture.resultText());
    ASSERT_EQ(rows.size(), texts.size() + 4);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE("text " + std::to_string(i));
        const auto& r = rows[i + 1];
        ASSERT_EQ(r.size(), 12u);
        EXPECT_EQ(r[0], std::to_string(i + 1));
        EXPECT_EQ(r[1], hexOf(texts[i]));
        EXPECT_EQ(r[2], "0");
        EXPECT_EQ(r[3], hexOf(texts[i]));
        EXPECT_EQ(r[4], hexOf(texts[i]));
        EXPECT_EQ(r[5], "NULL");
        EXPECT_EQ(r[11], "1");
    }
    const auto& o = rows[texts.size() + 1];
    ASSERT_EQ(o.size(), 12u);
    EXPECT_EQ(o[3], hexOf(allBytes));
    EXPECT_EQ(o[5], hexOf(allBytes + "'\\\r\n"));
    EXPECT_EQ(o[6], hexOf("it's"));
    EXPECT_EQ(o[7], hexOf("a,b'c"));
    EXPECT_EQ(o[8], "10000001");
    EXPECT_EQ(o[9], "-12345678.90");
    EXPECT_EQ(o[10], "9999-12-31 23:59:59.999999");
    const auto& s = rows[texts.size() + 2];
    ASSERT_EQ(s.size(), 12u);
    EXPECT_EQ(s[5], hexOf(allBytes));
    EXPECT_EQ(s[6], hexOf("c\\d"));
    const auto& n = rows[texts.size() + 3];
    ASSERT_EQ(n.size(), 12u);
    for (std::size_t c = 1; c < 12; ++c) {
        if (c == 2 || c == 11) continue;
        EXPECT_EQ(n[c], "NULL") << "column " << c;
    }
    EXPECT_EQ(n[2], "1");
    EXPECT_EQ(n[11], "1");
}

}  // namespace
}  // namespace dunmore::values
