// MySQL's file-name encoding (the server's "filename" character set). A name is read
// byte by byte: [0-9A-Za-z_] is itself; '@' starts an escape of two characters c1 c2 in
// 0x30..0x7F, the code (c1 - 0x30) * 80 + (c2 - 0x30) naming one letter of the table in
// file_name_codes.inc (made from a real server's folder names); "@@@" is the code 0, the
// end of the name; otherwise '@' and four lower-case hexadecimal digits are a code point.
// Anything else is not an encoded name.
#include "core/file_name.h"

#include "core/scan.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace dunmore::core {

namespace {

constexpr std::string_view kMysql50Prefix = "#mysql50#";
constexpr char kEscape = '@';

struct TwoCharCode {
    std::string_view code;
    std::uint32_t codePoint;
};

constexpr TwoCharCode kTwoCharCodes[] = {
#include "core/file_name_codes.inc"
};

bool isSafe(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

int lowerHexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::uint32_t> twoCharCode(std::string_view code) {
    const auto* end = std::end(kTwoCharCodes);
    const auto* it = std::lower_bound(std::begin(kTwoCharCodes), end, code,
                                      [](const TwoCharCode& e, std::string_view c) { return e.code < c; });
    if (it == end || it->code != code) return std::nullopt;
    return it->codePoint;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::optional<std::string> decodeFileName(std::string_view onDisk) {
    if (onDisk.starts_with(kMysql50Prefix)) {
        onDisk.remove_prefix(kMysql50Prefix.size());
        if (onDisk.empty()) return std::nullopt;
        return std::string(onDisk);
    }
    std::string out;
    std::size_t i = 0;
    while (i < onDisk.size()) {
        const auto c = static_cast<unsigned char>(onDisk[i]);
        if (isSafe(c)) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (c != kEscape || i + 3 > onDisk.size()) return std::nullopt;
        const std::string_view two = onDisk.substr(i + 1, 2);
        if (two == "@@") break;  // the end of the name
        if (const auto cp = twoCharCode(two)) {
            appendUtf8(out, *cp);
            i += 3;
            continue;
        }
        if (i + 5 > onDisk.size()) return std::nullopt;
        std::uint32_t cp = 0;
        for (std::size_t k = 1; k <= 4; ++k) {
            const int d = lowerHexDigit(onDisk[i + k]);
            if (d < 0) return std::nullopt;
            cp = cp << 4 | static_cast<std::uint32_t>(d);
        }
        // Identifiers hold characters of the Basic Multilingual Plane only; a surrogate
        // or NUL here is not a name the server wrote.
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        appendUtf8(out, cp);
        i += 5;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

std::string realName(std::string_view onDisk) {
    if (auto decoded = decodeFileName(onDisk)) return std::move(*decoded);
    return std::string(onDisk);
}

std::string databaseName(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return realName(lastPathPart(path));
}

}  // namespace dunmore::core
