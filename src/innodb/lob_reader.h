#pragma once

#include "core/read_only_file.h"
#include "core/status.h"
#include "innodb/blob_file.h"

#include <cstdint>
#include <optional>

namespace dunmore::innodb {

// FIL page types of the LOB format of MySQL 8.0+ (fil0fil.h).
inline constexpr std::uint16_t kLobIndexPageType = 22;
inline constexpr std::uint16_t kLobDataPageType = 23;
inline constexpr std::uint16_t kLobFirstPageType = 24;
inline constexpr std::uint16_t kZlobFirstPageType = 25;

// Copies the value of a MySQL 8 LOB to sink, the newest version of every part: the
// index list of its first page (type 24) names, entry by entry, the page holding each
// part (the first page itself or a data page, type 23) and the part's length; older
// versions of a part (a partial update) hang off their entry and are not read. Returns
// nullopt when the reference's page is not a LOB first page (an old BLOB chain, read by
// copyExternalParts), Unsupported for a compressed LOB (type 25), Corrupt when the index
// list is damaged (what was copied stays copied), IoError when a page cannot be read.
// The copy ends at the reference's length.
std::optional<core::Result<std::uint64_t>> copyLobParts(core::ReadOnlyFile& file,
                                                        std::uint32_t pageSize,
                                                        std::uint64_t pageCount,
                                                        const ExternalReference& ref,
                                                        const ExternalPartSink& sink);

}  // namespace dunmore::innodb
