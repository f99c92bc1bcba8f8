// CREATE TABLE statements from a table definition read from its .frm file.
#include "output/create_table.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "schema/mysql8_collations.h"
#include "schema/column_type.h"
#include "schema/partition_clause.h"

#include <algorithm>
#include <cctype>

namespace dunmore::output {
namespace {


bool takesCharsetClause(std::uint32_t typeCode) {
    switch (core::fieldType(typeCode)) {
        case core::FieldType::Varchar: case core::FieldType::TinyBlob:
        case core::FieldType::MediumBlob: case core::FieldType::LongBlob:
        case core::FieldType::Blob: case core::FieldType::VarString: case core::FieldType::String:
            return true;
        default:
            return false;
    }
}

bool isBlobType(std::uint32_t typeCode) { return core::isBlobType(core::fieldType(typeCode)); }

// The prefix length, in characters, that a key part of the column indexes; 0 when it
// indexes the whole column. A BLOB or TEXT column can only be a key part with a prefix,
// and a shorter prefix of a character column is a different key, so both are kept.
std::uint32_t keyPrefixChars(const core::TableDefinitionState& def,
                             const core::ColumnDefinition& column, bool primary,
                             const schema::CollationTable& collations) {
    const bool blob = isBlobType(column.typeCode);
    if (!blob && !takesCharsetClause(column.typeCode)) return 0;
    for (const core::KeyInfo& key : def.keys) {
        if (key.primary != primary || (!primary && !key.unique)) continue;
        for (const core::KeyPart& part : key.parts) {
            if (part.fieldNumber != column.index + 1 || part.length == 0) continue;
            const bool prefix =
                blob || part.length < static_cast<std::uint32_t>(std::max(column.length, 0));
            if (!prefix) return 0;
            std::uint32_t bytesPerChar = 1;
            if (column.charset != core::kBinaryCollation) {
                if (const auto* e = collations.lookupCollation(static_cast<std::uint32_t>(column.charset)))
                    bytesPerChar = std::max<std::uint32_t>(e->maxBytesPerChar, 1);
            }
            return std::max<std::uint32_t>(part.length / bytesPerChar, 1);
        }
    }
    return 0;
}

void trimTrailing(std::string& text, auto predicate) {
    while (!text.empty() && predicate(static_cast<unsigned char>(text.back()))) text.pop_back();
}

// The statement, for a MariaDB server when mariadb: MariaDB refuses NOT NULL on a
// generated column and an INVISIBLE column that is NOT NULL without a default.
std::string createTableStatement(const core::TableDefinitionState& def, const std::string& tableName,
                                 const schema::CollationTable& collations, bool mariadb) {
    std::string sql = "Create TABLE  " + schema::quoteIdentifier(tableName) + " (";
    std::string primaryList;
    std::string uniqueList;
    const auto addColumn = [&](const core::ColumnDefinition& column,
                               const core::GeneratedColumn* generated) {
        sql += schema::quoteIdentifier(column.name) + " " +
               schema::columnTypeText(def.tableCharset, column, collations);
        if (def.tableCharset != 0 &&
            static_cast<std::uint32_t>(column.charset) != def.tableCharset &&
            takesCharsetClause(column.typeCode) && column.charset != core::kBinaryCollation) {
            if (const auto* e = collations.lookupCollation(static_cast<std::uint32_t>(column.charset)))
                sql += " CHARSET " + e->charsetName + " COLLATE " + e->collationName;
        }
        if (generated) {
            sql += " GENERATED ALWAYS AS (" + generated->expression + ")" +
                   (generated->stored ? " STORED" : " VIRTUAL");
            if (column.nullable == 0 && !mariadb) sql += " NOT NULL";
        } else {
            if (column.nullable == 0) sql += " NOT NULL";
            if (core::fieldType(column.typeCode) == core::FieldType::Timestamp ||
                core::fieldType(column.typeCode) == core::FieldType::Timestamp2)
                sql += " DEFAULT CURRENT_TIMESTAMP";
        }
        if (column.invisible && (!mariadb || column.nullable != 0)) sql += " INVISIBLE";
        if (!column.comment.empty())
            sql += " COMMENT '" + schema::escapeSqlText(column.comment) + "'";
        sql += ", ";

        const bool primary = column.inPrimaryKey == 1;
        if (primary || column.inUniqueKey == 1) {
            std::string entry = schema::quoteIdentifier(column.name);
            if (!generated)
                if (const auto prefix = keyPrefixChars(def, column, primary, collations))
                    entry += "(" + std::to_string(prefix) + ")";
            (primary ? primaryList : uniqueList) += entry + ",";
        }
    };
    std::size_t nextGenerated = 0;
    const auto addGeneratedBefore = [&](std::size_t position) {
        for (; nextGenerated < def.generatedColumns.size() &&
               def.generatedColumns[nextGenerated].before <= position;
             ++nextGenerated)
            addColumn(def.generatedColumns[nextGenerated].column, &def.generatedColumns[nextGenerated]);
    };
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        addGeneratedBefore(i);
        addColumn(def.columns[i], nullptr);
    }
    addGeneratedBefore(SIZE_MAX);
    const auto isComma = [](unsigned char c) { return c == ','; };
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    if (!primaryList.empty()) {
        trimTrailing(primaryList, isComma);
        sql += "PRIMARY KEY (" + primaryList + "),";
    }
    if (!uniqueList.empty()) {
        trimTrailing(uniqueList, isComma);
        sql += "UNIQUE KEY (" + uniqueList + "),";
    }
    trimTrailing(sql, isSpace);
    sql.erase(0, static_cast<std::size_t>(
                     std::find_if_not(sql.begin(), sql.end(), isSpace) - sql.begin()));
    trimTrailing(sql, isComma);
    sql += ")";
    if (def.engineCode == core::kEngineMyisam)
        sql += "ENGINE=MYISAM";
    else if (def.engineCode == core::kEngineInnodb)
        sql += "ENGINE=InnoDB";
    if (def.tableCharset != 0) {
        if (const auto* e = collations.lookupCollation(def.tableCharset))
            sql += " DEFAULT CHARSET " + e->charsetName + " COLLATE " + e->collationName;
    }
    if (const std::string clause = partitionClauseOf(def); !clause.empty()) sql += " " + clause;
    sql += ";";
    return sql;
}

}  // namespace

std::string formatCreateTableStatement(const core::TableDefinitionState& def,
                                       const std::string& tableName,
                                       const schema::CollationTable& collations) {
    return createTableStatement(def, tableName, collations, false);
}

std::string partitionClauseOf(const core::TableDefinitionState& def, std::string* whyNot) {
    if (!def.partitioned) return {};
    const auto leaveOut = [&](const std::string& why) {
        if (whyNot) *whyNot = why;
        return std::string();
    };
    if (!def.partitionDamage.empty()) return leaveOut(def.partitionDamage);
    const auto clause = schema::parsePartitionClause(def.partitionText);
    if (!clause) return leaveOut(clause.status().message());
    if (!clause->notRebuilt.empty()) return leaveOut(clause->notRebuilt);
    const auto sameName = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
                   return std::tolower(x) == std::tolower(y);
               });
    };
    // The columns the statement writes: the stored ones and the generated ones.
    std::vector<const core::ColumnDefinition*> written;
    for (const core::ColumnDefinition& c : def.columns) written.push_back(&c);
    for (const core::GeneratedColumn& g : def.generatedColumns) written.push_back(&g.column);
    std::vector<const core::ColumnDefinition*> partitionColumns;
    for (const auto& id : clause->functionIdentifiers) {
        const auto column = std::find_if(written.begin(), written.end(),
                                         [&](const core::ColumnDefinition* c) { return sameName(c->name, id.name); });
        if (column != written.end())
            partitionColumns.push_back(*column);
        else if (!id.keyword)
            return leaveOut("its partitioning names " + id.name + ", which is not a column of the table written");
    }
    // The statement gathers the key columns into one PRIMARY KEY and one UNIQUE KEY
    // clause; the server refuses a partitioning whose columns a unique key lacks.
    const bool anyPrimary = std::any_of(written.begin(), written.end(),
                                        [](const core::ColumnDefinition* c) { return c->inPrimaryKey == 1; });
    const bool anyUnique = std::any_of(written.begin(), written.end(), [](const core::ColumnDefinition* c) {
        return c->inPrimaryKey != 1 && c->inUniqueKey == 1;
    });
    for (const core::ColumnDefinition* c : partitionColumns) {
        if (anyPrimary && c->inPrimaryKey != 1)
            return leaveOut("the PRIMARY KEY written lacks its partitioning column " + c->name);
        if (anyUnique && (c->inPrimaryKey == 1 || c->inUniqueKey != 1))
            return leaveOut("the UNIQUE KEY written lacks its partitioning column " + c->name);
    }
    return clause->statementText;
}

std::string formatCreateTableStatement(const core::TableDefinitionState& def,
                                       const std::string& tableName) {
    return formatCreateTableStatement(def, tableName, schema::applicationCollations());
}

namespace {

// Names, in the log, each MySQL 8 collation of a table that a MariaDB script writes as
// its nearest MariaDB collation.
void logNearestCollations(core::MainFrame& frame, const core::TableDefinitionState& def,
                          const std::string& tableName, const schema::CollationTable& collations) {
    std::vector<std::uint32_t> numbers{def.tableCharset};
    for (const core::ColumnDefinition& c : def.columns)
        numbers.push_back(static_cast<std::uint32_t>(c.charset));
    for (const core::GeneratedColumn& g : def.generatedColumns)
        numbers.push_back(static_cast<std::uint32_t>(g.column.charset));
    std::vector<std::string> done;
    for (const std::uint32_t number : numbers) {
        const schema::CollationEntry* e = collations.lookupCollation(number);
        if (!e || !schema::isMysql8OnlyCollation(e->collationName)) continue;
        if (std::find(done.begin(), done.end(), e->collationName) != done.end()) continue;
        done.push_back(e->collationName);
        const std::string line = "Collation " + e->collationName + " of table " + tableName +
                                 " written as " + schema::nearestMariadbCollation(e->collationName) +
                                 " (the nearest MariaDB collation)";
        frame.addOutputLine(line);
        frame.writeLog(line + "\r\n");
    }
}

}  // namespace

std::string formatCreateTableForTarget(core::MainFrame& frame, const core::TableDefinitionState& def,
                                       const std::string& statementName,
                                       const std::string& tableName, bool mariadbTarget) {
    if (std::string why; def.partitioned && partitionClauseOf(def, &why).empty()) {
        const std::string line = "Table " + tableName + " is saved without its partitioning: " + why +
                                 "; the rows of all its partitions go into one table.";
        frame.addOutputLine(line);
        frame.writeLog(line + "\r\n");
    }
    if (!mariadbTarget) return formatCreateTableStatement(def, statementName);
    const schema::CollationTable& collations = schema::applicationCollations();
    std::string statement = createTableStatement(
        def, statementName, schema::withNearestMariadbNames(collations), true);
    logNearestCollations(frame, def, tableName, collations);
    return statement;
}

}  // namespace dunmore::output
