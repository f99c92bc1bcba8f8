#pragma once

#include "core/main_frame.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dunmore::output {

inline constexpr std::string_view kScriptCreated = "Script Created successfully";

// How a save-as-script job ended.
struct ScriptSaveOutcome {
    std::uint32_t failures = 0;  // items not saved completely
    bool stopped = false;        // a stop request ended the job early
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
