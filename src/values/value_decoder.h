#pragma once

#include "core/byte_reader.h"
#include "core/column_definition.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dunmore::values {

// The application-wide flags a decode depends on.
struct DecodeOptions {
    bool version56OrLater = true;
    // Saving (script or server) rather than previewing: long binary and spatial values
    // are written whole, TIMESTAMP values in UTC.
    bool saving = false;
};

// The text of one stored column value. Never fails: every stored value yields a text.
// Bytes beyond the given span read as zero.
std::string decodeColumnValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                              const DecodeOptions& options);
// The same, written into out (its capacity is reused).
void decodeColumnValue(const core::ColumnDefinition& column, core::ByteSpan bytes,
                       const DecodeOptions& options, std::string& out);

// Bytes of a packed DECIMAL(precision, decimals).
std::uint32_t packedDecimalSize(std::int32_t precision, std::int32_t decimals);
std::string packedDecimalText(core::ByteSpan bytes, std::int32_t precision, std::int32_t decimals);
std::string timestampText(int year, int month, int day, int hour, int minute, int second);
std::string oldDatetimeText(std::uint64_t value);
std::string geometryText(core::ByteSpan bytes);

// Bytes a fixed-width type occupies in a row (integers, FLOAT, DOUBLE, temporal types by
// their layout, BIT, ENUM, SET, DECIMAL); 0 for variable types.
std::uint32_t storedWidth(const core::ColumnDefinition& column);

}  // namespace dunmore::values
