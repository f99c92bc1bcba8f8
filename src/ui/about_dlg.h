#pragma once

#include <QDialog>

namespace dunmore::ui {

// The About box: a banner, the application title in bold, three links (the project's
// page, support and sales, all within the user guide that ships with Dunmore), one line
// of text and OK. Enter and Escape do nothing; only OK closes it.
class CKestrelAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CKestrelAboutDlg(QWidget* parent = nullptr);

public slots:
    void reject() override {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The banner of the About box and the splash screen, drawn for Dunmore.
QPixmap drawBanner(int width, int height, bool cutCorners);

}  // namespace dunmore::ui
