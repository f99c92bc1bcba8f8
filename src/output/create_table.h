#pragma once

#include "core/main_frame.h"
#include "core/table_reader.h"
#include "schema/collation_table.h"

#include <string>

namespace dunmore::output {

// The CREATE TABLE statement of the table whose definition is def (a reader will do),
// on one line and ending in ";": "Create TABLE  `name` (" + the column clauses, one
// PRIMARY KEY clause and one UNIQUE KEY clause (columns in column order) + ")" + the
// engine clause ("ENGINE=MYISAM", "ENGINE=InnoDB", none for other engines) and the
// DEFAULT CHARSET clause when the table's collation is known. Generated columns (MySQL 8)
// stand in their place with "GENERATED ALWAYS AS (expression) VIRTUAL" or "STORED", and
// INVISIBLE columns say so. Identifiers double their
// back-quotes; comments escape apostrophes and backslashes. Never fails and never
// returns an empty text.
std::string formatCreateTableStatement(const core::TableDefinitionState& def,
                                       const std::string& tableName,
                                       const schema::CollationTable& collations);

// The same with the application's collation table.
std::string formatCreateTableStatement(const core::TableDefinitionState& def,
                                       const std::string& tableName);

// The statement for a server that is MariaDB (mariadbTarget) or MySQL: for MariaDB the
// MySQL 8 collations (utf8mb4_0900_ai_ci ...) are written as their nearest MariaDB ones,
// each named in an output line and the log ("Collation X of table T written as Y (the
// nearest MariaDB collation)"), since a MariaDB server refuses a collation it lacks;
// a generated column gets no NOT NULL there, and a NOT NULL column is not INVISIBLE
// (MariaDB refuses both).
std::string formatCreateTableForTarget(core::MainFrame& frame, const core::TableDefinitionState& def,
                                       const std::string& statementName,
                                       const std::string& tableName, bool mariadbTarget);

}  // namespace dunmore::output
