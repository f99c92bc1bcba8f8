// The leaf chain of an index counted from page headers alone: the FIL header (next page
// at byte 12, page type at 24) and the index header (PAGE_N_RECS at 54, PAGE_LEVEL at 64,
// PAGE_INDEX_ID at 66) of each page, which ROW_FORMAT=COMPRESSED pages keep uncompressed
// and page-compressed pages inside their compressed data. See docs/formats/innodb.md.
#include "innodb/leaf_chain_summary.h"

#include "innodb/page.h"

#include <vector>

namespace dunmore::innodb {

LeafChainSummary summarizeLeafChain(InnodbReader& ctx, TablespaceSlot slot,
                                    std::uint32_t firstLeaf) {
    LeafChainSummary summary;
    core::ReadOnlyFile& file = slotFile(ctx, slot);
    const std::uint64_t pages = slotPageCount(ctx, slot);
    if (!file.isOpen() || pages == 0) return summary;
    std::vector<bool> visited(pages, false);
    const TablespaceFormat format = slotFormat(ctx, slot);
    std::vector<std::uint8_t> buffer(ctx.pageSize());
    const PageView view(buffer.data(), buffer.size());
    bool first = true;
    std::uint64_t indexId = 0;
    std::uint16_t level = 0;
    for (std::uint32_t p = firstLeaf; p != kFilNull;) {
        if (p >= pages || visited[p] || summary.leafPages >= pages) return summary;
        if (slot == TablespaceSlot::SystemTablespace && p == 0) return summary;
        visited[p] = true;
        auto fil = readStoredFilHeader(file, format, p);
        if (!fil) return summary;
        auto header = readIndexHeader(file, p, format.physicalPageSize);
        // A page-compressed page keeps its index header inside the compressed data.
        if (fil->pageType == kPageCompressedType ||
            (format.fullCrc32 && (fil->pageType & kFullCrc32CompressedMarker))) {
            if (!readTablespacePage(file, format, p, PageBuffer(buffer))) return summary;
            fil = decodeFilHeader(view);
            header = decodeIndexHeader(view);
        }
        if (!header || !isIndexPageType(fil->pageType)) return summary;
        if (first) {
            indexId = header->indexId;
            level = header->level;
            first = false;
        } else if (header->indexId != indexId || header->level != level) {
            return summary;
        }
        ++summary.leafPages;
        summary.records += header->recordCount;
        p = fil->nextPage;
    }
    summary.complete = true;
    return summary;
}

}  // namespace dunmore::innodb
