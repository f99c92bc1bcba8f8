#pragma once

#include "core/main_frame.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dunmore::output {

// Names of the output folder layout under the saving folder F:
//   F/Scriptdata/                         the output folder
//   F/Scriptdata/blobdata/                large values, loaded back by LOAD_FILE
//   F/Scriptdata/ActualSaveFilepath.txt   the output folder's path
//   F/Scriptdata/<database>.sql           one script per database
inline constexpr std::string_view kScriptFolderName = "Scriptdata";
inline constexpr std::string_view kBlobFolderName = "blobdata";
inline constexpr std::string_view kMarkerFileName = "ActualSaveFilepath.txt";

// What a database folder's db.opt says; empty texts when it says nothing.
struct DatabaseOptions {
    std::string characterSet;
    std::string collation;
};

// Reads databaseFolder/db.opt (read-only): the text after "character-set=" and after
// "collation=" on their lines (a later line wins; the keys are found anywhere in a line,
// so "default-character-set=" counts). A value that is not a plain name (letters,
// digits, underscore) is dropped, so that a damaged file cannot put text into the
// script. A missing or unreadable file gives empty options.
DatabaseOptions readDatabaseOptions(const std::string& databaseFolder);

// The statements that open the script of database D: the session's character set and
// time zone (saved texts are UTF-8, TIMESTAMP values UTC), CREATE SCHEMA `rep_D` with the
// CHARACTER SET and COLLATE clauses of options, and USE `rep_D`; each ends with CR LF.
std::string scriptHead(std::string_view database, const DatabaseOptions& options);

// Writes folder/ActualSaveFilepath.txt holding exactly folder (no line end). Returns
// whether the file was written completely.
bool writeMarkerFile(const std::string& folder);

// The state of one save-as-script job.
struct ScriptJobState {
    std::string currentScriptPath;
    std::string currentDatabase;
    std::uint32_t failures = 0;
    std::string lastFailure;  // the text of the last failure reported
    bool stopped = false;
    // CREATE VIEW statements of the current database (view name, statement), written when
    // its script closes.
    std::vector<std::pair<std::string, std::string>> pendingViews;
};

// A view or trigger section: a line end, the definition text, a line end.
void writeDefinitionSection(core::ScriptWriter& writer, std::string_view text);

// Queues a view section of the current database. The views of a database are written
// after its other sections, each after the views of the same database that its query
// names, so that a replay creates every view after what it reads from.
void addViewSection(ScriptJobState& state, std::string viewName, std::string statement);

// The views (name, CREATE VIEW statement) of database in an order a server can create
// them in: repeatedly the first one whose statement names no view still waiting as
// `rep_<database>`.`view` (a cycle cannot be created by a server; should one be met,
// the rest follow in their order).
std::vector<std::pair<std::string, std::string>> orderViewsForCreation(
    std::vector<std::pair<std::string, std::string>> pending, std::string_view database);

// Starts the output of a save: settings.savingFolder becomes the absolute path of
// savingFolder/Scriptdata, that folder and its blobdata folder are created, the marker
// file is written and the path is logged. A marker file that cannot be written counts
// as a failure of the job.
void startScriptOutput(core::MainFrame& frame, ScriptJobState& state);

// Makes the script of the database at databaseFolder the current one, unless it is
// already: closes the previous script, then creates savingFolder/<name>.sql with its
// head. A script that cannot be created is reported ("Sctipt File for Database <name>
// not created."), counted as a failure, and leaves the writer closed.
void startDatabaseScript(core::MainFrame& frame, ScriptJobState& state,
                         const std::string& databaseFolder);

// Writes the queued views and closes the current script; a write that failed in it is
// logged and counted.
void closeDatabaseScript(core::MainFrame& frame, ScriptJobState& state);

// Ends the output of a save: the script is closed, "Script Saving Completed..." and the
// section end are logged.
void finishScriptOutput(core::MainFrame& frame, ScriptJobState& state);

// Whether savingFolder/Scriptdata exists and holds anything: the output of an earlier
// save, which a new save would partly overwrite.
bool scriptFolderHoldsFiles(const std::string& savingFolder);
// Removes savingFolder/Scriptdata and everything in it (a link is removed, not followed).
// Returns whether nothing is left there.
bool removeScriptFolder(const std::string& savingFolder);

// Logs a failure of the job (output line and log line) and counts it.
void reportFailure(core::MainFrame& frame, ScriptJobState& state, const std::string& text);

}  // namespace dunmore::output
