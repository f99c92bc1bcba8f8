// The server connection over the ODBC API (unixODBC and MariaDB Connector/ODBC). The
// driver receives the connection string of the system, then the login, the time-outs and
// the character set as further keys; that full text lives only in a local buffer that is
// wiped after the call, so the password is never part of a text that is kept, logged or
// shown.
#include "output/server_connection.h"

#include "core/main_frame.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string.h>

namespace dunmore::output {

namespace {

constexpr std::string_view kSetTimeZone = "SET time_zone='+00:00'";

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// A value in braces, so that ';' or '=' in it cannot end it ('}' is doubled).
void appendBraced(std::string& out, std::string_view value) {
    out.push_back('{');
    for (const char c : value) {
        out.push_back(c);
        if (c == '}') out.push_back('}');
    }
    out.push_back('}');
}

// SQLSTATEs and client error numbers that mean the connection itself is gone.
bool isConnectionFailure(std::string_view state, SQLINTEGER native) {
    return state.starts_with("08") || state == "HYT00" || state == "HYT01" || native == 2006 ||
           native == 2013 || native == 2055;
}

// The server rolled back the whole transaction, not just the statement.
bool isTransactionRollback(std::string_view state, SQLINTEGER native) {
    return state == "40001" || native == 1213;
}

void wipe(std::string& text) {
    if (!text.empty()) explicit_bzero(text.data(), text.size());
    text.clear();
}

}  // namespace

struct ServerConnection::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    bool connected = false;
    // Diagnostics of the last failed call: the first SQLSTATE and native error.
    std::string state;
    SQLINTEGER native = 0;

    ~Handles() {
        if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

std::string connectionString(std::string_view server, std::string_view port) {
    std::string s = "Driver={";
    s += kOdbcDriverName;
    s += "};Server=";
    s += server;
    s += ";Option=16834;Port=";
    s += port;
    s += ";";
    return s;
}

std::string connectionString(std::string_view server, std::string_view port,
                             std::string_view database) {
    std::string s = connectionString(server, port);
    s += "Database=";
    s += database;
    s += ";";
    return s;
}

ServerConnection::ServerConnection(ServerLogin login, ServerTimeouts timeouts)
    : m_login(std::move(login)), m_timeouts(timeouts), m_handles(std::make_unique<Handles>()) {}

ServerConnection::~ServerConnection() {
    disconnect();
    wipe(m_login.userPassword);
}

bool ServerConnection::isOpen() const { return m_handles->connected; }

std::string ServerConnection::collectError(short handleType, void* handle) {
    std::string text;
    m_handles->state.clear();
    m_handles->native = 0;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native, message,
                                           sizeof message, &length);
        if (!succeeded(rc)) break;
        if (record == 1) {
            m_handles->state = reinterpret_cast<const char*>(state);
            m_handles->native = native;
        }
        if (!text.empty()) text += "\n";
        text += reinterpret_cast<const char*>(message);
    }
    // The driver's texts name the user, never the password; a password that shows up all
    // the same (echoed by a server) is blotted out.
    const std::string& password = m_login.userPassword;
    if (password.size() >= 3)
        for (auto p = text.find(password); p != std::string::npos; p = text.find(password, p))
            text.replace(p, password.size(), "***");
    return text;
}

ServerConnection::OpenResult ServerConnection::open(const std::string& connection) {
    disconnect();
    m_lost = false;
    m_lastError.clear();
    Handles& h = *m_handles;
    if (h.env == SQL_NULL_HENV) {
        if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.env))) {
            h.env = SQL_NULL_HENV;
            m_lastError = "the ODBC environment could not be created";
            return OpenResult::Error;
        }
        SQLSetEnvAttr(h.env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc))) {
        h.dbc = SQL_NULL_HDBC;
        m_lastError = collectError(SQL_HANDLE_ENV, h.env);
        return OpenResult::Error;
    }
    SQLSetConnectAttr(h.dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_timeouts.connectSeconds)), 0);

    // The driver takes read and write time-outs, and the session's character set, only as
    // keys of the text it is given. It refuses the statement SET NAMES (it must know the
    // character set of the connection), so utf8mb4 is asked for here instead: the
    // session then takes statement text as UTF-8 as SET NAMES utf8mb4 would make it.
    std::string full = connection;
    full += "UID=";
    appendBraced(full, m_login.userName);
    full += ";PWD=";
    appendBraced(full, m_login.userPassword);
    full += ";CONN_TIMEOUT=" + std::to_string(m_timeouts.connectSeconds) +
            ";READ_TIMEOUT=" + std::to_string(m_timeouts.readSeconds) +
            ";WRITE_TIMEOUT=" + std::to_string(m_timeouts.writeSeconds) + ";CHARSET=utf8mb4;";
    const SQLRETURN rc =
        SQLDriverConnect(h.dbc, nullptr, reinterpret_cast<SQLCHAR*>(full.data()),
                         static_cast<SQLSMALLINT>(full.size()), nullptr, 0, nullptr,
                         SQL_DRIVER_NOPROMPT);
    wipe(full);
    if (!succeeded(rc)) {
        m_lastError = collectError(SQL_HANDLE_DBC, h.dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, h.dbc);
        h.dbc = SQL_NULL_HDBC;
        return m_lastError.empty() ? OpenResult::NotOpened : OpenResult::Error;
    }
    h.connected = true;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, h.dbc, &h.stmt))) {
        h.stmt = SQL_NULL_HSTMT;
        m_lastError = collectError(SQL_HANDLE_DBC, h.dbc);
        disconnect();
        return OpenResult::Error;
    }
    if (!execute(kSetTimeZone)) {
        disconnect();
        return OpenResult::Error;
    }
    // The server's own version text, once (the driver's SQL_DBMS_VER drops the vendor).
    if (m_serverVersion.empty()) {
        static const char kVersionQuery[] = "SELECT VERSION()";
        SQLCHAR version[256] = {};
        SQLLEN length = 0;
        if (succeeded(SQLExecDirect(h.stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kVersionQuery)),
                                    SQL_NTS)) &&
            succeeded(SQLFetch(h.stmt)) &&
            succeeded(SQLGetData(h.stmt, 1, SQL_C_CHAR, version, sizeof version, &length)) && length > 0)
            m_serverVersion.assign(reinterpret_cast<const char*>(version),
                                   std::min<std::size_t>(static_cast<std::size_t>(length), sizeof version - 1));
        SQLFreeStmt(h.stmt, SQL_CLOSE);
    }
    return OpenResult::Opened;
}

void ServerConnection::disconnect() {
    Handles& h = *m_handles;
    if (h.stmt != SQL_NULL_HSTMT) {
        SQLFreeHandle(SQL_HANDLE_STMT, h.stmt);
        h.stmt = SQL_NULL_HSTMT;
    }
    if (h.dbc != SQL_NULL_HDBC) {
        if (h.connected) SQLDisconnect(h.dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, h.dbc);
        h.dbc = SQL_NULL_HDBC;
    }
    h.connected = false;
    m_transaction = false;
    m_lostRows += m_pending.size();
    m_pending.clear();
    m_pendingBytes = 0;
}

bool ServerConnection::execute(std::string_view statement) {
    Handles& h = *m_handles;
    m_lastRolledBack = false;
    if (!h.connected || m_lost) return false;
    const SQLRETURN rc = SQLExecDirect(
        h.stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(statement.data())),
        static_cast<SQLINTEGER>(statement.size()));
    if (succeeded(rc) || rc == SQL_NO_DATA) {
        // Any result set is released unread.
        SQLFreeStmt(h.stmt, SQL_CLOSE);
        return true;
    }
    m_lastError = collectError(SQL_HANDLE_STMT, h.stmt);
    SQLFreeStmt(h.stmt, SQL_CLOSE);
    if (isConnectionFailure(h.state, h.native)) {
        m_lost = true;
        disconnect();
    } else if (isTransactionRollback(h.state, h.native)) {
        m_lastRolledBack = true;
    }
    return false;
}

bool ServerConnection::commit() {
    Handles& h = *m_handles;
    if (!h.connected || !m_transaction) return false;
    if (m_pending.empty()) return true;
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, h.dbc, SQL_COMMIT);
    if (succeeded(rc)) {
        m_pending.clear();
        m_pendingBytes = 0;
        return true;
    }
    m_lastError = collectError(SQL_HANDLE_DBC, h.dbc);
    m_lostRows += m_pending.size();
    m_pending.clear();
    m_pendingBytes = 0;
    if (isConnectionFailure(h.state, h.native)) {
        m_lost = true;
        disconnect();
    }
    return false;
}

bool ServerConnection::executeRow(std::string_view statement) {
    if (execute(statement)) {
        m_pending.emplace_back(statement);
        m_pendingBytes += statement.size();
        if (m_pending.size() >= kCommitEvery || m_pendingBytes >= kBatchBytes) commit();
        return true;
    }
    if (!m_lastRolledBack) return false;
    // The server dropped the whole transaction: the batch goes again, row by row, and
    // then the row that met the rollback gets its second chance.
    std::vector<std::string> batch;
    batch.swap(m_pending);
    m_pendingBytes = 0;
    for (const std::string& row : batch) {
        if (execute(row)) {
            m_pending.push_back(row);
            m_pendingBytes += row.size();
        } else {
            ++m_lostRows;
            if (m_lost) {
                m_lostRows += static_cast<std::uint64_t>(&batch.back() - &row);
                return false;
            }
        }
    }
    return executeRow(statement);
}

bool ServerConnection::executeStatement(std::string_view statement) {
    return m_transaction ? executeRow(statement) : execute(statement);
}

bool ServerConnection::serverIsMariadb() const {
    std::string lower = m_serverVersion;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("mariadb") != std::string::npos;
}

bool ServerConnection::createDatabase(core::MainFrame& frame, std::string_view statement) {
    m_lostRows = 0;
    if (open(connectionString(m_login.serverName, m_login.serverPort)) != OpenResult::Opened)
        return false;
    const bool created = execute(statement);
    if (created) {
        constexpr std::string_view kCreated = "Database Created successfully....";
        frame.addOutputLine(kCreated);
        frame.writeLog(std::string(kCreated) + "\r\n");
    }
    disconnect();
    return created;
}

bool ServerConnection::useDatabase(std::string_view name) {
    if (open(connectionString(m_login.serverName, m_login.serverPort)) != OpenResult::Opened)
        return false;
    std::string use = "Use `";
    for (const char c : name) {
        use.push_back(c);
        if (c == '`') use.push_back('`');
    }
    use += "`;";
    if (execute(use)) return true;
    disconnect();
    return false;
}

bool ServerConnection::createTable(std::string_view statement, std::string_view database) {
    m_lostRows = 0;
    if (open(connectionString(m_login.serverName, m_login.serverPort, database)) !=
        OpenResult::Opened)
        return false;
    Handles& h = *m_handles;
    if (!succeeded(SQLSetConnectAttr(h.dbc, SQL_ATTR_AUTOCOMMIT,
                                     reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
        m_lastError = collectError(SQL_HANDLE_DBC, h.dbc);
        disconnect();
        return false;
    }
    m_transaction = true;
    if (execute(statement)) return true;
    disconnect();
    return false;
}

void ServerConnection::closeConnection() {
    if (!m_handles->connected) return;
    commit();
    disconnect();
}

ConnectionTestResult ServerConnection::testConnection(std::string_view server,
                                                      std::string_view port,
                                                      std::string_view user,
                                                      std::string_view password,
                                                      ServerTimeouts timeouts) {
    ServerConnection connection(
        ServerLogin{std::string(server), std::string(port), std::string(user), std::string(password)},
        timeouts);
    ConnectionTestResult result;
    switch (connection.open(connectionString(server, port))) {
        case OpenResult::Opened:
            result.outcome = ConnectionTestOutcome::Connected;
            break;
        case OpenResult::NotOpened:
            result.outcome = ConnectionTestOutcome::NotConnected;
            break;
        case OpenResult::Error:
            result.outcome = ConnectionTestOutcome::Error;
            result.errorText = connection.lastError();
            break;
    }
    connection.disconnect();
    return result;
}

}  // namespace dunmore::output
