// The .frm reader on files written by many real MySQL and MariaDB servers (3.23 to
// 10.11), used in place from the shared peer-fixture folder, against the CREATE TABLE
// text their servers printed for them.
#include "schema/column_type.h"
#include "schema/frm_reader.h"

#include "support/frm_builder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>
#include <sstream>

namespace dunmore::schema {
namespace {

namespace fs = std::filesystem;
const fs::path kPeers = DUNMORE_PEER_FIXTURES;

struct ManifestEntry {
    std::string frm;
    std::string expected;  // empty: none
    bool view = false;
};

std::vector<ManifestEntry> manifest() {
    std::vector<ManifestEntry> out;
    std::istringstream in(test::readFileText(kPeers / "MANIFEST.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != ' ' && line[0] != '#' && line.ends_with(".frm")) {
            out.push_back({line, {}, false});
        } else if (!out.empty() && line.find("  version: view") == 0) {
            out.back().view = true;
        } else if (!out.empty() && line.find("  expected CREATE: ") == 0) {
            std::string rest = line.substr(19);
            rest = rest.substr(0, rest.find(' '));
            if (rest != "none") out.back().expected = rest;
        }
    }
    return out;
}

// Files whose format or expected text the column comparison does not cover, and what
// Dunmore does with them. Each is still read (no crash, a clear status). MySQL 5.7
// generated columns (mysql57_virtual.frm) and partitioned tables (t9.frm) are compared:
// their columns agree, though the expressions are not kept (partition texts are read in
// partition_clause_test.cpp).
struct NotCovered {
    const char* file;
    const char* why;
};
const NotCovered kNotCovered[] = {
    {"mariadb-server/std_data/old_table-323.frm",
     "MySQL 3.23 (format 6): read with the 11-byte column records; types come from the pack "
     "flags only; no character sets, members or comments; no expected text exists"},
    {"mariadb-server/std_data/vchar.frm",
     "MySQL 4.x (format 7): types come from the pack flags of the old layout, which name "
     "only the storage class; the server shows varchar(30)/*old*/"},
    {"mariadb-server/std_data/ctype_upgrade/maria050533_xxx_croatian_ci.frm",
     "MariaDB 5.5 numbered utf16_croatian_ci 215 and utf32_croatian_ci 214; the collation "
     "table is MariaDB 10.11's, where those numbers are utf8mb3 collations, so the two "
     "columns get utf8mb3 names and lengths (the server remaps them on upgrade)"},
    {"mariadb-server/std_data/host_old.frm",
     "format 7 (MySQL 5.0 mysql.host): type codes from the pack flags of the old layout name "
     "only the storage class (ENUM columns come out as CHAR-like codes)"},
    {"mariadb-server/std_data/parts/t1_blackhole.frm",
     "partitioned table whose engine the server refuses (its expected text is an error); "
     "the reader gives its one column"},
    {"mariadb-server/std_data/vcol_autoinc.frm",
     "MariaDB 5.5 virtual column (type 245 with the real type in the expression section): "
     "named JSON by the type table (MySQL 5.7 gave 245 to JSON); the expression is lost"},
    {"mariadb-server/std_data/mdev17909.frm",
     "MariaDB 10.1 partitioned table whose virtual VARCHAR column has type 245: named JSON"},
    {"mariadb-server/std_data/mysql_json/tempty.frm",
     "MySQL 5.7 JSON (type 245) is written JSON; the expected text is after MariaDB's upgrade "
     "to LONGTEXT"},
    {"mariadb-server/plugin/type_uuid/type_uuid/std_data/mdev-29959.frm",
     "MariaDB data-type plugin UUID: the type name lives in the extra segment, which is not "
     "read; the column is written as the CHAR(36) its column record names"},
};

const char* notCoveredReason(const std::string& file) {
    for (const auto& n : kNotCovered)
        if (file == n.file) return n.why;
    return nullptr;
}

struct ExpectedColumn {
    std::string name;
    std::string type;  // lower case outside quotes, no display widths, with unsigned/zerofill
    bool notNull = false;
    std::string charset;  // from CHARACTER SET, empty when not given
    bool isVirtual = false;
};

std::string lowerOutsideQuotes(const std::string& s) {
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\'') quoted = !quoted;
        out.push_back(quoted ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

std::string normalType(std::string type) {
    type = lowerOutsideQuotes(type);
    static const std::regex width(R"(^(tinyint|smallint|mediumint|int|bigint|year)\(\d+\))");
    return std::regex_replace(type, width, "$1");
}

// The column lines of a CREATE TABLE text: "  `name` type attributes,".
std::vector<ExpectedColumn> expectedColumns(const std::string& text) {
    std::vector<ExpectedColumn> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("  `", 0) != 0) continue;
        const std::size_t nameEnd = line.find('`', 3);
        if (nameEnd == std::string::npos) continue;
        ExpectedColumn c;
        c.name = line.substr(3, nameEnd - 3);
        std::size_t pos = nameEnd + 2;
        std::string type;
        int depth = 0;
        bool quoted = false;
        for (; pos < line.size(); ++pos) {
            const char ch = line[pos];
            if (ch == '\'' ) quoted = !quoted;
            if (!quoted && ch == '(') ++depth;
            if (!quoted && ch == ')') --depth;
            if (!quoted && depth == 0 && (ch == ' ' || ch == ',')) break;
            type.push_back(ch);
        }
        std::string rest = line.substr(pos);
        rest = std::regex_replace(rest, std::regex(R"(/\*.*?\*/)"), "");
        rest = std::regex_replace(rest, std::regex(R"((DEFAULT|COMMENT) '([^']|'')*')"), "");
        std::smatch m;
        std::string attrs;
        if (std::regex_search(rest, std::regex(R"(^\s*unsigned)"))) attrs += " unsigned";
        if (std::regex_search(rest, std::regex(R"(^\s*(unsigned\s+)?zerofill)"))) attrs += " zerofill";
        c.type = normalType(std::regex_replace(type, std::regex(R"(/\*.*?\*/)"), "")) + attrs;
        c.notNull = rest.find("NOT NULL") != std::string::npos;
        c.isVirtual = std::regex_search(rest, std::regex(R"(\) VIRTUAL)"));
        if (std::regex_search(rest, m, std::regex(R"(CHARACTER SET (\w+))"))) c.charset = m[1];
        out.push_back(c);
    }
    return out;
}

TEST(FrmPeers, EveryFileDecodesAndColumnsAgree) {
    schema::CollationTable shipped;
    shipped.loadCollationTable(fs::path(DUNMORE_SOURCE_DIR) / "data" / kCollationFileName);
    ASSERT_FALSE(shipped.empty());
    setApplicationCollations(shipped);
    const auto entries = manifest();
    ASSERT_EQ(entries.size(), 60u);
    std::size_t tablesRead = 0, compared = 0;
    const auto check = [&](const ManifestEntry& e) {
        SCOPED_TRACE(e.frm);
        core::TableDefinitionState ctx;
        core::AppSettings settings;
        const auto status = readTableDefinitionStatus(ctx, kPeers / e.frm, settings);
        if (e.view) {
            EXPECT_EQ(status.code(), core::StatusCode::Unsupported) << status.message();
            EXPECT_TRUE(ctx.columns.empty());
            return;
        }
        ASSERT_TRUE(status) << status.message();
        ASSERT_FALSE(ctx.columns.empty());
        ++tablesRead;
        // Every column's bytes lie inside the row image the definition declares.
        for (const auto& c : ctx.columns) {
            if (c.recordPos > 0) EXPECT_LE(c.recordPos - 1, ctx.recordLength) << c.name;
            (void)columnTypeText(ctx.tableCharset, c, shipped);
        }
        if (e.expected.empty() || notCoveredReason(e.frm)) return;
        const std::string text = test::readFileText(kPeers / e.expected);
        auto expected = expectedColumns(text);
        // Version 11 files name their VIRTUAL generated columns, which the column list
        // leaves out (no engine stores them).
        if (test::readFileText(kPeers / e.frm).substr(2, 1) == "\x0b")
            std::erase_if(expected, [](const ExpectedColumn& c) { return c.isVirtual; });
        ASSERT_EQ(expected.size(), ctx.columns.size()) << text;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const auto& x = expected[i];
            const auto& c = ctx.columns[i];
            SCOPED_TRACE(x.name);
            EXPECT_EQ(c.name, x.name);
            EXPECT_EQ(c.nullable == 0, x.notNull);
            EXPECT_EQ(normalType(columnTypeText(ctx.tableCharset, c, shipped)), x.type);
            if (!x.charset.empty()) {
                const auto* entry = shipped.lookupCollation(static_cast<std::uint32_t>(c.charset));
                ASSERT_NE(entry, nullptr);
                // MySQL 5.x calls utf8mb3 utf8.
                const std::string name = entry->charsetName == "utf8mb3" ? "utf8" : entry->charsetName;
                EXPECT_TRUE(name == x.charset || entry->charsetName == x.charset) << entry->charsetName;
            }
            ++compared;
        }
    };
    for (const auto& e : entries) check(e);
    setApplicationCollations({});
    EXPECT_GT(tablesRead, 50u);
    EXPECT_GT(compared, 250u);
}

}  // namespace
}  // namespace dunmore::schema
