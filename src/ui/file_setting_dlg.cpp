#include "ui/file_setting_dlg.h"

#include "ui/icons.h"
#include "ui/message_box.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "core/main_frame.h"

namespace dunmore::ui {

QString withSeparator(QString path) {
    if (!path.endsWith('/')) path += '/';
    return path;
}

namespace {

QString pickFolder(QWidget* parent, const QString& title) {
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}

QLineEdit* folderRow(QVBoxLayout* outer, QWidget* parent, const QString& title, QPushButton*& browse) {
    auto* group = new QGroupBox(title, parent);
    auto* row = new QHBoxLayout(group);
    auto* edit = new QLineEdit(group);
    edit->setMinimumWidth(460);
    browse = new QPushButton("...", group);
    browse->setAutoDefault(false);
    browse->setFixedWidth(40);
    row->addWidget(edit, 1);
    row->addWidget(browse);
    outer->addWidget(group);
    return edit;
}

}  // namespace

QString CKestrelFileSettingDlg::defaultLogFolder() {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty()) desktop = QDir::homePath() + "/Desktop";
    QDir().mkpath(desktop);
    return desktop;
}

CKestrelFileSettingDlg::CKestrelFileSettingDlg(core::AppSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle("Select Database File");
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    QPushButton *dataBrowse = nullptr, *tempBrowse = nullptr, *logBrowse = nullptr;
    m_data = folderRow(outer, this, "Select MySQL Database File:", dataBrowse);
    m_temp = folderRow(outer, this, "Select Temporary Path:", tempBrowse);
    m_log = folderRow(outer, this, "Select Log File Path:", logBrowse);
    dataBrowse->setObjectName("browseData");
    tempBrowse->setObjectName("browseTemp");
    logBrowse->setObjectName("browseLog");
    m_temp->setText(withSeparator(QDir::tempPath()));
    m_log->setText(withSeparator(defaultLogFolder()));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_ok = new QPushButton(makeIcon(IconKind::Ok), "OK", this);
    m_cancel = new QPushButton(makeIcon(IconKind::Cancel), "Cancel", this);
    for (auto* b : {m_ok, m_cancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setMinimumWidth(96);
        buttons->addWidget(b);
    }
    outer->addLayout(buttons);

    connect(dataBrowse, &QPushButton::clicked, this, &CKestrelFileSettingDlg::browseData);
    connect(tempBrowse, &QPushButton::clicked, this, &CKestrelFileSettingDlg::browseTemp);
    connect(logBrowse, &QPushButton::clicked, this, &CKestrelFileSettingDlg::browseLog);
    connect(m_ok, &QPushButton::clicked, this, &CKestrelFileSettingDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_cancelled = true;
        reject();
    });
}

void CKestrelFileSettingDlg::keyPressEvent(QKeyEvent* event) {
    // Only the buttons close the dialog.
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Enter:
        case Qt::Key_Return:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CKestrelFileSettingDlg::reject() {
    if (!m_cancelled) return;
    m_cancelled = false;
    QDialog::reject();
}

void CKestrelFileSettingDlg::browseData() {
    const QString chosen = pickFolder(this, "Select location to choose database file.");
    if (!chosen.isEmpty()) m_data->setText(withSeparator(chosen));
}

void CKestrelFileSettingDlg::browseTemp() {
    const QString chosen = pickFolder(this, "Select location for temporary path.");
    if (!chosen.isEmpty()) m_temp->setText(withSeparator(chosen));
}

void CKestrelFileSettingDlg::browseLog() {
    const QString chosen = pickFolder(this, "Select location to save Log file.").trimmed();
    if (!chosen.isEmpty() && QFileInfo(chosen).isDir()) m_log->setText(chosen);
}

void CKestrelFileSettingDlg::accept() {
    const QString data = m_data->text();
    const QString temp = m_temp->text();
    const QString log = m_log->text();
    if (data.isEmpty() || !QFileInfo(data).isDir()) {
        informationBox(this, "Please select valid database file path to continue the recovery process.");
        return;
    }
    // The temporary folder only has to exist.
    if (temp.isEmpty() || !QFileInfo::exists(temp)) {
        informationBox(this, "Please select valid temporary file path to continue the recovery process.");
        return;
    }
    if (log.isEmpty() || !QFileInfo(log).isDir()) {
        informationBox(this, "Please select valid Log file path to continue the recovery process.");
        return;
    }
    // The data folder is only ever read: a log inside it would change the source.
    const QString dataPath = withSeparator(QDir::cleanPath(QFileInfo(data).absoluteFilePath()));
    const QString logPath = withSeparator(QDir::cleanPath(QFileInfo(log).absoluteFilePath()));
    if (logPath.startsWith(dataPath)) {
        informationBox(this, "The log folder is inside the data folder, which is never written "
                             "to. Please select another Log file path.");
        return;
    }
    m_settings.chosenFolder = dataPath.toStdString();
    m_settings.tempFolder = withSeparator(QDir::cleanPath(QFileInfo(temp).absoluteFilePath())).toStdString();
    m_settings.logFolder = logPath.toStdString();
    QDialog::accept();
}

}  // namespace dunmore::ui
