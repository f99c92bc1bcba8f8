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
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <string_view>
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
    // The same rows as "database.table VALUES(...)": what was stored, whatever the
    // definition names the columns.
    std::multiset<std::string> values;
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
    r.status = runCommand("timeout 30 '" DUNMORE_BINARY_DIR "/bin/dunmore' " + args + " --log-folder " +
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
            const std::size_t name = normal.find('`');
            const std::size_t nameEnd = normal.find("`(", name + 1);
            const std::size_t values = normal.find(") VALUES(");
            if (name != std::string::npos && nameEnd != std::string::npos && values != std::string::npos)
                r.values.insert(e.path().stem().string() + "." + normal.substr(name + 1, nameEnd - name - 1) +
                                normal.substr(values + 1));
            at = end == std::string::npos ? text.size() : end;
        }
    }
    return r;
}

// What is below a damaged copy: every entry, the target of each link, the bytes of each
// file (the sample the links lead to is compared on its own).
std::map<std::string, std::string> entries(const fs::path& folder) {
    std::map<std::string, std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(e.path(), folder).string();
        if (e.is_symlink()) found[name] = "-> " + fs::read_symlink(e.path()).string();
        else if (e.is_regular_file()) found[name] = readFileText(e.path());
        else found[name] = "folder";
    }
    return found;
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

void setRun(std::string& b, std::size_t at, std::size_t n, char v) {
    for (std::size_t i = at; i < at + n && i < b.size(); ++i) b[i] = v;
}

// FNV-1a: a seed per case that is the same on every platform.
std::uint32_t seedOf(const std::string& text) {
    std::uint32_t h = 2166136261u;
    for (const char c : text) h = (h ^ static_cast<std::uint8_t>(c)) * 16777619u;
    return h;
}

// A position in b drawn by rng that lands on data (a byte that is not zero) when one is
// found within a few draws: the unused tails of files hold nothing to damage.
std::size_t dataPosition(const std::string& b, std::mt19937& rng) {
    std::size_t at = 0;
    if (b.empty()) return at;
    for (int tries = 0; tries < 64; ++tries) {
        at = rng() % b.size();
        if (b[at] != 0) break;
    }
    return at;
}

// A page of a file of several 16 KiB pages drawn by rng: an index page (FIL page type
// 17855) when the file has one, else a page that is not all zeros.
std::size_t pageOf(const std::string& b, std::mt19937& rng) {
    std::vector<std::size_t> index, used;
    for (std::size_t p = 0; p < b.size() / kPage; ++p) {
        const std::string_view page(b.data() + p * kPage, kPage);
        if (static_cast<std::uint8_t>(page[24]) == 0x45 && static_cast<std::uint8_t>(page[25]) == 0xBF)
            index.push_back(p);
        if (page.find_first_not_of('\0') != std::string_view::npos) used.push_back(p);
    }
    const auto& from = index.empty() ? used : index;
    return from.empty() ? 0 : from[rng() % from.size()];
}

bool paged(const std::string& b) { return b.size() >= 2 * kPage; }

// Each mutation changes a file's bytes, drawing what it needs from a generator seeded by
// the case: the same bytes on every run. spots: how many records of a file without
// checksums (a .MYD) the change can reach at the most; a change there that keeps a
// record's form changes only what the record stores, which no reader can tell.
struct Mutation {
    const char* name;
    std::function<void(std::string&, std::mt19937&)> change;
    std::size_t spots;
};

const Mutation kMutations[] = {
    {"cut to half", [](std::string& b, std::mt19937&) { b.resize(b.size() / 2); }, 0},
    {"cut to 64 bytes", [](std::string& b, std::mt19937&) { b.resize(std::min<std::size_t>(b.size(), 64)); }, 0},
    {"emptied", [](std::string& b, std::mt19937&) { b.clear(); }, 0},
    {"bits flipped", [](std::string& b, std::mt19937& rng) {
         for (int i = 0; i < 4 && !b.empty(); ++i) b[dataPosition(b, rng)] ^= static_cast<char>(1 << (rng() % 8));
     }, 4},
    // A page never written (all zeros), or a small file of zeros.
    {"page zeroed", [](std::string& b, std::mt19937& rng) {
         if (paged(b)) setRun(b, pageOf(b, rng) * kPage, kPage, '\0');
         else setRun(b, 0, b.size(), '\0');
     }, 0},
    {"page of 0xFF", [](std::string& b, std::mt19937& rng) {
         if (paged(b)) setRun(b, pageOf(b, rng) * kPage, kPage, '\xFF');
         else setRun(b, dataPosition(b, rng) & ~std::size_t{255}, 256, '\xFF');
     }, 3},
    {"length fields of 0xFFFFFFFF", [](std::string& b, std::mt19937& rng) {
         for (int i = 0; i < 6; ++i) setRun(b, dataPosition(b, rng) & ~std::size_t{3}, 4, '\xFF');
     }, 6},
    {"lengths of 0x7FFF", [](std::string& b, std::mt19937& rng) {
         for (int i = 0; i < 6; ++i) {
             const std::size_t at = dataPosition(b, rng) & ~std::size_t{1};
             setRun(b, at, 1, '\x7F');
             setRun(b, at + 1, 1, '\xFF');
         }
     }, 6},
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

// Every file of the sample (table and view .frm, .TRG, .TRN, db.opt, .MYI, fixed and
// dynamic .MYD, .ibd, ibdata1), damaged in every way of kMutations. For each case the
// scan, the check and the save of the whole folder end in time with a status of their
// own, leave the copy as it was, and the check agrees with the save; the save writes no
// row that the intact folder does not hold (none twice), and either every row of it with
// exit 0, or exits 1 naming what was not saved in the log and in its final message.
TEST_F(DamagedFolders, EveryFileKindDamagedEveryWaySavesAllOrNamesTheLoss) {
    ASSERT_EQ(s_intact->status, 0) << s_intact->err;
    ASSERT_GT(s_intact->values.size(), 2500u);
    const auto sampleBefore = contents(kSample);
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(kSample))
        if (e.is_regular_file()) files.push_back(fs::relative(e.path(), kSample).string());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 27u);
    // DUNMORE_DAMAGE_SWEEP=N (scripts/damage-sweep) draws every mutation N times, each
    // with a seed of its own; the test run draws each once.
    const char* sweepText = std::getenv("DUNMORE_DAMAGE_SWEEP");
    const int sweep = sweepText ? std::max(1, std::atoi(sweepText)) : 1;
    std::size_t failedSaves = 0, cases = 0;
    for (const auto& file : files) {
        const std::string original = readFileText(kSample / file);
        // Mutations that draw nothing give the same bytes every time: tried once.
        std::set<std::string> tried;
        for (const auto& m : kMutations)
        for (int draw = 0; draw < sweep; ++draw) {
            std::string bytes = original;
            const std::string name = file + " " + m.name + (draw == 0 ? "" : " #" + std::to_string(draw));
            std::mt19937 rng(seedOf(name));
            m.change(bytes, rng);
            if (bytes == original || !tried.insert(bytes).second) continue;
            ++cases;
            SCOPED_TRACE(name);
            const fs::path dir = damagedCopy(std::regex_replace(name, std::regex("[^A-Za-z0-9]"), "_"), file, bytes);
            const fs::path work = dir.parent_path();
            const auto before = entries(dir);
            const Outcome scan = dunmore("scan " + shellQuote(dir.string()), work / "scan");
            EXPECT_EQ(scan.status, 0) << scan.err;
            const Outcome check = dunmore("check " + shellQuote(dir.string()), work / "check");
            const Outcome save = dunmore("save-script " + shellQuote(dir.string()) + " " +
                                             shellQuote((work / "save" / "out").string()),
                                         work / "save");
            EXPECT_EQ(entries(dir), before) << "the data folder changed";
            ASSERT_TRUE(save.status == 0 || save.status == 1) << "save exit " << save.status << save.err;
            EXPECT_EQ(check.status, save.status) << check.out << save.err;
            // Never a row the intact folder does not hold, never one twice, but for rows of
            // a damaged .MYD whose bytes the change reached.
            std::string strange;
            std::size_t changed = 0;
            const bool rowsWithoutChecksums = file.ends_with(".MYD");
            const std::string damagedTable =
                fs::path(file).parent_path().string() + "." + fs::path(file).stem().string() + " VALUES(";
            for (const auto& row : save.values) {
                if (save.values.count(row) <= s_intact->values.count(row)) continue;
                if (rowsWithoutChecksums && row.starts_with(damagedTable) && save.values.count(row) == 1) {
                    ++changed;
                    continue;
                }
                strange += row.substr(0, 300) + "\n";
            }
            EXPECT_EQ(strange, "") << "rows that were not stored";
            EXPECT_LE(changed, m.spots) << "rows changed beyond the damage";
            if (save.status == 0) {
                EXPECT_EQ(save.values.size(), s_intact->values.size()) << "rows lost without a word\n" << save.log;
                EXPECT_EQ(check.out.find("DAMAGED"), std::string::npos) << check.out;
            } else {
                ++failedSaves;
                EXPECT_NE(save.err.find("not saved completely. See the log file"), std::string::npos) << save.err;
                EXPECT_NE(save.err.find("FAILED: "), std::string::npos) << save.err;
                EXPECT_TRUE(save.log.find("not saved") != std::string::npos ||
                            save.log.find(" lost") != std::string::npos)
                    << save.log;
                EXPECT_NE(check.out.find("DAMAGED: "), std::string::npos) << check.out;
            }
            if (!HasFailure()) fs::remove_all(work);
        }
    }
    EXPECT_GT(cases, 150u);
    EXPECT_GT(failedSaves, cases / 3);
    EXPECT_EQ(contents(kSample), sampleBefore) << "the sample changed";
}

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

// The BLOB pages (type 10) of library.books hold the off-page parts of two long values:
// the summary of one book over two pages, the cover of another on one. With one of them
// zeroed or with a flipped bit, a save with blob files, with the values inline and a check
// each lose that book's row whole and name it (its key and the column whose value cannot
// be read): every other row is saved as stored, never the row with a value cut short.
TEST_F(DamagedFolders, ADamagedBlobPageLosesItsRowWholeAndNamesIt) {
    const std::string books = readFileText(kSample / "library/books.ibd");
    std::vector<std::size_t> blobPages;
    for (std::size_t p = 0; p < books.size() / kPage; ++p)
        if (static_cast<std::uint8_t>(books[p * kPage + 24]) == 0 && books[p * kPage + 25] == 10)
            blobPages.push_back(p);
    ASSERT_EQ(blobPages.size(), 3u);
    const std::string intactInline =
        "save-script " + shellQuote(kSample.string()) + " " + shellQuote((kRoot / "blob_inline" / "out").string());
    const Outcome inlined = dunmore(intactInline + " library --blobs inline", kRoot / "blob_inline");
    ASSERT_EQ(inlined.status, 0) << inlined.err;
    ASSERT_EQ(inlined.values.size(),
              std::count_if(s_intact->values.begin(), s_intact->values.end(),
                            [](const std::string& row) { return row.starts_with("library."); }));
    struct Damage { const char* name; std::function<void(std::string&, std::size_t)> change; };
    const Damage kDamage[] = {
        {"zeroed", [](std::string& b, std::size_t p) { setRun(b, p * kPage, kPage, '\0'); }},
        {"bit flipped", [](std::string& b, std::size_t p) { b[p * kPage + 2000] ^= 0x04; }},
    };
    std::set<std::string> lostRows;
    for (const std::size_t page : blobPages)
    for (const auto& d : kDamage) {
        const std::string name = "BLOB page " + std::to_string(page) + " " + d.name;
        SCOPED_TRACE(name);
        std::string bytes = books;
        d.change(bytes, page);
        const fs::path dir = damagedCopy("blob_" + std::to_string(page) + "_" + std::string(d.name).substr(0, 3),
                                         "library/books.ibd", bytes);
        const fs::path work = dir.parent_path();
        const Outcome check = dunmore("check " + shellQuote(dir.string()) + " library.books", work / "check");
        EXPECT_EQ(check.status, 1) << check.out;
        EXPECT_NE(check.out.find("library.books (table): DAMAGED: "), std::string::npos) << check.out;
        for (const bool inlineValues : {false, true}) {
            const Outcome save = dunmore("save-script " + shellQuote(dir.string()) + " " +
                                             shellQuote((work / "save" / "out").string()) + " library" +
                                             (inlineValues ? " --blobs inline" : ""),
                                         work / "save");
            const auto& intact = inlineValues ? inlined.values : s_intact->values;
            EXPECT_EQ(save.status, 1) << save.err;
            EXPECT_NE(save.err.find("FAILED: "), std::string::npos) << save.err;
            std::size_t bookRows = 0;
            for (const auto& row : save.values) {
                EXPECT_EQ(intact.count(row), 1u) << row.substr(0, 300);
                if (row.starts_with("library.books VALUES(")) ++bookRows;
            }
            EXPECT_EQ(bookRows, 9u);
            // The row lost is named by its key, with the value that could not be read.
            const std::smatch named = [&] {
                std::smatch m;
                const std::regex line("row with isbn (978000000010[0-9]) lost: its value of (summary|cover) "
                                             "cannot be read whole \\([^\n]*page " +
                                             std::to_string(page) + "[^\n]*\\)\\.\n");
                std::regex_search(save.log, m, line);
                return m;
            }();
            ASSERT_FALSE(named.empty()) << save.log;
            lostRows.insert(named[1].str() + " " + named[2].str());
            EXPECT_NE(check.out.find(named[0].str()), std::string::npos) << check.out;
            for (const auto& row : save.values)
                if (row.starts_with("library.books VALUES("))
                    EXPECT_EQ(row.find("('" + named[1].str() + "'"), std::string::npos) << "the lost row was saved";
            // No blob file holds a part of a value.
            const fs::path blobs = work / "save" / "out" / "blobdata";
            if (fs::exists(blobs))
                for (const auto& e : fs::directory_iterator(blobs)) {
                    const std::string value = readFileText(e.path());
                    EXPECT_TRUE(std::any_of(s_intact->values.begin(), s_intact->values.end(),
                                            [&](const std::string& row) { return row.find("<" + value + ">") != std::string::npos; }))
                        << e.path();
                }
        }
        if (!HasFailure()) fs::remove_all(work);
    }
    // The two pages of the summary lose one row, the cover's page another.
    EXPECT_EQ(lostRows, (std::set<std::string>{"9780000000104 summary", "9780000000108 cover"}));
}

// A .frm that cannot be read, with no data file beside it (a table kept in ibdata1 has
// none): the scan lists the table with the reason, the save reports it not saved with
// that reason in its summary and log and exits 1, the check says the same; the other
// tables are saved whole.
TEST_F(DamagedFolders, AnUnreadableDefinitionWithoutDataFilesIsListedAndNotSaved) {
    const std::string books = readFileText(kSample / "library/books.frm");
    std::string zeroed = books;
    setRun(zeroed, 0, 4096, '\0');
    const std::map<std::string, std::string> definitions = {
        {"library/lost_text.frm", "not a definition at all"},
        {"library/lost_cut.frm", books.substr(0, 64)},
        {"library/lost_zeroed.frm", zeroed},
    };
    const fs::path dir = damagedCopy("lost_frm", std::map<std::string, std::string>{});
    for (const auto& [file, bytes] : definitions) writeFileText(dir / file, bytes);
    const fs::path work = dir.parent_path();
    const Outcome scan = dunmore("scan " + shellQuote(dir.string()), work / "scan");
    EXPECT_EQ(scan.status, 0) << scan.err;
    const Outcome check = dunmore("check " + shellQuote(dir.string()) + " library", work / "check");
    EXPECT_EQ(check.status, 1) << check.out;
    const Outcome save = dunmore("save-script " + shellQuote(dir.string()) + " " +
                                     shellQuote((work / "save" / "out").string()) + " library",
                                 work / "save");
    EXPECT_EQ(save.status, 1) << save.err;
    for (const auto& [file, bytes] : definitions) {
        const std::string table = fs::path(file).stem().string();
        SCOPED_TRACE(table);
        // The scan's line of the table gives why it cannot be read.
        const std::regex listed("\n +" + table + " [^\n]*\\((definition damaged|[^\n]*cannot be read)[^\n]*" +
                                table + "\\.frm\\)?\n");
        EXPECT_TRUE(std::regex_search(scan.out, listed)) << scan.out;
        EXPECT_NE(save.err.find("library." + table), std::string::npos) << save.err;
        EXPECT_TRUE(std::regex_search(save.err, std::regex("library\\." + table + " +table +0 +FAILED: Table " +
                                                           table + " not saved: [^\n]*" + table + "\\.frm")))
            << save.err;
        EXPECT_NE(save.log.find("Table " + table + " not saved: "), std::string::npos) << save.log;
        EXPECT_NE(check.out.find("library." + table + " (table): DAMAGED: its definition cannot be read"),
                  std::string::npos) << check.out;
    }
    // Every row of the other tables of library.
    std::size_t rows = 0, intactRows = 0;
    for (const auto& row : save.values) {
        EXPECT_EQ(s_intact->values.count(row), 1u) << row.substr(0, 300);
        ++rows;
    }
    for (const auto& row : s_intact->values) intactRows += row.starts_with("library.");
    EXPECT_EQ(rows, intactRows);
    if (!HasFailure()) fs::remove_all(work);
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
