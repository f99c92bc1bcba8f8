#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/column_definition.h"
#include "core/main_frame.h"
#include "core/row_sink.h"
#include "myisam/myisam_reader.h"

namespace dunmore::myisam {

inline constexpr std::size_t kPreviewPageRows = 1000;

// Opens the .MYD at dataPath into ctx.dataFile (it stays open for later pages), pushes
// {0, 0} on pageStack and reads the first page into previewRows. Returns true, also when
// the file cannot be opened (no rows then).
// Requires: the table's .frm and .MYI were read into ctx.
bool loadMyisamPreviewPage(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath);

// Reads up to limit live rows from startPosition of the open ctx.dataFile into
// previewRows. At the limit-th row it sets moreRows and, unless keepPositions is set,
// pushes {0, position of the next row} on pageStack. Nothing happens when dataFile is
// not open. Requires: the caller emptied previewRows.
void readMyisamPreviewPage(core::MainFrame& frame, MyisamReader& ctx, std::uint64_t startPosition,
                           std::size_t limit = kPreviewPageRows);

// Every live row of the .MYD at dataPath as one INSERT statement ending in ");\r\n",
// written through frame.scriptWriter, then "COMMIT;" and two line ends. Logs and shows
// "Total Number of record inserted =  N ." and logs "Deleted records skipped = N".
// Stops before the next row once a stop is requested. Returns true on completion (also
// when the file cannot be opened: nothing is written then) and false when it failed
// ("Error in processing function mydfileforscript" in the log) or when damaged records
// were passed over (the rows around them are written; the log says
// "Damaged records skipped = N"). counts, when given, receives what became of the rows
// (failed when the .MYD could not be opened).
bool mydfileforscript(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath,
                      std::string_view tableName, core::TableRowCounts* counts = nullptr);

// The same rows executed one by one on frame.serverConnection (statements end in ");").
// A rejected row logs "row not inserted after N  row no." and the walk goes on; the
// total counts the rows the server accepted. The walk itself completed, so the result
// is true; counts->rejected says how many rows are missing.
bool mydfilefordatabase(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath,
                        std::string_view tableName, core::TableRowCounts* counts = nullptr);

// The rows step of a save for a MyISAM table whose .frm and .MYI were read: the script
// or the server stream. True when every stored row was read and handed on; a .MYD that
// does not open, a failure or damaged records make it false. Rows the server rejected are counted in
// counts->rejected, which the server job reports (the walk itself completed).
bool saveMyisamTableRows(core::MainFrame& frame, MyisamReader& ctx, const std::filesystem::path& dataPath,
                         std::string_view statementName, bool toServer,
                         core::TableRowCounts* counts = nullptr);

}  // namespace dunmore::myisam
