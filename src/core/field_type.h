#pragma once

#include <cstdint>

namespace dunmore::core {

// The MySQL type codes (enum_field_types) with which .frm files, the InnoDB dictionary's
// precise types and the SDI name a column's type; ColumnDefinition::typeCode holds one.
enum class FieldType : std::uint32_t {
    Decimal = 0,
    Tiny = 1,
    Short = 2,
    Long = 3,
    Float = 4,
    Double = 5,
    Null = 6,
    Timestamp = 7,
    LongLong = 8,
    Int24 = 9,
    Date = 10,
    Time = 11,
    Datetime = 12,
    Year = 13,
    NewDate = 14,
    Varchar = 15,
    Bit = 16,
    Timestamp2 = 17,
    Datetime2 = 18,
    Time2 = 19,
    Json = 245,
    NewDecimal = 246,
    Enum = 247,
    Set = 248,
    TinyBlob = 249,
    MediumBlob = 250,
    LongBlob = 251,
    Blob = 252,
    VarString = 253,
    String = 254,
    Geometry = 255,
};

constexpr FieldType fieldType(std::uint32_t typeCode) { return static_cast<FieldType>(typeCode); }
constexpr std::uint32_t typeCode(FieldType type) { return static_cast<std::uint32_t>(type); }

// TINYBLOB, MEDIUMBLOB, LONGBLOB and BLOB (TEXT columns too: the character set tells).
constexpr bool isBlobType(FieldType type) {
    return type >= FieldType::TinyBlob && type <= FieldType::Blob;
}
// The integer, decimal and floating-point types: the ones UNSIGNED and ZEROFILL apply to.
constexpr bool isNumericType(FieldType type) {
    switch (type) {
        case FieldType::Decimal: case FieldType::Tiny: case FieldType::Short:
        case FieldType::Long: case FieldType::Float: case FieldType::Double:
        case FieldType::LongLong: case FieldType::Int24: case FieldType::NewDecimal:
            return true;
        default:
            return false;
    }
}

}  // namespace dunmore::core
