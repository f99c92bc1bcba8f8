// MyISAM rows to their three destinations: a preview page of up to 1,000 rows, INSERT
// statements in a script file, and INSERT statements executed on a server. Each walks
// the .MYD with walkMyisamRows; the output streams keep one row in memory at a time.
#include "myisam/myisam_row_stream.h"

#include <exception>

#include "core/row_sink.h"
#include "myisam/myisam_record_reader.h"
#include "values/statement_sink.h"

namespace dunmore::myisam {
namespace {

// The progress bar moves in about this many steps over a table.
constexpr std::uint64_t kProgressSteps = 1024;

values::DecodeOptions decodeOptions(const core::AppSettings& settings) {
    return {settings.version56OrLater, settings.saving()};
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
        frame.frontend.setProgressRange(fileLength);
        frame.frontend.setProgressPosition(0);
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
                frame.frontend.setProgressPosition(nextPosition);
            }
            return true;
        };
        const WalkCounts walked = walkMyisamRows(ctx, 0, options);
        frame.frontend.setProgressPosition(fileLength);
        sink.writeScriptText("COMMIT;\r\n\r\n");
        ok = sink.finish(walked.deletedSkipped);
        if (ok && walked.damagedSkipped > 0) {
            // Rows were lost to damage: the save is not complete, and says so.
            sink.reportDamage(walked.damagedSkipped,
                              "Damaged records skipped = " + std::to_string(walked.damagedSkipped),
                              false);
            ok = false;
        }
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

void readMyisamPreviewPage(core::MainFrame& frame, MyisamReader& ctx, std::uint64_t startPosition) {
    if (!ctx.dataFile.isOpen()) return;
    ctx.moreRows = false;
    core::PreviewSink page(ctx.previewRows, kPreviewPageRows);
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
