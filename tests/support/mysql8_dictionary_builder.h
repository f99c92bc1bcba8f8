#pragma once

// A small MySQL 8 data dictionary tablespace (mysql.ibd) for tests, laid out as MySQL
// 8.0 lays out its general tablespaces (storage/innobase/fsp, sql/dd/impl/sdi.cc):
//
//   const auto fx = makeFixture("dd_tables", dictionaryTablesSql(), {}, kDictionaryServerOptions);
//   writeFileText(dir / "mysql.ibd", dictionaryTablespace(fx.dataDir / "dd"));
//
// The rows are written by a real MariaDB server into tables of the dictionary's layout
// (compact DYNAMIC records are the same in MariaDB and MySQL 8); the tablespace takes the
// leaf page of each, and page 0 with the SDI flag and page 3 with an SDI record per table
// (its columns, its clustered index with the root page where the leaf now is), as
// the server's own SDI describes the tables of mysql.ibd.

#include "support/fixture.h"
#include "support/page_builder.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace dunmore::test {

inline constexpr std::size_t kDictionaryPageSize = 16384;
// MySQL's page checksum, so that the moved pages verify as the server's would.
inline const std::string kDictionaryServerOptions = "--innodb-checksum-algorithm=crc32";

// dd::enum_column_types.
enum class DdType { Long = 4, LongLong = 9, Timestamp2 = 18, Varchar = 16, Enum = 22, Set = 23, LongBlob = 26 };

struct DdColumn {
    std::string name;
    DdType type;
    bool nullable = false;
    std::uint32_t charLength = 0;   // bytes
    std::uint32_t collation = 83;   // utf8mb3_bin, the dictionary's own
    std::vector<std::string> members;
    bool isUnsigned = false;
};

struct DdTable {
    std::string name;
    std::vector<DdColumn> columns;  // the first is the primary key
};

// The tables, as sql/dd/impl/tables/*.cc defines them, with the columns the views and
// triggers need and a few of the others.
// The members of the dictionary's sql_mode columns: the server's sql_mode bits in order.
inline const std::vector<std::string>& sqlModeMembers() {
    static const std::vector<std::string> members = [] {
        std::vector<std::string> m = {"REAL_AS_FLOAT", "PIPES_AS_CONCAT", "ANSI_QUOTES", "IGNORE_SPACE", "NOT_USED",
                                      "ONLY_FULL_GROUP_BY", "NO_UNSIGNED_SUBTRACTION", "NO_DIR_IN_CREATE"};
        for (int i = 9; i <= 18; ++i) m.push_back("NOT_USED_" + std::to_string(i));
        for (const char* n : {"ANSI", "NO_AUTO_VALUE_ON_ZERO", "NO_BACKSLASH_ESCAPES", "STRICT_TRANS_TABLES",
                              "STRICT_ALL_TABLES", "NO_ZERO_IN_DATE", "NO_ZERO_DATE", "ALLOW_INVALID_DATES",
                              "ERROR_FOR_DIVISION_BY_ZERO", "TRADITIONAL", "NOT_USED_29", "HIGH_NOT_PRECEDENCE",
                              "NO_ENGINE_SUBSTITUTION", "PAD_CHAR_TO_FULL_LENGTH", "TIME_TRUNCATE_FRACTIONAL"})
            m.push_back(n);
        return m;
    }();
    return members;
}

// sqlModeMembers() as the member list of a CREATE TABLE: 'A','B',...
inline std::string sqlModeSetSql() {
    std::string text;
    for (const std::string& m : sqlModeMembers()) text += (text.empty() ? "'" : ",'") + m + "'";
    return text;
}

inline std::vector<DdTable> dictionaryTables() {
    const auto id = [](const std::string& n) { return DdColumn{n, DdType::LongLong, false, 20, 63, {}, true}; };
    const DdColumn name{"name", DdType::Varchar, false, 192};
    return {
        {"schemata", {id("id"), id("catalog_id"), name, id("default_collation_id")}},
        {"tables",
         {id("id"), id("schema_id"), name,
          {"type", DdType::Enum, false, 33, 83, {"BASE TABLE", "VIEW", "SYSTEM VIEW"}},
          {"engine", DdType::Varchar, false, 192, 33},
          {"view_definition", DdType::LongBlob, true, 4294967295u, 63},
          {"view_definition_utf8", DdType::LongBlob, true, 4294967295u, 83},
          {"view_check_option", DdType::Enum, true, 24, 83, {"NONE", "LOCAL", "CASCADED"}}}},
        {"triggers",
         {id("id"), id("schema_id"), name,
          {"event_type", DdType::Enum, false, 18, 83, {"INSERT", "UPDATE", "DELETE"}},
          id("table_id"),
          {"action_timing", DdType::Enum, false, 18, 83, {"BEFORE", "AFTER"}},
          {"action_order", DdType::Long, false, 10, 63, {}, true},
          {"action_statement", DdType::LongBlob, false, 4294967295u, 63},
          {"action_statement_utf8", DdType::LongBlob, false, 4294967295u, 83},
          {"created", DdType::Timestamp2, false, 22, 63},
          {"sql_mode", DdType::Set, false, 1605, 83, sqlModeMembers()}}},
        {"routines",
         {id("id"), id("schema_id"), name, {"type", DdType::Enum, false, 27, 83, {"FUNCTION", "PROCEDURE"}}}},
    };
}

// The MariaDB tables of that layout in the database dd, and the rows of a dictionary
// that holds the database shop with its table simple_table, the view adults, three
// triggers of simple_table (two on INSERT, in order) and two routines.
inline std::string dictionaryTablesSql() {
    std::string sql = R"SQL(
CREATE DATABASE dd;
USE dd;
SET time_zone = '+00:00';
CREATE TABLE schemata (id BIGINT UNSIGNED NOT NULL, catalog_id BIGINT UNSIGNED NOT NULL,
  name VARCHAR(64) CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  default_collation_id BIGINT UNSIGNED NOT NULL, PRIMARY KEY (id)) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
CREATE TABLE tables (id BIGINT UNSIGNED NOT NULL, schema_id BIGINT UNSIGNED NOT NULL,
  name VARCHAR(64) CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  type ENUM('BASE TABLE','VIEW','SYSTEM VIEW') CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  engine VARCHAR(64) CHARACTER SET utf8mb3 COLLATE utf8mb3_general_ci NOT NULL,
  view_definition LONGBLOB, view_definition_utf8 LONGTEXT CHARACTER SET utf8mb3 COLLATE utf8mb3_bin,
  view_check_option ENUM('NONE','LOCAL','CASCADED') CHARACTER SET utf8mb3 COLLATE utf8mb3_bin,
  PRIMARY KEY (id)) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
CREATE TABLE triggers (id BIGINT UNSIGNED NOT NULL, schema_id BIGINT UNSIGNED NOT NULL,
  name VARCHAR(64) CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  event_type ENUM('INSERT','UPDATE','DELETE') CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  table_id BIGINT UNSIGNED NOT NULL,
  action_timing ENUM('BEFORE','AFTER') CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  action_order INT UNSIGNED NOT NULL, action_statement LONGBLOB NOT NULL,
  action_statement_utf8 LONGTEXT CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  created TIMESTAMP(2) NOT NULL, sql_mode SET(@MODES) CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  PRIMARY KEY (id)) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
CREATE TABLE routines (id BIGINT UNSIGNED NOT NULL, schema_id BIGINT UNSIGNED NOT NULL,
  name VARCHAR(64) CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  type ENUM('FUNCTION','PROCEDURE') CHARACTER SET utf8mb3 COLLATE utf8mb3_bin NOT NULL,
  PRIMARY KEY (id)) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
INSERT INTO schemata VALUES (1, 1, 'mysql', 255), (2, 1, 'information_schema', 33), (5, 1, 'shop', 255);
SET @adults = 'select `shop`.`simple_table`.`id` AS `id`,`shop`.`simple_table`.`name` AS `name` from `shop`.`simple_table` where (`shop`.`simple_table`.`age` > 29)';
INSERT INTO tables VALUES
  (10, 5, 'simple_table', 'BASE TABLE', 'InnoDB', NULL, NULL, NULL),
  (11, 5, 'adults', 'VIEW', 'InnoDB', @adults, @adults, 'NONE'),
  (12, 2, 'TABLES', 'SYSTEM VIEW', '', 'select 1', 'select 1', 'NONE'),
  (13, 1, 'innodb_table_stats', 'BASE TABLE', 'InnoDB', NULL, NULL, NULL);
SET @upper = 'SET NEW.name = UPPER(NEW.name)';
SET @lower = 'SET NEW."email" = LOWER(NEW."email") || \'\'';
SET @clamp = 'BEGIN\n  IF NEW.age < 0 THEN\n    SET NEW.age = 0;\n  END IF;\nEND';
INSERT INTO triggers VALUES
  (20, 5, 'email_lower', 'INSERT', 10, 'BEFORE', 2, @lower, @lower, '2026-01-16 09:53:48.00',
   'PIPES_AS_CONCAT,ANSI_QUOTES,STRICT_TRANS_TABLES'),
  (21, 5, 'age_clamp', 'UPDATE', 10, 'BEFORE', 1, @clamp, @clamp, '2026-01-16 09:53:48.00', 'STRICT_TRANS_TABLES'),
  (22, 5, 'name_upper', 'INSERT', 10, 'BEFORE', 1, @upper, @upper, '2026-01-16 09:53:48.00', '');
INSERT INTO routines VALUES (30, 5, 'restock', 'PROCEDURE'), (31, 5, 'price_of', 'FUNCTION');
)SQL";
    sql.replace(sql.find("@MODES"), 6, sqlModeSetSql());
    return sql;
}

// The SDI Table JSON of one dictionary table whose clustered index (id indexId) has its
// root at page root: its columns, DB_TRX_ID and DB_ROLL_PTR; the primary key on the first.
inline std::string dictionarySdiJson(const DdTable& t, std::uint32_t root, std::uint64_t indexId) {
    using Json = nlohmann::json;
    static const char* const kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto base64 = [](const std::string& in) {
        std::string out;
        for (std::size_t i = 0; i < in.size(); i += 3) {
            std::uint32_t v = static_cast<std::uint8_t>(in[i]) << 16;
            if (i + 1 < in.size()) v |= static_cast<std::uint8_t>(in[i + 1]) << 8;
            if (i + 2 < in.size()) v |= static_cast<std::uint8_t>(in[i + 2]);
            out += kBase64[(v >> 18) & 63];
            out += kBase64[(v >> 12) & 63];
            out += i + 1 < in.size() ? kBase64[(v >> 6) & 63] : '=';
            out += i + 2 < in.size() ? kBase64[v & 63] : '=';
        }
        return out;
    };
    Json columns = Json::array();
    for (const DdColumn& c : t.columns) {
        Json elements = Json::array();
        for (std::size_t i = 0; i < c.members.size(); ++i)
            elements.push_back({{"name", base64(c.members[i])}, {"index", i + 1}});
        columns.push_back({{"name", c.name}, {"type", static_cast<int>(c.type)}, {"is_nullable", c.nullable},
                           {"is_unsigned", c.isUnsigned}, {"is_virtual", false}, {"hidden", 1},
                           {"char_length", c.charLength}, {"numeric_precision", 0}, {"numeric_scale", 0},
                           {"datetime_precision", c.type == DdType::Timestamp2 ? 2 : 0},
                           {"collation_id", c.collation}, {"generation_expression", ""},
                           {"se_private_data", "table_id=1;"}, {"elements", elements}});
    }
    for (const auto& [name, type, length] : {std::tuple{"DB_TRX_ID", 10, 6}, std::tuple{"DB_ROLL_PTR", 9, 7}})
        columns.push_back({{"name", name}, {"type", type}, {"is_nullable", false}, {"hidden", 2},
                           {"char_length", length}, {"collation_id", 63}, {"se_private_data", "table_id=1;"}});
    Json elements = Json::array();
    const std::size_t n = t.columns.size();
    elements.push_back({{"column_opx", 0}, {"length", 8}, {"hidden", false}});
    elements.push_back({{"column_opx", n}, {"length", 4294967295u}, {"hidden", true}});
    elements.push_back({{"column_opx", n + 1}, {"length", 4294967295u}, {"hidden", true}});
    for (std::size_t i = 1; i < n; ++i) elements.push_back({{"column_opx", i}, {"length", 4294967295u}, {"hidden", true}});
    Json index = {{"name", "PRIMARY"}, {"hidden", false}, {"type", 1},
                  {"se_private_data", "id=" + std::to_string(indexId) + ";root=" + std::to_string(root) +
                                          ";space_id=4294967294;table_id=1;trx_id=0;"},
                  {"elements", elements}};
    Json doc = {{"mysqld_version_id", 80040}, {"dd_version", 80023}, {"sdi_version", 80019},
                {"dd_object_type", "Table"},
                {"dd_object", {{"name", t.name}, {"schema_ref", "mysql"}, {"hidden", 2}, {"row_format", 2},
                               {"collation_id", 83}, {"se_private_data", ""}, {"columns", columns},
                               {"indexes", Json::array({index})}}}};
    return doc.dump();
}

// page(n) of a tablespace file.
inline PageBytes filePage(const std::filesystem::path& file, std::size_t n) {
    const std::string text = readFileText(file);
    PageBytes page(kDictionaryPageSize, 0);
    for (std::size_t i = 0; i < kDictionaryPageSize && n * kDictionaryPageSize + i < text.size(); ++i)
        page[i] = static_cast<std::uint8_t>(text[n * kDictionaryPageSize + i]);
    return page;
}

// mysql.ibd with the tables of folder (a MariaDB database of dictionaryTables()): page 0
// (space flags: post-Antelope, atomic blobs, 16 KiB, SDI; the SDI root named at 10505),
// pages 1 and 2, page 3 the SDI root with one record per table, and from page 4 each
// table's leaf page (the root of its file-per-table tablespace), renumbered. The pages'
// checksums are left to the caller. leaveOut names a table whose SDI record is left out.
inline std::vector<PageBytes> dictionaryPages(const std::filesystem::path& folder,
                                              const std::string& leaveOut = {}) {
    constexpr std::uint32_t kSpace = 4294967294u;  // mysql.ibd's space id
    std::vector<PageBytes> pages;
    PageBytes zero(kDictionaryPageSize, 0);
    setU16be(zero, 24, 8);                                         // FSP_HDR
    setU32be(zero, 38, kSpace);                                    // FSP space id
    setU32be(zero, 38 + 16, 1u | (1u << 5) | (1u << 14));         // space flags
    setU32be(zero, 10505, 1);                                      // SDI version
    setU32be(zero, 10509, 3);                                      // SDI root
    pages.push_back(zero);
    for (std::uint32_t n : {1u, 2u}) {
        PageBytes p(kDictionaryPageSize, 0);
        setU32be(p, 4, n);
        setU16be(p, 24, n == 1 ? 5 : 3);
        pages.push_back(p);
    }
    PageBuilder sdi(PageBuilder::Format::Compact, 3);
    sdi.pageType(17853).level(0).indexId(0xFFFFFFFFFFFFFFFFull);
    std::vector<std::size_t> origins;
    std::size_t at = 120;
    std::uint32_t leaf = 4;
    for (const DdTable& t : dictionaryTables()) {
        PageBytes page = filePage(folder / (t.name + ".ibd"), 3);
        std::uint64_t indexId = 0;
        for (int i = 0; i < 8; ++i) indexId = (indexId << 8) | page[66 + i];
        setU32be(page, 4, leaf);
        setU32be(page, 34, kSpace);
        setU32be(page, 8, 0xFFFFFFFF);
        setU32be(page, 12, 0xFFFFFFFF);
        pages.push_back(page);
        if (t.name == leaveOut) {
            ++leaf;
            continue;
        }
        const std::string json = dictionarySdiJson(t, leaf, indexId);
        uLongf size = compressBound(static_cast<uLong>(json.size()));
        std::string z(size, '\0');
        compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(json.data()),
                 static_cast<uLong>(json.size()));
        z.resize(size);
        PageBytes data = be(1, 4);                       // type: Table
        const PageBytes id = be(100 + leaf, 8);          // the object id
        data.insert(data.end(), id.begin(), id.end());
        data.insert(data.end(), 13, 0);                  // DB_TRX_ID, DB_ROLL_PTR
        const PageBytes lengths[] = {be(json.size(), 4), be(z.size(), 4)};
        for (const auto& l : lengths) data.insert(data.end(), l.begin(), l.end());
        data.insert(data.end(), z.begin(), z.end());
        const std::size_t fieldLength = z.size();
        const std::size_t origin = at + 7;
        sdi.compactRecord(origin, data,
                          {static_cast<std::uint8_t>(0x80 | (fieldLength >> 8)),
                           static_cast<std::uint8_t>(fieldLength & 0xFF)});
        origins.push_back(origin);
        at = origin + data.size();
        ++leaf;
    }
    sdi.chainCompact(origins);
    pages.insert(pages.begin() + 3, sdi.bytes());
    return pages;
}

inline std::string joinPages(const std::vector<PageBytes>& pages) {
    std::string out;
    for (const auto& p : pages) out.append(p.begin(), p.end());
    return out;
}

}  // namespace dunmore::test
