#pragma once

#include "core/byte_reader.h"
#include "core/column_definition.h"
#include "core/field_type.h"
#include "values/row_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dunmore::values {

// The application-wide flags a decode depends on.
struct DecodeOptions {
    // Saving (script or server) rather than previewing: long binary and spatial values
    // are written whole, TIMESTAMP values in UTC.
    bool saving = false;
};

// The text of one stored column value, UTF-8. Never fails: every stored value yields a
// text, damaged bytes included. Bytes a fixed-width type needs beyond the given span read
// as zero; nothing outside the span is read. Integers, ENUM and SET come little-endian
// (the InnoDB reader converts its big-endian form first), BIT and the MySQL 5.6 temporal
// types big-endian as stored. Integers honour column.isUnsigned. Binary values are
// "0x" + hex; preview placeholders: "0x<Binarydata>" (binary character values over 99
// bytes), "Large Blob Data" (BLOB/TEXT over 999 bytes), "Spatial Data" (GEOMETRY). A
// saved GEOMETRY is the hex of its bytes, "NULL" when they are empty or all zero.
// TIMESTAMP values are UTC while saving and local time (TZ) in preview.
std::string decodeColumnValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                              const DecodeOptions& options);
// The same, written into out (its capacity is reused; out may be column.value).
void decodeColumnValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                       const DecodeOptions& options, std::string& out);

// Why bytes cannot be a value MySQL stored for column (the layouts of decodeColumnValue):
// a date or time part out of its range (a month above 12, a day above 31, an hour above
// 23 in a DATETIME or 838 in a TIME, a minute or second above 59, a year above 9999, a
// fraction of a second above its digits), a negative DATETIME, an ENUM index past its
// members, SET bits past its members, a packed DECIMAL digit group above its digits, an
// old DECIMAL with other characters than digits, sign, point and blanks, a FLOAT or
// DOUBLE that is not a finite number, BIT bits above its width. Zero dates and zero parts
// (allowed by the server's SQL modes) are values. nullptr when the bytes can be a value;
// types whose every byte pattern is a value (integers, YEAR, TIMESTAMP, character and
// binary data) always can.
const char* storedValueFault(const core::ColumnDefinition& column, core::ByteSpan bytes);

// decodeColumnValue into out and storedValueFault of the same bytes, read once: the text
// is written whatever the answer (a damaged DECIMAL reads "0").
const char* decodeStoredValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                              const DecodeOptions& options, std::string& out);

// Appends the decimal text of an integer column's value, given as the number its width
// bytes (1 to 8) hold: unsigned, or two's complement of that width.
void appendIntegerText(std::uint64_t value, std::size_t width, bool isUnsigned, std::string& out);
// The same text followed by a comma: the SQL literal of that value in a row.
void appendIntegerLiteral(std::uint64_t value, std::size_t width, bool isUnsigned, RowText& out);

// What appendStoredValueLiteral needs of a column whose literals it writes (a packed
// DECIMAL, a DATE or a DATETIME of the MySQL 5.6 format), worked out once for all its
// values: the type, the stored width and the column's precision.
struct StoredValueForm {
    core::FieldType type = core::FieldType::Null;
    std::uint32_t width = 0;
    std::int32_t precision = 0;
    std::int32_t decimals = 0;
    int fsp = 0;
};
// The form of column's values, or nullopt for the types appendStoredValueLiteral leaves
// to the decoding.
std::optional<StoredValueForm> storedValueForm(const core::ColumnDefinition& column);
// The SQL literal of a value of such a column straight from its stored bytes, followed by
// its comma: what appendSqlLiteral writes for the text decodeStoredValue gives the bytes.
// False, appending nothing, when decodeStoredValue would report a fault and when the
// bytes are not the column's stored width: the caller then decodes the value.
bool appendStoredValueLiteral(const StoredValueForm& form, core::ByteSpan bytes, RowText& out);

// Bytes of a packed DECIMAL(precision, decimals); out-of-range arguments are clamped.
std::uint32_t packedDecimalSize(std::int32_t precision, std::int32_t decimals);
// The text of a packed DECIMAL ("-" sign, integer digits or "0", "." and exactly
// `decimals` digits); "0" when a digit group is out of range.
std::string packedDecimalText(core::ByteSpan bytes, std::int32_t precision, std::int32_t decimals);
// "YYYY-MM-DD hh:mm:ss", each part at least two digits (four for the year).
std::string timestampText(int year, int month, int day, int hour, int minute, int second);
// The text of a pre-5.6 DATETIME number YYYYMMDDhhmmss.
std::string oldDatetimeText(std::uint64_t value);
// A spatial value as a hexadecimal literal of its stored bytes ("0x...").
std::string geometryText(core::ByteSpan bytes);

// Bytes a fixed-width type occupies in a row (integers, FLOAT, DOUBLE, temporal types by
// their layout and fractional-second precision, YEAR, BIT (n+7)/8, ENUM 1 or 2, SET 1-4
// or 8, packed DECIMAL, the old text DECIMAL its length); 0 for variable types.
std::uint32_t storedWidth(const core::ColumnDefinition& column);

}  // namespace dunmore::values
