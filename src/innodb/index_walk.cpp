// The clustered index of a table: descent to the leftmost leaf and the leaf-chain walk.
//
// Node-pointer records (non-leaf pages) hold the clustering key fields, then the 4-byte
// big-endian child page number. Leaf records hold the key, DB_TRX_ID (6), DB_ROLL_PTR (7)
// and the other columns. Both are compact records: 5 header bytes below the origin, below
// them the null bitmap (one bit per nullable field of the index, first byte nearest the
// header) and the length entries of the variable-length fields, read downward.
// Leaves of one index are chained by the FIL header's next-page field (offset 12).
// Format notes: docs/formats/innodb.md.
#include "innodb/index_walk.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "core/row_sink.h"
#include "innodb/column_layout.h"
#include "innodb/dictionary.h"
#include "innodb/field_decoder.h"
#include "innodb/instant_layout.h"
#include "innodb/leaf_recovery.h"
#include "innodb/page.h"
#include "innodb/page_check.h"
#include "innodb/record.h"
#include "innodb/sdi_rows.h"
#include "schema/collation_table.h"
#include "values/charset.h"
#include "values/sql_literal.h"
#include "values/value_decoder.h"

#include <algorithm>
#include <bitset>
#include <optional>
#include <unordered_set>
#include <vector>

namespace dunmore::innodb {

namespace {

constexpr std::uint32_t kMainTypeSys = kMainSys;
constexpr std::uint32_t kRowIdLength = 6;
constexpr std::uint32_t kChildPointerSize = 4;
// No real B-tree comes near this depth.
constexpr int kMaxTreeDepth = 64;

bool isSystemField(const core::InnodbColumn& f) { return f.hidden || f.mainType == kMainTypeSys; }
bool isTrxIdField(const core::InnodbColumn& f) {
    return f.mainType == kMainTypeSys && f.preciseType == kPreciseTrxId;
}
bool isNullableField(const core::InnodbColumn& f) { return (f.preciseType & kPreciseNotNull) == 0; }

}  // namespace

VisitedPages::VisitedPages(std::uint64_t pageCount) {
    if (pageCount <= (std::uint64_t{1} << 27)) m_bits.assign(pageCount, false);
}

bool VisitedPages::testAndSet(std::uint32_t page) {
    if (page < m_bits.size()) {
        if (m_bits[page]) return true;
        m_bits[page] = true;
        return false;
    }
    return !m_set.insert(page).second;
}

void addWalkCounts(LeafWalkCounts& total, const LeafWalkCounts& part) {
    total.pagesVisited += part.pagesVisited;
    total.recordsTaken += part.recordsTaken;
    total.deletedSkipped += part.deletedSkipped;
    total.otherFormatPages += part.otherFormatPages;
    total.unreachedRecords.insert(total.unreachedRecords.end(), part.unreachedRecords.begin(),
                                  part.unreachedRecords.end());
    total.pagesRead.insert(total.pagesRead.end(), part.pagesRead.begin(), part.pagesRead.end());
    for (std::size_t a = 0; a < total.checksums.size(); ++a) total.checksums[a] += part.checksums[a];
    total.broken = part.broken;
    total.brokenPage = part.brokenPage;
    total.brokenReason = part.brokenReason;
    total.endedBefore = part.endedBefore;
    total.reachedEnd = part.reachedEnd;
}

core::ReadOnlyFile& slotFile(InnodbReader& ctx, TablespaceSlot slot) {
    return slot == TablespaceSlot::TablespaceFile ? ctx.tablespaceFile : ctx.systemTablespace;
}

std::uint64_t slotPageCount(const InnodbReader& ctx, TablespaceSlot slot) {
    return slot == TablespaceSlot::TablespaceFile ? ctx.tablespacePageCount : ctx.systemPageCount;
}

TablespaceFormat slotFormat(const InnodbReader& ctx, TablespaceSlot slot) {
    return slot == TablespaceSlot::TablespaceFile ? ctx.format() : plainFormat(ctx.systemPageSize);
}

std::uint32_t prepareWalkLayout(InnodbReader& ctx) {
    std::uint32_t nullable = 0;
    for (auto& f : ctx.clusteredFields) {
        if (isNullableField(f)) {
            ++nullable;
            f.column.nullable = 1;
        }
    }
    return (nullable + 7) / 8;
}

std::uint32_t childPointerOffset(const InnodbReader& ctx, core::ByteSpan page,
                                 std::uint32_t origin, std::uint32_t nullBitmapSize) {
    const auto& fields = ctx.clusteredFields;
    // The node pointer holds the fields that precede DB_TRX_ID in the leaf: the clustering
    // key (a column prefix among them), or the hidden row id.
    const auto trxId = std::find_if(fields.begin(), fields.end(), isTrxIdField);
    if (trxId == fields.begin() || trxId == fields.end()) return kRowIdLength;
    std::int64_t cursor = std::int64_t{origin} - 6 - nullBitmapSize;
    std::uint32_t offset = 0;
    for (auto f = fields.begin(); f != trxId; ++f) {
        if (f->fixedLength != 0) {
            offset += f->fixedLength;
            continue;
        }
        const auto length = compactFieldLength(*f, page, cursor);
        if (!length) return kMaxPageSize;  // no child can be found
        offset += length->length;
    }
    return offset;
}

namespace {

// How many fields a leaf record stores and where its null bitmap starts. In an index
// that went through instant ALTER TABLE (ctx.instantCoreFields set) a record of instant
// status keeps, right below its 5 header bytes, the number of fields beyond the core ones
// minus one: one byte below 0x80, else two (the low 7 bits in the first, the next bits in
// the second, lower in memory); an ordinary record has the core fields only, with the
// core null bitmap. Any other record holds every field. Not ok when the header is cut, or
// the status or field count does not fit the index (a record of instant status in an
// index without instant ALTER).
struct RecordShape {
    std::uint32_t fieldCount = 0;
    std::int64_t nullBase = 0;  // the first (highest) null-bitmap byte
    std::uint32_t nullBytes = 0;
    bool ok = true;
};
RecordShape recordShape(const InnodbReader& ctx, core::ByteSpan page, std::uint32_t origin,
                        std::uint32_t fullNullBytes) {
    RecordShape shape;
    const auto total = static_cast<std::uint32_t>(ctx.clusteredFields.size());
    shape.nullBase = std::int64_t{origin} - 6;
    shape.fieldCount = total;
    shape.nullBytes = fullNullBytes;
    const auto header = compactHeader(page, origin);
    if (!header) {
        shape.ok = false;
        return shape;
    }
    const std::uint32_t core = ctx.instantCoreFields;
    if (core == 0 || core > total) {
        shape.ok = header->status != kStatusInstant;
        return shape;
    }
    if (header->status == kStatusOrdinary) {
        shape.fieldCount = core;
        shape.nullBytes = ctx.instantCoreNullBytes;
        return shape;
    }
    if (header->status != kStatusInstant || shape.nullBase < 0) {
        shape.ok = false;
        return shape;
    }
    std::uint32_t added = page[static_cast<std::size_t>(shape.nullBase)];
    --shape.nullBase;
    if (added & 0x80) {
        if (shape.nullBase < 0) {
            shape.ok = false;
            return shape;
        }
        added = (added & 0x7F) | (std::uint32_t{page[static_cast<std::size_t>(shape.nullBase)]} << 7);
        --shape.nullBase;
    }
    if (std::uint64_t{core} + 1 + added > total) {
        shape.ok = false;
        return shape;
    }
    shape.fieldCount = core + 1 + added;
    shape.nullBytes = nullBitmapSizeOfFirst(ctx, shape.fieldCount);
    return shape;
}

// The null-bitmap bytes of the node pointers of an index whose root page image is root:
// an instant-ALTER root gives those of the core records (which the root says after a
// DROP or reorder, and which are otherwise those of the first core fields).
std::uint32_t nodePointerNullBytes(const InnodbReader& ctx, core::ByteSpan root,
                                   std::uint32_t fullNullBytes) {
    if (ctx.instantCoreFields != 0) return ctx.instantCoreNullBytes;
    const auto instant = readInstantRoot(root);
    if (!instant || !instant->instant) return fullNullBytes;
    if (instant->alter) return instant->coreNullBytes;
    if (instant->coreFields != 0 && instant->coreFields < ctx.clusteredFields.size())
        return nullBitmapSizeOfFirst(ctx, instant->coreFields);
    return fullNullBytes;
}

}  // namespace

std::uint32_t findLeftmostLeaf(InnodbReader& ctx, TablespaceSlot slot,
                               std::uint32_t rootPage) {
    core::ReadOnlyFile& file = slotFile(ctx, slot);
    const std::uint64_t pages = slotPageCount(ctx, slot);
    const TablespaceFormat format = slotFormat(ctx, slot);
    std::uint32_t nullBitmap = prepareWalkLayout(ctx);
    std::uint32_t current = rootPage;
    std::uint32_t parentLevel = 0xFFFFFFFF;
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        if (current >= pages) return 0;
        // A damaged page's pointers lead anywhere: the leaves are then found by a scan.
        const auto check = readTablespacePage(file, format, current, ctx.pageSpan());
        if (!check || !check->valid()) return 0;
        const PageView view(ctx.pageBuffer.data(), ctx.pageSize());
        ctx.lastFilHeader = decodeFilHeader(view);
        if (!isIndexPageType(ctx.lastFilHeader.pageType)) return 0;
        const std::uint32_t level = decodeIndexHeader(view).level;
        if (level >= parentLevel) return 0;  // levels must go down towards the leaves
        if (level == 0) return current;
        if (depth == 0) nullBitmap = nodePointerNullBytes(ctx, view, nullBitmap);
        std::uint64_t at = 0;
        if (isCompactIndexPage(view)) {
            const std::uint32_t origin = firstCompactRecord(view);
            if (origin >= view.size() || isCompactSupremum(view, origin)) return 0;
            at = std::uint64_t{origin} + childPointerOffset(ctx, view, origin, nullBitmap);
        } else if (isRedundantIndexPage(view)) {
            // A redundant node pointer's last field is the child page number.
            const auto chain = redundantChain(view);
            if (chain.empty()) return 0;
            const auto rec = redundantFields(view, chain.front());
            if (!rec || rec->fields.empty() || rec->truncated ||
                rec->fields.back().length != kChildPointerSize)
                return 0;
            at = rec->fields.back().start;
        } else {
            return 0;
        }
        if (at + kChildPointerSize > view.size()) return 0;
        const auto child = static_cast<std::uint32_t>(core::readBeAt(view, at, kChildPointerSize));
        if (child == 0 || child >= pages) return 0;
        parentLevel = level;
        current = child;
    }
    return 0;
}

std::vector<std::uint32_t> leafPieceStarts(InnodbReader& ctx, TablespaceSlot slot,
                                           std::uint32_t rootPage, std::uint32_t firstLeaf,
                                           std::uint32_t leavesPerPiece) {
    if (leavesPerPiece == 0 || rootPage == 0 || firstLeaf == 0) return {};
    core::ReadOnlyFile& file = slotFile(ctx, slot);
    const std::uint64_t pages = slotPageCount(ctx, slot);
    const TablespaceFormat format = slotFormat(ctx, slot);
    std::vector<std::uint8_t> buffer(ctx.pageSize());
    const PageView view(buffer.data(), buffer.size());
    // The index page p, verified and in the compact format; its header, or nothing.
    auto readNodePage = [&](std::uint32_t p) -> std::optional<IndexPageHeader> {
        if (p == 0 || p >= pages) return std::nullopt;
        const auto check = readTablespacePage(file, format, p, PageBuffer(buffer));
        if (!check || !check->valid() || !isIndexPageType(decodeFilHeader(view).pageType) ||
            !isCompactIndexPage(view))
            return std::nullopt;
        return decodeIndexHeader(view);
    };
    // The child page number of the node pointer at origin, or 0.
    std::uint32_t nullBitmap = prepareWalkLayout(ctx);
    auto childOf = [&](std::uint32_t origin) -> std::uint32_t {
        const std::uint64_t at = std::uint64_t{origin} + childPointerOffset(ctx, view, origin, nullBitmap);
        if (at + kChildPointerSize > view.size()) return 0;
        const auto child = static_cast<std::uint32_t>(core::readBeAt(view, at, kChildPointerSize));
        return child < pages ? child : 0;
    };

    const auto root = readNodePage(rootPage);
    if (!root || root->level == 0) return {};
    nullBitmap = nodePointerNullBytes(ctx, view, nullBitmap);
    const std::uint64_t indexId = root->indexId;
    std::uint32_t current = rootPage;
    std::uint32_t level = root->level;
    for (int depth = 0; level > 1; ++depth) {
        const std::uint32_t origin = firstCompactRecord(view);
        if (depth >= kMaxTreeDepth || origin >= view.size() || isCompactSupremum(view, origin)) return {};
        current = childOf(origin);
        const auto child = readNodePage(current);
        if (!child || child->indexId != indexId || child->level + 1 != level) return {};
        level = child->level;
    }

    // The level above the leaves, from its leftmost page along its own chain: every node
    // pointer names the first leaf of its subtree, in key order.
    std::vector<std::uint32_t> children;
    VisitedPages visited(pages);
    for (std::uint32_t p = current; p != kFilNull;) {
        if (visited.testAndSet(p)) return {};
        const auto node = readNodePage(p);
        if (!node || node->indexId != indexId || node->level != 1) return {};
        for (const auto& entry : compactChain(view, 0, slot == TablespaceSlot::TablespaceFile)) {
            const auto header = compactHeader(view, entry.origin);
            if (!header || header->deleted()) return {};
            const std::uint32_t child = childOf(entry.origin);
            if (child == 0 || children.size() >= pages) return {};
            children.push_back(child);
        }
        p = decodeFilHeader(view).nextPage;
    }
    if (children.empty() || children.front() != firstLeaf) return {};
    std::vector<std::uint32_t> starts;
    for (std::size_t i = 0; i < children.size(); i += leavesPerPiece) starts.push_back(children[i]);
    return starts;
}

namespace {

// The next stored field f of a compact record at the cursor, the cursor moved past it:
// Lost when it lies past the field area or its header entries are lost (intact is
// cleared), Null, or its bytes (cut at the page end, which clears intact). external: the
// bytes are an external reference, whole on the page.
struct StoredField {
    enum class Kind { Lost, Null, Bytes };
    Kind kind = Kind::Lost;
    core::ByteSpan bytes;
    bool external = false;
};

// Inlined into the loops over a record's fields, where it runs once per value; field is
// filled member by member (a StoredField returned whole went through memory there).
[[gnu::always_inline]] inline void locateStoredField(core::ByteSpan page, std::uint32_t fieldAreaLength,
                                                     const core::InnodbColumn& f, RecordCursor& at,
                                                     StoredField& field) {
    field.kind = StoredField::Kind::Lost;
    field.external = false;
    if (at.headerLost || at.consumed >= fieldAreaLength) {
        at.intact = false;
        return;
    }
    if (isNullableField(f)) {
        const std::int64_t bit = at.nullBase - at.nullableSeen / 8;
        const std::uint8_t mask = static_cast<std::uint8_t>(1u << (at.nullableSeen % 8));
        ++at.nullableSeen;
        if (bit < 0 || bit >= static_cast<std::int64_t>(page.size())) {
            at.headerLost = true;
            at.intact = false;
            return;
        }
        if (page[static_cast<std::size_t>(bit)] & mask) {
            field.kind = StoredField::Kind::Null;
            return;
        }
    }
    std::uint32_t length = f.fixedLength;
    bool external = false;
    if (length == 0) {
        const auto entry = compactFieldLength(f, page, at.lengthCursor);
        if (!entry) {
            at.headerLost = true;
            at.intact = false;
            return;
        }
        length = entry->length;
        external = entry->external;
    }
    if (at.data + length > page.size()) at.intact = false;
    const std::uint64_t start = std::min<std::uint64_t>(at.data, page.size());
    const std::uint64_t end = std::min<std::uint64_t>(at.data + length, page.size());
    field.kind = StoredField::Kind::Bytes;
    field.bytes = page.subspan(start, end - start);
    // An externally stored field that the page end cut has lost its reference.
    field.external = external && end - start == length;
    at.data += length;
    at.consumed += length;
}

}  // namespace

void decodeStoredField(InnodbReader& ctx, core::AppSettings& settings,
                       core::ByteSpan page, std::uint32_t fieldAreaLength,
                       const core::InnodbColumn& f, core::ColumnDefinition* target,
                       RecordCursor& at) {
    StoredField field;
    locateStoredField(page, fieldAreaLength, f, at, field);
    if (!target) return;
    switch (field.kind) {
        case StoredField::Kind::Lost:
            target->value.clear();
            target->isNull = false;
            return;
        case StoredField::Kind::Null:
            target->value.assign("NULL");
            target->isNull = true;
            return;
        case StoredField::Kind::Bytes: {
            bool whole = true;
            target->isHexLiteral =
                decodeInnodbField(ctx, settings, field.bytes, f, field.external, target->value, &whole);
            target->isNull = false;
            if (!whole) at.intact = false;
            return;
        }
    }
}

namespace {

// A field that a record does not store (written before the column was added instantly):
// the column's default from the metadata record. False when there is none to take.
bool decodeInstantDefault(InnodbReader& ctx, core::AppSettings& settings, const core::InnodbColumn& f,
                          core::ColumnDefinition& target) {
    if (!f.hasInstantDefault) {
        target.value.clear();
        target.isNull = false;
        return false;
    }
    if (f.column.isNull) {
        target.value.assign("NULL");
        target.isNull = true;
        return true;
    }
    const core::ByteSpan bytes(reinterpret_cast<const std::uint8_t*>(f.column.value.data()),
                               f.column.value.size());
    bool whole = true;
    target.isHexLiteral =
        decodeInnodbField(ctx, settings, bytes, f, f.instantDefaultExternal, target.value, &whole);
    target.isNull = false;
    return whole;
}

// A ROW_FORMAT=REDUNDANT record: its end-offset array gives every field's place, NULL and
// external flags; a record written before an instant ADD COLUMN stores fewer fields.
bool decodeRedundantLeafRecord(InnodbReader& ctx, core::AppSettings& settings, core::ByteSpan page,
                               std::uint32_t origin) {
    const auto rec = redundantFields(page, origin);
    bool intact = rec && !rec->truncated && rec->fieldCount <= ctx.clusteredFields.size();
    const std::size_t columnCount = ctx.columns.size();
    for (std::size_t i = 0; i < ctx.clusteredFields.size(); ++i) {
        const auto& f = ctx.clusteredFields[i];
        const std::uint32_t slot = f.column.index;
        core::ColumnDefinition* target = !isSystemField(f) && slot < columnCount ? &ctx.columns[slot] : nullptr;
        if (!target) continue;
        if (!rec) {
            target->value.clear();
            target->isNull = false;
            continue;
        }
        if (i >= rec->fields.size()) {
            if (!decodeInstantDefault(ctx, settings, f, *target)) intact = false;
            continue;
        }
        const FieldExtent& e = rec->fields[i];
        if (e.isNull) {
            target->value.assign("NULL");
            target->isNull = true;
            continue;
        }
        // A fixed-length field of another length (a column whose type an instant ALTER
        // widened) would decode to another value.
        if (f.fixedLength != 0 && !e.external && e.length != f.fixedLength) intact = false;
        bool whole = true;
        target->isHexLiteral = decodeInnodbField(ctx, settings, page.subspan(e.start, e.length), f,
                                                 e.external, target->value, &whole);
        target->isNull = false;
        if (!whole) intact = false;
    }
    return intact;
}

// The page header's record count carries the compact flag in its top bit.
bool isCompactRecordPage(core::ByteSpan page) {
    return (core::readBeAt(page, kPageHeaderOffset + 4, 2) & 0x8000) != 0;
}

}  // namespace

bool decodeLeafRecord(InnodbReader& ctx, core::AppSettings& settings,
                      core::ByteSpan page, std::uint32_t origin, std::uint32_t fieldAreaLength,
                      std::uint32_t nullBitmapSize) {
    ctx.valueLoss.clear();
    if (ctx.sdiRootPage != 0) return decodeSdiLeafRecord(ctx, settings, page, origin, fieldAreaLength);
    if (!isCompactRecordPage(page)) return decodeRedundantLeafRecord(ctx, settings, page, origin);
    RecordCursor at;
    at.nullBase = std::int64_t{origin} - 6;
    at.data = origin;
    const RecordShape shape = recordShape(ctx, page, origin, nullBitmapSize);
    if (!shape.ok) at.headerLost = true;
    at.nullBase = shape.nullBase;
    const std::uint32_t fieldCount = shape.fieldCount;
    at.lengthCursor = at.nullBase - shape.nullBytes;
    const std::size_t columnCount = ctx.columns.size();

    for (std::uint32_t i = 0; i < ctx.clusteredFields.size(); ++i) {
        const auto& f = ctx.clusteredFields[i];
        const bool system = isSystemField(f);
        const std::uint32_t slot = f.column.index;
        core::ColumnDefinition* target =
            !system && slot < columnCount ? &ctx.columns[slot] : nullptr;
        if (i >= fieldCount) {
            // Not stored in this record: the column's default from the metadata record.
            if (target && !decodeInstantDefault(ctx, settings, f, *target)) at.intact = false;
            continue;
        }
        decodeStoredField(ctx, settings, page, fieldAreaLength, f, target, at);
    }
    return at.intact && !at.headerLost && at.consumed <= fieldAreaLength;
}

RecordLiteralPlan planRecordLiterals(const InnodbReader& ctx) {
    RecordLiteralPlan plan;
    if (ctx.sdiRootPage != 0) return plan;
    std::uint32_t nextSlot = 0;
    for (const auto& f : ctx.clusteredFields) {
        RecordLiteralPlan::Field step;
        if (isSystemField(f)) {
            step.step = RecordLiteralPlan::Step::Skip;
            plan.fields.push_back(step);
            continue;
        }
        // The literals go out in field order, so the fields must name the columns in
        // their order, each once.
        if (f.column.index != nextSlot || nextSlot >= ctx.columns.size()) return {};
        const core::ColumnDefinition& column = ctx.columns[nextSlot++];
        const core::ColumnDefinition& stored = f.column;
        const core::FieldType type = core::fieldType(stored.typeCode);
        const bool sameType = column.typeCode == stored.typeCode && column.charset == stored.charset;
        const bool integer = type == core::FieldType::Tiny || type == core::FieldType::Short ||
                             type == core::FieldType::Int24 || type == core::FieldType::Long ||
                             type == core::FieldType::LongLong;
        const bool character = type == core::FieldType::Varchar || type == core::FieldType::VarString ||
                               type == core::FieldType::String;
        if (sameType && integer && f.mainType == kMainInt && f.fixedLength != 0 &&
            f.fixedLength == values::storedWidth(stored)) {
            step.step = RecordLiteralPlan::Step::Integer;
            step.unsignedInteger = isUnsignedInteger(f);
        } else if (sameType && character && f.mainType != kMainInt && stored.charset > 0 &&
                   stored.charset != core::kBinaryCollation &&
                   values::isUtf8Collation(static_cast<std::uint32_t>(stored.charset))) {
            step.step = RecordLiteralPlan::Step::Utf8Text;
            step.trimBlanks = type != core::FieldType::Varchar;
        } else if (const auto form = values::storedValueForm(stored); sameType && f.mainType != kMainInt && form) {
            step.step = RecordLiteralPlan::Step::StoredValue;
            step.form = *form;
        }
        plan.fields.push_back(step);
    }
    plan.usable = nextSlot == ctx.columns.size();
    return plan;
}

bool appendLeafRecordLiterals(InnodbReader& ctx, core::AppSettings& settings,
                              const RecordLiteralPlan& plan, core::ByteSpan page, std::uint32_t origin,
                              std::uint32_t fieldAreaLength, std::uint32_t nullBitmapSize,
                              std::string_view savingFolder, values::RowText& out) {
    const RecordShape shape = isCompactRecordPage(page) ? recordShape(ctx, page, origin, nullBitmapSize)
                                                        : RecordShape{};
    if (!plan.usable || !isCompactRecordPage(page) || shape.fieldCount != plan.fields.size() ||
        plan.fields.size() != ctx.clusteredFields.size()) {
        // Records this plan does not cover (another format, fields taken from the
        // defaults of an instant ALTER) go through the values.
        if (!decodeLeafRecord(ctx, settings, page, origin, fieldAreaLength, nullBitmapSize)) return false;
        for (const auto& column : ctx.columns) values::appendSqlLiteral(column, savingFolder, out);
        return true;
    }
    ctx.valueLoss.clear();
    RecordCursor at;
    at.data = origin;
    if (!shape.ok) at.headerLost = true;
    at.nullBase = shape.nullBase;
    at.lengthCursor = at.nullBase - shape.nullBytes;
    const core::ColumnDefinition* column = ctx.columns.data();
    std::string& text = ctx.literalScratch;
    // Taken out of the vectors once: the bytes written through out could alias them for
    // the compiler, which would load them again for every field.
    const RecordLiteralPlan::Field* const steps = plan.fields.data();
    const core::InnodbColumn* const fields = ctx.clusteredFields.data();
    const std::size_t fieldCount = plan.fields.size();
    for (std::size_t i = 0; i < fieldCount; ++i) {
        const auto& f = fields[i];
        const RecordLiteralPlan::Field& step = steps[i];
        StoredField field;
        locateStoredField(page, fieldAreaLength, f, at, field);
        if (step.step == RecordLiteralPlan::Step::Skip) continue;
        const core::ColumnDefinition& c = *column++;
        if (field.kind == StoredField::Kind::Lost) continue;
        if (field.kind == StoredField::Kind::Null) {
            values::appendSqlLiteral(c, "NULL", true, false, savingFolder, out);
            continue;
        }
        if (!field.external && step.step == RecordLiteralPlan::Step::Integer &&
            field.bytes.size() == f.fixedLength) {
            // The stored big-endian number, its sign bit put back for a signed column.
            std::uint64_t v = 0;
            if (field.bytes.size() == 4)
                v = core::ByteReader(field.bytes).u32be();
            else
                for (const std::uint8_t b : field.bytes) v = (v << 8) | b;
            if (!step.unsignedInteger) v ^= std::uint64_t{0x80} << (8 * (field.bytes.size() - 1));
            values::appendIntegerLiteral(v, field.bytes.size(), step.unsignedInteger, out);
            continue;
        }
        if (!field.external && step.step == RecordLiteralPlan::Step::Utf8Text &&
            values::appendUtf8TextLiteral(field.bytes, step.trimBlanks, out))
            continue;
        if (!field.external && step.step == RecordLiteralPlan::Step::StoredValue &&
            values::appendStoredValueLiteral(step.form, field.bytes, out))
            continue;
        bool whole = true;
        const bool hex = decodeInnodbField(ctx, settings, field.bytes, f, field.external, text, &whole);
        if (!whole) at.intact = false;
        values::appendSqlLiteral(c, text, false, hex, savingFolder, out);
    }
    return at.intact && !at.headerLost && at.consumed <= fieldAreaLength;
}

std::uint32_t nodePointerNullBitmapSize(InnodbReader& ctx, core::ByteSpan root) {
    return nodePointerNullBytes(ctx, root, prepareWalkLayout(ctx));
}

std::optional<ClusterKey> readClusterKey(const InnodbReader& ctx, core::ByteSpan page,
                                         std::uint32_t origin, std::uint32_t nullBitmapSize,
                                         bool nodePointer) {
    const auto& fields = ctx.clusteredFields;
    ClusterKey key;
    std::int64_t cursor = std::int64_t{origin} - 6 - nullBitmapSize;
    if (!nodePointer) {
        const RecordShape shape = recordShape(ctx, page, origin, nullBitmapSize);
        if (!shape.ok) return std::nullopt;
        cursor = shape.nullBase - shape.nullBytes;
    }
    std::uint64_t data = origin;
    const auto trxId = std::find_if(fields.begin(), fields.end(), isTrxIdField);
    auto take = [&](std::uint32_t length) {
        if (data + length > page.size()) return false;
        key.fields.emplace_back(reinterpret_cast<const char*>(page.data() + data), length);
        data += length;
        return true;
    };
    if (trxId == fields.begin() || trxId == fields.end()) {
        if (!take(kRowIdLength)) return std::nullopt;
    } else {
        for (auto f = fields.begin(); f != trxId; ++f) {
            std::uint32_t length = f->fixedLength;
            if (length == 0) {
                const auto entry = compactFieldLength(*f, page, cursor);
                if (!entry || entry->external) return std::nullopt;
                length = entry->length;
            }
            if (!take(length)) return std::nullopt;
        }
    }
    if (nodePointer) {
        if (data + kChildPointerSize > page.size()) return std::nullopt;
        key.childPage = static_cast<std::uint32_t>(core::readBeAt(page, data, kChildPointerSize));
    }
    return key;
}

core::Status walkLeafChain(InnodbReader& ctx, const LeafWalkOptions& options,
                           const std::function<bool(core::ByteSpan, const LeafRecord&)>& onRecord,
                           LeafWalkCounts& counts) {
    core::ReadOnlyFile& file = slotFile(ctx, options.slot);
    const std::uint64_t pages = slotPageCount(ctx, options.slot);
    const TablespaceFormat format = slotFormat(ctx, options.slot);
    const bool ownFile = options.slot == TablespaceSlot::TablespaceFile;
    const std::uint32_t pageSize = ctx.pageSize();
    std::vector<std::uint8_t> buffer(pageSize);
    const PageBuffer pageBuffer(buffer);
    const PageView view(buffer.data(), buffer.size());
    VisitedPages visitedPages(pages);
    for (const std::uint32_t read : counts.pagesRead) (void)visitedPages.testAndSet(read);
    std::bitset<kMaxPageSize> visitedRecords;
    bool haveIndexId = options.indexId != 0;
    std::uint64_t indexId = options.indexId;
    bool firstPage = true;
    auto broken = [&](std::uint32_t page, std::string reason) {
        counts.broken = true;
        counts.brokenPage = page;
        counts.brokenReason = std::move(reason);
    };

    for (std::uint32_t p = options.firstPage; p != kFilNull;) {
        if (p == options.endPage) {
            counts.endedBefore = p;
            counts.reachedEnd = true;
            break;
        }
        if (options.beforePage && !options.beforePage(counts.pagesVisited)) {
            counts.endedBefore = p;
            break;
        }
        ++counts.pagesVisited;
        if (p >= pages) {
            broken(p, "the leaf chain names page " + std::to_string(p) + ", beyond the end of the file");
            break;
        }
        if (counts.pagesVisited > pages) {
            broken(p, "the leaf chain is longer than the file");
            break;
        }
        if (!ownFile && p == 0) {
            broken(p, "the leaf chain names page 0");
            break;
        }
        if (visitedPages.testAndSet(p)) {
            broken(p, "the leaf chain comes back to page " + std::to_string(p));
            break;
        }
        const auto read = readTablespacePage(file, format, p, pageBuffer);
        if (!read) return read.status();
        if (options.verifyPages) {
            const PageCheck& check = *read;
            if (!check.valid()) {
                broken(p, "page " + std::to_string(p) + " damaged (" + check.problem + ")");
                break;
            }
            ++counts.checksums[static_cast<std::size_t>(check.algorithm)];
        }
        const FilHeader fil = decodeFilHeader(view);
        if (options.keepLastFilHeader) ctx.lastFilHeader = fil;

        bool emptyLeaf = false;
        if (isIndexPageType(fil.pageType)) {
            const IndexPageHeader index = decodeIndexHeader(view);
            // A chain that leaves the leaf level of its index is damaged: rows of another
            // index would be decoded with this table's layout.
            if (index.level != 0 || (haveIndexId && index.indexId != indexId)) {
                broken(p, "page " + std::to_string(p) + " is not a leaf page of the table's index");
                break;
            }
            haveIndexId = true;
            indexId = index.indexId;
            if (isRedundantIndexPage(view)) {
                const std::uint32_t first = firstRedundantRecord(view);
                const bool fromFirst = !(firstPage && options.resumeOffset != 0);
                std::uint32_t u = fromFirst ? first : options.resumeOffset;
                if (fromFirst && (u <= kRedundantSupremum || isRedundantSupremum(view, u))) {
                    emptyLeaf = true;
                } else {
                    counts.pagesRead.push_back(p);
                    visitedRecords.reset();
                    std::uint32_t taken = 0;
                    while (u > kRedundantSupremum && u < pageSize && taken < maxRecordsPerPage(pageSize) &&
                           !isRedundantSupremum(view, u)) {
                        if (visitedRecords.test(u)) break;
                        visitedRecords.set(u);
                        const auto rec = redundantFields(view, u);
                        if (!rec) break;
                        ++taken;
                        if (rec->infoBits & kInfoMinRecord) {
                            // The metadata record of an instant ALTER TABLE: not a row.
                        } else if (rec->deleted()) {
                            ++counts.deletedSkipped;
                        } else {
                            ++counts.recordsTaken;
                            const LeafRecord record{p, u, pageSize - u, rec->next};
                            if (!onRecord(view, record)) return core::Status::ok();
                        }
                        u = rec->next;
                    }
                    if (fromFirst && taken < index.recordCount)
                        counts.unreachedRecords.emplace_back(p, index.recordCount - taken);
                }
            } else if (!isCompactIndexPage(view)) {
                ++counts.otherFormatPages;
            } else {
                const std::uint32_t first = firstCompactRecord(view);
                const bool fromFirst = !(firstPage && options.resumeOffset != 0);
                std::uint32_t u = fromFirst ? first : options.resumeOffset;
                if (u < compactStartLimit(pageSize) && u == first && isCompactSupremum(view, u)) {
                    emptyLeaf = true;
                } else if (u < compactStartLimit(pageSize)) {
                    counts.pagesRead.push_back(p);
                    visitedRecords.reset();
                    bool backwardSeen = false;
                    std::uint32_t taken = 0;
                    while (u > kCompactSupremum && u < pageSize &&
                           taken < maxRecordsPerPage(pageSize)) {
                        if (visitedRecords.test(u)) break;
                        visitedRecords.set(u);
                        const auto header = compactHeader(view, u);
                        if (!header) break;
                        const Successor next =
                            nextRecordOffset(u, header->successor, ownFile && backwardSeen, pageSize);
                        if (ownFile && next.backward) backwardSeen = true;
                        ++taken;
                        if (header->infoBits & kInfoMinRecord) {
                            // The metadata record of an instant ALTER TABLE: not a row.
                        } else if (header->deleted()) {
                            ++counts.deletedSkipped;
                        } else {
                            ++counts.recordsTaken;
                            const LeafRecord record{p, u, next.fieldAreaLength, next.offset};
                            if (!onRecord(view, record)) return core::Status::ok();
                        }
                        if (next.endsChain()) break;
                        u = next.offset;
                    }
                    // PAGE_N_RECS counts every user record: those the chain did not reach
                    // are lost to a damaged link.
                    if (fromFirst && taken < index.recordCount)
                        counts.unreachedRecords.emplace_back(p, index.recordCount - taken);
                }
            }
        } else if (options.verifyPages) {
            broken(p, "page " + std::to_string(p) + " is not an index page");
            break;
        }
        firstPage = false;
        if (emptyLeaf) break;
        if (options.afterPage) options.afterPage();
        if (ownFile && fil.prevPage == fil.nextPage) {
            if (fil.nextPage != kFilNull)
                broken(p, "page " + std::to_string(p) + " names the same page as previous and next");
            break;
        }
        p = fil.nextPage;
    }
    return core::Status::ok();
}

bool loadPreviewRows(InnodbReader& ctx, core::AppSettings& settings,
                     TablespaceSlot slot, std::uint32_t startPage, std::uint64_t resumeOffset,
                     std::size_t limit) {
    ctx.moreRows = false;
    const std::uint32_t nullBitmap = prepareWalkLayout(ctx);
    LeafWalkOptions options;
    options.slot = slot;
    options.firstPage = startPage;
    const std::uint32_t pageSize = ctx.pageSize();
    options.resumeOffset = settings.resumeAtOffset && resumeOffset < pageSize
                               ? static_cast<std::uint32_t>(resumeOffset)
                               : 0;
    // A saved position past the page (the last record of a page ended the screen) takes
    // nothing from that page.
    if (settings.resumeAtOffset && resumeOffset >= pageSize) options.resumeOffset = pageSize;
    options.keepLastFilHeader = true;
    options.afterPage = [&] { settings.resumeAtOffset = false; };
    LeafWalkCounts counts;
    core::PreviewSink screen(ctx.previewRows, limit);
    (void)walkLeafChain(ctx, options, [&](core::ByteSpan page, const LeafRecord& record) {
        decodeLeafRecord(ctx, settings, page, record.origin, record.fieldAreaLength, nullBitmap);
        if (screen.acceptRow(ctx.columns)) return true;
        ctx.moreRows = true;
        if (!ctx.keepPositions) ctx.pageStack.push_back({record.page, record.successor});
        return false;
    }, counts);
    return true;
}

TableStart locateInnodbTable(InnodbReader& ctx, const std::filesystem::path& dbFolder,
                             const std::string& tableName) {
    if (ctx.sdiRootPage != 0) return locateSdiTable(ctx, dbFolder, tableName);
    TableStart start;
    ctx.clusteredFields.clear();
    ctx.clusteredRoot = 0;
    ctx.clusteredIndexId = 0;
    ctx.tablespaceSelected = false;
    ctx.tablespaceFile.close();
    ctx.tablespacePageCount = 0;
    const TableLocation where = locateTable(ctx.dictionary(), dbFolder.string(), tableName);
    if (!where.found) {
        if (ctx.systemTablespace.isOpen()) start.lookup = TableLookup::TableIdNotFound;
        return start;
    }
    if (where.inOwnFile) {
        if (!ctx.tablespaceFile.open(where.ibdPath)) {
            // Its root page number belongs to that file: ibdata1 must not be read instead.
            start.lookup = TableLookup::TablespaceFileMissing;
            return start;
        }
        ctx.setFormat(readTablespaceFormat(ctx.tablespaceFile));
        ctx.tablespacePageCount = pageCount(ctx.tablespaceFile.size(), ctx.format());
        if (std::string why = ctx.format().unreadableReason(); !why.empty()) {
            start.lookup = TableLookup::LayoutUnreadable;
            start.inOwnFile = true;
            start.problem = std::move(why);
            return start;
        }
    } else if (!ctx.systemTablespace.isOpen()) {
        return start;
    } else {
        ctx.setPageSize(ctx.systemPageSize);
    }
    start.inOwnFile = where.inOwnFile;
    std::string disagreement;
    if (where.tableId != 0)
        disagreement = buildColumnsFromDictionary(ctx, where.tableId);
    else
        buildColumnsFromDefinition(ctx, schema::applicationCollations());
    if (!disagreement.empty()) {
        start.lookup = TableLookup::LayoutUnreadable;
        start.problem = "its definition does not match the dictionary: " + disagreement;
        ctx.clusteredFields.clear();
        return start;
    }
    if (where.rootPage == 0) {
        start.lookup = TableLookup::ClusterPageNotFound;
        return start;
    }
    ctx.clusteredRoot = where.rootPage;
    if (where.tableId != 0) ctx.clusteredIndexId = clusteredIndexId(ctx, where.tableId);
    const TablespaceSlot slot = where.inOwnFile ? TablespaceSlot::TablespaceFile
                                                : TablespaceSlot::SystemTablespace;
    start.firstLeaf = findLeftmostLeaf(ctx, slot, where.rootPage);
    start.lookup = start.firstLeaf != 0 ? TableLookup::Found : TableLookup::LeafPageNotFound;
    if (start.firstLeaf != 0) {
        // After instant ALTER TABLE (MariaDB 10.3+) older records lack the columns added
        // since and keep the field order of their time; records that cannot be read so
        // are not read at all.
        const core::Status instant =
            loadInstantLayout(ctx, slotFile(ctx, slot), where.rootPage, start.firstLeaf);
        if (!instant) {
            start.lookup = TableLookup::LayoutUnreadable;
            start.problem = instant.message();
            start.firstLeaf = 0;
            ctx.clusteredFields.clear();
            ctx.clusteredRoot = 0;
        }
    }
    return start;
}

bool prepareInnodbTable(core::MainFrame& frame, InnodbReader& ctx,
                        const std::filesystem::path& dbFolder, const std::string& tableName,
                        std::uint32_t& firstLeaf, bool& inOwnFile, std::string* problem) {
    frame.writeLog("Opening File\t" + (dbFolder / (tableName + ".ibd")).string() + "\r\n");
    const TableStart start = locateInnodbTable(ctx, dbFolder, tableName);
    firstLeaf = start.firstLeaf;
    inOwnFile = start.inOwnFile;
    switch (start.lookup) {
        case TableLookup::Found:
            return true;
        case TableLookup::NoTablespace:
            return false;
        case TableLookup::TablespaceFileMissing:
            frame.writeLog("Tablespace file not found.\r\n");
            return false;
        case TableLookup::TableIdNotFound:
            frame.writeLog("Table id not found.\r\n");
            return false;
        case TableLookup::ClusterPageNotFound:
            frame.writeLog("Cluster page number not found.\r\n");
            return false;
        case TableLookup::LeafPageNotFound:
            frame.writeLog("Leaf page number not found.\r\n");
            return false;
        case TableLookup::LayoutUnreadable:
            frame.writeLog("Records of " + tableName + " cannot be read: " + start.problem + ".\r\n");
            if (problem) *problem = start.problem;
            return false;
    }
    return false;
}

}  // namespace dunmore::innodb
