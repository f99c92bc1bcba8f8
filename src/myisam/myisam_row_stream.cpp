// MyISAM rows to their three destinations: a preview page of up to 1,000 rows, INSERT
// statements in a script file, and INSERT statements executed on a server. Each walks
// the .MYD with walkMyisamRows; the output streams keep one row in memory at a time.
#include "myisam/myisam_row_stream.h"

#include <exception>
#include <memory>
#include <optional>

#include "core/ordered_work.h"
#include "core/row_sink.h"
#include "myisam/dynamic_record.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_record_reader.h"
#include "values/statement_sink.h"

namespace dunmore::myisam {
namespace {

// The progress bar moves in about this many steps over a table.
constexpr std::uint64_t kProgressSteps = 1024;

values::DecodeOptions decodeOptions(const core::AppSettings& settings) {
    return {settings.saving()};
}

// The table's damage report, in the log and counts().report: what the walk read and
// passed over, the state of the .MYI, and what the .MYI state says was lost; the losses
// also in the output pane and in the sink's loss for the job's final message. False
// when any stored row was not saved: damaged records, a compressed data file, a data
// file shorter than its .MYI says, fewer or more rows than its .MYI counts (not checked
// after a stop).
bool reportTable(const MyisamReader& ctx, values::StatementSink& sink,
                 const WalkCounts& walked, std::uint64_t fileLength,
                 const std::filesystem::path& dataPath, bool stopped) {
    const std::string dataName = dataPath.filename().string();
    const std::string indexName = dataPath.stem().string() + ".MYI";
    if (ctx.myisamRowFormat == kRowFormatCompressed) {
        sink.reportDamage(1, dataName + " is compressed (myisampack): its rows are not read", true);
        sink.nameLoss("its rows are compressed (myisampack) and not read");
        sink.reportCheck(dataName + " is compressed (myisampack): its rows are not read.");
        return false;
    }
    bool complete = true;
    if (walked.damagedSkipped > 0) {
        sink.reportDamage(walked.damagedSkipped,
                          "Damaged records skipped = " + std::to_string(walked.damagedSkipped), false);
        sink.nameLoss(std::to_string(walked.damagedSkipped) + " damaged record(s) of " + dataName +
                      " skipped");
        complete = false;
    }
    sink.reportCheck(dataName + ": " + std::to_string(walked.rows) + " records read, " +
                     std::to_string(walked.deletedSkipped) + " deleted skipped, " +
                     std::to_string(walked.damagedSkipped) + " damaged skipped (" +
                     (ctx.myisamRowFormat == kRowFormatDynamic ? "dynamic" : "fixed-length") +
                     " rows).");
    if (!ctx.headDamage.empty()) sink.reportCheck(ctx.headDamage, true);
    if (!ctx.countsDamage.empty()) sink.reportCheck(ctx.countsDamage, true);
    if (!ctx.stateCounts) return complete;
    const MyisamStateCounts& state = *ctx.stateCounts;
    const std::string oldCount = state.openCount != 0
                                     ? " (the table was not closed cleanly: the count may be old)"
                                     : "";
    if (ctx.headDamage.empty())
        sink.reportCheck(indexName + ": intact; its state counts " + std::to_string(state.records) +
                         " rows in " + std::to_string(state.dataFileLength) + " bytes" + oldCount + ".");
    if (stopped) return complete;
    if (fileLength < state.dataFileLength) {
        sink.reportCheck(dataName + " is " + std::to_string(fileLength) + " bytes long, " + indexName +
                             " says " + std::to_string(state.dataFileLength) + ": the rows of its last " +
                             std::to_string(state.dataFileLength - fileLength) + " bytes are lost.",
                         true);
        sink.reportDamage(1, {}, false);
        sink.nameLoss(dataName + " is " + std::to_string(state.dataFileLength - fileLength) +
                      " bytes shorter than " + indexName + " says");
        complete = false;
    }
    if (walked.rows != state.records) {
        const std::string found = std::to_string(walked.rows);
        const std::string counted = std::to_string(state.records);
        std::string line = "Records found = " + found + ", " + indexName + " counts " + counted;
        if (walked.rows < state.records) {
            line += ": " + std::to_string(state.records - walked.rows) + " rows are lost" + oldCount + ".";
            sink.nameLoss(std::to_string(state.records - walked.rows) + " of the " + counted +
                          " rows " + indexName + " counts were not found");
        } else {
            line += ": " + std::to_string(walked.rows - state.records) +
                    " rows more than stored" + oldCount + "; some may not be rows of the table.";
            sink.nameLoss(found + " rows found where " + indexName + " counts " + counted);
        }
        sink.reportCheck(line, true);
        sink.reportDamage(1, {}, false);
        complete = false;
    }
    return complete;
}

// A table read in pieces takes about this many bytes of its .MYD at a time.
constexpr std::uint64_t kPieceBytes = std::uint64_t{512} << 10;
// A piece whose script text reaches this many bytes ends at the next record; the rest of
// it is read on the writing thread when its turn comes, so that the pieces waiting for
// their turn stay small whatever the rows hold.
constexpr std::size_t kPieceTextLimit = std::size_t{4} << 20;

// A stretch of the .MYD read by one thread: where it starts, the script text of its rows
// and what the walk met.
struct RecordStretch {
    RecordStretch(const values::ScriptRowFormat& format, std::string buffer)
        : run(format, std::move(buffer)) {}
    values::ScriptRowRun run;
    std::uint64_t start = 0;
    bool found = false;    // a start was found in the piece
    bool stopped = false;  // a stop request ended it
    WalkCounts counts;
};

// The rows of the table in pieces of the .MYD read and formatted on `workers` threads and
// written here in file order. Fixed-length slots cut exactly. Dynamic records are cut at
// a position in each piece that startsBlockRun (the first piece at 0), a guess: a piece
// counts only when the one walk of the file, having written what comes before, stands
// exactly at its start, not searching; the walk then goes on where the piece ended. What
// no counted piece covers the walk reads itself here (walkMyisamRows with sequential and
// the state where it stands), so the rows, their order and every count are those of one
// walk of the whole file.
WalkCounts walkInPieces(core::MainFrame& frame, MyisamReader& ctx, values::StatementSink& sink,
                        const WalkOptions& sequential, unsigned workers) {
    const std::uint64_t fileLength = ctx.dataFile.size();
    const bool dynamic = ctx.myisamRowFormat == kRowFormatDynamic;
    std::uint64_t pieceBytes = kPieceBytes;
    if (!dynamic) {
        const std::uint64_t step = fixedRowStep(ctx, fileLength);
        if (step == 0) return walkMyisamRows(ctx, 0, sequential);
        pieceBytes = std::max<std::uint64_t>(1, kPieceBytes / step) * step;
    }
    const std::size_t count = static_cast<std::size_t>((fileLength + pieceBytes - 1) / pieceBytes);
    const auto nominal = [&](std::size_t j) { return std::min<std::uint64_t>(j * pieceBytes, fileLength); };
    const values::ScriptRowFormat& format = *sink.scriptFormat();
    std::vector<std::unique_ptr<MyisamReader>> readers;
    for (unsigned w = 0; w < workers; ++w) readers.push_back(ctx.copyForThread());

    values::RunBuffers buffers;
    // Where piece j starts, as any thread works it out.
    const auto startOf = [&](std::size_t j, core::ReadOnlyFile& file) {
        return j == 0 || !dynamic ? nominal(j) : findBlockRun(file, nominal(j), nominal(j + 1));
    };
    core::OrderedWork<RecordStretch> pieces(workers, workers + 2, count, [&](std::size_t j, unsigned w) {
        MyisamReader& reader = *readers[w];
        RecordStretch stretch(format, buffers.take());
        stretch.start = startOf(j, reader.dataFile);
        stretch.found = stretch.start < nominal(j + 1);
        if (!stretch.found) return stretch;
        WalkOptions options;
        options.decode = sequential.decode;
        options.collectRows = false;
        // Up to the next piece's start, so that the walk stands there when it ends.
        options.endPosition = j + 1 < count ? startOf(j + 1, reader.dataFile) : ~std::uint64_t{0};
        options.beforeRecord = [&] {
            stretch.stopped = frame.stopRequested();
            return !stretch.stopped && stretch.run.bytes() < kPieceTextLimit;
        };
        // Dynamic records go from their fields to literals; fixed-length rows through
        // their values.
        std::optional<DynamicLiteralPlan> plan;
        if (dynamic) {
            options.unpackRecord = [&](const MyisamRowLayout& layout, core::ByteSpan record) {
                if (!plan) plan = planDynamicLiterals(reader, layout);
                UnpackResult unpacked = UnpackResult::Malformed;
                stretch.run.addRowFrom([&](values::RowText& text) {
                    unpacked = appendDynamicRecordLiterals(reader, layout, *plan, record, format.savingFolder, text);
                    return unpacked == UnpackResult::Row;
                });
                return unpacked;
            };
        }
        options.onRow = [&](std::uint64_t) {
            if (!dynamic) stretch.run.addRow(reader.columns);
            return true;
        };
        stretch.counts = walkMyisamRows(reader, stretch.start, options);
        return stretch;
    });

    WalkCounts total;
    bool ended = false;
    // The one walk, from where it stands up to `to`.
    const auto walkTo = [&](std::uint64_t to) {
        WalkOptions options = sequential;
        options.endPosition = to;
        options.startSearching = total.searching;
        addWalkCounts(total, walkMyisamRows(ctx, total.nextPosition, options));
        ended = frame.stopRequested() || sink.counts().failed;
    };
    for (std::size_t j = 0; j < count && !ended; ++j) {
        std::optional<RecordStretch> stretch = pieces.take();
        if (!stretch) continue;
        if (stretch->found) {
            if (total.nextPosition < stretch->start) walkTo(stretch->start);
            // Out of step (the walk is past the piece's start, or searching): the walk
            // reads the piece's rows itself.
            if (!ended && total.nextPosition == stretch->start && !total.searching) {
                addWalkCounts(total, stretch->counts);
                if (!sink.acceptRun(stretch->run) || stretch->stopped || frame.stopRequested())
                    ended = true;
                frame.setProgressPosition(total.nextPosition);
            }
        }
        buffers.give(stretch->run.releaseBuffer());
    }
    pieces.stop();
    if (!ended && total.nextPosition < fileLength) walkTo(~std::uint64_t{0});
    return total;
}

bool runStream(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath,
               std::string_view tableName, values::StatementDestination destination,
               core::TableRowCounts* counts) {
    const bool script = destination == values::StatementDestination::Script;
    if (!ctx.dataFile.open(dataPath)) {
        // The stream's own result stays true (nothing was written, nothing to log); the
        // counts tell the job that the table's rows were not read at all.
        if (counts) {
            *counts = {};
            counts->failed = true;
        }
        return true;
    }
    values::StatementSink sink(frame, script ? "mydfileforscript" : "mydfilefordatabase",
                               destination, ctx.columns, tableName, script ? ");\r\n" : ");");
    bool ok = false;
    try {
        const std::uint64_t fileLength = ctx.dataFile.size();
        frame.setProgressRange(fileLength);
        frame.setProgressPosition(0);
        const std::uint64_t progressStep = std::max<std::uint64_t>(1, fileLength / kProgressSteps);
        std::uint64_t lastProgress = 0;
        ctx.previewRows.clear();

        WalkOptions options;
        options.decode = decodeOptions(frame.settings);
        options.collectRows = false;
        options.beforeRecord = [&] { return !frame.stopRequested(); };
        options.onRow = [&](std::uint64_t nextPosition) {
            if (!sink.acceptRow(ctx.columns)) return false;
            if (nextPosition - lastProgress >= progressStep || nextPosition < lastProgress) {
                lastProgress = nextPosition;
                frame.setProgressPosition(nextPosition);
            }
            return true;
        };
        // The rows of a script save are read in pieces on several threads when the file
        // is large enough to cut.
        const unsigned workers = values::saveWorkers(frame.settings.saveJobs);
        const bool pieces = workers > 1 && sink.scriptFormat() != nullptr &&
                            fileLength >= 2 * kPieceBytes && !ctx.columns.empty() &&
                            (ctx.myisamRowFormat == kRowFormatFixed ||
                             ctx.myisamRowFormat == kRowFormatDynamic);
        const WalkCounts walked =
            pieces ? walkInPieces(frame, ctx, sink, options, workers) : walkMyisamRows(ctx, 0, options);
        frame.setProgressPosition(fileLength);
        sink.writeScriptText("COMMIT;\r\n\r\n");
        ok = sink.finish(walked.deletedSkipped);
        if (ok) ok = reportTable(ctx, sink, walked, fileLength, dataPath, frame.stopRequested());
    } catch (const std::exception& e) {
        sink.fail(e.what());
        ok = sink.finish(0);
    } catch (...) {
        sink.fail({});
        ok = sink.finish(0);
    }
    ctx.previewRows.clear();
    if (counts) *counts = sink.counts();
    return ok;
}

}  // namespace

bool loadMyisamPreviewPage(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath) {
    if (!ctx.dataFile.open(dataPath)) return true;
    ctx.pageStack.push_back({0, 0});
    readMyisamPreviewPage(frame, ctx, 0);
    return true;
}

void readMyisamPreviewPage(core::MainFrame& frame, MyisamReader& ctx, std::uint64_t startPosition,
                           std::size_t limit) {
    if (!ctx.dataFile.isOpen()) return;
    ctx.moreRows = false;
    core::PreviewSink page(ctx.previewRows, limit);
    WalkOptions options;
    options.decode = decodeOptions(frame.settings);
    options.collectRows = false;
    options.onRow = [&](std::uint64_t nextPosition) {
        if (page.acceptRow(ctx.columns)) return true;
        ctx.moreRows = true;
        if (!ctx.keepPositions) ctx.pageStack.push_back({0, nextPosition});
        return false;
    };
    (void)walkMyisamRows(ctx, startPosition, options);
}

bool mydfileforscript(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath,
                      std::string_view tableName, core::TableRowCounts* counts) {
    return runStream(frame, ctx, dataPath, tableName, values::StatementDestination::Script, counts);
}

bool mydfilefordatabase(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath,
                        std::string_view tableName, core::TableRowCounts* counts) {
    return runStream(frame, ctx, dataPath, tableName, values::StatementDestination::Server, counts);
}

bool saveMyisamTableRows(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath,
                         std::string_view statementName, bool toServer,
                         core::TableRowCounts* counts) {
    core::TableRowCounts rows;
    const bool ok = toServer ? mydfilefordatabase(frame, ctx, dataPath, statementName, &rows)
                             : mydfileforscript(frame, ctx, dataPath, statementName, &rows);
    if (counts) *counts = rows;
    return ok && !rows.failed && rows.damaged == 0;
}

}  // namespace dunmore::myisam
