#include "output/save_dialog_model.h"

namespace dunmore::output {

SaveDialogModel::SaveDialogModel(ConnectionTester tester) : m_tester(std::move(tester)) {
    if (!m_tester)
        m_tester = [](std::string_view s, std::string_view p, std::string_view u,
                      std::string_view w) { return ServerConnection::testConnection(s, p, u, w); };
    initialise();
}

void SaveDialogModel::initialise() {
    server = "127.0.0.1";
    port = "3306";
    user = "root";
    password.clear();
    folder.clear();
    m_mode = SavingMode::Server;
    m_tested = false;
}

void SaveDialogModel::folderChosen(std::optional<std::string> path) {
    folder = path.value_or(std::string());
}

std::vector<std::string> SaveDialogModel::testConnection() {
    if (server.empty()) return {std::string(kEnterServerName)};
    if (user.empty()) return {std::string(kEnterUserName)};
    if (port.empty()) return {std::string(kEnterPortNumber)};
    const ConnectionTestResult result = m_tester(server, port, user, password);
    switch (result.outcome) {
        case ConnectionTestOutcome::Connected:
            m_tested = true;
            return {std::string(kConnectionSuccessful)};
        case ConnectionTestOutcome::NotConnected:
            m_tested = false;
            return {std::string(kConnectionFailed)};
        case ConnectionTestOutcome::Error:
            break;
    }
    return {result.errorText + "\n"};
}

void SaveDialogModel::storeServerSettings(core::AppSettings& settings) const {
    settings.savingToServer = true;
    settings.serverName = server;
    settings.userName = user;
    settings.serverPort = port;
    settings.userPassword = password;
}

SaveDialogModel::OkResult SaveDialogModel::ok(core::AppSettings& settings) {
    OkResult result;
    if (m_mode == SavingMode::Server) {
        settings.savingScript = false;
        if (m_tested) {
            storeServerSettings(settings);
            result.accept = true;
            return result;
        }
        result.messages = testConnection();
        if (m_tested)
            storeServerSettings(settings);
        else
            result.messages.emplace_back(kTestUnsuccessful);
        return result;
    }
    settings.savingScript = true;
    settings.savingToServer = false;
    if (folder.empty()) {
        result.messages.emplace_back(kSelectDestinationFolder);
        return result;
    }
    settings.savingFolder = folder;
    result.accept = true;
    return result;
}

}  // namespace dunmore::output
