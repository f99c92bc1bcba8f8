// InnoDB rows to INSERT statements: the leaf-chain walk of the clustered index feeding a
// script file or a server connection, one statement per live record.
#include "innodb/row_stream.h"

#include "innodb/index_walk.h"
#include "innodb/leaf_recovery.h"
#include "innodb/page.h"
#include "values/script_row_writer.h"
#include "values/sql_literal.h"

#include <exception>
#include <optional>
#include <unordered_set>

namespace dunmore::innodb {

namespace {

enum class Destination { Script, Server };

struct StreamKind {
    std::string_view name;
    TablespaceSlot slot;
    Destination destination;
    std::string_view statementEnd;
};

constexpr StreamKind kParseIbdForScript{"parseibdfileforscript", TablespaceSlot::TablespaceFile,
                                        Destination::Script, ");\r\n"};
constexpr StreamKind kIbdataForScript{"getdatafromibdatafileforscript",
                                      TablespaceSlot::SystemTablespace, Destination::Script,
                                      ");\r\n"};
constexpr StreamKind kParseIbdForServer{"parseibdfilefordatabase", TablespaceSlot::TablespaceFile,
                                        Destination::Server, ");"};
constexpr StreamKind kIbdataForServer{"getdatafromibdatafilefordatbase",
                                      TablespaceSlot::SystemTablespace, Destination::Server,
                                      ");\r\n"};

void logFailure(core::MainFrame& frame, const StreamKind& kind, std::string_view reason) {
    std::string text = "Error in processing function ";
    text += kind.name;
    text += "\r\n";
    if (!reason.empty()) {
        text += reason;
        text += "\r\n";
    }
    frame.writeLog(text);
}

bool runStream(core::MainFrame& frame, const StreamKind& kind, std::uint32_t firstLeaf,
               std::uint64_t resumeOffset, std::string_view tableName) {
    core::RecoveryContext& ctx = frame.context;
    core::AppSettings& settings = frame.settings;
    try {
        const std::string head = values::insertStatementHead(ctx.columns, tableName);
        const std::uint32_t nullBitmap = prepareWalkLayout(ctx);
        std::uint64_t rows = 0;
        std::string statement;
        statement.reserve(head.size() + 256);
        std::string failure;
        std::optional<values::ScriptRowWriter> scriptRows;
        if (kind.destination == Destination::Script)
            scriptRows.emplace(frame.scriptWriter, ctx.columns, head, kind.statementEnd,
                               settings.savingFolder, values::saveWorkers(settings.saveJobs));

        LeafWalkOptions options;
        options.slot = kind.slot;
        options.firstPage = firstLeaf;
        options.resumeOffset = settings.resumeAtOffset && resumeOffset < kPageSize
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

        LeafWalkCounts counts;
        LeafDamage damage;
        const core::Status walked = walkClusteredIndex(
            ctx, settings, walkOptions,
            [&](core::ByteSpan page, const LeafRecord& record) {
                if (!decodeLeafRecord(ctx, settings, page, record.origin, record.fieldAreaLength,
                                      nullBitmap)) {
                    // Values of a record that does not parse would be guesses.
                    damage.recordUnreadable(record.page);
                    return true;
                }
                if (scriptRows) {
                    if (!scriptRows->writeRow(ctx.columns)) {
                        failure = "the script file could not be written";
                        return false;
                    }
                    ++rows;
                    return true;
                }
                statement.assign(head);
                values::appendRowValues(ctx.columns, settings.savingFolder, statement);
                statement += kind.statementEnd;
                if (frame.serverConnection == nullptr) {
                    failure = "no server connection";
                    return false;
                }
                if (frame.serverConnection->executeStatement(statement)) {
                    ++rows;
                } else if (frame.serverConnection->connectionLost()) {
                    failure = "the connection to the server was lost after " +
                              std::to_string(rows) + " rows";
                    return false;
                } else {
                    frame.writeLog("row not inserted after " + std::to_string(rows) +
                                   "  row no.\r\n");
                }
                return true;
            },
            counts, damage);
        if (scriptRows && !scriptRows->finish() && failure.empty())
            failure = "the script file could not be written";
        if (!walked) failure = walked.message();
        if (!failure.empty()) {
            logFailure(frame, kind, failure);
            return false;
        }
        const std::string total = "Total Number of record inserted =  " + std::to_string(rows) + " .";
        frame.writeLog(total + "\r\n\r\n");
        frame.addOutputLine(total);
        frame.writeLog("Deleted records skipped = " + std::to_string(counts.deletedSkipped) +
                       "\r\n");
        for (const std::string& line : damage.reportLines()) {
            frame.writeLog(line + "\r\n");
            frame.addOutputLine(line);
        }
        if (!damage.complete()) {
            logFailure(frame, kind,
                       "rows of the table are lost: " +
                           std::to_string(damage.lostPages.size()) + " leaf page(s) and " +
                           std::to_string(damage.unreadableCount()) +
                           " record(s) could not be read");
            return false;
        }
        if (counts.otherFormatPages != 0) {
            // Rows that could not be read are a failure of the table, not an empty table.
            logFailure(frame, kind,
                       std::to_string(counts.otherFormatPages) +
                           " leaf pages are not in the compact record format; their rows are not read");
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        logFailure(frame, kind, e.what());
    } catch (...) {
        logFailure(frame, kind, {});
    }
    return false;
}

std::uint32_t countLeafPages(core::MainFrame& frame, TablespaceSlot slot, std::uint32_t firstLeaf) {
    core::RecoveryContext& ctx = frame.context;
    core::ReadOnlyFile& file = slotFile(ctx, slot);
    const std::uint64_t pages = slotPageCount(ctx, slot);
    std::unordered_set<std::uint32_t> visited;
    std::uint32_t count = 0;
    for (std::uint32_t p = firstLeaf; p != core::kFilNull;) {
        ++count;
        if (frame.stopRequested() || p >= pages || count > pages) break;
        if (slot == TablespaceSlot::SystemTablespace && p == 0) break;
        if (!visited.insert(p).second) break;
        const auto fil = readFilHeader(file, p);
        if (!fil) break;
        p = fil->nextPage;
    }
    return count;
}

}  // namespace

bool parseibdfileforscript(core::MainFrame& frame, std::uint32_t firstLeaf,
                           std::uint64_t resumeOffset, std::string_view tableName) {
    return runStream(frame, kParseIbdForScript, firstLeaf, resumeOffset, tableName);
}
bool getdatafromibdatafileforscript(core::MainFrame& frame, std::uint32_t firstLeaf,
                                    std::uint64_t resumeOffset, std::string_view tableName) {
    return runStream(frame, kIbdataForScript, firstLeaf, resumeOffset, tableName);
}
bool parseibdfilefordatabase(core::MainFrame& frame, std::uint32_t firstLeaf,
                             std::uint64_t resumeOffset, std::string_view tableName) {
    return runStream(frame, kParseIbdForServer, firstLeaf, resumeOffset, tableName);
}
bool getdatafromibdatafilefordatbase(core::MainFrame& frame, std::uint32_t firstLeaf,
                                     std::uint64_t resumeOffset, std::string_view tableName) {
    return runStream(frame, kIbdataForServer, firstLeaf, resumeOffset, tableName);
}

std::uint32_t countLeafPagesInTablespaceFile(core::MainFrame& frame, std::uint32_t firstLeaf) {
    return countLeafPages(frame, TablespaceSlot::TablespaceFile, firstLeaf);
}
std::uint32_t countLeafPagesInSystemTablespace(core::MainFrame& frame, std::uint32_t firstLeaf) {
    return countLeafPages(frame, TablespaceSlot::SystemTablespace, firstLeaf);
}

bool saveInnodbTableRows(core::MainFrame& frame, const std::filesystem::path& dbFolder,
                         const std::string& tableName, std::string_view statementName,
                         bool toServer) {
    core::RecoveryContext& ctx = frame.context;
    std::uint32_t firstLeaf = 0;
    bool inOwnFile = false;
    if (!prepareInnodbTable(frame, dbFolder, tableName, firstLeaf, inOwnFile)) {
        // With the root known but no leaf reached from it, the leaves are looked for in
        // the whole file (the stream's scan).
        const bool scan = firstLeaf == 0 && ctx.clusteredRoot != 0 && !ctx.clusteredFields.empty() &&
                          (ctx.tablespaceFile.isOpen() || ctx.systemTablespace.isOpen());
        if (!scan) return !ctx.tablespaceFile.isOpen() && !ctx.systemTablespace.isOpen();
    }
    frame.writeLog("Saving Data...\r\n");
    bool ok = false;
    if (inOwnFile) {
        ctx.tablespaceSelected = true;
        const std::uint32_t leaves = countLeafPagesInTablespaceFile(frame, firstLeaf);
        frame.frontend.setProgressRange(leaves);
        ok = toServer ? parseibdfilefordatabase(frame, firstLeaf, 0, statementName)
                      : parseibdfileforscript(frame, firstLeaf, 0, statementName);
        frame.frontend.setProgressPosition(leaves);
        ctx.tablespaceSelected = false;
    } else {
        const std::uint32_t leaves = countLeafPagesInSystemTablespace(frame, firstLeaf);
        frame.frontend.setProgressRange(leaves);
        ok = toServer ? getdatafromibdatafilefordatbase(frame, firstLeaf, 0, statementName)
                      : getdatafromibdatafileforscript(frame, firstLeaf, 0, statementName);
        frame.frontend.setProgressPosition(leaves);
    }
    return ok;
}

}  // namespace dunmore::innodb
