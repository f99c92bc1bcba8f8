#pragma once

#include "innodb/index_walk.h"

#include <cstdint>

namespace dunmore::innodb {

// What the page headers of a clustered index's leaf chain say, without reading records.
struct LeafChainSummary {
    std::uint64_t leafPages = 0;
    // The sum of PAGE_N_RECS over the leaf pages: the user records of each page that are
    // not on its free list (delete-marked records not yet purged count too), so an
    // estimate of the table's rows.
    std::uint64_t records = 0;
    // The walk ended at the chain's end (FIL_NULL) rather than at a bound or damage.
    bool complete = false;
};

// Follows the leaf chain from firstLeaf through the slot's file by the FIL headers'
// next-page fields, reading only each page's two headers. The walk stops at FIL_NULL,
// at a page that is not an index page of the first page's index and level, at page 0 in
// the system tablespace, at a page number not below the file's page count, at a page met
// twice, or after as many pages as the file has.
LeafChainSummary summarizeLeafChain(InnodbReader& ctx, TablespaceSlot slot,
                                    std::uint32_t firstLeaf);

}  // namespace dunmore::innodb
