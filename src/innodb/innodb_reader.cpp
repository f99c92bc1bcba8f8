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
