// The data dictionary of MySQL 8.0+ (sql/dd/impl/tables/*.cc defines its tables): InnoDB
// tables of the schema mysql in the general tablespace mysql.ibd, whose SDI holds a Table
// record for each (columns, indexes, the root page of the clustered index in its
// se_private_data). Their records are compact (DYNAMIC) records like those of any MySQL
// 8 table, so the SDI layout and the record decoding of user tables read them:
//   schemata: id, catalog_id, name, default_collation_id, ...
//   tables:   id, schema_id, name, type ENUM('BASE TABLE','VIEW','SYSTEM VIEW'), ...,
//             view_definition (LONGBLOB), view_definition_utf8 (LONGTEXT), ...
//   triggers: id, schema_id, name, event_type ENUM('INSERT','UPDATE','DELETE'), table_id,
//             action_timing ENUM('BEFORE','AFTER'), action_order, action_statement,
//             action_statement_utf8, created, last_altered, sql_mode SET(...), ...
//   routines: id, schema_id, name, type, ...
#include "innodb/mysql8_dictionary.h"

#include "core/settings.h"
#include "innodb/innodb_reader.h"
#include "innodb/leaf_recovery.h"
#include "innodb/sdi_definition.h"
#include "innodb/sdi_reader.h"
#include "innodb/sdi_rows.h"
#include "schema/collation_table.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace dunmore::innodb {

namespace {

constexpr std::string_view kDictionarySchema = "mysql";

std::string valueOr(const DictionaryRow& row, const std::string& column, const std::string& fallback = {}) {
    const auto it = row.find(column);
    return it == row.end() || !it->second ? fallback : *it->second;
}

// The Table record of the SDI for mysql.<name>, nullptr when there is none.
const SdiRecord* tableRecord(const SdiContents& sdi, std::string_view name) {
    for (const SdiRecord& r : sdi.records) {
        if (r.type != kSdiTypeTable) continue;
        try {
            const auto doc = nlohmann::json::parse(r.json);
            const auto& object = doc.at("dd_object");
            if (object.value("name", "") == name && object.value("schema_ref", "") == kDictionarySchema)
                return &r;
        } catch (const nlohmann::json::exception&) {
        }
    }
    return nullptr;
}

}  // namespace

core::Result<std::vector<DictionaryRow>> readDictionaryTable(const std::filesystem::path& path,
                                                             std::string_view json,
                                                             std::vector<std::string>& problems) {
    InnodbReader ctx;
    SdiTableInfo info;
    if (auto st = parseSdiTable(ctx, json, schema::applicationCollations(), &info); !st) return st;
    const TableStart start = locateSdiTablespace(ctx, path);
    if (start.lookup == TableLookup::TablespaceFileMissing)
        return core::Status::ioError("cannot open " + path.string());
    // Long values whole, in the statement text, with no blob files.
    core::AppSettings settings;
    settings.savingToServer = true;
    ClusteredWalkOptions options;
    options.walk.slot = TablespaceSlot::TablespaceFile;
    options.walk.firstPage = start.firstLeaf;
    options.walk.indexId = info.clusteredIndexId;
    options.rootPage = ctx.sdiRootPage;
    ctx.clusteredIndexId = info.clusteredIndexId;
    const std::uint32_t nullBitmap = prepareWalkLayout(ctx);
    std::vector<DictionaryRow> rows;
    LeafWalkCounts counts;
    LeafDamage damage;
    const core::Status walked = walkClusteredIndex(
        ctx, settings, options,
        [&](core::ByteSpan page, const LeafRecord& record) {
            if (!decodeLeafRecord(ctx, settings, page, record.origin, record.fieldAreaLength, nullBitmap)) {
                damage.recordUnreadable(record.page);
                return true;
            }
            DictionaryRow row;
            for (const core::ColumnDefinition& c : ctx.columns)
                row[c.name] = c.isNull ? std::nullopt : std::optional<std::string>(c.value);
            rows.push_back(std::move(row));
            return true;
        },
        counts, damage);
    const std::string table = std::string(kDictionarySchema) + "." + info.name;
    if (!walked) problems.push_back("the rows of " + table + " cannot be read: " + walked.message());
    if (!damage.complete()) {
        for (const std::string& line : damage.reportLines()) problems.push_back(table + ": " + line);
        if (damage.reportLines().empty())
            problems.push_back(table + ": " + std::to_string(damage.unreadableCount()) +
                               " records could not be read");
    }
    return rows;
}

core::DictionaryObjects readMysql8Dictionary(const std::filesystem::path& mysqlIbd) {
    core::DictionaryObjects out;
    core::ReadOnlyFile file;
    if (auto st = file.open(mysqlIbd); !st) {
        out.problems.push_back(st.message());
        return out;
    }
    auto sdi = readSdiRecords(file);
    if (!sdi) {
        out.problems.push_back("its views and triggers cannot be read: " + sdi.status().message());
        return out;
    }
    for (const std::string& d : sdi->damaged) out.problems.push_back(d);
    const auto rowsOf = [&](std::string_view name) -> std::optional<std::vector<DictionaryRow>> {
        const SdiRecord* record = tableRecord(*sdi, name);
        if (!record) {
            out.problems.push_back("its SDI describes no table mysql." + std::string(name) +
                                   " (views and triggers need it)");
            return std::nullopt;
        }
        auto rows = readDictionaryTable(mysqlIbd, record->json, out.problems);
        if (!rows) {
            out.problems.push_back("mysql." + std::string(name) + " cannot be read: " + rows.status().message());
            return std::nullopt;
        }
        return std::move(*rows);
    };
    const auto schemata = rowsOf("schemata");
    const auto tables = rowsOf("tables");
    if (!schemata || !tables) return out;
    std::map<std::string, std::string> schemaNames;
    for (const DictionaryRow& row : *schemata) schemaNames[valueOr(row, "id")] = valueOr(row, "name");
    struct Named {
        std::string schema;
        std::string name;
    };
    std::map<std::string, Named> tableNames;
    for (const DictionaryRow& row : *tables) {
        const auto schema = schemaNames.find(valueOr(row, "schema_id"));
        if (schema == schemaNames.end()) continue;
        const std::string name = valueOr(row, "name");
        tableNames[valueOr(row, "id")] = {schema->second, name};
        if (valueOr(row, "type") != "VIEW") continue;
        const auto query = row.find("view_definition_utf8");
        if (query == row.end() || !query->second) {
            out.problems.push_back("view " + schema->second + "." + name + " has no definition");
            continue;
        }
        out.views.push_back({schema->second, name, *query->second});
    }
    if (const auto triggers = rowsOf("triggers")) {
        for (const DictionaryRow& row : *triggers) {
            const std::string name = valueOr(row, "name");
            const auto table = tableNames.find(valueOr(row, "table_id"));
            const auto statement = row.find("action_statement_utf8");
            if (table == tableNames.end() || statement == row.end() || !statement->second) {
                out.problems.push_back("trigger " + name + " names no table or has no statement");
                continue;
            }
            core::DictionaryTrigger t;
            t.schema = table->second.schema;
            t.table = table->second.name;
            t.name = name;
            t.timing = valueOr(row, "action_timing");
            t.event = valueOr(row, "event_type");
            t.order = std::strtoull(valueOr(row, "action_order", "0").c_str(), nullptr, 10);
            t.statement = *statement->second;
            t.sqlMode = valueOr(row, "sql_mode");
            out.triggers.push_back(std::move(t));
        }
    }
    if (const auto routines = rowsOf("routines")) out.routines = routines->size();
    return out;
}

}  // namespace dunmore::innodb
