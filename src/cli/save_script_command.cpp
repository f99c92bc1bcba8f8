// `dunmore save-script`: the Save command in script mode over the items named on the
// command line, with the same job the desktop runs. Ctrl-C is the Stop command: the first
// press asks the job to stop after its current row, page or item; a second press ends
// the process at once.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "core/scan.h"
#include "output/script_save_job.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace dunmore::cli {

namespace {

namespace fs = std::filesystem;

std::atomic<std::uint8_t>* g_stopFlag = nullptr;

extern "C" void onInterrupt(int) {
    if (g_stopFlag && g_stopFlag->load() == 0) {
        g_stopFlag->store(1);
        return;
    }
    std::_Exit(130);
}

// Makes Ctrl-C the Stop command while the object lives.
class InterruptAsStop {
public:
    explicit InterruptAsStop(std::atomic<std::uint8_t>& flag) {
        g_stopFlag = &flag;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_previous);
    }
    ~InterruptAsStop() {
        sigaction(SIGINT, &m_previous, nullptr);
        g_stopFlag = nullptr;
    }
    InterruptAsStop(const InterruptAsStop&) = delete;
    InterruptAsStop& operator=(const InterruptAsStop&) = delete;

private:
    struct sigaction m_previous {};
};

// The node of the tree that an ITEM names: a database node (DB), or under it a table
// or view node by its name, or a trigger node by its file name (orders.TRG).
core::CheckTree::NodeId findItemNode(const core::MainFrame& frame, const std::string& item) {
    const core::CheckTree& tree = frame.tree;
    const auto dot = item.find('.');
    const std::string db = item.substr(0, dot);
    const std::string name = dot == std::string::npos ? "" : item.substr(dot + 1);
    for (auto root : tree.roots()) {
        for (auto dataNode : tree.node(root).children) {
            const auto dbNode = tree.findChild(dataNode, db);
            if (dbNode == core::CheckTree::kNone) continue;
            if (dot == std::string::npos) return dbNode;
            for (auto folder : tree.node(dbNode).children) {
                const auto& f = tree.node(folder);
                for (auto leaf : f.children) {
                    const auto& n = tree.node(leaf);
                    if (f.tag == core::kTagTriggerFolder) {
                        const auto index = static_cast<std::size_t>(n.tag - 1);
                        if (n.tag > 0 && index < frame.catalogue.triggers.size() &&
                            frame.catalogue.triggers[index].fileName == name)
                            return leaf;
                    } else if (n.text == name) {
                        return leaf;
                    }
                }
            }
        }
    }
    return core::CheckTree::kNone;
}

}  // namespace

int runSaveScript(const CommonOptions& options, const std::string& outDir,
                  const std::vector<std::string>& items) {
    if (outDir.empty()) {
        std::fprintf(stderr, "dunmore: no output folder given\n");
        return 2;
    }
    CliSession session(options);
    if (const int status = session.scan(); status != 0) return status;
    core::MainFrame& frame = session.frame;

    if (items.empty()) {
        for (auto root : frame.tree.roots()) frame.tree.setCheck(root, true);
    } else {
        for (const std::string& item : items) {
            const auto node = findItemNode(frame, item);
            if (node == core::CheckTree::kNone) {
                std::fprintf(stderr, "dunmore: no database, table, view or trigger file '%s'\n",
                             item.c_str());
                return 2;
            }
            frame.tree.setCheck(node, true);
        }
    }

    std::error_code ec;
    const fs::path folder = fs::absolute(outDir, ec);
    const auto dialog = [&] {
        session.settings.savingScript = true;
        session.settings.savingToServer = false;
        session.settings.savingFolder = ec ? outDir : folder.lexically_normal().string();
        return true;
    };
    output::ScriptSaveOutcome outcome;
    InterruptAsStop interrupt(session.settings.stopRequested);
    if (!output::saveCommand(frame, dialog, {}, &outcome)) return 2;
    frame.waitForJob();
    return outcome.complete() ? 0 : 1;
}

}  // namespace dunmore::cli
