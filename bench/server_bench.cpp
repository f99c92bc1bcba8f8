// bench-link: dunmore_output
// bench-main: own
//
// Saves a 1,000,000-row InnoDB table (INT key, INT, VARCHAR(64), DATETIME, DECIMAL(12,2))
// written by a real MariaDB server into a live local server two ways in the same run:
// `save-server` (the server job, through ODBC over loopback TCP) and the plain client
// loading the table's saved script (`mariadb < bench.sql`, over the server's local
// socket, which is if anything faster than TCP). Each run starts from a dropped copy.
// The table at the end gives rows/s and the ratio client time / save-server time (at
// least 1: save-server is at least as fast). DUNMORE_BENCH_ROWS sets another row count.

#include "core/main_frame.h"
#include "core/scan.h"
#include "innodb/dictionary.h"
#include "output/script_save_job.h"
#include "output/server_save_job.h"
#include "schema/collation_table.h"
#include "support/fixture.h"
#include "support/test_server.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace dunmore;

std::uint64_t rowCount() {
    const char* text = std::getenv("DUNMORE_BENCH_ROWS");
    return text ? std::strtoull(text, nullptr, 10) : 1000000;
}

std::string fixtureSql(std::uint64_t rows) {
    return R"SQL(
CREATE DATABASE bench;
USE bench;
CREATE TABLE t_mixed (id INT PRIMARY KEY, k INT NOT NULL, name VARCHAR(64), created DATETIME,
                      amount DECIMAL(12,2)) ENGINE=InnoDB;
INSERT INTO t_mixed SELECT seq, seq * 7919 % 100003, CONCAT('name-', seq, '-', REPEAT('x', seq % 20)),
                           '2020-01-01' + INTERVAL seq SECOND, seq / 7 FROM seq_1_to_)SQL" +
           std::to_string(rows) + ";\n";
}

std::map<std::string, double>& seconds() {
    static std::map<std::string, double> s;
    return s;
}

class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            seconds()[run.run_name.function_name] =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
};

// A frame with the fixture scanned and bench.t_mixed checked.
struct Session {
    core::AppSettings settings;
    core::SilentFrontend frontend;
    core::MainFrame frame{settings, frontend};

    Session(const fs::path& dataDir, const fs::path& logDir) {
        settings.chosenFolder = dataDir.string() + "/";
        settings.logFolder = logDir.string() + "/";
        core::ScanHooks hooks;
        hooks.openSystemTablespace = [](core::RecoveryContext& ctx, const std::string& path) {
            return innodb::openSystemTablespace(ctx, path);
        };
        (void)core::openCommand(frame, [] { return true; }, hooks);
        frame.waitForJob();
        auto node = frame.tree.node(frame.tree.roots().at(0)).children.at(0);
        for (const char* text : {"bench", "Tables", "t_mixed"}) node = frame.tree.findChild(node, text);
        frame.tree.setCheck(node, true);
    }
};

}  // namespace

int main(int argc, char** argv) {
    schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data");
    const std::uint64_t rows = rowCount();
    const auto fixture =
        test::makeFixture("server_bench_" + std::to_string(rows), fixtureSql(rows));
    const fs::path work = fs::path(DUNMORE_FIXTURE_ROOT) / "server_bench_out";
    fs::remove_all(work);
    fs::create_directories(work);
    test::TestServer server({"--innodb-buffer-pool-size=512M", "--innodb-log-file-size=256M"});

    // The script the client loads, saved once.
    Session scriptSession(fixture.dataDir, work);
    output::ScriptSaveOutcome scripted;
    (void)output::saveCommand(
        scriptSession.frame,
        [&] {
            scriptSession.settings.savingScript = true;
            scriptSession.settings.savingFolder = work.string();
            return true;
        },
        {}, &scripted);
    scriptSession.frame.waitForJob();
    const fs::path script = work / "Scriptdata" / "bench.sql";
    if (!scripted.complete() || !fs::exists(script)) {
        std::fprintf(stderr, "server_bench: the script was not saved\n");
        return 1;
    }

    const auto countCopy = [&] {
        const std::string out = server.query("SELECT COUNT(*) FROM rep_bench.t_mixed;");
        return out.substr(out.find('\n') + 1);
    };
    const std::string expectedCount = std::to_string(rows) + "\n";

    benchmark::RegisterBenchmark("mariadb < script", [&](benchmark::State& state) {
        const std::string cmd = "mariadb --no-defaults -S '" + server.socket().string() +
                                "' -uroot < '" + script.string() + "'";
        for (auto _ : state) {
            state.PauseTiming();
            server.query("DROP DATABASE IF EXISTS rep_bench;");
            state.ResumeTiming();
            if (std::system(cmd.c_str()) != 0) state.SkipWithError("the client failed");
        }
        if (countCopy() != expectedCount) state.SkipWithError("the copy lacks rows");
        state.counters["rows"] = benchmark::Counter(static_cast<double>(rows * state.iterations()),
                                                    benchmark::Counter::kIsRate);
    })->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

    Session serverSession(fixture.dataDir, work);
    benchmark::RegisterBenchmark("save-server", [&](benchmark::State& state) {
        core::AppSettings& settings = serverSession.settings;
        for (auto _ : state) {
            state.PauseTiming();
            server.query("DROP DATABASE IF EXISTS rep_bench;");
            state.ResumeTiming();
            output::ServerSaveOutcome outcome;
            (void)output::saveCommand(
                serverSession.frame,
                [&] {
                    settings.savingScript = false;
                    settings.savingToServer = true;
                    settings.serverName = "127.0.0.1";
                    settings.serverPort = server.port();
                    settings.userName = test::TestServer::kUser;
                    settings.userPassword = test::TestServer::kPassword;
                    return true;
                },
                [&](core::MainFrame& f) { (void)output::runServerSaveJob(f, &outcome); });
            serverSession.frame.waitForJob();
            if (!outcome.complete()) state.SkipWithError("the save failed");
        }
        if (countCopy() != expectedCount) state.SkipWithError("the copy lacks rows");
        state.counters["rows"] = benchmark::Counter(static_cast<double>(rows * state.iterations()),
                                                    benchmark::Counter::kIsRate);
    })->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double client = seconds()["mariadb < script"];
    const double job = seconds()["save-server"];
    std::printf("\n%llu rows, script of %.1f MB\n", static_cast<unsigned long long>(rows),
                static_cast<double>(fs::file_size(script)) / 1e6);
    std::printf("%-20s %10s %12s\n", "", "seconds", "rows/s");
    for (const auto& [name, s] : {std::pair{"mariadb < script", client}, std::pair{"save-server", job}})
        std::printf("%-20s %10.2f %12.0f\n", name, s, s > 0 ? static_cast<double>(rows) / s : 0.0);
    std::printf("client time / save-server time: %.2f\n", job > 0 ? client / job : 0.0);
    return 0;
}
