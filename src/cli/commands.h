#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::cli {

// Options every command shares.
struct CommonOptions {
    std::string dataDir;
    std::string logFolder;  // empty: the current directory
    std::string ibdata1;    // the answer to "browse ibdata1 manually"
    std::uint32_t jobs = 0;  // save-script --jobs: threads of the save, 0 = one per core
};

// The server options of save-server and test-connection. The password comes from a
// file (its first line end dropped), an environment variable or a prompt on the
// terminal; none of them: an empty password.
struct ServerOptions {
    std::string server;
    std::string port;
    std::string user;
    std::string passwordFile;
    std::string passwordEnv;
    bool prompt = false;
};

// Each command returns the process exit status: 0 all selected items done, 1 some item
// failed (see the log), 2 bad usage or unreadable data folder.
int runScan(const CommonOptions& options);
int runSchema(const CommonOptions& options, const std::string& table);
int runPreview(const CommonOptions& options, const std::string& item, int page);
// targetMariadb: the scripts are for a MariaDB server (MySQL 8 collations are written as
// the nearest MariaDB ones).
int runSaveScript(const CommonOptions& options, const std::string& outDir,
                  const std::vector<std::string>& items, bool targetMariadb = false);
// 0 when the server accepted the login, 1 when not (the reason on standard error).
int runTestConnection(const ServerOptions& options);
int runSaveServer(const CommonOptions& options, const ServerOptions& server,
                  const std::vector<std::string>& items);

}  // namespace dunmore::cli
