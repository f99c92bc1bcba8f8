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
//
// The compressed LOB format (ROW_FORMAT=COMPRESSED tables), in pages of KEY_BLOCK_SIZE:
// First page (type 25): version (1), flags (1), LOB version (4), last trx id (6), last
// undo number (4), compressed data length in this page (4, at 54), trx id (6), the first
// index page (4, at 64), the first fragment-entry page (4), the free index entries (16,
// at 72), the index list base node (at 88: length 4, first and last entry as page 4 +
// offset 2), the free and used fragment-entry lists (16 + 16), then N index entries of 66
// bytes (at 136), M fragment entries of 24 bytes and the page's data; N and M are 100 and
// 200 for 16 KiB pages, 80/100 for 8, 40/40 for 4, 20/20 for 2, 5/5 for 1 KiB.
// Index entry (66 bytes; in the first page or an index page, type 27, from byte 39):
// previous and next entry (6 + 6), the base node of its older versions (16, at 12),
// creator and modifier trx ids (6 + 6), undo numbers (4 + 4), the page where its zlib
// stream starts (4, at 48), the fragment id there (2, at 52), the uncompressed length (4,
// at 54), the compressed length (4, at 58) and the LOB version (4, at 62).
// Data page (type 26): version (1), data length (4, at 39), trx id (6), data at 49; the
// FIL header's next page continues a stream. Fragment page (type 28): fragments of
// several streams; from the page end, the FIL trailer (8), the directory size (2) and the
// directory (2 bytes a fragment id, the first nearest the end) of fragment offsets; a
// fragment: list node (4), total length with its 8 header bytes (2, at 4), id (2), data.
#include "innodb/lob_reader.h"

#include "core/byte_reader.h"
#include "innodb/page.h"
#include "innodb/page_check.h"

#include <zlib.h>

#include <array>
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
    // A LOB page that does not verify holds bytes the server did not write.
    const auto verified = [&](const std::vector<std::uint8_t>& image, std::uint32_t number) {
        const PageCheck check = checkPage(image, number);
        return check.valid() ? core::Status::ok() : corruptAt(file, number, check.problem);
    };
    if (type == kZlobFirstPageType) return copyZlobParts(file, pageSize, pageCount, ref, sink);
    if (type != kLobFirstPageType) return std::nullopt;
    if (auto st = verified(first, ref.pageNumber); !st) return core::Result<std::uint64_t>(st);

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
                if (auto st = verified(entryPageImage, entryPage); !st) return core::Result<std::uint64_t>(st);
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
            if (auto st = verified(page, dataPage); !st) return core::Result<std::uint64_t>(st);
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

namespace {

constexpr std::uint32_t kFilPageNext = 12;
constexpr std::uint32_t kZFirstDataLength = 54;
constexpr std::uint32_t kZFirstIndexList = 88;
constexpr std::uint32_t kZFirstEntries = 136;
constexpr std::uint32_t kZIndexPageEntries = 39;
constexpr std::uint32_t kZEntrySize = 66;
constexpr std::uint32_t kZFragEntrySize = 24;
constexpr std::uint32_t kZEntryNext = 6;
constexpr std::uint32_t kZEntryVersions = 12;
constexpr std::uint32_t kZEntryPage = 48;
constexpr std::uint32_t kZEntryFragId = 52;
constexpr std::uint32_t kZEntryDataLength = 54;
constexpr std::uint32_t kZEntryStreamLength = 58;
constexpr std::uint32_t kZEntryLobVersion = 62;
constexpr std::uint32_t kZDataLength = 39;
constexpr std::uint32_t kZDataBegin = 49;
constexpr std::uint32_t kZFragsBegin = 39 + 6 + 8 + 8;
constexpr std::uint32_t kZFragDirCount = kFilTrailerSize + 2;  // from the page end
constexpr std::uint32_t kZFragDirFirst = kZFragDirCount + 2;   // from the page end
constexpr std::uint32_t kZFragLength = 4;
constexpr std::uint32_t kZFragHeaderSize = 8;
constexpr std::size_t kInflateChunk = 16384;

// Where the first page's own data begins: after its index and fragment entries.
std::uint32_t zlobFirstDataOffset(std::uint32_t physicalPageSize) {
    switch (physicalPageSize) {
        case 16384: return kZFirstEntries + 100 * kZEntrySize + 200 * kZFragEntrySize;
        case 8192: return kZFirstEntries + 80 * kZEntrySize + 100 * kZFragEntrySize;
        case 4096: return kZFirstEntries + 40 * kZEntrySize + 40 * kZFragEntrySize;
        case 2048: return kZFirstEntries + 20 * kZEntrySize + 20 * kZFragEntrySize;
        case 1024: return kZFirstEntries + 5 * kZEntrySize + 5 * kZFragEntrySize;
        default: return 0;
    }
}

struct ZlobEntry {
    std::uint32_t next = kFilNull;
    std::uint32_t nextOffset = 0;
    std::uint32_t versions = 0;  // entries in its versions list
    std::uint32_t versionsFirst = kFilNull;
    std::uint32_t versionsFirstOffset = 0;
    std::uint32_t streamPage = kFilNull;
    std::uint32_t fragId = 0;
    std::uint32_t dataLength = 0;
    std::uint32_t streamLength = 0;
    std::uint32_t lobVersion = 0;
};

class Inflater {
public:
    Inflater() { m_open = inflateInit(&m_z) == Z_OK; }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater() {
        if (m_open) inflateEnd(&m_z);
    }
    bool open() const { return m_open; }
    z_stream& stream() { return m_z; }

private:
    z_stream m_z{};
    bool m_open = false;
};

// Reads the pages of one compressed LOB; every page it names is checked before use.
class ZlobReader {
public:
    ZlobReader(core::ReadOnlyFile& file, std::uint32_t pageSize, std::uint64_t pageCount,
               const ExternalReference& ref, const ExternalPartSink& sink)
        : m_file(file), m_pageSize(pageSize), m_pageCount(pageCount), m_ref(ref), m_sink(sink),
          m_first(pageSize), m_page(pageSize), m_entryPage(pageSize) {}

    core::Result<std::uint64_t> run() {
        const std::uint32_t dataOffset = zlobFirstDataOffset(m_pageSize);
        if (dataOffset == 0)
            return core::Status::unsupported(m_file.path().string() + ": a compressed LOB in pages of " +
                                             std::to_string(m_pageSize) + " bytes");
        m_firstDataOffset = dataOffset;
        if (m_ref.pageNumber == 0 || m_ref.pageNumber >= m_pageCount)
            return corrupt(m_ref.pageNumber, "the reference names a page outside the file");
        if (auto st = readPage(m_ref.pageNumber, m_first); !st) return st;
        if (decodeFilHeader(m_first).pageType != kZlobFirstPageType)
            return corrupt(m_ref.pageNumber, "expected the first page of a compressed LOB (type 25), found type " +
                                                 std::to_string(decodeFilHeader(m_first).pageType));
        core::ByteReader head(m_first);
        head.seek(kZFirstIndexList);
        const std::uint32_t entries = head.u32be();
        std::uint32_t page = head.u32be();
        std::uint32_t offset = head.u16be();
        std::unordered_set<std::uint64_t> seen;
        for (std::uint32_t n = 0; n < entries && m_copied < m_ref.length && !m_stopped; ++n) {
            if (page == kFilNull) break;
            auto entry = readEntry(page, offset, seen, "index entry " + std::to_string(n));
            if (!entry) return entry.status();
            const ZlobEntry current = *entry;
            ZlobEntry chosen = current;
            if (current.lobVersion > m_ref.offset) {
                // Changed after the record's version: the record reads an older one.
                std::uint32_t vPage = current.versionsFirst;
                std::uint32_t vOffset = current.versionsFirstOffset;
                for (std::uint32_t v = 0; v < current.versions && vPage != kFilNull; ++v) {
                    auto old = readEntry(vPage, vOffset, seen, "an older version of index entry " + std::to_string(n));
                    if (!old) return old.status();
                    if (old->lobVersion <= m_ref.offset) {
                        chosen = *old;
                        break;
                    }
                    vPage = old->next;
                    vOffset = old->nextOffset;
                }
            }
            if (auto st = copyStream(chosen, n); !st) return st;
            page = current.next;
            offset = current.nextOffset;
        }
        if (!m_stopped && m_copied < m_ref.length)
            return corrupt(m_ref.pageNumber, "the index list holds " + std::to_string(m_copied) + " of " +
                                                 std::to_string(m_ref.length) + " bytes");
        return m_copied;
    }

private:
    core::Status corrupt(std::uint32_t page, const std::string& what) const {
        return core::Status::corrupt(m_file.path().string() + ", compressed LOB page " +
                                     std::to_string(page) + ": " + what);
    }

    core::Status readPage(std::uint32_t page, std::vector<std::uint8_t>& into) {
        return m_file.readExact(pageOffset(page, m_pageSize), into);
    }

    // The entry at page:offset, in the first page or an index page.
    core::Result<ZlobEntry> readEntry(std::uint32_t page, std::uint32_t offset,
                                      std::unordered_set<std::uint64_t>& seen, const std::string& what) {
        if (page == 0 || page >= m_pageCount || offset + kZEntrySize > m_pageSize - kFilTrailerSize ||
            !seen.insert((std::uint64_t{page} << 16) | offset).second)
            return corrupt(m_ref.pageNumber, what + " at page " + std::to_string(page) + " offset " +
                                                 std::to_string(offset) + " cannot be followed");
        const std::vector<std::uint8_t>* image = &m_first;
        if (page != m_ref.pageNumber) {
            if (page != m_loadedEntryPage) {
                if (auto st = readPage(page, m_entryPage); !st) return st;
                m_loadedEntryPage = page;
            }
            if (decodeFilHeader(m_entryPage).pageType != kZlobIndexPageType || offset < kZIndexPageEntries)
                return corrupt(page, what + ": expected an index page (type 27) holding it, found type " +
                                         std::to_string(decodeFilHeader(m_entryPage).pageType));
            image = &m_entryPage;
        } else if (offset < kZFirstEntries) {
            return corrupt(page, what + " at offset " + std::to_string(offset) + " lies in the page header");
        }
        core::ByteReader r(*image);
        ZlobEntry e;
        r.seek(offset + kZEntryNext);
        e.next = r.u32be();
        e.nextOffset = r.u16be();
        r.seek(offset + kZEntryVersions);
        e.versions = r.u32be();
        e.versionsFirst = r.u32be();
        e.versionsFirstOffset = r.u16be();
        r.seek(offset + kZEntryPage);
        e.streamPage = r.u32be();
        e.fragId = r.u16be();
        e.dataLength = r.u32be();
        e.streamLength = r.u32be();
        e.lobVersion = r.u32be();
        if (!r.ok()) return corrupt(page, what + " is cut");
        return e;
    }

    // Inflates the zlib stream of one entry into the sink.
    core::Status copyStream(const ZlobEntry& e, std::uint32_t n) {
        if (e.streamPage == kFilNull || e.dataLength == 0) return core::Status::ok();
        const std::string part = "part " + std::to_string(n);
        if (e.streamLength == 0 || e.streamLength > m_pageCount * m_pageSize)
            return corrupt(m_ref.pageNumber, part + " names " + std::to_string(e.streamLength) + " compressed bytes");
        Inflater inflater;
        if (!inflater.open()) return core::Status::ioError("zlib could not be set up");
        z_stream& z = inflater.stream();
        std::array<std::uint8_t, kInflateChunk> out{};
        std::uint64_t remain = e.streamLength;
        std::uint64_t produced = 0;
        bool ended = false;
        std::unordered_set<std::uint32_t> visited;
        for (std::uint32_t page = e.streamPage; remain > 0;) {
            if (page == 0 || page == kFilNull || page >= m_pageCount || !visited.insert(page).second)
                return corrupt(page, part + ": its stream names a page it cannot follow, " + std::to_string(remain) +
                                         " compressed bytes short");
            const std::vector<std::uint8_t>* image = &m_first;
            if (page != m_ref.pageNumber) {
                if (auto st = readPage(page, m_page); !st) return st;
                image = &m_page;
            }
            const auto data = streamBytes(*image, page, e, part);
            if (!data) return data.status();
            if (data->size() > remain)
                return corrupt(page, part + ": the page holds " + std::to_string(data->size()) +
                                         " bytes of a stream with " + std::to_string(remain) + " left");
            z.next_in = const_cast<Bytef*>(data->data());
            z.avail_in = static_cast<uInt>(data->size());
            while (z.avail_in > 0 && !ended) {
                z.next_out = out.data();
                z.avail_out = static_cast<uInt>(out.size());
                const int rc = inflate(&z, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END)
                    return corrupt(page, part + ": its stream does not inflate (zlib error " + std::to_string(rc) + ")");
                const std::size_t got = out.size() - z.avail_out;
                produced += got;
                if (produced > e.dataLength) break;
                if (auto st = deliver(core::ByteSpan(out.data(), got)); !st) return st;
                if (m_stopped || m_copied >= m_ref.length) return core::Status::ok();
                ended = rc == Z_STREAM_END;
            }
            remain -= data->size();
            if (decodeFilHeader(*image).pageType == kZlobFragPageType) break;
            page = static_cast<std::uint32_t>(core::readBeAt(*image, kFilPageNext, 4));
        }
        // The stream's end may still hold output after its last input byte.
        while (!ended && produced <= e.dataLength) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&z, Z_FINISH);
            const std::size_t got = out.size() - z.avail_out;
            produced += got;
            if (produced > e.dataLength) break;
            if (auto st = deliver(core::ByteSpan(out.data(), got)); !st) return st;
            if (m_stopped || m_copied >= m_ref.length) return core::Status::ok();
            if (rc == Z_STREAM_END) ended = true;
            else if (rc != Z_OK || got == 0) break;
        }
        if (!ended || produced != e.dataLength || remain != 0)
            return corrupt(e.streamPage, part + ": its " + std::to_string(e.streamLength) + " compressed bytes give " +
                                             (ended ? std::to_string(produced) : "an unfinished stream of " + std::to_string(produced)) +
                                             " bytes, the entry says " + std::to_string(e.dataLength));
        return core::Status::ok();
    }

    core::Status deliver(core::ByteSpan bytes) {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_ref.length - m_copied));
        if (take == 0) return core::Status::ok();
        if (!m_sink(bytes.first(take))) m_stopped = true;
        m_copied += take;
        return core::Status::ok();
    }

    // The bytes of a stream that one page holds.
    core::Result<core::ByteSpan> streamBytes(const std::vector<std::uint8_t>& image, std::uint32_t page,
                                             const ZlobEntry& e, const std::string& part) const {
        const core::ByteSpan view(image);
        const std::uint16_t type = decodeFilHeader(view).pageType;
        const std::uint32_t end = m_pageSize - kFilTrailerSize;
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        if (type == kZlobFirstPageType && page == m_ref.pageNumber) {
            start = m_firstDataOffset;
            length = core::readBeAt(view, kZFirstDataLength, 4);
        } else if (type == kZlobDataPageType) {
            start = kZDataBegin;
            length = core::readBeAt(view, kZDataLength, 4);
        } else if (type == kZlobFragPageType) {
            const std::uint32_t fragments = static_cast<std::uint32_t>(core::readBeAt(view, m_pageSize - kZFragDirCount, 2));
            if (e.fragId >= fragments || kZFragDirFirst + 2 * std::uint64_t{fragments} > m_pageSize - kZFragsBegin)
                return corrupt(page, part + " names fragment " + std::to_string(e.fragId) + " of " +
                                         std::to_string(fragments));
            const std::uint64_t at = core::readBeAt(view, m_pageSize - kZFragDirFirst - 2 * e.fragId, 2);
            const std::uint64_t dirStart = m_pageSize - kZFragDirCount - 2 * std::uint64_t{fragments};
            const std::uint64_t total = at + kZFragLength + 2 <= m_pageSize ? core::readBeAt(view, at + kZFragLength, 2) : 0;
            if (at < kZFragsBegin || total < kZFragHeaderSize || at + total > dirStart)
                return corrupt(page, part + ": fragment " + std::to_string(e.fragId) + " at offset " +
                                         std::to_string(at) + " does not fit its page");
            start = at + kZFragHeaderSize;
            length = total - kZFragHeaderSize;
        } else {
            return corrupt(page, part + ": expected a page of the compressed LOB (type 25, 26 or 28), found type " +
                                     std::to_string(type));
        }
        if (start + length > end)
            return corrupt(page, part + ": " + std::to_string(length) + " bytes at offset " + std::to_string(start) +
                                     " run past the page");
        return view.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
    }

    core::ReadOnlyFile& m_file;
    std::uint32_t m_pageSize;
    std::uint64_t m_pageCount;
    const ExternalReference& m_ref;
    const ExternalPartSink& m_sink;
    std::vector<std::uint8_t> m_first;
    std::vector<std::uint8_t> m_page;
    std::vector<std::uint8_t> m_entryPage;
    std::uint32_t m_loadedEntryPage = kFilNull;
    std::uint32_t m_firstDataOffset = 0;
    std::uint64_t m_copied = 0;
    bool m_stopped = false;
};

}  // namespace

core::Result<std::uint64_t> copyZlobParts(core::ReadOnlyFile& file, std::uint32_t physicalPageSize,
                                          std::uint64_t pageCount, const ExternalReference& ref,
                                          const ExternalPartSink& sink) {
    return ZlobReader(file, physicalPageSize, pageCount, ref, sink).run();
}

}  // namespace dunmore::innodb
