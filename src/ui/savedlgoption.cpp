#include "ui/savedlgoption.h"

#include "ui/icons.h"
#include "ui/message_box.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace dunmore::ui {

savedlgoption::savedlgoption(core::AppSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle("Save Database");
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(new QLabel("Choose the saving mode and click OK button to continue the process", this));

    auto* serverBox = new QGroupBox(this);
    auto* serverLayout = new QVBoxLayout(serverBox);
    m_serverMode = new QRadioButton("Save in database", serverBox);
    serverLayout->addWidget(m_serverMode);
    auto* form = new QFormLayout;
    m_server = new QLineEdit(serverBox);
    m_port = new QLineEdit(serverBox);
    m_user = new QLineEdit(serverBox);
    m_password = new QLineEdit(serverBox);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow("Server:", m_server);
    form->addRow("Port:", m_port);
    form->addRow("User:", m_user);
    form->addRow("Password:", m_password);
    serverLayout->addLayout(form);
    m_test = new QPushButton(makeIcon(IconKind::TestConnection), "Test Connection", serverBox);
    m_test->setToolTip("Test connection");
    auto* testRow = new QHBoxLayout;
    testRow->addStretch(1);
    testRow->addWidget(m_test);
    serverLayout->addLayout(testRow);
    outer->addWidget(serverBox);

    auto* scriptBox = new QGroupBox(this);
    auto* scriptLayout = new QVBoxLayout(scriptBox);
    m_scriptMode = new QRadioButton("Save as Script", scriptBox);
    scriptLayout->addWidget(m_scriptMode);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel("Saving Folder:", scriptBox));
    m_folder = new QLineEdit(scriptBox);
    m_folder->setReadOnly(true);
    m_folder->setMinimumWidth(360);
    m_browse = new QPushButton("...", scriptBox);
    m_browse->setFixedWidth(40);
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_browse);
    scriptLayout->addLayout(folderRow);
    outer->addWidget(scriptBox);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_ok = new QPushButton(makeIcon(IconKind::Ok), "OK", this);
    m_ok->setToolTip("OK");
    m_cancel = new QPushButton(makeIcon(IconKind::Cancel), "Cancel", this);
    m_cancel->setToolTip("Cancel");
    for (auto* b : {m_test, m_browse, m_ok, m_cancel}) b->setAutoDefault(false);
    m_ok->setMinimumWidth(96);
    m_cancel->setMinimumWidth(96);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    outer->addLayout(buttons);

    connect(m_serverMode, &QRadioButton::clicked, this, &savedlgoption::selectServerMode);
    connect(m_scriptMode, &QRadioButton::clicked, this, &savedlgoption::selectScriptMode);
    connect(m_test, &QPushButton::clicked, this, &savedlgoption::testConnection);
    connect(m_browse, &QPushButton::clicked, this, &savedlgoption::browse);
    connect(m_ok, &QPushButton::clicked, this, &savedlgoption::onOk);
    connect(m_cancel, &QPushButton::clicked, this, &savedlgoption::reject);
}

int savedlgoption::exec() {
    initialise();
    return QDialog::exec();
}

void savedlgoption::initialise() {
    m_server->setText("localhost");
    m_port->setText("3306");
    m_user->setText("root");
    m_password->clear();
    m_folder->clear();
    selectServerMode();
    m_tested = false;
}

void savedlgoption::selectServerMode() {
    m_serverMode->setChecked(true);
    m_scriptMode->setChecked(false);
    m_folder->setEnabled(false);
    m_browse->setEnabled(false);
    for (auto* w : {m_server, m_port, m_user, m_password}) w->setEnabled(true);
    m_test->setEnabled(true);
}

void savedlgoption::selectScriptMode() {
    m_serverMode->setChecked(false);
    m_scriptMode->setChecked(true);
    m_folder->setEnabled(true);
    m_browse->setEnabled(true);
    for (auto* w : {m_server, m_port, m_user, m_password}) w->setEnabled(false);
    m_test->setEnabled(false);
}

void savedlgoption::browse() {
    const QString chosen =
        QFileDialog::getExistingDirectory(this, "Please choose a folder.", QString(), QFileDialog::ShowDirsOnly);
    m_folder->setText(chosen);
}

void savedlgoption::testConnection() {
    if (m_server->text().isEmpty()) return informationBox(this, "Please enter Server name.");
    if (m_user->text().isEmpty()) return informationBox(this, "Please enter user name.");
    if (m_port->text().isEmpty()) return informationBox(this, "Please enter port number.");
    ConnectionTestResult result;
    if (m_tester) {
        result = m_tester(m_server->text().toStdString(), m_port->text().toStdString(),
                          m_user->text().toStdString(), m_password->text().toStdString());
    } else {
        result = {ConnectionTestResult::Kind::Error, "Saving into a server is not available in this build."};
    }
    switch (result.kind) {
        case ConnectionTestResult::Kind::Success:
            informationBox(this, "Connection is successful");
            m_tested = true;
            break;
        case ConnectionTestResult::Kind::Failed:
            informationBox(this, "Connection is Failed");
            m_tested = false;
            break;
        case ConnectionTestResult::Kind::Error:
            informationBox(this, QString::fromStdString(result.description) + "\n");
            break;
    }
}

void savedlgoption::storeServerSettings() {
    m_settings.savingToServer = true;
    m_settings.serverName = m_server->text().toStdString();
    m_settings.userName = m_user->text().toStdString();
    m_settings.serverPort = m_port->text().toStdString();
    m_settings.userPassword = m_password->text().toStdString();
}

void savedlgoption::onOk() {
    if (m_serverMode->isChecked()) {
        m_settings.savingScript = false;
        if (!m_tested) {
            testConnection();
            if (m_tested)
                storeServerSettings();
            else
                informationBox(this, "Test connection is unsuccessful.Saving in database cannot be done.");
            return;
        }
        storeServerSettings();
        accept();
        return;
    }
    m_settings.savingScript = true;
    m_settings.savingToServer = false;
    if (m_folder->text().isEmpty()) return informationBox(this, "Please select valid destination folder path.");
    m_settings.savingFolder = m_folder->text().toStdString();
    accept();
}

}  // namespace dunmore::ui
