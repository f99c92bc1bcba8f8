// `dunmore test-connection`: the connection test of the Save Database dialog. The password is read from a file,
// from an environment variable or from the terminal, never from the command line, and is
// never printed.
#include "cli/commands.h"
#include "output/save_dialog_model.h"

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

}  // namespace dunmore::cli
