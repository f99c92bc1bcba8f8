// The MyISAM row consumers over tables a real MariaDB server wrote: preview pages and
// their positions, the script stream (its text loaded back into a real server), the
// server stream's log lines, Stop, and a table compressed by myisampack.
#include "myisam/myisam_row_stream.h"
#include "myisam/myisam_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "myisam_test_support.h"
#include "support/recording_frontend.h"

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

const char* const kSql = R"SQL(
CREATE DATABASE p;
USE p;
CREATE TABLE p2500 (id INT NOT NULL, v VARCHAR(20) NOT NULL) ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO p2500 SELECT seq, CONCAT('row ', seq) FROM seq_1_to_2500;
CREATE TABLE d2500 (id INT NOT NULL, v VARCHAR(20), t TEXT) ENGINE=MyISAM;
INSERT INTO d2500 SELECT seq, CONCAT('row ', seq), IF(seq % 7 = 0, NULL, REPEAT('t', seq % 300)) FROM seq_1_to_2500;
DELETE FROM d2500 WHERE id % 500 = 1;
CREATE TABLE e1000 (id INT NOT NULL, v VARCHAR(20)) ENGINE=MyISAM;
INSERT INTO e1000 SELECT seq, CONCAT('r', seq) FROM seq_1_to_1000;
CREATE TABLE `q``t` (`a``b` INT, c VARCHAR(10)) ENGINE=MyISAM;
INSERT INTO `q``t` VALUES (1, 'it''s'), (NULL, 'back\\slash'), (3, NULL);
DELETE FROM `q``t` WHERE `a``b` = 3;
CREATE TABLE packme (id INT NOT NULL, v VARCHAR(30), PRIMARY KEY (id)) ENGINE=MyISAM;
INSERT INTO packme SELECT seq, CONCAT('packed ', seq) FROM seq_1_to_300;
)SQL";

const char* const kQuery = R"SQL(
USE p;
SELECT '@@d2500' AS section;
SELECT id, v, t FROM d2500;
SELECT '@@qt' AS section;
SELECT * FROM `q``t`;
)SQL";

class MyisamStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        s_fixture = new Fixture(makeFixture("myisam_streams", kSql, kQuery));
    }
    static void TearDownTestSuite() {
        delete s_fixture;
        s_fixture = nullptr;
    }
    static fs::path folder() { return s_fixture->dataDir / "p"; }
    static Fixture* s_fixture;
};
Fixture* MyisamStreamTest::s_fixture = nullptr;

// The log file as text (it is UTF-16LE; the stream texts are ASCII).
std::string logText(const std::string& path) {
    const std::string raw = readFileText(path);
    std::string out;
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2) out.push_back(raw[i]);
    return out;
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A main frame with a recording front end, an open log and the table's definition read.
struct StreamSession {
    core::AppSettings settings;
    RecordingFrontend frontend;
    core::MainFrame frame{settings, frontend};
    myisam::MyisamReader reader;
    fs::path work;

    StreamSession(const fs::path& folder, const std::string& table, const std::string& workName) {
        work = fs::path(DUNMORE_FIXTURE_ROOT) / workName;
        fs::remove_all(work);
        fs::create_directories(work);
        settings.logFolder = work.string() + "/";
        settings.logFilePath = frame.logFile.open(settings.logFolder, core::currentLocalTime()).value();
        myisam::MyisamReader& ctx = reader;
        EXPECT_TRUE(schema::readTableDefinition(ctx, folder / (table + ".frm"), settings));
        EXPECT_TRUE(myisam::readMyisamHeader(ctx, folder / (table + ".MYI")));
    }
    std::string log() {
        frame.logFile.close();
        return logText(settings.logFilePath);
    }
    std::string firstValue() const { return reader.previewRows.front().front().value; }
};

TEST_F(MyisamStreamTest, PreviewPagesOfAThousandRowsWithTheirPositions) {
    struct Case {
        const char* table;
        std::vector<std::size_t> pageRows;  // rows of each page read in turn
        std::vector<std::string> firstIds;  // id of each page's first row
    };
    const Case kCases[] = {
        {"p2500", {1000, 1000, 500}, {"1", "1001", "2001"}},
        // Records 1, 501, 1001, ... were deleted: 2..1003 less two fill the first page.
        {"d2500", {1000, 1000, 495}, {"2", "1004", "2006"}},
        {"e1000", {1000, 0}, {"1"}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.table);
        StreamSession s(folder(), c.table, "preview_work");
        myisam::MyisamReader& ctx = s.reader;
        ASSERT_TRUE(
            myisam::loadMyisamPreviewPage(s.frame, s.reader, folder() / (std::string(c.table) + ".MYD")));
        for (std::size_t page = 0; page < c.pageRows.size(); ++page) {
            SCOPED_TRACE(page);
            if (page > 0) {
                ctx.previewRows.clear();
                myisam::readMyisamPreviewPage(s.frame, s.reader, ctx.pageStack.back().offset);
            }
            ASSERT_EQ(ctx.previewRows.size(), c.pageRows[page]);
            if (page < c.firstIds.size()) { EXPECT_EQ(s.firstValue(), c.firstIds[page]); }
            // A page that filled up says so (also when nothing follows) and records where
            // the next one starts; a short page records nothing.
            const bool full = c.pageRows[page] == myisam::kPreviewPageRows;
            EXPECT_EQ(ctx.moreRows, full);
            EXPECT_EQ(ctx.pageStack.size(), page + 1 + (full ? 1 : 0));
        }
        EXPECT_EQ(ctx.pageStack.front().offset, 0u);
    }
    // For fixed-length rows the position of row 1,001 is 1,000 slots in.
    StreamSession s(folder(), "p2500", "preview_work");
    ASSERT_TRUE(myisam::loadMyisamPreviewPage(s.frame, s.reader, folder() / "p2500.MYD"));
    ASSERT_EQ(s.reader.pageStack.size(), 2u);
    EXPECT_EQ(s.reader.pageStack.back().offset, 1000u * s.reader.recordLength);

    // With keepPositions (Previous Records) no position is pushed.
    s.reader.previewRows.clear();
    s.reader.keepPositions = true;
    myisam::readMyisamPreviewPage(s.frame, s.reader, 0);
    EXPECT_TRUE(s.reader.moreRows);
    EXPECT_EQ(s.reader.pageStack.size(), 2u);
}

// The script's INSERT statements, run by a real server into the same table definition,
// give back exactly the rows the original server returned.
TEST_F(MyisamStreamTest, ScriptStatementsLoadBackIntoARealServer) {
    struct Case {
        const char* table;
        const char* file;
        const char* section;
        const char* create;
        const char* select;
        std::uint64_t rows;
        std::uint64_t deleted;
    };
    const Case kCases[] = {
        {"d2500", "d2500", "d2500", "CREATE TABLE d2500 (id INT NOT NULL, v VARCHAR(20), t TEXT)",
         "SELECT id, v, t FROM d2500 ORDER BY id", 2495, 5},
        {"q`t", "q@0060t", "qt", "CREATE TABLE `q``t` (`a``b` INT, c VARCHAR(10))",
         "SELECT * FROM `q``t`", 2, 1},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.table);
        StreamSession s(folder(), c.file, std::string("script_work_") + c.section);
        s.settings.savingScript = true;
        const fs::path script = s.work / "rows.sql";
        ASSERT_TRUE(s.frame.scriptWriter.open(script));
        ASSERT_TRUE(
            myisam::mydfileforscript(s.frame, s.reader, folder() / (std::string(c.file) + ".MYD"), c.table));
        s.frame.scriptWriter.close();
        const std::string text = readFileText(script);
        EXPECT_EQ(countOf(text, "INSERT INTO "), c.rows);
        EXPECT_EQ(text.substr(text.size() - 11), "COMMIT;\r\n\r\n");

        const std::string total =
            "Total Number of record inserted =  " + std::to_string(c.rows) + " .";
        EXPECT_EQ(s.frontend.lines, std::vector<std::string>{total});
        EXPECT_NE(s.log().find(total + "\r\n\r\nDeleted records skipped = " +
                               std::to_string(c.deleted) + "\r\n"),
                  std::string::npos);
        ASSERT_FALSE(s.frontend.ranges.empty());
        EXPECT_EQ(s.frontend.ranges.back(),
                  fs::file_size(folder() / (std::string(c.file) + ".MYD")));
        EXPECT_EQ(s.frontend.positions.back(), s.frontend.ranges.back());

        const std::string reload = std::string("CREATE DATABASE r;\nUSE r;\n") + c.create +
                                   " ENGINE=MyISAM;\nSTART TRANSACTION;\n" + text;
        const Fixture back = makeFixture(
            std::string("myisam_reload_") + c.section, reload,
            std::string("USE r;\nSELECT '@@") + c.section + "' AS section;\n" + c.select + ";\n");
        const std::vector<TextRow> reloaded = sectionRows(back.resultText(), c.section);
        std::vector<TextRow> original = sectionRows(s_fixture->resultText(), c.section);
        if (std::string(c.table) == "d2500")
            std::sort(original.begin(), original.end(), [](const TextRow& a, const TextRow& b) {
                return std::stoi(a[0]) < std::stoi(b[0]);
            });
        EXPECT_EQ(reloaded.size(), c.rows);
        EXPECT_EQ(reloaded, original);
    }
}

// The statement text itself: names with back-quotes doubled, one statement per row.
TEST_F(MyisamStreamTest, InsertTextOfARow) {
    // The server keeps the table q`t in the files q@0060t.*.
    StreamSession s(folder(), "q@0060t", "insert_text_work");
    s.settings.savingScript = true;
    const fs::path script = s.work / "rows.sql";
    ASSERT_TRUE(s.frame.scriptWriter.open(script));
    ASSERT_TRUE(myisam::mydfileforscript(s.frame, s.reader, folder() / "q@0060t.MYD", "q`t"));
    s.frame.scriptWriter.close();
    EXPECT_EQ(readFileText(script),
              "INSERT INTO `q``t`(`a``b`,`c`) VALUES(1,'it''s');\r\n"
              "INSERT INTO `q``t`(`a``b`,`c`) VALUES(NULL,'back\\\\slash');\r\n"
              "COMMIT;\r\n\r\n");
}

// A destination that rejects every statement, as a server does for bad rows.
class RejectingExecutor : public core::StatementExecutor {
public:
    bool executeStatement(std::string_view statement) override {
        statements.emplace_back(statement);
        return false;
    }
    std::vector<std::string> statements;
};

TEST_F(MyisamStreamTest, ServerStreamLogsEveryRejectedRow) {
    StreamSession s(folder(), "q@0060t", "server_work");
    s.settings.savingToServer = true;
    RejectingExecutor server;
    s.frame.serverConnection = &server;
    ASSERT_TRUE(myisam::mydfilefordatabase(s.frame, s.reader, folder() / "q@0060t.MYD", "q`t"));
    ASSERT_EQ(server.statements.size(), 2u);
    EXPECT_EQ(server.statements[0], "INSERT INTO `q``t`(`a``b`,`c`) VALUES(1,'it''s');");
    const std::string log = s.log();
    EXPECT_EQ(countOf(log, "row not inserted after 0  row no.\r\n"), 2u);
    EXPECT_NE(log.find("Total Number of record inserted =  0 .\r\n\r\n"), std::string::npos);
    EXPECT_EQ(s.frontend.lines.back(), "Total Number of record inserted =  0 .");
}

// A row the server refuses is a row missing from the saved table: the walk completes,
// and its counts and those of the rows step of the save name the row, so that the job
// can count the table as not saved completely.
TEST_F(MyisamStreamTest, ARejectedRowMakesTheTableIncomplete) {
    struct RejectingNth : core::StatementExecutor {
        std::size_t reject = 0;  // 1-based statement to reject, 0: none
        std::size_t seen = 0;
        bool executeStatement(std::string_view) override { return ++seen != reject; }
    };
    struct Case { const char* name; std::size_t reject; std::uint64_t written; bool complete; };
    const Case kCases[] = {{"all accepted", 0, 2, true}, {"second rejected", 2, 1, false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        StreamSession s(folder(), "q@0060t", "server_rows_step");
        s.settings.savingToServer = true;
        RejectingNth server;
        server.reject = c.reject;
        s.frame.serverConnection = &server;
        core::TableRowCounts counts;
        EXPECT_TRUE(myisam::mydfilefordatabase(s.frame, s.reader, folder() / "q@0060t.MYD", "q`t", &counts));
        EXPECT_EQ(counts.written, c.written);
        EXPECT_EQ(counts.rejected, 2 - c.written);
        server.seen = 0;
        core::TableRowCounts step;
        EXPECT_TRUE(myisam::saveMyisamTableRows(s.frame, s.reader, folder() / "q@0060t.MYD", "q`t", true, &step));
        EXPECT_EQ(step.complete(), c.complete);
        EXPECT_EQ(step.rejected, 2 - c.written);
    }
}

// Stop ends the walk after the current row; the total counts the rows written.
class StoppingFrontend : public RecordingFrontend {
public:
    core::AppSettings* settings = nullptr;
    void setProgressPosition(std::uint64_t pos) override {
        RecordingFrontend::setProgressPosition(pos);
        if (pos > 0) settings->stopRequested = 1;
    }
};

TEST_F(MyisamStreamTest, StopEndsTheWalkAfterTheCurrentRow) {
    core::AppSettings settings;
    StoppingFrontend frontend;
    frontend.settings = &settings;
    core::MainFrame frame(settings, frontend);
    settings.savingScript = true;
    myisam::MyisamReader ctx;
    ASSERT_TRUE(schema::readTableDefinition(ctx, folder() / "p2500.frm", settings));
    ASSERT_TRUE(myisam::readMyisamHeader(ctx, folder() / "p2500.MYI"));
    const fs::path script = fs::path(DUNMORE_FIXTURE_ROOT) / "stop_rows.sql";
    ASSERT_TRUE(frame.scriptWriter.open(script));
    ASSERT_TRUE(myisam::mydfileforscript(frame, ctx, folder() / "p2500.MYD", "p2500"));
    frame.scriptWriter.close();
    const std::size_t written = countOf(readFileText(script), "INSERT INTO ");
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, 2500u);
    EXPECT_EQ(frontend.lines.back(),
              "Total Number of record inserted =  " + std::to_string(written) + " .");
}

// A table packed by myisampack: its definition reads, its rows are not decoded (no
// rows, no crash), and the script still gets its COMMIT and a total of 0.
TEST_F(MyisamStreamTest, CompressedTableGivesNoRows) {
    const fs::path packed = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_packed" / "p";
    fs::remove_all(packed.parent_path());
    fs::create_directories(packed);
    for (const char* ext : {".frm", ".MYD", ".MYI"})
        fs::copy_file(folder() / (std::string("packme") + ext),
                      packed / (std::string("packme") + ext));
    const std::string base = (packed / "packme").string();
    ASSERT_EQ(std::system(("myisampack --silent '" + base + "' >/dev/null 2>&1").c_str()), 0);
    ASSERT_EQ(std::system(("myisamchk --silent -rq '" + base + "' >/dev/null 2>&1").c_str()), 0);

    StreamSession s(packed, "packme", "packed_work");
    EXPECT_EQ(s.reader.myisamRowFormat, myisam::kRowFormatCompressed);
    EXPECT_EQ(s.reader.columns.size(), 2u);
    ASSERT_TRUE(myisam::loadMyisamPreviewPage(s.frame, s.reader, packed / "packme.MYD"));
    EXPECT_TRUE(s.reader.previewRows.empty());
    EXPECT_FALSE(s.reader.moreRows);

    s.settings.savingScript = true;
    const fs::path script = s.work / "rows.sql";
    ASSERT_TRUE(s.frame.scriptWriter.open(script));
    // Rows that are not read are not a table of no rows: the save names them as lost.
    core::TableRowCounts rows;
    EXPECT_FALSE(myisam::mydfileforscript(s.frame, s.reader, packed / "packme.MYD", "packme", &rows));
    s.frame.scriptWriter.close();
    EXPECT_EQ(readFileText(script), "COMMIT;\r\n\r\n");
    EXPECT_EQ(s.frontend.lines.back(), "Total Number of record inserted =  0 .");
    EXPECT_NE(rows.loss.find("compressed (myisampack)"), std::string::npos) << rows.loss;
    EXPECT_NE(s.log().find("packme.MYD is compressed (myisampack): its rows are not read"),
              std::string::npos);

    // With its .MYI lost, the data file itself says it is compressed.
    fs::resize_file(packed / "packme.MYI", 10);
    myisam::MyisamReader lost;
    ASSERT_TRUE(schema::readTableDefinition(lost, packed / "packme.frm", s.settings));
    ASSERT_TRUE(myisam::loadMyisamLayout(lost, packed / "packme.MYI", packed / "packme.MYD"));
    EXPECT_EQ(lost.myisamRowFormat, myisam::kRowFormatCompressed);
    EXPECT_FALSE(lost.headDamage.empty());
}

// The source files are only read: a read-only copy saves completely and no byte or time
// of it changes.
TEST_F(MyisamStreamTest, SourceFilesAreOnlyRead) {
    const fs::path copy = fs::path(DUNMORE_FIXTURE_ROOT) / "myisam_readonly" / "p";
    fs::remove_all(copy.parent_path());
    fs::create_directories(copy);
    std::vector<std::pair<fs::path, std::string>> before;
    for (const char* ext : {".frm", ".MYD", ".MYI"}) {
        const fs::path to = copy / (std::string("d2500") + ext);
        fs::copy_file(folder() / (std::string("d2500") + ext), to);
        fs::permissions(to, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        before.emplace_back(to, readFileText(to));
    }
    std::vector<fs::file_time_type> times;
    for (const auto& [path, text] : before) times.push_back(fs::last_write_time(path));

    StreamSession s(copy, "d2500", "readonly_work");
    ASSERT_TRUE(myisam::loadMyisamPreviewPage(s.frame, s.reader, copy / "d2500.MYD"));
    EXPECT_EQ(s.reader.previewRows.size(), 1000u);
    s.settings.savingScript = true;
    ASSERT_TRUE(s.frame.scriptWriter.open(s.work / "rows.sql"));
    ASSERT_TRUE(myisam::mydfileforscript(s.frame, s.reader, copy / "d2500.MYD", "d2500"));
    s.frame.scriptWriter.close();
    EXPECT_EQ(s.frontend.lines.back(), "Total Number of record inserted =  2495 .");
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(readFileText(before[i].first), before[i].second) << before[i].first;
        EXPECT_EQ(fs::last_write_time(before[i].first), times[i]) << before[i].first;
    }
}

TEST_F(MyisamStreamTest, MissingDataFileWritesNothing) {
    StreamSession s(folder(), "p2500", "missing_work");
    s.settings.savingScript = true;
    const fs::path script = s.work / "rows.sql";
    ASSERT_TRUE(s.frame.scriptWriter.open(script));
    EXPECT_TRUE(myisam::mydfileforscript(s.frame, s.reader, folder() / "nosuch.MYD", "nosuch"));
    s.frame.scriptWriter.close();
    EXPECT_EQ(readFileText(script), "");
    EXPECT_TRUE(s.frontend.lines.empty());
    EXPECT_TRUE(myisam::loadMyisamPreviewPage(s.frame, s.reader, folder() / "nosuch.MYD"));
    EXPECT_TRUE(s.reader.pageStack.empty());
}

// The stream's own result stays true for a .MYD that does not open, but the reason
// reaches the job: the counts say the rows were not read and the rows step of a save
// fails, for the script and the server alike.
TEST_F(MyisamStreamTest, MissingDataFileFailsTheRowsStepOfASave) {
    StreamSession s(folder(), "p2500", "missing_step_work");
    s.settings.savingScript = true;
    const fs::path script = s.work / "rows.sql";
    ASSERT_TRUE(s.frame.scriptWriter.open(script));
    core::TableRowCounts counts;
    EXPECT_TRUE(myisam::mydfileforscript(s.frame, s.reader, folder() / "nosuch.MYD", "nosuch", &counts));
    EXPECT_TRUE(counts.failed);
    for (const bool toServer : {false, true}) {
        SCOPED_TRACE(toServer ? "server" : "script");
        EXPECT_FALSE(myisam::saveMyisamTableRows(s.frame, s.reader, folder() / "nosuch.MYD", "nosuch", toServer));
    }
    s.frame.scriptWriter.close();
    EXPECT_EQ(readFileText(script), "");
}

}  // namespace
}  // namespace dunmore::test
