// A .TRG file is a text file of key=value lines ("TYPE=TRIGGERS" first). Its
// "triggers=" value lists the table's trigger statements as the server stored them:
// each in apostrophes, separated by blanks, each beginning "CREATE DEFINER=" + the
// definer + " TRIGGER", escaped like every value of these files (\\ \n \0 \z \').
#include "schema/trigger_statements.h"

#include "core/file_name.h"
#include "core/main_frame.h"
#include "core/scan.h"
#include "schema/column_type.h"
#include "schema/ctoken.h"
#include "schema/view_statement.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace dunmore::schema {

namespace {

constexpr std::string_view kStatementHead = "CREATE DEFINER=";
constexpr std::string_view kTriggerWord = "TRIGGER";

// The quoted statement from position from up to its closing apostrophe, unescaped;
// nullopt when the token ends before the statement does (the head text occurred inside
// the statement itself, so the split was not a statement boundary).
std::optional<std::string> quotedStatementFrom(std::string_view token, std::size_t from) {
    for (std::size_t i = from; i < token.size(); ++i) {
        if (token[i] == '\\') {
            ++i;
            continue;
        }
        if (token[i] == '\'') return unescapeDefinitionText(token.substr(from, i - from));
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> triggerBodies(std::string_view list) {
    std::vector<std::string> bodies;
    CToken tokens{std::string(list)};
    tokens.setDelimiter(std::string(kStatementHead));
    std::string pending;
    while (tokens.hasMoreTokens()) {
        std::string token = tokens.nextToken();
        if (!pending.empty()) {
            // Put back the character of the head that the split consumed.
            token = pending + kStatementHead.front() + token;
            pending.clear();
        }
        const auto t = token.find(kTriggerWord);
        if (t == std::string::npos) continue;
        if (auto body = quotedStatementFrom(token, t)) {
            bodies.push_back(std::move(*body));
        } else if (tokens.hasMoreTokens()) {
            pending = std::move(token);
        } else {
            // A damaged file whose last statement lost its closing apostrophe.
            bodies.push_back(unescapeDefinitionText(std::string_view(token).substr(t)));
        }
    }
    return bodies;
}

namespace {

// The number of apostrophe-quoted items of a list value ('a' 'b\'c'), -1 when one is
// not closed.
int quotedItems(std::string_view value) {
    int count = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\'') continue;
        std::size_t j = i + 1;
        while (j < value.size() && value[j] != '\'') j += value[j] == '\\' ? 2 : 1;
        if (j >= value.size()) return -1;
        ++count;
        i = j;
    }
    return count;
}

int wordItems(std::string_view value) {
    int count = 0;
    bool inWord = false;
    for (const char c : value) {
        const bool space = c == ' ';
        if (!space && !inWord) ++count;
        inWord = !space;
    }
    return count;
}

}  // namespace

std::string triggerFileDamage(const std::string& path) {
    std::string text;
    if (!readDefinitionLines(path, text)) return "it cannot be read";
    const std::string_view list = definitionValue(text, "triggers=");
    const int triggers = quotedItems(list);
    if (triggers <= 0) return "its trigger list is cut short or empty";
    // Every per-trigger list the server writes has one entry per trigger.
    if (text.find("\nsql_modes=") != std::string::npos &&
        wordItems(definitionValue(text, "sql_modes=")) != triggers)
        return "its sql_modes do not match its triggers";
    for (const std::string_view key : {"definers=", "client_cs_names=", "connection_cl_names=", "db_cl_names="}) {
        const std::string line = "\n" + std::string(key);
        if (text.find(line) == std::string::npos) continue;
        if (quotedItems(definitionValue(text, key)) != triggers)
            return "its " + std::string(key.substr(0, key.size() - 1)) + " do not match its triggers";
    }
    if (text.find("\ncreated=") != std::string::npos &&
        wordItems(definitionValue(text, "created=")) != triggers)
        return "its created times do not match its triggers";
    return {};
}

namespace {

// The sql_mode flags that change how a trigger's text reads or what it computes, by the
// bits of the number the server keeps for each trigger (sql_modes=). A trigger is
// created under them on top of the loading session's own mode, so that it parses and
// runs as it did.
struct ModeFlag {
    std::uint64_t bit;
    std::string_view name;
};
constexpr ModeFlag kTextModes[] = {
    {1ull << 0, "REAL_AS_FLOAT"},          {1ull << 1, "PIPES_AS_CONCAT"},
    {1ull << 2, "ANSI_QUOTES"},            {1ull << 3, "IGNORE_SPACE"},
    {1ull << 20, "NO_BACKSLASH_ESCAPES"},  {1ull << 29, "HIGH_NOT_PRECEDENCE"},
    {1ull << 32, "EMPTY_STRING_IS_NULL"},
};
constexpr std::uint64_t kAnsiQuotes = 1ull << 2;
constexpr std::uint64_t kNoBackslashEscapes = 1ull << 20;

// The sql_modes numbers, one per trigger; empty when one is not a number.
std::vector<std::uint64_t> triggerModes(std::string_view value) {
    std::vector<std::uint64_t> modes;
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == ' ') {
            ++i;
            continue;
        }
        std::uint64_t mode = 0;
        const auto [end, ec] = std::from_chars(value.data() + i, value.data() + value.size(), mode);
        if (ec != std::errc() || (end != value.data() + value.size() && *end != ' ')) return {};
        modes.push_back(mode);
        i = static_cast<std::size_t>(end - value.data());
    }
    return modes;
}

// The text flags among the comma-separated names of a mode (the sql_mode column of the
// MySQL 8 dictionary), as the bits of the number a trigger file keeps.
std::uint64_t textModeOfNames(std::string_view names) {
    std::uint64_t mode = 0;
    while (!names.empty()) {
        const std::size_t comma = names.find(',');
        const std::string_view name = names.substr(0, comma);
        for (const ModeFlag& f : kTextModes)
            if (f.name == name) mode |= f.bit;
        if (comma == std::string_view::npos) break;
        names.remove_prefix(comma + 1);
    }
    return mode;
}

// The names of the text flags of a mode, comma-separated; empty when it has none.
std::string textModeNames(std::uint64_t mode) {
    std::string names;
    for (const ModeFlag& f : kTextModes)
        if (mode & f.bit) names += (names.empty() ? "" : ",") + std::string(f.name);
    return names;
}

// Each body renamed into the replacement database and created on the server or written
// as a DELIMITER block; modes holds the sql_mode of each body (none: the session's own).
std::string createTriggers(core::MainFrame& frame, std::vector<std::string> bodies,
                           const std::string& database, const std::vector<std::uint64_t>& modes = {}) {
    std::string result;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        std::string& body = bodies[i];
        const std::uint64_t mode = i < modes.size() ? modes[i] : 0;
        if (!database.empty())
            body = renameDatabaseQualifier(body, database, std::string(kReplacementPrefix) + database,
                                           {(mode & kAnsiQuotes) != 0, (mode & kNoBackslashEscapes) != 0});
        const std::string names = textModeNames(mode);
        const std::string setMode =
            "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), '" + names + "')";
        if (frame.settings.savingToServer) {
            auto* server = frame.serverConnection;
            const bool moded = names.empty() || (server && server->executeStatement(
                                                               "SET @rep_sql_mode = @@SESSION.sql_mode") &&
                                                 server->executeStatement(setMode));
            const bool created = moded && server && server->executeStatement("CREATE " + body);
            if (!names.empty() && server) server->executeStatement("SET SESSION sql_mode = @rep_sql_mode");
            const std::string line =
                created ? "Trigger Created Successfully." : "Error executing Trigger.";
            frame.addOutputLine(line);
            frame.writeLog(line + "\r\n");
            continue;
        }
        if (!names.empty()) result += "SET @rep_sql_mode = @@SESSION.sql_mode;\n" + setMode + ";\n";
        result += "DELIMITER $$\nCREATE " + body + "\n$$\nDELIMITER ;\n";
        if (!names.empty()) result += "SET SESSION sql_mode = @rep_sql_mode;\n";
    }
    return result;
}

}  // namespace

std::string triggerStatements(core::MainFrame& frame, const std::string& path) {
    std::string text;
    if (!readDefinitionLines(path, text) || !triggerFileDamage(path).empty()) return {};
    const std::string_view list = definitionValue(text, "triggers=");
    if (list.empty()) return {};
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const std::string database = folder.empty() ? "" : core::databaseName(folder);
    std::vector<std::string> bodies = triggerBodies(list);
    // One mode per stored statement; when a statement was passed over the modes go by
    // position only if they all read the same.
    std::vector<std::uint64_t> modes = triggerModes(definitionValue(text, "sql_modes="));
    if (modes.size() != bodies.size()) {
        bool same = !modes.empty();
        for (const std::uint64_t m : modes) same = same && textModeNames(m) == textModeNames(modes.front());
        modes = same ? std::vector<std::uint64_t>(bodies.size(), modes.front()) : std::vector<std::uint64_t>{};
    }
    return createTriggers(frame, std::move(bodies), database, modes);
}

std::string dictionaryTriggerBody(const core::DictionaryTrigger& trigger) {
    return "TRIGGER " + quoteIdentifier(trigger.name) + " " + trigger.timing + " " + trigger.event +
           " ON " + quoteIdentifier(trigger.table) + " FOR EACH ROW " + trigger.statement;
}

std::string triggerStatements(core::MainFrame& frame, const core::TriggerEntry& entry) {
    if (entry.dictionaryTriggers.empty())
        return triggerStatements(frame, core::joinPath(entry.databaseFolder, entry.fileName));
    std::vector<std::string> bodies;
    std::vector<std::uint64_t> modes;
    for (const core::DictionaryTrigger& t : entry.dictionaryTriggers) {
        bodies.push_back(dictionaryTriggerBody(t));
        modes.push_back(textModeOfNames(t.sqlMode));
    }
    return createTriggers(frame, std::move(bodies), entry.dictionaryTriggers.front().schema, modes);
}

std::string triggerDamage(const core::TriggerEntry& entry) {
    if (!entry.dictionaryTriggers.empty()) return {};
    return triggerFileDamage(core::joinPath(entry.databaseFolder, entry.fileName));
}

}  // namespace dunmore::schema
