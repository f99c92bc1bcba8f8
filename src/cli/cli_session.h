#pragma once

#include "cli/cli_frontend.h"
#include "cli/commands.h"
#include "core/main_frame.h"
#include "core/settings.h"

#include <string>

namespace dunmore::cli {

// One run of the command line: the settings, the terminal front end and the engine's
// main frame, with the data folder scanned as the Open command would.
class CliSession {
public:
    explicit CliSession(const CommonOptions& options);

    // Checks the data folder and the log folder, then scans. Returns 0, or 2 with a
    // message on standard error when the data folder cannot be read.
    int scan();

    core::AppSettings settings;
    CliFrontend frontend;
    core::MainFrame frame;

private:
    CommonOptions m_options;
};

// Finds the catalogue's table entry DB.NAME; -1 when there is none.
int findTable(const core::Catalogue& catalogue, const std::string& db, const std::string& name);

}  // namespace dunmore::cli
