// SQL type texts of .frm columns, by MySQL field-type code.
#include "schema/column_type.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"

namespace dunmore::schema {
namespace {

// Widths of the temporal values without fractional seconds ("hh:mm:ss" with the room
// for 838 hours and a sign, "YYYY-MM-DD hh:mm:ss"); a longer field length is the point
// and the fractional digits. MariaDB 5.3 wrote such lengths with the old type codes too.
constexpr std::int32_t kTimeWidth = 10;
constexpr std::int32_t kDateTimeWidth = 19;

std::string withFsp(const char* name, std::int32_t length, std::int32_t baseWidth) {
    const std::int32_t fsp = length - baseWidth - 1;
    if (fsp <= 0) return name;
    return std::string(name) + "(" + std::to_string(fsp) + ")";
}

std::string numericAttributes(const core::ColumnDefinition& column) {
    std::string out;
    if (column.isUnsigned) out += " UNSIGNED";
    if (column.isZerofill) out += " ZEROFILL";
    return out;
}

// "(" + the quoted members + ")" of an ENUM or SET. Every member is listed: leaving out
// the empty one would make the stored value '' impossible to insert again.
std::string memberListText(const core::ColumnDefinition& column) {
    if (column.members.empty())
        return column.intervalText.empty() ? std::string() : "(" + column.intervalText + ")";
    std::string out = "(";
    for (std::size_t i = 0; i < column.members.size(); ++i) {
        if (i > 0) out += ",";
        out += "'" + escapeSqlText(column.members[i]) + "'";
    }
    return out + ")";
}

}  // namespace

std::string escapeSqlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\' || c == '\'') out.push_back(c);
        out.push_back(c);
    }
    return out;
}

std::string quoteIdentifier(std::string_view name) {
    std::string out = "`";
    for (const char c : name) {
        if (c == '`') out.push_back(c);
        out.push_back(c);
    }
    return out + "`";
}

std::string columnTypeText(std::uint32_t tableCharset, const core::ColumnDefinition& column,
                           const CollationTable& collations) {
    std::uint32_t divisor = 0;
    if (tableCharset != 0) {
        const std::uint32_t number = static_cast<std::uint32_t>(column.charset) != tableCharset
                                         ? static_cast<std::uint32_t>(column.charset)
                                         : tableCharset;
        if (const CollationEntry* e = collations.lookupCollation(number))
            divisor = e->maxBytesPerChar;
    }
    const std::int32_t divided = (divisor != 0 && column.length != 0)
                                     ? column.length / static_cast<std::int32_t>(divisor)
                                     : column.length;
    const bool binary = column.charset == core::kBinaryCollation;
    const auto paren = [](std::int32_t n) { return "(" + std::to_string(n) + ")"; };

    switch (core::fieldType(column.typeCode)) {
        case core::FieldType::Decimal:
        case core::FieldType::NewDecimal:
            return "DECIMAL(" + std::to_string(column.precision) + "," +
                   std::to_string(column.decimals) + ")" + numericAttributes(column);
        case core::FieldType::Tiny: return "TINYINT" + numericAttributes(column);
        case core::FieldType::Short: return "SMALLINT" + numericAttributes(column);
        case core::FieldType::Long: return "INT" + numericAttributes(column);
        case core::FieldType::Float:
        case core::FieldType::Double: {
            std::string text = core::fieldType(column.typeCode) == core::FieldType::Float ? "FLOAT" : "DOUBLE";
            if (column.decimals != 0)
                text += "(" + std::to_string(column.precision) + "," +
                        std::to_string(column.decimals) + ")";
            return text + numericAttributes(column);
        }
        case core::FieldType::Timestamp:
        case core::FieldType::Timestamp2: return withFsp("TIMESTAMP", column.length, kDateTimeWidth);
        case core::FieldType::LongLong: return "BIGINT" + numericAttributes(column);
        case core::FieldType::Int24: return "MEDIUMINT" + numericAttributes(column);
        case core::FieldType::Date:
        case core::FieldType::NewDate: return "DATE";
        case core::FieldType::Time:
        case core::FieldType::Time2: return withFsp("TIME", column.length, kTimeWidth);
        case core::FieldType::Datetime:
        case core::FieldType::Datetime2: return withFsp("DATETIME", column.length, kDateTimeWidth);
        case core::FieldType::Year: return "YEAR";
        case core::FieldType::Varchar: return std::string(binary ? "VARBINARY" : "VARCHAR") + paren(divided);
        case core::FieldType::Bit: return "BIT" + paren(column.length);
        case core::FieldType::Json: return "JSON";
        case core::FieldType::Enum: return "ENUM" + memberListText(column);
        case core::FieldType::Set: return "SET" + memberListText(column);
        case core::FieldType::TinyBlob: return binary ? "TINYBLOB" : "TINYTEXT";
        case core::FieldType::MediumBlob: return binary ? "MEDIUMBLOB" : "MEDIUMTEXT";
        case core::FieldType::LongBlob: return binary ? "LONGBLOB" : "LONGTEXT";
        case core::FieldType::Blob: return binary ? "BLOB" : "TEXT";
        // The VARCHAR of servers before 5.0 (still found in tables they created). CHAR or
        // BINARY in its place would pad every value on the way back.
        case core::FieldType::VarString: return std::string(binary ? "VARBINARY" : "VARCHAR") + paren(divided);
        case core::FieldType::String: return binary ? "BINARY" + paren(column.length) : "CHAR" + paren(divided);
        case core::FieldType::Geometry:
            switch (column.geometryType) {
                case 1: return "POINT";
                case 2: return "LINESTRING";
                case 3: return "POLYGON";
                case 4: return "MULTIPOINT";
                case 5: return "MULTILINESTRING";
                case 6: return "MULTIPOLYGON";
                case 7: return "GEOMETRYCOLLECTION";
                default: return "GEOMETRY";
            }
        default: return "UNKNOWN DATATYPE";
    }
}

}  // namespace dunmore::schema
