// `dunmore test-connection` and `dunmore save-server`: the connection test of the Save
// Database dialog and the Save command in server mode. The password is read from a file,
// from an environment variable or from the terminal, never from the command line, and is
// never printed.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "output/save_dialog_model.h"
#include "output/script_save_job.h"
#include "output/server_save_job.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace dunmore::cli {

namespace {

// Reads a line from the terminal with echo off.
bool promptPassword(std::string& password) {
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (tty == nullptr) return false;
    const int fd = ::fileno(tty);
    termios saved{};
    const bool isTerminal = ::tcgetattr(fd, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::fputs("Password: ", tty);
    std::fflush(tty);
    password.clear();
    for (int c = std::fgetc(tty); c != EOF && c != '\n'; c = std::fgetc(tty))
        password.push_back(static_cast<char>(c));
    if (isTerminal) ::tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", tty);
    std::fclose(tty);
    return true;
}

// The password the options name; false (with a message that does not show it) when
// its source cannot be read.
bool readPassword(const ServerOptions& options, std::string& password) {
    password.clear();
    if (!options.passwordFile.empty()) {
        std::ifstream in(options.passwordFile, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "dunmore: cannot read the password file '%s'\n",
                         options.passwordFile.c_str());
            return false;
        }
        std::ostringstream text;
        text << in.rdbuf();
        password = text.str();
        // The file's line end is not part of the password.
        if (!password.empty() && password.back() == '\n') password.pop_back();
        if (!password.empty() && password.back() == '\r') password.pop_back();
        return true;
    }
    if (!options.passwordEnv.empty()) {
        const char* value = std::getenv(options.passwordEnv.c_str());
        if (value == nullptr) {
            std::fprintf(stderr, "dunmore: the environment variable '%s' is not set\n",
                         options.passwordEnv.c_str());
            return false;
        }
        password = value;
        return true;
    }
    if (options.prompt && !promptPassword(password)) {
        std::fprintf(stderr, "dunmore: no terminal to read the password from\n");
        return false;
    }
    return true;
}

// The dialog's fields from the options; every message it gives goes to standard error.
void fillDialog(output::SaveDialogModel& dialog, const ServerOptions& options,
                const std::string& password) {
    dialog.server = options.server;
    dialog.port = options.port;
    dialog.user = options.user;
    dialog.password = password;
}

void printMessages(const std::vector<std::string>& messages) {
    for (std::string text : messages) {
        while (!text.empty() && text.back() == '\n') text.pop_back();
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

}  // namespace

int runTestConnection(const ServerOptions& options) {
    std::string password;
    if (!readPassword(options, password)) return 2;
    output::SaveDialogModel dialog;
    fillDialog(dialog, options, password);
    printMessages(dialog.testConnection());
    return dialog.connectionTested() ? 0 : 1;
}

int runSaveServer(const CommonOptions& common, const ServerOptions& options,
                  const std::vector<std::string>& items) {
    std::string password;
    if (!readPassword(options, password)) return 2;
    CliSession session(common);
    if (const int status = session.scan(); status != 0) return status;
    core::MainFrame& frame = session.frame;
    if (!checkItems(frame, items)) return 2;

    // The dialog's OK in server mode: the connection is tested, then the settings stored.
    output::SaveDialogModel dialog;
    fillDialog(dialog, options, password);
    bool tested = false;
    const auto dialogStep = [&] {
        const auto first = dialog.ok(session.settings);
        printMessages(first.messages);
        if (!dialog.connectionTested()) return false;
        tested = true;
        return dialog.ok(session.settings).accept;
    };
    output::ServerSaveOutcome outcome;
    const auto job = [&outcome](core::MainFrame& f) { (void)output::runServerSaveJob(f, &outcome); };
    InterruptAsStop interrupt(session.settings.stopRequested);
    if (!output::saveCommand(frame, dialogStep, job)) return tested ? 2 : 1;
    frame.waitForJob();
    return session.finish(outcome.complete() ? 0 : 1);
}

}  // namespace dunmore::cli
