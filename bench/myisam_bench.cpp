// bench-link: dunmore_myisam
// bench-main: own
//
// MyISAM tables of 1,000,000 rows (fixed-length and dynamic, made by a real MariaDB
// server from a sequence table) streamed to a script by mydfileforscript (decode, SQL
// literals, INSERT text; the script goes to /dev/null), reported as MB/s of .MYD read and
// rows/s. The baseline, measured in the same run, is `cat` of the same .MYD to /dev/null:
// the table at the end gives the stream's MB/s as a fraction of cat's, by wall-clock time
// and by CPU time (the stream's thread, cat's process), which stays meaningful on a
// loaded machine.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "core/frontend.h"
#include "core/main_frame.h"
#include "myisam/myisam_header.h"
#include "myisam/myisam_row_stream.h"
#include "schema/frm_reader.h"
#include "support/fixture.h"

namespace {

namespace fs = std::filesystem;

const char* const kSql = R"SQL(
CREATE DATABASE b;
USE b;
CREATE TABLE fixed_rows (id INT NOT NULL, a BIGINT, d DATE, c CHAR(20), v VARCHAR(30), x DOUBLE)
  ENGINE=MyISAM ROW_FORMAT=FIXED;
INSERT INTO fixed_rows SELECT seq, seq * 1000003, '2000-01-01' + INTERVAL (seq % 9000) DAY,
  CONCAT('c', seq), IF(seq % 10 = 0, NULL, CONCAT('value ', seq)), seq / 7 FROM seq_1_to_1000000;
CREATE TABLE dynamic_rows (id INT NOT NULL, v VARCHAR(100), t TEXT, n INT) ENGINE=MyISAM;
INSERT INTO dynamic_rows SELECT seq, CONCAT('value ', seq), REPEAT('t', seq % 100),
  IF(seq % 3 = 0, NULL, seq) FROM seq_1_to_1000000;
)SQL";

fs::path folder() {
    static const fs::path dir = dunmore::test::makeFixture("myisam_bench", kSql).dataDir / "b";
    return dir;
}

struct Rates {
    double mbPerSecond = 0;
    double rowsPerSecond = 0;
    double mbPerCpuSecond = 0;
};

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double childCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
std::map<std::string, Rates> g_rates;

void record(benchmark::State& state, const std::string& name, std::uint64_t bytes,
            std::uint64_t rows, double seconds, double cpuSeconds) {
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6 / seconds);
    state.counters["MB/cpu-s"] = benchmark::Counter(bytes / 1e6 / cpuSeconds);
    if (rows) state.counters["rows/s"] = benchmark::Counter(rows / seconds);
    g_rates[name] = {bytes / 1e6 / seconds, rows / seconds, bytes / 1e6 / cpuSeconds};
}

void catBaseline(benchmark::State& state, const std::string& table) {
    const fs::path myd = folder() / (table + ".MYD");
    const std::uint64_t bytes = fs::file_size(myd);
    const std::string command = "cat '" + myd.string() + "' > /dev/null";
    double seconds = 0;
    const double cpuStart = childCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    record(state, "cat " + table, bytes * state.iterations(), 0, seconds,
           childCpuSeconds() - cpuStart);
}

void streamToScript(benchmark::State& state, const std::string& table) {
    const fs::path myd = folder() / (table + ".MYD");
    const std::uint64_t bytes = fs::file_size(myd);
    dunmore::core::AppSettings settings;
    dunmore::core::SilentFrontend frontend;
    dunmore::core::MainFrame frame(settings, frontend);
    settings.savingScript = true;
    dunmore::myisam::MyisamReader ctx;
    if (!dunmore::schema::readTableDefinition(ctx, folder() / (table + ".frm"), settings) ||
        !dunmore::myisam::readMyisamHeader(ctx, folder() / (table + ".MYI"))) {
        state.SkipWithError("table definition not read");
        return;
    }
    double seconds = 0;
    std::uint64_t rows = 0;
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        if (!frame.scriptWriter.open("/dev/null")) state.SkipWithError("no /dev/null");
        const auto start = std::chrono::steady_clock::now();
        const bool ok = dunmore::myisam::mydfileforscript(frame, ctx, myd, table);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        frame.scriptWriter.close();
        if (!ok) state.SkipWithError("stream failed");
        rows += 1000000;
    }
    record(state, "stream " + table, bytes * state.iterations(), rows, seconds,
           threadCpuSeconds() - cpuStart);
}

}  // namespace

BENCHMARK_CAPTURE(catBaseline, fixed, std::string("fixed_rows"))
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(streamToScript, fixed, std::string("fixed_rows"))
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(catBaseline, dynamic, std::string("dynamic_rows"))
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(streamToScript, dynamic, std::string("dynamic_rows"))
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    (void)folder();
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n%-14s %12s %12s %14s %16s\n", "table", "stream MB/s", "cat MB/s", "stream / cat",
                "by CPU time");
    for (const char* table : {"fixed_rows", "dynamic_rows"}) {
        const auto s = g_rates.find(std::string("stream ") + table);
        const auto c = g_rates.find(std::string("cat ") + table);
        if (s == g_rates.end() || c == g_rates.end()) continue;
        std::printf("%-14s %12.1f %12.1f %14.3f %16.3f   (%.0f rows/s)\n", table,
                    s->second.mbPerSecond, c->second.mbPerSecond,
                    s->second.mbPerSecond / c->second.mbPerSecond,
                    s->second.mbPerCpuSecond / c->second.mbPerCpuSecond, s->second.rowsPerSecond);
    }
    benchmark::Shutdown();
    return 0;
}
