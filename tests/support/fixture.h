#pragma once

// Fixture data folders made by a real MariaDB server at test time.
//
//   auto dir = dunmore::test::makeFixture("myisam_fixed", sqlText, queryText);
//
// runs tests/fixtures/make_datadir.sh into DUNMORE_FIXTURE_ROOT/<name>, once per test
// run and content: the folder is reused while a stamp of the SQL and query texts
// matches. The query output (mariadb --batch: a header line, then tab-separated rows,
// NULL as "NULL", special characters escaped as \t \n \\ \0) is in <name>.result.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace dunmore::test {

inline std::string readFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFileText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The text of the log files of a folder ("Dunmore_log_*", written in UTF-16LE) as UTF-8
// of their ASCII characters, line ends without their carriage returns.
inline std::string logFilesText(const std::filesystem::path& folder) {
    std::string text;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind("Dunmore_log_", 0) != 0) continue;
        const std::string bytes = readFileText(it->path());
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            if (bytes[i + 1] == 0 && bytes[i] != '\r') text.push_back(bytes[i]);
    }
    return text;
}

struct Fixture {
    std::filesystem::path dataDir;  // the data folder
    std::filesystem::path resultFile;
    std::string resultText() const { return readFileText(resultFile); }
};

// Holds an exclusive lock on a file while it lives: test binaries that ctest runs side
// by side make and reuse the same fixture folders one at a time.
class FixtureLock {
public:
    explicit FixtureLock(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0) return;
        if (fd_ >= 0) ::close(fd_);
        throw std::runtime_error("cannot lock " + path.string());
    }
    ~FixtureLock() { ::close(fd_); }
    FixtureLock(const FixtureLock&) = delete;
    FixtureLock& operator=(const FixtureLock&) = delete;

private:
    int fd_;
};

// Makes (or reuses) the data folder <root>/<name> from sql; query is optional.
inline Fixture makeFixture(const std::string& name, const std::string& sql,
                           const std::string& query = {}, const std::string& serverOpts = {}) {
    namespace fs = std::filesystem;
    const fs::path root = DUNMORE_FIXTURE_ROOT;
    const fs::path dir = root / name;
    const fs::path stampFile = root / (name + ".stamp");
    const fs::path sqlFile = root / (name + ".sql");
    const fs::path queryFile = root / (name + ".query.sql");
    const fs::path resultFile = root / (name + ".result");
    const std::string stamp = std::to_string(std::hash<std::string>{}(sql + "\x01" + query + "\x01" + serverOpts));
    fs::create_directories(root);
    const FixtureLock lock(root / (name + ".lock"));
    if (fs::exists(dir) && fs::exists(stampFile) && readFileText(stampFile) == stamp)
        return {dir, resultFile};
    fs::remove(stampFile);
    writeFileText(sqlFile, sql);
    std::string cmd = std::string("DUNMORE_MARIADBD_OPTS='") + serverOpts + "' '" +
                      DUNMORE_FIXTURE_SCRIPT + "' '" + dir.string() + "' '" + sqlFile.string() + "'";
    if (!query.empty()) {
        writeFileText(queryFile, query);
        cmd += " '" + queryFile.string() + "' '" + resultFile.string() + "'";
    }
    cmd += " > '" + (root / (name + ".log")).string() + "' 2>&1";
    if (std::system(cmd.c_str()) != 0)
        throw std::runtime_error("fixture " + name + " failed; see " + (root / (name + ".log")).string());
    writeFileText(stampFile, stamp);
    return {dir, resultFile};
}

// Splits mariadb --batch output into rows of fields (header line included as row 0).
inline std::vector<std::vector<std::string>> parseBatch(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::string f;
        for (char c : line) {
            if (c == '\t') {
                fields.push_back(f);
                f.clear();
            } else {
                f.push_back(c);
            }
        }
        fields.push_back(f);
        rows.push_back(std::move(fields));
    }
    return rows;
}

#ifdef DUNMORE_PEER_FIXTURES
// The MySQL 8.0.40 Sakila database folder among the peer fixtures (innodb_ruby's test data):
// the folder under innodb_ruby whose path ends in sakila/8.0/sakila. Empty when absent.
inline std::filesystem::path peerSakila80Folder() {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(DUNMORE_PEER_FIXTURES) / "mysql8" / "innodb_ruby";
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        if (it->is_directory() && p.filename() == "sakila" && p.parent_path().filename() == "8.0" &&
            p.parent_path().parent_path().filename() == "sakila")
            return p;
    }
    return {};
}
#endif

}  // namespace dunmore::test
