#include "output/script_save_job.h"

#include "core/scan.h"
#include "innodb/dictionary.h"
#include "output/script_output.h"
#include "schema/collation_table.h"
#include "support/fixture.h"
#include "support/recording_frontend.h"
#include "support/scanned_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>

namespace dunmore::output {
namespace {

namespace fs = std::filesystem;

fs::path scratch(const std::string& name) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "script_job_scratch" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

// A scanned data folder with the job's frame, as the Open command leaves it.
struct Session : test::ScannedSession {
    test::RecordingFrontend& frontend;

    Session(test::RecordingFrontend& fe, const fs::path& dataDir, const fs::path& logDir)
        : ScannedSession(fe, dataDir, logDir), frontend(fe) {}

    ScriptSaveOutcome save(const fs::path& folder) {
        ScriptSaveOutcome outcome;
        frontend.lines.clear();
        frontend.messages.clear();
        const bool started = saveCommand(
            frame,
            [&] {
                settings.savingScript = true;
                settings.savingFolder = folder.string();
                return true;
            },
            {}, &outcome);
        EXPECT_TRUE(started);
        frame.waitForJob();
        return outcome;
    }
};

const char* kTinySql = R"SQL(
CREATE DATABASE tiny CHARACTER SET latin1 COLLATE latin1_german1_ci;
USE tiny;
CREATE TABLE t1 (id INT NOT NULL PRIMARY KEY, s VARCHAR(10)) ENGINE=MyISAM;
INSERT INTO t1 VALUES (1, 'a''b'), (2, NULL);
CREATE TABLE t2 (id INT NOT NULL PRIMARY KEY) ENGINE=InnoDB;
INSERT INTO t2 VALUES (7);
CREATE VIEW v1 AS SELECT id FROM t2;
CREATE TRIGGER t1_bi BEFORE INSERT ON t1 FOR EACH ROW SET NEW.s = 'x';
CREATE DATABASE other;
CREATE TABLE other.t3 (id INT) ENGINE=MyISAM;
CREATE VIEW other.v3 AS SELECT 1 AS one;
)SQL";

// The sections of the tiny database's script, by item; the job writes them in tree order.
const std::string kTinyHead =
    "SET NAMES utf8mb4;\r\n"
    "SET TIME_ZONE='+00:00';\r\n"
    "CREATE SCHEMA `rep_tiny` CHARACTER SET latin1 COLLATE latin1_german1_ci;\r\n"
    "USE `rep_tiny`;\r\n";
const std::map<std::string, std::string> kTinySections = {
    {"t1",
     "Create TABLE  `t1` (`id` INT NOT NULL, `s` VARCHAR(10), PRIMARY KEY (`id`))"
     "ENGINE=MYISAM DEFAULT CHARSET latin1 COLLATE latin1_german1_ci;\r\n\r\n"
     "INSERT INTO `t1`(`id`,`s`) VALUES(1,'a''b');\r\n"
     "INSERT INTO `t1`(`id`,`s`) VALUES(2,NULL);\r\n"
     "COMMIT;\r\n\r\n"},
    {"t2",
     "Create TABLE  `t2` (`id` INT NOT NULL, PRIMARY KEY (`id`))"
     "ENGINE=InnoDB DEFAULT CHARSET latin1 COLLATE latin1_german1_ci;\r\n\r\n"
     "INSERT INTO `t2`(`id`) VALUES(7);\r\n"},
    {"v1",
     "\r\nCREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW `v1` AS "
     "select `rep_tiny`.`t2`.`id` AS `id` from `rep_tiny`.`t2`;\r\n"},
    {"t1_trg",
     "\r\nDELIMITER $$\nCREATE TRIGGER t1_bi BEFORE INSERT ON t1 FOR EACH ROW SET NEW.s = 'x'\n"
     "$$\nDELIMITER ;\n\r\n"},
};

TEST(ScriptSaveJob, TinyDatabaseGolden) {
    const auto fx = test::makeFixture("script_job_tiny", kTinySql);
    const fs::path work = scratch("golden");
    test::RecordingFrontend frontend;
    Session s(frontend, fx.dataDir, work);
    s.check({"tiny"});
    s.check({"other", "Views", "v3"});
    const ScriptSaveOutcome outcome = s.save(work / "out");
    EXPECT_TRUE(outcome.complete());
    EXPECT_EQ(frontend.messages, std::vector<std::string>{"Script Created successfully"});

    const fs::path folder = work / "out" / "Scriptdata";
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ActualSaveFilepath.txt", "blobdata", "other.sql",
                                               "tiny.sql"}));
    EXPECT_TRUE(fs::is_directory(folder / "blobdata"));
    EXPECT_EQ(test::readFileText(folder / "ActualSaveFilepath.txt"), folder.string());
    EXPECT_EQ(s.settings.savingFolder, folder.string());

    // Tables, then the trigger files in tree order, and the views last.
    const auto& tree = s.frame.tree;
    const auto dataNode = tree.node(tree.roots().at(0)).children.at(0);
    const auto tiny = tree.findChild(dataNode, "tiny");
    std::string expected = kTinyHead;
    std::vector<std::string> tableOrder;
    for (auto folder : tree.node(tiny).children) {
        for (auto leaf : tree.node(folder).children) {
            const auto& text = tree.node(leaf).text;
            if (tree.node(folder).text == "Views") continue;
            expected += kTinySections.at(text == "t1" && tree.node(folder).text == "Trigger" ? "t1_trg" : text);
            if (tree.node(folder).text == "Tables") tableOrder.push_back(text);
        }
    }
    expected += kTinySections.at("v1");
    EXPECT_EQ(test::readFileText(folder / "tiny.sql"), expected);

    // A database whose only checked item is a view gets its own script.
    EXPECT_EQ(test::readFileText(folder / "other.sql"),
              "SET NAMES utf8mb4;\r\nSET TIME_ZONE='+00:00';\r\n"
              "CREATE SCHEMA `rep_other` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;\r\n"
              "USE `rep_other`;\r\n"
              "\r\nCREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW "
              "`v3` AS select 1 AS `one`;\r\n");

    std::vector<std::string> lines = {"Saving process started. ", "Creating Script File For Database tiny"};
    for (const auto& t : tableOrder) {
        lines.push_back("Processing Table " + t);
        lines.push_back(t == "t1" ? "Total Number of record inserted =  2 ."
                                  : "Total Number of record inserted =  1 .");
    }
    lines.push_back("Creating Script File For Database other");
    EXPECT_EQ(frontend.lines, lines);
    EXPECT_EQ(s.settings.busy.load(), 0);
    EXPECT_FALSE(s.settings.savingScript);
}

// Requests a stop at the first progress step of table `big` that lies past its first row,
// and keeps the position (the data-file offset the walk goes on from).
class StoppingFrontend : public test::RecordingFrontend {
public:
    core::AppSettings* settings = nullptr;
    bool inBig = false;
    std::uint64_t stopPosition = 0;
    void addOutputLine(std::string_view text) override {
        RecordingFrontend::addOutputLine(text);
        if (text == "Processing Table big") inBig = true;
    }
    void setProgressPosition(std::uint64_t pos) override {
        RecordingFrontend::setProgressPosition(pos);
        if (inBig && pos > 0 && settings && stopPosition == 0) {
            stopPosition = pos;
            settings->stopRequested = 1;
        }
    }
};

TEST(ScriptSaveJob, StopEndsAfterTheCurrentRowWithTheTotalLine) {
    const auto fx = test::makeFixture("script_job_stop", R"SQL(
CREATE DATABASE s;
CREATE TABLE s.big (id INT NOT NULL PRIMARY KEY, v CHAR(20)) ENGINE=MyISAM ROW_FORMAT=FIXED;
USE s;
INSERT INTO s.big SELECT seq, CONCAT('v', seq) FROM seq_1_to_5000;
CREATE TABLE s.later (id INT) ENGINE=MyISAM;
)SQL");
    // One worker: the walk of big sees the stop live and ends before the next row. Two
    // workers: big runs ahead of its turn while the table before it is saved, and what it
    // read by then is written whole (the stop is seen as the job's thread hands it over,
    // within the journal's bound). Either way the total line counts exactly the rows
    // written and nothing follows big.
    for (const std::uint32_t workers : {1u, 2u}) {
        SCOPED_TRACE("workers " + std::to_string(workers));
        const fs::path work = scratch("stop" + std::to_string(workers));
        StoppingFrontend frontend;
        Session s(frontend, fx.dataDir, work);
        frontend.settings = &s.settings;
        s.settings.saveJobs = workers;
        s.check({"s"});
        const ScriptSaveOutcome outcome = s.save(work / "out");
        EXPECT_TRUE(outcome.stopped);
        EXPECT_EQ(outcome.failures, 0u);

        const std::string script = test::readFileText(work / "out" / "Scriptdata" / "s.sql");
        std::size_t rows = 0;
        for (auto p = script.find("INSERT INTO"); p != std::string::npos; p = script.find("INSERT INTO", p + 1))
            ++rows;
        // Fixed-length slots of equal size: the rows before the stop position are the
        // rows read before the request.
        const auto slot = fs::file_size(fx.dataDir / "s" / "big.MYD") / 5000;
        ASSERT_GT(frontend.stopPosition, 0u);
        const std::size_t rowsBeforeStop = frontend.stopPosition / slot;
        EXPECT_GT(rowsBeforeStop, 0u);
        EXPECT_LT(rowsBeforeStop, 5000u);
        if (workers == 1)
            EXPECT_EQ(rows, rowsBeforeStop);
        else
            EXPECT_GE(rows, rowsBeforeStop);
        EXPECT_LE(rows, 5000u);
        const auto& lines = frontend.lines;
        const auto big = std::find(lines.begin(), lines.end(), "Processing Table big");
        ASSERT_NE(big, lines.end());
        ASSERT_EQ(lines.end() - big, 2);
        EXPECT_EQ(big[1], "Total Number of record inserted =  " + std::to_string(rows) + " .");
        ASSERT_EQ(frontend.messages.size(), 1u);
        EXPECT_NE(frontend.messages[0].find("stopped"), std::string::npos);
        EXPECT_EQ(s.settings.stopRequested.load(), 0);
        EXPECT_EQ(s.settings.busy.load(), 0);
    }
}

// A person who has not yet dismissed a job's final message box: once armed, the next box
// shown blocks its thread (the job's worker) until release(); later boxes (the refusals
// of the commands) return at once.
class GatedFrontend : public test::RecordingFrontend {
public:
    void showMessage(std::string_view text) override {
        RecordingFrontend::showMessage(text);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_armed || m_workerWaiting) return;
        m_workerWaiting = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_released; });
    }
    void arm() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_armed = true;
        m_released = false;
        m_workerWaiting = false;
    }
    bool waitForWorkerMessage(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_workerWaiting; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_armed = false;
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_armed = false;
    bool m_released = false;
    bool m_workerWaiting = false;
};

TEST(JobLifecycle, SecondJobIsRefusedWhileTheFirstShowsItsFinalMessage) {
    const auto fx = test::makeFixture("script_job_tiny", kTinySql);
    const fs::path work = scratch("lifecycle");
    GatedFrontend frontend;
    Session s(frontend, fx.dataDir, work);
    const auto saveDialog = [&] {
        s.settings.savingScript = true;
        s.settings.savingFolder = (work / "out").string();
        return true;
    };
    const auto scanDialog = [] { return true; };
    // Every way a second job could start; each must be refused while the first waits.
    const auto requestAll = [&] {
        std::vector<bool> started;
        started.push_back(core::openCommand(s.frame, scanDialog));
        started.push_back(saveCommand(s.frame, saveDialog));
        started.push_back(s.frame.startJob([](core::MainFrame& f) { f.settings.busy = 0; }));
        return started;
    };
    constexpr auto kLimit = std::chrono::seconds(30);

    struct Case {
        const char* name;
        std::function<bool()> firstJob;
        std::string finalMessage;
    };
    const Case kCases[] = {
        {"scan", [&] { return core::openCommand(s.frame, scanDialog); },
         "Scanning completed for selected database file(s)"},
        {"save as script", [&] { return saveCommand(s.frame, saveDialog); },
         "Script Created successfully"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        s.check({"tiny"});
        frontend.messages.clear();
        frontend.arm();
        ASSERT_TRUE(c.firstJob());
        ASSERT_TRUE(frontend.waitForWorkerMessage(kLimit));
        EXPECT_EQ(frontend.messages, std::vector<std::string>{c.finalMessage});
        EXPECT_EQ(s.settings.busy.load(), 1);

        // Asked from another thread so that a regression (admission, then joining the
        // waiting worker) fails the test instead of hanging it.
        auto second = std::async(std::launch::async, requestAll);
        const bool answered = second.wait_for(kLimit) == std::future_status::ready;
        frontend.release();
        if (!answered) second.wait_for(kLimit);
        auto waited = std::async(std::launch::async, [&] { s.frame.waitForJob(); });
        ASSERT_EQ(waited.wait_for(kLimit), std::future_status::ready) << "the first job never ended";
        ASSERT_TRUE(answered) << "the second request waited for the first job";
        EXPECT_EQ(second.get(), (std::vector<bool>{false, false, false}));
        EXPECT_EQ(std::count(frontend.messages.begin(), frontend.messages.end(),
                             std::string(core::kPleaseWait)),
                  3);
        EXPECT_EQ(s.settings.busy.load(), 0);
    }
    // Idle again: the next job is admitted and runs to its end.
    ASSERT_TRUE(core::openCommand(s.frame, scanDialog));
    auto rescan = std::async(std::launch::async, [&] { s.frame.waitForJob(); });
    ASSERT_EQ(rescan.wait_for(kLimit), std::future_status::ready);
    EXPECT_EQ(s.settings.busy.load(), 0);
    EXPECT_FALSE(s.frame.catalogue.tables.empty());
}

TEST(ScriptSaveJob, SavingFolderInsideTheDataFolderIsRefused) {
    const auto fx = test::makeFixture("script_job_tiny", kTinySql);
    const fs::path work = scratch("inside");
    fs::copy(fx.dataDir, work / "data", fs::copy_options::recursive);
    test::RecordingFrontend frontend;
    Session s(frontend, work / "data", work);
    s.check({"tiny"});
    const ScriptSaveOutcome outcome = s.save(work / "data" / "tiny" / ".." / "out");
    EXPECT_EQ(outcome.failures, 1u);
    EXPECT_FALSE(fs::exists(work / "data" / "out"));
    ASSERT_EQ(frontend.messages.size(), 1u);
    EXPECT_NE(frontend.messages[0].find("See the log file"), std::string::npos);
    EXPECT_EQ(s.settings.busy.load(), 0);
}

TEST(ScriptSaveJob, FailedScriptWriteIsReported) {
    const auto fx = test::makeFixture("script_job_tiny", kTinySql);
    const fs::path work = scratch("full_disk");
    // Every write to the script fails as on a full disk: the script's name links to
    // /dev/full, planted once the job has started (a folder that held it before would be
    // the files of an earlier save).
    struct FullDiskFrontend : test::RecordingFrontend {
        fs::path script;
        void showProgress(bool visible) override {
            if (visible && !script.empty() && !fs::is_symlink(script)) {
                fs::create_directories(script.parent_path());
                fs::create_symlink("/dev/full", script);
            }
            RecordingFrontend::showProgress(visible);
        }
    } frontend;
    Session s(frontend, fx.dataDir, work);
    s.check({"tiny", "Tables", "t1"});
    frontend.script = work / "out" / "Scriptdata" / "tiny.sql";
    const ScriptSaveOutcome outcome = s.save(work / "out");
    EXPECT_GE(outcome.failures, 1u);
    EXPECT_NE(std::find(frontend.lines.begin(), frontend.lines.end(),
                        "Script File " + (work / "out" / "Scriptdata" / "tiny.sql").string() +
                            " not written completely."),
              frontend.lines.end());
    ASSERT_EQ(frontend.messages.size(), 1u);
    EXPECT_EQ(frontend.messages[0].rfind("Script Created with errors", 0), 0u) << frontend.messages[0];
}

TEST(ScriptSaveJob, AnEarlierSaveIsReplacedWholeOrNotAtAll) {
    const auto fx = test::makeFixture("script_job_tiny", kTinySql);
    const fs::path work = scratch("earlier_save");
    const fs::path scripts = work / "out" / "Scriptdata";
    test::RecordingFrontend frontend;
    Session s(frontend, fx.dataDir, work);
    s.check({"tiny"});
    ASSERT_TRUE(s.save(work / "out").complete());
    test::writeFileText(scripts / "notes.txt", "kept by the user");
    const std::string script = test::readFileText(scripts / "tiny.sql");
    ASSERT_FALSE(script.empty());

    // No: nothing is started and nothing in the folder changes.
    frontend.answers = {false};
    const bool started = saveCommand(s.frame, [&] {
        s.settings.savingScript = true;
        s.settings.savingFolder = (work / "out").string();
        return true;
    });
    EXPECT_FALSE(started);
    ASSERT_EQ(frontend.questionKinds.size(), 1u);
    EXPECT_EQ(frontend.questionKinds[0], core::Question::ReplaceEarlierSave);
    EXPECT_NE(frontend.questions[0].find(scripts.string() + " already holds the files of an earlier save"),
              std::string::npos) << frontend.questions[0];
    EXPECT_EQ(test::readFileText(scripts / "notes.txt"), "kept by the user");
    EXPECT_EQ(test::readFileText(scripts / "tiny.sql"), script);
    EXPECT_EQ(s.settings.busy.load(), 0);

    // Yes: the folder is replaced whole, so nothing of the earlier save is left beside
    // the new one.
    frontend.answers = {true};
    EXPECT_TRUE(s.save(work / "out").complete());
    EXPECT_EQ(frontend.questionKinds.size(), 2u);
    EXPECT_FALSE(fs::exists(scripts / "notes.txt"));
    EXPECT_EQ(test::readFileText(scripts / "tiny.sql"), script);
}

TEST(ScriptSaveJob, DatabaseOptionsAndNames) {
    struct Case {
        const char* name;
        std::string dbOpt;  // empty: no db.opt
        std::string characterSet, collation;
    };
    const Case kCases[] = {
        {"prefixed keys", "default-character-set=latin1\ndefault-collation=latin1_bin\n", "latin1",
         "latin1_bin"},
        {"later line wins", "character-set=a\ncharacter-set=utf8mb4\n", "utf8mb4", ""},
        {"CR line ends", "default-character-set=cp1251\r\ndefault-collation=cp1251_bin\r\n", "cp1251",
         "cp1251_bin"},
        {"hostile value dropped", "default-character-set=latin1; DROP DATABASE x\ndefault-collation=x`y\n",
         "", ""},
        {"no file", "", "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = scratch("dbopt");
        if (!c.dbOpt.empty()) test::writeFileText(dir / "db.opt", c.dbOpt);
        const DatabaseOptions o = readDatabaseOptions(dir.string());
        EXPECT_EQ(o.characterSet, c.characterSet);
        EXPECT_EQ(o.collation, c.collation);
    }
    EXPECT_EQ(scriptHead("a`b", {}),
              "SET NAMES utf8mb4;\r\nSET TIME_ZONE='+00:00';\r\nCREATE SCHEMA `rep_a``b`;\r\n"
              "USE `rep_a``b`;\r\n");

    const std::string n64(64, 'n');
    EXPECT_EQ(statementTableName(n64), n64);
    EXPECT_EQ(statementTableName(n64 + "x"), std::string(63, 'n'));
    std::string wide;
    for (int i = 0; i < 65; ++i) wide += "\xC3\xA9";  // 65 two-byte characters
    EXPECT_EQ(statementTableName(wide), wide.substr(0, 126));
    EXPECT_EQ(statementTableName(wide.substr(0, 128)), wide.substr(0, 128));
}

// With more than one worker the statements are built on a second thread; the scripts must
// be the same bytes as those of a single-threaded save, for both engines, NULLs, escapes,
// long values and views and triggers after the tables.
// A save that finds blob files it did not write in its folder (those of another run's
// save the Save command's question did not clear: one running at the same time, or one
// whose scripts were moved away) gives its own blob files names of their own: the other
// save's files, which its scripts load by name, stay as they were. Each run counts its
// blob files from 0.
TEST(ScriptSaveJob, BlobFilesOfAnEarlierSaveKeepTheirNames) {
    const auto fx = test::makeFixture("script_job_blobs", R"SQL(
CREATE DATABASE blobs;
CREATE TABLE blobs.b (id INT NOT NULL PRIMARY KEY, x LONGBLOB) ENGINE=InnoDB;
INSERT INTO blobs.b VALUES (1, REPEAT('a', 20000)), (2, REPEAT('b', 30000)), (3, 'short');
)SQL");
    const fs::path work = scratch("blob_names");
    const fs::path blobs = work / "out" / "Scriptdata" / "blobdata";
    const auto filesOf = [&] {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(blobs))
            files[e.path().filename().string()] = test::readFileText(e.path());
        return files;
    };
    const auto loadedNames = [&] {
        const std::string script = test::readFileText(work / "out" / "Scriptdata" / "blobs.sql");
        std::set<std::string> names;
        const std::string head = "IFNULL(LOAD_FILE('" + blobs.string() + "/";
        for (std::size_t at = script.find(head); at != std::string::npos; at = script.find(head, at + 1))
            names.insert(script.substr(at + head.size(), script.find('\'', at + head.size()) - at - head.size()));
        return names;
    };
    std::map<std::string, std::string> first;
    std::set<std::string> firstNames;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        test::RecordingFrontend frontend;
        Session s(frontend, fx.dataDir, work);
        s.check({"blobs"});
        // The job itself, past the Save command's question about an earlier save.
        s.settings.busy = 1;
        s.settings.savingScript = true;
        s.settings.savingFolder = (work / "out").string();
        ScriptSaveOutcome outcome;
        s.frame.runWorker([&](core::MainFrame& f) { (void)runScriptSaveJob(f, &outcome); });
        s.frame.waitForJob();
        EXPECT_TRUE(outcome.complete());
        const std::set<std::string> names = loadedNames();
        EXPECT_EQ(names.size(), 2u);
        const auto files = filesOf();
        for (const std::string& name : names) {
            ASSERT_EQ(files.count(name), 1u) << name;
            EXPECT_TRUE(files.at(name) == std::string(20000, 'a') || files.at(name) == std::string(30000, 'b'));
        }
        if (run == 0) {
            first = files;
            firstNames = names;
            continue;
        }
        for (const std::string& name : names) EXPECT_EQ(firstNames.count(name), 0u) << name;
        for (const auto& [name, bytes] : first) EXPECT_EQ(files.at(name), bytes) << name;
    }
}

TEST(ScriptSaveJob, WorkersWriteTheSameBytesAsOneThread) {
    const auto workers = test::makeFixture("script_job_workers", R"SQL(
CREATE DATABASE w;
USE w;
CREATE TABLE a (id INT PRIMARY KEY, s VARCHAR(100) CHARACTER SET utf8mb4, d DATETIME,
                m DECIMAL(10,2), n INT NULL, b BLOB) ENGINE=InnoDB;
INSERT INTO a SELECT seq, CONCAT('v', seq, IF(seq % 3 = 0, '''q"\\', ''), REPEAT('é', seq % 9)),
       '2020-01-01' + INTERVAL seq MINUTE, seq / 3, IF(seq % 4 = 0, NULL, seq),
       IF(seq % 500 = 0, REPEAT('z', 20000), IF(seq % 7 = 0, NULL, 'short'))
  FROM seq_1_to_5000;
CREATE TABLE f (id INT PRIMARY KEY, c CHAR(8), n INT NULL) ENGINE=MyISAM;
INSERT INTO f SELECT seq, CONCAT('c', seq % 97), IF(seq % 5 = 0, NULL, -CAST(seq AS SIGNED))
  FROM seq_1_to_4500;
CREATE TABLE g ENGINE=MyISAM AS SELECT * FROM a;
CREATE VIEW v AS SELECT id FROM a;
CREATE TRIGGER tr BEFORE INSERT ON f FOR EACH ROW SET NEW.n = 1;
)SQL");
    const auto tiny = test::makeFixture("script_job_tiny", kTinySql);
    // One statement per row, and extended INSERTs of up to 1,000 rows; the tiny fixture's
    // two databases (tables, views, triggers) in one save.
    for (const std::uint32_t perStatement : {1u, 1000u})
    for (const auto& [fixture, database] :
         {std::pair{workers.dataDir, std::string("w")}, std::pair{tiny.dataDir, std::string("tiny")}}) {
        SCOPED_TRACE(database + " " + std::to_string(perStatement));
        const fs::path logs = scratch("workers_logs");
        const fs::path out = scratch("workers_out");
        std::map<unsigned, std::map<std::string, std::string>> files;
        std::map<unsigned, std::vector<std::string>> lines;
        for (const unsigned jobs : {1u, 2u, 3u}) {
            test::RecordingFrontend fe;
            Session s(fe, fixture, logs);
            s.settings.saveJobs = jobs;
            s.frame.scriptWriter.setRowsPerStatement(perStatement);
            s.check({database});
            if (database == "tiny") s.check({"other"});
            fs::remove_all(out);
            fs::create_directories(out);
            EXPECT_TRUE(s.save(out).complete()) << jobs;
            for (const auto& e : fs::recursive_directory_iterator(out))
                if (e.is_regular_file())
                    files[jobs][fs::relative(e.path(), out).string()] = test::readFileText(e.path());
            lines[jobs] = fe.lines;
        }
        const std::string script = "Scriptdata/" + database + ".sql";
        ASSERT_EQ(files[1].count(script), 1u);
        if (database == "w") { EXPECT_GT(files[1][script].size(), 1000000u); }
        if (database == "w" && perStatement > 1) {
            // 5,000 rows of a in a few statements (each at most 1,000 rows or 1 MiB).
            std::size_t statements = 0;
            const std::string& text = files[1][script];
            for (auto p = text.find("INSERT INTO `a`"); p != std::string::npos; p = text.find("INSERT INTO `a`", p + 1))
                ++statements;
            EXPECT_GE(statements, 5u);
            EXPECT_LT(statements, 20u);
        }
        for (const unsigned jobs : {2u, 3u}) {
            ASSERT_EQ(files[jobs].size(), files[1].size()) << jobs;
            for (const auto& [name, bytes] : files[1])
                EXPECT_TRUE(files[jobs][name] == bytes) << name << " differs with " << jobs << " workers";
            EXPECT_EQ(lines[jobs], lines[1]) << jobs;
        }
    }
}

// Tables large enough to be read in pieces on several threads: InnoDB (the level above the
// leaves cuts the leaf chain), MyISAM with fixed-length and with dynamic rows, and a table
// whose rows are short beside their statements, so that pieces reach their text limit.
// Each is saved with one, two and three workers, intact and with a damaged page or
// records in the middle; the scripts, the log and the output lines must be the same.
TEST(ScriptSaveJob, TablesReadInPiecesWriteWhatOneThreadWrites) {
    std::string wideColumns, wideValues;
    for (int c = 0; c < 16; ++c) {
        const std::string name = "c" + std::to_string(10 + c) + "_a_rather_long_column_name_for_a_wide_head";
        wideColumns += ", " + name + " TINYINT NOT NULL";
        wideValues += ", (seq + " + std::to_string(c) + ") % 128";
    }
    const auto fx = test::makeFixture("script_job_pieces", R"SQL(
CREATE DATABASE p;
USE p;
CREATE TABLE big_i (id INT PRIMARY KEY, s VARCHAR(60) CHARACTER SET utf8mb4, d DATETIME,
                    m DECIMAL(12,3), n INT NULL) ENGINE=InnoDB;
INSERT INTO big_i SELECT seq, CONCAT('r', seq, IF(seq % 5 = 0, '''', ''), REPEAT('ü', seq % 13)),
       '2021-06-01' + INTERVAL seq * 7 SECOND, seq * 1.5 - 9000, IF(seq % 3 = 0, NULL, -seq)
  FROM seq_1_to_40000;
CREATE TABLE big_f (id INT PRIMARY KEY, c CHAR(20), n INT NULL) ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO big_f SELECT seq, CONCAT('f', seq % 1000), IF(seq % 4 = 0, NULL, seq) FROM seq_1_to_60000;
CREATE TABLE big_d ENGINE=MyISAM AS SELECT * FROM big_i;
CREATE TABLE wide (id INT PRIMARY KEY)SQL" + wideColumns + R"SQL() ENGINE=InnoDB;
INSERT INTO wide SELECT seq)SQL" + wideValues + R"SQL( FROM seq_1_to_28000;
)SQL");
    // A copy with a zeroed leaf page in the middle of big_i, and 0xFF over records in the
    // middle of big_d and big_f.
    const fs::path damaged = scratch("pieces_damaged") / "data";
    fs::copy(fx.dataDir, damaged, fs::copy_options::recursive);
    const auto overwrite = [](const fs::path& file, std::uint64_t at, std::size_t count, char byte) {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(at));
        f << std::string(count, byte);
    };
    // The middle one of big_i's leaf pages (index pages, 17855 at offset 24, of level 0 at
    // offset 64).
    const std::string ibd = test::readFileText(damaged / "p" / "big_i.ibd");
    std::vector<std::uint64_t> leaves;
    const auto be16 = [&](std::size_t at) {
        return (static_cast<unsigned char>(ibd[at]) << 8) | static_cast<unsigned char>(ibd[at + 1]);
    };
    for (std::size_t page = 0; (page + 1) * 16384 <= ibd.size(); ++page)
        if (be16(page * 16384 + 24) == 17855 && be16(page * 16384 + 64) == 0) leaves.push_back(page);
    ASSERT_GT(leaves.size(), 100u);
    const std::uint64_t leafPage = leaves[leaves.size() / 2];
    overwrite(damaged / "p" / "big_i.ibd", leafPage * 16384, 16384, '\0');
    overwrite(damaged / "p" / "big_d.MYD", fs::file_size(damaged / "p" / "big_d.MYD") / 8 * 5, 64, '\xFF');
    // Three whole slots of big_f.
    const std::uint64_t slot = fs::file_size(damaged / "p" / "big_f.MYD") / 60000;
    overwrite(damaged / "p" / "big_f.MYD", 20000 * slot, 3 * slot, '\xFF');

    struct Saved {
        std::map<std::string, std::string> files;
        std::string log;
        std::vector<std::string> lines;
        std::vector<std::string> items;
        std::vector<std::uint64_t> ranges;  // progress ranges: the leaf pages or file bytes
    };
    const auto save = [&](const fs::path& data, unsigned jobs, std::uint32_t perStatement) {
        const fs::path logs = scratch("pieces_logs");
        const fs::path out = scratch("pieces_out");
        test::RecordingFrontend fe;
        Session s(fe, data, logs);
        s.settings.saveJobs = jobs;
        s.frame.scriptWriter.setRowsPerStatement(perStatement);
        s.check({"p"});
        const ScriptSaveOutcome outcome = s.save(out);
        Saved saved;
        for (const auto& e : fs::recursive_directory_iterator(out))
            if (e.is_regular_file()) saved.files[fs::relative(e.path(), out).string()] = test::readFileText(e.path());
        // The log is UTF-16LE of ASCII texts here: every other byte. Its own name (the
        // time of the scan) is left out.
        const std::string log = test::readFileText(s.settings.logFilePath);
        for (std::size_t i = 2; i < log.size(); i += 2) saved.log.push_back(log[i]);
        for (auto at = saved.log.find(s.settings.logFilePath); at != std::string::npos;
             at = saved.log.find(s.settings.logFilePath))
            saved.log.erase(at, s.settings.logFilePath.size());
        saved.lines = fe.lines;
        saved.ranges = fe.ranges;
        // Each table's range comes before the progress of its walk: the position after a
        // range of many pages is one of the walk's, not the end the walk came to.
        for (std::size_t r = 0; r < fe.ranges.size(); ++r)
            if (fe.ranges[r] > 100 && fe.rangeAt[r] < fe.positions.size())
                EXPECT_LT(fe.positions[fe.rangeAt[r]], fe.ranges[r]) << "range " << r << " with " << jobs << " jobs";
        for (const auto& item : outcome.items)
            saved.items.push_back(item.name + " " + std::to_string(item.rows) + " " +
                                  std::to_string(static_cast<int>(item.result)) + " " + item.problem);
        return saved;
    };
    const auto expectSame = [](const Saved& one, const Saved& other) {
        ASSERT_EQ(other.files.size(), one.files.size());
        for (const auto& [name, bytes] : one.files)
            EXPECT_TRUE(other.files.at(name) == bytes) << name << " differs";
        EXPECT_EQ(other.log, one.log);
        EXPECT_EQ(other.lines, one.lines);
        EXPECT_EQ(other.items, one.items);
        EXPECT_EQ(other.ranges, one.ranges);
    };
    for (const std::uint32_t perStatement : {1u, 1000u}) {
        SCOPED_TRACE(perStatement);
        const Saved one = save(fx.dataDir, 1, perStatement);
        EXPECT_GT(one.files.at("Scriptdata/p.sql").size(), perStatement == 1 ? 30000000u : 5000000u);
        for (const unsigned jobs : {2u, 3u}) {
            SCOPED_TRACE(jobs);
            expectSame(one, save(fx.dataDir, jobs, perStatement));
        }
    }
    const Saved one = save(damaged, 1, 1);
    // The damage is met: the zeroed page is named and damaged records are skipped.
    EXPECT_NE(one.log.find("page " + std::to_string(leafPage) + " damaged"), std::string::npos) << one.log;
    EXPECT_NE(one.log.find("big_d.MYD: 39998 records read"), std::string::npos);
    EXPECT_NE(one.log.find("big_f.MYD: 59997 records read"), std::string::npos);
    expectSame(one, save(damaged, 2, 1));
}

}  // namespace
}  // namespace dunmore::output
