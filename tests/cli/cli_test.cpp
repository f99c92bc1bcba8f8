#include "support/fixture.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the dunmore executable with args (already quoted) from a scratch folder.
CliRun dunmore(const std::string& args) {
    const fs::path dir = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_runs";
    fs::create_directories(dir);
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string cmd = "cd '" + dir.string() + "' && '" DUNMORE_BINARY_DIR "/bin/dunmore' " + args +
                            " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null";
    const int raw = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = dunmore::test::readFileText(out);
    r.err = dunmore::test::readFileText(err);
    return r;
}

const char* const kSql = R"SQL(
CREATE DATABASE shop;
CREATE TABLE shop.items (id INT UNSIGNED PRIMARY KEY, name VARCHAR(30), price DECIMAL(8,2)) ENGINE=InnoDB;
CREATE TABLE shop.notes (id SMALLINT, body TEXT) ENGINE=MyISAM;
SET GLOBAL innodb_file_per_table = 0;
CREATE TABLE shop.shared (id INT PRIMARY KEY) ENGINE=InnoDB;
SET GLOBAL innodb_file_per_table = 1;
CREATE VIEW shop.cheap AS SELECT * FROM shop.items WHERE price < 10;
)SQL";

TEST(Cli, ScanPrintsTheTreeTheLinesAndWhereInnodbRowsLive) {
    const auto fx = dunmore::test::makeFixture("cli_shop", kSql,
        "SELECT NAME, TABLE_ID FROM information_schema.INNODB_SYS_TABLES WHERE NAME LIKE 'shop/%' ORDER BY NAME;");
    const CliRun r = dunmore("scan '" + fx.dataDir.string() + "' --log-folder .");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Finding Database and tables\n"), std::string::npos);
    EXPECT_NE(r.out.find("scanning completed.\n"), std::string::npos);
    EXPECT_NE(r.out.find("MYSQL database [-1]\n"), std::string::npos);
    // Leaf tags number the catalogue's lists over all databases (the sys schema has views too).
    const auto views = r.out.find("    shop [-1]\n");
    ASSERT_NE(views, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      Views [-4]\n        cheap [", views), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  shop.notes\tMyISAM\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  shop.items\tInnoDB\trows in " + (fx.dataDir / "shop" / "items.ibd").string()),
              std::string::npos) << r.out;
    // The table ids are the server's own.
    for (const auto& row : dunmore::test::parseBatch(fx.resultText())) {
        if (row.size() != 2 || row[0] == "NAME") continue;
        const std::string table = row[0].substr(5);
        const std::string where = table == "shared" ? "ibdata1" : (fx.dataDir / "shop" / (table + ".ibd")).string();
        EXPECT_NE(r.out.find("  shop." + table + "\tInnoDB\trows in " + where + "\ttable id " + row[1] + "\t"),
                  std::string::npos) << table << "\n" << r.out;
    }
    EXPECT_NE(r.out.find("Log file: "), std::string::npos);
}

TEST(Cli, SchemaPrintsTheStatementOnly) {
    const auto fx = dunmore::test::makeFixture("cli_shop", kSql,
        "SELECT NAME, TABLE_ID FROM information_schema.INNODB_SYS_TABLES WHERE NAME LIKE 'shop/%' ORDER BY NAME;");
    const CliRun r = dunmore("schema '" + fx.dataDir.string() + "' shop.items --log-folder .");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Create TABLE  `items` (`id` INT UNSIGNED NOT NULL", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("scanning completed."), std::string::npos);
}

TEST(Cli, UsageErrorsAndUnreadableFoldersExitTwo) {
    struct Case { const char* name; std::string args; const char* errPart; };
    const fs::path file = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_runs" / "plain_file";
    dunmore::test::writeFileText(file, "x");
    const auto fx = dunmore::test::makeFixture("cli_shop", kSql,
        "SELECT NAME, TABLE_ID FROM information_schema.INNODB_SYS_TABLES WHERE NAME LIKE 'shop/%' ORDER BY NAME;");
    const Case cases[] = {
        {"no command", "", "subcommand"},
        {"unknown command", "frobnicate x", ""},
        {"missing data folder", "scan /nonexistent/dunmore", "cannot read the data folder"},
        {"data folder is a file", "scan '" + file.string() + "'", "cannot read the data folder"},
        {"missing log folder", "scan '" + fx.dataDir.string() + "' --log-folder /nonexistent/x", "log folder"},
        {"log folder inside the data folder", "scan '" + fx.dataDir.string() + "' --log-folder '" +
             (fx.dataDir / "shop").string() + "'", "inside the data folder"},
        {"schema without a dot", "schema '" + fx.dataDir.string() + "' items", "DB.TABLE"},
        {"schema of an unknown table", "schema '" + fx.dataDir.string() + "' shop.nope", "no table shop.nope"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun r = dunmore(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
    }
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
    fs::copy_file(m8 / "percona-parser" / "hist-3a89089" / "tests" / "encrypted_test.ibd", db / "secret.ibd");
    fs::copy_file(m8 / "go-innodb" / "testdata" / "test_compressed.ibd", db / "zipped.ibd");
    fs::copy_file(m8 / "innodb_ruby" / "spec" / "data" / "sakila" / "8.0" / "sakila" /
                      "fts_0000000000000451_config.ibd",
                  db / "fts_0000000000000451_config.ibd");
    // The zlib stream of the Table record (page 3, record at 427) damaged.
    std::string broken = dunmore::test::readFileText(ninja / "simple_table.ibd");
    broken.at(3 * 16384 + 427 + 33 + 500) = 0;
    broken.at(3 * 16384 + 427 + 33 + 501) = 0;
    dunmore::test::writeFileText(db / "broken.ibd", broken);
    return db.parent_path();
}

TEST(Cli, Mysql8FoldersListSaveAndRefuseOutLoud) {
    const fs::path data = mysql8Folder();
    const CliRun scan = dunmore("scan '" + data.string() + "' --log-folder .");
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("  m8.simple_table\tInnoDB\tMySQL 8.0.40 (SDI)\trows in " +
                            (data / "m8" / "simple_table.ibd").string() + "\tclustered root 4\tROW_FORMAT=DYNAMIC\n"),
              std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("  m8.secret\tno definition: "), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("  m8.zipped\tno definition: "), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("  m8.broken\tno definition: "), std::string::npos) << scan.out;
    EXPECT_EQ(scan.out.find("fts_"), std::string::npos) << scan.out;

    const CliRun schema = dunmore("schema '" + data.string() + "' m8.instant_add_drop --log-folder .");
    ASSERT_EQ(schema.status, 0) << schema.err;
    EXPECT_EQ(schema.out, "Create TABLE  `instant_add_drop` (`col_uint` INT UNSIGNED NOT NULL, `col_datetime_0` "
                          "DATETIME, `col_datetime_6` DATETIME(6), PRIMARY KEY (`col_uint`))ENGINE=InnoDB DEFAULT CHARSET "
                          "utf8mb4 COLLATE utf8mb4_0900_ai_ci;\n");

    const fs::path out = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_mysql8_out";
    fs::remove_all(out);
    fs::create_directories(out);
    const CliRun save = dunmore("save-script '" + data.string() + "' '" + out.string() + "' --log-folder .");
    // Four tables saved or not, and the three that cannot be read named with their reason.
    EXPECT_EQ(save.status, 1) << save.out;
    EXPECT_NE(save.out.find("Table secret not saved: " + (data / "m8" / "secret.ibd").string() +
                            " is an encrypted tablespace (ENCRYPTION='Y')"),
              std::string::npos) << save.out;
    EXPECT_NE(save.out.find("Table zipped not saved: " + (data / "m8" / "zipped.ibd").string() +
                            " is a ROW_FORMAT=COMPRESSED tablespace"),
              std::string::npos) << save.out;
    EXPECT_NE(save.out.find("Table broken not saved: "), std::string::npos) << save.out;
    EXPECT_NE(save.out.find("the zlib stream does not inflate"), std::string::npos) << save.out;
    const std::string script = dunmore::test::readFileText(out / "Scriptdata" / "m8.sql");
    EXPECT_NE(script.find("INSERT INTO `simple_table`(`id`,`name`,`age`,`email`) VALUES(5,'Eve',32,'eve@example.com');"),
              std::string::npos);
    EXPECT_NE(script.find("INSERT INTO `instant_add_drop`(`col_uint`,`col_datetime_0`,`col_datetime_6`) VALUES(1,"),
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
    const fs::path logs = fullLogFolder();
    const fs::path out = fs::path(DUNMORE_FIXTURE_ROOT) / "cli_runs" / "full_log_save";
    fs::remove_all(out);
    struct Case { const char* name; std::string args; };
    const Case cases[] = {
        {"scan", "scan '" + fx.dataDir.string() + "'"},
        {"save-script", "save-script '" + fx.dataDir.string() + "' '" + out.string() + "' shop"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun r = dunmore(c.args + " --log-folder '" + logs.string() + "'");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("could not be written"), std::string::npos) << r.err;
        // scan names no log file that it did not write.
        EXPECT_EQ(r.out.find("Log file: "), std::string::npos) << r.out;
    }
}

}  // namespace
