#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace dunmore::schema {

// One collation: byte counts of its character set and the names for CHARSET/COLLATE.
struct CollationEntry {
    std::uint32_t minBytesPerChar = 0;
    std::uint32_t maxBytesPerChar = 0;
    std::string charsetName;
    std::string collationName;
};

// Collation number to entry, loaded once from the "collation (2)" data file.
class CollationTable {
public:
    // Fills the table from the file at path; a missing or unreadable file leaves it
    // empty. Loading always ends, whatever the length fields of a damaged file claim.
    void loadCollationTable(const std::filesystem::path& path);
    // The entry, or null when the number is not in the table.
    const CollationEntry* lookupCollation(std::uint32_t number) const;
    bool empty() const { return m_entries.empty(); }
    std::size_t size() const { return m_entries.size(); }
    void insert(std::uint32_t number, CollationEntry entry) { m_entries[number] = std::move(entry); }
    const std::map<std::uint32_t, CollationEntry>& entries() const { return m_entries; }

private:
    std::map<std::uint32_t, CollationEntry> m_entries;
};

inline constexpr const char* kCollationFileName = "collation (2)";

// The application's table. Loaded by loadApplicationCollations (the working directory
// first, then beside the executable, then the installed data folder); empty until then.
const CollationTable& applicationCollations();
// Loads the application's table; executableDir may be empty. Returns the file used, or
// an empty path when none was found.
std::filesystem::path loadApplicationCollations(const std::filesystem::path& executableDir);
// Changes whenever the application's table is replaced, so that a lookup kept from it can
// tell it is stale.
std::uint64_t applicationCollationsVersion();
// Replaces the application's table (tests).
void setApplicationCollations(CollationTable table);

}  // namespace dunmore::schema
