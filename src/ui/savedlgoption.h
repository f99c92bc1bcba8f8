#pragma once

#include "core/settings.h"

#include <QDialog>

#include <functional>
#include <string>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace dunmore::ui {

// What a connection test found: the login was accepted, the open returned without
// success, or it failed with the description the driver gave.
struct ConnectionTestResult {
    enum class Kind { Success, Failed, Error };
    Kind kind = Kind::Failed;
    std::string description;
};
using ConnectionTester = std::function<ConnectionTestResult(
    const std::string& server, const std::string& port, const std::string& user,
    const std::string& password)>;

// The "Save Database" dialog: save into a MySQL server (server, port, user, password,
// Test Connection) or as script files (a folder chosen with the browse button). OK stores
// the choice in the application settings. In server mode the first OK runs the
// connection test when it has not succeeded yet and keeps the dialog open, so that the
// person confirms with a second OK. Its controls are reset every time it is shown.
class savedlgoption : public QDialog {
    Q_OBJECT
public:
    savedlgoption(core::AppSettings& settings, QWidget* parent = nullptr);

    void setConnectionTester(ConnectionTester tester) { m_tester = std::move(tester); }

    // Resets the controls (server mode, defaults, untested) and shows the dialog modally.
    int exec() override;

    QRadioButton* serverMode() const { return m_serverMode; }
    QRadioButton* scriptMode() const { return m_scriptMode; }
    QLineEdit* serverEdit() const { return m_server; }
    QLineEdit* portEdit() const { return m_port; }
    QLineEdit* userEdit() const { return m_user; }
    QLineEdit* passwordEdit() const { return m_password; }
    QLineEdit* folderEdit() const { return m_folder; }
    QPushButton* testButton() const { return m_test; }
    QPushButton* browseButton() const { return m_browse; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    bool connectionTested() const { return m_tested; }

private:
    void initialise();
    void selectServerMode();
    void selectScriptMode();
    void testConnection();
    void browse();
    void onOk();
    void storeServerSettings();

    core::AppSettings& m_settings;
    ConnectionTester m_tester;
    bool m_tested = false;
    QRadioButton* m_serverMode;
    QRadioButton* m_scriptMode;
    QLineEdit* m_server;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_folder;
    QPushButton* m_test;
    QPushButton* m_browse;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

}  // namespace dunmore::ui
