#include "schema/ctoken.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"

#include "core/main_frame.h"
#include "support/fixture.h"
#include "support/recording_frontend.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace dunmore::schema {
namespace {

namespace fs = std::filesystem;

// A database with views and triggers whose texts hold every escape the server writes.
const char* kSql = R"SQL(
CREATE DATABASE shop CHARACTER SET latin1;
USE shop;
CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB;
CREATE TABLE orders (id INT PRIMARY KEY, note TEXT) ENGINE=MyISAM;
CREATE VIEW v_quote AS SELECT id, 'it''s a \\ back\nslash' AS q, "dq\"x" AS d
  FROM customers WHERE name <> 'O\'Brien';
CREATE VIEW v_plain AS SELECT c.id FROM customers c JOIN orders o ON o.id = c.id;
DELIMITER $$
CREATE TRIGGER trg_bi BEFORE INSERT ON orders FOR EACH ROW
BEGIN
  IF NEW.note IS NULL THEN
    SET NEW.note = 'it''s \\ "new"\tTab CREATE DEFINER=x';
  END IF;
END$$
CREATE TRIGGER trg_bu BEFORE UPDATE ON orders FOR EACH ROW SET NEW.note = 'x\'y'$$
DELIMITER ;
)SQL";

const char* kQuery = R"SQL(
SELECT TABLE_NAME, VIEW_DEFINITION FROM information_schema.VIEWS
  WHERE TABLE_SCHEMA = 'shop' ORDER BY TABLE_NAME;
USE shop;
SHOW CREATE TRIGGER trg_bi;
SHOW CREATE TRIGGER trg_bu;
)SQL";

// mariadb --batch escapes of a field.
std::string unbatch(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out.push_back(field[i]);
            continue;
        }
        const char e = field[++i];
        out.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e);
    }
    return out;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
        text.replace(p, from.size(), to);
    return text;
}

fs::path scratchFile(const std::string& name, const std::string& text) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "view_trigger_scratch" / "db1" / name;
    test::writeFileText(p, text);
    return p;
}

struct Frame {
    core::AppSettings settings;
    test::RecordingFrontend frontend;
    core::MainFrame frame{settings, frontend};
};

TEST(ViewTrigger, RealFilesGiveTheServersOwnTexts) {
    const auto fx = test::makeFixture("view_trigger", kSql, kQuery);
    const auto rows = test::parseBatch(fx.resultText());
    // Three result sets, each with its header line.
    ASSERT_EQ(rows.size(), 7u);
    const fs::path db = fx.dataDir / "shop";

    for (int i : {1, 2}) {
        const std::string name = rows[i][0];
        SCOPED_TRACE(name);
        const std::string definition = unbatch(rows[i][1]);
        const std::string expected =
            "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW `" +
            name + "` AS " + replaceAll(definition, "`shop`.", "`rep_shop`.") + ";";
        EXPECT_EQ(viewStatement((db / (name + ".frm")).string()), expected);
    }

    Frame f;
    std::string expected;
    std::string text;
    ASSERT_TRUE(readDefinitionLines((db / "orders.TRG").string(), text));
    const auto bodies = triggerBodies(definitionValue(text, "triggers="));
    ASSERT_EQ(bodies.size(), 2u);
    for (int i : {4, 6}) {
        // The statement as the client sent it, from CREATE DEFINER=... on.
        ASSERT_GE(rows[i].size(), 3u);
        const std::string original = unbatch(rows[i][2]);
        const auto t = original.find("TRIGGER");
        ASSERT_NE(t, std::string::npos);
        const std::string& body = bodies[i == 4 ? 0 : 1];
        EXPECT_EQ(body, original.substr(t));
        expected += "DELIMITER $$\nCREATE " + body + "\n$$\nDELIMITER ;\n";
    }
    EXPECT_EQ(triggerStatements(f.frame, (db / "orders.TRG").string()), expected);
    EXPECT_TRUE(f.frontend.lines.empty());
}

TEST(ViewTrigger, TriggerFileEdgeCases) {
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> bodies;
    };
    const Case kCases[] = {
        {"no triggers line", "TYPE=TRIGGERS\nsql_modes=0\n", {}},
        {"empty triggers line", "TYPE=TRIGGERS\ntriggers=\n", {}},
        {"lower-case keyword skipped",
         "triggers='CREATE DEFINER=`u`@`h` trigger a BEFORE INSERT ON t FOR EACH ROW SET @a=1' "
         "'CREATE DEFINER=`u`@`h` TRIGGER b BEFORE INSERT ON t FOR EACH ROW SET @b=2'\n",
         {"TRIGGER b BEFORE INSERT ON t FOR EACH ROW SET @b=2"}},
        {"body ending in a quoted string",
         "triggers='CREATE DEFINER=`u`@`h` TRIGGER c BEFORE INSERT ON t FOR EACH ROW SET @c=\\'x\\''\n",
         {"TRIGGER c BEFORE INSERT ON t FOR EACH ROW SET @c='x'"}},
        {"head text inside a body",
         "triggers='CREATE DEFINER=`u`@`h` TRIGGER d BEFORE INSERT ON t FOR EACH ROW SET "
         "@d=\\'CREATE DEFINER=z\\'' 'CREATE DEFINER=`u`@`h` TRIGGER e AFTER INSERT ON t FOR "
         "EACH ROW SET @e=\\'\\\\\\\\n\\'\\nEND'\n",
         {"TRIGGER d BEFORE INSERT ON t FOR EACH ROW SET @d='CREATE DEFINER=z'",
          "TRIGGER e AFTER INSERT ON t FOR EACH ROW SET @e='\\\\n'\nEND"}},
        {"own database renamed",
         "triggers='CREATE DEFINER=`u`@`h` TRIGGER g BEFORE INSERT ON `db1`.`t` FOR EACH ROW "
         "INSERT INTO db1.log VALUES (NEW.a, \\'db1.x\\', other.db1.c)'\n",
         {"TRIGGER g BEFORE INSERT ON `rep_db1`.`t` FOR EACH ROW INSERT INTO `rep_db1`.log VALUES "
          "(NEW.a, 'db1.x', other.db1.c)"}},
        {"CRLF line end", "triggers='CREATE DEFINER=`u`@`h` TRIGGER f BEFORE INSERT ON t FOR EACH ROW SET @f=1'\r\n",
         {"TRIGGER f BEFORE INSERT ON t FOR EACH ROW SET @f=1"}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path p = scratchFile("t.TRG", c.file);
        std::string expected;
        for (const auto& b : c.bodies) expected += "DELIMITER $$\nCREATE " + b + "\n$$\nDELIMITER ;\n";
        Frame f;
        EXPECT_EQ(triggerStatements(f.frame, p.string()), expected);
    }
    Frame f;
    EXPECT_EQ(triggerStatements(f.frame, "/nonexistent/dir/x.TRG"), "");
}

// A server connection that records what it is asked to execute and rejects one text.
class RecordingExecutor : public core::StatementExecutor {
public:
    bool executeStatement(std::string_view statement) override {
        statements.emplace_back(statement);
        return statement.find("reject") == std::string_view::npos;
    }
    std::vector<std::string> statements;
};

TEST(ViewTrigger, SavingIntoServerExecutesEachTrigger) {
    const fs::path p = scratchFile(
        "s.TRG",
        "triggers='CREATE DEFINER=`u`@`h` TRIGGER a BEFORE INSERT ON t FOR EACH ROW SET @a=1' "
        "'CREATE DEFINER=`u`@`h` TRIGGER reject BEFORE INSERT ON t FOR EACH ROW SET @b=2'\n");
    Frame f;
    RecordingExecutor server;
    f.frame.serverConnection = &server;
    f.settings.savingToServer = true;
    EXPECT_EQ(triggerStatements(f.frame, p.string()), "");
    EXPECT_EQ(server.statements,
              (std::vector<std::string>{
                  "CREATE TRIGGER a BEFORE INSERT ON t FOR EACH ROW SET @a=1",
                  "CREATE TRIGGER reject BEFORE INSERT ON t FOR EACH ROW SET @b=2"}));
    EXPECT_EQ(f.frontend.lines, (std::vector<std::string>{"Trigger Created Successfully.",
                                                          "Error executing Trigger."}));
}

// A trigger written under ANSI_QUOTES names its database in double quotes, and one
// under NO_BACKSLASH_ESCAPES keeps a backslash that ends a string: each is renamed by
// its own rules and created under the flags that make its text read as it was written.
TEST(ViewTrigger, TriggersAreCreatedInTheSqlModeTheirTextIsWrittenIn) {
    const fs::path p = scratchFile(
        "m.TRG",
        "TYPE=TRIGGERS\n"
        "triggers='CREATE DEFINER=\"u\"@\"h\" TRIGGER \"db1\".\"a\" BEFORE INSERT ON \"db1\".\"t\" FOR EACH ROW "
        "INSERT INTO \"db1\".\"log\" VALUES (NEW.id, \\'db1.x\\' || \"db1\")' "
        "'CREATE DEFINER=`u`@`h` TRIGGER b AFTER INSERT ON db1.t FOR EACH ROW SET @b = \\'c:\\\\\\', @c = db1.f()' "
        "'CREATE DEFINER=`u`@`h` TRIGGER c AFTER UPDATE ON db1.t FOR EACH ROW SET @d = \"db1\".x'\n"
        "sql_modes=1411383302 1412431872 1411383296\n");
    const std::string mode = "SET @rep_sql_mode = @@SESSION.sql_mode;\nSET SESSION sql_mode = "
                             "CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), '";
    const std::string back = "SET SESSION sql_mode = @rep_sql_mode;\n";
    Frame f;
    EXPECT_EQ(triggerStatements(f.frame, p.string()),
              mode + "PIPES_AS_CONCAT,ANSI_QUOTES');\nDELIMITER $$\nCREATE TRIGGER \"rep_db1\".\"a\" BEFORE INSERT ON "
                     "\"rep_db1\".\"t\" FOR EACH ROW INSERT INTO \"rep_db1\".\"log\" VALUES (NEW.id, 'db1.x' || \"db1\")"
                     "\n$$\nDELIMITER ;\n" +
                  back + mode +
                  "NO_BACKSLASH_ESCAPES');\nDELIMITER $$\nCREATE TRIGGER b AFTER INSERT ON `rep_db1`.t FOR EACH ROW "
                  "SET @b = 'c:\\', @c = `rep_db1`.f()\n$$\nDELIMITER ;\n" +
                  back +
                  "DELIMITER $$\nCREATE TRIGGER c AFTER UPDATE ON `rep_db1`.t FOR EACH ROW SET @d = \"db1\".x\n$$\n"
                  "DELIMITER ;\n");

    Frame g;
    RecordingExecutor server;
    g.frame.serverConnection = &server;
    g.settings.savingToServer = true;
    EXPECT_EQ(triggerStatements(g.frame, p.string()), "");
    ASSERT_EQ(server.statements.size(), 9u);
    EXPECT_EQ(server.statements[0], "SET @rep_sql_mode = @@SESSION.sql_mode");
    EXPECT_EQ(server.statements[1],
              "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), 'PIPES_AS_CONCAT,ANSI_QUOTES')");
    EXPECT_EQ(server.statements[2].rfind("CREATE TRIGGER \"rep_db1\".\"a\"", 0), 0u) << server.statements[2];
    EXPECT_EQ(server.statements[3], "SET SESSION sql_mode = @rep_sql_mode");
    EXPECT_EQ(server.statements[8].rfind("CREATE TRIGGER c ", 0), 0u) << server.statements[8];
    EXPECT_EQ(g.frontend.lines, std::vector<std::string>(3, "Trigger Created Successfully."));
}

TEST(ViewTrigger, ViewFileEdgeCases) {
    struct Case {
        const char* name;
        const char* fileName;
        std::string query;
        std::string expected;
    };
    const std::string head =
        "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW ";
    const Case kCases[] = {
        {"plain", "v1.frm", "select `db1`.`t`.`a` AS `a` from `db1`.`t`",
         head + "`v1` AS select `rep_db1`.`t`.`a` AS `a` from `rep_db1`.`t`;"},
        {"other database kept", "v2.frm", "select `x`.`a` from `other`.`x`",
         head + "`v2` AS select `x`.`a` from `other`.`x`;"},
        {"table named like the database", "v3.frm", "select `other`.`db1`.`c` from `other`.`db1`",
         head + "`v3` AS select `other`.`db1`.`c` from `other`.`db1`;"},
        {"quoted text kept", "v4.frm", "select \\'`db1`.x \\\\\\' \\' AS `s`,\"`db1`.\" from `db1`.`t`",
         head + "`v4` AS select '`db1`.x \\' ' AS `s`,\"`db1`.\" from `rep_db1`.`t`;"},
        // A view without its query is not written as a statement that would stop the
        // rest of the script.
        {"no query line", "v5.frm", "", ""},
        {"back-quote in the name", "v`6.frm", "select 1", head + "`v``6` AS select 1;"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string file = "TYPE=VIEW\n";
        if (!c.query.empty()) file += "query=" + c.query + "\nmd5=0\n";
        const fs::path p = scratchFile(c.fileName, file);
        EXPECT_EQ(viewStatement(p.string()), c.expected);
    }
    EXPECT_EQ(viewStatement("/nonexistent/dir/v.frm"), "");
}

TEST(ViewTrigger, TokenizerRemovesOneDelimiterCharacter) {
    CToken a("x ab  c");
    std::vector<std::string> tokens;
    while (a.hasMoreTokens()) tokens.push_back(a.nextToken());
    EXPECT_EQ(tokens, (std::vector<std::string>{"x", "ab", "", "c"}));

    CToken b("1::2::3");
    b.setDelimiter("::");
    tokens.clear();
    while (b.hasMoreTokens()) tokens.push_back(b.nextToken());
    // The second colon of each delimiter stays at the front of the next token.
    EXPECT_EQ(tokens, (std::vector<std::string>{"1", ":2", ":3"}));

    CToken none("abc");
    EXPECT_FALSE(none.hasMoreTokens());
}

}  // namespace
}  // namespace dunmore::schema

namespace dunmore::schema {
namespace {

TEST(ViewTrigger, DamagedRealFilesAreNamedAndNeverWrittenAsStatements) {
    const fs::path db = fs::path(DUNMORE_BINARY_DIR) / "sample/datadir/shop";
    Frame f;
    const std::string view = test::readFileText(db / "customer_orders.frm");
    const std::string trg = test::readFileText(db / "orders.TRG");
    EXPECT_EQ(viewFileDamage((db / "customer_orders.frm").string()), "");
    EXPECT_EQ(triggerFileDamage((db / "orders.TRG").string()), "");
    const auto query = view.find("query=");
    const auto body = trg.find("TRIGGER");
    struct Case { const char* name; const char* file; std::string text; };
    const Case kCases[] = {
        {"view cut inside its query", "v.frm", view.substr(0, query + 60)},
        {"view query changed", "v.frm", std::string(view).replace(query + 20, 1, "X")},
        {"triggers cut inside the body", "t.TRG", trg.substr(0, body + 40)},
        {"triggers cut after the body", "t.TRG", trg.substr(0, trg.find("sql_modes=") + 10)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const fs::path p = scratchFile(c.file, c.text);
        if (std::string(c.file) == "v.frm") {
            EXPECT_NE(viewFileDamage(p.string()), "");
            EXPECT_EQ(viewStatement(p.string()), "");
        } else {
            EXPECT_NE(triggerFileDamage(p.string()), "");
            EXPECT_EQ(triggerStatements(f.frame, p.string()), "");
        }
    }
}

}  // namespace
}  // namespace dunmore::schema
