// The save-into-server job against real MariaDB servers on loopback ports: a data folder
// written by one server is saved through ODBC into another, whose tables, views and
// triggers are then read back.
#include "output/server_save_job.h"

#include "output/script_save_job.h"
#include "support/fixture.h"
#include "support/recording_frontend.h"
#include "support/scanned_session.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace dunmore::output {
namespace {

namespace fs = std::filesystem;
using test::TestServer;

const char* kSql = R"SQL(
CREATE DATABASE srv_a CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE srv_a;
CREATE TABLE t_my (id INT NOT NULL PRIMARY KEY, s VARCHAR(20)) ENGINE=MyISAM;
INSERT INTO t_my VALUES (1, 'Ünïcødé 😀'), (2, NULL), (3, 'it''s \\ "q"');
CREATE TABLE t_inno (id INT NOT NULL PRIMARY KEY, lb LONGBLOB, tx LONGTEXT, ts TIMESTAMP NULL)
  ENGINE=InnoDB ROW_FORMAT=DYNAMIC;
SET time_zone = '+00:00';
INSERT INTO t_inno VALUES (1, REPEAT(0xAB, 200000), REPEAT('long €uro text ', 20000), '2024-03-10 02:30:00'),
  (2, 0x00FF, 'short', NULL);
CREATE VIEW v1 AS SELECT id, s FROM t_my WHERE id < 3;
CREATE TRIGGER t_my_bi BEFORE INSERT ON t_my FOR EACH ROW SET NEW.s = CONCAT('«', NEW.s, '»');
CREATE DATABASE srv_b CHARACTER SET latin1;
CREATE TABLE srv_b.pairs (k INT NOT NULL, v VARCHAR(5), PRIMARY KEY (k)) ENGINE=InnoDB;
INSERT INTO srv_b.pairs VALUES (1, 'x'), (2, 'y');
CREATE DATABASE fails;
CREATE TABLE fails.t_myisam (id INT) ENGINE=MyISAM;
INSERT INTO fails.t_myisam VALUES (1);
CREATE TABLE fails.t_rows (id INT NOT NULL PRIMARY KEY, d DATE) ENGINE=InnoDB;
INSERT INTO fails.t_rows SELECT seq, IF(seq = 1500, '0000-00-00', '2020-01-01') FROM seq_1_to_2500;
CREATE DATABASE exists_db;
CREATE TABLE exists_db.e1 (id INT) ENGINE=InnoDB;
CREATE TABLE exists_db.e2 (id INT) ENGINE=InnoDB;
CREATE DATABASE big;
CREATE TABLE big.big (id INT NOT NULL PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB;
INSERT INTO big.big SELECT seq, CONCAT('row number ', seq) FROM seq_1_to_100000;
CREATE TABLE big.after_big (id INT NOT NULL PRIMARY KEY) ENGINE=InnoDB;
INSERT INTO big.after_big VALUES (1);
CREATE VIEW big.v_big AS SELECT id FROM big.big;
)SQL";

fs::path scratch(const std::string& name) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "server_job_scratch" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

std::string rowsOf(const std::string& batch) {
    const auto nl = batch.find('\n');
    return nl == std::string::npos ? std::string() : batch.substr(nl + 1);
}

// Also says, to another thread, how far the job's progress went.
class WatchingFrontend : public test::RecordingFrontend {
public:
    void setProgressPosition(std::uint64_t pos) override {
        RecordingFrontend::setProgressPosition(pos);
        lastPosition = pos;
    }
    std::atomic<std::uint64_t> lastPosition{0};
};

// The front end is a base so that it exists before the scan uses it.
struct WithFrontend {
    WatchingFrontend frontend;
};

// The fixture scanned, with the job's frame.
struct Session : WithFrontend, test::ScannedSession {
    ServerSaveOutcome outcome;

    explicit Session(const fs::path& logDir)
        : ScannedSession(frontend, test::makeFixture("server_job", kSql).dataDir, logDir) {}

    // The Save command in server mode; the job runs on its worker. Returns at once.
    void startSave(const std::string& port, const std::string& password,
                   ServerTimeouts timeouts = {}) {
        frontend.lines.clear();
        frontend.messages.clear();
        const bool started = saveCommand(
            frame,
            [&] {
                settings.savingScript = false;
                settings.savingToServer = true;
                settings.serverName = "127.0.0.1";
                settings.serverPort = port;
                settings.userName = TestServer::kUser;
                settings.userPassword = password;
                return true;
            },
            [this, timeouts](core::MainFrame& f) { (void)runServerSaveJob(f, &outcome, timeouts); });
        ASSERT_TRUE(started);
    }
    void save(const std::string& port, const std::string& password = TestServer::kPassword) {
        startSave(port, password);
        frame.waitForJob();
    }

    // The log as ASCII text (the file is UTF-16LE).
    std::string log() const {
        std::string text;
        for (char c : test::readFileText(settings.logFilePath))
            if (c != '\0') text.push_back(c);
        return text;
    }
    bool hasLine(const std::string& line) const {
        return std::find(frontend.lines.begin(), frontend.lines.end(), line) != frontend.lines.end();
    }
};

TEST(ServerSaveJob, TablesViewsAndTriggersReachTheServerWhole) {
    TestServer& server = test::sharedServer();
    server.query("DROP DATABASE IF EXISTS rep_srv_a; DROP DATABASE IF EXISTS rep_srv_b;");
    const fs::path work = scratch("whole");
    // An earlier script save's working files stay where they are.
    test::writeFileText(work / "kept" / "blobdata" / "1", "not ours");
    Session s(work);
    s.settings.savingFolder = (work / "kept").string() + "/";
    s.check({"srv_a"});
    s.check({"srv_b", "Tables", "pairs"});
    s.save(server.port());

    EXPECT_TRUE(s.outcome.complete()) << ::testing::PrintToString(s.outcome.failed);
    EXPECT_EQ(s.frontend.messages, std::vector<std::string>{"Saving process completed successfully."});
    const std::vector<std::string> expectedStart = {
        "Saving process started. ", "Creating Database rep_srv_a", "Database Created successfully....",
        "Processing Table t_inno", "creating table t_inno ...",
        "Total Number of record inserted =  2 ."};
    ASSERT_GE(s.frontend.lines.size(), expectedStart.size());
    EXPECT_EQ(std::vector<std::string>(s.frontend.lines.begin(),
                                       s.frontend.lines.begin() + expectedStart.size()),
              expectedStart);
    EXPECT_TRUE(s.hasLine("View Created succesfully."));
    EXPECT_TRUE(s.hasLine("Trigger Created Successfully."));
    EXPECT_TRUE(s.hasLine("Creating Database rep_srv_b"));
    EXPECT_EQ(std::count(s.frontend.lines.begin(), s.frontend.lines.end(), "Creating Database rep_srv_a"), 1);
    const std::string log = s.log();
    EXPECT_NE(log.find("Saving process completed successfully....\r\n"), std::string::npos);
    EXPECT_EQ(log.find(TestServer::kPassword), std::string::npos);
    EXPECT_FALSE(s.settings.savingToServer);
    EXPECT_EQ(s.settings.busy.load(), 0);
    EXPECT_TRUE(fs::exists(work / "kept" / "blobdata" / "1"));

    // The long values came inline: this server may read no file of the client.
    EXPECT_EQ(rowsOf(server.query(
                  "SET time_zone='+00:00';"
                  "SELECT id, LENGTH(lb), lb = REPEAT(0xAB, 200000), tx = REPEAT('long €uro text ', 20000), "
                  "UNIX_TIMESTAMP(ts) FROM rep_srv_a.t_inno ORDER BY id;")),
              "1\t200000\t1\t1\t1710037800\n2\t2\t0\t0\tNULL\n");
    EXPECT_EQ(rowsOf(server.query("SELECT id, HEX(s) FROM rep_srv_a.t_my ORDER BY id;")),
              "1\t" "C39C6EC3AF63C3B864C3A920F09F9880" "\n2\tNULL\n3\t" "69742773205C20227122" "\n");
    EXPECT_EQ(rowsOf(server.query("SELECT * FROM rep_srv_a.v1 ORDER BY id;")),
              "1\tÜnïcødé 😀\n2\tNULL\n");
    EXPECT_EQ(rowsOf(server.query("SELECT TRIGGER_NAME FROM information_schema.TRIGGERS "
                                  "WHERE TRIGGER_SCHEMA = 'rep_srv_a';")),
              "t_my_bi\n");
    EXPECT_EQ(rowsOf(server.query("SELECT DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME FROM "
                                  "information_schema.SCHEMATA WHERE SCHEMA_NAME = 'rep_srv_a';")),
              "utf8mb4\tutf8mb4_unicode_ci\n");
    EXPECT_EQ(rowsOf(server.query("SELECT * FROM rep_srv_b.pairs ORDER BY k;")), "1\tx\n2\ty\n");
}

// A server that refuses MyISAM tables and zero dates: a table and a row it rejects.
TestServer& strictServer() {
    static TestServer server({"--enforce-storage-engine=InnoDB",
                              "--sql-mode=STRICT_ALL_TABLES,NO_ZERO_DATE,NO_ENGINE_SUBSTITUTION"});
    return server;
}

TEST(ServerSaveJob, RejectedDatabaseTableAndRowAreNamedAndTheRestGoesOn) {
    TestServer& server = strictServer();
    server.query("DROP DATABASE IF EXISTS rep_fails; CREATE DATABASE IF NOT EXISTS rep_exists_db;");
    const fs::path work = scratch("rejected");
    Session s(work);
    s.check({"exists_db"});
    s.check({"fails"});
    s.save(server.port());

    EXPECT_FALSE(s.outcome.complete());
    EXPECT_FALSE(s.outcome.connectionLost);
    // The tree lists databases and tables in the folders' order.
    std::vector<std::string> failed = s.outcome.failed;
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (std::vector<std::string>{"table e1: database rep_exists_db not created",
                                                "table e2: database rep_exists_db not created",
                                                "table t_myisam not created",
                                                "table t_rows: 1 rows rejected"}));
    EXPECT_EQ(std::count(s.frontend.lines.begin(), s.frontend.lines.end(),
                         "Database rep_exists_db not created"), 2);
    EXPECT_TRUE(s.hasLine("Executing query for  t_myisam Table Failed"));
    EXPECT_TRUE(s.hasLine("Total Number of record inserted =  2499 ."));
    const std::string log = s.log();
    EXPECT_NE(log.find("Database rep_exists_db not created\r\n"), std::string::npos);
    EXPECT_NE(log.find("Executing query for  t_myisam Table Failed\r\n"), std::string::npos);
    EXPECT_NE(log.find("row not inserted after 1499  row no.\r\n"), std::string::npos) << log;
    ASSERT_EQ(s.frontend.messages.size(), 1u);
    EXPECT_EQ(s.frontend.messages[0].find("successfully"), std::string::npos);
    EXPECT_NE(s.frontend.messages[0].find("4 item(s) not saved completely"), std::string::npos)
        << s.frontend.messages[0];
    EXPECT_NE(s.frontend.messages[0].find(s.settings.logFilePath), std::string::npos);
    // The rows after the rejected one are in.
    EXPECT_EQ(rowsOf(server.query("SELECT COUNT(*), MAX(id), SUM(id = 1500) FROM rep_fails.t_rows;")),
              "2499\t2500\t0\n");
}

TEST(ServerSaveJob, RefusedLoginAndNothingListeningCreateNothing) {
    TestServer& server = test::sharedServer();
    const fs::path work = scratch("refused");
    Session s(work);
    s.check({"srv_b"});
    struct Case {
        const char* name;
        std::string port;
        std::string password;
    };
    const Case cases[] = {{"refused login", server.port(), "not-the-password"},
                          {"nothing listening", std::to_string(TestServer::freePort()), "unused-password"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s.save(c.port, c.password);
        EXPECT_TRUE(s.hasLine("Database rep_srv_b not created"));
        EXPECT_FALSE(s.hasLine("Processing Table pairs"));
        EXPECT_EQ(s.outcome.failed,
                  std::vector<std::string>{"table pairs: database rep_srv_b not created"});
        ASSERT_EQ(s.frontend.messages.size(), 1u);
        EXPECT_NE(s.frontend.messages[0].find("not saved completely"), std::string::npos);
        EXPECT_EQ(s.log().find(c.password), std::string::npos);
    }
}

TEST(ServerSaveJob, ServerKilledInTheMiddleOfALargeTable) {
    TestServer server;
    const fs::path work = scratch("killed");
    Session s(work);
    s.check({"big"});
    ServerTimeouts quick;
    quick.connectSeconds = 3;
    quick.readSeconds = 5;
    quick.writeSeconds = 5;
    s.startSave(server.port(), TestServer::kPassword, quick);
    // Kill once the rows of some leaf pages are in (the table has about 250).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool killed = false;
    while (std::chrono::steady_clock::now() < deadline && s.settings.busy.load() != 0) {
        if (s.frontend.lastPosition.load() >= 20) {
            server.kill();
            killed = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(killed) << "the rows never started";
    const auto waitEnd = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (s.settings.busy.load() != 0 && std::chrono::steady_clock::now() < waitEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(s.settings.busy.load(), 0) << "the job hangs after the server died";
    s.frame.waitForJob();

    EXPECT_TRUE(s.outcome.connectionLost);
    EXPECT_FALSE(s.outcome.complete());
    const auto lost = std::find_if(s.frontend.lines.begin(), s.frontend.lines.end(), [](const auto& l) {
        return l.starts_with("The connection to the server was lost while saving table big");
    });
    EXPECT_NE(lost, s.frontend.lines.end());
    // The job went on to the next item (the view comes after the tables), which the dead
    // server cannot take.
    const std::string log = s.log();
    EXPECT_NE(log.find("rep_big Database connection not open for views.\r\n"), std::string::npos)
        << log;
    EXPECT_NE(std::find(s.outcome.failed.begin(), s.outcome.failed.end(), "view v_big not created"),
              s.outcome.failed.end());
    EXPECT_NE(log.find("Error in processing function parseibdfilefordatabase\r\n"
                           "the connection to the server was lost after "),
              std::string::npos);
    ASSERT_EQ(s.frontend.messages.size(), 1u);
    EXPECT_NE(s.frontend.messages[0].find("The connection to the server was lost."), std::string::npos)
        << s.frontend.messages[0];
}

}  // namespace
}  // namespace dunmore::output

namespace dunmore::output {
namespace {

TEST(ServerSaveJob, StopEndsTheTableWithItsRowsCommitted) {
    TestServer& server = test::sharedServer();
    server.query("DROP DATABASE IF EXISTS rep_big;");
    const fs::path work = scratch("stopped");
    Session s(work);
    s.check({"big", "Tables", "big"});
    s.check({"big", "Views", "v_big"});
    s.startSave(server.port(), TestServer::kPassword);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (s.frontend.lastPosition.load() < 5 && s.settings.busy.load() != 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    s.settings.stopRequested = 1;
    s.frame.waitForJob();

    EXPECT_TRUE(s.outcome.stopped);
    EXPECT_TRUE(s.outcome.failed.empty()) << ::testing::PrintToString(s.outcome.failed);
    ASSERT_EQ(s.frontend.messages.size(), 1u);
    EXPECT_EQ(s.frontend.messages[0].rfind("Saving process stopped", 0), 0u) << s.frontend.messages[0];
    const std::string totalText = "Total Number of record inserted =  ";
    const auto total = std::find_if(s.frontend.lines.begin(), s.frontend.lines.end(),
                                    [&](const auto& l) { return l.starts_with(totalText); });
    ASSERT_NE(total, s.frontend.lines.end());
    const std::string count = total->substr(totalText.size(), total->size() - totalText.size() - 2);
    EXPECT_LT(std::stoul(count), 100000u);
    // Every row the total counts was committed; the view after the stop was not visited.
    EXPECT_EQ(rowsOf(server.query("SELECT COUNT(*) FROM rep_big.big;")), count + "\n");
    EXPECT_EQ(rowsOf(server.query("SELECT COUNT(*) FROM information_schema.VIEWS "
                                  "WHERE TABLE_SCHEMA = 'rep_big';")),
              "0\n");
    EXPECT_EQ(s.settings.stopRequested.load(), 0);
    server.query("DROP DATABASE IF EXISTS rep_big;");
}

}  // namespace
}  // namespace dunmore::output
