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

// Each body renamed into the replacement database and created on the server or written
// as a DELIMITER block.
std::string createTriggers(core::MainFrame& frame, std::vector<std::string> bodies,
                           const std::string& database) {
    std::string result;
    for (std::string& body : bodies) {
        if (!database.empty())
            body = renameDatabaseQualifier(body, database,
                                           std::string(kReplacementPrefix) + database);
        if (frame.settings.savingToServer) {
            const bool created =
                frame.serverConnection && frame.serverConnection->executeStatement("CREATE " + body);
            const std::string line =
                created ? "Trigger Created Successfully." : "Error executing Trigger.";
            frame.addOutputLine(line);
            frame.writeLog(line + "\r\n");
            continue;
        }
        result += "DELIMITER $$\nCREATE " + body + "\n$$\nDELIMITER ;\n";
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
    return createTriggers(frame, triggerBodies(list), database);
}

std::string dictionaryTriggerBody(const core::DictionaryTrigger& trigger) {
    return "TRIGGER " + quoteIdentifier(trigger.name) + " " + trigger.timing + " " + trigger.event +
           " ON " + quoteIdentifier(trigger.table) + " FOR EACH ROW " + trigger.statement;
}

std::string triggerStatements(core::MainFrame& frame, const core::TriggerEntry& entry) {
    if (entry.dictionaryTriggers.empty())
        return triggerStatements(frame, core::joinPath(entry.databaseFolder, entry.fileName));
    std::vector<std::string> bodies;
    for (const core::DictionaryTrigger& t : entry.dictionaryTriggers) bodies.push_back(dictionaryTriggerBody(t));
    return createTriggers(frame, std::move(bodies), entry.dictionaryTriggers.front().schema);
}

std::string triggerDamage(const core::TriggerEntry& entry) {
    if (!entry.dictionaryTriggers.empty()) return {};
    return triggerFileDamage(core::joinPath(entry.databaseFolder, entry.fileName));
}

}  // namespace dunmore::schema
