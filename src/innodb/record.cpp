// InnoDB records in the two row formats.
//
// Redundant (ROW_FORMAT=REDUNDANT and the data dictionary): below the origin o lie 6
// header bytes: o-6 info bits (high nibble) and owned count, o-5..o-3 a 24-bit big-endian
// word of heap number (bits 11..23), field count (bits 1..10) and the one-byte-offsets
// flag (bit 0), o-2..o-1 the absolute offset of the next record. Below the header the
// end offset of each field relative to o, 1 or 2 bytes each, field 0 nearest the header;
// 1-byte entries carry the SQL-NULL flag in 0x80, 2-byte entries NULL in 0x8000 and
// "stored externally" in 0x4000.
//
// Compact (COMPACT, DYNAMIC, COMPRESSED): 5 header bytes: o-5 info bits and owned count,
// o-4..o-3 heap number (13 bits) and status (3 bits), o-2..o-1 the successor offset
// relative to o (16-bit, wrapping). Below them the null bitmap and the length entries of
// the variable-length fields. See docs/formats/innodb.md.

#include "innodb/record.h"

#include "innodb/page.h"

#include <algorithm>
#include <bitset>
#include <string>

namespace dunmore::innodb {
namespace {

std::string where(std::uint32_t origin) { return "record at page offset " + std::to_string(origin); }

}  // namespace

core::Result<RedundantRecord> redundantFields(core::ByteSpan page, std::uint32_t origin) {
    if (origin < kRedundantHeaderSize || origin > page.size())
        return core::Status::corrupt("redundant record header below the page start or origin "
                                     "past the page end: " + where(origin));
    core::ByteReader r(page);
    r.seek(origin - kRedundantHeaderSize);
    RedundantRecord rec;
    rec.origin = origin;
    const std::uint8_t first = r.u8();
    const std::uint32_t word = r.u24be();
    rec.next = r.u16be();
    if (!r.ok()) return core::Status::corrupt("redundant record header cut: " + where(origin));
    rec.infoBits = first & 0xF0;
    rec.heapNumber = word >> 11;
    rec.fieldCount = (word >> 1) & 0x3FF;
    rec.offsetWidth = (word & 1) ? 1 : 2;
    const std::size_t arrayBytes = std::size_t{rec.fieldCount} * rec.offsetWidth;
    if (arrayBytes > origin - kRedundantHeaderSize)
        return core::Status::corrupt("redundant end-offset array of " +
                                     std::to_string(rec.fieldCount) +
                                     " fields runs below the page start: " + where(origin));
    rec.fields.reserve(rec.fieldCount);
    const std::size_t limit = page.size() - origin;
    std::uint32_t previousEnd = 0;
    for (std::uint32_t i = 0; i < rec.fieldCount; ++i) {
        // Entry i ends at o - 6 - i * w; a 2-byte entry has its high byte lower in memory.
        const std::size_t entryEnd = origin - kRedundantHeaderSize - std::size_t{i} * rec.offsetWidth;
        const std::size_t entryStart = entryEnd - rec.offsetWidth;
        const auto raw = static_cast<std::uint32_t>(core::readBeAt(page, entryStart, rec.offsetWidth));
        FieldExtent f;
        std::uint32_t end = 0;
        if (rec.offsetWidth == 1) {
            end = raw & 0x7F;
            f.isNull = (raw & 0x80) != 0;
        } else {
            end = raw & 0x3FFF;
            f.isNull = (raw & 0x8000) != 0;
            f.external = (raw & 0x4000) != 0;
        }
        if (end > limit || end < previousEnd) rec.truncated = true;
        const std::uint32_t start = std::min<std::uint32_t>(previousEnd, static_cast<std::uint32_t>(limit));
        const std::uint32_t stop = std::min<std::uint32_t>(std::max(end, start), static_cast<std::uint32_t>(limit));
        f.start = origin + start;
        f.length = stop - start;
        rec.fields.push_back(f);
        previousEnd = std::max(end, previousEnd);
    }
    return rec;
}

core::Result<CompactRecordHeader> compactHeader(core::ByteSpan page, std::uint32_t origin) {
    if (origin < kCompactHeaderSize || origin > page.size())
        return core::Status::corrupt("compact record header outside the page: " + where(origin));
    core::ByteReader r(page);
    r.seek(origin - kCompactHeaderSize);
    CompactRecordHeader h;
    const std::uint8_t first = r.u8();
    const std::uint16_t heapStatus = r.u16be();
    h.successor = r.u16be();
    if (!r.ok()) return core::Status::corrupt("compact record header cut: " + where(origin));
    h.infoBits = first & 0xF0;
    h.ownedCount = first & 0x0F;
    h.heapNumber = heapStatus >> 3;
    h.status = heapStatus & 0x07;
    return h;
}

Successor nextRecordOffset(std::uint32_t origin, std::uint16_t e, bool backwardSeen,
                           std::uint32_t pageSize) {
    Successor s;
    s.pageSize = pageSize;
    // The link is taken modulo 65536: on a 64 KiB page a forward distance never reaches
    // past the 16 bits, and a link that does is a backward one.
    if (e <= pageSize && std::uint64_t{origin} + e < 0x10000) {
        s.offset = origin + e;
        s.fieldAreaLength = e;
    } else {
        // A backward or wrapping link: the successor lies below this record, so the
        // distance says nothing about this record's length.
        std::uint32_t t = origin + (e & (pageSize - 1));
        if (t > pageSize) t -= pageSize;
        s.offset = t;
        s.fieldAreaLength = origin < pageSize ? pageSize - origin : 0;
        s.backward = true;
    }
    if (backwardSeen) s.fieldAreaLength = origin < pageSize ? pageSize - origin : 0;
    return s;
}

std::vector<CompactChainEntry> compactChain(core::ByteSpan page, std::uint32_t start,
                                            bool useBackwardFlag) {
    std::vector<CompactChainEntry> out;
    if (!isCompactIndexPage(page)) return out;
    const auto pageSize = static_cast<std::uint32_t>(page.size());
    std::uint32_t u = start != 0 ? start : firstCompactRecord(page);
    if (u >= compactStartLimit(pageSize) || isCompactSupremum(page, u)) return out;
    bool backwardSeen = false;
    // A damaged chain may loop: a record met again ends the page, so no row repeats.
    std::bitset<kMaxPageSize> visited;
    while (u > kCompactSupremum && u < pageSize && out.size() < maxRecordsPerPage(pageSize) &&
           !visited.test(u)) {
        visited.set(u);
        const auto e = static_cast<std::uint16_t>(core::readBeAt(page, u - 2, 2));
        const Successor s = nextRecordOffset(u, e, useBackwardFlag && backwardSeen, pageSize);
        if (s.backward) backwardSeen = true;
        out.push_back({u, s.fieldAreaLength, s.offset});
        if (s.endsChain() || isCompactSupremum(page, s.offset)) break;
        u = s.offset;
    }
    return out;
}

std::vector<std::uint32_t> redundantChain(core::ByteSpan page) {
    std::vector<std::uint32_t> out;
    if (!isRedundantIndexPage(page)) return out;
    const auto pageSize = static_cast<std::uint32_t>(std::min<std::size_t>(page.size(), kMaxPageSize));
    std::uint32_t u = firstRedundantRecord(page);
    std::bitset<kMaxPageSize> visited;
    while (u > kRedundantSupremum && u < pageSize && out.size() < maxRecordsPerPage(pageSize) &&
           !visited.test(u) && !isRedundantSupremum(page, u)) {
        visited.set(u);
        const auto rec = redundantFields(page, u);
        if (!rec) break;
        out.push_back(u);
        u = rec->next;
    }
    return out;
}

std::optional<FirstRecord> firstUserRecord(core::ByteSpan page) {
    FirstRecord first;
    if (isCompactIndexPage(page)) {
        const auto chain = compactChain(page, 0, false);
        if (chain.empty()) return std::nullopt;
        const auto header = compactHeader(page, chain.front().origin);
        if (!header) return std::nullopt;
        first.origin = chain.front().origin;
        first.infoBits = header->infoBits;
        first.status = header->status;
        first.fieldAreaLength = chain.front().fieldAreaLength;
        return first;
    }
    const auto chain = redundantChain(page);
    if (chain.empty()) return std::nullopt;
    const auto rec = redundantFields(page, chain.front());
    if (!rec) return std::nullopt;
    first.origin = chain.front();
    first.infoBits = rec->infoBits;
    first.redundant = true;
    return first;
}

bool isLargeMainType(std::uint32_t mainType) {
    // DATA_BLOB, DATA_GEOMETRY (MariaDB, MySQL 5.7) and DATA_VAR_POINT (MySQL 5.7).
    return mainType == 5 || mainType == 14 || mainType == 16;
}

core::Result<FieldLength> compactFieldLength(const core::InnodbColumn& column,
                                             core::ByteSpan page, std::int64_t& cursor) {
    FieldLength out;
    if (column.fixedLength != 0) {
        out.length = column.fixedLength;
        return out;
    }
    if (cursor < 0 || cursor >= static_cast<std::int64_t>(page.size()))
        return core::Status::corrupt("compact length entry outside the page at offset " +
                                     std::to_string(cursor));
    const auto b = static_cast<std::uint8_t>(core::readBeAt(page, static_cast<std::size_t>(cursor), 1));
    if (column.length <= 255 && !isLargeMainType(column.mainType)) {
        --cursor;
        out.length = b;
        return out;
    }
    if (b & 0x80) {
        if (cursor < 1)
            return core::Status::corrupt("two-byte compact length entry cut at the page start");
        const auto c = static_cast<std::uint8_t>(core::readBeAt(page, static_cast<std::size_t>(cursor - 1), 1));
        cursor -= 2;
        out.length = ((std::uint32_t{b} << 8) | c) & 0x3FFF;
        out.external = (b & 0x40) != 0;
        return out;
    }
    --cursor;
    out.length = b;
    return out;
}

}  // namespace dunmore::innodb
