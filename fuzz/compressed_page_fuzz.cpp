// fuzz-link: dunmore_innodb
//
// The decompressors of InnoDB's compressed pages over hostile bytes. The first input byte
// picks what the rest is: 0-4 a ROW_FORMAT=COMPRESSED page of 1, 2, 4, 8 or 16 KiB
// inflated into a 16 KiB page, 5 a MariaDB page-compressed page of the full_crc32 layout
// (the second byte names the algorithm), 6 one of the crc32 layout; the page is cut or
// zero-filled to its size. An inflated page is then walked as the reader would (the
// compact chain). Nothing may write or read outside a page, hang or crash.
#include "innodb/page.h"
#include "innodb/page_compression.h"
#include "innodb/record.h"
#include "innodb/zip_page.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dunmore;
    if (size < 2) return 0;
    const std::uint8_t mode = data[0] % 7;
    const std::size_t pageSize = innodb::kDefaultPageSize;
    const std::size_t storedSize = mode < 5 ? std::size_t{1024} << mode : pageSize;
    const std::size_t skip = mode == 5 ? 2 : 1;
    std::vector<std::uint8_t> stored(storedSize, 0);
    for (std::size_t i = 0; i < storedSize && skip + i < size; ++i) stored[i] = data[skip + i];
    std::vector<std::uint8_t> page(pageSize, 0);
    core::Status st;
    if (mode < 5) {
        st = innodb::decompressZipPage(stored, page);
    } else {
        const auto algorithm = static_cast<innodb::PageCompression>(data[1] % 7);
        st = innodb::decompressPageCompressed(stored, mode == 5, algorithm, page);
    }
    if (!st) return 0;
    for (const auto& e : innodb::compactChain(page, 0, true)) {
        if (e.origin >= page.size()) __builtin_trap();
        (void)innodb::compactHeader(page, e.origin);
    }
    return 0;
}
