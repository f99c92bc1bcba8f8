// The compressed LOB format of MySQL 8 (ROW_FORMAT=COMPRESSED), on a small file built by
// the layout of storage/innobase/include/zlob0first.h, zlob0index.h and lob0impl.h in
// 1 KiB pages (KEY_BLOCK_SIZE=1): a first page whose own data area starts a stream that
// data pages continue, a stream in one fragment of a fragment page, an index entry in an
// index page whose part changed later (the older version in its versions list), and the
// damage a reader must name.
#include "innodb/lob_reader.h"

#include "innodb/blob_file.h"
#include "innodb/page_check.h"
#include "innodb/tablespace_format.h"

#include "support/fixture.h"
#include "support/page_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;
using test::PageBytes;
using test::setU16be;
using test::setU32be;

constexpr std::uint32_t kPage = 1024;
// The first page of 1 KiB: 5 index entries of 66 bytes at 136, 5 fragment entries of 24,
// then its data.
constexpr std::uint32_t kFirstData = 136 + 5 * 66 + 5 * 24;
constexpr std::uint32_t kDataPayload = kPage - 49 - 8;

std::string textOf(std::uint32_t seed, std::size_t size) {
    // Words in an order that compresses, but not to nothing.
    std::string out;
    std::uint32_t x = seed;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        out += std::to_string(x >> 16) + (x & 0x100 ? " " : ", ");
    }
    out.resize(size);
    return out;
}

std::string deflated(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size())),
              Z_OK);
    out.resize(size);
    return out;
}

struct Zlob {
    std::vector<PageBytes> pages;
    std::string newest;  // the value as its LOB version 3 reads it
    std::string older;   // as version 2 reads it
    // Byte positions the damage cases change.
    std::size_t firstEntry = 0;  // page 1, the first index entry
    std::size_t lastEntry = 0;   // page 6, the entry in the index page
    std::size_t dataPage = 0;    // page 2, a data page of part 0
    std::size_t fragDirectory = 0;
};

PageBytes page(std::uint32_t number, std::uint16_t type) {
    PageBytes p(kPage, 0);
    setU32be(p, 4, number);
    setU32be(p, 8, 0xFFFFFFFF);
    setU32be(p, 12, 0xFFFFFFFF);
    setU16be(p, 24, type);
    return p;
}

void putBytes(PageBytes& p, std::size_t at, const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) p.at(at + i) = static_cast<std::uint8_t>(bytes[i]);
}

// An index entry: next entry, versions list (count, first), stream page, fragment id,
// lengths and LOB version.
void putEntry(PageBytes& p, std::size_t at, std::uint32_t nextPage, std::uint32_t nextOffset,
              std::uint32_t versions, std::uint32_t versionPage, std::uint32_t versionOffset,
              std::uint32_t streamPage, std::uint32_t fragId, const std::string& text,
              const std::string& stream, std::uint32_t lobVersion) {
    setU32be(p, at + 0, 0xFFFFFFFF);
    setU32be(p, at + 6, nextPage);
    setU16be(p, at + 10, nextOffset);
    setU32be(p, at + 12, versions);
    setU32be(p, at + 16, versionPage);
    setU16be(p, at + 20, versionOffset);
    setU32be(p, at + 48, streamPage);
    setU16be(p, at + 52, fragId);
    setU32be(p, at + 54, static_cast<std::uint32_t>(text.size()));
    setU32be(p, at + 58, static_cast<std::uint32_t>(stream.size()));
    setU32be(p, at + 62, lobVersion);
}

// Pages: 0 unused, 1 first page, 2-4 data pages of part 0, 5 fragment page (part 1 in
// fragment 1), 6 index page (part 2's entries), 7 data page of part 2 (version 3),
// 8 data page of its older version (version 2).
Zlob buildZlob() {
    Zlob z;
    const std::string part0 = textOf(1, 6000);
    const std::string part1 = textOf(2, 300);
    const std::string part2new = textOf(3, 900);
    const std::string part2old = textOf(4, 700);
    const std::string s0 = deflated(part0), s1 = deflated(part1), s2new = deflated(part2new),
                      s2old = deflated(part2old);
    EXPECT_GT(s0.size(), kFirstData);
    EXPECT_LT(s0.size(), kPage - 8 - kFirstData + 3 * kDataPayload);
    EXPECT_LT(s2new.size(), kDataPayload);
    EXPECT_LT(s2old.size(), kDataPayload);
    z.newest = part0 + part1 + part2new;
    z.older = part0 + part1 + part2old;
    z.pages.push_back(page(0, 0));

    PageBytes first = page(1, innodb::kZlobFirstPageType);
    setU32be(first, 40, 3);  // the LOB's version
    const std::uint32_t inFirst = kPage - 8 - kFirstData;
    putBytes(first, kFirstData, s0.substr(0, inFirst));
    setU32be(first, 54, inFirst);
    setU32be(first, 12, 2);  // the stream goes on in page 2
    // Index list: 3 entries, the first at offset 136 of this page.
    setU32be(first, 88, 3);
    setU32be(first, 92, 1);
    setU16be(first, 96, 136);
    putEntry(first, 136, 1, 136 + 66, 0, 0xFFFFFFFF, 0, 1, 0, part0, s0, 1);
    putEntry(first, 136 + 66, 6, 39, 0, 0xFFFFFFFF, 0, 5, 1, part1, s1, 1);
    z.firstEntry = 1 * kPage + 136;
    z.pages.push_back(first);

    std::size_t used = inFirst;
    for (std::uint32_t n = 2; n <= 4; ++n) {
        PageBytes data = page(n, innodb::kZlobDataPageType);
        const std::string piece = s0.substr(std::min(used, s0.size()), kDataPayload);
        putBytes(data, 49, piece);
        setU32be(data, 39, static_cast<std::uint32_t>(piece.size()));
        used += piece.size();
        if (used < s0.size()) setU32be(data, 12, n + 1);
        z.pages.push_back(data);
    }
    z.dataPage = 2 * kPage;

    // A fragment page with two fragments: one of another LOB, then part 1's.
    PageBytes frag = page(5, innodb::kZlobFragPageType);
    const std::size_t other = 61;
    setU16be(frag, other + 4, 8 + 20);
    setU16be(frag, other + 6, 0);
    const std::size_t mine = other + 8 + 20;
    setU16be(frag, mine + 4, static_cast<std::uint32_t>(8 + s1.size()));
    setU16be(frag, mine + 6, 1);
    putBytes(frag, mine + 8, s1);
    setU16be(frag, kPage - 10, 2);                   // directory entries
    setU16be(frag, kPage - 12, other);               // fragment 0
    setU16be(frag, kPage - 14, static_cast<std::uint32_t>(mine));  // fragment 1
    z.fragDirectory = 5 * kPage + kPage - 14;
    z.pages.push_back(frag);

    // The index page: part 2 at 39 (version 3), its older version at 39 + 66 (version 2).
    PageBytes index = page(6, innodb::kZlobIndexPageType);
    putEntry(index, 39, 0xFFFFFFFF, 0, 1, 6, 39 + 66, 7, 0, part2new, s2new, 3);
    putEntry(index, 39 + 66, 0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0, 8, 0, part2old, s2old, 2);
    z.lastEntry = 6 * kPage + 39;
    z.pages.push_back(index);

    for (const auto& [n, s] : {std::pair<std::uint32_t, std::string>{7, s2new}, {8, s2old}}) {
        PageBytes data = page(n, innodb::kZlobDataPageType);
        putBytes(data, 49, s);
        setU32be(data, 39, static_cast<std::uint32_t>(s.size()));
        z.pages.push_back(data);
    }
    return z;
}

fs::path writeZlob(const Zlob& z, const std::string& name, void (*damage)(PageBytes&, const Zlob&) = nullptr) {
    PageBytes all;
    for (const auto& p : z.pages) all.insert(all.end(), p.begin(), p.end());
    if (damage) damage(all, z);
    const fs::path path = fs::path(DUNMORE_FIXTURE_ROOT) / "zlob" / (name + ".ibd");
    test::writeFileText(path, std::string(all.begin(), all.end()));
    return path;
}

struct Copy {
    core::Status status;
    std::uint64_t copied = 0;
    std::string text;
};

Copy copyZlob(const fs::path& path, std::uint32_t version, std::uint64_t length,
              std::uint32_t pageSize = kPage, std::size_t stopAfter = SIZE_MAX) {
    core::ReadOnlyFile file;
    EXPECT_TRUE(file.open(path).isOk());
    innodb::ExternalReference ref;
    ref.pageNumber = 1;
    ref.offset = version;
    ref.length = length;
    Copy c;
    const auto r = innodb::copyZlobParts(file, pageSize, file.size() / pageSize, ref, [&](core::ByteSpan part) {
        c.text.append(reinterpret_cast<const char*>(part.data()), part.size());
        return c.text.size() < stopAfter;
    });
    c.status = r.isOk() ? core::Status::ok() : r.status();
    if (r.isOk()) c.copied = *r;
    return c;
}

TEST(Zlob, EveryPartIsInflatedInTheVersionTheReferenceNames) {
    const Zlob z = buildZlob();
    const fs::path file = writeZlob(z, "intact");
    const Copy newest = copyZlob(file, 3, z.newest.size());
    ASSERT_TRUE(newest.status.isOk()) << newest.status.message();
    EXPECT_EQ(newest.copied, z.newest.size());
    EXPECT_EQ(newest.text, z.newest);
    const Copy older = copyZlob(file, 2, z.older.size());
    ASSERT_TRUE(older.status.isOk()) << older.status.message();
    EXPECT_EQ(older.text, z.older);

    // The copy ends at the reference's length, and when the sink says so.
    EXPECT_EQ(copyZlob(file, 3, 5000).text, z.newest.substr(0, 5000));
    const Copy stopped = copyZlob(file, 3, z.newest.size(), kPage, 100);
    EXPECT_TRUE(stopped.status.isOk());
    EXPECT_LT(stopped.text.size(), z.newest.size());
    EXPECT_EQ(stopped.text, z.newest.substr(0, stopped.text.size()));

    // A reference through copyLobParts, with the tablespace's page size, reads the same.
    core::ReadOnlyFile f;
    ASSERT_TRUE(f.open(file).isOk());
    innodb::ExternalReference ref;
    ref.pageNumber = 1;
    ref.offset = 3;
    ref.length = z.newest.size();
    std::string viaLob;
    const auto lob = innodb::copyLobParts(f, kPage, f.size() / kPage, ref, [&](core::ByteSpan part) {
        viaLob.append(reinterpret_cast<const char*>(part.data()), part.size());
        return true;
    });
    ASSERT_TRUE(lob.has_value());
    EXPECT_TRUE(lob->isOk());
    EXPECT_EQ(viaLob, z.newest);

    // An externally stored field of a ROW_FORMAT=COMPRESSED tablespace (KEY_BLOCK_SIZE=1)
    // whose reference names the LOB's first page, its pages sealed with the
    // compressed-page checksum.
    Zlob sealed = z;
    for (auto& p : sealed.pages) innodb::writeCompressedPageChecksum(p, innodb::PageChecksum::Crc32c);
    core::ReadOnlyFile zipped;
    ASSERT_TRUE(zipped.open(writeZlob(sealed, "sealed")).isOk());
    innodb::TablespaceFormat format;
    format.pageSize = 16384;
    format.physicalPageSize = kPage;
    format.zip = true;
    std::string viaField;
    const auto field = innodb::copyExternalParts(zipped, format, zipped.size() / kPage, ref, [&](core::ByteSpan part) {
        viaField.append(reinterpret_cast<const char*>(part.data()), part.size());
        return true;
    });
    ASSERT_TRUE(field.isOk()) << field.status().message();
    EXPECT_EQ(viaField, z.newest);
}

TEST(Zlob, DamageIsNamedAndWhatWasReadStaysRead) {
    const Zlob z = buildZlob();
    struct Case {
        const char* name;
        void (*damage)(PageBytes&, const Zlob&);
        const char* reason;
        std::size_t intactPrefix;  // bytes of the value handed on before the damage
    };
    const Case kCases[] = {
        {"stream bytes changed", [](PageBytes& b, const Zlob& zl) { test::flipByte(b, zl.dataPage + 200); },
         "its stream does not inflate", 0},
        {"data page of another type", [](PageBytes& b, const Zlob& zl) { setU16be(b, zl.dataPage + 24, 17855); },
         "expected a page of the compressed LOB (type 25, 26 or 28), found type 17855", 0},
        {"index list in a circle", [](PageBytes& b, const Zlob& zl) { setU16be(b, zl.firstEntry + 66 + 10, 136); setU32be(b, zl.firstEntry + 66 + 6, 1); },
         "index entry 2 at page 1 offset 136 cannot be followed", 6300},
        {"length the stream does not have", [](PageBytes& b, const Zlob& zl) { setU32be(b, zl.firstEntry + 54, 6001); },
         "the entry says 6001", 6000},
        {"fragment not in the directory", [](PageBytes& b, const Zlob& zl) { setU16be(b, zl.fragDirectory + 4, 1); },
         "part 1 names fragment 1 of 1", 6000},
        {"entry outside an index page", [](PageBytes& b, const Zlob& zl) { setU16be(b, zl.lastEntry - 39 + 24, 17855); },
         "expected an index page (type 27) holding it", 6300},
        {"stream longer than its pages", [](PageBytes& b, const Zlob& zl) { setU32be(b, zl.firstEntry + 58, 9000); },
         "its stream names a page it cannot follow", 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const Copy r = copyZlob(writeZlob(z, "damaged", c.damage), 3, z.newest.size());
        EXPECT_EQ(r.status.code(), core::StatusCode::Corrupt);
        EXPECT_NE(r.status.message().find(c.reason), std::string::npos) << r.status.message();
        EXPECT_NE(r.status.message().find("damaged.ibd"), std::string::npos);
        ASSERT_GE(r.text.size(), c.intactPrefix);
        EXPECT_EQ(r.text, z.newest.substr(0, r.text.size()));
    }

    // Pages of a size the format has no layout for.
    const Copy odd = copyZlob(writeZlob(z, "odd"), 3, z.newest.size(), 3072);
    EXPECT_EQ(odd.status.code(), core::StatusCode::Unsupported);
}

// The older form of a ROW_FORMAT=COMPRESSED off-page part (MariaDB, MySQL 5.x): one zlib
// stream over a chain of compressed BLOB pages (type 11, then 12), each naming the next in
// its FIL header, the stream from byte 38. Read whole when the reference's length is the
// stream's; a stream that ends before that length is a value cut short: Corrupt, named.
TEST(ZipBlobChain, AStreamThatEndsBeforeTheValueIsDamage) {
    const std::string text = textOf(7, 4000);
    const std::string stream = deflated(text);
    const std::size_t perPage = kPage - 38;
    ASSERT_GT(stream.size(), perPage);
    ASSERT_LE(stream.size(), 2 * perPage);
    std::vector<PageBytes> pages{page(0, 8), page(1, 11), page(2, 12)};
    setU32be(pages[1], 12, 2);
    putBytes(pages[1], 38, stream.substr(0, perPage));
    putBytes(pages[2], 38, stream.substr(perPage));
    PageBytes all;
    for (auto& p : pages) {
        innodb::writeCompressedPageChecksum(p, innodb::PageChecksum::Crc32c);
        all.insert(all.end(), p.begin(), p.end());
    }
    const fs::path path = fs::path(DUNMORE_FIXTURE_ROOT) / "zlob" / "zblob_chain.ibd";
    test::writeFileText(path, std::string(all.begin(), all.end()));
    core::ReadOnlyFile file;
    ASSERT_TRUE(file.open(path).isOk());
    innodb::TablespaceFormat format;
    format.pageSize = 16384;
    format.physicalPageSize = kPage;
    format.zip = true;
    for (const std::uint64_t length : {std::uint64_t{text.size()}, std::uint64_t{text.size() + 100}}) {
        SCOPED_TRACE(length);
        innodb::ExternalReference ref;
        ref.pageNumber = 1;
        ref.offset = 12;
        ref.length = length;
        std::string read;
        const auto r = innodb::copyExternalParts(file, format, pages.size(), ref, [&](core::ByteSpan part) {
            read.append(reinterpret_cast<const char*>(part.data()), part.size());
            return true;
        });
        if (length == text.size()) {
            ASSERT_TRUE(r.isOk()) << r.status().message();
            EXPECT_EQ(read, text);
        } else {
            ASSERT_FALSE(r.isOk());
            EXPECT_EQ(r.status().code(), core::StatusCode::Corrupt);
            EXPECT_NE(r.status().message().find("the compressed value ends after 4000 of its 4100 bytes"),
                      std::string::npos) << r.status().message();
        }
    }
}

}  // namespace
