// The Save Database dialog's logic against a real server and a port where nothing listens.
#include "output/save_dialog_model.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

namespace dunmore::output {
namespace {

using test::TestServer;
using Messages = std::vector<std::string>;

void fillReachable(SaveDialogModel& dialog) {
    dialog.server = "127.0.0.1";
    dialog.port = test::sharedServer().port();
    dialog.user = TestServer::kUser;
    dialog.password = TestServer::kPassword;
}

TEST(SaveDialogModel, InitialStateAndModes) {
    SaveDialogModel dialog;
    dialog.server = "elsewhere";
    dialog.folder = "/tmp/x";
    dialog.selectScriptMode();
    dialog.initialise();
    EXPECT_EQ(dialog.server, "127.0.0.1");
    EXPECT_EQ(dialog.port, "3306");
    EXPECT_EQ(dialog.user, "root");
    EXPECT_EQ(dialog.password, "");
    EXPECT_EQ(dialog.folder, "");
    EXPECT_EQ(dialog.mode(), SavingMode::Server);
    EXPECT_FALSE(dialog.connectionTested());
    EXPECT_TRUE(dialog.serverControlsEnabled());
    EXPECT_FALSE(dialog.folderControlsEnabled());
    dialog.selectScriptMode();
    EXPECT_FALSE(dialog.serverControlsEnabled());
    EXPECT_TRUE(dialog.folderControlsEnabled());
}

TEST(SaveDialogModel, FieldChecksInTheirOrder) {
    struct Case {
        const char* name;
        const char* server;
        const char* user;
        const char* port;
        std::string_view message;
    };
    const Case cases[] = {
        {"all empty", "", "", "", kEnterServerName},
        {"no server", "", "root", "3306", kEnterServerName},
        {"no user, no port", "h", "", "", kEnterUserName},
        {"no port", "h", "root", "", kEnterPortNumber},
    };
    int tests = 0;
    SaveDialogModel dialog([&](auto, auto, auto, auto) {
        ++tests;
        return ConnectionTestResult{ConnectionTestOutcome::Connected, {}};
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialog.server = c.server;
        dialog.user = c.user;
        dialog.port = c.port;
        EXPECT_EQ(dialog.testConnection(), Messages{std::string(c.message)});
        EXPECT_FALSE(dialog.connectionTested());
    }
    EXPECT_EQ(tests, 0);
}

TEST(SaveDialogModel, OkWithoutTestAgainstAReachableServerNeedsASecondOk) {
    SaveDialogModel dialog;
    fillReachable(dialog);
    core::AppSettings settings;
    settings.savingScript = true;
    settings.savingFolder = "/kept";
    const auto first = dialog.ok(settings);
    EXPECT_EQ(first.messages, Messages{"Connection is successful"});
    EXPECT_FALSE(first.accept);
    EXPECT_TRUE(dialog.connectionTested());
    EXPECT_FALSE(settings.savingScript);
    EXPECT_TRUE(settings.savingToServer);
    EXPECT_EQ(settings.serverPort, dialog.port);
    EXPECT_EQ(settings.userName, TestServer::kUser);
    EXPECT_EQ(settings.userPassword, TestServer::kPassword);

    const auto second = dialog.ok(settings);
    EXPECT_TRUE(second.messages.empty());
    EXPECT_TRUE(second.accept);
    EXPECT_EQ(settings.serverName, "127.0.0.1");
    EXPECT_EQ(settings.savingFolder, "/kept");  // server mode leaves it as it was
}

TEST(SaveDialogModel, UnreachableServerShowsTheDriverErrorThenRefusesOk) {
    SaveDialogModel dialog;
    dialog.port = std::to_string(TestServer::freePort());
    core::AppSettings settings;
    const auto result = dialog.ok(settings);
    ASSERT_EQ(result.messages.size(), 2u);
    EXPECT_NE(result.messages[0].find("Can't connect"), std::string::npos) << result.messages[0];
    EXPECT_TRUE(result.messages[0].ends_with("\n"));
    EXPECT_EQ(result.messages[1], kTestUnsuccessful);
    EXPECT_FALSE(result.accept);
    EXPECT_FALSE(settings.savingToServer);
    EXPECT_FALSE(dialog.connectionTested());
}

TEST(SaveDialogModel, TestOutcomesAndTheFlag) {
    SaveDialogModel dialog;
    fillReachable(dialog);
    EXPECT_EQ(dialog.testConnection(), Messages{"Connection is successful"});
    EXPECT_TRUE(dialog.connectionTested());
    // A later error leaves the flag as it was; so does editing the fields.
    dialog.port = std::to_string(TestServer::freePort());
    const Messages error = dialog.testConnection();
    ASSERT_EQ(error.size(), 1u);
    EXPECT_NE(error[0].find("Can't connect"), std::string::npos);
    EXPECT_TRUE(dialog.connectionTested());
    // A wrong password is an error too, with the server's words and not the password.
    fillReachable(dialog);
    dialog.password = "not-it-at-all";
    const Messages denied = dialog.testConnection();
    ASSERT_EQ(denied.size(), 1u);
    EXPECT_NE(denied[0].find("Access denied"), std::string::npos) << denied[0];
    EXPECT_EQ(denied[0].find("not-it-at-all"), std::string::npos);

    // The driver returning without success and without an error record clears the flag.
    // (MariaDB's driver always leaves an error record; the outcome is scripted here.)
    SaveDialogModel quiet([](auto, auto, auto, auto) {
        return ConnectionTestResult{ConnectionTestOutcome::NotConnected, {}};
    });
    EXPECT_EQ(quiet.testConnection(), Messages{"Connection is Failed"});
    EXPECT_FALSE(quiet.connectionTested());
}

TEST(SaveDialogModel, ScriptModeNeedsAFolder) {
    SaveDialogModel dialog;
    dialog.selectScriptMode();
    core::AppSettings settings;
    settings.savingToServer = true;
    auto result = dialog.ok(settings);
    EXPECT_EQ(result.messages, Messages{"Please select valid destination folder path."});
    EXPECT_FALSE(result.accept);
    EXPECT_TRUE(settings.savingScript);
    EXPECT_FALSE(settings.savingToServer);

    dialog.folderChosen("/srv/out");
    result = dialog.ok(settings);
    EXPECT_TRUE(result.accept);
    EXPECT_EQ(settings.savingFolder, "/srv/out");
    // Cancelling the browser afterwards empties the folder again.
    dialog.folderChosen(std::nullopt);
    EXPECT_EQ(dialog.folder, "");
    EXPECT_FALSE(dialog.ok(settings).accept);
}

}  // namespace
}  // namespace dunmore::output
