// The shared library as an application meets it: loaded by a program before main, finding or
// starting the server, refusing the load when it cannot.
#include <filesystem>
#include <set>
#include <fstream>
#include <sstream>

#include "connect/api_messages.h"
#include "platform/time.h"
#include "shared/little_endian.h"
#include "tests/support/isolation.h"
#include "tests/support/script_server.h"

namespace {

class LibraryLoadTest : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    log_ = scratch() + "/requests.log";
  }
  void setServerPath(const std::string& path) {
    std::ofstream reg(scratch() + "/machine.reg");
    reg << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\Setup]\n\"WGServer\"=\"" << path
        << "\"\n";
  }
  // The library starts the program with no arguments; the scripted server then reads its
  // script from the file named in its environment.
  void scriptLaunchedServer(const std::string& options) {
    std::string file = scratch() + "/script.txt";
    std::ofstream(file) << options << " --log " << log_ << "\n";
    setenv("WG_SCRIPT_SERVER_SCRIPT", file.c_str(), 1);
    setServerPath(WG_SCRIPT_SERVER);
  }
  std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string log_;
};

TEST_F(LibraryLoadTest, RunningServerIsUsedAndNoSecondOneStarted) {
  ScriptServer server(log_);
  ASSERT_TRUE(server.start({}));
  std::string marker = scratch() + "/second-server-started";
  std::string fake = scratch() + "/fake-server";
  std::ofstream(fake) << "#!/bin/sh\ntouch " << marker << "\n";
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  setServerPath(fake);

  PeerProcess client;
  ASSERT_TRUE(client.startProgram(WG_TEST_CLIENT, {"abort", "abort"}));
  EXPECT_TRUE(client.expectLine("done"));
  EXPECT_EQ(client.wait(), 0);
  server.awaitRequests(WG_API_DISCONNECT, 1);
  EXPECT_FALSE(std::filesystem::exists(marker));

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].type, WG_API_CONNECT);
  EXPECT_EQ(requests[1].type, WG_API_ABORT_TRANSACTION);
  EXPECT_EQ(requests[2].type, WG_API_ABORT_TRANSACTION);
  EXPECT_EQ(requests[3].type, WG_API_DISCONNECT);
  EXPECT_EQ(requests[3].bytes.size(), 10u);
  EXPECT_EQ(LoadU32(&requests[3].bytes[4]), static_cast<uint32_t>(client.pid()));
}

TEST_F(LibraryLoadTest, TwoClientsEachConnectThroughTheirOwnPipe) {
  ScriptServer server(log_);
  ASSERT_TRUE(server.start({}));
  setServerPath("/nonexistent/WGServer");
  PeerProcess first, second;
  ASSERT_TRUE(first.startProgram(WG_TEST_CLIENT, {"abort"}));
  ASSERT_TRUE(second.startProgram(WG_TEST_CLIENT, {"abort"}));
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(second.wait(), 0);
  std::set<int32_t> pipes;
  for (const auto& connect : server.requestsOfType(WG_API_CONNECT)) {
    ASSERT_EQ(connect.bytes.size(), 16u);
    EXPECT_EQ(LoadI32(&connect.bytes[12]), LoadI32(&connect.bytes[4]));
    pipes.insert(LoadI32(&connect.bytes[12]));
  }
  EXPECT_EQ(pipes, (std::set<int32_t>{first.pid(), second.pid()}));
  EXPECT_EQ(server.awaitRequests(WG_API_DISCONNECT, 2).size(), 2u);
}

TEST_F(LibraryLoadTest, UnusedLibrarySendsNothing) {
  ScriptServer server(log_);
  ASSERT_TRUE(server.start({}));
  PeerProcess client;
  ASSERT_TRUE(client.startProgram(WG_TEST_CLIENT, {}));
  EXPECT_EQ(client.wait(), 0);
  EXPECT_TRUE(server.requests().empty()) << "no connect, so no disconnect";
}

TEST_F(LibraryLoadTest, ServerIsStartedFromTheRegistry) {
  scriptLaunchedServer("");
  PeerProcess client;
  ASSERT_TRUE(client.startProgram(WG_TEST_CLIENT, {"abort"}));
  EXPECT_TRUE(client.expectLine("done"));
  EXPECT_EQ(client.wait(), 0);
  ScriptServer launched(log_);
  EXPECT_GT(launched.loggedPid(), 0);
  EXPECT_EQ(launched.requestsOfType(WG_API_CONNECT).size(), 1u);
}

TEST_F(LibraryLoadTest, MissingServerPathIsStoredWithTheDefaultAndThatServerStarts) {
  PeerProcess client;
  ASSERT_TRUE(client.startProgram(WG_TEST_CLIENT, {"abort"}));
  EXPECT_TRUE(client.expectLine("done")) << "WGServer beside the library was started and answered";
  EXPECT_EQ(client.wait(20000), 0);
  std::string bin = std::filesystem::path(WG_TEST_CLIENT).parent_path();
  std::string reg = readFile(scratch() + "/machine.reg");
  EXPECT_NE(reg.find("[HKEY_LOCAL_MACHINE\\Software\\Kestrelon\\Setup]"), std::string::npos) << reg;
  EXPECT_NE(reg.find("\"WGServer\"=\"" + bin + "/WGServer\""), std::string::npos) << reg;
}

TEST_F(LibraryLoadTest, RefusedLoadStopsTheProgram) {
  struct Case {
    const char* what;
    std::string options;  // for a launched scripted server; empty: no server program at all
    const char* cause;
    uint32_t atLeastMs;
  } cases[] = {
      {"server cannot be started", "", "could not be started", 0},
      {"server never signals", "--no-waiting-signal", "did not come up within 5 seconds", 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.options.empty()) {
      setServerPath(scratch() + "/no/such/WGServer");
    } else {
      scriptLaunchedServer(c.options);
    }
    uint32_t start = platform::GetTickCount();
    PeerProcess client;
    ASSERT_TRUE(client.startProgram(WG_TEST_CLIENT, {}));
    std::string line = client.readLine(20000);
    EXPECT_NE(line.find("libwgrpc: cannot load: "), std::string::npos) << line;
    EXPECT_NE(line.find(c.cause), std::string::npos) << line;
    EXPECT_EQ(client.wait(), 127);
    EXPECT_GE(platform::GetTickCount() - start, c.atLeastMs);
  }
}

}  // namespace
