// The LOB format of MySQL 8.0+ (uncompressed tablespaces), all integers big-endian.
//
// First page (type 24), after the FIL header: version (1), flags (1), LOB version (4),
// last trx id (6), last undo number (4), data length in this page (4, at 54), creator trx
// id (6), the index list base node (at 64: length 4, first and last entry as page 4 +
// offset 2), the free-entry list base node (at 80, 16 bytes), then an array of index
// entries (at 96, ten of 60 bytes) and the page's own data (at 696).
// Index entry (60 bytes, in the first page or an index page, type 22): previous and next
// entry (page 4 + offset 2 each), the base node of its older versions (16), creator and
// modifier trx ids (6 + 6), undo numbers (4 + 4), the page holding this part (4, at 48),
// the part's length (2, at 52) and the LOB version (4, at 56).
// Data page (type 23): version (1), data length (4, at 39), trx id (6), data at 49.
#include "innodb/lob_reader.h"

#include "core/byte_reader.h"
#include "innodb/page.h"

#include <unordered_set>
#include <vector>

namespace dunmore::innodb {

namespace {

constexpr std::uint32_t kFirstIndexList = 64;
constexpr std::uint32_t kFirstDataLength = 54;
constexpr std::uint32_t kFirstData = 696;
constexpr std::uint32_t kEntrySize = 60;
constexpr std::uint32_t kEntryNext = 6;
constexpr std::uint32_t kEntryPage = 48;
constexpr std::uint32_t kEntryLength = 52;
constexpr std::uint32_t kDataPageLength = 39;
constexpr std::uint32_t kDataPageData = 49;

core::Status corruptAt(const core::ReadOnlyFile& file, std::uint32_t page, const std::string& what) {
    return core::Status::corrupt(file.path().string() + ", LOB page " + std::to_string(page) + ": " + what);
}

}  // namespace

std::optional<core::Result<std::uint64_t>> copyLobParts(core::ReadOnlyFile& file,
                                                        std::uint32_t pageSize,
                                                        std::uint64_t pageCount,
                                                        const ExternalReference& ref,
                                                        const ExternalPartSink& sink) {
    if (ref.pageNumber == 0 || ref.pageNumber >= pageCount) return std::nullopt;
    std::vector<std::uint8_t> first(pageSize);
    if (auto st = file.readExact(pageOffset(ref.pageNumber, pageSize), first); !st) return core::Result<std::uint64_t>(st);
    const std::uint16_t type = decodeFilHeader(first).pageType;
    if (type == kZlobFirstPageType)
        return core::Result<std::uint64_t>(core::Status::unsupported(
            file.path().string() + ", page " + std::to_string(ref.pageNumber) +
            ": a compressed LOB (ROW_FORMAT=COMPRESSED) is not read"));
    if (type != kLobFirstPageType) return std::nullopt;

    core::ByteReader head(first);
    head.seek(kFirstIndexList);
    const std::uint32_t entries = head.u32be();
    std::uint32_t entryPage = head.u32be();
    std::uint32_t entryOffset = head.u16be();
    if (!head.ok()) return core::Result<std::uint64_t>(corruptAt(file, ref.pageNumber, "header cut"));

    std::vector<std::uint8_t> page(pageSize);
    std::vector<std::uint8_t> entryPageImage(pageSize);
    std::uint32_t loadedEntryPage = kFilNull;
    std::unordered_set<std::uint64_t> seen;
    std::uint64_t copied = 0;
    for (std::uint32_t n = 0; n < entries && copied < ref.length; ++n) {
        if (entryPage == kFilNull) break;
        if (entryPage >= pageCount || entryOffset + kEntrySize > pageSize ||
            !seen.insert((std::uint64_t{entryPage} << 16) | entryOffset).second)
            return core::Result<std::uint64_t>(corruptAt(
                file, ref.pageNumber, "index entry " + std::to_string(n) + " at page " +
                                          std::to_string(entryPage) + " offset " +
                                          std::to_string(entryOffset) + " cannot be followed"));
        const std::vector<std::uint8_t>* entryImage = &first;
        if (entryPage != ref.pageNumber) {
            if (entryPage != loadedEntryPage) {
                if (auto st = file.readExact(pageOffset(entryPage, pageSize), entryPageImage); !st)
                    return core::Result<std::uint64_t>(st);
                loadedEntryPage = entryPage;
            }
            entryImage = &entryPageImage;
        }
        core::ByteReader e(*entryImage);
        e.seek(entryOffset + kEntryNext);
        const std::uint32_t nextPage = e.u32be();
        const std::uint32_t nextOffset = e.u16be();
        e.seek(entryOffset + kEntryPage);
        const std::uint32_t dataPage = e.u32be();
        const std::uint32_t dataLength = e.u16be();
        if (!e.ok() || dataPage == 0 || dataPage >= pageCount)
            return core::Result<std::uint64_t>(
                corruptAt(file, ref.pageNumber, "index entry " + std::to_string(n) + " names page " +
                                                    std::to_string(dataPage)));

        core::ByteSpan part;
        if (dataPage == ref.pageNumber) {
            core::ByteReader r(first);
            r.seek(kFirstDataLength);
            const std::uint32_t stored = r.u32be();
            if (stored < dataLength || kFirstData + dataLength > pageSize - kFilTrailerSize)
                return core::Result<std::uint64_t>(corruptAt(file, dataPage, "part length " +
                                                                                 std::to_string(dataLength)));
            part = core::ByteSpan(first).subspan(kFirstData, dataLength);
        } else {
            if (auto st = file.readExact(pageOffset(dataPage, pageSize), page); !st) return core::Result<std::uint64_t>(st);
            core::ByteReader r(page);
            r.seek(kDataPageLength);
            const std::uint32_t stored = r.u32be();
            if (decodeFilHeader(page).pageType != kLobDataPageType || stored < dataLength ||
                kDataPageData + dataLength > pageSize - kFilTrailerSize)
                return core::Result<std::uint64_t>(
                    corruptAt(file, dataPage, "expected a LOB data page holding " +
                                                  std::to_string(dataLength) + " bytes"));
            part = core::ByteSpan(page).subspan(kDataPageData, dataLength);
        }
        const std::uint64_t take = std::min<std::uint64_t>(part.size(), ref.length - copied);
        if (take > 0 && !sink(part.first(static_cast<std::size_t>(take)))) break;
        copied += take;
        entryPage = nextPage;
        entryOffset = nextOffset;
    }
    if (copied < ref.length)
        return core::Result<std::uint64_t>(corruptAt(
            file, ref.pageNumber, "the index list holds " + std::to_string(copied) + " of " +
                                      std::to_string(ref.length) + " bytes"));
    return core::Result<std::uint64_t>(copied);
}

}  // namespace dunmore::innodb
