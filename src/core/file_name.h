#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dunmore::core {

// MySQL 5.1+ names the folder of a database and the files of a table in its file-name
// encoding: ASCII letters, digits and '_' stand for themselves, a letter of one of the
// blocks U+00C0-U+05FF, U+1E00-U+1FFF, U+2160-U+217F, U+24B0-U+24EF and U+FF20-U+FF5F
// is '@' and two characters ("café" is "caf@0p"), any other character '@' and four
// lower-case hexadecimal digits ("shop-eu" is "shop@002deu"), and "@@@" ends the name.
// A name of a pre-5.1 server is stored as it is; the server shows such a name with the
// prefix "#mysql50#", and a file name carrying that prefix stands for the rest as it is.
//
// Returns the real name in UTF-8, or nullopt when onDisk is not a valid encoding (a
// pre-5.1 name such as "a-b", a temporary "#sql" name, a partition's file "t#P#p0").
std::optional<std::string> decodeFileName(std::string_view onDisk);

// The on-disk form of the real name (UTF-8) as a 5.1+ server writes it: the inverse of
// decodeFileName. A byte that is not part of valid UTF-8 is encoded as the code point of
// its value.
std::string encodeFileName(std::string_view name);

// The base name of a partition's files: the table's on-disk name, "#P#" and the
// partition's, and for a subpartition "#SP#" and its own ("t#P#p0#SP#p0sp0"). A server
// with lower_case_table_names writes "#p#" and "#sp#" and lower-case names instead; the
// files are then found by a match that ignores case.
std::string partitionFileName(std::string_view tableOnDisk, std::string_view partitionOnDisk,
                              std::string_view subpartitionOnDisk = {});

// The parts of a partition's file base name: the table's, the partition's and (empty when
// none) the subpartition's on-disk names, split at the first "#P#" and the "#SP#" after
// it (either case). nullopt when onDisk names no partition.
struct PartitionFileParts {
    std::string table;
    std::string partition;
    std::string subpartition;
};
std::optional<PartitionFileParts> splitPartitionFileName(std::string_view onDisk);

// The name to show for onDisk: decoded when it decodes, otherwise onDisk unchanged.
std::string realName(std::string_view onDisk);

// The real name of the database whose folder is folder (its last path part, decoded).
std::string databaseName(const std::string& folder);

}  // namespace dunmore::core
