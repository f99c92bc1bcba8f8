// fuzz-link: dunmore_innodb
// fuzz-seeds: data/sample/datadir/*/*.ibd
// fuzz-max-len: 65536
//
// The page verification over hostile bytes: the input is the image of a page of the
// smallest page size that holds it (4 KiB to 64 KiB), zero-filled to that size. checkPage always ends with a state
// and reads nothing outside the page; once writePageChecksum has sealed an image in any
// of the four algorithms (as a server writing it would, the page number in its header),
// the image must verify under that algorithm.
#include "innodb/page.h"
#include "innodb/page_check.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dunmore::innodb;
    // The page size the input fills: the smallest one that holds it.
    std::uint32_t pageSize = kMinPageSize;
    while (pageSize < size && pageSize < kMaxPageSize) pageSize *= 2;
    {
        std::vector<std::uint8_t> page(pageSize, 0);
        for (std::size_t i = 0; i < pageSize && i < size; ++i) page[i] = data[i];
        const dunmore::core::ByteSpan view(page.data(), page.size());
        const std::uint32_t number = static_cast<std::uint32_t>(dunmore::core::readBeAt(view, 4, 4));
        const PageCheck found = checkPage(view, number);
        if (!found.valid() && found.problem.empty()) std::abort();
        (void)checkPage(view, number + 1);
        // A shorter image than any page, as a cut file gives.
        (void)checkPage(view.first(size < pageSize ? size : pageSize), number);
        for (const PageChecksum algorithm :
             {PageChecksum::FullCrc32, PageChecksum::Crc32c, PageChecksum::Innodb, PageChecksum::None}) {
            std::vector<std::uint8_t> sealed = page;
            writePageChecksum(sealed, algorithm);
            const PageCheck check = checkPage({sealed.data(), sealed.size()}, number);
            if (!check.valid()) std::abort();
            // A legacy image whose last four bytes happen to be its full_crc32 reads as
            // full_crc32, as a server reading it would take it.
            if (check.algorithm != algorithm && check.algorithm != PageChecksum::FullCrc32)
                std::abort();
        }
    }
    return 0;
}
