#pragma once

#include "core/settings.h"

#include <QApplication>

#include <memory>

namespace dunmore::ui {

class CMainFrame;

// The application object: the settings and flags of the run and the collation table,
// then the main window, shown maximised.
class CKestrelHarborApp {
public:
    CKestrelHarborApp(int& argc, char** argv);
    ~CKestrelHarborApp();
    int run();

    core::AppSettings settings;

private:
    QApplication m_app;
    std::unique_ptr<CMainFrame> m_window;
};

// Creates the named object that marks a running instance (it is never tested: a second
// instance starts normally). Safe to call more than once.
void markRunningInstance();

}  // namespace dunmore::ui
