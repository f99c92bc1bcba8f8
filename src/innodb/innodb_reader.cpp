// The reading of one InnoDB table, and its handle on the run's system tablespace.
#include "innodb/innodb_reader.h"

namespace dunmore::innodb {

namespace {

const SystemTablespace& emptySystemTablespace() {
    static const SystemTablespace kNone;
    return kNone;
}

}  // namespace

InnodbReader::InnodbReader() : pageBuffer(kPageSize) {}

InnodbReader::InnodbReader(const core::RecoveryContext& run, core::TableDefinitionState definition)
    : core::TableReader(std::move(definition)),
      pageBuffer(kPageSize),
      m_system(std::dynamic_pointer_cast<const SystemTablespace>(run.systemTablespace)) {
    if (run.systemTablespaceOpen()) {
        systemTablespace = run.systemTablespace->file.duplicate();
        systemPageCount = m_system ? m_system->pageCount : pageCount(systemTablespace.size());
    }
}

const SystemTablespace& InnodbReader::dictionary() const {
    return m_system ? *m_system : emptySystemTablespace();
}

}  // namespace dunmore::innodb
