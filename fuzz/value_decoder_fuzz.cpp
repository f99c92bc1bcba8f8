// fuzz-link: dunmore_values
//
// The column value decoders and SQL literals over hostile bytes. The input is
//   byte 0  the type (every MySQL type code the readers hand on)
//   byte 1  bit 0 UNSIGNED, bit 1 saving rather than previewing, bit 2 ZEROFILL, bit 3
//           BIT bits stored as bytes, bit 4 the value is a MySQL 5.7 JSON document
//   byte 2  length (or precision), byte 3 decimals (fractional-second digits)
//   bytes 4-5 the collation number (big-endian)
//   then the stored bytes.
// Every stored value yields a text, and its SQL literal is one well-formed token: a
// quoted literal ends at its last character, never earlier, so no stored value can end a
// statement or start another.
#include "values/mysql_json.h"
#include "values/sql_literal.h"
#include "values/value_decoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace dunmore;

constexpr std::uint32_t kTypes[] = {0,  1,  2,  3,  4,   5,   7,   8,   9,   10,  11,  12,  13, 14,
                                    15, 16, 17, 18, 19, 245, 246, 247, 248, 249, 250, 251, 252,
                                    253, 254, 255};

// Whether literal is one token: a quoted text whose every apostrophe inside is doubled
// or escaped, or a bare text without a quote, comma or parenthesis.
bool oneToken(const std::string& literal) {
    if (literal.empty()) return true;
    // A blob file loaded back: the path (without an apostrophe) twice, in the guard.
    if (literal.starts_with("IFNULL(LOAD_FILE('")) {
        const std::size_t end = literal.find('\'', 18);
        if (end == std::string::npos) return false;
        const std::string path = literal.substr(18, end - 18);
        return literal == "IFNULL(LOAD_FILE('" + path + "'),~0+ISNULL(LOAD_FILE('" + path + "')))";
    }
    std::size_t i = 1;
    // A bit-value literal b'0101' is quoted after its b.
    if (literal.starts_with("b'")) {
        i = 2;
    } else if (literal.front() != '\'') {
        return literal.find_first_of("',();\\") == std::string::npos;
    }
    while (i < literal.size()) {
        const char c = literal[i];
        if (c == '\\') {
            i += 2;
        } else if (c == '\'') {
            if (i + 1 < literal.size() && literal[i + 1] == '\'') i += 2;
            else return i + 1 == literal.size();
        } else {
            ++i;
        }
    }
    return false;
}

[[noreturn]] void fail(const core::ColumnDefinition& column, const std::string& literal) {
    std::fprintf(stderr, "type %u: the literal %s is not one token\n", column.typeCode, literal.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    core::ColumnDefinition column;
    column.name = "c";
    column.typeCode = kTypes[data[0] % std::size(kTypes)];
    column.isUnsigned = data[1] & 1;
    column.isZerofill = data[1] & 4;
    column.packFlags = (data[1] & 8) ? 1 << 12 : 0;
    column.length = data[2];
    column.precision = data[2] % 66;
    column.decimals = data[3] % 31;
    column.charset = (data[4] << 8) | data[5];
    for (int i = 0; i < (data[3] & 7); ++i) column.members.push_back("m" + std::to_string(i));
    const core::ByteSpan bytes(data + 6, size - 6);
    values::DecodeOptions options;
    options.saving = data[1] & 2;

    if (data[1] & 16) {
        std::string json;
        (void)values::mysqlJsonText(bytes, json);
    }
    const char* fault = values::storedValueFault(column, bytes);
    (void)values::storedWidth(column);
    column.value = values::decodeColumnValue(column, bytes, options);
    // Read once, the bytes give the same text and the same answer.
    std::string once;
    const char* onceFault = values::decodeStoredValue(column, bytes, options, once);
    if (once != column.value || (fault == nullptr) != (onceFault == nullptr) ||
        (fault != nullptr && std::string_view(fault) != onceFault))
        std::abort();
    std::string literal = values::sqlLiteral(column, "/tmp/out");
    if (literal.empty() || literal.back() != ',') std::abort();
    literal.pop_back();
    if (!oneToken(literal)) fail(column, literal);

    // The stored bytes as a text of the column, whatever its type says.
    column.value.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    literal = values::sqlLiteral(column, "/tmp/out");
    literal.pop_back();
    if (!oneToken(literal)) fail(column, literal);
    return 0;
}
