// `dunmore schema`: the CREATE TABLE statement of one table, as a save would write it.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "core/scan.h"
#include "innodb/sdi_definition.h"
#include "output/create_table.h"

#include <cstdio>

namespace dunmore::cli {

int runSchema(const CommonOptions& options, const std::string& table) {
    if (table.find('.') == std::string::npos) {
        std::fprintf(stderr, "dunmore: expected DB.TABLE, got '%s'\n", table.c_str());
        return 2;
    }
    CliSession session(options);
    session.frontend.setQuietMessages(true);
    session.frontend.setQuietLines(true);
    if (const int status = session.scan(); status != 0) return status;
    const auto& cat = session.frame.catalogue;
    const auto dot = databaseDot(cat, table);
    if (dot == 0 || dot + 1 == table.size()) {
        std::fprintf(stderr, "dunmore: expected DB.TABLE, got '%s'\n", table.c_str());
        return 2;
    }
    const int index = findTable(cat, table.substr(0, dot), table.substr(dot + 1));
    if (index < 0) {
        std::fprintf(stderr, "dunmore: no table %s in the data folder\n", table.c_str());
        return 2;
    }
    core::TableDefinitionState ctx;
    const core::TableEntry& entry = cat.tables[index];
    const core::Status read = innodb::readCatalogueTableDefinition(ctx, cat, entry, session.settings);
    if (!read.isOk() && ctx.columns.empty()) {
        std::fprintf(stderr, "dunmore: the definition of %s cannot be read: %s\n", table.c_str(),
                     read.message().c_str());
        return session.finish(1);
    }
    if (read.code() == core::StatusCode::Corrupt) {
        std::fprintf(stderr, "dunmore: the definition of %s is damaged; what could be read:\n",
                     table.c_str());
        std::printf("%s\n", output::formatCreateTableStatement(ctx, entry.name).c_str());
        return session.finish(1);
    }
    std::printf("%s\n", output::formatCreateTableStatement(ctx, entry.name).c_str());
    return session.finish(0);
}

}  // namespace dunmore::cli
