#pragma once

#include "core/settings.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace dunmore::ui {

// The "Select Database File" dialog of the Open command: the data folder (empty at every
// opening), the temporary folder (the system's) and the log folder (the desktop, created
// when missing). OK checks the three folders in this order, says which one is not valid
// and stays open; once all three are valid it stores them, each ending with the
// separator, as chosenFolder, tempFolder and logFolder. Enter and Escape do nothing.
class CKestrelFileSettingDlg : public QDialog {
    Q_OBJECT
public:
    CKestrelFileSettingDlg(core::AppSettings& settings, QWidget* parent = nullptr);

    QLineEdit* dataFolderEdit() const { return m_data; }
    QLineEdit* tempFolderEdit() const { return m_temp; }
    QLineEdit* logFolderEdit() const { return m_log; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    // The folder the log edit starts with: the desktop folder, created when missing.
    static QString defaultLogFolder();

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void browseData();
    void browseTemp();
    void browseLog();
    void accept() override;

    core::AppSettings& m_settings;
    QLineEdit* m_data;
    QLineEdit* m_temp;
    QLineEdit* m_log;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_cancelled = false;
};

// A folder path with the separator at its end.
QString withSeparator(QString path);

}  // namespace dunmore::ui
