// fuzz-link: dunmore_schema
// fuzz-seeds: data/collation*
// The collation table loader over arbitrary file contents: loading must end, and every
// entry it keeps must be one whose names fit in the file it came from.
#include "schema/collation_table.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("dunmore-collation-fuzz-" + std::to_string(::getpid()));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    dunmore::schema::CollationTable table;
    table.loadCollationTable(path);
    // Each record takes at least 4 bytes of the file and its names are bytes of the file.
    if (table.size() > size / 4 + 1) std::abort();
    for (std::uint32_t number : {0u, 8u, 33u, 63u, 0xFFFFFFFFu}) {
        if (const auto* entry = table.lookupCollation(number)) {
            if (entry->charsetName.size() + entry->collationName.size() > size) std::abort();
        }
    }
    return 0;
}
