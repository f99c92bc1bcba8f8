#pragma once

#include "core/settings.h"
#include "output/save_dialog_model.h"

#include <QDialog>


class QLineEdit;
class QPushButton;
class QRadioButton;

namespace dunmore::ui {

// The "Save Database" dialog: the widgets over the dialog's logic (SaveDialogModel).
// Save into a MySQL server (server, port, user, password, Test Connection) or as script
// files (a folder chosen with the browse button); OK stores the choice in the
// application settings. Its controls are reset every time it is shown.
class savedlgoption : public QDialog {
    Q_OBJECT
public:
    savedlgoption(core::AppSettings& settings, QWidget* parent = nullptr);

    // The test behind Test Connection (tests point it elsewhere); by default the
    // server connection's own test.
    void setConnectionTester(output::SaveDialogModel::ConnectionTester tester);

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
    bool connectionTested() const { return m_model.connectionTested(); }

private:
    void initialise();
    void showMode();
    // The edits' texts into the model before a handler runs.
    void readFields();
    void showMessages(const std::vector<std::string>& messages);
    void testConnection();
    void browse();
    void onOk();

    core::AppSettings& m_settings;
    output::SaveDialogModel m_model;
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
