// fuzz-link: dunmore_output
// fuzz-max-len: 4096
//
// A table of the sample data folder read as `dunmore check` and a save read it, with one
// of its files damaged by the input, and its first preview page. The input is
//   byte 0  the table (every table of the sample, in a fixed order)
//   byte 1  bits 0-1 the file: 0 the rows' file (.ibd, .MYD, or ibdata1 for a table kept
//           there), 1 the .frm, 2 the .MYI (ibdata1 for InnoDB), 3 the .ibd or .MYD again;
//           bit 2 rewrite the checksums of the InnoDB pages an edit touched, so that the
//           damage reads as pages the server wrote; bit 3 without ibdata1; bit 4 cut the
//           file at the 3 bytes that follow
//   then edits, each a 3-byte big-endian offset (taken modulo the file's length), a
//   length byte and that many bytes written there.
// The damaged copy is made once per process and the edits are undone after each run, so
// a run costs what the reading costs. Whatever the bytes, the reading ends, reads nothing
// outside its buffers and writes nothing.
#include "core/file_name.h"
#include "core/main_frame.h"
#include "innodb/dictionary.h"
#include "innodb/page_check.h"
#include "innodb/sdi_definition.h"
#include "output/create_table.h"
#include "output/preview_pages.h"
#include "output/script_save_job.h"
#include "schema/collation_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

struct SampleTable {
    const char* database;
    const char* name;
    bool innodb;
    bool inSystemTablespace;
};

constexpr SampleTable kTables[] = {
    {"library", "authors", false, false},  {"library", "books", true, false},
    {"library", "loans", true, false},     {"library", "visits", true, false},
    {"shop", "customers", true, false},    {"shop", "orders", true, true},
    {"shop", "order_log", false, false},   {"shop", "products", false, false},
};

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A copy of the sample data folder of this process (files copied, so that edits to one
// never reach the sample), with the original bytes of every file kept for the undo.
struct Folder {
    fs::path root;
    std::map<std::string, std::vector<std::uint8_t>> original;

    Folder() {
        const fs::path sample = DUNMORE_SAMPLE_DIR;
        root = fs::temp_directory_path() / ("dunmore-table-fuzz-" + std::to_string(::getpid()));
        fs::remove_all(root);
        for (const auto& e : fs::recursive_directory_iterator(sample)) {
            const fs::path target = root / fs::relative(e.path(), sample);
            if (e.is_directory()) {
                fs::create_directories(target);
            } else if (e.is_regular_file()) {
                fs::create_directories(target.parent_path());
                fs::copy_file(e.path(), target);
                original[target.string()] = readAll(e.path());
            }
        }
        schema::loadApplicationCollations(DUNMORE_BINARY_DIR "/bin");
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Folder& folder() {
    static Folder f;
    return f;
}

// Writes bytes at offset of the file at path.
void writeAt(const std::string& path, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) std::abort();
    if (::pwrite(fd, bytes, n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n)) std::abort();
    ::close(fd);
}

void restore(const std::string& path) {
    const auto& bytes = folder().original.at(path);
    writeAt(path, 0, bytes.data(), bytes.size());
    if (::truncate(path.c_str(), static_cast<off_t>(bytes.size())) != 0) std::abort();
}

void readTable(const SampleTable& table, bool withSystemTablespace) {
    core::AppSettings settings;
    core::SilentFrontend frontend;
    core::MainFrame frame(settings, frontend);
    const fs::path dataDir = folder().root;
    frame.catalogue.dataFolder = dataDir.string() + "/";
    frame.catalogue.databaseFolders = {(dataDir / table.database).string()};
    frame.catalogue.tables = {core::TableEntry{table.name, 0, table.name}};
    if (withSystemTablespace)
        (void)innodb::openSystemTablespace(frame.context, (dataDir / "ibdata1").string());
    settings.savingScript = true;
    settings.checkOnly = true;
    settings.blobsInline = true;
    settings.saveJobs = 1;

    const core::TableEntry& entry = frame.catalogue.tables.front();
    core::TableDefinitionState definition;
    const core::Status read =
        innodb::readCatalogueTableDefinition(definition, frame.catalogue, entry, settings);
    if (read.isOk() && !definition.columns.empty()) {
        if (output::formatCreateTableStatement(definition, table.name).empty()) std::abort();
        core::TableRowCounts counts;
        (void)output::saveTableRows(frame, entry, std::move(definition),
                                    frame.catalogue.databaseFolders.front(), table.name, false,
                                    &counts);
    }
    settings.savingScript = false;
    settings.checkOnly = false;
    settings.blobsInline = false;
    if (output::loadFirstPreviewPage(frame, entry).isOk() && frame.previewTable->moreRows &&
        !frame.previewTable->pageStack.empty())
        (void)output::readPreviewPage(frame, frame.previewTable->pageStack.back());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Folder& f = folder();
    const SampleTable& table = kTables[data[0] % std::size(kTables)];
    const std::uint8_t mode = data[1];
    const fs::path db = f.root / table.database;
    std::string path;
    switch (mode & 3) {
        case 1: path = (db / (std::string(table.name) + ".frm")).string(); break;
        case 2:
            path = table.innodb ? (f.root / "ibdata1").string()
                                : (db / (std::string(table.name) + ".MYI")).string();
            break;
        default:
            path = table.inSystemTablespace ? (f.root / "ibdata1").string()
                                            : (db / (std::string(table.name) + (table.innodb ? ".ibd" : ".MYD"))).string();
            break;
    }
    const std::uint64_t length = f.original.at(path).size();
    const bool pages = path.ends_with(".ibd") || path.ends_with("ibdata1");
    const bool reseal = (mode & 4) != 0 && pages;
    std::size_t at = 2;
    std::optional<std::uint64_t> cut;
    if (mode & 16) {
        if (size < at + 3) return 0;
        cut = ((std::uint64_t{data[at]} << 16) | (std::uint64_t{data[at + 1]} << 8) | data[at + 2]) % (length + 1);
        at += 3;
    }
    std::vector<std::uint64_t> touched;
    while (at + 4 <= size) {
        const std::uint64_t offset =
            ((std::uint64_t{data[at]} << 16) | (std::uint64_t{data[at + 1]} << 8) | data[at + 2]) % length;
        std::size_t n = data[at + 3];
        at += 4;
        n = std::min({n, size - at, static_cast<std::size_t>(length - offset)});
        writeAt(path, offset, data + at, n);
        at += n;
        if (reseal) touched.push_back(offset / innodb::kDefaultPageSize);
    }
    for (const std::uint64_t page : touched) {
        std::vector<std::uint8_t> image(innodb::kDefaultPageSize);
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) std::abort();
        const auto got = ::pread(fd, image.data(), image.size(), static_cast<off_t>(page * image.size()));
        ::close(fd);
        if (got != static_cast<ssize_t>(image.size())) continue;
        innodb::writePageChecksum(image, innodb::PageChecksum::FullCrc32);
        writeAt(path, page * image.size(), image.data(), image.size());
    }
    if (cut && ::truncate(path.c_str(), static_cast<off_t>(*cut)) != 0) std::abort();

    readTable(table, (mode & 8) == 0);
    restore(path);
    return 0;
}
