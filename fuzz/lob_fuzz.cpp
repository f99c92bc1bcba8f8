// fuzz-link: dunmore_innodb
// fuzz-max-len: 262144
// fuzz-seeds: data/sample/datadir/library/books.ibd
// fuzz-seeds: ../shared/peer-fixtures/mysql8/ibdNinja/tests/8.0/fixtures/*.ibd
//
// Off-page values over hostile bytes. The input is a tablespace of 16 KiB pages (and, read
// again, of 4 and 1 KiB pages); every value reference a record could hold into its first
// pages is followed: the old BLOB chain (part headers of length and next page, the first
// at the reference's offset), the LOB index of MySQL 8 (first page, index entries, data
// pages) and its compressed LOBs (index, data, fragment pages and zlib streams; seed
// fuzz/corpus/lob_fuzz/zlob_1k, built as tests/innodb/lob_reader_test.cpp builds it),
// including a reference read from the input's first 20 bytes. A copy ends at the
// reference's length and never hands on more than the parts it read; nothing may read
// outside a page or loop.
#include "innodb/blob_file.h"
#include "innodb/lob_reader.h"
#include "innodb/page.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

const fs::path& scratch() {
    static const fs::path path =
        fs::temp_directory_path() / ("dunmore-lob-fuzz-" + std::to_string(::getpid()) + ".ibd");
    return path;
}

void follow(core::ReadOnlyFile& file, std::uint32_t pageSize, const innodb::ExternalReference& ref) {
    const std::uint64_t pages = file.size() / pageSize;
    std::uint64_t handed = 0;
    const innodb::ExternalPartSink sink = [&](core::ByteSpan part) {
        // A part is at most a page; inflated parts of a compressed LOB at most 16 KiB.
        if (part.size() > std::max<std::size_t>(pageSize, 16384)) std::abort();
        handed += part.size();
        return true;
    };
    const auto copied = innodb::copyExternalParts(file, pageSize, pages, ref, sink);
    if (copied && (*copied != handed || *copied > ref.length)) std::abort();
    handed = 0;
    if (const auto lob = innodb::copyLobParts(file, pageSize, pages, ref, sink))
        if (*lob && **lob != handed) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (std::FILE* f = std::fopen(scratch().c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    core::ReadOnlyFile file;
    if (!file.open(scratch()).isOk()) return 0;
    // 1 KiB: the smallest page of a ROW_FORMAT=COMPRESSED tablespace's LOBs.
    for (const std::uint32_t pageSize : {innodb::kDefaultPageSize, innodb::kMinPageSize, 1024u}) {
        const std::uint64_t pages = file.size() / pageSize;
        if (const auto ref = innodb::readExternalReference(core::ByteSpan(data, size < 20 ? size : 20)))
            follow(file, pageSize, *ref);
        std::vector<std::uint8_t> page(pageSize);
        for (std::uint32_t p = 1; p < pages && p < 16; ++p) {
            if (file.readAt(std::uint64_t{p} * pageSize, page) != pageSize) break;
            const std::uint16_t type = innodb::decodeFilHeader(page).pageType;
            // BLOB (10), SDI BLOB (18), and the LOB pages of MySQL 8 (22 to 25).
            if (type != 10 && type != 18 && (type < 22 || type > 25)) continue;
            innodb::ExternalReference ref;
            ref.pageNumber = p;
            ref.offset = type == innodb::kZlobFirstPageType ? page[43] : 38;  // its LOB version
            ref.length = static_cast<std::uint64_t>(page[50]) << 16 | 0xFFFF;
            follow(file, pageSize, ref);
        }
    }
    return 0;
}
