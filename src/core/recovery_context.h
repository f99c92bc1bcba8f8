#pragma once

#include "core/read_only_file.h"

#include <memory>

namespace dunmore::core {

// The system tablespace ibdata1 as the scan opened it. The InnoDB module derives the
// state it loads from the file (innodb::SystemTablespace: its page count and dictionary).
// Nothing changes it once it is handed to the RecoveryContext, so every table reader may
// read it from its own thread; readers read pages through their own duplicate of file.
class SystemTablespaceFile {
public:
    virtual ~SystemTablespaceFile() = default;
    ReadOnlyFile file;
};

// What the whole run shares with every table reader: ibdata1 and its dictionary, opened by
// the scan and kept until the next scan. The catalogue and the settings are the main
// frame's; each table's own state is in the reader a job creates for it.
struct RecoveryContext {
    std::shared_ptr<const SystemTablespaceFile> systemTablespace;

    bool systemTablespaceOpen() const { return systemTablespace && systemTablespace->file.isOpen(); }
    void closeSystemTablespace() { systemTablespace.reset(); }
};

}  // namespace dunmore::core
