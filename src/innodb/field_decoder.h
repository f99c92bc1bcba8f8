#pragma once

#include "core/byte_reader.h"
#include "core/innodb_column.h"
#include "innodb/innodb_reader.h"
#include "core/settings.h"

#include <cstdint>
#include <span>
#include <string>

namespace dunmore::innodb {

inline constexpr std::string_view kLargeSizeBlobData = "Large Size Blob Data";

// Whether an InnoDB integer field is stored without the sign-bit flip: the precise type's
// unsigned bit, or the definition's UNSIGNED attribute of an integer column.
bool isUnsignedInteger(const core::InnodbColumn& field);

// Rewrites the bytes of an InnoDB integer field (main type 6: big-endian, sign bit
// flipped unless unsigned) in place into the little-endian two's-complement form the
// value decoders read. Fields of any other main type are left untouched.
void convertIntegerField(std::span<std::uint8_t> bytes, const core::InnodbColumn& field);

// Character data of unknown character set: the bytes up to the first zero byte as UTF-8
// when they hold multi-byte UTF-8, else as Windows-1252.
std::string textFromBytes(core::ByteSpan bytes);

// The value text of one non-NULL field of a compact record. bytes are the field's bytes
// in the page (cut at the page end), external the externally-stored bit of its length
// entry. Externally stored values are read whole: character and binary types are decoded
// from the complete value; BLOB and TEXT values are written to a blob file while saving
// (the text is the file's path; when no file can be written the complete value is
// rendered inline instead) and preview as "Large Size Blob Data". With
// settings.blobsInline a saved BLOB or TEXT value stored externally becomes the
// hexadecimal literal of its stored bytes instead, and true is returned (the text is then
// a literal to write as it is); false otherwise. An externally stored value that cannot
// be read whole (a part page that does not verify, a chain that ends short) gives the
// empty text, and whole, when given, is set false; it is set true otherwise.
bool decodeInnodbField(InnodbReader& ctx, core::AppSettings& settings,
                       core::ByteSpan bytes, const core::InnodbColumn& field, bool external,
                       std::string& out, bool* whole = nullptr);
std::string decodeInnodbField(InnodbReader& ctx, core::AppSettings& settings,
                              core::ByteSpan bytes, const core::InnodbColumn& field,
                              bool external);

}  // namespace dunmore::innodb
