// fuzz-link: dunmore_output
// fuzz-max-len: 131072
// fuzz-seeds: ../shared/peer-fixtures/mysql8/percona-parser/tests/*_sdi.json
// fuzz-seeds: ../shared/peer-fixtures/mysql8/ibdNinja/tests/8.0/fixtures/*.ibd ../shared/peer-fixtures/mysql8/ibdNinja/tests/8.4/fixtures/*.ibd
// fuzz-seeds: ../shared/peer-fixtures/mysql8/go-innodb/testdata/*.ibd ../shared/peer-fixtures/mysql8/InnoDB_rs/test_data/*.ibd
//
// The SDI of MySQL 8.0+ tablespaces over hostile bytes. An input that begins with '[' or
// '{' is JSON: the text itself and every "object" of an ibd2sdi listing are read as the
// Table object of an SDI record (columns, indexes, the clustered layout with row versions
// and instant defaults). Any other input is a tablespace (db/t.ibd without a .frm): its
// flags, the SDI B-tree with its zlib-compressed records (kept in the record or in SDI
// BLOB pages), the definition built from it, and the table's rows read as `dunmore
// check` reads them (the clustered index, LOB values of MySQL 8). The reading ends with
// a status, reads nothing outside its buffers, and keeps what the bytes bound.
#include "core/main_frame.h"
#include "innodb/sdi_definition.h"
#include "innodb/sdi_reader.h"
#include "output/script_save_job.h"
#include "schema/collation_table.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

const fs::path& folder() {
    static const fs::path path = [] {
        const fs::path p =
            fs::temp_directory_path() / ("dunmore-sdi-fuzz-" + std::to_string(::getpid())) / "db";
        fs::create_directories(p);
        schema::loadApplicationCollations(DUNMORE_BINARY_DIR "/bin");
        return p;
    }();
    return path;
}

void parseTable(std::string_view json) {
    core::TableDefinitionState def;
    innodb::SdiTableInfo info;
    const core::Status st = innodb::parseSdiTable(def, json, schema::applicationCollations(), &info);
    if (!st.isOk() && !def.columns.empty()) std::abort();
}

// The text of the JSON value that begins at json[at] ('{'), to its matching '}'.
std::string_view objectAt(std::string_view json, std::size_t at) {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = at; i < json.size(); ++i) {
        const char c = json[i];
        if (quoted) {
            if (c == '\\') ++i;
            else if (c == '"') quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            return json.substr(at, i - at + 1);
        }
    }
    return json.substr(at);
}

void readTablespace(const std::uint8_t* data, std::size_t size) {
    const fs::path& db = folder();
    const fs::path ibd = db / "t.ibd";
    if (std::FILE* f = std::fopen(ibd.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    {
        core::ReadOnlyFile file;
        if (file.open(ibd).isOk()) {
            (void)innodb::readTablespaceFlags(file);
            const auto records = innodb::readSdiRecords(file);
            if (records)
                for (const auto& r : records->records) parseTable(r.json);
        }
    }
    core::AppSettings settings;
    core::SilentFrontend frontend;
    core::MainFrame frame(settings, frontend);
    frame.catalogue.dataFolder = db.parent_path().string() + "/";
    frame.catalogue.databaseFolders = {db.string()};
    frame.catalogue.tables = {core::TableEntry{"t", 0, "t"}};
    settings.savingScript = true;
    settings.checkOnly = true;
    settings.blobsInline = true;
    settings.saveJobs = 1;
    core::TableDefinitionState def;
    const core::TableEntry& entry = frame.catalogue.tables.front();
    if (!innodb::readCatalogueTableDefinition(def, frame.catalogue, entry, settings).isOk() ||
        def.columns.empty())
        return;
    core::TableRowCounts counts;
    (void)output::saveTableRows(frame, entry, std::move(def), db.string(), "t", false, &counts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!text.empty() && (text.front() == '[' || text.front() == '{')) {
        parseTable(text);
        constexpr std::string_view kObject = "\"object\":";
        for (std::size_t at = text.find(kObject); at != std::string_view::npos;
             at = text.find(kObject, at + 1)) {
            const std::size_t open = text.find('{', at);
            if (open == std::string_view::npos) break;
            parseTable(objectAt(text, open));
        }
        return 0;
    }
    readTablespace(data, size);
    return 0;
}
