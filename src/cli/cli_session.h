#pragma once

#include "cli/cli_frontend.h"
#include "cli/commands.h"
#include "core/main_frame.h"
#include "core/settings.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::cli {

// One run of the command line: the settings, the terminal front end and the engine's
// main frame, with the data folder scanned as the Open command would.
class CliSession {
public:
    explicit CliSession(const CommonOptions& options);

    // Checks the data folder and the log folder, then scans. Returns 0, or 2 with a
    // message on standard error when the data folder cannot be read.
    int scan();

    // The exit status of the command: status, or 1 when the log file could not be
    // written (said on standard error; the log then lacks what the job reported).
    int finish(int status) const;

    core::AppSettings settings;
    CliFrontend frontend;
    core::MainFrame frame;

private:
    CommonOptions m_options;
};

// Checks the tree nodes that the ITEMs name (findNamedItem: DB, DB.NAME as scan names it,
// a table with its trigger file); no ITEM checks everything.
// False, with a message on standard error, when an ITEM names nothing.
bool checkItems(core::MainFrame& frame, const std::vector<std::string>& items);

// Makes Ctrl-C the Stop command while the object lives: the first press asks the job to
// stop after its current row, page or item; a second press ends the process at once.
class InterruptAsStop {
public:
    explicit InterruptAsStop(std::atomic<std::uint8_t>& flag);
    ~InterruptAsStop();
    InterruptAsStop(const InterruptAsStop&) = delete;
    InterruptAsStop& operator=(const InterruptAsStop&) = delete;

private:
    struct sigaction m_previous {};
};

// Finds the catalogue's table entry DB.NAME; -1 when there is none.
int findTable(const core::Catalogue& catalogue, const std::string& db, const std::string& name);

// The position of the dot that ends the database part of item (DB or DB.NAME; names may
// hold dots): npos when item is a scanned database's real name or has no dot, else the
// first dot before which stands such a name, else the first dot.
std::size_t databaseDot(const core::Catalogue& catalogue, const std::string& item);

}  // namespace dunmore::cli
