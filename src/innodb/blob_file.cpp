// Externally stored InnoDB values (COMPACT and DYNAMIC rows, uncompressed pages).
//
// A field whose length entry carries the external bit ends in a 20-byte reference, all
// big-endian: space id (4), page number of the first part (4), offset of the first part's
// header in that page (4), and the off-page length as 8 bytes whose high half carries the
// owner/inherited flags and is ignored. COMPACT keeps a 768-byte prefix of the value in
// the record before the reference; DYNAMIC keeps none.
//
// Each part (a BLOB page, type 10) starts with an 8-byte header at its offset: part
// length (4) and next page number (4, 0xFFFFFFFF ends the chain); its data follows. The
// first part's header is where the reference says; every later part's is at byte 38,
// right after the FIL header.
//
// ROW_FORMAT=COMPRESSED keeps the off-page part as one zlib stream over compressed BLOB
// pages (type 11 the first, 12 the others) of KEY_BLOCK_SIZE bytes: the reference's
// offset is 12, where each page's FIL header names the next page, and each page's share
// of the stream runs from byte 38 to its end.
#include "innodb/blob_file.h"

#include "innodb/lob_reader.h"
#include "innodb/page_check.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unordered_set>
#include <vector>

namespace dunmore::innodb {

namespace {

constexpr std::uint32_t kFilPageData = 38;
constexpr std::uint32_t kFilPageNext = 12;
constexpr std::uint32_t kBlobHeaderSize = 8;
// FIL_PAGE_TYPE_BLOB, and MySQL 8's FIL_PAGE_SDI_BLOB of the SDI's long records.
constexpr std::uint16_t kBlobPageType = 10;
constexpr std::uint16_t kSdiBlobPageType = 18;
constexpr std::uint16_t kZblobFirstPageType = 11;
constexpr std::uint16_t kZblobPageType = 12;
constexpr std::size_t kInflateChunk = 16384;
// Names taken by other files in a row before a blob file gives up.
constexpr std::uint64_t kCreateAttempts = 1000;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

class Inflater {
public:
    Inflater() { m_open = inflateInit(&z) == Z_OK; }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater() {
        if (m_open) inflateEnd(&z);
    }
    bool open() const { return m_open; }
    z_stream z{};

private:
    bool m_open = false;
};

core::Status zblobDamage(const core::ReadOnlyFile& file, std::uint32_t page,
                         const std::string& what) {
    return core::Status::corrupt(file.path().string() + ", compressed BLOB page " +
                                 std::to_string(page) + ": " + what);
}

// The off-page part of a ROW_FORMAT=COMPRESSED value: one zlib stream over its chain.
core::Result<std::uint64_t> copyCompressedParts(core::ReadOnlyFile& file,
                                                const TablespaceFormat& format,
                                                std::uint64_t pageCount,
                                                const ExternalReference& ref,
                                                const ExternalPartSink& sink) {
    Inflater inflater;
    if (!inflater.open()) return core::Status::ioError("zlib could not be set up");
    z_stream& z = inflater.z;
    std::vector<std::uint8_t> page(format.physicalPageSize);
    std::vector<std::uint8_t> chunk(kInflateChunk);
    std::unordered_set<std::uint32_t> visited;
    std::uint32_t pageNo = ref.pageNumber;
    std::uint32_t offset = ref.offset;
    std::uint16_t expectedType = kZblobFirstPageType;
    std::uint64_t copied = 0;
    for (std::uint64_t parts = 0; parts < pageCount && copied < ref.length; ++parts) {
        if (pageNo == 0 || pageNo == kFilNull || pageNo >= pageCount ||
            !visited.insert(pageNo).second)
            return zblobDamage(file, pageNo, "the chain names a page it cannot follow");
        if (auto st = file.readExact(pageOffset(pageNo, format.physicalPageSize), page); !st)
            return core::Status::ioError(st.message() + " (part of an externally stored value)");
        const core::ByteSpan view(page.data(), page.size());
        if (const PageCheck check = checkCompressedPage(view, pageNo); !check.valid())
            return zblobDamage(file, pageNo, "damaged (" + check.problem + ")");
        // MySQL 8 writes an index of zlib streams instead of one stream over a chain.
        if (parts == 0 && decodeFilHeader(view).pageType == kZlobFirstPageType)
            return copyZlobParts(file, format.physicalPageSize, pageCount, ref, sink);
        if (decodeFilHeader(view).pageType != expectedType)
            return zblobDamage(file, pageNo,
                               "expected page type " + std::to_string(expectedType) + ", found " +
                                   std::to_string(decodeFilHeader(view).pageType));
        if (std::uint64_t{offset} + 4 > page.size())
            return zblobDamage(file, pageNo, "the reference's offset lies past the page");
        const auto next = static_cast<std::uint32_t>(core::readBeAt(view, offset, 4));
        const std::uint32_t start = offset == kFilPageNext ? kFilPageData : offset + 4;
        if (start >= page.size()) return zblobDamage(file, pageNo, "no room for data");
        z.next_in = page.data() + start;
        z.avail_in = static_cast<uInt>(page.size() - start);
        int rc = Z_OK;
        while (copied < ref.length) {
            z.next_out = chunk.data();
            z.avail_out = static_cast<uInt>(chunk.size());
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                return zblobDamage(file, pageNo,
                                   "the compressed value does not inflate (zlib error " +
                                       std::to_string(rc) + ")");
            const std::size_t produced = chunk.size() - z.avail_out;
            const auto take =
                static_cast<std::size_t>(std::min<std::uint64_t>(produced, ref.length - copied));
            if (take > 0 && !sink(core::ByteSpan(chunk.data(), take))) return copied + take;
            copied += take;
            if (rc == Z_STREAM_END || (produced == 0 && z.avail_in == 0) || rc == Z_BUF_ERROR)
                break;
        }
        if (rc == Z_STREAM_END || copied >= ref.length) break;
        if (next == kFilNull)
            return zblobDamage(file, pageNo, "the chain ends before the value does");
        pageNo = next;
        offset = kFilPageNext;
        expectedType = kZblobPageType;
    }
    // The stream holds the whole off-page part: one that ends sooner is a value cut short.
    if (copied < ref.length)
        return zblobDamage(file, pageNo,
                           "the compressed value ends after " + std::to_string(copied) + " of its " +
                               std::to_string(ref.length) + " bytes");
    return copied;
}

}  // namespace

std::optional<ExternalReference> readExternalReference(core::ByteSpan field) {
    if (field.size() < kExternalReferenceSize) return std::nullopt;
    core::ByteReader r(field.subspan(field.size() - kExternalReferenceSize));
    ExternalReference ref;
    ref.spaceId = r.u32be();
    ref.pageNumber = r.u32be();
    ref.offset = r.u32be();
    r.skip(4);
    ref.length = r.u32be();
    if (!r.ok()) return std::nullopt;
    return ref;
}

core::Result<std::uint64_t> copyExternalParts(core::ReadOnlyFile& file, std::uint32_t pageSize,
                                              std::uint64_t pageCount,
                                              const ExternalReference& ref,
                                              const ExternalPartSink& sink) {
    return copyExternalParts(file, plainFormat(pageSize), pageCount, ref, sink);
}

core::Result<std::uint64_t> copyExternalParts(core::ReadOnlyFile& file,
                                              const TablespaceFormat& format,
                                              std::uint64_t pageCount, const ExternalReference& ref,
                                              const ExternalPartSink& sink, bool sdiRecord) {
    if (format.zip) return copyCompressedParts(file, format, pageCount, ref, sink);
    const std::uint32_t pageSize = format.pageSize;
    // MySQL 8.0+ writes LOBs as an index of parts rather than a chain.
    if (auto lob = copyLobParts(file, pageSize, pageCount, ref, sink)) return std::move(*lob);
    std::vector<std::uint8_t> page(pageSize);
    std::unordered_set<std::uint32_t> visited;
    std::uint32_t pageNo = ref.pageNumber;
    std::uint32_t offset = ref.offset;
    std::uint64_t copied = 0;
    const auto damaged = [&](const std::string& what) {
        return core::Status::corrupt(file.path().string() + ": an externally stored value of " +
                                     std::to_string(ref.length) + " bytes is damaged: " + what);
    };
    for (std::uint64_t parts = 0; parts < pageCount; ++parts) {
        if (copied >= ref.length) break;
        if (pageNo == 0 || pageNo == kFilNull || pageNo >= pageCount)
            return damaged("its part chain names page " + std::to_string(pageNo) + " after " +
                           std::to_string(copied) + " bytes");
        if (!visited.insert(pageNo).second)
            return damaged("its part chain comes back to page " + std::to_string(pageNo));
        // Page-compressed BLOB pages are decompressed; a part page that does not verify
        // holds bytes the server did not write.
        const auto read = readTablespacePage(file, format, pageNo, PageBuffer(page));
        if (!read) return core::Status::ioError(read.status().message() + " (part of an externally stored value)");
        if (!read->valid()) return damaged("BLOB page " + std::to_string(pageNo) + " damaged (" + read->problem + ")");
        // A chain that leads to a page of another kind (an index page, a free page the
        // server used again) would hand on bytes of another value or none.
        if (const std::uint16_t type = decodeFilHeader(PageView(page)).pageType;
            type != kBlobPageType && !(sdiRecord && type == kSdiBlobPageType) &&
            (format.fullCrc32 || format.atomicBlobs))
            return damaged("its part chain leads to page " + std::to_string(pageNo) + " of type " +
                           std::to_string(type) + ", not a BLOB page");
        if (std::uint64_t{offset} + kBlobHeaderSize > pageSize)
            return damaged("a part header at offset " + std::to_string(offset) + " of page " +
                           std::to_string(pageNo));
        core::ByteReader r(page);
        r.seek(offset);
        const std::uint32_t partLength = r.u32be();
        const std::uint32_t next = r.u32be();
        if (!r.ok()) return damaged("a part header of page " + std::to_string(pageNo) + " is cut");
        // The page holds at most what lies after the part header; the value at most its
        // stated off-page length.
        const std::size_t inPage = std::min<std::size_t>(partLength, r.remaining());
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(inPage, ref.length - copied));
        if (take > 0 && !sink(r.bytes(take))) return copied;
        copied += take;
        if (take != partLength) break;
        pageNo = next;
        offset = kFilPageData;
    }
    if (copied < ref.length)
        return damaged("its parts hold " + std::to_string(copied) + " of its bytes");
    return copied;
}

core::ReadOnlyFile& externalPartsFile(InnodbReader& ctx, std::uint64_t& pageCount) {
    if (ctx.tablespaceSelected) {
        pageCount = ctx.tablespacePageCount;
        return ctx.tablespaceFile;
    }
    pageCount = ctx.systemPageCount;
    return ctx.systemTablespace;
}

std::uint64_t nextFreeBlobNumber(const std::string& savingFolder) {
    std::uint64_t next = 0;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(blobFilePath(savingFolder, 0)).parent_path();
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::uint64_t n = 0;
        const auto [ptr, err] = std::from_chars(name.data(), name.data() + name.size(), n);
        if (err == std::errc() && ptr == name.data() + name.size() && n >= next) next = n + 1;
    }
    return next;
}

std::string blobFilePath(const std::string& savingFolder, std::uint64_t number) {
    std::string path = savingFolder;
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path += "blobdata/";
    path += std::to_string(number);
    return path;
}

std::string extractExternalBlob(InnodbReader& ctx, core::AppSettings& settings,
                                core::ByteSpan field, core::Status* read) {
    if (read) *read = core::Status::ok();
    // A file is created only where none is: the files of an earlier save into the same
    // folder (their scripts load them by name) are never written over.
    const auto create = [&](std::string& path) {
        for (std::uint64_t tries = 0; tries < kCreateAttempts; ++tries) {
            path = blobFilePath(settings.savingFolder, settings.blobFileCounter++);
            if (std::FILE* f = std::fopen(path.c_str(), "wbx")) return std::unique_ptr<std::FILE, FileCloser>(f);
            if (errno != EEXIST) break;
        }
        return std::unique_ptr<std::FILE, FileCloser>();
    };
    std::string path;
    std::unique_ptr<std::FILE, FileCloser> out = create(path);
    if (!out) {
        // The save job creates the folder; a folder removed since is made again.
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        out = create(path);
        if (!out) return {};
    }
    bool writeOk = true;
    auto write = [&](core::ByteSpan part) {
        if (!part.empty() && std::fwrite(part.data(), 1, part.size(), out.get()) != part.size())
            writeOk = false;
        return writeOk;
    };
    const auto ref = readExternalReference(field);
    if (ref) {
        write(field.first(field.size() - kExternalReferenceSize));
        std::uint64_t pageCount = 0;
        core::ReadOnlyFile& file = externalPartsFile(ctx, pageCount);
        const auto copied = copyExternalParts(file, ctx.formatOf(file), pageCount, *ref, write);
        if (!copied && writeOk) {
            // Part of the value is lost: no file holds a part of it as if it were all.
            std::fclose(out.release());
            std::error_code ec;
            std::filesystem::remove(path, ec);
            if (read) *read = copied.status();
            return {};
        }
    } else {
        write(field);
    }
    if (std::fclose(out.release()) != 0) writeOk = false;
    if (!writeOk) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return {};
    }
    return path;
}

core::Status readExternalValue(InnodbReader& ctx, core::ByteSpan field, core::Bytes& out) {
    out.clear();
    const auto ref = readExternalReference(field);
    if (!ref) {
        out.assign(field.begin(), field.end());
        return core::Status::ok();
    }
    const auto prefix = field.first(field.size() - kExternalReferenceSize);
    out.assign(prefix.begin(), prefix.end());
    std::uint64_t pageCount = 0;
    core::ReadOnlyFile& file = externalPartsFile(ctx, pageCount);
    const auto copied = copyExternalParts(file, ctx.formatOf(file), pageCount, *ref, [&](core::ByteSpan part) {
        out.insert(out.end(), part.begin(), part.end());
        return true;
    });
    return copied ? core::Status::ok() : copied.status();
}

}  // namespace dunmore::innodb
