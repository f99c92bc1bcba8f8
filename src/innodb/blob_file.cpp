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
#include "innodb/blob_file.h"

#include "innodb/lob_reader.h"

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
constexpr std::uint32_t kBlobHeaderSize = 8;
// Names taken by other files in a row before a blob file gives up.
constexpr std::uint64_t kCreateAttempts = 1000;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

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
    // MySQL 8.0+ writes LOBs as an index of parts rather than a chain.
    if (auto lob = copyLobParts(file, pageSize, pageCount, ref, sink)) return std::move(*lob);
    std::vector<std::uint8_t> page(pageSize);
    std::unordered_set<std::uint32_t> visited;
    std::uint32_t pageNo = ref.pageNumber;
    std::uint32_t offset = ref.offset;
    std::uint64_t copied = 0;
    for (std::uint64_t parts = 0; parts < pageCount; ++parts) {
        if (copied >= ref.length) break;
        if (pageNo == 0 || pageNo == kFilNull || pageNo >= pageCount) break;
        if (!visited.insert(pageNo).second) break;
        const std::uint64_t at = pageOffset(pageNo, pageSize);
        if (auto st = file.readExact(at, page); !st)
            return core::Status::ioError(st.message() + " (part of an externally stored value)");
        if (std::uint64_t{offset} + kBlobHeaderSize > pageSize) break;
        core::ByteReader r(page);
        r.seek(offset);
        const std::uint32_t partLength = r.u32be();
        const std::uint32_t next = r.u32be();
        if (!r.ok()) break;
        // The page holds at most what lies after the part header; the value at most its
        // stated off-page length.
        const std::size_t inPage = std::min<std::size_t>(partLength, r.remaining());
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(inPage, ref.length - copied));
        if (take > 0 && !sink(r.bytes(take))) break;
        copied += take;
        if (take != partLength) break;
        pageNo = next;
        offset = kFilPageData;
    }
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
                                core::ByteSpan field) {
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
        (void)copyExternalParts(file, ctx.pageSize(), pageCount, *ref, write);
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

void readExternalValue(InnodbReader& ctx, core::ByteSpan field, core::Bytes& out) {
    out.clear();
    const auto ref = readExternalReference(field);
    if (!ref) {
        out.assign(field.begin(), field.end());
        return;
    }
    const auto prefix = field.first(field.size() - kExternalReferenceSize);
    out.assign(prefix.begin(), prefix.end());
    std::uint64_t pageCount = 0;
    core::ReadOnlyFile& file = externalPartsFile(ctx, pageCount);
    (void)copyExternalParts(file, ctx.pageSize(), pageCount, *ref, [&](core::ByteSpan part) {
        out.insert(out.end(), part.begin(), part.end());
        return true;
    });
}

}  // namespace dunmore::innodb
