// Damaged data folders, as users bring them: copies of the sample data folder with one
// file changed (cut short, bits flipped, a block zeroed or filled with 0xFF, 4-byte
// length fields set to 0xFFFFFFFF), for every file of every kind. For each copy the
// scan and the save of every database must end (no crash, no hang), leave the copy as it
// was, and either save every row of the intact folder or exit 1 with the loss in the log
// and the final message; a row that the intact folder does not hold is never written.
#include "support/fixture.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using dunmore::test::readFileText;
using dunmore::test::writeFileText;

const fs::path kSample = fs::path(DUNMORE_BINARY_DIR) / "sample" / "datadir";
const fs::path kRoot = fs::path(DUNMORE_FIXTURE_ROOT) / "damage";
constexpr std::size_t kPage = 16384;

struct Outcome {
    int status = -1;
    std::string out, err, log;
    std::multiset<std::string> rows;  // INSERT statements, blob files replaced by their bytes
    std::string scripts;              // every script, concatenated
};

std::string shellQuote(const std::string& s) { return "'" + s + "'"; }

int runCommand(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The log files of a folder as UTF-8 (they are written in UTF-16LE).
std::string logText(const fs::path& folder) {
    std::string text;
    if (!fs::exists(folder)) return text;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string bytes = readFileText(e.path());
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            if (bytes[i + 1] == 0 && bytes[i] != '\r') text.push_back(bytes[i]);
    }
    return text;
}

// dunmore ARGS with a time limit; the saved scripts' rows when out is given.
Outcome dunmore(const std::string& args, const fs::path& work) {
    fs::remove_all(work);
    fs::create_directories(work / "logs");
    Outcome r;
    r.status = runCommand("timeout 60 '" DUNMORE_BINARY_DIR "/bin/dunmore' " + args + " --log-folder " +
                          shellQuote((work / "logs").string()) + " >" + shellQuote((work / "stdout").string()) +
                          " 2>" + shellQuote((work / "stderr").string()) + " </dev/null");
    r.out = readFileText(work / "stdout");
    r.err = readFileText(work / "stderr");
    r.log = logText(work / "logs");
    const fs::path scripts = work / "out" / "Scriptdata";
    if (!fs::exists(scripts)) return r;
    static const std::regex loadFile("IFNULL\\(LOAD_FILE\\('([^']*)'\\),~0\\+ISNULL\\(LOAD_FILE\\('[^']*'\\)\\)\\)");
    for (const auto& e : fs::directory_iterator(scripts)) {
        if (e.path().extension() != ".sql") continue;
        const std::string text = readFileText(e.path());
        r.scripts += text;
        std::size_t at = 0;
        while ((at = text.find("INSERT INTO ", at)) != std::string::npos) {
            const std::size_t end = text.find(");\r\n", at);
            std::string row = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
            std::string normal;
            std::sregex_iterator it(row.begin(), row.end(), loadFile), none;
            std::size_t last = 0;
            for (; it != none; ++it) {
                normal += row.substr(last, it->position() - last) + "<" + readFileText((*it)[1].str()) + ">";
                last = it->position() + it->length();
            }
            normal += row.substr(last);
            r.rows.insert(e.path().stem().string() + ": " + normal);
            at = end == std::string::npos ? text.size() : end;
        }
    }
    return r;
}

// Every file below folder with its bytes.
std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = readFileText(e.path());
    return files;
}

// A copy of the sample with files replaced by changed bytes (by their path in the data
// folder); the other files are links to the sample's (they are only read).
fs::path damagedCopy(const std::string& name, const std::map<std::string, std::string>& changed) {
    const fs::path dir = kRoot / name / "datadir";
    fs::remove_all(dir.parent_path());
    for (const auto& e : fs::recursive_directory_iterator(kSample)) {
        const fs::path target = dir / fs::relative(e.path(), kSample);
        const auto change = changed.find(fs::relative(e.path(), kSample).string());
        if (e.is_directory()) {
            fs::create_directories(target);
        } else if (change != changed.end()) {
            writeFileText(target, change->second);
        } else {
            fs::create_directories(target.parent_path());
            fs::create_symlink(e.path(), target);
        }
    }
    return dir;
}

fs::path damagedCopy(const std::string& name, const std::string& file, const std::string& bytes) {
    return damagedCopy(name, std::map<std::string, std::string>{{file, bytes}});
}

struct Mutation {
    const char* name;
    std::function<void(std::string&)> change;
};

void setRun(std::string& b, std::size_t at, std::size_t n, char v) {
    for (std::size_t i = at; i < at + n && i < b.size(); ++i) b[i] = v;
}

// A 16 KiB block in the middle of larger files, the whole file otherwise.
std::pair<std::size_t, std::size_t> block(const std::string& b) {
    if (b.size() < 2 * kPage) return {0, b.size()};
    return {(b.size() / kPage / 2) * kPage, kPage};
}

const Mutation kMutations[] = {
    {"cut to half", [](std::string& b) { b.resize(b.size() / 2); }},
    {"cut to 64 bytes", [](std::string& b) { b.resize(std::min<std::size_t>(b.size(), 64)); }},
    {"bits flipped", [](std::string& b) {
         for (const std::size_t at : {b.size() / 7, b.size() / 3, b.size() / 2, b.size() * 5 / 6})
             if (at < b.size()) b[at] ^= 0x24;
     }},
    {"block zeroed", [](std::string& b) { const auto [at, n] = block(b); setRun(b, at, n, '\0'); }},
    {"block of 0xFF", [](std::string& b) { const auto [at, n] = block(b); setRun(b, at, n, '\xFF'); }},
    {"length fields of 0xFFFFFFFF", [](std::string& b) {
         for (std::size_t k = 1; k <= 6; ++k) setRun(b, b.size() * k / 7 & ~std::size_t{3}, 4, '\xFF');
     }},
};

class DamagedFolders : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_intact = std::make_unique<Outcome>(
            dunmore("save-script " + shellQuote(kSample.string()) + " " +
                        shellQuote((kRoot / "intact" / "out").string()),
                    kRoot / "intact"));
    }
    static std::unique_ptr<Outcome> s_intact;
};
std::unique_ptr<Outcome> DamagedFolders::s_intact;

TEST_F(DamagedFolders, NothingOfOneTableSurvivesIntoTheNext) {
    // products.MYI cut to 64 bytes: the rows saved must not depend on what was saved
    // before (the state of library.authors or of the rest of shop).
    std::string index = readFileText(kSample / "shop/products.MYI");
    index.resize(64);
    const fs::path dir = damagedCopy("leak", "shop/products.MYI", index);
    std::vector<std::multiset<std::string>> products;
    for (const std::string items : {"shop.products", "shop", "library.authors shop.products",
                                    "library.books shop.products"}) {
        SCOPED_TRACE(items);
        const Outcome r = dunmore("save-script " + shellQuote(dir.string()) + " " +
                                  shellQuote((kRoot / "leak" / "save" / "out").string()) + " " + items,
                              kRoot / "leak" / "save");
        std::multiset<std::string> rows;
        for (const auto& row : r.rows)
            if (row.find("INSERT INTO `products`") != std::string::npos) rows.insert(row);
        for (const auto& row : rows) EXPECT_EQ(s_intact->rows.count(row), 1u) << row;
        products.push_back(rows);
    }
    for (std::size_t i = 1; i < products.size(); ++i) EXPECT_EQ(products[i], products[0]);
}

// dunmore check reads as a save reads and saves nothing: on the intact sample every item
// reads; on a copy with a leaf page of library.visits zeroed and the second half of
// library.authors.MYD overwritten with 0xFF it names both tables and what their rows
// miss, exits 1, leaves the copy as it was, and a save of the copy logs the same report.
TEST_F(DamagedFolders, CheckReportsWhatASaveWouldLose) {
    const Outcome intact = dunmore("check " + shellQuote(kSample.string()), kRoot / "check_intact");
    EXPECT_EQ(intact.status, 0) << intact.err;
    EXPECT_EQ(intact.out.find("DAMAGED"), std::string::npos) << intact.out;
    EXPECT_NE(intact.out.find("library.visits (table): intact, 2500 rows\n"), std::string::npos) << intact.out;
    EXPECT_NE(intact.out.find("shop.products (table): intact, 9 rows\n"), std::string::npos) << intact.out;

    std::string visits = readFileText(kSample / "library/visits.ibd");
    setRun(visits, 7 * kPage, kPage, '\0');
    std::string authors = readFileText(kSample / "library/authors.MYD");
    setRun(authors, authors.size() / 2, authors.size(), '\xFF');
    const fs::path dir =
        damagedCopy("check", {{"library/visits.ibd", visits}, {"library/authors.MYD", authors}});
    const auto before = contents(dir);
    const Outcome check = dunmore("check " + shellQuote(dir.string()), kRoot / "check" / "run");
    EXPECT_EQ(check.status, 1) << check.err;
    EXPECT_NE(check.out.find("library.visits (table): DAMAGED: Rows of table visits not saved completely"),
              std::string::npos) << check.out;
    EXPECT_NE(check.out.find(" lost: page 7 damaged (the page is all zeros)"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("library.authors (table): DAMAGED: Rows of table authors not saved completely"),
              std::string::npos) << check.out;
    EXPECT_NE(check.out.find("rows authors.MYI counts were not found"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("library.books (table): intact, 10 rows"), std::string::npos) << check.out;
    EXPECT_EQ(contents(dir), before);

    const Outcome save = dunmore("save-script " + shellQuote(dir.string()) + " " +
                                     shellQuote((kRoot / "check" / "save" / "out").string()),
                                 kRoot / "check" / "save");
    EXPECT_EQ(save.status, 1);
    std::size_t reportLines = 0;
    std::size_t at = 0;
    for (std::size_t end; (end = check.out.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = check.out.substr(at, end - at);
        // The report lines of tables; those of views and triggers are the check's own.
        if (line.rfind("  ", 0) != 0 || line.rfind("  The view definition", 0) == 0 ||
            line.rfind("  The trigger file", 0) == 0)
            continue;
        ++reportLines;
        EXPECT_NE(save.log.find(line.substr(2) + "\n"), std::string::npos) << line;
    }
    EXPECT_GT(reportLines, 10u);
}

}  // namespace
