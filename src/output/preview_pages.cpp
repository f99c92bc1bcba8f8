#include "output/preview_pages.h"

#include "core/scan.h"
#include "innodb/index_walk.h"
#include "innodb/sdi_definition.h"
#include "myisam/myisam_layout.h"
#include "myisam/myisam_row_stream.h"

namespace dunmore::output {

core::Status loadFirstPreviewPage(core::MainFrame& frame, const core::TableEntry& table) {
    const core::Catalogue& cat = frame.catalogue;
    core::TableDefinitionState definition;
    const auto read = innodb::readCatalogueTableDefinition(definition, cat, table, frame.settings);
    if (!read.isOk()) {
        // What a damaged definition gave before the damage still names the columns.
        frame.previewTable = std::make_unique<core::TableReader>(std::move(definition));
        return read;
    }
    if (definition.engineCode == core::kEngineMyisam) {
        auto reader = std::make_unique<myisam::MyisamReader>(std::move(definition));
        const std::string dataPath = core::tableFilePath(cat, table, ".MYD");
        // A damaged .MYI gives way to the layout of the definition; without either the
        // table previews no rows.
        if (myisam::loadMyisamLayout(*reader, core::tableFilePath(cat, table, ".MYI"), dataPath))
            myisam::loadMyisamPreviewPage(frame, *reader, dataPath);
        frame.previewTable = std::move(reader);
    } else if (definition.engineCode == core::kEngineInnodb) {
        auto reader = std::make_unique<innodb::InnodbReader>(frame.context, std::move(definition));
        innodb::InnodbReader& ctx = *reader;
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
        frame.previewTable = std::move(reader);
        if (start.lookup == innodb::TableLookup::LayoutUnreadable)
            return core::Status::corrupt("records of table " + table.name + " cannot be read: " +
                                         start.problem);
    } else {
        frame.previewTable = std::make_unique<core::TableReader>(std::move(definition));
    }
    return read;
}

std::size_t readPreviewPage(core::MainFrame& frame, const core::PagePosition& position) {
    core::TableReader& table = *frame.previewTable;
    frame.settings.resumeAtOffset = true;
    table.previewRows.clear();
    if (auto* myisamReader = dynamic_cast<myisam::MyisamReader*>(&table)) {
        myisam::readMyisamPreviewPage(frame, *myisamReader, position.offset);
    } else if (auto* ctx = dynamic_cast<innodb::InnodbReader*>(&table)) {
        if (ctx->tablespaceFile.isOpen()) {
            ctx->tablespaceSelected = true;
            innodb::loadPreviewRows(*ctx, frame.settings, innodb::TablespaceSlot::TablespaceFile,
                                    position.page, position.offset);
            ctx->tablespaceSelected = false;
        } else if (ctx->systemTablespace.isOpen()) {
            innodb::loadPreviewRows(*ctx, frame.settings, innodb::TablespaceSlot::SystemTablespace,
                                    position.page, position.offset);
        }
    }
    return table.previewRows.size();
}

}  // namespace dunmore::output
