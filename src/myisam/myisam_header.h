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

// The head of a .MYI (header, state, base information and every definition) of the
// largest MyISAM table (64 keys of 32 segments, 4096 columns) fits well inside this.
inline constexpr std::size_t kMaxMyisamHeadRead = 1 << 20;

// Field types of the .MYI record definitions (MyisamColumn::fieldType).
inline constexpr std::int16_t kFieldNormal = 0;
inline constexpr std::int16_t kFieldSkipEndspace = 1;
inline constexpr std::int16_t kFieldSkipPrespace = 2;
inline constexpr std::int16_t kFieldSkipZero = 3;
inline constexpr std::int16_t kFieldBlob = 4;
inline constexpr std::int16_t kFieldVarchar = 8;
inline constexpr std::int16_t kFieldCheck = 9;

// What a parse found out about the head itself, for telling a damaged head from an
// intact one.
struct MyisamHeadFacts {
    bool opened = false;                // the file could be opened
    std::uint64_t fileLength = 0;
    bool signature = false;             // the file begins with MyISAM's 0xFE 0xFE 0x07
    std::uint16_t headerLength = 0;     // header offset 6: bytes of the whole head
    std::uint16_t baseInfoLength = 0;   // header offset 10
    bool baseInfoRead = false;          // the base information was there
    bool definitionsComplete = false;   // every key, unique and column definition was there
    std::uint64_t definitionsEnd = 0;   // offset after the last column definition read
};

// Reads the head of the .MYI file at indexPath (through ctx.indexFile, closed again before
// returning) into ctx: myisamRowFormat, the base information and myisamColumns (appended
// in file order). Returns false when the file cannot be opened or is 24 bytes long or
// shorter (ctx unchanged then); true otherwise, also when the file ends inside the
// definitions (the columns read so far are kept) or before the base information (only
// myisamRowFormat is set). The signature is not checked.
// facts, when given, receives what was seen of the file and its head.
// Requires: the caller emptied myisamColumns for this table.
bool readMyisamHeader(MyisamReader& ctx, const std::filesystem::path& indexPath,
                      MyisamHeadFacts* facts = nullptr);

// The same parse over bytes already in memory: the first bytes of a .MYI file (at least
// the header, base information and definitions; fileLength is the length of the whole
// file). Returns false for fewer than 25 bytes. The state counts are kept in
// state.stateCounts when the head holds them (not checked for plausibility). facts, when
// given, receives what the parse found out about the head.
bool parseMyisamHeader(core::ByteSpan head, std::uint64_t fileLength, MyisamState& state,
                       MyisamHeadFacts* facts = nullptr);

}  // namespace dunmore::myisam
