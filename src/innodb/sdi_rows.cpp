// Rows of MySQL 8.0+ tables, laid out by their SDI.
//
// A clustered leaf record is a compact record; below its 5 header bytes (info bits in the
// high nibble of the first: 0x10 minimum record, 0x20 delete mark, 0x40 version flag,
// 0x80 instant flag) it may carry, before the null bitmap:
//   - with the instant flag (tables with columns added instantly by 8.0.12 - 8.0.28):
//     the number of fields the record stores, one byte below 0x80, else two (the low 7
//     bits of the first byte are the high bits);
//   - with the version flag (8.0.29+, after an instant ADD or DROP at any position): the
//     row version, one byte.
// The null bitmap then has one bit per nullable field the record stores, in record
// order, and the length entries follow as in every compact record. A record without
// either flag stores the fields of the table before its first instant ALTER (version 0,
// including columns dropped since). Fields a record lacks take the column's instant
// default from the SDI. A field count outside the fields before the first instant ADD
// and the table's, or a row version newer than the table's, is damage. Format notes: docs/formats/innodb.md.
#include "innodb/sdi_rows.h"

#include "innodb/column_layout.h"
#include "innodb/field_decoder.h"
#include "innodb/page.h"
#include "innodb/record.h"

#include <algorithm>

namespace dunmore::innodb {

namespace {

constexpr std::uint8_t kInfoVersionFlag = 0x40;
constexpr std::uint8_t kInfoInstantFlag = 0x80;

bool isNullable(const core::InnodbColumn& f) { return (f.preciseType & kPreciseNotNull) == 0; }

// The fields of a record without instant or version flag.
bool inVersionZero(const core::InnodbColumn& f) { return f.versionAdded == 0 && !f.instantAdded; }

bool inVersion(const core::InnodbColumn& f, std::uint32_t version) {
    return f.versionAdded <= version && (f.versionDropped == 0 || f.versionDropped > version);
}

void setDefault(core::ColumnDefinition& target, InnodbReader& ctx,
                core::AppSettings& settings, const core::InnodbColumn& f) {
    if (!f.hasInstantDefault || f.column.isNull) {
        target.value.assign("NULL");
        target.isNull = true;
        return;
    }
    const core::ByteSpan bytes(reinterpret_cast<const std::uint8_t*>(f.column.value.data()),
                               f.column.value.size());
    target.isHexLiteral = decodeInnodbField(ctx, settings, bytes, f, false, target.value);
    target.isNull = false;
}

}  // namespace

Mysql8RecordShape mysql8RecordShape(const InnodbReader& ctx, core::ByteSpan page,
                                    std::uint32_t origin) {
    Mysql8RecordShape shape;
    const auto& fields = ctx.sdiFields;
    shape.present.assign(fields.size(), false);
    const auto header = compactHeader(page, origin);
    std::int64_t cursor = std::int64_t{origin} - 6;
    const auto byteAt = [&](std::int64_t at) -> std::optional<std::uint32_t> {
        if (at < 0 || at >= static_cast<std::int64_t>(page.size())) return std::nullopt;
        return page[static_cast<std::size_t>(at)];
    };
    if (!header) {
        shape.ok = false;
        return shape;
    }
    if (header->infoBits & kInfoInstantFlag) {
        const auto first = byteAt(cursor--);
        if (!first) {
            shape.ok = false;
            return shape;
        }
        std::uint32_t count = *first;
        if (count & 0x80) {
            const auto second = byteAt(cursor--);
            if (!second) {
                shape.ok = false;
                return shape;
            }
            count = ((count & 0x7F) << 8) | *second;
        }
        // A record written after an instant ADD stores at least the fields from before
        // the first one and at most the table's: another count is damage.
        const auto core = static_cast<std::size_t>(std::count_if(fields.begin(), fields.end(), inVersionZero));
        if (count < core || count > fields.size()) {
            shape.ok = false;
            return shape;
        }
        for (std::size_t i = 0; i < count; ++i) shape.present[i] = true;
    } else if (header->infoBits & kInfoVersionFlag) {
        const auto version = byteAt(cursor--);
        // No record is of a version newer than the table's last instant ADD or DROP.
        std::uint32_t newest = 0;
        for (const auto& f : fields) newest = std::max<std::uint32_t>({newest, f.versionAdded, f.versionDropped});
        if (!version || *version > newest) {
            shape.ok = false;
            return shape;
        }
        for (std::size_t i = 0; i < fields.size(); ++i) shape.present[i] = inVersion(fields[i], *version);
    } else {
        for (std::size_t i = 0; i < fields.size(); ++i) shape.present[i] = inVersionZero(fields[i]);
    }
    std::uint32_t nullable = 0;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (shape.present[i] && isNullable(fields[i])) ++nullable;
    shape.nullBase = cursor;
    shape.nullBytes = (nullable + 7) / 8;
    return shape;
}

TableStart locateSdiTable(InnodbReader& ctx, const std::filesystem::path& dbFolder,
                          const std::string& tableName) {
    return locateSdiTablespace(ctx, dbFolder / (tableName + ".ibd"));
}

TableStart locateSdiTablespace(InnodbReader& ctx, const std::filesystem::path& path) {
    TableStart start;
    ctx.clusteredFields.clear();
    ctx.tablespaceSelected = false;
    ctx.tablespaceFile.close();
    ctx.tablespacePageCount = 0;
    if (!ctx.tablespaceFile.open(path)) {
        start.lookup = TableLookup::TablespaceFileMissing;
        return start;
    }
    ctx.setFormat(readTablespaceFormat(ctx.tablespaceFile));
    ctx.tablespacePageCount = pageCount(ctx.tablespaceFile.size(), ctx.format());
    start.inOwnFile = true;
    // Node pointers carry the key fields under the null bitmap of the records without
    // instant or version flag.
    for (const auto& f : ctx.sdiFields)
        if (inVersionZero(f)) ctx.clusteredFields.push_back(f);
    start.firstLeaf = findLeftmostLeaf(ctx, TablespaceSlot::TablespaceFile, ctx.sdiRootPage);
    ctx.clusteredFields = ctx.sdiFields;
    start.lookup = start.firstLeaf != 0 ? TableLookup::Found : TableLookup::LeafPageNotFound;
    return start;
}

bool decodeSdiLeafRecord(InnodbReader& ctx, core::AppSettings& settings,
                         core::ByteSpan page, std::uint32_t origin, std::uint32_t fieldAreaLength) {
    const Mysql8RecordShape shape = mysql8RecordShape(ctx, page, origin);
    RecordCursor at;
    at.headerLost = !shape.ok;
    at.nullBase = shape.nullBase;
    at.lengthCursor = shape.nullBase - shape.nullBytes;
    at.data = origin;
    const std::size_t columnCount = ctx.columns.size();
    for (std::size_t i = 0; i < ctx.sdiFields.size(); ++i) {
        const core::InnodbColumn& f = ctx.sdiFields[i];
        const bool skip = f.hidden || f.mainType == kMainSys;
        const std::uint32_t slot = f.column.index;
        core::ColumnDefinition* target = !skip && slot < columnCount ? &ctx.columns[slot] : nullptr;
        if (shape.ok && !shape.present[i]) {
            if (target) setDefault(*target, ctx, settings, f);
            continue;
        }
        decodeStoredField(ctx, settings, page, fieldAreaLength, f, target, at);
    }
    return at.intact && !at.headerLost && at.consumed <= fieldAreaLength;
}

}  // namespace dunmore::innodb
