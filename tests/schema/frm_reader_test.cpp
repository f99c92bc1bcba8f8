// The .frm reader over hand-built images: failure paths and the edge cases of the format.
#include "schema/frm_reader.h"

#include "schema/collation_table.h"
#include "support/frm_builder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace dunmore::schema {
namespace {

namespace fs = std::filesystem;
using test::FrmBuilder;
using test::FrmImage;

fs::path tempDir() {
    const fs::path dir = fs::path(DUNMORE_BINARY_DIR) / "schema_test_tmp";
    fs::create_directories(dir);
    return dir;
}

struct ReadOutcome {
    core::Status status;
    bool result = false;
    core::TableDefinitionState ctx;
    core::AppSettings settings;
};

// Reads bytes as a .frm file into a context that still holds a previous table (engine
// 77, record length 999) so that "nothing changed" can be seen.
void holdPreviousTable(core::TableDefinitionState& ctx) {
    ctx.engineCode = 77;
    ctx.tableCharset = 5;
    ctx.recordLength = 999;
    ctx.nullBitmapBytes = 9;
}

std::unique_ptr<ReadOutcome> readImage(const core::Bytes& bytes, const std::string& name = "t.frm") {
    auto out = std::make_unique<ReadOutcome>();
    holdPreviousTable(out->ctx);
    const fs::path path = tempDir() / name;
    test::writeBytes(path, bytes);
    out->status = readTableDefinitionStatus(out->ctx, path, out->settings);
    core::TableDefinitionState second;
    holdPreviousTable(second);
    out->result = readTableDefinition(second, path, out->settings);
    EXPECT_EQ(second.columns.size(), out->ctx.columns.size());
    return out;
}

FrmBuilder twoColumns() {
    FrmBuilder b;
    b.column("id", 3, 11, 0x401b);
    b.column("name", 15, 30, 0x8000, 8);
    b.keys.push_back({"PRIMARY", true, {{1, 4}}});
    return b;
}

TEST(FrmReader, FailurePaths) {
    struct Case {
        const char* name;
        core::Bytes bytes;
        core::StatusCode code;
        bool changesEngine;
    };
    const FrmImage good = twoColumns().build();
    auto withU16 = [&](std::size_t pos, std::uint32_t v) {
        core::Bytes b = good.bytes;
        test::putU16le(b, pos, v);
        return b;
    };
    auto withByte = [&](std::size_t pos, std::uint8_t v) {
        core::Bytes b = good.bytes;
        b[pos] = v;
        return b;
    };
    FrmBuilder fewerNames = twoColumns();
    fewerNames.declaredFieldCount = 3;
    FrmBuilder noTerminator = twoColumns();
    noTerminator.rawNames = "\xFFid\xFFname";
    core::Bytes formPosZero = good.bytes;
    test::putU32le(formPosZero, 64 + 4, 0);
    core::Bytes formPosFar = good.bytes;
    test::putU32le(formPosFar, 64 + 4, 0x7FFFFFF0);

    const Case cases[] = {
        {"empty file", {}, core::StatusCode::Unsupported, false},
        {"shorter than the header", test::truncateAt(good.bytes, 63), core::StatusCode::Unsupported, false},
        {"bad signature byte 0", withByte(0, 0xFD), core::StatusCode::Unsupported, false},
        {"bad signature byte 1", withByte(1, 0x02), core::StatusCode::Unsupported, false},
        {"a view file", core::Bytes{'T', 'Y', 'P', 'E', '=', 'V', 'I', 'E', 'W', '\n'}, core::StatusCode::Unsupported, false},
        {"version 8", withByte(2, 8), core::StatusCode::Unsupported, false},
        {"version 12", withByte(2, 12), core::StatusCode::Unsupported, false},
        {"header only", test::truncateAt(good.bytes, 66), core::StatusCode::Corrupt, true},
        {"no form names", withU16(8, 0), core::StatusCode::Corrupt, true},
        {"form position 0", formPosZero, core::StatusCode::Corrupt, true},
        {"form position past the file", formPosFar, core::StatusCode::Corrupt, true},
        {"form-name block past the file", withU16(4, 0xFFF0), core::StatusCode::Corrupt, true},
        {"fewer names than columns", fewerNames.build().bytes, core::StatusCode::Corrupt, true},
        {"column count past the file", withU16(good.formPos + 258, 4000), core::StatusCode::Corrupt, true},
        {"screens past the file", withU16(good.formPos + 260, 60000), core::StatusCode::Corrupt, true},
        {"names cut inside the records", test::truncateAt(good.bytes, good.namesOffset - 3), core::StatusCode::Corrupt, true},
        {"name list without terminator", noTerminator.build().bytes, core::StatusCode::Ok, true},
        {"key section past the file", withU16(6, 0xFF00), core::StatusCode::Ok, true},
        {"key count beyond the section", withByte(good.keyOffset, 100), core::StatusCode::Ok, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto out = readImage(c.bytes);
        EXPECT_EQ(out->status.code(), c.code) << out->status.message();
        EXPECT_EQ(out->result, c.code != core::StatusCode::Corrupt && c.code != core::StatusCode::IoError);
        EXPECT_EQ(out->ctx.engineCode == 77, !c.changesEngine);
        if (c.code != core::StatusCode::Ok) {
            EXPECT_TRUE(out->ctx.columns.empty());
            EXPECT_EQ(out->ctx.recordLength, 999u);
            EXPECT_EQ(out->ctx.nullBitmapBytes, 9u);
        }
    }
}

TEST(FrmReader, MissingFileChangesNothing) {
    core::TableDefinitionState ctx;
    core::AppSettings settings;
    ctx.engineCode = 77;
    const fs::path path = tempDir() / "no_such_table.frm";
    EXPECT_EQ(readTableDefinitionStatus(ctx, path, settings).code(), core::StatusCode::IoError);
    // A definition that cannot be read is a failure, not a success with nothing read.
    EXPECT_FALSE(readTableDefinition(ctx, path, settings));
    EXPECT_EQ(ctx.engineCode, 77);
}

TEST(FrmReader, ReadsColumnsKeysAndHeader) {
    FrmBuilder b = twoColumns();
    b.engine = 12;
    b.tableCharset = 0x0121;  // two-byte collation numbers use byte 41 as the high byte
    b.mysqlVersion = 50600;
    b.columns[1].comment = "the name";
    const auto out = readImage(b.build().bytes);
    ASSERT_TRUE(out->status) << out->status.message();
    const auto& ctx = out->ctx;
    EXPECT_EQ(ctx.engineCode, 12);
    EXPECT_EQ(ctx.tableCharset, 0x0121u);
    EXPECT_EQ(ctx.mysqlVersion, 50600u);
    EXPECT_TRUE(out->settings.version56OrLater);
    ASSERT_EQ(ctx.columns.size(), 2u);
    EXPECT_EQ(ctx.columns[0].name, "id");
    EXPECT_EQ(ctx.columns[0].index, 0u);
    EXPECT_EQ(ctx.columns[0].recordPos, 1u);
    EXPECT_EQ(ctx.columns[0].nullable, 0);
    EXPECT_EQ(ctx.columns[0].inPrimaryKey, 1);
    EXPECT_EQ(ctx.columns[0].packFlags, 0x401b);
    EXPECT_EQ(ctx.columns[1].recordPos, 12u);
    EXPECT_EQ(ctx.columns[1].length, 30);
    EXPECT_EQ(ctx.columns[1].nullable, 1);
    EXPECT_EQ(ctx.columns[1].comment, "the name");
    ASSERT_EQ(ctx.keys.size(), 1u);
    EXPECT_TRUE(ctx.keys[0].primary);
    EXPECT_TRUE(ctx.keys[0].unique);
    ASSERT_EQ(ctx.keys[0].parts.size(), 1u);
    EXPECT_EQ(ctx.keys[0].parts[0].fieldNumber, 1u);
    EXPECT_EQ(ctx.keys[0].parts[0].length, 4u);

    // A file cut inside the comment text keeps what is there.
    const auto cut = readImage(test::truncateAt(b.build().bytes, b.build().bytes.size() - 3));
    ASSERT_TRUE(cut->status) << cut->status.message();
    EXPECT_EQ(cut->ctx.columns[1].comment, "the n");
    // Comment lengths beyond the comment text are cut at its end.
    FrmBuilder longer = b;
    longer.columns[0].comment = "";
    core::Bytes claims = longer.build().bytes;
    test::putU16le(claims, longer.build().columnSection + 15, 500);
    const auto over = readImage(claims);
    ASSERT_TRUE(over->status) << over->status.message();
    EXPECT_EQ(over->ctx.columns[0].comment, "the name");
    EXPECT_EQ(over->ctx.columns[1].comment, "");

    b.mysqlVersion = 50599;
    EXPECT_FALSE(readImage(b.build().bytes)->settings.version56OrLater);
    b.oldCharsetLayout = 1;  // header byte 32 set: no table character set
    EXPECT_EQ(readImage(b.build().bytes)->ctx.tableCharset, 0u);
}

TEST(FrmReader, DecimalPrecisionAndFloatDecimals) {
    struct Case {
        const char* name;
        std::uint8_t type;
        std::uint16_t length;
        std::uint16_t pack;
        int precision;
        int decimals;
        bool isUnsigned;
    };
    const Case cases[] = {
        {"signed NEWDECIMAL(10,2)", 246, 12, 0x0201, 10, 2, false},
        {"unsigned NEWDECIMAL(11,2)", 246, 12, 0x0200, 11, 2, true},
        {"DECIMAL(5,0) has no point", 246, 6, 0x0001, 5, 0, false},
        {"old DECIMAL", 0, 7, 0x0201, 5, 2, false},
        {"precision capped at 65", 246, 90, 0x0201, 65, 2, false},
        {"FLOAT not fixed (MySQL 31)", 4, 12, 0x1F01, 0, 0, false},
        {"FLOAT not fixed (MariaDB 39)", 4, 12, 0x2701, 0, 0, false},
        {"FLOAT(10,3)", 4, 10, 0x0301, 10, 3, false},
        {"DOUBLE(30,30) unsigned", 5, 30, 0x1E00, 30, 30, true},
        {"INT keeps no precision", 3, 11, 0x0301, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrmBuilder b;
        b.column("d", c.type, c.length, c.pack, 0);
        const auto out = readImage(b.build().bytes);
        ASSERT_TRUE(out->status) << out->status.message();
        ASSERT_EQ(out->ctx.columns.size(), 1u);
        EXPECT_EQ(out->ctx.columns[0].precision, c.precision);
        EXPECT_EQ(out->ctx.columns[0].decimals, c.decimals);
        EXPECT_EQ(out->ctx.columns[0].isUnsigned, c.isUnsigned);
    }
}

TEST(FrmReader, EnumAndSetMembers) {
    FrmBuilder b;
    b.column("e", 247, 4, 0x8108, 8).intervalNumber = 2;  // lists need not follow column order
    b.column("s", 248, 4, 0x8208, 8).intervalNumber = 1;
    b.column("f", 247, 4, 0x8108, 8);  // number 0: the count of ENUM/SET columns before it
    b.column("g", 247, 4, 0x8108, 8).intervalNumber = 9;  // no such list
    b.intervals = {{"x", "y'z"}, {"a", "", "b c"}, {"p", "q", "r"}};
    const auto out = readImage(b.build().bytes);
    ASSERT_TRUE(out->status) << out->status.message();
    const auto& cols = out->ctx.columns;
    ASSERT_EQ(cols.size(), 4u);
    EXPECT_EQ(cols[0].intervalText, "'a','b c'");
    EXPECT_EQ(cols[0].members, (std::vector<std::string>{"a", "", "b c"}));
    EXPECT_EQ(cols[1].intervalText, "'x','y'z'");
    EXPECT_EQ(cols[2].members, (std::vector<std::string>{"p", "q", "r"}));
    EXPECT_TRUE(cols[3].members.empty());
    EXPECT_TRUE(cols[3].intervalText.empty());
    EXPECT_EQ(out->ctx.intervalValues,
              (std::vector<std::string>{"x", "y'z", "a", "", "b c", "p", "q", "r"}));
}

TEST(FrmReader, MembersInTheColumnsCharacterSet) {
    CollationTable table;
    table.insert(8, {1, 1, "latin1", "latin1_swedish_ci"});
    table.insert(35, {2, 2, "ucs2", "ucs2_general_ci"});
    table.insert(45, {1, 4, "utf8mb4", "utf8mb4_general_ci"});
    table.insert(56, {2, 4, "utf16le", "utf16le_general_ci"});
    setApplicationCollations(table);
    FrmBuilder b;
    b.column("l", 247, 1, 0x8108, 8).intervalNumber = 1;
    b.column("u", 247, 1, 0x8108, 35).intervalNumber = 2;
    b.column("m", 247, 1, 0x8108, 45).intervalNumber = 3;
    b.column("w", 247, 1, 0x8108, 56).intervalNumber = 4;
    // latin1 bytes; ucs2 as hexadecimal text of big-endian units; UTF-8; utf16le hex.
    b.intervals = {{"caf\xE9", "\x80"}, {"00E9", "20AC"}, {"\xE6\x97\xA5", "b\xFE"}, {"E900"}};
    const auto out = readImage(b.build().bytes);
    setApplicationCollations({});
    ASSERT_TRUE(out->status) << out->status.message();
    const auto& cols = out->ctx.columns;
    EXPECT_EQ(cols[0].members, (std::vector<std::string>{"caf\xC3\xA9", "\xE2\x82\xAC"}));
    EXPECT_EQ(cols[1].members, (std::vector<std::string>{"\xC3\xA9", "\xE2\x82\xAC"}));
    EXPECT_EQ(cols[2].members, (std::vector<std::string>{"\xE6\x97\xA5", "b\xC3\xBE"}));
    EXPECT_EQ(cols[3].members, (std::vector<std::string>{"\xC3\xA9"}));
}

TEST(FrmReader, NamesAndCommentsAreUtf8WithFallback) {
    FrmBuilder b;
    b.column("pr\xC3\xA9nom", 3, 11).comment = "it's \xE2\x9C\x93";
    b.column("caf\xE9", 3, 11).comment = std::string("cut\0here", 8);
    b.keys.push_back({"k\xE9y", false, {{1, 4}}});
    const auto out = readImage(b.build().bytes);
    ASSERT_TRUE(out->status) << out->status.message();
    EXPECT_EQ(out->ctx.columns[0].name, "pr\xC3\xA9nom");
    EXPECT_EQ(out->ctx.columns[0].comment, "it's \xE2\x9C\x93");
    EXPECT_EQ(out->ctx.columns[1].name, "caf\xC3\xA9");
    EXPECT_EQ(out->ctx.columns[1].comment, "cut");
    EXPECT_EQ(out->ctx.keys[0].name, "k\xC3\xA9y");
}

TEST(FrmReader, KeyFlags) {
    FrmBuilder b;
    for (const char* n : {"a", "b", "c", "d", "e"}) b.column(n, 3, 11, 0x8001);
    b.keys = {{"primary", true, {{2, 4}, {1, 4}}},
              {"UX1", true, {{3, 4}, {2, 4}}},
              {"PRIMARYX", true, {{4, 4}}},
              {"plain", false, {{5, 4}}},
              {"out of range", true, {{0, 4}, {9, 4}}}};
    const auto out = readImage(b.build().bytes);
    ASSERT_TRUE(out->status) << out->status.message();
    const auto& cols = out->ctx.columns;
    const int expectPk[] = {1, 1, 0, 0, 0};
    // b is in both the primary key and UX1: both flags are set.
    const int expectUk[] = {0, 1, 1, 1, 0};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cols[i].inPrimaryKey, expectPk[i]);
        EXPECT_EQ(cols[i].inUniqueKey, expectUk[i]);
    }
    ASSERT_EQ(out->ctx.keys.size(), 5u);
    // The key parts keep their order (b before a), which the InnoDB layout needs.
    EXPECT_EQ(out->ctx.keys[0].parts[0].fieldNumber, 2u);
    EXPECT_EQ(out->ctx.keys[0].parts[1].fieldNumber, 1u);
    EXPECT_FALSE(out->ctx.keys[3].unique);
    EXPECT_FALSE(out->ctx.keys[2].primary);

    b.declaredKeyParts = 0;  // a key section that declares no parts flags nothing
    const auto none = readImage(b.build().bytes);
    for (const auto& c : none->ctx.columns) EXPECT_EQ(c.inPrimaryKey + c.inUniqueKey, 0);
}

TEST(FrmReader, NullBitmapBytes) {
    struct Case {
        const char* name;
        int nullable;
        int bitLength;  // a nullable BIT column of this length when > 0
        std::uint16_t createOptions;
        std::uint8_t oldLayout;
        std::uint32_t bytes;
    };
    const Case cases[] = {
        {"three nullable", 3, 0, 0, 0, 1},
        {"seven nullable fill the first byte", 7, 0, 0, 0, 1},
        {"eight nullable", 8, 0, 0, 0, 2},
        {"nullable BIT(10) only", 0, 10, 0, 0, 1},
        {"nothing nullable", 0, 0, 0, 0, 1},
        {"packed rows start at bit 0", 8, 0, 1, 0, 1},
        {"old layout starts at bit 0", 0, 0, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrmBuilder b;
        b.createOptions = c.createOptions;
        b.oldCharsetLayout = c.oldLayout;
        b.column("k", 3, 11, 0x0001);
        for (int i = 0; i < c.nullable; ++i) b.column("n" + std::to_string(i), 3, 11, 0x8001);
        if (c.bitLength > 0) b.column("bits", 16, c.bitLength, 0x8000);
        const auto out = readImage(b.build().bytes);
        ASSERT_TRUE(out->status) << out->status.message();
        EXPECT_EQ(out->ctx.nullBitmapBytes, c.bytes);
    }
    FrmBuilder asChar;  // BIT stored as characters has no bits in the null area
    for (int i = 0; i < 7; ++i) asChar.column("n" + std::to_string(i), 3, 11, 0x8001);
    asChar.column("bits", 16, 7, 0x1000);
    EXPECT_EQ(readImage(asChar.build().bytes)->ctx.nullBitmapBytes, 1u);
}

TEST(FrmReader, GeometryAndOldVersions) {
    FrmBuilder g;
    g.column("p", 255, 8, 0x8819, 0).geometryType = 1;
    const auto geo = readImage(g.build().bytes);
    ASSERT_TRUE(geo->status);
    EXPECT_EQ(geo->ctx.columns[0].geometryType, 1);
    EXPECT_EQ(geo->ctx.columns[0].charset, 63);  // geometry data is binary

    for (const std::uint8_t version : {6, 7}) {
        SCOPED_TRACE(int(version));
        FrmBuilder b;
        b.version = version;
        // Field type in pack-flag bits 3-6, bit 14 ignored, bit 15 nullable.
        b.column("a", 0, 9, (3 << 3) | 0x4000 | 0x8000);
        b.column("b", 0, 20, 0x0200 | (1 << 3)).comment = "ignored";
        b.keys.push_back({"PRIMARY", true, {{2, 20}}});
        const auto out = readImage(b.build().bytes);
        ASSERT_TRUE(out->status) << out->status.message();
        ASSERT_EQ(out->ctx.columns.size(), 2u);
        EXPECT_EQ(out->ctx.columns[0].typeCode, 3u);
        EXPECT_EQ(out->ctx.columns[0].nullable, 1);
        EXPECT_EQ(out->ctx.columns[0].length, 9);
        EXPECT_EQ(out->ctx.columns[1].typeCode, 1u);
        EXPECT_EQ(out->ctx.columns[1].charset, 0);
        EXPECT_EQ(out->ctx.columns[1].decimals, 0);
        EXPECT_TRUE(out->ctx.columns[1].comment.empty());
        EXPECT_EQ(out->ctx.columns[1].inPrimaryKey, 1);
        EXPECT_EQ(out->ctx.keys[0].parts[0].length, 20u);
    }
}

TEST(FrmReader, VersionElevenReadsLikeTen) {
    FrmBuilder b = twoColumns();
    b.version = 11;  // MariaDB: a section of column expressions follows the comments
    const auto out = readImage(b.build().bytes);
    ASSERT_TRUE(out->status) << out->status.message();
    EXPECT_EQ(out->ctx.columns.size(), 2u);
}

TEST(FrmReader, ColumnsNoEngineStoresAreLeftOut) {
    FrmBuilder b;
    b.version = 11;
    for (const char* n : {"a", "hash", "v", "s", "z"}) b.column(n, 3, 11, 0x8001);
    // extra2: a table version entry, then per-column flags (column 1 invisible to all).
    b.extra2 = std::string("\x00\x02xy", 4) + std::string("\x81\x05\x00\x03\x00\x02\x01", 7);
    // Expressions: v VIRTUAL, s STORED, a table CHECK.
    auto entry = [](char kind, std::uint16_t field, const std::string& expr) {
        std::string e(1, kind);
        e += static_cast<char>(field & 0xFF);
        e += static_cast<char>(field >> 8);
        e += static_cast<char>(expr.size());
        e += '\0';
        e += '\0';  // no name
        return e + expr;
    };
    b.expressions = std::string(16, '\0') + entry(0, 2, "`a` + 1") + entry(1, 3, "`a` * 2") +
                    entry(4, 0xFFFF, "`a` > 0");
    b.keys = {{"PRIMARY", true, {{5, 4}}}, {"k", true, {{3, 4}, {4, 4}, {1, 4}}}};
    const auto out = readImage(b.build().bytes);
    ASSERT_TRUE(out->status) << out->status.message();
    const auto& cols = out->ctx.columns;
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].name, "a");
    EXPECT_EQ(cols[1].name, "s");
    EXPECT_EQ(cols[2].name, "z");
    EXPECT_EQ(cols[2].index, 2u);
    EXPECT_EQ(cols[2].recordPos, 45u);  // positions stay those of the row image
    EXPECT_EQ(cols[2].inPrimaryKey, 1);
    // The null bitmap still counts every column of the row image.
    EXPECT_EQ(out->ctx.nullBitmapBytes, 1u);
    ASSERT_EQ(out->ctx.keys.size(), 2u);
    EXPECT_EQ(out->ctx.keys[0].parts[0].fieldNumber, 3u);
    ASSERT_EQ(out->ctx.keys[1].parts.size(), 2u);  // the part over v is left out
    EXPECT_EQ(out->ctx.keys[1].parts[0].fieldNumber, 2u);
    EXPECT_EQ(out->ctx.keys[1].parts[1].fieldNumber, 1u);

    // Old files have form names at 64 and version 10 files no expression section.
    b.extra2 = std::string("//\0\x81", 4);
    b.version = 10;
    EXPECT_EQ(readImage(b.build().bytes)->ctx.columns.size(), 5u);
}

TEST(FrmReader, ReadOnlySourceStaysUnchanged) {
    const FrmImage img = twoColumns().build();
    const fs::path path = tempDir() / "readonly.frm";
    fs::remove(path);
    test::writeBytes(path, img.bytes);
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    core::TableDefinitionState ctx;
    core::AppSettings settings;
    EXPECT_TRUE(readTableDefinitionStatus(ctx, path, settings));
    EXPECT_EQ(ctx.columns.size(), 2u);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_mtime, after.st_mtime);
    EXPECT_EQ(test::readFileText(path).size(), img.bytes.size());
    fs::permissions(path, fs::perms::owner_all);
}

}  // namespace
}  // namespace dunmore::schema
