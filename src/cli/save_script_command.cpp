// `dunmore save-script`: the Save command in script mode over the items named on the
// command line, with the same job the desktop runs. Ctrl-C is the Stop command
// (InterruptAsStop).
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/item_names.h"
#include "cli/table_report.h"
#include "core/scan.h"
#include "output/script_output.h"
#include "output/script_save_job.h"

#include <cstdio>
#include <filesystem>
#include <map>

namespace dunmore::cli {

namespace fs = std::filesystem;

namespace {

// Whether folder is base or lies below it, after resolving links and dot parts.
bool isWithin(const fs::path& folder, const fs::path& base) {
    std::error_code ec;
    const fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    const fs::path b = fs::weakly_canonical(fs::absolute(base, ec), ec);
    const auto rel = f.lexically_relative(b);
    return !rel.empty() && *rel.begin() != "..";
}

// The tables the job will save, by the name the progress line gives them, weighed by
// their size on disk.
std::map<std::string, std::uint64_t> checkedTableBytes(core::MainFrame& frame) {
    std::map<std::string, std::uint64_t> bytes;
    const core::CheckTree& tree = frame.tree;
    for (auto node = tree.firstCheckedNode(); node != core::CheckTree::kNone; node = tree.nextCheckedNode(node)) {
        const auto& n = tree.node(node);
        const auto parent = tree.parent(node);
        if (n.tag <= 0 || parent == core::CheckTree::kNone || tree.node(parent).tag != core::kTagStructural)
            continue;
        const auto index = static_cast<std::size_t>(n.tag - 1);
        if (index >= frame.catalogue.tables.size()) continue;
        const auto database = tree.parent(parent);
        const std::string name =
            (database == core::CheckTree::kNone ? std::string() : tree.node(database).text) + "." + n.text;
        bytes[name] = readTableFacts(frame, frame.catalogue.tables[index]).sizeBytes.value_or(0);
    }
    return bytes;
}

std::string resultText(const output::SavedItem& item) {
    using Result = output::SavedItem::Result;
    switch (item.result) {
        case Result::Saved: return "saved";
        case Result::Failed: return "FAILED: " + item.problem;
        case Result::Stopped: return "STOPPED: only the rows before the stop";
        case Result::NotReached: return "NOT SAVED: the save was stopped before it";
    }
    return {};
}

// The summary table on standard error: item, kind, rows saved, status.
void printSummary(const output::ScriptSaveOutcome& outcome) {
    if (outcome.items.empty()) return;
    struct Line { std::string item, kind, rows, status; };
    std::vector<Line> lines{{"ITEM", "KIND", "ROWS", "STATUS"}};
    for (const auto& i : outcome.items) {
        using Kind = output::SavedItem::Kind;
        const bool table = i.kind == Kind::Table;
        lines.push_back({i.name, table ? "table" : i.kind == Kind::View ? "view" : "triggers",
                         table && i.result != output::SavedItem::Result::NotReached ? std::to_string(i.rows) : "-",
                         resultText(i)});
    }
    std::size_t w0 = 0, w1 = 0, w2 = 0;
    for (const auto& l : lines) {
        w0 = std::max(w0, l.item.size());
        w1 = std::max(w1, l.kind.size());
        w2 = std::max(w2, l.rows.size());
    }
    std::fputc('\n', stderr);
    for (const auto& l : lines)
        std::fprintf(stderr, "%-*s  %-*s  %*s  %s\n", static_cast<int>(w0), l.item.c_str(),
                     static_cast<int>(w1), l.kind.c_str(), static_cast<int>(w2), l.rows.c_str(),
                     l.status.c_str());
}

}  // namespace

int runSaveScript(CommonOptions options, const SaveScriptOptions& save) {
    if (save.outDir.empty()) {
        std::fprintf(stderr, "dunmore: no output folder given\n");
        return 2;
    }
    std::error_code ec;
    if (!options.dataDir.empty() && fs::is_directory(options.dataDir, ec) &&
        isWithin(save.outDir, options.dataDir)) {
        std::fprintf(stderr,
                     "dunmore: the output folder '%s' is inside the data folder, which is never "
                     "written to; choose another\n",
                     save.outDir.c_str());
        return 2;
    }
    // A save never replaces the scripts of an earlier one unless asked to.
    std::error_code absoluteError;
    const std::string savingFolder = fs::absolute(save.outDir, absoluteError).lexically_normal().string();
    if (output::scriptFolderHoldsFiles(savingFolder)) {
        const std::string scriptFolder = (fs::path(savingFolder) / output::kScriptFolderName).string();
        if (!save.overwrite) {
            std::fprintf(stderr,
                         "dunmore: %s already holds the files of an earlier save; nothing was saved. "
                         "Add --overwrite to replace it whole, or choose another folder\n",
                         scriptFolder.c_str());
            return 2;
        }
        if (!output::removeScriptFolder(savingFolder)) {
            std::fprintf(stderr, "dunmore: %s could not be removed; nothing was saved\n", scriptFolder.c_str());
            return 2;
        }
    }
    // The log of a save goes beside what it saved, unless told otherwise.
    if (options.logFolder.empty()) {
        fs::create_directories(save.outDir, ec);
        options.defaultLogFolder = save.outDir;
    }
    CliSession session(options);
    if (const int status = session.scan(); status != 0) return status;
    core::MainFrame& frame = session.frame;

    if (!checkItems(frame, save.items)) return 2;

    const auto dialog = [&] {
        session.settings.savingScript = true;
        session.settings.savingToServer = false;
        session.settings.saveJobs = options.jobs;
        session.settings.savingFolder = absoluteError ? save.outDir : savingFolder;
        session.settings.blobsInline = save.blobsInline;
        session.settings.targetMariadb = save.targetMariadb;
        return true;
    };
    frame.scriptWriter.setRowsPerStatement(save.rowsPerInsert);
    if (session.frontend.isTerminal()) session.frontend.trackSave(frame.scriptWriter, checkedTableBytes(frame));
    output::ScriptSaveOutcome outcome;
    InterruptAsStop interrupt(session.settings.stopRequested);
    if (!output::saveCommand(frame, dialog, {}, &outcome)) return 2;
    frame.waitForJob();
    printSummary(outcome);
    return session.finish(outcome.complete() ? 0 : 1);
}

}  // namespace dunmore::cli
