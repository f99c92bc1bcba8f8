// InnoDB rows to INSERT statements: the leaf-chain walk of the clustered index feeding a
// script file or a server connection, one statement per live record.
#include "innodb/row_stream.h"

#include "core/field_type.h"
#include "core/ordered_work.h"
#include "innodb/index_walk.h"
#include "innodb/leaf_recovery.h"
#include "innodb/page.h"
#include "innodb/page_check.h"
#include "innodb/record.h"
#include "innodb/tablespace_format.h"
#include "values/statement_sink.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <optional>

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

// A table read in pieces takes about this many leaves (512 KiB of 16 KiB pages) at a time.
constexpr std::uint32_t kLeavesPerPiece = 32;
// A piece whose script text reaches this many bytes ends at the next page; the rest of it
// is read on the writing thread when its turn comes, so that the pieces waiting for their
// turn stay small whatever the rows hold.
constexpr std::size_t kPieceTextLimit = std::size_t{4} << 20;
// Room in a record besides its fields: the 5 header bytes, the null bitmap and two
// length bytes per field, generously.
constexpr std::uint64_t kRecordOverhead = 256;

// Whether no record of the table can keep a field outside its page: InnoDB moves the
// longest fields of a record out only when the record would not fit in half a page, and
// keeps BLOB, TEXT and spatial values out when they are long. The values of such a
// table are all in its leaf pages, so pieces of it read at once need nothing else.
bool fieldsStayInPage(const InnodbReader& ctx) {
    std::uint64_t longest = kRecordOverhead;
    for (const auto& f : ctx.clusteredFields) {
        if (isLargeMainType(f.mainType) || core::isBlobType(core::fieldType(f.column.typeCode)) ||
            core::fieldType(f.column.typeCode) == core::FieldType::Geometry)
            return false;
        longest += f.fixedLength != 0 ? f.fixedLength : f.length;
    }
    // A compressed table's records must fit in half of its compressed page.
    return longest <= std::min(ctx.pageSize(), ctx.format().physicalPageSize) / 2;
}

// The index id the walk of the chain from firstLeaf holds its pages to: the dictionary's,
// else that of the first leaf. 0 when firstLeaf is no index page.
std::uint64_t chainIndexId(InnodbReader& ctx, TablespaceSlot slot, std::uint32_t firstLeaf,
                           std::uint64_t known) {
    if (known != 0) return known;
    std::vector<std::uint8_t> buffer(ctx.pageSize());
    if (!readTablespacePage(slotFile(ctx, slot), slotFormat(ctx, slot), firstLeaf, PageBuffer(buffer)))
        return 0;
    const PageView view(buffer.data(), buffer.size());
    if (!isIndexPageType(decodeFilHeader(view).pageType)) return 0;
    return decodeIndexHeader(view).indexId;
}

// Where a stretch stood before one of its pages: what it had written and counted.
struct PageMark {
    values::ScriptRowRun::Cut cut;
    std::uint64_t recordsTaken = 0;
    std::uint64_t deletedSkipped = 0;
    std::size_t pagesRead = 0;
    std::array<std::uint64_t, 4> checksums{};
};

// A stretch of the leaf chain read by one thread: the script text of its rows, what the
// walk met, and where it stood before each page it visited.
struct LeafStretch {
    LeafStretch(const values::ScriptRowFormat& format, std::string buffer)
        : run(format, std::move(buffer)) {}
    values::ScriptRowRun run;
    LeafWalkCounts counts;
    std::vector<PageMark> marks;
    core::Status status;
    bool unreadable = false;  // a record did not parse
    bool stopped = false;     // a stop request ended it
    bool full = false;        // its text reached kPieceTextLimit before counts.endedBefore
    // Nothing met that the one walk of the chain would have handled otherwise: no
    // damage, no record that does not parse, no page of another format.
    bool sound() const {
        return status.isOk() && !unreadable && !counts.broken && counts.unreachedRecords.empty() &&
               counts.otherFormatPages == 0;
    }
};

// The chain from page `from` up to (not including) `end`, its rows decoded with reader and
// formatted for the script. It ends early at damage, at a record that does not parse, at
// a stop request, and before the next page once its text is kPieceTextLimit long.
LeafStretch readStretch(InnodbReader& reader, core::MainFrame& frame,
                        const values::ScriptRowFormat& format, values::RunBuffers& buffers,
                        TablespaceSlot slot, std::uint64_t indexId, std::uint32_t nullBitmap,
                        std::uint32_t from, std::uint32_t end) {
    LeafStretch stretch(format, buffers.take());
    LeafWalkOptions options;
    options.slot = slot;
    options.firstPage = from;
    options.endPage = end;
    options.indexId = indexId;
    options.beforePage = [&](std::uint64_t) {
        stretch.stopped = frame.stopRequested();
        stretch.full = stretch.run.bytes() >= kPieceTextLimit;
        if (stretch.stopped || stretch.full) return false;
        const LeafWalkCounts& c = stretch.counts;
        stretch.marks.push_back({stretch.run.cutHere(), c.recordsTaken, c.deletedSkipped,
                                 c.pagesRead.size(), c.checksums});
        return true;
    };
    const RecordLiteralPlan plan = planRecordLiterals(reader);
    stretch.status = walkLeafChain(
        reader, options,
        [&](core::ByteSpan page, const LeafRecord& record) {
            if (!stretch.run.addRowFrom([&](values::RowText& text) {
                    return appendLeafRecordLiterals(reader, frame.settings, plan, page, record.origin,
                                                    record.fieldAreaLength, nullBitmap,
                                                    format.savingFolder, text);
                })) {
                stretch.unreadable = true;
                return false;
            }
            return true;
        },
        stretch.counts);
    return stretch;
}

// The rows of a table whose leaf chain is cut into pieces at starts: the pieces are read
// and formatted on `workers` threads, and their text is written here in chain order. A
// piece counts only when it is what the one walk of the chain would have read: its walk
// led from its start to the next piece's start (the last one to the chain's end), met no
// damage and no page of an earlier piece. From the first piece that is not, the chain is
// read on by that one walk (walkClusteredIndex, with the counts of the pieces before), so
// damage is found, recovered and reported as it is without pieces. walked and damage
// receive what walkClusteredIndex would give.
core::Status walkInPieces(core::MainFrame& frame, InnodbReader& ctx, values::StatementSink& sink,
                          const ClusteredWalkOptions& options, const std::vector<std::uint32_t>& starts,
                          std::uint64_t indexId, std::uint32_t nullBitmap, unsigned workers,
                          const std::function<bool(core::ByteSpan, const LeafRecord&)>& onRecord,
                          LeafWalkCounts& walked, LeafDamage& damage) {
    const values::ScriptRowFormat& format = *sink.scriptFormat();
    const TablespaceSlot slot = options.walk.slot;
    std::vector<std::unique_ptr<InnodbReader>> readers;
    for (unsigned w = 0; w < workers; ++w) readers.push_back(ctx.copyForThread());
    const auto endOf = [&](std::size_t i) { return i + 1 < starts.size() ? starts[i + 1] : kFilNull; };
    values::RunBuffers buffers;
    core::OrderedWork<LeafStretch> pieces(workers, workers + 2, starts.size(), [&](std::size_t i, unsigned w) {
        return readStretch(*readers[w], frame, format, buffers, slot, indexId, nullBitmap, starts[i],
                           endOf(i));
    });
    // While the first pieces are read.
    runDeferredProgressRange(ctx);
    damage.keyNames = clusterKeyNames(ctx);
    VisitedPages seen(slotPageCount(ctx, slot));
    std::optional<std::uint32_t> takeOverAt;
    bool ended = false;
    for (std::size_t i = 0; i < starts.size() && !ended && !takeOverAt; ++i) {
        std::optional<LeafStretch> stretch = pieces.take();
        std::uint32_t from = starts[i];
        while (stretch) {
            bool repeated = false;
            for (const std::uint32_t p : stretch->counts.pagesRead) repeated |= seen.testAndSet(p);
            const bool whole = stretch->counts.reachedEnd ||
                               (endOf(i) == kFilNull && !stretch->stopped && !stretch->full);
            if (repeated || !stretch->sound() || !(whole || stretch->stopped || stretch->full)) {
                takeOverAt = from;
                break;
            }
            // Each page as the one walk comes to it: its progress, then a stop request ends
            // the walk before it.
            std::size_t stopBefore = stretch->marks.size();
            for (std::size_t k = 0; k < stretch->marks.size() && stopBefore == stretch->marks.size(); ++k) {
                frame.setProgressPosition(walked.pagesVisited + k);
                if (frame.stopRequested()) stopBefore = k;
            }
            bool written = false;
            if (stopBefore < stretch->marks.size()) {
                const PageMark& mark = stretch->marks[stopBefore];
                LeafWalkCounts part;
                part.pagesVisited = stopBefore;
                part.recordsTaken = mark.recordsTaken;
                part.deletedSkipped = mark.deletedSkipped;
                part.checksums = mark.checksums;
                part.pagesRead.assign(stretch->counts.pagesRead.begin(),
                                      stretch->counts.pagesRead.begin() +
                                          static_cast<std::ptrdiff_t>(mark.pagesRead));
                addWalkCounts(walked, part);
                written = sink.acceptRun(stretch->run, mark.cut);
                stretch->stopped = true;
            } else {
                addWalkCounts(walked, stretch->counts);
                written = sink.acceptRun(stretch->run);
            }
            buffers.give(stretch->run.releaseBuffer());
            if (!written || stretch->stopped) {
                ended = true;
                break;
            }
            if (!stretch->full) break;
            from = stretch->counts.endedBefore;
            stretch = readStretch(ctx, frame, format, buffers, slot, indexId, nullBitmap, from, endOf(i));
        }
    }
    pieces.stop();
    if (walked.pagesVisited != 0) frame.settings.resumeAtOffset = false;
    if (!takeOverAt) return core::Status::ok();
    ClusteredWalkOptions rest = options;
    rest.walk.firstPage = *takeOverAt;
    // Past the first piece the chain is held to the index of its first leaf.
    if (*takeOverAt != starts.front()) rest.walk.indexId = indexId;
    return walkClusteredIndex(ctx, frame.settings, rest, onRecord, walked, damage);
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
            frame.setProgressPosition(visited);
            return !frame.stopRequested();
        };
        options.afterPage = [&] { settings.resumeAtOffset = false; };

        options.indexId = ctx.clusteredIndexId;
        ClusteredWalkOptions walkOptions;
        walkOptions.walk = options;
        walkOptions.rootPage = ctx.clusteredRoot;

        LeafWalkCounts walked;
        LeafDamage damage;
        const std::function<bool(core::ByteSpan, const LeafRecord&)> onRecord =
            [&](core::ByteSpan page, const LeafRecord& record) {
                if (!decodeLeafRecord(ctx, settings, page, record.origin, record.fieldAreaLength,
                                      nullBitmap)) {
                    // Values of a record that does not parse would be guesses.
                    recordRefused(ctx, settings, page, record, nullBitmap, damage);
                    return true;
                }
                return sink.acceptRow(ctx.columns);
            };
        // The rows of a script save are read in pieces on several threads when the chain
        // can be cut (the level above the leaves names where) and no value lies outside
        // the leaf pages.
        const unsigned workers = values::saveWorkers(settings.saveJobs);
        std::vector<std::uint32_t> starts;
        std::uint64_t indexId = 0;
        if (workers > 1 && sink.scriptFormat() != nullptr && options.resumeOffset == 0 &&
            firstLeaf != 0 && fieldsStayInPage(ctx)) {
            indexId = chainIndexId(ctx, kind.slot, firstLeaf, ctx.clusteredIndexId);
            if (indexId != 0)
                starts = leafPieceStarts(ctx, kind.slot, ctx.clusteredRoot, firstLeaf, kLeavesPerPiece);
        }
        if (starts.size() < 2) runDeferredProgressRange(ctx);
        const core::Status status =
            starts.size() >= 2
                ? walkInPieces(frame, ctx, sink, walkOptions, starts, indexId, nullBitmap, workers,
                               onRecord, walked, damage)
                : walkClusteredIndex(ctx, settings, walkOptions, onRecord, walked, damage);
        if (!status) sink.fail(status.message());
        ok = sink.finish(walked.deletedSkipped);
        if (ok) {
            for (const std::string& line : damage.reportLines()) sink.reportCheck(line, true);
        }
        if (ok && !damage.complete()) {
            const std::string lost = damage.lossSummary();
            // At least one: a table whose index is not found at all has lost its rows too.
            sink.reportDamage(std::max<std::uint64_t>(1, damage.lostPages.size() + damage.unreadableCount()),
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
    // Only the page headers are read: a handle without read-ahead reads their 38 bytes,
    // not the whole file through the window before the walk reads it again.
    core::ReadOnlyFile headerOnly = file.duplicate(kFilHeaderSize);
    core::ReadOnlyFile& headers = headerOnly.isOpen() ? headerOnly : file;
    const std::uint64_t pages = slotPageCount(ctx, slot);
    const TablespaceFormat format = slotFormat(ctx, slot);
    VisitedPages visited(pages);
    std::uint32_t count = 0;
    for (std::uint32_t p = firstLeaf; p != kFilNull;) {
        ++count;
        if (frame.stopRequested() || p >= pages || count > pages) break;
        if (slot == TablespaceSlot::SystemTablespace && p == 0) break;
        if (visited.testAndSet(p)) break;
        const auto fil = readStoredFilHeader(headers, format, p);
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
    // The progress range is the leaf pages counted along the chain; the walk has the count
    // made once its threads are reading (runDeferredProgressRange), and it is made here if
    // the walk did not come to it.
    std::uint32_t leaves = 0;
    // The count refers to this call's locals: it never outlives it, whatever leaves it.
    struct ForgetCount {
        InnodbTableState& state;
        ~ForgetCount() { state.deferredProgressRange = nullptr; }
    } forgetCount{ctx};
    if (inOwnFile) {
        ctx.tablespaceSelected = true;
        ctx.deferredProgressRange = [&] {
            leaves = countLeafPagesInTablespaceFile(frame, ctx, firstLeaf);
            frame.setProgressRange(leaves);
        };
        ok = toServer ? parseibdfilefordatabase(frame, ctx, firstLeaf, 0, statementName, &counts)
                      : parseibdfileforscript(frame, ctx, firstLeaf, 0, statementName, &counts);
        runDeferredProgressRange(ctx);
        frame.setProgressPosition(leaves);
        ctx.tablespaceSelected = false;
    } else {
        ctx.deferredProgressRange = [&] {
            leaves = countLeafPagesInSystemTablespace(frame, ctx, firstLeaf);
            frame.setProgressRange(leaves);
        };
        ok = toServer
                 ? getdatafromibdatafilefordatbase(frame, ctx, firstLeaf, 0, statementName, &counts)
                 : getdatafromibdatafileforscript(frame, ctx, firstLeaf, 0, statementName, &counts);
        runDeferredProgressRange(ctx);
        frame.setProgressPosition(leaves);
    }
    if (rowCounts) *rowCounts = counts;
    return ok;
}

}  // namespace dunmore::innodb
