#include "cli/table_report.h"

#include "core/file_name.h"
#include "core/scan.h"
#include "innodb/dictionary.h"
#include "innodb/sdi_definition.h"

#include <cstdio>
#include <filesystem>

namespace dunmore::cli {

void printTableReport(core::MainFrame& frame) {
    const core::Catalogue& cat = frame.catalogue;
    if (cat.tables.empty()) return;
    std::printf("\nTables:\n");
    core::RecoveryContext& ctx = frame.context;
    for (const core::TableEntry& t : cat.tables) {
        const std::string& folder = cat.databaseFolders.at(t.databaseIndex);
        const std::string name = core::databaseName(folder) + "." + t.name;
        ctx.clearTable();
        ctx.engineCode = 0;
        innodb::SdiTableInfo sdi;
        const core::Status read = innodb::readCatalogueTableDefinition(ctx, cat, t, frame.settings, &sdi);
        if (ctx.sdiRootPage != 0) {
            const std::string_view format = innodb::rowFormatName(sdi.rowFormat);
            std::printf("  %s\tInnoDB\tMySQL %s (SDI)\trows in %s\tclustered root %u%s%s\n",
                        name.c_str(), innodb::serverVersionText(sdi.serverVersion).c_str(),
                        core::tableFilePath(cat, t, ".ibd").c_str(), ctx.sdiRootPage,
                        format.empty() ? "" : "\tROW_FORMAT=", std::string(format).c_str());
            continue;
        }
        if (!read.isOk() && !std::filesystem::exists(core::tableFilePath(cat, t, ".frm"))) {
            std::printf("  %s\tno definition: %s\n", name.c_str(), read.message().c_str());
            continue;
        }
        if (read.code() == core::StatusCode::Corrupt) {
            std::printf("  %s\tdefinition damaged\n", name.c_str());
            continue;
        }
        if (ctx.engineCode == core::kEngineMyisam) {
            std::printf("  %s\tMyISAM\n", name.c_str());
        } else if (ctx.engineCode == core::kEngineInnodb) {
            const innodb::TableLocation loc = innodb::locateTable(ctx, folder, core::diskName(t));
            if (!loc.found)
                std::printf("  %s\tInnoDB\tnot in the dictionary and no .ibd\n", name.c_str());
            else
                std::printf("  %s\tInnoDB\trows in %s\ttable id %llu\tclustered root %u%s\n",
                            name.c_str(), loc.inOwnFile ? loc.ibdPath.c_str() : "ibdata1",
                            static_cast<unsigned long long>(loc.tableId), loc.rootPage,
                            loc.redundant ? "\tREDUNDANT" : "");
        } else {
            std::printf("  %s\tengine code %u (rows not read)\n", name.c_str(), ctx.engineCode);
        }
    }
    ctx.clearTable();
}

}  // namespace dunmore::cli
