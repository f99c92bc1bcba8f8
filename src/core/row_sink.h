#pragma once

#include "core/column_definition.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::core {

// Where a row walk hands each decoded row: the statements of a save (script file or
// server) or the records pane's page. Both engines' walks feed it, so that a walk is the
// reading of the file and nothing else.
class RowSink {
public:
    virtual ~RowSink() = default;
    // One decoded row; it is valid only during the call. False ends the walk: the
    // destination takes no more rows (a full preview page, a failed script write).
    virtual bool acceptRow(const RowValues& row) = 0;
};

// The preview's sink: keeps copies of up to `limit` rows and says stop at the last one.
class PreviewSink : public RowSink {
public:
    PreviewSink(std::vector<RowValues>& rows, std::size_t limit) : m_rows(rows), m_limit(limit) {}
    bool acceptRow(const RowValues& row) override {
        m_rows.push_back(row);
        return m_rows.size() < m_limit;
    }

private:
    std::vector<RowValues>& m_rows;
    std::size_t m_limit;
};

// What a table's rows came to, for the job that saved them.
struct TableRowCounts {
    std::uint64_t written = 0;         // rows written (script) or accepted (server)
    std::uint64_t rejected = 0;        // rows the destination refused
    std::uint64_t deletedSkipped = 0;  // deleted records passed over
    std::uint64_t damaged = 0;         // records or pages that could not be read
    bool failed = false;               // the stream ended on a failure
    // What of the table was lost, in words, for the job's final message ("12 of the 40
    // rows its .MYI counts were not found"); empty when nothing was.
    std::string loss;
    // The damage report of the table: what its reading met (records or pages read,
    // damaged, skipped; page checksums; the .MYI state), one line each, as the log of
    // the save and dunmore check give it.
    std::vector<std::string> report;
    // Every stored row reached the destination.
    bool complete() const { return !failed && rejected == 0 && damaged == 0; }
};

}  // namespace dunmore::core
