#pragma once

#include "core/column_definition.h"
#include "core/innodb_column.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dunmore::core {

// The definition of one table, as its .frm file (or the SDI of its tablespace) gives it.
struct TableDefinitionState {
    std::uint8_t engineCode = 0;  // 9 MyISAM, 12 InnoDB
    std::uint32_t tableCharset = 0;
    std::vector<ColumnDefinition> columns;
    std::vector<GeneratedColumn> generatedColumns;  // MySQL 8 only; not in columns
    std::vector<std::string> intervalValues;
    std::uint32_t recordLength = 0;
    std::uint32_t nullBitmapBytes = 0;
    std::vector<KeyInfo> keys;  // in file order
    std::uint32_t mysqlVersion = 0;  // header offset 51
    // .frm header: the table options (bit 1 packed records, bit 32 record checksums) and
    // MAX_ROWS, from which MyISAM laid out its data file.
    std::uint16_t createOptions = 0;
    std::uint32_t maxRows = 0;
    // A partitioned table (engine code 20 in its .frm, or a MySQL 5.7 table that keeps a
    // partition text): engineCode is then the engine of its partitions, partitionText
    // the SQL of its PARTITION BY clause as the server wrote it, and partitionDamage why
    // that text cannot be read (empty when it can).
    bool partitioned = false;
    std::string partitionText;
    std::string partitionDamage;
    // MySQL 8.0+ tables defined by the SDI of their tablespace: the clustered index's
    // root page (0 for a .frm table) and every field of its records in record order.
    std::uint32_t sdiRootPage = 0;
    std::vector<InnodbColumn> sdiFields;
};

inline constexpr std::uint8_t kEngineMyisam = 9;
inline constexpr std::uint8_t kEngineInnodb = 12;
inline constexpr std::uint8_t kEnginePartition = 20;  // the partition engine over the others

// Where a later preview screen starts: a page (InnoDB; 0 for MyISAM) and an offset in it
// (MyISAM: a byte position in the .MYD); for a partitioned table also the partition (its
// place in the table's list), whose start is page 0, offset 0.
struct PagePosition {
    std::uint32_t page = 0;
    std::uint64_t offset = 0;
    std::uint32_t partition = 0;
};

// The reading of one table: its definition and the rows of the preview screen read last.
// The engines derive their readers from it (myisam::MyisamReader, innodb::InnodbReader)
// with their own files, page buffer and working lists. A job creates one per table;
// readers of different tables share nothing but the run's RecoveryContext, which they
// only read, so several can read at once on different threads.
class TableReader : public TableDefinitionState {
public:
    TableReader() = default;
    explicit TableReader(TableDefinitionState definition)
        : TableDefinitionState(std::move(definition)) {}
    virtual ~TableReader() = default;
    TableReader(const TableReader&) = delete;
    TableReader& operator=(const TableReader&) = delete;

    std::vector<RowValues> previewRows;
    std::vector<PagePosition> pageStack;
    bool moreRows = false;
    bool keepPositions = false;
};

}  // namespace dunmore::core
