// fuzz-link: dunmore_output
// fuzz-seeds: data/sample/datadir/*/*.TRG data/sample/datadir/*/*.TRN data/sample/datadir/*/db.opt
// fuzz-seeds: data/sample/datadir/library/available_books.frm data/sample/datadir/shop/customer_orders.frm
// fuzz-seeds: ../shared/peer-fixtures/mariadb-server/std_data/*.TRG
//
// The text files of a database folder over hostile bytes: the bytes are a view
// definition (db/v.frm), a trigger file (db/t.TRG) and a db.opt at once, and each is
// read as a save reads it: the view's CREATE VIEW statement and its damage (query, md5),
// the trigger statements and their damage, the character set and collation of db.opt.
// The scan of the folder reads the files' first bytes. What comes out must be bounded by
// the bytes, and db.opt never puts anything but a plain name into a script.
#include "core/main_frame.h"
#include "core/scan.h"
#include "output/script_output.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

const fs::path& folder() {
    static const fs::path path = [] {
        const fs::path p = fs::temp_directory_path() /
                           ("dunmore-definition-text-fuzz-" + std::to_string(::getpid())) / "db";
        fs::create_directories(p);
        return p;
    }();
    return path;
}

void writeFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
}

bool plainName(const std::string& s) {
    for (const char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& db = folder();
    const std::string view = (db / "v.frm").string();
    const std::string trigger = (db / "t.TRG").string();
    writeFile(view, data, size);
    writeFile(trigger, data, size);
    writeFile(db / "db.opt", data, size);

    // Unescaping never lengthens a text; stored texts are at most the file.
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (schema::unescapeDefinitionText(text).size() > size) std::abort();
    (void)schema::renameDatabaseQualifier(text, "db", "rep_db");
    (void)schema::renameDatabaseQualifier(text, "", "rep_");

    const std::string statement = schema::viewStatement(view);
    const std::string viewDamage = schema::viewFileDamage(view);
    if (!statement.empty() && !viewDamage.empty()) std::abort();

    std::string lines;
    if (schema::readDefinitionLines(trigger, lines)) {
        for (const std::string& body : schema::triggerBodies(schema::definitionValue(lines, "triggers=")))
            if (body.size() > lines.size()) std::abort();
    }
    core::AppSettings settings;
    core::SilentFrontend frontend;
    core::MainFrame frame(settings, frontend);
    settings.savingScript = true;
    const std::string triggers = schema::triggerStatements(frame, trigger);
    const std::string triggerDamage = schema::triggerFileDamage(trigger);
    if (!triggers.empty() && !triggerDamage.empty()) std::abort();

    const output::DatabaseOptions options = output::readDatabaseOptions(db.string());
    if (!plainName(options.characterSet) || !plainName(options.collation)) std::abort();
    (void)output::scriptHead("db", options);

    // The scan reads the first bytes of every .frm (a table, a view or neither).
    frame.catalogue.dataFolder = db.parent_path().string() + "/";
    core::findDatabaseFolders(frame, frame.catalogue.dataFolder);
    for (std::size_t i = 0; i < frame.catalogue.databaseFolders.size(); ++i) {
        const auto root = frame.tree.insertNode(core::CheckTree::kNone, "db", core::kTagStructural);
        const auto tables = frame.tree.insertNode(root, "Tables", core::kTagStructural);
        core::scanDatabaseFolder(frame, frame.catalogue.databaseFolders[i], tables, root,
                                 static_cast<std::int32_t>(i));
    }
    return 0;
}
