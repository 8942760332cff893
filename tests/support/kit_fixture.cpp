#include "tests/support/kit_fixture.h"

#include <signal.h>

#include "connect/api_messages.h"
#include "connect/client_error.h"
#include "connect/event_dispatch.h"
#include "connect/process_attach.h"
#include "platform/time.h"
#include "platform/window_object.h"
#include "shared/trace.h"

void KitTest::SetUp() {
  IsolatedTest::SetUp();
  startServer();
  sensor({"pace", "--frame-ms", "15", "--delay-ms", "40", "--timeout-ms", "15000"});
  const char* cause = nullptr;
  static int anchor;
  ASSERT_TRUE(WGRpcProcessAttach(&anchor, &cause)) << cause;
  attached_ = true;
}

void KitTest::TearDown() {
  if (attached_) WGRpcProcessDetach();
  ClearEventRegistration();
  TakeClientError(nullptr, nullptr);
  TraceShutdown();
  stopServer(SIGTERM);
  IsolatedTest::TearDown();
}

void KitTest::startServer() {
  server_ = std::make_unique<PeerProcess>();
  ASSERT_TRUE(server_->startProgram(WG_SERVER, {}));
  uint32_t start = platform::GetTickCount();
  while (!platform::WindowObjectExists(kServerWindowClass)) {
    ASSERT_FALSE(platform::TickBudgetSpent(start, 10000)) << "the server did not come up";
    platform::SleepMs(10);
  }
}

void KitTest::stopServer(int signal) {
  if (!server_) return;
  server_->kill(signal);
  server_->wait(5000);
  server_.reset();
}

std::vector<std::string> KitTest::sensor(const std::vector<std::string>& args) {
  return RunToEnd(WG_SENSOR, args);
}

std::vector<std::string> RunToEnd(const std::string& program, const std::vector<std::string>& args,
                                  int status) {
  PeerProcess process;
  EXPECT_TRUE(process.startProgram(program, args));
  std::vector<std::string> lines;
  for (std::string line; !(line = process.readLine(60000)).empty();) lines.push_back(line);
  EXPECT_EQ(process.wait(60000), status) << program << " " << (args.empty() ? "" : args.front());
  return lines;
}
