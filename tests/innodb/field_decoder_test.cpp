// InnoDB field bytes to value texts: integer byte order and signedness, the text
// conversion of unknown character sets, the BLOB rules, and externally stored values
// followed part by part through a small hand-built tablespace.
#include "innodb/field_decoder.h"

#include "innodb/blob_file.h"
#include "innodb/page_check.h"
#include "innodb/tablespace_format.h"
#include "support/fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <utility>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;
using Bytes = std::vector<std::uint8_t>;

core::InnodbColumn field(std::uint32_t typeCode, std::uint32_t mainType, std::uint32_t preciseType,
                         bool frmUnsigned = false, std::int32_t charset = 8) {
    core::InnodbColumn f;
    f.mainType = mainType;
    f.preciseType = preciseType;
    f.column.typeCode = typeCode;
    f.column.isUnsigned = frmUnsigned;
    f.column.charset = charset;
    return f;
}

TEST(InnodbFieldDecoder, IntegersTurnFromStoredOrderIntoTheirValues) {
    struct Case { const char* name; core::InnodbColumn f; Bytes stored; const char* text; };
    const Case kCases[] = {
        {"signed SMALLINT 5", field(2, 6, 0x100), {0x80, 0x05}, "5"},
        {"signed SMALLINT -5", field(2, 6, 0x100), {0x7F, 0xFB}, "-5"},
        {"signed TINYINT -128", field(1, 6, 0x100), {0x00}, "-128"},
        {"TINYINT UNSIGNED 255", field(1, 6, 0x300), {0xFF}, "255"},
        {"MEDIUMINT -1", field(9, 6, 0x100), {0x7F, 0xFF, 0xFF}, "-1"},
        {"INT UNSIGNED from the dictionary", field(3, 6, 0x300), {0x00, 0x00, 0x00, 0x05}, "5"},
        {"INT UNSIGNED from the definition", field(3, 6, 0x100, true), {0xEE, 0x6B, 0x28, 0x00},
         "4000000000"},
        {"INT -2147483648", field(3, 6, 0x100), {0x00, 0x00, 0x00, 0x00}, "-2147483648"},
        {"BIGINT UNSIGNED max", field(8, 6, 0x300), Bytes(8, 0xFF), "18446744073709551615"},
        {"BIGINT -1", field(8, 6, 0x100), {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
    };
    core::AppSettings settings;
    auto ctx = std::make_unique<innodb::InnodbReader>();
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(innodb::decodeInnodbField(*ctx, settings, c.stored, c.f, false), c.text);
        // The conversion leaves other main types alone.
        Bytes copy = c.stored;
        auto other = c.f;
        other.mainType = 3;
        innodb::convertIntegerField(copy, other);
        EXPECT_EQ(copy, c.stored);
    }
}

TEST(InnodbFieldDecoder, TextOfUnknownCharacterSets) {
    struct Case { const char* name; std::string bytes; const char* text; };
    const Case kCases[] = {
        {"UTF-8", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"Windows-1252", "caf\xE9", "caf\xC3\xA9"},
        {"ASCII up to the zero byte", std::string("ab\0cd", 5), "ab"},
        {"empty", "", ""},
        {"euro sign in Windows-1252", "\x80", "\xE2\x82\xAC"},
    };
    core::AppSettings settings;
    auto ctx = std::make_unique<innodb::InnodbReader>();
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(innodb::textFromBytes(core::asBytes(c.bytes)), c.text);
        // A VARCHAR of a column without a character set is decoded the same way.
        EXPECT_EQ(innodb::decodeInnodbField(*ctx, settings, core::asBytes(c.bytes),
                                            field(15, 1, 0, false, 0), false),
                  c.text);
    }
}

TEST(InnodbFieldDecoder, BlobAndTextValuesStoredInTheRecord) {
    core::AppSettings settings;
    auto ctx = std::make_unique<innodb::InnodbReader>();
    const std::string longText(5000, 'q');
    struct Case { const char* name; core::InnodbColumn f; std::string bytes; bool external; bool saving; std::string text; };
    const Case kCases[] = {
        {"binary BLOB", field(252, 5, 0x4000, false, 63), "\x01\x02", false, false, "0x0102"},
        {"empty BLOB", field(252, 5, 0x4000, false, 63), "", false, true, ""},
        {"latin1 TEXT", field(252, 5, 0, false, 8), "caf\xE9", false, false, "caf\xC3\xA9"},
        {"TEXT with a zero byte", field(251, 5, 0, false, 45), std::string("a\0b", 3), false, true,
         std::string("a\0b", 3)},
        {"long TEXT previews whole", field(252, 5, 0, false, 45), longText, false, false, longText},
        {"externally stored LONGTEXT in preview", field(251, 5, 0, false, 45), std::string(20, '\0'),
         true, false, "Large Size Blob Data"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        settings.savingScript = c.saving;
        EXPECT_EQ(innodb::decodeInnodbField(*ctx, settings, core::asBytes(c.bytes), c.f, c.external),
                  c.text);
    }
}

// A tablespace of three pages whose pages 1 and 2 hold the parts of one value.
class ExternalValue : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_external_value";
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        std::string image(3 * 16384, '\0');
        for (std::size_t i = 0; i < m_value.size(); ++i) m_value[i] = static_cast<char>('a' + i % 23);
        // Part 1 fills its page (16,330 bytes between the FIL header with the part header
        // and the FIL trailer), part 2 holds the remaining 3,670 bytes.
        putPart(image, 1, kFirstPart, 2, 0);
        putPart(image, 2, 20000 - kFirstPart, 0xFFFFFFFF, kFirstPart);
        test::writeFileText(m_dir / "t.ibd", image);
        // The same with part 2 on a page of another type: an index page, and type 18
        // (MySQL 8's SDI BLOB page, MariaDB's root page of an instantly altered index).
        for (const auto& [name, type] : {std::pair{"index.ibd", 17855}, std::pair{"sdi.ibd", 18}}) {
            std::string retyped = image;
            retyped[2 * 16384 + 24] = static_cast<char>(type >> 8);
            retyped[2 * 16384 + 25] = static_cast<char>(type & 0xFF);
            seal(retyped, 2);
            test::writeFileText(m_dir / name, retyped);
        }
        // The same with a byte of part 2 changed after the server wrote it.
        image[2 * 16384 + 100] ^= 0x01;
        test::writeFileText(m_dir / "damaged.ibd", image);
        ASSERT_TRUE(m_ctx->tablespaceFile.open(m_dir / "t.ibd").isOk());
        m_ctx->tablespacePageCount = 3;
        m_ctx->tablespaceSelected = true;
        m_settings.savingScript = true;
        m_settings.savingFolder = (m_dir / "Scriptdata").string();
    }
    static void putU32(std::string& img, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) img[at + i] = static_cast<char>(v >> (24 - 8 * i));
    }
    // A BLOB page (type 10) holding one part, sealed as the server writes it.
    void putPart(std::string& img, std::uint32_t page, std::uint32_t length, std::uint32_t next,
                 std::size_t from) {
        const std::size_t base = page * 16384 + 38;
        putU32(img, page * 16384 + 4, page);
        img[page * 16384 + 25] = 10;
        putU32(img, base, length);
        putU32(img, base + 4, next);
        img.replace(base + 8, length, m_value.substr(from, length));
        seal(img, page);
    }
    static void seal(std::string& img, std::uint32_t page) {
        innodb::writePageChecksum(
            std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(img.data() + page * 16384), 16384),
            innodb::PageChecksum::FullCrc32);
    }
    static constexpr std::uint32_t kFirstPart = 16384 - 38 - 8 - 8;
    // The in-record part: a prefix, then the 20-byte reference to page 1 for `total` bytes.
    std::string field(const std::string& prefix, std::uint32_t page, std::uint32_t total) const {
        std::string f = prefix + std::string(20, '\0');
        const std::size_t r = prefix.size();
        putU32(f, r + 4, page);
        putU32(f, r + 8, 38);
        putU32(f, r + 16, total);
        return f;
    }

    static std::string hex(const std::string& bytes) {
        static const char* d = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : bytes) {
            out.push_back(d[c >> 4]);
            out.push_back(d[c & 15]);
        }
        return out;
    }

    fs::path m_dir;
    std::string m_value = std::string(20000, ' ');
    core::AppSettings m_settings;
    std::unique_ptr<innodb::InnodbReader> m_ctx = std::make_unique<innodb::InnodbReader>();
};

// A value is copied to its stated length; one whose parts cannot all be read (the chain
// ends short or leaves the file, a part page does not verify) is damaged, and only the
// parts read before are handed on.
TEST_F(ExternalValue, PartsAreCopiedToTheStatedLengthAcrossPages) {
    struct Case {
        const char* name;
        const char* file;
        std::uint32_t total;
        std::uint32_t page;
        std::size_t handed;  // bytes handed on
        bool whole;          // the copy reports the value whole
    };
    const Case kCases[] = {
        {"whole value", "t.ibd", 20000, 1, 20000, true},
        {"stated length shorter than the parts", "t.ibd", 17000, 1, 17000, true},
        {"stated length longer than the chain", "t.ibd", 50000, 1, 20000, false},
        {"first part beyond the file", "t.ibd", 20000, 9, 0, false},
        {"first part on page 0", "t.ibd", 20000, 0, 0, false},
        {"second part page damaged", "damaged.ibd", 20000, 1, kFirstPart, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        core::ReadOnlyFile file;
        ASSERT_TRUE(file.open(m_dir / c.file).isOk());
        const std::string f = field("", c.page, c.total);
        const auto ref = innodb::readExternalReference(core::asBytes(f));
        ASSERT_TRUE(ref.has_value());
        std::string got;
        const auto n = innodb::copyExternalParts(file, innodb::kDefaultPageSize, 3, *ref, [&](core::ByteSpan part) {
            got += core::asText(part);
            return true;
        });
        EXPECT_EQ(n.isOk(), c.whole) << (n.isOk() ? "" : n.status().message());
        if (n.isOk()) EXPECT_EQ(*n, c.handed);
        else EXPECT_EQ(n.status().code(), core::StatusCode::Corrupt);
        EXPECT_EQ(got, m_value.substr(0, c.handed));
    }
}

// A part chain that leads to a page which is no BLOB page is damage where the server
// marks every BLOB page (full_crc32, DYNAMIC and COMPRESSED tablespaces); older
// tablespaces, whose servers could leave a BLOB page's type as it was, read on.
TEST_F(ExternalValue, APartOnAPageOfAnotherTypeIsDamageWhereServersMarkBlobPages) {
    innodb::TablespaceFormat old = innodb::plainFormat(innodb::kDefaultPageSize);
    innodb::TablespaceFormat fullCrc32 = old;
    fullCrc32.fullCrc32 = true;
    innodb::TablespaceFormat dynamic = old;
    dynamic.atomicBlobs = true;
    struct Case {
        const char* name;
        const char* file;
        const innodb::TablespaceFormat* format;
        bool sdiRecord;
        bool whole;
        const char* type;  // of page 2, when the chain is damage there
    };
    const Case kCases[] = {
        {"BLOB pages, full_crc32", "t.ibd", &fullCrc32, false, true, ""},
        {"index page, full_crc32", "index.ibd", &fullCrc32, false, false, "17855"},
        {"index page, DYNAMIC", "index.ibd", &dynamic, false, false, "17855"},
        {"index page, older tablespace", "index.ibd", &old, false, true, ""},
        {"SDI record on SDI BLOB pages, DYNAMIC", "sdi.ibd", &dynamic, true, true, ""},
        {"table value on an instant root page, full_crc32", "sdi.ibd", &fullCrc32, false, false, "18"},
        {"table value on an instant root page, DYNAMIC", "sdi.ibd", &dynamic, false, false, "18"},
    };
    const std::string f = field("", 1, 20000);
    const auto ref = innodb::readExternalReference(core::asBytes(f));
    ASSERT_TRUE(ref.has_value());
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        core::ReadOnlyFile file;
        ASSERT_TRUE(file.open(m_dir / c.file).isOk());
        std::string got;
        const auto n = innodb::copyExternalParts(
            file, *c.format, 3, *ref,
            [&](core::ByteSpan part) {
                got += core::asText(part);
                return true;
            },
            c.sdiRecord);
        ASSERT_EQ(n.isOk(), c.whole) << (n.isOk() ? "" : n.status().message());
        if (c.whole) {
            EXPECT_EQ(got, m_value);
        } else {
            EXPECT_EQ(n.status().code(), core::StatusCode::Corrupt);
            EXPECT_NE(n.status().message().find("page 2 of type " + std::string(c.type) + ", not a BLOB page"),
                      std::string::npos)
                << n.status().message();
            EXPECT_EQ(got, m_value.substr(0, kFirstPart));
        }
    }
}

TEST_F(ExternalValue, BlobFilesHoldThePrefixAndTheParts) {
    m_settings.blobFileCounter = 41;
    fs::create_directories(fs::path(m_settings.savingFolder) / "blobdata");
    const std::string f = field("PREFIX", 1, 20000);
    const auto text = innodb::decodeInnodbField(*m_ctx, m_settings, core::asBytes(f),
                                                ::field(251, 5, 0, false, 45), true);
    EXPECT_EQ(text, m_settings.savingFolder + "/blobdata/41");
    EXPECT_EQ(m_settings.blobFileCounter, 42u);
    EXPECT_EQ(test::readFileText(text), "PREFIX" + m_value);
}

TEST_F(ExternalValue, ValuesWithoutABlobFileAreReadWhole) {
    // A long VARCHAR is written inline; so is a TEXT whose blob file cannot be created.
    test::writeFileText(m_dir / "not_a_folder", "x");
    m_settings.savingFolder = (m_dir / "not_a_folder").string();
    const std::string f = field("P", 1, 20000);
    EXPECT_EQ(innodb::decodeInnodbField(*m_ctx, m_settings, core::asBytes(f),
                                        ::field(15, 1, 0, false, 8), true),
              "P" + m_value);
    EXPECT_EQ(innodb::decodeInnodbField(*m_ctx, m_settings, core::asBytes(f),
                                        ::field(252, 5, 0, false, 8), true),
              "P" + m_value);
    // A binary one as its hexadecimal text.
    const std::string shortField = field("", 2, 4);
    EXPECT_EQ(innodb::decodeInnodbField(*m_ctx, m_settings, core::asBytes(shortField),
                                        ::field(15, 1, 0, false, 63), true),
              "0x" + hex(m_value.substr(kFirstPart, 4)));
}

// A value that cannot be read whole is no value: the empty text, said to the caller, and
// no blob file is left for it.
TEST_F(ExternalValue, AValueWithALostPartIsNotWritten) {
    ASSERT_TRUE(m_ctx->tablespaceFile.open(m_dir / "damaged.ibd").isOk());
    fs::create_directories(fs::path(m_settings.savingFolder) / "blobdata");
    const std::string f = field("PREFIX", 1, 20000);
    for (const std::uint32_t type : {251u, 15u}) {
        SCOPED_TRACE(type);
        std::string text = "stale";
        bool whole = true;
        innodb::decodeInnodbField(*m_ctx, m_settings, core::asBytes(f), ::field(type, 5, 0, false, 45), true,
                                  text, &whole);
        EXPECT_FALSE(whole);
        EXPECT_EQ(text, "");
    }
    EXPECT_TRUE(fs::is_empty(fs::path(m_settings.savingFolder) / "blobdata"));
}

}  // namespace
