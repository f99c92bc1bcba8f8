// Column value decoders against values stored by a real MariaDB server.
//
// The fixture holds MyISAM tables with fixed-length rows and NOT NULL columns only, so
// each row is one delete-flag byte followed by the columns at their .frm record
// positions. The test reads the .MYD bytes at those positions, decodes them and compares
// the texts with what the server itself returned for the same rows.

#include "values/value_decoder.h"

#include "values/sql_literal.h"

#include "core/table_reader.h"
#include "core/settings.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

namespace dunmore::values {
namespace {

using test::parseBatch;
using test::readFileText;

std::string memberList(const char* prefix, int count) {
    std::string s;
    for (int i = 1; i <= count; ++i) {
        if (i > 1) s += ",";
        s += "'" + std::string(prefix) + std::to_string(i) + "'";
    }
    return s;
}

std::string fixtureSql() {
    std::string sql = R"SQL(
SET sql_mode='';
SET time_zone='+00:00';
CREATE DATABASE v;
USE v;
CREATE TABLE t_int (a TINYINT NOT NULL, b TINYINT UNSIGNED NOT NULL, c SMALLINT NOT NULL,
  d SMALLINT UNSIGNED NOT NULL, e MEDIUMINT NOT NULL, f MEDIUMINT UNSIGNED NOT NULL,
  g INT NOT NULL, h INT UNSIGNED NOT NULL, i BIGINT NOT NULL, j BIGINT UNSIGNED NOT NULL)
  ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO t_int VALUES
  (-128, 0, -32768, 0, -8388608, 0, -2147483648, 0, -9223372036854775808, 0),
  (127, 255, 32767, 65535, 8388607, 16777215, 2147483647, 4294967295, 9223372036854775807,
   18446744073709551615),
  (-1, 1, -5, 4000, -1, 1, -1, 4000000000, -1, 1),
  (0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
CREATE TABLE t_dec (a DECIMAL(65,30) NOT NULL, b DECIMAL(5,2) NOT NULL, c DECIMAL(10,0) NOT NULL,
  d DECIMAL(18,9) NOT NULL, e DECIMAL(9,9) NOT NULL, f DECIMAL(20,5) NOT NULL)
  ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO t_dec VALUES
  (99999999999999999999999999999999999.999999999999999999999999999999, 999.99, 9999999999,
   999999999.999999999, 0.999999999, 123456789012345.12345),
  (-99999999999999999999999999999999999.999999999999999999999999999999, -999.99, -9999999999,
   -999999999.999999999, -0.999999999, -123456789012345.12345),
  (-0.000000000000000000000000000001, -0.50, 0, -0.000000001, -0.000000001, -0.00001),
  (0, 0, 0, 0, 0, 0),
  (1000000000.5, 12.50, 1, 1.000000001, 0.1, 100000.00001);
CREATE TABLE t_float (a FLOAT NOT NULL, b DOUBLE NOT NULL) ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO t_float VALUES (0.1, 0.1), (1.4e-45, 1e-300), (1.17549435e-38, 4.9e-324),
  (3.40282e38, 1.7976931348623157e308), (-3.14, -2.2250738585072014e-308), (0, 0),
  (16777216, 123456789012345678), (3.4028234663852886e38, -1.7976931348623157e308),
  (-3.4028234663852886e38, 1e308);
CREATE TABLE t_time (a DATE NOT NULL, b TIME NOT NULL, c TIME(6) NOT NULL, d TIME(1) NOT NULL,
  e TIME(3) NOT NULL, f DATETIME NOT NULL, g DATETIME(6) NOT NULL, h DATETIME(2) NOT NULL,
  i DATETIME(4) NOT NULL, j TIMESTAMP NOT NULL DEFAULT '1970-01-01 00:00:01',
  k TIMESTAMP(6) NOT NULL DEFAULT '1970-01-01 00:00:01', l TIMESTAMP(3) NOT NULL DEFAULT
  '1970-01-01 00:00:01', m YEAR NOT NULL) ENGINE=MyISAM ROW_FORMAT=FIXED;
)SQL";
    // The same columns once more in the older layouts (MariaDB's own fractional-second
    // formats), as servers before 10.1.2 wrote them.
    sql += R"SQL(
SET GLOBAL mysql56_temporal_format=OFF;
CREATE TABLE t_oldtime LIKE t_time;
ALTER TABLE t_oldtime FORCE;
SET GLOBAL mysql56_temporal_format=ON;
)SQL";
    const char* timeRows = R"SQL(
  ('0001-01-01', '-838:59:59', '-838:59:59.000000', '-838:59:59.9', '-00:00:00.001',
   '1000-01-01 00:00:00', '0001-01-01 00:00:00.000000', '2015-03-07 09:05:00.01',
   '2015-03-07 09:05:00.9999', '1970-01-01 00:00:01', '1970-01-01 00:00:01.000001',
   '1970-01-01 00:00:01.5', 1901),
  ('9999-12-31', '838:59:59', '838:59:59.000000', '838:59:59.9', '-01:02:03.250',
   '9999-12-31 23:59:59', '9999-12-31 23:59:59.999999', '9999-12-31 23:59:59.99',
   '2000-02-29 12:34:56.0001', '2038-01-19 03:14:07', '2038-01-19 03:14:07.999999',
   '2038-01-19 03:14:07.999', 2155),
  ('0000-00-00', '00:00:00', '-00:00:00.000001', '00:00:00.0', '12:00:00.5',
   '0000-00-00 00:00:00', '0000-00-00 00:00:00.000000', '2015-03-07 00:00:00.00',
   '2015-03-07 09:05:00.0000', '0000-00-00 00:00:00', '0000-00-00 00:00:00.000000',
   '2000-01-01 00:00:00', 0),
  ('2015-03-07', '09:05:00', '-12:34:56.789012', '-00:00:01.5', '100:00:00.999',
   '2015-03-07 09:05:00', '2015-03-07 09:05:00.123456', '1999-12-31 23:59:59.50',
   '1999-12-31 23:59:59.1234', '2015-03-07 09:05:00', '2015-03-07 09:05:00.123456',
   '2015-03-07 09:05:00.123', 2000);
)SQL";
    sql += std::string("INSERT INTO t_time VALUES") + timeRows;
    sql += std::string("INSERT INTO t_oldtime VALUES") + timeRows;
    sql += R"SQL(
CREATE TABLE t_bit (a BIT(64) NOT NULL, b BIT(8) NOT NULL, c BIT(16) NOT NULL)
  ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO t_bit VALUES (b'1111111111111111111111111111111111111111111111111111111111111111',
  b'11111111', b'1111111111111111'), (0, 0, 0), (1, b'10100101', b'1000000000000001'),
  (b'1000000000000000000000000000000000000000000000000000000000000000', 1, 256);
)SQL";
    sql += "CREATE TABLE t_enum (a ENUM(" + memberList("m", 300) + ") NOT NULL, b ENUM('x','y') NOT NULL, c SET(" +
           memberList("s", 64) + ") NOT NULL, d SET('a','b','c') NOT NULL, e SET(" + memberList("t", 20) +
           ") NOT NULL) ENGINE=MyISAM ROW_FORMAT=FIXED;\n";
    sql += "INSERT INTO t_enum VALUES ('m300', 'y', '" +
           [] {
               std::string all;
               for (int i = 1; i <= 64; ++i) all += (i > 1 ? "," : "") + std::string("s") + std::to_string(i);
               return all;
           }() +
           "', 'a,c', 't20'), ('m1', 'x', '', '', ''), ('m256', 'x', 's64', 'b', 't1,t9,t17'),"
           " ('m255', 'y', 's1,s33', 'a,b,c', 't8');\n";
    sql += R"SQL(
CREATE TABLE t_text (a CHAR(4) CHARACTER SET utf8mb4 NOT NULL, b CHAR(3) CHARACTER SET latin1 NOT NULL,
  c CHAR(6) CHARACTER SET cp1251 NOT NULL, d CHAR(4) CHARACTER SET sjis NOT NULL,
  e CHAR(3) CHARACTER SET ucs2 NOT NULL, f BINARY(4) NOT NULL, g CHAR(3) CHARACTER SET gbk NOT NULL,
  h CHAR(2) CHARACTER SET utf16 NOT NULL, i CHAR(5) CHARACTER SET utf8mb3 NOT NULL,
  j CHAR(4) CHARACTER SET ujis NOT NULL, k CHAR(3) CHARACTER SET big5 NOT NULL,
  l CHAR(3) CHARACTER SET euckr NOT NULL, m CHAR(2) CHARACTER SET utf32 NOT NULL,
  n CHAR(4) CHARACTER SET latin2 NOT NULL, o CHAR(4) CHARACTER SET koi8r NOT NULL)
  ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO t_text VALUES
  ('😀é', 'é€', 'Привет', '日本語', 'Ωé', x'00275CFF', '中文', '😀', 'ab c', 'ｱ日本', '中文', '한국', '😀é',
   'Łódź', 'Мир'),
  ('a', '', 'Ё', 'ｱ', '', x'00000000', 'a', '', '', '', '', '', '', '', ''),
  ('\\\'"', 'ÿ\0', 'ж', '\\', '€', x'FFFFFFFF', '', 'é', 'x  ', 'a', 'a', 'a', 'a', 'ą', 'ё');
)SQL";
    return sql;
}

// Each column as the server shows it: integers and DECIMAL as they are, FLOAT and DOUBLE
// with all the digits the server has, BIT as its bits, text as the hex of its UTF-8.
std::string fixtureQuery() {
    return R"SQL(
SET time_zone='+00:00';
USE v;
SELECT * FROM t_int;
SELECT * FROM t_dec;
SELECT a, b FROM t_float;
SELECT * FROM t_time;
SELECT * FROM t_oldtime;
SELECT LPAD(BIN(a), 64, '0'), LPAD(BIN(b), 8, '0'), LPAD(BIN(c), 16, '0') FROM t_bit;
SELECT * FROM t_enum;
SELECT HEX(CONVERT(a USING utf8mb4)), HEX(CONVERT(b USING utf8mb4)), HEX(CONVERT(c USING utf8mb4)),
  HEX(CONVERT(d USING utf8mb4)), HEX(CONVERT(e USING utf8mb4)), HEX(f), HEX(CONVERT(g USING utf8mb4)),
  HEX(CONVERT(h USING utf8mb4)), HEX(CONVERT(i USING utf8mb4)), HEX(CONVERT(j USING utf8mb4)),
  HEX(CONVERT(k USING utf8mb4)), HEX(CONVERT(l USING utf8mb4)), HEX(CONVERT(m USING utf8mb4)),
  HEX(CONVERT(n USING utf8mb4)), HEX(CONVERT(o USING utf8mb4)) FROM t_text;
SET time_zone='+05:30';
SELECT j, k, l FROM t_time;
)SQL";
}

// The server's result sets, split at their header lines.
struct ResultSet {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
};

std::vector<ResultSet> splitResults(const std::string& text, const std::vector<std::size_t>& rowCounts) {
    std::vector<ResultSet> sets;
    const auto lines = parseBatch(text);
    std::size_t i = 0;
    for (const std::size_t rows : rowCounts) {
        ResultSet set;
        if (i < lines.size()) set.header = lines[i++];
        for (std::size_t r = 0; r < rows && i < lines.size(); ++r) set.rows.push_back(lines[i++]);
        sets.push_back(std::move(set));
    }
    return sets;
}

std::string hexOf(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

class ServerValues : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        s_fixture = new test::Fixture(test::makeFixture("values_decoders", fixtureSql(), fixtureQuery()));
    }
    static void TearDownTestSuite() {
        delete s_fixture;
        s_fixture = nullptr;
    }

    // The column definitions of a table, the decoded texts of its rows and what
    // storedValueFault says of each stored value.
    struct Decoded {
        std::vector<core::ColumnDefinition> columns;
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> faults;  // "row r column c: reason"
    };
    static Decoded decodeTable(const std::string& table, const DecodeOptions& options) {
        Decoded out;
        core::TableDefinitionState ctx;
        core::AppSettings settings;
        const auto dir = s_fixture->dataDir / "v";
        EXPECT_TRUE(schema::readTableDefinition(ctx, dir / (table + ".frm"), settings));
        out.columns = ctx.columns;
        const std::string myd = readFileText(dir / (table + ".MYD"));
        const core::ByteSpan file = core::asBytes(myd);
        EXPECT_GT(ctx.recordLength, 0u);
        if (ctx.recordLength == 0) return out;
        // Consecutive columns must sit storedWidth apart (the last one up to the record end).
        for (std::size_t i = 0; i + 1 < ctx.columns.size(); ++i) {
            if (storedWidth(ctx.columns[i]) == 0) continue;
            EXPECT_EQ(ctx.columns[i + 1].recordPos - ctx.columns[i].recordPos, storedWidth(ctx.columns[i]))
                << table << "." << ctx.columns[i].name;
        }
        for (std::size_t row = 0; (row + 1) * ctx.recordLength <= file.size(); ++row) {
            std::vector<std::string> texts;
            for (const auto& column : ctx.columns) {
                const std::size_t at = row * ctx.recordLength + column.recordPos - 1;
                const std::size_t width =
                    storedWidth(column) ? storedWidth(column) : static_cast<std::size_t>(column.length);
                texts.push_back(decodeColumnValue(column, file.subspan(at, width), options));
                if (const char* fault = storedValueFault(column, file.subspan(at, width)))
                    out.faults.push_back("row " + std::to_string(row) + " column " + column.name +
                                         ": " + fault);
            }
            out.rows.push_back(std::move(texts));
        }
        return out;
    }
    static std::vector<ResultSet> results() {
        return splitResults(s_fixture->resultText(), {4, 5, 9, 4, 4, 4, 4, 3, 4});
    }

    static test::Fixture* s_fixture;
};
test::Fixture* ServerValues::s_fixture = nullptr;

// Compares decoded texts with a server result set; numeric columns may compare by value.
void expectSameRows(const std::string& table, const ServerValues::Decoded& decoded, const ResultSet& server,
                    bool hexText = false) {
    ASSERT_EQ(decoded.rows.size(), server.rows.size()) << table;
    for (std::size_t r = 0; r < server.rows.size(); ++r) {
        ASSERT_EQ(decoded.rows[r].size(), server.rows[r].size()) << table;
        for (std::size_t c = 0; c < server.rows[r].size(); ++c) {
            SCOPED_TRACE(table + " row " + std::to_string(r) + " column " + decoded.columns[c].name);
            const std::string ours = hexText && decoded.columns[c].charset != 63
                                         ? hexOf(decoded.rows[r][c])
                                         : decoded.rows[r][c];
            std::string theirs = server.rows[r][c];
            if (hexText && decoded.columns[c].charset == 63) theirs = theirs.empty() ? "" : "0x" + theirs;
            EXPECT_EQ(ours, theirs);
        }
    }
}

// Every value the server stored, at the limits of its type, is one storedValueFault
// accepts: the damage checks never take a stored row for a damaged one.
TEST_F(ServerValues, NoStoredValueIsAFault) {
    for (const char* table : {"t_int", "t_dec", "t_float", "t_time", "t_oldtime", "t_bit", "t_enum", "t_text"}) {
        SCOPED_TRACE(table);
        const auto decoded = decodeTable(table, {});
        EXPECT_FALSE(decoded.rows.empty());
        EXPECT_EQ(decoded.faults, std::vector<std::string>{});
    }
}

TEST_F(ServerValues, IntegersOfEveryWidthAndSign) {
    expectSameRows("t_int", decodeTable("t_int", {}), results()[0]);
}

TEST_F(ServerValues, PackedDecimalsAtTheirLimits) {
    expectSameRows("t_dec", decodeTable("t_dec", {}), results()[1]);
}

// The server prints FLOAT with 6 significant digits and DOUBLE with 17 at most; ours is
// the shortest text that reads back to the stored binary value, so the two compare by
// value: parsing ours gives exactly the stored number, and the server's text is that
// number rounded to its own precision.
TEST_F(ServerValues, FloatsRoundTripExactly) {
    const auto decoded = decodeTable("t_float", {});
    const auto sets = results();
    const auto& server = sets[2];
    ASSERT_EQ(decoded.rows.size(), server.rows.size());
    const auto myd = readFileText(s_fixture->dataDir / "v" / "t_float.MYD");
    for (std::size_t r = 0; r < server.rows.size(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        const float f = std::strtof(decoded.rows[r][0].c_str(), nullptr);
        const double d = std::strtod(decoded.rows[r][1].c_str(), nullptr);
        const double serverF = std::strtod(server.rows[r][0].c_str(), nullptr);
        const double serverD = std::strtod(server.rows[r][1].c_str(), nullptr);
        EXPECT_NEAR(f, serverF, std::fabs(serverF) * 1e-5 + 1e-45) << decoded.rows[r][0] << " vs " << server.rows[r][0];
        EXPECT_NEAR(d, serverD, std::fabs(serverD) * 1e-15) << decoded.rows[r][1] << " vs " << server.rows[r][1];
        // Bit for bit: the text reads back to the stored bytes.
        const std::size_t rec = myd.size() / server.rows.size();
        float storedF;
        double storedD;
        std::memcpy(&storedF, myd.data() + r * rec + decoded.columns[0].recordPos - 1, 4);
        std::memcpy(&storedD, myd.data() + r * rec + decoded.columns[1].recordPos - 1, 8);
        EXPECT_EQ(std::memcmp(&f, &storedF, 4), 0) << decoded.rows[r][0];
        EXPECT_EQ(std::memcmp(&d, &storedD, 8), 0) << decoded.rows[r][1];
    }
    // Texts that "%f" would have lost.
    EXPECT_EQ(decoded.rows[1][1], "1e-300");
    EXPECT_EQ(decoded.rows[0][0], "0.1");
    EXPECT_EQ(decoded.rows[0][1], "0.1");
}

TEST_F(ServerValues, TemporalValuesInBothLayouts) {
    DecodeOptions saving;
    saving.saving = true;  // TIMESTAMP in UTC, as the query's session shows them
    const auto current = decodeTable("t_time", saving);
    const auto old = decodeTable("t_oldtime", saving);
    // The layouts are the ones the server was asked for.
    ASSERT_EQ(current.columns.size(), 13u);
    EXPECT_EQ(current.columns[2].typeCode, 19u);
    EXPECT_EQ(current.columns[6].typeCode, 18u);
    EXPECT_EQ(current.columns[10].typeCode, 17u);
    ASSERT_EQ(old.columns.size(), 13u);
    EXPECT_EQ(old.columns[1].typeCode, 11u);
    EXPECT_EQ(old.columns[2].typeCode, 11u);
    EXPECT_EQ(old.columns[5].typeCode, 12u);
    EXPECT_EQ(old.columns[6].typeCode, 12u);
    EXPECT_EQ(old.columns[9].typeCode, 7u);
    EXPECT_EQ(old.columns[10].typeCode, 7u);
    expectSameRows("t_time", current, results()[3]);
    expectSameRows("t_oldtime", old, results()[4]);
}

TEST_F(ServerValues, TimestampPreviewIsLocalTime) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "IST-5:30", 1);
    tzset();
    const auto preview = decodeTable("t_time", {});
    const auto oldPreview = decodeTable("t_oldtime", {});
    if (saved)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    const auto sets = results();
    const auto& server = sets[8];
    ASSERT_EQ(preview.rows.size(), server.rows.size());
    for (std::size_t r = 0; r < server.rows.size(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(preview.rows[r][9 + c], server.rows[r][c]);
            EXPECT_EQ(oldPreview.rows[r][9 + c], server.rows[r][c]);
        }
    }
}

TEST_F(ServerValues, BitsOfEveryByte) {
    expectSameRows("t_bit", decodeTable("t_bit", {}), results()[5]);
}

TEST_F(ServerValues, LargeEnumsAndSets) {
    const auto decoded = decodeTable("t_enum", {});
    ASSERT_EQ(decoded.columns.size(), 5u);
    EXPECT_EQ(decoded.columns[0].members.size(), 300u);
    EXPECT_EQ(storedWidth(decoded.columns[0]), 2u);
    EXPECT_EQ(storedWidth(decoded.columns[2]), 8u);
    EXPECT_EQ(storedWidth(decoded.columns[4]), 3u);
    expectSameRows("t_enum", decoded, results()[6]);
}

TEST_F(ServerValues, TextInItsOwnCharacterSet) {
    const auto saving = decodeTable("t_text", DecodeOptions{true});
    expectSameRows("t_text", saving, results()[7], true);
    // Spot checks of what the hex compares.
    ASSERT_GE(saving.rows.size(), 1u);
    EXPECT_EQ(saving.rows[0][0], "😀é");
    EXPECT_EQ(saving.rows[0][1], "é€");
    EXPECT_EQ(saving.rows[0][2], "Привет");
    EXPECT_EQ(saving.rows[0][3], "日本語");
    EXPECT_EQ(saving.rows[0][5], "0x00275CFF");
}

// The whole road of a saved row: the stored bytes decoded while saving, turned into SQL
// literals, executed by the server (default, strict SQL mode; session time zone UTC as the
// scripts set it) into copies of the tables, which must then hold the very same bytes.
TEST_F(ServerValues, SavedRowsStoreTheSameBytes) {
    const char* tables[] = {"t_int", "t_dec", "t_float", "t_time", "t_oldtime", "t_bit", "t_enum", "t_text"};
    DecodeOptions saving;
    saving.saving = true;
    std::string sql = fixtureSql();
    sql += "SET sql_mode=DEFAULT;\nSET time_zone='+00:00';\nCREATE DATABASE w;\n";
    for (const char* table : tables) {
        const std::string t = table;
        if (t == "t_oldtime") sql += "SET GLOBAL mysql56_temporal_format=OFF;\n";
        sql += "CREATE TABLE w." + t + " LIKE v." + t + ";\n";
        if (t == "t_oldtime") sql += "SET GLOBAL mysql56_temporal_format=ON;\n";
        auto decoded = decodeTable(t, saving);
        for (const auto& row : decoded.rows) {
            std::string values;
            for (std::size_t c = 0; c < row.size(); ++c) {
                core::ColumnDefinition column = decoded.columns[c];
                column.value = row[c];
                appendSqlLiteral(column, "", values);
            }
            values.pop_back();
            sql += "INSERT INTO w.`" + t + "` VALUES(" + values + ");\n";
        }
    }
    const auto copy = test::makeFixture("values_saved_rows", sql);
    for (const char* table : tables) {
        SCOPED_TRACE(table);
        const std::string original = readFileText(s_fixture->dataDir / "v" / (std::string(table) + ".MYD"));
        const std::string saved = readFileText(copy.dataDir / "w" / (std::string(table) + ".MYD"));
        ASSERT_FALSE(original.empty());
        EXPECT_EQ(hexOf(saved), hexOf(original));
    }
}

}  // namespace
}  // namespace dunmore::values
