// The head of a MyISAM index file (.MYI), as mi_open.c reads it; all integers big-endian.
//
//   0   header, 24 bytes: signature 4, options 2 (bit 1 packed records, bit 4 compressed
//       records, bit 32 record checksums), header length 2, state-info length 2, base-info length
//       2, base-info position 2, key parts 2, unique key parts 2, keys 1, uniques 1, language 1,
//       max block size index 1, full-text keys 1, not used 1
//   24  state information: open count 2, changed 1, sort key 1, records 8, deleted
//       records 8, split 8, delete link 8, key file length 8, data file length 8, ...
//       (only the counts are read, kept in stateCounts)
//   basePos  base information, 100 bytes (record lengths, field count, pack bits, ...)
//   then per key a 12-byte definition and its 18-byte segments, per unique a 4-byte
//   definition and its segments, then per column a 7-byte record definition (type 2,
//   length 2, null bit 1, null position 2).
// See docs/formats/myisam.md.
#include "myisam/myisam_header.h"

#include <algorithm>
#include <vector>

namespace dunmore::myisam {
namespace {

constexpr std::size_t kHeaderSize = 24;
// open count, changed, sort key, records, deleted, split, delete link, key file length,
// data file length.
constexpr std::size_t kStateCountsSize = 2 + 1 + 1 + 8 * 6;
constexpr std::size_t kOptionsOffset = 4;
constexpr std::size_t kBasePosOffset = 12;
constexpr std::size_t kUniqueCountOffset = 19;
constexpr std::uint16_t kOptionPackRecord = 1;
constexpr std::uint16_t kOptionCompressRecord = 4;
constexpr std::uint16_t kOptionChecksum = 32;
constexpr std::size_t kKeyDefinitionSize = 12;
constexpr std::size_t kKeySegmentSize = 18;
constexpr std::size_t kUniqueDefinitionSize = 4;
constexpr std::size_t kColumnDefinitionSize = 7;
constexpr std::size_t kBaseInfoTrailer = 6;
// mi_create.c writes myisam_file_magic, FE FE 07 01; the fourth byte is a version.
constexpr std::uint8_t kSignature[3] = {0xFE, 0xFE, 0x07};

std::optional<MyisamStateCounts> parseStateCounts(core::ByteSpan head) {
    core::ByteReader r(head);
    r.seek(kHeaderSize);
    MyisamStateCounts counts;
    counts.openCount = r.u16be();
    r.skip(2);  // changed, sort key
    counts.records = r.u64be();
    counts.deletedRecords = r.u64be();
    r.skip(8 + 8 + 8);  // split, delete link, key file length
    counts.dataFileLength = r.u64be();
    if (!r.ok()) return std::nullopt;
    return counts;
}

}  // namespace

bool parseMyisamHeader(core::ByteSpan head, std::uint64_t fileLength, MyisamState& s,
                       MyisamHeadFacts* facts) {
    // Nothing of the table read before may survive a head that is cut short.
    s = MyisamState{};
    MyisamHeadFacts seen;
    if (facts) {
        seen.opened = facts->opened;
        seen.fileLength = facts->fileLength;
    }
    if (facts) *facts = seen;
    if (head.size() <= kHeaderSize || fileLength <= kHeaderSize) return false;
    core::ByteReader r(head);
    seen.signature = r.u8() == kSignature[0] && r.u8() == kSignature[1] && r.u8() == kSignature[2];
    r.seek(kOptionsOffset);
    const std::uint16_t options = r.u16be();
    seen.headerLength = r.u16be();
    r.skip(2);  // state-info length
    seen.baseInfoLength = r.u16be();
    const std::uint16_t basePos = r.u16be();
    r.seek(kUniqueCountOffset);
    const std::uint8_t uniqueCount = r.u8();
    s.stateCounts = parseStateCounts(head.first(std::min<std::uint64_t>(head.size(), fileLength)));
    if (facts) *facts = seen;

    const std::uint8_t optionBits = static_cast<std::uint8_t>(options & 0xFF);
    if (optionBits & kOptionCompressRecord)
        s.myisamRowFormat = 2;
    else if (optionBits & kOptionPackRecord)
        s.myisamRowFormat = 1;
    else
        s.myisamRowFormat = 0;
    s.recordChecksum = (optionBits & kOptionChecksum) != 0;

    if (basePos >= fileLength || basePos >= head.size()) return true;
    r.seek(basePos);
    s.keyStart = r.u64be();
    s.maxDataFileLength = r.u64be();
    s.maxKeyFileLength = r.u64be();
    s.createRecords = r.u64be();
    s.createReloc = r.u64be();
    s.meanRowLength = r.u32be();
    s.myisamRecordLength = r.u32be();
    s.packedRecordLength = r.u32be();
    s.minPackLength = r.u32be();
    s.maxPackLength = r.u32be();
    s.minBlockLength = r.u32be();
    s.fieldCount = r.u32be();
    s.packFieldCount = r.u32be();
    s.recordRefLength = r.u8();
    s.keyRefLength = r.u8();
    s.keyCount = r.u8();
    s.autoKey = r.u8();
    s.packBits = r.u16be();
    s.blobCount = r.u16be();
    s.maxKeyBlockLength = r.u16be();
    s.maxKeyLength = r.u16be();
    s.extraAllocBytes = r.u16be();
    const core::ByteSpan raid = r.bytes(sizeof s.raidBytes);
    std::copy(raid.begin(), raid.end(), s.raidBytes);
    r.skip(kBaseInfoTrailer);
    // A head cut short inside the base information keeps what was read; the
    // definitions that would follow are not there.
    if (!r.ok()) return true;
    seen.baseInfoRead = true;
    if (facts) *facts = seen;

    // Definitions end at whichever comes first: the bytes read or the file.
    const std::size_t end =
        static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), fileLength));
    const auto atEnd = [&] { return !r.ok() || r.position() >= end; };

    for (unsigned k = 0; k < s.keyCount && !atEnd(); ++k) {
        const std::uint8_t segments = r.u8();
        r.skip(kKeyDefinitionSize - 1);
        for (unsigned g = 0; g < segments && r.ok(); ++g) r.skip(kKeySegmentSize);
    }
    for (unsigned u = 0; u < uniqueCount && !atEnd(); ++u) {
        const std::uint16_t segments = r.u16be();
        r.skip(kUniqueDefinitionSize - 2);
        for (unsigned g = 0; g < segments && r.ok(); ++g) r.skip(kKeySegmentSize);
    }
    for (std::uint32_t c = 0; c < s.fieldCount && !atEnd(); ++c) {
        if (r.remaining() < kColumnDefinitionSize) break;
        MyisamColumn col;
        col.fieldType = static_cast<std::int16_t>(r.u16be());
        col.fieldLength = r.u16be();
        col.nullBit = r.u8();
        col.nullPos = r.u16be();
        s.myisamColumns.push_back(std::move(col));
    }
    seen.definitionsComplete = r.ok() && s.myisamColumns.size() == s.fieldCount;
    seen.definitionsEnd = r.position();
    if (facts) *facts = seen;
    return true;
}

bool readMyisamHeader(MyisamReader& ctx, const std::filesystem::path& indexPath,
                      MyisamHeadFacts* facts) {
    if (facts) *facts = MyisamHeadFacts{};
    ctx.indexFile.close();
    if (!ctx.indexFile.open(indexPath)) return false;
    const std::uint64_t length = ctx.indexFile.size();
    if (facts) {
        facts->opened = true;
        facts->fileLength = length;
    }
    if (length <= kHeaderSize) {
        ctx.indexFile.close();
        return false;
    }
    const std::vector<std::uint8_t> head = ctx.indexFile.readVector(0, kMaxMyisamHeadRead);
    ctx.indexFile.close();
    return parseMyisamHeader(head, length, ctx, facts);
}

}  // namespace dunmore::myisam
