// The server commands of the `dunmore` executable against a real MariaDB server that the
// test starts on a loopback TCP port, reached through ODBC as a user's server is.
#include "support/fixture.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace dunmore::test {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

fs::path runFolder(const std::string& name) {
    const fs::path p = fs::path(DUNMORE_FIXTURE_ROOT) / "server_roundtrip" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

// Runs dunmore with args (already quoted) in folder, with env prepended to the command.
CliRun dunmore(const fs::path& folder, const std::string& args, const std::string& env = {}) {
    const fs::path out = folder / "stdout.txt", err = folder / "stderr.txt";
    const std::string cmd = "cd '" + folder.string() + "' && " + env + " '" DUNMORE_BINARY_DIR
                            "/bin/dunmore' " + args + " >'" + out.string() + "' 2>'" +
                            err.string() + "' </dev/null";
    const int raw = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFileText(out);
    r.err = readFileText(err);
    return r;
}

std::string serverArgs(const std::string& port, const std::string& passwordFile) {
    return std::string("--server 127.0.0.1 --port ") + port + " --user " + TestServer::kUser +
           " --password-file '" + passwordFile + "'";
}

TEST(ServerCommands, TestConnectionExitStatusAndThePasswordNeverShown) {
    TestServer& server = sharedServer();
    const fs::path dir = runFolder("test_connection");
    writeFileText(dir / "pw", std::string(TestServer::kPassword) + "\n");
    writeFileText(dir / "wrong", "a-wrong-password\n");

    CliRun r = dunmore(dir, "test-connection " + serverArgs(server.port(), (dir / "pw").string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Connection is successful\n");

    r = dunmore(dir, "test-connection --server 127.0.0.1 --port " + server.port() +
                         " --user dunmore --password-env DUNMORE_TEST_PW",
                "DUNMORE_TEST_PW='" + std::string(TestServer::kPassword) + "'");
    EXPECT_EQ(r.status, 0) << r.err;

    r = dunmore(dir, "test-connection " + serverArgs(server.port(), (dir / "wrong").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Access denied"), std::string::npos) << r.err;
    EXPECT_EQ((r.out + r.err).find("a-wrong-password"), std::string::npos) << r.err;

    r = dunmore(dir, "test-connection " +
                         serverArgs(std::to_string(TestServer::freePort()), (dir / "pw").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Can't connect"), std::string::npos) << r.err;

    r = dunmore(dir, "test-connection --server 127.0.0.1 --port 1 --user u --password-file '" +
                         (dir / "missing").string() + "'");
    EXPECT_EQ(r.status, 2);
    r = dunmore(dir, "test-connection --server 127.0.0.1 --user u");
    EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace dunmore::test
