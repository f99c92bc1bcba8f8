#pragma once

#include "core/byte_reader.h"

#include <string>

namespace dunmore::values {

// The JSON text of a MySQL 5.7 JSON column value, stored in MySQL's binary JSON form
// (a type byte, then objects and arrays with offset tables, little-endian). Objects print
// as {"key": value, ...} and arrays as [a, b], as MySQL shows them; DECIMAL and temporal
// scalars become numbers and quoted texts, other opaque scalars "base64:typeN:...".
// Returns false (out unspecified) when the bytes are not a well-formed document; every
// offset and length is checked against the bytes and nesting is bounded.
bool mysqlJsonText(core::ByteSpan bytes, std::string& out);

}  // namespace dunmore::values
