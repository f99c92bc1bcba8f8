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

    connect(m_serverMode, &QRadioButton::clicked, this, [this] {
        m_model.selectServerMode();
        showMode();
    });
    connect(m_scriptMode, &QRadioButton::clicked, this, [this] {
        m_model.selectScriptMode();
        showMode();
    });
    connect(m_test, &QPushButton::clicked, this, &savedlgoption::testConnection);
    connect(m_browse, &QPushButton::clicked, this, &savedlgoption::browse);
    connect(m_ok, &QPushButton::clicked, this, &savedlgoption::onOk);
    connect(m_cancel, &QPushButton::clicked, this, &savedlgoption::reject);
}

void savedlgoption::setConnectionTester(output::SaveDialogModel::ConnectionTester tester) {
    m_model = output::SaveDialogModel(std::move(tester));
}

int savedlgoption::exec() {
    initialise();
    return QDialog::exec();
}

void savedlgoption::initialise() {
    m_model.initialise();
    m_server->setText(QString::fromStdString(m_model.server));
    m_port->setText(QString::fromStdString(m_model.port));
    m_user->setText(QString::fromStdString(m_model.user));
    m_password->setText(QString::fromStdString(m_model.password));
    m_folder->setText(QString::fromStdString(m_model.folder));
    showMode();
}

void savedlgoption::showMode() {
    const bool server = m_model.mode() == output::SavingMode::Server;
    m_serverMode->setChecked(server);
    m_scriptMode->setChecked(!server);
    m_folder->setEnabled(m_model.folderControlsEnabled());
    m_browse->setEnabled(m_model.folderControlsEnabled());
    for (auto* w : {m_server, m_port, m_user, m_password}) w->setEnabled(m_model.serverControlsEnabled());
    m_test->setEnabled(m_model.serverControlsEnabled());
}

void savedlgoption::readFields() {
    m_model.server = m_server->text().toStdString();
    m_model.port = m_port->text().toStdString();
    m_model.user = m_user->text().toStdString();
    m_model.password = m_password->text().toStdString();
}

void savedlgoption::showMessages(const std::vector<std::string>& messages) {
    for (const auto& text : messages) informationBox(this, QString::fromStdString(text));
}

void savedlgoption::browse() {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QString::fromUtf8(output::kChooseFolderTitle.data(), output::kChooseFolderTitle.size()), QString(),
        QFileDialog::ShowDirsOnly);
    m_model.folderChosen(chosen.isEmpty() ? std::nullopt : std::optional<std::string>(chosen.toStdString()));
    m_folder->setText(QString::fromStdString(m_model.folder));
}

void savedlgoption::testConnection() {
    readFields();
    showMessages(m_model.testConnection());
}

void savedlgoption::onOk() {
    readFields();
    m_model.folder = m_folder->text().toStdString();
    const auto result = m_model.ok(m_settings);
    showMessages(result.messages);
    if (result.accept) accept();
}

}  // namespace dunmore::ui
