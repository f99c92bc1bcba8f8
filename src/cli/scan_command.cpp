// `dunmore scan`: the Open command on a data folder, then the tree it built with the
// tags of its nodes.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/table_report.h"

#include <cstdio>

namespace dunmore::cli {

namespace {

void printNode(const core::CheckTree& tree, core::CheckTree::NodeId id, int depth) {
    const auto& node = tree.node(id);
    std::printf("%*s%s [%d]\n", depth * 2, "", node.text.c_str(), node.tag);
    for (auto child : node.children) printNode(tree, child, depth + 1);
}

}  // namespace

int runScan(const CommonOptions& options) {
    CliSession session(options);
    session.frontend.setQuietMessages(true);
    if (const int status = session.scan(); status != 0) return status;
    std::printf("\n");
    for (auto root : session.frame.tree.roots()) printNode(session.frame.tree, root, 0);
    printTableReport(session.frame);
    // Only a log that holds the scan is named.
    if (!session.frame.logFile.failed())
        std::printf("\nLog file: %s\n", session.settings.logFilePath.c_str());
    return session.finish(0);
}

}  // namespace dunmore::cli
