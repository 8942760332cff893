// Faults across processes: a server that dies or stops while clients wait, a client that dies
// holding the server pipe's lock, a store that can no longer grow. Every call comes back with
// an error within its budget, and nothing is left half done.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/time.h"
#include "platform/window_object.h"
#include "server/user_store.h"
#include "shared/pipe.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"

namespace {

struct Ran {
  std::string output;
  int status;
};

Ran Finish(PeerProcess& process) {
  Ran ran{"", -1};
  for (std::string line; !(line = process.readLine(60000)).empty();) ran.output += line + "\n";
  ran.status = process.wait(60000);
  return ran;
}

class FaultTest : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    server_ = std::make_unique<PeerProcess>();
    ASSERT_TRUE(server_->startProgram(WG_SERVER, {}));
    uint32_t start = platform::GetTickCount();
    while (!platform::WindowObjectExists("WhorlgateWndClass")) {
      ASSERT_FALSE(platform::TickBudgetSpent(start, 10000));
      platform::SleepMs(10);
    }
  }
  void TearDown() override {
    if (server_) {
      server_->kill(SIGCONT);
      server_->kill(SIGTERM);
      server_->wait(5000);
    }
    IsolatedTest::TearDown();
  }
  Ran cli(const std::vector<std::string>& args) {
    PeerProcess process;
    EXPECT_TRUE(process.startProgram(WG_CLI, args));
    return Finish(process);
  }

  std::unique_ptr<PeerProcess> server_;
};

TEST_F(FaultTest, AServerKilledWhileAClientWaitsEndsTheCallWithAnError) {
  ASSERT_EQ(cli({"list"}).status, 0);
  server_->kill(SIGSTOP);
  PeerProcess waiting;
  ASSERT_TRUE(waiting.startProgram(WG_CLI, {"list"}));
  platform::SleepMs(500);
  server_->kill(SIGKILL);
  server_->wait(5000);
  server_.reset();
  // The call gives up after its ten seconds instead of waiting for ever.
  Ran ran = Finish(waiting);
  EXPECT_EQ(ran.status, 2) << ran.output;
  EXPECT_NE(ran.output.find("wgcli: no user list"), std::string::npos) << ran.output;
}

TEST_F(FaultTest, AServerThatStopsLeavesItsClientsWithAnErrorAndGoesOnWhenItResumes) {
  ASSERT_EQ(cli({"list"}).status, 0);
  server_->kill(SIGSTOP);
  // The first client's request fills the server pipe, the second cannot even write its own;
  // both give up within their budgets instead of waiting for ever.
  PeerProcess first;
  ASSERT_TRUE(first.startProgram(WG_CLI, {"list"}));
  platform::SleepMs(300);
  Ran second = cli({"list"});
  EXPECT_EQ(second.status, 2) << second.output;
  EXPECT_EQ(Finish(first).status, 2);
  server_->kill(SIGCONT);
  Ran resumed = cli({"list"});
  EXPECT_EQ(resumed.status, 0) << resumed.output;
}

TEST_F(FaultTest, AClientKilledHoldingTheServerPipesLockBlocksNobody) {
  char mapping[kPipeNameLength], event[kPipeNameLength], mutex[kPipeNameLength];
  WGMakePipeObjectNames(mapping, event, mutex, kServerPipeNumber);
  PeerProcess holder;
  ASSERT_TRUE(holder.start({"lock-mutex", mutex}));
  ASSERT_TRUE(holder.expectLine("locked"));
  holder.kill(SIGKILL);
  holder.wait();
  Ran ran = cli({"list"});
  EXPECT_EQ(ran.status, 0) << ran.output;
  EXPECT_EQ(ran.output, "0 users\n");
}

TEST_F(FaultTest, AStoreThatCannotGrowRefusesTheEnrollmentAndKeepsNothingOfIt) {
  PeerProcess sensor;
  ASSERT_TRUE(sensor.startProgram(WG_SENSOR, {"pace", "--frame-ms", "15", "--delay-ms", "20"}));
  ASSERT_EQ(Finish(sensor).status, 0);
  // From here on the server's files may not grow by a byte: the disk is full for it.
  std::string store = UserStorePath();
  uintmax_t largest = std::max(std::filesystem::file_size(store),
                               std::filesystem::file_size(store + "-wal"));
  rlimit limit = {static_cast<rlim_t>(largest), static_cast<rlim_t>(largest)};
  ASSERT_EQ(prlimit(server_->pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
  Ran refused = cli({"enroll", "alice"});
  EXPECT_EQ(refused.status, 2) << refused.output;
  EXPECT_NE(refused.output.find("The user store could not be read or written."), std::string::npos)
      << refused.output;
  // The server goes on serving, and the store holds nothing of the enrollment.
  EXPECT_EQ(cli({"list"}).output, "0 users\n");
  server_->kill(SIGTERM);
  server_->wait(5000);
  server_.reset();
  UserStore reopened;
  std::string error;
  ASSERT_TRUE(reopened.open(store, &error)) << error;
  EXPECT_EQ(reopened.countUsers(), 0u);
  EXPECT_TRUE(reopened.gallery()->empty());
}

}  // namespace
