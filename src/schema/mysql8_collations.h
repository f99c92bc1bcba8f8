#pragma once

#include "schema/collation_table.h"

#include <string>
#include <string_view>

namespace dunmore::schema {

// Adds the collations of MySQL 8.0 and 8.4 that the collation file (a MariaDB server's
// list) lacks: utf8mb4_0900_ai_ci (255) and the other utf8mb4 UCA 9.0.0 collations up
// to 323, the gb18030 ones (248-250) and utf8mb3_tolower_ci (76). Numbers the table
// already holds are left as they are.
void addMysql8Collations(CollationTable& table);

// Whether a collation is one of MySQL 8's that MariaDB does not know.
bool isMysql8OnlyCollation(std::string_view collationName);

// The MariaDB collation nearest to a MySQL 8 one, by the same rules of comparison:
// utf8mb4_0900_ai_ci -> utf8mb4_uca1400_ai_ci, utf8mb4_de_pb_0900_as_cs ->
// utf8mb4_uca1400_german2_as_cs, utf8mb4_0900_bin -> utf8mb4_bin, gb18030 (which
// MariaDB lacks) -> utf8mb4_unicode_520_ci; the name itself for every other collation.
std::string nearestMariadbCollation(std::string_view collationName);

// The character set MariaDB gives nearestMariadbCollation(collationName).
std::string nearestMariadbCharset(std::string_view charsetName, std::string_view collationName);

// A copy of table whose MySQL 8 collations carry the names of their nearest MariaDB
// collations (numbers and byte counts unchanged), for statements a MariaDB server loads.
CollationTable withNearestMariadbNames(const CollationTable& table);

}  // namespace dunmore::schema
