// Character data of a column, converted from the column's character set to UTF-8.
//
// A column names its collation by number (the .frm field's charset byte, or InnoDB's
// precise type). The collation table gives the character-set name; the name gives the
// converter. latin1 (MySQL's latin1 is Windows-1252, with the five bytes Windows leaves
// undefined mapped to the C1 controls of the same value), ASCII and UTF-8 are handled
// here without iconv; every other set goes through glibc iconv, one converter per set and
// thread, opened on first use.
//
// Nothing is dropped: a byte that the column's set cannot decode (a broken multi-byte
// sequence, a byte after a truncated prefix) is written as the Windows-1252 character of
// that byte, and decoding goes on with the next byte, so the row still saves and every
// readable character keeps its value. The output is always valid UTF-8.

#include "values/charset.h"

#include "schema/collation_table.h"
#include "schema/frm_text.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace dunmore::values {

namespace {

void appendCp1252(std::uint8_t byte, std::string& out) {
    schema::appendUtf8(out, schema::windows1252CodePoint(byte));
}

// Length of the well-formed UTF-8 sequence at the start of s (1..4), or 0 when the
// bytes there are not one (overlong forms, surrogates and values above U+10FFFF are
// rejected as MySQL's utf8mb4 does).
std::size_t utf8SequenceLength(const std::uint8_t* s, std::size_t n) {
    const std::uint8_t b = s[0];
    if (b < 0x80) return 1;
    auto cont = [&](std::size_t i) { return i < n && (s[i] & 0xC0) == 0x80; };
    if (b >= 0xC2 && b <= 0xDF) return cont(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (b == 0xE0 && s[1] < 0xA0) return 0;
        if (b == 0xED && s[1] >= 0xA0) return 0;
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (b == 0xF0 && s[1] < 0x90) return 0;
        if (b == 0xF4 && s[1] >= 0x90) return 0;
        return 4;
    }
    return 0;
}

// Length of the run of ASCII bytes at the start of s, eight bytes at a time.
std::size_t asciiRun(const std::uint8_t* s, std::size_t n) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    std::size_t i = 0;
    while (i + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, s + i, 8);
        if (const std::uint64_t high = word & kHighBits; high != 0) {
            if constexpr (std::endian::native == std::endian::little)
                return i + static_cast<std::size_t>(std::countr_zero(high)) / 8;
            break;
        }
        i += 8;
    }
    while (i < n && s[i] < 0x80) ++i;
    return i;
}

void utf8Validated(core::ByteSpan bytes, std::string& out) {
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    std::size_t validFrom = 0;  // start of the well-formed stretch not yet copied
    while (i < n) {
        i += asciiRun(s + i, n - i);
        if (i >= n) break;
        const std::size_t len = utf8SequenceLength(s + i, n - i);
        if (len != 0) {
            i += len;
            continue;
        }
        out.append(reinterpret_cast<const char*>(s + validFrom), i - validFrom);
        appendCp1252(s[i], out);
        validFrom = ++i;
    }
    out.append(reinterpret_cast<const char*>(s + validFrom), n - validFrom);
}

// UTF-8 of every Windows-1252 byte, built once.
struct Cp1252Table {
    Cp1252Table() {
        for (int b = 0; b < 256; ++b) {
            std::string utf8;
            appendCp1252(static_cast<std::uint8_t>(b), utf8);
            length[b] = static_cast<std::uint8_t>(utf8.size());
            std::memcpy(bytes[b], utf8.data(), utf8.size());
        }
    }
    char bytes[256][4] = {};
    std::uint8_t length[256] = {};
};

void cp1252ToUtf8(core::ByteSpan bytes, std::string& out) {
    static const Cp1252Table table;
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t run = asciiRun(s + i, n - i);
        out.append(reinterpret_cast<const char*>(s + i), run);
        i += run;
        while (i < n && s[i] >= 0x80) {
            out.append(table.bytes[s[i]], table.length[s[i]]);
            ++i;
        }
    }
}

enum class Converter { Utf8, Cp1252, Iconv };

struct CharsetInfo {
    Converter converter = Converter::Cp1252;
    const char* iconvName = nullptr;
    // Bytes per code unit of the fixed-unit encodings, so that an undecodable unit is
    // kept whole and the units after it stay aligned.
    std::size_t unitBytes = 1;
    // MySQL's sjis reads the bytes below 0x80 as ASCII (iconv's SHIFT_JIS gives the yen
    // sign and overline for 0x5C and 0x7E) and 0x815F as the backslash.
    bool sjisAscii = false;
};

// MySQL character-set names to the converter that reads them.
CharsetInfo charsetInfo(std::string_view name) {
    struct Entry {
        std::string_view mysql;
        Converter converter;
        const char* iconv;
    };
    static constexpr Entry kEntries[] = {
        {"utf8mb4", Converter::Utf8, nullptr},      {"utf8mb3", Converter::Utf8, nullptr},
        {"utf8", Converter::Utf8, nullptr},         {"latin1", Converter::Cp1252, nullptr},
        {"binary", Converter::Cp1252, nullptr},     {"ascii", Converter::Cp1252, nullptr},
        {"ucs2", Converter::Iconv, "UCS-2BE"},      {"utf16", Converter::Iconv, "UTF-16BE"},
        {"utf16le", Converter::Iconv, "UTF-16LE"},  {"utf32", Converter::Iconv, "UTF-32BE"},
        {"sjis", Converter::Iconv, "SHIFT_JIS"},    {"cp932", Converter::Iconv, "CP932"},
        {"ujis", Converter::Iconv, "EUC-JP"},       {"eucjpms", Converter::Iconv, "EUC-JP-MS"},
        {"gbk", Converter::Iconv, "GBK"},           {"gb2312", Converter::Iconv, "EUC-CN"},
        {"gb18030", Converter::Iconv, "GB18030"},   {"big5", Converter::Iconv, "BIG5"},
        {"euckr", Converter::Iconv, "EUC-KR"},      {"cp1250", Converter::Iconv, "CP1250"},
        {"cp1251", Converter::Iconv, "CP1251"},     {"cp1256", Converter::Iconv, "CP1256"},
        {"cp1257", Converter::Iconv, "CP1257"},     {"cp850", Converter::Iconv, "CP850"},
        {"cp852", Converter::Iconv, "CP852"},       {"cp866", Converter::Iconv, "CP866"},
        {"koi8r", Converter::Iconv, "KOI8-R"},      {"koi8u", Converter::Iconv, "KOI8-U"},
        {"latin2", Converter::Iconv, "ISO-8859-2"}, {"latin5", Converter::Iconv, "ISO-8859-9"},
        {"latin7", Converter::Iconv, "ISO-8859-13"}, {"greek", Converter::Iconv, "ISO-8859-7"},
        {"hebrew", Converter::Iconv, "ISO-8859-8"}, {"tis620", Converter::Iconv, "TIS-620"},
        {"armscii8", Converter::Iconv, "ARMSCII-8"}, {"geostd8", Converter::Iconv, "GEORGIAN-PS"},
        {"macroman", Converter::Iconv, "MACINTOSH"}, {"macce", Converter::Iconv, "MAC-CENTRALEUROPE"},
        {"hp8", Converter::Iconv, "HP-ROMAN8"},     {"keybcs2", Converter::Iconv, "KEYBCS2"},
        {"dec8", Converter::Cp1252, nullptr},       {"swe7", Converter::Cp1252, nullptr},
    };
    for (const auto& e : kEntries) {
        if (e.mysql != name) continue;
        const std::size_t unit = name == "utf32" ? 4 : (name == "ucs2" || name == "utf16" || name == "utf16le") ? 2 : 1;
        return {e.converter, e.iconv, unit, name == "sjis"};
    }
    return {};
}

// The character set of the collations a server ships when no collation table is loaded.
std::string_view builtInCharsetName(std::uint32_t collation) {
    struct Range {
        std::uint32_t first;
        std::uint32_t last;
        std::string_view name;
    };
    static constexpr Range kRanges[] = {
        {1, 1, "big5"},         {2, 2, "latin2"},     {3, 3, "dec8"},       {4, 4, "cp850"},
        {5, 5, "latin1"},       {6, 6, "hp8"},        {7, 7, "koi8r"},      {8, 8, "latin1"},
        {9, 9, "latin2"},       {10, 10, "swe7"},     {11, 11, "ascii"},    {12, 12, "ujis"},
        {13, 13, "sjis"},       {14, 14, "cp1251"},   {15, 15, "latin1"},   {16, 16, "hebrew"},
        {18, 18, "tis620"},     {19, 19, "euckr"},    {20, 20, "latin7"},   {21, 21, "latin2"},
        {22, 22, "koi8u"},      {23, 23, "cp1251"},   {24, 24, "gb2312"},   {25, 25, "greek"},
        {26, 26, "cp1250"},     {27, 27, "latin2"},   {28, 28, "gbk"},      {29, 29, "cp1257"},
        {30, 30, "latin5"},     {31, 31, "latin1"},   {32, 32, "armscii8"}, {33, 33, "utf8mb3"},
        {34, 34, "cp1250"},     {35, 35, "ucs2"},     {36, 36, "cp866"},    {37, 37, "keybcs2"},
        {38, 38, "macce"},      {39, 39, "macroman"}, {40, 40, "cp852"},    {41, 42, "latin7"},
        {43, 43, "macce"},      {44, 44, "cp1250"},   {45, 46, "utf8mb4"},  {47, 49, "latin1"},
        {50, 52, "cp1251"},     {53, 53, "macroman"}, {54, 55, "utf16"},    {56, 56, "utf16le"},
        {57, 57, "cp1256"},     {58, 59, "cp1257"},   {60, 61, "utf32"},    {62, 62, "utf16le"},
        {63, 63, "binary"},     {64, 64, "armscii8"}, {65, 65, "ascii"},    {66, 66, "cp1250"},
        {67, 67, "cp1256"},     {68, 68, "cp866"},    {69, 69, "dec8"},     {70, 70, "greek"},
        {71, 71, "hebrew"},     {72, 72, "hp8"},      {73, 73, "keybcs2"},  {74, 74, "koi8r"},
        {75, 75, "koi8u"},      {77, 77, "latin2"},   {78, 78, "latin5"},   {79, 79, "latin7"},
        {80, 80, "cp850"},      {81, 81, "cp852"},    {82, 82, "swe7"},     {83, 83, "utf8mb3"},
        {84, 84, "big5"},       {85, 85, "euckr"},    {86, 86, "gb2312"},   {87, 87, "gbk"},
        {88, 88, "sjis"},       {89, 89, "tis620"},   {90, 90, "ucs2"},     {91, 91, "ujis"},
        {92, 93, "geostd8"},    {94, 94, "latin1"},   {95, 96, "cp932"},    {97, 98, "eucjpms"},
        {99, 99, "cp1250"},     {101, 124, "utf16"},  {128, 151, "ucs2"},   {159, 159, "ucs2"},
        {160, 183, "utf32"},    {192, 215, "utf8mb3"}, {223, 223, "utf8mb3"},
        {224, 247, "utf8mb4"},  {248, 250, "gb18030"}, {255, 328, "utf8mb4"},
    };
    // The ranges as one index per collation number, built once.
    constexpr std::uint32_t kSize = 512;
    struct Index {
        Index() {
            for (std::size_t k = 0; k < std::size(kRanges); ++k)
                for (std::uint32_t c = kRanges[k].first; c <= kRanges[k].last && c < 512; ++c)
                    range[c] = static_cast<std::uint8_t>(k + 1);
        }
        std::uint8_t range[512] = {};
    };
    static const Index index;
    if (collation >= kSize || index.range[collation] == 0) return {};
    return kRanges[index.range[collation] - 1].name;
}

// The converter of the character set last asked for, by name: the decoders ask for the
// same column's set row after row.
CharsetInfo cachedCharsetInfo(std::string_view name) {
    thread_local std::string lastName;
    thread_local CharsetInfo lastInfo;
    thread_local bool filled = false;
    if (!filled || name != lastName) {
        lastInfo = charsetInfo(name);
        lastName.assign(name);
        filled = true;
    }
    return lastInfo;
}

CharsetInfo lookUpCharsetOfCollation(std::uint32_t collation) {
    const auto* entry = schema::applicationCollations().lookupCollation(collation);
    if (entry != nullptr && !entry->charsetName.empty()) return cachedCharsetInfo(entry->charsetName);
    return cachedCharsetInfo(builtInCharsetName(collation));
}

// The decoders ask for the collations of a table's columns value after value: the answers
// are kept per thread, by collation number, until the application's table changes.
CharsetInfo charsetOfCollation(std::uint32_t collation) {
    constexpr std::size_t kSlots = 256;
    struct Slot {
        std::uint64_t version = 0;
        std::uint32_t collation = 0;
        CharsetInfo info;
    };
    thread_local std::array<Slot, kSlots> slots;
    const std::uint64_t version = schema::applicationCollationsVersion();
    Slot& slot = slots[collation % kSlots];
    if (slot.version != version || slot.collation != collation) {
        slot.info = lookUpCharsetOfCollation(collation);
        slot.collation = collation;
        slot.version = version;
    }
    return slot.info;
}

// One iconv converter per character set and thread; iconv_t keeps shift state and must
// not be shared between threads.
class IconvCache {
public:
    ~IconvCache() {
        for (auto& [name, cd] : m_converters)
            if (cd != kNone) iconv_close(cd);
    }
    // name is one of the static names of charsetInfo, so its address is its identity.
    iconv_t get(const char* name) {
        auto it = m_converters.find(name);
        if (it == m_converters.end())
            it = m_converters.emplace(name, iconv_open("UTF-8", name)).first;
        return it->second;
    }
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

private:
    std::unordered_map<const char*, iconv_t> m_converters;
};

void iconvToUtf8(iconv_t cd, std::size_t unitBytes, core::ByteSpan bytes, std::string& out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc != static_cast<std::size_t>(-1)) break;
        if (err == E2BIG) continue;
        // EILSEQ or a truncated sequence at the end (EINVAL): keep the unit, go on.
        const std::size_t skip = std::min(unitBytes, inLeft);
        for (std::size_t i = 0; i < skip; ++i) appendCp1252(static_cast<std::uint8_t>(in[i]), out);
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
}

bool isSjisLead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

void sjisToUtf8(iconv_t cd, core::ByteSpan bytes, std::string& out) {
    std::size_t i = 0;
    std::size_t runStart = 0;
    auto flush = [&](std::size_t end) {
        if (end > runStart) iconvToUtf8(cd, 1, bytes.subspan(runStart, end - runStart), out);
    };
    while (i < bytes.size()) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            flush(i);
            out.push_back(static_cast<char>(b));
            runStart = ++i;
        } else if (isSjisLead(b) && i + 1 < bytes.size()) {
            if (b == 0x81 && bytes[i + 1] == 0x5F) {
                flush(i);
                out.push_back('\\');
                runStart = i += 2;
            } else {
                i += 2;
            }
        } else {
            ++i;
        }
    }
    flush(bytes.size());
}

}  // namespace

void textToUtf8(std::uint32_t collation, core::ByteSpan bytes, std::string& out) {
    out.clear();
    out.reserve(bytes.size());
    const CharsetInfo info = charsetOfCollation(collation);
    switch (info.converter) {
        case Converter::Utf8:
            utf8Validated(bytes, out);
            return;
        case Converter::Cp1252:
            cp1252ToUtf8(bytes, out);
            return;
        case Converter::Iconv:
            break;
    }
    thread_local IconvCache cache;
    const iconv_t cd = cache.get(info.iconvName);
    if (cd == IconvCache::kNone) {
        cp1252ToUtf8(bytes, out);
        return;
    }
    if (info.sjisAscii)
        sjisToUtf8(cd, bytes, out);
    else
        iconvToUtf8(cd, info.unitBytes, bytes, out);
}

std::size_t wellFormedUtf8SequenceLength(const std::uint8_t* s, std::size_t n) {
    return n == 0 ? 0 : utf8SequenceLength(s, n);
}

bool isUtf8Collation(std::uint32_t collation) {
    return charsetOfCollation(collation).converter == Converter::Utf8;
}

std::string textToUtf8(std::uint32_t collation, core::ByteSpan bytes) {
    std::string out;
    textToUtf8(collation, bytes, out);
    return out;
}

}  // namespace dunmore::values
