#pragma once

#include "core/statement_executor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::core {
class MainFrame;
}

namespace dunmore::output {

// The ODBC driver the connection asks for (scripts/setup registers MariaDB Connector/ODBC
// under this name).
inline constexpr std::string_view kOdbcDriverName = "MySql ODBC 5.1 Driver";

// The connection string without a database:
// "Driver={MySql ODBC 5.1 Driver};Server=<server>;Option=16834;Port=<port>;". The port is
// the text as typed, unchecked. User and password are never part of it.
std::string connectionString(std::string_view server, std::string_view port);
// The same with ";Database=<database>;" after the port.
std::string connectionString(std::string_view server, std::string_view port,
                             std::string_view database);

// How long the driver waits, in seconds: for the TCP connection and login, and for each
// read or write of the network protocol. A server that stops answering makes the waiting
// call fail after at most this long instead of blocking the job.
struct ServerTimeouts {
    unsigned connectSeconds = 15;
    unsigned readSeconds = 600;
    unsigned writeSeconds = 600;
};

// The three outcomes of a connection test.
enum class ConnectionTestOutcome {
    Connected,     // the login was accepted (the connection is closed again)
    NotConnected,  // the driver returned without success and without an error record
    Error,         // the driver reported an error; errorText carries its description
};

struct ConnectionTestResult {
    ConnectionTestOutcome outcome = ConnectionTestOutcome::NotConnected;
    std::string errorText;
};

// The server settings a connection uses; the password is held only as long as the
// connection object lives and never appears in a log line, an output line or an error
// text of this class.
struct ServerLogin {
    std::string serverName;
    std::string serverPort;
    std::string userName;
    std::string userPassword;
};

// One connection to a MySQL/MariaDB server through ODBC. Each connecting operation
// closes the previous connection and opens a fresh one, so at most one exists. Every
// connection speaks utf8mb4 (the driver's own equivalent of SET NAMES utf8mb4, which it
// does not let through) and first sends "SET time_zone='+00:00'", so statement text is
// taken as UTF-8 and TIMESTAMP values as UTC whatever the server's defaults.
//
// Rows: a connection opened by createTable runs with autocommit off. Every 1,000
// accepted statements are committed, and closeConnection commits the rest. Each row is
// one INSERT statement, and the server undoes a rejected statement by itself (InnoDB's
// statement-level rollback; MyISAM keeps each accepted row as it goes), so a rejected row
// costs only that row and the transaction goes on without a savepoint round trip per row.
// An error that makes the server roll back the whole transaction (a deadlock or lock
// wait rollback) would take the accepted rows since the last commit with it: the
// connection keeps those statements (a batch is committed early once they hold
// kBatchBytes of text) and sends them again, one by one, before it reports the failed
// one. Accepted rows that still do not reach a commit (the connection is lost, a commit
// fails, a replayed row is rejected) are counted in lostRows().
class ServerConnection : public core::StatementExecutor {
public:
    explicit ServerConnection(ServerLogin login, ServerTimeouts timeouts = {});
    ~ServerConnection() override;
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    // Opens a connection without a database and executes statement (CREATE SCHEMA). On
    // success: the output line and log line "Database Created successfully....". The
    // connection is closed in every case. False on any failure, with no message.
    bool createDatabase(core::MainFrame& frame, std::string_view statement);
    // Opens a connection without a database and executes "Use `name`;" (back-quotes in
    // the name doubled). True leaves the connection open for the caller's statements.
    bool useDatabase(std::string_view name);
    // Opens a connection naming database, turns autocommit off and executes statement
    // (CREATE TABLE). True leaves the connection open for the rows.
    bool createTable(std::string_view statement, std::string_view database);
    // Executes one statement on the open connection; false when there is none, when the
    // server rejected the statement or when the connection was lost.
    bool executeStatement(std::string_view statement) override;
    // Commits what is pending (autocommit off) and closes the open connection; rows whose
    // commit fails are counted in lostRows(). Nothing happens without a connection.
    void closeConnection();

    bool isOpen() const;
    // The connection broke (the server went away, a network time-out): later statements
    // fail at once until a connecting operation opens a new connection.
    bool connectionLost() const override { return m_lost; }
    // Rows that executeStatement accepted on connections since the last createTable and
    // that did not reach a commit: the caller's count of inserted rows is too high by this.
    std::uint64_t lostRows() const { return m_lostRows; }
    // The driver's description of the last failure (never contains the password).
    const std::string& lastError() const { return m_lastError; }
    // The server's version text as the last connection reported it ("10.11.6-MariaDB-0+
    // deb12u1", "8.0.40"); empty before the first connection.
    const std::string& serverVersion() const { return m_serverVersion; }
    // Whether that server is a MariaDB server (its version text says so).
    bool serverIsMariadb() const;

    // Opens a connection without a database with these texts, then closes it again.
    static ConnectionTestResult testConnection(std::string_view server, std::string_view port,
                                               std::string_view user, std::string_view password,
                                               ServerTimeouts timeouts = {});

    // Rows between periodic commits, and the statement text kept for a replay after
    // which a batch is committed early.
    static constexpr std::uint64_t kCommitEvery = 1000;
    static constexpr std::size_t kBatchBytes = 64u << 20;

private:
    struct Handles;
    enum class OpenResult { Opened, NotOpened, Error };

    OpenResult open(const std::string& connection);
    bool execute(std::string_view statement);
    bool executeRow(std::string_view statement);
    bool commit();
    void disconnect();
    std::string collectError(short handleType, void* handle);

    ServerLogin m_login;
    ServerTimeouts m_timeouts;
    std::unique_ptr<Handles> m_handles;
    bool m_lost = false;
    bool m_transaction = false;  // autocommit is off on the open connection
    bool m_lastRolledBack = false;  // the last failure ended the whole transaction
    std::uint64_t m_lostRows = 0;
    std::vector<std::string> m_pending;  // the accepted, uncommitted rows
    std::size_t m_pendingBytes = 0;
    std::string m_lastError;
    std::string m_serverVersion;
};

}  // namespace dunmore::output
