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
inline constexpr std::uint16_t kZlobDataPageType = 26;
inline constexpr std::uint16_t kZlobIndexPageType = 27;
inline constexpr std::uint16_t kZlobFragPageType = 28;

// Copies the value of a MySQL 8 LOB to sink, the newest version of every part: the
// index list of its first page (type 24) names, entry by entry, the page holding each
// part (the first page itself or a data page, type 23) and the part's length; older
// versions of a part (a partial update) hang off their entry and are not read. Returns
// nullopt when the reference's page is not a LOB first page (an old BLOB chain, read by
// copyExternalParts), Corrupt when the index list is damaged or a page of the LOB does not
// verify (checkPage; what was copied stays copied), IoError when a page cannot be read.
// The copy ends at the reference's length. A compressed LOB (type 25) is read by
// copyZlobParts with pageSize as its page size.
std::optional<core::Result<std::uint64_t>> copyLobParts(core::ReadOnlyFile& file,
                                                        std::uint32_t pageSize,
                                                        std::uint64_t pageCount,
                                                        const ExternalReference& ref,
                                                        const ExternalPartSink& sink);

// Copies the value of a compressed LOB of MySQL 8 (ROW_FORMAT=COMPRESSED: first page type
// 25) to sink, inflated. physicalPageSize is the tablespace's KEY_BLOCK_SIZE (1, 2, 4, 8
// or 16 KiB), the size of every LOB page on disk, and pageCount counts pages of that
// size. The index list of the first page names the LOB's parts in order, each one zlib
// stream: in the first page's own data area, in data pages (type 26) chained by their
// next-page numbers, or in one fragment of a fragment page (type 28); its entries live in
// the first page or in index pages (type 27). Each part is read in the version the
// reference names (the newest for a live record; an older one from the part's versions
// list when the part changed later). Unsupported for another page size, Corrupt when a
// list, page or stream is damaged or a part inflates to another length than its entry
// says (what was copied stays copied), IoError when a page cannot be read. The copy ends
// at the reference's length.
core::Result<std::uint64_t> copyZlobParts(core::ReadOnlyFile& file, std::uint32_t physicalPageSize,
                                          std::uint64_t pageCount, const ExternalReference& ref,
                                          const ExternalPartSink& sink);

}  // namespace dunmore::innodb
