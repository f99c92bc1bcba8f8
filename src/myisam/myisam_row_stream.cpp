// MyISAM rows to their three destinations: a preview page of up to 1,000 rows, INSERT
// statements in a script file, and INSERT statements executed on a server. Each walks
// the .MYD with walkMyisamRows; the output streams keep one row in memory at a time.
#include "myisam/myisam_row_stream.h"

#include <exception>
#include <optional>

#include "myisam/myisam_record_reader.h"
#include "values/script_row_writer.h"
#include "values/sql_literal.h"

namespace dunmore::myisam {
namespace {

enum class Destination { Script, Server };

// The progress bar moves in about this many steps over a table.
constexpr std::uint64_t kProgressSteps = 1024;

values::DecodeOptions decodeOptions(const core::AppSettings& settings) {
    return {settings.version56OrLater, settings.saving()};
}

void logFailure(core::MainFrame& frame, std::string_view name, std::string_view reason) {
    std::string text = "Error in processing function ";
    text += name;
    text += "\r\n";
    if (!reason.empty()) {
        text += reason;
        text += "\r\n";
    }
    frame.writeLog(text);
}

bool runStream(core::MainFrame& frame, const std::filesystem::path& dataPath,
               std::string_view tableName, Destination destination) {
    const std::string_view name =
        destination == Destination::Script ? "mydfileforscript" : "mydfilefordatabase";
    core::RecoveryContext& ctx = frame.context;
    core::AppSettings& settings = frame.settings;
    try {
        if (!ctx.dataFile.open(dataPath)) return true;
        const std::string head = values::insertStatementHead(ctx.columns, tableName);
        const std::string_view statementEnd = destination == Destination::Script ? ");\r\n" : ");";
        const std::uint64_t fileLength = ctx.dataFile.size();
        const std::uint64_t range = fileLength;
        frame.frontend.setProgressRange(range);
        frame.frontend.setProgressPosition(0);
        const std::uint64_t progressStep = std::max<std::uint64_t>(1, fileLength / kProgressSteps);
        std::uint64_t lastProgress = 0;

        std::uint64_t rows = 0;
        std::string statement;
        std::string failure;
        ctx.previewRows.clear();
        std::optional<values::ScriptRowWriter> scriptRows;
        if (destination == Destination::Script)
            scriptRows.emplace(frame.scriptWriter, ctx.columns, head, statementEnd,
                               settings.savingFolder, values::saveWorkers(settings.saveJobs));

        WalkOptions options;
        options.decode = decodeOptions(settings);
        options.beforeRecord = [&] { return !frame.stopRequested(); };
        options.onRow = [&](std::uint64_t nextPosition) {
            for (const core::RowValues& row : ctx.previewRows) {
                if (scriptRows) {
                    if (!scriptRows->writeRow(row)) {
                        failure = "the script file could not be written";
                        return false;
                    }
                    ++rows;
                    continue;
                }
                statement.assign(head);
                values::appendRowValues(row, settings.savingFolder, statement);
                statement += statementEnd;
                if (frame.serverConnection == nullptr) {
                    failure = "no server connection";
                    return false;
                } else if (frame.serverConnection->executeStatement(statement)) {
                    ++rows;
                } else if (frame.serverConnection->connectionLost()) {
                    failure = "the connection to the server was lost after " +
                              std::to_string(rows) + " rows";
                    return false;
                } else {
                    frame.writeLog("row not inserted after " + std::to_string(rows) +
                                   "  row no.\r\n");
                }
            }
            recycleRows(ctx);
            if (nextPosition - lastProgress >= progressStep || nextPosition < lastProgress) {
                lastProgress = nextPosition;
                frame.frontend.setProgressPosition(nextPosition);
            }
            return true;
        };
        const WalkCounts counts = walkMyisamRows(ctx, 0, options);
        ctx.previewRows.clear();
        if (scriptRows && !scriptRows->finish() && failure.empty())
            failure = "the script file could not be written";
        frame.frontend.setProgressPosition(range);
        if (!failure.empty()) {
            logFailure(frame, name, failure);
            return false;
        }
        if (destination == Destination::Script) {
            frame.scriptWriter.writeText("COMMIT;\r\n\r\n");
            if (frame.scriptWriter.failed()) {
                logFailure(frame, name, "the script file could not be written");
                return false;
            }
        }
        const std::string total =
            "Total Number of record inserted =  " + std::to_string(rows) + " .";
        frame.writeLog(total + "\r\n\r\n");
        frame.addOutputLine(total);
        frame.writeLog("Deleted records skipped = " + std::to_string(counts.deletedSkipped) +
                       "\r\n");
        if (counts.damagedSkipped > 0) {
            // Rows were lost to damage: the save is not complete, and says so.
            frame.writeLog("Damaged records skipped = " + std::to_string(counts.damagedSkipped) +
                           "\r\n");
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        ctx.previewRows.clear();
        logFailure(frame, name, e.what());
    } catch (...) {
        ctx.previewRows.clear();
        logFailure(frame, name, {});
    }
    return false;
}

}  // namespace

bool loadMyisamPreviewPage(core::MainFrame& frame, const std::filesystem::path& dataPath) {
    core::RecoveryContext& ctx = frame.context;
    if (!ctx.dataFile.open(dataPath)) return true;
    ctx.pageStack.push_back({0, 0});
    readMyisamPreviewPage(frame, 0);
    return true;
}

void readMyisamPreviewPage(core::MainFrame& frame, std::uint64_t startPosition) {
    core::RecoveryContext& ctx = frame.context;
    if (!ctx.dataFile.isOpen()) return;
    ctx.moreRows = false;
    WalkOptions options;
    options.decode = decodeOptions(frame.settings);
    options.onRow = [&](std::uint64_t nextPosition) {
        if (ctx.previewRows.size() < kPreviewPageRows) return true;
        ctx.moreRows = true;
        if (!ctx.keepPositions) ctx.pageStack.push_back({0, nextPosition});
        return false;
    };
    (void)walkMyisamRows(ctx, startPosition, options);
}

bool mydfileforscript(core::MainFrame& frame, const std::filesystem::path& dataPath,
                      std::string_view tableName) {
    return runStream(frame, dataPath, tableName, Destination::Script);
}

bool mydfilefordatabase(core::MainFrame& frame, const std::filesystem::path& dataPath,
                        std::string_view tableName) {
    return runStream(frame, dataPath, tableName, Destination::Server);
}

}  // namespace dunmore::myisam
