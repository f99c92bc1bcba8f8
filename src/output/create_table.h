#pragma once

#include "core/main_frame.h"
#include "core/table_reader.h"
#include "schema/collation_table.h"

#include <string>

namespace dunmore::output {

// The CREATE TABLE statement of the table whose definition is def (a reader will do),
// on one line and ending in ";": "Create TABLE  `name` (" + the column clauses, one
// PRIMARY KEY clause and one UNIQUE KEY clause (columns in column order) + ")" + the
// engine clause ("ENGINE=MYISAM", "ENGINE=InnoDB", none for other engines), the
// DEFAULT CHARSET clause when the table's collation is known and the partitionClauseOf
// the table when it has one. Generated columns (MySQL 8) stand in their place with
// "GENERATED ALWAYS AS (expression) VIRTUAL" or "STORED", and INVISIBLE columns say so.
// Identifiers double their
// back-quotes; comments escape apostrophes and backslashes. Never fails and never
// returns an empty text.
std::string formatCreateTableStatement(const core::TableDefinitionState& def,
                                       const std::string& tableName,
                                       const schema::CollationTable& collations);

// The PARTITION BY clause of a partitioned table's statement: the partition text of its
// definition on one line, when it is whole and fits the statement (every identifier of
// its functions is a column written, and the PRIMARY KEY and UNIQUE KEY clauses written
// hold every column it partitions by, as the server demands). Otherwise, and for a table
// that is not partitioned, the empty text; whyNot, when given, then receives why a
// partitioned table's clause is left out.
std::string partitionClauseOf(const core::TableDefinitionState& def, std::string* whyNot = nullptr);

// The same with the application's collation table.
std::string formatCreateTableStatement(const core::TableDefinitionState& def,
                                       const std::string& tableName);

// The statement for a server that is MariaDB (mariadbTarget) or MySQL: for MariaDB the
// MySQL 8 collations (utf8mb4_0900_ai_ci ...) are written as their nearest MariaDB ones,
// each named in an output line and the log ("Collation X of table T written as Y (the
// nearest MariaDB collation)"), since a MariaDB server refuses a collation it lacks;
// a generated column gets no NOT NULL there, and a NOT NULL column is not INVISIBLE
// (MariaDB refuses both). A partitioned table whose clause is left out is named there
// too ("Table T is saved without its partitioning: ...").
std::string formatCreateTableForTarget(core::MainFrame& frame, const core::TableDefinitionState& def,
                                       const std::string& statementName,
                                       const std::string& tableName, bool mariadbTarget);

}  // namespace dunmore::output
