// The script files of a save. Each database's script is UTF-8 text without a byte-order
// mark: the session settings, CREATE SCHEMA and USE for the database renamed "rep_" +
// its name, then one section per saved table (CREATE TABLE and the rows' INSERT
// statements) and trigger file (DELIMITER-wrapped CREATE TRIGGER) in tree order, and the
// CREATE VIEW statements last, each after the views it reads. db.opt, read for the
// schema's character set and collation, is a text file of key=value lines such as
// "default-character-set=latin1" and "default-collation=latin1_swedish_ci".
#include "output/script_output.h"

#include "core/file_name.h"
#include "core/log_file.h"
#include "core/read_only_file.h"
#include "core/scan.h"
#include "innodb/blob_file.h"
#include "schema/column_type.h"
#include "schema/view_statement.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace dunmore::output {

namespace fs = std::filesystem;

namespace {

// db.opt holds two short lines; anything much larger is not a db.opt.
constexpr std::uint64_t kMaxDbOptSize = 1 << 16;

bool isPlainName(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '_';
        if (!ok) return false;
    }
    return true;
}

void takeValue(std::string_view line, std::string_view key, std::string& value) {
    const auto p = line.find(key);
    if (p == std::string_view::npos) return;
    std::string_view rest = line.substr(p + key.size());
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    value = std::string(rest);
}

}  // namespace

DatabaseOptions readDatabaseOptions(const std::string& databaseFolder) {
    DatabaseOptions options;
    core::ReadOnlyFile file;
    if (!file.open(core::joinPath(databaseFolder, "db.opt")).isOk() || file.size() > kMaxDbOptSize)
        return options;
    const auto bytes = file.readVector(0, static_cast<std::size_t>(file.size()));
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        takeValue(line, "character-set=", options.characterSet);
        takeValue(line, "collation=", options.collation);
        pos = end + 1;
    }
    if (!isPlainName(options.characterSet)) options.characterSet.clear();
    if (!isPlainName(options.collation)) options.collation.clear();
    return options;
}

std::string scriptHead(std::string_view database, const DatabaseOptions& options) {
    const std::string name =
        schema::quoteIdentifier(std::string(schema::kReplacementPrefix) + std::string(database));
    std::string head = "SET NAMES utf8mb4;\r\nSET TIME_ZONE='+00:00';\r\n";
    head += "CREATE SCHEMA " + name;
    if (!options.characterSet.empty()) head += " CHARACTER SET " + options.characterSet;
    if (!options.collation.empty()) head += " COLLATE " + options.collation;
    head += ";\r\nUSE " + name + ";\r\n";
    return head;
}

bool writeMarkerFile(const std::string& folder) {
    std::FILE* f = std::fopen(core::joinPath(folder, std::string(kMarkerFileName)).c_str(), "w+b");
    if (!f) return false;
    const bool written = std::fwrite(folder.data(), 1, folder.size(), f) == folder.size();
    return std::fclose(f) == 0 && written;
}

bool scriptFolderHoldsFiles(const std::string& savingFolder) {
    std::error_code ec;
    const fs::path folder = fs::path(savingFolder) / kScriptFolderName;
    if (!fs::exists(fs::symlink_status(folder, ec))) return false;
    if (!fs::is_directory(folder, ec)) return true;
    return fs::directory_iterator(folder, ec) != fs::directory_iterator() || ec;
}

bool removeScriptFolder(const std::string& savingFolder) {
    std::error_code ec;
    const fs::path folder = fs::path(savingFolder) / kScriptFolderName;
    fs::remove_all(folder, ec);
    return !ec && !fs::exists(fs::symlink_status(folder, ec));
}

void reportFailure(core::MainFrame& frame, ScriptJobState& state, const std::string& text) {
    ++state.failures;
    state.lastFailure = text;
    frame.addOutputLine(text);
    frame.writeLog(text + "\r\n");
}

void startScriptOutput(core::MainFrame& frame, ScriptJobState& state) {
    core::AppSettings& settings = frame.settings;
    std::string folder = core::joinPath(settings.savingFolder, std::string(kScriptFolderName));
    // LOAD_FILE calls name the blob files by this path, so it must not depend on the
    // directory the script is replayed from.
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    if (!ec) folder = core::collapseSeparators(absolute.lexically_normal().string());
    settings.savingFolder = folder;
    fs::create_directories(settings.savingFolder, ec);
    fs::create_directories(core::joinPath(settings.savingFolder, std::string(kBlobFolderName)), ec);
    // The blob files of an earlier save into this folder keep their names: this save's
    // numbers follow theirs.
    const std::uint64_t next = innodb::nextFreeBlobNumber(settings.savingFolder);
    if (settings.blobFileCounter.load() < next) settings.blobFileCounter = next;
    if (!writeMarkerFile(settings.savingFolder))
        reportFailure(frame, state,
                      "File " + core::joinPath(settings.savingFolder, std::string(kMarkerFileName)) +
                          " not written.");
    frame.writeLog("Script Saving Path:\t" + settings.savingFolder + "\r\n");
}

void writeDefinitionSection(core::ScriptWriter& writer, std::string_view text) {
    writer.writeLineEnd();
    writer.writeText(text);
    writer.writeLineEnd();
}

void addViewSection(ScriptJobState& state, std::string viewName, std::string statement) {
    state.pendingViews.emplace_back(std::move(viewName), std::move(statement));
}

std::vector<std::pair<std::string, std::string>> orderViewsForCreation(
    std::vector<std::pair<std::string, std::string>> pending, std::string_view database) {
    const std::string qualifier =
        schema::quoteIdentifier(std::string(schema::kReplacementPrefix) + std::string(database)) + ".";
    const auto names = [&](const std::string& statement, const std::string& view) {
        return statement.find(qualifier + schema::quoteIdentifier(view)) != std::string::npos;
    };
    std::vector<std::pair<std::string, std::string>> ordered;
    while (!pending.empty()) {
        std::size_t next = 0;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            bool ready = true;
            for (std::size_t j = 0; j < pending.size() && ready; ++j)
                if (j != i && names(pending[i].second, pending[j].first)) ready = false;
            if (ready) {
                next = i;
                break;
            }
        }
        ordered.push_back(std::move(pending[next]));
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(next));
    }
    return ordered;
}

namespace {

void writePendingViews(core::MainFrame& frame, ScriptJobState& state) {
    auto pending = std::move(state.pendingViews);
    state.pendingViews.clear();
    for (const auto& view : orderViewsForCreation(std::move(pending), state.currentDatabase))
        writeDefinitionSection(frame.scriptWriter, view.second);
}

}  // namespace

void closeDatabaseScript(core::MainFrame& frame, ScriptJobState& state) {
    core::ScriptWriter& writer = frame.scriptWriter;
    if (!writer.isOpen()) {
        state.pendingViews.clear();
        return;
    }
    writePendingViews(frame, state);
    writer.close();
    if (writer.failed()) {
        writer.resetFailure();
        reportFailure(frame, state, "Script File " + state.currentScriptPath + " not written completely.");
    }
}

void startDatabaseScript(core::MainFrame& frame, ScriptJobState& state,
                         const std::string& databaseFolder) {
    const std::string database = core::databaseName(databaseFolder);
    // The script is named after the real name unless that cannot be a file name.
    const bool fileSafe = database != "." && database != ".." &&
                          database.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
    const std::string path = core::joinPath(
        frame.settings.savingFolder,
        (fileSafe ? database : core::lastPathPart(databaseFolder)) + ".sql");
    if (path == state.currentScriptPath) return;
    closeDatabaseScript(frame, state);
    state.currentScriptPath = path;
    state.currentDatabase = database;
    const std::string creating = "Creating Script File For Database " + database;
    frame.addOutputLine(creating);
    frame.writeLog("\r\n" + creating + "\r\n");
    core::ScriptWriter& writer = frame.scriptWriter;
    if (!writer.open(path)) {
        writer.resetFailure();
        const std::string line = "Sctipt File for Database " + database + " not created.";
        ++state.failures;
        frame.addOutputLine(line);
        frame.writeLog("\r\n" + line + "\r\n");
        return;
    }
    writer.writeText(scriptHead(database, readDatabaseOptions(databaseFolder)));
}

void finishScriptOutput(core::MainFrame& frame, ScriptJobState& state) {
    closeDatabaseScript(frame, state);
    frame.writeLog("Script Saving Completed...\r\n");
    frame.writeLog(core::logSectionEnd());
}

}  // namespace dunmore::output
