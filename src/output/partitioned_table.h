#pragma once

#include "core/catalogue.h"
#include "core/main_frame.h"
#include "core/row_sink.h"
#include "core/table_reader.h"

#include <string>
#include <vector>

namespace dunmore::output {

// One partition (or subpartition) of a partitioned table and where its rows are.
struct TablePartition {
    std::string partition;     // real names
    std::string subpartition;  // empty without subpartitioning
    // The base name of its files (t#P#p0, t#P#p0#SP#p0sp0), as found on disk or in the
    // dictionary of ibdata1; the name it should have when it was found in neither.
    std::string fileBase;
    bool found = false;
    // "partition p0" or "subpartition p0sp0 of partition p0".
    std::string describe() const;
    // The table entry whose files are this partition's, named "T (partition p0)".
    core::TableEntry entry(const core::TableEntry& table) const;
};

// The partitions of a partitioned table, in definition order, from its .par file (MySQL
// 5.1 to 5.6, MariaDB) or, without a readable one, from the partition text of its
// definition; when neither can be read, the partition files found on disk. notes are the
// log lines of how they were found (a damaged .par, names that disagree, data files of the
// table that no partition names); problem says why the list is not the whole table's
// (empty when it is).
struct TablePartitions {
    std::vector<TablePartition> partitions;
    std::vector<std::string> notes;
    std::string problem;
};
TablePartitions findTablePartitions(const core::MainFrame& frame, const core::TableEntry& table,
                                    const core::TableDefinitionState& definition);

// saveTableRows for a partitioned table of MyISAM or InnoDB partitions: the rows of every
// partition, read with the stream of its engine and written under statementName, one
// partition after the other. A partition whose file is missing, and one whose rows are
// not all read, is named in the result ("Rows of table T (partition p1) not saved: ...")
// and in counts; the other partitions are saved. Returns the empty text when every row of
// every partition was read and handed on.
std::string savePartitionedTableRows(core::MainFrame& frame, const core::TableEntry& table,
                                     const core::TableDefinitionState& definition,
                                     const std::string& databaseFolder, const std::string& statementName,
                                     bool toServer, core::TableRowCounts& counts);

}  // namespace dunmore::output
