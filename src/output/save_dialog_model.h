#pragma once

#include "core/settings.h"
#include "output/server_connection.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::output {

enum class SavingMode { Server, Script };

// Message-box texts of the Save Database dialog.
inline constexpr std::string_view kEnterServerName = "Please enter Server name.";
inline constexpr std::string_view kEnterUserName = "Please enter user name.";
inline constexpr std::string_view kEnterPortNumber = "Please enter port number.";
inline constexpr std::string_view kConnectionSuccessful = "Connection is successful";
inline constexpr std::string_view kConnectionFailed = "Connection is Failed";
inline constexpr std::string_view kTestUnsuccessful =
    "Test connection is unsuccessful.Saving in database cannot be done.";
inline constexpr std::string_view kSelectDestinationFolder =
    "Please select valid destination folder path.";
inline constexpr std::string_view kChooseFolderTitle = "Please choose a folder.";

// The logic of the Save Database dialog, without widgets: the fields, the saving mode
// with the controls it enables, the connection test with its three outcomes, the
// connection-tested flag and OK in both modes. The window shows the fields, calls the
// handlers and shows the returned message-box texts in order (each blocks until
// dismissed); it closes with OK only when ok() says so.
class SaveDialogModel {
public:
    // Opens a connection with (server, port, user, password) and closes it again.
    using ConnectionTester = std::function<ConnectionTestResult(
        std::string_view server, std::string_view port, std::string_view user,
        std::string_view password)>;

    // The tester defaults to ServerConnection::testConnection.
    explicit SaveDialogModel(ConnectionTester tester = {});

    // Each time the dialog is shown: server "127.0.0.1" (the loopback address, so that
    // the port is used: the driver takes "localhost" as its local socket), port "3306",
    // user "root", password and folder empty, server mode, not tested.
    void initialise();

    // The fields as typed (the window writes them before calling a handler).
    std::string server;
    std::string port;
    std::string user;
    std::string password;
    // Read-only in the window; filled by the folder browser (folderChosen).
    std::string folder;

    SavingMode mode() const { return m_mode; }
    // Radio buttons: only which controls are enabled changes.
    void selectServerMode() { m_mode = SavingMode::Server; }
    void selectScriptMode() { m_mode = SavingMode::Script; }
    // The server, port, user and password edits and Test Connection.
    bool serverControlsEnabled() const { return m_mode == SavingMode::Server; }
    // The folder edit and the browse button.
    bool folderControlsEnabled() const { return m_mode == SavingMode::Script; }

    // The folder browser ended: the chosen file-system path, or nullopt when it was
    // cancelled or the choice has no path (the folder field is emptied then).
    void folderChosen(std::optional<std::string> path);

    // Test Connection. The field checks in their order (server, user, port; the password
    // may be empty), then the test: "Connection is successful" and the flag set;
    // "Connection is Failed" and the flag cleared; or the driver's error description
    // and a line break, the flag unchanged. Returns the message-box texts in order.
    std::vector<std::string> testConnection();
    bool connectionTested() const { return m_tested; }

    struct OkResult {
        std::vector<std::string> messages;  // to show in order
        bool accept = false;                // close the dialog with OK
    };
    // OK. Server mode: savingScript cleared; when not tested yet, the test runs: success
    // stores the server settings and keeps the dialog open for a second OK; failure adds
    // "Test connection is unsuccessful.Saving in database cannot be done." and keeps it
    // open. Already tested: the settings are stored (savingToServer and the four server
    // texts) and the dialog closes. Script mode: savingScript set, savingToServer
    // cleared; without a folder "Please select valid destination folder path." keeps the
    // dialog open, otherwise savingFolder is set and the dialog closes. savingFolder is
    // written only in script mode.
    OkResult ok(core::AppSettings& settings);

private:
    void storeServerSettings(core::AppSettings& settings) const;

    ConnectionTester m_tester;
    SavingMode m_mode = SavingMode::Server;
    bool m_tested = false;
};

}  // namespace dunmore::output
