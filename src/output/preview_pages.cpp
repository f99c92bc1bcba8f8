#include "output/preview_pages.h"

#include "core/scan.h"
#include "innodb/index_walk.h"
#include "innodb/sdi_definition.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_row_stream.h"

namespace dunmore::output {

core::Status loadFirstPreviewPage(core::MainFrame& frame, const core::TableEntry& table) {
    core::RecoveryContext& ctx = frame.context;
    const core::Catalogue& cat = frame.catalogue;
    const auto read = innodb::readCatalogueTableDefinition(ctx, cat, table, frame.settings);
    if (!read.isOk()) return read;
    if (ctx.engineCode == core::kEngineMyisam) {
        myisam::readMyisamHeader(ctx, core::tableFilePath(cat, table, ".MYI"));
        myisam::loadMyisamPreviewPage(frame, core::tableFilePath(cat, table, ".MYD"));
    } else if (ctx.engineCode == core::kEngineInnodb) {
        const auto start = innodb::locateInnodbTable(
            ctx, cat.databaseFolders.at(static_cast<std::size_t>(table.databaseIndex)),
            core::diskName(table));
        if (start.lookup == innodb::TableLookup::Found) {
            ctx.tablespaceSelected = start.inOwnFile;
            ctx.pageStack.push_back({start.firstLeaf, 0});
            innodb::loadPreviewRows(ctx, frame.settings,
                                    start.inOwnFile ? innodb::TablespaceSlot::TablespaceFile
                                                    : innodb::TablespaceSlot::SystemTablespace,
                                    start.firstLeaf, 0);
            ctx.tablespaceSelected = false;
        }
    }
    return read;
}

std::size_t readPreviewPage(core::MainFrame& frame, const core::PagePosition& position) {
    core::RecoveryContext& ctx = frame.context;
    frame.settings.resumeAtOffset = true;
    ctx.previewRows.clear();
    if (ctx.engineCode == core::kEngineMyisam) {
        myisam::readMyisamPreviewPage(frame, position.offset);
    } else if (ctx.tablespaceFile.isOpen()) {
        ctx.tablespaceSelected = true;
        innodb::loadPreviewRows(ctx, frame.settings, innodb::TablespaceSlot::TablespaceFile,
                                position.page, position.offset);
        ctx.tablespaceSelected = false;
    } else if (ctx.systemTablespace.isOpen()) {
        innodb::loadPreviewRows(ctx, frame.settings, innodb::TablespaceSlot::SystemTablespace,
                                position.page, position.offset);
    }
    return ctx.previewRows.size();
}

}  // namespace dunmore::output
