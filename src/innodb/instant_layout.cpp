// MariaDB 10.3+ instant ALTER TABLE of a clustered index (format notes:
// docs/formats/innodb.md, "instant ALTER").
//
// The root page (FIL page type 18) keeps n_core_fields, the number of fields every
// record stores, in the high 13 bits of PAGE_INSTANT (page offset 50). The leftmost leaf
// begins with the metadata record: minimum-record flag, status 4 (instant), and the delete
// mark when columns were dropped or reordered. Below its 5 header bytes it stores its
// field count less n_core_fields less one (one byte below 0x80, else two: the low 7 bits,
// then the next 8 lower in memory), then the null bitmap of its nullable fields and the
// length entries of its variable-length ones. With the delete mark a 20-byte reference
// to the metadata BLOB (the physical field order) follows DB_ROLL_PTR; it has no length
// entry and no null bit. Every field past the core ones holds the value that records
// written before the field existed take: the column's default, which may itself be
// stored externally.
#include "innodb/instant_layout.h"

#include "innodb/column_layout.h"
#include "innodb/innodb_reader.h"
#include "innodb/page.h"
#include "innodb/record.h"

#include <string>
#include <vector>

namespace dunmore::innodb {
namespace {

// PAGE_INSTANT: the index header's direction field.
constexpr std::size_t kPageInstantOffset = 50;
constexpr std::size_t kSystemRecordTextSize = 8;
constexpr std::size_t kFieldRefSize = 20;
// More null bits than a record can have fields.
constexpr std::uint32_t kMaxCoreNullBytes = 128;

bool isNullableField(const core::InnodbColumn& f) { return (f.preciseType & kPreciseNotNull) == 0; }

bool allZero(core::ByteSpan bytes) {
    for (const auto b : bytes)
        if (b != 0) return false;
    return true;
}

std::string onPage(std::uint32_t page) { return " (page " + std::to_string(page) + ")"; }

// Keeps the value the metadata record holds for a field past the core ones.
core::Status setDefault(core::InnodbColumn& f, PageView leaf, bool isNull, std::uint64_t start,
                        std::uint64_t length, bool external) {
    f.hasInstantDefault = true;
    f.instantDefaultExternal = false;
    f.column.isNull = isNull;
    f.column.value.clear();
    if (isNull) return core::Status::ok();
    if (start + length > leaf.size())
        return core::Status::corrupt("the instant default of " + f.column.name + " runs past the page end");
    if (external && (length < kFieldRefSize ||
                     allZero(leaf.subspan(start + length - kFieldRefSize, kFieldRefSize))))
        return core::Status::corrupt("the externally stored instant default of " + f.column.name +
                                     " has no reference");
    f.instantDefaultExternal = external;
    f.column.value = core::asText(leaf.subspan(start, length));
    return core::Status::ok();
}

// The defaults in a compact metadata record: below its header the stored field count
// (less the core fields, less one), the null bitmap of every nullable field and the
// length entries; the BLOB reference (alter) has neither.
core::Status compactDefaults(InnodbReader& ctx, PageView leaf, const FirstRecord& header,
                             std::uint32_t coreFields, bool alter, std::size_t rollIndex,
                             std::uint32_t firstLeaf) {
    auto& fields = ctx.clusteredFields;
    const std::size_t total = fields.size();
    const std::uint32_t origin = header.origin;
    std::int64_t below = std::int64_t{origin} - 6;
    const auto byteAt = [&](std::int64_t at) -> std::optional<std::uint32_t> {
        if (at < 0 || at >= static_cast<std::int64_t>(leaf.size())) return std::nullopt;
        return leaf[static_cast<std::size_t>(at)];
    };
    const auto first = byteAt(below--);
    if (!first) return core::Status::corrupt("instant ALTER metadata record header cut");
    std::uint32_t added = *first;
    if (added & 0x80) {
        const auto second = byteAt(below--);
        if (!second) return core::Status::corrupt("instant ALTER metadata record header cut");
        added = (added & 0x7F) | (*second << 7);
    }
    const std::uint64_t stored = std::uint64_t{coreFields} + 1 + added;
    if (stored != total + (alter ? 1 : 0))
        return core::Status::corrupt("the instant ALTER metadata record" + onPage(firstLeaf) + " stores " +
                                     std::to_string(stored) + " fields; the table's records have " +
                                     std::to_string(total) + (alter ? " and the BLOB reference" : ""));
    const std::int64_t nullBase = below;
    std::int64_t lengthCursor = nullBase - nullBitmapSize(ctx);
    std::uint64_t data = origin;
    std::uint32_t nullableSeen = 0;
    for (std::size_t j = 0; j < stored; ++j) {
        if (alter && j == rollIndex + 1) {
            data += kFieldRefSize;
            continue;
        }
        const std::size_t index = alter && j > rollIndex ? j - 1 : j;
        core::InnodbColumn& f = fields[index];
        const bool isDefault = index >= coreFields;
        if (isNullableField(f)) {
            const auto bits = byteAt(nullBase - nullableSeen / 8);
            const auto mask = 1u << (nullableSeen % 8);
            ++nullableSeen;
            if (!bits) return core::Status::corrupt("instant ALTER metadata record null bitmap cut");
            if (*bits & mask) {
                if (isDefault) (void)setDefault(f, leaf, true, 0, 0, false);
                continue;
            }
        }
        const auto length = compactFieldLength(f, leaf, lengthCursor);
        if (!length) return length.status();
        if (data + length->length > leaf.size())
            return core::Status::corrupt("instant ALTER metadata record field " + f.column.name +
                                         " runs past the page end" + onPage(firstLeaf));
        if (isDefault) {
            if (auto st = setDefault(f, leaf, false, data, length->length, length->external); !st) return st;
        }
        data += length->length;
    }
    if (data - origin > header.fieldAreaLength)
        return core::Status::corrupt("the instant ALTER metadata record" + onPage(firstLeaf) +
                                     " runs into the next record");
    return core::Status::ok();
}

}  // namespace

std::optional<InstantRoot> readInstantRoot(core::ByteSpan root) {
    InstantRoot out;
    if (root.size() < kRedundantSupremum + kSystemRecordTextSize) return out;
    if (core::readBeAt(root, 24, 2) != kInstantIndexPageType) return out;
    out.instant = true;
    out.coreFields = static_cast<std::uint32_t>(core::readBeAt(root, kPageInstantOffset, 2) >> 3);
    // The page header's record count carries the compact flag in its top bit.
    const bool compact = (core::readBeAt(root, kPageHeaderOffset + 4, 2) & 0x8000) != 0;
    const core::ByteSpan infimum =
        root.subspan(compact ? kCompactInfimum : kRedundantInfimum, kSystemRecordTextSize);
    const core::ByteSpan supremum =
        root.subspan(compact ? kCompactSupremum : kRedundantSupremum, kSystemRecordTextSize);
    if (core::asText(infimum) == std::string("infimum", kSystemRecordTextSize) &&
        core::asText(supremum) == "supremum")
        return out;
    if (!allZero(infimum) || !allZero(supremum.first(kSystemRecordTextSize - 1))) return std::nullopt;
    out.alter = true;
    out.coreNullBytes = supremum[kSystemRecordTextSize - 1];
    if (out.coreNullBytes > kMaxCoreNullBytes) return std::nullopt;
    return out;
}

core::Status loadInstantLayout(InnodbReader& ctx, core::ReadOnlyFile& file,
                               std::uint32_t rootPage, std::uint32_t firstLeaf) {
    ctx.instantCoreFields = 0;
    ctx.instantCoreNullBytes = 0;
    std::vector<std::uint8_t> rootBuffer(ctx.pageSize());
    const TablespaceFormat format = ctx.formatOf(file);
    if (auto st = readTablespacePage(file, format, rootPage, PageBuffer(rootBuffer)); !st)
        return st.status();
    const auto root = readInstantRoot(rootBuffer);
    if (!root)
        return core::Status::corrupt("the instant ALTER root page" + onPage(rootPage) +
                                     " holds neither the infimum and supremum texts nor zeros");
    if (!root->instant) return core::Status::ok();

    std::vector<std::uint8_t> leafBuffer(ctx.pageSize());
    if (auto st = readTablespacePage(file, format, firstLeaf, PageBuffer(leafBuffer)); !st)
        return st.status();
    const PageView leaf(leafBuffer.data(), leafBuffer.size());
    const auto first = firstUserRecord(leaf);
    const std::optional<FirstRecord> header =
        first && (first->infoBits & kInfoMinRecord) ? first : std::nullopt;
    auto& fields = ctx.clusteredFields;
    std::size_t rollIndex = 0;
    while (rollIndex < fields.size() && !(fields[rollIndex].mainType == kMainSys &&
                                          fields[rollIndex].preciseType == kPreciseRollPtr))
        ++rollIndex;
    if (rollIndex == fields.size()) return core::Status::corrupt("layout without DB_ROLL_PTR");
    if (root->coreFields <= rollIndex)
        return core::Status::corrupt("the instant ALTER root page" + onPage(rootPage) + " counts " +
                                     std::to_string(root->coreFields) +
                                     " core fields, fewer than the key and system fields");
    if (!header) {
        // The page type may stay after an instant ADD that was rolled back; records then
        // hold every field.
        if (!root->alter && root->coreFields == fields.size()) return core::Status::ok();
        return core::Status::corrupt("the instant ALTER metadata record is missing from the first leaf" +
                                     onPage(firstLeaf));
    }
    if ((header->infoBits & ~kInfoDeleteMark) != kInfoMinRecord ||
        (!header->redundant && header->status != kStatusInstant))
        return core::Status::corrupt("the instant ALTER metadata record" + onPage(firstLeaf) +
                                     " has info bits " + std::to_string(header->infoBits) +
                                     " and status " + std::to_string(header->status));
    const bool alter = (header->infoBits & kInfoDeleteMark) != 0;
    if (alter) {
        if (auto st = applyInstantMetadata(ctx, file, leaf); !st) return st;
    }
    const std::size_t total = fields.size();
    if (root->coreFields > total)
        return core::Status::corrupt("the instant ALTER root page" + onPage(rootPage) + " counts " +
                                     std::to_string(root->coreFields) + " core fields; the table has " +
                                     std::to_string(total));
    const std::uint32_t coreNullBytes = nullBitmapSizeOfFirst(ctx, root->coreFields);
    if (root->alter && alter && root->coreNullBytes != coreNullBytes)
        return core::Status::corrupt("the instant ALTER root page" + onPage(rootPage) + " gives " +
                                     std::to_string(root->coreNullBytes) +
                                     " null-bitmap bytes to the core records; their fields have " +
                                     std::to_string(coreNullBytes));

    // The metadata record: every field (and the BLOB reference), the defaults from the
    // first field past the core ones.
    const std::uint64_t expected = total + (alter ? 1 : 0);
    const auto fieldOf = [&](std::size_t j) -> std::optional<std::size_t> {
        if (alter && j == rollIndex + 1) return std::nullopt;
        return alter && j > rollIndex ? j - 1 : j;
    };
    if (header->redundant) {
        const auto rec = redundantFields(leaf, header->origin);
        if (!rec) return rec.status();
        if (rec->fieldCount != expected)
            return core::Status::corrupt("the instant ALTER metadata record" + onPage(firstLeaf) + " stores " +
                                         std::to_string(rec->fieldCount) + " fields; the table's records have " +
                                         std::to_string(total) + (alter ? " and the BLOB reference" : ""));
        if (rec->truncated)
            return core::Status::corrupt("the instant ALTER metadata record" + onPage(firstLeaf) +
                                         " runs past the page end");
        for (std::size_t j = 0; j < expected; ++j) {
            const auto index = fieldOf(j);
            if (!index || *index < root->coreFields) continue;
            const FieldExtent& e = rec->fields[j];
            if (auto st = setDefault(fields[*index], leaf, e.isNull, e.start, e.length, e.external); !st)
                return st;
        }
    } else {
        if (auto st = compactDefaults(ctx, leaf, *header, root->coreFields, alter, rollIndex, firstLeaf); !st)
            return st;
    }
    ctx.instantCoreFields = root->coreFields;
    ctx.instantCoreNullBytes = root->alter && !alter ? root->coreNullBytes : coreNullBytes;
    return core::Status::ok();
}

}  // namespace dunmore::innodb
