#include "cli/table_report.h"

#include "core/scan.h"
#include "innodb/dictionary.h"
#include "schema/frm_reader.h"

#include <cstdio>

namespace dunmore::cli {

void printTableReport(core::MainFrame& frame) {
    const core::Catalogue& cat = frame.catalogue;
    if (cat.tables.empty()) return;
    std::printf("\nTables:\n");
    core::RecoveryContext& ctx = frame.context;
    for (const core::TableEntry& t : cat.tables) {
        const std::string& folder = cat.databaseFolders.at(t.databaseIndex);
        const std::string name = core::lastPathPart(folder) + "." + t.name;
        ctx.clearTable();
        ctx.engineCode = 0;
        const bool read = schema::readTableDefinition(ctx, core::tableFilePath(cat, t, ".frm"),
                                                      frame.settings);
        if (!read) {
            std::printf("  %s\tdefinition damaged\n", name.c_str());
            continue;
        }
        if (ctx.engineCode == core::kEngineMyisam) {
            std::printf("  %s\tMyISAM\n", name.c_str());
        } else if (ctx.engineCode == core::kEngineInnodb) {
            const innodb::TableLocation loc = innodb::locateTable(ctx, folder, t.name);
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
