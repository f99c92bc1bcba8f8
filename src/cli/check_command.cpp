// `dunmore check`: the damage report of the items named on the command line, read as a
// save would read them and saved nowhere. Standard output: per item a line with its
// state, then its report lines indented. Ctrl-C is the Stop command.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "output/check_job.h"

#include <cstdio>

namespace dunmore::cli {

namespace {

const char* kindName(output::ItemCheck::Kind kind) {
    switch (kind) {
        case output::ItemCheck::Kind::Table: return "table";
        case output::ItemCheck::Kind::View: return "view";
        case output::ItemCheck::Kind::Trigger: return "triggers";
    }
    return "";
}

}  // namespace

int runCheck(const CommonOptions& options, const std::vector<std::string>& items) {
    CliSession session(options);
    // Standard output is the report: the lines the scan and the streams give the output
    // pane stay in the log.
    session.frontend.setQuietLines(true);
    if (const int status = session.scan(); status != 0) return status;
    core::MainFrame& frame = session.frame;
    if (!checkItems(frame, items)) return 2;

    output::CheckOutcome outcome;
    InterruptAsStop interrupt(session.settings.stopRequested);
    if (!frame.startJob([&outcome](core::MainFrame& f) { (void)output::runCheckJob(f, &outcome); }))
        return 2;
    frame.waitForJob();
    for (const output::ItemCheck& item : outcome.items) {
        std::string head = item.name + " (" + kindName(item.kind) + "): ";
        if (item.intact)
            head += item.kind == output::ItemCheck::Kind::Table
                        ? "intact, " + std::to_string(item.rows) + " rows"
                        : "intact";
        else
            head += "DAMAGED: " + item.problem;
        std::printf("%s\n", head.c_str());
        for (const std::string& line : item.report) std::printf("  %s\n", line.c_str());
    }
    std::fflush(stdout);
    return session.finish(outcome.intact() ? 0 : 1);
}

}  // namespace dunmore::cli
