// bench-link: dunmore_values
// bench-main: own
//
// Values decoded per second by decodeColumnValue for INT, DECIMAL(12,2), DATETIME(0),
// VARCHAR in utf8mb4 and a 10 KB BLOB written as hex, each next to a baseline measured in
// the same run:
//   INT            snprintf("%d") of the same numbers (formatting alone)
//   DECIMAL(12,2)  snprintf("%lld.%02lld") of the already split number (formatting alone)
//   DATETIME       snprintf("%04d-%02d-...") of the already broken-down values
//   VARCHAR        copying the same bytes into the string (no validation at all)
//   BLOB hex       snprintf("%02X") per byte, the per-byte formatting route
// The table at the end gives decoder rate / baseline rate.

#include "values/value_decoder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using dunmore::core::Bytes;
using dunmore::core::ByteSpan;
using dunmore::core::ColumnDefinition;
using dunmore::values::DecodeOptions;
using dunmore::values::decodeColumnValue;

constexpr std::size_t kValues = 1024;

ColumnDefinition columnOf(std::uint32_t typeCode, std::int32_t length, std::int32_t charset) {
    ColumnDefinition c;
    c.typeCode = typeCode;
    c.length = length;
    c.charset = charset;
    return c;
}

// kValues stored values of one width, back to back.
struct Samples {
    std::size_t width = 0;
    Bytes bytes;
    ByteSpan at(std::size_t i) const { return ByteSpan(bytes).subspan((i % kValues) * width, width); }
};

std::mt19937_64& rng() {
    static std::mt19937_64 r(42);
    return r;
}

Samples intSamples(std::vector<std::int32_t>& numbers) {
    Samples s{4, {}};
    for (std::size_t i = 0; i < kValues; ++i) {
        const auto v = static_cast<std::int32_t>(rng()());
        numbers.push_back(v);
        for (int b = 0; b < 4; ++b) s.bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * b)));
    }
    return s;
}

// DECIMAL(12,2): 10 integer digits (one 4-byte group after a 1-byte group of one digit)
// and 2 fraction digits (1 byte), 6 bytes.
Samples decimalSamples(std::vector<std::pair<long long, long long>>& parts) {
    Samples s{6, {}};
    for (std::size_t i = 0; i < kValues; ++i) {
        const long long whole = static_cast<long long>(rng()() % 10000000000ULL);
        const long long cents = static_cast<long long>(rng()() % 100);
        const bool negative = rng()() % 2;
        parts.emplace_back(negative ? -whole : whole, cents);
        std::uint8_t b[6] = {static_cast<std::uint8_t>(whole / 1000000000),
                             0, 0, 0, 0, static_cast<std::uint8_t>(cents)};
        const auto low = static_cast<std::uint32_t>(whole % 1000000000);
        for (int k = 0; k < 4; ++k) b[1 + k] = static_cast<std::uint8_t>(low >> (8 * (3 - k)));
        b[0] |= 0x80;
        if (negative)
            for (auto& x : b) x = static_cast<std::uint8_t>(~x);
        s.bytes.insert(s.bytes.end(), b, b + 6);
    }
    return s;
}

struct Broken {
    int year, month, day, hour, minute, second;
};

Samples datetimeSamples(std::vector<Broken>& broken) {
    Samples s{5, {}};
    for (std::size_t i = 0; i < kValues; ++i) {
        Broken t{static_cast<int>(1000 + rng()() % 9000), static_cast<int>(1 + rng()() % 12),
                 static_cast<int>(1 + rng()() % 28), static_cast<int>(rng()() % 24),
                 static_cast<int>(rng()() % 60), static_cast<int>(rng()() % 60)};
        broken.push_back(t);
        const std::uint64_t v = ((static_cast<std::uint64_t>(t.year) * 13 + t.month) << 22 |
                                 static_cast<std::uint64_t>(t.day) << 17 | t.hour << 12 | t.minute << 6 |
                                 t.second) +
                                0x8000000000ULL;
        for (int k = 4; k >= 0; --k) s.bytes.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
    return s;
}

// 40-byte utf8mb4 values: mostly ASCII with a two-byte and a four-byte character.
Samples varcharSamples() {
    Samples s{40, {}};
    const std::string piece = "Customer name é 😀 and more ASCII text";
    for (std::size_t i = 0; i < kValues; ++i) {
        std::string v = piece;
        v.resize(40, ' ');
        v[i % 10] = static_cast<char>('a' + i % 26);
        s.bytes.insert(s.bytes.end(), v.begin(), v.end());
    }
    return s;
}

Samples blobSamples() {
    Samples s{10 * 1024, {}};
    s.bytes.resize(s.width * 8);
    for (auto& b : s.bytes) b = static_cast<std::uint8_t>(rng()());
    return s;
}

void decodeLoop(benchmark::State& state, const ColumnDefinition& column, const Samples& samples,
                const DecodeOptions& options) {
    std::string out;
    std::size_t i = 0;
    for (auto _ : state) {
        decodeColumnValue(column, samples.at(i++), options, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

std::map<std::string, double>& rates() {
    static std::map<std::string, double> r;
    return r;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rates()[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::int32_t> numbers;
    std::vector<std::pair<long long, long long>> decimals;
    std::vector<Broken> broken;
    const Samples ints = intSamples(numbers);
    const Samples decs = decimalSamples(decimals);
    const Samples dts = datetimeSamples(broken);
    const Samples chars = varcharSamples();
    const Samples blobs = blobSamples();

    ColumnDefinition intColumn = columnOf(3, 11, 0);
    ColumnDefinition decColumn = columnOf(246, 14, 0);
    decColumn.precision = 12;
    decColumn.decimals = 2;
    const ColumnDefinition dtColumn = columnOf(18, 19, 0);
    const ColumnDefinition varcharColumn = columnOf(15, 160, 45);
    const ColumnDefinition blobColumn = columnOf(252, 65535, 63);
    DecodeOptions saving;
    saving.saving = true;

    struct Pair {
        std::string name;
        std::function<void(benchmark::State&)> baseline;
        std::function<void(benchmark::State&)> ours;
    };
    std::vector<Pair> pairs;
    pairs.push_back({"INT",
                     [&](benchmark::State& state) {
                         std::string out;
                         std::size_t i = 0;
                         for (auto _ : state) {
                             char buf[16];
                             const int n = std::snprintf(buf, sizeof buf, "%d", numbers[i++ % kValues]);
                             out.assign(buf, static_cast<std::size_t>(n));
                             benchmark::DoNotOptimize(out.data());
                         }
                         state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
                     },
                     [&](benchmark::State& state) { decodeLoop(state, intColumn, ints, saving); }});
    pairs.push_back({"DECIMAL(12,2)",
                     [&](benchmark::State& state) {
                         std::string out;
                         std::size_t i = 0;
                         for (auto _ : state) {
                             const auto& [whole, cents] = decimals[i++ % kValues];
                             char buf[32];
                             const int n = std::snprintf(buf, sizeof buf, "%lld.%02lld", whole, cents);
                             out.assign(buf, static_cast<std::size_t>(n));
                             benchmark::DoNotOptimize(out.data());
                         }
                         state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
                     },
                     [&](benchmark::State& state) { decodeLoop(state, decColumn, decs, saving); }});
    pairs.push_back({"DATETIME",
                     [&](benchmark::State& state) {
                         std::string out;
                         std::size_t i = 0;
                         for (auto _ : state) {
                             const Broken& t = broken[i++ % kValues];
                             char buf[32];
                             const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                                                         t.month, t.day, t.hour, t.minute, t.second);
                             out.assign(buf, static_cast<std::size_t>(n));
                             benchmark::DoNotOptimize(out.data());
                         }
                         state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
                     },
                     [&](benchmark::State& state) { decodeLoop(state, dtColumn, dts, saving); }});
    pairs.push_back({"VARCHAR utf8mb4",
                     [&](benchmark::State& state) {
                         std::string out;
                         std::size_t i = 0;
                         for (auto _ : state) {
                             const ByteSpan b = chars.at(i++);
                             out.assign(reinterpret_cast<const char*>(b.data()), b.size());
                             benchmark::DoNotOptimize(out.data());
                         }
                         state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
                     },
                     [&](benchmark::State& state) { decodeLoop(state, varcharColumn, chars, saving); }});
    const Samples blobSet{blobs.width, blobs.bytes};
    auto blobAt = [&](std::size_t i) { return ByteSpan(blobSet.bytes).subspan((i % 8) * blobSet.width, blobSet.width); };
    pairs.push_back({"BLOB 10 KB hex",
                     [&](benchmark::State& state) {
                         std::string out;
                         std::size_t i = 0;
                         for (auto _ : state) {
                             const ByteSpan b = blobAt(i++);
                             out.assign("0x");
                             for (const std::uint8_t x : b) {
                                 char buf[3];
                                 std::snprintf(buf, sizeof buf, "%02X", x);
                                 out.append(buf, 2);
                             }
                             benchmark::DoNotOptimize(out.data());
                         }
                         state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
                     },
                     [&](benchmark::State& state) {
                         std::string out;
                         std::size_t i = 0;
                         for (auto _ : state) {
                             decodeColumnValue(blobColumn, blobAt(i++), saving, out);
                             benchmark::DoNotOptimize(out.data());
                         }
                         state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
                     }});

    for (const auto& p : pairs) {
        benchmark::RegisterBenchmark((p.name + "/baseline").c_str(), p.baseline);
        benchmark::RegisterBenchmark((p.name + "/decodeColumnValue").c_str(), p.ours);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-18s %16s %16s %8s\n", "values", "baseline/s", "decoder/s", "ratio");
    for (const auto& p : pairs) {
        const double base = rates()[p.name + "/baseline"];
        const double ours = rates()[p.name + "/decodeColumnValue"];
        if (base > 0 && ours > 0)
            std::printf("%-18s %16.0f %16.0f %8.2f\n", p.name.c_str(), base, ours, ours / base);
    }
    return 0;
}
