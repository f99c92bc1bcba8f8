#include "core/byte_reader.h"
#include "core/read_only_file.h"

#include "support/fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <random>

namespace dunmore::core {
namespace {

namespace fs = std::filesystem;

TEST(ByteReader, ReadsNameTheirOrderAndFailuresAreSticky) {
    const std::uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    ByteReader r(data);
    EXPECT_EQ(r.u16be(), 0x0102);
    EXPECT_EQ(r.u16le(), 0x0403);
    EXPECT_EQ(r.u24le(), 0x070605u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.u16be(), 0);  // one byte left
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.position(), 7u);  // a failed read does not move
    EXPECT_EQ(r.u8(), 0x08);      // later reads still work, the failure stays
    EXPECT_FALSE(r.ok());
    ByteReader s(data);
    EXPECT_EQ(s.u64be(), 0x0102030405060708ull);
    EXPECT_TRUE(s.bytes(1).empty());
    ByteReader t(data);
    t.seek(9);
    EXPECT_FALSE(t.ok());
    EXPECT_EQ(readBeAt(data, 6, 4), 0u);
    EXPECT_EQ(readLeAt(data, 6, 2), 0x0807u);
}

TEST(ReadOnlyFile, WindowedReadsGiveWhatPreadGives) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "read_only_file.bin";
    fs::create_directories(p.parent_path());
    std::string bytes(300000, '\0');
    std::mt19937 rng(7);
    for (auto& c : bytes) c = static_cast<char>(rng());
    test::writeFileText(p, bytes);

    ReadOnlyFile file(4096);  // small window: many refills and boundary crossings
    ASSERT_TRUE(file.open(p).isOk());
    EXPECT_EQ(file.size(), bytes.size());
    std::uniform_int_distribution<std::size_t> pos(0, bytes.size() + 100), len(0, 10000);
    for (int i = 0; i < 2000; ++i) {
        const std::size_t at = pos(rng), n = len(rng);
        std::vector<std::uint8_t> out(n, 0xAA);
        const std::size_t got = file.readAt(at, out);
        const std::size_t expect = at >= bytes.size() ? 0 : std::min(n, bytes.size() - at);
        ASSERT_EQ(got, expect) << at << " " << n;
        for (std::size_t k = 0; k < n; ++k)
            ASSERT_EQ(out[k], k < got ? static_cast<std::uint8_t>(bytes[at + k]) : 0) << at << "+" << k;
    }
    std::vector<std::uint8_t> tail(10);
    EXPECT_FALSE(file.readExact(bytes.size() - 5, tail).isOk());
    EXPECT_EQ(file.readVector(bytes.size() - 5, 10).size(), 5u);
}

TEST(ReadOnlyFile, OffsetsPastFourGibAndOpenFailures) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "sparse_5g.bin";
    fs::create_directories(p.parent_path());
    {
        const int fd = ::open(p.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        const std::uint64_t at = (5ull << 30) + 3;
        ASSERT_EQ(::pwrite(fd, "MARK", 4, static_cast<off_t>(at)), 4);
        ::close(fd);
    }
    ReadOnlyFile file;
    ASSERT_TRUE(file.open(p).isOk());
    std::vector<std::uint8_t> out(4);
    ASSERT_TRUE(file.readExact((5ull << 30) + 3, out).isOk());
    EXPECT_EQ(asText(out), "MARK");
    fs::remove(p);

    ReadOnlyFile missing;
    const Status st = missing.open("/nonexistent/dunmore/file");
    EXPECT_EQ(st.code(), StatusCode::IoError);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(missing.open(fs::temp_directory_path()).isOk()) << "a folder is not a file";
}

}  // namespace
}  // namespace dunmore::core
