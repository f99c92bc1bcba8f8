// fuzz-link: dunmore_myisam
// fuzz-seeds: ../shared/peer-fixtures/mariadb-server/std_data/*.MYD
// fuzz-seeds: ../shared/peer-fixtures/mariadb-server/std_data/*/*.MYD
// fuzz-seeds: ../shared/peer-fixtures/mariadb-server/std_data/*.MYI
//
// MyISAM readers over hostile bytes. The first input byte picks one of three table
// layouts taken from tables a MariaDB 10.11 server wrote (VARCHAR/TEXT with nulls, packed
// CHAR/DECIMAL, and every BLOB size with BIT columns); the second picks the mode: bit 0
// fixed-length instead of dynamic, bit 1 also parse the bytes as a .MYI head and walk
// with the column definitions it yields. The rest is the .MYD. The walk must end
// without reading outside the file, whatever the blocks say.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "myisam/dynamic_record.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_record_reader.h"

namespace {

using dunmore::core::ColumnDefinition;
using dunmore::myisam::MyisamColumn;
using dunmore::myisam::MyisamReader;

struct ColumnSpec {
    std::uint32_t typeCode;
    std::int32_t length;
    std::uint32_t recordPos;
    bool nullable;
    std::int32_t charset;
    std::uint16_t packFlags;
};
struct FieldSpec {
    std::int16_t type;
    std::uint16_t length;
    std::uint8_t nullBit;
    std::uint16_t nullPos;
};
struct Layout {
    std::vector<ColumnSpec> columns;
    std::vector<FieldSpec> fields;
    std::uint32_t recordLength, nullBytes, minPack, packBits;
};

const std::vector<Layout>& layouts() {
    static const std::vector<Layout> kLayouts = {
        {{{3, 11, 2, false, 8, 16411},
          {15, 1200, 6, true, 45, 32768},
          {252, 8, 1208, true, 45, 33808},
          {3, 11, 1218, true, 8, 32795}},
         {{0, 1, 0, 0}, {3, 4, 0, 0}, {8, 1202, 1, 0}, {4, 10, 2, 0}, {3, 4, 4, 0}},
         1221,
         1,
         3,
         1},
        {{{254, 120, 2, true, 45, 32768},
          {3, 11, 122, false, 8, 16411},
          {246, 12, 126, true, 0, 33283},
          {254, 255, 131, true, 8, 32768},
          {8, 20, 386, true, 8, 32835}},
         {{0, 1, 0, 0}, {1, 120, 1, 0}, {3, 4, 0, 0}, {2, 5, 2, 0}, {1, 255, 4, 0}, {3, 8, 8, 0}},
         393,
         1,
         5,
         1},
        {{{3, 11, 4, false, 8, 16411},
          {15, 1200, 8, true, 45, 32768},
          {15, 10, 1210, true, 8, 32768},
          {16, 3, 1305, true, 8, 32770},
          {16, 10, 1305, true, 8, 32770},
          {15, 50, 1306, true, 63, 32769},
          {249, 8, 1357, true, 63, 33801},
          {252, 8, 1366, true, 63, 33809},
          {250, 8, 1376, true, 45, 33864},
          {251, 8, 1387, true, 63, 33817}},
         {{0, 3, 0, 0},
          {3, 4, 0, 0},
          {8, 1202, 1, 0},
          {8, 11, 2, 0},
          {3, 1, 1, 1},
          {8, 51, 8, 1},
          {4, 9, 16, 1},
          {4, 10, 32, 1},
          {4, 11, 64, 1},
          {4, 12, 128, 1}},
         1399,
         3,
         9,
         2},
    };
    return kLayouts;
}

void applyLayout(MyisamReader& ctx, const Layout& layout) {
    ctx.columns.clear();
    for (const ColumnSpec& s : layout.columns) {
        ColumnDefinition c;
        c.typeCode = s.typeCode;
        c.length = s.length;
        c.recordPos = s.recordPos;
        c.nullable = s.nullable ? 1 : 0;
        c.charset = s.charset;
        c.packFlags = s.packFlags;
        if (s.typeCode == 246) {
            c.precision = 10;
            c.decimals = 2;
        }
        ctx.columns.push_back(c);
    }
    ctx.myisamColumns.clear();
    for (const FieldSpec& f : layout.fields)
        ctx.myisamColumns.push_back({f.type, f.length, f.nullBit, f.nullPos, {}, 0});
    ctx.recordLength = layout.recordLength;
    ctx.myisamRecordLength = layout.recordLength;
    ctx.packedRecordLength = layout.recordLength;
    ctx.nullBitmapBytes = layout.nullBytes;
    ctx.minPackLength = layout.minPack;
    ctx.packBits = static_cast<std::uint16_t>(layout.packBits);
}

const std::filesystem::path& scratchFile() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("myisam_dynamic_fuzz_" + std::to_string(::getpid()) + ".MYD");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    MyisamReader ctx;
    const Layout& layout = layouts()[data[0] % layouts().size()];
    const std::uint8_t mode = data[1];
    const dunmore::core::ByteSpan body(data + 2, size - 2);
    applyLayout(ctx, layout);
    if (mode & 2) {
        ctx.myisamColumns.clear();
        (void)dunmore::myisam::parseMyisamHeader(body, body.size(), ctx);
    }
    ctx.myisamRowFormat =
        (mode & 1) ? dunmore::myisam::kRowFormatFixed : dunmore::myisam::kRowFormatDynamic;

    const dunmore::myisam::MyisamRowLayout rowLayout =
        dunmore::myisam::buildRowLayout(ctx, {(mode & 4) != 0});
    (void)dunmore::myisam::unpackDynamicRecord(ctx, rowLayout, body);
    ctx.previewRows.clear();

    if (std::FILE* f = std::fopen(scratchFile().c_str(), "wb")) {
        std::fwrite(body.data(), 1, body.size(), f);
        std::fclose(f);
    }
    if (!ctx.dataFile.open(scratchFile())) return 0;
    dunmore::myisam::WalkOptions options;
    options.decode = {(mode & 4) != 0};
    options.onRow = [&](std::uint64_t) {
        ctx.previewRows.clear();
        return true;
    };
    (void)dunmore::myisam::walkMyisamRows(ctx, 0, options);
    ctx.dataFile.close();
    return 0;
}
