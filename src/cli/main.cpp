// The `dunmore` command line: the same jobs as the desktop window, for servers without
// one. Exit status: 0 all selected items done, 1 some item failed, 2 bad usage or an
// unreadable data folder.
#include "cli/commands.h"
#include "schema/collation_table.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace {

std::filesystem::path executableDir(const char* argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv0, ec);
    return self.parent_path();
}

void addCommon(CLI::App* cmd, dunmore::cli::CommonOptions& o) {
    cmd->add_option("DATADIR", o.dataDir, "MySQL data folder")->required();
    cmd->add_option("--log-folder", o.logFolder, "folder for the log file (default: current)");
    cmd->add_option("--ibdata1", o.ibdata1, "ibdata1 to use when the data folder's cannot be opened");
}

void addServer(CLI::App* cmd, dunmore::cli::ServerOptions& o) {
    cmd->add_option("--server", o.server, "server host name or address")->required();
    cmd->add_option("--port", o.port, "server TCP port")->required();
    cmd->add_option("--user", o.user, "user name")->required();
    auto* file = cmd->add_option("--password-file", o.passwordFile, "file holding the password");
    auto* env = cmd->add_option("--password-env", o.passwordEnv,
                                "environment variable holding the password");
    auto* prompt = cmd->add_flag("-p,--password-prompt", o.prompt, "ask for the password on the terminal");
    file->excludes(env)->excludes(prompt);
    env->excludes(prompt);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace dunmore::cli;
    dunmore::schema::loadApplicationCollations(executableDir(argv[0]));

    CLI::App app{"dunmore: recover MySQL and MariaDB databases from the files of a data folder"};
    app.require_subcommand(1);

    CommonOptions scanOptions;
    auto* scan = app.add_subcommand("scan", "list the databases, tables, views and triggers");
    addCommon(scan, scanOptions);

    CommonOptions schemaOptions;
    std::string schemaTable;
    auto* schema = app.add_subcommand("schema", "print the CREATE TABLE statement of a table");
    addCommon(schema, schemaOptions);
    schema->add_option("TABLE", schemaTable, "DB.TABLE")->required();

    CommonOptions previewOptions;
    std::string previewItem;
    int previewPage = 1;
    auto* preview = app.add_subcommand("preview", "print one preview page of a table, view or trigger");
    addCommon(preview, previewOptions);
    preview->add_option("ITEM", previewItem, "DB.NAME or DB.NAME.Keys")->required();
    preview->add_option("--page", previewPage, "page number, from 1")->check(CLI::PositiveNumber);

    CommonOptions saveOptions;
    std::string outDir;
    std::vector<std::string> items;
    auto* save = app.add_subcommand("save-script", "save tables, views and triggers as SQL scripts");
    addCommon(save, saveOptions);
    save->add_option("OUTDIR", outDir, "folder that receives Scriptdata/")->required();
    save->add_option("ITEM", items, "DB or DB.NAME; none: every database");
    save->add_option("--jobs", saveOptions.jobs,
                     "threads of the save (default: one per core; 1: single-threaded)")
        ->check(CLI::PositiveNumber);
    std::string target = "mysql";
    save->add_option("--target", target,
                     "server the scripts are for: mysql keeps MySQL 8 collations, mariadb writes "
                     "the nearest MariaDB ones")
        ->check(CLI::IsMember({"mysql", "mariadb"}));

    CommonOptions serverSaveOptions;
    ServerOptions serverSave;
    std::vector<std::string> serverItems;
    auto* saveServer = app.add_subcommand("save-server", "save tables, views and triggers into a live server");
    addCommon(saveServer, serverSaveOptions);
    saveServer->add_option("ITEM", serverItems, "DB or DB.NAME; none: every database");
    addServer(saveServer, serverSave);

    ServerOptions connectionTest;
    auto* testConnection = app.add_subcommand("test-connection", "test the login to a server");
    addServer(testConnection, connectionTest);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (*scan) return runScan(scanOptions);
    if (*schema) return runSchema(schemaOptions, schemaTable);
    if (*preview) return runPreview(previewOptions, previewItem, previewPage);
    if (*save) return runSaveScript(saveOptions, outDir, items, target == "mariadb");
    if (*saveServer) return runSaveServer(serverSaveOptions, serverSave, serverItems);
    if (*testConnection) return runTestConnection(connectionTest);
    return 2;
}
