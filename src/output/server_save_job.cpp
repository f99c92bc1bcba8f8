// The save-into-server job. It visits the checked nodes of the database tree in pre-order
// as the script job does; for every database it reaches it creates "rep_" + its name on
// the server, for every table the table and its rows, and it executes views and
// triggers in the recreated database. Each table has a connection of its own, opened by
// createTable and closed (after the last commit) when its rows are in.
#include "output/server_save_job.h"

#include "core/file_name.h"
#include "core/scan.h"
#include "innodb/sdi_definition.h"
#include "output/create_table.h"
#include "output/script_output.h"
#include "output/script_save_job.h"
#include "schema/column_type.h"
#include "schema/frm_reader.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"

#include <filesystem>

namespace dunmore::output {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kNamedFailures = 10;

// The connection as the row streams and the trigger statements see it: it counts what
// the server refused, so that the job can name a table whose rows were not all accepted.
class CountingExecutor : public core::StatementExecutor {
public:
    explicit CountingExecutor(ServerConnection& connection) : m_connection(connection) {}
    bool executeStatement(std::string_view statement) override {
        if (m_connection.executeStatement(statement)) return true;
        if (!m_connection.connectionLost()) {
            ++rejected;
            if (firstError.empty()) firstError = m_connection.lastError();
        }
        return false;
    }
    bool connectionLost() const override { return m_connection.connectionLost(); }

    std::uint64_t rejected = 0;
    std::string firstError;

private:
    ServerConnection& m_connection;
};

struct JobState {
    ServerConnection& connection;
    ServerSaveOutcome outcome;
    std::string currentDatabase;
    bool databaseReady = false;
    std::string serverVersionLogged;
    // The views of the current database (name, statement), created when the job leaves
    // the database, each after the views it reads.
    std::vector<std::pair<std::string, std::string>> pendingViews;
};

void report(core::MainFrame& frame, const std::string& text) {
    frame.addOutputLine(text);
    frame.writeLog(text + "\r\n");
}

void fail(JobState& state, std::string what) { state.outcome.failed.push_back(std::move(what)); }

// A lost connection is logged once per item with the driver's words.
void noteLostConnection(core::MainFrame& frame, JobState& state, std::string_view item) {
    state.outcome.connectionLost = true;
    report(frame, "The connection to the server was lost while saving " + std::string(item) +
                      ": " + state.connection.lastError());
}

std::string currentTarget(const JobState& state) {
    return std::string(schema::kReplacementPrefix) + state.currentDatabase;
}

// Executes the queued views of the current database in the recreated database.
void createPendingViews(core::MainFrame& frame, JobState& state) {
    if (state.pendingViews.empty()) return;
    auto views = orderViewsForCreation(std::move(state.pendingViews), state.currentDatabase);
    state.pendingViews.clear();
    const std::string target = currentTarget(state);
    ServerConnection& connection = state.connection;
    const bool open = connection.useDatabase(target);
    for (const auto& [name, statement] : views) {
        if (!open) {
            frame.writeLog(target + " Database connection not open for views.\r\n");
            fail(state, "view " + name + " not created");
        } else if (connection.executeStatement(statement)) {
            report(frame, "View Created succesfully.");
        } else {
            report(frame, "Error executing View.");
            frame.writeLog("Server: " + connection.lastError() + "\r\n");
            fail(state, "view " + name + " not created");
        }
    }
    if (connection.connectionLost()) state.outcome.connectionLost = true;
    connection.closeConnection();
}

// The database of databaseFolder becomes the current one: when it differs from the
// current database, the views of the one left are created and "rep_" + the new one's
// name is created (once per database and job).
void enterDatabase(core::MainFrame& frame, JobState& state, const std::string& databaseFolder) {
    const std::string database = core::databaseName(databaseFolder);
    if (database == state.currentDatabase) return;
    createPendingViews(frame, state);
    const std::string target = std::string(schema::kReplacementPrefix) + database;
    const std::string creating = "Creating Database " + target;
    frame.addOutputLine(creating);
    frame.writeLog("\r\n" + creating + "\r\n");
    state.currentDatabase = database;
    const DatabaseOptions options = readDatabaseOptions(databaseFolder);
    std::string statement = "CREATE SCHEMA " + schema::quoteIdentifier(target);
    if (!options.characterSet.empty()) statement += " CHARACTER SET " + options.characterSet;
    if (!options.collation.empty()) statement += " COLLATE " + options.collation;
    statement += ";";
    state.databaseReady = state.connection.createDatabase(frame, statement);
    if (state.serverVersionLogged.empty() && !state.connection.serverVersion().empty()) {
        state.serverVersionLogged = state.connection.serverVersion();
        frame.writeLog("Server version: " + state.serverVersionLogged + "\r\n");
    }
    if (!state.databaseReady) {
        frame.writeLog("Server: " + state.connection.lastError() + "\r\n");
        if (state.connection.connectionLost()) state.outcome.connectionLost = true;
    }
}

// After the rows: what the server refused or lost is logged and named.
void finishTableRows(core::MainFrame& frame, JobState& state, const CountingExecutor& counter,
                     const std::string& tableName, bool streamed) {
    ServerConnection& connection = state.connection;
    const bool lostDuringRows = connection.connectionLost();
    connection.closeConnection();
    if (lostDuringRows || connection.connectionLost()) {
        noteLostConnection(frame, state, "table " + tableName);
        fail(state, "table " + tableName + ": connection lost");
    } else if (!streamed) {
        fail(state, "table " + tableName + ": rows not read completely");
    }
    if (counter.rejected > 0) {
        report(frame, std::to_string(counter.rejected) + " rows of table " + tableName +
                          " were rejected by the server; the first: " + counter.firstError);
        fail(state, "table " + tableName + ": " + std::to_string(counter.rejected) +
                        " rows rejected");
    }
    if (connection.lostRows() > 0) {
        report(frame, std::to_string(connection.lostRows()) + " rows of table " + tableName +
                          " that the server had accepted were not committed and are lost.");
        if (!lostDuringRows) fail(state, "table " + tableName + ": rows not committed");
    }
}

void saveTable(core::MainFrame& frame, JobState& state, const core::TableEntry& table) {
    const core::Catalogue& cat = frame.catalogue;
    if (table.databaseIndex < 0 ||
        static_cast<std::size_t>(table.databaseIndex) >= cat.databaseFolders.size()) {
        report(frame, "Table " + table.name + " not saved: no database folder.");
        fail(state, "table " + table.name + ": no database folder");
        return;
    }
    const std::string& databaseFolder = cat.databaseFolders[table.databaseIndex];
    enterDatabase(frame, state, databaseFolder);
    const std::string target = currentTarget(state);
    if (!state.databaseReady) {
        const std::string line = "Database " + target + " not created";
        frame.writeLog(line + "\r\n");
        frame.addOutputLine(line);
        fail(state, "table " + table.name + ": database " + target + " not created");
        return;
    }
    const std::string processing = "Processing Table " + table.name;
    frame.addOutputLine(processing);
    frame.writeLog(processing + "\r\n");

    core::TableDefinitionState definition;
    const core::Status read = innodb::readCatalogueTableDefinition(definition, cat, table, frame.settings);
    const std::string statementName = statementTableName(table.name);
    // A MariaDB server gets the nearest MariaDB collation for each MySQL 8 one it lacks.
    const bool mariadb = frame.settings.targetMariadb || state.connection.serverIsMariadb();
    const std::string statement =
        read.isOk() && !definition.columns.empty()
            ? formatCreateTableForTarget(frame, definition, statementName, table.name, mariadb)
            : "";
    report(frame, "creating table " + statementName + " ...");
    bool created = !statement.empty() && state.connection.createTable(statement, target);
    if (!created && !statement.empty() && !partitionClauseOf(definition).empty() &&
        !state.connection.connectionLost()) {
        // A server without partitioning (or without it for this engine, as MySQL 8 for
        // MyISAM) still takes the table and every row of its partitions.
        report(frame, "The server refused the partitioning of table " + statementName + " (" +
                          state.connection.lastError() +
                          "); it is created without partitioning, with the rows of all its partitions.");
        core::TableDefinitionState plain = definition;
        plain.partitioned = false;
        created = state.connection.createTable(
            formatCreateTableForTarget(frame, plain, statementName, table.name, mariadb), target);
    }
    if (!created) {
        const std::string line = "Executing query for  " + statementName + " Table Failed";
        frame.writeLog(line + "\r\n");
        frame.addOutputLine(line);
        if (!read.isOk()) frame.writeLog(read.message() + "\r\n");
        else if (definition.columns.empty()) frame.writeLog("The definition has no columns.\r\n");
        else frame.writeLog("Server: " + state.connection.lastError() + "\r\n");
        if (state.connection.connectionLost()) state.outcome.connectionLost = true;
        fail(state, "table " + statementName + " not created");
        return;
    }

    CountingExecutor counter(state.connection);
    frame.serverConnection = &counter;
    const std::string rowsFailure =
        saveTableRows(frame, table, std::move(definition), databaseFolder, statementName, true);
    if (!rowsFailure.empty()) report(frame, rowsFailure);
    const bool streamed = rowsFailure.empty();
    frame.serverConnection = nullptr;
    finishTableRows(frame, state, counter, statementName, streamed);
}

void saveView(core::MainFrame& frame, JobState& state, std::size_t index) {
    const std::string& path = frame.catalogue.viewFiles[index];
    enterDatabase(frame, state, fs::path(path).parent_path().string());
    const std::string fileName = core::lastPathPart(path);
    const std::string viewName = core::realName(fileName.substr(0, fileName.rfind('.')));
    std::string text = schema::viewStatement(frame.catalogue, index);
    if (text.empty()) {
        report(frame, "Error executing View.");
        frame.writeLog("The view file " + path + " cannot be read.\r\n");
        fail(state, "view " + viewName + " not created");
        return;
    }
    state.pendingViews.emplace_back(viewName, std::move(text));
}

void saveTriggers(core::MainFrame& frame, JobState& state, const core::TriggerEntry& entry) {
    enterDatabase(frame, state, entry.databaseFolder);
    const std::string target = currentTarget(state);
    ServerConnection& connection = state.connection;
    if (!connection.useDatabase(target)) {
        frame.writeLog(target + " Database connection not open for Triggers.\r\n");
        if (connection.connectionLost()) state.outcome.connectionLost = true;
        fail(state, "triggers of " + entry.fileName + " not created");
        return;
    }
    const std::string path = core::joinPath(entry.databaseFolder, entry.fileName);
    CountingExecutor counter(connection);
    frame.serverConnection = &counter;
    (void)schema::triggerStatements(frame, entry);
    frame.serverConnection = nullptr;
    std::string unused;
    if (entry.dictionaryTriggers.empty() && !schema::readDefinitionLines(path, unused)) {
        report(frame, "Triggers not saved: " + path + " cannot be read.");
        fail(state, "triggers of " + entry.fileName + " not read");
    }
    if (counter.rejected > 0 || connection.connectionLost()) {
        frame.writeLog("Server: " + (counter.firstError.empty() ? connection.lastError()
                                                                : counter.firstError) +
                       "\r\n");
        if (connection.connectionLost()) state.outcome.connectionLost = true;
        fail(state, "triggers of " + entry.fileName + " not all created");
    }
    connection.closeConnection();
}

void saveNode(core::MainFrame& frame, JobState& state, core::CheckTree::NodeId node) {
    const core::Catalogue& cat = frame.catalogue;
    const CheckedItem item = classifyCheckedNode(frame, node);
    switch (item.kind) {
        case CheckedItem::Kind::Trigger:
            return saveTriggers(frame, state, cat.triggers[item.index]);
        case CheckedItem::Kind::View:
            return saveView(frame, state, item.index);
        case CheckedItem::Kind::Table:
            return saveTable(frame, state, cat.tables[item.index]);
        case CheckedItem::Kind::None:
            return;
    }
}

}  // namespace

std::string serverCompletionMessage(const ServerSaveOutcome& outcome,
                                    const std::string& logFilePath) {
    if (outcome.complete()) return std::string(kSavingCompleted);
    std::string message;
    if (!outcome.failed.empty()) {
        message = "Saving process completed with errors: " +
                  std::to_string(outcome.failed.size()) + " item(s) not saved completely (";
        for (std::size_t i = 0; i < outcome.failed.size() && i < kNamedFailures; ++i) {
            if (i > 0) message += "; ";
            message += outcome.failed[i];
        }
        if (outcome.failed.size() > kNamedFailures)
            message += "; and " + std::to_string(outcome.failed.size() - kNamedFailures) + " more";
        message += ").";
        if (outcome.connectionLost) message += " The connection to the server was lost.";
        if (outcome.stopped) message += " The saving was stopped.";
    } else {
        message = "Saving process stopped: the items after the stop were not saved.";
    }
    return message + " " + seeTheLogFile(logFilePath);
}

ServerSaveOutcome runServerSaveJob(core::MainFrame& frame, ServerSaveOutcome* outcome,
                                   ServerTimeouts timeouts) {
    core::AppSettings& settings = frame.settings;
    core::Frontend& frontend = frame.frontend;
    frontend.enableTree(false);

    // Long values travel inline, so the working folder stays empty; it is removed at the
    // end only when this job made it, and then only while empty.
    fs::path workingFolder;
    bool madeWorkingFolder = false;
    if (!settings.savingFolder.empty()) {
        workingFolder = core::joinPath(settings.savingFolder, std::string(kBlobFolderName));
        std::error_code ec;
        madeWorkingFolder =
            !fs::exists(workingFolder, ec) && fs::create_directories(workingFolder, ec);
    }

    ServerConnection connection(
        ServerLogin{settings.serverName, settings.serverPort, settings.userName,
                    settings.userPassword},
        timeouts);
    JobState state{connection, {}, {}, false};
    for (auto node = frame.tree.firstCheckedNode(); node != core::CheckTree::kNone;
         node = frame.tree.nextCheckedNode(node)) {
        frontend.resetRecordsPane();
        frontend.showProgress(true);
        if (frame.stopRequested()) break;
        saveNode(frame, state, node);
    }
    state.outcome.stopped = frame.stopRequested();
    createPendingViews(frame, state);
    connection.closeConnection();
    frame.serverConnection = nullptr;

    if (madeWorkingFolder) {
        std::error_code ec;
        fs::remove(workingFolder, ec);
    }
    frontend.showProgress(false);
    const std::string message = serverCompletionMessage(state.outcome, settings.logFilePath);
    frontend.showMessage(message);
    if (state.outcome.complete())
        frame.writeLog(std::string(kSavingCompleted) + "...\r\n");
    else
        frame.writeLog(message + "\r\n");
    frame.writeLog(core::logSectionEnd());
    settings.savingToServer = false;
    frontend.enableTree(true);
    settings.stopRequested = 0;
    if (outcome) *outcome = state.outcome;
    // Last: a job admitted now finds this worker with nothing left to do.
    settings.busy = 0;
    return state.outcome;
}

}  // namespace dunmore::output
