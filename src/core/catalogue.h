#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::core {

// Tags of the database tree nodes.
inline constexpr std::int32_t kTagStructural = -1;
inline constexpr std::int32_t kTagKeys = -2;
inline constexpr std::int32_t kTagTriggerFolder = -3;
inline constexpr std::int32_t kTagViewsFolder = -4;

// name is the table's real name; fileName the base of its files on disk (MySQL's
// file-name encoding of name, or name itself when it is empty).
struct TableEntry {
    std::string name;
    std::int32_t databaseIndex = 0;
    std::string fileName;
};

// The base name of table's files on disk.
inline const std::string& diskName(const TableEntry& table) {
    return table.fileName.empty() ? table.name : table.fileName;
}

struct TriggerEntry {
    std::string fileName;
    std::string databaseFolder;
};

// What a scan of a data folder found. Rebuilt by every scan.
struct Catalogue {
    std::string openedPath;
    std::string dataFolder;
    std::vector<std::string> databaseFolders;  // full paths, no trailing separator
    std::vector<TableEntry> tables;
    std::vector<std::string> viewFiles;  // full paths
    std::vector<TriggerEntry> triggers;

    void clear() {
        databaseFolders.clear();
        tables.clear();
        viewFiles.clear();
        triggers.clear();
    }
};

}  // namespace dunmore::core
