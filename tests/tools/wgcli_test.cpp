// wgcli against the real WGServer and its simulated sensor: every subcommand as a user types
// it, with its output and exit status.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/time.h"
#include "platform/window_object.h"
#include "tests/support/isolation.h"
#include "tests/support/peer_process.h"

namespace {

struct Ran {
  std::string output;  // standard output and error, lines joined by '\n'
  int status;
};

Ran RunProgram(const std::string& program, const std::vector<std::string>& args) {
  PeerProcess process;
  EXPECT_TRUE(process.startProgram(program, args));
  Ran ran{"", -1};
  for (std::string line; !(line = process.readLine(60000)).empty();) ran.output += line + "\n";
  ran.status = process.wait(60000);
  return ran;
}

bool Has(const Ran& ran, const std::string& text) {
  return ran.output.find(text) != std::string::npos;
}

class WgcliTest : public IsolatedTest {
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
    ASSERT_EQ(sensor({"pace", "--frame-ms", "15", "--delay-ms", "40", "--timeout-ms", "15000"}).status, 0);
  }
  void TearDown() override {
    server_->kill(SIGTERM);
    server_->wait(5000);
    IsolatedTest::TearDown();
  }
  Ran cli(const std::vector<std::string>& args) { return RunProgram(WG_CLI, args); }
  Ran sensor(const std::vector<std::string>& args) { return RunProgram(WG_SENSOR, args); }
  std::string file(const std::string& name) { return scratch() + "/" + name; }

  std::unique_ptr<PeerProcess> server_;
};

TEST_F(WgcliTest, EnrollsAndMatchesWithExitStatusesThatScriptsCanUse) {
  std::string saved = file("alice.rec");
  Ran enrolled = cli({"enroll", "alice", "--finger", "3", "--name", "Alice A", "--save", saved});
  ASSERT_EQ(enrolled.status, 0) << enrolled.output;
  EXPECT_TRUE(Has(enrolled, "> Please Place a finger on the Whorlgate Sensor")) << enrolled.output;
  EXPECT_TRUE(Has(enrolled, "View 1 of 5 taken [views 1 of 5]")) << enrolled.output;
  EXPECT_TRUE(Has(enrolled, "All views taken [views 5 of 5]")) << enrolled.output;
  EXPECT_TRUE(Has(enrolled, "enrolled finger 3 of alice (Alice A)")) << enrolled.output;
  EXPECT_EQ(std::filesystem::file_size(saved), 2384u);

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const Case matching[] = {
      {{"validate", "alice"}, 0, "alice validated"},
      {{"identify"}, 0, "identified alice (Alice A)"},
      {{"verify", saved}, 0, "matches " + saved},
      {{"match-local", saved}, 0, "matches "},
  };
  for (const Case& c : matching) {
    Ran ran = cli(c.args);
    EXPECT_EQ(ran.status, c.status) << c.args[0] << ": " << ran.output;
    EXPECT_TRUE(Has(ran, c.says)) << ran.output;
  }
  ASSERT_EQ(sensor({"finger", "zed/1"}).status, 0);
  const Case other[] = {
      {{"validate", "alice"}, 1, "alice not validated"},
      {{"identify"}, 1, "nobody identified"},
      {{"verify", saved}, 1, "matches none of the templates"},
      {{"validate", "nobody"}, 2, "wgcli: the validation did not start: No user with this user ID is enrolled."},
  };
  for (const Case& c : other) {
    Ran ran = cli(c.args);
    EXPECT_EQ(ran.status, c.status) << c.args[0] << ": " << ran.output;
    EXPECT_TRUE(Has(ran, c.says)) << ran.output;
  }
  ASSERT_EQ(sensor({"nothing"}).status, 0);
  ASSERT_EQ(sensor({"pace", "--timeout-ms", "1000"}).status, 0);
  Ran waited = cli({"identify"});
  EXPECT_EQ(waited.status, 2);
  EXPECT_TRUE(Has(waited, "wgcli: timed out: no finger was put on the sensor")) << waited.output;
}

TEST_F(WgcliTest, ManagesUsersAndSettings) {
  ASSERT_EQ(cli({"enroll", "bob", "--finger", "2"}).status, 0);
  ASSERT_EQ(cli({"enroll", "bob", "--finger", "4"}).status, 0);
  EXPECT_EQ(cli({"list"}).output, "bob\tbob\n1 users\n");
  EXPECT_EQ(cli({"rename", "bob", "Robert"}).status, 0);
  Ran info = cli({"info", "bob"});
  EXPECT_TRUE(Has(info, "name Robert\nfingers 2 4\n")) << info.output;
  EXPECT_EQ(cli({"delete", "bob", "--finger", "4"}).output, "deleted finger 4 of bob\n");
  Ran again = cli({"delete", "bob", "--finger", "4"});
  EXPECT_EQ(again.status, 2);
  EXPECT_TRUE(Has(again, "The user has no finger with this number enrolled.")) << again.output;
  EXPECT_EQ(cli({"delete-all"}).status, 0);
  EXPECT_EQ(cli({"list"}).output, "0 users\n");

  EXPECT_EQ(cli({"settings", "get", "cormtchna"}).output, "CorMtchNA = 50\n");
  EXPECT_EQ(cli({"settings", "set", "StableMatch", "4"}).output, "StableMatch = 4\n");
  EXPECT_EQ(cli({"settings", "set", "Comm port name", "COM2"}).output, "Comm port name = \"COM2\"\n");
  Ran wrong = cli({"settings", "set", "AutoCalEnable", "2"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_TRUE(Has(wrong, "a switch is 0 or 1")) << wrong.output;
  Ran unknown = cli({"settings", "get", "NoSuchThing"});
  EXPECT_EQ(unknown.status, 2);
  Ran all = cli({"settings", "list"});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(std::count(all.output.begin(), all.output.end(), '\n'), 178);
  EXPECT_TRUE(Has(all, "StableMatch = 4\n")) << all.output;
}

TEST_F(WgcliTest, CapturesStreamsTracesAndTellsItsVersion) {
  std::string bitmap = file("finger.bmp");
  Ran captured = cli({"capture", bitmap, "--dpi", "1000"});
  ASSERT_EQ(captured.status, 0) << captured.output;
  EXPECT_EQ(std::filesystem::file_size(bitmap), 512u * 512u + 1078u);
  EXPECT_EQ(cli({"capture", bitmap, "--dpi", "300"}).status, 2);

  Ran streamed = cli({"stream", "--seconds", "2"});
  EXPECT_TRUE(Has(streamed, " 2 s: ")) << streamed.output;
  EXPECT_TRUE(Has(streamed, "finger present")) << streamed.output;

  PeerProcess follower;
  ASSERT_TRUE(follower.startProgram(WG_CLI, {"trace", "--where", "0x01000000"}));
  platform::SleepMs(300);
  ASSERT_EQ(cli({"list"}).status, 0);
  std::string line = follower.readLine(5000);
  EXPECT_NE(line.find(" -WGServer: "), std::string::npos) << line;
  follower.kill(SIGINT);
  EXPECT_EQ(follower.wait(), 0);

  Ran version = cli({"version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(Has(version, "wgcli 4, 1, 0, 1\nlibrary 4, 1, 0, 1\nserver 4.1.0.1\n")) << version.output;
  Ran help = cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help, "usage: wgcli COMMAND")) << help.output;
  EXPECT_EQ(cli({"bogus"}).status, 2);
  EXPECT_EQ(cli({"enroll"}).status, 2);
}

}  // namespace
