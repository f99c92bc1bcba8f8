#pragma once

#include "core/column_definition.h"
#include "core/main_frame.h"
#include "core/row_sink.h"
#include "innodb/innodb_reader.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::innodb {

// The row streams: every live record of the leaf chain from firstLeaf becomes one INSERT
// statement, written to frame.scriptWriter (script variants) or executed on
// frame.serverConnection (server variants). They send the pages visited as the progress
// position, stop before the next page when a stop is requested, and end with the log and
// output line "Total Number of record inserted =  N ." and the log line
// "Deleted records skipped = N". A read failure (or a failed script write) logs
// "Error in processing function <name>" and gives false; so do leaf pages in a record
// format other than compact (REDUNDANT), whose rows are not read, after the total line.
// The server variants log a rejected row as "row not inserted after N  row no." and go
// on; the walk still completes (true) and counts->rejected says how many rows are
// missing. counts, when given, receives what became of the rows.
// Requires: ctx.columns read from the .frm and ctx.clusteredFields built; for the .ibd
// variants tablespaceSelected set and tablespaceFile open.
bool parseibdfileforscript(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                           std::uint64_t resumeOffset, std::string_view tableName,
                           core::TableRowCounts* counts = nullptr);
bool getdatafromibdatafileforscript(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                                    std::uint64_t resumeOffset, std::string_view tableName,
                                    core::TableRowCounts* counts = nullptr);
bool parseibdfilefordatabase(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                             std::uint64_t resumeOffset, std::string_view tableName,
                             core::TableRowCounts* counts = nullptr);
bool getdatafromibdatafilefordatbase(core::MainFrame& frame, InnodbReader& ctx, std::uint32_t firstLeaf,
                                     std::uint64_t resumeOffset, std::string_view tableName,
                                     core::TableRowCounts* counts = nullptr);

// Leaf pages of the chain from firstLeaf, for the progress range: the number of steps
// taken, including the one that hit a bound (stop request, page out of range, a page met
// twice, more steps than the file has pages; page 0 in the system tablespace).
std::uint32_t countLeafPagesInTablespaceFile(core::MainFrame& frame, InnodbReader& ctx,
                                            std::uint32_t firstLeaf);
std::uint32_t countLeafPagesInSystemTablespace(core::MainFrame& frame, InnodbReader& ctx,
                                              std::uint32_t firstLeaf);

// The InnoDB rows of one table in a save job: prepareInnodbTable (its log lines), then
// "Saving Data...", the progress range 0 .. the leaf-page count, the stream of the file
// that holds the table (the server variants when toServer is set) with tablespaceSelected
// set while an .ibd is read, and the progress position at that count. statementName is
// the table name used in the statements (the save job shortens long names).
// Requires: ctx holds the table's definition.
// Returns false when the table could not be located (except when neither the .ibd nor
// ibdata1 exists: nothing is written then, and true), the stream failed or rows were
// lost to damage. Rows the server rejected are counted in counts->rejected, which the
// server job reports. problem, when given, receives why the records cannot be read at
// all (TableLookup::LayoutUnreadable); it stays empty otherwise.
bool saveInnodbTableRows(core::MainFrame& frame, InnodbReader& ctx, const std::filesystem::path& dbFolder,
                         const std::string& tableName, std::string_view statementName,
                         bool toServer, core::TableRowCounts* counts = nullptr,
                         std::string* problem = nullptr);

}  // namespace dunmore::innodb
