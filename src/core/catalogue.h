#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
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

// A view that a MySQL 8.0+ data dictionary (mysql.ibd) keeps instead of a file: its
// query as the dictionary stores it (view_definition_utf8, qualifiers `db`.`t`).
struct DictionaryView {
    std::string schema;  // its database's real name
    std::string name;
    std::string query;
};

// A trigger that a MySQL 8.0+ data dictionary keeps: where it fires and its body (the
// statement after FOR EACH ROW, action_statement_utf8).
struct DictionaryTrigger {
    std::string schema;
    std::string table;
    std::string name;
    std::string timing;  // BEFORE or AFTER
    std::string event;   // INSERT, UPDATE or DELETE
    std::uint64_t order = 0;
    std::string statement;
    // The sql_mode it was created under: the names of its mode flags, comma-separated.
    std::string sqlMode;
};

// What a data dictionary gave: its views and triggers, the number of stored routines, and
// one text for each part that could not be read.
struct DictionaryObjects {
    std::vector<DictionaryView> views;
    std::vector<DictionaryTrigger> triggers;
    std::size_t routines = 0;
    std::vector<std::string> problems;
};

// The triggers of one table: its .TRG file, or (dictionaryTriggers not empty) the ones a
// MySQL 8 data dictionary keeps, in their order of firing; fileName is then the table's
// name with ".TRG", as a file of them would be called.
struct TriggerEntry {
    std::string fileName;
    std::string databaseFolder;
    std::vector<DictionaryTrigger> dictionaryTriggers;
};

// What a scan of a data folder found. Rebuilt by every scan.
struct Catalogue {
    std::string openedPath;
    std::string dataFolder;
    std::vector<std::string> databaseFolders;  // full paths, no trailing separator
    std::vector<TableEntry> tables;
    std::vector<std::string> viewFiles;  // full paths
    std::vector<TriggerEntry> triggers;
    // MySQL 8.0+: the views of the data dictionary, by their index in viewFiles (which
    // holds the path their definition file would have), and the dictionary's file.
    std::map<std::size_t, DictionaryView> dictionaryViews;
    std::string dictionaryFile;

    void clear() {
        databaseFolders.clear();
        tables.clear();
        viewFiles.clear();
        triggers.clear();
        dictionaryViews.clear();
        dictionaryFile.clear();
    }
};

}  // namespace dunmore::core
