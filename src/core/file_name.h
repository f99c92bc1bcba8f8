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

// The name to show for onDisk: decoded when it decodes, otherwise onDisk unchanged.
std::string realName(std::string_view onDisk);

// The real name of the database whose folder is folder (its last path part, decoded).
std::string databaseName(const std::string& folder);

}  // namespace dunmore::core
