#pragma once

// Round trips through the `dunmore` executable, shared by the tests of tests/roundtrip:
//
//   const RoundTrip rt{"name", sql, query, {"db1", "db2"}};
//   roundTrip(rt, false);   // save the databases as scripts, load them into a fresh
//                           // server, compare the query's output with the original's
//
// The query names every database `@P@name`; the original runs it with @P@ empty, the
// copy with @P@ = "rep_".

#include "support/fixture.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace dunmore::test {

inline const std::string kDunmore = DUNMORE_BINARY_DIR "/bin/dunmore";

struct CommandRun {
    int status = -1;
    std::string out;
};

// Runs a shell command; its standard output and error together.
inline CommandRun run(const std::string& command) {
    CommandRun r;
    std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int w = ::pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

inline std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

inline std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
        text.replace(p, from.size(), to);
    return text;
}

// An empty folder of its own under the fixture root.
inline std::filesystem::path scratch(const std::string& name) {
    const std::filesystem::path p = std::filesystem::path(DUNMORE_FIXTURE_ROOT) / "roundtrip_scratch" / name;
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p;
}

inline CommandRun saveScript(const std::filesystem::path& dataDir, const std::filesystem::path& out,
                             const std::vector<std::string>& items, const std::filesystem::path& logDir,
                             const std::string& options = {}) {
    std::string cmd = kDunmore + " save-script --log-folder " + quoted(logDir) + " " +
                      quoted(dataDir) + " " + quoted(out) + " " + options;
    for (const auto& i : items) cmd += " " + i;
    return run(cmd);
}

// Every script of a save, in name order, as one replay text.
inline std::string scriptsOf(const std::filesystem::path& out) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(out / "Scriptdata"))
        if (e.path().extension() == ".sql") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::string all;
    for (const auto& f : files) all += readFileText(f) + "\n";
    return all;
}

// Compares two query outputs line by line and names the first difference.
inline void expectSameResults(const std::string& original, const std::string& copy) {
    std::istringstream a(original), b(copy);
    std::string la, lb;
    int line = 0;
    while (true) {
        const bool ga = static_cast<bool>(std::getline(a, la));
        const bool gb = static_cast<bool>(std::getline(b, lb));
        ++line;
        if (!ga && !gb) break;
        ASSERT_EQ(ga, gb) << "results differ in length at line " << line;
        ASSERT_EQ(la.substr(0, 3000), lb.substr(0, 3000)) << "line " << line;
        ASSERT_EQ(la, lb) << "line " << line << " (beyond the first 3000 characters)";
    }
}

// One round trip of a fixture: sql makes the original data folder, query (every database
// written `@P@name`) reads back what must survive; the scripts of a save of databases are
// loaded into a fresh server and the same query, with @P@ = "rep_", must print the same.
// withoutIbdata1 saves a copy of the folder from which ibdata1 was removed.
struct RoundTrip {
    std::string name;
    std::string sql;
    std::string query;
    std::vector<std::string> databases;
    std::string serverOpts = {};
    // Options of the save (e.g. --rows-per-insert 1000, which loads many rows quickly).
    std::string saveOptions = {};
};

inline CommandRun roundTrip(const RoundTrip& rt, bool withoutIbdata1) {
    namespace fs = std::filesystem;
    const Fixture fx = makeFixture(rt.name + "_source", rt.sql, replaceAll(rt.query, "@P@", ""),
                                   rt.serverOpts);
    fs::path data = fx.dataDir;
    const std::string variant = withoutIbdata1 ? "_no_ibdata1" : "";
    const fs::path work = scratch(rt.name + variant);
    if (withoutIbdata1) {
        data = work / "data";
        fs::copy(fx.dataDir, data, fs::copy_options::recursive);
        fs::remove(data / "ibdata1");
    }
    const fs::path out = work / "out";
    std::vector<std::string> items;
    for (const auto& db : rt.databases) items.push_back("'" + db + "'");
    const CommandRun save = saveScript(data, out, items, work, rt.saveOptions);
    EXPECT_TRUE(fs::is_directory(out / "Scriptdata")) << save.out;
    if (!fs::is_directory(out / "Scriptdata")) return save;
    const std::string expected = fx.resultText();
    EXPECT_FALSE(expected.empty());
    const Fixture copy = makeFixture(rt.name + variant + "_copy", scriptsOf(out),
                                     replaceAll(rt.query, "@P@", "rep_"));
    expectSameResults(expected, copy.resultText());
    return save;
}

}  // namespace dunmore::test
