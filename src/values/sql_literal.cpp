// SQL literals of decoded column values, for the INSERT statements of a save.
//
// Quoted literals are escaped as MySQL's own client escaping does (backslash, NUL, line
// feed, carriage return, Ctrl-Z and the double quote get a backslash; the apostrophe is
// doubled, which reads the same with and without NO_BACKSLASH_ESCAPES), so no value can
// end its literal early. The text is UTF-8 by then, and no UTF-8 sequence contains one of
// the escaped bytes, so escaping byte by byte is safe. Values written without quotes
// (numbers, hexadecimal binary values, bit strings) are checked to have that form and are
// quoted like text when they do not.

#include "values/sql_literal.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "schema/column_type.h"
#include "values/charset.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace dunmore::values {

namespace {


enum class Kind { Number, Quoted, Binary, Bit, Blob, Text };

Kind kindOf(std::uint32_t typeCode) {
    switch (core::fieldType(typeCode)) {
        case core::FieldType::Decimal:
        case core::FieldType::NewDecimal:
        case core::FieldType::Tiny:
        case core::FieldType::Short:
        case core::FieldType::Long:
        case core::FieldType::Float:
        case core::FieldType::Double:
        case core::FieldType::LongLong:
        case core::FieldType::Int24:
        case core::FieldType::Year:
            return Kind::Number;
        case core::FieldType::Timestamp:
        case core::FieldType::Timestamp2:
        case core::FieldType::Date:
        case core::FieldType::NewDate:
        case core::FieldType::Time:
        case core::FieldType::Time2:
        case core::FieldType::Datetime:
        case core::FieldType::Datetime2:
            return Kind::Quoted;
        case core::FieldType::Geometry:
            return Kind::Binary;
        case core::FieldType::Bit:
            return Kind::Bit;
        case core::FieldType::TinyBlob:
        case core::FieldType::MediumBlob:
        case core::FieldType::LongBlob:
        case core::FieldType::Blob:
            return Kind::Blob;
        case core::FieldType::Varchar:
        case core::FieldType::Json:
        case core::FieldType::VarString:
        case core::FieldType::String:
        case core::FieldType::Enum:
        case core::FieldType::Set:
            return Kind::Text;
        default:
            return Kind::Number;
    }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// [+-]digits[.digits][e[+-]digits], at least one digit before the exponent.
bool isNumberText(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    std::size_t digits = 0;
    while (i < t.size() && isDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
        std::size_t expDigits = 0;
        while (i < t.size() && isDigit(t[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == t.size();
}

bool isHexText(std::string_view t) {
    if (t.size() < 3 || t[0] != '0' || t[1] != 'x') return false;
    return std::all_of(t.begin() + 2, t.end(), [](char c) {
        return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
}

bool isBitText(std::string_view t) {
    return std::all_of(t.begin(), t.end(), [](char c) { return c == '0' || c == '1'; });
}

// Character types whose values can be the four letters NULL; only the null flag makes
// them SQL NULL.
bool canHoldNullWord(const core::ColumnDefinition& column) {
    switch (core::fieldType(column.typeCode)) {
        case core::FieldType::Varchar:
        case core::FieldType::Json:
        case core::FieldType::VarString:
        case core::FieldType::String:
        case core::FieldType::TinyBlob:
        case core::FieldType::MediumBlob:
        case core::FieldType::LongBlob:
        case core::FieldType::Blob:
            return column.charset != core::kBinaryCollation;
        case core::FieldType::Enum:
        case core::FieldType::Set:
            return true;
        default:
            return false;
    }
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The path of a blob file written by this save: the saving folder, "blobdata" and the
// file's number. Only such a path becomes a LOAD_FILE call, so a TEXT value that merely
// names a file (even one under the saving folder) stays text.
bool isBlobFilePath(std::string_view t, std::string_view savingFolder) {
    while (!savingFolder.empty() && isSeparator(savingFolder.back()))
        savingFolder.remove_suffix(1);
    if (savingFolder.empty() || !t.starts_with(savingFolder)) return false;
    t.remove_prefix(savingFolder.size());
    std::size_t i = 0;
    while (i < t.size() && isSeparator(t[i])) ++i;
    if (i == 0) return false;
    t.remove_prefix(i);
    constexpr std::string_view kBlobFolder = "blobdata";
    if (!t.starts_with(kBlobFolder)) return false;
    t.remove_prefix(kBlobFolder.size());
    i = 0;
    while (i < t.size() && isSeparator(t[i])) ++i;
    if (i == 0 || i == t.size()) return false;
    return std::all_of(t.begin() + static_cast<std::ptrdiff_t>(i), t.end(), isDigit);
}

// The escape of each byte that needs one, in a table so that runs of plain bytes (nearly
// every byte of real text) are found with one lookup per byte and appended at once.
struct EscapeTable {
    constexpr EscapeTable() {
        code['\''] = '\'';
        code['\\'] = '\\';
        code['"'] = '"';
        code[0] = '0';
        code['\n'] = 'n';
        code['\r'] = 'r';
        code['\032'] = 'Z';
    }
    char code[256] = {};
};
constexpr EscapeTable kEscapes;

// The position, in memory order, of the first non-zero byte of an eight-byte word.
std::size_t lowestSetByte(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) return std::countr_zero(word) / 8;
    return std::countl_zero(word) / 8;
}

// The first of the sixteen bytes at p that needs an escape (with stopAtHigh, also the
// first that is not ASCII), or nullptr. The compiler's vector extension tests them at
// once: one compare per escaped byte value.
template <bool stopAtHigh>
const char* firstEscapeIn16(const char* p) {
    using Bytes16 = unsigned char __attribute__((vector_size(16)));
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    Bytes16 hit = (v == '\'') | (v == '\\') | (v == '"') | (v == 0) | (v == '\n') | (v == '\r') | (v == '\032');
    if constexpr (stopAtHigh) hit |= (v >= 0x80);
    std::uint64_t lanes[2];
    std::memcpy(lanes, &hit, sizeof lanes);
    // A lane is 0xFF where its byte needs an escape.
    if (lanes[0] != 0) return p + lowestSetByte(lanes[0]);
    if (lanes[1] != 0) return p + 8 + lowestSetByte(lanes[1]);
    return nullptr;
}

// The first byte of [p, end) that needs an escape (with stopAtHigh, also the first that
// is not ASCII), or end. Sixteen bytes are tested at a time, so a plain text costs a few
// instructions per sixteen bytes; a text of sixteen bytes or more ends with the block of
// its last sixteen, which may go over bytes already found plain.
template <bool stopAtHigh>
const char* findEscapeIn(const char* p, const char* end) {
    if (end - p >= 16) {
        const char* const last = end - 16;
        for (;;) {
            if (const char* hit = firstEscapeIn16<stopAtHigh>(p)) return hit;
            if (p == last) return end;
            p = p + 16 <= last ? p + 16 : last;
        }
    }
    while (p < end && kEscapes.code[static_cast<unsigned char>(*p)] == 0 &&
           (!stopAtHigh || static_cast<unsigned char>(*p) < 0x80))
        ++p;
    return p;
}
const char* findEscape(const char* p, const char* end) { return findEscapeIn<false>(p, end); }
const char* findEscapeOrHigh(const char* p, const char* end) { return findEscapeIn<true>(p, end); }

// Out: std::string or RowText.
template <typename Out>
void appendEscaped(std::string_view t, Out& out) {
    const char* p = t.data();
    const char* const end = p + t.size();
    while (p < end) {
        const char* run = p;
        p = findEscape(p, end);
        out.append(run, static_cast<std::size_t>(p - run));
        if (p == end) break;
        const char code = kEscapes.code[static_cast<unsigned char>(*p)];
        // The apostrophe is doubled; the others take a backslash.
        const char escaped[2] = {code == '\'' ? '\'' : '\\', code};
        out.append(escaped, 2);
        ++p;
    }
}

template <typename Out>
void appendQuoted(std::string_view t, Out& out) {
    out.push_back('\'');
    appendEscaped(t, out);
    out.append("',");
}

// A value written bare when it has the form check demands; '' when empty; quoted text
// otherwise.
template <typename Check, typename Out>
void appendBare(std::string_view t, Check check, Out& out) {
    if (t.empty()) {
        out.append("'',");
    } else if (check(t)) {
        out.append(t);
        out.push_back(',');
    } else {
        appendQuoted(t, out);
    }
}

template <typename Out>
void appendLiteral(const core::ColumnDefinition& column, std::string_view value, bool isNullFlag,
                   bool isHexLiteral, std::string_view savingFolder, Out& out) {
    std::string_view t = value;
    const bool isNull = isNullFlag || (t == "NULL" && !canHoldNullWord(column));
    if (isNull) {
        // A key column cannot hold NULL; its value is written empty instead.
        if (!column.inPrimaryKey) {
            out.append("NULL,");
            return;
        }
        t = {};
    } else if (isHexLiteral && isHexText(t)) {
        out.append(t);
        out.push_back(',');
        return;
    }
    switch (kindOf(column.typeCode)) {
        case Kind::Number:
            return appendBare(t, isNumberText, out);
        case Kind::Quoted:
            return appendQuoted(t, out);
        case Kind::Binary:
            return appendBare(t, isHexText, out);
        case Kind::Bit:
            if (!isBitText(t)) return appendQuoted(t, out);
            out.append("b'");
            out.append(t);
            out.append("',");
            return;
        case Kind::Blob:
            if (isBlobFilePath(t, savingFolder)) {
                std::string path(t);
                std::replace(path.begin(), path.end(), '\\', '/');
                // A server that cannot read the file (secure_file_priv, permissions,
                // max_allowed_packet) makes LOAD_FILE NULL; the second operand is then
                // evaluated and its overflow stops the statement with an error that names
                // the file, instead of a NULL in place of the value.
                out.append("IFNULL(LOAD_FILE('");
                appendEscaped(path, out);
                out.append("'),~0+ISNULL(LOAD_FILE('");
                appendEscaped(path, out);
                out.append("'))),");
                return;
            }
            if (column.charset == core::kBinaryCollation) return appendBare(t, isHexText, out);
            return appendQuoted(t, out);
        case Kind::Text:
            if (column.charset == core::kBinaryCollation && core::fieldType(column.typeCode) != core::FieldType::Json &&
                core::fieldType(column.typeCode) != core::FieldType::Enum &&
                core::fieldType(column.typeCode) != core::FieldType::Set)
                return appendBare(t, isHexText, out);
            return appendQuoted(t, out);
    }
}

template <typename Out>
void appendRowLiterals(const std::vector<core::ColumnDefinition>& row, std::string_view savingFolder, Out& out) {
    const std::size_t start = out.size();
    for (const auto& column : row)
        appendLiteral(column, column.value, column.isNull, column.isHexLiteral, savingFolder, out);
    if (out.size() > start && out.back() == ',') out.pop_back();
}

}  // namespace

bool isSqlNull(const core::ColumnDefinition& column) {
    return column.isNull || (column.value == "NULL" && !canHoldNullWord(column));
}

void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder,
                      std::string& out) {
    appendLiteral(column, column.value, column.isNull, column.isHexLiteral, savingFolder, out);
}

void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder, RowText& out) {
    appendLiteral(column, column.value, column.isNull, column.isHexLiteral, savingFolder, out);
}

void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view value, bool isNull,
                      bool isHexLiteral, std::string_view savingFolder, std::string& out) {
    appendLiteral(column, value, isNull, isHexLiteral, savingFolder, out);
}

void appendSqlLiteral(const core::ColumnDefinition& column, std::string_view value, bool isNull,
                      bool isHexLiteral, std::string_view savingFolder, RowText& out) {
    appendLiteral(column, value, isNull, isHexLiteral, savingFolder, out);
}

bool appendUtf8TextLiteral(core::ByteSpan bytes, bool trimBlanks, RowText& out) {
    const char* p = reinterpret_cast<const char*>(bytes.data());
    const char* end = p + bytes.size();
    // CHAR values are stored padded with blanks, which MySQL removes when reading. (A
    // blank is one byte in UTF-8, so the stored bytes lose the same blanks as the text.)
    if (trimBlanks)
        while (end > p && end[-1] == ' ') --end;
    // An escape at most doubles a byte; then the quotes and the comma.
    char* o = out.room(2 * static_cast<std::size_t>(end - p) + 3);
    *o++ = '\'';
    // One scan checks the UTF-8 and escapes: the bytes up to the next one that needs an
    // escape are copied at once, their multi-byte sequences checked where they stand.
    const char* run = p;
    while (p < end) {
        p = findEscapeOrHigh(p, end);
        if (p == end) break;
        const auto byte = static_cast<unsigned char>(*p);
        if (byte >= 0x80) {
            // A run of letters of several bytes (accented words, whole texts of other
            // scripts) is checked here sequence by sequence, without going back to the
            // scan for each letter. Two-byte sequences (Latin, Greek, Cyrillic letters)
            // are checked in place.
            do {
                const auto lead = static_cast<unsigned char>(*p);
                const std::size_t n =
                    lead >= 0xC2 && lead <= 0xDF && end - p >= 2 && (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80
                        ? 2
                        : wellFormedUtf8SequenceLength(reinterpret_cast<const std::uint8_t*>(p),
                                                       static_cast<std::size_t>(end - p));
                // The text stays where it ended: nothing is appended.
                if (n == 0) return false;
                p += n;
            } while (p < end && static_cast<unsigned char>(*p) >= 0x80);
            continue;
        }
        std::memcpy(o, run, static_cast<std::size_t>(p - run));
        o += p - run;
        const char code = kEscapes.code[byte];
        // The apostrophe is doubled; the others take a backslash.
        *o++ = code == '\'' ? '\'' : '\\';
        *o++ = code;
        run = ++p;
    }
    // (An empty value may have no bytes to point at.)
    if (end != run) std::memcpy(o, run, static_cast<std::size_t>(end - run));
    o += end - run;
    *o++ = '\'';
    *o++ = ',';
    out.advance(o);
    return true;
}

std::string sqlLiteral(const core::ColumnDefinition& column, std::string_view savingFolder) {
    std::string out;
    appendSqlLiteral(column, savingFolder, out);
    return out;
}

std::string insertStatementHead(const std::vector<core::ColumnDefinition>& columns,
                                std::string_view tableName) {
    std::string head = "INSERT INTO " + schema::quoteIdentifier(tableName) + "(";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) head.push_back(',');
        head += schema::quoteIdentifier(columns[i].name);
    }
    head += ") VALUES(";
    return head;
}

void appendRowValues(const std::vector<core::ColumnDefinition>& row, std::string_view savingFolder,
                     std::string& out) {
    appendRowLiterals(row, savingFolder, out);
}

void appendRowValues(const std::vector<core::ColumnDefinition>& row, std::string_view savingFolder, RowText& out) {
    appendRowLiterals(row, savingFolder, out);
}

}  // namespace dunmore::values
