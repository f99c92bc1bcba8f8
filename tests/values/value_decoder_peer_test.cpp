// Column value decoders on MyISAM files written by older servers (the peer fixtures):
// MySQL 5.6.11 TIME2 and TIMESTAMP2 of every precision, and the text DECIMAL of a server
// before MySQL 5.0. The expected texts are the SELECT output that MariaDB's own test
// suite records for these files (mysql-test/main/type_temporal_mysql56.result).

#include "values/value_decoder.h"

#include "core/table_reader.h"
#include "core/settings.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace dunmore::values {
namespace {

namespace fs = std::filesystem;

const fs::path kStdData = fs::path(DUNMORE_PEER_FIXTURES) / "mariadb-server" / "std_data";

// Every fixed-length row of the table, decoded column by column at its .frm position.
std::vector<std::vector<std::string>> decodeRows(const fs::path& frm, const DecodeOptions& options) {
    core::TableDefinitionState ctx;
    core::AppSettings settings;
    EXPECT_TRUE(schema::readTableDefinition(ctx, frm, settings)) << frm;
    fs::path myd = frm;
    myd.replace_extension(".MYD");
    const std::string data = test::readFileText(myd);
    const core::ByteSpan file = core::asBytes(data);
    std::vector<std::vector<std::string>> rows;
    EXPECT_GT(ctx.recordLength, 0u) << frm;
    if (ctx.recordLength == 0) return rows;
    EXPECT_EQ(file.size() % ctx.recordLength, 0u) << frm;
    for (std::size_t at = 0; at + ctx.recordLength <= file.size(); at += ctx.recordLength) {
        std::vector<std::string> row;
        for (const auto& column : ctx.columns)
            row.push_back(decodeColumnValue(column, file.subspan(at + column.recordPos - 1, storedWidth(column)),
                                            options));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> withFractions(const std::string& base, const std::string& digit) {
    std::vector<std::string> out{base};
    for (int fsp = 1; fsp <= 6; ++fsp) {
        std::string fraction;
        for (int i = 0; i < fsp; ++i) fraction += digit;
        out.push_back(base + "." + fraction);
    }
    return out;
}

TEST(ValueDecoderPeer, Mysql56TimeOfEveryPrecision) {
    const auto rows = decodeRows(kStdData / "mysql56time.frm", {});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], withFractions("838:59:59", "0"));
    EXPECT_EQ(rows[1], withFractions("00:00:00", "0"));
    EXPECT_EQ(rows[2], withFractions("-838:59:59", "0"));
}

TEST(ValueDecoderPeer, Mysql56TimestampOfEveryPrecision) {
    DecodeOptions saving;
    saving.saving = true;  // UTC, as the recorded session (TIME_ZONE='+00:00')
    const auto rows = decodeRows(kStdData / "mysql56timestamp.frm", saving);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], withFractions("1970-01-01 00:00:01", "0"));
    EXPECT_EQ(rows[1], withFractions("2038-01-19 03:14:07", "9"));
}

// The three rows hold the texts 123.45, 123.46 and 123.47, right-aligned in the 12 bytes
// of an old DECIMAL(10,2).
TEST(ValueDecoderPeer, TextDecimalBeforeMysql50) {
    const auto rows = decodeRows(kStdData / "old_decimal" / "t1dec102.frm", {});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], std::vector<std::string>{"123.45"});
    EXPECT_EQ(rows[1], std::vector<std::string>{"123.46"});
    EXPECT_EQ(rows[2], std::vector<std::string>{"123.47"});
}

}  // namespace
}  // namespace dunmore::values
