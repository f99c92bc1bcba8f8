// The server connection against a real MariaDB server on a loopback TCP port, through
// unixODBC and the driver registered as "MySql ODBC 5.1 Driver".
#include "output/server_connection.h"

#include "core/main_frame.h"
#include "support/recording_frontend.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <chrono>

namespace dunmore::output {
namespace {

using test::TestServer;

ServerLogin loginTo(const TestServer& server, std::string password = TestServer::kPassword) {
    return {"127.0.0.1", server.port(), TestServer::kUser, std::move(password)};
}

// The rows of a batch result without its header line.
std::string rowsOf(const std::string& batch) {
    const auto nl = batch.find('\n');
    return nl == std::string::npos ? std::string() : batch.substr(nl + 1);
}

struct Frame {
    core::AppSettings settings;
    test::RecordingFrontend frontend;
    core::MainFrame frame{settings, frontend};
};

TEST(ServerConnection, ConnectionStringsAsTheSystemWritesThem) {
    EXPECT_EQ(connectionString("db.example", "3307"),
              "Driver={MySql ODBC 5.1 Driver};Server=db.example;Option=16834;Port=3307;");
    EXPECT_EQ(connectionString("127.0.0.1", "33 06", "rep_shop"),
              "Driver={MySql ODBC 5.1 Driver};Server=127.0.0.1;Option=16834;Port=33 06;"
              "Database=rep_shop;");
}

TEST(ServerConnection, TestConnectionOutcomes) {
    TestServer& server = test::sharedServer();
    const auto ok = ServerConnection::testConnection("127.0.0.1", server.port(), TestServer::kUser,
                                                     TestServer::kPassword);
    EXPECT_EQ(ok.outcome, ConnectionTestOutcome::Connected) << ok.errorText;

    const std::string wrong = "wrong-password-123";
    const auto refused =
        ServerConnection::testConnection("127.0.0.1", server.port(), TestServer::kUser, wrong);
    EXPECT_EQ(refused.outcome, ConnectionTestOutcome::Error);
    EXPECT_NE(refused.errorText.find("Access denied"), std::string::npos) << refused.errorText;
    EXPECT_EQ(refused.errorText.find(wrong), std::string::npos) << refused.errorText;

    const auto start = std::chrono::steady_clock::now();
    const auto nobody = ServerConnection::testConnection(
        "127.0.0.1", std::to_string(TestServer::freePort()), TestServer::kUser, "x");
    EXPECT_EQ(nobody.outcome, ConnectionTestOutcome::Error);
    EXPECT_NE(nobody.errorText.find("Can't connect"), std::string::npos) << nobody.errorText;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ServerConnection, RefusedLoginMakesEveryOperationFalse) {
    TestServer& server = test::sharedServer();
    Frame f;
    ServerConnection c(loginTo(server, "not-the-password"));
    EXPECT_FALSE(c.createDatabase(f.frame, "CREATE SCHEMA `refused_db`;"));
    EXPECT_FALSE(c.useDatabase("mysql"));
    EXPECT_FALSE(c.createTable("CREATE TABLE t (a INT);", "mysql"));
    EXPECT_FALSE(c.executeStatement("SELECT 1"));
    EXPECT_FALSE(c.isOpen());
    EXPECT_TRUE(f.frontend.lines.empty());
    EXPECT_EQ(server.query("SHOW DATABASES LIKE 'refused_db';"), "");
}

TEST(ServerConnection, CreateDatabaseOnceUseItAndSessionSettings) {
    TestServer& server = test::sharedServer();
    Frame f;
    ServerConnection c(loginTo(server));
    EXPECT_TRUE(c.createDatabase(f.frame, "CREATE SCHEMA `rep_conn` CHARACTER SET utf8mb4;"));
    EXPECT_EQ(f.frontend.lines, std::vector<std::string>{"Database Created successfully...."});
    EXPECT_FALSE(c.isOpen());
    // A database that exists already is refused by the server.
    EXPECT_FALSE(c.createDatabase(f.frame, "CREATE SCHEMA `rep_conn`;"));
    EXPECT_EQ(f.frontend.lines.size(), 1u);

    EXPECT_FALSE(c.useDatabase("rep_missing"));
    EXPECT_FALSE(c.isOpen());
    ASSERT_TRUE(c.useDatabase("rep_conn"));
    // The session speaks UTF-8 and UTC whatever the server's defaults (latin1 here).
    EXPECT_TRUE(c.executeStatement(
        "CREATE TABLE s (cs VARCHAR(40), tz VARCHAR(40), txt VARCHAR(20), ts TIMESTAMP NULL) "
        "CHARACTER SET utf8mb4"));
    EXPECT_TRUE(c.executeStatement(
        "INSERT INTO s VALUES (@@character_set_client, @@session.time_zone, 'é😀', "
        "'2024-01-01 00:00:00')"));
    EXPECT_FALSE(c.executeStatement("INSERT INTO no_such_table VALUES (1)"));
    EXPECT_NE(c.lastError().find("no_such_table"), std::string::npos) << c.lastError();
    EXPECT_FALSE(c.connectionLost());
    c.closeConnection();
    EXPECT_FALSE(c.isOpen());
    EXPECT_EQ(rowsOf(server.query("SET time_zone='+00:00'; SELECT cs, tz, HEX(txt), "
                                  "UNIX_TIMESTAMP(ts) FROM rep_conn.s;")),
              "utf8mb4\t+00:00\tC3A9F09F9880\t1704067200\n");
}

TEST(ServerConnection, RowsCommittedEveryThousandAndARejectedRowCostsOnlyItself) {
    TestServer& server = test::sharedServer();
    Frame f;
    ServerConnection c(loginTo(server));
    ASSERT_TRUE(c.createDatabase(f.frame, "CREATE SCHEMA `rep_rows`;"));
    ASSERT_TRUE(c.createTable("CREATE TABLE t (id INT PRIMARY KEY) ENGINE=InnoDB;", "rep_rows"));
    const auto visible = [&] {
        return rowsOf(server.query("SELECT COUNT(*) FROM rep_rows.t;"));
    };
    for (int i = 1; i <= 999; ++i)
        ASSERT_TRUE(c.executeStatement("INSERT INTO t VALUES(" + std::to_string(i) + ");"));
    // Autocommit is off: another session sees nothing before the thousandth row.
    EXPECT_EQ(visible(), "0\n");
    ASSERT_TRUE(c.executeStatement("INSERT INTO t VALUES(1000);"));
    EXPECT_EQ(visible(), "1000\n");
    // A duplicate in the middle of the next batch: only that row is missing.
    for (int i = 1001; i <= 2500; ++i) {
        const bool accepted = c.executeStatement("INSERT INTO t VALUES(" +
                                                 std::to_string(i == 1500 ? 7 : i) + ");");
        EXPECT_EQ(accepted, i != 1500) << i;
    }
    EXPECT_NE(c.lastError().find("Duplicate entry"), std::string::npos) << c.lastError();
    c.closeConnection();
    EXPECT_EQ(c.lostRows(), 0u);
    EXPECT_EQ(visible(), "2499\n");
    EXPECT_EQ(rowsOf(server.query("SELECT COUNT(*) FROM rep_rows.t WHERE id = 1500;")), "0\n");
}

TEST(ServerConnection, AServerThatStopsAnsweringOrDiesEndsTheWait) {
    TestServer server;
    Frame f;
    ServerTimeouts quick;
    quick.connectSeconds = 2;
    quick.readSeconds = 2;
    quick.writeSeconds = 2;
    ServerConnection c(loginTo(server), quick);
    ASSERT_TRUE(c.createDatabase(f.frame, "CREATE SCHEMA `rep_dead`;"));
    ASSERT_TRUE(c.createTable("CREATE TABLE t (id INT PRIMARY KEY) ENGINE=InnoDB;", "rep_dead"));
    ASSERT_TRUE(c.executeStatement("INSERT INTO t VALUES(1);"));

    server.pause();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.executeStatement("INSERT INTO t VALUES(2);"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_TRUE(c.connectionLost()) << c.lastError();
    // The row accepted before is not committed: it is counted as lost.
    EXPECT_EQ(c.lostRows(), 1u);
    EXPECT_FALSE(c.executeStatement("INSERT INTO t VALUES(3);"));
    server.resume();

    ASSERT_TRUE(c.createTable("CREATE TABLE u (id INT PRIMARY KEY) ENGINE=InnoDB;", "rep_dead"));
    EXPECT_FALSE(c.connectionLost());
    server.kill();
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.executeStatement("INSERT INTO u VALUES(1);"));
    EXPECT_TRUE(c.connectionLost()) << c.lastError();
    EXPECT_FALSE(c.useDatabase("rep_dead"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace dunmore::output
