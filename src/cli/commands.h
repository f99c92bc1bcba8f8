#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::cli {

// Options every command shares.
struct CommonOptions {
    std::string dataDir;
    std::string logFolder;         // --log-folder; empty: defaultLogFolder
    std::string defaultLogFolder;  // empty: the user's state folder ($XDG_STATE_HOME/dunmore)
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
int runScan(const CommonOptions& options, bool json);
int runSchema(const CommonOptions& options, const std::string& table);

enum class PreviewFormat { Tsv, Json };
int runPreview(const CommonOptions& options, const std::string& item, const std::string& page,
               PreviewFormat format);

struct SaveScriptOptions {
    std::string outDir;
    std::vector<std::string> items;
    std::uint32_t rowsPerInsert = 1;  // rows per INSERT statement
    bool blobsInline = false;         // long values as literals instead of blob files
    bool overwrite = false;           // replace a Scriptdata folder that holds files
    // The scripts are for a MariaDB server (MySQL 8 collations are written as the nearest
    // MariaDB ones).
    bool targetMariadb = false;
};
int runSaveScript(CommonOptions options, const SaveScriptOptions& save);
// The damage report of the items (none: every database), saving nothing: 0 when every
// item reads completely, 1 when some item would not save completely.
int runCheck(const CommonOptions& options, const std::vector<std::string>& items);
// 0 when the server accepted the login, 1 when not (the reason on standard error).
int runTestConnection(const ServerOptions& options);
int runSaveServer(const CommonOptions& options, const ServerOptions& server,
                  const std::vector<std::string>& items);

}  // namespace dunmore::cli
