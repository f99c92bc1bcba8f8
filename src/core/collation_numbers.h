#pragma once

#include <cstdint>

namespace dunmore::core {

// Collation numbers that the formats give a meaning of their own (the numbers of the
// server's collation list, as .frm files, the InnoDB precise type and the dictionary
// store them).
// binary: the "character set" of BINARY, VARBINARY, BLOB and GEOMETRY columns, whose
// bytes are not text.
inline constexpr std::int32_t kBinaryCollation = 63;

}  // namespace dunmore::core
