// The clustered column layout: built from the .frm definition alone and from the
// dictionary of real MariaDB data folders, checked against each other and against the
// record bytes the server wrote on the leaf pages.
#include "innodb/column_layout.h"

#include "core/recovery_context.h"
#include "core/settings.h"
#include "innodb/dictionary.h"
#include "innodb/page.h"
#include "innodb/record.h"
#include "schema/collation_table.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

namespace dunmore::innodb {

const test::Fixture& innodbLayoutFixture();
const schema::CollationTable& shippedCollations();
std::vector<std::map<std::string, std::string>> taggedRows(const std::string& tag);

namespace {

namespace fs = std::filesystem;

struct Layouts {
    core::RecoveryContext run;
    std::unique_ptr<innodb::InnodbReader> ctx = std::make_unique<innodb::InnodbReader>();
    core::AppSettings settings;
};

Layouts& openFixture() {
    static Layouts layouts;
    if (!layouts.run.systemTablespaceOpen()) {
        EXPECT_TRUE(openSystemTablespace(layouts.run,
                                         (innodbLayoutFixture().dataDir / "ibdata1").string(),
                                         shippedCollations()));
    }
    return layouts;
}

// A new reader of the run for the table, with its definition read.
bool readDefinition(Layouts& l, const std::string& table) {
    l.ctx = std::make_unique<innodb::InnodbReader>(l.run);
    const fs::path frm = innodbLayoutFixture().dataDir / "lay" / (table + ".frm");
    return schema::readTableDefinition(*l.ctx, frm, l.settings) && !l.ctx->columns.empty();
}

std::vector<core::InnodbColumn> dictionaryLayout(Layouts& l, const std::string& table) {
    if (!readDefinition(l, table)) return {};
    buildColumnsFromDictionary(*l.ctx, findTableId(l.ctx->dictionary(), "lay/" + table));
    EXPECT_TRUE(l.ctx->innodbColumns.empty());
    return l.ctx->clusteredFields;
}

std::vector<core::InnodbColumn> definitionLayout(Layouts& l, const std::string& table) {
    if (!readDefinition(l, table)) return {};
    buildColumnsFromDefinition(*l.ctx, shippedCollations());
    EXPECT_TRUE(l.ctx->innodbColumns.empty());
    return l.ctx->clusteredFields;
}

std::vector<std::string> fixtureTables() {
    std::vector<std::string> names;
    for (const auto& x : taggedRows("idx")) {
        const std::string t = x.at("tname").substr(4);
        if (std::find(names.begin(), names.end(), t) == names.end()) names.push_back(t);
    }
    return names;
}

std::vector<std::string> fieldNames(const std::vector<core::InnodbColumn>& fields) {
    std::vector<std::string> out;
    for (const auto& f : fields) out.push_back(f.hidden && f.column.index < 0xFFFFFFFF
                                                   ? f.column.name + "(prefix)"
                                                   : f.column.name);
    return out;
}

// Every column of every fixture table gets the same layout from its .frm alone as from
// the dictionary InnoDB wrote.
TEST(InnodbColumnLayout, DefinitionLayoutEqualsDictionaryLayout) {
    auto& l = openFixture();
    const auto tables = fixtureTables();
    ASSERT_EQ(tables.size(), 16u);
    std::size_t compared = 0;
    for (const auto& table : tables) {
        // A .frm column list does not say which columns are virtual (not stored).
        if (table == "virt") continue;
        SCOPED_TRACE(table);
        const auto fromDictionary = dictionaryLayout(l, table);
        const auto fromDefinition = definitionLayout(l, table);
        ASSERT_FALSE(fromDictionary.empty());
        // Every column has its SYS_COLUMNS record: the layouts hold all of them.
        std::size_t prefixes = 0;
        for (const auto& f : fromDictionary) prefixes += f.hidden && f.column.index < 0xFFFFFFFF;
        EXPECT_EQ(fromDictionary.size(), l.ctx->columns.size() + 2 + prefixes +
                                             (fromDictionary[0].column.name == "DB_ROW_ID"));
        ASSERT_EQ(fieldNames(fromDefinition), fieldNames(fromDictionary));
        for (std::size_t i = 0; i < fromDictionary.size(); ++i) {
            const auto& d = fromDictionary[i];
            const auto& f = fromDefinition[i];
            SCOPED_TRACE(d.column.name);
            EXPECT_EQ(f.mainType, d.mainType);
            EXPECT_EQ(f.preciseType, d.preciseType) << std::hex << f.preciseType << " vs " << d.preciseType;
            EXPECT_EQ(f.length, d.length);
            EXPECT_EQ(f.fixedLength, d.fixedLength);
            EXPECT_EQ(f.mbMinMaxLen, d.mbMinMaxLen);
            EXPECT_EQ(f.hidden, d.hidden);
            ++compared;
        }
    }
    EXPECT_GT(compared, 150u);
}

// The dictionary layout is only taken with a definition that agrees with it: every .frm
// column has its SYS_COLUMNS record, with the MySQL type and (for types of fixed size)
// the byte length the .frm gives it. Every table of the fixture agrees; a definition
// changed the way a damaged .frm changes is named by its column.
TEST(InnodbColumnLayout, ADefinitionThatDisagreesWithTheDictionaryIsNamed) {
    auto& l = openFixture();
    for (const auto& table : fixtureTables()) {
        SCOPED_TRACE(table);
        ASSERT_TRUE(readDefinition(l, table));
        EXPECT_EQ(buildColumnsFromDictionary(*l.ctx, findTableId(l.ctx->dictionary(), "lay/" + table)), "");
    }
    struct Case {
        const char* name;
        const char* column;
        std::function<void(core::ColumnDefinition&)> change;
        const char* problem;  // empty: still agrees
    };
    const Case kCases[] = {
        {"a name the dictionary lacks", "tiu", [](auto& c) { c.name = "tju"; },
         "column tju of the .frm is not in the dictionary of ibdata1"},
        {"another integer type", "si", [](auto& c) { c.typeCode = 3; },
         "column si is InnoDB type 6, MySQL type 2, 2 bytes in the dictionary of ibdata1 and InnoDB type 6, "
         "MySQL type 3, 4 bytes by its .frm"},
        {"other decimals of the same type", "d1", [](auto& c) { c.decimals = 3; }, "column d1 is"},
        {"other fractional seconds", "dtm", [](auto& c) { c.length -= 3; }, "column dtm is"},
        {"a text type for a number", "bi", [](auto& c) { c.typeCode = 15; }, "column bi is"},
        // A longer VARCHAR reads the same bytes: its length is not compared.
        {"a longer VARCHAR", "vl", [](auto& c) { c.length += 5; }, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(readDefinition(l, "types_c"));
        auto column = std::find_if(l.ctx->columns.begin(), l.ctx->columns.end(),
                                   [&](const auto& col) { return col.name == c.column; });
        ASSERT_NE(column, l.ctx->columns.end());
        c.change(*column);
        const std::string problem = buildColumnsFromDictionary(*l.ctx, findTableId(l.ctx->dictionary(), "lay/types_c"));
        if (*c.problem == '\0') EXPECT_EQ(problem, "");
        else EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
    }
}

// Facts of the layout that InnoDB's own rules fix, on the dictionary path.
TEST(InnodbColumnLayout, FixedLengthsAndNullBitmap) {
    auto& l = openFixture();
    const auto fields = dictionaryLayout(l, "types_c");
    std::map<std::string, const core::InnodbColumn*> byName;
    for (const auto& f : fields) byName[f.column.name] = &f;
    struct Case { const char* column; std::uint32_t mainType; std::uint32_t fixed; };
    const Case kCases[] = {
        {"cl", kMainChar, 10},          // latin1 CHAR(10)
        {"cu", kMainMysql, 0},          // utf8mb4 CHAR: variable
        {"cl1", kMainMysql, 3},         // latin1_bin CHAR: single-byte set, fixed
        {"cb", kMainFixBinary, 5},
        {"d1", kMainFixBinary, 5},      // DECIMAL(10,2)
        {"d3", kMainFixBinary, 30},     // DECIMAL(65,30)
        {"dtm", kMainFixBinary, 8},     // DATETIME(6)
        {"dtm3", kMainFixBinary, 7},
        {"tm", kMainFixBinary, 5},      // TIME(3)
        {"ts", kMainFixBinary, 7},      // TIMESTAMP(6)
        {"ts1", kMainFixBinary, 5},
        {"b13", kMainFixBinary, 2},
        {"s20", kMainInt, 3},
        {"f", kMainFloat, 4},
        {"db", kMainDouble, 8},
        {"vl", kMainVarchar, 0},
        {"g", kMainGeometry, 0},
        {"DB_TRX_ID", kMainSys, 6},
        {"DB_ROLL_PTR", kMainSys, 7},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.column);
        ASSERT_TRUE(byName.count(c.column));
        EXPECT_EQ(byName[c.column]->mainType, c.mainType);
        EXPECT_EQ(byName[c.column]->fixedLength, c.fixed);
    }
    std::size_t nullable = 0;
    for (const auto& f : fields) nullable += (f.preciseType & kPreciseNotNull) == 0;
    EXPECT_EQ(nullBitmapSize(*l.ctx), (nullable + 7) / 8);
    EXPECT_GT(nullable, 40u);

    const auto wide = dictionaryLayout(l, "types_b");
    for (const auto& f : wide) {
        if (f.column.name == "uc") {
            EXPECT_EQ(f.fixedLength, 6u) << "ucs2: 2 bytes for every character";
        }
        if (f.column.name == "big") {
            EXPECT_EQ(f.fixedLength, 255u);
        }
    }
    // 768 bytes is the longest fixed field.
    EXPECT_EQ(fixedLengthOf(kMainFixBinary, 0, 768, 0), 768u);
    EXPECT_EQ(fixedLengthOf(kMainFixBinary, 0, 1000, 0), 0u);
}

// The text of one clustered field as the server's query prints it: integers in decimal,
// other bytes as HEX() (trailing pad spaces of CHAR trimmed, as the server trims them).
std::string fieldText(const core::InnodbColumn& f, core::ByteSpan bytes) {
    if (f.mainType == kMainInt && bytes.size() <= 8 && !bytes.empty()) {
        std::uint64_t v = core::readBeAt(bytes, 0, bytes.size());
        if (f.preciseType & kPreciseUnsigned) return std::to_string(v);
        const std::uint64_t sign = std::uint64_t{1} << (8 * bytes.size() - 1);
        v ^= sign;
        const auto signedValue = static_cast<std::int64_t>(v & sign ? v | ~(sign * 2 - 1) : v);
        return std::to_string(bytes.size() == 8 ? static_cast<std::int64_t>(v) : signedValue);
    }
    std::size_t n = bytes.size();
    if (f.mainType == kMainChar || f.mainType == kMainMysql)
        while (n > 0 && bytes[n - 1] == ' ') --n;
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
    }
    return out;
}

using Row = std::map<std::string, std::string>;

// Decodes the records of a leaf page through the layout into column name -> text.
std::vector<Row> leafRows(const std::vector<core::InnodbColumn>& fields, core::ByteSpan page,
                          bool redundant, std::uint32_t nullBytes) {
    std::vector<Row> rows;
    if (redundant) {
        std::uint32_t o = firstRedundantRecord(page);
        while (o != 0 && o < kDefaultPageSize && !isRedundantSupremum(page, o) && rows.size() < 100) {
            const auto rec = redundantFields(page, o);
            if (!rec || rec->fields.size() != fields.size()) {
                ADD_FAILURE() << "record at " << o << " has " << (rec ? rec->fields.size() : 0)
                              << " fields, the layout " << fields.size();
                return rows;
            }
            Row row;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                if (fields[i].hidden) continue;
                const auto& e = rec->fields[i];
                row[fields[i].column.name] =
                    e.isNull ? "NULL" : fieldText(fields[i], page.subspan(e.start, e.length));
            }
            rows.push_back(row);
            o = rec->next;
        }
        return rows;
    }
    for (const auto& entry : compactChain(page, 0, true)) {
        const auto header = compactHeader(page, entry.origin);
        if (header && isMetadataRecord(*header, true)) continue;
        Row row;
        std::int64_t lengths = static_cast<std::int64_t>(entry.origin) - 6 - nullBytes;
        std::uint32_t data = entry.origin;
        std::uint32_t nullBit = 0;
        for (const auto& f : fields) {
            if ((f.preciseType & kPreciseNotNull) == 0) {
                const auto byte = core::readBeAt(page, entry.origin - 6 - nullBit / 8, 1);
                const bool isNull = (byte >> (nullBit % 8)) & 1;
                ++nullBit;
                if (isNull) {
                    if (!f.hidden) row[f.column.name] = "NULL";
                    continue;
                }
            }
            const auto length = compactFieldLength(f, page, lengths);
            if (!length) {
                ADD_FAILURE() << "length entry of " << f.column.name;
                return rows;
            }
            if (!f.hidden) row[f.column.name] = fieldText(f, page.subspan(data, length->length));
            data += length->length;
        }
        rows.push_back(row);
    }
    return rows;
}

// The clustered field order is the one the leaf records hold: every field of the first
// leaf's records decodes to the value the server returned for it.
TEST(InnodbColumnLayout, ClusteredFieldOrderMatchesTheLeafRecords) {
    struct Case {
        const char* table;
        std::vector<std::string> order;  // leading clustered fields
        bool definitionToo = true;
        bool instantMetadata = false;
    };
    const Case kCases[] = {
        {"pk_ba", {"b", "a", "DB_TRX_ID", "DB_ROLL_PTR", "c"}},
        {"pk_ba_r", {"b", "a", "DB_TRX_ID", "DB_ROLL_PTR", "c"}},
        {"uniq_nn", {"c", "b", "DB_TRX_ID", "DB_ROLL_PTR", "a"}},
        {"uniq_null", {"DB_ROW_ID", "DB_TRX_ID", "DB_ROLL_PTR", "a", "b"}},
        {"nokey", {"DB_ROW_ID", "DB_TRX_ID", "DB_ROLL_PTR", "a", "b"}},
        {"pk_prefix", {"v(prefix)", "DB_TRX_ID", "DB_ROLL_PTR", "v", "n"}},
        {"sup", {"k", "DB_TRX_ID", "DB_ROLL_PTR", "n"}},
        {"virt", {"a", "DB_TRX_ID", "DB_ROLL_PTR", "s", "z"}, false},
        {"inst_drop",
         {"a", "DB_TRX_ID", "DB_ROLL_PTR", "(dropped)", "(dropped)", "(dropped)", "(dropped)",
          "(dropped)", "k", "z"},
         true, true},
        {"shared_c", {"a", "DB_TRX_ID", "DB_ROLL_PTR", "b"}},
        {"shared_r", {"a", "DB_TRX_ID", "DB_ROLL_PTR", "b"}},
        {"shared_d", {"b", "DB_TRX_ID", "DB_ROLL_PTR", "a"}},
    };
    auto& l = openFixture();
    const auto serverRows = taggedRows("row");
    const fs::path db = innodbLayoutFixture().dataDir / "lay";
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.table);
        for (bool fromDictionary : {true, false}) {
            if (!fromDictionary && !c.definitionToo) continue;
            SCOPED_TRACE(fromDictionary ? "dictionary" : "definition");
            auto fields = fromDictionary ? dictionaryLayout(l, c.table) : definitionLayout(l, c.table);
            const TableLocation where = locateTable(l.ctx->dictionary(), db.string(), c.table);
            ASSERT_TRUE(where.found);
            core::ReadOnlyFile ibd;
            if (where.inOwnFile) {
                ASSERT_TRUE(ibd.open(where.ibdPath));
            }
            core::ReadOnlyFile& file = where.inOwnFile ? ibd : l.ctx->systemTablespace;
            const auto page = readIndexPage(*l.ctx, file, where.rootPage);
            ASSERT_TRUE(page);
            ASSERT_EQ(page->index.level, 0) << "the fixture table fits on its root leaf";
            if (c.instantMetadata) {
                ASSERT_TRUE(applyInstantMetadata(*l.ctx, file, l.ctx->pageBuffer));
                fields = l.ctx->clusteredFields;
            } else {
                // Tables without instant metadata keep their layout.
                ASSERT_TRUE(applyInstantMetadata(*l.ctx, file, l.ctx->pageBuffer));
                EXPECT_EQ(fieldNames(l.ctx->clusteredFields), fieldNames(fields));
            }
            const auto names = fieldNames(fields);
            ASSERT_GE(names.size(), c.order.size());
            EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + c.order.size()), c.order);
            EXPECT_EQ(pageRecordFormat(l.ctx->pageBuffer),
                      where.redundant ? RecordFormat::Redundant : RecordFormat::Compact);

            std::vector<Row> expected;
            for (auto row : serverRows) {
                if (row.at("tname") != c.table) continue;
                row.erase("tag");
                row.erase("tname");
                expected.push_back(row);
            }
            ASSERT_FALSE(expected.empty());
            const auto got = leafRows(fields, l.ctx->pageBuffer, where.redundant, nullBitmapSize(*l.ctx));
            EXPECT_EQ(got, expected);
        }
    }
}

// Cases of key choice and order that the fixtures do not hold, over hand-made definitions.
TEST(InnodbColumnLayout, ClusteringKeyChoice) {
    const auto column = [](const char* name, std::uint32_t index, std::uint8_t nullable) {
        core::ColumnDefinition c;
        c.name = name;
        c.index = index;
        c.typeCode = 3;
        c.length = 11;
        c.nullable = nullable;
        return c;
    };
    const auto key = [](const char* name, bool unique, std::vector<std::uint32_t> fields) {
        core::KeyInfo k;
        k.name = name;
        k.unique = unique;
        k.primary = std::string(name) == "PRIMARY";
        for (auto f : fields) k.parts.push_back({f, 4});
        return k;
    };
    struct Case {
        const char* name;
        std::vector<core::KeyInfo> keys;
        std::vector<std::string> order;
    };
    const Case kCases[] = {
        {"nullable unique passed over for a later NOT NULL one",
         {key("u1", true, {1}), key("u2", true, {3, 2})}, {"c", "b", "DB_TRX_ID", "DB_ROLL_PTR", "a"}},
        {"non-unique key never clusters", {key("k", false, {2})},
         {"DB_ROW_ID", "DB_TRX_ID", "DB_ROLL_PTR", "a", "b", "c"}},
        {"part naming no column is left out", {key("PRIMARY", true, {9, 2})},
         {"b", "DB_TRX_ID", "DB_ROLL_PTR", "a", "c"}},
        {"no key list: the primary-key flags in table order", {}, {"c", "DB_TRX_ID", "DB_ROLL_PTR", "a", "b"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        auto ctx = std::make_unique<innodb::InnodbReader>();
        ctx->columns = {column("a", 0, 1), column("b", 1, 0), column("c", 2, 0)};
        ctx->columns[2].inPrimaryKey = 1;
        ctx->keys = c.keys;
        buildColumnsFromDefinition(*ctx, shippedCollations());
        EXPECT_EQ(fieldNames(ctx->clusteredFields), c.order);
        for (const auto& f : ctx->clusteredFields)
            if (f.hidden) {
                EXPECT_GE(f.column.index, ctx->columns.size());
            }
        EXPECT_EQ(nullBitmapSize(*ctx), 1u);
    }
}

}  // namespace
}  // namespace dunmore::innodb

namespace dunmore::innodb {
namespace {

struct Extent {
    std::uint32_t data = 0;   // bytes of field data from the origin up
    std::uint32_t extra = 0;  // header, null bitmap and length entries below the origin
    bool ok = true;
};

Extent compactExtent(core::ByteSpan page, std::uint32_t origin,
                     const std::vector<core::InnodbColumn>& fields, std::uint32_t nullBytes) {
    Extent e;
    const std::int64_t lengthStart = static_cast<std::int64_t>(origin) - 6 - nullBytes;
    std::int64_t cursor = lengthStart;
    std::uint32_t nullBit = 0;
    for (const auto& f : fields) {
        if ((f.preciseType & kPreciseNotNull) == 0) {
            const auto byte = core::readBeAt(page, origin - 6 - nullBit / 8, 1);
            const bool isNull = (byte >> (nullBit % 8)) & 1;
            ++nullBit;
            if (isNull) continue;
        }
        const auto length = compactFieldLength(f, page, cursor);
        if (!length) return {0, 0, false};
        e.data += length->length;
    }
    e.extra = 5 + nullBytes + static_cast<std::uint32_t>(lengthStart - cursor);
    return e;
}

// Tables written by MySQL 5.0, 5.5/5.6 (COMPACT and REDUNDANT) and 5.7: the layout built
// from each .frm alone accounts for every byte of the clustered records. In a table loaded
// in key order the records lie one after the other, so a record's fields end exactly
// where the next record's header and length entries begin; in the redundant format each
// fixed-length field has exactly its width.
TEST(InnodbColumnLayout, PeerTablesMatchTheDefinitionLayout) {
    const fs::path root = fs::path(DUNMORE_PEER_FIXTURES) / "innodb_ruby";
    std::size_t checkedRecords = 0;
    for (const char* version : {"sakila-5.0", "sakila-compact", "sakila-redundant", "sakila-5.7"}) {
        for (const char* table : {"actor", "category", "city", "country", "film", "language", "store"}) {
            SCOPED_TRACE(std::string(version) + "/" + table);
            const fs::path frm = root / version / (std::string(table) + ".frm");
            const fs::path ibdPath = root / version / (std::string(table) + ".ibd");
            if (!fs::exists(frm) || !fs::exists(ibdPath)) continue;
            auto ctx = std::make_unique<innodb::InnodbReader>();
            core::AppSettings settings;
            ASSERT_TRUE(schema::readTableDefinition(*ctx, frm, settings));
            ASSERT_FALSE(ctx->columns.empty());
            buildColumnsFromDefinition(*ctx, shippedCollations());
            const auto fields = ctx->clusteredFields;
            const std::uint32_t nullBytes = nullBitmapSize(*ctx);
            core::ReadOnlyFile ibd;
            ASSERT_TRUE(ibd.open(ibdPath));
            const auto rootPage = readIndexPage(*ctx, ibd, 3);
            ASSERT_TRUE(rootPage);
            const std::uint64_t clusteredId = rootPage->index.indexId;
            for (std::uint32_t n = 3; n < pageCount(ibd.size(), kDefaultPageSize); ++n) {
                const auto page = readIndexPage(*ctx, ibd, n);
                ASSERT_TRUE(page);
                if (page->fil.pageType != kIndexPageType || page->index.indexId != clusteredId ||
                    page->index.level != 0)
                    continue;
                const core::ByteSpan view(ctx->pageBuffer);
                if (pageRecordFormat(view) == RecordFormat::Redundant) {
                    for (std::uint32_t o = firstRedundantRecord(view);
                         o != 0 && o < kDefaultPageSize && !isRedundantSupremum(view, o);) {
                        const auto rec = redundantFields(view, o);
                        ASSERT_TRUE(rec);
                        ASSERT_EQ(rec->fields.size(), fields.size()) << "page " << n << " record " << o;
                        for (std::size_t i = 0; i < fields.size(); ++i)
                            if (fields[i].fixedLength != 0 && !rec->fields[i].isNull) {
                                EXPECT_EQ(rec->fields[i].length, fields[i].fixedLength)
                                    << fields[i].column.name;
                            }
                        ++checkedRecords;
                        o = rec->next;
                    }
                    continue;
                }
                ASSERT_EQ(pageRecordFormat(view), RecordFormat::Compact);
                const auto chain = compactChain(view, 0, true);
                for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
                    const auto& e = chain[i];
                    if (e.successor <= e.origin) continue;  // not laid out in key order
                    const Extent self = compactExtent(view, e.origin, fields, nullBytes);
                    const Extent next = compactExtent(view, e.successor, fields, nullBytes);
                    ASSERT_TRUE(self.ok && next.ok);
                    ASSERT_EQ(e.origin + self.data + next.extra, e.successor)
                        << "page " << n << " record " << e.origin;
                    ++checkedRecords;
                }
            }
        }
    }
    EXPECT_GT(checkedRecords, 1000u);
}

}  // namespace
}  // namespace dunmore::innodb

namespace dunmore::innodb {
namespace {

// A damaged instant-ALTER metadata BLOB is reported and leaves the layout as it was.
TEST(InnodbColumnLayout, DamagedInstantMetadataLeavesTheLayout) {
    const fs::path source = innodbLayoutFixture().dataDir / "lay" / "inst_drop.ibd";
    const auto original = test::readFileText(source);
    ASSERT_GE(original.size(), 5u * 16384);
    struct Case {
        const char* name;
        std::size_t at;  // byte offset in the file
        std::vector<std::uint8_t> bytes;
    };
    // Page 4 holds the BLOB: part length at 38, next page at 42, then the data.
    const std::size_t blob = 4 * 16384 + 38;
    const Case kCases[] = {
        {"BLOB page of another type", 4 * 16384 + 24, {0x45, 0xBF}},
        {"field count past the BLOB", blob + 8, {0x00, 0x00, 0x10, 0x00}},
        {"unknown column position", blob + 8 + 4 + 2 * 5, {0x00, 0x09}},
        {"BLOB part shorter than the reference says", blob, {0x00, 0x00, 0x00, 0x04}},
    };
    auto& l = openFixture();
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string damaged = original;
        for (std::size_t i = 0; i < c.bytes.size(); ++i) damaged[c.at + i] = static_cast<char>(c.bytes[i]);
        const fs::path copy = fs::path(DUNMORE_BINARY_DIR) / "innodb_layout_test" / "inst_drop.ibd";
        test::writeFileText(copy, damaged);
        const auto before = fieldNames(dictionaryLayout(l, "inst_drop"));
        core::ReadOnlyFile file;
        ASSERT_TRUE(file.open(copy));
        ASSERT_TRUE(readIndexPage(*l.ctx, file, 3));
        const core::Status status = applyInstantMetadata(*l.ctx, file, l.ctx->pageBuffer);
        EXPECT_EQ(status.code(), core::StatusCode::Corrupt) << status.message();
        EXPECT_EQ(fieldNames(l.ctx->clusteredFields), before);
    }
}

}  // namespace
}  // namespace dunmore::innodb
