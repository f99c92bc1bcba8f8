// `dunmore save-script`: the Save command in script mode over the items named on the
// command line, with the same job the desktop runs. Ctrl-C is the Stop command
// (InterruptAsStop).
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "core/scan.h"
#include "output/script_save_job.h"

#include <cstdio>
#include <filesystem>

namespace dunmore::cli {

namespace fs = std::filesystem;

int runSaveScript(const CommonOptions& options, const std::string& outDir,
                  const std::vector<std::string>& items, bool targetMariadb) {
    if (outDir.empty()) {
        std::fprintf(stderr, "dunmore: no output folder given\n");
        return 2;
    }
    CliSession session(options);
    if (const int status = session.scan(); status != 0) return status;
    core::MainFrame& frame = session.frame;

    if (!checkItems(frame, items)) return 2;

    std::error_code ec;
    const fs::path folder = fs::absolute(outDir, ec);
    const auto dialog = [&] {
        session.settings.savingScript = true;
        session.settings.savingToServer = false;
        session.settings.saveJobs = options.jobs;
        session.settings.savingFolder = ec ? outDir : folder.lexically_normal().string();
        session.settings.targetMariadb = targetMariadb;
        return true;
    };
    output::ScriptSaveOutcome outcome;
    InterruptAsStop interrupt(session.settings.stopRequested);
    if (!output::saveCommand(frame, dialog, {}, &outcome)) return 2;
    frame.waitForJob();
    return session.finish(outcome.complete() ? 0 : 1);
}

}  // namespace dunmore::cli
