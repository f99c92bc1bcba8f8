// bench-link: dunmore_innodb
// bench-main: own
//
// Streams a 1,000,000-row InnoDB table (INT key, INT, VARCHAR(64), DATETIME,
// DECIMAL(12,2)) written by a real MariaDB server to a script with parseibdfileforscript,
// and compares it with `cat` of the same .ibd file in the same run (page cache warm for
// both). Also measured: the leaf walk alone (pages read and records found, no decode).
// The table at the end gives MB/s of .ibd read, rows/s and the ratio to cat.

#include "innodb/index_walk.h"
#include "innodb/row_stream.h"
#include "schema/collation_table.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"

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

const std::string kSql = R"SQL(
CREATE DATABASE bench;
USE bench;
CREATE TABLE t_mixed (id INT PRIMARY KEY, k INT NOT NULL, name VARCHAR(64), created DATETIME,
                      amount DECIMAL(12,2)) ENGINE=InnoDB;
INSERT INTO t_mixed SELECT seq, seq * 7919 % 100003, CONCAT('name-', seq, '-', REPEAT('x', seq % 20)),
                           '2020-01-01' + INTERVAL seq SECOND, seq / 7 FROM seq_1_to_1000000;
)SQL";

struct Measured {
    double bytesPerSecond = 0;
    double rowsPerSecond = 0;
};
std::map<std::string, Measured>& results() {
    static std::map<std::string, Measured> r;
    return r;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            Measured& m = results()[run.run_name.function_name];
            if (auto it = run.counters.find("bytes_per_second"); it != run.counters.end())
                m.bytesPerSecond = it->second.value;
            if (auto it = run.counters.find("rows"); it != run.counters.end())
                m.rowsPerSecond = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Keeps the row count of the stream's total line.
class TotalFrontend : public core::SilentFrontend {
public:
    void addOutputLine(std::string_view text) override {
        constexpr std::string_view kTotal = "Total Number of record inserted =  ";
        if (text.starts_with(kTotal)) rows += std::strtoull(std::string(text.substr(kTotal.size())).c_str(), nullptr, 10);
    }
    std::uint64_t rows = 0;
};

struct Table {
    fs::path db;
    fs::path ibd;
    std::uint64_t size = 0;
};

}  // namespace

int main(int argc, char** argv) {
    schema::loadApplicationCollations(fs::path(DUNMORE_SOURCE_DIR) / "data");
    const auto fixture = test::makeFixture("innodb_bench_1m", kSql);
    Table table{fixture.dataDir / "bench", fixture.dataDir / "bench" / "t_mixed.ibd", 0};
    table.size = fs::file_size(table.ibd);

    benchmark::RegisterBenchmark("cat .ibd", [&](benchmark::State& state) {
        const std::string cmd = "cat '" + table.ibd.string() + "' > /dev/null";
        for (auto _ : state)
            if (std::system(cmd.c_str()) != 0) state.SkipWithError("cat failed");
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size));
    })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

    benchmark::RegisterBenchmark("leaf walk", [&](benchmark::State& state) {
        core::AppSettings settings;
        auto ctx = std::make_unique<innodb::InnodbReader>();
        schema::readTableDefinition(*ctx, table.db / "t_mixed.frm", settings);
        const auto start = innodb::locateInnodbTable(*ctx, table.db, "t_mixed");
        std::uint64_t rows = 0;
        for (auto _ : state) {
            innodb::LeafWalkOptions options;
            options.firstPage = start.firstLeaf;
            innodb::LeafWalkCounts counts;
            (void)innodb::walkLeafChain(*ctx, options,
                                        [](core::ByteSpan, const innodb::LeafRecord&) { return true; },
                                        counts);
            rows += counts.recordsTaken;
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size));
        state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

    benchmark::RegisterBenchmark("parseibdfileforscript", [&](benchmark::State& state) {
        core::AppSettings settings;
        settings.savingScript = true;
        settings.savingFolder = (fs::path(DUNMORE_FIXTURE_ROOT) / "innodb_bench_out").string();
        TotalFrontend frontend;
        core::MainFrame frame(settings, frontend);
        frame.scriptWriter.open("/dev/null");
        innodb::InnodbReader ctx(frame.context);
        schema::readTableDefinition(ctx, table.db / "t_mixed.frm", settings);
        const auto start = innodb::locateInnodbTable(ctx, table.db, "t_mixed");
        ctx.tablespaceSelected = true;
        const std::uint64_t before = frame.scriptWriter.bytesWritten();
        for (auto _ : state) innodb::parseibdfileforscript(frame, ctx, start.firstLeaf, 0, "t_mixed");
        const double scriptBytes = static_cast<double>(frame.scriptWriter.bytesWritten() - before);
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * table.size));
        state.counters["rows"] = benchmark::Counter(static_cast<double>(frontend.rows),
                                                    benchmark::Counter::kIsRate);
        state.counters["script_MB"] = scriptBytes / 1e6 / static_cast<double>(state.iterations());
    })->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double cat = results()["cat .ibd"].bytesPerSecond;
    std::printf("\n.ibd of %.1f MB, 1,000,000 rows\n", static_cast<double>(table.size) / 1e6);
    std::printf("%-24s %12s %14s %10s\n", "", ".ibd MB/s", "rows/s", "vs cat");
    for (const char* name : {"cat .ibd", "leaf walk", "parseibdfileforscript"}) {
        const Measured& m = results()[name];
        std::printf("%-24s %12.1f %14.0f %10.3f\n", name, m.bytesPerSecond / 1e6, m.rowsPerSecond,
                    cat > 0 ? m.bytesPerSecond / cat : 0.0);
    }
    return 0;
}
