// The SDI (serialized dictionary information) of a MySQL 8.0+ tablespace.
//
// Page 0 holds, after the FSP header (38 + 112 bytes), the extent descriptor array
// (page size / extent pages entries; 256 entries of 40 bytes for 16 KiB pages) and the encryption
// information (115 bytes), then the SDI version (u32be, 1) and the SDI root page number
// (u32be). The SDI is a B-tree of pages of type 17853 in the compact record format; its
// records have no nullable fields and hold, from the origin up: type (u32be), id
// (u64be), DB_TRX_ID (6), DB_ROLL_PTR (7), the uncompressed length (u32be), the
// compressed length (u32be) and the zlib stream of the JSON text, whose length entry is
// the record's one variable-length entry. A long stream is stored off-page: the field
// ends in a 20-byte reference to a chain of SDI BLOB pages (type 18) in the old BLOB
// layout (part length, next page, data). Node pointers hold type, id and the child page.
// Format notes: docs/formats/innodb.md (MySQL 8.0 and 8.4).
#include "innodb/sdi_reader.h"

#include "core/byte_reader.h"
#include "innodb/blob_file.h"
#include "innodb/column_layout.h"
#include "innodb/page.h"
#include "innodb/record.h"
#include "innodb/tablespace_format.h"

#include <zlib.h>

#include <unordered_set>

namespace dunmore::innodb {

namespace {

constexpr std::uint32_t kXdesArrayOffset = kFspHeaderOffset + 112;
constexpr std::uint32_t kEncryptionInfoMaxSize = 115;
constexpr std::uint32_t kSdiVersion = 1;
// Byte offsets from a SDI record's origin.
constexpr std::uint32_t kSdiKeySize = 4 + 8;
constexpr std::uint32_t kSdiUncompressedLengthOffset = kSdiKeySize + 6 + 7;
constexpr std::uint32_t kSdiDataOffset = kSdiUncompressedLengthOffset + 8;
constexpr std::uint32_t kChildPointerSize = 4;
constexpr int kMaxTreeDepth = 64;
// No dictionary object comes near this; a larger stated length is damage.
constexpr std::uint32_t kMaxSdiLength = 64u << 20;

std::string where(const core::ReadOnlyFile& file, std::uint32_t page) {
    return file.path().string() + ", page " + std::to_string(page);
}

// Page n as the server works on it (ROW_FORMAT=COMPRESSED index pages inflated). A page
// that is all there but cannot be inflated is Corrupt.
core::Status readWholePage(core::ReadOnlyFile& file, const TablespaceFormat& format,
                           std::uint32_t page, core::Bytes& out) {
    out.assign(format.pageSize, 0);
    if (pageOffset(page + 1, format.physicalPageSize) > file.size())
        return core::Status::ioError(where(file, page) +
                                     ": the page lies past the end of the file");
    const auto read = readTablespacePage(file, format, page, PageBuffer(out));
    if (!read) return read.status();
    if (format.zip && !read->valid())
        return core::Status::corrupt(where(file, page) + ": " + read->problem);
    return core::Status::ok();
}

// The SDI data field as a BLOB column: its length entry takes one byte below 128, else
// two with the external bit.
core::InnodbColumn sdiDataField() {
    core::InnodbColumn f;
    f.mainType = kMainBlob;
    f.preciseType = kPreciseNotNull;
    return f;
}

core::Result<std::string> inflateSdi(core::ByteSpan stream, std::uint32_t uncompressedLength) {
    std::string out(uncompressedLength, '\0');
    uLongf produced = uncompressedLength;
    const int rc = ::uncompress(reinterpret_cast<Bytef*>(out.data()), &produced, stream.data(),
                                static_cast<uLong>(stream.size()));
    if (rc != Z_OK)
        return core::Status::corrupt("the zlib stream does not inflate (zlib error " +
                                     std::to_string(rc) + ")");
    if (produced != uncompressedLength)
        return core::Status::corrupt("it inflates to " + std::to_string(produced) +
                                     " bytes, the record says " +
                                     std::to_string(uncompressedLength));
    return out;
}

// One leaf record of the SDI index.
core::Result<SdiRecord> readSdiRecord(core::ReadOnlyFile& file, const TablespaceFormat& format,
                                      std::uint64_t pages, core::ByteSpan page,
                                      std::uint32_t origin) {
    std::int64_t cursor = std::int64_t{origin} - 6;
    const auto entry = compactFieldLength(sdiDataField(), page, cursor);
    if (!entry) return entry.status();
    core::ByteReader r(page);
    r.seek(origin);
    SdiRecord record;
    record.type = r.u32be();
    record.id = r.u64be();
    r.seek(origin + kSdiUncompressedLengthOffset);
    const std::uint32_t uncompressed = r.u32be();
    const std::uint32_t compressed = r.u32be();
    const core::ByteSpan field = r.bytes(entry->length);
    if (!r.ok()) return core::Status::corrupt("the record runs past the page end");
    if (uncompressed > kMaxSdiLength || compressed > kMaxSdiLength)
        return core::Status::corrupt("its stated lengths (" + std::to_string(uncompressed) + ", " +
                                     std::to_string(compressed) + ") are impossible");
    core::Bytes stream;
    if (!entry->external) {
        stream.assign(field.begin(), field.end());
    } else {
        const auto ref = readExternalReference(field);
        if (!ref) return core::Status::corrupt("its off-page reference is cut");
        stream.assign(field.begin(), field.end() - kExternalReferenceSize);
        const auto copied = copyExternalParts(file, format, pages, *ref, [&](core::ByteSpan part) {
            stream.insert(stream.end(), part.begin(), part.end());
            return stream.size() <= kMaxSdiLength;
        }, true);
        if (!copied) return copied.status();
    }
    if (stream.size() != compressed)
        return core::Status::corrupt("it holds " + std::to_string(stream.size()) +
                                     " compressed bytes, the record says " +
                                     std::to_string(compressed));
    auto json = inflateSdi(stream, uncompressed);
    if (!json) return json.status();
    record.json = std::move(*json);
    return record;
}

}  // namespace

core::Result<TablespaceFlags> readTablespaceFlags(core::ReadOnlyFile& file) {
    std::array<std::uint8_t, 4> bytes{};
    if (auto st = file.readExact(kFspSpaceFlagsOffset, bytes); !st) return st;
    core::ByteReader r(bytes);
    return TablespaceFlags{r.u32be()};
}

core::Result<SdiContents> readSdiRecords(core::ReadOnlyFile& file) {
    const auto flags = readTablespaceFlags(file);
    if (!flags) return flags.status();
    const std::string name = file.path().string();
    if (!flags->hasSdi())
        return core::Status::unsupported(name + " carries no SDI (no dictionary information)");
    if (flags->encrypted())
        return core::Status::unsupported(
            name +
            " is an encrypted tablespace (ENCRYPTION='Y'): its pages cannot be read "
            "without the keyring's key");
    const std::uint32_t pageSize = flags->pageSize();
    if (pageSize == 0)
        return core::Status::unsupported(name + ": its space flags (" +
                                         std::to_string(flags->flags) + ") name no page size");
    const TablespaceFormat format = readTablespaceFormat(file);
    if (flags->compressedPageSize() != 0 && !format.zip)
        return core::Status::corrupt(name + ": its space flags name compressed pages of " +
                                     std::to_string(flags->compressedPageSize()) +
                                     " bytes, which its pages do not fit");

    const std::uint64_t pages = pageCount(file.size(), format);
    core::Bytes page;
    if (auto st = readWholePage(file, format, 0, page); !st) return st;
    core::ByteReader r(page);
    // Page 0 describes the extents of the next physical page size pages.
    r.seek(kXdesArrayOffset +
           (format.physicalPageSize / extentPages(format.pageSize)) *
               extentDescriptorSize(format.pageSize) +
           kEncryptionInfoMaxSize);
    const std::uint32_t version = r.u32be();
    std::uint32_t current = r.u32be();
    if (!r.ok() || version != kSdiVersion || current == 0 || current >= pages)
        return core::Status::corrupt(where(file, 0) + ": the SDI header names version " +
                                     std::to_string(version) + " and root page " +
                                     std::to_string(current) + " (expected version 1, a page below " +
                                     std::to_string(pages) + ")");

    // Down the leftmost node pointers to the first leaf.
    std::uint32_t parentLevel = 0xFFFFFFFF;
    for (int depth = 0;; ++depth) {
        if (depth == kMaxTreeDepth)
            return core::Status::corrupt(name + ": the SDI index does not reach a leaf");
        if (auto st = readWholePage(file, format, current, page); !st) return st;
        const FilHeader fil = decodeFilHeader(page);
        const IndexPageHeader index = decodeIndexHeader(page);
        if (fil.pageType != kSdiPageType || !isCompactIndexPage(page) || index.level >= parentLevel)
            return core::Status::corrupt(where(file, current) + ": expected an SDI index page, found page type " +
                                         std::to_string(fil.pageType));
        if (index.level == 0) break;
        const auto chain = compactChain(page, 0, false);
        if (chain.empty())
            return core::Status::corrupt(where(file, current) + ": an SDI node page without records");
        core::ByteReader child(page);
        child.seek(chain.front().origin + kSdiKeySize);
        const std::uint32_t next = child.u32be();
        if (!child.ok() || next == 0 || next >= pages)
            return core::Status::corrupt(where(file, current) + ": the SDI node pointer names page " +
                                         std::to_string(next));
        parentLevel = index.level;
        current = next;
    }

    SdiContents contents;
    std::unordered_set<std::uint32_t> visited;
    for (std::uint32_t p = current; p != kFilNull;) {
        if (p == 0 || p >= pages || !visited.insert(p).second) {
            contents.damaged.push_back(name + ": the SDI leaf chain names page " + std::to_string(p));
            break;
        }
        if (auto st = readWholePage(file, format, p, page); !st) return st;
        const FilHeader fil = decodeFilHeader(page);
        if (fil.pageType != kSdiPageType || !isCompactIndexPage(page)) {
            contents.damaged.push_back(where(file, p) + ": expected an SDI leaf page, found page type " +
                                       std::to_string(fil.pageType));
            break;
        }
        for (const CompactChainEntry& e : compactChain(page, 0, true)) {
            const auto header = compactHeader(page, e.origin);
            if (!header) {
                contents.damaged.push_back(where(file, p) + ": a record header is cut");
                break;
            }
            if (header->deleted() || (header->infoBits & kInfoMinRecord)) continue;
            auto record = readSdiRecord(file, format, pages, page, e.origin);
            if (!record) {
                contents.damaged.push_back(where(file, p) + ", SDI record at offset " +
                                           std::to_string(e.origin) + ": " + record.status().message());
                continue;
            }
            contents.records.push_back(std::move(*record));
        }
        p = fil.nextPage;
    }
    return contents;
}

}  // namespace dunmore::innodb
