// The .par file of a partitioned table, all integers little-endian u32:
//   0   the length of the file's main part in 32-bit words (W)
//   4   a checksum: the XOR of all W words is 0
//   8   the number of partitions N (every subpartition counts as one)
//   12  N engine codes of one byte, padded to a whole word
//   .   the length L of the name list, then the list: N names, each ending in a zero
//       byte, padded to a whole word
// MariaDB appends a word per partition after the W words (the length of its connection
// string); it is not read. See docs/formats/frm.md.
#include "schema/par_file.h"

#include "core/byte_reader.h"
#include "core/read_only_file.h"

#include <cctype>

namespace dunmore::schema {

namespace {

constexpr std::size_t kWord = 4;
constexpr std::size_t kHeadWords = 3;
// A table has at most 8,192 partitions, and a name fits in a file name.
constexpr std::uint32_t kMaxPartitions = 8192;
constexpr std::uint32_t kMaxWords = 1u << 20;

std::size_t wholeWords(std::size_t bytes) { return (bytes + kWord - 1) / kWord; }

}  // namespace

core::Result<ParFile> readParFile(const std::filesystem::path& path) {
    core::ReadOnlyFile file;
    if (core::Status s = file.open(path); !s) return s;
    const auto corrupt = [&](const std::string& what) {
        return core::Status::corrupt("the partition file " + path.string() + " " + what);
    };
    if (file.size() < (kHeadWords + 2) * kWord) return corrupt("is shorter than its header");
    std::vector<std::uint8_t> head = file.readVector(0, kWord);
    core::ByteReader h(head);
    const std::uint32_t words = h.u32le();
    if (!h.ok() || words < kHeadWords + 2 || words > kMaxWords ||
        std::uint64_t{words} * kWord > file.size())
        return corrupt("counts " + std::to_string(words) + " words; the file holds " +
                       std::to_string(file.size() / kWord));
    const std::vector<std::uint8_t> bytes = file.readVector(0, std::size_t{words} * kWord);
    if (bytes.size() != std::size_t{words} * kWord) return core::Status::ioError("cannot read " + path.string());
    core::ByteReader r(bytes);
    std::uint32_t checksum = 0;
    for (std::uint32_t i = 0; i < words; ++i) checksum ^= r.u32le();
    if (checksum != 0) return corrupt("fails its checksum");

    r.seek(2 * kWord);
    const std::uint32_t count = r.u32le();
    if (count == 0 || count > kMaxPartitions ||
        kHeadWords + wholeWords(count) + 1 > words)
        return corrupt("counts " + std::to_string(count) + " partitions in " +
                       std::to_string(words) + " words");
    ParFile par;
    const core::ByteSpan engines = r.bytes(count);
    par.engines.assign(engines.begin(), engines.end());
    r.seek((kHeadWords + wholeWords(count)) * kWord);
    const std::uint32_t namesLength = r.u32le();
    if (!r.ok() || namesLength > r.remaining())
        return corrupt("has a name list of " + std::to_string(namesLength) + " bytes where " +
                       std::to_string(r.remaining()) + " remain");
    const core::ByteSpan names = r.bytes(namesLength);
    std::string name;
    for (const std::uint8_t b : names) {
        if (b != 0) {
            name.push_back(static_cast<char>(b));
            continue;
        }
        if (par.names.size() == count) break;  // the padding
        if (name.empty()) return corrupt("has an empty partition name");
        // The names are file names in the server's encoding ("p@002d1", "p0#SP#p0sp0");
        // anything else would name a file outside the table's.
        for (const char c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '@' && c != '#')
                return corrupt("has a partition name that is not a file name the server writes");
        par.names.push_back(std::move(name));
        name.clear();
    }
    if (par.names.size() != count || !name.empty())
        return corrupt("names " + std::to_string(par.names.size()) + " of its " +
                       std::to_string(count) + " partitions");
    return par;
}

}  // namespace dunmore::schema
