// InnoDB rows to INSERT statements: the leaf-chain walk of the clustered index feeding a
// script file or a server connection, one statement per live record.
#include "innodb/row_stream.h"

#include "innodb/index_walk.h"
#include "innodb/leaf_recovery.h"
#include "innodb/page.h"
#include "innodb/page_check.h"
#include "values/statement_sink.h"

#include <exception>
#include <unordered_set>

namespace dunmore::innodb {

namespace {

struct StreamKind {
    std::string_view name;
    TablespaceSlot slot;
    values::StatementDestination destination;
    std::string_view statementEnd;
};

constexpr StreamKind kParseIbdForScript{"parseibdfileforscript", TablespaceSlot::TablespaceFile,
                                        values::StatementDestination::Script, ");\r\n"};
constexpr StreamKind kIbdataForScript{"getdatafromibdatafileforscript",
                                      TablespaceSlot::SystemTablespace,
                                      values::StatementDestination::Script, ");\r\n"};
constexpr StreamKind kParseIbdForServer{"parseibdfilefordatabase", TablespaceSlot::TablespaceFile,
                                        values::StatementDestination::Server, ");"};
constexpr StreamKind kIbdataForServer{"getdatafromibdatafilefordatbase",
                                      TablespaceSlot::SystemTablespace,
                                      values::StatementDestination::Server, ");\r\n"};

// The damage report line of a table's walk: leaf pages read and their checksums, pages
// found outside the chain, damaged pages, records read and passed over.
std::string damageReport(const LeafWalkCounts& walked, const LeafDamage& damage) {
    std::string checksums;
    for (std::size_t a = 0; a < walked.checksums.size(); ++a) {
        if (walked.checksums[a] == 0) continue;
        checksums += (checksums.empty() ? "" : ", ") +
                     std::string(checksumName(static_cast<PageChecksum>(a))) + " " +
                     std::to_string(walked.checksums[a]);
    }
    std::string line = "Leaf pages read = " + std::to_string(walked.pagesRead.size());
    if (!checksums.empty()) line += " (page checksums: " + checksums + ")";
    line += ", leaf pages read outside the chain = " + std::to_string(damage.salvagedPages) +
            ", damaged pages = " + std::to_string(damage.damagedPages) +
            ", leaf pages lost = " + std::to_string(damage.lostPages.size()) +
            "; records read = " + std::to_string(walked.recordsTaken) +
            ", deleted skipped = " + std::to_string(walked.deletedSkipped) +
            ", unreadable = " + std::to_string(damage.unreadableCount()) + ".";
    return line;
}

bool runStream(core::MainFrame& frame, InnodbReader& ctx, const StreamKind& kind, std::uint32_t firstLeaf,
               std::uint64_t resumeOffset, std::string_view tableName,
               core::TableRowCounts* counts) {
    core::AppSettings& settings = frame.settings;
    values::StatementSink sink(frame, kind.name, kind.destination, ctx.columns, tableName,
                               kind.statementEnd);
    bool ok = false;
    try {
        const std::uint32_t nullBitmap = prepareWalkLayout(ctx);
        LeafWalkOptions options;
        options.slot = kind.slot;
        options.firstPage = firstLeaf;
        options.resumeOffset = settings.resumeAtOffset && resumeOffset < ctx.pageSize()
                                   ? static_cast<std::uint32_t>(resumeOffset)
                                   : 0;
        options.beforePage = [&](std::uint64_t visited) {
            frame.frontend.setProgressPosition(visited);
            return !frame.stopRequested();
        };
        options.afterPage = [&] { settings.resumeAtOffset = false; };

        options.indexId = ctx.clusteredIndexId;
        ClusteredWalkOptions walkOptions;
        walkOptions.walk = options;
        walkOptions.rootPage = ctx.clusteredRoot;

        LeafWalkCounts walked;
        LeafDamage damage;
        const core::Status status = walkClusteredIndex(
            ctx, settings, walkOptions,
            [&](core::ByteSpan page, const LeafRecord& record) {
                if (!decodeLeafRecord(ctx, settings, page, record.origin, record.fieldAreaLength,
                                      nullBitmap)) {
                    // Values of a record that does not parse would be guesses.
                    damage.recordUnreadable(record.page);
                    return true;
                }
                return sink.acceptRow(ctx.columns);
            },
            walked, damage);
        if (!status) sink.fail(status.message());
        ok = sink.finish(walked.deletedSkipped);
        if (ok) {
            for (const std::string& line : damage.reportLines()) sink.reportCheck(line, true);
        }
        if (ok && !damage.complete()) {
            const std::string lost = std::to_string(damage.lostPages.size()) + " leaf page(s) and " +
                                     std::to_string(damage.unreadableCount()) +
                                     " record(s) could not be read";
            sink.reportDamage(damage.lostPages.size() + damage.unreadableCount(),
                              "rows of the table are lost: " + lost, true);
            sink.nameLoss(lost + " (the log names the rows)");
            ok = false;
        }
        if (ok && walked.otherFormatPages != 0) {
            // Rows that could not be read are a failure of the table, not an empty table.
            const std::string lost = std::to_string(walked.otherFormatPages) +
                                     " leaf pages are not in the compact record format; their rows "
                                     "are not read";
            sink.reportDamage(walked.otherFormatPages, lost, true);
            sink.nameLoss(lost);
            ok = false;
        }
        sink.reportCheck(damageReport(walked, damage));
    } catch (const std::exception& e) {
        sink.fail(e.what());
        ok = sink.finish(0);
    } catch (...) {
        sink.fail({});
        ok = sink.finish(0);
    }
    if (counts) *counts = sink.counts();
    return ok;
}

std::uint32_t countLeafPages(core::MainFrame& frame, InnodbReader& ctx, TablespaceSlot slot,
                             std::uint32_t firstLeaf) {
    core::ReadOnlyFile& file = slotFile(ctx, slot);
    const std::uint64_t pages = slotPageCount(ctx, slot);
    const TablespaceFormat format = slotFormat(ctx, slot);
    std::unordered_set<std::uint32_t> visited;
    std::uint32_t count = 0;
    for (std::uint32_t p = firstLeaf; p != kFilNull;) {
        ++count;
        if (frame.stopRequested() || p >= pages || count > pages) break;
        if (slot == TablespaceSlot::SystemTablespace && p == 0) break;
        if (!visited.insert(p).second) break;
        const auto fil = readStoredFilHeader(file, format, p);
        if (!fil) break;
        p = fil->nextPage;
    }
    return count;
}

}  // namespace

bool parseibdfileforscript(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                           std::uint64_t resumeOffset, std::string_view tableName,
                           core::TableRowCounts* counts) {
    return runStream(frame, ctx, kParseIbdForScript, firstLeaf, resumeOffset, tableName, counts);
}
bool getdatafromibdatafileforscript(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                                    std::uint64_t resumeOffset, std::string_view tableName,
                                    core::TableRowCounts* counts) {
    return runStream(frame, ctx, kIbdataForScript, firstLeaf, resumeOffset, tableName, counts);
}
bool parseibdfilefordatabase(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                             std::uint64_t resumeOffset, std::string_view tableName,
                             core::TableRowCounts* counts) {
    return runStream(frame, ctx, kParseIbdForServer, firstLeaf, resumeOffset, tableName, counts);
}
bool getdatafromibdatafilefordatbase(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                                     std::uint64_t resumeOffset, std::string_view tableName,
                                     core::TableRowCounts* counts) {
    return runStream(frame, ctx, kIbdataForServer, firstLeaf, resumeOffset, tableName, counts);
}

std::uint32_t countLeafPagesInTablespaceFile(core::MainFrame& frame, InnodbReader& ctx,
                                            std::uint32_t firstLeaf) {
    return countLeafPages(frame, ctx, TablespaceSlot::TablespaceFile, firstLeaf);
}
std::uint32_t countLeafPagesInSystemTablespace(core::MainFrame& frame, InnodbReader& ctx,
                                              std::uint32_t firstLeaf) {
    return countLeafPages(frame, ctx, TablespaceSlot::SystemTablespace, firstLeaf);
}

bool saveInnodbTableRows(core::MainFrame& frame, InnodbReader& ctx,
                         const std::filesystem::path& dbFolder, const std::string& tableName,
                         std::string_view statementName, bool toServer,
                         core::TableRowCounts* rowCounts, std::string* problem) {
    std::uint32_t firstLeaf = 0;
    bool inOwnFile = false;
    if (!prepareInnodbTable(frame, ctx, dbFolder, tableName, firstLeaf, inOwnFile, problem)) {
        // With the root known but no leaf reached from it, the leaves are looked for in
        // the whole file (the stream's scan).
        const bool scan = firstLeaf == 0 && ctx.clusteredRoot != 0 && !ctx.clusteredFields.empty() &&
                          (ctx.tablespaceFile.isOpen() || ctx.systemTablespace.isOpen());
        if (!scan) return !ctx.tablespaceFile.isOpen() && !ctx.systemTablespace.isOpen();
    }
    frame.writeLog("Saving Data...\r\n");
    bool ok = false;
    core::TableRowCounts counts;
    if (inOwnFile) {
        ctx.tablespaceSelected = true;
        const std::uint32_t leaves = countLeafPagesInTablespaceFile(frame, ctx, firstLeaf);
        frame.frontend.setProgressRange(leaves);
        ok = toServer ? parseibdfilefordatabase(frame, ctx, firstLeaf, 0, statementName, &counts)
                      : parseibdfileforscript(frame, ctx, firstLeaf, 0, statementName, &counts);
        frame.frontend.setProgressPosition(leaves);
        ctx.tablespaceSelected = false;
    } else {
        const std::uint32_t leaves = countLeafPagesInSystemTablespace(frame, ctx, firstLeaf);
        frame.frontend.setProgressRange(leaves);
        ok = toServer
                 ? getdatafromibdatafilefordatbase(frame, ctx, firstLeaf, 0, statementName, &counts)
                 : getdatafromibdatafileforscript(frame, ctx, firstLeaf, 0, statementName, &counts);
        frame.frontend.setProgressPosition(leaves);
    }
    if (rowCounts) *rowCounts = counts;
    return ok;
}

}  // namespace dunmore::innodb
