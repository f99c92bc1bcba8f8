#pragma once

// A data folder scanned as the Open command leaves it, with the frame a save job is
// handed (the output module's job tests):
//
//   test::RecordingFrontend frontend;
//   test::ScannedSession s(frontend, fixture.dataDir, logDir);
//   s.check({"shop", "Tables", "orders"});

#include "core/main_frame.h"
#include "core/scan.h"
#include "innodb/dictionary.h"
#include "schema/collation_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>

namespace dunmore::test {

struct ScannedSession {
    core::AppSettings settings;
    core::Frontend& frontendBase;
    core::MainFrame frame;

    ScannedSession(core::Frontend& fe, const std::filesystem::path& dataDir,
                   const std::filesystem::path& logDir)
        : frontendBase(fe), frame(settings, fe) {
        schema::loadApplicationCollations(DUNMORE_BINARY_DIR "/bin");
        settings.chosenFolder = dataDir.string() + "/";
        settings.logFolder = logDir.string() + "/";
        core::ScanHooks hooks;
        hooks.openSystemTablespace = [](core::RecoveryContext& ctx, const std::string& path) {
            return innodb::openSystemTablespace(ctx, path);
        };
        EXPECT_TRUE(core::openCommand(frame, [] { return true; }, hooks));
        frame.waitForJob();
    }

    // Checks the node at the path of texts below the data-folder node.
    void check(std::initializer_list<std::string> path) {
        auto node = frame.tree.node(frame.tree.roots().at(0)).children.at(0);
        for (const auto& text : path) {
            node = frame.tree.findChild(node, text);
            ASSERT_NE(node, core::CheckTree::kNone) << text;
        }
        frame.tree.setCheck(node, true);
    }
};

}  // namespace dunmore::test
