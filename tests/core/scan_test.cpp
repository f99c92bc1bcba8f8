#include "core/scan.h"

#include "core/file_name.h"

#include "support/fixture.h"
#include "support/recording_frontend.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

namespace dunmore::core {
namespace {

namespace fs = std::filesystem;

struct ScanRun {
    AppSettings settings;
    test::RecordingFrontend frontend;
    MainFrame frame{settings, frontend};

    void scan(const fs::path& dataDir, const fs::path& logDir) {
        settings.chosenFolder = dataDir.string() + "/";
        settings.logFolder = logDir.string() + "/";
        ASSERT_TRUE(openCommand(frame, [] { return true; }));
        frame.waitForJob();
    }
    // The tree as "text[tag]" lines indented by depth.
    std::string treeText() const {
        std::string out;
        std::function<void(CheckTree::NodeId, int)> walk = [&](CheckTree::NodeId id, int depth) {
            const auto& n = frame.tree.node(id);
            out += std::string(depth * 2, ' ') + n.text + "[" + std::to_string(n.tag) + "]\n";
            for (auto c : n.children) walk(c, depth + 1);
        };
        for (auto r : frame.tree.roots()) walk(r, 0);
        return out;
    }
};

fs::path scratch(const std::string& name) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "scan_scratch" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

void writeBytes(const fs::path& p, const std::string& bytes) { test::writeFileText(p, bytes); }

const char* kFrmTable = "\xFE\x01\x0A\x0C\0\0\0\0\0\0";

// The tree a scan should build from what is on disk, computed independently of the
// scanner from a listing of the folder.
std::string expectedTree(const fs::path& dataDir) {
    std::string out = "MYSQL database[-1]\n  " + dataDir.string() + "/[-1]\n";
    int tables = 0, views = 0, triggers = 0;
    for (const auto& db : fs::directory_iterator(dataDir)) {
        if (!db.is_directory()) continue;
        out += "    " + realName(db.path().filename().string()) + "[-1]\n      Tables[-1]\n";
        std::string tableLines, viewLines, triggerLines;
        std::vector<std::string> order;  // "views" / "trigger" in order of first meeting
        for (const auto& f : fs::directory_iterator(db.path())) {
            if (f.is_directory()) continue;
            const std::string name = f.path().filename().string();
            const std::string ext = f.path().extension().string();
            const std::string head = test::readFileText(f.path()).substr(0, 9);
            if (ext == ".frm" && head.compare(0, 2, "\xFE\x01") == 0) {
                tableLines += "        " + realName(f.path().stem().string()) + "[" + std::to_string(++tables) +
                              "]\n          Keys[-2]\n";
            } else if (ext == ".frm" && head == "TYPE=VIEW") {
                if (viewLines.empty()) order.push_back("views");
                viewLines += "        " + realName(f.path().stem().string()) + "[" + std::to_string(++views) + "]\n";
            } else if (ext == ".TRG") {
                if (triggerLines.empty()) order.push_back("trigger");
                triggerLines += "        " + realName(f.path().stem().string()) + "[" + std::to_string(++triggers) + "]\n";
            }
        }
        out += tableLines;
        for (const auto& o : order)
            out += o == "views" ? "      Views[-4]\n" + viewLines : "      Trigger[-3]\n" + triggerLines;
    }
    return out;
}

const char* const kScanSql = R"SQL(
CREATE DATABASE shop;
USE shop;
CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB;
CREATE TABLE orders (id INT PRIMARY KEY, customer INT) ENGINE=MyISAM;
CREATE TABLE notes (id INT) ENGINE=Aria;
CREATE VIEW big_customers AS SELECT * FROM customers WHERE id > 10;
CREATE VIEW order_ids AS SELECT id FROM orders;
CREATE TRIGGER orders_ai AFTER INSERT ON orders FOR EACH ROW SET @n = 1;
CREATE TRIGGER customers_bi BEFORE INSERT ON customers FOR EACH ROW SET NEW.name = UPPER(NEW.name);
CREATE DATABASE empty_db;
SET GLOBAL innodb_file_per_table = 0;
CREATE DATABASE library;
CREATE TABLE library.books (id INT PRIMARY KEY) ENGINE=InnoDB;
SET GLOBAL innodb_file_per_table = 1;
)SQL";

TEST(Scan, RealDataFolderListsWhatIsOnDiskInEnumerationOrder) {
    const auto fx = test::makeFixture("core_scan", kScanSql);
    ScanRun run;
    const fs::path logDir = scratch("real_log");
    run.scan(fx.dataDir, logDir);

    EXPECT_EQ(run.treeText(), expectedTree(fx.dataDir));
    // The data folder's own files (ibdata1, logs) are not databases; every subfolder is.
    std::vector<std::string> dirs;
    for (const auto& e : fs::directory_iterator(fx.dataDir))
        if (e.is_directory()) dirs.push_back((fx.dataDir / e.path().filename()).string());
    EXPECT_EQ(run.frame.catalogue.databaseFolders, dirs);

    std::map<std::string, std::string> tableDb;
    for (const auto& t : run.frame.catalogue.tables)
        tableDb[t.name] = lastPathPart(run.frame.catalogue.databaseFolders.at(t.databaseIndex));
    EXPECT_EQ(tableDb["customers"], "shop");
    EXPECT_EQ(tableDb["books"], "library");
    EXPECT_EQ(tableDb.count("big_customers"), 0u) << "a view is not a table";
    EXPECT_EQ(std::count_if(run.frame.catalogue.viewFiles.begin(), run.frame.catalogue.viewFiles.end(),
                            [](const std::string& v) { return v.find("/shop/") != std::string::npos; }),
              2);
    std::vector<std::string> shopTriggers;
    for (const auto& t : run.frame.catalogue.triggers)
        if (lastPathPart(t.databaseFolder) == "shop") shopTriggers.push_back(t.fileName);
    std::sort(shopTriggers.begin(), shopTriggers.end());
    EXPECT_EQ(shopTriggers, (std::vector<std::string>{"customers.TRG", "orders.TRG"}));
    EXPECT_TRUE(run.frame.context.systemTablespaceOpen());

    EXPECT_EQ(run.settings.busy.load(), 0);
    // The scan empties the output pane first; the Open command's line stays in the log.
    EXPECT_EQ(run.frontend.lines.front(), "Finding Database and tables");
    const std::string log = test::readFileText(run.settings.logFilePath);
    EXPECT_NE(log.find(utf8ToUtf16le(fx.dataDir.string() + "/ File is selected for recovery....\r\n")),
              std::string::npos);
    EXPECT_NE(log.find(utf8ToUtf16le("MySql database File Path:\t" + fx.dataDir.string() + "/\r\n")),
              std::string::npos);
    EXPECT_EQ(run.frontend.lines.back(), "scanning completed.");
    EXPECT_EQ(run.frontend.messages, std::vector<std::string>{"Scanning completed for selected database file(s)"});
    EXPECT_TRUE(run.frontend.questions.empty());
}

TEST(Scan, ReadOnlyCopyScansCompletelyAndStaysUnchanged) {
    const fs::path src = test::makeFixture("core_scan", kScanSql).dataDir;
    const fs::path copy = scratch("readonly_copy") / "data";
    fs::copy(src, copy, fs::copy_options::recursive);
    for (const auto& e : fs::recursive_directory_iterator(copy))
        fs::permissions(e.path(), e.is_directory() ? fs::perms(0555) : fs::perms(0444));
    ScanRun ro, rw;
    ro.scan(copy, scratch("ro_log"));
    rw.scan(src, scratch("rw_log"));
    EXPECT_EQ(ro.frame.catalogue.tables.size(), rw.frame.catalogue.tables.size());
    EXPECT_GT(ro.frame.catalogue.tables.size(), 0u);
    EXPECT_EQ(ro.frame.catalogue.viewFiles.size(), rw.frame.catalogue.viewFiles.size());
    EXPECT_TRUE(ro.frame.context.systemTablespaceOpen());
    for (const auto& e : fs::recursive_directory_iterator(copy)) fs::permissions(e.path(), fs::perms(0755));
}

TEST(Scan, HandBuiltFoldersFollowTheNamingRules) {
    const fs::path data = scratch("rules");
    writeBytes(data / "a" / "T1.FRM", std::string(kFrmTable, 10));
    writeBytes(data / "a" / "v1.frm", "TYPE=VIEW\nquery=select 1\n");
    writeBytes(data / "a" / "odd.frm", std::string("\xFE\x02\x0A\x0C\0\0\0\0\0\0", 10));
    writeBytes(data / "a" / "short.frm", "\xFE");
    // A view definition whose first line is damaged still holds its query.
    writeBytes(data / "a" / "v2.frm", "TYPE=VIEX\nquery=select 2\n");
    writeBytes(data / "a" / "t1.TRG", "TYPE=TRIGGERS\n");
    writeBytes(data / "a" / "target.trg", "TYPE=TRIGGERS\n");
    writeBytes(data / "a" / "only.ibd", std::string(16384, '\0'));
    writeBytes(data / "a" / "@0040sign.frm", std::string(kFrmTable, 10));
    // The partitions' files of a table are no tables; they keep a table whose definition
    // is damaged listed, so that a save names it.
    writeBytes(data / "a" / "T1#P#p0.MYD", "");
    writeBytes(data / "a" / "parted.frm", std::string("\xFE\x03\x0A\x14\0\0\0\0\0\0", 10));
    writeBytes(data / "a" / "parted#P#p0#SP#p0sp0.ibd", std::string(16384, '\0'));
    fs::create_directories(data / "a" / "inner");
    writeBytes(data / "a" / "inner" / "hidden.frm", std::string(kFrmTable, 10));
    writeBytes(data / "b" / "db.opt", "default-character-set=latin1\n");
    writeBytes(data / "stray.frm", std::string(kFrmTable, 10));  // not in a subfolder
    writeBytes(data / "ibdata1", "");

    ScanRun run;
    run.scan(data, scratch("rules_log"));
    const auto& cat = run.frame.catalogue;
    std::vector<std::string> names;
    for (const auto& t : cat.tables) names.push_back(t.name);
    std::sort(names.begin(), names.end());
    // Names are decoded from the file-name encoding; the files keep theirs. A definition
    // that begins with neither signature (odd, short) may be the only file of a table kept
    // in ibdata1: it is listed, named as damaged, and a save reports it as not saved.
    EXPECT_EQ(names, (std::vector<std::string>{"@sign", "T1", "odd", "parted", "short"}));
    for (const char* damaged : {"odd.frm", "short.frm"}) {
        const std::string line = "The definition file " + (data / "a" / damaged).string() +
                                 " cannot be read: it begins neither as a table nor as a view "
                                 "definition; its table is listed and cannot be saved.";
        EXPECT_NE(std::find(run.frontend.lines.begin(), run.frontend.lines.end(), line),
                  run.frontend.lines.end()) << line;
    }
    for (const auto& t : cat.tables)
        if (t.name == "@sign") { EXPECT_EQ(diskName(t), "@0040sign"); }
    std::vector<std::string> viewFiles = cat.viewFiles;
    std::sort(viewFiles.begin(), viewFiles.end());
    EXPECT_EQ(viewFiles, (std::vector<std::string>{(data / "a" / "v1.frm").string(), (data / "a" / "v2.frm").string()}));
    const std::string viewLine = "The definition file " + (data / "a" / "v2.frm").string() +
                                 " does not begin as a view definition, but holds a view's query: it is "
                                 "listed as the view v2.";
    EXPECT_NE(std::find(run.frontend.lines.begin(), run.frontend.lines.end(), viewLine),
              run.frontend.lines.end()) << viewLine;
    ASSERT_EQ(cat.triggers.size(), 2u);
    std::map<std::string, std::string> triggerNodes;
    const auto dataNode = run.frame.tree.node(run.frame.tree.roots()[0]).children[0];
    CheckTree::NodeId dbA = CheckTree::kNone, dbB = CheckTree::kNone;
    for (auto c : run.frame.tree.node(dataNode).children) {
        if (run.frame.tree.node(c).text == "a") dbA = c;
        if (run.frame.tree.node(c).text == "b") dbB = c;
    }
    ASSERT_NE(dbA, CheckTree::kNone);
    ASSERT_NE(dbB, CheckTree::kNone);
    const auto trig = run.frame.tree.findChild(dbA, "Trigger");
    ASSERT_NE(trig, CheckTree::kNone);
    for (auto c : run.frame.tree.node(trig).children) {
        const auto& n = run.frame.tree.node(c);
        triggerNodes[n.text] = cat.triggers.at(n.tag - 1).fileName;
    }
    EXPECT_EQ(triggerNodes["t1"], "t1.TRG");
    EXPECT_EQ(triggerNodes["target"], "target.trg");
    // The view has no Keys node; a table does.
    const auto views = run.frame.tree.findChild(dbA, "Views");
    ASSERT_NE(views, CheckTree::kNone);
    EXPECT_TRUE(run.frame.tree.node(run.frame.tree.node(views).children[0]).children.empty());
    // An empty database still gets its node and an empty Tables node.
    ASSERT_EQ(run.frame.tree.node(dbB).children.size(), 1u);
    EXPECT_TRUE(run.frame.tree.node(run.frame.tree.node(dbB).children[0]).children.empty());
    // An empty ibdata1 opens as a file (the dictionary is what the InnoDB reader loads).
    EXPECT_TRUE(run.frontend.questions.empty());
}

TEST(Scan, FolderWithoutSubfoldersIsTheOneDatabase) {
    const fs::path data = scratch("single") / "onlydb";
    writeBytes(data / "t.frm", std::string(kFrmTable, 10));
    ScanRun run;
    run.scan(data, scratch("single_log"));
    ASSERT_EQ(run.frame.catalogue.databaseFolders.size(), 1u);
    EXPECT_EQ(run.frame.catalogue.databaseFolders[0], data.string());
    ASSERT_EQ(run.frame.catalogue.tables.size(), 1u);
    EXPECT_EQ(run.frame.catalogue.tables[0].databaseIndex, 0);
    EXPECT_NE(run.treeText().find("    onlydb[-1]\n      Tables[-1]\n        t[1]\n          Keys[-2]\n"),
              std::string::npos)
        << run.treeText();
}

TEST(Scan, MissingIbdata1AsksAndTriesTheChosenFile) {
    struct Case {
        const char* name;
        std::deque<bool> answers;
        bool chooseExisting;
        bool expectOpen;
        int expectChooser;
    };
    const fs::path data = scratch("noibdata");
    writeBytes(data / "db" / "t.frm", std::string(kFrmTable, 10));
    const fs::path other = scratch("other_ibdata") / "ibdata1";
    writeBytes(other, std::string(16384, '\0'));
    const Case cases[] = {{"answer no", {false}, true, false, 0},
                          {"answer yes, chosen file opens", {true}, true, true, 1},
                          {"answer yes, chosen file missing", {true}, false, false, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScanRun run;
        run.frontend.answers = c.answers;
        run.frontend.chosenFile = c.chooseExisting ? other.string() : (data / "nope").string();
        run.scan(data, scratch("noibdata_log"));
        ASSERT_EQ(run.frontend.questions.size(), 1u);
        EXPECT_EQ(run.frontend.questions[0],
                  "Ibdata1File Cannot be opened.Do you want to browse ibdata1 File Manually?");
        EXPECT_EQ(run.frontend.fileChooserCalls, c.expectChooser);
        EXPECT_EQ(run.frame.context.systemTablespaceOpen(), c.expectOpen);
        // The scan still completes and reports success.
        EXPECT_EQ(run.frontend.messages.back(), "Scanning completed for selected database file(s)");
        const std::string log = test::readFileText(run.settings.logFilePath);
        const bool secondFailure = std::string(c.name) == "answer yes, chosen file missing";
        EXPECT_EQ(log.find(utf8ToUtf16le("Manually browse ibdata1 File cannot be open")) != std::string::npos,
                  secondFailure);
        EXPECT_NE(log.find(utf8ToUtf16le("ibdata1 File cannot be open\r\n")), std::string::npos);
    }
}

TEST(Scan, SecondScanReplacesEverything) {
    const fs::path one = scratch("first");
    writeBytes(one / "db" / "a.frm", std::string(kFrmTable, 10));
    writeBytes(one / "db" / "b.frm", std::string(kFrmTable, 10));
    const fs::path two = scratch("second");
    writeBytes(two / "other" / "c.frm", std::string(kFrmTable, 10));
    ScanRun run;
    run.scan(one, scratch("first_log"));
    EXPECT_EQ(run.frame.catalogue.tables.size(), 2u);
    run.scan(two, scratch("first_log"));
    ASSERT_EQ(run.frame.catalogue.tables.size(), 1u);
    EXPECT_EQ(run.frame.catalogue.tables[0].name, "c");
    EXPECT_EQ(run.frame.catalogue.databaseFolders.size(), 1u);
    EXPECT_EQ(run.frame.tree.roots().size(), 1u);
}

TEST(Jobs, BusyAdmitsNoSecondJobAndStopWhileIdleAsksNothing) {
    AppSettings settings;
    test::RecordingFrontend frontend;
    MainFrame frame(settings, frontend);

    frame.stopCommand();
    EXPECT_TRUE(frontend.questions.empty());
    EXPECT_EQ(settings.stopRequested.load(), 0);

    settings.busy = 1;
    EXPECT_FALSE(frame.startJob([](MainFrame&) {}));
    EXPECT_FALSE(openCommand(frame, [] { return true; }));
    EXPECT_EQ(frontend.messages, (std::vector<std::string>{kPleaseWait.data(), kPleaseWait.data()}));

    frontend.answers = {false, true};
    frame.stopCommand();
    EXPECT_EQ(settings.stopRequested.load(), 0);
    frame.stopCommand();
    EXPECT_EQ(settings.stopRequested.load(), 1);
    EXPECT_EQ(frontend.questions,
              (std::vector<std::string>(2, "Are you sure to stop the running process?")));

    EXPECT_FALSE(frame.closeRequest());
    EXPECT_EQ(frontend.messages.back(), "Please stop the running process to close the application.");

    settings.busy = 0;
    settings.stopRequested = 0;
    bool ran = false;
    EXPECT_TRUE(frame.startJob([&](MainFrame& f) {
        ran = f.settings.busy.load() == 1;
        f.settings.busy = 0;
    }));
    frame.waitForJob();
    EXPECT_TRUE(ran);
    EXPECT_EQ(settings.busy.load(), 0);
}

TEST(Jobs, CancelledSettingsDialogChangesNothing) {
    const fs::path data = scratch("cancel");
    writeBytes(data / "db" / "a.frm", std::string(kFrmTable, 10));
    ScanRun run;
    run.scan(data, scratch("cancel_log"));
    const std::string before = run.treeText();
    EXPECT_FALSE(openCommand(run.frame, [] { return false; }));
    EXPECT_EQ(run.treeText(), before);
    EXPECT_EQ(run.settings.busy.load(), 0);
}

TEST(Jobs, CloseRequestNamesTheLogAfterYes) {
    const fs::path data = scratch("close");
    writeBytes(data / "db" / "a.frm", std::string(kFrmTable, 10));
    ScanRun run;
    run.scan(data, scratch("close_log"));
    run.frontend.answers = {false, true};
    EXPECT_FALSE(run.frame.closeRequest());
    EXPECT_TRUE(run.frame.closeRequest());
    EXPECT_EQ(run.frontend.questions.back(), "Do you want to close the application?");
    EXPECT_EQ(run.frontend.messages.back(), "Log file path : " + run.settings.logFilePath);
}

}  // namespace
}  // namespace dunmore::core

namespace dunmore::core {
namespace {

TEST(Scan, EncodedNamesAreShownDecodedAndOthersKeptAndLogged) {
    const fs::path data = scratch("encoded");
    writeBytes(data / "shop@002deu" / "stock@002ditems.frm", std::string(kFrmTable, 10));
    writeBytes(data / "shop@002deu" / "@W0@u0@x0@x0@o0@r1.frm", "TYPE=VIEW\nquery=select 1\n");
    writeBytes(data / "shop@002deu" / "stock@002ditems.TRG", "TYPE=TRIGGERS\n");
    writeBytes(data / "old-name" / "t-1.frm", std::string(kFrmTable, 10));

    ScanRun run;
    run.scan(data, scratch("encoded_log"));
    std::string tree = run.treeText();
    for (const char* shown : {"    shop-eu[-1]", "        stock-items[", "        Россия[",
                              "    old-name[-1]", "        t-1["})
        EXPECT_NE(tree.find(shown), std::string::npos) << shown << "\n" << tree;
    EXPECT_EQ(tree.find("@0"), std::string::npos) << tree;
    std::map<std::string, std::string> files;
    for (const auto& t : run.frame.catalogue.tables) files[t.name] = diskName(t);
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"stock-items", "stock@002ditems"}, {"t-1", "t-1"}}));
    const std::string log = test::readFileText(run.settings.logFilePath);
    for (const char* kept : {"old-name", "t-1"})
        EXPECT_NE(log.find(utf8ToUtf16le(
                      std::string("Name kept as it is on disk (not in the server's file-name encoding): ") +
                      kept + "\r\n")),
                  std::string::npos) << kept;
    EXPECT_EQ(log.find(utf8ToUtf16le("shop@002deu\r\n")), std::string::npos);
}

}  // namespace
}  // namespace dunmore::core
