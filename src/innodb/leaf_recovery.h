#pragma once

#include "core/byte_reader.h"
#include "innodb/innodb_reader.h"
#include "core/settings.h"
#include "core/status.h"
#include "innodb/index_walk.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace dunmore::innodb {

// A leaf page of the clustered index whose rows could not be read, and the key range it
// held as far as the surviving pages tell.
struct LostPage {
    std::uint32_t page = 0;
    std::string reason;       // "the page is all zeros", "checksum mismatch (...)", ...
    std::string lowerKey;     // key text; empty when unknown
    bool lowerInclusive = false;
    std::string upperKey;     // exclusive; empty when unknown
    // The page is damaged but nothing surviving says it belonged to this index.
    bool uncertain = false;
};

// What the walk of a clustered index met beyond the rows it handed on.
struct LeafDamage {
    bool chainBroken = false;
    std::string chainBreak;               // where and why the leaf chain broke
    std::vector<LostPage> lostPages;       // in key order where known
    std::map<std::uint32_t, std::uint64_t> unreadableRecords;  // page -> records skipped
    std::uint64_t pagesScanned = 0;        // pages read by the scan of the file
    std::uint64_t salvagedPages = 0;       // leaf pages read outside the chain
    std::uint64_t salvagedRecords = 0;
    std::uint64_t duplicateRecords = 0;    // records met twice (stale copies), passed over
    std::uint64_t freePagesSkipped = 0;    // leaf pages the space map marks free (old copies)
    std::uint64_t damagedPages = 0;        // pages of the file that failed verification
    std::vector<std::string> notes;        // other findings (a damaged root, ...)
    std::string keyNames;                  // "id", "(b, a)", "DB_ROW_ID"
    bool indexMissing = false;             // no intact page of the index was found at all
    // Why the records of the pages found by the scan cannot be decoded at all (an
    // instant ALTER layout that cannot be known); none of them is handed on then.
    std::string layoutProblem;

    // Rows lost to a value that cannot be read (InnodbReader::valueLoss), by their key:
    // the first kNamedLostRows as "row with id 7 lost: its value of c cannot be read whole
    // (...)", then only counted in namedRowsLeftOut.
    static constexpr std::size_t kNamedLostRows = 20;
    std::vector<std::string> lostRows;
    std::uint64_t namedRowsLeftOut = 0;

    void recordUnreadable(std::uint32_t page) { ++unreadableRecords[page]; }
    // recordUnreadable, and the row named by its key text (empty: not readable) and why.
    void recordLostRow(std::uint32_t page, const std::string& key, const std::string& why);
    std::uint64_t unreadableCount() const;
    // Every row of the index was handed on.
    bool complete() const {
        return lostPages.empty() && unreadableRecords.empty() && !indexMissing && layoutProblem.empty();
    }
    // One line per loss ("rows with id from 1905 to before 2111 lost: page 7 damaged
    // (...)"), then the notes. Empty when nothing was found.
    std::vector<std::string> reportLines() const;
    // What of the rows is lost, in a few words for a final message: no page of the index
    // found, rows not read for their layout, or the leaf pages and records that could not
    // be read.
    std::string lossSummary() const;
};

struct ClusteredWalkOptions {
    LeafWalkOptions walk;        // slot, first leaf (0: none found), callbacks
    std::uint32_t rootPage = 0;  // the clustered root (0: unknown)
};

// Every live record of a table's clustered index: the leaf chain from
// options.walk.firstLeaf, and when the chain breaks or there is no first leaf, every
// other leaf page of the index in the file (its index id, level 0, verified, not marked
// free in the space map unless a surviving page points to it), in key order, each key
// once. The pages that could not be read and their key ranges go to damage. onRecord
// gets each record as walkLeafChain hands it on (its page's records in chain order);
// false ends the walk. counts may hold an earlier part of the same walk (walkLeafChain);
// the chain is then followed on from options.walk.firstLeaf. Requires:
// ctx.clusteredFields is the table's layout.
core::Status walkClusteredIndex(
    InnodbReader& ctx, core::AppSettings& settings, const ClusteredWalkOptions& options,
    const std::function<bool(core::ByteSpan page, const LeafRecord&)>& onRecord,
    LeafWalkCounts& counts, LeafDamage& damage);

// The names of the clustering key as the damage report gives them (LeafDamage::keyNames).
std::string clusterKeyNames(const InnodbReader& ctx);

// A record of page that decodeLeafRecord refused: counted as unreadable, and when a value
// of it was lost (ctx.valueLoss) the row is named by its key with that reason.
void recordRefused(InnodbReader& ctx, core::AppSettings& settings, core::ByteSpan page,
                   const LeafRecord& record, std::uint32_t nullBitmapSize, LeafDamage& damage);

// The clustered index id of a table in the loaded dictionary (live records first), 0 when
// not known.
std::uint64_t clusteredIndexId(const InnodbReader& ctx, std::uint64_t tableId);

}  // namespace dunmore::innodb
