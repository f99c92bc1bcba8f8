#pragma once

#include "core/byte_reader.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace dunmore::schema {

// Texts of a .frm file as UTF-8. Names and comments are stored in UTF-8; bytes that do
// not form valid UTF-8 are taken as Windows-1252 characters so that nothing is lost.
std::string utf8OrWindows1252(core::ByteSpan bytes);

// The Unicode code point of a Windows-1252 (MySQL's latin1) byte; the five bytes the set
// leaves undefined map to the C1 controls of the same value.
char32_t windows1252CodePoint(std::uint8_t byte);
// Appends cp as UTF-8; surrogates and values above U+10FFFF become U+FFFD.
void appendUtf8(std::string& out, char32_t cp);

// Windows-1252 (MySQL's latin1) bytes as UTF-8.
std::string windows1252ToUtf8(core::ByteSpan bytes);

// An ENUM/SET member as UTF-8, decoded in the character set of its column (the name of
// the set, as the collation table gives it). Members of ucs2, utf16, utf16le and utf32
// columns are stored as hexadecimal text of their bytes and are unpacked first. latin1
// is Windows-1252; utf8, utf8mb3 and utf8mb4 pass through; binary and every other set
// are taken as UTF-8 with the Windows-1252 fallback.
std::string memberToUtf8(core::ByteSpan bytes, std::string_view charsetName);

}  // namespace dunmore::schema
