// The InnoDB data dictionary in ibdata1. SYS_TABLES, SYS_COLUMNS and SYS_INDEXES are
// clustered indexes whose records are in the redundant format; the dictionary header
// (page 7) names their roots (8, 10 and 11 in ibdata1 of 16 KiB pages).
// SYS_TABLES: NAME, DB_TRX_ID(6), DB_ROLL_PTR(7), ID(8), N_COLS(4, top bit = compact
// format), TYPE(4), MIX_ID(8), MIX_LEN(4), CLUSTER_NAME, SPACE(4). SYS_COLUMNS:
// TABLE_ID(8), POS(4), DB_TRX_ID, DB_ROLL_PTR, NAME, MTYPE(4), PRTYPE(4), LEN(4), PREC(4).
// SYS_INDEXES: TABLE_ID(8), ID(8), DB_TRX_ID, DB_ROLL_PTR, NAME, N_FIELDS(4), TYPE(4),
// SPACE(4), PAGE_NO(4). Integers are big-endian. Node pointers end with the 4-byte child
// page number. See docs/formats/innodb.md.

#include "innodb/dictionary.h"

#include "core/collation_numbers.h"
#include "core/recovery_context.h"
#include "innodb/column_layout.h"
#include "schema/collation_table.h"

#include <algorithm>
#include <bitset>
#include <filesystem>
#include <memory>
#include <unordered_set>
#include <vector>

namespace dunmore::innodb {
namespace {

// More records than this cannot fit on one redundant page (6 header bytes and one
// offset byte each at least).
// DICT_HDR_TABLES: the first root field of the dictionary header.
constexpr std::size_t kDictHeaderTablesOffset = 32;
// More records than this cannot fit on a page of pageSize bytes.
constexpr std::uint32_t maxRedundantRecordsPerPage(std::size_t pageSize) {
    return static_cast<std::uint32_t>(pageSize / (kRedundantHeaderSize + 1));
}

constexpr std::uint32_t kCollationLatin1 = 8;

// A field of exactly width bytes, or nothing (NULL or another width keeps the default).
bool fieldOf(core::ByteSpan page, const RedundantRecord& rec, std::size_t i, std::size_t width,
             core::ByteSpan& out) {
    if (i >= rec.fields.size()) return false;
    const FieldExtent& f = rec.fields[i];
    if (f.isNull || f.length != width) return false;
    out = page.subspan(f.start, f.length);
    return true;
}

std::uint64_t uintField(core::ByteSpan page, const RedundantRecord& rec, std::size_t i,
                        std::size_t width, std::uint64_t fallback = 0) {
    core::ByteSpan bytes;
    if (!fieldOf(page, rec, i, width, bytes)) return fallback;
    return core::readBeAt(bytes, 0, width);
}

std::string textField(core::ByteSpan page, const RedundantRecord& rec, std::size_t i) {
    if (i >= rec.fields.size() || rec.fields[i].isNull) return {};
    return core::asText(page.subspan(rec.fields[i].start, rec.fields[i].length));
}

std::array<std::uint8_t, 6> trxField(core::ByteSpan page, const RedundantRecord& rec,
                                     std::size_t i) {
    std::array<std::uint8_t, 6> out{};
    core::ByteSpan bytes;
    if (fieldOf(page, rec, i, out.size(), bytes)) std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

RollPointer rollField(core::ByteSpan page, const RedundantRecord& rec, std::size_t i) {
    RollPointer p;
    core::ByteSpan bytes;
    if (!fieldOf(page, rec, i, 7, bytes)) return p;
    core::ByteReader r(bytes);
    const std::uint8_t first = r.u8();
    p.insertFlag = first & 0x80;
    p.rollbackSegment = first & 0x7F;
    p.undoPage = r.u32be();
    p.undoOffset = r.u16be();
    return p;
}

void appendRecord(SystemTablespace& system, DictionaryKind kind, core::ByteSpan page,
                  const RedundantRecord& rec, const schema::CollationTable& collations) {
    switch (kind) {
        case DictionaryKind::SysTables:
            system.sysTables.push_back(decodeSysTablesRecord(page, rec));
            break;
        case DictionaryKind::SysColumns: {
            auto column = decodeSysColumnsRecord(page, rec);
            completeSysColumnsRecord(column, collations);
            system.sysColumns.push_back(std::move(column));
            break;
        }
        case DictionaryKind::SysIndexes:
            system.sysIndexes.push_back(decodeSysIndexesRecord(page, rec));
            break;
    }
}

std::string withoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

}  // namespace

SysTablesRecord decodeSysTablesRecord(core::ByteSpan page, const RedundantRecord& rec) {
    SysTablesRecord t;
    t.name = textField(page, rec, 0);
    t.trxId = trxField(page, rec, 1);
    t.rollPtr = rollField(page, rec, 2);
    t.id = uintField(page, rec, 3, 8);
    const auto nCols = static_cast<std::uint32_t>(uintField(page, rec, 4, 4));
    t.columnCount = nCols & ~kNColsCompact;
    t.compact = (nCols & kNColsCompact) != 0;
    t.type = static_cast<std::uint32_t>(uintField(page, rec, 5, 4));
    t.mixId = uintField(page, rec, 6, 8);
    t.mixLength = static_cast<std::uint32_t>(uintField(page, rec, 7, 4));
    t.space = static_cast<std::uint32_t>(uintField(page, rec, 9, 4));
    t.deleted = rec.deleted();
    return t;
}

SysColumnsRecord decodeSysColumnsRecord(core::ByteSpan page, const RedundantRecord& rec) {
    SysColumnsRecord c;
    c.tableId = uintField(page, rec, 0, 8);
    c.position = static_cast<std::uint32_t>(uintField(page, rec, 1, 4));
    c.trxId = trxField(page, rec, 2);
    c.rollPtr = rollField(page, rec, 3);
    c.name = textField(page, rec, 4);
    c.mainType = static_cast<std::uint32_t>(uintField(page, rec, 5, 4));
    c.preciseType = static_cast<std::uint32_t>(uintField(page, rec, 6, 4));
    c.length = static_cast<std::uint32_t>(uintField(page, rec, 7, 4));
    c.precision = static_cast<std::uint32_t>(uintField(page, rec, 8, 4));
    c.deleted = rec.deleted();
    return c;
}

SysIndexesRecord decodeSysIndexesRecord(core::ByteSpan page, const RedundantRecord& rec) {
    SysIndexesRecord x;
    x.tableId = uintField(page, rec, 0, 8);
    x.indexId = uintField(page, rec, 1, 8);
    x.trxId = trxField(page, rec, 2);
    x.rollPtr = rollField(page, rec, 3);
    x.name = textField(page, rec, 4);
    x.fieldCount = static_cast<std::uint32_t>(uintField(page, rec, 5, 4));
    x.type = static_cast<std::uint32_t>(uintField(page, rec, 6, 4));
    x.space = static_cast<std::uint32_t>(uintField(page, rec, 7, 4));
    x.rootPage = static_cast<std::uint32_t>(uintField(page, rec, 8, 4));
    x.deleted = rec.deleted();
    return x;
}

void completeSysColumnsRecord(SysColumnsRecord& record,
                              const schema::CollationTable& collations) {
    const std::uint32_t m = record.mainType;
    const bool characterType = m <= 5 || m == 12 || m == 13;
    record.mbMinLen = 0;
    record.mbMaxLen = 0;
    if (characterType) {
        // Old dictionaries leave the collation out of the precise type.
        if (collationOf(record.preciseType) == 0) {
            const bool binary = m == 3 || m == 4 || (m == 5 && (record.preciseType & 0x400));
            record.preciseType |= (binary ? core::kBinaryCollation : kCollationLatin1) << 16;
        }
        if (const auto* entry = collations.lookupCollation(collationOf(record.preciseType))) {
            record.mbMinLen = entry->minBytesPerChar;
            record.mbMaxLen = entry->maxBytesPerChar;
        }
    }
    record.mbMinMaxLen = record.mbMinLen + 5 * record.mbMaxLen;
}

bool openSystemTablespace(core::RecoveryContext& run, const std::string& path,
                          const schema::CollationTable& collations) {
    auto system = std::make_shared<SystemTablespace>();
    if (!system->file.open(path)) return false;
    system->pageSize = tablespacePageSize(system->file);
    system->pageCount = pageCount(system->file.size(), system->pageSize);
    const DictionaryRoots roots = readDictionaryRoots(*system);
    (void)loadDictionaryIndex(*system, roots.sysTables, DictionaryKind::SysTables, collations);
    (void)loadDictionaryIndex(*system, roots.sysColumns, DictionaryKind::SysColumns, collations);
    (void)loadDictionaryIndex(*system, roots.sysIndexes, DictionaryKind::SysIndexes, collations);
    // A second scan on the same run starts from a clean dictionary.
    run.systemTablespace = std::move(system);
    return true;
}

bool openSystemTablespace(core::RecoveryContext& run, const std::string& path) {
    return openSystemTablespace(run, path, schema::applicationCollations());
}

DictionaryRoots readDictionaryRoots(SystemTablespace& system) {
    const DictionaryRoots fixed;
    std::vector<std::uint8_t> buffer(system.pageSize);
    if (kDictionaryHeaderPage >= system.pageCount ||
        !readPage(system.file, kDictionaryHeaderPage, PageBuffer(buffer)))
        return fixed;
    const PageView page(buffer);
    if (decodeFilHeader(page).pageType != kSysPageType) return fixed;
    core::ByteReader r(page);
    r.seek(kFilHeaderSize + kDictHeaderTablesOffset);
    DictionaryRoots roots;
    roots.sysTables = r.u32be();
    r.skip(4);  // SYS_TABLE_IDS
    roots.sysColumns = r.u32be();
    roots.sysIndexes = r.u32be();
    const auto inFile = [&](std::uint32_t p) { return p != 0 && p < system.pageCount; };
    if (!r.ok() || !inFile(roots.sysTables) || !inFile(roots.sysColumns) || !inFile(roots.sysIndexes))
        return fixed;
    return roots;
}

bool loadDictionaryIndex(SystemTablespace& system, std::uint32_t rootPage, DictionaryKind kind,
                         const schema::CollationTable& collations) {
    if (rootPage >= system.pageCount) return false;
    std::vector<std::uint8_t> buffer(system.pageSize);
    const auto root = readIndexPage(system.file, rootPage, PageBuffer(buffer));
    if (!root || !isIndexPageType(root->fil.pageType)) return false;
    std::uint32_t leaf = rootPage;
    if (root->index.level != 0) leaf = findLeftmostLeafRedundant(system, rootPage);
    if (leaf == 0) return true;
    return readDictionaryLeaves(system, leaf, kind, collations).isOk();
}

std::uint32_t findLeftmostLeafRedundant(SystemTablespace& system, std::uint32_t page) {
    std::vector<std::uint8_t> buffer(system.pageSize);
    const PageBuffer out(buffer);
    // Levels must fall on the way down, so the descent ends and reads no page twice.
    std::uint32_t upperLevel = 0x10000;
    while (page < system.pageCount) {
        const auto p = readIndexPage(system.file, page, out);
        if (!p || !isIndexPageType(p->fil.pageType)) return 0;
        if (p->index.level >= upperLevel) return 0;
        if (p->index.level == 0) return page;
        upperLevel = p->index.level;
        const PageView view(out);
        if (!isRedundantIndexPage(view)) return 0;
        const std::uint16_t o = firstRedundantRecord(view);
        if (o >= view.size() || isRedundantSupremum(view, o)) return 0;
        const auto rec = redundantFields(view, o);
        if (!rec || rec->fields.empty()) return 0;
        const FieldExtent& last = rec->fields.back();
        if (last.length != 4) return 0;
        const auto child = static_cast<std::uint32_t>(core::readBeAt(view, last.start, 4));
        if (child == 0) return 0;
        page = child;
    }
    return 0;
}

core::Status readDictionaryLeaves(SystemTablespace& system, std::uint32_t firstLeaf,
                                  DictionaryKind kind, const schema::CollationTable& collations) {
    const std::uint64_t pages = pageCount(system.file.size(), system.pageSize);
    std::vector<std::uint8_t> buffer(system.pageSize);
    const PageBuffer page(buffer);
    std::uint64_t visits = 0;
    std::uint32_t p = firstLeaf;
    // A looping chain ends at the first page met again, so no record is appended twice.
    std::unordered_set<std::uint32_t> seen;
    while (true) {
        ++visits;
        if (p >= system.pageCount || p == 0 || visits > pages || p > pages) break;
        if (!seen.insert(p).second) break;
        if (auto s = readPage(system.file, p, page); !s) return s;
        const FilHeader fil = decodeFilHeader(page);
        if (isIndexPageType(fil.pageType) && isRedundantIndexPage(page)) {
            // A damaged chain may loop on the page: no origin is taken twice.
            std::bitset<kMaxPageSize> visited;
            std::uint32_t o = firstRedundantRecord(page);
            for (std::uint32_t taken = 0;
                 o != 0 && o < page.size() && taken < maxRedundantRecordsPerPage(page.size());
                 ++taken) {
                if (visited.test(o) || isRedundantSupremum(page, o)) break;
                visited.set(o);
                const auto rec = redundantFields(page, o);
                if (!rec) break;
                appendRecord(system, kind, page, *rec, collations);
                o = rec->next;
            }
        }
        if (fil.nextPage == kFilNull) break;
        p = fil.nextPage;
    }
    return core::Status::ok();
}

std::uint64_t findTableId(const SystemTablespace& dictionary, std::string_view key) {
    std::string name(key);
    std::replace(name.begin(), name.end(), '\\', '/');
    std::uint64_t deletedMatch = 0;
    for (const auto& t : dictionary.sysTables) {
        if (t.id == 0 || t.name != name) continue;
        if (!t.deleted) return t.id;
        if (deletedMatch == 0) deletedMatch = t.id;
    }
    return deletedMatch;
}

std::uint32_t findClusteredRoot(const SystemTablespace& dictionary, std::uint64_t tableId) {
    if (tableId == 0) return 0;
    // The clustered index carries DICT_CLUSTERED in TYPE; a UNIQUE secondary index (TYPE
    // 2) is not where the rows are.
    const SysIndexesRecord* deletedMatch = nullptr;
    for (const auto& x : dictionary.sysIndexes) {
        if (x.tableId != tableId || (x.type & kIndexClustered) == 0) continue;
        if (!x.deleted) return x.rootPage;
        if (!deletedMatch) deletedMatch = &x;
    }
    return deletedMatch ? deletedMatch->rootPage : 0;
}

const SysTablesRecord* findSysTable(const SystemTablespace& dictionary, std::uint64_t tableId) {
    if (tableId == 0) return nullptr;
    const SysTablesRecord* deletedMatch = nullptr;
    for (const auto& t : dictionary.sysTables) {
        if (t.id != tableId) continue;
        if (!t.deleted) return &t;
        if (!deletedMatch) deletedMatch = &t;
    }
    return deletedMatch;
}

TableLocation locateTable(const SystemTablespace& dictionary, const std::string& dbFolder,
                          const std::string& tableName) {
    namespace fs = std::filesystem;
    TableLocation where;
    const std::string folder = withoutTrailingSeparators(dbFolder);
    const std::string database = fs::path(folder).filename().string();
    where.ibdPath = (fs::path(folder) / (tableName + ".ibd")).string();
    std::error_code ec;
    const bool ibdExists = fs::is_regular_file(where.ibdPath, ec);

    if (const std::uint64_t id = findTableId(dictionary, database + "/" + tableName); id != 0) {
        where.found = true;
        where.tableId = id;
        where.rootPage = findClusteredRoot(dictionary, id);
        if (const auto* t = findSysTable(dictionary, id)) {
            where.space = t->space;
            where.redundant = !t->compact;
        }
        where.inOwnFile = where.space != 0;
        return where;
    }
    // Not in the dictionary (none loaded, or an ibdata1 of another server): a
    // file-per-table tablespace keeps the first index, the clustered one, at page 3.
    if (ibdExists) {
        where.found = true;
        where.inOwnFile = true;
        where.rootPage = 3;
    }
    return where;
}

}  // namespace dunmore::innodb
