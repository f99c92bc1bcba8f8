#pragma once

#include "core/catalogue.h"
#include "core/main_frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dunmore::cli {

// What the files of one table say about it, without reading its rows.
struct TableFacts {
    std::string engine;     // "MyISAM", "InnoDB", "engine code N"; empty: definition unreadable
    std::string rowFormat;  // "Fixed", "Dynamic", "Compressed", "Compact", "Redundant", ...
    std::string rowsFile;   // the file that holds the rows (.MYD, .ibd or ibdata1); may be empty
    bool inSystemTablespace = false;
    std::optional<std::uint64_t> sizeBytes;      // data and index files; ibdata1: leaf pages
    std::optional<std::uint64_t> estimatedRows;  // .MYI state, or the InnoDB leaf page headers
    std::uint64_t leafPages = 0;                 // InnoDB: pages of the clustered leaf chain
    std::uint64_t tableId = 0;                   // InnoDB dictionary id; 0 without one
    std::uint32_t rootPage = 0;                  // InnoDB clustered index root; 0 unknown
    // A partitioned table: how many partitions its definition names, and the file (or
    // "ibdata1") of each one found; rows, sizes and leaf pages are their sums.
    std::size_t partitions = 0;
    std::vector<std::string> partitionFiles;
    std::string serverVersion;  // "MySQL 8.0.40" when the definition came from the SDI
    std::string problem;  // why something could not be told; empty when all was read
};

// Reads the table's definition, its .MYI state or its InnoDB location and leaf page
// headers with a reader of its own, which it closes before returning.
TableFacts readTableFacts(core::MainFrame& frame, const core::TableEntry& table);

}  // namespace dunmore::cli
