// fuzz-link: dunmore_innodb
// fuzz-seeds: ../shared/peer-fixtures/innodb_ruby/sakila-compact/actor.ibd ../shared/peer-fixtures/innodb_ruby/sakila-redundant/actor.ibd
//
// InnoDB page and record parsers over hostile bytes. The input is cut into 16 KiB pages
// (a short last piece is zero-filled). Each page goes through the header decoders, the
// compact chain with a field-length walk over a layout picked by the page's first byte,
// and the redundant chain with the three dictionary record decoders. The pages are also
// written as a small ibdata1 (each page at 8, 9, 10, 11 and 12) that the dictionary loader
// opens, and each page is taken as the leftmost leaf of a table that went through an
// instant ALTER, whose metadata BLOB is then looked for in that file. Nothing may read outside a page, hang or crash, whatever the offsets say.
#include "core/recovery_context.h"
#include "innodb/column_layout.h"
#include "innodb/dictionary.h"
#include "innodb/page.h"
#include "innodb/record.h"
#include "schema/collation_table.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace dunmore;
using innodb::kDefaultPageSize;

std::vector<core::InnodbColumn> layoutFor(std::uint8_t pick) {
    struct Spec { std::uint32_t mainType, preciseType, length; };
    static const Spec kSpecs[] = {
        {6, 0x503, 4},       {12, 0x2D000F, 40}, {12, 0x2D100F, 400}, {5, 0x3F04FC, 10},
        {14, 0x4FF, 12},     {13, 0x2D00FE, 40}, {3, 0x3F04FE, 5},    {2, 0x800FE, 10},
        {1, 0x8000F, 300},   {9, 0x404, 4},      {6, 0x201, 1},       {4, 0x3F040F, 20},
    };
    std::vector<core::InnodbColumn> fields;
    const std::size_t count = 1 + pick % 7;
    for (std::size_t i = 0; i < count; ++i) {
        const Spec& s = kSpecs[(pick / 7 + i * 5) % std::size(kSpecs)];
        core::InnodbColumn f;
        f.mainType = s.mainType;
        f.preciseType = s.preciseType | ((pick >> (i % 8)) & 1 ? 0 : innodb::kPreciseNotNull);
        f.length = s.length;
        f.mbMinMaxLen = s.mainType == 13 ? 21 : 6;
        f.fixedLength = innodb::fixedLengthOf(f.mainType, f.preciseType, f.length, f.mbMinMaxLen);
        fields.push_back(f);
    }
    return fields;
}

void compactWalk(core::ByteSpan page) {
    const auto fields = layoutFor(page[0]);
    std::uint32_t nullable = 0;
    for (const auto& f : fields) nullable += (f.preciseType & innodb::kPreciseNotNull) == 0;
    const std::uint32_t nullBytes = (nullable + 7) / 8;
    const std::uint32_t start = static_cast<std::uint32_t>(core::readBeAt(page, 0x10, 2)) % 20000;
    for (bool backward : {false, true}) {
        for (const auto& e : innodb::compactChain(page, backward ? start : 0, backward)) {
            (void)innodb::compactHeader(page, e.origin);
            (void)innodb::isCompactSupremum(page, e.successor);
            std::int64_t cursor = static_cast<std::int64_t>(e.origin) - 6 - nullBytes;
            std::uint64_t sum = 0;
            for (const auto& f : fields) {
                const auto length = innodb::compactFieldLength(f, page, cursor);
                if (!length) break;
                sum += length->length;
            }
            if (cursor >= static_cast<std::int64_t>(page.size())) __builtin_trap();
            (void)sum;
        }
    }
}

void redundantWalk(core::ByteSpan page) {
    std::uint32_t o = innodb::firstRedundantRecord(page);
    for (int taken = 0; o != 0 && o < kDefaultPageSize && taken < 3000; ++taken) {
        if (innodb::isRedundantSupremum(page, o)) break;
        const auto rec = innodb::redundantFields(page, o);
        if (!rec) break;
        for (const auto& f : rec->fields)
            if (f.start > page.size() || f.length > page.size() - f.start) __builtin_trap();
        (void)innodb::decodeSysTablesRecord(page, *rec);
        auto column = innodb::decodeSysColumnsRecord(page, *rec);
        innodb::completeSysColumnsRecord(column, schema::CollationTable{});
        (void)innodb::decodeSysIndexesRecord(page, *rec);
        o = rec->next;
    }
}

void dictionaryLoad(const std::vector<std::vector<std::uint8_t>>& pages) {
    const std::string path = "/tmp/dunmore_innodb_page_fuzz_" + std::to_string(::getpid());
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return;
    const std::vector<std::uint8_t> zero(kDefaultPageSize, 0);
    for (std::uint32_t n = 0; n < 13; ++n) {
        const auto& p = n < 8 ? zero : pages[(n - 8) % pages.size()];
        std::fwrite(p.data(), 1, p.size(), out);
    }
    std::fclose(out);
    core::RecoveryContext run;
    schema::CollationTable collations;
    (void)innodb::openSystemTablespace(run, path, collations);
    auto ctx = std::make_unique<innodb::InnodbReader>(run);
    const innodb::SystemTablespace& dictionary = ctx->dictionary();
    for (const auto& t : dictionary.sysTables) {
        (void)innodb::findClusteredRoot(dictionary, innodb::findTableId(dictionary, t.name));
    }
    // The instant-ALTER metadata reader follows BLOB references into the same file.
    for (const auto& page : pages) {
        ctx->columns.clear();
        ctx->keys.clear();
        ctx->clusteredFields.clear();
        for (std::uint32_t i = 0; i < 4; ++i) {
            core::ColumnDefinition c;
            c.name = "c" + std::to_string(i);
            c.index = i;
            c.typeCode = i % 2 ? 15 : 3;
            c.length = 40;
            c.charset = 45;
            ctx->columns.push_back(c);
        }
        innodb::buildColumnsFromDefinition(*ctx, collations);
        (void)innodb::applyInstantMetadata(*ctx, ctx->systemTablespace, page);
        if (ctx->clusteredFields.size() > 3 + 4 + 4096) __builtin_trap();
    }
    std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::vector<std::uint8_t>> pages;
    for (std::size_t at = 0; at < size || pages.empty(); at += kDefaultPageSize) {
        std::vector<std::uint8_t> page(kDefaultPageSize, 0);
        for (std::size_t i = 0; i < kDefaultPageSize && at + i < size; ++i) page[i] = data[at + i];
        pages.push_back(std::move(page));
        if (pages.size() == 5) break;
    }
    for (const auto& page : pages) {
        (void)innodb::decodeFilHeader(page);
        (void)innodb::decodeIndexHeader(page);
        (void)innodb::pageRecordFormat(page);
        (void)innodb::firstCompactRecord(page);
        compactWalk(page);
        redundantWalk(page);
    }
    dictionaryLoad(pages);
    return 0;
}
