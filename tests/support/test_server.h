#pragma once

// A throwaway MariaDB server reached over TCP on a loopback port chosen at run time, for
// the tests of saving into a server through ODBC:
//
//   dunmore::test::TestServer server;           // starts it (or throws)
//   server.port();                              // "41234"
//   server.query("SELECT 1;");                 // mariadb --batch output, as root
//
// Its default character set (latin1) differs from the fixtures' (utf8mb4), so a save that
// leaves the session's character set to the server shows. The login "dunmore" with the
// password kPassword may connect from anywhere; root connects only through the private
// socket. secure_file_priv points at an empty folder of its own, so the server reads no
// file of the client. A data folder made once per build by mariadb-install-db is copied
// for each server.

#include "support/fixture.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace dunmore::test {

class TestServer {
public:
    static constexpr const char* kUser = "dunmore";
    static constexpr const char* kPassword = "s3cret;pw}x";

    explicit TestServer(std::vector<std::string> extraOptions = {}) : m_extra(std::move(extraOptions)) {
        for (int attempt = 0; attempt < 3; ++attempt)
            if (start()) return;
        throw std::runtime_error("test server did not start; see " + (m_run / "error.log").string());
    }
    ~TestServer() { stop(); }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    std::string port() const { return std::to_string(m_port); }
    const std::filesystem::path& socket() const { return m_socket; }
    pid_t pid() const { return m_pid; }

    // Runs sql as root over the private socket; the batch output (header line, then
    // tab-separated rows) or, with errors, the client's messages after it.
    std::string query(const std::string& sql, bool withErrors = false) const {
        const std::filesystem::path file = m_run / "query.sql";
        writeFileText(file, sql);
        const std::string cmd = "mariadb --no-defaults -S '" + m_socket.string() +
                                "' -uroot --default-character-set=utf8mb4 --batch < '" +
                                file.string() + "'" + (withErrors ? " 2>&1" : " 2>/dev/null");
        std::string out;
        if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[65536];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
            ::pclose(p);
        }
        return out;
    }

    // Ends the server at once, as a crash would.
    void kill() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // Freezes or thaws the server process: a server that stops answering. pause returns
    // once the process is stopped (the signal is delivered asynchronously).
    void pause() const {
        ::kill(m_pid, SIGSTOP);
        const std::filesystem::path tasks = "/proc/" + std::to_string(m_pid) + "/task";
        for (int i = 0; i < 400; ++i) {
            bool allStopped = true;
            std::error_code ec;
            for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
                const std::string text = readFileText(task.path() / "stat");
                const auto close = text.rfind(')');
                const char state = close != std::string::npos && close + 2 < text.size()
                                       ? text[close + 2]
                                       : '?';
                if (state != 'T' && state != 't') allStopped = false;
            }
            if (allStopped) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void resume() const { ::kill(m_pid, SIGCONT); }

    // A loopback port on which nothing listens (bound, then released).
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            if (fd >= 0) ::close(fd);
            throw std::runtime_error("no free loopback port");
        }
        ::close(fd);
        return ntohs(addr.sin_port);
    }

private:
    static std::string mariadbd() {
        for (const char* p : {"/usr/sbin/mariadbd", "/usr/bin/mariadbd"})
            if (std::filesystem::exists(p)) return p;
        return "mariadbd";
    }

    // The installed data folder every server starts from, made once under a lock.
    static std::filesystem::path templateDir() {
        namespace fs = std::filesystem;
        const fs::path root = DUNMORE_FIXTURE_ROOT;
        const fs::path dir = root / "tcp_server_template";
        fs::create_directories(root);
        const int lock = ::open((root / "tcp_server_template.lock").c_str(), O_CREAT | O_RDWR, 0644);
        if (lock >= 0) ::flock(lock, LOCK_EX);
        if (!fs::exists(dir / "done")) {
            fs::remove_all(dir);
            fs::create_directories(dir / "data");
            const std::string cmd = "mariadb-install-db --no-defaults --datadir='" +
                                    (dir / "data").string() +
                                    "' --user=root --auth-root-authentication-method=normal "
                                    "--skip-test-db --innodb-log-file-size=16M "
                                    "--innodb-data-file-path=ibdata1:12M:autoextend > '" + (dir / "install.log").string() + "' 2>&1";
            if (std::system(cmd.c_str()) == 0) writeFileText(dir / "done", "ok");
        }
        if (lock >= 0) ::close(lock);
        if (!fs::exists(dir / "done"))
            throw std::runtime_error("mariadb-install-db failed; see " + (dir / "install.log").string());
        return dir / "data";
    }

    bool start() {
        namespace fs = std::filesystem;
        // A short folder of its own: the socket path must stay below 108 bytes.
        char name[] = "/tmp/dunmore-tcp.XXXXXX";
        if (::mkdtemp(name) == nullptr) return false;
        m_run = name;
        fs::create_directories(m_run / "files");
        fs::create_directories(m_run / "tmp");
        fs::copy(templateDir(), m_run / "data", fs::copy_options::recursive);
        m_socket = m_run / "s.sock";
        m_port = freePort();
        std::vector<std::string> args = {
            mariadbd(), "--no-defaults", "--datadir=" + (m_run / "data").string(), "--user=root",
            "--port=" + std::to_string(m_port), "--bind-address=127.0.0.1",
            "--socket=" + m_socket.string(), "--pid-file=" + (m_run / "pid").string(),
            "--log-error=" + (m_run / "error.log").string(), "--tmpdir=" + (m_run / "tmp").string(),
            "--skip-name-resolve", "--skip-log-bin", "--character-set-server=latin1",
            "--collation-server=latin1_swedish_ci", "--innodb-buffer-pool-size=64M",
            "--innodb-log-file-size=16M", "--innodb-data-file-path=ibdata1:12M:autoextend",
            "--max-allowed-packet=256M",
            "--secure-file-priv=" + (m_run / "files").string()};
        args.insert(args.end(), m_extra.begin(), m_extra.end());
        m_pid = ::fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            const int devnull = ::open("/dev/null", O_RDWR);
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;  // it ended: the port was taken in between, or worse
            }
            if (fs::exists(m_socket) && query("SELECT 1;").find('1') != std::string::npos) {
                query(std::string("CREATE USER '") + kUser + "'@'%' IDENTIFIED BY '" +
                      escaped(kPassword) + "'; GRANT ALL ON *.* TO '" + kUser + "'@'%';");
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
        return false;
    }

    static std::string escaped(const std::string& s) {
        std::string out;
        for (char c : s) {
            if (c == '\'' || c == '\\') out.push_back('\\');
            out.push_back(c);
        }
        return out;
    }

    void stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGCONT);
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        std::error_code ec;
        if (!m_run.empty()) std::filesystem::remove_all(m_run, ec);
    }

    std::vector<std::string> m_extra;
    std::filesystem::path m_run;
    std::filesystem::path m_socket;
    int m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace dunmore::test

namespace dunmore::test {

// One server shared by the tests of a test executable, started on first use.
inline TestServer& sharedServer() {
    static TestServer server;
    return server;
}

}  // namespace dunmore::test
