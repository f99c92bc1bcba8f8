// MySQL 8.0 / 8.4 tablespaces (real files of MySQL 8.0.18 - 8.0.44 in the peer fixtures):
// the SDI read from page 0's SDI root, definitions from its JSON, the rows of the
// clustered index with instant ADD and row versions, LOBs of the 8.0 format, and the
// refusals (encrypted, compressed, damaged SDI) with their reasons.
#include "innodb/sdi_definition.h"

#include "innodb/page_check.h"
#include "innodb/row_stream.h"
#include "innodb/sdi_reader.h"
#include "schema/collation_table.h"
#include "support/fixture.h"
#include "support/recording_frontend.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

const fs::path kMysql8 = fs::path(DUNMORE_PEER_FIXTURES) / "mysql8";
const fs::path kNinja = kMysql8 / "ibdNinja" / "tests" / "8.0" / "fixtures";
const fs::path kJava = kMysql8 / "innodb-java-reader" / "innodb-java-reader" / "src" / "test" /
                       "resources" / "testsuite" / "mysql80";
const fs::path kSakila = dunmore::test::peerSakila80Folder();

class Mysql8 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        tzset();
        schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data");
    }
};

// A copy of a fixture file in the build tree with bytes changed.
fs::path damagedCopy(const fs::path& source, const std::string& name,
                     const std::vector<std::pair<std::uint64_t, std::uint8_t>>& bytes) {
    const fs::path dir = fs::path(DUNMORE_FIXTURE_ROOT) / "mysql8_damaged" / name;
    fs::create_directories(dir);
    const fs::path target = dir / source.filename();
    std::string data = test::readFileText(source);
    for (const auto& [at, value] : bytes) data.at(at) = static_cast<char>(value);
    test::writeFileText(target, data);
    return target;
}

// The rows of one table as a save writes them: the INSERT statements of its script.
struct SavedTable {
    bool ok = false;
    std::vector<std::string> rows;
    std::string log;
    fs::path blobs;
};

// json, when given, is the SDI Table text to use instead of the file's own.
SavedTable saveTable(const fs::path& ibd, const std::string& json = {}) {
    const fs::path out = fs::path(DUNMORE_FIXTURE_ROOT) / "mysql8_out" / ibd.stem();
    fs::remove_all(out);
    fs::create_directories(out / "Scriptdata" / "blobdata");
    core::AppSettings settings;
    settings.savingScript = true;
    settings.savingFolder = (out / "Scriptdata").string();
    test::RecordingFrontend frontend;
    SavedTable saved;
    saved.blobs = out / "Scriptdata" / "blobdata";
    {
        core::MainFrame frame(settings, frontend);
        const std::string logPath = frame.logFile.open(out.string() + "/", core::currentLocalTime()).value();
        frame.scriptWriter.open(out / "t.sql");
        innodb::InnodbReader reader(frame.context);
        const core::Status read =
            json.empty() ? innodb::readSdiTableDefinition(reader, ibd)
                         : innodb::parseSdiTable(reader, json, schema::applicationCollations(), nullptr);
        EXPECT_TRUE(read.isOk()) << read.message();
        const std::string table = ibd.stem().string();
        saved.ok = read.isOk() &&
                   innodb::saveInnodbTableRows(frame, reader, ibd.parent_path(), table, table, false);
        frame.scriptWriter.close();
        frame.logFile.close();
        const std::string log = test::readFileText(logPath);
        for (std::size_t i = 2; i + 1 < log.size(); i += 2)
            if (log[i + 1] == 0) saved.log.push_back(log[i]);
    }
    const std::string script = test::readFileText(out / "t.sql");
    std::size_t start = 0;
    while (start < script.size()) {
        auto end = script.find("\r\n", start);
        if (end == std::string::npos) end = script.size();
        if (script.compare(start, 12, "INSERT INTO ") == 0) saved.rows.push_back(script.substr(start, end - start));
        start = end + 2;
    }
    return saved;
}

TEST_F(Mysql8, SdiRecordsAreFoundFromPageZeroInlineAndOffPage) {
    auto simple = [&] {
        core::ReadOnlyFile f;
        EXPECT_TRUE(f.open(kNinja / "simple_table.ibd").isOk());
        return innodb::readSdiRecords(f);
    }();
    ASSERT_TRUE(simple.isOk()) << simple.status().message();
    ASSERT_EQ(simple->records.size(), 2u);
    EXPECT_TRUE(simple->damaged.empty());
    std::set<std::uint32_t> types;
    for (const auto& r : simple->records) {
        types.insert(r.type);
        const auto doc = nlohmann::json::parse(r.json);
        EXPECT_EQ(doc["mysqld_version_id"], 80040);
        if (r.type == innodb::kSdiTypeTable) {
            EXPECT_EQ(r.id, 365u);
            EXPECT_EQ(doc["dd_object"]["name"], "simple_table");
        }
    }
    EXPECT_EQ(types, (std::set<std::uint32_t>{innodb::kSdiTypeTable, innodb::kSdiTypeTablespace}));

    // An ENUM of very many members makes the Table record too long for its page: its
    // 21,981 zlib bytes live in a chain of SDI BLOB pages.
    core::ReadOnlyFile tb25;
    ASSERT_TRUE(tb25.open(kJava / "column" / "enum" / "tb25.ibd").isOk());
    const auto offPage = innodb::readSdiRecords(tb25);
    ASSERT_TRUE(offPage.isOk()) << offPage.status().message();
    const innodb::SdiRecord* table = nullptr;
    for (const auto& r : offPage->records)
        if (r.type == innodb::kSdiTypeTable) table = &r;
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->json.size(), 112450u);
    innodb::InnodbReader ctx;
    ASSERT_TRUE(innodb::parseSdiTable(ctx, table->json, schema::applicationCollations(), nullptr).isOk());
    std::size_t members = 0;
    for (const auto& c : ctx.columns) members = std::max(members, c.members.size());
    EXPECT_GT(members, 255u);
}

TEST_F(Mysql8, UnreadableSdiIsRefusedWithItsReason) {
    const fs::path simple = kNinja / "simple_table.ibd";
    constexpr std::uint64_t kPage = 16384;
    constexpr std::uint64_t kSdiRootField = 10505 + 4;
    struct Case {
        const char* name;
        fs::path file;
        core::StatusCode code;
        const char* reason;
    };
    const Case kCases[] = {
        {"encrypted", kMysql8 / "percona-parser" / "hist-3a89089" / "tests" / "encrypted_test.ibd",
         core::StatusCode::Unsupported, "encrypted tablespace"},
        {"compressed", kMysql8 / "go-innodb" / "testdata" / "test_compressed.ibd",
         core::StatusCode::Unsupported, "ROW_FORMAT=COMPRESSED tablespace (KEY_BLOCK_SIZE=8)"},
        {"root out of the file", damagedCopy(simple, "root", {{kSdiRootField + 3, 0x63}}),
         core::StatusCode::Corrupt, "the SDI header names version 1 and root page 99"},
        {"root not an SDI page", damagedCopy(simple, "roottype", {{3 * kPage + 24, 0x45}, {3 * kPage + 25, 0xBF}}),
         core::StatusCode::Corrupt, "expected an SDI index page, found page type 17855"},
        {"zlib stream damaged", damagedCopy(simple, "zlib", {{3 * kPage + 427 + 33 + 500, 0x00}, {3 * kPage + 427 + 33 + 501, 0x00}}),
         core::StatusCode::Corrupt, "SDI record at offset 427: the zlib stream does not inflate"},
        {"length changed", damagedCopy(simple, "length", {{3 * kPage + 427 + 25 + 1, 0x01}}),
         core::StatusCode::Corrupt, "SDI record at offset 427: it inflates to"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        innodb::InnodbReader ctx;
        const core::Status st = innodb::readSdiTableDefinition(ctx, c.file);
        EXPECT_EQ(st.code(), c.code);
        EXPECT_NE(st.message().find(c.reason), std::string::npos) << st.message();
        EXPECT_NE(st.message().find(c.file.string()), std::string::npos) << st.message();
        EXPECT_TRUE(ctx.columns.empty());
        EXPECT_EQ(ctx.sdiRootPage, 0u);
    }
}

TEST_F(Mysql8, DefinitionsComeFromTheSdi) {
    struct Case {
        fs::path file;
        std::vector<std::string> columns;  // name: type text of the CREATE TABLE
        std::vector<std::string> fields;   // the clustered record's fields, in record order
        std::uint32_t root;
    };
    const auto typeList = [](const innodb::InnodbReader& ctx) {
        std::vector<std::string> out;
        for (const auto& c : ctx.columns)
            out.push_back(c.name + ":" + std::to_string(c.typeCode) + ":" + std::to_string(c.length) +
                          ":" + std::to_string(c.charset) + (c.nullable ? "" : ":NOT NULL") +
                          (c.inPrimaryKey ? ":PK" : "") + (c.inUniqueKey ? ":UK" : ""));
        return out;
    };
    const auto fieldList = [](const innodb::InnodbReader& ctx) {
        std::vector<std::string> out;
        for (const auto& f : ctx.sdiFields)
            out.push_back(f.column.name + (f.hidden ? "(h)" : "") +
                          (f.versionAdded ? "+v" + std::to_string(f.versionAdded) : "") +
                          (f.versionDropped ? "-v" + std::to_string(f.versionDropped) : ""));
        return out;
    };
    const Case kCases[] = {
        {kNinja / "instant_add_drop.ibd",
         {"col_uint:3:10:8:NOT NULL:PK", "col_datetime_0:18:19:8", "col_datetime_6:18:26:8"},
         {"col_uint", "DB_TRX_ID(h)", "DB_ROLL_PTR(h)", "col_datetime_0",
          "!hidden!_dropped_v3_p4_col_varchar(h)-v3", "col_datetime_6+v1",
          "!hidden!_dropped_v4_p6_col_char(h)+v2-v4"},
         4},
        // No key: the hidden row id clusters; CHAR in utf8mb4_0900_ai_ci has its own length.
        {kNinja / "nullable_no_pk.ibd",
         {"col1:3:11:255", "col2:15:400:255", "col3:3:11:255", "col4:15:200:255"},
         {"DB_ROW_ID(h)", "DB_TRX_ID(h)", "DB_ROLL_PTR(h)", "col1", "col2", "col3", "col4"},
         4},
        {kSakila / "language.ibd",
         {"language_id:1:3:255:NOT NULL:PK", "name:254:80:255:NOT NULL", "last_update:17:19:8:NOT NULL"},
         {"language_id", "DB_TRX_ID(h)", "DB_ROLL_PTR(h)", "name", "last_update"},
         4},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file.filename().string());
        innodb::InnodbReader ctx;
        innodb::SdiTableInfo info;
        const core::Status st = innodb::readSdiTableDefinition(ctx, c.file, &info);
        ASSERT_TRUE(st.isOk()) << st.message();
        EXPECT_EQ(ctx.engineCode, core::kEngineInnodb);
        EXPECT_EQ(typeList(ctx), c.columns);
        EXPECT_EQ(fieldList(ctx), c.fields);
        EXPECT_EQ(ctx.sdiRootPage, c.root);
        EXPECT_EQ(info.rowFormat, 2u);
        EXPECT_EQ(info.name, c.file.stem().string());
    }

    // Generated VIRTUAL columns are not stored; FTS_DOC_ID is a stored hidden field.
    innodb::InnodbReader ctx;
    innodb::SdiTableInfo info;
    ASSERT_TRUE(innodb::readSdiTableDefinition(ctx, kNinja / "type_test.ibd", &info).isOk());
    EXPECT_EQ(info.virtualColumns, 3u);
    EXPECT_EQ(ctx.columns.size(), 44u);
    EXPECT_EQ(std::count_if(ctx.sdiFields.begin(), ctx.sdiFields.end(),
                            [](const core::InnodbColumn& f) { return f.column.name == "FTS_DOC_ID" && f.hidden; }),
              1);
    EXPECT_EQ(innodb::serverVersionText(info.serverVersion), "8.0.40");
}

TEST_F(Mysql8, FixtureTablesSaveExactlyTheirRows) {
    struct Case {
        fs::path file;
        std::vector<std::string> rows;
    };
    const Case kCases[] = {
        {kNinja / "simple_table.ibd",
         {"INSERT INTO `simple_table`(`id`,`name`,`age`,`email`) VALUES(1,'Alice',30,'alice@example.com');",
          "INSERT INTO `simple_table`(`id`,`name`,`age`,`email`) VALUES(2,'Bob',25,'bob@example.com');",
          "INSERT INTO `simple_table`(`id`,`name`,`age`,`email`) VALUES(3,'Charlie',35,'charlie@example.com');",
          "INSERT INTO `simple_table`(`id`,`name`,`age`,`email`) VALUES(4,'Diana',28,'diana@example.com');",
          "INSERT INTO `simple_table`(`id`,`name`,`age`,`email`) VALUES(5,'Eve',32,'eve@example.com');"}},
        // 8.0.29+ instant ADD: rows 1-3 predate the two columns and take their defaults.
        {kNinja / "instant_add_col.ibd",
         {"INSERT INTO `instant_add_col`(`id`,`name`,`value`,`new_col1`,`new_col2`) VALUES(1,'Row1',100,10,'default_value');",
          "INSERT INTO `instant_add_col`(`id`,`name`,`value`,`new_col1`,`new_col2`) VALUES(2,'Row2',200,0,'default_value');",
          "INSERT INTO `instant_add_col`(`id`,`name`,`value`,`new_col1`,`new_col2`) VALUES(3,'Row3',300,0,'default_value');",
          "INSERT INTO `instant_add_col`(`id`,`name`,`value`,`new_col1`,`new_col2`) VALUES(4,'Row4',400,40,'custom4');",
          "INSERT INTO `instant_add_col`(`id`,`name`,`value`,`new_col1`,`new_col2`) VALUES(5,'Row5',500,50,'custom5');"}},
        // ADD and DROP at any position: a version 0 row with the later dropped VARCHAR, a
        // version 2 row with both dropped columns, a version 4 row with neither.
        {kNinja / "instant_add_drop.ibd",
         {"INSERT INTO `instant_add_drop`(`col_uint`,`col_datetime_0`,`col_datetime_6`) VALUES(1,'2026-01-16 09:53:48',NULL);",
          "INSERT INTO `instant_add_drop`(`col_uint`,`col_datetime_0`,`col_datetime_6`) VALUES(2,'2026-01-16 09:53:48','2026-01-16 09:53:48.000000');",
          "INSERT INTO `instant_add_drop`(`col_uint`,`col_datetime_0`,`col_datetime_6`) VALUES(3,'2026-01-16 09:53:48','2026-01-16 09:53:48.000000');"}},
        {kNinja / "nullable_no_pk.ibd",
         {"INSERT INTO `nullable_no_pk`(`col1`,`col2`,`col3`,`col4`) VALUES(1,'Value1',100,'A');",
          "INSERT INTO `nullable_no_pk`(`col1`,`col2`,`col3`,`col4`) VALUES(2,NULL,200,'B');",
          "INSERT INTO `nullable_no_pk`(`col1`,`col2`,`col3`,`col4`) VALUES(NULL,'Value3',NULL,'C');",
          "INSERT INTO `nullable_no_pk`(`col1`,`col2`,`col3`,`col4`) VALUES(4,'Value4',400,NULL);",
          "INSERT INTO `nullable_no_pk`(`col1`,`col2`,`col3`,`col4`) VALUES(NULL,NULL,NULL,NULL);"}},
        {kNinja / "with_deletes.ibd",
         {"INSERT INTO `with_deletes`(`id`,`name`,`status`) VALUES(1,'Keep1',1);",
          "INSERT INTO `with_deletes`(`id`,`name`,`status`) VALUES(3,'Keep3',3);",
          "INSERT INTO `with_deletes`(`id`,`name`,`status`) VALUES(5,'Keep5',5);",
          "INSERT INTO `with_deletes`(`id`,`name`,`status`) VALUES(7,'Keep7',7);",
          "INSERT INTO `with_deletes`(`id`,`name`,`status`) VALUES(9,'Keep9',9);"}},
        {kMysql8 / "InnoDB_rs" / "test_data" / "float_sample.ibd",
         {"INSERT INTO `float_sample`(`text`,`single_f`,`double_f`) VALUES('test1',1.1,2.2);",
          "INSERT INTO `float_sample`(`text`,`single_f`,`double_f`) VALUES('test2',-0.9,-1.42);"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file.filename().string());
        const SavedTable saved = saveTable(c.file);
        EXPECT_TRUE(saved.ok) << saved.log;
        EXPECT_EQ(saved.rows, c.rows);
    }

    // Created in 8.0.30, upgraded to 8.0.40: five instant ADDs and three instant DROPs,
    // with rows before and after each.
    const SavedTable ddl = saveTable(kNinja / "ddl_test.ibd");
    ASSERT_EQ(ddl.rows.size(), 19u);
    const std::string head = "INSERT INTO `ddl_test`(`id`,`original_col1`,`verify_column`,`data_v3`,`data_v5`) VALUES(";
    EXPECT_EQ(ddl.rows[0], head + "1,'original_data_1',666,NULL,NULL);");
    EXPECT_EQ(ddl.rows[5], head + "6,'after_add_v3_1',666,'{\\\"key\\\": \\\"value1\\\"}',NULL);");
    EXPECT_EQ(ddl.rows[12], head + "13,'after_8040_add_v5_2',666,'{\\\"key\\\": \\\"value8\\\"}',678.90);");
    EXPECT_EQ(ddl.rows[18], head + "19,'final_data_2',666,'{\\\"key\\\": \\\"value14\\\"}',333.33);");
    // 500 rows over eleven leaves below a node-pointer root.
    const SavedTable pages = saveTable(kNinja / "multi_page.ibd");
    EXPECT_EQ(pages.rows.size(), 500u);
}

TEST_F(Mysql8, InstantColumnsOf8012To8028AreReadFromTheFieldCount) {
    // instant_add_col as 8.0.12 - 8.0.28 wrote such tables: the records inserted after the
    // instant ADD carry the instant flag (0x80) and their field count (7) where 8.0.29+
    // puts the version flag (0x40) and the row version (2); the SDI names the columns
    // before the first instant ADD (instant_col=3) and no physical positions or versions.
    const fs::path source = kNinja / "instant_add_col.ibd";
    constexpr std::uint64_t kLeaf = 4 * 16384;
    std::vector<std::pair<std::uint64_t, std::uint8_t>> bytes;
    const std::string original = test::readFileText(source);
    for (const std::uint64_t origin : {315u, 225u, 270u}) {
        const auto info = static_cast<std::uint8_t>(original.at(kLeaf + origin - 5));
        ASSERT_EQ(info & 0xF0, 0x40) << origin;
        bytes.push_back({kLeaf + origin - 5, static_cast<std::uint8_t>((info & 0x0F) | 0x80)});
        bytes.push_back({kLeaf + origin - 6, 7});
    }
    fs::path file = damagedCopy(source, "instant8012", bytes);
    {
        // The page stays consistent: its CRC-32C checksum is written again.
        std::string image = test::readFileText(file);
        std::span<std::uint8_t> leaf(reinterpret_cast<std::uint8_t*>(image.data()) + kLeaf, 16384);
        innodb::writePageChecksum(leaf, innodb::PageChecksum::Crc32c);
        test::writeFileText(file, image);
    }

    core::ReadOnlyFile f;
    ASSERT_TRUE(f.open(source).isOk());
    auto records = innodb::readSdiRecords(f);
    ASSERT_TRUE(records.isOk());
    nlohmann::json doc;
    for (const auto& r : records->records)
        if (r.type == innodb::kSdiTypeTable) doc = nlohmann::json::parse(r.json);
    doc["dd_object"]["se_private_data"] = "instant_col=3;";
    for (auto& c : doc["dd_object"]["columns"]) {
        std::string data = c["se_private_data"];
        data = std::regex_replace(data, std::regex("(physical_pos|version_added)=[0-9]+;"), "");
        c["se_private_data"] = data;
    }
    const SavedTable saved = saveTable(file, doc.dump());
    EXPECT_TRUE(saved.ok) << saved.log;
    const std::string head = "INSERT INTO `instant_add_col`(`id`,`name`,`value`,`new_col1`,`new_col2`) VALUES(";
    EXPECT_EQ(saved.rows, (std::vector<std::string>{head + "1,'Row1',100,10,'default_value');",
                                                    head + "2,'Row2',200,0,'default_value');",
                                                    head + "3,'Row3',300,0,'default_value');",
                                                    head + "4,'Row4',400,40,'custom4');",
                                                    head + "5,'Row5',500,50,'custom5');"}));
}

TEST_F(Mysql8, LobsOfTheNewFormatAreReadWhole) {
    const SavedTable saved = saveTable(kNinja / "blob_external.ibd");
    ASSERT_TRUE(saved.ok) << saved.log;
    ASSERT_EQ(saved.rows.size(), 5u);
    std::string inlineHex;
    for (int i = 0; i < 100; ++i) inlineHex += "41";
    EXPECT_NE(saved.rows[0].find("VALUES(1,'small inline',0x" + inlineHex + ",'inline text');"),
              std::string::npos)
        << saved.rows[0];
    // Row 2 was updated after its insert: the newest value is read.
    const std::pair<char, std::size_t> kFiles[] = {{'X', 16000}, {'C', 32000}, {'D', 65000}, {'E', 20000}, {'F', 20000}};
    for (std::size_t i = 0; i < std::size(kFiles); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(test::readFileText(saved.blobs / std::to_string(i)), std::string(kFiles[i].second, kFiles[i].first));
    }
    const auto guarded = [](const std::string& path) {
        return "IFNULL(LOAD_FILE('" + path + "'),~0+ISNULL(LOAD_FILE('" + path + "')))";
    };
    EXPECT_NE(saved.rows[4].find(guarded((saved.blobs / "3").string()) + "," +
                                 guarded((saved.blobs / "4").string()) + ");"),
              std::string::npos)
        << saved.rows[4];

    // JSON documents in LOBs after partial updates: the newest version of every part.
    struct JsonCase {
        const char* file;
        std::vector<const char*> expected;  // one per JSON column
    };
    const JsonCase kJson[] = {
        {"json_partial.ibd", {"json_partial_inspect_doc1_current.txt", "json_partial_inspect_doc2_current.txt"}},
        {"json_partial_large.ibd", {"json_partial_large_inspect_current.txt"}},
        {"json_partial_purged.ibd", {"json_partial_purged_inspect_current.txt"}},
    };
    const fs::path expectedDir = kNinja.parent_path() / "expected";
    for (const auto& c : kJson) {
        SCOPED_TRACE(c.file);
        const SavedTable json = saveTable(kNinja / c.file);
        ASSERT_EQ(json.rows.size(), 1u);
        // The JSON texts: the quoted literals after the id, unescaped.
        std::vector<nlohmann::json> docs;
        const std::string& row = json.rows[0];
        for (std::size_t at = row.find("VALUES(1,") + 9; at < row.size() && row[at] == '\'';) {
            std::string text;
            std::size_t i = at + 1;
            for (; i < row.size() && row[i] != '\''; ++i) {
                if (row[i] == '\\') ++i;
                text.push_back(row[i]);
            }
            docs.push_back(nlohmann::json::parse(text));
            at = i + 2;
        }
        ASSERT_EQ(docs.size(), c.expected.size()) << row.substr(0, 300);
        for (std::size_t i = 0; i < docs.size(); ++i)
            EXPECT_EQ(docs[i], nlohmann::json::parse(test::readFileText(expectedDir / c.expected[i])));
    }
}

// sakila-data.sql's rows of one table as the tuples "(...)" of its INSERT statements;
// MySQL's version comments around geometry literals are taken away.
std::map<std::string, std::multiset<std::string>> sakilaTuples(const std::string& sql) {
    std::map<std::string, std::multiset<std::string>> out;
    const std::string marker = "INSERT INTO ";
    for (std::size_t at = sql.find(marker); at != std::string::npos; at = sql.find(marker, at)) {
        // The dump names some tables with back-quotes, others without.
        const std::size_t nameStart = at + marker.size() + (sql[at + marker.size()] == '`' ? 1 : 0);
        const std::size_t nameEnd = sql.find_first_of("` ", nameStart);
        const std::string table = sql.substr(nameStart, nameEnd - nameStart);
        std::size_t i = sql.find('(', nameEnd);
        const std::size_t values = sql.find(" VALUES", nameEnd);
        if (values < i) i = sql.find('(', values);
        while (i < sql.size() && sql[i] == '(') {
            std::string tuple;
            bool quoted = false;
            for (; i < sql.size(); ++i) {
                const char ch = sql[i];
                tuple.push_back(ch);
                if (quoted && ch == '\\') {
                    tuple.push_back(sql[++i]);
                    continue;
                }
                if (ch == '\'') quoted = !quoted;
                if (!quoted && ch == ')') break;
            }
            ++i;
            for (const std::string drop : {"/*!50705 ", ",*/"}) {
                for (auto p = tuple.find(drop); p != std::string::npos; p = tuple.find(drop))
                    tuple.replace(p, drop.size(), drop == ",*/" ? "," : "");
            }
            // The dump quotes DECIMAL values ('0.99'); a script writes them bare.
            static const std::regex kQuotedDecimal("'(-?[0-9]+\\.[0-9]+)'");
            out[table].insert(std::regex_replace(tuple, kQuotedDecimal, "$1"));
            if (i < sql.size() && sql[i] == ',') ++i;
            while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\n' || sql[i] == '\r')) ++i;
        }
        at = i;
    }
    return out;
}

TEST_F(Mysql8, SakilaSavesEveryTableWithItsRowsAndValues) {
    const auto expected = sakilaTuples(test::readFileText(
        kMysql8 / "innodb_ruby" / "expected-sakila-from-aFemzz-Sakila-db" / "sakila-data.sql"));
    // payment.ibd and rental.ibd are not among the fixture files.
    const char* const kTables[] = {"actor",  "address",  "category",   "city",          "country",
                                   "customer", "film",   "film_actor", "film_category", "film_text",
                                   "inventory", "language", "staff",   "store"};
    for (const char* table : kTables) {
        SCOPED_TRACE(table);
        const SavedTable saved = saveTable(kSakila / (std::string(table) + ".ibd"));
        EXPECT_TRUE(saved.ok) << saved.log;
        std::multiset<std::string> got;
        for (std::string row : saved.rows) {
            const auto values = row.find(" VALUES(");
            ASSERT_NE(values, std::string::npos);
            row = row.substr(values + 7);
            row.pop_back();  // ';'
            // The one picture of staff is in a blob file; it must hold the dump's bytes.
            const auto load = row.find("IFNULL(LOAD_FILE('");
            if (load != std::string::npos) {
                const auto end = row.find("'),", load);
                const std::string bytes = test::readFileText(row.substr(load + 18, end - load - 18));
                const auto guardEnd = row.find("')))", end) + 2;
                std::string hex = "0x";
                for (unsigned char b : bytes) {
                    static const char* const kDigits = "0123456789ABCDEF";
                    hex.push_back(kDigits[b >> 4]);
                    hex.push_back(kDigits[b & 15]);
                }
                row.replace(load, guardEnd + 2 - load, hex);
            }
            got.insert(row);
        }
        if (std::string(table) == "film_text") {
            // Filled by triggers from film in the dump, not by INSERTs of its own.
            EXPECT_EQ(got.size(), 1000u);
            continue;
        }
        ASSERT_TRUE(expected.count(table));
        EXPECT_EQ(got.size(), expected.at(table).size());
        EXPECT_TRUE(got == expected.at(table));
    }
}

}  // namespace
