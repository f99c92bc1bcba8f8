#include "support/fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

fs::path runFolder() {
    const fs::path dir = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_runs";
    fs::create_directories(dir);
    return dir;
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Runs the dunmore executable with args (already quoted) from a scratch folder, with
// HOME pointing at a scratch home (env: more variable settings for the command).
CliRun dunmore(const std::string& args, const std::string& env = {}) {
    const fs::path dir = runFolder();
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string cmd = "cd " + quoted(dir) + " && env -u XDG_STATE_HOME HOME=" +
                            quoted(dir / "home") + " " + env + " '" DUNMORE_BINARY_DIR "/bin/dunmore' " +
                            args + " >" + quoted(out) + " 2>" + quoted(err) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = dunmore::test::readFileText(out);
    r.err = dunmore::test::readFileText(err);
    return r;
}

// Log files directly in folder.
std::vector<fs::path> logFiles(const fs::path& folder) {
    std::vector<fs::path> logs;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().filename().string().starts_with("Dunmore_log_")) logs.push_back(e.path());
    return logs;
}

const char* const kSql = R"SQL(
CREATE DATABASE shop;
CREATE TABLE shop.zeta (id INT PRIMARY KEY, note VARCHAR(20)) ENGINE=InnoDB ROW_FORMAT=COMPACT;
CREATE TABLE shop.alpha (id INT PRIMARY KEY, n INT) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
CREATE TABLE shop.mid (id SMALLINT, body TEXT) ENGINE=MyISAM;
CREATE TABLE shop.fixed (id INT, c CHAR(4)) ENGINE=MyISAM;
CREATE TABLE shop.orders (id INT PRIMARY KEY, note VARCHAR(30)) ENGINE=MyISAM;
SET GLOBAL innodb_file_per_table = 0;
CREATE TABLE shop.shared (id INT PRIMARY KEY) ENGINE=InnoDB;
SET GLOBAL innodb_file_per_table = 1;
CREATE VIEW shop.cheap AS SELECT * FROM shop.zeta WHERE id < 10;
CREATE VIEW shop.all_ids AS SELECT id FROM shop.alpha;
CREATE TRIGGER shop.orders_bi BEFORE INSERT ON shop.orders FOR EACH ROW SET NEW.note = UPPER(NEW.note);
CREATE DATABASE aardvark;
CREATE TABLE aardvark.t (a INT) ENGINE=MyISAM;
CREATE TABLE aardvark.journal (a INT) ENGINE=Aria;
INSERT INTO shop.zeta VALUES (1, 'NULL'), (2, NULL), (3, 'a\tb\\c');
USE shop;
INSERT INTO shop.alpha SELECT seq, seq * 2 FROM seq_1_to_3000;
INSERT INTO shop.mid VALUES (1, 'NULL'), (NULL, NULL), (3, 'x');
INSERT INTO shop.fixed VALUES (1, 'ab');
INSERT INTO shop.orders VALUES (1, 'x'), (2, NULL);
INSERT INTO shop.shared VALUES (1), (2);
INSERT INTO aardvark.t VALUES (7);
)SQL";

const char* const kQuery = R"SQL(
SELECT CONCAT('id:', SUBSTR(NAME, 6)), TABLE_ID FROM information_schema.INNODB_SYS_TABLES WHERE NAME LIKE 'shop/%';
SELECT CONCAT('format:', TABLE_NAME), ROW_FORMAT FROM information_schema.TABLES WHERE TABLE_SCHEMA = 'shop' AND TABLE_TYPE = 'BASE TABLE';
SELECT 'count:zeta', COUNT(*) FROM shop.zeta UNION ALL SELECT 'count:alpha', COUNT(*) FROM shop.alpha
UNION ALL SELECT 'count:mid', COUNT(*) FROM shop.mid UNION ALL SELECT 'count:fixed', COUNT(*) FROM shop.fixed
UNION ALL SELECT 'count:orders', COUNT(*) FROM shop.orders UNION ALL SELECT 'count:shared', COUNT(*) FROM shop.shared;
)SQL";

dunmore::test::Fixture shop() { return dunmore::test::makeFixture("cli_shop2", kSql, kQuery); }

// The server's answers by kind (id, format, count) and table name.
std::map<std::string, std::map<std::string, std::string>> serverFacts(const dunmore::test::Fixture& fx) {
    std::map<std::string, std::map<std::string, std::string>> facts;
    for (const auto& row : dunmore::test::parseBatch(fx.resultText())) {
        const auto colon = row[0].find(':');
        if (row.size() == 2 && colon != std::string::npos)
            facts[row[0].substr(0, colon)][row[0].substr(colon + 1)] = row[1];
    }
    return facts;
}

TEST(Cli, VersionHelpAndUnknownCommands) {
    struct Case { const char* name; std::string args; int status; const char* outPart; const char* errPart; };
    const Case cases[] = {
        {"version", "--version", 0, "dunmore 22.08\n", ""},
        {"help with examples", "--help", 0, "Examples:\n  dunmore scan /var/lib/mysql", ""},
        {"help names every command", "--help", 0, "save-script", ""},
        {"help names check", "--help", 0, "check", ""},
        {"unknown command", "frobnicate x", 2, "", "unknown command 'frobnicate'; the commands are: scan schema preview save-script"},
        {"no command", "", 2, "", "subcommand"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun r = dunmore(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.out.find(c.outPart), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
    }
}

TEST(Cli, ScanListsNamesInOrderWithTheirFiles) {
    const auto fx = shop();
    auto facts = serverFacts(fx);
    ASSERT_EQ(facts["count"]["alpha"], "3000");
    const CliRun r = dunmore("scan " + quoted(fx.dataDir) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["dataFolder"], fx.dataDir.string() + "/");
    std::vector<std::string> dbNames;
    const nlohmann::json* shopDb = nullptr;
    for (const auto& db : doc["databases"]) {
        dbNames.push_back(db["name"]);
        if (db["name"] == "shop") shopDb = &db;
    }
    EXPECT_TRUE(std::is_sorted(dbNames.begin(), dbNames.end())) << r.out;
    ASSERT_GE(dbNames.size(), 3u);
    EXPECT_EQ(dbNames.front(), "aardvark");
    ASSERT_NE(shopDb, nullptr);
    const auto names = [](const nlohmann::json& list) {
        std::vector<std::string> out;
        for (const auto& e : list) out.push_back(e["name"]);
        return out;
    };
    EXPECT_EQ(names((*shopDb)["tables"]),
              (std::vector<std::string>{"alpha", "fixed", "mid", "orders", "shared", "zeta"}));
    EXPECT_EQ(names((*shopDb)["views"]), (std::vector<std::string>{"all_ids", "cheap"}));
    EXPECT_EQ(names((*shopDb)["triggers"]), (std::vector<std::string>{"orders"}));

    const fs::path shopDir = fx.dataDir / "shop";
    for (const auto& t : (*shopDb)["tables"]) {
        const std::string name = t["name"];
        SCOPED_TRACE(name);
        EXPECT_EQ(t["rowFormat"], facts["format"][name]);
        EXPECT_EQ(std::to_string(t["estimatedRows"].get<std::uint64_t>()), facts["count"][name]);
        EXPECT_TRUE(t["problem"].is_null()) << t["problem"];
        if (name == "shared") {
            EXPECT_EQ(t["engine"], "InnoDB");
            EXPECT_EQ(t["rowsFile"], "ibdata1");
            EXPECT_TRUE(t["inSystemTablespace"].get<bool>());
            EXPECT_GE(t["leafPages"].get<std::uint64_t>(), 1u);
            EXPECT_EQ(t["sizeBytes"], t["leafPages"].get<std::uint64_t>() * 16384);
        } else if (facts["id"].count(name)) {
            EXPECT_EQ(t["engine"], "InnoDB");
            EXPECT_EQ(t["rowsFile"], (shopDir / (name + ".ibd")).string());
            EXPECT_EQ(t["sizeBytes"], fs::file_size(shopDir / (name + ".ibd")));
        } else {
            EXPECT_EQ(t["engine"], "MyISAM");
            EXPECT_EQ(t["rowsFile"], (shopDir / (name + ".MYD")).string());
            EXPECT_EQ(t["sizeBytes"],
                      fs::file_size(shopDir / (name + ".MYD")) + fs::file_size(shopDir / (name + ".MYI")));
        }
        if (facts["id"].count(name)) EXPECT_EQ(std::to_string(t["tableId"].get<std::uint64_t>()), facts["id"][name]);
    }
    // An engine whose rows are not read is named, with the reason.
    const nlohmann::json* journal = nullptr;
    for (const auto& db : doc["databases"])
        if (db["name"] == "aardvark")
            for (const auto& t : db["tables"])
                if (t["name"] == "journal") journal = &t;
    ASSERT_NE(journal, nullptr) << r.out;
    EXPECT_EQ((*journal)["engine"], "Aria");
    EXPECT_EQ((*journal)["problem"], "rows of this engine are not read");
    EXPECT_GT((*shopDb)["tables"][0]["leafPages"].get<std::uint64_t>(), 1u) << "alpha spans leaf pages";

    // The text: the same order, one readable line per table, no tree tags; and the same
    // on every run.
    const CliRun text = dunmore("scan " + quoted(fx.dataDir));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.find("[-"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Finding Database and tables\n"), std::string::npos);
    const auto at = text.out.find("\nshop\n  tables\n    alpha ");
    ASSERT_NE(at, std::string::npos) << text.out;
    std::size_t last = at;
    for (const char* part : {"alpha", "fixed", "mid", "orders", "shared", "zeta", "\n  views\n    all_ids\n    cheap\n",
                             "\n  triggers\n    orders\n"}) {
        const auto p = text.out.find(part, last);
        EXPECT_NE(p, std::string::npos) << part << "\n" << text.out;
        last = p;
    }
    for (const std::string line : {"alpha   InnoDB  Dynamic  ~3000 rows", "zeta    InnoDB  Compact  ",
                                   "shared  InnoDB  Dynamic  ", "fixed   MyISAM  Fixed    "})
        EXPECT_NE(text.out.find("    " + line), std::string::npos) << line << "\n" << text.out;
    EXPECT_NE(text.out.find(" shop/alpha.ibd\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(" ibdata1 (1 leaf page)\n"), std::string::npos) << text.out;
    const auto withoutLog = [](const std::string& out) { return out.substr(0, out.find("\nLog file: ")); };
    EXPECT_EQ(withoutLog(dunmore("scan " + quoted(fx.dataDir)).out), withoutLog(text.out));
}

TEST(Cli, SchemaPrintsTheStatementOnly) {
    const auto fx = shop();
    const CliRun r = dunmore("schema " + quoted(fx.dataDir) + " shop.zeta");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Create TABLE  `zeta` (`id` INT NOT NULL", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("scanning completed."), std::string::npos);
}

TEST(Cli, LogsGoToTheStateFolderOrBesideTheSave) {
    const auto fx = shop();
    const fs::path home = runFolder() / "home";
    const fs::path state = home / ".local" / "state" / "dunmore";
    const fs::path xdg = runFolder() / "xdg_state";
    const fs::path out = runFolder() / "log_save";
    for (const auto& dir : {home, xdg, out}) fs::remove_all(dir);
    for (const auto& log : logFiles(runFolder())) fs::remove(log);

    ASSERT_EQ(dunmore("scan " + quoted(fx.dataDir)).status, 0);
    EXPECT_EQ(logFiles(state).size(), 1u);
    ASSERT_EQ(dunmore("preview " + quoted(fx.dataDir) + " shop.zeta").status, 0);
    ASSERT_EQ(dunmore("schema " + quoted(fx.dataDir) + " shop.zeta").status, 0);
    EXPECT_GE(logFiles(state).size(), 1u);
    ASSERT_EQ(dunmore("scan " + quoted(fx.dataDir), "XDG_STATE_HOME=" + quoted(xdg)).status, 0);
    EXPECT_EQ(logFiles(xdg / "dunmore").size(), 1u);
    const CliRun save = dunmore("save-script " + quoted(fx.dataDir) + " " + quoted(out) + " shop.zeta");
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(logFiles(out).size(), 1u);
    EXPECT_TRUE(fs::exists(out / "Scriptdata" / "shop.sql"));
    // Nothing in the directory the commands ran from.
    EXPECT_TRUE(logFiles(runFolder()).empty());
    // --log-folder as before.
    const fs::path chosen = runFolder() / "chosen_logs";
    fs::remove_all(chosen);
    fs::create_directories(chosen);
    ASSERT_EQ(dunmore("scan " + quoted(fx.dataDir) + " --log-folder " + quoted(chosen)).status, 0);
    EXPECT_EQ(logFiles(chosen).size(), 1u);
}

TEST(Cli, PreviewShowsNullAsBackslashNAndPagesInRange) {
    const auto fx = shop();
    const std::string data = quoted(fx.dataDir);
    // SQL NULL and the text 'NULL' differ, in both engines.
    EXPECT_EQ(dunmore("preview " + data + " shop.zeta").out, "id\tnote\n1\tNULL\n2\t\\N\n3\ta\\tb\\\\c\n");
    EXPECT_EQ(dunmore("preview " + data + " shop.mid").out, "id\tbody\n1\tNULL\n\\N\t\\N\n3\tx\n");
    const CliRun json = dunmore("preview " + data + " shop.mid --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["columns"], nlohmann::json::parse(R"(["id","body"])"));
    EXPECT_EQ(doc["rows"], nlohmann::json::parse(R"([["1","NULL"],[null,null],["3","x"]])"));
    EXPECT_EQ(doc["page"], 1);

    // Page 3 of 3000 rows is rows 2001 to 3000; page 4 is past the end.
    const CliRun third = dunmore("preview " + data + " shop.alpha --page 3");
    ASSERT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(third.out.rfind("id\tn\n2001\t4002\n", 0), 0u) << third.out.substr(0, 100);
    EXPECT_TRUE(third.out.ends_with("\n3000\t6000\n"));
    const CliRun thirdJson = dunmore("preview " + data + " shop.alpha --page 3 --format json");
    EXPECT_EQ(nlohmann::json::parse(thirdJson.out)["firstRow"], 2001);
    struct Case { const char* name; std::string args; const char* errPart; };
    const Case bad[] = {
        {"past the end", "shop.alpha --page 4", "page 4 is past the end of shop.alpha: it has 3000 rows, 3 pages"},
        {"past the end of a small table", "shop.zeta --page 2", "it has 3 rows, 1 page "},
        {"page 0", "shop.alpha --page 0", "--page takes a page number from 1"},
        {"negative page", "shop.alpha --page -1", "--page takes a page number from 1"},
        {"not a number", "shop.alpha --page 2x", "--page takes a page number from 1"},
        {"huge page", "shop.alpha --page 99999999999999999999", "--page takes a page number from 1"},
        {"unknown format", "shop.alpha --format xml", "--format"},
        {"unknown item", "shop.nothing", "no table, view or trigger file 'shop.nothing'"},
        {"a database", "shop", "is a database"},
        {"pages of a view", "shop.cheap --page 2", "--page applies to a table's rows only"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        const CliRun r = dunmore("preview " + data + " " + c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
        if (std::string(c.name).starts_with("past")) {
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("No more records in table"), std::string::npos) << r.err;
        }
    }
}

TEST(Cli, PreviewNamesItemsAsScanDoes) {
    const auto fx = shop();
    const std::string data = quoted(fx.dataDir);
    const std::string grid = "Column Name\tData Type\tsize\tAllow Nulls\tKey Name\n"
                             "id\tINT\t11\tFalse\tPrimary Key\nnote\tVARCHAR(30)\t120\tTrue\t\n";
    for (const char* keys : {"shop.orders.Keys", "shop.orders.keys", "shop.orders.KEYS"})
        EXPECT_EQ(dunmore("preview " + data + " " + keys).out, grid) << keys;
    EXPECT_EQ(dunmore("preview " + data + " shop.orders").out, "id\tnote\n1\tX\n2\t\\N\n");
    const std::string trigger = "orders_bi BEFORE INSERT ON `rep_shop`.orders FOR EACH ROW";
    EXPECT_NE(dunmore("preview " + data + " shop.orders.TRG").out.find(trigger), std::string::npos);
    EXPECT_NE(dunmore("preview " + data + " shop.orders.trg").out.find(trigger), std::string::npos);
    const CliRun view = dunmore("preview " + data + " shop.cheap --format json");
    const auto doc = nlohmann::json::parse(view.out);
    EXPECT_EQ(doc["kind"], "view");
    EXPECT_EQ(doc["text"].get<std::string>().rfind("CREATE ALGORITHM=UNDEFINED", 0), 0u) << view.out;

    // A trigger file whose table is not listed is named by the name scan gives it.
    const fs::path copy = runFolder() / "trigger_only" / "data";
    fs::remove_all(copy.parent_path());
    fs::create_directories(copy);
    fs::copy(fx.dataDir / "shop", copy / "shop", fs::copy_options::recursive);
    fs::remove(copy / "shop" / "orders.frm");
    const CliRun scan = dunmore("scan " + quoted(copy));
    EXPECT_NE(scan.out.find("\n  triggers\n    orders\n"), std::string::npos) << scan.out;
    EXPECT_NE(dunmore("preview " + quoted(copy) + " shop.orders").out.find(trigger), std::string::npos);
}

TEST(Cli, UsageErrorsAndUnreadableFoldersExitTwo) {
    struct Case { const char* name; std::string args; const char* errPart; };
    const fs::path file = runFolder() / "plain_file";
    dunmore::test::writeFileText(file, "x");
    const auto fx = shop();
    const std::string data = quoted(fx.dataDir);
    const Case cases[] = {
        {"missing data folder", "scan /nonexistent/dunmore", "cannot read the data folder"},
        {"data folder is a file", "scan " + quoted(file), "cannot read the data folder"},
        {"missing log folder", "scan " + data + " --log-folder /nonexistent/x", "log folder"},
        {"log folder inside the data folder", "scan " + data + " --log-folder " + quoted(fx.dataDir / "shop"),
         "inside the data folder"},
        {"schema without a dot", "schema " + data + " items", "DB.TABLE"},
        {"schema of an unknown table", "schema " + data + " shop.nope", "no table shop.nope"},
        {"save into the data folder", "save-script " + data + " " + quoted(fx.dataDir / "shop" / "out"),
         "is inside the data folder"},
        {"save of an unknown item", "save-script " + data + " " + quoted(runFolder() / "unknown_out") + " shop.nope",
         "no database, table, view or trigger file 'shop.nope'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun r = dunmore(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(fx.dataDir / "shop" / "out"));
}

// A MySQL 8 database folder: .ibd files only, from the peer fixtures, with an encrypted,
// a compressed, a damaged one and a FULLTEXT auxiliary tablespace among them.
fs::path mysql8Folder() {
    const fs::path m8 = fs::path(DUNMORE_PEER_FIXTURES) / "mysql8";
    const fs::path db = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_mysql8" / "m8";
    fs::remove_all(db);
    fs::create_directories(db);
    const fs::path ninja = m8 / "ibdNinja" / "tests" / "8.0" / "fixtures";
    fs::copy_file(ninja / "simple_table.ibd", db / "simple_table.ibd");
    fs::copy_file(ninja / "instant_add_drop.ibd", db / "instant_add_drop.ibd");
    fs::copy_file(ninja / "type_test.ibd", db / "type_test.ibd");
    fs::copy_file(m8 / "percona-parser" / "hist-3a89089" / "tests" / "encrypted_test.ibd", db / "secret.ibd");
    fs::copy_file(m8 / "go-innodb" / "testdata" / "test_compressed.ibd", db / "zipped.ibd");
    fs::copy_file(dunmore::test::peerSakila80Folder() / "fts_0000000000000451_config.ibd",
                  db / "fts_0000000000000451_config.ibd");
    // The zlib stream of the Table record (page 3, record at 427) damaged.
    std::string broken = dunmore::test::readFileText(ninja / "simple_table.ibd");
    broken.at(3 * 16384 + 427 + 33 + 500) = 0;
    broken.at(3 * 16384 + 427 + 33 + 501) = 0;
    dunmore::test::writeFileText(db / "broken.ibd", broken);
    // The first page never written (all zeros), and a file cut inside its first page.
    std::string zeroed = dunmore::test::readFileText(ninja / "simple_table.ibd");
    std::fill(zeroed.begin(), zeroed.begin() + 16384, '\0');
    dunmore::test::writeFileText(db / "zeroed.ibd", zeroed);
    dunmore::test::writeFileText(db / "cut.ibd", zeroed.substr(16384, 40));
    return db.parent_path();
}

TEST(Cli, Mysql8FoldersListSaveAndRefuseOutLoud) {
    const fs::path data = mysql8Folder();
    const CliRun scan = dunmore("scan '" + data.string() + "' --log-folder .");
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("\n    simple_table      InnoDB  Dynamic (MySQL 8.0.40)     ~5 rows  112.0 KiB  m8/simple_table.ibd\n"),
              std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("\n    zipped            InnoDB  Compressed (MySQL 8.0.42)  ~2 rows   56.0 KiB  m8/zipped.ibd\n"),
              std::string::npos) << scan.out;
    for (const char* unread : {"\n    secret    ", "\n    broken    ", "\n    zeroed    ", "\n    cut    "}) {
        const auto line = scan.out.find(unread);
        ASSERT_NE(line, std::string::npos) << unread << scan.out;
        const std::string text = scan.out.substr(line + 1, scan.out.find('\n', line + 1) - line - 1);
        EXPECT_NE(text.find("  (no definition: "), std::string::npos) << text;
        EXPECT_NE(text.find((data / "m8").string() + "/"), std::string::npos) << text;
    }
    const CliRun json = dunmore("scan '" + data.string() + "' --log-folder . --json");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto listing = nlohmann::json::parse(json.out);
    for (const auto& db : listing["databases"])
        for (const auto& t : db["tables"]) {
            if (t["name"] != "simple_table") continue;
            EXPECT_EQ(t["engine"], "InnoDB");
            EXPECT_EQ(t["serverVersion"], "MySQL 8.0.40");
            EXPECT_EQ(t["rowFormat"], "Dynamic");
            EXPECT_EQ(t["clusteredRoot"], 4);
            EXPECT_EQ(t["estimatedRows"], 5);
            EXPECT_EQ(t["rowsFile"], (data / "m8" / "simple_table.ibd").string());
        }
    EXPECT_EQ(scan.out.find("fts_"), std::string::npos) << scan.out;

    const CliRun schema = dunmore("schema '" + data.string() + "' m8.instant_add_drop --log-folder .");
    ASSERT_EQ(schema.status, 0) << schema.err;
    EXPECT_EQ(schema.out, "Create TABLE  `instant_add_drop` (`col_uint` INT UNSIGNED NOT NULL, `col_datetime_0` "
                          "DATETIME, `col_datetime_6` DATETIME(6), PRIMARY KEY (`col_uint`))ENGINE=InnoDB DEFAULT CHARSET "
                          "utf8mb4 COLLATE utf8mb4_0900_ai_ci;\n");

    // Generated columns with the expression of the SDI, in their place; not saved as values.
    const CliRun generated = dunmore("schema '" + data.string() + "' m8.type_test --log-folder .");
    ASSERT_EQ(generated.status, 0) << generated.err;
    EXPECT_NE(generated.out.find("`col_json` JSON, `col_virtual_int` INT GENERATED ALWAYS AS ((`col_int` * 2)) VIRTUAL, "
                                 "`col_virtual_concat` VARCHAR(100) GENERATED ALWAYS AS "
                                 "(concat(`col_char_utf8`,_utf8mb4'_suffix')) VIRTUAL, `col_virtual_datetime` DATETIME "
                                 "GENERATED ALWAYS AS ((`col_datetime0` + interval 1 day)) VIRTUAL, `verify_column` INT, "),
              std::string::npos) << generated.out;

    const fs::path out = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_mysql8_out";
    fs::remove_all(out);
    fs::create_directories(out);
    const CliRun save = dunmore("save-script '" + data.string() + "' '" + out.string() + "' --log-folder .");
    // The readable tables saved, and the two that cannot be read named with their reason.
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Table secret not saved: " + (data / "m8" / "secret.ibd").string() +
                            " is an encrypted tablespace (ENCRYPTION='Y')"),
              std::string::npos) << save.out;
    EXPECT_NE(save.out.find("Table broken not saved: "), std::string::npos) << save.out;
    EXPECT_NE(save.out.find("the zlib stream does not inflate"), std::string::npos) << save.out;
    // A tablespace whose first page shows no SDI is listed and said not saved.
    for (const char* unread : {"zeroed", "cut"}) {
        const std::string path = (data / "m8" / (std::string(unread) + ".ibd")).string();
        EXPECT_NE(scan.out.find("The tablespace " + path + " shows no SDI in its first page: its table is listed "
                                "and cannot be saved."),
                  std::string::npos) << scan.out;
        EXPECT_NE(save.out.find("Table " + std::string(unread) + " not saved: "), std::string::npos) << save.out;
    }
    EXPECT_NE(save.out.find((data / "m8" / "zeroed.ibd").string() + " carries no SDI"), std::string::npos) << save.out;
    const std::string script = dunmore::test::readFileText(out / "Scriptdata" / "m8.sql");
    EXPECT_NE(script.find("INSERT INTO `simple_table`(`id`,`name`,`age`,`email`) VALUES(5,'Eve',32,'eve@example.com');"),
              std::string::npos);
    EXPECT_NE(script.find("INSERT INTO `instant_add_drop`(`col_uint`,`col_datetime_0`,`col_datetime_6`) VALUES(1,"),
              std::string::npos);
    EXPECT_NE(script.find("INSERT INTO `type_test`(`col_tinyint`,"), std::string::npos);
    EXPECT_EQ(script.find("`col_virtual_int`,"), std::string::npos);
    EXPECT_NE(script.find("INSERT INTO `zipped`(`ID`,`TEXTO`,`TEXTO2`,`COLUMN3`) VALUES(5,'FECHA','NONONO','TESTE');"),
              std::string::npos);
}

}  // namespace

namespace {

// A log folder where every log name of the next seconds leads to a full device: the
// log is created but no write reaches it (as in a full or failing folder).
fs::path fullLogFolder() {
    const fs::path dir = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_runs" / "full_logs";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::time_t now = std::time(nullptr);
    for (int s = -2; s < 120; ++s) {
        const std::time_t t = now + s;
        std::tm tm{};
        localtime_r(&t, &tm);
        char name[64];
        std::snprintf(name, sizeof name, "Dunmore_log_%d-%d-%d-%d-%d-%d.txt", tm.tm_mday, tm.tm_mon + 1,
                      tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
        fs::create_symlink("/dev/full", dir / name);
    }
    return dir;
}

TEST(Cli, ALogThatCannotBeWrittenIsSaidAndFailsTheCommand) {
    const auto fx = dunmore::test::makeFixture("cli_shop", kSql,
        "SELECT NAME, TABLE_ID FROM information_schema.INNODB_SYS_TABLES WHERE NAME LIKE 'shop/%' ORDER BY NAME;");
    const fs::path out = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_runs" / "full_log_save";
    struct Case { const char* name; std::string args; };
    const Case cases[] = {
        {"scan", "scan '" + fx.dataDir.string() + "'"},
        {"save-script", "save-script '" + fx.dataDir.string() + "' '" + out.string() + "' shop"},
        {"check", "check '" + fx.dataDir.string() + "' shop.zeta"},
        {"schema", "schema '" + fx.dataDir.string() + "' shop.zeta"},
        {"preview", "preview '" + fx.dataDir.string() + "' shop.zeta"},
    };
    // A folder whose logs fill a full device, and one in which no file can be created
    // (not even by root).
    for (const fs::path& logs : {fullLogFolder(), fs::path("/proc/self/fdinfo")}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " " + logs.string());
            fs::remove_all(out);
            const CliRun r = dunmore(c.args + " --log-folder '" + logs.string() + "'");
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_NE(r.err.find("could not be written"), std::string::npos) << r.err;
            // scan names no log file that it did not write; nor does a final message.
            EXPECT_EQ(r.out.find("Log file: "), std::string::npos) << r.out;
            EXPECT_EQ(r.err.find("See the log file"), std::string::npos) << r.err;
        }
    }
}

}  // namespace
