// The `dunmore` command line: the same jobs as the desktop window, for servers without
// one. Exit status: 0 all selected items done, 1 some item failed, 2 bad usage or an
// unreadable data folder.
#include "cli/commands.h"
#include "schema/collation_table.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifndef DUNMORE_VERSION
#define DUNMORE_VERSION "unknown"
#endif

namespace {

std::filesystem::path executableDir(const char* argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv0, ec);
    return self.parent_path();
}

void addCommon(CLI::App* cmd, dunmore::cli::CommonOptions& o, const char* logDefault) {
    cmd->add_option("DATADIR", o.dataDir, "MySQL or MariaDB data folder (only ever read)")->required();
    cmd->add_option("--log-folder", o.logFolder, std::string("folder for the log file (default: ") + logDefault + ")");
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

constexpr const char* kStateFolder = "$XDG_STATE_HOME/dunmore or ~/.local/state/dunmore";

constexpr const char* kExamples = R"(
Examples:
  dunmore scan /var/lib/mysql                 what the data folder holds
  dunmore scan /var/lib/mysql --json          the same as one JSON document
  dunmore schema /var/lib/mysql shop.orders   the CREATE TABLE statement of a table
  dunmore preview /var/lib/mysql shop.orders --page 2
                                              rows 1001 to 2000, tab-separated, NULL as \N
  dunmore preview /var/lib/mysql shop.orders.Keys
                                              the columns of a table
  dunmore check /var/lib/mysql shop            what of shop is damaged and what a save
                                              would lose, saving nothing
  dunmore save-script /var/lib/mysql ~/rescue shop
                                              every table, view and trigger of shop as
                                              ~/rescue/Scriptdata/shop.sql
  dunmore save-script /var/lib/mysql ~/rescue --rows-per-insert 1000 --blobs inline
                                              scripts that load fast and stand alone

Exit status: 0 everything done, 1 some item failed (see the log), 2 bad usage or an
unreadable data folder. See dunmore(1).)";

}  // namespace

int main(int argc, char** argv) {
    using namespace dunmore::cli;
    dunmore::schema::loadApplicationCollations(executableDir(argv[0]));

    CLI::App app{"dunmore: recover MySQL and MariaDB databases from the files of a data folder,\n"
                 "with no server running"};
    app.set_version_flag("--version", "dunmore " DUNMORE_VERSION);
    app.require_subcommand(1);
    app.footer(kExamples);

    CommonOptions scanOptions;
    bool scanJson = false;
    auto* scan = app.add_subcommand("scan", "list the databases, tables, views and triggers");
    addCommon(scan, scanOptions, kStateFolder);
    scan->add_flag("--json", scanJson, "print one JSON document instead of text");

    CommonOptions schemaOptions;
    std::string schemaTable;
    auto* schema = app.add_subcommand("schema", "print the CREATE TABLE statement of a table");
    addCommon(schema, schemaOptions, kStateFolder);
    schema->add_option("TABLE", schemaTable, "DB.TABLE")->required();

    CommonOptions previewOptions;
    std::string previewItem;
    std::string previewPage = "1";
    std::string previewFormat = "tsv";
    auto* preview = app.add_subcommand("preview", "print one page of 1,000 rows, the columns, or the SQL of a view or trigger");
    addCommon(preview, previewOptions, kStateFolder);
    preview->add_option("ITEM", previewItem, "DB.TABLE, DB.TABLE.Keys, DB.VIEW or DB.TRIGGER")->required();
    preview->add_option("--page", previewPage, "page number, from 1 (default 1)");
    preview->add_option("--format", previewFormat, "tsv (default) or json")
        ->check(CLI::IsMember({"tsv", "json"}));

    CommonOptions saveOptions;
    SaveScriptOptions save;
    std::string blobs = "files";
    auto* saveCmd = app.add_subcommand("save-script", "save tables, views and triggers as SQL scripts");
    addCommon(saveCmd, saveOptions, "OUTDIR");
    saveCmd->add_option("OUTDIR", save.outDir, "folder that receives Scriptdata/")->required();
    saveCmd->add_option("ITEM", save.items, "DB or DB.NAME; none: every database");
    saveCmd->add_option("--rows-per-insert", save.rowsPerInsert,
                        "rows per INSERT statement (default 1; 1000 loads many times faster)")
        ->check(CLI::Range(1u, 1000000u));
    saveCmd->add_option("--blobs", blobs,
                        "files (default): long InnoDB values in Scriptdata/blobdata, loaded by "
                        "LOAD_FILE; inline: as hexadecimal literals, the script stands alone")
        ->check(CLI::IsMember({"files", "inline"}));
    saveCmd->add_option("--jobs", saveOptions.jobs,
                        "threads of the save (default: one per core; 1: single-threaded)")
        ->check(CLI::PositiveNumber);
    std::string target = "mysql";
    saveCmd->add_option("--target", target,
                     "server the scripts are for: mysql keeps MySQL 8 collations, mariadb writes "
                     "the nearest MariaDB ones")
        ->check(CLI::IsMember({"mysql", "mariadb"}));
    saveCmd->add_flag("--overwrite", save.overwrite,
                      "replace a Scriptdata folder that already holds files");

    CommonOptions serverSaveOptions;
    ServerOptions serverSave;
    std::vector<std::string> serverItems;
    auto* saveServer = app.add_subcommand("save-server", "save tables, views and triggers into a live server");
    addCommon(saveServer, serverSaveOptions, kStateFolder);
    saveServer->add_option("ITEM", serverItems, "DB or DB.NAME; none: every database");
    addServer(saveServer, serverSave);

    ServerOptions connectionTest;
    auto* testConnection = app.add_subcommand("test-connection", "test the login to a server");
    addServer(testConnection, connectionTest);

    CommonOptions checkOptions;
    std::vector<std::string> checkItemNames;
    auto* check = app.add_subcommand(
        "check", "report the damage of tables, views and triggers (pages or records read, damaged, "
                 "skipped; checksums; what a save would lose), saving nothing");
    addCommon(check, checkOptions, kStateFolder);
    check->add_option("ITEM", checkItemNames, "DB or DB.NAME; none: every database");

    // An unknown command is named as such, not reported as a missing one.
    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
            known = known || sub->get_name() == argv[1];
        if (!known) {
            std::fprintf(stderr, "dunmore: unknown command '%s'; the commands are:", argv[1]);
            for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
                std::fprintf(stderr, " %s", sub->get_name().c_str());
            std::fprintf(stderr, " (see dunmore --help)\n");
            return 2;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (*scan) return runScan(scanOptions, scanJson);
    if (*schema) return runSchema(schemaOptions, schemaTable);
    if (*preview)
        return runPreview(previewOptions, previewItem, previewPage,
                          previewFormat == "json" ? PreviewFormat::Json : PreviewFormat::Tsv);
    if (*check) return runCheck(checkOptions, checkItemNames);
    if (*saveCmd) {
        save.blobsInline = blobs == "inline";
        save.targetMariadb = target == "mariadb";
        return runSaveScript(saveOptions, save);
    }
    if (*saveServer) return runSaveServer(serverSaveOptions, serverSave, serverItems);
    if (*testConnection) return runTestConnection(connectionTest);
    return 2;
}
