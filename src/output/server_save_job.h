#pragma once

#include "core/main_frame.h"
#include "output/server_connection.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::output {

inline constexpr std::string_view kSavingCompleted = "Saving process completed successfully.";

// How a save-into-server job ended. Each failure is named in `failed` (short texts such
// as "database rep_shop not created" or "table orders: 2 rows rejected").
struct ServerSaveOutcome {
    std::vector<std::string> failed;
    bool stopped = false;         // a stop request ended the job early
    bool connectionLost = false;  // the connection to the server broke during the job
    bool complete() const { return failed.empty() && !stopped; }
};

// The final message of a save into a server: "Saving process completed successfully."
// when everything was saved; otherwise how many items failed, which (up to ten named),
// whether the job was stopped, and the log file.
std::string serverCompletionMessage(const ServerSaveOutcome& outcome,
                                    const std::string& logFilePath);

// The save-into-server job (runs on the job's worker thread). Walks the checked nodes of
// frame.tree in pre-order like the script job; for each database it reaches it creates
// "rep_" + its name (CREATE SCHEMA with the character set and collation of its db.opt),
// for each table the CREATE TABLE statement and then the rows through the server
// variants of the row streams, each row one INSERT on the table's connection. Views and
// triggers are executed in the recreated database of their own folder (created first
// when none of its tables came before them). Every value, long ones included, travels in
// its statement: nothing depends on the server reading the client's files. The server
// settings come from frame.settings (serverName, serverPort, userName, userPassword).
// A failure of one item is logged and named and the job goes on; a lost connection ends
// the item it happened in (and the next items fail quickly unless the server is back).
// Ends with the completion message, clears savingToServer and stopRequested and, last,
// busy; outcome, when given, receives the outcome before busy is cleared.
// Requires: busy set; settings.savingToServer set.
ServerSaveOutcome runServerSaveJob(core::MainFrame& frame, ServerSaveOutcome* outcome = nullptr,
                                   ServerTimeouts timeouts = {});

}  // namespace dunmore::output
