#include "cli/table_report.h"

#include "core/file_name.h"
#include "core/scan.h"
#include "innodb/dictionary.h"
#include "innodb/index_walk.h"
#include "innodb/leaf_chain_summary.h"
#include "innodb/page.h"
#include "innodb/sdi_definition.h"
#include "innodb/sdi_rows.h"
#include "innodb/innodb_reader.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_reader.h"
#include "myisam/myisam_layout.h"
#include "output/partitioned_table.h"
#include "schema/frm_reader.h"

#include <filesystem>

namespace dunmore::cli {

namespace {

namespace fs = std::filesystem;

// SYS_TABLES TYPE bits of a compact-format table: the compressed page size (bits 1-4) and
// off-page storage of whole long values (bit 5, ROW_FORMAT=DYNAMIC).
constexpr std::uint32_t kTypeZipSizeMask = 0x1E;
constexpr std::uint32_t kTypeAtomicBlobs = 0x20;

// The storage engines by the legacy type number of the .frm header (byte 3). An engine
// loaded as a plugin writes 0 there and its name in the extra segment.
std::string legacyEngineName(std::uint8_t code) {
    switch (code) {
    case 6: return "MEMORY";
    case 9: return "MyISAM";
    case 10: return "MRG_MyISAM";
    case 12: return "InnoDB";
    case 15: return "EXAMPLE";
    case 16: return "ARCHIVE";
    case 17: return "CSV";
    case 18: return "FEDERATED";
    case 19: return "BLACKHOLE";
    case 20: return "partition";
    case 28: return "PERFORMANCE_SCHEMA";
    case 41: return "S3";
    case 42: return "Aria";
    case 43: return "TokuDB";
    case 44: return "SEQUENCE";
    default: return code == 0 ? "plugin engine" : "engine code " + std::to_string(code);
    }
}

std::optional<std::uint64_t> fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return size;
}

std::string innodbRowFormat(const innodb::InnodbReader& ctx, const innodb::TableLocation& where) {
    if (where.tableId != 0) {
        if (const auto* t = innodb::findSysTable(ctx.dictionary(), where.tableId)) {
            if (!t->compact) return "Redundant";
            if (t->type & kTypeZipSizeMask) return "Compressed";
            if (t->type & kTypeAtomicBlobs) return "Dynamic";
            return "Compact";
        }
    }
    return where.redundant ? "Redundant" : "";
}

void readMyisamFacts(core::MainFrame& frame, myisam::MyisamReader& ctx,
                     const core::TableEntry& table, TableFacts& facts) {
    const core::Catalogue& cat = frame.catalogue;
    const std::string indexPath = core::tableFilePath(cat, table, ".MYI");
    const std::string dataPath = core::tableFilePath(cat, table, ".MYD");
    facts.rowsFile = dataPath;
    if (myisam::loadMyisamLayout(ctx, indexPath, dataPath)) {
        facts.rowFormat = ctx.myisamRowFormat == myisam::kRowFormatCompressed ? "Compressed"
                          : ctx.myisamRowFormat == myisam::kRowFormatDynamic  ? "Dynamic"
                                                                              : "Fixed";
    }
    if (ctx.stateCounts) {
        facts.estimatedRows = ctx.stateCounts->records;
        if (ctx.stateCounts->openCount != 0)
            facts.problem = "the table was not closed cleanly: the row count may be old";
    }
    if (!ctx.countsDamage.empty()) facts.problem = ctx.countsDamage;
    if (!ctx.headDamage.empty()) facts.problem = ctx.headDamage;
    const auto data = fileSize(dataPath);
    const auto index = fileSize(indexPath);
    if (data || index) facts.sizeBytes = data.value_or(0) + index.value_or(0);
    if (!data) facts.problem = dataPath + " cannot be read";
}

// The first leaf's page summary and row format family of an InnoDB table whose start
// was located.
void readLeafFacts(innodb::InnodbReader& ctx, const innodb::TableStart& start, TableFacts& facts) {
    const auto slot = start.inOwnFile ? innodb::TablespaceSlot::TablespaceFile
                                      : innodb::TablespaceSlot::SystemTablespace;
    const innodb::LeafChainSummary summary = innodb::summarizeLeafChain(ctx, slot, start.firstLeaf);
    facts.leafPages = summary.leafPages;
    facts.estimatedRows = summary.records;
    if (!start.inOwnFile) facts.sizeBytes = summary.leafPages * ctx.pageSize();
    if (!summary.complete) facts.problem = "the leaf chain breaks: the row count covers part of it";
    if (facts.rowFormat.empty() && start.inOwnFile && ctx.format().zip) {
        // No dictionary, but the space flags name compressed pages.
        facts.rowFormat = "Compressed";
    } else if (facts.rowFormat.empty()) {
        // No dictionary: the leaf page's record format tells the family.
        core::ReadOnlyFile& file = innodb::slotFile(ctx, slot);
        if (innodb::readPage(ctx, file, start.firstLeaf))
            facts.rowFormat = innodb::pageRecordFormat(innodb::PageView(ctx.pageBuffer.data(),
                                                                        ctx.pageBuffer.size())) ==
                                      innodb::RecordFormat::Redundant
                                  ? "Redundant"
                                  : "Compact or Dynamic";
    }
}

std::string titleCase(std::string_view upper) {
    std::string out(upper);
    for (std::size_t i = 1; i < out.size(); ++i)
        out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
    return out;
}

// A MySQL 8 table: its definition, row format and layout came from the .ibd's SDI.
void readSdiFacts(core::MainFrame& frame, innodb::InnodbReader& ctx, const core::TableEntry& table,
                  const innodb::SdiTableInfo& sdi, TableFacts& facts) {
    const std::string& folder = frame.catalogue.databaseFolders.at(table.databaseIndex);
    facts.rowFormat = titleCase(innodb::rowFormatName(sdi.rowFormat));
    facts.serverVersion = "MySQL " + innodb::serverVersionText(sdi.serverVersion);
    facts.rowsFile = core::tableFilePath(frame.catalogue, table, ".ibd");
    facts.rootPage = ctx.sdiRootPage;
    facts.sizeBytes = fileSize(facts.rowsFile);
    const innodb::TableStart start = innodb::locateSdiTable(ctx, folder, core::diskName(table));
    if (start.lookup != innodb::TableLookup::Found) {
        facts.problem = "the first leaf page of its clustered index was not found";
        return;
    }
    readLeafFacts(ctx, start, facts);
}

void readInnodbFacts(core::MainFrame& frame, innodb::InnodbReader& ctx,
                     const core::TableEntry& table, TableFacts& facts) {
    const std::string& folder = frame.catalogue.databaseFolders.at(table.databaseIndex);
    const innodb::TableLocation where =
        innodb::locateTable(ctx.dictionary(), folder, core::diskName(table));
    facts.tableId = where.tableId;
    facts.rootPage = where.rootPage;
    facts.rowFormat = innodbRowFormat(ctx, where);
    if (!where.found) {
        facts.problem = "not in the dictionary and no .ibd file";
        return;
    }
    facts.inSystemTablespace = !where.inOwnFile;
    facts.rowsFile = where.inOwnFile ? where.ibdPath : "ibdata1";
    if (where.inOwnFile) facts.sizeBytes = fileSize(where.ibdPath);
    const innodb::TableStart start = innodb::locateInnodbTable(ctx, folder, core::diskName(table));
    if (start.lookup != innodb::TableLookup::Found) {
        facts.problem = start.lookup == innodb::TableLookup::TablespaceFileMissing
                            ? where.ibdPath + " cannot be opened"
                        : start.lookup == innodb::TableLookup::LayoutUnreadable
                            ? "its records cannot be read: " + start.problem
                            : "the first leaf page of its clustered index was not found";
        return;
    }
    readLeafFacts(ctx, start, facts);
}

// The facts of a partitioned table: those of each partition found, summed, and the
// partitions that are missing.
void readPartitionedFacts(core::MainFrame& frame, const core::TableEntry& table,
                          const core::TableDefinitionState& def, TableFacts& facts) {
    const output::TablePartitions found = output::findTablePartitions(frame, table, def);
    facts.partitions = found.partitions.size();
    std::vector<std::string> problems;
    if (!found.problem.empty()) problems.push_back(found.problem);
    std::string missing;
    for (const output::TablePartition& part : found.partitions) {
        if (!part.found) {
            missing += (missing.empty() ? "" : ", ") + part.describe();
            continue;
        }
        core::TableDefinitionState ofPartition = def;
        ofPartition.partitioned = false;
        const core::TableEntry entry = part.entry(table);
        TableFacts one;
        if (def.engineCode == core::kEngineMyisam) {
            myisam::MyisamReader reader(std::move(ofPartition));
            readMyisamFacts(frame, reader, entry, one);
        } else {
            innodb::InnodbReader reader(frame.context, std::move(ofPartition));
            readInnodbFacts(frame, reader, entry, one);
        }
        if (facts.rowFormat.empty()) facts.rowFormat = one.rowFormat;
        if (facts.rowsFile.empty()) facts.rowsFile = one.rowsFile;
        facts.partitionFiles.push_back(one.rowsFile);
        facts.inSystemTablespace = facts.inSystemTablespace || one.inSystemTablespace;
        facts.leafPages += one.leafPages;
        if (one.sizeBytes) facts.sizeBytes = facts.sizeBytes.value_or(0) + *one.sizeBytes;
        if (one.estimatedRows) facts.estimatedRows = facts.estimatedRows.value_or(0) + *one.estimatedRows;
        if (!one.problem.empty()) problems.push_back(part.describe() + ": " + one.problem);
    }
    if (!missing.empty()) problems.insert(problems.begin(), "missing: " + missing);
    for (const std::string& p : problems) facts.problem += (facts.problem.empty() ? "" : "; ") + p;
}

}  // namespace

TableFacts readTableFacts(core::MainFrame& frame, const core::TableEntry& table) {
    TableFacts facts;
    const core::Catalogue& cat = frame.catalogue;
    if (table.databaseIndex < 0 ||
        static_cast<std::size_t>(table.databaseIndex) >= cat.databaseFolders.size()) {
        facts.problem = "no database folder";
        return facts;
    }
    innodb::SdiTableInfo sdi;
    core::TableDefinitionState def;
    const core::Status read = innodb::readCatalogueTableDefinition(def, cat, table, frame.settings, &sdi);
    if (def.sdiRootPage != 0) {
        facts.engine = "InnoDB";
        innodb::InnodbReader reader(frame.context, std::move(def));
        readSdiFacts(frame, reader, table, sdi, facts);
    } else if (!read.isOk()) {
        facts.problem = (fs::exists(core::tableFilePath(cat, table, ".frm")) ? "definition damaged: "
                                                                             : "no definition: ") +
                        read.message();
    } else if (def.partitioned &&
               (def.engineCode == core::kEngineMyisam || def.engineCode == core::kEngineInnodb)) {
        facts.engine = legacyEngineName(def.engineCode);
        readPartitionedFacts(frame, table, def, facts);
    } else if (def.engineCode == core::kEngineMyisam) {
        facts.engine = "MyISAM";
        myisam::MyisamReader reader(std::move(def));
        readMyisamFacts(frame, reader, table, facts);
    } else if (def.engineCode == core::kEngineInnodb) {
        facts.engine = "InnoDB";
        innodb::InnodbReader reader(frame.context, std::move(def));
        readInnodbFacts(frame, reader, table, facts);
    } else {
        facts.engine = legacyEngineName(def.engineCode);
        facts.problem = "rows of this engine are not read";
    }
    return facts;
}

}  // namespace dunmore::cli
