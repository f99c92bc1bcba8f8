// The .frm reader against files a real MariaDB server wrote, compared with what the
// server itself reports in information_schema about the same tables.
#include "schema/column_type.h"
#include "schema/frm_reader.h"

#include "support/frm_builder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>

namespace dunmore::schema {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

const char* kQuery =
    "SELECT TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, COLUMN_TYPE, IS_NULLABLE, "
    "IFNULL(COLLATION_NAME,'-'), EXTRA FROM information_schema.COLUMNS WHERE TABLE_SCHEMA='alltypes' "
    "ORDER BY TABLE_NAME, ORDINAL_POSITION;\n"
    "SELECT TABLE_NAME AS KEY_TABLE, INDEX_NAME, SEQ_IN_INDEX, COLUMN_NAME, NON_UNIQUE, "
    "IFNULL(SUB_PART,'-') FROM information_schema.STATISTICS WHERE TABLE_SCHEMA='alltypes' "
    "ORDER BY TABLE_NAME, INDEX_NAME, SEQ_IN_INDEX;\n"
    "SELECT TABLE_NAME AS BASE_TABLE, ENGINE, TABLE_COLLATION FROM information_schema.TABLES "
    "WHERE TABLE_SCHEMA='alltypes' AND TABLE_TYPE='BASE TABLE' ORDER BY TABLE_NAME;\n";

// mariadb --batch escapes \t \n \\ and \0 in its fields.
std::string unescapeBatch(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char n = s[++i];
            out.push_back(n == 't' ? '\t' : n == 'n' ? '\n' : n == '0' ? '\0' : n);
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// The result sets of the query, by the name of their first header field.
std::map<std::string, Rows> resultSets(const std::string& text) {
    std::map<std::string, Rows> sets;
    Rows* current = nullptr;
    for (auto& row : test::parseBatch(text)) {
        if (!row.empty() && (row[0] == "TABLE_NAME" || row[0] == "KEY_TABLE" || row[0] == "BASE_TABLE")) {
            current = &sets[row[0]];
            continue;
        }
        if (!current) continue;
        for (auto& f : row) f = unescapeBatch(f);
        current->push_back(std::move(row));
    }
    return sets;
}

// A type text in one spelling: ASCII letters outside quotes in lower case, integer
// display widths and YEAR's (4) dropped (Dunmore writes no display widths).
std::string normalType(const std::string& type) {
    std::string out;
    bool quoted = false;
    for (const char c : type) {
        if (c == '\'') quoted = !quoted;
        out.push_back(quoted ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    static const std::regex width(R"(^(tinyint|smallint|mediumint|int|bigint|year)\(\d+\))");
    return std::regex_replace(out, width, "$1");
}

struct Fixture {
    test::Fixture fx;
    std::map<std::string, Rows> sets;
    CollationTable collations;
};

const Fixture& allTypes() {
    static const Fixture f = [] {
        Fixture x;
        x.fx = test::makeFixture("schema_alltypes", test::allTypesSql(), kQuery);
        x.sets = resultSets(x.fx.resultText());
        x.collations = test::serverCollations();
        return x;
    }();
    return f;
}

struct ReadTable {
    core::TableDefinitionState ctx;
    core::AppSettings settings;
    core::Status status;
};

std::unique_ptr<ReadTable> readTable(const std::string& table) {
    auto t = std::make_unique<ReadTable>();
    t->status = readTableDefinitionStatus(
        t->ctx, allTypes().fx.dataDir / "alltypes" / (table + ".frm"), t->settings);
    return t;
}

TEST(FrmFixture, ColumnsMatchTheServer) {
    const Fixture& f = allTypes();
    setApplicationCollations(f.collations);
    const Rows& columns = f.sets.at("TABLE_NAME");
    ASSERT_GT(columns.size(), 140u);
    std::map<std::string, std::unique_ptr<ReadTable>> tables;
    std::map<std::string, std::size_t> seen;  // columns of the list met so far, by table
    std::size_t compared = 0, virtualColumns = 0;
    for (const auto& row : columns) {
        ASSERT_EQ(row.size(), 7u);
        const std::string& table = row[0];
        SCOPED_TRACE(table + "." + row[1]);
        if (table == "v1") continue;  // a view: its file is not a table definition
        auto& t = tables[table];
        if (!t) {
            t = readTable(table);
            ASSERT_TRUE(t->status) << t->status.message();
        }
        // VIRTUAL generated columns are stored by no engine: the list leaves them out.
        if (row[6].find("VIRTUAL") != std::string::npos) {
            for (const auto& c : t->ctx.columns) EXPECT_NE(c.name, row[1]);
            ++virtualColumns;
            continue;
        }
        const std::size_t ordinal = ++seen[table];
        ASSERT_LE(ordinal, t->ctx.columns.size());
        const core::ColumnDefinition& c = t->ctx.columns[ordinal - 1];
        EXPECT_EQ(c.name, row[1]);
        EXPECT_EQ(c.index, ordinal - 1);
        EXPECT_EQ(normalType(columnTypeText(t->ctx.tableCharset, c, f.collations)),
                  normalType(row[3]));
        EXPECT_EQ(c.nullable == 1, row[4] == "YES");
        if (row[5] != "-") {
            const CollationEntry* e = f.collations.lookupCollation(static_cast<std::uint32_t>(c.charset));
            ASSERT_NE(e, nullptr) << c.charset;
            EXPECT_EQ(e->collationName, row[5]);
        }
        ++compared;
    }
    setApplicationCollations({});
    EXPECT_GT(compared, 140u);
    EXPECT_EQ(virtualColumns, 1u);
    // The hidden hash columns of long UNIQUE keys are not columns of the table.
    for (const char* table : {"t_long_unique", "t_long_unique_myisam"}) {
        SCOPED_TRACE(table);
        const auto t = readTable(table);
        ASSERT_TRUE(t->status);
        ASSERT_EQ(t->ctx.columns.size(), seen[table]);
        for (const auto& c : t->ctx.columns) EXPECT_EQ(c.name.rfind("DB_ROW_HASH", 0), std::string::npos);
    }
}

TEST(FrmFixture, KeysMatchTheServer) {
    const Fixture& f = allTypes();
    const Rows& parts = f.sets.at("KEY_TABLE");
    ASSERT_FALSE(parts.empty());
    std::map<std::pair<std::string, std::string>, std::vector<const std::vector<std::string>*>> keys;
    for (const auto& row : parts) keys[{row[0], row[1]}].push_back(&row);
    for (const auto& [id, rows] : keys) {
        SCOPED_TRACE(id.first + " key " + id.second);
        const auto t = readTable(id.first);
        ASSERT_TRUE(t->status);
        const core::KeyInfo* key = nullptr;
        for (const auto& k : t->ctx.keys)
            if (k.name == id.second) key = &k;
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->primary, id.second == "PRIMARY");
        EXPECT_EQ(key->unique, (*rows[0])[4] == "0");
        ASSERT_EQ(key->parts.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& row = *rows[i];
            const auto& part = key->parts[i];
            ASSERT_GE(part.fieldNumber, 1u);
            const core::ColumnDefinition& c = t->ctx.columns.at(part.fieldNumber - 1);
            EXPECT_EQ(c.name, row[3]);  // key part order as the server keeps it
            if (key->primary) EXPECT_EQ(c.inPrimaryKey, 1);
            if (!key->primary && key->unique) EXPECT_EQ(c.inUniqueKey, 1);
            if (row[5] != "-") {
                const auto* e = f.collations.lookupCollation(static_cast<std::uint32_t>(c.charset));
                ASSERT_NE(e, nullptr);
                EXPECT_EQ(part.length / e->maxBytesPerChar, std::stoul(row[5]));
            }
        }
    }
}

TEST(FrmFixture, EnginesAndTableCharsets) {
    const Fixture& f = allTypes();
    const std::map<std::string, std::uint8_t> engines = {{"MyISAM", 9}, {"InnoDB", 12}, {"Aria", 42}};
    const Rows& tables = f.sets.at("BASE_TABLE");
    ASSERT_GT(tables.size(), 20u);
    for (const auto& row : tables) {
        SCOPED_TRACE(row[0]);
        const auto t = readTable(row[0]);
        ASSERT_TRUE(t->status) << t->status.message();
        EXPECT_EQ(t->ctx.engineCode, engines.at(row[1]));
        const auto* e = f.collations.lookupCollation(t->ctx.tableCharset);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->collationName, row[2]);
        EXPECT_TRUE(t->settings.version56OrLater);
        EXPECT_EQ(t->ctx.mysqlVersion / 100, 1011u);
        EXPECT_GT(t->ctx.recordLength, 0u);
    }
}

TEST(FrmFixture, EnumMembersAndCommentsAsStored) {
    setApplicationCollations(allTypes().collations);
    const auto e = readTable("t_enum");
    const auto latin1 = readTable("t_enum_latin1");
    const auto wide = readTable("t_wide");
    const auto misc = readTable("t_misc");
    setApplicationCollations({});
    ASSERT_TRUE(e->status && latin1->status && wide->status && misc->status);
    EXPECT_EQ(e->ctx.columns[0].members, (std::vector<std::string>{"a", "b'c", "d\\e", ""}));
    EXPECT_EQ(e->ctx.columns[2].members, (std::vector<std::string>{"é", "ü", "日本"}));
    EXPECT_EQ(latin1->ctx.columns[0].members, (std::vector<std::string>{"café", "b"}));
    EXPECT_EQ(wide->ctx.columns[4].members, (std::vector<std::string>{"x", "ÿ", "€"}));
    EXPECT_EQ(misc->ctx.columns[0].comment, "it's \"quoted\" \\ back");
    EXPECT_EQ(misc->ctx.columns[1].comment, "ünïcödé ✓");
    EXPECT_EQ(misc->ctx.columns[4].name, "a`b");
}

TEST(FrmFixture, ViewFileIsNotATableDefinition) {
    core::TableDefinitionState ctx;
    core::AppSettings settings;
    ctx.engineCode = 12;
    const auto s = readTableDefinitionStatus(ctx, allTypes().fx.dataDir / "alltypes" / "v1.frm", settings);
    EXPECT_EQ(s.code(), core::StatusCode::Unsupported);
    EXPECT_EQ(ctx.engineCode, 12);
    EXPECT_TRUE(ctx.columns.empty());
}

}  // namespace
}  // namespace dunmore::schema
