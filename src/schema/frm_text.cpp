// Decoding of the texts stored in .frm files: names, comments and ENUM/SET members.
#include "schema/frm_text.h"

#include <array>
#include <vector>

namespace dunmore::schema {

// Windows-1252 code points of 0x80..0x9F; the five undefined bytes map to the C1
// controls of the same value, as Windows itself does on conversion.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t windows1252CodePoint(std::uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0) return kWindows1252High[byte - 0x80];
    return byte;
}

namespace {

// Length of the valid UTF-8 sequence starting at pos, 0 when it is not valid.
std::size_t utf8SequenceLength(core::ByteSpan s, std::size_t pos) {
    const std::uint8_t b = s[pos];
    std::size_t len = 0;
    char32_t cp = 0;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (s.size() - pos < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        if ((s[pos + i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[pos + i] & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

int hexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hexadecimal text to bytes; empty optional-like flag false when the text is not hex.
bool unhex(core::ByteSpan text, std::vector<std::uint8_t>& out) {
    if (text.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexDigit(text[i]);
        const int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return true;
}

// UTF-16 (either byte order) or UTF-32 big-endian units to UTF-8; a broken unit or a
// lone surrogate becomes U+FFFD.
std::string wideToUtf8(core::ByteSpan bytes, std::size_t unit, bool bigEndian) {
    std::string out;
    core::ByteReader r(bytes);
    auto next = [&]() -> std::uint32_t {
        if (unit == 4) return r.u32be();
        return bigEndian ? r.u16be() : r.u16le();
    };
    while (r.remaining() >= unit) {
        std::uint32_t cp = next();
        if (unit == 2 && cp >= 0xD800 && cp <= 0xDBFF && r.remaining() >= 2) {
            const std::size_t save = r.position();
            const std::uint32_t low = next();
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else {
                r.seek(save);
            }
        }
        appendUtf8(out, static_cast<char32_t>(cp));
    }
    if (r.remaining() > 0) appendUtf8(out, 0xFFFD);
    return out;
}

}  // namespace

std::string windows1252ToUtf8(core::ByteSpan bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const std::uint8_t b : bytes) appendUtf8(out, windows1252CodePoint(b));
    return out;
}

std::string utf8OrWindows1252(core::ByteSpan bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t len = utf8SequenceLength(bytes, pos);
        if (len == 0) {
            appendUtf8(out, windows1252CodePoint(bytes[pos]));
            ++pos;
            continue;
        }
        out.append(reinterpret_cast<const char*>(bytes.data() + pos), len);
        pos += len;
    }
    return out;
}

std::string memberToUtf8(core::ByteSpan bytes, std::string_view charsetName) {
    if (charsetName == "latin1") return windows1252ToUtf8(bytes);
    const bool ucs2 = charsetName == "ucs2" || charsetName == "utf16";
    const bool utf16le = charsetName == "utf16le";
    const bool utf32 = charsetName == "utf32";
    if (ucs2 || utf16le || utf32) {
        std::vector<std::uint8_t> raw;
        if (unhex(bytes, raw)) return wideToUtf8(raw, utf32 ? 4 : 2, !utf16le);
    }
    return utf8OrWindows1252(bytes);
}

}  // namespace dunmore::schema
