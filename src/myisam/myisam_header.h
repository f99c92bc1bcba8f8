#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/byte_reader.h"
#include "myisam/myisam_reader.h"
#include "core/status.h"

namespace dunmore::myisam {

// Row formats announced by the .MYI options (MyisamReader::myisamRowFormat).
inline constexpr std::int32_t kRowFormatFixed = 0;
inline constexpr std::int32_t kRowFormatDynamic = 1;
inline constexpr std::int32_t kRowFormatCompressed = 2;

// Reads the head of the .MYI file at indexPath (through ctx.indexFile, closed again before
// returning) into ctx: myisamRowFormat, the base information and myisamColumns (appended
// in file order). Returns false when the file cannot be opened or is 24 bytes long or
// shorter (ctx unchanged then); true otherwise, also when the file ends inside the
// definitions (the columns read so far are kept) or before the base information (only
// myisamRowFormat is set). The signature is not checked.
// Requires: the caller emptied myisamColumns for this table.
bool readMyisamHeader(MyisamReader& ctx, const std::filesystem::path& indexPath);

// The same parse over bytes already in memory: the first bytes of a .MYI file (at least
// the header, base information and definitions; fileLength is the length of the whole
// file). Returns false for fewer than 25 bytes.
bool parseMyisamHeader(core::ByteSpan head, std::uint64_t fileLength, MyisamState& state);

// The row counts of a .MYI file's state information, as the server last wrote them
// (a server that did not close the table may have left them behind its data file).
struct MyisamStateCounts {
    std::uint16_t openCount = 0;       // not 0: the table was not closed cleanly
    std::uint64_t records = 0;         // live rows
    std::uint64_t deletedRecords = 0;  // deleted rows still taking space
    std::uint64_t dataFileLength = 0;  // bytes of the .MYD in use
};

// Reads the state information that follows the 24-byte header of the .MYI at indexPath
// (read-only). nullopt when the file cannot be read or is too short to hold it.
std::optional<MyisamStateCounts> readMyisamStateCounts(const std::filesystem::path& indexPath);

}  // namespace dunmore::myisam
