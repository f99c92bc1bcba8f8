#pragma once

#include "core/main_frame.h"
#include "core/row_sink.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::output {

inline constexpr std::string_view kScriptCreated = "Script Created successfully";

// One table, view or trigger file of a save and how it ended.
struct SavedItem {
    enum class Kind { Table, View, Trigger };
    enum class Result { Saved, Failed, Stopped, NotReached };
    Kind kind = Kind::Table;
    std::string name;         // database and item as the tree names them: "shop.orders"
    std::uint64_t rows = 0;   // rows written (tables)
    Result result = Result::Saved;
    std::string problem;      // the first failure reported for the item
};

// How a save-as-script job ended.
struct ScriptSaveOutcome {
    std::uint32_t failures = 0;  // items not saved completely
    bool stopped = false;        // a stop request ended the job early
    // Every checked table, view and trigger file in the order of the walk; after a stop
    // the items not reached are listed as NotReached.
    std::vector<SavedItem> items;
    bool complete() const { return failures == 0 && !stopped; }
};

// The save-as-script job (runs on the job's worker thread): walks the checked nodes of
// frame.tree in pre-order and writes every checked table (CREATE TABLE and its rows),
// view and trigger into the script of its database under settings.savingFolder, which
// it extends by "/Scriptdata". Between items it honours a stop request; the row streams
// honour it between rows and pages. The final message is "Script Created successfully"
// only when every item was saved; otherwise it says what happened and names the log.
// Clears savingScript, stopRequested and, last, busy; outcome, when given, receives the
// outcome before busy is cleared.
// Requires: busy set; settings.savingScript set and savingFolder chosen.
ScriptSaveOutcome runScriptSaveJob(core::MainFrame& frame, ScriptSaveOutcome* outcome = nullptr);

// What a checked tree node is to a save job, by its tag and its parent's: under
// "Trigger" (-3) the n-th trigger file, under "Views" (-4) the n-th view file, any other
// positive tag the n-th table; index is the position in that catalogue list. Structural,
// "Keys" and folder nodes, and positions outside their list, are None.
struct CheckedItem {
    enum class Kind { None, Table, View, Trigger };
    Kind kind = Kind::None;
    std::size_t index = 0;
};
CheckedItem classifyCheckedNode(const core::MainFrame& frame, core::CheckTree::NodeId node);

// The rows of a table, read with a reader of its storage engine made for it from its
// definition, through that engine's stream: the script variants, or the server variants
// when toServer is set (executed on frame.serverConnection). Logs the "Processing File"
// lines of a MyISAM table. Returns the empty text when every row was read and handed on,
// otherwise the failure to report ("Rows of table T not saved completely.", or why none
// were read).
// counts, when given, receives what became of the rows, the damage report among them.
std::string saveTableRows(core::MainFrame& frame, const core::TableEntry& table,
                          core::TableDefinitionState definition,
                          const std::string& databaseFolder, const std::string& statementName,
                          bool toServer, core::TableRowCounts* counts = nullptr);

// "See the log file " + logFilePath, or that no log could be written when the path is
// empty (the log file could not be created).
std::string seeTheLogFile(const std::string& logFilePath);

// The final message of a job that ended with outcome.
std::string completionMessage(const ScriptSaveOutcome& outcome, const std::string& logFilePath);

// The name a table gets in its statements: a name longer than 64 characters is cut to
// its first 63 characters (UTF-8 characters, not bytes).
std::string statementTableName(const std::string& name);

// The Save command: "Please wait for the running process." while busy; "Please select
// folder to save the database" when nothing is checked; otherwise saveDialog (the Save
// Database dialog, which sets savingScript/savingToServer and the folder or server) and,
// on OK, the script job on a worker thread, or serverJob when the dialog chose a server.
// outcome, when given, receives the script job's outcome when it ends. Returns whether a
// job was started.
bool saveCommand(core::MainFrame& frame, const std::function<bool()>& saveDialog,
                 const std::function<void(core::MainFrame&)>& serverJob = {},
                 ScriptSaveOutcome* outcome = nullptr);

}  // namespace dunmore::output
