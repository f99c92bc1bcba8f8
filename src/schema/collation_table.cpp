// The collation table file "collation (2)": records back to back, no header, integers
// u32 little-endian: collation number, minimum and maximum bytes per character, the
// length and bytes of the character-set name, the length and bytes of the collation
// name (n1 + n2 + 20 bytes a record).
#include "schema/collation_table.h"

#include "core/byte_reader.h"
#include "core/read_only_file.h"
#include "schema/mysql8_collations.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <vector>

#ifndef DUNMORE_INSTALL_DATADIR
#define DUNMORE_INSTALL_DATADIR "/usr/local/share/dunmore"
#endif

namespace dunmore::schema {
namespace {

// A name of the file cut at its first zero byte; a length that claims more than the
// file holds takes what is left.
std::string readName(core::ByteReader& r) {
    const std::uint32_t length = r.u32le();
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(length, r.remaining()));
    const core::ByteSpan bytes = r.bytes(take);
    const auto zero = std::find(bytes.begin(), bytes.end(), 0);
    return core::asText(bytes.first(static_cast<std::size_t>(zero - bytes.begin())));
}

CollationTable& applicationTable() {
    static CollationTable table;
    return table;
}

std::atomic<std::uint64_t>& applicationVersion() {
    static std::atomic<std::uint64_t> version{1};
    return version;
}

}  // namespace

void CollationTable::loadCollationTable(const std::filesystem::path& path) {
    core::ReadOnlyFile file;
    if (!file.open(path)) return;
    // The file is a few tens of kilobytes; a damaged one larger than this is not ours.
    constexpr std::uint64_t kMaxFileSize = 16u << 20;
    const auto bytes = file.readVector(0, static_cast<std::size_t>(std::min(file.size(), kMaxFileSize)));
    core::ByteReader r(bytes);
    // Every record consumes at least one byte, so the loop ends; a truncated last record
    // is stored with what it has (missing numbers read as 0, names as empty).
    while (r.remaining() >= 4) {
        const std::size_t before = r.position();
        const std::uint32_t number = r.u32le();
        CollationEntry entry;
        entry.minBytesPerChar = r.u32le();
        entry.maxBytesPerChar = r.u32le();
        entry.charsetName = readName(r);
        entry.collationName = readName(r);
        m_entries[number] = std::move(entry);
        if (!r.ok() || r.position() == before) break;
    }
}

const CollationEntry* CollationTable::lookupCollation(std::uint32_t number) const {
    const auto it = m_entries.find(number);
    return it == m_entries.end() ? nullptr : &it->second;
}

const CollationTable& applicationCollations() { return applicationTable(); }

void setApplicationCollations(CollationTable table) {
    applicationTable() = std::move(table);
    applicationVersion().fetch_add(1);
}

std::uint64_t applicationCollationsVersion() { return applicationVersion().load(std::memory_order_relaxed); }

std::filesystem::path loadApplicationCollations(const std::filesystem::path& executableDir) {
    std::vector<std::filesystem::path> candidates = {kCollationFileName};
    if (!executableDir.empty()) candidates.push_back(executableDir / kCollationFileName);
    candidates.push_back(std::filesystem::path(DUNMORE_INSTALL_DATADIR) / kCollationFileName);
    for (const auto& candidate : candidates) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(candidate, ec)) continue;
        CollationTable table;
        table.loadCollationTable(candidate);
        addMysql8Collations(table);
        setApplicationCollations(std::move(table));
        return candidate;
    }
    return {};
}

}  // namespace dunmore::schema
