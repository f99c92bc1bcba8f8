// Runs a libFuzzer target without libFuzzer: feeds LLVMFuzzerTestOneInput a few fixed
// edge inputs, then every file named on the command line or listed (one path a line) in
// a --seed-list file, each also cut at a few lengths. A crash or a sanitizer report ends
// the process; otherwise it prints the number of inputs run and exits 0.
//
//   <name>_fuzz_regression [--seed-list FILE] [INPUT...]

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

std::size_t g_runs = 0;

void runOne(const Bytes& input) {
    // A copy of exactly the input's size, so that a read past its end is a heap
    // overflow that AddressSanitizer (when enabled) can see; as libFuzzer passes it, never
    // a null pointer, not even for the empty input.
    const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[input.size()]);
    std::copy(input.begin(), input.end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), input.size());
    ++g_runs;
}

bool readFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void runFile(const std::string& path) {
    Bytes input;
    if (!readFile(path, input)) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return;
    }
    runOne(input);
    // Truncated copies: the ends of headers, records and pages are where readers fail.
    for (std::size_t cut : {std::size_t{1}, std::size_t{4}, std::size_t{64}, input.size() / 2,
                            input.size() - 1}) {
        if (cut < input.size())
            runOne(Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(cut)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    runOne({});
    runOne({0x00});
    runOne(Bytes(64, 0x00));
    runOne(Bytes(64, 0xFF));
    runOne(Bytes(16384, 0xFF));
    Bytes ramp(70000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint8_t>(i * 131 + 7);
    runOne(ramp);

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seed-list" && i + 1 < argc) {
            std::ifstream list(argv[++i]);
            std::string line;
            while (std::getline(list, line))
                if (!line.empty())
                    runFile(line);
        } else {
            runFile(arg);
        }
    }
    std::printf("%zu inputs run\n", g_runs);
    return 0;
}
