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

// A number of the Table object that is no whole number its field holds (a damaged JSON
// text) is damage, named by its key: converting it would be undefined.
TEST_F(Mysql8, SdiNumbersThatAreNoWholeNumbersAreDamage) {
    core::ReadOnlyFile file;
    ASSERT_TRUE(file.open(kNinja / "simple_table.ibd").isOk());
    const auto records = innodb::readSdiRecords(file);
    ASSERT_TRUE(records.isOk()) << records.status().message();
    std::string json;
    for (const auto& r : records->records)
        if (r.type == innodb::kSdiTypeTable) json = r.json;
    ASSERT_FALSE(json.empty());
    for (const char* bad : {"1e67", "-1", "2.5", "4294967296"}) {
        SCOPED_TRACE(bad);
        const std::string damaged =
            std::regex_replace(json, std::regex("\"char_length\":[0-9]+"), std::string("\"char_length\":") + bad,
                               std::regex_constants::format_first_only);
        ASSERT_NE(damaged, json);
        innodb::InnodbReader ctx;
        const core::Status st = innodb::parseSdiTable(ctx, damaged, schema::applicationCollations(), nullptr);
        EXPECT_EQ(st.code(), core::StatusCode::Corrupt);
        EXPECT_NE(st.message().find("char_length"), std::string::npos) << st.message();
        EXPECT_TRUE(ctx.columns.empty());
    }
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
    // They keep their expression and their place: after col_json, before verify_column.
    std::vector<std::string> generated;
    for (const auto& g : ctx.generatedColumns)
        generated.push_back(g.column.name + " " + g.expression + (g.stored ? " STORED" : " VIRTUAL") + " before " +
                            ctx.columns.at(g.before).name);
    EXPECT_EQ(generated, (std::vector<std::string>{
                             "col_virtual_int (`col_int` * 2) VIRTUAL before verify_column",
                             "col_virtual_concat concat(`col_char_utf8`,_utf8mb4'_suffix') VIRTUAL before verify_column",
                             "col_virtual_datetime (`col_datetime0` + interval 1 day) VIRTUAL before verify_column"}));
    EXPECT_EQ(ctx.columns.at(ctx.generatedColumns.front().before - 1).name, "col_json");
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
        // ROW_FORMAT=COMPRESSED, KEY_BLOCK_SIZE=8 (8.0.42): its SDI and rows are in zip
        // pages; the rows are those of the uncompressed test.ibd its project wrote with
        // the same definition (page 5, a free page, keeps an old record and is not read).
        {kMysql8 / "go-innodb" / "testdata" / "test_compressed.ibd",
         {"INSERT INTO `test_compressed`(`ID`,`TEXTO`,`TEXTO2`,`COLUMN3`) VALUES(4,'ABRA','OUTRO_TEXTO',NULL);",
          "INSERT INTO `test_compressed`(`ID`,`TEXTO`,`TEXTO2`,`COLUMN3`) VALUES(5,'FECHA','NONONO','TESTE');"}},
        {kMysql8 / "go-innodb" / "testdata" / "test.ibd",
         {"INSERT INTO `test`(`ID`,`TEXTO`,`TEXTO2`,`COLUMN3`) VALUES(4,'ABRA','OUTRO_TEXTO',NULL);",
          "INSERT INTO `test`(`ID`,`TEXTO`,`TEXTO2`,`COLUMN3`) VALUES(5,'FECHA','NONONO','TESTE');"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file.filename().string());
        const SavedTable saved = saveTable(c.file);
        EXPECT_TRUE(saved.ok) << saved.log;
        EXPECT_EQ(saved.rows, c.rows);
    }

    // Created in 8.0.30, upgraded to 8.0.40: five instant ADDs and three instant DROPs,
    // with rows before and after each (ibdNinja's 10_upgrade_8016.sql, 11_upgrade_8040.sql):
    // the columns that stand today, the dropped ones' values left out, NULL for the rows
    // written before data_v3 and data_v5 were added.
    struct DdlRow {
        const char* name;
        int json;  // value<json> of data_v3, 0 for NULL
        const char* decimal;
    };
    const DdlRow kDdl[] = {
        {"original_data_1", 0, "NULL"},        {"original_data_2", 0, "NULL"},
        {"original_data_3", 0, "NULL"},        {"after_add_v2_1", 0, "NULL"},
        {"after_add_v2_2", 0, "NULL"},         {"after_add_v3_1", 1, "NULL"},
        {"after_add_v3_2", 2, "NULL"},         {"before_8040_changes_1", 3, "NULL"},
        {"before_8040_changes_2", 4, "NULL"},  {"after_8040_add_v4_1", 5, "NULL"},
        {"after_8040_add_v4_2", 6, "NULL"},    {"after_8040_add_v5_1", 7, "123.45"},
        {"after_8040_add_v5_2", 8, "678.90"},  {"after_drop_original_1", 9, "777.77"},
        {"after_drop_original_2", 10, "888.88"}, {"after_drop_8016col_1", 11, "999.99"},
        {"after_drop_8016col_2", 12, "111.11"}, {"final_data_1", 13, "222.22"},
        {"final_data_2", 14, "333.33"},
    };
    std::vector<std::string> ddlRows;
    for (std::size_t i = 0; i < std::size(kDdl); ++i) {
        const DdlRow& r = kDdl[i];
        const std::string json =
            r.json ? "'{\\\"key\\\": \\\"value" + std::to_string(r.json) + "\\\"}'" : "NULL";
        ddlRows.push_back("INSERT INTO `ddl_test`(`id`,`original_col1`,`verify_column`,`data_v3`,`data_v5`) VALUES(" +
                          std::to_string(i + 1) + ",'" + r.name + "',666," + json + "," + r.decimal + ");");
    }
    EXPECT_EQ(saveTable(kNinja / "ddl_test.ibd").rows, ddlRows);
    // 500 rows over eleven leaves below a node-pointer root.
    const SavedTable pages = saveTable(kNinja / "multi_page.ibd");
    EXPECT_EQ(pages.rows.size(), 500u);
}

// The VALUES(...) part of saved INSERT statements, without "VALUES" and the ";".
std::vector<std::string> valuesOf(const std::vector<std::string>& rows) {
    std::vector<std::string> out;
    for (const std::string& row : rows) {
        const auto at = row.find(") VALUES(");
        out.push_back(at == std::string::npos ? row : row.substr(at + 8, row.size() - at - 9));
    }
    return out;
}

TEST_F(Mysql8, PeerTablesSaveTheValuesTheirServersStored) {
    // Each value as the SQL that made the table states it, or as the server's own SELECT
    // showed it (innodb-java-reader's tests); TIMESTAMP values in UTC. NOW() of
    // data_types is the stored 0x696A0AAC of ibdNinja's record listing; the users and
    // types_fixture rows were written in a -03:00 session.
    struct Case {
        fs::path file;
        std::vector<std::string> values;
    };
    const fs::path percona = kMysql8 / "percona-parser" / "tests";
    const Case kCases[] = {
        {kNinja / "data_types.ibd",
         {"(1,127,32767,8388607,9223372036854775807,3.14,3.14159265359,12345.67,'CHAR10','Variable length string',"
          "'This is a text field',0x0102030405060708090A0B0C0D0E0F10,0xDEADBEEF,0xCAFEBABE,'2024-06-15','14:30:00',"
          "'2024-06-15 14:30:00','2026-01-16 09:53:48',2024,'B','X,Z',b'10101010','{\\\"key\\\": \\\"value\\\", \\\"number\\\": 42}')",
          "(2,-128,-32768,-8388608,-9223372036854775808,-1.5,-2.718281828,-99999.99,'ABC','Another string',"
          "'More text here',0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF,0x12345678,'','2000-01-01','00:00:00',"
          "'2000-01-01 00:00:00','2000-01-01 00:00:01',2000,'A','Y',b'11111111','[]')",
          "(3,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL)"}},
        {kNinja / "multi_index.ibd",
         {"(1,'John','Smith','john.smith@example.com',10,'2024-01-15 10:00:00')",
          "(2,'Jane','Doe','jane.doe@example.com',20,'2024-01-16 11:00:00')",
          "(3,'Bob','Smith','bob.smith@example.com',10,'2024-01-17 12:00:00')",
          "(4,'Alice','Johnson','alice.j@example.com',30,'2024-01-18 13:00:00')",
          "(5,'Charlie','Brown','charlie.b@example.com',20,'2024-01-19 14:00:00')"}},
        {percona / "types_test.ibd",
         {"(1,1234.56,'2024-12-31','12:34:56.123456','2024-12-31 12:34:56.123456','2024-12-31 15:34:56',2024,"
          "'medium','red,blue',b'1010101010','alpha')",
          "(2,-0.99,'2001-01-02','01:02:03.000004','2001-01-02 03:04:05.000006',NULL,1999,'small','green',"
          "b'0000000001','beta')"}},
        {percona / "secondary_index.ibd",
         {"(1,10,'alpha',100)", "(2,20,'bravo',200)", "(3,10,'charlie',300)", "(4,20,'delta',400)"}},
        {kMysql8 / "go-innodb" / "testdata" / "users" / "users.ibd",
         {"(1,'Alice','alice@example.com','2025-08-18 01:22:37')",
          "(2,'Bob','bob@example.com','2025-08-18 01:22:37')",
          "(3,'Charlie','charlie@example.com','2025-08-18 01:22:37')"}},
        {kJava / "column" / "int" / "tb02.ibd",
         {"(100,0,0,0,0,0,0,0,0,0,0)", "(101,1,-1,1,-1,1,-1,1,-1,1,-1)", "(102,1,1,1,1,1,1,1,1,1,1)",
          "(103,100,100,10000,10000,1000000,1000000,10000000,10000000,100000000000,100000000000)",
          "(104,100,-100,10000,-10000,1000000,-1000000,10000000,-10000000,100000000000,-100000000000)",
          "(105,126,126,32766,32766,8388606,8388606,2147483646,2147483646,9223372036854775806,9223372036854775806)",
          "(106,127,127,32767,32767,8388607,8388607,2147483647,2147483647,9223372036854775807,9223372036854775807)",
          "(107,128,-128,32768,-32768,8388608,-8388608,2147483648,-2147483648,9223372036854775808,-9223372036854775808)",
          "(108,129,-127,32769,-32767,8388609,-8388607,2147483649,-2147483647,9223372036854775809,-9223372036854775807)"}},
        {kJava / "column" / "time" / "tb03.ibd",
         {"(1,100,'2019-10-02 10:59:59','2019-10-02 05:59:59','10:59:59')",
          "(2,101,'1970-01-01 08:00:01','1970-01-01 03:00:01','08:00:01')",
          "(3,102,'2008-11-23 09:23:00','2008-11-23 04:23:00','09:23:00')",
          "(4,103,'2019-12-31 22:00:28','2019-12-31 17:00:28','22:00:28')"}},
        {kJava / "column" / "time" / "tb16.ibd",
         {"(1,0000,'2100-11-11')", "(2,2001,'2155-01-01')", "(3,1901,'1900-01-01')", "(4,1999,'1901-12-31')",
          "(5,1969,'1969-10-02')", "(6,2020,'2020-12-31')", "(7,2100,'0069-01-10')", "(8,2155,'0001-01-01')"}},
        {kJava / "column" / "time" / "tb17.ibd",
         {"(1,100,'2019-10-02 10:59:59.123','2000-01-01 00:01:03.100000','2019-10-02 02:59:59.456389','10:59:59.45638','2019-10-02 10:59:59')",
          "(2,101,'1970-01-01 08:00:01.550','2022-01-01 00:01:03.123450','1970-01-01 00:00:01.000001','08:00:01.00000','1970-01-01 08:00:01')",
          "(3,102,'2008-11-23 09:23:00.808','1999-12-31 00:01:03.123456','2008-11-23 01:23:00.294000','09:23:00.29400','2008-11-23 09:23:00')"}},
        {kJava / "column" / "float" / "tb15.ibd",
         {"(1,0,0,0,0,0,0)", "(2,0.56789,999.0001,0.12345,0.987654321,1234567890.12345,1)",
          "(3,1,0,-1,-1,-1234567890.12345,2)", "(4,222.22,3.14,222.22,3333.333,1234.56789,3)",
          "(5,12345678,256.789,12345678,1234567890.123456,-56.789,4)",
          "(6,-12345678,333.2222,-12345678,-1234567890.123456,-0.87654,5)"}},
        {kJava / "column" / "decimal" / "tb19.ibd",
         {"(1,0,0.00000,0,0.000,0,0.0000000000000000000000000,0,0.000000000000000000000000000000,0)",
          "(2,123456,12345.67890,12345678901,123.100,12346,12345.1234567890123456789012345,666,0.123456789012345678901234567890,76543)",
          "(3,-123456,-1234.56789,-12345678901,3.142,-12346,NULL,12345678901234567890123456789012345678,8.123456789012345678901234567890,89)",
          "(4,9,567.89100,987654321,456.000,0,0.0123456789012345678912345,999,NULL,0)"}},
        {kJava / "column" / "bit" / "tb27.ibd",
         {"(1,b'0',b'00',b'0011111',b'110110110',b'1111111111111111111111111111111111111111111111111111111111111111')",
          "(2,b'1',b'01',b'1110111',b'101110000',b'0000000000000000000000000000000000000000000000000000000000000001')",
          "(3,b'0',b'10',b'0111001',b'010000111',b'1000000000000000000000000000000000000000000000000000000000000000')",
          "(4,b'1',b'11',b'0000100',b'011110101',b'0101010101010101010101010101010101010101010101010101010101010101')"}},
        {kJava / "column" / "boolean" / "tb18.ibd", {"(1,1,0)", "(2,0,1)"}},
        {kJava / "column" / "enum" / "tb25.ibd",
         {"(1,'A','MYSQL','数据','001019')", "(2,'C','computer','数据','001001')",
          "(3,'B','world','存储','803019')", "(4,'0xE4','Hello','存储','429002')"}},
        {kJava / "column" / "set" / "tb26.ibd",
         {"(1,'music','a,e,i,o,u','3')", "(2,'movie,swimming','o,p,q','1,5,60')",
          "(3,'movie,足球','z','1,2,3,4,5,6,7,8,9,10,11,12,13,14,24,31,33,37,48,49,50,55,63,64')"}},
        {kJava / "column" / "char" / "tb05.ibd",
         {"(1,'中国')", "(2,'你好这里是哪里')", "(3,'我爱你')", "(4,'千里之行始于足下')", "(5,'不积跬步无以至千里')"}},
        {kJava / "nullcolumn" / "tb14.ibd",
         {"(1,'a1',NULL,'a3',NULL,'a5',NULL,'a7',NULL,'a9',NULL,'a11',NULL,'a13',NULL,'a15',NULL,'a17',NULL)"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.file.filename().string());
        const SavedTable saved = saveTable(c.file);
        EXPECT_TRUE(saved.ok) << saved.log;
        EXPECT_EQ(valuesOf(saved.rows), c.values);
    }

    // sys.sys_config as MySQL's sys schema installs it: its six defaults, set by no one,
    // set_time the time of the install (days before the files were committed, 2024-11-25).
    std::vector<std::string> sysConfig;
    for (const std::string& row : valuesOf(saveTable(kSakila.parent_path() / "sys" / "sys_config.ibd").rows))
        sysConfig.push_back(std::regex_replace(row, std::regex("'2024-11-(1[0-9]|2[0-5]) [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'"),
                                               "INSTALL"));
    EXPECT_EQ(sysConfig, (std::vector<std::string>{"('diagnostics.allow_i_s_tables','OFF',INSTALL,NULL)",
                                                   "('diagnostics.include_raw','OFF',INSTALL,NULL)",
                                                   "('ps_thread_trx_info.max_length','65535',INSTALL,NULL)",
                                                   "('statement_performance_analyzer.limit','100',INSTALL,NULL)",
                                                   "('statement_performance_analyzer.view',NULL,INSTALL,NULL)",
                                                   "('statement_truncate_len','64',INSTALL,NULL)"}));

    // Rows made by formulas: innodb-java-reader's deletion test (1,000 rows left of 2,000
    // with odd keys, then 1,000 more) and ibdNinja's REPEAT(CONCAT('Data-', i, '-'), 30).
    const auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    std::vector<std::string> deletion;
    for (int pk = 1; pk < 2000; pk += 2)
        deletion.push_back("(" + std::to_string(pk) + "," + std::to_string(pk * 2) + ",'" + repeat("A", 16) +
                           "','" + repeat("C", 8) + static_cast<char>('a' + pk % 26) + "')");
    for (int pk = 2001; pk <= 3000; ++pk)
        deletion.push_back("(" + std::to_string(pk) + "," + std::to_string(pk * 5) + ",'" + repeat("我", 8) +
                           "','" + repeat("你", 4) + static_cast<char>('a' + pk % 26) + "')");
    EXPECT_EQ(valuesOf(saveTable(kJava / "deletion" / "tb13.ibd").rows), deletion);
    std::vector<std::string> pages;
    for (int i = 1; i <= 500; ++i)
        pages.push_back("(" + std::to_string(i) + ",'" + repeat("Data-" + std::to_string(i) + "-", 30) + "')");
    EXPECT_EQ(valuesOf(saveTable(kNinja / "multi_page.ibd").rows), pages);
}

TEST_F(Mysql8, Mysql84FilesSaveWhatTheir80TwinsSave) {
    // ibdNinja made the same tables with MySQL 8.4.8 (ddl_test upgraded from 8.0.40 to
    // 8.4.4); only NOW() differs.
    const fs::path ninja84 = kNinja.parent_path().parent_path() / "8.4" / "fixtures";
    for (const auto& e : fs::directory_iterator(ninja84)) {
        if (e.path().extension() != ".ibd") continue;
        SCOPED_TRACE(e.path().filename().string());
        const SavedTable twin = saveTable(kNinja / e.path().filename());
        const SavedTable saved = saveTable(e.path());
        EXPECT_TRUE(saved.ok) << saved.log;
        ASSERT_FALSE(twin.rows.empty());
        std::vector<std::string> expected;
        for (const std::string& row : valuesOf(twin.rows))
            expected.push_back(std::regex_replace(row, std::regex("2026-01-16 09:53:48"), "2026-02-04 15:06:09"));
        EXPECT_EQ(valuesOf(saved.rows), expected);
    }
}

TEST_F(Mysql8, EveryPeerTablespaceSavesAllItsRowsOrIsRefusedWithItsReason) {
    // The peer fixtures' own summary counts the records of each index's leaves (delete-
    // marked ones included); a save takes the live ones of the clustered index (the lowest
    // index id) and says how many it passed over as deleted. The summary also counts the
    // leaves that a merge took out of the index: tb13's pages 12 and 17, 141 records each,
    // and test_compressed's page 5 (ROW_FORMAT=COMPRESSED), one record, are in no leaf
    // chain.
    const auto summary = nlohmann::json::parse(test::readFileText(kMysql8 / "ibd_summary.json"));
    std::size_t files = 0;
    for (const auto& [name, info] : summary.items()) {
        const fs::path file = kMysql8 / fs::path(name).lexically_relative("files");
        if (file.filename().string().rfind("fts_", 0) == 0) continue;  // FULLTEXT auxiliary tables
        SCOPED_TRACE(file.string());
        ++files;
        core::ReadOnlyFile f;
        ASSERT_TRUE(f.open(file).isOk());
        const auto flags = innodb::readTablespaceFlags(f);
        ASSERT_TRUE(flags.isOk());
        if (flags->encrypted()) {
            innodb::InnodbReader ctx;
            const core::Status st = innodb::readSdiTableDefinition(ctx, file);
            EXPECT_EQ(st.code(), core::StatusCode::Unsupported);
            EXPECT_NE(st.message().find("is an encrypted tablespace"), std::string::npos) << st.message();
            continue;
        }
        std::uint64_t lowestIndex = UINT64_MAX;
        std::uint64_t records = 0;
        for (const auto& [index, counts] : info["leaf"].items()) {
            if (std::stoull(index) >= lowestIndex) continue;
            lowestIndex = std::stoull(index);
            records = counts[0];
        }
        const SavedTable saved = saveTable(file);
        EXPECT_TRUE(saved.ok) << saved.log;
        static const std::regex kReport("damaged pages = 0, leaf pages lost = 0; records read = ([0-9]+), "
                                        "deleted skipped = ([0-9]+), unreadable = 0\\.");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(saved.log, m, kReport)) << saved.log;
        EXPECT_EQ(std::stoull(m[1]), saved.rows.size());
        const std::uint64_t merged = file.filename() == "tb13.ibd"              ? 2 * 141
                                     : file.filename() == "test_compressed.ibd" ? 1
                                                                                : 0;
        EXPECT_EQ(saved.rows.size() + std::stoull(m[2]), records - merged);
    }
    EXPECT_GT(files, 60u);
}

TEST_F(Mysql8, StoredGeneratedAndInvisibleColumnsAreReadByTheirSdi) {
    // simple_table's SDI with age a STORED generated column and email INVISIBLE: age's
    // field is still in every record, read past and not saved (the server computes it);
    // email stays a column of the rows.
    const fs::path file = kNinja / "simple_table.ibd";
    core::ReadOnlyFile f;
    ASSERT_TRUE(f.open(file).isOk());
    const auto records = innodb::readSdiRecords(f);
    ASSERT_TRUE(records.isOk());
    nlohmann::json doc;
    for (const auto& r : records->records)
        if (r.type == innodb::kSdiTypeTable) doc = nlohmann::json::parse(r.json);
    for (auto& c : doc["dd_object"]["columns"]) {
        if (c["name"] == "age") c["generation_expression"] = "(`id` * 10)";
        if (c["name"] == "email") c["hidden"] = 4;
    }
    innodb::InnodbReader ctx;
    ASSERT_TRUE(innodb::parseSdiTable(ctx, doc.dump(), schema::applicationCollations(), nullptr).isOk());
    ASSERT_EQ(ctx.generatedColumns.size(), 1u);
    EXPECT_EQ(ctx.generatedColumns[0].column.name, "age");
    EXPECT_TRUE(ctx.generatedColumns[0].stored);
    EXPECT_EQ(ctx.columns.at(ctx.generatedColumns[0].before).name, "email");
    EXPECT_TRUE(ctx.columns.at(2).invisible);
    const SavedTable saved = saveTable(file, doc.dump());
    EXPECT_TRUE(saved.ok) << saved.log;
    ASSERT_EQ(saved.rows.size(), 5u);
    EXPECT_EQ(saved.rows[0], "INSERT INTO `simple_table`(`id`,`name`,`email`) VALUES(1,'Alice','alice@example.com');");
    EXPECT_EQ(saved.rows[4], "INSERT INTO `simple_table`(`id`,`name`,`email`) VALUES(5,'Eve','eve@example.com');");
}

TEST_F(Mysql8, InstantColumnsOf8012To8028AreReadFromTheFieldCount) {
    // instant_add_col as 8.0.12 - 8.0.28 wrote such tables: the records inserted after the
    // instant ADD carry the instant flag (0x80) and their field count (7) where 8.0.29+
    // puts the version flag (0x40) and the row version (2); the SDI names the columns
    // before the first instant ADD (instant_col=3) and no physical positions or versions.
    // Row 4 is made a row written between the two ALTERs: 6 fields, without new_col2 (its
    // null bits and the length of its VARCHAR name come first as before; the bytes of
    // 'custom4' lie unread after the record), so it takes new_col2's default.
    const fs::path source = kNinja / "instant_add_col.ibd";
    constexpr std::uint64_t kLeaf = 4 * 16384;
    const std::string original = test::readFileText(source);
    // A copy with bytes of its leaf page changed, the page's CRC-32C checksum written again
    // so that it stays consistent.
    const auto sealedCopy = [&](const std::string& name,
                                const std::vector<std::pair<std::uint64_t, std::uint8_t>>& bytes) {
        std::string image = original;
        for (const auto& [at, value] : bytes) image.at(kLeaf + at) = static_cast<char>(value);
        std::span<std::uint8_t> leaf(reinterpret_cast<std::uint8_t*>(image.data()) + kLeaf, 16384);
        innodb::writePageChecksum(leaf, innodb::PageChecksum::Crc32c);
        const fs::path file = damagedCopy(source, name, {});
        test::writeFileText(file, image);
        return file;
    };
    // Records at these origins with the instant flag and a field count.
    const auto withFieldCounts = [&](const std::string& name,
                                     const std::vector<std::pair<std::uint64_t, std::uint8_t>>& records) {
        std::vector<std::pair<std::uint64_t, std::uint8_t>> bytes;
        for (const auto& [origin, fields] : records) {
            const auto info = static_cast<std::uint8_t>(original.at(kLeaf + origin - 5));
            EXPECT_EQ(info & 0xF0, 0x40) << origin;
            bytes.push_back({origin - 5, static_cast<std::uint8_t>((info & 0x0F) | 0x80)});
            bytes.push_back({origin - 6, fields});
        }
        return sealedCopy(name, bytes);
    };
    const fs::path file = withFieldCounts("instant8012", {{315, 7}, {225, 6}, {270, 7}});  // rows 1, 4, 5

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
                                                    head + "4,'Row4',400,40,'default_value');",
                                                    head + "5,'Row5',500,50,'custom5');"}));

    // A field count beyond the table's fields, or below those before the first instant
    // ADD, is damage: that record is not saved, the others are.
    for (const std::uint8_t bad : {8, 4}) {
        SCOPED_TRACE(static_cast<int>(bad));
        const SavedTable damaged = saveTable(
            withFieldCounts("instant8012_bad" + std::to_string(bad), {{315, bad}, {225, 7}, {270, 7}}), doc.dump());
        EXPECT_EQ(damaged.rows, (std::vector<std::string>{head + "2,'Row2',200,0,'default_value');",
                                                          head + "3,'Row3',300,0,'default_value');",
                                                          head + "4,'Row4',400,40,'custom4');",
                                                          head + "5,'Row5',500,50,'custom5');"}));
        EXPECT_NE(damaged.log.find("unreadable = 1."), std::string::npos) << damaged.log;
    }
    // So is a row version newer than the table's (2) in the file as 8.0.40 wrote it.
    const SavedTable newer = saveTable(sealedCopy("instant_version9", {{225 - 6, 9}}));
    EXPECT_EQ(valuesOf(newer.rows), (std::vector<std::string>{"(1,'Row1',100,10,'default_value')",
                                                              "(2,'Row2',200,0,'default_value')",
                                                              "(3,'Row3',300,0,'default_value')",
                                                              "(5,'Row5',500,50,'custom5')"}));
    EXPECT_NE(newer.log.find("unreadable = 1."), std::string::npos) << newer.log;
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
    auto expected = sakilaTuples(test::readFileText(
        kMysql8 / "innodb_ruby" / "expected-sakila-from-aFemzz-Sakila-db" / "sakila-data.sql"));
    // film_text is filled by the schema's triggers from film: its film_id, title and
    // description.
    for (const std::string& film : expected.at("film")) {
        std::size_t commas = 0;
        bool quoted = false;
        std::size_t i = 0;
        for (; i < film.size() && commas < 3; ++i) {
            if (quoted && film[i] == '\\') ++i;
            else if (film[i] == '\'') quoted = !quoted;
            else if (!quoted && film[i] == ',') ++commas;
        }
        ASSERT_EQ(commas, 3u) << film;
        expected["film_text"].insert(film.substr(0, i - 1) + ")");
    }
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
        ASSERT_TRUE(expected.count(table));
        EXPECT_EQ(got.size(), expected.at(table).size());
        EXPECT_TRUE(got == expected.at(table));
    }
}

}  // namespace
