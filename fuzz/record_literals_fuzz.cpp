// fuzz-link: dunmore_innodb dunmore_myisam
// fuzz-seeds: data/sample/datadir/library/visits.ibd data/sample/datadir/shop/customers.ibd
// fuzz-seeds: ../shared/peer-fixtures/innodb_ruby/sakila-compact/actor.ibd
// fuzz-seeds: ../shared/peer-fixtures/mariadb-server/std_data/*.MYD
// fuzz-max-len: 229376
//
// The two ways a saved row gets its SQL literals, over hostile bytes: straight from the
// stored bytes (appendLeafRecordLiterals, appendDynamicRecordLiterals) and through the
// decoded values (decodeLeafRecord or unpackDynamicRecordValues, then appendSqlLiteral
// of each column). Both must give the same bytes and the same refusal for every record.
// InnoDB: the input is cut into 16 KiB pages, and every compact record of each page is
// read with each of four table layouts (a key and the common types; a hidden row id
// with integers of every width and texts of several character sets; CHAR columns and
// NULLs; the sample folder's library.visits, whose pages are seeds). MyISAM: the whole input is one dynamic record of each of two layouts.
#include "core/settings.h"
#include "innodb/column_layout.h"
#include "innodb/index_walk.h"
#include "innodb/page.h"
#include "innodb/record.h"
#include "myisam/dynamic_record.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_record_reader.h"
#include "schema/collation_table.h"
#include "values/sql_literal.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace dunmore;

struct Column {
    std::uint32_t typeCode;
    std::int32_t length;
    std::int32_t charset;
    bool isUnsigned;
    bool nullable;
};

core::ColumnDefinition definition(const Column& c, std::uint32_t index) {
    core::ColumnDefinition d;
    d.name = "c" + std::to_string(index);
    d.index = index;
    d.typeCode = c.typeCode;
    d.length = c.length;
    d.charset = c.charset;
    d.isUnsigned = c.isUnsigned;
    d.nullable = c.nullable ? 1 : 0;
    if (c.typeCode == 246) {
        d.precision = 10;
        d.decimals = 2;
    }
    return d;
}

struct InnodbLayout {
    std::vector<Column> columns;
    bool keyOnFirst;
};

const std::vector<InnodbLayout>& innodbLayouts() {
    static const std::vector<InnodbLayout> kLayouts = {
        {{{3, 11, 0, false, false}, {15, 160, 45, false, true}, {18, 19, 0, false, true},
          {246, 12, 0, false, true}, {3, 11, 0, false, true}},
         true},
        {{{1, 4, 0, true, true}, {2, 6, 0, false, true}, {9, 9, 0, true, true}, {8, 20, 0, true, true},
          {15, 40, 8, false, true}, {15, 50, 63, false, true}, {15, 90, 33, false, true}, {252, 65535, 45, false, true}},
         false},
        {{{2, 5, 0, true, false}, {254, 32, 45, false, true}, {254, 12, 33, false, false}, {254, 10, 8, false, true},
          {8, 20, 0, false, true}},
         true},
        // library.visits: INT UNSIGNED key, DATETIME, SMALLINT, VARCHAR(20) latin1
        {{{3, 10, 0, true, false}, {18, 19, 0, false, false}, {2, 6, 0, false, false}, {15, 20, 8, false, true}},
         true},
    };
    return kLayouts;
}

const schema::CollationTable& collations() {
    static const schema::CollationTable table;
    return table;
}

void compareInnodb(core::ByteSpan page) {
    const std::string folder = "/save/here";
    for (const InnodbLayout& layout : innodbLayouts()) {
        innodb::InnodbReader ctx;
        for (std::uint32_t i = 0; i < layout.columns.size(); ++i) ctx.columns.push_back(definition(layout.columns[i], i));
        if (layout.keyOnFirst) {
            core::KeyInfo key;
            key.name = "PRIMARY";
            key.primary = key.unique = true;
            key.parts.push_back({1, 0});
            ctx.keys.push_back(key);
            ctx.columns[0].inPrimaryKey = 1;
        }
        innodb::buildColumnsFromDefinition(ctx, collations());
        const std::uint32_t nullBitmap = innodb::prepareWalkLayout(ctx);
        const innodb::RecordLiteralPlan plan = innodb::planRecordLiterals(ctx);
        if (!plan.usable) __builtin_trap();
        core::AppSettings settings;
        settings.savingScript = true;
        settings.savingFolder = folder;
        // No blob files: an off-page value would need a second tablespace read either way.
        settings.blobsInline = true;
        for (const auto& e : innodb::compactChain(page, 0, false)) {
            std::string want;
            const bool decoded =
                innodb::decodeLeafRecord(ctx, settings, page, e.origin, e.fieldAreaLength, nullBitmap);
            for (const auto& c : ctx.columns) values::appendSqlLiteral(c, folder, want);
            values::RowText gotText;
            const bool written = innodb::appendLeafRecordLiterals(ctx, settings, plan, page, e.origin,
                                                                  e.fieldAreaLength, nullBitmap, folder, gotText);
            const std::string got(gotText.view());
            if (written != decoded || (decoded && got != want)) __builtin_trap();
        }
    }
}

// MyISAM dynamic layouts, as a MariaDB 10.11 server wrote them: the table columns with
// their pack flags, then the record's fields (type, length, null bit, null byte).
struct MyisamLayout {
    std::vector<Column> columns;
    std::vector<std::uint16_t> packFlags;
    std::vector<myisam::MyisamColumn> fields;
    std::uint32_t recordLength, nullBytes, minPack, packBits;
};

const std::vector<MyisamLayout>& myisamLayouts() {
    static const std::vector<MyisamLayout> kLayouts = {
        // INT NOT NULL, VARCHAR(300) utf8mb4, TEXT utf8mb4, INT
        {{{3, 11, 8, false, false}, {15, 1200, 45, false, true}, {252, 8, 45, false, true}, {3, 11, 8, false, true}},
         {16411, 32768, 33808, 32795},
         {{0, 1, 0, 0, {}, 0}, {3, 4, 0, 0, {}, 0}, {8, 1202, 1, 0, {}, 0}, {4, 10, 2, 0, {}, 0}, {3, 4, 4, 0, {}, 0}},
         1221, 1, 3, 1},
        // CHAR(30) utf8mb4, INT NOT NULL, DECIMAL(10,2), CHAR(255) latin1, BIGINT
        {{{254, 120, 45, false, true}, {3, 11, 8, false, false}, {246, 12, 0, false, true},
          {254, 255, 8, false, true}, {8, 20, 8, false, true}},
         {32768, 16411, 33283, 32768, 32835},
         {{0, 1, 0, 0, {}, 0}, {1, 120, 1, 0, {}, 0}, {3, 4, 0, 0, {}, 0}, {2, 5, 2, 0, {}, 0},
          {1, 255, 4, 0, {}, 0}, {3, 8, 8, 0, {}, 0}},
         393, 1, 5, 1},
    };
    return kLayouts;
}

void compareMyisam(core::ByteSpan record) {
    const std::string folder = "/save/here";
    for (const MyisamLayout& layout : myisamLayouts()) {
        myisam::MyisamReader ctx;
        std::uint32_t pos = layout.nullBytes;
        for (std::uint32_t i = 0; i < layout.columns.size(); ++i) {
            core::ColumnDefinition c = definition(layout.columns[i], i);
            c.recordPos = pos + 1;
            c.packFlags = layout.packFlags[i];
            pos += layout.fields[i + 1].fieldLength;
            ctx.columns.push_back(c);
        }
        ctx.myisamColumns = layout.fields;
        ctx.recordLength = ctx.myisamRecordLength = ctx.packedRecordLength = layout.recordLength;
        ctx.nullBitmapBytes = layout.nullBytes;
        ctx.minPackLength = layout.minPack;
        ctx.packBits = static_cast<std::uint16_t>(layout.packBits);
        ctx.myisamRowFormat = myisam::kRowFormatDynamic;
        const myisam::MyisamRowLayout rowLayout = myisam::buildRowLayout(ctx, {true});
        const myisam::DynamicLiteralPlan plan = myisam::planDynamicLiterals(ctx, rowLayout);
        std::string want;
        const myisam::UnpackResult decoded = myisam::unpackDynamicRecordValues(ctx, rowLayout, record);
        if (decoded == myisam::UnpackResult::Row)
            for (const auto& c : ctx.columns) values::appendSqlLiteral(c, folder, want);
        values::RowText gotText;
        const myisam::UnpackResult written =
            myisam::appendDynamicRecordLiterals(ctx, rowLayout, plan, record, folder, gotText);
        const std::string got(gotText.view());
        if (written != decoded || (decoded == myisam::UnpackResult::Row && got != want)) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at < size; at += innodb::kDefaultPageSize) {
        std::vector<std::uint8_t> page(innodb::kDefaultPageSize, 0);
        for (std::size_t i = 0; i < page.size() && at + i < size; ++i) page[i] = data[at + i];
        compareInnodb(page);
    }
    compareMyisam(core::ByteSpan(data, size));
    return 0;
}
