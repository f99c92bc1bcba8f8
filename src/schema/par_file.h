#pragma once

#include "core/status.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dunmore::schema {

// What the .par file of a partitioned table (MySQL 5.1 to 5.6, MariaDB) says: the
// on-disk names of its partitions in definition order ("p0", or "p0#SP#p0sp0" for a
// subpartition; servers before MariaDB 10 keep only the subpartition's own name there),
// and the legacy engine code of each (9 MyISAM, 12 InnoDB).
struct ParFile {
    std::vector<std::string> names;
    std::vector<std::uint8_t> engines;
};

// Reads the .par file at path. IoError when it cannot be read; Corrupt, naming the file
// and what does not fit, when its word count, checksum, partition count, engine list or
// name list is not what the server writes.
core::Result<ParFile> readParFile(const std::filesystem::path& path);

}  // namespace dunmore::schema
