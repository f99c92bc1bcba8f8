// Table definitions from the SDI JSON of MySQL 8.0+ (sql/dd/impl/sdi.cc writes it):
//
//   {"mysqld_version_id": 80040, "dd_object_type": "Table",
//    "dd_object": {"name", "schema_ref", "row_format", "collation_id",
//      "columns": [{"name", "type" (dd::enum_column_types), "is_nullable",
//                   "is_unsigned", "is_zerofill", "is_virtual", "hidden" (1 visible,
//                   2 hidden by the storage engine, 3 hidden by SQL, 4 INVISIBLE),
//                   "char_length" (bytes), "numeric_precision", "numeric_scale",
//                   "datetime_precision", "collation_id", "comment", "options",
//                   "se_private_data", "generation_expression_utf8",
//                   "elements": [{"name": base64 member, "index"}]}, ...],
//      "indexes": [{"name", "type" (1 PRIMARY, 2 UNIQUE, 3 MULTIPLE, 4 FULLTEXT,
//                   5 SPATIAL), "hidden", "se_private_data" ("id=..;root=..;"),
//                   "elements": [{"column_opx", "length", "hidden"}]}, ...]}}
//
// The first index is the clustered one; its elements list the fields of its records in
// order: the key parts, DB_TRX_ID, DB_ROLL_PTR (DB_ROW_ID first without a key), the other
// columns. From 8.0.29 a column's se_private_data carries physical_pos (its place in the
// record), version_added and version_dropped; instantly dropped columns stay in the
// column list, hidden, as "!hidden!_dropped_v<V>_p<P>_<name>", and fields added instantly
// carry their value for older records as default=<hex bytes> or default_null=1.
#include "innodb/sdi_definition.h"

#include "core/collation_numbers.h"
#include "core/field_type.h"
#include "core/scan.h"
#include "innodb/column_layout.h"
#include "innodb/sdi_reader.h"
#include "schema/collation_table.h"
#include "schema/frm_reader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>

namespace dunmore::innodb {

namespace {

using Json = nlohmann::json;

constexpr std::uint32_t kHiddenVisible = 1;
constexpr std::uint32_t kHiddenSe = 2;
constexpr std::uint32_t kHiddenUser = 4;
constexpr std::uint32_t kIndexPrimary = 1;
constexpr std::uint32_t kIndexUnique = 2;
constexpr std::uint32_t kWholeColumn = 0xFFFFFFFF;
using core::FieldType;
using core::fieldType;

// A number of an SDI object that is no whole number its field can hold (a damaged text
// can hold 1e67 or -1 there).
struct DamagedNumber {
    std::string key;
};

// The number at key of object, fallback when it is missing. Anything but a whole number
// that T holds is DamagedNumber: nlohmann's own conversion of a floating-point value out
// of T's range would be undefined. A non-object throws as nlohmann's value() does.
template <typename T>
T number(const Json& object, const char* key, T fallback) {
    if (!object.is_object()) return object.value(key, fallback);
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (it->is_number_unsigned()) {
        const auto v = it->get<std::uint64_t>();
        if (v <= std::numeric_limits<T>::max()) return static_cast<T>(v);
    } else if (it->is_number_integer()) {
        const auto v = it->get<std::int64_t>();
        if (v >= 0 && static_cast<std::uint64_t>(v) <= std::numeric_limits<T>::max()) return static_cast<T>(v);
    }
    throw DamagedNumber{key};
}

// dd::enum_column_types to the MySQL field type codes of .frm files.
std::optional<std::uint32_t> mysqlTypeOf(std::uint32_t ddType) {
    if (ddType >= 1 && ddType <= 20) return ddType - 1;  // DECIMAL .. TIME2
    switch (ddType) {
        case 21: return core::typeCode(FieldType::NewDecimal);
        case 22: return core::typeCode(FieldType::Enum);
        case 23: return core::typeCode(FieldType::Set);
        case 24: return core::typeCode(FieldType::TinyBlob);
        case 25: return core::typeCode(FieldType::MediumBlob);
        case 26: return core::typeCode(FieldType::LongBlob);
        case 27: return core::typeCode(FieldType::Blob);
        case 28: return core::typeCode(FieldType::VarString);
        case 29: return core::typeCode(FieldType::String);
        case 30: return core::typeCode(FieldType::Geometry);
        case 31: return core::typeCode(FieldType::Json);
        default: return std::nullopt;
    }
}

// "key=value;key=value;" texts of options and se_private_data.
std::map<std::string, std::string> keyValues(const std::string& text) {
    std::map<std::string, std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        const auto eq = item.find('=');
        if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
        start = end + 1;
    }
    return out;
}

std::uint64_t numberOr(const std::map<std::string, std::string>& kv, const std::string& key,
                       std::uint64_t fallback) {
    const auto it = kv.find(key);
    if (it == kv.end() || it->second.empty()) return fallback;
    std::uint64_t v = 0;
    for (const char c : it->second) {
        if (c < '0' || c > '9') return fallback;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return v;
}

std::optional<std::string> fromBase64(const std::string& text) {
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else if (c == '=') break;
        else return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

std::optional<std::string> fromHex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string out;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = digit(text[i]);
        const int lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

std::uint32_t geometryTypeOf(const std::map<std::string, std::string>& options) {
    return static_cast<std::uint32_t>(numberOr(options, "geom_type", 0));
}

// One SDI column as a .frm column (index: its place in ctx.columns, when it is one).
core::ColumnDefinition columnOf(const Json& c, std::uint32_t mysqlType) {
    core::ColumnDefinition col;
    col.name = c.value("name", "");
    col.typeCode = mysqlType;
    col.length = static_cast<std::int32_t>(number(c, "char_length", 0u));
    col.nullable = c.value("is_nullable", false) ? 1 : 0;
    col.isUnsigned = c.value("is_unsigned", false);
    col.isZerofill = c.value("is_zerofill", false);
    col.charset = static_cast<std::int32_t>(number(c, "collation_id", 0u));
    col.comment = c.value("comment", "");
    const auto options = keyValues(c.value("options", ""));
    switch (fieldType(mysqlType)) {
        case FieldType::Decimal:
        case FieldType::NewDecimal:
            col.precision = static_cast<std::int32_t>(number(c, "numeric_precision", 0u));
            col.decimals = static_cast<std::int32_t>(number(c, "numeric_scale", 0u));
            break;
        case FieldType::Float:
        case FieldType::Double:
            if (!c.value("numeric_scale_null", true)) {
                col.precision = static_cast<std::int32_t>(number(c, "numeric_precision", 0u));
                col.decimals = static_cast<std::int32_t>(number(c, "numeric_scale", 0u));
            }
            break;
        case FieldType::Bit:  // BIT: the length is the number of bits
            col.length = static_cast<std::int32_t>(number(c, "numeric_precision", 0u));
            break;
        case FieldType::Geometry:
            col.geometryType = static_cast<std::int32_t>(geometryTypeOf(options));
            col.charset = core::kBinaryCollation;
            break;
        default:
            break;
    }
    if (fieldType(mysqlType) == FieldType::Enum || fieldType(mysqlType) == FieldType::Set) {
        for (const Json& e : c.value("elements", Json::array())) {
            const auto member = fromBase64(e.value("name", ""));
            col.members.push_back(member.value_or(std::string()));
        }
    }
    return col;
}

// How InnoDB stores one SDI column in the clustered records.
core::InnodbColumn fieldOf(const core::ColumnDefinition& col, const schema::CollationTable& collations) {
    if (fieldType(col.typeCode) != FieldType::Json) return columnFromDefinition(col, collations);
    // JSON is a binary BLOB of InnoDB (DATA_BLOB, binary collation).
    core::ColumnDefinition asBlob = col;
    asBlob.typeCode = core::typeCode(FieldType::LongBlob);
    asBlob.charset = core::kBinaryCollation;
    core::InnodbColumn f = columnFromDefinition(asBlob, collations);
    f.column = col;
    return f;
}

// Whether a key part of partLength bytes holds only the start of the column (character
// and binary strings, BLOB and TEXT); other key parts are whole columns.
bool isPrefix(const core::ColumnDefinition& col, std::uint32_t partLength) {
    switch (fieldType(col.typeCode)) {
        case FieldType::Varchar: case FieldType::VarString: case FieldType::String:
            return partLength != kWholeColumn && partLength < static_cast<std::uint32_t>(std::max(col.length, 0));
        case FieldType::TinyBlob: case FieldType::MediumBlob: case FieldType::LongBlob: case FieldType::Blob: case FieldType::Geometry:
            return partLength != kWholeColumn;
        default:
            return false;
    }
}

core::InnodbColumn systemField(const std::string& name) {
    core::InnodbColumn f;
    f.mainType = kMainSys;
    f.hidden = true;
    f.column.name = name;
    if (name == "DB_ROLL_PTR") {
        f.preciseType = kPreciseRollPtr;
        f.length = 7;
    } else {
        f.preciseType = name == "DB_TRX_ID" ? kPreciseTrxId : kPreciseRowId;
        f.length = 6;
    }
    f.fixedLength = f.length;
    return f;
}

void resetDefinition(core::TableDefinitionState& ctx) {
    ctx.engineCode = 0;
    ctx.tableCharset = 0;
    ctx.columns.clear();
    ctx.generatedColumns.clear();
    ctx.keys.clear();
    ctx.intervalValues.clear();
    ctx.sdiFields.clear();
    ctx.sdiRootPage = 0;
}

core::Status parseTable(core::TableDefinitionState& ctx, const Json& doc,
                        const schema::CollationTable& collations, SdiTableInfo& info) {
    if (!doc.is_object() || doc.value("dd_object_type", "") != "Table" ||
        !doc.contains("dd_object") || !doc["dd_object"].is_object())
        return core::Status::corrupt("the SDI record is not a Table object");
    const Json& t = doc["dd_object"];
    info.name = t.value("name", "");
    info.schema = t.value("schema_ref", "");
    info.serverVersion = number(doc, "mysqld_version_id", 0u);
    info.rowFormat = number(t, "row_format", 0u);
    const Json columns = t.value("columns", Json::array());
    const Json indexes = t.value("indexes", Json::array());
    if (!columns.is_array() || columns.empty() || !indexes.is_array() || indexes.empty())
        return core::Status::corrupt("the SDI table " + info.name + " lists no columns or no indexes");

    ctx.engineCode = core::kEngineInnodb;
    ctx.tableCharset = number(t, "collation_id", 0u);
    ctx.mysqlVersion = info.serverVersion;

    // Table columns: visible and INVISIBLE ones, in ordinal order (the list's order).
    // Generated ones are the server's to compute: a VIRTUAL one is not stored, a STORED
    // one is, as a field no table column takes.
    std::vector<std::int64_t> tableIndexOf(columns.size(), -1);
    std::vector<std::int64_t> generatedIndexOf(columns.size(), -1);
    std::vector<core::ColumnDefinition> sdiColumns;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Json& c = columns[i];
        const auto type = mysqlTypeOf(number(c, "type", 0u));
        if (!type)
            return core::Status::corrupt("column " + c.value("name", "") + " of " + info.name +
                                         " has the unknown dd type " +
                                         std::to_string(number(c, "type", 0u)));
        sdiColumns.push_back(columnOf(c, *type));
        const std::uint32_t hidden = number(c, "hidden", kHiddenVisible);
        if (hidden != kHiddenVisible && hidden != kHiddenUser) continue;
        core::ColumnDefinition col = sdiColumns.back();
        col.invisible = hidden == kHiddenUser;
        const bool isVirtual = c.value("is_virtual", false);
        if (isVirtual) ++info.virtualColumns;
        // generation_expression is the text the server itself parses (SHOW CREATE TABLE);
        // the _utf8 copy is the one information_schema shows, with its quotes escaped.
        std::string expression = c.value("generation_expression", "");
        if (expression.empty()) expression = c.value("generation_expression_utf8", "");
        if (isVirtual || !expression.empty()) {
            if (expression.empty())
                return core::Status::corrupt("the virtual column " + col.name + " of " + info.name +
                                             " has no generation expression");
            generatedIndexOf[i] = static_cast<std::int64_t>(ctx.generatedColumns.size());
            ctx.generatedColumns.push_back({std::move(col), std::move(expression), !isVirtual,
                                            ctx.columns.size()});
            continue;
        }
        col.index = static_cast<std::uint32_t>(ctx.columns.size());
        tableIndexOf[i] = col.index;
        ctx.columns.push_back(std::move(col));
    }

    for (const Json& ix : indexes) {
        if (ix.value("hidden", false)) continue;
        const std::uint32_t type = number(ix, "type", 0u);
        core::KeyInfo key;
        key.name = ix.value("name", "");
        key.primary = type == kIndexPrimary;
        key.unique = type == kIndexPrimary || type == kIndexUnique;
        for (const Json& e : ix.value("elements", Json::array())) {
            if (e.value("hidden", false)) continue;
            const std::size_t opx = number(e, "column_opx", std::size_t{0});
            if (opx < columns.size() && generatedIndexOf[opx] >= 0) {
                // A key on a generated column: the column's clause names it.
                core::ColumnDefinition& col =
                    ctx.generatedColumns[static_cast<std::size_t>(generatedIndexOf[opx])].column;
                if (key.primary) col.inPrimaryKey = 1;
                else if (key.unique) col.inUniqueKey = 1;
                continue;
            }
            if (opx >= columns.size() || tableIndexOf[opx] < 0) continue;
            core::ColumnDefinition& col = ctx.columns[static_cast<std::size_t>(tableIndexOf[opx])];
            const std::uint32_t length = number(e, "length", kWholeColumn);
            key.parts.push_back({col.index + 1, length == kWholeColumn
                                                    ? static_cast<std::uint32_t>(std::max(col.length, 0))
                                                    : length});
            if (key.primary) col.inPrimaryKey = 1;
            else if (key.unique) col.inUniqueKey = 1;
        }
        ctx.keys.push_back(std::move(key));
    }

    // The clustered index: the first one, whatever its name.
    const Json& clustered = indexes[0];
    const auto indexData = keyValues(clustered.value("se_private_data", ""));
    ctx.sdiRootPage = static_cast<std::uint32_t>(numberOr(indexData, "root", 0));
    info.clusteredRoot = ctx.sdiRootPage;
    info.clusteredIndexId = numberOr(indexData, "id", 0);
    if (ctx.sdiRootPage == 0)
        return core::Status::corrupt("the SDI of " + info.name + " names no root page for index " +
                                     clustered.value("name", ""));

    struct Placed {
        std::uint64_t physical;
        core::InnodbColumn field;
    };
    std::vector<Placed> fields;
    std::vector<bool> used(columns.size(), false);
    bool anyPhysical = false;
    const auto addField = [&](std::size_t opx, std::uint32_t partLength, std::uint64_t order) {
        const Json& c = columns[opx];
        const std::string name = c.value("name", "");
        const std::uint32_t hidden = number(c, "hidden", kHiddenVisible);
        const auto data = keyValues(c.value("se_private_data", ""));
        core::InnodbColumn f;
        if (hidden == kHiddenSe &&
            (name == "DB_TRX_ID" || name == "DB_ROLL_PTR" || name == "DB_ROW_ID")) {
            f = systemField(name);
        } else {
            f = fieldOf(sdiColumns[opx], collations);
            if (tableIndexOf[opx] >= 0) {
                f.column.index = static_cast<std::uint32_t>(tableIndexOf[opx]);
                f.position = f.column.index;
            } else {
                // FTS_DOC_ID, instantly dropped and STORED generated columns: stored,
                // not read as table columns.
                f.hidden = true;
            }
            if (isPrefix(sdiColumns[opx], partLength)) {
                // A key prefix: the whole column follows among the other fields.
                f.hidden = true;
                f.length = partLength;
                f.fixedLength = f.fixedLength != 0 ? partLength : 0;
            }
        }
        f.versionAdded = static_cast<std::uint8_t>(numberOr(data, "version_added", 0));
        f.versionDropped = static_cast<std::uint8_t>(numberOr(data, "version_dropped", 0));
        if (data.count("default_null")) {
            f.hasInstantDefault = true;
            f.column.isNull = true;
        } else if (const auto it = data.find("default"); it != data.end()) {
            f.hasInstantDefault = true;
            f.column.value = fromHex(it->second).value_or(std::string());
        }
        if (data.count("physical_pos")) anyPhysical = true;
        fields.push_back({numberOr(data, "physical_pos", order), std::move(f)});
    };
    std::uint64_t order = 0;
    for (const Json& e : clustered.value("elements", Json::array())) {
        const std::size_t opx = number(e, "column_opx", std::size_t{0});
        if (opx >= columns.size())
            return core::Status::corrupt("the clustered index of " + info.name +
                                         " names column " + std::to_string(opx));
        if (columns[opx].value("is_virtual", false)) continue;
        const std::uint32_t length = number(e, "length", kWholeColumn);
        const bool prefix = !e.value("hidden", false) && isPrefix(sdiColumns[opx], length);
        addField(opx, length, order++);
        if (!prefix) used[opx] = true;
    }
    // InnoDB adds the columns the index does not list, in table order: FTS_DOC_ID of a
    // table with a FULLTEXT index, and instantly dropped columns, which keep their place
    // in older records.
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (used[i] || columns[i].value("is_virtual", false)) continue;
        const std::string name = columns[i].value("name", "");
        if (name == "DB_TRX_ID" || name == "DB_ROLL_PTR" || name == "DB_ROW_ID") continue;
        addField(i, kWholeColumn, order++);
    }
    if (anyPhysical)
        std::stable_sort(fields.begin(), fields.end(),
                         [](const Placed& a, const Placed& b) { return a.physical < b.physical; });
    // 8.0.12 - 8.0.28: the columns added instantly are the ones past instant_col (the
    // number of columns before the first instant ADD) in records without their own count.
    const auto tableData = keyValues(t.value("se_private_data", ""));
    const std::uint64_t instantColumns = numberOr(tableData, "instant_col", 0);
    std::uint64_t userSeen = 0;
    for (auto& p : fields) {
        const bool user = !(p.field.mainType == kMainSys);
        if (user) ++userSeen;
        if (instantColumns != 0 && user && userSeen > instantColumns && p.field.versionAdded == 0 &&
            p.field.hasInstantDefault)
            p.field.instantAdded = true;
        ctx.sdiFields.push_back(std::move(p.field));
    }
    return core::Status::ok();
}

}  // namespace

std::string serverVersionText(std::uint32_t v) {
    return std::to_string(v / 10000) + "." + std::to_string(v / 100 % 100) + "." +
           std::to_string(v % 100);
}

std::string_view rowFormatName(std::uint32_t rowFormat) {
    switch (rowFormat) {
        case 1: return "FIXED";
        case 2: return "DYNAMIC";
        case 3: return "COMPRESSED";
        case 4: return "REDUNDANT";
        case 5: return "COMPACT";
        default: return "";
    }
}

core::Status parseSdiTable(core::TableDefinitionState& ctx, std::string_view json,
                           const schema::CollationTable& collations, SdiTableInfo* info) {
    resetDefinition(ctx);
    SdiTableInfo local;
    core::Status st;
    try {
        const Json doc = Json::parse(json.begin(), json.end());
        st = parseTable(ctx, doc, collations, local);
    } catch (const Json::exception& e) {
        st = core::Status::corrupt(std::string("the SDI JSON cannot be read: ") + e.what());
    } catch (const DamagedNumber& e) {
        st = core::Status::corrupt("the SDI JSON holds no whole number at \"" + e.key + "\"");
    }
    if (!st) resetDefinition(ctx);
    if (info) *info = local;
    return st;
}

core::Status readSdiTableDefinition(core::TableDefinitionState& ctx, const std::filesystem::path& ibdPath,
                                    SdiTableInfo* info) {
    resetDefinition(ctx);
    core::ReadOnlyFile file;
    if (auto st = file.open(ibdPath); !st) return st;
    auto contents = readSdiRecords(file);
    if (!contents) return contents.status();
    const SdiRecord* table = nullptr;
    std::size_t tables = 0;
    for (const SdiRecord& r : contents->records) {
        if (r.type != kSdiTypeTable) continue;
        table = &r;
        ++tables;
    }
    if (tables != 1) {
        std::string why = ibdPath.string() + ": the SDI holds " + std::to_string(tables) +
                          " table records";
        for (const std::string& d : contents->damaged) why += "; " + d;
        return core::Status::corrupt(why);
    }
    core::Status st = parseSdiTable(ctx, table->json, schema::applicationCollations(), info);
    if (!st) return core::Status::corrupt(ibdPath.string() + ": " + st.message());
    return st;
}

core::Status readCatalogueTableDefinition(core::TableDefinitionState& ctx, const core::Catalogue& cat,
                                          const core::TableEntry& table,
                                          core::AppSettings& settings, SdiTableInfo* info) {
    const std::string frm = core::tableFilePath(cat, table, ".frm");
    std::error_code ec;
    if (std::filesystem::exists(frm, ec)) return schema::readTableDefinitionStatus(ctx, frm, settings);
    return readSdiTableDefinition(ctx, core::tableFilePath(cat, table, ".ibd"), info);
}

}  // namespace dunmore::innodb
