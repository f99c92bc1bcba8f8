// MySQL's file-name encoding (the server's "filename" character set). A name is read
// byte by byte: [0-9A-Za-z_] is itself; '@' starts an escape of two characters c1 c2 in
// 0x30..0x7F, the code (c1 - 0x30) * 80 + (c2 - 0x30) naming one letter of the table in
// file_name_codes.inc (made from a real server's folder names); "@@@" is the code 0, the
// end of the name; otherwise '@' and four lower-case hexadecimal digits are a code point.
// Anything else is not an encoded name.
#include "core/file_name.h"

#include "core/scan.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <vector>

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

// The two-character code of a code point, or nullopt when it has none.
std::optional<std::string_view> twoCharCodeOf(std::uint32_t cp) {
    static const std::vector<TwoCharCode> byCodePoint = [] {
        std::vector<TwoCharCode> v(std::begin(kTwoCharCodes), std::end(kTwoCharCodes));
        std::sort(v.begin(), v.end(),
                  [](const TwoCharCode& a, const TwoCharCode& b) { return a.codePoint < b.codePoint; });
        return v;
    }();
    const auto it = std::lower_bound(byCodePoint.begin(), byCodePoint.end(), cp,
                                     [](const TwoCharCode& e, std::uint32_t c) { return e.codePoint < c; });
    if (it == byCodePoint.end() || it->codePoint != cp) return std::nullopt;
    return it->code;
}

// The next code point of UTF-8 text at i (moved past it); a byte that does not start a
// valid sequence stands for itself.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                                : (lead >> 3) == 30 ? 4 : 0;
    if (length <= 1 || i + length > s.size()) {
        ++i;
        return lead;
    }
    std::uint32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return lead;
        }
        cp = cp << 6 | (c & 0x3F);
    }
    i += length;
    return cp;
}

constexpr std::string_view kPartitionMark = "#P#";
constexpr std::string_view kSubpartitionMark = "#SP#";

// The position of mark in s from pos, in either case of its letters.
std::size_t findMark(std::string_view s, std::string_view mark, std::size_t pos = 0) {
    for (std::size_t i = pos; i + mark.size() <= s.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < mark.size() && same; ++k)
            same = std::toupper(static_cast<unsigned char>(s[i + k])) == mark[k];
        if (same) return i;
    }
    return std::string_view::npos;
}

}  // namespace

std::string encodeFileName(std::string_view name) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const std::uint32_t cp = nextCodePoint(name, i);
        if (cp < 0x80 && isSafe(static_cast<unsigned char>(cp))) {
            out.push_back(static_cast<char>(cp));
        } else if (const auto code = twoCharCodeOf(cp)) {
            out.push_back(kEscape);
            out += *code;
        } else {
            // The server's file-name character set has no character beyond the Basic
            // Multilingual Plane; its conversion makes such a character a '?'.
            const std::uint32_t written = cp > 0xFFFF ? '?' : cp;
            out.push_back(kEscape);
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(written >> shift) & 0xF]);
        }
    }
    return out;
}

std::string partitionFileName(std::string_view tableOnDisk, std::string_view partitionOnDisk,
                              std::string_view subpartitionOnDisk) {
    std::string out = std::string(tableOnDisk) + std::string(kPartitionMark) + std::string(partitionOnDisk);
    if (!subpartitionOnDisk.empty()) out += std::string(kSubpartitionMark) + std::string(subpartitionOnDisk);
    return out;
}

std::optional<PartitionFileParts> splitPartitionFileName(std::string_view onDisk) {
    const std::size_t p = findMark(onDisk, kPartitionMark);
    if (p == std::string_view::npos || p == 0 || p + kPartitionMark.size() == onDisk.size())
        return std::nullopt;
    PartitionFileParts parts;
    parts.table = std::string(onDisk.substr(0, p));
    std::string_view rest = onDisk.substr(p + kPartitionMark.size());
    const std::size_t sp = findMark(rest, kSubpartitionMark);
    if (sp == std::string_view::npos) {
        parts.partition = std::string(rest);
        return parts;
    }
    if (sp == 0 || sp + kSubpartitionMark.size() == rest.size()) return std::nullopt;
    parts.partition = std::string(rest.substr(0, sp));
    parts.subpartition = std::string(rest.substr(sp + kSubpartitionMark.size()));
    return parts;
}

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
