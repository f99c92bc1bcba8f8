#pragma once

#include "core/innodb_column.h"
#include "core/read_only_file.h"
#include "core/recovery_context.h"
#include "core/table_reader.h"
#include "innodb/dictionary_records.h"
#include "innodb/page.h"
#include "innodb/tablespace_format.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dunmore::innodb {

// ibdata1 as the scan opened it: its page count and the dictionary loaded from it
// (openSystemTablespace). Read-only once loaded.
class SystemTablespace : public core::SystemTablespaceFile {
public:
    std::uint32_t pageSize = kDefaultPageSize;
    std::uint64_t pageCount = 0;
    std::vector<SysTablesRecord> sysTables;
    std::vector<SysColumnsRecord> sysColumns;
    std::vector<SysIndexesRecord> sysIndexes;
};

// What one InnoDB table's reading works out: its dictionary columns, its column layout,
// the tablespace that holds it and the clustered index found.
struct InnodbTableState {
    std::vector<SysColumnsRecord> tableSysColumns;
    std::vector<core::InnodbColumn> innodbColumns;
    std::vector<core::InnodbColumn> clusteredFields;
    FilHeader lastFilHeader;
    std::uint64_t tablespacePageCount = 0;
    bool tablespaceSelected = false;
    // The clustered index of the table located last: its root page and (from the
    // dictionary) its index id; 0 when not known.
    std::uint32_t clusteredRoot = 0;
    std::uint64_t clusteredIndexId = 0;
    // MariaDB 10.3+ instant ALTER TABLE of that index: the number of fields of the records
    // that do not store their own field count (n_core_fields; 0: the index never went
    // through one) and the null-bitmap bytes of those records.
    std::uint32_t instantCoreFields = 0;
    std::uint32_t instantCoreNullBytes = 0;
    // Why the record decoded last lost a value ("its value of c cannot be read whole
    // (...)": an off-page value whose pages cannot be read to its length); empty when none.
    std::string valueLoss;
    // Room for the text of one value on its way to a literal (appendLeafRecordLiterals).
    std::string literalScratch;
    // Set by a save before its rows walk: counts the leaf pages and sets the progress range.
    // The walk calls it once (runDeferredProgressRange) before the progress of its first
    // page, after its threads have begun to read the first pieces, so that the count
    // does not hold them up.
    std::function<void()> deferredProgressRange;
};

// Calls ctx.deferredProgressRange, if set, and clears it.
inline void runDeferredProgressRange(InnodbTableState& ctx) {
    if (!ctx.deferredProgressRange) return;
    const std::function<void()> run = std::move(ctx.deferredProgressRange);
    ctx.deferredProgressRange = nullptr;
    run();
}

// The reading of one InnoDB table: its definition, its layout, its page buffer, its .ibd
// and a handle of its own on the run's ibdata1. Readers of different tables can read at
// once on different threads: the run's system tablespace is only read.
class InnodbReader : public core::TableReader, public InnodbTableState {
public:
    // A reader without a system tablespace (a table in its own .ibd, no dictionary).
    InnodbReader();
    // A reader of the run: ibdata1, when the scan opened it, is systemTablespace.
    explicit InnodbReader(const core::RecoveryContext& run,
                          core::TableDefinitionState definition = {});

    // A reader of the same located table for another thread: the definition, the table
    // state and layout, and handles of its own on the same open files.
    std::unique_ptr<InnodbReader> copyForThread() const;

    // The run's ibdata1 and dictionary (empty lists when no ibdata1 is open).
    const SystemTablespace& dictionary() const;
    // The page size of the tablespace the table is read from: ibdata1's until the table
    // is located in its own .ibd (locateInnodbTable), then that file's. pageBuffer holds
    // one page of it (as the server works on it: a compressed page inflated).
    std::uint32_t pageSize() const { return m_format.pageSize; }
    // Plain pages of size bytes.
    void setPageSize(std::uint32_t size);
    // How that tablespace stores its pages (ROW_FORMAT=COMPRESSED, page compression,
    // encryption).
    const TablespaceFormat& format() const { return m_format; }
    void setFormat(const TablespaceFormat& format);
    // The format of file, one of the reader's: format() for its .ibd, plain pages of
    // pageSize() otherwise.
    TablespaceFormat formatOf(const core::ReadOnlyFile& file) const {
        return &file == &tablespaceFile ? m_format : plainFormat(m_format.pageSize);
    }
    PageBuffer pageSpan() { return PageBuffer(pageBuffer.data(), m_format.pageSize); }

    std::vector<std::uint8_t> pageBuffer;
    core::ReadOnlyFile tablespaceFile;
    core::ReadOnlyFile systemTablespace;
    std::uint32_t systemPageSize = kDefaultPageSize;
    std::uint64_t systemPageCount = 0;

private:
    std::shared_ptr<const SystemTablespace> m_system;
    TablespaceFormat m_format;
};

}  // namespace dunmore::innodb
