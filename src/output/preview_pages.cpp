#include "output/preview_pages.h"

#include "core/scan.h"
#include "innodb/index_walk.h"
#include "innodb/sdi_definition.h"
#include "myisam/myisam_layout.h"
#include "myisam/myisam_row_stream.h"
#include "output/partitioned_table.h"

namespace dunmore::output {

namespace {

// The preview of a partitioned table: its partitions one after the other, each read by a
// reader of its engine that is opened when the pages reach it. A page may span
// partitions; its positions name the partition they lie in.
class PartitionedPreview : public core::TableReader {
public:
    PartitionedPreview(core::TableDefinitionState definition, core::TableEntry table,
                       std::vector<TablePartition> partitions)
        : core::TableReader(std::move(definition)), m_table(std::move(table)), m_partitions(std::move(partitions)) {}

    // Reads the page that starts at position into previewRows, as the engines' preview
    // readers do: at 1,000 rows it sets moreRows and, unless keepPositions is set, pushes
    // the position of the next row.
    void readPage(core::MainFrame& frame, const core::PagePosition& position) {
        previewRows.clear();
        moreRows = false;
        bool fromStart = position.page == 0 && position.offset == 0;
        for (std::size_t index = position.partition; index < m_partitions.size(); ++index, fromStart = true) {
            if (!open(frame, index)) continue;
            core::TableReader& inner = *m_current;
            inner.previewRows.clear();
            inner.pageStack.clear();
            inner.keepPositions = false;
            inner.moreRows = false;
            const std::size_t limit = kPageRows - previewRows.size();
            if (auto* m = dynamic_cast<myisam::MyisamReader*>(&inner)) {
                myisam::readMyisamPreviewPage(frame, *m, fromStart ? 0 : position.offset, limit);
            } else if (auto* ctx = dynamic_cast<innodb::InnodbReader*>(&inner)) {
                const bool own = ctx->tablespaceFile.isOpen();
                frame.settings.resumeAtOffset = !fromStart;
                ctx->tablespaceSelected = own;
                innodb::loadPreviewRows(*ctx, frame.settings,
                                        own ? innodb::TablespaceSlot::TablespaceFile
                                            : innodb::TablespaceSlot::SystemTablespace,
                                        fromStart ? m_firstLeaf : position.page, fromStart ? 0 : position.offset,
                                        limit);
                ctx->tablespaceSelected = false;
            }
            for (auto& row : inner.previewRows) previewRows.push_back(std::move(row));
            inner.previewRows.clear();
            if (inner.moreRows && !inner.pageStack.empty()) {
                moreRows = true;
                const core::PagePosition next = inner.pageStack.back();
                if (!keepPositions) pageStack.push_back({next.page, next.offset, static_cast<std::uint32_t>(index)});
                return;
            }
            if (previewRows.size() >= kPageRows) {
                if (index + 1 < m_partitions.size()) {
                    moreRows = true;
                    if (!keepPositions) pageStack.push_back({0, 0, static_cast<std::uint32_t>(index + 1)});
                }
                return;
            }
        }
    }

private:
    static constexpr std::size_t kPageRows = myisam::kPreviewPageRows;

    // Makes the reader of partition index current; false when its rows cannot be read
    // (the log says why).
    bool open(core::MainFrame& frame, std::size_t index) {
        if (m_current && m_currentIndex == index) return true;
        m_current.reset();
        const TablePartition& part = m_partitions[index];
        const auto skip = [&](const std::string& why) {
            frame.writeLog("The preview of " + m_table.name + " passes over its " + part.describe() + ": " + why +
                           ".\r\n");
            return false;
        };
        if (!part.found) return skip("its file is missing");
        const core::Catalogue& cat = frame.catalogue;
        const core::TableEntry entry = part.entry(m_table);
        core::TableDefinitionState definition = *this;
        definition.partitioned = false;
        if (engineCode == core::kEngineMyisam) {
            auto reader = std::make_unique<myisam::MyisamReader>(std::move(definition));
            const std::string dataPath = core::tableFilePath(cat, entry, ".MYD");
            if (!myisam::loadMyisamLayout(*reader, core::tableFilePath(cat, entry, ".MYI"), dataPath))
                return skip(reader->headDamage);
            if (!reader->dataFile.open(dataPath)) return skip(dataPath + " cannot be read");
            m_current = std::move(reader);
        } else {
            auto reader = std::make_unique<innodb::InnodbReader>(frame.context, std::move(definition));
            const auto start = innodb::locateInnodbTable(
                *reader, cat.databaseFolders.at(static_cast<std::size_t>(m_table.databaseIndex)), part.fileBase);
            if (start.lookup != innodb::TableLookup::Found)
                return skip(start.problem.empty() ? "its first leaf page was not found" : start.problem);
            m_firstLeaf = start.firstLeaf;
            m_current = std::move(reader);
        }
        m_currentIndex = index;
        return true;
    }

    core::TableEntry m_table;
    std::vector<TablePartition> m_partitions;
    std::unique_ptr<core::TableReader> m_current;
    std::size_t m_currentIndex = 0;
    std::uint32_t m_firstLeaf = 0;
};

}  // namespace

core::Status loadFirstPreviewPage(core::MainFrame& frame, const core::TableEntry& table) {
    const core::Catalogue& cat = frame.catalogue;
    core::TableDefinitionState definition;
    const auto read = innodb::readCatalogueTableDefinition(definition, cat, table, frame.settings);
    if (!read.isOk()) {
        // What a damaged definition gave before the damage still names the columns.
        frame.previewTable = std::make_unique<core::TableReader>(std::move(definition));
        return read;
    }
    if (definition.partitioned &&
        (definition.engineCode == core::kEngineMyisam || definition.engineCode == core::kEngineInnodb)) {
        TablePartitions found = findTablePartitions(frame, table, definition);
        auto reader = std::make_unique<PartitionedPreview>(std::move(definition), table, std::move(found.partitions));
        reader->pageStack.push_back({0, 0, 0});
        reader->readPage(frame, {0, 0, 0});
        frame.previewTable = std::move(reader);
    } else if (definition.engineCode == core::kEngineMyisam) {
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
    if (auto* partitioned = dynamic_cast<PartitionedPreview*>(&table)) {
        partitioned->readPage(frame, position);
    } else if (auto* myisamReader = dynamic_cast<myisam::MyisamReader*>(&table)) {
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
