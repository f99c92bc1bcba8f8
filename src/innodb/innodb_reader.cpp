// The reading of one InnoDB table, and its handle on the run's system tablespace.
#include "innodb/innodb_reader.h"

namespace dunmore::innodb {

namespace {

const SystemTablespace& emptySystemTablespace() {
    static const SystemTablespace kNone;
    return kNone;
}

}  // namespace

InnodbReader::InnodbReader() : pageBuffer(kDefaultPageSize) {}

InnodbReader::InnodbReader(const core::RecoveryContext& run, core::TableDefinitionState definition)
    : core::TableReader(std::move(definition)),
      m_system(std::dynamic_pointer_cast<const SystemTablespace>(run.systemTablespace)) {
    if (run.systemTablespaceOpen()) {
        systemTablespace = run.systemTablespace->file.duplicate();
        systemPageSize = m_system ? m_system->pageSize : tablespacePageSize(systemTablespace);
        systemPageCount = m_system ? m_system->pageCount
                                   : pageCount(systemTablespace.size(), systemPageSize);
        m_format = plainFormat(systemPageSize);
    }
    pageBuffer.assign(m_format.pageSize, 0);
}

std::unique_ptr<InnodbReader> InnodbReader::copyForThread() const {
    auto copy = std::make_unique<InnodbReader>();
    static_cast<core::TableDefinitionState&>(*copy) = *this;
    static_cast<InnodbTableState&>(*copy) = *this;
    // The progress is the calling thread's.
    copy->deferredProgressRange = nullptr;
    copy->m_system = m_system;
    // A thread reads a piece of the table: a short read-ahead, so that it does not read
    // the next thread's piece too.
    constexpr std::size_t kThreadWindow = std::size_t{256} << 10;
    copy->tablespaceFile = tablespaceFile.duplicate(kThreadWindow);
    copy->systemTablespace = systemTablespace.duplicate(kThreadWindow);
    copy->systemPageSize = systemPageSize;
    copy->systemPageCount = systemPageCount;
    copy->setFormat(m_format);
    return copy;
}

void InnodbReader::setPageSize(std::uint32_t size) { setFormat(plainFormat(size)); }

void InnodbReader::setFormat(const TablespaceFormat& format) {
    m_format = format;
    if (!isPageSize(m_format.pageSize)) m_format = plainFormat(kDefaultPageSize);
    pageBuffer.assign(m_format.pageSize, 0);
}

const SystemTablespace& InnodbReader::dictionary() const {
    return m_system ? *m_system : emptySystemTablespace();
}

}  // namespace dunmore::innodb
