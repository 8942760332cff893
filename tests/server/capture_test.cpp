// The captures end to end: the real WGServer with its simulated sensor, applications linked
// against libwgrpc.so doing what the demos do, and wgsensor saying what the sensor is shown.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "platform/time.h"
#include "platform/window_object.h"
#include "server/server_messages.h"
#include "server/user_store.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"
#include "whorlgate/wg_results.h"

namespace {

bool WaitUntil(const std::function<bool()>& condition, uint32_t budgetMs) {
  uint32_t start = platform::GetTickCount();
  while (!condition()) {
    if (platform::TickBudgetSpent(start, budgetMs)) return false;
    platform::SleepMs(10);
  }
  return true;
}

// Runs a program to its end and returns what it printed, a line each.
std::vector<std::string> RunToEnd(const std::string& program, const std::vector<std::string>& args,
                             int timeoutMs = 60000) {
  PeerProcess process;
  EXPECT_TRUE(process.startProgram(program, args));
  std::vector<std::string> lines;
  for (std::string line; !(line = process.readLine(timeoutMs)).empty();) lines.push_back(line);
  EXPECT_EQ(process.wait(timeoutMs), 0) << program << " " << args.front();
  return lines;
}

// The first line that starts with `prefix`, or "".
std::string LineOf(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "";
}

int ResultOf(const std::vector<std::string>& lines, const std::string& prefix = "end ") {
  std::string line = LineOf(lines, prefix);
  return line.empty() ? 9999 : std::stoi(line.substr(prefix.size()));
}

class CaptureTest : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    startServer();
    // A quick user and a quick sensor, so that a five-view enrollment takes about a second.
    sensor({"pace", "--frame-ms", "15", "--delay-ms", "40", "--timeout-ms", "3000"});
  }
  void TearDown() override {
    stopServer(SIGTERM);
    IsolatedTest::TearDown();
  }

  void startServer() {
    server_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(server_->startProgram(WG_SERVER, {}));
    ASSERT_TRUE(WaitUntil([] { return platform::WindowObjectExists(kServerWindowClass); }, 10000));
  }
  void stopServer(int signal) {
    if (!server_) return;
    server_->kill(signal);
    server_->wait(5000);
    server_.reset();
  }

  std::vector<std::string> sensor(const std::vector<std::string>& args) {
    return RunToEnd(WG_SENSOR, args);
  }
  std::vector<std::string> client(const std::vector<std::string>& args) {
    return RunToEnd(WG_CAPTURE_CLIENT, args);
  }
  std::string file(const std::string& name) { return scratch() + "/" + name; }

  std::unique_ptr<PeerProcess> server_;
};

TEST_F(CaptureTest, AnEnrolledFingerValidatesAndAnotherDoesNot) {
  std::vector<std::string> enroll = client({"enroll", "alice", "7", file("alice.rec")});
  ASSERT_EQ(ResultOf(enroll), WG_OK) << LineOf(enroll, "events");
  EXPECT_EQ(LineOf(enroll, "begun 1 size"), "begun 1 size 2384");
  EXPECT_EQ(LineOf(enroll, "end "), "end 0 size 2384 user alice");
  // Four views ask for the next, the fifth says all are done, then the completion.
  std::string events = LineOf(enroll, "events");
  const std::regex viewDone(" 12:[012]");
  EXPECT_EQ(std::distance(std::sregex_iterator(events.begin(), events.end(), viewDone),
                          std::sregex_iterator()),
            4)
      << events;
  EXPECT_NE(events.find(" 12:3"), std::string::npos) << events;
  EXPECT_NE(events.find(" 8:0"), std::string::npos) << events;

  EXPECT_EQ(ResultOf(client({"validate", "alice"})), WG_MATCH);
  sensor({"finger", "bob/2"});
  EXPECT_EQ(ResultOf(client({"validate", "alice"})), WG_NO_MATCH);
}

}  // namespace
