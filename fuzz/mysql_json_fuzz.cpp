// fuzz-link: dunmore_values
//
// MySQL 5.7's binary JSON over hostile bytes: objects and arrays with their offset
// tables (small and large), keys, scalars, opaque values, nested to any depth the bytes
// say. A read ends with the document's text or false, reads nothing outside the bytes,
// and the text of a small document stays small (every element costs bytes).
#include "values/mysql_json.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text;
    if (dunmore::values::mysqlJsonText(dunmore::core::ByteSpan(data, size), text) &&
        text.size() > 64 * size + 64)
        std::abort();
    return 0;
}
