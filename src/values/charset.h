#pragma once

#include "core/byte_reader.h"

#include <cstdint>
#include <string>

namespace dunmore::values {

// Character data of a column in its own character set (by collation number) as UTF-8.
// latin1 is Windows-1252, utf8mb3/utf8mb4 pass through, the others go through iconv
// (converters cached per character set). Bytes that cannot be converted are kept in
// their nearest faithful form, never dropped. Collation 63 (binary) and unknown numbers
// are taken as Windows-1252.
std::string textToUtf8(std::uint32_t collation, core::ByteSpan bytes);
void textToUtf8(std::uint32_t collation, core::ByteSpan bytes, std::string& out);

// Whether textToUtf8 takes the collation's text as UTF-8 (utf8mb3, utf8mb4): it then
// copies well-formed UTF-8 as it is and replaces only the bytes of broken sequences.
bool isUtf8Collation(std::uint32_t collation);
// The length (1..4) of the well-formed UTF-8 sequence at the start of the n bytes at s,
// as textToUtf8 reads a UTF-8 collation (bytes that are such sequences throughout are
// their own text); 0 when they do not start with one.
std::size_t wellFormedUtf8SequenceLength(const std::uint8_t* s, std::size_t n);

}  // namespace dunmore::values
