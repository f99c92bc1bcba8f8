// The InnoDB row streams over tables a real MariaDB server wrote: the statements, the
// counters and their log and output lines, progress, stop, blob files, failures, and the
// one-call rows step of a save.
#include "innodb/row_stream.h"

#include "innodb/dictionary.h"
#include "innodb/index_walk.h"
#include "innodb/page_check.h"
#include "schema/collation_table.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"
#include "support/recording_frontend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>
#include <span>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

const std::string kSql = R"SQL(
CREATE DATABASE st;
USE st;
CREATE TABLE t (a INT PRIMARY KEY, b VARCHAR(10) NULL, `we``ird` INT) ENGINE=InnoDB;
INSERT INTO t VALUES (1, NULL, 5), (2, 'xy', -6), (3, 'z', 7);
CREATE TABLE t_many (id INT PRIMARY KEY, v VARCHAR(200)) ENGINE=InnoDB;
INSERT INTO t_many SELECT seq, REPEAT('m', 150) FROM seq_1_to_3000;
CREATE TABLE t_empty (id INT PRIMARY KEY) ENGINE=InnoDB;
CREATE TABLE t_red (id INT PRIMARY KEY) ENGINE=InnoDB ROW_FORMAT=REDUNDANT;
INSERT INTO t_red VALUES (1), (2);
CREATE TABLE t_blob (id INT PRIMARY KEY, lb LONGBLOB, lt LONGTEXT) ENGINE=InnoDB;
INSERT INTO t_blob VALUES (1, REPEAT(UNHEX('00FF7F80'), 20000), REPEAT('ab', 30000)), (2, x'01', 'c');
SET GLOBAL innodb_file_per_table=OFF;
CREATE TABLE s_t LIKE t;
INSERT INTO s_t SELECT * FROM t;
CREATE TABLE s_blob LIKE t_blob;
INSERT INTO s_blob SELECT * FROM t_blob;
SET GLOBAL innodb_file_per_table=ON;
)SQL";

const std::string kFixedRows =
    "INSERT INTO `t`(`a`,`b`,`we``ird`) VALUES(1,NULL,5);\r\n"
    "INSERT INTO `t`(`a`,`b`,`we``ird`) VALUES(2,'xy',-6);\r\n"
    "INSERT INTO `t`(`a`,`b`,`we``ird`) VALUES(3,'z',7);\r\n";

// ASCII text of the UTF-16LE log.
std::string asciiOfUtf16(const std::string& bytes) {
    std::string out;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        if (bytes[i + 1] == 0) out.push_back(bytes[i]);
    return out;
}

// A save job's surroundings: settings, a recording front end, the main frame with its
// log and script file under a fresh output folder.
class Save {
public:
    explicit Save(const std::string& name)
        : m_out(fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_stream_out" / name) {
        fs::remove_all(m_out);
        fs::create_directories(m_out / "Scriptdata" / "blobdata");
        settings.savingScript = true;
        settings.savingFolder = (m_out / "Scriptdata").string();
        frame = std::make_unique<core::MainFrame>(settings, frontend);
        m_logPath = frame->logFile.open(m_out.string() + "/", core::currentLocalTime()).value();
        frame->scriptWriter.open(m_out / "Scriptdata" / "st.sql");
    }
    ~Save() { frame.reset(); }

    // Reads the definition and locates the table as the save job does.
    innodb::TableStart locate(const fs::path& db, const std::string& table) {
        reader = std::make_unique<innodb::InnodbReader>(frame->context);
        auto& ctx = *reader;
        EXPECT_TRUE(schema::readTableDefinition(ctx, db / (table + ".frm"), settings));
        return innodb::locateInnodbTable(ctx, db, table);
    }

    std::string script() {
        frame->scriptWriter.close();
        return test::readFileText(m_out / "Scriptdata" / "st.sql");
    }
    std::string log() {
        frame->logFile.close();
        return asciiOfUtf16(test::readFileText(m_logPath));
    }

    core::AppSettings settings;
    test::RecordingFrontend frontend;
    std::unique_ptr<core::MainFrame> frame;
    // The reader of the table located last.
    std::unique_ptr<innodb::InnodbReader> reader = std::make_unique<innodb::InnodbReader>();

private:
    fs::path m_out;
    std::string m_logPath;
};

class InnodbStream : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        tzset();
        schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data");
        s_fixture = std::make_unique<test::Fixture>(test::makeFixture("innodb_stream", kSql));
    }
    static fs::path db() { return s_fixture->dataDir / "st"; }
    static std::string ibdata1() { return (s_fixture->dataDir / "ibdata1").string(); }
    static std::unique_ptr<test::Fixture> s_fixture;
};
std::unique_ptr<test::Fixture> InnodbStream::s_fixture;

TEST_F(InnodbStream, ScriptStreamsWriteOneStatementPerRowAndTheirCounters) {
    struct Case { const char* table; bool withDictionary; };
    const Case kCases[] = {{"t", false}, {"t", true}, {"s_t", true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.table) + (c.withDictionary ? " with ibdata1" : " alone"));
        Save save(std::string("stmt_") + c.table + (c.withDictionary ? "_dict" : ""));
        if (c.withDictionary) {
            ASSERT_TRUE(innodb::openSystemTablespace(save.frame->context, ibdata1()));
        }
        const auto start = save.locate(db(), c.table);
        ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
        auto& ctx = *save.reader;
        ctx.tablespaceSelected = start.inOwnFile;
        const bool ok = start.inOwnFile
                            ? innodb::parseibdfileforscript(*save.frame, *save.reader, start.firstLeaf, 0, "t")
                            : innodb::getdatafromibdatafileforscript(*save.frame, *save.reader, start.firstLeaf, 0, "t");
        EXPECT_TRUE(ok);
        EXPECT_EQ(save.script(), kFixedRows);
        const std::string log = save.log();
        EXPECT_NE(log.find("Total Number of record inserted =  3 .\r\n\r\nDeleted records skipped = 0\r\n"),
                  std::string::npos)
            << log;
        ASSERT_FALSE(save.frontend.lines.empty());
        EXPECT_EQ(save.frontend.lines.back(), "Total Number of record inserted =  3 .");
        ASSERT_FALSE(save.frontend.positions.empty());
        EXPECT_EQ(save.frontend.positions.front(), 0u);
    }
}

TEST_F(InnodbStream, AnEmptyTableWritesNoStatementAndATotalOfZero) {
    Save save("empty");
    const auto start = save.locate(db(), "t_empty");
    ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
    save.reader->tablespaceSelected = true;
    EXPECT_TRUE(innodb::parseibdfileforscript(*save.frame, *save.reader, start.firstLeaf, 0, "t_empty"));
    EXPECT_EQ(save.script(), "");
    EXPECT_NE(save.log().find("Total Number of record inserted =  0 ."), std::string::npos);
}

// ROW_FORMAT=REDUNDANT rows are saved; leaf pages in neither record format (here the
// redundant infimum text changed, the checksum rewritten) are reported as not saved.
TEST_F(InnodbStream, RedundantRowsAreSavedAndPagesOfNoKnownFormatAreNot) {
    {
        Save save("redundant");
        const auto start = save.locate(db(), "t_red");
        ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
        save.reader->tablespaceSelected = true;
        EXPECT_TRUE(innodb::parseibdfileforscript(*save.frame, *save.reader, start.firstLeaf, 0, "t_red"));
        EXPECT_EQ(save.script(),
                  "INSERT INTO `t_red`(`id`) VALUES(1);\r\nINSERT INTO `t_red`(`id`) VALUES(2);\r\n");
    }
    const fs::path copy = fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_stream_unknown_format" / "db";
    fs::remove_all(copy);
    fs::create_directories(copy);
    fs::copy_file(db() / "t_red.frm", copy / "t_red.frm");
    std::string image = test::readFileText(db() / "t_red.ibd");
    constexpr std::size_t kPage = 16384, kRoot = 3, kRedundantInfimum = 101;
    ASSERT_GE(image.size(), (kRoot + 1) * kPage);
    image[kRoot * kPage + kRedundantInfimum + 6] = 'x';
    innodb::writePageChecksum(
        std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(image.data() + kRoot * kPage), kPage),
        innodb::PageChecksum::FullCrc32);
    test::writeFileText(copy / "t_red.ibd", image);
    Save save("unknown_format");
    const auto start = save.locate(copy, "t_red");
    ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
    save.reader->tablespaceSelected = true;
    EXPECT_FALSE(innodb::parseibdfileforscript(*save.frame, *save.reader, start.firstLeaf, 0, "t_red"));
    EXPECT_EQ(save.script(), "");
    const std::string log = save.log();
    const auto total = log.find("Total Number of record inserted =  0 .");
    const auto failure = log.find("Error in processing function parseibdfileforscript\r\n");
    ASSERT_NE(total, std::string::npos);
    ASSERT_NE(failure, std::string::npos);
    EXPECT_LT(total, failure);
}

// Stops the job once the stream reports a given progress position.
class StoppingFrontend : public test::RecordingFrontend {
public:
    core::AppSettings* settings = nullptr;
    std::uint32_t stopAt = 0;
    void setProgressPosition(std::uint64_t pos) override {
        RecordingFrontend::setProgressPosition(pos);
        if (pos == stopAt) settings->stopRequested = 1;
    }
};

TEST_F(InnodbStream, StopEndsTheWalkBeforeTheNextPageAndStillWritesTheTotal) {
    // The rows of the first two leaves, found by a full walk.
    Save whole("many_whole");
    const auto start = whole.locate(db(), "t_many");
    ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
    auto& ctx = *whole.reader;
    ctx.tablespaceSelected = true;
    std::vector<std::uint32_t> pages;
    innodb::LeafWalkOptions options;
    options.firstPage = start.firstLeaf;
    innodb::LeafWalkCounts counts;
    ASSERT_TRUE(innodb::walkLeafChain(ctx, options, [&](core::ByteSpan, const innodb::LeafRecord& r) {
                    pages.push_back(r.page);
                    return true;
                }, counts).isOk());
    ASSERT_EQ(pages.size(), 3000u);
    std::vector<std::uint32_t> leaves;
    for (std::uint32_t p : pages)
        if (leaves.empty() || leaves.back() != p) leaves.push_back(p);
    ASSERT_GE(leaves.size(), 3u);
    const auto firstTwo = static_cast<std::size_t>(std::count_if(
        pages.begin(), pages.end(), [&](std::uint32_t p) { return p == leaves[0] || p == leaves[1]; }));
    EXPECT_EQ(innodb::countLeafPagesInTablespaceFile(*whole.frame, *whole.reader, start.firstLeaf),
              counts.pagesVisited);

    core::AppSettings settings;
    settings.savingScript = true;
    StoppingFrontend frontend;
    frontend.settings = &settings;
    frontend.stopAt = 2;
    core::MainFrame frame(settings, frontend);
    const fs::path out = fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_stream_out" / "stop";
    fs::remove_all(out);
    fs::create_directories(out);
    frame.scriptWriter.open(out / "st.sql");
    const std::string logPath = frame.logFile.open(out.string() + "/", core::currentLocalTime()).value();
    innodb::InnodbReader reader(frame.context);
    ASSERT_TRUE(schema::readTableDefinition(reader, db() / "t_many.frm", settings));
    const auto again = innodb::locateInnodbTable(reader, db(), "t_many");
    reader.tablespaceSelected = true;
    EXPECT_TRUE(innodb::parseibdfileforscript(frame, reader, again.firstLeaf, 0, "t_many"));
    frame.scriptWriter.close();
    frame.logFile.close();
    const std::string script = test::readFileText(out / "st.sql");
    EXPECT_EQ(static_cast<std::size_t>(std::count(script.begin(), script.end(), '\n')), firstTwo);
    EXPECT_NE(asciiOfUtf16(test::readFileText(logPath))
                  .find("Total Number of record inserted =  " + std::to_string(firstTwo) + " ."),
              std::string::npos);
}

TEST_F(InnodbStream, ExternallyStoredBlobsGoToNumberedFilesLoadedBack) {
    const std::string blob = [] {
        std::string b;
        for (int i = 0; i < 20000; ++i) b += std::string("\x00\xFF\x7F\x80", 4);
        return b;
    }();
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "ab";
    struct Case { const char* table; bool withDictionary; };
    const Case kCases[] = {{"t_blob", false}, {"t_blob", true}, {"s_blob", true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.table) + (c.withDictionary ? " with ibdata1" : " alone"));
        Save save(std::string("blob_") + c.table + (c.withDictionary ? "_dict" : ""));
        if (c.withDictionary) {
            ASSERT_TRUE(innodb::openSystemTablespace(save.frame->context, ibdata1()));
        }
        save.settings.blobFileCounter = 7;
        const auto start = save.locate(db(), c.table);
        ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
        save.reader->tablespaceSelected = start.inOwnFile;
        const bool ok = start.inOwnFile
                            ? innodb::parseibdfileforscript(*save.frame, *save.reader, start.firstLeaf, 0, c.table)
                            : innodb::getdatafromibdatafileforscript(*save.frame, *save.reader, start.firstLeaf, 0, c.table);
        EXPECT_TRUE(ok);
        const std::string folder = save.settings.savingFolder + "/blobdata/";
        const std::string script = save.script();
        const auto guarded = [](const std::string& path) {
            return "IFNULL(LOAD_FILE('" + path + "'),~0+ISNULL(LOAD_FILE('" + path + "')))";
        };
        EXPECT_NE(script.find("VALUES(1," + guarded(folder + "7") + "," + guarded(folder + "8") + ");"),
                  std::string::npos)
            << script.substr(0, 300);
        EXPECT_NE(script.find("VALUES(2,0x01,'c');"), std::string::npos);
        EXPECT_EQ(test::readFileText(folder + "7"), blob);
        EXPECT_EQ(test::readFileText(folder + "8"), text);
        EXPECT_EQ(save.settings.blobFileCounter, 9u);
    }
}

// Records the statements a server would receive and rejects some.
class StatementLog : public core::StatementExecutor {
public:
    std::vector<std::string> statements;
    std::size_t reject = 0;  // 1-based statement to reject
    bool executeStatement(std::string_view statement) override {
        statements.emplace_back(statement);
        return statements.size() != reject;
    }
};

TEST_F(InnodbStream, ServerStreamsCountOnlyAcceptedRowsAndLogTheRejected) {
    struct Case { const char* table; bool withDictionary; const char* end; };
    const Case kCases[] = {{"t", false, ");"}, {"s_t", true, ");\r\n"}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.table);
        Save save(std::string("server_") + c.table);
        StatementLog server;
        server.reject = 2;
        save.frame->serverConnection = &server;
        if (c.withDictionary) {
            ASSERT_TRUE(innodb::openSystemTablespace(save.frame->context, ibdata1()));
        }
        const auto start = save.locate(db(), c.table);
        ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
        save.reader->tablespaceSelected = start.inOwnFile;
        const bool ok = start.inOwnFile
                            ? innodb::parseibdfilefordatabase(*save.frame, *save.reader, start.firstLeaf, 0, "t")
                            : innodb::getdatafromibdatafilefordatbase(*save.frame, *save.reader, start.firstLeaf, 0, "t");
        EXPECT_TRUE(ok);
        ASSERT_EQ(server.statements.size(), 3u);
        EXPECT_EQ(server.statements[2], std::string("INSERT INTO `t`(`a`,`b`,`we``ird`) VALUES(3,'z',7") + c.end);
        const std::string log = save.log();
        EXPECT_NE(log.find("row not inserted after 1  row no.\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("Total Number of record inserted =  2 ."), std::string::npos);
    }
}

// A row the server refuses is a row missing from the saved table: the stream's walk
// completes, and its counts and those of the rows step of the save name the rejected
// row, so that the job can count the table as not saved completely.
TEST_F(InnodbStream, ARejectedRowMakesTheTableIncomplete) {
    struct Case { const char* name; std::size_t reject; std::uint64_t written; bool complete; };
    const Case kCases[] = {{"all accepted", 0, 3, true}, {"second rejected", 2, 2, false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        Save save(std::string("rejected_") + std::to_string(c.reject));
        StatementLog server;
        server.reject = c.reject;
        save.frame->serverConnection = &server;
        const auto start = save.locate(db(), "t");
        ASSERT_EQ(start.lookup, innodb::TableLookup::Found);
        save.reader->tablespaceSelected = true;
        core::TableRowCounts counts;
        EXPECT_TRUE(innodb::parseibdfilefordatabase(*save.frame, *save.reader, start.firstLeaf, 0, "t", &counts));
        EXPECT_EQ(counts.written, c.written);
        EXPECT_EQ(counts.rejected, 3 - c.written);
        EXPECT_EQ(counts.complete(), c.complete);
        save.reader->tablespaceSelected = false;
        server.statements.clear();
        core::TableRowCounts step;
        EXPECT_TRUE(innodb::saveInnodbTableRows(*save.frame, *save.reader, db(), "t", "t", true, &step));
        EXPECT_EQ(step.complete(), c.complete);
        EXPECT_EQ(step.rejected, 3 - c.written);
        EXPECT_EQ(server.statements.size(), 3u);
    }
}

TEST_F(InnodbStream, ReadAndWriteFailuresLogTheStreamsFailureText) {
    {
        Save save("read_failure");
        const auto start = save.locate(db(), "t");
        save.reader->tablespaceSelected = true;
        save.reader->tablespaceFile.close();  // the pages can no longer be read
        EXPECT_FALSE(innodb::parseibdfileforscript(*save.frame, *save.reader, start.firstLeaf, 0, "t"));
        const std::string log = save.log();
        EXPECT_NE(log.find("Error in processing function parseibdfileforscript\r\n"), std::string::npos);
        EXPECT_EQ(log.find("Total Number of record inserted"), std::string::npos);
    }
    {
        Save save("write_failure");
        ASSERT_TRUE(innodb::openSystemTablespace(save.frame->context, ibdata1()));
        const auto start = save.locate(db(), "s_t");
        save.frame->scriptWriter.close();  // no script file to write to
        EXPECT_FALSE(innodb::getdatafromibdatafileforscript(*save.frame, *save.reader, start.firstLeaf, 0, "t"));
        EXPECT_NE(save.log().find("Error in processing function getdatafromibdatafileforscript\r\n"),
                  std::string::npos);
    }
}

TEST_F(InnodbStream, TheRowsStepOfASaveLocatesCountsAndStreams) {
    // The database without t.ibd, whose dictionary entry still names its own tablespace.
    const fs::path lost = fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_stream_lost_ibd" / "st";
    fs::remove_all(lost);
    fs::create_directories(lost);
    for (const auto& e : fs::directory_iterator(db()))
        if (e.path().filename() != "t.ibd") fs::copy_file(e.path(), lost / e.path().filename());
    struct Case {
        const char* table;
        bool withDictionary;
        bool result;
        const char* logged;
        bool lostIbd = false;
    };
    const Case kCases[] = {
        {"t_many", false, true, "Saving Data...\r\n"},
        {"s_t", true, true, "Saving Data...\r\n"},
        {"missing", true, false, "Table id not found.\r\n"},
        {"missing", false, true, ""},
        {"t", true, false, "Tablespace file not found.\r\n", true},
    };
    for (const auto& c : kCases) {
        const fs::path folder = c.lostIbd ? lost : db();
        SCOPED_TRACE(std::string(c.table) + (c.withDictionary ? " with ibdata1" : ""));
        Save save(std::string("step_") + c.table + (c.withDictionary ? "_dict" : ""));
        if (c.withDictionary) {
            ASSERT_TRUE(innodb::openSystemTablespace(save.frame->context, ibdata1()));
        }
        save.reader = std::make_unique<innodb::InnodbReader>(save.frame->context);
        if (fs::exists(folder / (std::string(c.table) + ".frm"))) {
            ASSERT_TRUE(schema::readTableDefinition(*save.reader,
                                                    folder / (std::string(c.table) + ".frm"), save.settings));
        }
        EXPECT_EQ(innodb::saveInnodbTableRows(*save.frame, *save.reader, folder, c.table, c.table, false), c.result);
        EXPECT_FALSE(save.reader->tablespaceSelected);
        const std::string log = save.log();
        EXPECT_NE(log.find(std::string("Opening File\t") + (folder / c.table).string() + ".ibd\r\n"),
                  std::string::npos);
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        if (std::string(c.logged) == "Saving Data...\r\n") {
            ASSERT_EQ(save.frontend.ranges.size(), 1u);
            EXPECT_GE(save.frontend.ranges[0], 1u);
            EXPECT_EQ(save.frontend.positions.back(), save.frontend.ranges[0]);
        } else {
            EXPECT_EQ(log.find("Total Number"), std::string::npos);
        }
    }
}

}  // namespace
